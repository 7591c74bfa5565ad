/** @file
  The road application: walks the road of one event through both display
  drivers in real firmware, printing one PASS or FAIL line per check.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef ROAD_CHECK_H_
#define ROAD_CHECK_H_

extern "C" {
#include <PiDxe.h>
#include <Guid/EarlyVideoInfoHob.h>
#include <Protocol/GraphicsOutput.h>
#include <Protocol/PciIo.h>
#include <Protocol/PlatformEarlyDisplay.h>
#include <Library/BaseLib.h>
#include <Library/BaseMemoryLib.h>
#include <Library/DebugLib.h>
#include <Library/MemoryAllocationLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiLib.h>
}

#include <IndustryStandard/TavrixDisplayController.h>

/// UCS-2 literals: u"..." is char16_t in C++, CHAR16 in EDK II.
inline CHAR16 *
Ucs2 (const char16_t *String)
{
  return const_cast<CHAR16 *> (reinterpret_cast<const CHAR16 *> (String));
}

/// What the road has found so far; filled stage by stage.
struct ROAD {
  EFI_HANDLE                    ImageHandle;
  BOOLEAN                       WaitForSnapshots; ///< a host captures the screen at each snapshot
  PLATFORM_GRAPHICS_DISPLAY    *Graphics;         ///< the reference platform's display protocols;
  PLATFORM_TEXT_DISPLAY        *Text;             ///< NULL on the option-ROM road
  EARLY_VIDEO_INFO             *VideoInfo;        ///< the display-information HOB's data
  EFI_HANDLE                    ControllerHandle; ///< the 0x19E5:0x1711 controller's handle
  EFI_PHYSICAL_ADDRESS          FrameBufferBase;  ///< where BAR 0 lies
  UINT64                        FrameBufferSize;  ///< BAR 0's length
  EFI_HANDLE                    GopDriverImage;   ///< the firmware's TavrixGopDxe
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop;              ///< GOP on the controller handle
};

//
// Reporting (CheckReport.cpp).
//
BOOLEAN
EFIAPI
Check (IN CONST CHAR8 *Name, IN BOOLEAN Passed, IN CONST CHAR8 *DetailFormat, ...);

VOID EFIAPI Note (IN CONST CHAR8 *Format, ...);

VOID Snapshot (IN ROAD &Road, IN CONST CHAR8 *Name, IN CONST CHAR8 *What);

/// While TRUE, report lines bypass the console: when the firmware console
/// draws on the GOP under test, its scrolling would move the pictures.
VOID ReportToSerialOnly (IN BOOLEAN SerialOnly);

UINTN
FailedChecks (VOID);

UINTN
PassedChecks (VOID);

//
// Stages of the road.
//
BOOLEAN
CheckPlatform (IN ROAD &Road);

/**
  Takes every page below 4 GiB that can be had, as a loader with a large
  initrd does (each failed allocation lets the DXE core promote untested
  memory), gives KeepMiB back and returns with the rest still allocated, for
  the boot loader started next.
**/
VOID LeaveMemoryPressure (IN UINTN KeepMiB);

/// DisconnectController stops TavrixGopDxe; FALSE when it did not.
BOOLEAN
StopGopDriver (IN ROAD &Road);

VOID CheckGopStart (IN ROAD &Road);

VOID CheckModesAndBlt (IN ROAD &Road);

VOID CheckReconnectCycles (IN ROAD &Road);

//
// The controller as the firmware enumerated it, and the road on the card
// with the driver from its option ROM (DeviceChecks.cpp).
//
BOOLEAN
FindDevice (IN ROAD &Road);

/// The image that holds the controller BY_DRIVER, or NULL.
EFI_HANDLE
ManagingDriver (IN ROAD &Road);

VOID CheckDriverFromRom (IN ROAD &Road);

VOID CheckDeviceModes (IN ROAD &Road);

VOID CheckUartWindow (IN ROAD &Road);

//
// Secure Boot's db out of reach of code outside SMM (SecureBootKeyChecks.cpp):
// StoreBase is where the variable store's flash is mapped.
//
VOID CheckSecureBootKeys (IN EFI_PHYSICAL_ADDRESS StoreBase);

//
// GOP helpers (GraphicsOutputChecks.cpp).
//
EFI_HANDLE
FindOutputChild (IN ROAD &Road, OUT UINTN *Count);

BOOLEAN
IsChildOfController (IN ROAD &Road, IN EFI_HANDLE Child);

EFI_GRAPHICS_OUTPUT_PROTOCOL *ControllerGop (IN ROAD &Road);

VOID CheckBlt (IN ROAD &Road);

#endif
