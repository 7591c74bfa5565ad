/** @file
  The platform before the drivers: the stand-in's pieces are in place, and
  the debug-level variables are set before the early video driver starts.

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
  EFI_PCI_IO_PROTOCOL *PciIo = nullptr;
  UINT16               Id[2] = { 0, 0 };
  EFI_STATUS           Status =
    gBS->HandleProtocol (Road.ControllerHandle, &gEfiPciIoProtocolGuid, reinterpret_cast<VOID **> (&PciIo));

  if (!EFI_ERROR (Status)) {
    Status = PciIo->Pci.Read (PciIo, EfiPciIoWidthUint16, PCI_VENDOR_ID_OFFSET, 2, Id);
  }

  Check (
    "emulated controller answers as 0x19E5:0x1711 through PCI I/O",
    !EFI_ERROR (Status) && Id[0] == 0x19E5 && Id[1] == 0x1711, "status %r, IDs %04x:%04x", Status, Id[0], Id[1]
  );
  Check (
    "BAR 0 is the machine VGA's frame buffer", Road.Platform->FrameBufferOnVga,
    "no QEMU standard VGA could be taken; BAR 0 is plain memory at 0x%lx", Road.Platform->FrameBufferBase
  );
}

VOID
CheckEarlyVideoPieces (ROAD &Road)
{
  Check ("aperture 0x92000000 backed by reserved memory", Road.Platform->ApertureReserved, "not reserved");

  VOID *Hob = GetFirstGuidHob (&gEarlyVideoInfoHobGuid);
  Check (
    "display-information HOB in the republished HOB list (800 x 600)",
    Hob != nullptr && GET_GUID_HOB_DATA (Hob) == Road.Platform->VideoInfo &&
      Road.Platform->VideoInfo->FrameWidth == 800 && Road.Platform->VideoInfo->FrameHeight == 600,
    "HOB %p, stand-in's %p", Hob, Road.Platform->VideoInfo
  );

  EFI_PCD_PROTOCOL *Pcd    = nullptr;
  EFI_STATUS        Status = gBS->LocateProtocol (&gEfiPcdProtocolGuid, nullptr, reinterpret_cast<VOID **> (&Pcd));
  UINT32            Width  = EFI_ERROR (Status) ? 0 : Pcd->Get32 (&gEarlyVideoTokenSpaceGuid, 8);
  UINT32            Height = EFI_ERROR (Status) ? 0 : Pcd->Get32 (&gEarlyVideoTokenSpaceGuid, 7);
  UINT32            Place  = EFI_ERROR (Status) ? 0 : Pcd->Get32 (&gEarlyVideoTokenSpaceGuid, 1);
  Check (
    "PCD protocol answers the early video tokens (8: 800, 7: 600, 1: 0x01000000)",
    Width == 800 && Height == 600 && Place == 0x01000000 && Road.Platform->PcdForwarding,
    "status %r, tokens %u %u 0x%x, forwarding %d", Status, Width, Height, Place, Road.Platform->PcdForwarding
  );

  Check ("status-code listener registered with the router", Road.Platform->ListenerRegistered, "not registered");
  Check (
    "display protocols installed, nothing registered yet",
    Road.Platform->GraphicsDisplay != nullptr && Road.Platform->GraphicsDisplay->Registrations == 0 &&
      Road.Platform->TextDisplay->Registrations == 0,
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
  starts. Graphics run: "EFIDebug" 0xFFFFFFFF and preset 2 (errors), level
  0xFF800000. Text run: no "EFIDebug" and custom levels with the
  initialisation, warning and error switches on, level 0x80000003.
**/
VOID
SetDebugVariables (IN ROAD &Road, IN BOOLEAN GraphicsRun)
{
  const UINT32 Attributes = EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS;
  UINT8        Config[24] = { 0 };
  UINT64       EfiDebug   = 0xFFFFFFFF;
  EFI_STATUS   Status;

  if (GraphicsRun) {
    Config[0]               = 2;
    Road.ExpectedDebugLevel = 0xFF800000;
    Status = gRT->SetVariable (Ucs2 (u"EFIDebug"), &gEfiGenericVariableGuid, Attributes, sizeof (EfiDebug), &EfiDebug);
  } else {
    Config[4]               = 1;
    Config[5]               = 1;
    Config[6]               = 1;
    Config[21]              = 1;
    Road.ExpectedDebugLevel = 0x80000003;
    Status                  = gRT->SetVariable (Ucs2 (u"EFIDebug"), &gEfiGenericVariableGuid, 0, 0, nullptr);
    Status                  = (Status == EFI_NOT_FOUND) ? EFI_SUCCESS : Status;
  }

  if (!EFI_ERROR (Status)) {
    Status =
      gRT->SetVariable (Ucs2 (u"DebugMessageConfig"), &gDebugMessageConfigGuid, Attributes, sizeof (Config), Config);
  }

  Check ("debug-level variables set before the early video driver starts", !EFI_ERROR (Status), "%r", Status);
}
