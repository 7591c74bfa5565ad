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

} // namespace

BOOLEAN
EARLY_DISPLAY_MODEL::Registered (const VOID *Callback)
{
  if (Callback == nullptr) {
    ADD_FAILURE () << "a display callback was called before RegisterCallbacks gave it";
    return FALSE;
  }

  return TRUE;
}

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
