/** @file
  Frame-buffer drawing: strings in the 8x16 font, alpha-blended images and
  64 KiB bank selection.

  Before a GOP exists the frame is reached through the fixed aperture, one
  64 KiB bank at a time: a pixel store outside the current bank first
  selects the bank that holds it. Once a GOP is found the services write at
  its frame buffer without bank switching, looking the GOP up on its handle
  at each call so that a stopped driver's freed GOP is never read and a
  reconnected one is followed. The frame's geometry, the current bank and
  the transparent-text switch live in the display-information HOB.

  Every store is checked, with 64-bit offsets, against the frame the HOB
  describes and, with a GOP, against the GOP's own FrameBufferSize too: the
  HOB holds the earlier phase's geometry, and the GOP's current mode may be
  smaller. A caller's row, column or image offset cannot reach memory
  outside the frame. Text that runs past the right edge still continues on
  the following pixel rows.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "Prelumen.h"

extern "C" {
#include <Library/BaseLib.h>
#include <Library/HobLib.h>
#include <Library/IoLib.h>
#include <Library/UefiBootServicesTableLib.h>
}

namespace {

constexpr UINTN  MAX_STRING_LENGTH = 256;
constexpr UINT32 BYTES_PER_PIXEL   = 4;
constexpr UINT32 OPAQUE            = 255;

//
// Bank registers (the controller header's TAVRIX_CRT_EXT_BANK_HIGH and
// TAVRIX_PORT_BANK_*): the extended CRT register takes the high nibble of
// the bank, the two bank ports the middle and low nibbles, each nibble
// repeated in both halves of the byte.
//

constexpr UINT8
NibblePair (UINT32 Bank, UINT32 Shift)
{
  return static_cast<UINT8> (((Bank >> Shift) & 0x0F) * 0x11);
}

/// The caller's task priority level, read without changing it.
EFI_TPL
CurrentTpl (VOID)
{
  const EFI_TPL Tpl = gBS->RaiseTPL (TPL_HIGH_LEVEL);

  gBS->RestoreTPL (Tpl);
  return Tpl;
}

/**
  Whether there is a frame to draw on, checked once per drawing call. Before
  a GOP there is always the aperture. After one, its driver may have been
  stopped since the notification took it (the interface is then gone and its
  memory freed) or reconnected (the same handle then carries a new interface
  at a new address), so the GOP is looked up afresh on the handle it came
  from and the current interface adopted; a look-up that finds none leaves
  mGraphicsOutput NULL, so nothing is read through the old pointer.

  Boot services may be called only at TPL_NOTIFY or below. A caller above
  that (an exception or timer handler, say) gets the interface the last
  look-up confirmed, or nothing if it found none.

  Even a GOP that is there may have been set to a mode without a linear
  frame buffer since it was taken: then there is nothing to draw on either.
**/
BOOLEAN
RefreshGraphicsOutput (VOID)
{
  VOID *Interface;

  if (!mGopFound) {
    return TRUE;
  }

  if (CurrentTpl () <= TPL_NOTIFY) {
    if (EFI_ERROR (gBS->HandleProtocol (mGraphicsOutputHandle, &gEfiGraphicsOutputProtocolGuid, &Interface))) {
      Interface = nullptr;
    }

    mGraphicsOutput = static_cast<EFI_GRAPHICS_OUTPUT_PROTOCOL *> (Interface);
  }

  return (mGraphicsOutput != nullptr) && IsLinearFrameBuffer (mGraphicsOutput);
}

/// Where drawing goes now: the GOP's current frame buffer, or the aperture.
/// After a GOP, only valid once RefreshGraphicsOutput has said TRUE.
EFI_PHYSICAL_ADDRESS
FrameBase (VOID)
{
  if (mGopFound) {
    return mGraphicsOutput->Mode->FrameBufferBase;
  }

  return EARLY_VIDEO_APERTURE_BASE;
}

/// Bytes of the frame the HOB describes, without 32-bit overflow.
UINT64
FrameSize (IN CONST EARLY_VIDEO_INFO *Info)
{
  const UINT64 Pixels = UINT64 (Info->FrameWidth) * Info->FrameHeight;

  return (Pixels > MAX_UINT64 / BYTES_PER_PIXEL) ? MAX_UINT64 : Pixels * BYTES_PER_PIXEL;
}

/**
  Bytes that the stores may reach: the HOB's frame, and with a GOP no more
  than its current mode's buffer, which may be the smaller one (a GOP
  driver that starts in a lower resolution than the earlier phase used).
  After a GOP, only valid once RefreshGraphicsOutput has said TRUE.
**/
UINT64
DrawingBound (IN CONST EARLY_VIDEO_INFO *Info)
{
  const UINT64 Size = FrameSize (Info);

  if (mGopFound) {
    const UINT64 GopSize = mGraphicsOutput->Mode->FrameBufferSize;

    return (GopSize < Size) ? GopSize : Size;
  }

  return Size;
}

/// Whether the four bytes at Offset lie inside a buffer of Size bytes.
constexpr BOOLEAN
PixelFits (UINT64 Offset, UINT64 Size)
{
  return (Offset < Size) && (Size - Offset >= BYTES_PER_PIXEL);
}

/// The shadow pixel at frame byte offset Offset, if the shadow buffer holds one.
BOOLEAN
ReadShadowPixel (IN UINT64 Offset, OUT UINT32 *Pixel)
{
  if ((mShadowBuffer == nullptr) || !PixelFits (Offset, mShadowBufferSize)) {
    return FALSE;
  }

  *Pixel = ReadUnaligned32 (reinterpret_cast<UINT32 *> (mShadowBuffer + Offset));
  return TRUE;
}

VOID
WriteShadowPixel (IN UINT64 Offset, IN UINT32 Pixel)
{
  if ((mShadowBuffer != nullptr) && PixelFits (Offset, mShadowBufferSize)) {
    WriteUnaligned32 (reinterpret_cast<UINT32 *> (mShadowBuffer + Offset), Pixel);
  }
}

/// One colour byte of Source over Below with alpha Alpha, divisions truncating.
constexpr UINT32
BlendChannel (UINT32 Source, UINT32 Below, UINT32 Alpha)
{
  return Source * Alpha / 255 + Below * (255 - Alpha) / 255;
}

/**
  The frame pixel for the source pixel at Source, whose SOURCE_BYTES bytes
  are blue, green, red and, with 4 bytes, an alpha. A 3-byte pixel is
  opaque and is read without touching the byte after it: in the last pixel
  of an image that byte is not the caller's. A 4-byte pixel's colour bytes
  are blended with its alpha over the shadow pixel at frame offset
  Destination, or taken as they are. The reserved byte is 0.
**/
template <UINT32 SOURCE_BYTES>
UINT32
ImagePixel (IN CONST UINT8 *Source, IN UINT64 Destination, IN CONST EARLY_VIDEO_INFO *Info)
{
  if (SOURCE_BYTES == 3) {
    return Source[0] | (UINT32 (Source[1]) << 8) | (UINT32 (Source[2]) << 16);
  }

  //
  // The four bytes in one read: blue, green, red, alpha from the lowest.
  //
  const UINT32 Word  = ReadUnaligned32 (reinterpret_cast<CONST UINT32 *> (Source));
  const UINT32 Alpha = Word >> 24;

  if (Alpha == OPAQUE) {
    return Word & 0x00FFFFFF;
  }

  //
  // Blending stops at the frame plus one row (a 32-bit limit that callers
  // know); the shadow buffer's own size bounds the read. A shadow
  // pixel of exactly 0 is an empty background: the source is drawn as read.
  //
  const UINT32 BlendLimit = (Info->FrameHeight + 1) * Info->FrameWidth * BYTES_PER_PIXEL;
  UINT32       Blue       = Word & 0xFF;
  UINT32       Green      = (Word >> 8) & 0xFF;
  UINT32       Red        = (Word >> 16) & 0xFF;
  UINT32       Below;

  if ((Destination <= BlendLimit) && ReadShadowPixel (Destination, &Below) && (Below != 0)) {
    Blue  = BlendChannel (Blue, Below & 0xFF, Alpha);
    Green = BlendChannel (Green, (Below >> 8) & 0xFF, Alpha);
    Red   = BlendChannel (Red, (Below >> 16) & 0xFF, Alpha);
  }

  return Blue | (Green << 8) | (Red << 16);
}

/**
  The store of WritePixel once the pixel is known to lie inside the frame:
  the bank selection on the aperture, then one 32-bit store. Always inlined,
  so that a row that lies wholly inside the frame costs no call per pixel.
**/
inline __attribute__ ((always_inline)) VOID
StorePixel (
  IN EARLY_GRAPHICS_CALLBACKS *This,
  IN EFI_PHYSICAL_ADDRESS      Base,
  IN UINT64                    Offset,
  IN UINT32                    Pixel,
  IN UINT32                    CurrentBank
)
{
  //
  // The bank only matters on the aperture; the store itself uses the full
  // offset, the bank does not fold it into a 64 KiB window.
  //
  if (!mGopFound) {
    const UINT32 Bank = static_cast<UINT32> (Offset >> 16);

    if (Bank != CurrentBank) {
      This->SetBank (This, Bank);
    }
  }

  //
  // One 32-bit store; a caller's image offset need not be 4-byte aligned.
  //
  WriteUnaligned32 (reinterpret_cast<UINT32 *> (static_cast<UINTN> (Base + Offset)), Pixel);
}

/// Where DrawImage's pixels go: the frame at Base, bounded by Bound bytes,
/// or the shadow buffer.
struct IMAGE_TARGET {
  EARLY_GRAPHICS_CALLBACKS *This;
  EFI_PHYSICAL_ADDRESS      Base;
  UINT64                    Bound;
  BOOLEAN                   ShadowOnly;
};

/**
  DrawImage's pixel loop for source pixels of SOURCE_BYTES bytes. Source
  rows are padded to a multiple of 4 bytes.
**/
template <UINT32 SOURCE_BYTES>
VOID
DrawImageRows (
  IN CONST IMAGE_TARGET     &Target,
  IN CONST EARLY_VIDEO_INFO *Info,
  IN UINT32                  Offset,
  IN UINT32                  RowStep,
  IN CONST UINT8            *Image,
  IN UINT32                  ImageWidth,
  IN UINT32                  ImageHeight
)
{
  const UINT32 SourceStride = ((SOURCE_BYTES * 8 * ImageWidth) / 8 + 3) & ~UINT32 (3);

  //
  // Row starts advance in 32 bits, so a RowStep of minus the pitch (mod 2^32)
  // draws upwards; within a row the offset is 64-bit and never wraps.
  //
  for (UINT32 Y = 0; Y < ImageHeight; Y++, Offset += RowStep) {
    //
    // A row that lies wholly inside the frame needs no test per pixel.
    //
    const BOOLEAN RowFits = (UINT64 (Offset) + UINT64 (ImageWidth) * BYTES_PER_PIXEL <= Target.Bound);

    for (UINT32 X = 0; X < ImageWidth; X++) {
      const UINT8 *Source      = Image + (Y * SourceStride + X * SOURCE_BYTES);
      const UINT64 Destination = Offset + UINT64 (X) * BYTES_PER_PIXEL;
      const UINT32 Pixel       = ImagePixel<SOURCE_BYTES> (Source, Destination, Info);

      if (!Target.ShadowOnly) {
        if (RowFits) {
          StorePixel (Target.This, Target.Base, Destination, Pixel, Info->CurrentBank);
        } else {
          WritePixel (Target.This, Target.Base, Target.Bound, Destination, Pixel, Info->CurrentBank);
        }
      } else {
        WriteShadowPixel (Destination, Pixel);
      }
    }
  }
}

} // namespace

EARLY_VIDEO_INFO *
FindEarlyVideoInfo (VOID)
{
  auto *Hob = static_cast<EFI_HOB_GUID_TYPE *> (GetFirstGuidHob (&gEarlyVideoInfoHobGuid));

  //
  // A HOB too short for the fields used here is no HOB at all: CurrentBank
  // is written in place and must not land past its end.
  //
  if ((Hob == nullptr) || (GET_HOB_LENGTH (Hob) < sizeof (EFI_HOB_GUID_TYPE) + sizeof (EARLY_VIDEO_INFO))) {
    return nullptr;
  }

  return static_cast<EARLY_VIDEO_INFO *> (GET_GUID_HOB_DATA (Hob));
}

VOID
WritePixel (
  IN EARLY_GRAPHICS_CALLBACKS *This,
  IN EFI_PHYSICAL_ADDRESS      Base,
  IN UINT64                    FrameSize,
  IN UINT64                    Offset,
  IN UINT32                    Pixel,
  IN UINT32                    CurrentBank
)
{
  if (PixelFits (Offset, FrameSize)) {
    StorePixel (This, Base, Offset, Pixel, CurrentBank);
  }
}

EFI_STATUS
DrawGlyph (
  IN EARLY_GRAPHICS_CALLBACKS *This,
  IN CONST GLYPH_DESCRIPTOR   *Descriptor,
  IN UINT64                    Offset,
  IN CHAR8                     Character,
  IN EARLY_VIDEO_INFO         *Info
)
{
  const EFI_PHYSICAL_ADDRESS Base        = FrameBase ();
  const UINT64               Size        = DrawingBound (Info);
  const UINT64               Pitch       = UINT64 (Info->FrameWidth) * BYTES_PER_PIXEL;
  const BOOLEAN              Transparent = Info->TransparentText != 0;
  const UINTN                Code        = static_cast<UINT8> (Character);
  const UINT8 *Glyph = Descriptor->Glyphs + Code * ((Descriptor->GlyphWidth + 7) / 8) * Descriptor->GlyphHeight;

  for (UINT32 Row = 0; Row < Descriptor->GlyphHeight; Row++) {
    for (UINT32 Repeat = 0; Repeat < Descriptor->ScaleY; Repeat++) {
      UINT64 Target = Offset + (UINT64 (Row) * Descriptor->ScaleY + Repeat) * Pitch;
      UINT8  Bits   = Glyph[Row];

      for (UINT32 Column = 0; Column < Descriptor->GlyphWidth; Column++, Bits <<= 1) {
        UINT32 Colour = Descriptor->Foreground;

        //
        // A clear bit shows the picture beneath when the text is
        // transparent; where the shadow buffer holds no pixel it falls back
        // to the background colour.
        //
        if ((Bits & BIT7) == 0) {
          if (!Transparent || !ReadShadowPixel (Target, &Colour)) {
            Colour = Descriptor->Background;
          }
        }

        for (UINT32 Copy = 0; Copy < Descriptor->ScaleX; Copy++, Target += BYTES_PER_PIXEL) {
          WritePixel (This, Base, Size, Target, Colour, Info->CurrentBank);
        }
      }
    }
  }

  return EFI_SUCCESS;
}

extern "C" EFI_STATUS EFIAPI
DrawString (
  IN EARLY_GRAPHICS_CALLBACKS *This,
  IN UINT16                    Column,
  IN UINT16                    Row,
  IN UINT32                    Foreground,
  IN UINT32                    Background,
  IN CHAR8                    *String
)
{
  const UINTN Length = AsciiStrnLenS (String, MAX_STRING_LENGTH);

  if (mDrawingDisabled) {
    return EFI_SUCCESS;
  }

  EARLY_VIDEO_INFO *Info = FindEarlyVideoInfo ();

  if (Info == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }

  //
  // A GOP that has gone away leaves nothing to draw on. The call still
  // succeeds, as it does while drawing is switched off: the display
  // protocol cannot do anything about it, callers that ignore the result
  // stay as they were, and drawing resumes by itself once the GOP's driver
  // is started again on the same controller.
  //
  if (!RefreshGraphicsOutput ()) {
    return EFI_SUCCESS;
  }

  const GLYPH_DESCRIPTOR Descriptor = { mFont8x16, FONT_8X16_WIDTH, FONT_8X16_HEIGHT, 1, 1, Foreground, Background };

  //
  // A character cell is 8 pixels (32 bytes) wide and 16 pixel rows high.
  // Cells are not wrapped: past the right edge they go on in the next
  // pixel rows, as the frame is linear.
  //
  const UINT64 CellBytes = FONT_8X16_WIDTH * BYTES_PER_PIXEL;
  UINT64       Offset    = (Column + UINT64 (Row) * Info->FrameWidth * 2) * CellBytes;

  for (UINTN Index = 0; Index < Length; Index++, Offset += CellBytes) {
    DrawGlyph (This, &Descriptor, Offset, String[Index], Info);
  }

  return EFI_SUCCESS;
}

extern "C" EFI_STATUS EFIAPI
DrawImage (
  IN EARLY_GRAPHICS_CALLBACKS *This,
  IN UINT32                    Offset,
  IN UINT32                    RowStep,
  IN UINT8                    *Image,
  IN UINT32                    ImageWidth,
  IN UINT32                    ImageHeight,
  IN UINT8                     BitsPerPixel,
  IN UINT32                    ShadowOnly
)
{
  if (mDrawingDisabled) {
    return EFI_SUCCESS;
  }

  EARLY_VIDEO_INFO *Info = FindEarlyVideoInfo ();

  if (Info == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }

  if (Image == nullptr) {
    return EFI_SUCCESS;
  }

  //
  // Images come as 32-bit BGRA or 24-bit BGR. Any other depth would be read
  // with a pixel size that is not its own, so it is refused before any byte
  // of it is read.
  //
  if ((BitsPerPixel != 32) && (BitsPerPixel != 24)) {
    return EFI_UNSUPPORTED;
  }

  //
  // A shadow-only image needs no frame: it goes into the shadow buffer
  // whatever has become of the GOP, so that later blends see it. Drawing on
  // the frame needs one: with the GOP gone, or without a linear frame
  // buffer, the call succeeds, as it does while drawing is switched off;
  // the display protocol cannot do anything about it, and drawing resumes
  // by itself once the GOP's driver is started again on the same controller.
  //
  IMAGE_TARGET Target = { This, 0, 0, ShadowOnly != 0 };

  if (!Target.ShadowOnly) {
    if (!RefreshGraphicsOutput ()) {
      return EFI_SUCCESS;
    }

    Target.Base  = FrameBase ();
    Target.Bound = DrawingBound (Info);
  }

  if (BitsPerPixel == 32) {
    DrawImageRows<4> (Target, Info, Offset, RowStep, Image, ImageWidth, ImageHeight);
  } else {
    DrawImageRows<3> (Target, Info, Offset, RowStep, Image, ImageWidth, ImageHeight);
  }

  return EFI_SUCCESS;
}

extern "C" EFI_STATUS EFIAPI
SetBank (IN EARLY_GRAPHICS_CALLBACKS *This, IN UINT32 Bank)
{
  EARLY_VIDEO_INFO *Info = FindEarlyVideoInfo ();

  if (Info == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }

  //
  // Bits above 11 reach no port; CurrentBank still keeps all 32 of them.
  //
  IoWrite8 (TAVRIX_PORT_CRT_INDEX, TAVRIX_CRT_EXT_BANK_HIGH);
  IoWrite8 (TAVRIX_PORT_CRT_DATA, NibblePair (Bank, 8));
  IoWrite8 (TAVRIX_PORT_BANK_MIDDLE, NibblePair (Bank, 4));
  IoWrite8 (TAVRIX_PORT_BANK_LOW, NibblePair (Bank, 0));

  Info->CurrentBank = Bank;
  return EFI_SUCCESS;
}

/**
  Turns string and image drawing on (1) or off (0). Bank selection and text
  output do not look at the switch.
**/
extern "C" EFI_STATUS EFIAPI
EnableDrawing (IN EARLY_GRAPHICS_CALLBACKS *This, IN UINT32 Enable)
{
  switch (Enable) {
    case 0:
      mDrawingDisabled = TRUE;
      return EFI_SUCCESS;
    case 1:
      mDrawingDisabled = FALSE;
      return EFI_SUCCESS;
    default:
      return EFI_INVALID_PARAMETER;
  }
}
