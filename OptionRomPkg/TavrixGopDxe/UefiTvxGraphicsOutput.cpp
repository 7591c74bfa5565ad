/** @file
  TavrixGopDxe: the Graphics Output service, the fixed display mode and
  register tables, and the programming of the display controller.

  The controller has two display channels. The mode set always drives
  channel B; the channel A path is kept for clock requests that select it.
  Control registers are 32-bit registers in BAR 1, the frame buffer is BAR 0,
  and every access goes through the controller's PCI I/O protocol.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "UefiTvxGraphicsOutput.h"

extern "C" {
#include <IndustryStandard/Acpi.h>
}

//
// Display timings (VESA DMT) and the mode table built on them.
//
constexpr DISPLAY_TIMING mTiming640x480   = { 800, 640, 656, 96, 1, 525, 480, 490, 2, 1, 25175000, 31469, 60, 1 };
constexpr DISPLAY_TIMING mTiming800x600   = { 1056, 800, 840, 128, 0, 628, 600, 601, 4, 0, 40000000, 37879, 60, 1 };
constexpr DISPLAY_TIMING mTiming1024x768  = { 1344, 1024, 1048, 136, 1, 806, 768, 771, 6, 1, 65000000, 48363, 60, 1 };
constexpr DISPLAY_TIMING mTiming1280x1024 = {
  1688, 1280, 1328, 112, 0, 1066, 1024, 1025, 3, 0, 108000000, 63981, 60, 1
};

constexpr DISPLAY_MODE_ENTRY mDisplayModeTable[DISPLAY_MODE_COUNT] = {
  { 640, 480, 32, 60, &mTiming640x480 },
  { 800, 600, 32, 60, &mTiming800x600 },
  { 1024, 768, 32, 60, &mTiming1024x768 },
  { 1280, 1024, 32, 60, &mTiming1280x1024 },
};

//
// Applied once before the first mode set. Every row clears all bits, so each
// register ends up holding exactly SetBits; the register is still read first.
//
constexpr REGISTER_INIT_ENTRY mRegisterInitTable[4] = {
  { 0x802B0, 0x01D40A02, 0xFFFFFFFF },
  { 0x802B4, 0x106B851E, 0xFFFFFFFF },
  { 0x802B8, 0x03B40101, 0xFFFFFFFF },
  { 0x802BC, 0x00000000, 0xFFFFFFFF },
};

//
// The tables above against the controller's facts: the modes the controller
// header lists, in its order, and the clock initialisation words it names.
//
namespace {
struct MODE_SIZE {
  UINT32 Width;
  UINT32 Height;
};

#define TAVRIX_MODE_SIZE(Width, Height) { Width, Height },
constexpr MODE_SIZE mControllerModes[] = { TAVRIX_GOP_MODES (TAVRIX_MODE_SIZE) };
#undef TAVRIX_MODE_SIZE

constexpr bool
TablesMatchController (VOID)
{
  for (UINTN Index = 0; Index < DISPLAY_MODE_COUNT; Index++) {
    if ((mDisplayModeTable[Index].HorizontalResolution != mControllerModes[Index].Width) ||
        (mDisplayModeTable[Index].VerticalResolution != mControllerModes[Index].Height) ||
        (mDisplayModeTable[Index].Timing->HorizontalDisplayEnd != mControllerModes[Index].Width) ||
        (mDisplayModeTable[Index].Timing->VerticalDisplayEnd != mControllerModes[Index].Height))
    {
      return false;
    }
  }

  for (UINTN Index = 0; Index < ARRAY_SIZE (mRegisterInitTable); Index++) {
    if (mRegisterInitTable[Index].Register != TAVRIX_REG_B_CLOCK_INIT + 4 * Index) {
      return false;
    }
  }

  return true;
}
} // namespace

static_assert (DISPLAY_MODE_COUNT == TAVRIX_GOP_MODE_COUNT, "one mode-table row per controller mode");
static_assert (ARRAY_SIZE (mControllerModes) == TAVRIX_GOP_MODE_COUNT, "the controller's mode list");
static_assert (TablesMatchController (), "mode and initialisation tables follow the controller header");

namespace {

/// The frame-buffer clear covers the largest mode, 1280 x 1024 words.
constexpr UINTN FRAME_BUFFER_CLEAR_WORDS = 0x140000;
static_assert (FRAME_BUFFER_CLEAR_WORDS * 4 <= TAVRIX_FRAME_BUFFER_SIZE, "the clear stays inside BAR 0");

/// Reference clock the mode set puts in its clock request.
constexpr UINT32 CLOCK_INPUT_FREQUENCY = 14318181;

/// Writes of channel A's display control before the mode set gives up on
/// reading it back; real hardware settles after one or two.
constexpr UINTN DISPLAY_CONTROL_WRITE_TRIES = 1000;

constexpr UINT32 GRAPHICS_MODE_INFO_SIZE = sizeof (EFI_GRAPHICS_OUTPUT_MODE_INFORMATION);
static_assert (GRAPHICS_MODE_INFO_SIZE == 36, "GOP mode information is 36 bytes");

/// Channel B pixel-clock words, keyed by the active resolution.
typedef struct {
  UINT32 HorizontalDisplayEnd;
  UINT32 VerticalDisplayEnd;
  UINT32 ControlWord;
  UINT32 SecondWord;
} PIXEL_CLOCK_ENTRY;

constexpr PIXEL_CLOCK_ENTRY mChannelBPixelClockTable[] = {
  { 800, 600, 0x23940801, 0x30000000 },   { 1024, 768, 0x23940D01, 0x40000000 },
  { 1152, 864, 0x23540FC2, 0x70000000 },  { 1280, 720, 0x23941DC2, 0x602B6AE7 },
  { 1280, 768, 0x23941001, 0x70000000 },  { 1280, 960, 0x23B41B01, 0x80000000 },
  { 1280, 1024, 0x23B41B01, 0x80000000 }, { 1600, 1200, 0x23480681, 0xA0000000 },
  { 1920, 1080, 0x23541DC2, 0xB0CCCCCD }, { 1920, 1200, 0x234807C1, 0xC0872B02 },
};

/// Words for any resolution the table does not list (640 x 480 among ours).
constexpr PIXEL_CLOCK_ENTRY mChannelBPixelClockDefault = { 0, 0, 0x23D40F02, 0x206B851E };

//
// Register-field packing.
//
constexpr UINT32
LinePitch (UINT32 HorizontalResolution, UINT32 BitsPerPixel)
{
  return ((HorizontalResolution + 15) & ~15U) * (BitsPerPixel / 8);
}

constexpr UINT32
PitchWord (UINT32 Pitch)
{
  return ((Pitch & 0x3FFF) << 16) | (Pitch & 0x3FFF);
}

constexpr UINT32
PixelFormatCode (UINT32 BitsPerPixel)
{
  return (BitsPerPixel == 8) ? 0 : ((BitsPerPixel == 16) ? 1 : 2);
}

constexpr UINT32
ClockControlWord (const CLOCK_REQUEST &Request)
{
  return Request.PllSettingA | ((Request.PllSettingB & 0xF) << 8) | ((Request.PllSettingC & 0x3) << 12) |
         ((Request.PllSettingD & 0x3) << 14) | 0x20000;
}

/// Value minus one under a field mask, as the raster fields hold it.
constexpr UINT32
LessOne (UINT32 Value, UINT32 Mask)
{
  return (Value - 1) & Mask;
}

constexpr UINT32
ActiveSizeWord (const DISPLAY_TIMING &Timing)
{
  return (LessOne (Timing.VerticalDisplayEnd, 0x7FF) << 16) | LessOne (Timing.HorizontalDisplayEnd, 0x7FF);
}

/// The four raster-timing words, identical on both channels.
struct RASTER_WORDS {
  UINT32 Word[4];
};

constexpr RASTER_WORDS
RasterWords (const DISPLAY_TIMING &Timing)
{
  return RASTER_WORDS{ { (LessOne (Timing.HorizontalTotal, 0xFFF) << 16) | LessOne (Timing.HorizontalDisplayEnd, 0xFFF),
                         ((UINT32)Timing.HorizontalSyncWidth << 16) | LessOne (Timing.HorizontalSyncStart, 0xFFF),
                         (LessOne (Timing.VerticalTotal, 0x7FF) << 16) | LessOne (Timing.VerticalDisplayEnd, 0x7FF),
                         ((Timing.VerticalSyncHeight & 0x3F) << 16) | LessOne (Timing.VerticalSyncStart, 0x7FF) } };
}

/// A timing record fits the register fields it is packed into and agrees
/// with its mode row and its own line rate.
constexpr bool
TimingFitsRegisters (const DISPLAY_MODE_ENTRY &Entry)
{
  const DISPLAY_TIMING &T = *Entry.Timing;

  return T.HorizontalTotal >= 1 && T.HorizontalTotal <= 4096 && T.HorizontalSyncStart >= 1 &&
         T.HorizontalSyncStart <= 4096 && T.HorizontalDisplayEnd >= 1 && T.HorizontalDisplayEnd <= 2048 &&
         T.VerticalTotal >= 1 && T.VerticalTotal <= 2048 && T.VerticalDisplayEnd >= 1 && T.VerticalDisplayEnd <= 2048 &&
         T.VerticalSyncStart >= 1 && T.VerticalSyncStart <= 2048 && T.VerticalSyncHeight <= 63 &&
         LinePitch (Entry.HorizontalResolution, Entry.ColorDepth) <= 16383 &&
         Entry.HorizontalResolution == T.HorizontalDisplayEnd && Entry.VerticalResolution == T.VerticalDisplayEnd &&
         T.HorizontalFrequency == (T.PixelClock + T.HorizontalTotal / 2) / T.HorizontalTotal;
}

constexpr bool
AllTimingsFit (VOID)
{
  for (const DISPLAY_MODE_ENTRY &Entry : mDisplayModeTable) {
    if (!TimingFitsRegisters (Entry)) {
      return false;
    }
  }

  return true;
}

static_assert (AllTimingsFit (), "a display timing does not fit its register fields");

const PIXEL_CLOCK_ENTRY &
LookUpPixelClock (const DISPLAY_TIMING &Timing)
{
  for (const PIXEL_CLOCK_ENTRY &Entry : mChannelBPixelClockTable) {
    if ((Entry.HorizontalDisplayEnd == Timing.HorizontalDisplayEnd) && (Entry.VerticalDisplayEnd == Timing.VerticalDisplayEnd)) {
      return Entry;
    }
  }

  return mChannelBPixelClockDefault;
}

VOID
ModifyControllerRegister (DISPLAY_DEVICE_CONTEXT *Context, UINT64 Register, UINT32 AndMask, UINT32 OrMask)
{
  WriteControllerRegister (Context, Register, (ReadControllerRegister (Context, Register) & AndMask) | OrMask);
}

/// Writes one byte to a legacy VGA I/O port of the controller.
VOID
WriteVgaPort (DISPLAY_DEVICE_CONTEXT *Context, UINT64 Port, UINT8 Value)
{
  //
  // Nothing depends on these writes succeeding; the mode set goes on.
  //
  Context->PciIo->Io.Write (Context->PciIo, EfiPciIoWidthUint8, EFI_PCI_IO_PASS_THROUGH_BAR, Port, 1, &Value);
}

/// Sets bit 2 in the enable set that register 0x4C selects.
VOID
ProgramEnableBits (DISPLAY_DEVICE_CONTEXT *Context)
{
  UINT32 Enable;
  UINT32 Select;

  Enable = ReadControllerRegister (Context, TAVRIX_REG_ENABLE_CURRENT);
  Select = ReadControllerRegister (Context, TAVRIX_REG_ENABLE_SELECT) & 0x3;
  WriteControllerRegister (Context, (Select == 1) ? TAVRIX_REG_ENABLE_SET1 : TAVRIX_REG_ENABLE_SET0, Enable | 0x4);
}

VOID
ProgramChannelB (
  DISPLAY_DEVICE_CONTEXT *Context,
  const DISPLAY_TIMING   &Timing,
  UINT32                  ClockWord,
  UINT32                  FormatCode,
  UINT32                  Pitch
)
{
  const RASTER_WORDS Raster = RasterWords (Timing);
  UINT32             Control;

  WriteControllerRegister (Context, TAVRIX_REG_B_CLOCK_CONTROL, ClockWord);
  WriteControllerRegister (Context, TAVRIX_REG_B_204, 0x80000000);
  WriteControllerRegister (Context, TAVRIX_REG_B_PITCH, PitchWord (Pitch));
  for (UINT32 Index = 0; Index < 4; Index++) {
    WriteControllerRegister (Context, TAVRIX_REG_B_RASTER + 4 * Index, Raster.Word[Index]);
  }

  Control = FormatCode | 0x80104;
  if (Timing.HorizontalSyncPolarity != 0) {
    Control |= 0x1000;
  }

  if (Timing.VerticalSyncPolarity != 0) {
    Control |= 0x2000;
  }

  ProgramChannelBClock (Context, &Timing, Control);
}

/// Writes channel A's display control until the bits it keeps read back.
VOID
WriteChannelADisplayControl (DISPLAY_DEVICE_CONTEXT *Context, UINT32 Value)
{
  for (UINTN Try = 0; Try < DISPLAY_CONTROL_WRITE_TRIES; Try++) {
    WriteControllerRegister (Context, TAVRIX_REG_A_DISPLAY_CONTROL, Value);
    if ((ReadControllerRegister (Context, TAVRIX_REG_A_DISPLAY_CONTROL) & 0x3F0F7FFF) == Value) {
      return;
    }
  }

  DEBUG (
    (DEBUG_ERROR, "TavrixGopDxe: display control 0x%08x of channel A did not read back after %d writes\n", Value,
     (UINT32)DISPLAY_CONTROL_WRITE_TRIES)
  );
}

VOID
ProgramChannelA (
  DISPLAY_DEVICE_CONTEXT *Context,
  const DISPLAY_TIMING   &Timing,
  UINT32                  ClockWord,
  UINT32                  FormatCode,
  UINT32                  Pitch,
  UINT32                  ClockSelect
)
{
  const RASTER_WORDS Raster = RasterWords (Timing);
  UINT32             Flags;

  WriteControllerRegister (Context, TAVRIX_REG_A_CLOCK_CONTROL, ClockWord);
  if (ClockSelect == CLOCK_SELECT_CHANNEL_A_EXTRA) {
    WriteControllerRegister (Context, TAVRIX_REG_A_CLOCK_CONTROL, ClockWord);
    ModifyControllerRegister (Context, TAVRIX_REG_A_EXTRA, 0xFFFFFFFF, 0x4);
    ModifyControllerRegister (Context, TAVRIX_REG_A_EXTRA, 0xFFFFFFFF, 0x2);
    ModifyControllerRegister (Context, TAVRIX_REG_A_DISPLAY_CONTROL, 0xCFFFFFFF, 0);
    ModifyControllerRegister (Context, TAVRIX_REG_B_DISPLAY_CONTROL, 0xFFF3FFFF, 0);
  }

  WriteControllerRegister (Context, TAVRIX_REG_A_0C, 0);
  WriteControllerRegister (Context, TAVRIX_REG_A_PITCH, PitchWord (Pitch));
  WriteControllerRegister (Context, TAVRIX_REG_A_HORIZONTAL_END, LessOne (Timing.HorizontalDisplayEnd, 0xFFF) << 16);
  WriteControllerRegister (Context, TAVRIX_REG_A_VERTICAL_END, LessOne (Timing.VerticalDisplayEnd, 0xFFF) << 16);
  WriteControllerRegister (Context, TAVRIX_REG_A_1C, 0);
  WriteControllerRegister (Context, TAVRIX_REG_A_ACTIVE_SIZE, ActiveSizeWord (Timing));
  for (UINT32 Index = 0; Index < 4; Index++) {
    WriteControllerRegister (Context, TAVRIX_REG_A_RASTER + 4 * Index, Raster.Word[Index]);
  }

  Flags = FormatCode | 0x104;
  if (Timing.HorizontalSyncPolarity != 0) {
    Flags |= 0x1000;
  }

  if (Timing.VerticalSyncPolarity != 0) {
    Flags |= 0x2000;
  }

  if (Timing.ClockPolarity != 0) {
    Flags |= 0x4000;
  }

  WriteChannelADisplayControl (
    Context, (ReadControllerRegister (Context, TAVRIX_REG_A_DISPLAY_CONTROL) & 0x3F0F0EA8) | Flags
  );
}

/// 8-bit modes get a 6x6x6 colour cube and 40 greys, all others a grey ramp.
UINT32
PaletteEntry (UINT32 Index, UINT32 BitsPerPixel)
{
  if (BitsPerPixel != 8) {
    return Index * 0x010101;
  }

  if (Index < 216) {
    return ((Index / 36) * 51 << 16) | (((Index / 6) % 6) * 51 << 8) | ((Index % 6) * 51);
  }

  //
  // The grey levels follow a running value that starts at 1 and grows by 654.
  //
  return ((1 + 654 * (Index - 216) + 50) / 100) * 0x010101;
}

VOID
LoadPalette (DISPLAY_DEVICE_CONTEXT *Context, UINT64 PaletteBase, UINT32 BitsPerPixel)
{
  for (UINT32 Index = 0; Index < TAVRIX_PALETTE_ENTRIES; Index++) {
    WriteControllerRegister (Context, PaletteBase + 4 * Index, PaletteEntry (Index, BitsPerPixel));
  }
}

/// Fills a GOP mode information record for one mode of the mode list.
/// Without a frame-buffer address the mode is offered for Blt only.
VOID
FillModeInformation (EFI_GRAPHICS_OUTPUT_MODE_INFORMATION *Info, const DISPLAY_MODE_DATA &Mode, bool HasFrameBuffer)
{
  ZeroMem (Info, sizeof (*Info));
  Info->Version              = 0;
  Info->HorizontalResolution = Mode.HorizontalResolution;
  Info->VerticalResolution   = Mode.VerticalResolution;
  Info->PixelFormat          = HasFrameBuffer ? PixelBlueGreenRedReserved8BitPerColor : PixelBltOnly;
  Info->PixelsPerScanLine    = Mode.HorizontalResolution;
}

/// BAR 0's base address, or 0 when the controller does not describe it as
/// a memory range.
EFI_PHYSICAL_ADDRESS
FrameBufferAddress (EFI_PCI_IO_PROTOCOL *PciIo)
{
  EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR *Descriptor;
  EFI_PHYSICAL_ADDRESS               Base;
  EFI_STATUS                         Status;

  Descriptor = nullptr;
  Status     = PciIo->GetBarAttributes (PciIo, 0, nullptr, reinterpret_cast<VOID **> (&Descriptor));
  if (EFI_ERROR (Status) || (Descriptor == nullptr)) {
    return 0;
  }

  Base = 0;
  if ((Descriptor->Desc == ACPI_ADDRESS_SPACE_DESCRIPTOR) && (Descriptor->ResType == ACPI_ADDRESS_SPACE_TYPE_MEM)) {
    Base = Descriptor->AddrRangeMin;
  }

  FreePool (Descriptor);
  return Base;
}

/// X + Width <= Limit and Y + Height <= Limit2, without wrapping sums.
bool
RectangleFits (UINTN X, UINTN Y, UINTN Width, UINTN Height, UINTN HorizontalLimit, UINTN VerticalLimit)
{
  return (X <= HorizontalLimit) && (Width <= HorizontalLimit - X) && (Y <= VerticalLimit) &&
         (Height <= VerticalLimit - Y);
}

/// The last byte that a rectangle of the caller's buffer reaches is
/// addressable: its offset does not wrap around.
bool
BufferRectangleAddressable (UINTN X, UINTN Y, UINTN Width, UINTN Height, UINTN Delta)
{
  UINTN LastRow;
  UINTN RowEnd;
  UINTN End;

  return !__builtin_add_overflow (Y, Height - 1, &LastRow) && !__builtin_mul_overflow (LastRow, Delta, &End) &&
         !__builtin_add_overflow (X, Width, &RowEnd) &&
         !__builtin_mul_overflow (RowEnd, sizeof (EFI_GRAPHICS_OUTPUT_BLT_PIXEL), &RowEnd) &&
         !__builtin_add_overflow (End, RowEnd, &End);
}

/// The GOP's arguments that describe one Blt call.
struct BLT_REQUEST {
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Buffer;
  UINTN                          SourceX;
  UINTN                          SourceY;
  UINTN                          DestinationX;
  UINTN                          DestinationY;
  UINTN                          Width;
  UINTN                          Height;
  UINTN                          Delta;
};

EFI_STATUS
ValidateBlt (const DISPLAY_MODE_DATA &Mode, EFI_GRAPHICS_OUTPUT_BLT_OPERATION Operation, const BLT_REQUEST &Request)
{
  const UINTN HRes = Mode.HorizontalResolution;
  const UINTN VRes = Mode.VerticalResolution;

  if ((Operation != EfiBltVideoToVideo) && (Request.Buffer == nullptr)) {
    return EFI_INVALID_PARAMETER;
  }

  //
  // Rectangles in video memory must lie inside the current mode; the sums are
  // tested so that they cannot wrap around.
  //
  if ((Operation == EfiBltVideoToBltBuffer) || (Operation == EfiBltVideoToVideo)) {
    if (!RectangleFits (Request.SourceX, Request.SourceY, Request.Width, Request.Height, HRes, VRes)) {
      return EFI_INVALID_PARAMETER;
    }
  }

  if (Operation != EfiBltVideoToBltBuffer) {
    if (!RectangleFits (Request.DestinationX, Request.DestinationY, Request.Width, Request.Height, HRes, VRes)) {
      return EFI_INVALID_PARAMETER;
    }
  }

  if (Operation == EfiBltVideoToBltBuffer) {
    if (!BufferRectangleAddressable (
          Request.DestinationX, Request.DestinationY, Request.Width, Request.Height, Request.Delta
        )) {
      return EFI_INVALID_PARAMETER;
    }
  } else if (Operation == EfiBltBufferToVideo) {
    if (!BufferRectangleAddressable (Request.SourceX, Request.SourceY, Request.Width, Request.Height, Request.Delta)) {
      return EFI_INVALID_PARAMETER;
    }
  }

  return EFI_SUCCESS;
}

UINT8 *
BufferPixel (const BLT_REQUEST &Request, UINTN X, UINTN Y)
{
  return reinterpret_cast<UINT8 *> (Request.Buffer) + Y * Request.Delta + X * sizeof (EFI_GRAPHICS_OUTPUT_BLT_PIXEL);
}

VOID
BltVideoFill (DISPLAY_DEVICE_CONTEXT *Context, const BLT_REQUEST &Request, UINTN Pitch16, UINTN BytesPerPixel)
{
  EFI_PCI_IO_PROTOCOL *PciIo = Context->PciIo;

  for (UINTN Row = 0; Row < Request.Height; Row++) {
    PciIo->Mem.Write (
      PciIo, EfiPciIoWidthFillUint32, 0,
      ((Request.DestinationY + Row) * Pitch16 + Request.DestinationX) * BytesPerPixel, Request.Width, Request.Buffer
    );
  }
}

VOID
BltVideoToBuffer (DISPLAY_DEVICE_CONTEXT *Context, const BLT_REQUEST &Request, UINTN HRes, UINTN BytesPerPixel)
{
  EFI_PCI_IO_PROTOCOL *PciIo = Context->PciIo;

  for (UINTN Row = 0; Row < Request.Height; Row++) {
    PciIo->Mem.Read (
      PciIo, EfiPciIoWidthUint32, 0, ((Request.SourceY + Row) * HRes + Request.SourceX) * BytesPerPixel, Request.Width,
      BufferPixel (Request, Request.DestinationX, Request.DestinationY + Row)
    );
  }
}

VOID
BltBufferToVideo (DISPLAY_DEVICE_CONTEXT *Context, const BLT_REQUEST &Request, UINTN HRes, UINTN BytesPerPixel)
{
  EFI_PCI_IO_PROTOCOL *PciIo = Context->PciIo;

  for (UINTN Row = 0; Row < Request.Height; Row++) {
    PciIo->Mem.Write (
      PciIo, EfiPciIoWidthUint32, 0, ((Request.DestinationY + Row) * HRes + Request.DestinationX) * BytesPerPixel,
      Request.Width, BufferPixel (Request, Request.SourceX, Request.SourceY + Row)
    );
  }
}

/// Stages the whole source rectangle before writing any destination row, so
/// that overlapping moves (scrolling either way) come out right.
VOID
BltVideoToVideo (DISPLAY_DEVICE_CONTEXT *Context, const BLT_REQUEST &Request, UINTN HRes, UINTN BytesPerPixel)
{
  EFI_PCI_IO_PROTOCOL *PciIo     = Context->PciIo;
  UINT8               *Staging   = static_cast<UINT8 *> (Context->LineBuffer);
  const UINTN          RowLength = Request.Width * BytesPerPixel;

  for (UINTN Row = 0; Row < Request.Height; Row++) {
    PciIo->Mem.Read (
      PciIo, EfiPciIoWidthUint32, 0, ((Request.SourceY + Row) * HRes + Request.SourceX) * BytesPerPixel, Request.Width,
      Staging + Row * RowLength
    );
  }

  for (UINTN Row = 0; Row < Request.Height; Row++) {
    PciIo->Mem.Write (
      PciIo, EfiPciIoWidthUint32, 0, ((Request.DestinationY + Row) * HRes + Request.DestinationX) * BytesPerPixel,
      Request.Width, Staging + Row * RowLength
    );
  }
}

} // namespace

//
// Register access.
//
UINT32
ReadControllerRegister (IN DISPLAY_DEVICE_CONTEXT *Context, IN UINT64 Register)
{
  EFI_STATUS Status;
  UINT32     Value;

  Value  = 0;
  Status = Context->PciIo->Mem.Read (Context->PciIo, EfiPciIoWidthUint32, 1, Register, 1, &Value);
  DISPLAY_ASSERT_EFI_ERROR (Status);
  return Value;
}

VOID
WriteControllerRegister (IN DISPLAY_DEVICE_CONTEXT *Context, IN UINT64 Register, IN UINT32 Value)
{
  EFI_STATUS Status;

  Status = Context->PciIo->Mem.Write (Context->PciIo, EfiPciIoWidthUint32, 1, Register, 1, &Value);
  DISPLAY_ASSERT_EFI_ERROR (Status);
}

VOID
InitializeControllerRegisters (IN DISPLAY_DEVICE_CONTEXT *Context)
{
  for (const REGISTER_INIT_ENTRY &Entry : mRegisterInitTable) {
    ModifyControllerRegister (Context, Entry.Register, ~Entry.ClearBits, Entry.SetBits);
  }
}

VOID
SetControllerMode (IN DISPLAY_DEVICE_CONTEXT *Context, IN CONST DISPLAY_MODE_ENTRY *ModeEntry)
{
  CLOCK_REQUEST ClockRequest;
  UINT32        Zero;

  //
  // Extended CRT controller register 0x88 gets 0x06 before any BAR 1 access.
  //
  WriteVgaPort (Context, TAVRIX_PORT_CRT_INDEX, TAVRIX_CRT_EXT_MODE);
  WriteVgaPort (Context, TAVRIX_PORT_CRT_DATA, 0x06);

  //
  // The PLL settings stay zero: channel B takes its pixel clock from the
  // pixel-clock table, not from the clock control word.
  //
  ZeroMem (&ClockRequest, sizeof (ClockRequest));
  ClockRequest.ClockSelect    = CLOCK_SELECT_CHANNEL_B;
  ClockRequest.InputFrequency = CLOCK_INPUT_FREQUENCY;

  ProgramDisplayTiming (
    Context, ModeEntry->Timing, ModeEntry->ColorDepth,
    LinePitch (ModeEntry->HorizontalResolution, ModeEntry->ColorDepth), &ClockRequest
  );

  //
  // The first mode set after construction keeps what is on the screen (an
  // earlier driver may have drawn there); later ones clear the whole frame of
  // the largest mode. The counter is 8 bits wide and wraps.
  //
  if (Context->ModeSetCount != 0) {
    Zero = 0;
    Context->PciIo->Mem.Write (Context->PciIo, EfiPciIoWidthFillUint32, 0, 0, FRAME_BUFFER_CLEAR_WORDS, &Zero);
  }

  Context->ModeSetCount++;
}

VOID
ProgramDisplayTiming (
  IN DISPLAY_DEVICE_CONTEXT *Context,
  IN CONST DISPLAY_TIMING   *Timing,
  IN UINT32                  BitsPerPixel,
  IN UINT32                  Pitch,
  IN CONST CLOCK_REQUEST    *ClockRequest
)
{
  const UINT32 ClockWord  = ClockControlWord (*ClockRequest);
  const UINT32 FormatCode = PixelFormatCode (BitsPerPixel);

  ProgramEnableBits (Context);
  if (ClockRequest->ClockSelect == CLOCK_SELECT_CHANNEL_B) {
    ProgramChannelB (Context, *Timing, ClockWord, FormatCode, Pitch);
    LoadPalette (Context, TAVRIX_REG_B_PALETTE, BitsPerPixel);
  } else {
    ProgramChannelA (Context, *Timing, ClockWord, FormatCode, Pitch, ClockRequest->ClockSelect);
    LoadPalette (Context, TAVRIX_REG_A_PALETTE, BitsPerPixel);
  }
}

VOID
ProgramChannelBClock (IN DISPLAY_DEVICE_CONTEXT *Context, IN CONST DISPLAY_TIMING *Timing, IN UINT32 DisplayControl)
{
  const PIXEL_CLOCK_ENTRY &Clock = LookUpPixelClock (*Timing);
  UINT32                   Control;

  //
  // The PLL is reloaded with bit 30 clear, then released step by step with
  // the settling delays the controller needs.
  //
  WriteControllerRegister (Context, TAVRIX_REG_B_PIXEL_CLOCK_SECOND, Clock.SecondWord);
  ModifyControllerRegister (Context, TAVRIX_REG_B_PIXEL_CLOCK_CONTROL, ~0x40000000U, 0);
  WriteControllerRegister (Context, TAVRIX_REG_B_PIXEL_CLOCK_CONTROL, 0x21000000);
  WriteControllerRegister (Context, TAVRIX_REG_B_PIXEL_CLOCK_CONTROL, Clock.ControlWord);
  gBS->Stall (5);
  WriteControllerRegister (Context, TAVRIX_REG_B_PIXEL_CLOCK_CONTROL, Clock.ControlWord & ~0x01000000U);
  gBS->Stall (100);
  WriteControllerRegister (Context, TAVRIX_REG_B_PIXEL_CLOCK_CONTROL, Clock.ControlWord & ~0x21000000U);
  gBS->Stall (1);
  WriteControllerRegister (Context, TAVRIX_REG_B_PIXEL_CLOCK_CONTROL, (Clock.ControlWord & ~0x21000000U) | 0x40000000);

  WriteControllerRegister (Context, TAVRIX_REG_B_280, 0);
  WriteControllerRegister (Context, TAVRIX_REG_B_ACTIVE_SIZE, ActiveSizeWord (*Timing));

  Control = (DisplayControl & ~0x4000U) | 0x2000000;
  if (Timing->ClockPolarity == 1) {
    Control |= 0x4000;
  }

  WriteControllerRegister (Context, TAVRIX_REG_B_DISPLAY_CONTROL, Control);
}

//
// Graphics Output service.
//
EFI_STATUS
DisplayGraphicsOutputConstructor (IN DISPLAY_DEVICE_CONTEXT *Context)
{
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop = &Context->GraphicsOutput;

  Gop->QueryMode = DisplayQueryMode;
  Gop->SetMode   = DisplaySetMode;
  Gop->Blt       = DisplayBlt;

  Gop->Mode = static_cast<EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE *> (AllocateZeroPool (sizeof (*Gop->Mode)));
  if (Gop->Mode == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }

  Gop->Mode->Info = static_cast<EFI_GRAPHICS_OUTPUT_MODE_INFORMATION *> (AllocateZeroPool (GRAPHICS_MODE_INFO_SIZE));
  if (Gop->Mode->Info == nullptr) {
    FreePool (Gop->Mode);
    Gop->Mode = nullptr;
    return EFI_OUT_OF_RESOURCES;
  }

  Gop->Mode->MaxMode = DISPLAY_MODE_COUNT;
  Gop->Mode->Mode    = 0xFFFF; // no mode yet, so the first SetMode programs one
  for (UINT32 Index = 0; Index < DISPLAY_MODE_COUNT; Index++) {
    Context->ModeList[Index].HorizontalResolution = mDisplayModeTable[Index].HorizontalResolution;
    Context->ModeList[Index].VerticalResolution   = mDisplayModeTable[Index].VerticalResolution;
    Context->ModeList[Index].ColorDepth           = mDisplayModeTable[Index].ColorDepth;
    Context->ModeList[Index].RefreshRate          = mDisplayModeTable[Index].RefreshRate;
  }

  Context->LineBuffer = nullptr;
  Context->ModeNotSet = TRUE;
  Context->LineBuffer = AllocatePool (DISPLAY_LINE_BUFFER_SIZE);
  if (Context->LineBuffer == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }

  InitializeControllerRegisters (Context);
  Context->ModeSetCount = 0;
  Gop->SetMode (Gop, 0);
  return EFI_SUCCESS;
}

VOID
DisplayGraphicsOutputDestructor (IN DISPLAY_DEVICE_CONTEXT *Context)
{
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop = &Context->GraphicsOutput;

  if (Gop->Mode != nullptr) {
    if (Gop->Mode->Info != nullptr) {
      FreePool (Gop->Mode->Info);
    }

    FreePool (Gop->Mode);
    Gop->Mode = nullptr;
  }

  if (Context->LineBuffer != nullptr) {
    FreePool (Context->LineBuffer);
    Context->LineBuffer = nullptr;
  }
}

extern "C" {

EFI_STATUS
EFIAPI
DisplayQueryMode (
  IN EFI_GRAPHICS_OUTPUT_PROTOCOL           *This,
  IN UINT32                                  ModeNumber,
  OUT UINTN                                 *SizeOfInfo,
  OUT EFI_GRAPHICS_OUTPUT_MODE_INFORMATION **Info
)
{
  DISPLAY_DEVICE_CONTEXT *Context = DISPLAY_CONTEXT_FROM_GOP (This, SignatureCheckQueryMode);

  if (Context->ModeNotSet) {
    return EFI_NOT_STARTED;
  }

  if ((Info == nullptr) || (SizeOfInfo == nullptr) || (ModeNumber >= This->Mode->MaxMode)) {
    return EFI_INVALID_PARAMETER;
  }

  *Info = static_cast<EFI_GRAPHICS_OUTPUT_MODE_INFORMATION *> (AllocatePool (GRAPHICS_MODE_INFO_SIZE));
  if (*Info == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }

  //
  // BAR 0 is the same in every mode: what the current mode learnt holds for all.
  //
  *SizeOfInfo = GRAPHICS_MODE_INFO_SIZE;
  FillModeInformation (*Info, Context->ModeList[ModeNumber], This->Mode->FrameBufferBase != 0);
  return EFI_SUCCESS;
}

EFI_STATUS
EFIAPI
DisplaySetMode (IN EFI_GRAPHICS_OUTPUT_PROTOCOL *This, IN UINT32 ModeNumber)
{
  DISPLAY_DEVICE_CONTEXT            *Context = DISPLAY_CONTEXT_FROM_GOP (This, SignatureCheckSetMode);
  EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE *Mode    = This->Mode;

  if (ModeNumber >= Mode->MaxMode) {
    return EFI_UNSUPPORTED;
  }

  if (ModeNumber == Mode->Mode) {
    return EFI_SUCCESS;
  }

  SetControllerMode (Context, &mDisplayModeTable[ModeNumber]);

  //
  // Without BAR 0's address there is no frame buffer to offer: a consumer
  // would write to the null page. Blt works either way, through PCI I/O.
  //
  Mode->Mode            = ModeNumber;
  Mode->FrameBufferBase = FrameBufferAddress (Context->PciIo);
  FillModeInformation (Mode->Info, Context->ModeList[ModeNumber], Mode->FrameBufferBase != 0);
  Mode->SizeOfInfo = GRAPHICS_MODE_INFO_SIZE;
  Mode->FrameBufferSize =
    (Mode->FrameBufferBase == 0) ? 0 : (UINT32)(Mode->Info->VerticalResolution * Mode->Info->HorizontalResolution * 4);

  Context->ModeNotSet = FALSE;
  return EFI_SUCCESS;
}

EFI_STATUS
EFIAPI
DisplayBlt (
  IN EFI_GRAPHICS_OUTPUT_PROTOCOL     *This,
  IN EFI_GRAPHICS_OUTPUT_BLT_PIXEL    *BltBuffer OPTIONAL,
  IN EFI_GRAPHICS_OUTPUT_BLT_OPERATION BltOperation,
  IN UINTN                             SourceX,
  IN UINTN                             SourceY,
  IN UINTN                             DestinationX,
  IN UINTN                             DestinationY,
  IN UINTN                             Width,
  IN UINTN                             Height,
  IN UINTN                             Delta OPTIONAL
)
{
  DISPLAY_DEVICE_CONTEXT *Context = DISPLAY_CONTEXT_FROM_GOP (This, SignatureCheckBlt);
  BLT_REQUEST             Request = { BltBuffer, SourceX, SourceY, DestinationX, DestinationY, Width, Height, Delta };
  EFI_STATUS              Status;
  EFI_TPL                 OldTpl;

  if (((UINT32)BltOperation > EfiBltVideoToVideo) || (Width == 0) || (Height == 0)) {
    return EFI_INVALID_PARAMETER;
  }

  if (Request.Delta == 0) {
    Request.Delta = Width * sizeof (EFI_GRAPHICS_OUTPUT_BLT_PIXEL);
  }

  const DISPLAY_MODE_DATA &Mode = Context->ModeList[This->Mode->Mode];

  Status = ValidateBlt (Mode, BltOperation, Request);
  if (EFI_ERROR (Status)) {
    return Status;
  }

  const UINTN HRes          = Mode.HorizontalResolution;
  const UINTN BytesPerPixel = Mode.ColorDepth / 8;

  //
  // No timer or notification may draw between the rows of one Blt.
  //
  OldTpl = gBS->RaiseTPL (TPL_NOTIFY);
  switch (BltOperation) {
    case EfiBltVideoFill:
      BltVideoFill (Context, Request, (HRes + 15) & ~(UINTN)15, BytesPerPixel);
      break;
    case EfiBltVideoToBltBuffer:
      BltVideoToBuffer (Context, Request, HRes, BytesPerPixel);
      break;
    case EfiBltBufferToVideo:
      BltBufferToVideo (Context, Request, HRes, BytesPerPixel);
      break;
    default:
      BltVideoToVideo (Context, Request, HRes, BytesPerPixel);
      break;
  }

  gBS->RestoreTPL (OldTpl);
  return EFI_SUCCESS;
}

} // extern "C"
