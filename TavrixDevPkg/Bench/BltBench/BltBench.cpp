/** @file
  Blt benchmark: the instructions of EDK II's FrameBufferBltLib (the Blt
  behind OVMF's QEMU display driver) for full-screen and glyph-sized
  rectangles of the four Blt operations, on a 1280 x 1024 frame of 32-bit
  pixels.

  Run under valgrind --tool=callgrind --collect-atstart=no by
  scripts/bench-blt.sh, which reads one callgrind record per case. Run
  directly, it only checks that every case succeeds.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

extern "C" {
#include <Uefi.h>
#include <Library/FrameBufferBltLib.h>
}

#include "../BenchMeasure.h"

namespace {

constexpr UINTN  FRAME_WIDTH  = 1280;
constexpr UINTN  FRAME_HEIGHT = 1024;
constexpr UINTN  GLYPH_WIDTH  = 8;
constexpr UINTN  GLYPH_HEIGHT = 16;
constexpr UINTN  SCROLL_ROWS  = 16;

/// One Blt request; Delta 0 as a console passes it.
struct BLT_CASE {
  const char                           *Name;
  EFI_GRAPHICS_OUTPUT_BLT_OPERATION    Operation;
  UINTN                                SourceX, SourceY, DestinationX, DestinationY, Width, Height;
  unsigned                             Repeats;
};

//
// The glyph cases sit in the middle of the screen, away from the edges; the
// video-to-video glyph moves a cell up by one text row, as a scroll does.
//
constexpr BLT_CASE  mCases[] = {
  { "fill full",            EfiBltVideoFill,        0,   0,            0,   0,   FRAME_WIDTH, FRAME_HEIGHT,               1    },
  { "buffer-to-video full", EfiBltBufferToVideo,    0,   0,            0,   0,   FRAME_WIDTH, FRAME_HEIGHT,               1    },
  { "video-to-buffer full", EfiBltVideoToBltBuffer, 0,   0,            0,   0,   FRAME_WIDTH, FRAME_HEIGHT,               1    },
  { "video-to-video full",  EfiBltVideoToVideo,     0,   SCROLL_ROWS,  0,   0,   FRAME_WIDTH, FRAME_HEIGHT - SCROLL_ROWS, 1    },
  { "fill glyph",           EfiBltVideoFill,        0,   0,            640, 512, GLYPH_WIDTH, GLYPH_HEIGHT,               1000 },
  { "buffer-to-video glyph", EfiBltBufferToVideo,   0,   0,            640, 512, GLYPH_WIDTH, GLYPH_HEIGHT,               1000 },
  { "video-to-buffer glyph", EfiBltVideoToBltBuffer, 640, 512,         0,   0,   GLYPH_WIDTH, GLYPH_HEIGHT,               1000 },
  { "video-to-video glyph", EfiBltVideoToVideo,     640, 512 + GLYPH_HEIGHT, 640, 512, GLYPH_WIDTH, GLYPH_HEIGHT,         1000 },
};

UINT32                  *mFrame;
UINT32                  *mBuffer;
FRAME_BUFFER_CONFIGURE  *mPeer;

/// A pattern that differs in every pixel, so that a misplaced row shows.
VOID
Paint (
  UINT32  *Pixels,
  UINTN   Count,
  UINT32  Seed
  )
{
  for (UINTN Index = 0; Index < Count; Index++) {
    Pixels[Index] = (UINT32)(Index * 2654435761u) ^ Seed;
  }
}

BOOLEAN
ConfigurePeer (
  VOID
  )
{
  EFI_GRAPHICS_OUTPUT_MODE_INFORMATION  Info;
  UINTN                                 Size = 0;

  memset (&Info, 0, sizeof (Info));
  Info.HorizontalResolution = FRAME_WIDTH;
  Info.VerticalResolution   = FRAME_HEIGHT;
  Info.PixelFormat          = PixelBlueGreenRedReserved8BitPerColor;
  Info.PixelsPerScanLine    = FRAME_WIDTH;

  if (FrameBufferBltConfigure (mFrame, &Info, nullptr, &Size) != RETURN_BUFFER_TOO_SMALL) {
    return FALSE;
  }

  mPeer = static_cast<FRAME_BUFFER_CONFIGURE *>(malloc (Size));
  return (mPeer != nullptr) && !RETURN_ERROR (FrameBufferBltConfigure (mFrame, &Info, mPeer, &Size));
}

RETURN_STATUS
PeerBlt (
  const BLT_CASE  &Case
  )
{
  return FrameBufferBlt (
           mPeer,
           reinterpret_cast<EFI_GRAPHICS_OUTPUT_BLT_PIXEL *>(mBuffer),
           Case.Operation,
           Case.SourceX,
           Case.SourceY,
           Case.DestinationX,
           Case.DestinationY,
           Case.Width,
           Case.Height,
           0
           );
}

} // namespace

int
main (
  int   Argc,
  char  **Argv
  )
{
  const UINTN  Pixels = FRAME_WIDTH * FRAME_HEIGHT;

  mFrame  = static_cast<UINT32 *>(aligned_alloc (4096, Pixels * 4));
  mBuffer = static_cast<UINT32 *>(aligned_alloc (4096, Pixels * 4));
  if ((mFrame == nullptr) || (mBuffer == nullptr) || !ConfigurePeer ()) {
    fprintf (stderr, "BltBench: set-up failed\n");
    return 1;
  }

  int  Failures = 0;

  for (const BLT_CASE &Case : mCases) {
    char  Name[96];

    Paint (mFrame, Pixels, 0x12345678);
    Paint (mBuffer, Pixels, 0x9ABCDEF0);
    RETURN_STATUS  Status = PeerBlt (Case);

    if (RETURN_ERROR (Status)) {
      fprintf (stderr, "BltBench: peer %s failed: 0x%llx\n", Case.Name, (unsigned long long)Status);
      Failures++;
      continue;
    }

    snprintf (Name, sizeof (Name), "peer %s", Case.Name);
    BenchMeasure (Name, Case.Repeats, [&Case] { PeerBlt (Case); });
  }

  return Failures == 0 ? 0 : 1;
}
