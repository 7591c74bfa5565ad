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

//
// The controller's identity, resources, registers and ports.
//
#include "IndustryStandard/TavrixDisplayController.h"

#ifdef __cplusplus
extern "C" {
#endif

#define TAVRIX_REGISTER_COUNT (TAVRIX_REGISTER_FILE_SIZE / 4)

//
// Standard VGA: the miscellaneous output register puts the CRT controller,
// and with it the extended CRT registers, at the colour ports (bit 0 set, as
// after a video BIOS's text mode set) or at the mono ports.
//
#define TAVRIX_PORT_MISC_OUTPUT  0x3C2 // written here, read back at 0x3CC
#define TAVRIX_MISC_OUTPUT_COLOR 0x01

typedef enum {
  TavrixPixelFormat8        = TAVRIX_PIXEL_FORMAT_8,
  TavrixPixelFormat16       = TAVRIX_PIXEL_FORMAT_16,
  TavrixPixelFormat32       = TAVRIX_PIXEL_FORMAT_32,
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
void TavrixCoreConvertRow (const TAVRIX_DISPLAY_CORE *Core, const TAVRIX_DISPLAY_GEOMETRY *Geometry,
                           const uint8_t *FrameBuffer, uint64_t FrameBufferSize, uint32_t Row, uint32_t *Pixels);

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
