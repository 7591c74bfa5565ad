/** @file
  Prelumen: the module state and the services shared between the driver's
  source files. The display-information HOB record is public
  (Guid/EarlyVideoInfoHob.h), as are the callback tables
  (Protocol/EarlyVideoDisplay.h).

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef PRELUMEN_H_
#define PRELUMEN_H_

extern "C" {
#include <PiDxe.h>
#include <Guid/EarlyVideoInfoHob.h>
#include <Protocol/EarlyVideoDisplay.h>
#include <Protocol/GraphicsOutput.h>
#include <Library/PcdLib.h>
}

#include <IndustryStandard/TavrixDisplayController.h>

//
// Physical address of the fixed frame aperture that shows the controller's
// frame buffer, 64 KiB bank by bank, while no GOP exists. Host tests move it
// to an address their platform model owns.
//
#ifndef EARLY_VIDEO_APERTURE_BASE
#define EARLY_VIDEO_APERTURE_BASE TAVRIX_APERTURE_BASE
#endif

/// VGA text memory: 80 x 25 cells of a character byte and an attribute byte.
constexpr UINTN  EARLY_VIDEO_TEXT_BASE    = 0xB8000;
constexpr UINT32 EARLY_VIDEO_TEXT_COLUMNS = 80;
constexpr UINT32 EARLY_VIDEO_TEXT_ROWS    = 25;

/// Token numbers of the configuration values in gEarlyVideoTokenSpaceGuid,
/// as NorvaneEarlyVgaPkg.dec fixes them (the build's AutoGen.h carries them
/// for every PCD the module's .inf lists).
enum EARLY_VIDEO_TOKEN : UINTN {
  TokenDeviceLocation = PcdToken (PcdEarlyVideoDeviceLocation),
  TokenBridgeDevice   = PcdToken (PcdEarlyVideoBridgeDevice),
  TokenBridgeFunction = PcdToken (PcdEarlyVideoBridgeFunction),
  TokenShadowHeight   = PcdToken (PcdEarlyVideoShadowHeight),
  TokenShadowWidth    = PcdToken (PcdEarlyVideoShadowWidth),
  TokenGraphicsMode   = PcdToken (PcdEarlyVideoGraphicsMode)
};

/// One row of the supported-device table: PCI vendor ID, then device ID.
typedef struct {
  UINT16 VendorId;
  UINT16 DeviceId;
} EARLY_VIDEO_DEVICE;

/// Ends the supported-device table.
constexpr UINT16 EARLY_VIDEO_DEVICE_END = 0xFFFF;

/// The one controller this build serves.
constexpr UINT16 EARLY_VIDEO_VENDOR_ID = TAVRIX_PCI_VENDOR_ID;
constexpr UINT16 EARLY_VIDEO_DEVICE_ID = TAVRIX_PCI_DEVICE_ID;

/// The function type behind a callback table's pointer type: the callbacks
/// below are declared from Protocol/EarlyVideoDisplay.h's typedefs, so their
/// parameters stand once, in the definitions, and each definition must keep
/// the signature the table's users call it with.
template <typename POINTER> struct CALLBACK_OF;
template <typename FUNCTION> struct CALLBACK_OF<FUNCTION *> {
  using TYPE = FUNCTION;
};
template <typename POINTER> using EARLY_VIDEO_CALLBACK = typename CALLBACK_OF<POINTER>::TYPE;

/// How DrawGlyph draws a glyph; built on the stack by DrawString.
typedef struct {
  const UINT8 *Glyphs;      ///< glyph table
  UINT32       GlyphWidth;  ///< pixels, at most 8
  UINT32       GlyphHeight; ///< rows, at most 255
  UINT32       ScaleX;      ///< times each pixel repeats to the right, at most 255
  UINT32       ScaleY;      ///< times each row repeats downwards, at most 255
  UINT32       Foreground;  ///< pixel for set bits
  UINT32       Background;  ///< pixel for clear bits
} GLYPH_DESCRIPTOR;

/// The 8x16 font: 256 glyphs of 16 row bytes, bit 7 the leftmost pixel.
constexpr UINT32   FONT_8X16_WIDTH  = 8;
constexpr UINT32   FONT_8X16_HEIGHT = 16;
constexpr UINTN    FONT_8X16_SIZE   = 256 * FONT_8X16_HEIGHT;
extern const UINT8 mFont8x16[FONT_8X16_SIZE];

//
// Module state, zero at load.
//
extern EARLY_VIDEO_DEVICE            mSupportedDevices[];
extern EARLY_GRAPHICS_CALLBACKS      mGraphicsCallbacks;
extern EARLY_TEXT_CALLBACKS          mTextCallbacks;
extern BOOLEAN                       mGopFound;             ///< a GOP on a handle with a device path was found
extern EFI_GRAPHICS_OUTPUT_PROTOCOL *mGraphicsOutput;       ///< that GOP as last looked up; NULL if it was gone
extern EFI_HANDLE                    mGraphicsOutputHandle; ///< the handle that GOP was taken from
extern UINT8                        *mShadowBuffer;         ///< shadow copy of the frame, or NULL
extern UINT32                        mShadowBufferSize;     ///< bytes of mShadowBuffer, 0 when NULL
extern BOOLEAN                       mDrawingDisabled;      ///< string and image drawing off

extern "C" {
EFI_STATUS
EFIAPI
EarlyVideoEntryPoint (IN EFI_HANDLE ImageHandle, IN EFI_SYSTEM_TABLE *SystemTable);

VOID EFIAPI OnGraphicsOutputInstalled (IN EFI_EVENT Event, IN VOID *Context);

//
// Legacy VGA text output (the text callback).
//
EARLY_VIDEO_CALLBACK<EARLY_VIDEO_PRINT_STRING> PrintString;

//
// Frame-buffer drawing (the graphics callbacks).
//
EARLY_VIDEO_CALLBACK<EARLY_VIDEO_DRAW_STRING>    DrawString;
EARLY_VIDEO_CALLBACK<EARLY_VIDEO_DRAW_IMAGE>     DrawImage;
EARLY_VIDEO_CALLBACK<EARLY_VIDEO_SET_BANK>       SetBank;
EARLY_VIDEO_CALLBACK<EARLY_VIDEO_ENABLE_DRAWING> EnableDrawing;
}

/**
  Routes legacy VGA to the controller: programs the bridge above it and the
  controller itself through PCI configuration mechanism 1.

  @retval EFI_SUCCESS      Routed; Vendor, Device and Location are filled.
  @retval EFI_UNSUPPORTED  A GOP has been found; nothing was touched.
**/
EFI_STATUS
RouteLegacyVga (OUT UINT16 *Vendor, OUT UINT16 *Device, OUT UINT32 *Location);

/**
  Whether the GOP's current mode has a linear frame buffer to draw into: not
  Blt-only, and not at address 0. A NULL interface (the GOP GUID installed
  without one, which the handle database allows) has none.
**/
BOOLEAN
IsLinearFrameBuffer (IN CONST EFI_GRAPHICS_OUTPUT_PROTOCOL *GraphicsOutput);

/**
  Returns the data of the display-information HOB, or NULL when there is no
  such HOB or it is too short to hold EARLY_VIDEO_INFO.
**/
EARLY_VIDEO_INFO *FindEarlyVideoInfo (VOID);

/**
  Draws one glyph with its top-left pixel at frame byte offset Offset.
**/
EFI_STATUS
DrawGlyph (
  IN EARLY_GRAPHICS_CALLBACKS *This,
  IN CONST GLYPH_DESCRIPTOR   *Descriptor,
  IN UINT64                    Offset,
  IN CHAR8                     Character,
  IN EARLY_VIDEO_INFO         *Info
);

/**
  Stores one 32-bit pixel at Base + Offset, selecting its 64 KiB bank first
  while no GOP exists. A pixel whose four bytes do not all lie inside the
  first FrameSize bytes of the frame is dropped before any bank switch.
**/
VOID WritePixel (
  IN EARLY_GRAPHICS_CALLBACKS *This,
  IN EFI_PHYSICAL_ADDRESS      Base,
  IN UINT64                    FrameSize,
  IN UINT64                    Offset,
  IN UINT32                    Pixel,
  IN UINT32                    CurrentBank
);

#endif
