/** @file
  The firmware graphics and text display protocols that receive the early
  video driver's callbacks.

  The graphics table arrives as the address of a copy the caller made for
  the call, so the protocol keeps its own copy and passes that copy back as
  This to every graphics callback.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "HostModelInternal.h"

namespace {

EFI_STATUS
EFIAPI
RegisterGraphics (IN EARLY_GRAPHICS_DISPLAY_PROTOCOL *This, IN EARLY_GRAPHICS_CALLBACKS Callbacks, IN UINTN Reserved)
{
  HOST_MODEL::Current ().EarlyDisplay.RegisterGraphics (Callbacks, Reserved);
  return EFI_SUCCESS;
}

EFI_STATUS
EFIAPI
RegisterText (IN EARLY_TEXT_DISPLAY_PROTOCOL *This, IN EARLY_TEXT_CALLBACKS Callbacks, IN UINTN Reserved)
{
  HOST_MODEL::Current ().EarlyDisplay.RegisterText (Callbacks, Reserved);
  return EFI_SUCCESS;
}

EARLY_GRAPHICS_DISPLAY_PROTOCOL mGraphicsProtocol = { RegisterGraphics };
EARLY_TEXT_DISPLAY_PROTOCOL     mTextProtocol     = { RegisterText };

/// Fails the test when a callback is called before it was registered.
BOOLEAN
Registered (const VOID *Callback)
{
  if (Callback == nullptr) {
    ADD_FAILURE () << "a display callback was called before RegisterCallbacks gave it";
    return FALSE;
  }

  return TRUE;
}

} // namespace

EARLY_GRAPHICS_DISPLAY_PROTOCOL *
EARLY_DISPLAY_MODEL::InstallGraphics ()
{
  HOST_MODEL::Current ().InstallProtocol (nullptr, gEarlyGraphicsDisplayProtocolGuid, &mGraphicsProtocol);
  return &mGraphicsProtocol;
}

EARLY_TEXT_DISPLAY_PROTOCOL *
EARLY_DISPLAY_MODEL::InstallText ()
{
  HOST_MODEL::Current ().InstallProtocol (nullptr, gEarlyTextDisplayProtocolGuid, &mTextProtocol);
  return &mTextProtocol;
}

void
EARLY_DISPLAY_MODEL::RegisterGraphics (const EARLY_GRAPHICS_CALLBACKS &Callbacks, UINTN Reserved)
{
  mGraphics     = Callbacks;
  mLastReserved = Reserved;
  mGraphicsRegistrations++;
}

void
EARLY_DISPLAY_MODEL::RegisterText (const EARLY_TEXT_CALLBACKS &Callbacks, UINTN Reserved)
{
  mText         = Callbacks;
  mLastReserved = Reserved;
  mTextRegistrations++;
}

EFI_STATUS
EARLY_DISPLAY_MODEL::DrawString (UINT16 Column, UINT16 Row, UINT32 Foreground, UINT32 Background, const char *String)
{
  if (!Registered ((VOID *)mGraphics.DrawString)) {
    return EFI_NOT_READY;
  }

  return mGraphics.DrawString (&mGraphics, Column, Row, Foreground, Background, (CHAR8 *)String);
}

EFI_STATUS
EARLY_DISPLAY_MODEL::DrawImage (
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
EARLY_DISPLAY_MODEL::SetBank (UINT32 Bank)
{
  if (!Registered ((VOID *)mGraphics.SetBank)) {
    return EFI_NOT_READY;
  }

  return mGraphics.SetBank (&mGraphics, Bank);
}

EFI_STATUS
EARLY_DISPLAY_MODEL::EnableDrawing (UINT32 Enable)
{
  if (!Registered ((VOID *)mGraphics.EnableDrawing)) {
    return EFI_NOT_READY;
  }

  return mGraphics.EnableDrawing (&mGraphics, Enable);
}

EFI_STATUS
EARLY_DISPLAY_MODEL::PrintString (UINT32 Column, UINT32 Row, UINT8 Attribute, const char *String)
{
  if (!Registered ((VOID *)mText.PrintString)) {
    return EFI_NOT_READY;
  }

  return mText.PrintString (&mText, Column, Row, Attribute, (CHAR8 *)String);
}
