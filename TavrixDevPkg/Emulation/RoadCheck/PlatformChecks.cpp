/** @file
  The reference platform as the road finds it at the shell: the controller
  the firmware enumerated and TavrixGopDxe holds, the display-information
  HOB, Prelumen's configuration values in the PCD database, the platform's
  display protocols with the one registration of the Prelumen its DXE
  dispatcher started, and the aperture turned off since the GOP arrived.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "RoadCheck.h"

extern "C" {
#include <Guid/DebugMask.h>
#include <Library/HobLib.h>
#include <Library/PcdLib.h>
#include <Library/UefiRuntimeServicesTableLib.h>
#include <TavrixDisplayCore.h>
}

namespace {

/// The early display protocols, when this platform produced them.
BOOLEAN
FindDisplayProtocols (ROAD &Road)
{
  VOID *Graphics = nullptr;
  VOID *Text     = nullptr;

  gBS->LocateProtocol (&gEarlyGraphicsDisplayProtocolGuid, nullptr, &Graphics);
  gBS->LocateProtocol (&gEarlyTextDisplayProtocolGuid, nullptr, &Text);
  Road.Graphics      = static_cast<PLATFORM_GRAPHICS_DISPLAY *> (Graphics);
  Road.Text          = static_cast<PLATFORM_TEXT_DISPLAY *> (Text);
  const BOOLEAN Ours = (Road.Graphics != nullptr) && (Road.Text != nullptr) &&
                       (Road.Graphics->Signature == PLATFORM_EARLY_DISPLAY_SIGNATURE) &&
                       (Road.Text->Signature == PLATFORM_EARLY_DISPLAY_SIGNATURE);

  if (!Check (
        "the reference platform's early display protocols are installed", Ours, "graphics %p, text %p", Graphics, Text
      )) {
    Road.Graphics = nullptr;
    Road.Text     = nullptr;
    return FALSE;
  }

  Check (
    "the Prelumen of the firmware volume registered its graphics callbacks once, no text callback",
    Road.Graphics->Registrations == 1 && Road.Text->Registrations == 0 && Road.Graphics->BankSwitches > 0,
    "%u graphics, %u text registrations, %lu bank switches", Road.Graphics->Registrations, Road.Text->Registrations,
    Road.Graphics->BankSwitches
  );
  return TRUE;
}

VOID
CheckHobAndConfiguration (ROAD &Road)
{
  VOID *Hob = GetFirstGuidHob (&gEarlyVideoInfoHobGuid);

  Road.VideoInfo = (Hob != nullptr) ? static_cast<EARLY_VIDEO_INFO *> (GET_GUID_HOB_DATA (Hob)) : nullptr;
  Check (
    "the platform's display-information HOB describes the 800 x 600 console frame",
    Road.VideoInfo != nullptr && Road.VideoInfo->FrameWidth == 800 && Road.VideoInfo->FrameHeight == 600, "HOB %p",
    Road.VideoInfo
  );

  const UINT32  Location = PcdGetEx32 (&gEarlyVideoTokenSpaceGuid, PcdEarlyVideoDeviceLocation);
  const UINT8   Device   = PcdGetEx8 (&gEarlyVideoTokenSpaceGuid, PcdEarlyVideoBridgeDevice);
  const UINT8   Function = PcdGetEx8 (&gEarlyVideoTokenSpaceGuid, PcdEarlyVideoBridgeFunction);
  const UINT32  Width    = PcdGetEx32 (&gEarlyVideoTokenSpaceGuid, PcdEarlyVideoShadowWidth);
  const UINT32  Height   = PcdGetEx32 (&gEarlyVideoTokenSpaceGuid, PcdEarlyVideoShadowHeight);
  const BOOLEAN Graphics = PcdGetExBool (&gEarlyVideoTokenSpaceGuid, PcdEarlyVideoGraphicsMode);
  Check (
    "the PCD database holds Prelumen's values: controller 01:00.0 behind 0:1C.0, a 1024 x 768 shadow, graphics mode",
    Location == 0x01000000 && Device == 0x1C && Function == 0 && Width == 1024 && Height == 768 && Graphics,
    "location 0x%08x, bridge 0x%x.%u, shadow %u x %u, graphics %d", Location, Device, Function, Width, Height, Graphics
  );
}

/// Once Prelumen follows the GOP nothing needs the aperture: the platform
/// turned it off.
VOID
CheckApertureOff (ROAD &Road)
{
  EFI_PCI_IO_PROTOCOL *PciIo   = nullptr;
  UINT8                Control = 0xFF;

  gBS->HandleProtocol (Road.ControllerHandle, &gEfiPciIoProtocolGuid, reinterpret_cast<VOID **> (&PciIo));
  if (PciIo != nullptr) {
    PciIo->Pci.Read (PciIo, EfiPciIoWidthUint8, TAVRIX_CONFIG_APERTURE_CONTROL, 1, &Control);
  }

  Check (
    "the platform turned the aperture off once the GOP arrived (configuration register 0x40 bit 0 clear)",
    (Control & TAVRIX_APERTURE_ENABLE) == 0, "register 0x40 reads 0x%02x", Control
  );
}

} // namespace

/// FALSE when this is not the reference platform: nothing else can be checked.
BOOLEAN
CheckPlatform (IN ROAD &Road)
{
  if (!FindDevice (Road) || !FindDisplayProtocols (Road)) {
    return FALSE;
  }

  Road.GopDriverImage = ManagingDriver (Road);
  Check (
    "the firmware started TavrixGopDxe on the controller (held BY_DRIVER)", Road.GopDriverImage != nullptr,
    "no driver holds the controller"
  );
  CheckHobAndConfiguration (Road);
  CheckApertureOff (Road);
  return (Road.GopDriverImage != nullptr) && (Road.VideoInfo != nullptr);
}

/**
  Sets "EFIDebug" and "DebugMessageConfig" before the road starts its early
  video driver: "EFIDebug" 0xFFFFFFFF and preset 2 (errors), level
  0xFF800000. Volatile: the next boot has the platform's default again.
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
