/** @file
  Blt benchmark: the instructions of our GOP Blt (TavrixGopDxe's DisplayBlt,
  started on the host model's controller and set to 1280 x 1024) and of EDK
  II's FrameBufferBltLib (the Blt behind OVMF's QEMU display driver) on the
  same frame-buffer memory, for full-screen and glyph-sized rectangles of
  the four Blt operations.

  Ours is measured twice: on the host model as it is (its PCI I/O and task
  priority services also log and check for the tests), and on a minimal
  platform: BAR 0 memory calls that are a bounds check and one CopyMem or
  SetMem32, and RaiseTPL/RestoreTPL that only swap the level, the least a
  platform can do. The second isolates the driver's own cost.

  Run under valgrind --tool=callgrind --collect-atstart=no by
  scripts/bench/bench-blt.sh, which reads one callgrind record per case. Run
  directly, it checks that every case succeeds and that ours and the peer
  leave the same pixels.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vector>

#include <HostModel.h>

extern "C" {
#include <Library/BaseMemoryLib.h>
#include <Library/FrameBufferBltLib.h>
}

#include "../BenchMeasure.h"
#include "../BltBenchCases.h"

/// TavrixGopDxe's entry point, from the driver's sources linked in (UefiTvx.cpp).
extern "C" EFI_STATUS EFIAPI DisplayDriverEntryPoint (IN EFI_HANDLE ImageHandle, IN EFI_SYSTEM_TABLE *SystemTable);

namespace {

constexpr UINTN  FRAME_WIDTH  = BLT_BENCH_WIDTH;
constexpr UINTN  FRAME_HEIGHT = BLT_BENCH_HEIGHT;
constexpr UINTN  FRAME_BYTES  = FRAME_WIDTH * FRAME_HEIGHT * 4;
constexpr UINT32 FRAME_MODE   = 3; // 1280 x 1024

enum BLT_SIDE { Peer, Ours, OursMinimal };

const char *mSideNames[] = { "peer", "ours", "minimal" };

HOST_MODEL                   *mModel;
EFI_GRAPHICS_OUTPUT_PROTOCOL *mGop;
UINT8                        *mFrame;
UINT32                       *mBuffer;
FRAME_BUFFER_CONFIGURE       *mPeer;
EFI_PCI_IO_PROTOCOL_IO_MEM    mModelMemRead;
EFI_PCI_IO_PROTOCOL_IO_MEM    mModelMemWrite;

//
// The minimal PCI I/O memory access: BAR 0 calls of the widths the Blt uses
// are a bounds check and one CopyMem or SetMem32; everything else goes to
// the model.
//
template <BOOLEAN IsWrite>
EFI_STATUS EFIAPI
MinimalMemAccess (
  EFI_PCI_IO_PROTOCOL      *This,
  EFI_PCI_IO_PROTOCOL_WIDTH Width,
  UINT8                     BarIndex,
  UINT64                    Offset,
  UINTN                     Count,
  VOID                     *Buffer
)
{
  if ((BarIndex != 0) || ((Width != EfiPciIoWidthUint32) && (Width != EfiPciIoWidthFillUint32))) {
    return (IsWrite ? mModelMemWrite : mModelMemRead) (This, Width, BarIndex, Offset, Count, Buffer);
  }

  if ((Buffer == nullptr) || (Offset > HOST_MODEL_FRAME_BUFFER_SIZE) || (Count > (HOST_MODEL_FRAME_BUFFER_SIZE - Offset) / 4)) {
    return EFI_INVALID_PARAMETER;
  }

  if (!IsWrite) {
    CopyMem (Buffer, mFrame + Offset, Count * 4);
  } else if (Width == EfiPciIoWidthFillUint32) {
    SetMem32 (mFrame + Offset, Count * 4, *static_cast<UINT32 *> (Buffer));
  } else {
    CopyMem (mFrame + Offset, Buffer, Count * 4);
  }

  return EFI_SUCCESS;
}

//
// The minimal task priority services: the level is kept and handed back, as
// the DXE core does when no event is pending.
//
EFI_TPL         mMinimalTpl = TPL_APPLICATION;
EFI_RAISE_TPL   mModelRaiseTpl;
EFI_RESTORE_TPL mModelRestoreTpl;

EFI_TPL
EFIAPI
MinimalRaiseTpl (EFI_TPL NewTpl)
{
  const EFI_TPL OldTpl = mMinimalTpl;

  mMinimalTpl = NewTpl;
  return OldTpl;
}

VOID EFIAPI
MinimalRestoreTpl (EFI_TPL OldTpl)
{
  mMinimalTpl = OldTpl;
}

/// Ours runs on the model's PCI I/O and boot services, or on the minimal ones.
void
UsePlatform (BLT_SIDE Side)
{
  EFI_PCI_IO_PROTOCOL *PciIo        = mModel->Controller.PciIo ();
  EFI_BOOT_SERVICES   *BootServices = mModel->BootServices ();
  const bool           Minimal      = (Side == OursMinimal);

  PciIo->Mem.Read          = Minimal ? MinimalMemAccess<FALSE> : mModelMemRead;
  PciIo->Mem.Write         = Minimal ? MinimalMemAccess<TRUE> : mModelMemWrite;
  BootServices->RaiseTPL   = Minimal ? MinimalRaiseTpl : mModelRaiseTpl;
  BootServices->RestoreTPL = Minimal ? MinimalRestoreTpl : mModelRestoreTpl;
}

/// Starts TavrixGopDxe on the model's controller in 1280 x 1024.
bool
StartOurs ()
{
  EFI_HANDLE Controller = mModel->Controller.Publish ();

  if ((mModel->StartModule (DisplayDriverEntryPoint) != EFI_SUCCESS) || (mModel->ConnectController (Controller) != EFI_SUCCESS)) {
    return false;
  }

  mGop =
    static_cast<EFI_GRAPHICS_OUTPUT_PROTOCOL *> (mModel->FindProtocol (Controller, gEfiGraphicsOutputProtocolGuid));
  if ((mGop == nullptr) || (mGop->SetMode (mGop, FRAME_MODE) != EFI_SUCCESS)) {
    return false;
  }

  mFrame           = mModel->Controller.FrameBuffer ();
  mModelMemRead    = mModel->Controller.PciIo ()->Mem.Read;
  mModelMemWrite   = mModel->Controller.PciIo ()->Mem.Write;
  mModelRaiseTpl   = mModel->BootServices ()->RaiseTPL;
  mModelRestoreTpl = mModel->BootServices ()->RestoreTPL;
  return true;
}

/// FrameBufferBltLib over the same frame-buffer memory.
bool
ConfigurePeer ()
{
  EFI_GRAPHICS_OUTPUT_MODE_INFORMATION Info;
  UINTN                                Size = 0;

  memset (&Info, 0, sizeof (Info));
  Info.HorizontalResolution = FRAME_WIDTH;
  Info.VerticalResolution   = FRAME_HEIGHT;
  Info.PixelFormat          = PixelBlueGreenRedReserved8BitPerColor;
  Info.PixelsPerScanLine    = FRAME_WIDTH;

  if (FrameBufferBltConfigure (mFrame, &Info, nullptr, &Size) != RETURN_BUFFER_TOO_SMALL) {
    return false;
  }

  mPeer = static_cast<FRAME_BUFFER_CONFIGURE *> (malloc (Size));
  return (mPeer != nullptr) && !RETURN_ERROR (FrameBufferBltConfigure (mFrame, &Info, mPeer, &Size));
}

EFI_STATUS
Blt (BLT_SIDE Side, const BLT_BENCH_CASE &Case)
{
  auto *Buffer = reinterpret_cast<EFI_GRAPHICS_OUTPUT_BLT_PIXEL *> (mBuffer);

  if (Side == Peer) {
    return (EFI_STATUS)FrameBufferBlt (
      mPeer, Buffer, Case.Operation, Case.SourceX, Case.SourceY, Case.DestinationX, Case.DestinationY, Case.Width,
      Case.Height, 0
    );
  }

  return mGop->Blt (
    mGop, Buffer, Case.Operation, Case.SourceX, Case.SourceY, Case.DestinationX, Case.DestinationY, Case.Width,
    Case.Height, 0
  );
}

/// A pattern that differs in every pixel, so that a misplaced row shows.
/// The caller's pixels have a zero reserved byte, as consoles pass them
/// (FrameBufferBltLib's fill clears that byte; ours passes it on).
void
Paint ()
{
  UINT32 *Frame = reinterpret_cast<UINT32 *> (mFrame);

  for (UINTN Index = 0; Index < FRAME_WIDTH * FRAME_HEIGHT; Index++) {
    Frame[Index]   = (UINT32)(Index * 2654435761u) ^ 0x12345678;
    mBuffer[Index] = ((UINT32)(Index * 2246822519u) ^ 0x9ABCDEF0) & 0x00FFFFFF;
  }
}

/// The frame and the buffer after one call of Case from the painted state.
std::vector<UINT8>
Outcome (BLT_SIDE Side, const BLT_BENCH_CASE &Case)
{
  Paint ();
  if (EFI_ERROR (Blt (Side, Case))) {
    return {};
  }

  std::vector<UINT8> Result (mFrame, mFrame + FRAME_BYTES);

  Result.insert (Result.end (), (UINT8 *)mBuffer, (UINT8 *)mBuffer + FRAME_BYTES);
  return Result;
}

} // namespace

int
main (int Argc, char **Argv)
{
  HOST_MODEL Model;

  mModel  = &Model;
  mBuffer = static_cast<UINT32 *> (aligned_alloc (4096, FRAME_BYTES));
  if ((mBuffer == nullptr) || !StartOurs () || !ConfigurePeer ()) {
    fprintf (stderr, "BltBench: set-up failed\n");
    return 1;
  }

  int Failures = 0;

  for (const BLT_BENCH_CASE &Case : kBltBenchCases) {
    //
    // Outside the measurements: the three must do the same work.
    //
    UsePlatform (Ours);
    const std::vector<UINT8> Expected = Outcome (Peer, Case);

    for (BLT_SIDE Side : { Ours, OursMinimal }) {
      UsePlatform (Side);
      if (Expected.empty () || (Outcome (Side, Case) != Expected)) {
        fprintf (stderr, "BltBench: %s %s differs from the peer or failed\n", mSideNames[Side], Case.Name);
        Failures++;
      }
    }

    for (BLT_SIDE Side : { Peer, Ours, OursMinimal }) {
      char Name[96];

      UsePlatform (Side);
      Paint ();
      Model.Controller.ClearLogs ();
      snprintf (Name, sizeof (Name), "%s %s", mSideNames[Side], Case.Name);
      BenchMeasure (Name, Case.HostRepeats, [Side, &Case] { Blt (Side, Case); });
    }
  }

  return Failures == 0 ? 0 : 1;
}
