/** @file
  Frame-buffer drawing: bank selection, glyph placement and the font on
  screen, image blending against the shadow buffer, the drawing switch, and
  the bounds that keep every store inside the frame and the shadow buffer.

  Images are given as arrays of UINT32 0xAARRGGBB, which in memory are the
  blue, green, red and alpha bytes the service reads.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "PrelumenTest.h"

#include <algorithm>
#include <memory>

extern "C" {
#include <Library/UefiBootServicesTableLib.h>
}

int FrameBufferDrawTestAnchor;

namespace {

constexpr UINT32 FG = 0x00C0FFEE; // three non-zero bytes
constexpr UINT32 BG = 0x00000080;

using PORT_WRITES = std::vector<std::pair<UINT16, UINT32>>;

PORT_WRITES
BankSelection (UINT8 High, UINT8 Middle, UINT8 Low)
{
  return { { 0x3D4, 0xA5 }, { 0x3D5, High }, { 0x3CB, Middle }, { 0x3CD, Low } };
}

bool
IsClear (UINT32 Pixel)
{
  return Pixel == 0;
}

const UINT8 *
Bytes (const UINT32 *Pixels)
{
  return reinterpret_cast<const UINT8 *> (Pixels);
}

} // namespace

class PrelumenDraw : public PrelumenTest {
protected:
  EFI_STATUS
  DrawPixels (UINT32 Offset, const UINT32 *Pixels, UINT32 Count, UINT32 ShadowOnly = 0)
  {
    return Model.EarlyDisplay.DrawImage (Offset, PITCH, Bytes (Pixels), Count, 1, 32, ShadowOnly);
  }

  UINT32
  Shadow (UINTN Offset) const
  {
    return *reinterpret_cast<const UINT32 *> (mShadowBuffer + Offset);
  }
};

//
// ------------------------------------------------------------ bank selection
//

TEST_F (PrelumenDraw, SetBankWritesNibblePairsInOrderAndKeepsAllBitsOfTheBank)
{
  StartGraphics ();

  EXPECT_EQ (Model.EarlyDisplay.SetBank (0x123), EFI_SUCCESS);
  EXPECT_EQ (BankPortWrites (), BankSelection (0x11, 0x22, 0x33));
  EXPECT_EQ (VideoInfo->CurrentBank, 0x123U);

  // Bits above 11 reach no port; the drawing switch does not stop it.
  Model.Ports.ClearLogs ();
  ASSERT_EQ (Model.EarlyDisplay.EnableDrawing (0), EFI_SUCCESS);
  EXPECT_EQ (Model.EarlyDisplay.SetBank (0xABCDE5F7), EFI_SUCCESS);
  EXPECT_EQ (BankPortWrites (), BankSelection (0x55, 0xFF, 0x77));
  EXPECT_EQ (VideoInfo->CurrentBank, 0xABCDE5F7U);
}

//
// WritePixel reaches SetBank through the table the protocol passes as This,
// and selects the bank before the store.
//
namespace {
UINT32 mPixelWhenBankSelected;
UINT32 mBankSelected;

EFI_STATUS
EFIAPI
ObservedSetBank (EARLY_GRAPHICS_CALLBACKS *This, UINT32 Bank)
{
  mPixelWhenBankSelected = HOST_MODEL::Current ().Windows.AperturePixel (0x1FFFC);
  mBankSelected          = Bank;
  return SetBank (This, Bank);
}
} // namespace

TEST_F (PrelumenDraw, PixelInAnotherBankSelectsItThroughThisBeforeTheStore)
{
  const UINT32 One[] = { 0xFF123456 };

  StartGraphics ();
  Model.EarlyDisplay.GraphicsCallbacks ().SetBank = ObservedSetBank;
  mPixelWhenBankSelected                          = 0xDEAD;

  EXPECT_EQ (DrawPixels (0x1FFFC, One, 1), EFI_SUCCESS);
  EXPECT_EQ (mBankSelected, 1U);
  EXPECT_EQ (mPixelWhenBankSelected, 0U);
  EXPECT_EQ (Pixel (0x1FFFC), 0x00123456U);
  EXPECT_EQ (VideoInfo->CurrentBank, 1U);
}

TEST_F (PrelumenDraw, BanksAreSwitchedOnlyWhenTheyChangeAndNeverOnceAGopIsFound)
{
  const UINT32 Pixels[] = { 0xFF000001, 0xFF000002, 0xFF000003 };

  StartGraphics ();

  // Across the first bank boundary: one selection, of bank 1.
  EXPECT_EQ (DrawPixels (0xFFF8, Pixels, 3), EFI_SUCCESS);
  EXPECT_EQ (BankPortWrites (), BankSelection (0x00, 0x00, 0x11));

  // Still in bank 1: no selection.
  Model.Ports.ClearLogs ();
  EXPECT_EQ (DrawPixels (0x10100, Pixels, 3), EFI_SUCCESS);
  EXPECT_TRUE (BankPortWrites ().empty ());

  // After a GOP: its frame buffer, no selection, the aperture left alone.
  TEST_GOP Gop (WIDTH * HEIGHT);

  InstallGop (Gop, TRUE);
  ASSERT_TRUE (mGopFound);
  Model.Ports.ClearLogs ();
  const UINTN ApertureBefore = ApertureBytesWritten ();

  EXPECT_EQ (DrawPixels (0x1FFFC, Pixels, 1), EFI_SUCCESS);
  EXPECT_EQ (Model.EarlyDisplay.DrawString (0, 10, FG, BG, "I"), EFI_SUCCESS);
  EXPECT_TRUE (BankPortWrites ().empty ());
  EXPECT_EQ (Gop.Frame[0x1FFFC / 4], 0x00000001U);
  EXPECT_EQ (Gop.Frame[(10 * 16 + 2) * WIDTH + 1], BG); // 'I' row 2 is 0x3C
  EXPECT_EQ (Gop.Frame[(10 * 16 + 2) * WIDTH + 2], FG);
  EXPECT_EQ (ApertureBytesWritten (), ApertureBefore);
  EXPECT_EQ (VideoInfo->CurrentBank, 1U);
}

TEST_F (PrelumenDraw, AStoppedGopIsNotTouchedAndAReconnectedOneIsDrawnOn)
{
  const UINT32 Pixels[] = { 0xFF000001 };

  StartGraphics ();
  auto             Stopped = std::make_unique<TEST_GOP> (WIDTH * HEIGHT);
  const EFI_HANDLE Handle  = InstallGop (*Stopped, TRUE);

  ASSERT_TRUE (mGopFound);
  EXPECT_EQ (DrawPixels (0, Pixels, 1), EFI_SUCCESS);
  EXPECT_EQ (Stopped->Frame[0], 0x00000001U);

  //
  // The GOP's driver stops: the interface leaves the handle and its memory
  // (protocol, mode and frame) is freed, so any read of it is a
  // use-after-free that the sanitizer reports.
  //
  ASSERT_EQ (
    gBS->UninstallProtocolInterface (Handle, &gEfiGraphicsOutputProtocolGuid, &Stopped->Protocol), EFI_SUCCESS
  );
  Stopped.reset ();
  Model.Ports.ClearLogs ();
  const UINTN ApertureBefore = ApertureBytesWritten ();

  EXPECT_EQ (DrawPixels (0, Pixels, 1), EFI_SUCCESS);
  EXPECT_EQ (Model.EarlyDisplay.DrawString (0, 10, FG, BG, "I"), EFI_SUCCESS);
  EXPECT_EQ (ApertureBytesWritten (), ApertureBefore);
  EXPECT_TRUE (BankPortWrites ().empty ());
  EXPECT_TRUE (mGopFound);

  //
  // Reconnected: the same handle carries a new GOP at a new address. The
  // notification is closed, yet drawing goes to the new frame buffer.
  //
  TEST_GOP Reconnected (WIDTH * HEIGHT);

  Model.InstallProtocol (Handle, gEfiGraphicsOutputProtocolGuid, &Reconnected.Protocol);
  EXPECT_EQ (DrawPixels (8, Pixels, 1), EFI_SUCCESS);
  EXPECT_EQ (Model.EarlyDisplay.DrawString (0, 10, FG, BG, "I"), EFI_SUCCESS);
  EXPECT_EQ (mGraphicsOutput, &Reconnected.Protocol);
  EXPECT_EQ (Reconnected.Frame[2], 0x00000001U);
  EXPECT_EQ (Reconnected.Frame[(10 * 16 + 2) * WIDTH + 1], BG); // 'I' row 2 is 0x3C
  EXPECT_EQ (Reconnected.Frame[(10 * 16 + 2) * WIDTH + 2], FG);
  EXPECT_EQ (ApertureBytesWritten (), ApertureBefore);
  EXPECT_TRUE (BankPortWrites ().empty ());
}

//
// A GOP whose current mode has no linear frame buffer (Blt only, or at
// address 0) is not drawn into, though it stays the one taken; drawing
// goes on there once it has one again.
//
TEST_F (PrelumenDraw, AGopThatTurnsBltOnlyOrLosesItsBufferIsNotDrawnInto)
{
  const UINT32 Pixels[] = { 0xFF000001 };

  StartGraphics ();
  TEST_GOP Gop (WIDTH * HEIGHT);

  InstallGop (Gop, TRUE);
  ASSERT_TRUE (mGopFound);
  Model.Ports.ClearLogs ();

  Gop.Info.PixelFormat = PixelBltOnly;
  EXPECT_EQ (DrawPixels (0, Pixels, 1), EFI_SUCCESS);
  EXPECT_EQ (Model.EarlyDisplay.DrawString (0, 10, FG, BG, "I"), EFI_SUCCESS);
  EXPECT_TRUE (std::all_of (Gop.Frame.begin (), Gop.Frame.end (), IsClear));

  Gop.Info.PixelFormat = PixelBlueGreenRedReserved8BitPerColor;
  EXPECT_EQ (DrawPixels (0, Pixels, 1), EFI_SUCCESS);
  EXPECT_EQ (Gop.Frame[0], 0x00000001U);

  // At address 0 a store would land in the null page.
  Gop.Mode.FrameBufferBase = 0;
  EXPECT_EQ (DrawPixels (4, Pixels, 1), EFI_SUCCESS);
  EXPECT_EQ (Model.EarlyDisplay.DrawString (0, 10, FG, BG, "I"), EFI_SUCCESS);

  EXPECT_EQ (ApertureBytesWritten (), 0U);
  EXPECT_TRUE (BankPortWrites ().empty ());
  EXPECT_EQ (mGraphicsOutput, &Gop.Protocol);
}

//
// With a GOP the stores stay inside the smaller of the HOB's frame and the
// GOP's FrameBufferSize. The GOP's buffer here is larger than its
// FrameBufferSize says, so that a store past that size can be seen.
//
TEST_F (PrelumenDraw, WithAGopStoresStayInsideTheSmallerOfTheHobFrameAndTheGopBuffer)
{
  const UINT32 Limit    = 640 * 480 * 4; // the GOP's mode: smaller than the HOB's 800 x 600
  const UINT32 Pixels[] = { 0xFF000001, 0xFF000002, 0xFF000003 };

  StartGraphics ();
  TEST_GOP Gop (WIDTH * HEIGHT);

  Gop.Mode.FrameBufferSize = Limit;
  InstallGop (Gop, TRUE);
  ASSERT_TRUE (mGopFound);

  EXPECT_EQ (DrawPixels (Limit - 8, Pixels, 3), EFI_SUCCESS);
  EXPECT_EQ (DrawPixels (Limit + PITCH - 2, Pixels, 1), EFI_SUCCESS); // beyond the GOP's buffer, inside the HOB's frame
  EXPECT_EQ (Model.EarlyDisplay.DrawString (0, 23, FG, BG, "\xDB\xDB"), EFI_SUCCESS); // the last text row inside
  EXPECT_EQ (Model.EarlyDisplay.DrawString (0, 24, FG, BG, "\xDB"), EFI_SUCCESS);     // starts at the limit

  EXPECT_EQ (Gop.Frame[Limit / 4 - 2], 0x00000001U);
  EXPECT_EQ (Gop.Frame[Limit / 4 - 1], 0x00000002U);
  EXPECT_EQ (Gop.Frame[23 * 16 * WIDTH + 15 * WIDTH + 15], FG);
  EXPECT_TRUE (std::all_of (Gop.Frame.begin () + Limit / 4, Gop.Frame.end (), IsClear));

  // A pixel across the GOP's end is dropped whole.
  const UINT32 Straddling[] = { 0xFFFFFFFF };

  Gop.Mode.FrameBufferSize = Limit - 2;
  EXPECT_EQ (DrawPixels (Limit - 4, Straddling, 1), EFI_SUCCESS);
  EXPECT_EQ (Gop.Frame[Limit / 4 - 1], 0x00000002U);

  // A GOP buffer larger than the HOB's frame: the HOB's frame stays the bound.
  Gop.Mode.FrameBufferSize = UINT64 (WIDTH) * HEIGHT * 4 * 2;
  VideoInfo->FrameHeight   = 100;
  EXPECT_EQ (DrawPixels (100 * PITCH, Pixels, 1), EFI_SUCCESS);
  EXPECT_EQ (Gop.Frame[100 * WIDTH], 0U);
  EXPECT_EQ (ApertureBytesWritten (), 0U);
}

//
// Boot services may be called only at TPL_NOTIFY or below (the model fails
// the test otherwise). Above it drawing uses the GOP the last look-up
// confirmed, and draws nothing if that look-up found none; at TPL_NOTIFY
// the GOP is still looked up afresh.
//
TEST_F (PrelumenDraw, AboveTplNotifyTheGopIsNotLookedUpAndTheLastOneConfirmedIsUsed)
{
  const UINT32 Pixels[] = { 0xFF000001 };

  StartGraphics ();
  auto             First  = std::make_unique<TEST_GOP> (WIDTH * HEIGHT);
  const EFI_HANDLE Handle = InstallGop (*First, TRUE);

  ASSERT_TRUE (mGopFound);
  EFI_TPL Old = gBS->RaiseTPL (TPL_HIGH_LEVEL);

  EXPECT_EQ (DrawPixels (0, Pixels, 1), EFI_SUCCESS);
  EXPECT_EQ (Model.EarlyDisplay.DrawString (0, 10, FG, BG, "I"), EFI_SUCCESS);
  EXPECT_EQ (Model.CurrentTpl (), (EFI_TPL)TPL_HIGH_LEVEL);
  gBS->RestoreTPL (Old);
  EXPECT_EQ (First->Frame[0], 0x00000001U);
  EXPECT_EQ (First->Frame[(10 * 16 + 2) * WIDTH + 2], FG); // 'I' row 2 is 0x3C

  // Reconnected: a call at TPL_NOTIFY follows the new interface.
  ASSERT_EQ (gBS->UninstallProtocolInterface (Handle, &gEfiGraphicsOutputProtocolGuid, &First->Protocol), EFI_SUCCESS);
  First.reset ();
  auto Second = std::make_unique<TEST_GOP> (WIDTH * HEIGHT);

  Model.InstallProtocol (Handle, gEfiGraphicsOutputProtocolGuid, &Second->Protocol);
  Old = gBS->RaiseTPL (TPL_NOTIFY);
  EXPECT_EQ (DrawPixels (8, Pixels, 1), EFI_SUCCESS);
  gBS->RestoreTPL (Old);
  EXPECT_EQ (Second->Frame[2], 0x00000001U);

  // Stopped and seen to be gone: above TPL_NOTIFY nothing is read through
  // the freed interface, and nothing is drawn anywhere.
  ASSERT_EQ (gBS->UninstallProtocolInterface (Handle, &gEfiGraphicsOutputProtocolGuid, &Second->Protocol), EFI_SUCCESS);
  Second.reset ();
  EXPECT_EQ (DrawPixels (0, Pixels, 1), EFI_SUCCESS);
  Old = gBS->RaiseTPL (TPL_HIGH_LEVEL);
  EXPECT_EQ (DrawPixels (0, Pixels, 1), EFI_SUCCESS);
  EXPECT_EQ (Model.EarlyDisplay.DrawString (0, 10, FG, BG, "I"), EFI_SUCCESS);
  gBS->RestoreTPL (Old);
  EXPECT_EQ (ApertureBytesWritten (), 0U);
  EXPECT_TRUE (BankPortWrites ().empty ());
}

//
// A shadow-only image needs no frame: it reaches the shadow buffer whether
// the GOP has gone, has no linear frame buffer, or is looked at above
// TPL_NOTIFY.
//
TEST_F (PrelumenDraw, AShadowOnlyImageIsStoredWhateverBecameOfTheGop)
{
  const UINT32 Pixels[] = { 0xFF010203, 0xFF040506, 0xFF070809 };

  StartGraphics ();
  auto             Gop    = std::make_unique<TEST_GOP> (WIDTH * HEIGHT);
  const EFI_HANDLE Handle = InstallGop (*Gop, TRUE);

  ASSERT_TRUE (mGopFound);
  Gop->Info.PixelFormat = PixelBltOnly;
  EXPECT_EQ (DrawPixels (0, Pixels, 1, 1), EFI_SUCCESS);
  EXPECT_EQ (Shadow (0), 0x00010203U);

  ASSERT_EQ (gBS->UninstallProtocolInterface (Handle, &gEfiGraphicsOutputProtocolGuid, &Gop->Protocol), EFI_SUCCESS);
  Gop.reset ();
  EXPECT_EQ (DrawPixels (4, Pixels + 1, 1, 1), EFI_SUCCESS);
  EXPECT_EQ (Shadow (4), 0x00040506U);

  const EFI_TPL Old = gBS->RaiseTPL (TPL_HIGH_LEVEL);

  EXPECT_EQ (DrawPixels (8, Pixels + 2, 1, 1), EFI_SUCCESS);
  gBS->RestoreTPL (Old);
  EXPECT_EQ (Shadow (8), 0x00070809U);
  EXPECT_EQ (ApertureBytesWritten (), 0U);
}

//
// ------------------------------------------------------------------- strings
//

TEST_F (PrelumenDraw, GlyphsLandOnTheirCellsInTheFontsShapes)
{
  StartGraphics ();

  // Column 1, row 1 at width 800: 16 rows of 3,200 bytes plus 32.
  EXPECT_EQ (Model.EarlyDisplay.DrawString (1, 1, FG, BG, "A\xB0\xDB "), EFI_SUCCESS);
  EXPECT_EQ (Cell (51232, FG, BG), GlyphPicture ('A'));
  EXPECT_EQ (Cell (51232 + 32, FG, BG), GlyphPicture (0xB0));
  EXPECT_EQ (Cell (51232 + 64, FG, BG), std::vector<std::string> (16, "########"));
  EXPECT_EQ (Cell (51232 + 96, FG, BG), std::vector<std::string> (16, "........"));
  EXPECT_EQ (Pixel (51232 - 4), 0U);
  EXPECT_EQ (Pixel (51232 + 128), 0U);

  // Past the right edge a string goes on in the following pixel rows.
  EXPECT_EQ (Model.EarlyDisplay.DrawString (99, 5, FG, BG, "xy"), EFI_SUCCESS);
  EXPECT_EQ (Cell (5 * 16 * PITCH + 99 * 32, FG, BG), GlyphPicture ('x'));
  EXPECT_EQ (Cell (5 * 16 * PITCH + 100 * 32, FG, BG), GlyphPicture ('y'));

  // Vertical bars in consecutive text rows join into one line.
  EXPECT_EQ (Model.EarlyDisplay.DrawString (10, 20, FG, BG, "\xB3"), EFI_SUCCESS);
  EXPECT_EQ (Model.EarlyDisplay.DrawString (10, 21, FG, BG, "\xB3"), EFI_SUCCESS);
  for (UINT32 Y = 20 * 16; Y < 22 * 16; Y++) {
    EXPECT_EQ (Pixel (Y * PITCH + 10 * 32 + 3 * 4), FG) << Y;
    EXPECT_EQ (Pixel (Y * PITCH + 10 * 32 + 4 * 4), FG) << Y;
  }
}

TEST_F (PrelumenDraw, AtMost256CharactersAreDrawn)
{
  const std::string Long (300, '\xDB');

  StartGraphics (1024, 768, 4096, 64);
  EXPECT_EQ (Model.EarlyDisplay.DrawString (0, 0, FG, BG, Long.c_str ()), EFI_SUCCESS);
  EXPECT_EQ (Pixel (15 * 4096 * 4 + 2047 * 4), FG);
  EXPECT_EQ (Pixel (2048 * 4), 0U);
  EXPECT_EQ (ApertureBytesWritten (), 256U * 8 * 16 * 3);
}

//
// Clear glyph bits show the shadow pixel when the HOB asks for transparent
// text; where there is no shadow pixel they get the background colour.
//
TEST_F (PrelumenDraw, TransparentTextShowsTheShadowImageAroundTheStrokes)
{
  std::vector<UINT32> Picture (8, 0xFF406080);

  StartGraphics (16, 1); // shadow: the first 16 pixels of row 0 only
  VideoInfo->TransparentText = 1;

  EXPECT_EQ (DrawPixels (0, Picture.data (), 8, 1), EFI_SUCCESS);
  EXPECT_EQ (ApertureBytesWritten (), 0U); // shadow-only: nothing on screen

  EXPECT_EQ (Model.EarlyDisplay.DrawString (0, 0, FG, BG, "\xDC"), EFI_SUCCESS);
  std::vector<std::string> Expected = GlyphPicture (0xDC);

  EXPECT_EQ (Cell (0, FG, 0x00406080)[0], Expected[0]); // row 0: shadow pixels
  EXPECT_EQ (Cell (0, FG, BG)[1], Expected[1]);         // row 1: beyond the shadow
  EXPECT_EQ (Cell (0, FG, BG)[15], Expected[15]);

  // No shadow buffer at all: background.
  mShadowBuffer     = nullptr;
  mShadowBufferSize = 0;
  EXPECT_EQ (Model.EarlyDisplay.DrawString (1, 0, FG, BG, "\xDC"), EFI_SUCCESS);
  EXPECT_EQ (Cell (32, FG, BG), Expected);
}

//
// -------------------------------------------------------------------- images
//

TEST_F (PrelumenDraw, ImagesBlendAgainstNonZeroShadowPixels)
{
  StartGraphics ();

  // Shadow pixels: red, then one with a reserved byte, then empty.
  const UINT32 Below[] = { 0xFFFF0000 };

  ASSERT_EQ (DrawPixels (0, Below, 1, 1), EFI_SUCCESS);
  EXPECT_EQ (Shadow (0), 0x00FF0000U);
  EXPECT_EQ (Pixel (0), 0U);
  *reinterpret_cast<UINT32 *> (mShadowBuffer + 4) = 0xFF123456;

  const UINT32 Half[] = { 0x800064C8, 0x00000000, 0x800064C8 };

  EXPECT_EQ (DrawPixels (0, Half, 3), EFI_SUCCESS);
  EXPECT_EQ (Pixel (0), 0x007F3264U); // the worked example
  EXPECT_EQ (Pixel (4), 0x00123456U); // A = 0: the shadow's colour only
  EXPECT_EQ (Pixel (8), 0x000064C8U); // empty shadow: drawn as read

  const UINT32 Opaque[] = { 0xFF0A0B0C };

  EXPECT_EQ (DrawPixels (0, Opaque, 1), EFI_SUCCESS);
  EXPECT_EQ (Pixel (0), 0x000A0B0CU);
}

TEST_F (PrelumenDraw, ImageRowsFollowRowStepAndPaddedSourceRows)
{
  // 3 x 2 pixels of 24 bits: source rows of 9 bytes padded to 12.
  const UINT8 Source[] = {
    1, 2, 3, 4, 5, 6, 7, 8, 9, 0xFF, 0xFF, 0xFF, 10, 11, 12, 13, 14, 15, 16, 17, 18, 0xFF, 0xFF, 0xFF,
  };

  StartGraphics ();
  EXPECT_EQ (Model.EarlyDisplay.DrawImage (64, PITCH * 2, Source, 3, 2, 24, 0), EFI_SUCCESS);
  EXPECT_EQ (Pixel (64), 0x00030201U);
  EXPECT_EQ (Pixel (68), 0x00060504U);
  EXPECT_EQ (Pixel (72), 0x00090807U);
  EXPECT_EQ (Pixel (64 + 2 * PITCH), 0x000C0B0AU);
  EXPECT_EQ (Pixel (72 + 2 * PITCH), 0x00121110U);
  EXPECT_EQ (Pixel (64 + PITCH), 0U);

  // Nothing to draw: no pixels, or no image.
  const UINTN Written = ApertureBytesWritten ();

  EXPECT_EQ (Model.EarlyDisplay.DrawImage (0, PITCH, Source, 0, 2, 32, 0), EFI_SUCCESS);
  EXPECT_EQ (Model.EarlyDisplay.DrawImage (0, PITCH, Source, 3, 0, 32, 0), EFI_SUCCESS);
  EXPECT_EQ (Model.EarlyDisplay.DrawImage (0, PITCH, nullptr, 3, 2, 32, 0), EFI_SUCCESS);
  EXPECT_EQ (ApertureBytesWritten (), Written);
}

//
// 24-bit images are blue, green, red, opaque, in rows padded to 4 bytes;
// no byte after a pixel's third is read, not even after the image's last
// pixel. Depths other than 32 and 24 are refused before a byte is read.
//
TEST_F (PrelumenDraw, ImagesOf24BitsAreOpaqueBgrAndOtherDepthsAreRefused)
{
  const UINT32 Below[] = { 0xFF102030, 0xFF102030, 0xFF102030 };

  StartGraphics ();
  ASSERT_EQ (DrawPixels (0, Below, 3, 1), EFI_SUCCESS); // a shadow to blend with

  // 2 x 2 pixels: rows of 6 bytes padded to 8. Each pixel's blue is small,
  // so taking it as the previous pixel's alpha would blend that one.
  const std::vector<UINT8> Padded = { 1, 2, 3, 4, 5, 6, 0xEE, 0xEE, 7, 8, 9, 10, 11, 12, 0xEE, 0xEE };

  EXPECT_EQ (Model.EarlyDisplay.DrawImage (0, PITCH, Padded.data (), 2, 2, 24, 0), EFI_SUCCESS);
  EXPECT_EQ (Pixel (0), 0x00030201U);
  EXPECT_EQ (Pixel (4), 0x00060504U);
  EXPECT_EQ (Pixel (PITCH), 0x00090807U);
  EXPECT_EQ (Pixel (PITCH + 4), 0x000C0B0AU);

  // Exactly as long as the caller's image: a read past it is reported by
  // AddressSanitizer.
  const std::vector<UINT8> Exact = { 1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12 };

  EXPECT_EQ (Model.EarlyDisplay.DrawImage (8, PITCH, Exact.data (), 2, 2, 24, 0), EFI_SUCCESS);
  EXPECT_EQ (Pixel (PITCH + 12), 0x000C0B0AU);

  // Other depths: EFI_UNSUPPORTED, nothing read or drawn, in the frame or
  // in the shadow buffer. A one-byte image shows that nothing is read.
  const std::vector<UINT8> One (1, 0x77);
  const UINTN              Written = ApertureBytesWritten ();

  for (UINT8 Bits : { 0, 1, 8, 16, 23, 25, 31, 33, 64, 255 }) {
    EXPECT_EQ (Model.EarlyDisplay.DrawImage (64, PITCH, One.data (), 2, 2, Bits, 0), EFI_UNSUPPORTED) << int (Bits);
    EXPECT_EQ (Model.EarlyDisplay.DrawImage (64, PITCH, One.data (), 2, 2, Bits, 1), EFI_UNSUPPORTED) << int (Bits);
  }

  EXPECT_EQ (ApertureBytesWritten (), Written);
  EXPECT_EQ (Shadow (64), 0U);
}

//
// The shadow buffer is never read or written beyond its size: stores there
// are dropped and blends there use the source as read.
//
TEST_F (PrelumenDraw, ShadowBufferBoundsHold)
{
  const UINT32 Red[]  = { 0xFFFF0000, 0xFFFF0000 };
  const UINT32 Half[] = { 0x800064C8 };

  StartGraphics (15, 1); // 60 bytes in a page that the model fills with 0xAF

  EXPECT_EQ (DrawPixels (56, Red, 2, 1), EFI_SUCCESS);
  EXPECT_EQ (Shadow (56), 0x00FF0000U);
  EXPECT_EQ (Shadow (60), 0xAFAFAFAFU);

  EXPECT_EQ (DrawPixels (60, Half, 1), EFI_SUCCESS);
  EXPECT_EQ (Pixel (60), 0x000064C8U);

  // No shadow buffer: no store, no blend.
  mShadowBuffer     = nullptr;
  mShadowBufferSize = 0;
  EXPECT_EQ (DrawPixels (0, Red, 1, 1), EFI_SUCCESS);
  EXPECT_EQ (DrawPixels (0, Half, 1), EFI_SUCCESS);
  EXPECT_EQ (Pixel (0), 0x000064C8U);
}

//
// ------------------------------------------------ the switch and the HOB
//

TEST_F (PrelumenDraw, DrawingSwitchStopsStringsAndImagesOnly)
{
  const UINT32 Pixel1[] = { 0xFF010203 };

  StartGraphics ();

  EXPECT_EQ (Model.EarlyDisplay.EnableDrawing (2), EFI_INVALID_PARAMETER);
  EXPECT_FALSE (mDrawingDisabled);
  EXPECT_EQ (Model.EarlyDisplay.EnableDrawing (0), EFI_SUCCESS);
  EXPECT_EQ (Model.EarlyDisplay.EnableDrawing (7), EFI_INVALID_PARAMETER);
  EXPECT_TRUE (mDrawingDisabled);

  EXPECT_EQ (Model.EarlyDisplay.DrawString (0, 0, FG, BG, "off"), EFI_SUCCESS);
  EXPECT_EQ (DrawPixels (0, Pixel1, 1), EFI_SUCCESS);
  EXPECT_EQ (DrawPixels (0, Pixel1, 1, 1), EFI_SUCCESS);
  EXPECT_EQ (ApertureBytesWritten (), 0U);
  EXPECT_EQ (Shadow (0), 0U);

  EXPECT_EQ (Model.EarlyDisplay.EnableDrawing (1), EFI_SUCCESS);
  EXPECT_EQ (DrawPixels (0, Pixel1, 1), EFI_SUCCESS);
  EXPECT_EQ (Pixel (0), 0x00010203U);
}

//
// Without the display-information HOB, or with one too short for its
// fields, the services refuse and touch nothing; a switched-off service
// answers success before it looks.
//
class PrelumenDrawWithoutHob : public PrelumenTest, public ::testing::WithParamInterface<UINTN> {};

TEST_P (PrelumenDrawWithoutHob, ServicesRefuseAndTouchNothing)
{
  const UINT32 Pixel1[] = { 0xFF010203 };

  Configure (TRUE);
  Model.EarlyDisplay.InstallGraphics ();
  if (GetParam () != 0) {
    std::vector<UINT8> Short (GetParam (), 0);

    Model.Hobs.AddGuidHob (gEarlyVideoInfoHobGuid, Short.data (), Short.size ());
  }

  ASSERT_EQ (Model.StartModule (EarlyVideoEntryPoint), EFI_SUCCESS);

  EXPECT_EQ (Model.EarlyDisplay.DrawString (0, 0, FG, BG, "no HOB"), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ (Model.EarlyDisplay.DrawImage (0, PITCH, Bytes (Pixel1), 1, 1, 32, 0), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ (Model.EarlyDisplay.SetBank (3), EFI_OUT_OF_RESOURCES);
  EXPECT_TRUE (BankPortWrites ().empty ());
  EXPECT_EQ (ApertureBytesWritten (), 0U);

  ASSERT_EQ (Model.EarlyDisplay.EnableDrawing (0), EFI_SUCCESS);
  EXPECT_EQ (Model.EarlyDisplay.DrawString (0, 0, FG, BG, "off"), EFI_SUCCESS);
  EXPECT_EQ (Model.EarlyDisplay.DrawImage (0, PITCH, Bytes (Pixel1), 1, 1, 32, 0), EFI_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P (MissingOrShort, PrelumenDrawWithoutHob, ::testing::Values (0U, 5096U));

//
// ---------------------------------------------------- stores stay in the frame
//

TEST_F (PrelumenDraw, StringsOutsideTheFrameDrawNothingAndSelectNoBank)
{
  StartGraphics ();

  // Row 0xFFFF is far below the frame.
  EXPECT_EQ (Model.EarlyDisplay.DrawString (0, 0xFFFF, FG, BG, "far"), EFI_SUCCESS);
  // Column 0xFFFF of row 0 lies 0xFFFF cells on: past the frame's end.
  EXPECT_EQ (Model.EarlyDisplay.DrawString (0xFFFF, 0, FG, BG, "far"), EFI_SUCCESS);
  EXPECT_EQ (ApertureBytesWritten (), 0U);
  EXPECT_TRUE (BankPortWrites ().empty ());

  // A glyph across the bottom edge keeps its rows inside the frame only.
  EXPECT_EQ (Model.EarlyDisplay.DrawString (0, 37, FG, BG, "\xDB"), EFI_SUCCESS);
  EXPECT_EQ (Pixel (599 * PITCH), FG);
  EXPECT_EQ (ApertureBytesWritten (), 8U * 8 * 3);
}

TEST_F (PrelumenDraw, OffsetsThatWrapIn32BitsDoNotComeBackOntoTheFrame)
{
  // Row 0x8000 at width 2048: 0x8000 * 16 rows * 8192 bytes is exactly 2^32.
  StartGraphics (1024, 768, 2048, 16);
  EXPECT_EQ (Model.EarlyDisplay.DrawString (0, 0x8000, FG, BG, "A"), EFI_SUCCESS);

  // The second pixel of this image lies at 2^32.
  const UINT32 Pixels[] = { 0xFF010101, 0xFF020202 };

  EXPECT_EQ (DrawPixels (0xFFFFFFFC, Pixels, 2), EFI_SUCCESS);
  EXPECT_EQ (ApertureBytesWritten (), 0U);
  EXPECT_TRUE (BankPortWrites ().empty ());
}

TEST_F (PrelumenDraw, APixelStraddlingTheFrameEndIsDropped)
{
  const UINT32 Frame    = WIDTH * HEIGHT * 4;
  const UINT32 Pixels[] = { 0xFF010101, 0xFF020202 };

  StartGraphics ();
  EXPECT_EQ (DrawPixels (Frame - 6, Pixels, 2), EFI_SUCCESS);
  EXPECT_EQ (Pixel (Frame - 6), 0x00010101U);
  EXPECT_EQ (Pixel (Frame - 2), 0U);
  EXPECT_EQ (ApertureBytesWritten (), 3U);
}
