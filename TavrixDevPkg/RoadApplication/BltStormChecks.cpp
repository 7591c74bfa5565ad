/** @file
  A Blt storm through the firmware's own boot services: thousands of random
  Blt calls on the GOP of the controller, with operations past the last one,
  coordinates at, near and far past the edges of the mode, huge sizes and
  deltas and NULL buffers. Every call must be answered as the rectangle rules
  say (accepted exactly when its rectangles lie inside the mode and the part
  of the caller's buffer it addresses has an address, otherwise
  EFI_INVALID_PARAMETER), the task priority level must come back, nothing may
  be written behind the current frame, and the GOP must still work after.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "RoadCheck.h"

namespace {

constexpr UINTN kStormCalls   = 10000;
constexpr UINTN kBufferPixels = 64 * 64;
constexpr UINTN kSentinelSize = 256 * 1024;
constexpr UINT8 kSentinel     = 0x5A;

/// Deterministic random values (xorshift64*), so that a failure repeats.
UINT64 mRandomState = 0x9E3779B97F4A7C15ULL;

UINT64
Next (VOID)
{
  mRandomState ^= mRandomState >> 12;
  mRandomState ^= mRandomState << 25;
  mRandomState ^= mRandomState >> 27;
  return mRandomState * 0x2545F4914F6CDD1DULL;
}

UINTN
Below (UINTN Limit)
{
  return (Limit == 0) ? 0 : (UINTN)(Next () % Limit);
}

/// A value around Limit: inside, at, just past or far past it, or where sums wrap.
UINTN
Edge (UINTN Limit)
{
  switch (Below (8)) {
    case 0:
      return 0;
    case 1:
      return Limit;
    case 2:
      return Limit + 1;
    case 3:
      return Limit - (Limit > 0 ? 1 : 0);
    case 4:
      return MAX_UINTN - Below (4);
    case 5:
      return (UINTN)1 << (32 + Below (32));
    case 6:
      return (UINTN)Next ();
    default:
      return Below (Limit + 1);
  }
}

struct STORM_CALL {
  EFI_GRAPHICS_OUTPUT_BLT_OPERATION Operation;
  UINTN                             SourceX, SourceY, DestinationX, DestinationY, Width, Height, Delta;
  BOOLEAN                           NullBuffer;
};

BOOLEAN
Fits (UINTN X, UINTN Width, UINTN Limit)
{
  return (X <= Limit) && (Width <= Limit - X);
}

/// Bytes of the caller's buffer the call addresses; FALSE when they have no address.
BOOLEAN
AddressedBytes (const STORM_CALL &Call, UINTN X, UINTN Y, UINTN *Bytes)
{
  UINTN Delta = Call.Delta;
  UINTN Last;
  UINTN RowEnd;

  if ((Delta == 0) && __builtin_mul_overflow (Call.Width, (UINTN)4, &Delta)) {
    return FALSE;
  }

  return !__builtin_add_overflow (Y, Call.Height - 1, &Last) && !__builtin_mul_overflow (Last, Delta, &Last) &&
         !__builtin_add_overflow (X, Call.Width, &RowEnd) && !__builtin_mul_overflow (RowEnd, (UINTN)4, &RowEnd) &&
         !__builtin_add_overflow (Last, RowEnd, Bytes);
}

/// Whether the call must be accepted in a mode of HRes x VRes.
BOOLEAN
Acceptable (const STORM_CALL &Call, UINTN HRes, UINTN VRes)
{
  UINTN Bytes;

  if (((UINT32)Call.Operation > EfiBltVideoToVideo) || (Call.Width == 0) || (Call.Height == 0)) {
    return FALSE;
  }

  if ((Call.Operation != EfiBltVideoToVideo) && Call.NullBuffer) {
    return FALSE;
  }

  const BOOLEAN SourceIn = Fits (Call.SourceX, Call.Width, HRes) && Fits (Call.SourceY, Call.Height, VRes);
  const BOOLEAN TargetIn = Fits (Call.DestinationX, Call.Width, HRes) && Fits (Call.DestinationY, Call.Height, VRes);

  switch (Call.Operation) {
    case EfiBltVideoToBltBuffer:
      return SourceIn && AddressedBytes (Call, Call.DestinationX, Call.DestinationY, &Bytes);
    case EfiBltBufferToVideo:
      return TargetIn && AddressedBytes (Call, Call.SourceX, Call.SourceY, &Bytes);
    case EfiBltVideoToVideo:
      return SourceIn && TargetIn;
    default:
      return TargetIn;
  }
}

/// Draws a call whose buffer side, when legal, fits the storm's buffer.
STORM_CALL
DrawCall (UINTN HRes, UINTN VRes)
{
  for (;;) {
    STORM_CALL Call;

    Call.Operation    = (EFI_GRAPHICS_OUTPUT_BLT_OPERATION)(Below (8) == 0 ? 4 + Below (4) : Below (4));
    Call.Width        = (Below (8) == 0) ? Edge (HRes) : 1 + Below (32);
    Call.Height       = (Below (8) == 0) ? Edge (VRes) : 1 + Below (32);
    Call.SourceX      = (Below (2) == 0) ? Edge (HRes) : Below (HRes);
    Call.SourceY      = (Below (2) == 0) ? Edge (VRes) : Below (VRes);
    Call.DestinationX = (Below (2) == 0) ? Edge (HRes) : Below (HRes);
    Call.DestinationY = (Below (2) == 0) ? Edge (VRes) : Below (VRes);
    Call.Delta        = (Below (2) == 0) ? 0 : ((Below (2) == 0) ? Edge (HRes * 4) : Call.Width * 4 + Below (16));
    Call.NullBuffer   = (Below (16) == 0);

    if ((Call.Operation == EfiBltVideoToBltBuffer) || (Call.Operation == EfiBltBufferToVideo)) {
      UINTN &X = (Call.Operation == EfiBltVideoToBltBuffer) ? Call.DestinationX : Call.SourceX;
      UINTN &Y = (Call.Operation == EfiBltVideoToBltBuffer) ? Call.DestinationY : Call.SourceY;
      UINTN  Bytes;

      if (Below (4) != 0) {
        X = Below (16);
        Y = Below (16);
      }

      //
      // A legal call may address only the storm's buffer.
      //
      if (Acceptable (Call, HRes, VRes) && AddressedBytes (Call, X, Y, &Bytes) && (Bytes > kBufferPixels * 4)) {
        continue;
      }
    }

    return Call;
  }
}

} // namespace

VOID
CheckBltStorm (IN ROAD &Road)
{
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop = Road.Gop;

  if ((Gop == nullptr) || (Gop->Mode == nullptr) || (Gop->Mode->Info == nullptr)) {
    Check ("Blt storm: a GOP on the controller to storm", FALSE, "no GOP");
    return;
  }

  const UINTN HRes       = Gop->Mode->Info->HorizontalResolution;
  const UINTN VRes       = Gop->Mode->Info->VerticalResolution;
  const UINTN FrameBytes = (UINTN)Gop->Mode->FrameBufferSize;
  UINT8      *Behind     = reinterpret_cast<UINT8 *> ((UINTN)(Gop->Mode->FrameBufferBase + FrameBytes));
  UINTN       Watched    = 0;

  if (Road.FrameBufferSize > FrameBytes) {
    Watched = (UINTN)(Road.FrameBufferSize - FrameBytes);
    Watched = (Watched < kSentinelSize) ? Watched : kSentinelSize;
    SetMem (Behind, Watched, kSentinel);
  }

  auto *Buffer = static_cast<EFI_GRAPHICS_OUTPUT_BLT_PIXEL *> (AllocateZeroPool (kBufferPixels * 4));
  if (Buffer == nullptr) {
    Check ("Blt storm: a buffer for the storm", FALSE, "out of pool");
    return;
  }

  UINTN Accepted   = 0;
  UINTN Refused    = 0;
  UINTN Wrong      = 0;
  UINTN FirstWrong = 0;
  UINTN TplLeft    = 0;

  for (UINTN Index = 0; Index < kStormCalls; Index++) {
    const STORM_CALL Call   = DrawCall (HRes, VRes);
    const BOOLEAN    Accept = Acceptable (Call, HRes, VRes);
    EFI_STATUS       Status = Gop->Blt (
            Gop, Call.NullBuffer ? nullptr : Buffer, Call.Operation, Call.SourceX, Call.SourceY, Call.DestinationX,
            Call.DestinationY, Call.Width, Call.Height, Call.Delta
          );

    Accepted += (Status == EFI_SUCCESS) ? 1 : 0;
    Refused += (Status == EFI_INVALID_PARAMETER) ? 1 : 0;
    if (Status != (Accept ? EFI_SUCCESS : EFI_INVALID_PARAMETER)) {
      FirstWrong = (Wrong == 0) ? Index : FirstWrong;
      Wrong++;
    }

    const EFI_TPL Tpl = gBS->RaiseTPL (TPL_HIGH_LEVEL);
    gBS->RestoreTPL (Tpl);
    TplLeft += (Tpl != TPL_APPLICATION) ? 1 : 0;
  }

  UINTN Stray = 0;
  for (UINTN Index = 0; Index < Watched; Index++) {
    Stray += (Behind[Index] != kSentinel) ? 1 : 0;
  }

  //
  // The GOP still works: a pattern put in the corner comes back unchanged.
  //
  for (UINTN Index = 0; Index < 64; Index++) {
    *reinterpret_cast<UINT32 *> (&Buffer[Index]) = (UINT32)(0x00102030 + Index * 0x010101);
  }

  Gop->Blt (Gop, Buffer, EfiBltBufferToVideo, 0, 0, 0, 0, 8, 8, 0);
  auto *Back = Buffer + 64;
  Gop->Blt (Gop, Back, EfiBltVideoToBltBuffer, 0, 0, 0, 0, 8, 8, 0);
  const BOOLEAN Works = CompareMem (Buffer, Back, 64 * 4) == 0;
  FreePool (Buffer);

  Note (
    "Blt storm: %u calls through the firmware's boot services in %ux%u, %u accepted, %u refused", (UINT32)kStormCalls,
    (UINT32)HRes, (UINT32)VRes, (UINT32)Accepted, (UINT32)Refused
  );
  Check (
    "Blt storm: every call answered as the rectangle rules say", Wrong == 0, "%u wrong, the first at call %u",
    (UINT32)Wrong, (UINT32)FirstWrong
  );
  Check (
    "Blt storm: the task priority level comes back after every call", TplLeft == 0, "%u calls left it raised",
    (UINT32)TplLeft
  );
  Check (
    "Blt storm: nothing written behind the current frame", Stray == 0, "%u of %u bytes changed", (UINT32)Stray,
    (UINT32)Watched
  );
  Check ("Blt storm: the GOP still copies pixels after the storm", Works, "an 8x8 pattern came back changed");
}
