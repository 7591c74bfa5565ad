/** @file
  The platform before the drivers: the stand-in found the controller that
  the firmware enumerated and has its pieces in place, and the debug-level
  variables are set before the early video driver starts.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "RoadCheck.h"

extern "C" {
#include <IndustryStandard/Pci.h>
#include <Guid/DebugMask.h>
#include <Library/HobLib.h>
#include <Library/UefiRuntimeServicesTableLib.h>
#include <Protocol/PiPcd.h>
}

namespace {

VOID
CheckController (ROAD &Road)
{
  EMULATED_PLATFORM_PROTOCOL &Platform = *Road.Platform;
  UINT16                      Id[2]    = { 0, 0 };
  EFI_STATUS                  Status   = EFI_NOT_FOUND;

  if (Platform.ControllerPciIo != nullptr) {
    Status =
      Platform.ControllerPciIo->Pci.Read (Platform.ControllerPciIo, EfiPciIoWidthUint16, PCI_VENDOR_ID_OFFSET, 2, Id);
  }

  Check (
    "the firmware enumerated 0x19E5:0x1711 behind a bridge on bus 0 (PCI I/O of its bus driver)",
    !EFI_ERROR (Status) && Id[0] == 0x19E5 && Id[1] == 0x1711 && (Platform.ControllerLocation >> 24) != 0,
    "status %r, IDs %04x:%04x, location 0x%08x", Status, Id[0], Id[1], Platform.ControllerLocation
  );
  Note (
    "controller at bus %u, device %u behind the bridge 0:0x%x.%u; BAR 0 at 0x%lx (%lu MiB)",
    Platform.ControllerLocation >> 24, (Platform.ControllerLocation >> 16) & 0x1F, Platform.BridgeDevice,
    Platform.BridgeFunction, Platform.FrameBufferBase, Platform.FrameBufferSize >> 20
  );
}

VOID
CheckEarlyVideoPieces (ROAD &Road)
{
  EMULATED_PLATFORM_PROTOCOL &Platform = *Road.Platform;

  Check (
    "the platform turned the controller's aperture at 0x92000000 on (configuration register 0x40 bit 0)",
    Platform.ApertureOn, "not on"
  );

  VOID *Hob = GetFirstGuidHob (&gEarlyVideoInfoHobGuid);
  Check (
    "display-information HOB in the republished HOB list (800 x 600)",
    Hob != nullptr && GET_GUID_HOB_DATA (Hob) == Platform.VideoInfo && Platform.VideoInfo->FrameWidth == 800 &&
      Platform.VideoInfo->FrameHeight == 600,
    "HOB %p, stand-in's %p", Hob, Platform.VideoInfo
  );

  EFI_PCD_PROTOCOL *Pcd      = nullptr;
  EFI_STATUS        Status   = gBS->LocateProtocol (&gEfiPcdProtocolGuid, nullptr, reinterpret_cast<VOID **> (&Pcd));
  UINT32            Width    = EFI_ERROR (Status) ? 0 : Pcd->Get32 (&gEarlyVideoTokenSpaceGuid, 8);
  UINT32            Height   = EFI_ERROR (Status) ? 0 : Pcd->Get32 (&gEarlyVideoTokenSpaceGuid, 7);
  UINT32            Place    = EFI_ERROR (Status) ? 0 : Pcd->Get32 (&gEarlyVideoTokenSpaceGuid, 1);
  UINT8             Device   = EFI_ERROR (Status) ? 0 : Pcd->Get8 (&gEarlyVideoTokenSpaceGuid, 4);
  UINT8             Function = EFI_ERROR (Status) ? 0 : Pcd->Get8 (&gEarlyVideoTokenSpaceGuid, 5);
  Check (
    "PCD protocol answers the early video tokens (8: 800, 7: 600; 1, 4, 5: the controller and its bridge)",
    Width == 800 && Height == 600 && Place == Platform.ControllerLocation && Device == Platform.BridgeDevice &&
      Function == Platform.BridgeFunction && Platform.PcdForwarding,
    "status %r, tokens %u %u 0x%x 0x%x %u, forwarding %d", Status, Width, Height, Place, Device, Function,
    Platform.PcdForwarding
  );

  Check ("status-code listener registered with the router", Platform.ListenerRegistered, "not registered");
  Check (
    "display protocols installed, nothing registered yet",
    Platform.GraphicsDisplay != nullptr && Platform.GraphicsDisplay->Registrations == 0 &&
      Platform.TextDisplay->Registrations == 0,
    "an early video driver already registered"
  );
}

} // namespace

/// FALSE when the stand-in is missing: then nothing else can be checked.
BOOLEAN
CheckPlatform (IN ROAD &Road)
{
  EFI_STATUS Status =
    gBS->LocateProtocol (&gEmulatedPlatformProtocolGuid, nullptr, reinterpret_cast<VOID **> (&Road.Platform));

  if (!Check ("platform stand-in resident", !EFI_ERROR (Status), "%r: load PlatformStandInDxe.efi first", Status)) {
    Road.Platform = nullptr;
    return FALSE;
  }

  Road.ControllerHandle = Road.Platform->ControllerHandle;
  Road.FrameBufferBase  = Road.Platform->FrameBufferBase;
  CheckController (Road);
  CheckEarlyVideoPieces (Road);
  return TRUE;
}

/**
  Sets "EFIDebug" and "DebugMessageConfig" before the early video driver
  starts: "EFIDebug" 0xFFFFFFFF and preset 2 (errors), level 0xFF800000.
  (The platform road sets custom levels through "DebugMessageConfig".)
**/
VOID
SetDebugVariables (IN ROAD &Road)
{
  const UINT32 Attributes = EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS;
  UINT8        Config[24] = { 0 };
  UINT64       EfiDebug   = 0xFFFFFFFF;
  EFI_STATUS   Status;

  Config[0]               = 2;
  Road.ExpectedDebugLevel = 0xFF800000;
  Status = gRT->SetVariable (Ucs2 (u"EFIDebug"), &gEfiGenericVariableGuid, Attributes, sizeof (EfiDebug), &EfiDebug);

  if (!EFI_ERROR (Status)) {
    Status =
      gRT->SetVariable (Ucs2 (u"DebugMessageConfig"), &gDebugMessageConfigGuid, Attributes, sizeof (Config), Config);
  }

  Check ("debug-level variables set before the early video driver starts", !EFI_ERROR (Status), "%r", Status);
}
