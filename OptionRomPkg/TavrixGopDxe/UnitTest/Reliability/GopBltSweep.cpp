/** @file
  Randomized Blt calls: every operation (and operation numbers past the
  last), coordinates at, near and far past the edges of the mode, huge widths
  and deltas, NULL buffers; in modes with and without a frame-buffer address
  (a GOP that offers Blt only draws through PCI I/O all the same).

  The expected answer of each call is computed here with arithmetic that
  cannot wrap: a call succeeds exactly when its rectangles lie inside the
  current mode and the part of the caller's buffer it addresses has an
  address; every other call is refused with EFI_INVALID_PARAMETER and
  touches nothing. Accepted calls may access nothing outside the current
  frame (checked on every frame-buffer call the model logs, and by a
  sentinel behind the frame) nor outside the addressed part of the caller's
  buffer, which is allocated to exactly that size so that AddressSanitizer
  catches a stray byte. Each accepted call makes one PCI I/O call per row
  (two for video-to-video) and puts the right pixels at the rectangle's
  corners.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "GopPlatform.h"

extern "C" {
#include <IndustryStandard/Acpi.h>
}

namespace {

/// Largest caller buffer the sweep allocates; bigger legal requests are
/// drawn again (they are legal but not interesting).
constexpr UINT64 BUFFER_CAP = 4 * 1024 * 1024;

typedef unsigned __int128 WIDE;

struct BLT_CALL {
  UINT32 Operation;
  UINTN  SourceX, SourceY, DestinationX, DestinationY, Width, Height, Delta;
  bool   NullBuffer;
};

bool
Fits (UINTN X, UINTN Width, UINTN Limit)
{
  return WIDE (X) + Width <= Limit;
}

/// Bytes of the caller's buffer that a call addresses (0 when none); may
/// exceed 64 bits.
WIDE
AddressedBytes (const BLT_CALL &Call)
{
  const UINTN Delta = (Call.Delta != 0) ? Call.Delta : Call.Width * 4;

  switch (Call.Operation) {
    case EfiBltVideoFill:
      return 4;
    case EfiBltVideoToBltBuffer:
      return (WIDE (Call.DestinationY) + Call.Height - 1) * Delta + (WIDE (Call.DestinationX) + Call.Width) * 4;
    case EfiBltBufferToVideo:
      return (WIDE (Call.SourceY) + Call.Height - 1) * Delta + (WIDE (Call.SourceX) + Call.Width) * 4;
    default:
      return 0;
  }
}

bool
Acceptable (const BLT_CALL &Call, UINTN HRes, UINTN VRes)
{
  if ((Call.Operation > EfiBltVideoToVideo) || (Call.Width == 0) || (Call.Height == 0)) {
    return false;
  }

  if ((Call.Operation != EfiBltVideoToVideo) && Call.NullBuffer) {
    return false;
  }

  const bool SourceInFrame = Fits (Call.SourceX, Call.Width, HRes) && Fits (Call.SourceY, Call.Height, VRes);
  const bool TargetInFrame = Fits (Call.DestinationX, Call.Width, HRes) && Fits (Call.DestinationY, Call.Height, VRes);

  switch (Call.Operation) {
    case EfiBltVideoToBltBuffer:
      return SourceInFrame && (AddressedBytes (Call) <= WIDE (~0ULL));
    case EfiBltBufferToVideo:
      return TargetInFrame && (AddressedBytes (Call) <= WIDE (~0ULL));
    case EfiBltVideoToVideo:
      return SourceInFrame && TargetInFrame;
    default:
      return TargetInFrame;
  }
}

/// A position for a rectangle of Size along an axis of Limit pixels: inside,
/// touching the far edge, one past it, or anywhere an edge value lands.
UINTN
DrawPosition (SWEEP_RANDOM &Random, UINTN Size, UINTN Limit)
{
  const UINTN Room = (Size <= Limit) ? Limit - Size : 0;

  switch (Random.Below (6)) {
    case 0:
      return 0;
    case 1:
      return Room;
    case 2:
      return Room + 1;
    case 3:
      return Random.Edge (Limit);
    default:
      return Random.Below (Room + 1);
  }
}

/// A width or height: mostly glyph-sized, sometimes around the mode's size.
UINTN
DrawSize (SWEEP_RANDOM &Random, UINTN Limit)
{
  return Random.OneIn (4) ? Random.Edge (Limit) : Random.Between (1, 48);
}

/// Draws a call; legal calls whose buffer would exceed BUFFER_CAP are drawn again.
BLT_CALL
DrawCall (SWEEP_RANDOM &Random, UINTN HRes, UINTN VRes)
{
  for (;;) {
    BLT_CALL Call;

    Call.Operation    = (UINT32)(Random.OneIn (8) ? Random.Between (4, 7) : Random.Below (4)); // 4 to 7: past the last
    Call.Width        = DrawSize (Random, HRes);
    Call.Height       = DrawSize (Random, VRes);
    Call.SourceX      = DrawPosition (Random, Call.Width, HRes);
    Call.SourceY      = DrawPosition (Random, Call.Height, VRes);
    Call.DestinationX = DrawPosition (Random, Call.Width, HRes);
    Call.DestinationY = DrawPosition (Random, Call.Height, VRes);
    Call.NullBuffer   = Random.OneIn (16);
    switch (Random.Below (4)) {
      case 0:
        Call.Delta = Random.Edge (HRes * 4);
        break;
      case 1:
        Call.Delta = Call.Width * 4 + Random.Below (64);
        break;
      default:
        Call.Delta = 0;
        break;
    }

    //
    // The buffer side of a transfer is mostly small, sometimes far out.
    //
    if (!Random.OneIn (4)) {
      UINTN &BufferX = (Call.Operation == EfiBltVideoToBltBuffer) ? Call.DestinationX : Call.SourceX;
      UINTN &BufferY = (Call.Operation == EfiBltVideoToBltBuffer) ? Call.DestinationY : Call.SourceY;

      if ((Call.Operation == EfiBltVideoToBltBuffer) || (Call.Operation == EfiBltBufferToVideo)) {
        BufferX = Random.Below (64);
        BufferY = Random.Below (64);
      }
    }

    const WIDE Bytes = AddressedBytes (Call);

    if (!Acceptable (Call, HRes, VRes) || (Bytes <= BUFFER_CAP)) {
      return Call;
    }
  }
}

class BLT_SWEEP {
public:
  BLT_SWEEP ()
  {
    EXPECT_EQ (mPlatform.Model.ConnectController (mPlatform.Controller), EFI_SUCCESS);
    mGop = mPlatform.Gop ();
  }

  GOP_PLATFORM                  mPlatform;
  EFI_GRAPHICS_OUTPUT_PROTOCOL *mGop = nullptr;
  SWEEP_RANDOM                  mRandom;

  UINTN
  HRes () const
  {
    return mGop->Mode->Info->HorizontalResolution;
  }

  UINTN
  VRes () const
  {
    return mGop->Mode->Info->VerticalResolution;
  }

  UINT32 *
  Frame ()
  {
    return reinterpret_cast<UINT32 *> (mPlatform.Model.Controller.FrameBuffer ());
  }

  UINTN
  FrameBytes () const
  {
    return HRes () * VRes () * 4;
  }

  /// Sets a mode, paints the frame and fills the rest of BAR 0 with a sentinel.
  /// Unless BarKnown, the mode set cannot learn BAR 0's address (every other
  /// time GetBarAttributes fails, else it describes an I/O range): the GOP
  /// then offers Blt only, and Blt must work as before.
  void
  SetMode (UINT32 Mode, bool BarKnown, UINT64 Case)
  {
    const bool Changes = (Mode != mGop->Mode->Mode);

    if (!BarKnown && Changes) {
      if (Case % 2 == 0) {
        mPlatform.Model.Controller.FailCall (PciIoGetBarAttributes, 1);
      } else {
        mPlatform.Model.Controller.SetBarDescriptorType (ACPI_ADDRESS_SPACE_DESCRIPTOR, ACPI_ADDRESS_SPACE_TYPE_IO);
      }
    }

    ASSERT_EQ (mGop->SetMode (mGop, Mode), EFI_SUCCESS);
    mPlatform.Model.Controller.SetBarDescriptorType (ACPI_ADDRESS_SPACE_DESCRIPTOR, ACPI_ADDRESS_SPACE_TYPE_MEM);
    if (Changes) {
      ASSERT_EQ (mGop->Mode->Info->PixelFormat, BarKnown ? PixelBlueGreenRedReserved8BitPerColor : PixelBltOnly);
      ASSERT_EQ (mGop->Mode->FrameBufferSize, BarKnown ? FrameBytes () : 0u);
      ASSERT_EQ (mGop->Mode->FrameBufferBase == 0, !BarKnown);
      mBltOnlyModeSets += BarKnown ? 0 : 1;
    }

    for (UINTN Index = 0; Index < FrameBytes () / 4; Index++) {
      Frame ()[Index] = (UINT32)(Index * 2654435761u);
    }

    memset (
      mPlatform.Model.Controller.FrameBuffer () + FrameBytes (), 0x5A, HOST_MODEL_FRAME_BUFFER_SIZE - FrameBytes ()
    );
  }

  void
  ExpectSentinelIntact (const std::string &Where)
  {
    const UINT8 *Tail = mPlatform.Model.Controller.FrameBuffer () + FrameBytes ();
    const UINTN  Size = HOST_MODEL_FRAME_BUFFER_SIZE - FrameBytes ();
    UINT8        Sentinel[4096];

    memset (Sentinel, 0x5A, sizeof (Sentinel));
    for (UINTN Done = 0; Done < Size; Done += sizeof (Sentinel)) {
      const UINTN Chunk = (Size - Done < sizeof (Sentinel)) ? Size - Done : sizeof (Sentinel);

      ASSERT_EQ (memcmp (Tail + Done, Sentinel, Chunk), 0)
        << Where << ": BAR 0 written in the 4 KiB at " << Done << " bytes past the frame";
    }
  }

  UINT32
  FramePixel (UINTN X, UINTN Y)
  {
    return Frame ()[Y * HRes () + X];
  }

  void Run (UINT64 Case);

  UINTN mBltOnlyModeSets = 0;
};

void
BLT_SWEEP::Run (UINT64 Case)
{
  const std::string Where  = SweepCase (mRandom, Case);
  const BLT_CALL    Call   = DrawCall (mRandom, HRes (), VRes ());
  const bool        Accept = Acceptable (Call, HRes (), VRes ());
  const WIDE        Bytes  = AddressedBytes (Call);

  //
  // The caller's buffer: exactly the addressed bytes when they can be had,
  // a small one otherwise (the call must then be refused).
  //
  const UINTN        Size = (Bytes != 0 && Bytes <= BUFFER_CAP) ? (UINTN)Bytes : 64;
  std::vector<UINT8> Before (Size);
  UINT8             *Buffer = static_cast<UINT8 *> (malloc (Size));

  const UINT32 Seed = (UINT32)mRandom.Next ();

  for (UINTN Index = 0; Index < Size; Index++) {
    Before[Index] = (UINT8)((Index / 4 * 2654435761u ^ Seed) >> (Index % 4 * 8));
  }

  memcpy (Buffer, Before.data (), Size);

  const UINTN Delta      = (Call.Delta != 0) ? Call.Delta : Call.Width * 4;
  UINT32      Corners[4] = {};
  const UINTN Right      = Call.Width - 1;
  const UINTN Bottom     = Call.Height - 1;

  if (Accept && (Call.Operation == EfiBltVideoToVideo)) {
    Corners[0] = FramePixel (Call.SourceX, Call.SourceY);
    Corners[1] = FramePixel (Call.SourceX + Right, Call.SourceY + Bottom);
  }

  mPlatform.Model.Controller.ClearLogs ();
  const EFI_STATUS Status = mGop->Blt (
    mGop, Call.NullBuffer ? nullptr : reinterpret_cast<EFI_GRAPHICS_OUTPUT_BLT_PIXEL *> (Buffer),
    EFI_GRAPHICS_OUTPUT_BLT_OPERATION (Call.Operation), Call.SourceX, Call.SourceY, Call.DestinationX,
    Call.DestinationY, Call.Width, Call.Height, Call.Delta
  );
  const std::vector<FRAME_ACCESS> &Log = mPlatform.Model.Controller.FrameLog ();

  EXPECT_EQ (mPlatform.Model.CurrentTpl (), (EFI_TPL)TPL_APPLICATION) << Where;
  if (!Accept) {
    EXPECT_EQ (Status, EFI_INVALID_PARAMETER) << Where << " operation " << Call.Operation;
    EXPECT_TRUE (Log.empty ()) << Where << ": a refused Blt touched the frame";
    EXPECT_EQ (memcmp (Buffer, Before.data (), Size), 0) << Where << ": a refused Blt touched the buffer";
    free (Buffer);
    return;
  }

  EXPECT_EQ (Status, EFI_SUCCESS) << Where << " operation " << Call.Operation;
  EXPECT_EQ (Log.size (), Call.Height * (Call.Operation == EfiBltVideoToVideo ? 2 : 1))
    << Where << ": one PCI I/O call per row";
  for (const FRAME_ACCESS &Access : Log) {
    EXPECT_LE (WIDE (Access.Offset) + WIDE (Access.Count) * 4, FrameBytes ()) << Where << ": access past the frame";
  }

  //
  // A Delta that is not a multiple of 4 puts buffer pixels at any address.
  //
  auto BufferPixel = [Buffer, Delta] (UINTN X, UINTN Y) {
    return ReadUnaligned32 (reinterpret_cast<const UINT32 *> (Buffer + Y * Delta + X * 4));
  };

  switch (Call.Operation) {
    case EfiBltVideoFill:
      EXPECT_EQ (FramePixel (Call.DestinationX, Call.DestinationY), BufferPixel (0, 0)) << Where;
      EXPECT_EQ (FramePixel (Call.DestinationX + Right, Call.DestinationY + Bottom), BufferPixel (0, 0)) << Where;
      break;
    case EfiBltBufferToVideo:
      EXPECT_EQ (FramePixel (Call.DestinationX, Call.DestinationY), BufferPixel (Call.SourceX, Call.SourceY)) << Where;
      EXPECT_EQ (
        FramePixel (Call.DestinationX + Right, Call.DestinationY + Bottom),
        BufferPixel (Call.SourceX + Right, Call.SourceY + Bottom)
      ) << Where;
      break;
    case EfiBltVideoToBltBuffer:
      EXPECT_EQ (
        BufferPixel (Call.DestinationX + Right, Call.DestinationY + Bottom),
        FramePixel (Call.SourceX + Right, Call.SourceY + Bottom)
      ) << Where;
      break;
    default:
      EXPECT_EQ (FramePixel (Call.DestinationX, Call.DestinationY), Corners[0]) << Where;
      EXPECT_EQ (FramePixel (Call.DestinationX + Right, Call.DestinationY + Bottom), Corners[1]) << Where;
      break;
  }

  free (Buffer);
}

} // namespace

TEST (GopBltSweep, RandomBltCallsStayInsideFrameAndBuffer)
{
  BLT_SWEEP   Sweep;
  const UINTN Calls    = SweepSize (5000, 100000);
  const UINTN PerMode  = 500;
  UINTN       Accepted = 0;

  ASSERT_NE (Sweep.mGop, nullptr);
  for (UINT64 Case = 0; Case < Calls && !HasFailure (); Case++) {
    if (Case % PerMode == 0) {
      if (Case != 0) {
        Sweep.ExpectSentinelIntact (SweepCase (Sweep.mRandom, Case));
      }

      //
      // Every fourth mode set finds no frame-buffer address.
      //
      const UINT64 ModeSet = Case / PerMode;
      Sweep.SetMode ((UINT32)Sweep.mRandom.Below (4), ModeSet % 4 != 3, ModeSet / 4);
    }

    Sweep.Run (Case);
    Accepted += Sweep.mPlatform.Model.Controller.FrameLog ().empty () ? 0 : 1;
  }

  Sweep.ExpectSentinelIntact ("end of the sweep");
  SweepReport ("GopBltSweep", "Blt calls", Calls);
  SweepReport ("GopBltSweep", "Blt calls accepted", Accepted);
  SweepReport ("GopBltSweep", "mode sets without a frame-buffer address", Sweep.mBltOnlyModeSets);
}

int gGopBltSweepFile = 1; // named by main, see GopReliabilityMain.cpp
