/** @file
  What the controller must receive for each of the four display modes,
  written out as literal register values so that the tests do not repeat the
  driver's own packing arithmetic.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef EXPECTED_MODES_H_
#define EXPECTED_MODES_H_

extern "C" {
#include <Uefi.h>
}

struct EXPECTED_MODE {
  UINT32 Width;
  UINT32 Height;
  UINT32 FrameBufferSize;
  UINT32 Pitch;          // 0x80208
  UINT32 Raster[4];      // 0x8020C, 0x80210, 0x80214, 0x80218
  UINT32 ActiveSize;     // 0x80284
  UINT32 SecondWord;     // 0x802AC
  UINT32 ControlWord;    // 0x802A8 as first loaded
  UINT32 FinalClock;     // 0x802A8 last written
  UINT32 DisplayControl; // 0x80200
};

// clang-format off
constexpr EXPECTED_MODE kExpectedModes[4] = {
  { 640,  480,  1228800, 0x0A000A00, { 0x031F027F, 0x0060028F, 0x020C01DF, 0x000201E9 },
    0x01DF027F, 0x206B851E, 0x23D40F02, 0x42D40F02, 0x02087106 },
  { 800,  600,  1920000, 0x0C800C80, { 0x041F031F, 0x00800347, 0x02730257, 0x00040258 },
    0x0257031F, 0x30000000, 0x23940801, 0x42940801, 0x02084106 },
  { 1024, 768,  3145728, 0x10001000, { 0x053F03FF, 0x00880417, 0x032502FF, 0x00060302 },
    0x02FF03FF, 0x40000000, 0x23940D01, 0x42940D01, 0x02087106 },
  { 1280, 1024, 5242880, 0x14001400, { 0x069704FF, 0x0070052F, 0x042903FF, 0x00030400 },
    0x03FF04FF, 0x80000000, 0x23B41B01, 0x42B41B01, 0x02084106 },
};
// clang-format on

#endif
