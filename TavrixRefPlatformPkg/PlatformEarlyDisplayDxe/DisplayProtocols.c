/** @file
  The early graphics and text display protocols.

  Prelumen hands its callback table to RegisterCallbacks once, by value: the
  32-byte graphics table arrives as the address of a copy valid only during
  the call, so it is copied here. The platform calls the graphics services
  with its copy as This; Prelumen's pixel writer reaches SetBank through
  This, and the copy routes that entry through CountingSetBank, which counts
  the switch and ends in Prelumen's own SetBank.

  The platform draws at once, in the registration call: that is the first
  moment anything can be shown, long before a console exists. In graphics
  mode it then watches for the display driver's GOP (GopArrival.c).

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "PlatformEarlyDisplayDxe.h"

#include <Library/DebugLib.h>
#include <Library/UefiBootServicesTableLib.h>

EARLY_GRAPHICS_CALLBACKS  mGraphics;
EARLY_TEXT_CALLBACKS      mText;
UINT32                    mBankSwitches;

STATIC EARLY_VIDEO_SET_BANK  mPrelumenSetBank;

STATIC
EFI_STATUS
EFIAPI
CountingSetBank (
  IN EARLY_GRAPHICS_CALLBACKS  *This,
  IN UINT32                    Bank
  )
{
  mBankSwitches++;
  return mPrelumenSetBank (This, Bank);
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

  mPrelumenSetBank  = Callbacks.SetBank;
  mGraphics         = Callbacks;
  mGraphics.SetBank = CountingSetBank;
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

  mText = Callbacks;
  DEBUG ((DEBUG_INFO, "PlatformEarlyDisplayDxe: text callback registered\n"));
  PrintEarlyText ();
  return EFI_SUCCESS;
}

STATIC EARLY_GRAPHICS_DISPLAY_PROTOCOL  mGraphicsDisplay = { GraphicsRegisterCallbacks };
STATIC EARLY_TEXT_DISPLAY_PROTOCOL      mTextDisplay     = { TextRegisterCallbacks };

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
                &mGraphicsDisplay,
                &gEarlyTextDisplayProtocolGuid,
                &mTextDisplay,
                NULL
                );
}
