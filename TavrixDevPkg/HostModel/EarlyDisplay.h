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
  DrawString (UINT16 Column, UINT16 Row, UINT32 Foreground, UINT32 Background, const char *String)
  {
    if (!Registered ((VOID *)mGraphics.DrawString)) {
      return EFI_NOT_READY;
    }

    return mGraphics.DrawString (&mGraphics, Column, Row, Foreground, Background, (CHAR8 *)String);
  }

  EFI_STATUS
  DrawImage (
    UINT32       Offset,
    UINT32       RowStep,
    const UINT8 *Image,
    UINT32       ImageWidth,
    UINT32       ImageHeight,
    UINT8        BitsPerPixel,
    UINT32       ShadowOnly
  )
  {
    if (!Registered ((VOID *)mGraphics.DrawImage)) {
      return EFI_NOT_READY;
    }

    return mGraphics.DrawImage (
      &mGraphics, Offset, RowStep, (UINT8 *)Image, ImageWidth, ImageHeight, BitsPerPixel, ShadowOnly
    );
  }

  EFI_STATUS
  SetBank (UINT32 Bank)
  {
    if (!Registered ((VOID *)mGraphics.SetBank)) {
      return EFI_NOT_READY;
    }

    return mGraphics.SetBank (&mGraphics, Bank);
  }

  EFI_STATUS
  EnableDrawing (UINT32 Enable)
  {
    if (!Registered ((VOID *)mGraphics.EnableDrawing)) {
      return EFI_NOT_READY;
    }

    return mGraphics.EnableDrawing (&mGraphics, Enable);
  }

  EFI_STATUS
  PrintString (UINT32 Column, UINT32 Row, UINT8 Attribute, const char *String)
  {
    if (!Registered ((VOID *)mText.PrintString)) {
      return EFI_NOT_READY;
    }

    return mText.PrintString (&mText, Column, Row, Attribute, (CHAR8 *)String);
  }

  // Used by the protocol instances.
  void RegisterGraphics (const EARLY_GRAPHICS_CALLBACKS &Callbacks, UINTN Reserved);

  void RegisterText (const EARLY_TEXT_CALLBACKS &Callbacks, UINTN Reserved);

private:
  /// Fails the test when a callback is called before it was registered.
  static BOOLEAN Registered (const VOID *Callback);

  EARLY_GRAPHICS_CALLBACKS mGraphics              = {};
  EARLY_TEXT_CALLBACKS     mText                  = {};
  UINTN                    mGraphicsRegistrations = 0;
  UINTN                    mTextRegistrations     = 0;
  UINTN                    mLastReserved          = 0;
};

#endif
