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

int
TavrixCoreDisplayGeometry (
  const TAVRIX_DISPLAY_CORE  *Core,
  TAVRIX_DISPLAY_GEOMETRY    *Geometry
  )
{
  uint32_t             Control    = TavrixCoreReadRegister (Core, TAVRIX_REG_B_CONTROL);
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
      return ((((Value >> 11) & 0x1F) * 255 / 31) << 16) |
             ((((Value >> 5) & 0x3F) * 255 / 63) << 8) |
             ((Value & 0x1F) * 255 / 31);
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

TAVRIX_PORT_RESULT
TavrixCorePortWrite (
  TAVRIX_DISPLAY_CORE  *Core,
  uint16_t             Port,
  uint8_t              Value
  )
{
  switch (Port) {
    case TAVRIX_PORT_CRT_INDEX:
      // The standard CRT controller needs the index as well.
      Core->CrtIndex = Value;
      return TavrixPortStandard;
    case TAVRIX_PORT_CRT_DATA:
      if (Core->CrtIndex == TAVRIX_CRT_EXT_MODE) {
        Core->CrtModeControl = Value;
        return TavrixPortClaimed;
      }

      if (Core->CrtIndex == TAVRIX_CRT_EXT_BANK_HIGH) {
        Core->CrtBankHigh = Value;
        return TavrixPortClaimed;
      }

      return TavrixPortStandard;
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
  switch (Port) {
    case TAVRIX_PORT_CRT_DATA:
      if (Core->CrtIndex == TAVRIX_CRT_EXT_MODE) {
        *Value = Core->CrtModeControl;
        return TavrixPortClaimed;
      }

      if (Core->CrtIndex == TAVRIX_CRT_EXT_BANK_HIGH) {
        *Value = Core->CrtBankHigh;
        return TavrixPortClaimed;
      }

      return TavrixPortStandard;
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
