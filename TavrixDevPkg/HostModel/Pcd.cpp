/** @file
  PCD_PROTOCOL and EFI_PCD_PROTOCOL over values set by the test, so that
  DxePcdLib runs unchanged. Only the getters are modelled.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "HostModelInternal.h"

namespace {

const EFI_GUID mNoTokenSpace = { 0 };

UINT64
Get (const EFI_GUID *TokenSpace, UINTN Token, UINT8 Size)
{
  return HOST_MODEL::Current ().Pcd.Get (TokenSpace, Token, Size);
}

UINT8 EFIAPI
Get8 (UINTN T)
{
  return (UINT8)Get (nullptr, T, 1);
}
UINT16 EFIAPI
Get16 (UINTN T)
{
  return (UINT16)Get (nullptr, T, 2);
}
UINT32 EFIAPI
Get32 (UINTN T)
{
  return (UINT32)Get (nullptr, T, 4);
}
UINT64 EFIAPI
Get64 (UINTN T)
{
  return Get (nullptr, T, 8);
}
BOOLEAN EFIAPI
GetBool (UINTN T)
{
  return (BOOLEAN)Get (nullptr, T, 1);
}

UINT8 EFIAPI
GetEx8 (CONST EFI_GUID *G, UINTN T)
{
  return (UINT8)Get (G, T, 1);
}
UINT16 EFIAPI
GetEx16 (CONST EFI_GUID *G, UINTN T)
{
  return (UINT16)Get (G, T, 2);
}
UINT32 EFIAPI
GetEx32 (CONST EFI_GUID *G, UINTN T)
{
  return (UINT32)Get (G, T, 4);
}
UINT64 EFIAPI
GetEx64 (CONST EFI_GUID *G, UINTN T)
{
  return Get (G, T, 8);
}
BOOLEAN EFIAPI
GetExBool (CONST EFI_GUID *G, UINTN T)
{
  return (BOOLEAN)Get (G, T, 1);
}

EFI_STATUS
EFIAPI
Unmodelled (VOID)
{
  ADD_FAILURE () << "a PCD service that the host model does not model was called";
  return EFI_UNSUPPORTED;
}

PCD_PROTOCOL     mPcd;
EFI_PCD_PROTOCOL mPiPcd;

/// Both tables; the protocols are static so DxePcdLib may cache them.
void
FillTables ()
{
  VOID **Slots = (VOID **)&mPcd;

  for (UINTN Index = 0; Index < sizeof (mPcd) / sizeof (VOID *); Index++) {
    Slots[Index] = (VOID *)Unmodelled;
  }

  Slots = (VOID **)&mPiPcd;
  for (UINTN Index = 0; Index < sizeof (mPiPcd) / sizeof (VOID *); Index++) {
    Slots[Index] = (VOID *)Unmodelled;
  }

  mPcd.Get8      = Get8;
  mPcd.Get16     = Get16;
  mPcd.Get32     = Get32;
  mPcd.Get64     = Get64;
  mPcd.GetBool   = GetBool;
  mPcd.Get8Ex    = GetEx8;
  mPcd.Get16Ex   = GetEx16;
  mPcd.Get32Ex   = GetEx32;
  mPcd.Get64Ex   = GetEx64;
  mPcd.GetBoolEx = GetExBool;
  mPiPcd.Get8    = GetEx8;
  mPiPcd.Get16   = GetEx16;
  mPiPcd.Get32   = GetEx32;
  mPiPcd.Get64   = GetEx64;
  mPiPcd.GetBool = GetExBool;
}

} // namespace

void
InstallPcdProtocols ()
{
  FillTables ();

  HOST_MODEL &Model  = HOST_MODEL::Current ();
  EFI_HANDLE  Handle = Model.InstallProtocol (nullptr, gPcdProtocolGuid, &mPcd);

  Model.InstallProtocol (Handle, gEfiPcdProtocolGuid, &mPiPcd);
}

void
PCD_MODEL::Set (const EFI_GUID &TokenSpace, UINTN Token, UINT64 Value, UINT8 Size)
{
  mValues[{ GuidKey (&TokenSpace), Token }] = Value;
}

UINT64
PCD_MODEL::Get (const EFI_GUID *TokenSpace, UINTN Token, UINT8 Size)
{
  const EFI_GUID *Space = TokenSpace != nullptr ? TokenSpace : &mNoTokenSpace;

  mReads.push_back (PCD_READ{ *Space, Token, Size });

  auto It = mValues.find ({ GuidKey (Space), Token });

  if (It == mValues.end ()) {
    ADD_FAILURE () << "PCD " << GuidText (*Space) << " token " << Token << " read but never set";
    return 0;
  }

  return It->second;
}
