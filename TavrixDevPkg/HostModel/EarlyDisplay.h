/** @file
  Host platform model: the firmware display protocols that receive the early
  video driver's callbacks.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef HOST_MODEL_EARLY_DISPLAY_H_
#define HOST_MODEL_EARLY_DISPLAY_H_

#include "ModelCommon.h"

/// The firmware graphics and text display protocols that receive the early
/// video driver's callbacks. Each keeps its own copy of the table it was
/// given; the Call helpers call a callback with that copy as This.
class EARLY_DISPLAY_MODEL {
public:
  EARLY_GRAPHICS_DISPLAY_PROTOCOL *InstallGraphics ();

  EARLY_TEXT_DISPLAY_PROTOCOL *InstallText ();

  UINTN
  GraphicsRegistrations () const
  {
    return mGraphicsRegistrations;
  }

  UINTN
  TextRegistrations () const
  {
    return mTextRegistrations;
  }

  /// Reserved argument of the last RegisterCallbacks call.
  UINTN
  LastReserved () const
  {
    return mLastReserved;
  }

  EARLY_GRAPHICS_CALLBACKS &
  GraphicsCallbacks ()
  {
    return mGraphics;
  }

  EARLY_TEXT_CALLBACKS &
  TextCallbacks ()
  {
    return mText;
  }

  EFI_STATUS
  DrawString (UINT16 Column, UINT16 Row, UINT32 Foreground, UINT32 Background, const char *String);

  EFI_STATUS
  DrawImage (
    UINT32       Offset,
    UINT32       RowStep,
    const UINT8 *Image,
    UINT32       ImageWidth,
    UINT32       ImageHeight,
    UINT8        BitsPerPixel,
    UINT32       ShadowOnly
  );

  EFI_STATUS
  SetBank (UINT32 Bank);

  EFI_STATUS
  EnableDrawing (UINT32 Enable);

  EFI_STATUS
  PrintString (UINT32 Column, UINT32 Row, UINT8 Attribute, const char *String);

  // Used by the protocol instances.
  void RegisterGraphics (const EARLY_GRAPHICS_CALLBACKS &Callbacks, UINTN Reserved);

  void RegisterText (const EARLY_TEXT_CALLBACKS &Callbacks, UINTN Reserved);

private:
  EARLY_GRAPHICS_CALLBACKS mGraphics              = {};
  EARLY_TEXT_CALLBACKS     mText                  = {};
  UINTN                    mGraphicsRegistrations = 0;
  UINTN                    mTextRegistrations     = 0;
  UINTN                    mLastReserved          = 0;
};

#endif
