/** @file
  Randomized calls of Prelumen's drawing services with random platforms:
  display-information HOB geometry, shadow-buffer size, transparent text,
  with and without a GOP, and random rows, columns, offsets, row steps,
  image sizes, depths and strings, at random task priority levels.

  With a GOP, the GOP's current mode changes under the driver: its buffer
  may be smaller or larger than the HOB's frame, it may turn Blt-only or
  move to address 0 and back, and on some platforms the GOP's driver stops
  (the interface and its memory are freed) and starts again on the same
  handle. Drawing calls come at TPL_APPLICATION up to TPL_HIGH_LEVEL, where
  the host model fails any HandleProtocol call; on platforms whose GOP can
  go they stay at TPL_NOTIFY or below, because above it the driver uses the
  GOP its last look-up confirmed, and a stop that no drawing call has seen
  since leaves that interface freed.

  Nothing may be written outside the frame, the shadow buffer or the 80 x
  25 text screen, and nothing read outside the caller's image:
  - with a GOP, its buffer is a heap block of exactly its FrameBufferSize,
    so AddressSanitizer reports any byte written outside it; where it is
    larger than the HOB's frame, the bytes behind the frame hold a
    sentinel, as does the whole block while the mode has no linear frame
    buffer; a stopped GOP's block is freed;
  - on the fixed aperture, everything behind the HOB's frame holds a
    sentinel that is checked whenever the geometry changes;
  - the shadow buffer's pages keep, behind its byte size, what the
    allocator left there;
  - VGA text memory keeps its sentinel behind the screen's 4,000 bytes;
  - an image is a heap block of exactly the bytes its depth gives (rows
    padded to 4 bytes, 4 bytes a pixel at 32 bits, 3 at 24, a single byte
    at a depth the service refuses).
  Images and strings are valid for their own sizes (that is the caller's
  part); only their placement is random.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include <HostModel.h>
#include <ReliabilitySweep.h>

#include "../PrelumenTest.h"

extern "C" {
#include <Library/UefiBootServicesTableLib.h>
}

namespace {

constexpr UINT64 TEXT_SCREEN_BYTES = 80 * 25 * 2;
constexpr UINT8  SENTINEL          = 0x5A;
constexpr UINT64 GOP_FRAME_CAP     = 8 * 1024 * 1024;

enum PLATFORM_KIND { GraphicsWithGop, GraphicsOnAperture, TextMode };

const char *
KindName (PLATFORM_KIND Kind)
{
  return Kind == GraphicsWithGop      ? "graphics with a GOP"
         : Kind == GraphicsOnAperture ? "graphics on the aperture"
                                      : "text";
}

/// Offset of the first byte in [Start, Start + Length) that is not SENTINEL, or Length.
UINT64
FirstNotSentinel (const UINT8 *Start, UINT64 Length)
{
  static UINT8 Block[65536];

  if (Block[0] != SENTINEL) {
    memset (Block, SENTINEL, sizeof (Block));
  }

  for (UINT64 Done = 0; Done < Length; Done += sizeof (Block)) {
    const UINT64 Chunk = (Length - Done < sizeof (Block)) ? Length - Done : sizeof (Block);

    if (memcmp (Start + Done, Block, Chunk) != 0) {
      for (UINT64 Index = Done;; Index++) {
        if (Start[Index] != SENTINEL) {
          return Index;
        }
      }
    }
  }

  return Length;
}

/// The end node: all that the GOP's handle needs for Prelumen to take it.

/// A GOP interface with its mode records, on the heap so that a stopped
/// driver's interface is freed memory.
struct SWEEP_GOP {
  EFI_GRAPHICS_OUTPUT_PROTOCOL         Protocol = {};
  EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE    Mode     = {};
  EFI_GRAPHICS_OUTPUT_MODE_INFORMATION Info     = {};
};

/// What the GOP's current mode offers.
enum GOP_STATE { GopLinear, GopBltOnly, GopAtZero, GopStopped };

class DRAWING_PLATFORM {
public:
  DRAWING_PLATFORM (PLATFORM_KIND Kind, SWEEP_RANDOM &Random) : mKind (Kind), mRandom (Random)
  {
    ResetModuleState ();

    const EFI_GUID &Space = gEarlyVideoTokenSpaceGuid;

    mModel.Pcd.SetExBool (Space, 10, Kind != TextMode);
    mModel.Pcd.SetEx32 (Space, 8, (UINT32)(Random.OneIn (8) ? 0 : Random.Between (1, 1400)));
    mModel.Pcd.SetEx32 (Space, 7, (UINT32)(Random.OneIn (8) ? 0 : Random.Between (1, 1100)));
    mModel.Pcd.SetEx8 (Space, 4, 0x1C);
    mModel.Pcd.SetEx8 (Space, 5, 0);
    mModel.Pcd.SetEx32 (Space, 1, 0x01000000);
    mInfo = mModel.Hobs.AddEarlyVideoInfo (640, 480, 0, 0);
    if (Kind == TextMode) {
      mModel.EarlyDisplay.InstallText ();
    } else {
      mModel.Controller.TurnApertureOn (); // as the platform's early set-up leaves it
      mModel.EarlyDisplay.InstallGraphics ();
    }

    EXPECT_EQ (mModel.StartModule (EarlyVideoEntryPoint), EFI_SUCCESS);
    mShadowTail = ShadowTail ();
    memset (mModel.Windows.TextMemory (), SENTINEL, HOST_MODEL_TEXT_MEMORY_SIZE);
    if (Kind == GraphicsWithGop) {
      mGopCanStop = Random.OneIn (2);
      mGopHandle  = mModel.Controller.Publish (); // the GOP goes on the controller's own handle
      StartGop ();
      EXPECT_TRUE (mGopFound) << "the GOP was not taken";
    }

    NewGeometry ();
  }

  ~DRAWING_PLATFORM ()
  {
    ExpectOutsideUntouched ("platform end");
    EXPECT_EQ (ShadowTail (), mShadowTail) << "shadow buffer written past its size";
    free (mGopFrame);
    delete mGop;
  }

  void Call (UINT64 Case);

  UINTN Calls = 0;

private:
  UINT32
  FrameWidth () const
  {
    return ReadUnaligned32 (reinterpret_cast<UINT32 *> (mInfo + HOST_MODEL_VIDEO_INFO_FRAME_WIDTH));
  }

  UINT32
  FrameHeight () const
  {
    return ReadUnaligned32 (reinterpret_cast<UINT32 *> (mInfo + HOST_MODEL_VIDEO_INFO_FRAME_HEIGHT));
  }

  UINT64
  FrameBytes () const
  {
    return UINT64 (FrameWidth ()) * FrameHeight () * 4;
  }

  /// The bytes of the shadow buffer's last page behind its byte size.
  std::vector<UINT8>
  ShadowTail () const
  {
    if (mShadowBuffer == nullptr) {
      return {};
    }

    const UINTN End = EFI_PAGES_TO_SIZE (EFI_SIZE_TO_PAGES (mShadowBufferSize));

    return std::vector<UINT8> (mShadowBuffer + mShadowBufferSize, mShadowBuffer + End);
  }

  /// A new frame geometry in the HOB (and a new mode of the GOP).
  void NewGeometry ();

  /// A new buffer behind the GOP's current mode, of a random size around
  /// the HOB's frame; a mode without a linear frame buffer keeps it filled
  /// with the sentinel.
  void NewGopBuffer ();

  /// The GOP's driver starts: a new interface on the GOP's handle.
  void StartGop ();

  /// The GOP's mode turns Blt-only, moves its buffer to address 0, gets a
  /// linear buffer back, or (where it can) its driver stops or starts.
  void ChangeGop (const std::string &Where);

  /// The TPL of the next drawing call.
  EFI_TPL
  CallerTpl ()
  {
    static constexpr EFI_TPL Levels[] = { TPL_APPLICATION, TPL_CALLBACK, TPL_NOTIFY, TPL_HIGH_LEVEL };

    return Levels[mRandom.Below (mGopCanStop ? 3 : 4)];
  }

  void ExpectOutsideUntouched (const std::string &Where);

  void DrawString (const std::string &Where);

  void DrawImage (const std::string &Where);

  void PrintString (const std::string &Where);

  PLATFORM_KIND      mKind;
  SWEEP_RANDOM      &mRandom;
  HOST_MODEL         mModel;
  UINT8             *mInfo;
  std::vector<UINT8> mShadowTail;
  EFI_HANDLE         mGopHandle  = nullptr;
  SWEEP_GOP         *mGop        = nullptr;
  GOP_STATE          mGopState   = GopStopped;
  BOOLEAN            mGopCanStop = FALSE;
  UINT8             *mGopFrame   = nullptr;
  UINT64             mGopBytes   = 0;
  BOOLEAN            mDisabled   = FALSE; ///< as the last EnableDrawing set it
};

void
DRAWING_PLATFORM::NewGeometry ()
{
  const UINT64 Cap = (mKind == GraphicsOnAperture) ? HOST_MODEL_APERTURE_SIZE : GOP_FRAME_CAP;
  UINT32       Width;
  UINT32       Height;

  do {
    Width  = (UINT32)(mRandom.OneIn (16) ? 0 : mRandom.OneIn (2) ? mRandom.Between (1, 64) : mRandom.Between (1, 2048));
    Height = (UINT32)(mRandom.OneIn (16) ? 0 : mRandom.OneIn (2) ? mRandom.Between (1, 64) : mRandom.Between (1, 2048));
  } while (UINT64 (Width) * Height * 4 > Cap);

  WriteUnaligned32 (reinterpret_cast<UINT32 *> (mInfo + HOST_MODEL_VIDEO_INFO_FRAME_WIDTH), Width);
  WriteUnaligned32 (reinterpret_cast<UINT32 *> (mInfo + HOST_MODEL_VIDEO_INFO_FRAME_HEIGHT), Height);
  mInfo[HOST_MODEL_VIDEO_INFO_TRANSPARENT_TEXT] = mRandom.OneIn (2) ? (UINT8)mRandom.Between (1, 255) : 0;
  WriteUnaligned32 (
    reinterpret_cast<UINT32 *> (mInfo + HOST_MODEL_VIDEO_INFO_CURRENT_BANK), (UINT32)mRandom.Edge (0x200)
  );

  if (mKind == GraphicsWithGop) {
    NewGopBuffer ();
  } else if (mKind == GraphicsOnAperture) {
    memset (mModel.Windows.Aperture () + FrameBytes (), SENTINEL, HOST_MODEL_APERTURE_SIZE - FrameBytes ());
  }
}

void
DRAWING_PLATFORM::NewGopBuffer ()
{
  free (mGopFrame);
  mGopFrame = nullptr;
  if (mGop == nullptr) {
    return;
  }

  //
  // As large as the HOB's frame, smaller (a GOP driver that starts in a
  // lower resolution than the earlier phase used) or larger.
  //
  switch (mRandom.Below (4)) {
    case 0:
      mGopBytes = mRandom.Below (FrameBytes () + 1);
      break;
    case 1:
      mGopBytes = FrameBytes () + mRandom.Between (1, 64 * 1024);
      break;
    default:
      mGopBytes = FrameBytes ();
      break;
  }

  mGopFrame = static_cast<UINT8 *> (malloc (mGopBytes + (mGopBytes == 0 ? 1 : 0)));
  memset (mGopFrame, SENTINEL, mGopBytes);

  const UINT32 Width = FrameWidth ();

  mGop->Mode.FrameBufferBase      = (mGopState == GopAtZero) ? 0 : (EFI_PHYSICAL_ADDRESS)(UINTN)mGopFrame;
  mGop->Mode.FrameBufferSize      = mGopBytes;
  mGop->Info.HorizontalResolution = Width;
  mGop->Info.VerticalResolution   = (Width == 0) ? 0 : (UINT32)(mGopBytes / 4 / Width);
  mGop->Info.PixelsPerScanLine    = Width;
  mGop->Info.PixelFormat          = (mGopState == GopBltOnly) ? PixelBltOnly : PixelBlueGreenRedReserved8BitPerColor;
}

void
DRAWING_PLATFORM::StartGop ()
{
  mGop                = new SWEEP_GOP ();
  mGop->Mode.Info     = &mGop->Info;
  mGop->Protocol.Mode = &mGop->Mode;
  mGopState           = GopLinear;
  NewGopBuffer ();
  mModel.InstallProtocol (mGopHandle, gEfiGraphicsOutputProtocolGuid, &mGop->Protocol);
}

void
DRAWING_PLATFORM::ChangeGop (const std::string &Where)
{
  ExpectOutsideUntouched (Where);
  if (mGopState == GopStopped) {
    StartGop ();
    return;
  }

  const GOP_STATE Next = (GOP_STATE)mRandom.Below (mGopCanStop ? 4 : 3);

  if (Next == GopStopped) {
    EXPECT_EQ (
      gBS->UninstallProtocolInterface (mGopHandle, &gEfiGraphicsOutputProtocolGuid, &mGop->Protocol), EFI_SUCCESS
    ) << Where;
    delete mGop;
    mGop = nullptr;
    free (mGopFrame);
    mGopFrame = nullptr;
    mGopState = GopStopped;
    return;
  }

  //
  // A mode change: the same interface, a new buffer.
  //
  mGopState = Next;
  NewGopBuffer ();
}

void
DRAWING_PLATFORM::ExpectOutsideUntouched (const std::string &Where)
{
  const UINT8 *Text   = mModel.Windows.TextMemory ();
  const UINT64 Screen = (mKind == TextMode) ? TEXT_SCREEN_BYTES : 0;
  const UINT64 Text0  = FirstNotSentinel (Text + Screen, HOST_MODEL_TEXT_MEMORY_SIZE - Screen);

  EXPECT_EQ (Text0, HOST_MODEL_TEXT_MEMORY_SIZE - Screen)
    << Where << ": text memory written at offset " << Screen + Text0;

  if (mKind == GraphicsOnAperture) {
    const UINT64 Tail  = HOST_MODEL_APERTURE_SIZE - FrameBytes ();
    const UINT64 Stray = FirstNotSentinel (mModel.Windows.Aperture () + FrameBytes (), Tail);

    EXPECT_EQ (Stray, Tail) << Where << ": aperture written " << Stray << " bytes past the frame";
  }

  if ((mKind == GraphicsWithGop) && (mGopFrame != nullptr)) {
    //
    // Without a linear frame buffer nothing of the block may be written;
    // with one, nothing behind the HOB's frame.
    //
    const UINT64 Start = (mGopState == GopLinear) ? (FrameBytes () < mGopBytes ? FrameBytes () : mGopBytes) : 0;
    const UINT64 Stray = FirstNotSentinel (mGopFrame + Start, mGopBytes - Start);

    EXPECT_EQ (Stray, mGopBytes - Start) << Where << ": GOP buffer written at offset " << Start + Stray;
  }
}

void
DRAWING_PLATFORM::DrawString (const std::string &Where)
{
  //
  // Up to 300 characters (the service draws at most 256) of any byte value.
  //
  std::string Text (mRandom.OneIn (4) ? mRandom.Below (300) : mRandom.Below (40), ' ');

  for (char &Character : Text) {
    Character = (char)mRandom.Between (1, 255);
  }

  const UINT16 Column =
    (UINT16)(mRandom.OneIn (2) ? mRandom.Below (FrameWidth () / 8 + 2) : mRandom.Edge (FrameWidth () / 8));
  const UINT16 Row =
    (UINT16)(mRandom.OneIn (2) ? mRandom.Below (FrameHeight () / 16 + 2) : mRandom.Edge (FrameHeight () / 16));

  EXPECT_EQ (
    mModel.EarlyDisplay.DrawString (
      Column, Row, (UINT32)mRandom.Next (), (UINT32)mRandom.Next (), mRandom.OneIn (32) ? nullptr : Text.c_str ()
    ),
    EFI_SUCCESS
  ) << Where;
}

void
DRAWING_PLATFORM::DrawImage (const std::string &Where)
{
  const UINT32  Width  = (UINT32)(mRandom.OneIn (8) ? mRandom.Between (0, 400) : mRandom.Between (0, 48));
  const UINT32  Height = (UINT32)(mRandom.OneIn (8) ? mRandom.Between (0, 300) : mRandom.Between (0, 48));
  const UINT8   Bits   = (UINT8)(mRandom.OneIn (2) ? 32 : mRandom.OneIn (2) ? 24 : mRandom.Below (256));
  const UINT32  Pitch  = FrameWidth () * 4;
  const BOOLEAN Known  = (Bits == 32) || (Bits == 24);

  //
  // The source exactly as large as its depth makes it: rows padded to 4
  // bytes, the last row without padding. A refused depth gets one byte.
  //
  const UINT64 Stride = ((UINT64 (Bits) * Width) / 8 + 3) & ~UINT64 (3);
  const UINT64 Bytes  = (!Known || Width == 0 || Height == 0) ? 1 : (Height - 1) * Stride + UINT64 (Width) * (Bits / 8);
  std::vector<UINT8> Storage (Bytes);

  for (UINT8 &Byte : Storage) {
    Byte = (UINT8)mRandom.Next ();
  }

  UINT8 *Image = static_cast<UINT8 *> (malloc (Bytes));

  memcpy (Image, Storage.data (), Bytes);

  UINT32 Offset;
  UINT32 RowStep;

  switch (mRandom.Below (4)) {
    case 0:
      Offset = (UINT32)mRandom.Below (FrameBytes () + 1);
      break;
    case 1:
      Offset = mRandom.Edge32 ((UINT32)FrameBytes ());
      break;
    case 2:
      Offset = (UINT32)(FrameBytes () - mRandom.Below (Pitch * 2 + 8));
      break;
    default:
      Offset = (UINT32)mRandom.Next ();
      break;
  }

  switch (mRandom.Below (4)) {
    case 0:
      RowStep = Pitch;
      break;
    case 1:
      RowStep = (UINT32)(0 - Pitch);
      break; // drawing upwards
    case 2:
      RowStep = mRandom.Edge32 (Pitch);
      break;
    default:
      RowStep = (UINT32)mRandom.Next ();
      break;
  }

  const BOOLEAN    NoImage  = mRandom.OneIn (32);
  const EFI_STATUS Expected = (mDisabled || NoImage || Known) ? EFI_SUCCESS : EFI_UNSUPPORTED;

  EXPECT_EQ (
    mModel.EarlyDisplay.DrawImage (
      Offset, RowStep, NoImage ? nullptr : Image, Width, Height, Bits, mRandom.OneIn (3) ? 1 : 0
    ),
    Expected
  ) << Where;
  EXPECT_EQ (memcmp (Image, Storage.data (), Bytes), 0) << Where << ": the image was written";
  free (Image);
}

void
DRAWING_PLATFORM::PrintString (const std::string &Where)
{
  std::string Text (mRandom.OneIn (8) ? mRandom.Below (5000) : mRandom.Below (100), ' ');

  for (char &Character : Text) {
    Character = (char)mRandom.Between (1, 255);
  }

  const UINT32 Column = mRandom.OneIn (2) ? (UINT32)mRandom.Below (81) : mRandom.Edge32 (80);
  const UINT32 Row    = mRandom.OneIn (2) ? (UINT32)mRandom.Below (26) : mRandom.Edge32 (25);

  EXPECT_EQ (
    mModel.EarlyDisplay.PrintString (Column, Row, (UINT8)mRandom.Next (), mRandom.OneIn (32) ? nullptr : Text.c_str ()),
    EFI_SUCCESS
  ) << Where;
}

void
DRAWING_PLATFORM::Call (UINT64 Case)
{
  const std::string Where = SweepCase (mRandom, Case) + " (" + KindName (mKind) + ")";

  Calls++;
  if (mKind == TextMode) {
    PrintString (Where);
    ExpectOutsideUntouched (Where);
    return;
  }

  switch (mRandom.Below (16)) {
    case 0:
      ExpectOutsideUntouched (Where);
      NewGeometry ();
      return;
    case 1:
      EXPECT_EQ (mModel.EarlyDisplay.SetBank ((UINT32)mRandom.Edge (0x1000)), EFI_SUCCESS) << Where;
      return;
    case 2: {
      const UINT32 Enable = mRandom.OneIn (4) ? (UINT32)mRandom.Next () : (mRandom.OneIn (4) ? 0 : 1);

      EXPECT_EQ (mModel.EarlyDisplay.EnableDrawing (Enable), Enable <= 1 ? EFI_SUCCESS : EFI_INVALID_PARAMETER)
        << Where;
      if (Enable <= 1) {
        mDisabled = (Enable == 0);
      }

      return;
    }
    case 3:
      if (mKind == GraphicsWithGop) {
        ChangeGop (Where);
        return;
      }

      [[fallthrough]];
    default: {
      const EFI_TPL Old = gBS->RaiseTPL (CallerTpl ());

      if (mRandom.OneIn (2)) {
        DrawString (Where);
      } else {
        DrawImage (Where);
      }

      gBS->RestoreTPL (Old);
    }
  }
}

void
Sweep (PLATFORM_KIND Kind, UINTN Platforms, UINTN CallsPerPlatform)
{
  SWEEP_RANDOM Random;
  UINT64       Case  = 0;
  UINTN        Calls = 0;

  for (UINTN Index = 0; Index < Platforms && !::testing::Test::HasFailure (); Index++) {
    DRAWING_PLATFORM Platform (Kind, Random);

    for (UINTN Call = 0; Call < CallsPerPlatform && !::testing::Test::HasFailure (); Call++) {
      Platform.Call (Case++);
    }

    Calls += Platform.Calls;
  }

  SweepReport ("PrelumenDrawingSweep", (std::string ("calls, ") + KindName (Kind)).c_str (), Calls);
  SweepReport ("PrelumenDrawingSweep", (std::string ("platforms, ") + KindName (Kind)).c_str (), Platforms);
}

} // namespace

TEST (PrelumenDrawingSweep, GraphicsWithGopWritesOnlyInsideFrameAndShadow)
{
  Sweep (GraphicsWithGop, SweepSize (8, 80), SweepSize (250, 1000));
}

TEST (PrelumenDrawingSweep, GraphicsOnApertureWritesOnlyInsideFrameAndShadow)
{
  Sweep (GraphicsOnAperture, SweepSize (4, 40), SweepSize (250, 1000));
}

TEST (PrelumenDrawingSweep, TextModeWritesOnlyInsideScreen)
{
  Sweep (TextMode, SweepSize (4, 20), SweepSize (250, 2500));
}

int
main (int Argc, char **Argv)
{
  testing::InitGoogleTest (&Argc, Argv);
  return RUN_ALL_TESTS ();
}
