/** @file
  The reference platform's early display.

  In this order: the status-code listener is registered and Prelumen's
  debug level gets its platform default, then the two display protocols are
  installed. Prelumen's dependency expression waits for them, so it always
  finds the listener and the level in place. At the end of DXE the progress
  line moves on. Last, the driver starts watching for the display
  controller's PCI I/O, so that it can turn the fixed frame aperture off
  once nothing needs it.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "PlatformEarlyDisplayDxe.h"

#include <Guid/EventGroup.h>
#include <Library/DebugLib.h>
#include <Library/UefiBootServicesTableLib.h>

STATIC
VOID
EFIAPI
OnEndOfDxe (
  IN EFI_EVENT  Event,
  IN VOID       *Context
  )
{
  gBS->CloseEvent (Event);
  ShowProgress (ProgressEndOfDxe);
}

EFI_STATUS
EFIAPI
PlatformEarlyDisplayEntryPoint (
  IN EFI_HANDLE        ImageHandle,
  IN EFI_SYSTEM_TABLE  *SystemTable
  )
{
  EFI_STATUS  Status;
  EFI_STATUS  Listening;
  EFI_EVENT   EndOfDxe;

  //
  // Without the listener Prelumen's records are lost, but its drawing works:
  // go on.
  //
  Listening = RegisterStatusCodeListener ();
  if (EFI_ERROR (Listening)) {
    DEBUG ((DEBUG_ERROR, "PlatformEarlyDisplayDxe: no status-code listener: %r\n", Listening));
  }

  SetDebugLevelDefault ();

  Status = gBS->CreateEventEx (EVT_NOTIFY_SIGNAL, TPL_CALLBACK, OnEndOfDxe, NULL, &gEfiEndOfDxeEventGroupGuid, &EndOfDxe);
  if (EFI_ERROR (Status)) {
    DEBUG ((DEBUG_ERROR, "PlatformEarlyDisplayDxe: no end-of-DXE event: %r\n", Status));
  } else {
    Status = InstallDisplayProtocols ();
    if (EFI_ERROR (Status)) {
      DEBUG ((DEBUG_ERROR, "PlatformEarlyDisplayDxe: display protocols not installed: %r\n", Status));
      gBS->CloseEvent (EndOfDxe);
    }
  }

  //
  // Without the watch the aperture stays on into the operating system, where
  // the memory map keeps it reserved: go on.
  //
  if (!EFI_ERROR (Status) && EFI_ERROR (WatchForDisplayController ())) {
    DEBUG ((DEBUG_ERROR, "PlatformEarlyDisplayDxe: not watching for the display controller\n"));
  }

  //
  // The image is unloaded on failure: nothing of it may stay registered.
  //
  if (EFI_ERROR (Status) && !EFI_ERROR (Listening)) {
    UnregisterStatusCodeListener ();
  }

  return Status;
}
