/** @file
  TavrixGopDxe: Graphics Output service, the display mode and register
  tables, and the programming of the display controller.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef UEFI_TVX_GRAPHICS_OUTPUT_H_
#define UEFI_TVX_GRAPHICS_OUTPUT_H_

#include "UefiTvx.h"

/// Raster timing of one mode. Positions count from the first active pixel
/// or line; fields 1-10 and 14 are programmed, 11-13 only describe the mode.
typedef struct {
  UINT32 HorizontalTotal;
  UINT32 HorizontalDisplayEnd;
  UINT32 HorizontalSyncStart;
  UINT8  HorizontalSyncWidth;
  UINT32 HorizontalSyncPolarity; ///< 1 = active-low
  UINT32 VerticalTotal;
  UINT32 VerticalDisplayEnd;
  UINT32 VerticalSyncStart;
  UINT32 VerticalSyncHeight;
  UINT32 VerticalSyncPolarity; ///< 1 = active-low
  UINT32 PixelClock;           ///< Hz
  UINT32 HorizontalFrequency;  ///< Hz
  UINT32 VerticalFrequency;    ///< Hz
  UINT32 ClockPolarity;
} DISPLAY_TIMING;

/// One row of the mode table; the row index is the GOP mode number.
typedef struct {
  UINT32                HorizontalResolution;
  UINT32                VerticalResolution;
  UINT32                ColorDepth;
  UINT32                RefreshRate;
  CONST DISPLAY_TIMING *Timing;
} DISPLAY_MODE_ENTRY;

/// One register initialisation: V becomes (V AND NOT ClearBits) OR SetBits.
typedef struct {
  UINT64 Register;
  UINT32 SetBits;
  UINT32 ClearBits;
} REGISTER_INIT_ENTRY;

/// What the mode set asks of the display clock.
typedef struct {
  UINT32 ClockSelect;    ///< 2 = channel B, 1 = channel A with extras, else channel A
  UINT32 InputFrequency; ///< reference clock in Hz; programs nothing
  UINT8  PllSettingA;    ///< clock control word bits 7:0
  UINT32 PllSettingB;    ///< bits 11:8
  UINT32 PllSettingC;    ///< bits 13:12
  UINT32 PllSettingD;    ///< bits 15:14
} CLOCK_REQUEST;

constexpr UINT32 CLOCK_SELECT_CHANNEL_A_EXTRA = 1;
constexpr UINT32 CLOCK_SELECT_CHANNEL_B       = 2;

extern CONST DISPLAY_TIMING      mTiming640x480;
extern CONST DISPLAY_TIMING      mTiming800x600;
extern CONST DISPLAY_TIMING      mTiming1024x768;
extern CONST DISPLAY_TIMING      mTiming1280x1024;
extern CONST DISPLAY_MODE_ENTRY  mDisplayModeTable[DISPLAY_MODE_COUNT];
extern CONST REGISTER_INIT_ENTRY mRegisterInitTable[4];

/// Bytes of the video-to-video staging buffer: 1920 x 1080 pixels of 4 bytes.
constexpr UINTN DISPLAY_LINE_BUFFER_SIZE = 8294400;

//
// Controller programming (BAR 1 registers, BAR 0 frame buffer).
//
UINT32
ReadControllerRegister (IN DISPLAY_DEVICE_CONTEXT *Context, IN UINT64 Register);

VOID WriteControllerRegister (IN DISPLAY_DEVICE_CONTEXT *Context, IN UINT64 Register, IN UINT32 Value);

VOID InitializeControllerRegisters (IN DISPLAY_DEVICE_CONTEXT *Context);

VOID SetControllerMode (IN DISPLAY_DEVICE_CONTEXT *Context, IN CONST DISPLAY_MODE_ENTRY *ModeEntry);

VOID ProgramDisplayTiming (
  IN DISPLAY_DEVICE_CONTEXT *Context,
  IN CONST DISPLAY_TIMING   *Timing,
  IN UINT32                  BitsPerPixel,
  IN UINT32                  Pitch,
  IN CONST CLOCK_REQUEST    *ClockRequest
);

VOID
ProgramChannelBClock (IN DISPLAY_DEVICE_CONTEXT *Context, IN CONST DISPLAY_TIMING *Timing, IN UINT32 DisplayControl);

//
// Graphics Output service.
//
EFI_STATUS
DisplayGraphicsOutputConstructor (IN DISPLAY_DEVICE_CONTEXT *Context);

VOID DisplayGraphicsOutputDestructor (IN DISPLAY_DEVICE_CONTEXT *Context);

extern "C" {
PROTOCOL_SERVICE<EFI_GRAPHICS_OUTPUT_PROTOCOL_QUERY_MODE> DisplayQueryMode;
PROTOCOL_SERVICE<EFI_GRAPHICS_OUTPUT_PROTOCOL_SET_MODE>   DisplaySetMode;
PROTOCOL_SERVICE<EFI_GRAPHICS_OUTPUT_PROTOCOL_BLT>        DisplayBlt;
}

#endif
