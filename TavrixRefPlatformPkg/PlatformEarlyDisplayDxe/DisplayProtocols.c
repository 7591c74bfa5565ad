/** @file
  The early graphics and text display protocols.

  Prelumen hands its callback table to RegisterCallbacks once, by value: the
  32-byte graphics table arrives as the address of a copy valid only during
  the call, so it is copied here. The platform calls the graphics services
  with its copy Observed as This; Prelumen's pixel writer reaches SetBank
  through This, and Observed routes that entry through CountingSetBank,
  which counts and logs the switch and ends in Prelumen's own SetBank.

  The platform draws at once, in the first registration call: that is the
  first moment anything can be shown, long before a console exists. In
  graphics mode it then watches for the display driver's GOP
  (GopArrival.c). A later registration (an early video driver started again,
  from the shell say) replaces the callbacks the platform holds and draws
  nothing: the early picture belongs to the boot, once.

  What the platform keeps is laid out in PlatformEarlyDisplay.h behind the
  public member, so that a test application can draw through the same table
  and see every bank switch.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "PlatformEarlyDisplayDxe.h"

#include <Library/DebugLib.h>
#include <Library/UefiBootServicesTableLib.h>

STATIC
EFI_STATUS
EFIAPI
CountingSetBank (
  IN EARLY_GRAPHICS_CALLBACKS  *This,
  IN UINT32                    Bank
  )
{
  mGraphicsDisplay.BankLog[mGraphicsDisplay.BankSwitches % PLATFORM_BANK_LOG_SIZE] = Bank;
  mGraphicsDisplay.BankSwitches++;
  return mGraphicsDisplay.Callbacks.SetBank (This, Bank);
}

STATIC
EFI_STATUS
EFIAPI
GraphicsRegisterCallbacks (
  IN EARLY_GRAPHICS_DISPLAY_PROTOCOL  *This,
  IN EARLY_GRAPHICS_CALLBACKS         Callbacks,
  IN UINTN                            Reserved
  )
{
  EFI_STATUS  Status;

  if ((Callbacks.DrawString == NULL) || (Callbacks.DrawImage == NULL) ||
      (Callbacks.SetBank == NULL) || (Callbacks.EnableDrawing == NULL))
  {
    return EFI_INVALID_PARAMETER;
  }

  mGraphicsDisplay.Callbacks        = Callbacks;
  mGraphicsDisplay.Observed         = Callbacks;
  mGraphicsDisplay.Observed.SetBank = CountingSetBank;
  mGraphicsDisplay.Registrations++;
  if (mGraphicsDisplay.Registrations > 1) {
    DEBUG ((
      DEBUG_INFO,
      "PlatformEarlyDisplayDxe: graphics callbacks registered again (registration %u): kept, nothing drawn\n",
      mGraphicsDisplay.Registrations
      ));
    return EFI_SUCCESS;
  }

  DEBUG ((DEBUG_INFO, "PlatformEarlyDisplayDxe: graphics callbacks registered\n"));
  DrawEarlyPicture ();
  Status = WatchForGraphicsOutput ();
  if (EFI_ERROR (Status)) {
    DEBUG ((DEBUG_WARN, "PlatformEarlyDisplayDxe: not watching for the GOP: %r\n", Status));
  }

  return EFI_SUCCESS;
}

STATIC
EFI_STATUS
EFIAPI
TextRegisterCallbacks (
  IN EARLY_TEXT_DISPLAY_PROTOCOL  *This,
  IN EARLY_TEXT_CALLBACKS         Callbacks,
  IN UINTN                        Reserved
  )
{
  if (Callbacks.PrintString == NULL) {
    return EFI_INVALID_PARAMETER;
  }

  mTextDisplay.Callbacks = Callbacks;
  mTextDisplay.Registrations++;
  if (mTextDisplay.Registrations > 1) {
    DEBUG ((
      DEBUG_INFO,
      "PlatformEarlyDisplayDxe: text callback registered again (registration %u): kept, nothing printed\n",
      mTextDisplay.Registrations
      ));
    return EFI_SUCCESS;
  }

  DEBUG ((DEBUG_INFO, "PlatformEarlyDisplayDxe: text callback registered\n"));
  PrintEarlyText ();
  return EFI_SUCCESS;
}

PLATFORM_GRAPHICS_DISPLAY  mGraphicsDisplay = {
  { GraphicsRegisterCallbacks }, PLATFORM_EARLY_DISPLAY_SIGNATURE
};

PLATFORM_TEXT_DISPLAY  mTextDisplay = {
  { TextRegisterCallbacks }, PLATFORM_EARLY_DISPLAY_SIGNATURE
};

/**
  Installs both protocols on one new handle; Prelumen's configured mode
  decides which of them it uses.
**/
EFI_STATUS
InstallDisplayProtocols (
  VOID
  )
{
  EFI_HANDLE  Handle;

  Handle = NULL;
  return gBS->InstallMultipleProtocolInterfaces (
                &Handle,
                &gEarlyGraphicsDisplayProtocolGuid,
                &mGraphicsDisplay.Public,
                &gEarlyTextDisplayProtocolGuid,
                &mTextDisplay.Public,
                NULL
                );
}
