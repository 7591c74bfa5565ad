/** @file
  The road application. Run from the UEFI shell after the platform stand-in:

    load PlatformStandInDxe.efi
    TavrixRoad.efi graphics [snap]

  or, on the virtual device with the driver in the card's option ROM and no
  stand-in:

    TavrixRoad.efi device [snap]       (or: device-release [snap])

  It starts both drivers from the files beside it and follows one event down
  the road: the early video driver draws before any GOP exists, the GOP
  driver is connected by the firmware, the early video driver follows the GOP,
  the firmware console draws through it, then every GOP service, the names and
  20 disconnect/reconnect cycles. Text mode is the reference platform's road
  (scripts/qemu-platform.sh), in the real boot order. "device" walks the GOP road on the device
  (the driver the firmware loaded from the ROM, every mode, Blt, names,
  reconnects, a UART window); "device-release" only the ROM, the console and
  the UART window, for the RELEASE ROM. With "snap", each snapshot waits for
  a key from the host that captures the screen.

  Prints one "PASS: road: ..." or "FAIL: road: ..." line per check and ends
  with "ROAD-END <passed> passed, <failed> failed".

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "RoadCheck.h"

extern "C" {
#include <Protocol/ShellParameters.h>
}

namespace {

enum ROAD_RUN { RoadGraphics, RoadDevice, RoadDeviceRelease };

/// The shell's arguments: the run and "snap".
BOOLEAN
ReadArguments (EFI_HANDLE ImageHandle, ROAD_RUN *Run, BOOLEAN *Snap)
{
  EFI_SHELL_PARAMETERS_PROTOCOL *Parameters;

  *Run  = RoadGraphics;
  *Snap = FALSE;
  if (EFI_ERROR (
        gBS->HandleProtocol (ImageHandle, &gEfiShellParametersProtocolGuid, reinterpret_cast<VOID **> (&Parameters))
      )) {
    return TRUE;
  }

  for (UINTN Index = 1; Index < Parameters->Argc; Index++) {
    if (StrCmp (Parameters->Argv[Index], Ucs2 (u"device")) == 0) {
      *Run = RoadDevice;
    } else if (StrCmp (Parameters->Argv[Index], Ucs2 (u"device-release")) == 0) {
      *Run = RoadDeviceRelease;
    } else if (StrCmp (Parameters->Argv[Index], Ucs2 (u"snap")) == 0) {
      *Snap = TRUE;
    } else if (StrCmp (Parameters->Argv[Index], Ucs2 (u"graphics")) != 0) {
      AsciiPrint ("usage: TavrixRoad.efi graphics|device|device-release [snap]\n");
      return FALSE;
    }
  }

  return TRUE;
}

/// The graphics boot: the whole road of one event.
VOID
WalkGraphicsRoad (ROAD &Road)
{
  SetDebugVariables (Road);
  CheckEarlyVideoStart (Road);
  CheckDrawingBeforeGop (Road);
  CheckGopStart (Road);
  CheckGraphicsConsole (Road);
  CheckDrawingAfterGop (Road);
  CheckModesAndBlt (Road);
  CheckComponentNames (Road);
  CheckOptionRom (Road);
  CheckReconnectCycles (Road);
  CheckBltStorm (Road);
  CheckDebugRecords (Road);
}

/// The GOP road on the virtual device: everything through the firmware's
/// own PCI I/O, the driver loaded from the card's ROM.
VOID
WalkDeviceRoad (ROAD &Road, BOOLEAN Release)
{
  CheckDriverFromRom (Road);
  if (!Release) {
    CheckDeviceModes (Road);
    CheckComponentNames (Road);
    CheckReconnectCycles (Road);
  }

  CheckUartWindow (Road);
}

} // namespace

extern "C" EFI_STATUS EFIAPI
RoadCheckMain (IN EFI_HANDLE ImageHandle, IN EFI_SYSTEM_TABLE *SystemTable)
{
  ROAD_RUN Run;
  BOOLEAN  Snap;

  if (!ReadArguments (ImageHandle, &Run, &Snap)) {
    return EFI_INVALID_PARAMETER;
  }

  ROAD Road             = {};
  Road.ImageHandle      = ImageHandle;
  Road.WaitForSnapshots = Snap;

  static const CHAR8 *const Names[] = { "graphics", "device", "device-release" };
  AsciiPrint ("ROAD-BEGIN %a\n", Names[Run]);
  if ((Run == RoadDevice) || (Run == RoadDeviceRelease)) {
    if (FindDevice (Road)) {
      WalkDeviceRoad (Road, Run == RoadDeviceRelease);
    }
  } else if (CheckPlatform (Road)) {
    WalkGraphicsRoad (Road);
  }

  AsciiPrint ("ROAD-END %u passed, %u failed\n", (UINT32)PassedChecks (), (UINT32)FailedChecks ());
  return (FailedChecks () == 0) ? EFI_SUCCESS : EFI_ABORTED;
}
