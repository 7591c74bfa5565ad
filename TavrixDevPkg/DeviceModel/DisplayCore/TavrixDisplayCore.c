/** @file
  The display controller's behaviour (see TavrixDisplayCore.h).

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "TavrixDisplayCore.h"

#include <string.h>

/// Bytes per pixel of each format code; 0 for the reserved code.
static const uint32_t mBytesPerPixel[4] = { 1, 2, 4, 0 };

void
TavrixCoreReset (
  TAVRIX_DISPLAY_CORE  *Core
  )
{
  memset (Core, 0, sizeof (*Core));
}

uint32_t
TavrixCoreReadRegister (
  const TAVRIX_DISPLAY_CORE  *Core,
  uint64_t                   Offset
  )
{
  if (Offset >= TAVRIX_REGISTER_FILE_SIZE) {
    return 0xFFFFFFFFu;
  }

  return Core->Registers[Offset / 4];
}

void
TavrixCoreWriteRegister (
  TAVRIX_DISPLAY_CORE  *Core,
  uint64_t             Offset,
  uint32_t             Value
  )
{
  if (Offset < TAVRIX_REGISTER_FILE_SIZE) {
    Core->Registers[Offset / 4] = Value;
  }
}

/// Whether an access of Size bytes at Offset lies within one register.
static int
WithinOneRegister (
  uint64_t  Offset,
  uint32_t  Size
  )
{
  return (Size == 1 || Size == 2 || Size == 4) && ((Offset & 3) + Size <= 4);
}

void
TavrixCoreWriteRegisterBytes (
  TAVRIX_DISPLAY_CORE  *Core,
  uint64_t             Offset,
  uint32_t             Size,
  uint32_t             Value
  )
{
  uint32_t  Shift;
  uint32_t  Mask;

  // The size is checked before it sizes a shift: 1u << 32 or more is
  // undefined, and any Size may arrive.
  if (!WithinOneRegister (Offset, Size)) {
    return;
  }

  Shift = (uint32_t)(Offset & 3) * 8;
  Mask  = (Size == 4) ? 0xFFFFFFFFu : ((1u << (8 * Size)) - 1) << Shift;
  TavrixCoreWriteRegister (Core, Offset, (TavrixCoreReadRegister (Core, Offset) & ~Mask) | ((Value << Shift) & Mask));
}

uint32_t
TavrixCoreReadRegisterBytes (
  const TAVRIX_DISPLAY_CORE  *Core,
  uint64_t                   Offset,
  uint32_t                   Size
  )
{
  uint32_t  Word;

  if (!WithinOneRegister (Offset, Size)) {
    return 0xFFFFFFFFu;
  }

  Word = TavrixCoreReadRegister (Core, Offset) >> ((Offset & 3) * 8);
  return (Size == 4) ? Word : Word & ((1u << (8 * Size)) - 1);
}

int
TavrixCoreDisplayGeometry (
  const TAVRIX_DISPLAY_CORE  *Core,
  TAVRIX_DISPLAY_GEOMETRY    *Geometry
  )
{
  uint32_t             Control    = TavrixCoreReadRegister (Core, TAVRIX_REG_B_DISPLAY_CONTROL);
  uint32_t             ActiveSize = TavrixCoreReadRegister (Core, TAVRIX_REG_B_ACTIVE_SIZE);
  TAVRIX_PIXEL_FORMAT  Format     = (TAVRIX_PIXEL_FORMAT)(Control & 0x3);
  uint32_t             Width      = (ActiveSize & 0x7FF) + 1;
  uint32_t             Height     = ((ActiveSize >> 16) & 0x7FF) + 1;
  uint32_t             Pitch      = TavrixCoreReadRegister (Core, TAVRIX_REG_B_PITCH) & 0x3FFF;
  uint32_t             Bytes      = mBytesPerPixel[Format];

  //
  // A display that is off, a reserved format, a line longer than its pitch
  // or a frame larger than the frame buffer shows nothing: the scan-out
  // never reads beyond BAR 0.
  //
  if (((Control & TAVRIX_B_CONTROL_DISPLAY_ENABLE) == 0) || (Bytes == 0) ||
      (Pitch < Width * Bytes) || ((uint64_t)Pitch * Height > TAVRIX_FRAME_BUFFER_SIZE))
  {
    return 0;
  }

  Geometry->Width         = Width;
  Geometry->Height        = Height;
  Geometry->Pitch         = Pitch;
  Geometry->BytesPerPixel = Bytes;
  Geometry->Format        = Format;
  return 1;
}

int
TavrixCoreSurfaceFits (
  const TAVRIX_DISPLAY_GEOMETRY  *Geometry,
  const TAVRIX_SURFACE           *Surface
  )
{
  return (Surface->Width == Geometry->Width) && (Surface->Height == Geometry->Height) &&
         (Surface->BitsPerPixel == 32) && !Surface->Shared;
}

/// A 5-bit channel as 8 bits: 0x1F becomes 0xFF, 0x10 becomes 0x84.
static uint32_t
Widen5 (
  uint32_t  Channel
  )
{
  return (Channel << 3) | (Channel >> 2);
}

/// A 6-bit channel as 8 bits: 0x3F becomes 0xFF, 0x20 becomes 0x82.
static uint32_t
Widen6 (
  uint32_t  Channel
  )
{
  return (Channel << 2) | (Channel >> 4);
}

/// One pixel of the frame in 0x00RRGGBB.
static uint32_t
ConvertPixel (
  const TAVRIX_DISPLAY_CORE  *Core,
  TAVRIX_PIXEL_FORMAT        Format,
  const uint8_t              *Pixel
  )
{
  uint32_t  Value;

  switch (Format) {
    case TavrixPixelFormat8:
      return TavrixCoreReadRegister (Core, TAVRIX_REG_B_PALETTE + 4u * Pixel[0]) & 0xFFFFFF;
    case TavrixPixelFormat16:
      Value = (uint32_t)Pixel[0] | ((uint32_t)Pixel[1] << 8);
      // Widen 5:6:5 to 8:8:8, repeating the high bits in the low ones.
      return (Widen5 ((Value >> 11) & 0x1F) << 16) | (Widen6 ((Value >> 5) & 0x3F) << 8) | Widen5 (Value & 0x1F);
    default:
      return (uint32_t)Pixel[0] | ((uint32_t)Pixel[1] << 8) | ((uint32_t)Pixel[2] << 16);
  }
}

void
TavrixCoreConvertRow (
  const TAVRIX_DISPLAY_CORE      *Core,
  const TAVRIX_DISPLAY_GEOMETRY  *Geometry,
  const uint8_t                  *FrameBuffer,
  uint64_t                       FrameBufferSize,
  uint32_t                       Row,
  uint32_t                       *Pixels
  )
{
  uint64_t  Offset = (uint64_t)Row * Geometry->Pitch;
  uint32_t  X;

  for (X = 0; X < Geometry->Width; X++) {
    uint64_t  At = Offset + (uint64_t)X * Geometry->BytesPerPixel;

    if ((At > FrameBufferSize) || (Geometry->BytesPerPixel > FrameBufferSize - At)) {
      Pixels[X] = 0;
    } else {
      Pixels[X] = ConvertPixel (Core, Geometry->Format, FrameBuffer + At);
    }
  }
}

/// The CRT controller's index port: where the VGA puts it, after the
/// miscellaneous output register's colour select (the data port follows).
static uint16_t
CrtIndexPort (
  const TAVRIX_DISPLAY_CORE  *Core
  )
{
  return ((Core->MiscOutput & TAVRIX_MISC_OUTPUT_COLOR) != 0) ? TAVRIX_PORT_CRT_INDEX : TAVRIX_PORT_CRT_INDEX_MONO;
}

/// The extended CRT register that the current index names, or NULL.
static uint8_t *
ExtendedCrtRegister (
  TAVRIX_DISPLAY_CORE  *Core
  )
{
  switch (Core->CrtIndex) {
    case TAVRIX_CRT_EXT_MODE:
      return &Core->CrtModeControl;
    case TAVRIX_CRT_EXT_BANK_HIGH:
      return &Core->CrtBankHigh;
    default:
      return NULL;
  }
}

TAVRIX_PORT_RESULT
TavrixCorePortWrite (
  TAVRIX_DISPLAY_CORE  *Core,
  uint16_t             Port,
  uint8_t              Value
  )
{
  uint8_t  *Extended;

  if (Port == TAVRIX_PORT_MISC_OUTPUT) {
    // The standard VGA keeps it as well; the core only follows the CRT.
    Core->MiscOutput = Value;
    return TavrixPortStandard;
  }

  if (Port == CrtIndexPort (Core)) {
    // The standard CRT controller needs the index as well.
    Core->CrtIndex = Value;
    return TavrixPortStandard;
  }

  if (Port == CrtIndexPort (Core) + 1) {
    Extended = ExtendedCrtRegister (Core);
    if (Extended == NULL) {
      return TavrixPortStandard;
    }

    *Extended = Value;
    return TavrixPortClaimed;
  }

  switch (Port) {
    case TAVRIX_PORT_BANK_MIDDLE:
      Core->BankMiddle = Value;
      return TavrixPortClaimed;
    case TAVRIX_PORT_BANK_LOW:
      Core->BankLow = Value;
      Core->BankSelects++;
      return TavrixPortClaimed;
    default:
      return TavrixPortStandard;
  }
}

TAVRIX_PORT_RESULT
TavrixCorePortRead (
  const TAVRIX_DISPLAY_CORE  *Core,
  uint16_t                   Port,
  uint8_t                    *Value
  )
{
  const uint8_t  *Extended;

  if (Port == CrtIndexPort (Core) + 1) {
    Extended = ExtendedCrtRegister ((TAVRIX_DISPLAY_CORE *)Core);
    if (Extended == NULL) {
      return TavrixPortStandard;
    }

    *Value = *Extended;
    return TavrixPortClaimed;
  }

  switch (Port) {
    case TAVRIX_PORT_BANK_MIDDLE:
      *Value = Core->BankMiddle;
      return TavrixPortClaimed;
    case TAVRIX_PORT_BANK_LOW:
      *Value = Core->BankLow;
      return TavrixPortClaimed;
    default:
      return TavrixPortStandard;
  }
}

uint32_t
TavrixCoreBank (
  const TAVRIX_DISPLAY_CORE  *Core
  )
{
  return ((uint32_t)(Core->CrtBankHigh & 0xF) << 8) | ((uint32_t)(Core->BankMiddle & 0xF) << 4) |
         (uint32_t)(Core->BankLow & 0xF);
}

void
TavrixCoreWriteApertureControl (
  TAVRIX_DISPLAY_CORE  *Core,
  uint8_t              Value
  )
{
  Core->ApertureControl = Value & TAVRIX_APERTURE_ENABLE;
}

uint8_t
TavrixCoreReadApertureControl (
  const TAVRIX_DISPLAY_CORE  *Core
  )
{
  return Core->ApertureControl;
}

int
TavrixCoreApertureDecodes (
  const TAVRIX_DISPLAY_CORE  *Core,
  int                        MemoryDecodeEnabled
  )
{
  return MemoryDecodeEnabled && ((Core->ApertureControl & TAVRIX_APERTURE_ENABLE) != 0);
}

int
TavrixCoreApertureOffset (
  uint64_t  Address,
  uint64_t  Size,
  uint64_t  *Offset
  )
{
  if ((Address < TAVRIX_APERTURE_BASE) || (Size == 0) || (Size > TAVRIX_APERTURE_SIZE) ||
      (Address - TAVRIX_APERTURE_BASE > TAVRIX_APERTURE_SIZE - Size))
  {
    return 0;
  }

  *Offset = Address - TAVRIX_APERTURE_BASE;
  return 1;
}
