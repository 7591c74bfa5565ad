/** @file
  What the controller must receive for each of the GOP driver's four display
  modes, written out as literal register values from the controller's
  documentation, so that the tests do not repeat the driver's own packing
  arithmetic; and the controller's facts (IndustryStandard/
  TavrixDisplayController.h) pinned to their documented values, so that a
  slip in that one header cannot move the driver, the virtual controller and
  the tests together unseen.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef SHIPPED_MODE_REGISTERS_H_
#define SHIPPED_MODE_REGISTERS_H_

#include <stdint.h>
#include <IndustryStandard/TavrixDisplayController.h>

/// Channel B's registers after the mode set of one mode.
struct SHIPPED_MODE {
  uint32_t Width;
  uint32_t Height;
  uint32_t FrameBufferSize;
  uint32_t Pitch;             // TAVRIX_REG_B_PITCH
  uint32_t Raster[4];         // TAVRIX_REG_B_RASTER and the three words after it
  uint32_t ActiveSize;        // TAVRIX_REG_B_ACTIVE_SIZE
  uint32_t PixelClockSecond;  // TAVRIX_REG_B_PIXEL_CLOCK_SECOND
  uint32_t PixelClockControl; // TAVRIX_REG_B_PIXEL_CLOCK_CONTROL, the word first loaded
  uint32_t PixelClockFinal;   // TAVRIX_REG_B_PIXEL_CLOCK_CONTROL, last written
  uint32_t DisplayControl;    // TAVRIX_REG_B_DISPLAY_CONTROL
};

// clang-format off
constexpr SHIPPED_MODE kShippedModes[4] = {
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

//
// The facts as the controller's documentation gives them.
//
static_assert (TAVRIX_PCI_VENDOR_ID == 0x19E5 && TAVRIX_PCI_DEVICE_ID == 0x1711, "PCI identity");
static_assert (TAVRIX_PCI_CLASS_CODE == 0x030000, "class code");
static_assert (
  TAVRIX_FRAME_BUFFER_BAR == 0 && TAVRIX_FRAME_BUFFER_SIZE == 32 * 1024 * 1024 && TAVRIX_REGISTER_BAR == 1 &&
    TAVRIX_REGISTER_FILE_SIZE == 1024 * 1024,
  "BARs"
);
static_assert (
  TAVRIX_CONFIG_APERTURE_CONTROL == 0x40 && TAVRIX_APERTURE_ENABLE == 1 && TAVRIX_APERTURE_BASE == 0x92000000 &&
    TAVRIX_APERTURE_SIZE == TAVRIX_FRAME_BUFFER_SIZE && TAVRIX_BANK_SHIFT == 16,
  "aperture"
);
static_assert (
  TAVRIX_PORT_CRT_INDEX == 0x3D4 && TAVRIX_PORT_CRT_DATA == 0x3D5 && TAVRIX_PORT_CRT_INDEX_MONO == 0x3B4 &&
    TAVRIX_PORT_CRT_DATA_MONO == 0x3B5 && TAVRIX_PORT_BANK_MIDDLE == 0x3CB && TAVRIX_PORT_BANK_LOW == 0x3CD &&
    TAVRIX_CRT_EXT_MODE == 0x88 && TAVRIX_CRT_EXT_BANK_HIGH == 0xA5,
  "legacy ports"
);
static_assert (
  TAVRIX_REG_ENABLE_CURRENT == 0x40 && TAVRIX_REG_ENABLE_SET0 == 0x44 && TAVRIX_REG_ENABLE_SET1 == 0x48 &&
    TAVRIX_REG_ENABLE_SELECT == 0x4C && TAVRIX_REG_A_CLOCK_CONTROL == 0x5C && TAVRIX_REG_B_CLOCK_CONTROL == 0x60 &&
    TAVRIX_REG_A_EXTRA == 0x88,
  "enable bits and clock control words"
);
static_assert (
  TAVRIX_REG_A_DISPLAY_CONTROL == 0x80000 && TAVRIX_REG_A_0C == 0x8000C && TAVRIX_REG_A_PITCH == 0x80010 &&
    TAVRIX_REG_A_HORIZONTAL_END == 0x80014 && TAVRIX_REG_A_VERTICAL_END == 0x80018 && TAVRIX_REG_A_1C == 0x8001C &&
    TAVRIX_REG_A_ACTIVE_SIZE == 0x80020 && TAVRIX_REG_A_RASTER == 0x80024 && TAVRIX_REG_A_PALETTE == 0x80400,
  "channel A"
);
static_assert (
  TAVRIX_REG_B_DISPLAY_CONTROL == 0x80200 && TAVRIX_REG_B_204 == 0x80204 && TAVRIX_REG_B_PITCH == 0x80208 &&
    TAVRIX_REG_B_RASTER == 0x8020C && TAVRIX_REG_B_280 == 0x80280 && TAVRIX_REG_B_ACTIVE_SIZE == 0x80284 &&
    TAVRIX_REG_B_PIXEL_CLOCK_CONTROL == 0x802A8 && TAVRIX_REG_B_PIXEL_CLOCK_SECOND == 0x802AC &&
    TAVRIX_REG_B_CLOCK_INIT == 0x802B0 && TAVRIX_REG_B_PALETTE == 0x80C00 && TAVRIX_PALETTE_ENTRIES == 256,
  "channel B"
);
static_assert (
  TAVRIX_PIXEL_FORMAT_8 == 0 && TAVRIX_PIXEL_FORMAT_16 == 1 && TAVRIX_PIXEL_FORMAT_32 == 2 &&
    TAVRIX_B_CONTROL_DISPLAY_ENABLE == 0x100,
  "display-control fields"
);

/// The facts' mode list is the shipped one, in order.
constexpr bool
FactsListTheShippedModes ()
{
  constexpr uint32_t Listed[][2] = {
#define SHIPPED_MODE_ROW(Width, Height) { Width, Height },
    TAVRIX_GOP_MODES (SHIPPED_MODE_ROW)
#undef SHIPPED_MODE_ROW
  };
  static_assert (sizeof (Listed) / sizeof (Listed[0]) == TAVRIX_GOP_MODE_COUNT, "mode count");
  for (uint32_t Index = 0; Index < TAVRIX_GOP_MODE_COUNT; Index++) {
    if ((Listed[Index][0] != kShippedModes[Index].Width) || (Listed[Index][1] != kShippedModes[Index].Height)) {
      return false;
    }
  }

  return true;
}

static_assert (TAVRIX_GOP_MODE_COUNT == 4 && FactsListTheShippedModes (), "the GOP's modes");

#endif
