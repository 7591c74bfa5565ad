/** @file
  The early video driver on the road, on the reference platform and the
  virtual device: a second Prelumen, started by the road with the controller
  in its early state (EarlyState.cpp), its drawing into the controller's
  aperture with bank switches before a GOP exists, through the platform's
  display protocol, its drawing into the GOP's frame buffer afterwards, and
  its debug level. Its text mode and its status codes on the serial log are
  checked in the road's other boots (scripts/qemu-platform.sh).

  What the device shows and records (the screen, the bank registers) is
  judged by the host from QEMU's screendumps and the device's properties;
  each snapshot line carries what the host should find.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "RoadCheck.h"

extern "C" {
#include <Library/IoLib.h>
#include <Library/PrintLib.h>
#include <Guid/DebugMask.h>
#include <TavrixDisplayCore.h>
}

namespace {

constexpr UINT32 kPitch      = 800 * 4; // the HOB's frame: 800 pixels a row
constexpr UINT32 kForeground = 0x00FFD040;
constexpr UINT32 kBackground = 0x00183060;
constexpr UINT32 kCellWidth  = 8;
constexpr UINT32 kCellHeight = 16;

/// Rows of four glyphs of the standard 8 x 16 font, the string "A0ag".
constexpr CHAR8 kGlyphString[]    = "A0ag";
constexpr UINT8 kGlyphRows[4][16] = {
  { 0x00, 0x00, 0x10, 0x38, 0x6C, 0xC6, 0xC6, 0xFE, 0xC6, 0xC6, 0xC6, 0xC6, 0x00, 0x00, 0x00, 0x00 },
  { 0x00, 0x00, 0x7C, 0xC6, 0xC6, 0xCE, 0xDE, 0xF6, 0xE6, 0xC6, 0xC6, 0x7C, 0x00, 0x00, 0x00, 0x00 },
  { 0x00, 0x00, 0x00, 0x00, 0x00, 0x78, 0x0C, 0x7C, 0xCC, 0xCC, 0xCC, 0x76, 0x00, 0x00, 0x00, 0x00 },
  { 0x00, 0x00, 0x00, 0x00, 0x00, 0x76, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0x7C, 0x0C, 0xCC, 0x78, 0x00 },
};

inline UINT32
CellOffset (UINT32 Column, UINT32 Row)
{
  return (Column + Row * 800 * 2) * 32;
}

PLATFORM_GRAPHICS_DISPLAY &
Graphics (ROAD &Road)
{
  return *Road.Graphics;
}

/// Pixels of the four cells that differ from the glyphs drawn in fg/bg.
UINTN
GlyphMismatches (EFI_PHYSICAL_ADDRESS Base, UINT32 Offset)
{
  UINTN Mismatches = 0;

  for (UINT32 Glyph = 0; Glyph < 4; Glyph++) {
    for (UINT32 Row = 0; Row < kCellHeight; Row++) {
      for (UINT32 Column = 0; Column < kCellWidth; Column++) {
        const BOOLEAN Set      = (kGlyphRows[Glyph][Row] & (0x80 >> Column)) != 0;
        const UINT32  Expected = Set ? kForeground : kBackground;
        if (*FramePixel (Base, Offset + Glyph * 32 + Row * kPitch + Column * 4) != Expected) {
          Mismatches++;
        }
      }
    }
  }

  return Mismatches;
}

/// The four cells' pixels, row by row, into Cells (4 x 8 x 16 pixels).
VOID
ReadCells (EFI_PHYSICAL_ADDRESS Base, UINT32 Offset, UINT32 *Cells)
{
  for (UINT32 Row = 0; Row < kCellHeight; Row++) {
    for (UINT32 Column = 0; Column < 4 * kCellWidth; Column++) {
      *Cells++ = *FramePixel (Base, Offset + Row * kPitch + Column * 4);
    }
  }
}

/**
  The banks that drawing four glyphs at Offset must select, in order, given
  the bank selected before: a switch whenever a pixel lies in another 64 KiB
  bank than the one before it.
**/
UINTN
ExpectedBanks (UINT32 Offset, UINT32 Current, UINT32 *Banks, UINTN Capacity)
{
  UINTN Count = 0;

  for (UINT32 Glyph = 0; Glyph < 4; Glyph++) {
    for (UINT32 Row = 0; Row < kCellHeight; Row++) {
      for (UINT32 Column = 0; Column < kCellWidth; Column++) {
        const UINT32 Bank = (Offset + Glyph * 32 + Row * kPitch + Column * 4) >> 16;
        if (Bank != Current) {
          if (Count < Capacity) {
            Banks[Count] = Bank;
          }

          Count++;
          Current = Bank;
        }
      }
    }
  }

  return Count;
}

EFI_STATUS
DrawGlyphString (ROAD &Road, UINT32 Column, UINT32 Row)
{
  PLATFORM_GRAPHICS_DISPLAY &Display = Graphics (Road);

  return Display.Observed.DrawString (
    &Display.Observed, (UINT16)Column, (UINT16)Row, kForeground, kBackground, const_cast<CHAR8 *> (kGlyphString)
  );
}

/// The string drawn into the aperture: its banks, its pixels, the HOB.
VOID
CheckStringWithBankSwitches (ROAD &Road)
{
  PLATFORM_GRAPHICS_DISPLAY &Display = Graphics (Road);
  const UINT32               Offset  = CellOffset (2, 30); // 1,536,064: banks 23 and 24
  UINT32                     Expected[128];
  const UINTN                ExpectedCount = ExpectedBanks (Offset, Road.VideoInfo->CurrentBank, Expected, 128);
  const UINT64               Before        = Display.BankSwitches;

  EFI_STATUS Status = DrawGlyphString (Road, 2, 30);
  Check ("DrawString before the GOP returns success", Status == EFI_SUCCESS, "%r", Status);

  const UINT64 Switches = Display.BankSwitches - Before;
  UINTN        Differ   = (Switches == ExpectedCount) ? 0 : 1;
  for (UINTN Index = 0; Differ == 0 && Index < ExpectedCount && Index < 128; Index++) {
    Differ = (Display.BankLog[(Before + Index) % PLATFORM_BANK_LOG_SIZE] != Expected[Index]) ? 1 : 0;
  }

  Check (
    "DrawString switches 64 KiB banks exactly where the glyph pixels cross them", Differ == 0 && ExpectedCount > 0,
    "%lu switches, %u expected", Switches, (UINT32)ExpectedCount
  );
  Check (
    "HOB CurrentBank follows the last bank selected",
    Road.VideoInfo->CurrentBank == ((Offset + 3 * 32 + 15 * kPitch + 7 * 4) >> 16), "CurrentBank %u",
    Road.VideoInfo->CurrentBank
  );

  const UINTN Mismatches = GlyphMismatches (TAVRIX_APERTURE_BASE, Offset);
  Check (
    "glyphs 'A0ag' drawn into the aperture pixel for pixel", Mismatches == 0, "%u of 512 pixels differ",
    (UINT32)Mismatches
  );
  const UINTN InFrame = GlyphMismatches (Road.FrameBufferBase, Offset);
  Check (
    "the aperture is the controller's frame buffer: the glyphs read back through BAR 0 at the same offset",
    InFrame == 0 && Road.FrameBufferBase != TAVRIX_APERTURE_BASE, "%u of 512 pixels differ at BAR 0 0x%lx",
    (UINT32)InFrame, Road.FrameBufferBase
  );
}

/// SetBank reaches the controller's legacy VGA ports: its CRT controller
/// index 0xA5 holds the high nibble twice, and the HOB keeps the bank.
VOID
CheckSetBankPorts (ROAD &Road)
{
  PLATFORM_GRAPHICS_DISPLAY &Display = Graphics (Road);
  EFI_STATUS                 Status  = Display.Observed.SetBank (&Display.Observed, 0x123);

  IoWrite8 (TAVRIX_PORT_CRT_INDEX, TAVRIX_CRT_EXT_BANK_HIGH);
  const UINT8 High = IoRead8 (TAVRIX_PORT_CRT_DATA);
  Check (
    "SetBank(0x123) writes CRTC 0xA5 <- 0x11 and keeps bank 0x123 in the HOB",
    Status == EFI_SUCCESS && High == 0x11 && Road.VideoInfo->CurrentBank == 0x123,
    "%r, CRTC 0xA5 = 0x%02x, CurrentBank 0x%x", Status, High, Road.VideoInfo->CurrentBank
  );
  Display.Observed.SetBank (&Display.Observed, 0);
}

/// A 32-bit BGRA test picture: a colour ramp, opaque unless Alpha says.
UINT8 *
MakeImage (UINT32 Width, UINT32 Height, UINT8 Alpha)
{
  auto *Image = static_cast<UINT8 *> (AllocatePool (Width * Height * 4));

  for (UINT32 Y = 0; Image != nullptr && Y < Height; Y++) {
    for (UINT32 X = 0; X < Width; X++) {
      UINT8 *Pixel = Image + (Y * Width + X) * 4;
      Pixel[0]     = (UINT8)(255 - X * 255 / Width);
      Pixel[1]     = (UINT8)(Y * 255 / Height);
      Pixel[2]     = (UINT8)(X * 255 / Width);
      Pixel[3]     = Alpha;
    }
  }

  return Image;
}

/// Draws the test picture at (X, Y) of the HOB's frame; counts pixels that
/// did not land as B, G, R with a zero reserved byte.
UINTN
DrawPicture (ROAD &Road, EFI_PHYSICAL_ADDRESS Base, UINT32 X, UINT32 Y, EFI_STATUS *Status)
{
  constexpr UINT32           Width   = 96;
  constexpr UINT32           Height  = 48;
  PLATFORM_GRAPHICS_DISPLAY &Display = Graphics (Road);
  UINT8                     *Image   = MakeImage (Width, Height, 255);

  if (Image == nullptr) {
    *Status = EFI_OUT_OF_RESOURCES;
    return Width * Height;
  }

  const UINT32 Offset = Y * kPitch + X * 4;
  *Status             = Display.Observed.DrawImage (&Display.Observed, Offset, kPitch, Image, Width, Height, 32, 0);

  UINTN Wrong = 0;
  for (UINT32 Row = 0; Row < Height; Row++) {
    for (UINT32 Column = 0; Column < Width; Column++) {
      const UINT8 *Source   = Image + (Row * Width + Column) * 4;
      const UINT32 Expected = Source[0] | (UINT32)Source[1] << 8 | (UINT32)Source[2] << 16;
      Wrong += (*FramePixel (Base, Offset + Row * kPitch + Column * 4) != Expected) ? 1 : 0;
    }
  }

  FreePool (Image);
  return Wrong;
}

/// ShadowOnly stores beneath; a half-transparent image then blends with it.
VOID
CheckAlphaBlend (ROAD &Road)
{
  PLATFORM_GRAPHICS_DISPLAY &Display = Graphics (Road);
  const UINT32               Offset  = 40 * kPitch + 700 * 4;
  UINT8                      Red[4 * 4 * 4];
  UINT8                      Half[4 * 4 * 4];

  for (UINTN Index = 0; Index < 16; Index++) {
    Red[Index * 4 + 0]  = 0;
    Red[Index * 4 + 1]  = 0;
    Red[Index * 4 + 2]  = 255;
    Red[Index * 4 + 3]  = 255;
    Half[Index * 4 + 0] = 200;
    Half[Index * 4 + 1] = 100;
    Half[Index * 4 + 2] = 0;
    Half[Index * 4 + 3] = 128;
  }

  const UINT32 Before  = *FramePixel (TAVRIX_APERTURE_BASE, Offset);
  EFI_STATUS   Status1 = Display.Observed.DrawImage (&Display.Observed, Offset, kPitch, Red, 4, 4, 32, 1);
  const UINT32 Beneath = *FramePixel (TAVRIX_APERTURE_BASE, Offset);
  EFI_STATUS   Status2 = Display.Observed.DrawImage (&Display.Observed, Offset, kPitch, Half, 4, 4, 32, 0);
  const UINT32 Blended = *FramePixel (TAVRIX_APERTURE_BASE, Offset + 3 * kPitch + 3 * 4);

  Check (
    "DrawImage ShadowOnly leaves the frame alone; alpha 128 over red blends to 0x007F3264",
    Status1 == EFI_SUCCESS && Status2 == EFI_SUCCESS && Beneath == Before && Blended == 0x007F3264,
    "%r/%r, frame before 0x%08x after shadow store 0x%08x, blended 0x%08x", Status1, Status2, Before, Beneath, Blended
  );
}

VOID
CheckEnableDrawing (ROAD &Road)
{
  PLATFORM_GRAPHICS_DISPLAY &Display = Graphics (Road);
  const UINT32               Offset  = CellOffset (40, 32);

  UINT32 Before[4 * kCellWidth * kCellHeight];
  UINT32 After[4 * kCellWidth * kCellHeight];

  // The frame holds whatever was shown before the road: what counts is
  // that nothing changes.
  ReadCells (TAVRIX_APERTURE_BASE, Offset, Before);
  EFI_STATUS Off  = Display.Observed.EnableDrawing (&Display.Observed, 0);
  EFI_STATUS Draw = DrawGlyphString (Road, 40, 32);
  ReadCells (TAVRIX_APERTURE_BASE, Offset, After);
  const BOOLEAN Unchanged = CompareMem (Before, After, sizeof (Before)) == 0;
  EFI_STATUS    Invalid   = Display.Observed.EnableDrawing (&Display.Observed, 2);
  EFI_STATUS    On        = Display.Observed.EnableDrawing (&Display.Observed, 1);

  Check (
    "EnableDrawing(0) silences DrawString; EnableDrawing(2) is refused; (1) turns it back on",
    Off == EFI_SUCCESS && Draw == EFI_SUCCESS && Unchanged && Invalid == EFI_INVALID_PARAMETER && On == EFI_SUCCESS,
    "%r, draw %r, cells %a, %r, %r", Off, Draw, Unchanged ? "unchanged" : "changed", Invalid, On
  );
}

/// A caption in the driver's own font.
VOID
DrawCaption (ROAD &Road, UINT32 Column, UINT32 Row, CONST CHAR8 *Text)
{
  PLATFORM_GRAPHICS_DISPLAY &Display = Graphics (Road);

  Display.Observed.DrawString (
    &Display.Observed, (UINT16)Column, (UINT16)Row, 0x00FFFFFF, 0x00202020, const_cast<CHAR8 *> (Text)
  );
}

/**
  A screendump of the device, with the size the screen must have and what
  the device's bank registers must hold: the bank last selected and one
  selection (a write of port 0x3CD) for every SetBank the display protocol
  passed on since the road put the controller in its early state.
**/
VOID
DeviceSnapshot (ROAD &Road, CONST CHAR8 *Name, UINT32 Width, UINT32 Height)
{
  CHAR8 What[96];

  AsciiSPrint (
    What, sizeof (What), "device %ux%u bank=%u added=%lu", Width, Height, Road.VideoInfo->CurrentBank,
    Road.Graphics->BankSwitches - Road.BankSwitchesBefore
  );
  Snapshot (Road, Name, What);
}

} // namespace

/**
  Starts a second early video driver from its file, in graphics mode (the
  platform's PCD database), with the controller in its early state, and
  checks what it registered and published.
**/
VOID
CheckEarlyVideoStart (IN ROAD &Road)
{
  const UINT64 Switches = Graphics (Road).BankSwitches;
  EFI_STATUS   Status   = StartDriverFile (Road, u"Prelumen.efi", &Road.EarlyVideoImage);

  Check ("Prelumen loads and starts", Status == EFI_SUCCESS, "%r", Status);
  if (EFI_ERROR (Status)) {
    Road.EarlyVideoImage = nullptr;
    return;
  }

  PLATFORM_GRAPHICS_DISPLAY      &Display = Graphics (Road);
  const EARLY_GRAPHICS_CALLBACKS &Table   = Display.Callbacks;
  Check (
    "Prelumen registers its four graphics callbacks with the platform's graphics display protocol, "
    "which draws nothing for a second registration",
    Display.Registrations == 2 && Table.DrawString != nullptr && Table.DrawImage != nullptr &&
      Table.SetBank != nullptr && Table.EnableDrawing != nullptr && Road.Text->Registrations == 0 &&
      Display.BankSwitches == Switches,
    "%u graphics, %u text registrations, %lu bank switches", Display.Registrations, Road.Text->Registrations,
    Display.BankSwitches - Switches
  );

  EFI_DEBUG_MASK_PROTOCOL *DebugMask = nullptr;
  UINTN                    Level     = 0;
  Status =
    gBS->HandleProtocol (Road.EarlyVideoImage, &gEfiDebugMaskProtocolGuid, reinterpret_cast<VOID **> (&DebugMask));
  if (!EFI_ERROR (Status)) {
    Status = DebugMask->GetDebugMask (DebugMask, &Level);
  }

  Check (
    "Prelumen's debug level follows EFIDebug and DebugMessageConfig (debug mask protocol)",
    !EFI_ERROR (Status) && Level == Road.ExpectedDebugLevel, "%r, level 0x%lx, expected 0x%x", Status, (UINT64)Level,
    Road.ExpectedDebugLevel
  );

  LIST_ENTRY *CpList = nullptr;
  Status             = gBS->LocateProtocol (&gQv3CpListProtocolGuid, nullptr, reinterpret_cast<VOID **> (&CpList));
  Check (
    "checkpoint list published as an empty list head",
    !EFI_ERROR (Status) && CpList->ForwardLink == CpList && CpList->BackLink == CpList, "%r", Status
  );
}

/// The early video driver draws into the aperture while no GOP exists.
VOID
CheckDrawingBeforeGop (IN ROAD &Road)
{
  if ((Road.EarlyVideoImage == nullptr) || (Graphics (Road).Registrations < 2)) {
    Check ("drawing before the GOP", FALSE, "the road's Prelumen registered no graphics callbacks");
    return;
  }

  CheckStringWithBankSwitches (Road);
  CheckSetBankPorts (Road);

  EFI_STATUS  Status;
  const UINTN Wrong = DrawPicture (Road, TAVRIX_APERTURE_BASE, 560, 60, &Status);
  Check (
    "DrawImage lands an opaque picture in the aperture unchanged", Status == EFI_SUCCESS && Wrong == 0,
    "%r, %u pixels differ", Status, (UINT32)Wrong
  );
  CheckAlphaBlend (Road);
  CheckEnableDrawing (Road);

  DrawCaption (Road, 2, 1, "Prelumen, before any GOP: drawn into the aperture at 0x92000000");
  DrawCaption (Road, 2, 2, "through 64 KiB banks selected on the legacy VGA ports");
  DeviceSnapshot (Road, "aperture", 800, 600);
}

/// After the GOP's arrival the early video driver draws into its frame
/// buffer, without bank switches; the aperture is no longer touched.
VOID
CheckDrawingAfterGop (IN ROAD &Road)
{
  if ((Road.Gop == nullptr) || (Graphics (Road).Registrations == 0)) {
    Check ("drawing after the GOP", FALSE, "no GOP or no graphics callbacks");
    return;
  }

  const EFI_PHYSICAL_ADDRESS Base     = Road.Gop->Mode->FrameBufferBase;
  const UINT32               Offset   = CellOffset (2, 33);
  const UINT64               Switches = Road.Graphics->BankSwitches;

  EFI_STATUS Status = DrawGlyphString (Road, 2, 33);
  Check (
    "after the GOP, DrawString lands in the GOP's frame buffer without bank switches",
    Status == EFI_SUCCESS && GlyphMismatches (Base, Offset) == 0 && Road.Graphics->BankSwitches == Switches,
    "%r, %u pixels differ, %lu bank switches", Status, (UINT32)GlyphMismatches (Base, Offset),
    Road.Graphics->BankSwitches - Switches
  );

  const UINTN Wrong = DrawPicture (Road, Base, 680, 520, &Status);
  Check (
    "after the GOP, DrawImage lands in the GOP's frame buffer", Status == EFI_SUCCESS && Wrong == 0,
    "%r, %u pixels differ", Status, (UINT32)Wrong
  );
  DrawCaption (Road, 10, 35, "Prelumen, after the GOP: drawn into TavrixGopDxe's frame buffer");
  DeviceSnapshot (
    Road, "console", Road.Gop->Mode->Info->HorizontalResolution, Road.Gop->Mode->Info->VerticalResolution
  );
}
