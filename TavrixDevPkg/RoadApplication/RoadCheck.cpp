/** @file
  The road application. Run from the UEFI shell of the reference platform
  (TavrixRefPlatformPkg), where the DXE dispatcher has started both drivers:

    TavrixRoad.efi platform [snap]

  or, on the virtual device with the driver in the card's option ROM:

    TavrixRoad.efi device [snap]       (or: device-release [snap])

  or, on the platform's Secure Boot variant, given where the variable
  store's flash is mapped:

    TavrixRoad.efi keys <store address>

  or, before a boot loader, to boot it under memory pressure:

    TavrixRoad.efi pressure

  "platform" checks what the boot left (the controller held by TavrixGopDxe,
  the HOB, the PCDs, the platform's display protocols with one registration,
  the aperture off), stops TavrixGopDxe and puts the controller back in its
  early state, starts a second Prelumen from the file beside it and follows
  one event down the road again: that Prelumen draws before any GOP exists,
  the firmware connects TavrixGopDxe, Prelumen follows the GOP, the firmware
  console draws through it, then every GOP service, the names, the option
  ROM image and 20 disconnect/reconnect cycles. Text mode and the status
  codes on the serial log are the road's other boots
  (scripts/roads/qemu-platform.sh). "device" walks the GOP road on the card (the
  driver the firmware loaded from the ROM, every mode, Blt, names,
  reconnects, a UART window); "device-release" only the ROM, the console and
  the UART window, for the RELEASE ROM. "keys" tries to change Secure
  Boot's db from outside SMM, straight through the flash and through
  SetVariable without a valid signature, and checks that db stays as it
  was. With "snap", each snapshot waits for a key from the host that
  captures the screen. "pressure" leaves all memory below 4 GiB but 384 MiB
  allocated and returns (scripts/roads/qemu-os.sh).

  Prints one "PASS: road: ..." or "FAIL: road: ..." line per check and ends
  with "ROAD-END <passed> passed, <failed> failed".

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "RoadCheck.h"

extern "C" {
#include <Protocol/ShellParameters.h>
}

namespace {

enum ROAD_RUN { RoadPlatform, RoadDevice, RoadDeviceRelease, RoadKeys, RoadPressure };

/// What the pressure run leaves free below 4 GiB: room for GRUB, Linux and its initrd.
constexpr UINTN PRESSURE_KEEP_MIB = 384;

/// The shell's arguments: the run, "snap", and the store's address of "keys".
BOOLEAN
ReadArguments (EFI_HANDLE ImageHandle, ROAD_RUN *Run, BOOLEAN *Snap, EFI_PHYSICAL_ADDRESS *StoreBase)
{
  EFI_SHELL_PARAMETERS_PROTOCOL *Parameters;

  *Run       = RoadPlatform;
  *Snap      = FALSE;
  *StoreBase = 0;
  if (EFI_ERROR (
        gBS->HandleProtocol (ImageHandle, &gEfiShellParametersProtocolGuid, reinterpret_cast<VOID **> (&Parameters))
      )) {
    return TRUE;
  }

  UINTN Index;
  for (Index = 1; Index < Parameters->Argc; Index++) {
    if (StrCmp (Parameters->Argv[Index], Ucs2 (u"device")) == 0) {
      *Run = RoadDevice;
    } else if (StrCmp (Parameters->Argv[Index], Ucs2 (u"device-release")) == 0) {
      *Run = RoadDeviceRelease;
    } else if (StrCmp (Parameters->Argv[Index], Ucs2 (u"pressure")) == 0) {
      *Run = RoadPressure;
    } else if (StrCmp (Parameters->Argv[Index], Ucs2 (u"snap")) == 0) {
      *Snap = TRUE;
    } else if ((StrCmp (Parameters->Argv[Index], Ucs2 (u"keys")) == 0) && (Index + 1 < Parameters->Argc)) {
      *Run = RoadKeys;
      Index++;
      if (EFI_ERROR (StrHexToUint64S (Parameters->Argv[Index], nullptr, StoreBase)) || (*StoreBase == 0)) {
        break;
      }
    } else if (StrCmp (Parameters->Argv[Index], Ucs2 (u"platform")) != 0) {
      break;
    }
  }

  if ((Index < Parameters->Argc) || ((*Run == RoadKeys) && (*StoreBase == 0))) {
    AsciiPrint ("usage: TavrixRoad.efi platform|device|device-release [snap]\n");
    AsciiPrint ("       TavrixRoad.efi keys <store address>\n");
    AsciiPrint ("       TavrixRoad.efi pressure\n");
    return FALSE;
  }

  return TRUE;
}

/// The reference platform: what the boot left, then TavrixGopDxe stopped and
/// started again through the firmware's own connect logic, its GOP, and
/// reconnect cycles with the real console. (The early part of the road,
/// before any GOP, is the boot's own: the platform script reads it from the
/// debug log, the aperture and the card's screen.)
VOID
WalkPlatformRoad (ROAD &Road)
{
  if (!StopGopDriver (Road)) {
    return;
  }

  CheckGopStart (Road);
  CheckModesAndBlt (Road);
  CheckReconnectCycles (Road);
}

/// The GOP road on the virtual device: everything through the firmware's
/// own PCI I/O, the driver loaded from the card's ROM.
VOID
WalkDeviceRoad (ROAD &Road, BOOLEAN Release)
{
  CheckDriverFromRom (Road);
  if (!Release) {
    CheckDeviceModes (Road);
    CheckReconnectCycles (Road);
  }

  CheckUartWindow (Road);
}

} // namespace

extern "C" EFI_STATUS EFIAPI
RoadCheckMain (IN EFI_HANDLE ImageHandle, IN EFI_SYSTEM_TABLE *SystemTable)
{
  ROAD_RUN             Run;
  BOOLEAN              Snap;
  EFI_PHYSICAL_ADDRESS StoreBase;

  if (!ReadArguments (ImageHandle, &Run, &Snap, &StoreBase)) {
    return EFI_INVALID_PARAMETER;
  }

  if (Run == RoadPressure) {
    LeaveMemoryPressure (PRESSURE_KEEP_MIB);
    return EFI_SUCCESS;
  }

  ROAD Road             = {};
  Road.ImageHandle      = ImageHandle;
  Road.WaitForSnapshots = Snap;

  static const CHAR8 *const Names[] = { "platform", "device", "device-release", "keys" };
  AsciiPrint ("ROAD-BEGIN %a\n", Names[Run]);
  if (Run == RoadKeys) {
    CheckSecureBootKeys (StoreBase);
  } else if ((Run == RoadDevice) || (Run == RoadDeviceRelease)) {
    if (FindDevice (Road)) {
      WalkDeviceRoad (Road, Run == RoadDeviceRelease);
    }
  } else if (CheckPlatform (Road)) {
    WalkPlatformRoad (Road);
  }

  AsciiPrint ("ROAD-END %u passed, %u failed\n", (UINT32)PassedChecks (), (UINT32)FailedChecks ());
  return (FailedChecks () == 0) ? EFI_SUCCESS : EFI_ABORTED;
}
