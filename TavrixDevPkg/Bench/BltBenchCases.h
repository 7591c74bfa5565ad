/** @file
  The Blt cases both Blt benchmarks measure, written once: the host one under
  callgrind (BltBench) and the one in the firmware under QEMU (FirmwareBlt).
  All in the GOP's 1280 x 1024 mode, with Delta 0 as a console passes it. The
  glyph cases sit in the middle of the screen, away from the edges; the
  full-screen video-to-video case scrolls the screen by one text row and the
  glyph one moves a cell up by one text row, as a scroll does. The names are
  those the benchmarks print and their table scripts read.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef BLT_BENCH_CASES_H_
#define BLT_BENCH_CASES_H_

struct BLT_BENCH_CASE {
  const char                       *Name;
  EFI_GRAPHICS_OUTPUT_BLT_OPERATION Operation;
  UINTN                             SourceX, SourceY, DestinationX, DestinationY, Width, Height;
  UINTN                             HostRepeats;   ///< calls in one callgrind measurement
  UINTN                             FirmwareCalls; ///< calls in one timed batch in the firmware
};

constexpr UINTN BLT_BENCH_WIDTH        = 1280;
constexpr UINTN BLT_BENCH_HEIGHT       = 1024;
constexpr UINTN BLT_BENCH_GLYPH_WIDTH  = 8;
constexpr UINTN BLT_BENCH_GLYPH_HEIGHT = 16;

// clang-format off
constexpr BLT_BENCH_CASE kBltBenchCases[] = {
  { "fill-full",             EfiBltVideoFill,        0,   0,   0,   0,   BLT_BENCH_WIDTH, BLT_BENCH_HEIGHT, 1, 2 },
  { "buffer-to-video-full",  EfiBltBufferToVideo,    0,   0,   0,   0,   BLT_BENCH_WIDTH, BLT_BENCH_HEIGHT, 1, 2 },
  { "video-to-buffer-full",  EfiBltVideoToBltBuffer, 0,   0,   0,   0,   BLT_BENCH_WIDTH, BLT_BENCH_HEIGHT, 1, 2 },
  { "video-to-video-full",   EfiBltVideoToVideo,     0,   BLT_BENCH_GLYPH_HEIGHT, 0, 0,
    BLT_BENCH_WIDTH, BLT_BENCH_HEIGHT - BLT_BENCH_GLYPH_HEIGHT, 1, 2 },
  { "fill-glyph",            EfiBltVideoFill,        0,   0,   640, 512, BLT_BENCH_GLYPH_WIDTH, BLT_BENCH_GLYPH_HEIGHT, 1000, 100 },
  { "buffer-to-video-glyph", EfiBltBufferToVideo,    0,   0,   640, 512, BLT_BENCH_GLYPH_WIDTH, BLT_BENCH_GLYPH_HEIGHT, 1000, 100 },
  { "video-to-buffer-glyph", EfiBltVideoToBltBuffer, 640, 512, 0,   0,   BLT_BENCH_GLYPH_WIDTH, BLT_BENCH_GLYPH_HEIGHT, 1000, 100 },
  { "video-to-video-glyph",  EfiBltVideoToVideo,     640, 512 + BLT_BENCH_GLYPH_HEIGHT, 640, 512,
    BLT_BENCH_GLYPH_WIDTH, BLT_BENCH_GLYPH_HEIGHT, 1000, 100 },
};
// clang-format on

#endif
