/** @file
  The picture again once the display driver's GOP exists.

  Prelumen watches for GOP installations at TPL_NOTIFY and from then on
  draws into the GOP's frame buffer without bank switching. This platform
  watches too, at TPL_CALLBACK, so its notification runs after Prelumen's:
  it sets the GOP to the mode of the early frame (the display-information
  HOB's geometry, which Prelumen's glyphs are placed in), then draws the
  same picture again through the same callbacks, with the progress line at
  its last step. The console later clears it.

  Only the display controller's GOP is taken, as Prelumen takes it: the
  first GOP whose device path leads to the controller's PCI I/O, with a
  linear frame buffer. Another display's GOP (a second card, the board's own
  VGA) is never drawn into or set to another mode; the GOP GUID installed
  with a NULL interface has no frame buffer and is passed over. From then on
  Prelumen draws into that GOP's frame buffer, so the fixed aperture is
  turned off.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "PlatformEarlyDisplayDxe.h"

#include <Library/DebugLib.h>
#include <Library/MemoryAllocationLib.h>
#include <Library/PerformanceLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Protocol/DevicePath.h>
#include <Protocol/GraphicsOutput.h>

STATIC VOID  *mGraphicsOutputRegistration;

EFI_GRAPHICS_OUTPUT_PROTOCOL *
FindGraphicsOutput (
  IN BOOLEAN  LinearOnly
  )
{
  EFI_HANDLE                    *Handles;
  UINTN                         Count;
  UINTN                         Index;
  VOID                          *DevicePath;
  EFI_GRAPHICS_OUTPUT_PROTOCOL  *Gop;
  EFI_GRAPHICS_OUTPUT_PROTOCOL  *Found;

  if (EFI_ERROR (gBS->LocateHandleBuffer (ByProtocol, &gEfiGraphicsOutputProtocolGuid, NULL, &Count, &Handles))) {
    return NULL;
  }

  Found = NULL;
  for (Index = 0; Index < Count && Found == NULL; Index++) {
    if (EFI_ERROR (gBS->HandleProtocol (Handles[Index], &gEfiDevicePathProtocolGuid, &DevicePath)) ||
        !LeadsToDisplayController (DevicePath) ||
        EFI_ERROR (gBS->HandleProtocol (Handles[Index], &gEfiGraphicsOutputProtocolGuid, (VOID **)&Gop)) ||
        (Gop == NULL))
    {
      continue;
    }

    if (!LinearOnly ||
        ((Gop->Mode != NULL) && (Gop->Mode->Info != NULL) &&
         (Gop->Mode->Info->PixelFormat != PixelBltOnly) && (Gop->Mode->FrameBufferBase != 0)))
    {
      Found = Gop;
    }
  }

  FreePool (Handles);
  return Found;
}

/**
  Sets the GOP to a mode of Width x Height pixels whose lines are Width
  pixels long, unless it is in one already.
**/
STATIC
EFI_STATUS
SetFrameMode (
  IN EFI_GRAPHICS_OUTPUT_PROTOCOL  *Gop,
  IN UINT32                        Width,
  IN UINT32                        Height
  )
{
  EFI_GRAPHICS_OUTPUT_MODE_INFORMATION  *Info;
  UINTN                                 Size;
  UINT32                                Mode;
  BOOLEAN                               Fits;

  Info = Gop->Mode->Info;
  if ((Info->HorizontalResolution == Width) && (Info->VerticalResolution == Height) && (Info->PixelsPerScanLine == Width)) {
    return EFI_SUCCESS;
  }

  for (Mode = 0; Mode < Gop->Mode->MaxMode; Mode++) {
    if (EFI_ERROR (Gop->QueryMode (Gop, Mode, &Size, &Info))) {
      continue;
    }

    Fits = (Info->HorizontalResolution == Width) && (Info->VerticalResolution == Height) &&
           (Info->PixelsPerScanLine == Width);
    FreePool (Info);
    if (Fits) {
      return Gop->SetMode (Gop, Mode);
    }
  }

  return EFI_UNSUPPORTED;
}

STATIC
VOID
EFIAPI
OnGraphicsOutputInstalled (
  IN EFI_EVENT  Event,
  IN VOID       *Context
  )
{
  CONST EARLY_VIDEO_INFO        *Frame;
  EFI_GRAPHICS_OUTPUT_PROTOCOL  *Gop;
  EFI_STATUS                    Status;
  UINT64                        BankSwitches;

  Frame = EarlyFrame ();
  Gop   = FindGraphicsOutput (TRUE);
  if ((Frame == NULL) || (Gop == NULL)) {
    return;
  }

  gBS->CloseEvent (Event);
  TurnApertureOff ("Prelumen follows the GOP");
  //
  // The mode set and the picture are recorded in builds with performance
  // measurement (the hold that may follow is not part of it).
  //
  PERF_INMODULE_BEGIN ("PictureOnGop");
  Status = SetFrameMode (Gop, Frame->FrameWidth, Frame->FrameHeight);
  if (EFI_ERROR (Status)) {
    DEBUG ((
      DEBUG_WARN,
      "PlatformEarlyDisplayDxe: the GOP has no %u x %u mode (%r), nothing drawn through it\n",
      Frame->FrameWidth,
      Frame->FrameHeight,
      Status
      ));
    PERF_INMODULE_END ("PictureOnGop");
    return;
  }

  BankSwitches = mGraphicsDisplay.BankSwitches;
  Status       = DrawNameAndLogo (Frame);
  DEBUG ((
    DEBUG_INFO,
    "PlatformEarlyDisplayDxe: picture drawn again through the GOP, frame buffer 0x%lx, mode %u (%u x %u): %r, %u bank switches since the GOP\n",
    Gop->Mode->FrameBufferBase,
    Gop->Mode->Mode,
    Gop->Mode->Info->HorizontalResolution,
    Gop->Mode->Info->VerticalResolution,
    Status,
    (UINT32)(mGraphicsDisplay.BankSwitches - BankSwitches)
    ));
  ShowProgress (ProgressGraphicsOutput);
  PERF_INMODULE_END ("PictureOnGop");
  HoldPicture ("the picture drawn through the GOP");
}

EFI_STATUS
WatchForGraphicsOutput (
  VOID
  )
{
  EFI_STATUS  Status;
  EFI_EVENT   Event;

  Status = gBS->CreateEvent (EVT_NOTIFY_SIGNAL, TPL_CALLBACK, OnGraphicsOutputInstalled, NULL, &Event);
  if (EFI_ERROR (Status)) {
    return Status;
  }

  Status = gBS->RegisterProtocolNotify (&gEfiGraphicsOutputProtocolGuid, Event, &mGraphicsOutputRegistration);
  if (EFI_ERROR (Status)) {
    gBS->CloseEvent (Event);
  }

  return Status;
}
