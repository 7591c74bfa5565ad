/** @file
  The GOP driver on the road: the one of the firmware volume, started again
  by the firmware's ConnectController on the controller; its GOP's mode
  records against BAR 0 as the firmware's PCI bus driver placed it, Blt
  through the platform's PCI I/O, and 20 disconnect/reconnect cycles with
  the real console. What the driver does with registers, rectangles and
  names is the host tests' (OptionRomPkg/TavrixGopDxe/UnitTest).

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "RoadCheck.h"
#include <ShippedModeRegisters.h>

extern "C" {
#include <Library/DevicePathLib.h>
#include <Library/PrintLib.h>
#include <Protocol/DevicePath.h>
}

namespace {

constexpr UINT32 kAdrDisplay = 0x80010100;

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
};

START_SNAPSHOT mStart;

extern "C" VOID EFIAPI
OnGopArrival (IN EFI_EVENT Event, IN VOID *Context)
{
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop = nullptr;

  if (mStart.Taken || EFI_ERROR (gBS->HandleProtocol (mStart.Controller, &gEfiGraphicsOutputProtocolGuid, reinterpret_cast<VOID **> (&Gop)))) {
    return;
  }

  CopyMem (&mStart.Mode, Gop->Mode, sizeof (mStart.Mode));
  CopyMem (&mStart.Info, Gop->Mode->Info, sizeof (mStart.Info));
  mStart.Taken = TRUE;
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
BOOLEAN
StopGopDriver (IN ROAD &Road)
{
  const EFI_STATUS Status = gBS->DisconnectController (Road.ControllerHandle, nullptr, nullptr);

  return Check (
    "DisconnectController stops TavrixGopDxe: no GOP on the controller any more",
    !EFI_ERROR (Status) && ControllerGop (Road) == nullptr, "%r", Status
  );
}

VOID
CheckGopStart (IN ROAD &Road)
{
  EFI_STATUS Status;

  if (Road.GopDriverImage == nullptr) {
    Check ("TavrixGopDxe's image", FALSE, "no driver held the controller");
    return;
  }

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

  CheckModeRecord (Road, 0, mStart.Mode, mStart.Info);
  Note (
    "the firmware's connect logic went on: GOP now in mode %u (%u x %u)", Road.Gop->Mode->Mode,
    Road.Gop->Mode->Info->HorizontalResolution, Road.Gop->Mode->Info->VerticalResolution
  );
}

/// SetMode through all four modes: each mode's record names the frame buffer
/// where the firmware's PCI bus driver put BAR 0.
VOID
CheckModes (IN ROAD &Road)
{
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop     = Road.Gop;
  const UINT32                  Current = Gop->Mode->Mode;

  for (UINT32 Step = 1; Step <= TAVRIX_GOP_MODE_COUNT; Step++) {
    const UINT32     Mode   = (Current + Step) % TAVRIX_GOP_MODE_COUNT;
    const EFI_STATUS Status = Gop->SetMode (Gop, Mode);
    if (EFI_ERROR (Status)) {
      Check ("SetMode", FALSE, "mode %u: %r", Mode, Status);
      continue;
    }

    CheckModeRecord (Road, Mode, *Gop->Mode, *Gop->Mode->Info);
  }
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

/// A Blt that wrote, the Blt that read the rectangle back, and how many of
/// its pixels or rows (Unit) differ from what was written.
VOID
CheckWrittenAndReadBack (const CHAR8 *Name, EFI_STATUS Write, EFI_STATUS Read, UINTN Wrong, const CHAR8 *Unit)
{
  Check (
    Name, Write == EFI_SUCCESS && Read == EFI_SUCCESS && Wrong == 0, "%r/%r, %u %a differ", Write, Read, (UINT32)Wrong,
    Unit
  );
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

  CheckWrittenAndReadBack (
    "Blt VideoFill fills the rectangle; VideoToBltBuffer reads it back", Status, Status2, Wrong, "pixels"
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
  CheckWrittenAndReadBack (
    "Blt BufferToVideo takes the sub-rectangle (SourceX/Y, Delta) and lands it exactly", Status, Status2, Wrong, "rows"
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

/// Three Blt operations, each read back through the platform's PCI I/O.
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
