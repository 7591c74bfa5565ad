/** @file
  The two firmware display protocols that receive Prelumen's callbacks, and
  the callback tables handed to them.

  The platform produces the protocols; Prelumen locates one of them and calls
  its first member, RegisterCallbacks, once. The callback table is passed by
  value: under the UEFI x64 calling convention the 32-byte graphics table
  arrives as the address of a caller-made copy that is valid only during the
  call (so the protocol copies what it keeps), and the 8-byte text table
  arrives as the PrintString pointer itself. The graphics protocol passes its
  own copy of the table back as This whenever it calls one of the four
  graphics callbacks; WritePixel reaches SetBank through it.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef EARLY_VIDEO_DISPLAY_H_
#define EARLY_VIDEO_DISPLAY_H_

#include <Uefi.h>

//
// A public header that platform C code includes: it keeps EDK II's own C
// layout, which clang-format cannot produce for function-pointer typedefs.
//
// clang-format off

typedef struct _EARLY_GRAPHICS_CALLBACKS EARLY_GRAPHICS_CALLBACKS;

/// Draws up to 256 characters of String in the 8x16 font at cell (Column, Row).
typedef EFI_STATUS (EFIAPI *EARLY_VIDEO_DRAW_STRING)(
  IN EARLY_GRAPHICS_CALLBACKS  *This,
  IN UINT16                    Column,
  IN UINT16                    Row,
  IN UINT32                    Foreground,
  IN UINT32                    Background,
  IN CHAR8                     *String
  );

/// Draws an image whose top-left pixel lands at frame byte offset Offset,
/// advancing RowStep bytes per row; into the shadow buffer when ShadowOnly.
typedef EFI_STATUS (EFIAPI *EARLY_VIDEO_DRAW_IMAGE)(
  IN EARLY_GRAPHICS_CALLBACKS  *This,
  IN UINT32                    Offset,
  IN UINT32                    RowStep,
  IN UINT8                     *Image,
  IN UINT32                    ImageWidth,
  IN UINT32                    ImageHeight,
  IN UINT8                     BitsPerPixel,
  IN UINT32                    ShadowOnly
  );

/// Selects 64 KiB bank Bank of the frame aperture.
typedef EFI_STATUS (EFIAPI *EARLY_VIDEO_SET_BANK)(
  IN EARLY_GRAPHICS_CALLBACKS  *This,
  IN UINT32                    Bank
  );

/// Enable 1 turns string and image drawing on, 0 turns it off.
typedef EFI_STATUS (EFIAPI *EARLY_VIDEO_ENABLE_DRAWING)(
  IN EARLY_GRAPHICS_CALLBACKS  *This,
  IN UINT32                    Enable
  );

/// Prints String into VGA text memory at (Column, Row) with Attribute.
typedef EFI_STATUS (EFIAPI *EARLY_VIDEO_PRINT_STRING)(
  IN VOID    *This,
  IN UINT32  Column,
  IN UINT32  Row,
  IN UINT8   Attribute,
  IN CHAR8   *String
  );

struct _EARLY_GRAPHICS_CALLBACKS {
  EARLY_VIDEO_DRAW_STRING       DrawString;
  EARLY_VIDEO_DRAW_IMAGE        DrawImage;
  EARLY_VIDEO_SET_BANK          SetBank;
  EARLY_VIDEO_ENABLE_DRAWING    EnableDrawing;
};

typedef struct {
  EARLY_VIDEO_PRINT_STRING    PrintString;
} EARLY_TEXT_CALLBACKS;

typedef struct _EARLY_GRAPHICS_DISPLAY_PROTOCOL EARLY_GRAPHICS_DISPLAY_PROTOCOL;
typedef struct _EARLY_TEXT_DISPLAY_PROTOCOL     EARLY_TEXT_DISPLAY_PROTOCOL;

/// Hands the protocol the graphics callbacks; Reserved is 0.
typedef EFI_STATUS (EFIAPI *EARLY_GRAPHICS_REGISTER_CALLBACKS)(
  IN EARLY_GRAPHICS_DISPLAY_PROTOCOL  *This,
  IN EARLY_GRAPHICS_CALLBACKS         Callbacks,
  IN UINTN                            Reserved
  );

/// Hands the protocol the text callback; Reserved is 0.
typedef EFI_STATUS (EFIAPI *EARLY_TEXT_REGISTER_CALLBACKS)(
  IN EARLY_TEXT_DISPLAY_PROTOCOL  *This,
  IN EARLY_TEXT_CALLBACKS         Callbacks,
  IN UINTN                        Reserved
  );

/// Only the first member is fixed; a producer may append its own fields.
struct _EARLY_GRAPHICS_DISPLAY_PROTOCOL {
  EARLY_GRAPHICS_REGISTER_CALLBACKS    RegisterCallbacks;
};

struct _EARLY_TEXT_DISPLAY_PROTOCOL {
  EARLY_TEXT_REGISTER_CALLBACKS    RegisterCallbacks;
};

extern EFI_GUID  gEarlyGraphicsDisplayProtocolGuid;
extern EFI_GUID  gEarlyTextDisplayProtocolGuid;

// clang-format on

#endif
