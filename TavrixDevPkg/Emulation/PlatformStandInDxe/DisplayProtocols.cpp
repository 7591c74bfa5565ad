/** @file
  The two firmware display protocols that receive the early video driver's
  callbacks.

  Each keeps a copy of the table it is handed (the caller's copy is valid
  only during RegisterCallbacks). Firmware components -- here the road
  application -- call the graphics services with the protocol's copy as This.
  A second table, Observed, routes SetBank through the stand-in, so that the
  bank switches a drawing call makes can be counted and listed; everything
  else in it is the driver's own.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "PlatformStandIn.h"

namespace {

constexpr UINT32 kBankLogCapacity = 1024;

extern "C" EFI_STATUS EFIAPI GraphicsRegisterCallbacks (
  IN EARLY_GRAPHICS_DISPLAY_PROTOCOL *This,
  IN EARLY_GRAPHICS_CALLBACKS         Callbacks,
  IN UINTN                            Reserved
);

extern "C" EFI_STATUS EFIAPI
TextRegisterCallbacks (IN EARLY_TEXT_DISPLAY_PROTOCOL *This, IN EARLY_TEXT_CALLBACKS Callbacks, IN UINTN Reserved);

STAND_IN_GRAPHICS_DISPLAY mGraphicsDisplay = { { GraphicsRegisterCallbacks }, 0, {}, {} };
STAND_IN_TEXT_DISPLAY     mTextDisplay     = { { TextRegisterCallbacks }, 0, {} };

/// SetBank as the Observed table offers it: list the bank, then run the
/// driver's own SetBank with the same This.
extern "C" EFI_STATUS EFIAPI
ObservedSetBank (IN EARLY_GRAPHICS_CALLBACKS *This, IN UINT32 Bank)
{
  mPlatform.BankLog[mPlatform.BankSwitches % mPlatform.BankLogCapacity] = Bank;
  mPlatform.BankSwitches++;
  if (mGraphicsDisplay.Callbacks.SetBank == nullptr) {
    return EFI_NOT_READY;
  }

  return mGraphicsDisplay.Callbacks.SetBank (This, Bank);
}

extern "C" EFI_STATUS EFIAPI
GraphicsRegisterCallbacks (
  IN EARLY_GRAPHICS_DISPLAY_PROTOCOL *This,
  IN EARLY_GRAPHICS_CALLBACKS         Callbacks,
  IN UINTN                            Reserved
)
{
  if (This != &mGraphicsDisplay.Public) {
    return EFI_INVALID_PARAMETER;
  }

  mGraphicsDisplay.Callbacks        = Callbacks;
  mGraphicsDisplay.Observed         = Callbacks;
  mGraphicsDisplay.Observed.SetBank = ObservedSetBank;
  mGraphicsDisplay.Registrations++;
  return EFI_SUCCESS;
}

extern "C" EFI_STATUS EFIAPI
TextRegisterCallbacks (IN EARLY_TEXT_DISPLAY_PROTOCOL *This, IN EARLY_TEXT_CALLBACKS Callbacks, IN UINTN Reserved)
{
  if (This != &mTextDisplay.Public) {
    return EFI_INVALID_PARAMETER;
  }

  mTextDisplay.Callbacks = Callbacks;
  mTextDisplay.Registrations++;
  return EFI_SUCCESS;
}

EFI_HANDLE mDisplayHandle;

} // namespace

EFI_STATUS
InstallDisplayProtocols (VOID)
{
  mPlatform.BankLog         = static_cast<UINT32 *> (AllocateZeroPool (kBankLogCapacity * sizeof (UINT32)));
  mPlatform.BankLogCapacity = kBankLogCapacity;
  if (mPlatform.BankLog == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }

  mDisplayHandle    = nullptr;
  EFI_STATUS Status = gBS->InstallMultipleProtocolInterfaces (
    &mDisplayHandle, &gEarlyGraphicsDisplayProtocolGuid, &mGraphicsDisplay, &gEarlyTextDisplayProtocolGuid,
    &mTextDisplay, nullptr
  );
  if (EFI_ERROR (Status)) {
    mDisplayHandle = nullptr;
    UninstallDisplayProtocols ();
    return Status;
  }

  mPlatform.GraphicsDisplay = &mGraphicsDisplay;
  mPlatform.TextDisplay     = &mTextDisplay;
  return EFI_SUCCESS;
}

VOID
UninstallDisplayProtocols (VOID)
{
  if (mDisplayHandle != nullptr) {
    gBS->UninstallMultipleProtocolInterfaces (
      mDisplayHandle, &gEarlyGraphicsDisplayProtocolGuid, &mGraphicsDisplay, &gEarlyTextDisplayProtocolGuid,
      &mTextDisplay, nullptr
    );
    mDisplayHandle = nullptr;
  }

  if (mPlatform.BankLog != nullptr) {
    FreePool (mPlatform.BankLog);
    mPlatform.BankLog = nullptr;
  }

  mPlatform.GraphicsDisplay = nullptr;
  mPlatform.TextDisplay     = nullptr;
}
