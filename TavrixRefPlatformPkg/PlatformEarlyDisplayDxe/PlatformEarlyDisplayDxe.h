/** @file
  The reference platform's early display: declarations shared by the
  module's files.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef PLATFORM_EARLY_DISPLAY_DXE_H_
#define PLATFORM_EARLY_DISPLAY_DXE_H_

#include <PiDxe.h>
#include <Guid/EarlyVideoInfoHob.h>
#include <Protocol/DevicePath.h>
#include <Protocol/EarlyVideoDisplay.h>
#include <Protocol/GraphicsOutput.h>
#include <Protocol/PciIo.h>
#include <Protocol/PlatformEarlyDisplay.h>

/// Milestones of the boot that the progress line shows.
typedef enum { ProgressDxeDrivers, ProgressEndOfDxe, ProgressGraphicsOutput, ProgressCount } EARLY_PROGRESS;

//
// The two display protocols and the callbacks they keep (DisplayProtocols.c).
//
EFI_STATUS
InstallDisplayProtocols (VOID);

/// The graphics protocol and what it keeps: the platform draws through
/// Observed, Prelumen's table with SetBank counted and logged on its way to
/// Prelumen's (NULL entries until registration).
extern PLATFORM_GRAPHICS_DISPLAY  mGraphicsDisplay;

/// The text protocol and Prelumen's text callback (NULL until registration).
extern PLATFORM_TEXT_DISPLAY  mTextDisplay;

//
// What the platform shows before any console (EarlyPicture.c).
//

/// The display-information HOB's data, or NULL without a whole one.
CONST EARLY_VIDEO_INFO *EarlyFrame (VOID);

VOID DrawEarlyPicture (VOID);

EFI_STATUS
DrawNameAndLogo (IN CONST EARLY_VIDEO_INFO *Info);

VOID HoldPicture (IN CONST CHAR8 *What);

VOID PrintEarlyText (VOID);

VOID ShowProgress (IN EARLY_PROGRESS Progress);

//
// The picture again, through the display driver's GOP (GopArrival.c).
//
EFI_STATUS
WatchForGraphicsOutput (VOID);

/**
  The display controller's first GOP (on a handle whose device path leads to
  the controller), with a linear frame buffer if LinearOnly; NULL if none.
**/
EFI_GRAPHICS_OUTPUT_PROTOCOL *
FindGraphicsOutput (IN BOOLEAN LinearOnly);

//
// The fixed frame aperture, turned off once nothing needs it (ApertureControl.c).
//
EFI_STATUS
WatchForDisplayController (VOID);

VOID TurnApertureOff (IN CONST CHAR8 *Reason);

/// Whether PciIo is the display controller's (its vendor and device ID).
BOOLEAN
IsDisplayController (IN EFI_PCI_IO_PROTOCOL *PciIo);

/// Whether the nearest handle with PCI I/O on DevicePath is the display controller's.
BOOLEAN
LeadsToDisplayController (IN EFI_DEVICE_PATH_PROTOCOL *DevicePath);

//
// Prelumen's status codes on the serial port (StatusCodeListener.c).
//
EFI_STATUS
RegisterStatusCodeListener (VOID);

VOID UnregisterStatusCodeListener (VOID);

//
// Prelumen's debug level (DebugLevelDefault.c).
//
VOID SetDebugLevelDefault (VOID);

#endif
