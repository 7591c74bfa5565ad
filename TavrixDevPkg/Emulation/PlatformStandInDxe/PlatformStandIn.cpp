/** @file
  Platform stand-in for OVMF: provides what a real platform would give the
  early video driver, so that it can run in OVMF under QEMU on the virtual
  display controller (-device tavrix-display).

  Loaded from the UEFI shell ("load PlatformStandInDxe.efi"), it stays
  resident and provides
    - the graphics and text display protocols that take the early video
      driver's callbacks;
    - PCD answers for the early video token space, pointing at the
      controller the firmware enumerated and at the bridge in front of it;
    - the display-information HOB in a republished copy of the HOB list;
    - a status-code listener that keeps the early video driver's records;
  and does to the controller what a platform does for that driver: turns its
  fixed aperture on, and (PrepareEarlyVideo) routes legacy VGA to it and
  shows the early frame. It publishes its state for the road application
  (EmulatedPlatform.h).

  The controller, the display protocols and the state protocol are needed:
  if one of them cannot be had, the stand-in undoes what it did and fails.
  The rest degrade and say so in the published flags.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "PlatformStandIn.h"

EMULATED_PLATFORM_PROTOCOL mPlatform = { EMULATED_PLATFORM_PROTOCOL_REVISION };

extern "C" EFI_STATUS EFIAPI
PlatformStandInEntryPoint (IN EFI_HANDLE ImageHandle, IN EFI_SYSTEM_TABLE *SystemTable)
{
  mPlatform.PrepareEarlyVideo = PrepareEarlyVideo;

  EFI_STATUS Status = FindDisplayController ();
  if (!EFI_ERROR (Status)) {
    Status = InstallDisplayProtocols ();
  }

  if (!EFI_ERROR (Status)) {
    Status = gBS->InstallMultipleProtocolInterfaces (&ImageHandle, &gEmulatedPlatformProtocolGuid, &mPlatform, nullptr);
  }

  if (EFI_ERROR (Status)) {
    DEBUG ((DEBUG_ERROR, "PlatformStandIn: no display controller 0x19E5:0x1711 behind a bridge: %r\n", Status));
    UninstallDisplayProtocols ();
    return Status;
  }

  //
  // The pieces below degrade: the road application reports what is missing.
  //
  if (EFI_ERROR (Status = TurnApertureOn ())) {
    DEBUG ((DEBUG_ERROR, "PlatformStandIn: aperture not turned on: %r\n", Status));
  }

  if (EFI_ERROR (Status = InstallPcdStandIn ())) {
    DEBUG ((DEBUG_ERROR, "PlatformStandIn: PCD stand-in not installed: %r\n", Status));
  }

  if (EFI_ERROR (Status = PublishDisplayInfoHob ())) {
    DEBUG ((DEBUG_ERROR, "PlatformStandIn: display-information HOB not published: %r\n", Status));
  }

  if (EFI_ERROR (Status = RegisterStatusCodeListener ())) {
    DEBUG ((DEBUG_ERROR, "PlatformStandIn: status-code listener not registered: %r\n", Status));
  }

  return EFI_SUCCESS;
}
