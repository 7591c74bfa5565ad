/** @file
  Prelumen: image entry point, callback registration, the GOP-arrival
  notification and the module state.

  The entry hands the display protocol of the configured mode a table of
  callbacks, in graphics mode watches for GOP installations, and allocates
  the shadow buffer that the graphics callbacks blend against. The image
  stays resident and frees nothing once started.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "Prelumen.h"

extern "C" {
#include <IndustryStandard/Pci.h>
#include <Protocol/DevicePath.h>
#include <Protocol/PciIo.h>
#include <Library/BaseMemoryLib.h>
#include <Library/DebugLib.h>
#include <Library/PcdLib.h>
#include <Library/UefiBootServicesTableLib.h>
}

//
// Display controllers the driver knows, ended by a vendor ID of 0xFFFF.
// Writable module data like the callback tables, so that the host tests can
// take the served controller's row out.
//
EARLY_VIDEO_DEVICE mSupportedDevices[] = {
  { 0x1A03, 0x2000 },
  { 0x102B, 0x0522 },
  { 0x102B, 0x0534 },
  { 0x102B, 0x0536 },
  { TAVRIX_PCI_VENDOR_ID, TAVRIX_PCI_DEVICE_ID },
  { 0x8086, 0x1927 },
  { EARLY_VIDEO_DEVICE_END, EARLY_VIDEO_DEVICE_END },
};

EARLY_GRAPHICS_CALLBACKS      mGraphicsCallbacks;
EARLY_TEXT_CALLBACKS          mTextCallbacks;
BOOLEAN                       mGopFound;
EFI_GRAPHICS_OUTPUT_PROTOCOL *mGraphicsOutput;
EFI_HANDLE                    mGraphicsOutputHandle;
UINT8                        *mShadowBuffer;
UINT32                        mShadowBufferSize;
BOOLEAN                       mDrawingDisabled;

namespace {

BOOLEAN
IsGraphicsMode (VOID)
{
  return LibPcdGetExBool (&gEarlyVideoTokenSpaceGuid, TokenGraphicsMode);
}

/**
  Tells whether the supported-device table has a row for the controller this
  build serves. The controller itself is not read: its identity is fixed.
**/
BOOLEAN
IsServedControllerSupported (VOID)
{
  for (const EARLY_VIDEO_DEVICE *Row = mSupportedDevices; Row->VendorId != EARLY_VIDEO_DEVICE_END; Row++) {
    if ((Row->VendorId == EARLY_VIDEO_VENDOR_ID) && (Row->DeviceId == EARLY_VIDEO_DEVICE_ID)) {
      return TRUE;
    }
  }

  return FALSE;
}

/**
  Asks to be told of every GOP installation. Without the event drawing stays
  on the fixed aperture for good, which still works, so a failure only costs
  the switch to the GOP's frame buffer.
**/
VOID
WatchForGraphicsOutput (VOID)
{
  EFI_EVENT  Event;
  VOID      *Registration;
  EFI_STATUS Status;

  Status = gBS->CreateEvent (EVT_NOTIFY_SIGNAL, TPL_NOTIFY, OnGraphicsOutputInstalled, nullptr, &Event);
  if (EFI_ERROR (Status)) {
    DEBUG ((DEBUG_WARN, "Prelumen: no GOP notification, drawing stays on the aperture: %r\n", Status));
    return;
  }

  gBS->RegisterProtocolNotify (&gEfiGraphicsOutputProtocolGuid, Event, &Registration);
}

/**
  Fills the callback table of the configured mode and hands it, by value, to
  the located display protocol. The protocol's answer is not examined: there
  is nothing the driver could do differently.
**/
VOID
RegisterWithDisplay (IN VOID *Display)
{
  if (IsGraphicsMode ()) {
    WatchForGraphicsOutput ();
    mGraphicsCallbacks.DrawString    = DrawString;
    mGraphicsCallbacks.DrawImage     = DrawImage;
    mGraphicsCallbacks.SetBank       = SetBank;
    mGraphicsCallbacks.EnableDrawing = EnableDrawing;

    auto *Graphics = static_cast<EARLY_GRAPHICS_DISPLAY_PROTOCOL *> (Display);
    Graphics->RegisterCallbacks (Graphics, mGraphicsCallbacks, 0);
  } else {
    mTextCallbacks.PrintString = PrintString;

    auto *Text = static_cast<EARLY_TEXT_DISPLAY_PROTOCOL *> (Display);
    Text->RegisterCallbacks (Text, mTextCallbacks, 0);
  }
}

/**
  Allocates and clears the shadow buffer: one 32-bit pixel for each of
  token 8 x token 7 pixels, the byte size computed in 32 bits. A size of 0
  or a failed allocation leaves mShadowBuffer NULL; drawing copes with that.
**/
VOID
AllocateShadowBuffer (VOID)
{
  const UINT32 Width  = LibPcdGetEx32 (&gEarlyVideoTokenSpaceGuid, TokenShadowWidth);
  const UINT32 Height = LibPcdGetEx32 (&gEarlyVideoTokenSpaceGuid, TokenShadowHeight);
  const UINT32 Size   = Width * Height * 4;

  if (Size == 0) {
    return;
  }

  EFI_PHYSICAL_ADDRESS Address;
  EFI_STATUS Status = gBS->AllocatePages (AllocateAnyPages, EfiBootServicesData, EFI_SIZE_TO_PAGES (Size), &Address);
  if (EFI_ERROR (Status)) {
    DEBUG ((DEBUG_WARN, "Prelumen: no shadow buffer of %u bytes: %r\n", Size, Status));
    return;
  }

  mShadowBuffer     = reinterpret_cast<UINT8 *> (static_cast<UINTN> (Address));
  mShadowBufferSize = Size;
  ZeroMem (mShadowBuffer, Size);
}

} // namespace

extern "C" EFI_STATUS EFIAPI
EarlyVideoEntryPoint (IN EFI_HANDLE ImageHandle, IN EFI_SYSTEM_TABLE *SystemTable)
{
  const BOOLEAN GraphicsMode = IsGraphicsMode ();
  VOID         *Display      = nullptr;

  //
  // Without the display protocol of the configured mode there is nobody to
  // hand the callbacks to: return the locate status and stay out of memory.
  //
  EFI_STATUS Status = gBS->LocateProtocol (
    GraphicsMode ? &gEarlyGraphicsDisplayProtocolGuid : &gEarlyTextDisplayProtocolGuid, nullptr, &Display
  );
  if (EFI_ERROR (Status)) {
    DEBUG ((DEBUG_WARN, "Prelumen: no %a display protocol: %r\n", GraphicsMode ? "graphics" : "text", Status));
    return Status;
  }

  if (IsServedControllerSupported ()) {
    RegisterWithDisplay (Display);
  } else {
    DEBUG (
      (DEBUG_WARN, "Prelumen: controller %04x:%04x not supported, nothing registered\n", EARLY_VIDEO_VENDOR_ID,
       EARLY_VIDEO_DEVICE_ID)
    );
  }

  AllocateShadowBuffer ();
  return EFI_SUCCESS;
}

BOOLEAN
IsLinearFrameBuffer (IN CONST EFI_GRAPHICS_OUTPUT_PROTOCOL *GraphicsOutput)
{
  if (GraphicsOutput == nullptr) {
    return FALSE;
  }

  const EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE *Mode = GraphicsOutput->Mode;

  return (Mode != nullptr) && (Mode->Info != nullptr) && (Mode->Info->PixelFormat != PixelBltOnly) &&
         (Mode->FrameBufferBase != 0);
}

namespace {

/**
  Tells whether a device path leads to the controller this driver draws
  for: the nearest handle on the path with PCI I/O is a PCI function with
  the served controller's IDs. A GOP of another display (a second card, a
  board's own VGA) has a device path too, but its frame buffer is not the
  one the aperture showed: following it would move the picture to that
  display and leave ours with a stale early frame.
**/
BOOLEAN
LeadsToServedController (IN EFI_DEVICE_PATH_PROTOCOL *DevicePath)
{
  EFI_HANDLE           PciHandle;
  EFI_PCI_IO_PROTOCOL *PciIo;
  UINT16               Ids[2];

  if (EFI_ERROR (gBS->LocateDevicePath (&gEfiPciIoProtocolGuid, &DevicePath, &PciHandle)) ||
      EFI_ERROR (gBS->HandleProtocol (PciHandle, &gEfiPciIoProtocolGuid, reinterpret_cast<VOID **> (&PciIo))) ||
      (PciIo == nullptr) || EFI_ERROR (PciIo->Pci.Read (PciIo, EfiPciIoWidthUint16, PCI_VENDOR_ID_OFFSET, 2, Ids))) {
    return FALSE;
  }

  return (Ids[0] == EARLY_VIDEO_VENDOR_ID) && (Ids[1] == EARLY_VIDEO_DEVICE_ID);
}

} // namespace

/**
  Takes the first GOP whose handle also carries a device path (the display
  controller's handle does; a console splitter's does not) that leads to the
  served controller, and whose current mode has a linear frame buffer: a
  Blt-only GOP, one whose buffer is at address 0, or the GOP GUID installed
  with a NULL interface gives nothing to store pixels into, so drawing stays
  on the aperture. Once one is taken the event is closed: later GOPs on other
  handles do not move the drawing again. The handle is kept so that drawing
  can look the GOP up there afresh: its driver may be stopped or reconnected
  later. A scan that takes none leaves the event open for the next
  installation, which scans every GOP handle again.
**/
extern "C" VOID EFIAPI
OnGraphicsOutputInstalled (IN EFI_EVENT Event, IN VOID *Context)
{
  UINTN       HandleCount;
  EFI_HANDLE *Handles;
  EFI_STATUS  Status;

  Status = gBS->LocateHandleBuffer (ByProtocol, &gEfiGraphicsOutputProtocolGuid, nullptr, &HandleCount, &Handles);
  if (EFI_ERROR (Status)) {
    return;
  }

  for (UINTN Index = 0; Index < HandleCount; Index++) {
    VOID *DevicePath;

    Status = gBS->HandleProtocol (Handles[Index], &gEfiDevicePathProtocolGuid, &DevicePath);
    if (EFI_ERROR (Status) || !LeadsToServedController (static_cast<EFI_DEVICE_PATH_PROTOCOL *> (DevicePath))) {
      continue;
    }

    if (EFI_ERROR (gBS->HandleProtocol (
          Handles[Index], &gEfiGraphicsOutputProtocolGuid, reinterpret_cast<VOID **> (&mGraphicsOutput)
        ))) {
      continue;
    }

    if (!IsLinearFrameBuffer (mGraphicsOutput)) {
      continue;
    }

    //
    // mGraphicsOutput and its handle are set first: a drawing call that sees
    // the flag set finds both.
    //
    mGraphicsOutputHandle = Handles[Index];
    mGopFound             = TRUE;
    gBS->CloseEvent (Event);
    break;
  }

  //
  // A GOP that was looked at but skipped is not kept.
  //
  if (!mGopFound) {
    mGraphicsOutput = nullptr;
  }

  gBS->FreePool (Handles);
}
