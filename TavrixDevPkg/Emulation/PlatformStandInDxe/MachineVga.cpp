/** @file
  The machine's own VGA (QEMU's standard VGA, 0x1234:0x1111) lends the
  emulated controller its linear frame buffer as BAR 0, and its display
  engine shows the mode that the driver programs on channel B.

  The stand-in opens the VGA's PCI I/O exclusively, which stops OVMF's video
  driver on it and keeps every other driver away, then programs the VGA's
  Bochs display interface (index/data ports 0x1CE/0x1CF) whenever channel B's
  display-control register is written. Without such a VGA, BAR 0 is plain
  memory and only the road application's frame dumps show the picture.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "PlatformStandIn.h"

extern "C" {
#include <IndustryStandard/Acpi.h>
#include <IndustryStandard/Pci.h>
#include <Library/IoLib.h>
#include <Protocol/HiiFont.h>
}

namespace {

constexpr UINT32 kMachineVgaId = 0x11111234; // device << 16 | vendor

//
// Bochs display interface of QEMU's VGA.
//
constexpr UINTN  kDispiIndexPort  = 0x1CE;
constexpr UINTN  kDispiDataPort   = 0x1D0; // 16-bit data port (0x1CF is odd, unfit for 16-bit I/O)
constexpr UINT16 kDispiId         = 0x0;
constexpr UINT16 kDispiXRes       = 0x1;
constexpr UINT16 kDispiYRes       = 0x2;
constexpr UINT16 kDispiBpp        = 0x3;
constexpr UINT16 kDispiEnable     = 0x4;
constexpr UINT16 kDispiBank       = 0x5;
constexpr UINT16 kDispiVirtWidth  = 0x6;
constexpr UINT16 kDispiVirtHeight = 0x7;
constexpr UINT16 kDispiXOffset    = 0x8;
constexpr UINT16 kDispiYOffset    = 0x9;
constexpr UINT16 kDispiEnabled    = 0x01;
constexpr UINT16 kDispiLfb        = 0x40;
constexpr UINT16 kDispiNoClear    = 0x80;

//
// Channel B registers that the emulation reads when the display-control
// register is written: active size, pitch, and the control word itself
// (bits 1:0 the pixel format, bit 8 the display enable).
//
constexpr UINTN  kRegChannelBPitch      = 0x80208;
constexpr UINTN  kRegChannelBActiveSize = 0x80284;
constexpr UINTN  kRegChannelBControl    = 0x80200;
constexpr UINT32 kControlDisplayEnable  = 0x100;

constexpr UINT64 kFallbackFrameBufferSize = EMULATED_FRAME_BUFFER_SIZE;

EFI_PCI_IO_PROTOCOL *mVgaPciIo;
EFI_HANDLE           mVgaHandle;
BOOLEAN              mFrameBufferAllocated;

VOID
DispiWrite (UINT16 Index, UINT16 Value)
{
  IoWrite16 (kDispiIndexPort, Index);
  IoWrite16 (kDispiDataPort, Value);
}

UINT16
DispiRead (UINT16 Index)
{
  IoWrite16 (kDispiIndexPort, Index);
  return IoRead16 (kDispiDataPort);
}

UINT32
Register (UINTN Offset)
{
  return *reinterpret_cast<const UINT32 *> (mPlatform.RegisterFile + Offset);
}

/// Finds QEMU's standard VGA among the PCI devices and takes it exclusively.
EFI_STATUS
OpenMachineVga (EFI_HANDLE ImageHandle)
{
  UINTN       HandleCount;
  EFI_HANDLE *Handles;
  EFI_STATUS  Status = gBS->LocateHandleBuffer (ByProtocol, &gEfiPciIoProtocolGuid, nullptr, &HandleCount, &Handles);

  if (EFI_ERROR (Status)) {
    return Status;
  }

  Status = EFI_NOT_FOUND;
  for (UINTN Index = 0; Index < HandleCount && Status == EFI_NOT_FOUND; Index++) {
    EFI_PCI_IO_PROTOCOL *PciIo;
    UINT32               Id       = 0;
    UINT8                Class[3] = { 0 };
    if (EFI_ERROR (gBS->HandleProtocol (Handles[Index], &gEfiPciIoProtocolGuid, reinterpret_cast<VOID **>(&PciIo))) ||
        EFI_ERROR (PciIo->Pci.Read (PciIo, EfiPciIoWidthUint32, PCI_VENDOR_ID_OFFSET, 1, &Id)) ||
        EFI_ERROR (PciIo->Pci.Read (PciIo, EfiPciIoWidthUint8, PCI_CLASSCODE_OFFSET, 3, Class)) ||
        (Id != kMachineVgaId) || (Class[2] != PCI_CLASS_DISPLAY))
    {
      continue;
    }

    //
    // An exclusive open disconnects the firmware's video driver (and the
    // graphics console above it) and keeps them from binding again.
    //
    Status = gBS->OpenProtocol (
      Handles[Index], &gEfiPciIoProtocolGuid, reinterpret_cast<VOID **> (&mVgaPciIo), ImageHandle, Handles[Index],
      EFI_OPEN_PROTOCOL_BY_DRIVER | EFI_OPEN_PROTOCOL_EXCLUSIVE
    );
    if (!EFI_ERROR (Status)) {
      mVgaHandle = Handles[Index];
    } else {
      DEBUG ((DEBUG_ERROR, "PlatformStandIn: machine VGA busy: %r\n", Status));
    }
  }

  FreePool (Handles);
  return Status;
}

/// The VGA's frame-buffer BAR, as the PCI bus driver placed it.
EFI_STATUS
ReadVgaFrameBuffer (VOID)
{
  EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR *Bar = nullptr;
  EFI_STATUS                         Status;

  Status = mVgaPciIo->GetBarAttributes (mVgaPciIo, 0, nullptr, reinterpret_cast<VOID **> (&Bar));
  if (EFI_ERROR (Status)) {
    return Status;
  }

  if ((Bar->Desc != ACPI_ADDRESS_SPACE_DESCRIPTOR) || (Bar->ResType != ACPI_ADDRESS_SPACE_TYPE_MEM) || (Bar->AddrLen < EMULATED_FRAME_BUFFER_SIZE / 2)) {
    Status = EFI_UNSUPPORTED;
  } else {
    mPlatform.FrameBufferBase = Bar->AddrRangeMin;
    mPlatform.FrameBufferSize = MIN (Bar->AddrLen, (UINT64)EMULATED_FRAME_BUFFER_SIZE);
  }

  FreePool (Bar);
  return Status;
}

} // namespace

/**
  Settles BAR 0: the machine VGA's frame buffer when QEMU's standard VGA is
  there and can be taken, otherwise 16 MiB of boot-services memory.
**/
EFI_STATUS
AttachMachineVga (IN EFI_HANDLE ImageHandle)
{
  EFI_STATUS Status = OpenMachineVga (ImageHandle);

  if (!EFI_ERROR (Status)) {
    const UINT64 Decode = EFI_PCI_IO_ATTRIBUTE_IO | EFI_PCI_IO_ATTRIBUTE_MEMORY;
    const UINT64 Legacy = EFI_PCI_IO_ATTRIBUTE_VGA_IO | EFI_PCI_IO_ATTRIBUTE_VGA_MEMORY;
    if (EFI_ERROR (mVgaPciIo->Attributes (mVgaPciIo, EfiPciIoAttributeOperationEnable, Decode | Legacy, nullptr))) {
      Status = mVgaPciIo->Attributes (mVgaPciIo, EfiPciIoAttributeOperationEnable, Decode, nullptr);
    }

    if (!EFI_ERROR (Status)) {
      Status = ReadVgaFrameBuffer ();
    }

    if (!EFI_ERROR (Status) && ((DispiRead (kDispiId) & 0xFFF0) != 0xB0C0)) {
      Status = EFI_UNSUPPORTED;
    }

    if (EFI_ERROR (Status)) {
      DetachMachineVga (ImageHandle);
    }
  }

  if (!EFI_ERROR (Status)) {
    mPlatform.FrameBufferOnVga = TRUE;
    return EFI_SUCCESS;
  }

  DEBUG ((DEBUG_WARN, "PlatformStandIn: no machine VGA (%r); BAR 0 is plain memory\n", Status));
  VOID *Memory = AllocatePages (EFI_SIZE_TO_PAGES (kFallbackFrameBufferSize));
  if (Memory == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }

  ZeroMem (Memory, kFallbackFrameBufferSize);
  mFrameBufferAllocated      = TRUE;
  mPlatform.FrameBufferBase  = (EFI_PHYSICAL_ADDRESS)(UINTN)Memory;
  mPlatform.FrameBufferSize  = kFallbackFrameBufferSize;
  mPlatform.FrameBufferOnVga = FALSE;
  return EFI_SUCCESS;
}

/// Gives the machine VGA back (or frees the fallback memory) on the
/// stand-in's failure path.
VOID
DetachMachineVga (IN EFI_HANDLE ImageHandle)
{
  if (mVgaPciIo != nullptr) {
    gBS->CloseProtocol (mVgaHandle, &gEfiPciIoProtocolGuid, ImageHandle, mVgaHandle);
    mVgaPciIo  = nullptr;
    mVgaHandle = nullptr;
  }

  if (mFrameBufferAllocated) {
    FreePages (
      reinterpret_cast<VOID *> ((UINTN)mPlatform.FrameBufferBase), EFI_SIZE_TO_PAGES (mPlatform.FrameBufferSize)
    );
    mFrameBufferAllocated = FALSE;
  }

  mPlatform.FrameBufferBase  = 0;
  mPlatform.FrameBufferSize  = 0;
  mPlatform.FrameBufferOnVga = FALSE;
}

/**
  Called when channel B's display-control register has been written: shows
  the programmed active size, pitch and pixel format on the machine VGA. The
  frame-buffer contents are left alone (the driver clears what it clears).
**/
VOID
MirrorDisplayMode (VOID)
{
  const UINT32 Control    = Register (kRegChannelBControl);
  const UINT32 ActiveSize = Register (kRegChannelBActiveSize);
  const UINT32 Width      = (ActiveSize & 0xFFF) + 1;
  const UINT32 Height     = ((ActiveSize >> 16) & 0xFFF) + 1;
  const UINT32 Pitch      = Register (kRegChannelBPitch) & 0x3FFF;
  const UINT32 Bpp        = ((Control & 0x3) == 0) ? 8 : ((Control & 0x3) == 1) ? 16 : 32;

  if (!mPlatform.FrameBufferOnVga || ((Control & kControlDisplayEnable) == 0) ||
      (Pitch < Width * (Bpp / 8)) || ((UINT64)Pitch * Height > mPlatform.FrameBufferSize))
  {
    return;
  }

  DispiWrite (kDispiEnable, 0);
  DispiWrite (kDispiBank, 0);
  DispiWrite (kDispiBpp, (UINT16)Bpp);
  DispiWrite (kDispiXRes, (UINT16)Width);
  DispiWrite (kDispiYRes, (UINT16)Height);
  DispiWrite (kDispiVirtWidth, (UINT16)(Pitch / (Bpp / 8)));
  DispiWrite (kDispiVirtHeight, (UINT16)MIN (mPlatform.FrameBufferSize / Pitch, (UINT64)0xFFFF));
  DispiWrite (kDispiXOffset, 0);
  DispiWrite (kDispiYOffset, 0);
  DispiWrite (kDispiEnable, kDispiEnabled | kDispiLfb | kDispiNoClear);
  IoRead8 (0x3DA);        // attribute controller back to its index state
  IoWrite8 (0x3C0, 0x20); // palette address source: the display is shown

  mPlatform.VgaModeSets++;
  mPlatform.VgaWidth        = Width;
  mPlatform.VgaHeight       = Height;
  mPlatform.VgaBitsPerPixel = Bpp;
  mPlatform.VgaPitch        = Pitch;
}

namespace {

//
// Standard 80 x 25 colour text mode (720 x 400), register by register.
//
constexpr UINT8 kTextSequencer[] = { 0x03, 0x00, 0x03, 0x00, 0x02 };
constexpr UINT8 kTextCrtc[]      = { 0x5F, 0x4F, 0x50, 0x82, 0x55, 0x81, 0xBF, 0x1F, 0x00, 0x4F, 0x0D, 0x0E, 0x00,
                                     0x00, 0x00, 0x00, 0x9C, 0x8E, 0x8F, 0x28, 0x1F, 0x96, 0xB9, 0xA3, 0xFF };
constexpr UINT8 kTextGraphics[]  = { 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x0E, 0x00, 0xFF };
constexpr UINT8 kTextAttribute[] = { 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x14, 0x07, 0x38, 0x39, 0x3A,
                                     0x3B, 0x3C, 0x3D, 0x3E, 0x3F, 0x0C, 0x00, 0x0F, 0x08, 0x00 };

constexpr UINTN       kFontRows     = 16;
constexpr UINTN       kFontStride   = 32; // bytes per character in plane 2
volatile UINT8 *const mLegacyWindow = reinterpret_cast<volatile UINT8 *> ((UINTN)0xA0000);

VOID
IndexedWrite (UINTN IndexPort, UINT8 Index, UINT8 Value)
{
  IoWrite8 (IndexPort, Index);
  IoWrite8 (IndexPort + 1, Value);
}

/// The 64 colours of the EGA palette, which the text attributes select.
VOID
LoadTextPalette (VOID)
{
  IoWrite8 (0x3C8, 0);
  for (UINT8 Index = 0; Index < 64; Index++) {
    const UINT8 Red   = (UINT8)((((Index >> 2) & 1) * 2 + ((Index >> 5) & 1)) * 21);
    const UINT8 Green = (UINT8)((((Index >> 1) & 1) * 2 + ((Index >> 4) & 1)) * 21);
    const UINT8 Blue  = (UINT8)((((Index >> 0) & 1) * 2 + ((Index >> 3) & 1)) * 21);
    IoWrite8 (0x3C9, Red);
    IoWrite8 (0x3C9, Green);
    IoWrite8 (0x3C9, Blue);
  }
}

/// Copies the firmware's own narrow glyphs (8 x 19, from the HII font
/// database) into plane 2 as an 8 x 16 text font: rows 2 to 17 of each
/// glyph, which hold the letter shapes. Codes without a glyph stay blank.
VOID
LoadTextFont (VOID)
{
  EFI_HII_FONT_PROTOCOL *HiiFont = nullptr;

  // Plane 2 alone, sequential addressing, window at 0xA0000.
  IndexedWrite (0x3C4, 0x02, 0x04);
  IndexedWrite (0x3C4, 0x04, 0x07);
  IndexedWrite (0x3CE, 0x04, 0x02);
  IndexedWrite (0x3CE, 0x05, 0x00);
  IndexedWrite (0x3CE, 0x06, 0x04);

  for (UINTN Offset = 0; Offset < 256 * kFontStride; Offset++) {
    mLegacyWindow[Offset] = 0;
  }

  if (!EFI_ERROR (gBS->LocateProtocol (&gEfiHiiFontProtocolGuid, nullptr, reinterpret_cast<VOID **> (&HiiFont)))) {
    for (CHAR16 Code = 0x21; Code < 0x7F; Code++) {
      EFI_IMAGE_OUTPUT *Glyph = nullptr;
      if (EFI_ERROR (HiiFont->GetGlyph (HiiFont, Code, nullptr, &Glyph, nullptr)) || (Glyph == nullptr)) {
        continue;
      }

      const EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Pixels = Glyph->Image.Bitmap;
      for (UINTN Row = 0; Row < kFontRows && Row + 2 < Glyph->Height; Row++) {
        UINT8 Bits = 0;
        for (UINTN Column = 0; Column < 8 && Column < Glyph->Width; Column++) {
          const EFI_GRAPHICS_OUTPUT_BLT_PIXEL &Pixel = Pixels[(Row + 2) * Glyph->Width + Column];
          Bits |= (Pixel.Red | Pixel.Green | Pixel.Blue) > 0x80 ? (UINT8)(0x80 >> Column) : 0;
        }

        mLegacyWindow[Code * kFontStride + Row] = Bits;
      }

      FreePool (Glyph->Image.Bitmap);
      FreePool (Glyph);
    }
  }

  // Back to odd/even text addressing at 0xB8000.
  IndexedWrite (0x3C4, 0x02, 0x03);
  IndexedWrite (0x3C4, 0x04, 0x02);
  IndexedWrite (0x3CE, 0x04, 0x00);
  IndexedWrite (0x3CE, 0x05, 0x10);
  IndexedWrite (0x3CE, 0x06, 0x0E);
}

} // namespace

/**
  Switches the machine VGA from its Bochs graphics mode to 80 x 25 colour
  text, loads a font and the EGA palette, and blanks the text memory at
  0xB8000, which from then on is decoded and shown.
**/
extern "C" EFI_STATUS EFIAPI
ShowVgaText (IN EMULATED_PLATFORM_PROTOCOL *This)
{
  if (!mPlatform.FrameBufferOnVga) {
    return EFI_UNSUPPORTED;
  }

  DispiWrite (kDispiEnable, 0);
  IoWrite8 (0x3C2, 0x67);
  for (UINT8 Index = 0; Index < sizeof (kTextSequencer); Index++) {
    IndexedWrite (0x3C4, Index, kTextSequencer[Index]);
  }

  IndexedWrite (0x3D4, 0x11, 0x0E); // unlock CRTC registers 0-7
  for (UINT8 Index = 0; Index < sizeof (kTextCrtc); Index++) {
    IndexedWrite (0x3D4, Index, kTextCrtc[Index]);
  }

  for (UINT8 Index = 0; Index < sizeof (kTextGraphics); Index++) {
    IndexedWrite (0x3CE, Index, kTextGraphics[Index]);
  }

  IoRead8 (0x3DA);
  for (UINT8 Index = 0; Index < sizeof (kTextAttribute); Index++) {
    IoWrite8 (0x3C0, Index);
    IoWrite8 (0x3C0, kTextAttribute[Index]);
  }

  IoWrite8 (0x3C0, 0x20);
  LoadTextPalette ();
  LoadTextFont ();

  volatile UINT16 *Cells = reinterpret_cast<volatile UINT16 *> ((UINTN)0xB8000);
  for (UINTN Cell = 0; Cell < 80 * 25; Cell++) {
    Cells[Cell] = 0x0720; // grey blank
  }

  return EFI_SUCCESS;
}
