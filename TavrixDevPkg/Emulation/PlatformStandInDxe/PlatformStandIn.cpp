/** @file
  Platform stand-in for OVMF: provides what a real platform would give the
  display drivers, so that both can run in OVMF under QEMU.

  Loaded from the UEFI shell ("load PlatformStandInDxe.efi"), it stays
  resident and provides
    - the emulated display controller 0x19E5:0x1711 on a handle of its own,
      with BAR 0 on the machine VGA's frame buffer where there is one;
    - the graphics and text display protocols that take the early video
      driver's callbacks;
    - PCD answers for the early video token space;
    - the display-information HOB in a republished copy of the HOB list, and
      reserved memory behind the fixed aperture;
    - a status-code listener that keeps the early video driver's records;
  and publishes its state for the road application (EmulatedPlatform.h).

  The controller, the display protocols and the state protocol are needed:
  if one of them cannot be made, the stand-in undoes what it did and fails.
  The rest degrade and say so in the published flags.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "PlatformStandIn.h"

EMULATED_PLATFORM_PROTOCOL mPlatform = { EMULATED_PLATFORM_PROTOCOL_REVISION };

namespace {

VOID
UndoRequiredSteps (EFI_HANDLE ImageHandle)
{
  UninstallDisplayProtocols ();
  DestroyEmulatedController ();
  DetachMachineVga (ImageHandle);
}

} // namespace

extern "C" EFI_STATUS EFIAPI
PlatformStandInEntryPoint (IN EFI_HANDLE ImageHandle, IN EFI_SYSTEM_TABLE *SystemTable)
{
  mPlatform.ShowVgaText = ShowVgaText;

  EFI_STATUS Status = AttachMachineVga (ImageHandle);
  if (!EFI_ERROR (Status)) {
    Status = CreateEmulatedController ();
  }

  if (!EFI_ERROR (Status)) {
    Status = InstallDisplayProtocols ();
  }

  if (!EFI_ERROR (Status)) {
    Status = gBS->InstallMultipleProtocolInterfaces (&ImageHandle, &gEmulatedPlatformProtocolGuid, &mPlatform, nullptr);
  }

  if (EFI_ERROR (Status)) {
    DEBUG ((DEBUG_ERROR, "PlatformStandIn: cannot set up the emulated controller: %r\n", Status));
    UndoRequiredSteps (ImageHandle);
    return Status;
  }

  //
  // The pieces below degrade: the road application reports what is missing.
  //
  if (EFI_ERROR (Status = InstallPcdStandIn ())) {
    DEBUG ((DEBUG_ERROR, "PlatformStandIn: PCD stand-in not installed: %r\n", Status));
  }

  if (EFI_ERROR (Status = ReserveAperture ())) {
    DEBUG ((DEBUG_ERROR, "PlatformStandIn: aperture not backed: %r\n", Status));
  }

  if (EFI_ERROR (Status = PublishDisplayInfoHob ())) {
    DEBUG ((DEBUG_ERROR, "PlatformStandIn: display-information HOB not published: %r\n", Status));
  }

  if (EFI_ERROR (Status = RegisterStatusCodeListener ())) {
    DEBUG ((DEBUG_ERROR, "PlatformStandIn: status-code listener not registered: %r\n", Status));
  }

  return EFI_SUCCESS;
}
