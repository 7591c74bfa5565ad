/** @file
  The GOP driver on the road: the one of the firmware volume, started again
  by the firmware's ConnectController on the controller; the registers it
  programs, its GOP's modes and Blt, its names, and 20 disconnect/reconnect
  cycles.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "RoadCheck.h"
#include <ShippedModeRegisters.h>

extern "C" {
#include <Library/DevicePathLib.h>
#include <Library/PrintLib.h>
#include <Protocol/ComponentName.h>
#include <Protocol/DevicePath.h>
#include <Protocol/DriverBinding.h>
}

namespace {

constexpr UINT64 kFrameClearBytes = 5242880;
constexpr UINT32 kAdrDisplay      = 0x80010100;
constexpr UINTN  kBlockBase       = 0x80000; // display registers, palettes, clock words
constexpr UINTN  kBlockSize       = 0x1000;

/**
  The state right after Start, taken by a GOP-arrival notification at
  TPL_NOTIFY: the firmware's connect logic goes on to stack its console on
  the new GOP (which sets another mode) before ConnectController returns.
**/
struct START_SNAPSHOT {
  BOOLEAN                              Taken;
  EFI_HANDLE                           Controller;
  EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE    Mode;
  EFI_GRAPHICS_OUTPUT_MODE_INFORMATION Info;
  UINT8                                Registers[kBlockSize];
};

START_SNAPSHOT mStart;

extern "C" VOID EFIAPI
OnGopArrival (IN EFI_EVENT Event, IN VOID *Context)
{
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop   = nullptr;
  EFI_PCI_IO_PROTOCOL          *PciIo = nullptr;

  if (mStart.Taken ||
      EFI_ERROR (gBS->HandleProtocol (mStart.Controller, &gEfiGraphicsOutputProtocolGuid, reinterpret_cast<VOID **> (&Gop))) ||
      EFI_ERROR (gBS->HandleProtocol (mStart.Controller, &gEfiPciIoProtocolGuid, reinterpret_cast<VOID **> (&PciIo))))
  {
    return;
  }

  CopyMem (&mStart.Mode, Gop->Mode, sizeof (mStart.Mode));
  CopyMem (&mStart.Info, Gop->Mode->Info, sizeof (mStart.Info));
  PciIo->Mem.Read (PciIo, EfiPciIoWidthUint32, 1, kBlockBase, kBlockSize / 4, mStart.Registers);
  mStart.Taken = TRUE;
}

inline UINT32
BlockRegister (const UINT8 *Block, UINTN Offset)
{
  return *reinterpret_cast<const UINT32 *> (Block + Offset - kBlockBase);
}

/// Registers of channel B that differ from the mode's table row.
UINTN
ModeRegisterMismatches (const UINT8 *Block, UINT32 Mode)
{
  const SHIPPED_MODE &Expected = kShippedModes[Mode];
  UINTN               Wrong    = 0;

  Wrong += BlockRegister (Block, TAVRIX_REG_B_PITCH) != Expected.Pitch;
  for (UINTN Index = 0; Index < 4; Index++) {
    Wrong += BlockRegister (Block, TAVRIX_REG_B_RASTER + 4 * Index) != Expected.Raster[Index];
  }

  Wrong += BlockRegister (Block, TAVRIX_REG_B_ACTIVE_SIZE) != Expected.ActiveSize;
  Wrong += BlockRegister (Block, TAVRIX_REG_B_PIXEL_CLOCK_SECOND) != Expected.PixelClockSecond;
  Wrong += BlockRegister (Block, TAVRIX_REG_B_PIXEL_CLOCK_CONTROL) != Expected.PixelClockFinal;
  Wrong += BlockRegister (Block, TAVRIX_REG_B_DISPLAY_CONTROL) != Expected.DisplayControl;
  Wrong += BlockRegister (Block, TAVRIX_REG_B_204) != 0x80000000;
  Wrong += BlockRegister (Block, TAVRIX_REG_B_280) != 0;
  for (UINT32 Entry = 0; Entry < TAVRIX_PALETTE_ENTRIES; Entry++) {
    Wrong += BlockRegister (Block, TAVRIX_REG_B_PALETTE + 4 * Entry) != Entry * 0x010101;
  }

  return Wrong;
}

} // namespace

/// The child handle: the controller's path plus ACPI _ADR 0x80010100.
EFI_HANDLE
FindOutputChild (ROAD &Road, UINTN *Count)
{
  EFI_DEVICE_PATH_PROTOCOL *Parent = DevicePathFromHandle (Road.ControllerHandle);
  const UINTN               Prefix = GetDevicePathSize (Parent) - END_DEVICE_PATH_LENGTH;
  UINTN                     HandleCount;
  EFI_HANDLE               *Handles;
  EFI_HANDLE                Child = nullptr;

  *Count = 0;
  if (EFI_ERROR (gBS->LocateHandleBuffer (ByProtocol, &gEfiDevicePathProtocolGuid, nullptr, &HandleCount, &Handles))) {
    return nullptr;
  }

  for (UINTN Index = 0; Index < HandleCount; Index++) {
    EFI_DEVICE_PATH_PROTOCOL *Path = DevicePathFromHandle (Handles[Index]);
    if ((GetDevicePathSize (Path) != Prefix + 8 + END_DEVICE_PATH_LENGTH) || (CompareMem (Path, Parent, Prefix) != 0)) {
      continue;
    }

    const auto *Node = reinterpret_cast<const ACPI_ADR_DEVICE_PATH *> (reinterpret_cast<const UINT8 *> (Path) + Prefix);
    if ((Node->Header.Type == ACPI_DEVICE_PATH) && (Node->Header.SubType == ACPI_ADR_DP) && (Node->ADR == kAdrDisplay)) {
      Child = (Child == nullptr) ? Handles[Index] : Child;
      (*Count)++;
    }
  }

  FreePool (Handles);
  return Child;
}

/// Whether Child is recorded as a child of the controller (PCI I/O opened
/// BY_CHILD_CONTROLLER for it).
BOOLEAN
IsChildOfController (ROAD &Road, EFI_HANDLE Child)
{
  EFI_OPEN_PROTOCOL_INFORMATION_ENTRY *Entries;
  UINTN                                Count;
  BOOLEAN                              Found = FALSE;

  if (EFI_ERROR (gBS->OpenProtocolInformation (Road.ControllerHandle, &gEfiPciIoProtocolGuid, &Entries, &Count))) {
    return FALSE;
  }

  for (UINTN Index = 0; Index < Count; Index++) {
    Found |=
      (Entries[Index].ControllerHandle == Child) && (Entries[Index].Attributes & EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER);
  }

  FreePool (Entries);
  return Found;
}

EFI_GRAPHICS_OUTPUT_PROTOCOL *
ControllerGop (ROAD &Road)
{
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop = nullptr;

  gBS->HandleProtocol (Road.ControllerHandle, &gEfiGraphicsOutputProtocolGuid, reinterpret_cast<VOID **> (&Gop));
  return Gop;
}

namespace {

VOID
CheckModeRecord (
  ROAD                                       &Road,
  UINT32                                      Mode,
  const EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE    &Record,
  const EFI_GRAPHICS_OUTPUT_MODE_INFORMATION &Info
)
{
  const SHIPPED_MODE &Row = kShippedModes[Mode];
  CHAR8               Name[96];

  AsciiSPrint (
    Name, sizeof (Name), "GOP mode record for mode %u (%u x %u, BGR 32 bpp, frame buffer = BAR 0)", Mode, Row.Width,
    Row.Height
  );
  Check (
    Name,
    Record.MaxMode == 4 && Record.Mode == Mode && Record.SizeOfInfo == 36 && Info.HorizontalResolution == Row.Width &&
      Info.VerticalResolution == Row.Height && Info.PixelFormat == PixelBlueGreenRedReserved8BitPerColor &&
      Info.PixelsPerScanLine == Row.Width && Record.FrameBufferBase == Road.FrameBufferBase &&
      Record.FrameBufferSize == (UINTN)Row.Width * Row.Height * 4,
    "MaxMode %u, Mode %u, %u x %u, format %u, scan line %u, base 0x%lx, size %lu", Record.MaxMode, Record.Mode,
    Info.HorizontalResolution, Info.VerticalResolution, Info.PixelFormat, Info.PixelsPerScanLine,
    Record.FrameBufferBase, (UINT64)Record.FrameBufferSize
  );
}

} // namespace

/**
  Lets the firmware connect the GOP driver of its firmware volume to the
  controller again (this driver only), then checks what Start did.
**/
VOID
CheckGopStart (IN ROAD &Road)
{
  EFI_STATUS Status;

  if (Road.GopDriverImage == nullptr) {
    Check ("TavrixGopDxe's image", FALSE, "no driver held the controller");
    return;
  }

  VOID *Binding = nullptr;
  VOID *Names   = nullptr;
  gBS->HandleProtocol (Road.GopDriverImage, &gEfiDriverBindingProtocolGuid, &Binding);
  gBS->HandleProtocol (Road.GopDriverImage, &gEfiComponentNameProtocolGuid, &Names);
  Check (
    "Driver Binding and Component Name on the driver's image handle", Binding != nullptr && Names != nullptr,
    "binding %p, names %p", Binding, Names
  );

  EFI_HANDLE Drivers[] = { Road.GopDriverImage, nullptr };
  EFI_EVENT  Arrival   = nullptr;
  VOID      *Registration;

  mStart.Controller = Road.ControllerHandle;
  mStart.Taken      = FALSE;
  if (!EFI_ERROR (gBS->CreateEvent (EVT_NOTIFY_SIGNAL, TPL_NOTIFY, OnGopArrival, nullptr, &Arrival))) {
    gBS->RegisterProtocolNotify (&gEfiGraphicsOutputProtocolGuid, Arrival, &Registration);
  }

  Status   = gBS->ConnectController (Road.ControllerHandle, Drivers, nullptr, FALSE);
  Road.Gop = ControllerGop (Road);
  if (Arrival != nullptr) {
    gBS->CloseEvent (Arrival);
  }

  Check (
    "ConnectController starts TavrixGopDxe on the controller; GOP on the controller handle",
    Status == EFI_SUCCESS && Road.Gop != nullptr && mStart.Taken, "%r, GOP %p", Status, Road.Gop
  );
  if ((Road.Gop == nullptr) || !mStart.Taken) {
    return;
  }

  UINTN      Children;
  EFI_HANDLE Child = FindOutputChild (Road, &Children);
  Check (
    "a child handle carries the controller's path + ACPI _ADR(0x80010100), recorded as child",
    Child != nullptr && IsChildOfController (Road, Child), "child %p", Child
  );
  EFI_PCI_IO_PROTOCOL *PciIo      = nullptr;
  UINT64               Attributes = 0;
  gBS->HandleProtocol (Road.ControllerHandle, &gEfiPciIoProtocolGuid, reinterpret_cast<VOID **> (&PciIo));
  if (PciIo != nullptr) {
    PciIo->Attributes (PciIo, EfiPciIoAttributeOperationGet, 0, &Attributes);
  }

  Check (
    "Start enables I/O, memory and bus mastering (0x700)", (Attributes & 0x700) == 0x700, "attributes 0x%lx", Attributes
  );
  Check (
    "register initialisation table applied (0x802B0-0x802BC)",
    BlockRegister (mStart.Registers, 0x802B0) == 0x01D40A02 &&
      BlockRegister (mStart.Registers, 0x802B4) == 0x106B851E &&
      BlockRegister (mStart.Registers, 0x802B8) == 0x03B40101 && BlockRegister (mStart.Registers, 0x802BC) == 0,
    "0x%08x 0x%08x 0x%08x 0x%08x", BlockRegister (mStart.Registers, 0x802B0), BlockRegister (mStart.Registers, 0x802B4),
    BlockRegister (mStart.Registers, 0x802B8), BlockRegister (mStart.Registers, 0x802BC)
  );
  const UINTN Wrong = ModeRegisterMismatches (mStart.Registers, 0);
  Check (
    "mode 0 programmed: channel B timing, clock, control and grey palette of 640 x 480", Wrong == 0,
    "%u registers differ", (UINT32)Wrong
  );
  CheckModeRecord (Road, 0, mStart.Mode, mStart.Info);
  Note (
    "the firmware's connect logic went on: GOP now in mode %u (%u x %u)", Road.Gop->Mode->Mode,
    Road.Gop->Mode->Info->HorizontalResolution, Road.Gop->Mode->Info->VerticalResolution
  );
}

namespace {

/// Channel B's block of registers as the controller holds it now.
const UINT8 *
CurrentRegisterBlock (ROAD &Road)
{
  static UINT8         Block[kBlockSize];
  EFI_PCI_IO_PROTOCOL *PciIo = nullptr;

  SetMem (Block, sizeof (Block), 0xFF);
  if (!EFI_ERROR (
        gBS->HandleProtocol (Road.ControllerHandle, &gEfiPciIoProtocolGuid, reinterpret_cast<VOID **> (&PciIo))
      )) {
    PciIo->Mem.Read (PciIo, EfiPciIoWidthUint32, 1, kBlockBase, kBlockSize / 4, Block);
  }

  return Block;
}

/// Marks the first and the last pixel that a mode set clears.
VOID
MarkClearedRange (ROAD &Road, UINT32 Marker)
{
  *FramePixel (Road.FrameBufferBase, 0)                              = Marker;
  *FramePixel (Road.FrameBufferBase, (UINT32)(kFrameClearBytes - 4)) = Marker;
}

BOOLEAN
MarksLeft (ROAD &Road, UINT32 Marker)
{
  return *FramePixel (Road.FrameBufferBase, 0) == Marker &&
         *FramePixel (Road.FrameBufferBase, (UINT32)(kFrameClearBytes - 4)) == Marker;
}

} // namespace

/// SetMode through all four modes and QueryMode of each; the refusals.
VOID
CheckModes (IN ROAD &Road)
{
  constexpr UINT32              kMarker = 0x00C0FFEE;
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop     = Road.Gop;
  const UINT32                  Current = Gop->Mode->Mode;

  MarkClearedRange (Road, kMarker);
  EFI_STATUS Status = Gop->SetMode (Gop, Current);
  Check (
    "SetMode to the current mode succeeds and leaves the frame buffer as it was",
    Status == EFI_SUCCESS && MarksLeft (Road, kMarker), "%r", Status
  );

  for (UINT32 Step = 1; Step <= 4; Step++) {
    const UINT32 Mode = (Current + Step) % 4;
    CHAR8        Name[96];

    MarkClearedRange (Road, kMarker);
    Status              = Gop->SetMode (Gop, Mode);
    const BOOLEAN Clear = *FramePixel (Road.FrameBufferBase, 0) == 0 &&
                          *FramePixel (Road.FrameBufferBase, (UINT32)(kFrameClearBytes - 4)) == 0;
    const UINTN Wrong = ModeRegisterMismatches (CurrentRegisterBlock (Road), Mode);
    AsciiSPrint (
      Name, sizeof (Name), "SetMode(%u) programs %u x %u and clears 5,242,880 bytes of frame buffer", Mode,
      kShippedModes[Mode].Width, kShippedModes[Mode].Height
    );
    Check (
      Name, Status == EFI_SUCCESS && Wrong == 0 && Clear, "%r, %u registers differ, first and last pixel %a", Status,
      (UINT32)Wrong, Clear ? "cleared" : "not cleared"
    );
    CheckModeRecord (Road, Mode, *Gop->Mode, *Gop->Mode->Info);
  }

  Status = Gop->SetMode (Gop, 4);
  Check ("SetMode(4) is refused with Unsupported", Status == EFI_UNSUPPORTED, "%r", Status);

  UINTN Right = 0;
  for (UINT32 Mode = 0; Mode < 4; Mode++) {
    UINTN                                 Size = 0;
    EFI_GRAPHICS_OUTPUT_MODE_INFORMATION *Info = nullptr;
    if (!EFI_ERROR (Gop->QueryMode (Gop, Mode, &Size, &Info))) {
      Right +=
        (Size == 36 && Info->HorizontalResolution == kShippedModes[Mode].Width &&
         Info->VerticalResolution == kShippedModes[Mode].Height &&
         Info->PixelFormat == PixelBlueGreenRedReserved8BitPerColor && Info->PixelsPerScanLine == kShippedModes[Mode].Width)
          ? 1
          : 0;
      FreePool (Info);
    }
  }

  UINTN                                 Size   = 0;
  EFI_GRAPHICS_OUTPUT_MODE_INFORMATION *Info   = nullptr;
  EFI_STATUS                            Four   = Gop->QueryMode (Gop, 4, &Size, &Info);
  EFI_STATUS                            NoInfo = Gop->QueryMode (Gop, 0, &Size, nullptr);
  Check (
    "QueryMode answers all four modes (36-byte records) and refuses mode 4 and a NULL Info",
    Right == 4 && Four == EFI_INVALID_PARAMETER && NoInfo == EFI_INVALID_PARAMETER,
    "%u modes right, mode 4 %r, NULL Info %r", (UINT32)Right, Four, NoInfo
  );
}

//
// Blt, operation by operation. The test rectangles are W x H pixels; the
// pattern buffer is a (W + 8) x (H + 4) picture of distinct pixels, of which
// BufferToVideo takes the W x H part at (4, 2).
//
constexpr UINTN  kBltW       = 64;
constexpr UINTN  kBltH       = 32;
constexpr UINTN  kPatternW   = kBltW + 8;
constexpr UINTN  kPatternH   = kBltH + 4;
constexpr UINT32 kFillColour = 0x00336699;

struct BLT_BUFFERS {
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Pattern; // kPatternW x kPatternH
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Back;    // what is read back, kBltW wide
};

/// Rows of Back that differ from the pattern's W x H part shifted by Shift rows.
UINTN
RowsDifferingFromPattern (const BLT_BUFFERS &Buffers, UINTN Rows, UINTN Shift)
{
  UINTN Wrong = 0;

  for (UINTN Row = 0; Row < Rows; Row++) {
    Wrong +=
      (CompareMem (&Buffers.Back[Row * kBltW], &Buffers.Pattern[(Row + 2 + Shift) * kPatternW + 4], kBltW * 4) != 0)
        ? 1
        : 0;
  }

  return Wrong;
}

/// Video fill: one fill call per row, every pixel the colour.
VOID
CheckBltFill (ROAD &Road, const BLT_BUFFERS &Buffers)
{
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop  = Road.Gop;
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL Fill = { 0x99, 0x66, 0x33, 0 };

  EFI_STATUS Status  = Gop->Blt (Gop, &Fill, EfiBltVideoFill, 0, 0, 100, 50, kBltW, kBltH, 0);
  EFI_STATUS Status2 = Gop->Blt (Gop, Buffers.Back, EfiBltVideoToBltBuffer, 100, 50, 0, 0, kBltW, kBltH, 0);
  UINTN      Wrong   = 0;
  for (UINTN Index = 0; Index < kBltW * kBltH; Index++) {
    Wrong += (*reinterpret_cast<UINT32 *> (&Buffers.Back[Index]) != kFillColour) ? 1 : 0;
  }

  Check (
    "Blt VideoFill fills the rectangle; VideoToBltBuffer reads it back",
    Status == EFI_SUCCESS && Status2 == EFI_SUCCESS && Wrong == 0, "%r/%r, %u pixels differ", Status, Status2,
    (UINT32)Wrong
  );
}

/// Buffer to video: a sub-rectangle of a larger buffer, rows Delta apart.
VOID
CheckBltBufferToVideo (ROAD &Road, const BLT_BUFFERS &Buffers)
{
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop = Road.Gop;

  EFI_STATUS  Status = Gop->Blt (Gop, Buffers.Pattern, EfiBltBufferToVideo, 4, 2, 200, 60, kBltW, kBltH, kPatternW * 4);
  EFI_STATUS  Status2 = Gop->Blt (Gop, Buffers.Back, EfiBltVideoToBltBuffer, 200, 60, 0, 0, kBltW, kBltH, 0);
  const UINTN Wrong   = RowsDifferingFromPattern (Buffers, kBltH, 0);
  Check (
    "Blt BufferToVideo takes the sub-rectangle (SourceX/Y, Delta) and lands it exactly",
    Status == EFI_SUCCESS && Status2 == EFI_SUCCESS && Wrong == 0, "%r/%r, %u rows differ", Status, Status2,
    (UINT32)Wrong
  );
}

/// Video to video, overlapping: the pattern (at y 60) up one row, then down.
VOID
CheckBltVideoToVideo (ROAD &Road, const BLT_BUFFERS &Buffers)
{
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop = Road.Gop;

  EFI_STATUS Up = Gop->Blt (Gop, nullptr, EfiBltVideoToVideo, 200, 61, 200, 60, kBltW, kBltH - 1, 0);
  Gop->Blt (Gop, Buffers.Back, EfiBltVideoToBltBuffer, 200, 60, 0, 0, kBltW, kBltH - 1, 0);
  const UINTN UpWrong = RowsDifferingFromPattern (Buffers, kBltH - 1, 1);

  EFI_STATUS Down = Gop->Blt (Gop, nullptr, EfiBltVideoToVideo, 200, 60, 200, 61, kBltW, kBltH - 1, 0);
  Gop->Blt (Gop, Buffers.Back, EfiBltVideoToBltBuffer, 200, 61, 0, 0, kBltW, kBltH - 1, 0);
  const UINTN DownWrong = RowsDifferingFromPattern (Buffers, kBltH - 1, 1);

  Check (
    "Blt VideoToVideo moves overlapping rectangles up and down by one row exactly",
    Up == EFI_SUCCESS && Down == EFI_SUCCESS && UpWrong == 0 && DownWrong == 0, "%r/%r, %u rows wrong up, %u down", Up,
    Down, (UINT32)UpWrong, (UINT32)DownWrong
  );
}

/// The rectangle tests: the corner is reachable, one pixel more is not.
VOID
CheckBltLimits (ROAD &Road)
{
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop  = Road.Gop;
  const UINT32                  HRes = Gop->Mode->Info->HorizontalResolution;
  const UINT32                  VRes = Gop->Mode->Info->VerticalResolution;
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL Fill = { 0x99, 0x66, 0x33, 0 };

  EFI_STATUS Edge    = Gop->Blt (Gop, &Fill, EfiBltVideoFill, 0, 0, HRes - 8, VRes - 8, 8, 8, 0);
  EFI_STATUS Wider   = Gop->Blt (Gop, &Fill, EfiBltVideoFill, 0, 0, HRes - 8, VRes - 8, 9, 8, 0);
  EFI_STATUS Taller  = Gop->Blt (Gop, &Fill, EfiBltVideoFill, 0, 0, HRes - 8, VRes - 8, 8, 9, 0);
  EFI_STATUS BadOp   = Gop->Blt (Gop, &Fill, (EFI_GRAPHICS_OUTPUT_BLT_OPERATION)4, 0, 0, 0, 0, 8, 8, 0);
  EFI_STATUS NoWidth = Gop->Blt (Gop, &Fill, EfiBltVideoFill, 0, 0, 0, 0, 0, 8, 0);
  EFI_STATUS NoRows  = Gop->Blt (Gop, &Fill, EfiBltVideoFill, 0, 0, 0, 0, 8, 0, 0);
  Check (
    "Blt accepts a rectangle touching the bottom-right corner and refuses one pixel more, op 4, width or height 0",
    Edge == EFI_SUCCESS && Wider == EFI_INVALID_PARAMETER && Taller == EFI_INVALID_PARAMETER &&
      BadOp == EFI_INVALID_PARAMETER && NoWidth == EFI_INVALID_PARAMETER && NoRows == EFI_INVALID_PARAMETER,
    "%r %r %r %r %r %r", Edge, Wider, Taller, BadOp, NoWidth, NoRows
  );
}

/// VideoToBltBuffer is checked on its source only: the destination may lie
/// below the frame's height, inside the caller's buffer.
VOID
CheckBltFarDestination (ROAD &Road)
{
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop  = Road.Gop;
  const UINTN                   Far  = Gop->Mode->Info->VerticalResolution + 10;
  auto                         *Tall = static_cast<UINT32 *> (AllocateZeroPool ((Far + 4) * 4 * 4));

  if (Tall == nullptr) {
    Check ("Blt VideoToBltBuffer into a tall buffer", FALSE, "no memory for the buffer");
    return;
  }

  EFI_STATUS Status = Gop->Blt (
    Gop, reinterpret_cast<EFI_GRAPHICS_OUTPUT_BLT_PIXEL *> (Tall), EfiBltVideoToBltBuffer, 100, 50, 0, Far, 4, 4, 0
  );
  Check (
    "Blt VideoToBltBuffer accepts a destination below the frame's height (inside the buffer)",
    Status == EFI_SUCCESS && Tall[Far * 4] == kFillColour, "%r", Status
  );
  FreePool (Tall);
}

/// All four Blt operations, each read back, and the rectangle checks.
VOID
CheckBlt (IN ROAD &Road)
{
  BLT_BUFFERS Buffers;

  Buffers.Pattern = static_cast<EFI_GRAPHICS_OUTPUT_BLT_PIXEL *> (AllocatePool (kPatternW * kPatternH * 4 * 2));
  if (Buffers.Pattern == nullptr) {
    Check ("Blt", FALSE, "no memory for the test buffers");
    return;
  }

  Buffers.Back = Buffers.Pattern + kPatternW * kPatternH;
  for (UINTN Index = 0; Index < kPatternW * kPatternH; Index++) {
    *reinterpret_cast<UINT32 *> (&Buffers.Pattern[Index]) = (UINT32)(Index * 2654435761u) & 0x00FFFFFF;
  }

  CheckBltFill (Road, Buffers);
  CheckBltBufferToVideo (Road, Buffers);
  CheckBltVideoToVideo (Road, Buffers);
  CheckBltLimits (Road);
  CheckBltFarDestination (Road);
  FreePool (Buffers.Pattern);
}

VOID
CheckModesAndBlt (IN ROAD &Road)
{
  if (Road.Gop == nullptr) {
    Check ("GOP modes and Blt", FALSE, "no GOP");
    return;
  }

  CheckModes (Road);
  CheckBlt (Road);
}

/// The names, through the Component Name protocol the driver installed.
VOID
CheckComponentNames (IN ROAD &Road)
{
  EFI_COMPONENT_NAME_PROTOCOL *Names = nullptr;

  if ((Road.GopDriverImage == nullptr) || EFI_ERROR (gBS->HandleProtocol (Road.GopDriverImage, &gEfiComponentNameProtocolGuid, reinterpret_cast<VOID **> (&Names)))) {
    Check ("component names", FALSE, "no Component Name protocol");
    return;
  }

  CHAR16    *Driver     = nullptr;
  CHAR16    *Controller = nullptr;
  CHAR16    *Other      = nullptr;
  EFI_STATUS Status     = Names->GetDriverName (Names, const_cast<CHAR8 *> ("eng"), &Driver);
  EFI_STATUS Status2 =
    Names->GetControllerName (Names, Road.ControllerHandle, nullptr, const_cast<CHAR8 *> ("eng"), &Controller);
  Check (
    "Component Name gives \"Tavrix TVX  GOP Driver\" and \"Tavrix TVX  PCI Adapter\" in eng",
    Status == EFI_SUCCESS && Status2 == EFI_SUCCESS && StrCmp (Driver, Ucs2 (u"Tavrix TVX  GOP Driver")) == 0 &&
      StrCmp (Controller, Ucs2 (u"Tavrix TVX  PCI Adapter")) == 0,
    "%r %r", Status, Status2
  );

  UINTN      Children;
  EFI_HANDLE Child  = FindOutputChild (Road, &Children);
  EFI_STATUS French = Names->GetDriverName (Names, const_cast<CHAR8 *> ("fra"), &Other);
  EFI_STATUS ForKid =
    Names->GetControllerName (Names, Road.ControllerHandle, Child, const_cast<CHAR8 *> ("eng"), &Other);
  Check (
    "Component Name refuses other languages and the child handle",
    French == EFI_UNSUPPORTED && ForKid == EFI_UNSUPPORTED, "fra %r, child %r", French, ForKid
  );
}

/// Free conventional memory in pages, from the firmware's memory map.
UINT64
FreePages (VOID)
{
  UINTN                  Size = 0;
  UINTN                  Key;
  UINTN                  DescriptorSize;
  UINT32                 Version;
  EFI_MEMORY_DESCRIPTOR *Map = nullptr;

  if (gBS->GetMemoryMap (&Size, nullptr, &Key, &DescriptorSize, &Version) != EFI_BUFFER_TOO_SMALL) {
    return 0;
  }

  Size += 8 * DescriptorSize;
  Map = static_cast<EFI_MEMORY_DESCRIPTOR *> (AllocatePool (Size));
  if ((Map == nullptr) || EFI_ERROR (gBS->GetMemoryMap (&Size, Map, &Key, &DescriptorSize, &Version))) {
    if (Map != nullptr) {
      FreePool (Map);
    }

    return 0;
  }

  UINT64 Pages = 0;
  for (UINT8 *Entry = reinterpret_cast<UINT8 *> (Map); Entry < reinterpret_cast<UINT8 *> (Map) + Size;
       Entry += DescriptorSize) {
    const auto *Descriptor = reinterpret_cast<EFI_MEMORY_DESCRIPTOR *> (Entry);
    Pages += (Descriptor->Type == EfiConventionalMemory) ? Descriptor->NumberOfPages : 0;
  }

  FreePool (Map);
  return Pages;
}

/**
  20 disconnect/reconnect cycles through the firmware: no GOP between
  them, the GOP (and the console above it) back after each, and the memory
  Start takes (8 MiB line buffer, context, mode records) given back.
**/
VOID
CheckReconnectCycles (IN ROAD &Road)
{
  constexpr UINTN kCycles    = 20;
  UINTN           Gone       = 0;
  UINTN           Back       = 0;
  UINTN           Console    = 0;
  EFI_STATUS      Disconnect = EFI_SUCCESS;
  const UINT64    Before     = FreePages ();

  for (UINTN Cycle = 0; Cycle < kCycles; Cycle++) {
    EFI_STATUS Status = gBS->DisconnectController (Road.ControllerHandle, nullptr, nullptr);
    Disconnect        = EFI_ERROR (Status) ? Status : Disconnect;
    Gone += (ControllerGop (Road) == nullptr) ? 1 : 0;

    gBS->ConnectController (Road.ControllerHandle, nullptr, nullptr, TRUE);
    Back += (ControllerGop (Road) != nullptr) ? 1 : 0;

    VOID *TextOut = nullptr;
    gBS->HandleProtocol (Road.ControllerHandle, &gEfiSimpleTextOutProtocolGuid, &TextOut);
    Console += (TextOut != nullptr) ? 1 : 0;
  }

  const UINT64 After = FreePages ();
  Road.Gop           = ControllerGop (Road);

  UINTN Children;
  FindOutputChild (Road, &Children);
  Note (
    "after %u cycles: %u child handles with the _ADR path; last disconnect error %r", (UINT32)kCycles, (UINT32)Children,
    Disconnect
  );
  Check ("20 disconnects leave no GOP on the controller", Gone == kCycles, "%u of 20", (UINT32)Gone);
  Check ("20 reconnects bring the GOP back each time", Back == kCycles, "%u of 20", (UINT32)Back);
  Check ("the graphics console binds again after each reconnect", Console == kCycles, "%u of 20", (UINT32)Console);
  Check (
    "20 cycles give back what Start takes (free memory within 64 pages)", After + 64 >= Before,
    "%lu pages before, %lu after", Before, After
  );
}
