/** @file
  PCD answers for the early video driver's token space.

  OVMF's PCD database does not know the token space, and read without a
  stand-in its dynamic-ex PCDs come back as some other PCD's value. The
  stand-in takes the place of the firmware's PI PCD protocol instance
  (ReinstallProtocolInterface on the same handle, so LocateProtocol finds it
  first), answers the six tokens of the early video token space itself
  (graphics mode, the frame of the HOB; fixed, so setting them is refused),
  and passes every other request to the firmware's instance. Modules that located
  the firmware's instance earlier keep using it directly.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "PlatformStandIn.h"

extern "C" {
#include <Protocol/PiPcd.h>
}

namespace {

struct TOKEN_VALUE {
  UINTN  TokenNumber;
  UINTN  Size; ///< bytes: 1 for BOOLEAN and UINT8, 4 for UINT32
  UINT64 Value;
};

//
// The platform's answers. The shadow buffer (tokens 8 and 7) covers the
// frame that the display-information HOB describes; tokens 1, 4 and 5 are
// set at installation to where the firmware found the controller and its
// bridge (bus 1, device 0 behind 0:0x1C.0 until then).
//
constexpr UINTN kTokenLocation       = 0;
constexpr UINTN kTokenBridgeDevice   = 1;
constexpr UINTN kTokenBridgeFunction = 2;

TOKEN_VALUE mTokens[] = {
  { 1, 4, 0x01000000 },            // controller location
  { 4, 1, 0x1C },                  // bridge device
  { 5, 1, 0 },                     // bridge function
  { 7, 4, STAND_IN_FRAME_HEIGHT }, // shadow buffer, one dimension
  { 8, 4, STAND_IN_FRAME_WIDTH },  // the other
  { 10, 1, TRUE },                 // graphics mode
};

EFI_PCD_PROTOCOL *mFirmwarePcd;

/// The token's entry when Guid names the early video token space, else NULL.
TOKEN_VALUE *
FindToken (const EFI_GUID *Guid, UINTN TokenNumber, BOOLEAN *Ours)
{
  *Ours = (Guid != nullptr) && CompareGuid (Guid, &gEarlyVideoTokenSpaceGuid);
  if (!*Ours) {
    return nullptr;
  }

  for (TOKEN_VALUE &Token : mTokens) {
    if (Token.TokenNumber == TokenNumber) {
      return &Token;
    }
  }

  return nullptr;
}

UINT64
GetValue (const EFI_GUID *Guid, UINTN TokenNumber, UINTN Size)
{
  BOOLEAN      Ours;
  TOKEN_VALUE *Token = FindToken (Guid, TokenNumber, &Ours);

  if (Ours) {
    return (Token != nullptr) ? Token->Value : 0;
  }

  if (mFirmwarePcd == nullptr) {
    return 0;
  }

  switch (Size) {
    case 1:
      return mFirmwarePcd->Get8 (Guid, TokenNumber);
    case 2:
      return mFirmwarePcd->Get16 (Guid, TokenNumber);
    case 4:
      return mFirmwarePcd->Get32 (Guid, TokenNumber);
    default:
      return mFirmwarePcd->Get64 (Guid, TokenNumber);
  }
}

EFI_STATUS
SetValue (const EFI_GUID *Guid, UINTN TokenNumber, UINTN Size, UINT64 Value)
{
  BOOLEAN      Ours;
  TOKEN_VALUE *Token = FindToken (Guid, TokenNumber, &Ours);

  if (Ours) {
    return (Token == nullptr) ? EFI_NOT_FOUND : EFI_WRITE_PROTECTED;
  }

  if (mFirmwarePcd == nullptr) {
    return EFI_NOT_FOUND;
  }

  switch (Size) {
    case 1:
      return mFirmwarePcd->Set8 (Guid, TokenNumber, (UINT8)Value);
    case 2:
      return mFirmwarePcd->Set16 (Guid, TokenNumber, (UINT16)Value);
    case 4:
      return mFirmwarePcd->Set32 (Guid, TokenNumber, (UINT32)Value);
    default:
      return mFirmwarePcd->Set64 (Guid, TokenNumber, Value);
  }
}

//
// EFI_PCD_PROTOCOL members.
//

extern "C" VOID EFIAPI
StandInSetSku (UINTN SkuId)
{
  if (mFirmwarePcd != nullptr) {
    mFirmwarePcd->SetSku (SkuId);
  }
}

extern "C" UINT8 EFIAPI
StandInGet8 (CONST EFI_GUID *Guid, UINTN TokenNumber)
{
  return (UINT8)GetValue (Guid, TokenNumber, 1);
}

extern "C" UINT16 EFIAPI
StandInGet16 (CONST EFI_GUID *Guid, UINTN TokenNumber)
{
  return (UINT16)GetValue (Guid, TokenNumber, 2);
}

extern "C" UINT32 EFIAPI
StandInGet32 (CONST EFI_GUID *Guid, UINTN TokenNumber)
{
  return (UINT32)GetValue (Guid, TokenNumber, 4);
}

extern "C" UINT64 EFIAPI
StandInGet64 (CONST EFI_GUID *Guid, UINTN TokenNumber)
{
  return GetValue (Guid, TokenNumber, 8);
}

extern "C" BOOLEAN EFIAPI
StandInGetBool (CONST EFI_GUID *Guid, UINTN TokenNumber)
{
  BOOLEAN      Ours;
  TOKEN_VALUE *Token = FindToken (Guid, TokenNumber, &Ours);

  if (Ours) {
    return (Token != nullptr) && (Token->Value != 0);
  }

  return (mFirmwarePcd != nullptr) && mFirmwarePcd->GetBool (Guid, TokenNumber);
}

extern "C" VOID *EFIAPI
StandInGetPtr (CONST EFI_GUID *Guid, UINTN TokenNumber)
{
  BOOLEAN Ours;

  FindToken (Guid, TokenNumber, &Ours);
  return (Ours || (mFirmwarePcd == nullptr)) ? nullptr : mFirmwarePcd->GetPtr (Guid, TokenNumber);
}

extern "C" UINTN EFIAPI
StandInGetSize (CONST EFI_GUID *Guid, UINTN TokenNumber)
{
  BOOLEAN      Ours;
  TOKEN_VALUE *Token = FindToken (Guid, TokenNumber, &Ours);

  if (Ours) {
    return (Token != nullptr) ? Token->Size : 0;
  }

  return (mFirmwarePcd != nullptr) ? mFirmwarePcd->GetSize (Guid, TokenNumber) : 0;
}

extern "C" EFI_STATUS EFIAPI
StandInSet8 (CONST EFI_GUID *Guid, UINTN TokenNumber, UINT8 Value)
{
  return SetValue (Guid, TokenNumber, 1, Value);
}

extern "C" EFI_STATUS EFIAPI
StandInSet16 (CONST EFI_GUID *Guid, UINTN TokenNumber, UINT16 Value)
{
  return SetValue (Guid, TokenNumber, 2, Value);
}

extern "C" EFI_STATUS EFIAPI
StandInSet32 (CONST EFI_GUID *Guid, UINTN TokenNumber, UINT32 Value)
{
  return SetValue (Guid, TokenNumber, 4, Value);
}

extern "C" EFI_STATUS EFIAPI
StandInSet64 (CONST EFI_GUID *Guid, UINTN TokenNumber, UINT64 Value)
{
  return SetValue (Guid, TokenNumber, 8, Value);
}

extern "C" EFI_STATUS EFIAPI
StandInSetPtr (CONST EFI_GUID *Guid, UINTN TokenNumber, UINTN *SizeOfValue, VOID *Buffer)
{
  BOOLEAN Ours;

  FindToken (Guid, TokenNumber, &Ours);
  if (Ours || (mFirmwarePcd == nullptr)) {
    return EFI_INVALID_PARAMETER;
  }

  return mFirmwarePcd->SetPtr (Guid, TokenNumber, SizeOfValue, Buffer);
}

extern "C" EFI_STATUS EFIAPI
StandInSetBool (CONST EFI_GUID *Guid, UINTN TokenNumber, BOOLEAN Value)
{
  BOOLEAN Ours;

  FindToken (Guid, TokenNumber, &Ours);
  if (Ours) {
    return SetValue (Guid, TokenNumber, 1, Value ? 1 : 0);
  }

  return (mFirmwarePcd != nullptr) ? mFirmwarePcd->SetBool (Guid, TokenNumber, Value) : EFI_NOT_FOUND;
}

extern "C" EFI_STATUS EFIAPI
StandInCallbackOnSet (CONST EFI_GUID *Guid, UINTN TokenNumber, EFI_PCD_PROTOCOL_CALLBACK CallBackFunction)
{
  return (mFirmwarePcd != nullptr) ? mFirmwarePcd->CallbackOnSet (Guid, TokenNumber, CallBackFunction) : EFI_NOT_FOUND;
}

extern "C" EFI_STATUS EFIAPI
StandInCancelCallback (CONST EFI_GUID *Guid, UINTN TokenNumber, EFI_PCD_PROTOCOL_CALLBACK CallBackFunction)
{
  return (mFirmwarePcd != nullptr) ? mFirmwarePcd->CancelCallback (Guid, TokenNumber, CallBackFunction) : EFI_NOT_FOUND;
}

extern "C" EFI_STATUS EFIAPI
StandInGetNextToken (CONST EFI_GUID *Guid, UINTN *TokenNumber)
{
  return (mFirmwarePcd != nullptr) ? mFirmwarePcd->GetNextToken (Guid, TokenNumber) : EFI_NOT_FOUND;
}

extern "C" EFI_STATUS EFIAPI
StandInGetNextTokenSpace (CONST EFI_GUID **Guid)
{
  return (mFirmwarePcd != nullptr) ? mFirmwarePcd->GetNextTokenSpace (Guid) : EFI_NOT_FOUND;
}

EFI_PCD_PROTOCOL mPcdStandIn = { StandInSetSku,         StandInGet8,         StandInGet16,
                                 StandInGet32,          StandInGet64,        StandInGetPtr,
                                 StandInGetBool,        StandInGetSize,      StandInSet8,
                                 StandInSet16,          StandInSet32,        StandInSet64,
                                 StandInSetPtr,         StandInSetBool,      StandInCallbackOnSet,
                                 StandInCancelCallback, StandInGetNextToken, StandInGetNextTokenSpace };

} // namespace

EFI_STATUS
InstallPcdStandIn (VOID)
{
  if (mPlatform.ControllerHandle != nullptr) {
    mTokens[kTokenLocation].Value       = mPlatform.ControllerLocation;
    mTokens[kTokenBridgeDevice].Value   = mPlatform.BridgeDevice;
    mTokens[kTokenBridgeFunction].Value = mPlatform.BridgeFunction;
  }

  UINTN       HandleCount = 0;
  EFI_HANDLE *Handles     = nullptr;
  EFI_STATUS  Status      = gBS->LocateHandleBuffer (ByProtocol, &gEfiPcdProtocolGuid, nullptr, &HandleCount, &Handles);

  if (!EFI_ERROR (Status) && (HandleCount > 0)) {
    Status = gBS->HandleProtocol (Handles[0], &gEfiPcdProtocolGuid, reinterpret_cast<VOID **> (&mFirmwarePcd));
    if (!EFI_ERROR (Status)) {
      Status = gBS->ReinstallProtocolInterface (Handles[0], &gEfiPcdProtocolGuid, mFirmwarePcd, &mPcdStandIn);
    }

    FreePool (Handles);
    if (EFI_ERROR (Status)) {
      mFirmwarePcd = nullptr;
      return Status;
    }

    mPlatform.PcdForwarding = TRUE;
    return EFI_SUCCESS;
  }

  //
  // A firmware without a PI PCD protocol: the stand-in is the only one and
  // answers nothing outside its token space.
  //
  EFI_HANDLE Handle = nullptr;
  return gBS->InstallProtocolInterface (&Handle, &gEfiPcdProtocolGuid, EFI_NATIVE_INTERFACE, &mPcdStandIn);
}
