/** @file
  PCD_PROTOCOL and EFI_PCD_PROTOCOL over values set by the test, so that
  DxePcdLib runs unchanged. Only the getters are modelled.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "HostModelInternal.h"

namespace {

const EFI_GUID mNoTokenSpace = { 0 };

/// Get8/16/32/64/Bool of the default token space: the value set by the test.
template <typename TYPE>
TYPE EFIAPI
GetToken (UINTN Token)
{
  return (TYPE)HOST_MODEL::Current ().Pcd.Get (nullptr, Token, sizeof (TYPE));
}

/// The same getters with a token space.
template <typename TYPE>
TYPE EFIAPI
GetExToken (CONST EFI_GUID *TokenSpace, UINTN Token)
{
  return (TYPE)HOST_MODEL::Current ().Pcd.Get (TokenSpace, Token, sizeof (TYPE));
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

  mPcd.Get8      = GetToken<UINT8>;
  mPcd.Get16     = GetToken<UINT16>;
  mPcd.Get32     = GetToken<UINT32>;
  mPcd.Get64     = GetToken<UINT64>;
  mPcd.GetBool   = GetToken<BOOLEAN>;
  mPcd.Get8Ex    = GetExToken<UINT8>;
  mPcd.Get16Ex   = GetExToken<UINT16>;
  mPcd.Get32Ex   = GetExToken<UINT32>;
  mPcd.Get64Ex   = GetExToken<UINT64>;
  mPcd.GetBoolEx = GetExToken<BOOLEAN>;
  mPiPcd.Get8    = GetExToken<UINT8>;
  mPiPcd.Get16   = GetExToken<UINT16>;
  mPiPcd.Get32   = GetExToken<UINT32>;
  mPiPcd.Get64   = GetExToken<UINT64>;
  mPiPcd.GetBool = GetExToken<BOOLEAN>;
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
