/** @file
  Blt cost in the firmware. For each GOP whose device path leads to one of
  the two display controllers of the machine -- 0x19E5:0x1711, driven by
  TavrixGopDxe through the platform's PCI I/O, and QEMU's standard VGA
  0x1234:0x1111, driven by OVMF's QEMU video driver -- it sets 1280 x 1024
  and times eight Blt cases with the time-stamp counter:
  fill, buffer-to-video, video-to-buffer and video-to-video, each full
  screen and glyph-sized (8 x 16). These are the host benchmark's kinds of
  case, not its exact rectangles or call counts: the video-to-video glyph
  here moves a cell from (640, 512) up to (640, 496), and the batches are
  smaller, since a guest call costs far more time than a host one.

  Before the Blts it times SetMode of every mode the GOP offers, each set
  kRepeats times in turn and the fastest kept (a mode set clears the frame,
  so its cost grows with the mode's size):
    SETMODE-COST <ours|peer> <width>x<height> <ticks>

  For ours it then times one memory write of 1 and of 8 32-bit elements
  (a glyph row) to the frame buffer at each layer of the platform's PCI I/O
  path, the fastest of three batches of 100 calls:
    LAYER-COST <pci-io|root-bridge-io|cpu-io> <elements> <ticks per call>

  Each case runs a batch of calls three times; the smallest batch, divided
  by its calls, is reported, so that a timer interrupt inside a batch does
  not count. Prints one line per case:
    BLT-COST <ours|peer> <case> <calls> <ticks per call>
  and "BLT-COST-END" at the end. Started by the boot manager (as the ESP's
  removable-media boot file, which spares the shell's start-up countdown: a
  guest second is long under -icount), it then powers the machine off;
  started from the shell, it returns.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

extern "C" {
#include <Uefi.h>
#include <IndustryStandard/TavrixDisplayController.h>
#include <Library/BaseLib.h>
#include <Library/BaseMemoryLib.h>
#include <Library/DevicePathLib.h>
#include <Library/MemoryAllocationLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiLib.h>
#include <Library/UefiRuntimeServicesTableLib.h>
#include <Protocol/GraphicsOutput.h>
#include <Protocol/ShellParameters.h>
#include <Protocol/PciIo.h>
#include <Protocol/PciRootBridgeIo.h>
#include <Protocol/CpuIo2.h>
}

#include "../BltBenchCases.h"

namespace {

constexpr UINTN kRepeats = 3;

/// The PCI I/O protocol of the controller a GOP handle belongs to, or NULL.
EFI_PCI_IO_PROTOCOL *
ControllerPciIo (EFI_HANDLE GopHandle)
{
  EFI_DEVICE_PATH_PROTOCOL *Path  = DevicePathFromHandle (GopHandle);
  EFI_HANDLE                Pci   = nullptr;
  EFI_PCI_IO_PROTOCOL      *PciIo = nullptr;

  if ((Path == nullptr) || EFI_ERROR (gBS->LocateDevicePath (&gEfiPciIoProtocolGuid, &Path, &Pci)) || EFI_ERROR (gBS->HandleProtocol (Pci, &gEfiPciIoProtocolGuid, reinterpret_cast<VOID **> (&PciIo)))) {
    return nullptr;
  }

  return PciIo;
}

/// The PCI IDs (device << 16 | vendor) of the controller a GOP handle
/// belongs to: the handle itself or the PCI handle its path starts with.
UINT32
ControllerIds (EFI_HANDLE GopHandle)
{
  EFI_DEVICE_PATH_PROTOCOL *Path  = DevicePathFromHandle (GopHandle);
  EFI_HANDLE                Pci   = nullptr;
  EFI_PCI_IO_PROTOCOL      *PciIo = nullptr;
  UINT32                    Ids   = 0;

  if ((Path == nullptr) || EFI_ERROR (gBS->LocateDevicePath (&gEfiPciIoProtocolGuid, &Path, &Pci)) ||
      EFI_ERROR (gBS->HandleProtocol (Pci, &gEfiPciIoProtocolGuid, reinterpret_cast<VOID **> (&PciIo))) ||
      EFI_ERROR (PciIo->Pci.Read (PciIo, EfiPciIoWidthUint32, 0, 1, &Ids)))
  {
    return 0;
  }

  return Ids;
}

/// Sets the benchmarks' 1280 x 1024 mode; FALSE when the GOP has none.
BOOLEAN
SetBenchMode (EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop)
{
  for (UINT32 Mode = 0; Mode < Gop->Mode->MaxMode; Mode++) {
    EFI_GRAPHICS_OUTPUT_MODE_INFORMATION *Info = nullptr;
    UINTN                                 Size = 0;
    if (EFI_ERROR (Gop->QueryMode (Gop, Mode, &Size, &Info))) {
      continue;
    }

    const BOOLEAN Fits =
      (Info->HorizontalResolution == BLT_BENCH_WIDTH) && (Info->VerticalResolution == BLT_BENCH_HEIGHT);
    FreePool (Info);
    if (Fits) {
      return !EFI_ERROR (Gop->SetMode (Gop, Mode));
    }
  }

  return FALSE;
}

/// Prints the ticks of one SetMode of each of the GOP's modes: the fastest
/// of kRepeats rounds over all modes, so that no mode is set twice in a row.
VOID
TimeSetModes (const CHAR8 *Side, EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop)
{
  constexpr UINT32 kMaxModes       = 16;
  UINT64           Best[kMaxModes] = {};
  const UINT32     Modes           = (Gop->Mode->MaxMode < kMaxModes) ? Gop->Mode->MaxMode : kMaxModes;

  for (UINTN Repeat = 0; Repeat < kRepeats; Repeat++) {
    for (UINT32 Mode = 0; Mode < Modes; Mode++) {
      const UINT64     Start  = AsmReadTsc ();
      const EFI_STATUS Status = Gop->SetMode (Gop, Mode);
      const UINT64     Ticks  = AsmReadTsc () - Start;
      Best[Mode] = EFI_ERROR (Status) ? MAX_UINT64 : ((Repeat == 0 || Ticks < Best[Mode]) ? Ticks : Best[Mode]);
    }
  }

  for (UINT32 Mode = 0; Mode < Modes; Mode++) {
    EFI_GRAPHICS_OUTPUT_MODE_INFORMATION *Info = nullptr;
    UINTN                                 Size = 0;
    if ((Best[Mode] == MAX_UINT64) || EFI_ERROR (Gop->QueryMode (Gop, Mode, &Size, &Info))) {
      AsciiPrint ("SETMODE-COST %a mode%u failed\n", Side, Mode);
      continue;
    }

    AsciiPrint ("SETMODE-COST %a %ux%u %lu\n", Side, Info->HorizontalResolution, Info->VerticalResolution, Best[Mode]);
    FreePool (Info);
  }
}

/// Ticks per call of one case: the fastest of kRepeats batches.
UINT64
TimeCase (
  EFI_GRAPHICS_OUTPUT_PROTOCOL  *Gop,
  const BLT_BENCH_CASE          &Case,
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Buffer,
  EFI_STATUS                    *Status
)
{
  UINT64 Best = MAX_UINT64;

  *Status = EFI_SUCCESS;
  for (UINTN Repeat = 0; Repeat < kRepeats; Repeat++) {
    const UINT64 Start = AsmReadTsc ();
    for (UINTN Call = 0; Call < Case.FirmwareCalls; Call++) {
      EFI_STATUS Result = Gop->Blt (
        Gop, Buffer, Case.Operation, Case.SourceX, Case.SourceY, Case.DestinationX, Case.DestinationY, Case.Width,
        Case.Height, 0
      );
      *Status = EFI_ERROR (Result) ? Result : *Status;
    }

    const UINT64 Ticks = AsmReadTsc () - Start;
    Best               = (Ticks < Best) ? Ticks : Best;
  }

  return Best / Case.FirmwareCalls;
}

VOID
TimeGop (const CHAR8 *Side, EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop, EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Buffer)
{
  TimeSetModes (Side, Gop);
  if (!SetBenchMode (Gop)) {
    AsciiPrint ("BLT-COST %a no-mode 0 0\n", Side);
    return;
  }

  for (const BLT_BENCH_CASE &Case : kBltBenchCases) {
    EFI_STATUS   Status;
    const UINT64 PerCall = TimeCase (Gop, Case, Buffer, &Status);
    if (EFI_ERROR (Status)) {
      AsciiPrint ("BLT-COST %a %a failed %r\n", Side, Case.Name, Status);
    } else {
      AsciiPrint ("BLT-COST %a %a %u %lu\n", Side, Case.Name, (UINT32)Case.FirmwareCalls, PerCall);
    }
  }
}

/// The fastest of kRepeats batches of 100 calls of Write, per call.
template <typename WRITE>
UINT64
TimeWrites (WRITE Write)
{
  UINT64 Best = MAX_UINT64;
  for (UINTN Repeat = 0; Repeat < kRepeats; Repeat++) {
    const UINT64 Start = AsmReadTsc ();
    for (UINTN Call = 0; Call < 100; Call++) {
      Write ();
    }

    const UINT64 Ticks = AsmReadTsc () - Start;
    Best               = (Ticks < Best) ? Ticks : Best;
  }

  return Best / 100;
}

/// Times a write of 1 and of 8 elements to the frame buffer at each layer
/// of the platform's path: the controller's PCI I/O, the root bridge's I/O
/// and the CPU I/O protocol.
VOID
TimeLayers (EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop, EFI_PCI_IO_PROTOCOL *PciIo, UINT32 *Row)
{
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *RootBridgeIo = nullptr;
  EFI_CPU_IO2_PROTOCOL            *CpuIo        = nullptr;
  const UINT64                     Address      = Gop->Mode->FrameBufferBase;

  if ((PciIo == nullptr) ||
      EFI_ERROR (gBS->LocateProtocol (&gEfiPciRootBridgeIoProtocolGuid, nullptr, reinterpret_cast<VOID **> (&RootBridgeIo))) ||
      EFI_ERROR (gBS->LocateProtocol (&gEfiCpuIo2ProtocolGuid, nullptr, reinterpret_cast<VOID **> (&CpuIo)))) {
    AsciiPrint ("LAYER-COST none\n");
    return;
  }

  constexpr UINTN kCounts[] = { 1, 8 };
  for (UINTN Count : kCounts) {
    AsciiPrint ("LAYER-COST pci-io %u %lu\n", (UINT32)Count, TimeWrites ([&] {
                  PciIo->Mem.Write (PciIo, EfiPciIoWidthUint32, 0, 0, Count, Row);
                }));
    AsciiPrint ("LAYER-COST root-bridge-io %u %lu\n", (UINT32)Count, TimeWrites ([&] {
                  RootBridgeIo->Mem.Write (RootBridgeIo, EfiPciWidthUint32, Address, Count, Row);
                }));
    AsciiPrint ("LAYER-COST cpu-io %u %lu\n", (UINT32)Count, TimeWrites ([&] {
                  CpuIo->Mem.Write (CpuIo, EfiCpuIoWidthUint32, Address, Count, Row);
                }));
  }
}

} // namespace

extern "C" EFI_STATUS EFIAPI
FirmwareBltMain (IN EFI_HANDLE ImageHandle, IN EFI_SYSTEM_TABLE *SystemTable)
{
  UINTN       Count   = 0;
  EFI_HANDLE *Handles = nullptr;
  auto       *Buffer =
    static_cast<EFI_GRAPHICS_OUTPUT_BLT_PIXEL *> (AllocateZeroPool (BLT_BENCH_WIDTH * BLT_BENCH_HEIGHT * 4));

  if ((Buffer == nullptr) || EFI_ERROR (gBS->LocateHandleBuffer (ByProtocol, &gEfiGraphicsOutputProtocolGuid, nullptr, &Count, &Handles))) {
    AsciiPrint ("BLT-COST-END no GOP\n");
    return EFI_NOT_FOUND;
  }

  for (UINTN Index = 0; Index < BLT_BENCH_WIDTH * BLT_BENCH_HEIGHT; Index++) {
    Buffer[Index].Blue  = (UINT8)Index;
    Buffer[Index].Green = (UINT8)(Index >> 8);
    Buffer[Index].Red   = (UINT8)(Index >> 16);
  }

  for (UINTN Index = 0; Index < Count; Index++) {
    EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop = nullptr;
    const UINT32                  Ids = ControllerIds (Handles[Index]);
    if (EFI_ERROR (
          gBS->HandleProtocol (Handles[Index], &gEfiGraphicsOutputProtocolGuid, reinterpret_cast<VOID **> (&Gop))
        )) {
      continue;
    }

    if (Ids == (TAVRIX_PCI_DEVICE_ID << 16 | TAVRIX_PCI_VENDOR_ID)) {
      TimeGop ("ours", Gop, Buffer);
      TimeLayers (Gop, ControllerPciIo (Handles[Index]), reinterpret_cast<UINT32 *> (Buffer));
    } else if (Ids == 0x11111234) {
      TimeGop ("peer", Gop, Buffer);
    }
  }

  FreePool (Handles);
  FreePool (Buffer);
  AsciiPrint ("BLT-COST-END\n");

  VOID *Shell = nullptr;
  if (EFI_ERROR (gBS->HandleProtocol (ImageHandle, &gEfiShellParametersProtocolGuid, &Shell))) {
    gRT->ResetSystem (EfiResetShutdown, EFI_SUCCESS, 0, nullptr);
  }

  return EFI_SUCCESS;
}
