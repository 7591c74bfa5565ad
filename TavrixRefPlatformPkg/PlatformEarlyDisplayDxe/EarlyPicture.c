/** @file
  What the reference platform shows before any console exists, through
  Prelumen's callbacks.

  Graphics mode: the platform's name in Prelumen's 8 x 16 font, a logo drawn
  as an image with soft (alpha) edges, and a progress line with a caption
  that moves on at the end of DXE. Once the display driver's GOP exists the
  whole picture is drawn again, by the same calls: Prelumen then writes into
  the GOP's frame buffer instead of the banked aperture. Text mode: the name
  and the progress caption in VGA text cells.

  Nothing is clipped by Prelumen, so every position is checked here against
  the frame of the display-information HOB (or the 80 x 25 text screen)
  before drawing. Prelumen takes frame byte offsets and row steps in 32
  bits, so a frame larger than 4 GiB is not drawn into at all.

  Every text print re-routes legacy VGA through the bridge and writes the
  controller's BAR 0 (Prelumen's text output does so on each call): once the
  PCI bus driver has assigned the controller's resources, a print would move
  them away from where the GOP and the PCI bus driver expect them. Text is
  therefore printed only before PCI enumeration, whatever the order in
  which a board's boot reaches its milestones.

  The display-information HOB is the early video set-up's word that there
  is something to show the picture on: without it (no controller found, or
  in graphics mode no aperture that may decode) nothing is drawn or printed,
  and the log says so, rather than report a drawing into an aperture that is
  off, or text in VGA memory that no controller shows, as done.

  The board supplies the logo and the text lines (PcdEarlyDisplayNameLine,
  PcdEarlyDisplayDeviceLine), and, like a splash-screen delay, how long the
  picture is held before the boot goes on (at most 10 minutes; the board
  library's choice, none by default) and whether something may end a hold
  early (the reference board: a byte received on its second serial port,
  with which a test harness that has taken its snapshot of the held picture
  lets the boot go on, so that no snapshot depends on how fast the host runs
  the guest).

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "PlatformEarlyDisplayDxe.h"

#include <Guid/EarlyVideoInfoHob.h>
#include <Library/BaseLib.h>
#include <Library/DebugLib.h>
#include <Library/HobLib.h>
#include <Library/MemoryAllocationLib.h>
#include <Library/EarlyDisplayBoardLib.h>
#include <Library/PcdLib.h>
#include <Library/PerformanceLib.h>
#include <Library/SafeIntLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Protocol/PciEnumerationComplete.h>

#define TEXT_COLUMNS  80
#define TEXT_ROWS     25
#define TEXT_MEMORY   0xB8000

#define FOREGROUND  0x00FFFFFF
#define BACKGROUND  0x00000000
#define BAR_HEIGHT  8
#define BAR_COLOUR  0x0040C0FF

#define HOLD_MAX_MS   600000

//
// Progress captions, padded to one length so that each covers the last.
//
STATIC CONST CHAR8  *mProgressCaption[ProgressCount] = {
  "DXE: starting the drivers                        ",
  "End of DXE: the boot manager connects the display",
  "Display driver started: drawing through its GOP  ",
};

CONST EARLY_VIDEO_INFO *
EarlyFrame (
  VOID
  )
{
  EFI_HOB_GUID_TYPE       *Hob;
  CONST EARLY_VIDEO_INFO  *Info;
  UINT64                  Bytes;

  Hob = GetFirstGuidHob (&gEarlyVideoInfoHobGuid);
  if ((Hob == NULL) || (GET_GUID_HOB_DATA_SIZE (Hob) < sizeof (EARLY_VIDEO_INFO))) {
    return NULL;
  }

  //
  // Width x height x 4 in 64 bits wraps for a large enough frame (2^31 x
  // 2^31 pixels makes exactly 2^64 bytes, that is 0): multiply with a check.
  //
  Info = GET_GUID_HOB_DATA (Hob);
  if (RETURN_ERROR (SafeUint64Mult ((UINT64)Info->FrameWidth * Info->FrameHeight, sizeof (UINT32), &Bytes)) ||
      (Bytes > MAX_UINT32))
  {
    DEBUG ((
      DEBUG_WARN,
      "PlatformEarlyDisplayDxe: the %u x %u frame is larger than 4 GiB, nothing drawn into it\n",
      Info->FrameWidth,
      Info->FrameHeight
      ));
    return NULL;
  }

  return Info;
}

/**
  Whether a text print may still route legacy VGA: only until the PCI bus
  driver has enumerated the buses and assigned the controller's resources.
**/
STATIC
BOOLEAN
TextPrintAllowed (
  VOID
  )
{
  VOID  *Enumerated;

  return EFI_ERROR (gBS->LocateProtocol (&gEfiPciEnumerationCompleteProtocolGuid, NULL, &Enumerated));
}

/**
  Draws an image of Width x Height 32-bit pixels with its top-left corner at
  pixel (X, Y), if it fits the frame.
**/
STATIC
EFI_STATUS
DrawPicture (
  IN CONST EARLY_VIDEO_INFO  *Info,
  IN UINT32                  X,
  IN UINT32                  Y,
  IN UINT32                  *Pixels,
  IN UINT32                  Width,
  IN UINT32                  Height
  )
{
  if ((X > Info->FrameWidth) || (Width > Info->FrameWidth - X) ||
      (Y > Info->FrameHeight) || (Height > Info->FrameHeight - Y))
  {
    return EFI_BAD_BUFFER_SIZE;
  }

  return mGraphicsDisplay.Observed.DrawImage (
                     &mGraphicsDisplay.Observed,
                     (Y * Info->FrameWidth + X) * 4,
                     Info->FrameWidth * 4,
                     (UINT8 *)Pixels,
                     Width,
                     Height,
                     32,
                     0
                     );
}

/**
  Draws a string at character cell (Column, Row) if all of it fits the frame.
**/
STATIC
EFI_STATUS
DrawCaption (
  IN CONST EARLY_VIDEO_INFO  *Info,
  IN UINT32                  Column,
  IN UINT32                  Row,
  IN CONST CHAR8             *Text
  )
{
  if (((Column + AsciiStrLen (Text)) * 8 > Info->FrameWidth) || ((Row + 1) * 16 > Info->FrameHeight)) {
    return EFI_BAD_BUFFER_SIZE;
  }

  return mGraphicsDisplay.Observed.DrawString (
                             &mGraphicsDisplay.Observed,
                             (UINT16)Column,
                             (UINT16)Row,
                             FOREGROUND,
                             BACKGROUND,
                             (CHAR8 *)Text
                             );
}

VOID
ShowProgress (
  IN EARLY_PROGRESS  Progress
  )
{
  CONST EARLY_VIDEO_INFO  *Info;
  UINT32                  *Bar;
  UINT32                  BarWidth;
  UINTN                   Index;
  EFI_STATUS              Status;

  if (mTextDisplay.Callbacks.PrintString != NULL) {
    if (GetFirstGuidHob (&gEarlyVideoInfoHobGuid) == NULL) {
      return;
    }

    if (!TextPrintAllowed ()) {
      DEBUG ((DEBUG_INFO, "PlatformEarlyDisplayDxe: progress %u not printed: PCI enumeration is done\n", Progress));
      return;
    }

    Status = mTextDisplay.Callbacks.PrintString (NULL, 2, 3, 0x0E, (CHAR8 *)mProgressCaption[Progress]);
    DEBUG ((DEBUG_INFO, "PlatformEarlyDisplayDxe: progress %u printed: %r\n", Progress, Status));
    return;
  }

  Info = EarlyFrame ();
  if ((mGraphicsDisplay.Observed.DrawImage == NULL) || (Info == NULL) ||
      (Info->FrameWidth < 64) || (Info->FrameHeight < 64))
  {
    return;
  }

  //
  // The frame fits 4 GiB, so the bar's byte size fits UINTN; the width is
  // still worked out in 64 bits, where the step's multiple cannot wrap.
  //
  BarWidth = (UINT32)DivU64x32 (MultU64x32 (Info->FrameWidth - 64, Progress + 1), ProgressCount);
  Bar      = AllocatePool ((UINTN)BarWidth * BAR_HEIGHT * sizeof (UINT32));
  if (Bar == NULL) {
    return;
  }

  for (Index = 0; Index < (UINTN)BarWidth * BAR_HEIGHT; Index++) {
    Bar[Index] = 0xFF000000 | BAR_COLOUR;
  }

  Status = DrawPicture (Info, 32, Info->FrameHeight - 48, Bar, BarWidth, BAR_HEIGHT);
  if (!EFI_ERROR (Status)) {
    Status = DrawCaption (Info, 4, Info->FrameHeight / 16 - 2, mProgressCaption[Progress]);
  }

  FreePool (Bar);
  DEBUG ((
    DEBUG_INFO,
    "PlatformEarlyDisplayDxe: progress %u drawn: %r, %u bank switches so far\n",
    (UINT32)Progress,
    Status,
    (UINT32)mGraphicsDisplay.BankSwitches
    ));
}

/**
  Holds the picture on the screen for the time the board chose, or until
  the board's release comes; What names the picture in the message.
**/
VOID
HoldPicture (
  IN CONST CHAR8  *What
  )
{
  UINT32       Milliseconds;
  UINT32       Waited;
  CONST CHAR8  *Release;

  Milliseconds = MIN (EarlyDisplayBoardHoldMilliseconds (), HOLD_MAX_MS);
  if (Milliseconds == 0) {
    return;
  }

  Release = EarlyDisplayBoardHoldRelease ();
  DEBUG ((
    DEBUG_INFO,
    "PlatformEarlyDisplayDxe: holding %a for %u ms%a%a\n",
    What,
    Milliseconds,
    (Release != NULL) ? " or until " : "",
    (Release != NULL) ? Release : ""
    ));
  for (Waited = 0; Waited < Milliseconds; Waited++) {
    if ((Release != NULL) && EarlyDisplayBoardHoldReleased ()) {
      DEBUG ((DEBUG_INFO, "PlatformEarlyDisplayDxe: %a released after %u ms\n", What, Waited));
      return;
    }

    gBS->Stall (1000);
  }
}

/**
  The board's name line, its device line and its logo, placed in the frame
  of the display-information HOB; a logo that does not fit is left out.
**/
EFI_STATUS
DrawNameAndLogo (
  IN CONST EARLY_VIDEO_INFO  *Info
  )
{
  UINT32      *Logo;
  UINT32      Width;
  UINT32      Height;
  EFI_STATUS  Status;

  Status = DrawCaption (Info, 2, 1, (CONST CHAR8 *)FixedPcdGetPtr (PcdEarlyDisplayNameLine));
  if (!EFI_ERROR (Status)) {
    Status = DrawCaption (Info, 2, 2, (CONST CHAR8 *)FixedPcdGetPtr (PcdEarlyDisplayDeviceLine));
  }

  if (EFI_ERROR (Status)) {
    return Status;
  }

  Status = EarlyDisplayBoardGetLogo (&Logo, &Width, &Height);
  if (Status == EFI_NOT_FOUND) {
    return EFI_SUCCESS;
  }

  if (EFI_ERROR (Status)) {
    return Status;
  }

  //
  // A logo larger than the frame wraps its centred position past the frame,
  // which DrawPicture refuses.
  //
  Status = DrawPicture (Info, (Info->FrameWidth - Width) / 2, (Info->FrameHeight - Height) / 2, Logo, Width, Height);
  FreePool (Logo);
  return Status;
}

VOID
DrawEarlyPicture (
  VOID
  )
{
  CONST EARLY_VIDEO_INFO  *Info;
  EFI_STATUS              Status;

  if (GetFirstGuidHob (&gEarlyVideoInfoHobGuid) == NULL) {
    DEBUG ((
      DEBUG_WARN,
      "PlatformEarlyDisplayDxe: no early picture: no display-information HOB (the early video set-up found no controller, or no aperture that may decode), nothing drawn\n"
      ));
    return;
  }

  Info = EarlyFrame ();
  if (Info == NULL) {
    return;
  }

  //
  // The picture's cost is recorded in builds with performance measurement
  // (the hold that may follow is not part of it).
  //
  PERF_INMODULE_BEGIN ("EarlyPicture");
  Status = DrawNameAndLogo (Info);
  DEBUG ((
    DEBUG_INFO,
    "PlatformEarlyDisplayDxe: name and logo drawn into the %u x %u frame: %r, %u bank switches\n",
    Info->FrameWidth,
    Info->FrameHeight,
    Status,
    (UINT32)mGraphicsDisplay.BankSwitches
    ));
  ShowProgress (ProgressDxeDrivers);
  PERF_INMODULE_END ("EarlyPicture");
  HoldPicture ("the early picture");
}

VOID
PrintEarlyText (
  VOID
  )
{
  CONST volatile UINT8  *Cells;
  CONST CHAR8           *Line;
  UINTN                 Index;
  UINTN                 Matching;
  EFI_STATUS            Status;

  if (!TextPrintAllowed ()) {
    DEBUG ((DEBUG_WARN, "PlatformEarlyDisplayDxe: name not printed: PCI enumeration is done\n"));
    return;
  }

  if (GetFirstGuidHob (&gEarlyVideoInfoHobGuid) == NULL) {
    DEBUG ((
      DEBUG_WARN,
      "PlatformEarlyDisplayDxe: no early text: no display-information HOB (the early video set-up found no controller), nothing printed\n"
      ));
    return;
  }

  Line   = (CONST CHAR8 *)FixedPcdGetPtr (PcdEarlyDisplayNameLine);
  Status = mTextDisplay.Callbacks.PrintString (NULL, 2, 1, 0x1F, (CHAR8 *)Line);

  //
  // Read the cells back: they hold the text only if legacy VGA reached the
  // controller through the bridge.
  //
  Cells    = (CONST volatile UINT8 *)(UINTN)TEXT_MEMORY;
  Matching = 0;
  for (Index = 0; Line[Index] != '\0'; Index++) {
    if ((Cells[(1 * TEXT_COLUMNS + 2 + Index) * 2] == (UINT8)Line[Index]) &&
        (Cells[(1 * TEXT_COLUMNS + 2 + Index) * 2 + 1] == 0x1F))
    {
      Matching++;
    }
  }

  DEBUG ((
    DEBUG_INFO,
    "PlatformEarlyDisplayDxe: name printed: %r, %u of %u text cells read back\n",
    Status,
    (UINT32)Matching,
    (UINT32)AsciiStrLen (Line)
    ));
  ShowProgress (ProgressDxeDrivers);
  HoldPicture ("the early picture");
}
