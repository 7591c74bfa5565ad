/** @file
  Early drawing benchmark: the instructions of Prelumen's DrawImage over a
  1024 x 768 image, opaque and blended, and of its DrawString per glyph,
  beside the floor: a plain loop of 32-bit stores over the same pixels.

  The driver runs on the host model with a 1024 x 768 display-information
  HOB and shadow buffer, first on the fixed aperture (bank switching through
  the model's ports), then with a GOP found (its frame buffer, no banks).
  The blended image (alpha 128) is drawn over a shadow buffer that an opaque
  shadow-only image filled, so every pixel takes the blending path.

  Run under valgrind --tool=callgrind --collect-atstart=no by
  scripts/bench/bench-draw.sh.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vector>

#include <HostModel.h>

#include "../../../NorvaneEarlyVgaPkg/Prelumen/Prelumen.h"
#include "../BenchMeasure.h"

namespace {

constexpr UINT32 IMAGE_WIDTH  = 1024;
constexpr UINT32 IMAGE_HEIGHT = 768;
constexpr UINT32 PITCH        = IMAGE_WIDTH * 4;
constexpr UINTN  GLYPHS       = 64;

EFI_GRAPHICS_OUTPUT_PROTOCOL         mGop;
EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE    mGopMode;
EFI_GRAPHICS_OUTPUT_MODE_INFORMATION mGopInfo;

/// A 32-bit BGRA image of the benchmark size with the given alpha.
std::vector<UINT8>
MakeImage (UINT8 Alpha)
{
  std::vector<UINT8> Image (IMAGE_WIDTH * IMAGE_HEIGHT * 4);

  for (UINTN Index = 0; Index < IMAGE_WIDTH * IMAGE_HEIGHT; Index++) {
    Image[Index * 4]     = (UINT8)Index;
    Image[Index * 4 + 1] = (UINT8)(Index >> 8);
    Image[Index * 4 + 2] = (UINT8)(Index >> 16) | 1; // never a zero pixel
    Image[Index * 4 + 3] = Alpha;
  }

  return Image;
}

/// The floor: one 32-bit store per pixel of a Width x Height rectangle.
__attribute__ ((noinline)) void
StoreFloor (volatile UINT32 *Frame, UINTN Width, UINTN Height, UINTN PitchPixels, UINT32 Value)
{
  for (UINTN Y = 0; Y < Height; Y++) {
    volatile UINT32 *Row = Frame + Y * PitchPixels;

    for (UINTN X = 0; X < Width; X++) {
      Row[X] = Value;
    }
  }
}

/// The floor of GLYPHS glyphs side by side: their 8 x 16 cells.
__attribute__ ((noinline)) void
GlyphFloor (volatile UINT32 *Frame, UINT32 Value)
{
  for (UINTN Glyph = 0; Glyph < GLYPHS; Glyph++) {
    StoreFloor (Frame + Glyph * 8, 8, 16, IMAGE_WIDTH, Value);
  }
}

void
MeasureDrawing (
  HOST_MODEL               &Model,
  const char               *Where,
  volatile UINT32          *Frame,
  const std::vector<UINT8> &Opaque,
  const std::vector<UINT8> &Blended,
  const char               *Text
)
{
  char Name[96];

  snprintf (Name, sizeof (Name), "%s opaque image", Where);
  BenchMeasure (Name, 1, [&] {
    Model.EarlyDisplay.DrawImage (0, PITCH, Opaque.data (), IMAGE_WIDTH, IMAGE_HEIGHT, 32, 0);
  });
  snprintf (Name, sizeof (Name), "%s blended image", Where);
  BenchMeasure (Name, 1, [&] {
    Model.EarlyDisplay.DrawImage (0, PITCH, Blended.data (), IMAGE_WIDTH, IMAGE_HEIGHT, 32, 0);
  });
  snprintf (Name, sizeof (Name), "%s string of %u glyphs", Where, (unsigned)GLYPHS);
  BenchMeasure (Name, 10, [&] { Model.EarlyDisplay.DrawString (2, 5, 0x00FFFFFF, 0x00000080, Text); });
  snprintf (Name, sizeof (Name), "%s floor image", Where);
  BenchMeasure (Name, 1, [&] { StoreFloor (Frame, IMAGE_WIDTH, IMAGE_HEIGHT, IMAGE_WIDTH, 0x00123456); });
  snprintf (Name, sizeof (Name), "%s floor string of %u glyphs", Where, (unsigned)GLYPHS);
  BenchMeasure (Name, 10, [&] { GlyphFloor (Frame + 5 * 16 * IMAGE_WIDTH + 16, 0x00123456); });
}

} // namespace

int
main (int Argc, char **Argv)
{
  HOST_MODEL      Model;
  const EFI_GUID &Space = gEarlyVideoTokenSpaceGuid;

  Model.Pcd.SetExBool (Space, 10, TRUE);
  Model.Pcd.SetEx32 (Space, 8, IMAGE_WIDTH);
  Model.Pcd.SetEx32 (Space, 7, IMAGE_HEIGHT);
  Model.Pcd.SetEx8 (Space, 4, 0x1C);
  Model.Pcd.SetEx8 (Space, 5, 0);
  Model.Pcd.SetEx32 (Space, 1, 0x01000000);
  Model.Hobs.AddEarlyVideoInfo (IMAGE_WIDTH, IMAGE_HEIGHT, 0, 0);
  Model.Controller.TurnApertureOn (); // as the platform's early set-up leaves it
  Model.EarlyDisplay.InstallGraphics ();
  if ((Model.StartModule (EarlyVideoEntryPoint) != EFI_SUCCESS) || (mShadowBuffer == nullptr)) {
    fprintf (stderr, "DrawBench: Prelumen did not start\n");
    return 1;
  }

  const std::vector<UINT8> Opaque  = MakeImage (255);
  const std::vector<UINT8> Blended = MakeImage (128);
  std::string              Text;

  for (UINTN Index = 0; Index < GLYPHS; Index++) {
    Text += (char)('A' + Index % 26);
  }

  //
  // The shadow buffer holds a picture, so that the blended image blends.
  //
  Model.EarlyDisplay.DrawImage (0, PITCH, Opaque.data (), IMAGE_WIDTH, IMAGE_HEIGHT, 32, 1);

  MeasureDrawing (
    Model, "aperture", reinterpret_cast<volatile UINT32 *> (Model.Windows.Aperture ()), Opaque, Blended, Text.c_str ()
  );

  //
  // A GOP arrives: drawing moves to its frame buffer.
  //
  UINT32 *GopFrame = static_cast<UINT32 *> (aligned_alloc (4096, IMAGE_WIDTH * IMAGE_HEIGHT * 4));

  mGopInfo.HorizontalResolution = IMAGE_WIDTH;
  mGopInfo.VerticalResolution   = IMAGE_HEIGHT;
  mGopInfo.PixelsPerScanLine    = IMAGE_WIDTH;
  mGopMode.Info                 = &mGopInfo;
  mGopMode.FrameBufferBase      = (EFI_PHYSICAL_ADDRESS)(UINTN)GopFrame;
  mGopMode.FrameBufferSize      = IMAGE_WIDTH * IMAGE_HEIGHT * 4;
  mGop.Mode                     = &mGopMode;
  Model.InstallProtocol (Model.Controller.Publish (), gEfiGraphicsOutputProtocolGuid, &mGop);
  if (!mGopFound) {
    fprintf (stderr, "DrawBench: Prelumen did not take the GOP\n");
    return 1;
  }

  MeasureDrawing (Model, "gop", GopFrame, Opaque, Blended, Text.c_str ());

  //
  // Outside the measurements: the drawing did what it should.
  //
  if ((GopFrame[0] & 0x00FFFFFF) == 0) {
    fprintf (stderr, "DrawBench: nothing was drawn\n");
    return 1;
  }

  return 0;
}
