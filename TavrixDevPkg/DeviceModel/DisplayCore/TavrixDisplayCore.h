/** @file
  The 0x19E5:0x1711 display controller's behaviour, written once in plain C
  for every model of it: the BAR 1 register file, what the display shows of
  it, the legacy bank registers, the extended CRT controller registers and
  the fixed frame aperture.

  The core knows no emulator and no firmware: the QEMU device
  (Qemu/tavrix-display.c) and the host test model (HostModel) wrap it, each
  moving accesses in and pictures out in its own way. All inputs are
  checked here, so a wrapper can hand over any offset, port or address.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef TAVRIX_DISPLAY_CORE_H_
#define TAVRIX_DISPLAY_CORE_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

//
// Resources.
//
#define TAVRIX_FRAME_BUFFER_SIZE  0x2000000u // BAR 0: 32 MiB, prefetchable
#define TAVRIX_REGISTER_FILE_SIZE 0x100000u  // BAR 1: 1 MiB of 32-bit registers
#define TAVRIX_REGISTER_COUNT     (TAVRIX_REGISTER_FILE_SIZE / 4)
#define TAVRIX_APERTURE_BASE      0x92000000u
#define TAVRIX_APERTURE_SIZE      TAVRIX_FRAME_BUFFER_SIZE

//
// Vendor-specific configuration register: bit 0 turns the fixed aperture on
// (it decodes only while memory decoding is on as well). Reset value 0.
//
#define TAVRIX_CONFIG_APERTURE_CONTROL 0x40
#define TAVRIX_APERTURE_ENABLE         0x01

//
// Channel B registers that the display reads.
//
#define TAVRIX_REG_B_CONTROL            0x80200 // bits 1:0 pixel format, bit 8 display enable
#define TAVRIX_REG_B_PITCH              0x80208 // bits 13:0 line pitch in bytes
#define TAVRIX_REG_B_ACTIVE_SIZE        0x80284 // bits 26:16 lines - 1, bits 10:0 pixels - 1
#define TAVRIX_REG_B_PALETTE            0x80C00 // 256 entries 0x00RRGGBB, for the 8-bit format
#define TAVRIX_B_CONTROL_DISPLAY_ENABLE 0x100

//
// Legacy VGA ports the controller adds to the standard ones. The extended
// CRT registers sit where the VGA's CRT controller is: 0x3D4/0x3D5 while
// the miscellaneous output register selects colour (bit 0 set, as after a
// video BIOS's text mode set), 0x3B4/0x3B5 while it selects mono.
//
#define TAVRIX_PORT_MISC_OUTPUT    0x3C2 // written here, read back at 0x3CC
#define TAVRIX_MISC_OUTPUT_COLOR   0x01
#define TAVRIX_PORT_CRT_INDEX      0x3D4
#define TAVRIX_PORT_CRT_DATA       0x3D5
#define TAVRIX_PORT_CRT_INDEX_MONO 0x3B4
#define TAVRIX_PORT_CRT_DATA_MONO  0x3B5
#define TAVRIX_PORT_BANK_MIDDLE    0x3CB // bank bits 7:4, in either nibble of the byte
#define TAVRIX_PORT_BANK_LOW       0x3CD // bank bits 3:0; writing it completes a bank selection
#define TAVRIX_CRT_EXT_MODE        0x88  // extended CRT register written by every mode set
#define TAVRIX_CRT_EXT_BANK_HIGH   0xA5  // bank bits 11:8

typedef enum {
  TavrixPixelFormat8        = 0, // palette index
  TavrixPixelFormat16       = 1, // 5:6:5 red, green, blue
  TavrixPixelFormat32       = 2, // blue, green, red, reserved bytes
  TavrixPixelFormatReserved = 3
} TAVRIX_PIXEL_FORMAT;

/// What the display shows: the frame at BAR 0 offset 0, Height rows of
/// Width pixels, rows Pitch bytes apart.
typedef struct {
  uint32_t            Width;
  uint32_t            Height;
  uint32_t            Pitch;
  uint32_t            BytesPerPixel;
  TAVRIX_PIXEL_FORMAT Format;
} TAVRIX_DISPLAY_GEOMETRY;

/// The controller's state. Plain data: a wrapper embeds or allocates it
/// (about 1 MiB, the register file) and calls TavrixCoreReset first.
typedef struct {
  uint32_t Registers[TAVRIX_REGISTER_COUNT];
  uint8_t  MiscOutput; // port 0x3C2, for the CRT's place
  uint8_t  CrtIndex;
  uint8_t  CrtModeControl; // extended index 0x88
  uint8_t  CrtBankHigh;    // extended index 0xA5
  uint8_t  BankMiddle;     // port 0x3CB
  uint8_t  BankLow;        // port 0x3CD
  uint32_t BankSelects;    // writes of port 0x3CD since reset
  uint8_t  ApertureControl;
} TAVRIX_DISPLAY_CORE;

/// Result of a legacy port access offered to the core.
typedef enum {
  TavrixPortStandard = 0, // the access belongs to the standard VGA registers
  TavrixPortClaimed  = 1  // the core answered it; standard VGA sees nothing
} TAVRIX_PORT_RESULT;

/// Power-on state: every register 0, display off, bank 0, aperture off,
/// miscellaneous output 0 (the CRT at the mono ports until a mode set).
void TavrixCoreReset (TAVRIX_DISPLAY_CORE *Core);

/// A 32-bit register read at a BAR 1 byte offset (the low two bits are
/// ignored); offsets beyond the register file read as 0xFFFFFFFF.
uint32_t TavrixCoreReadRegister (const TAVRIX_DISPLAY_CORE *Core, uint64_t Offset);

/// A 32-bit register write; the register keeps the value and reads it back.
/// Offsets beyond the register file are ignored.
void TavrixCoreWriteRegister (TAVRIX_DISPLAY_CORE *Core, uint64_t Offset, uint32_t Value);

/// A write of Size bytes (1, 2 or 4) at a BAR 1 byte offset, within one
/// register: only those bytes of the register change (a CPU's 64-bit store
/// at an offset that is not a multiple of 8 reaches QEMU's devices as single
/// bytes). An access that is not within one register is ignored.
void TavrixCoreWriteRegisterBytes (TAVRIX_DISPLAY_CORE *Core, uint64_t Offset, uint32_t Size, uint32_t Value);

/// A read of Size bytes (1, 2 or 4) within one register; 0xFFFFFFFF for an
/// access that is not, bytes of all ones beyond the register file.
uint32_t TavrixCoreReadRegisterBytes (const TAVRIX_DISPLAY_CORE *Core, uint64_t Offset, uint32_t Size);

/// What the display shows, from channel B's registers alone. Returns 1 and
/// fills Geometry when the display is enabled with a frame that fits BAR 0;
/// returns 0 (nothing shown) otherwise, Geometry untouched.
int TavrixCoreDisplayGeometry (const TAVRIX_DISPLAY_CORE *Core, TAVRIX_DISPLAY_GEOMETRY *Geometry);

/// A picture buffer a wrapper draws the frame into (QEMU's console
/// surface): Width x Height pixels, BitsPerPixel deep, Shared when its
/// memory belongs to someone else (the VGA's planes).
typedef struct {
  uint32_t Width;
  uint32_t Height;
  uint32_t BitsPerPixel;
  int      Shared;
} TAVRIX_SURFACE;

/// Whether the frame described by Geometry may be drawn into Surface as it
/// is: exactly the frame's size, 32 bits per pixel, memory of its own. A
/// wrapper asks before every frame, since others (the VGA) resize or replace
/// the surface too; when it does not fit, the wrapper makes one that does.
int TavrixCoreSurfaceFits (const TAVRIX_DISPLAY_GEOMETRY *Geometry, const TAVRIX_SURFACE *Surface);

/// Converts row Row of the frame described by Geometry into Width pixels of
/// 0x00RRGGBB. Pixels that would lie beyond FrameBufferSize come out black.
void TavrixCoreConvertRow (
  const TAVRIX_DISPLAY_CORE     *Core,
  const TAVRIX_DISPLAY_GEOMETRY *Geometry,
  const uint8_t                 *FrameBuffer,
  uint64_t                       FrameBufferSize,
  uint32_t                       Row,
  uint32_t                      *Pixels
);

/// An 8-bit write to a legacy VGA port.
TAVRIX_PORT_RESULT
TavrixCorePortWrite (TAVRIX_DISPLAY_CORE *Core, uint16_t Port, uint8_t Value);

/// An 8-bit read of a legacy VGA port; on TavrixPortClaimed *Value holds it.
TAVRIX_PORT_RESULT
TavrixCorePortRead (const TAVRIX_DISPLAY_CORE *Core, uint16_t Port, uint8_t *Value);

/// The selected 64 KiB bank: 0xA5 bits 11:8, 0x3CB bits 7:4, 0x3CD bits 3:0.
uint32_t TavrixCoreBank (const TAVRIX_DISPLAY_CORE *Core);

/// The vendor-specific aperture control register (configuration offset
/// 0x40): bit 0 kept, the other bits reserved and read as 0.
void TavrixCoreWriteApertureControl (TAVRIX_DISPLAY_CORE *Core, uint8_t Value);

uint8_t TavrixCoreReadApertureControl (const TAVRIX_DISPLAY_CORE *Core);

/// The aperture decodes while bit 0 of the control register and the
/// device's memory decoding are both on.
int TavrixCoreApertureDecodes (const TAVRIX_DISPLAY_CORE *Core, int MemoryDecodeEnabled);

/// Frame-buffer offset of an access of Size bytes at physical Address, when
/// the whole access lies in the aperture: returns 1 and sets *Offset. Returns
/// 0 for anything that reaches outside it (nothing is to be moved then).
int TavrixCoreApertureOffset (uint64_t Address, uint64_t Size, uint64_t *Offset);

#ifdef __cplusplus
}
#endif

#endif
