/** @file
  The PCI display controller 0x19E5:0x1711: its identity, resources, control
  registers, legacy ports and the display modes the GOP driver offers, each
  written once. The drivers, the reference platform, the virtual controller
  (plain C), the host model and the tests include this file; the scripts read
  it with scripts/lib/facts.py. It therefore holds nothing but comments,
  "#define TAVRIX_<NAME> <unsigned integer literal>" lines and the mode list
  below, and uses no EDK II type.

  Registers are 32-bit, at byte offsets in BAR 1. They are named
  TAVRIX_REG_<channel>_<role>, the channel A or B where a register belongs to
  one of the two display channels, the role as the controller's register
  table names it; a register known only by the value the mode set writes
  there is named after its offset.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef TAVRIX_DISPLAY_CONTROLLER_H_
#define TAVRIX_DISPLAY_CONTROLLER_H_

//
// Identity.
//
#define TAVRIX_PCI_VENDOR_ID  0x19E5u
#define TAVRIX_PCI_DEVICE_ID  0x1711u
#define TAVRIX_PCI_CLASS_CODE 0x030000u // display controller, VGA compatible

//
// Memory resources: BAR 0 is the frame buffer (prefetchable), BAR 1 the
// register file.
//
#define TAVRIX_FRAME_BUFFER_BAR   0u
#define TAVRIX_FRAME_BUFFER_SIZE  0x2000000u // 32 MiB
#define TAVRIX_REGISTER_BAR       1u
#define TAVRIX_REGISTER_FILE_SIZE 0x100000u // 1 MiB

//
// The fixed frame aperture: the whole frame buffer again, linearly, at a
// fixed physical address on the root bus. It decodes while bit 0 of the
// vendor-specific configuration register 0x40 and the controller's memory
// decoding are both on (reset value 0). Without a linear frame buffer it is
// read 64 KiB bank by bank, the bank chosen through the legacy ports below.
//
#define TAVRIX_CONFIG_APERTURE_CONTROL 0x40u
#define TAVRIX_APERTURE_ENABLE         0x01u
#define TAVRIX_APERTURE_BASE           0x92000000u
#define TAVRIX_APERTURE_SIZE           0x2000000u // the frame buffer's size
#define TAVRIX_BANK_SHIFT              16u        // 64 KiB banks

//
// Legacy VGA ports the controller adds to the standard ones. Its extended
// CRT controller registers sit where the VGA's CRT controller is: at
// 0x3D4/0x3D5 while the miscellaneous output register selects colour, at
// 0x3B4/0x3B5 while it selects mono.
//
#define TAVRIX_PORT_CRT_INDEX      0x3D4u
#define TAVRIX_PORT_CRT_DATA       0x3D5u
#define TAVRIX_PORT_CRT_INDEX_MONO 0x3B4u
#define TAVRIX_PORT_CRT_DATA_MONO  0x3B5u
#define TAVRIX_PORT_BANK_MIDDLE    0x3CBu // bank bits 7:4, in either nibble of the byte
#define TAVRIX_PORT_BANK_LOW       0x3CDu // bank bits 3:0; writing it completes a bank selection
#define TAVRIX_CRT_EXT_MODE        0x88u  // extended CRT register written by every mode set
#define TAVRIX_CRT_EXT_BANK_HIGH   0xA5u  // bank bits 11:8

//
// Enable bits and clock control words.
//
#define TAVRIX_REG_ENABLE_CURRENT  0x40u
#define TAVRIX_REG_ENABLE_SET0     0x44u
#define TAVRIX_REG_ENABLE_SET1     0x48u
#define TAVRIX_REG_ENABLE_SELECT   0x4Cu // enable-set selector in bits 1:0
#define TAVRIX_REG_A_CLOCK_CONTROL 0x5Cu
#define TAVRIX_REG_B_CLOCK_CONTROL 0x60u
#define TAVRIX_REG_A_EXTRA         0x88u // bits 1 and 2 set on one of channel A's clock paths

//
// Display channel A.
//
#define TAVRIX_REG_A_DISPLAY_CONTROL 0x80000u
#define TAVRIX_REG_A_0C              0x8000Cu
#define TAVRIX_REG_A_PITCH           0x80010u
#define TAVRIX_REG_A_HORIZONTAL_END  0x80014u
#define TAVRIX_REG_A_VERTICAL_END    0x80018u
#define TAVRIX_REG_A_1C              0x8001Cu
#define TAVRIX_REG_A_ACTIVE_SIZE     0x80020u
#define TAVRIX_REG_A_RASTER          0x80024u // four raster-timing words
#define TAVRIX_REG_A_PALETTE         0x80400u

//
// Display channel B, the one the display shows.
//
#define TAVRIX_REG_B_DISPLAY_CONTROL     0x80200u // bits 1:0 pixel format, bit 8 display enable
#define TAVRIX_REG_B_204                 0x80204u
#define TAVRIX_REG_B_PITCH               0x80208u // bits 13:0 line pitch in bytes
#define TAVRIX_REG_B_RASTER              0x8020Cu // four raster-timing words
#define TAVRIX_REG_B_280                 0x80280u
#define TAVRIX_REG_B_ACTIVE_SIZE         0x80284u // bits 26:16 lines - 1, bits 10:0 pixels - 1
#define TAVRIX_REG_B_PIXEL_CLOCK_CONTROL 0x802A8u
#define TAVRIX_REG_B_PIXEL_CLOCK_SECOND  0x802ACu
#define TAVRIX_REG_B_CLOCK_INIT          0x802B0u // four words, set once before the first mode set
#define TAVRIX_REG_B_PALETTE             0x80C00u // entries 0x00RRGGBB, for the 8-bit format

#define TAVRIX_PALETTE_ENTRIES 256u

//
// Fields of the display-control words.
//
#define TAVRIX_PIXEL_FORMAT_8           0u // palette index
#define TAVRIX_PIXEL_FORMAT_16          1u // 5:6:5 red, green, blue
#define TAVRIX_PIXEL_FORMAT_32          2u // blue, green, red, reserved bytes
#define TAVRIX_B_CONTROL_DISPLAY_ENABLE 0x100u

//
// The GOP driver's display modes, in mode-number order, all at 32 bits per
// pixel: TAVRIX_GOP_MODES (M) expands to M (Width, Height) for each.
//
#define TAVRIX_GOP_MODE_COUNT  4u
#define TAVRIX_GOP_MODES(Mode) Mode (640, 480) Mode (800, 600) Mode (1024, 768) Mode (1280, 1024)

#endif
