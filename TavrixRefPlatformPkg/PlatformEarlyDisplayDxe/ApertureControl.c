/** @file
  The display controller after enumeration: the fixed frame aperture off
  once nothing needs it, and the early frame handed back when no GOP takes
  it over.

  The PEIM turns the controller's aperture (the whole frame buffer at
  0x92000000, bit 0 of its configuration register 0x40) on so that Prelumen
  can draw before any GOP exists. Once Prelumen follows the display
  driver's GOP nothing draws there any more, and an operating system knows
  nothing of the aperture: it is turned off when the platform takes that GOP
  (GopArrival.c) and, at the latest, when boot services end.

  When the boot manager is about to boot and the controller has no GOP at
  all (its driver's option ROM was refused under Secure Boot, or the driver
  failed), nothing will ever take the early frame over: the aperture goes
  off and channel B's display with it, so that the card shows its VGA screen
  again, as a card without a driver does, instead of the boot's picture
  frozen into the operating system.

  The PCI bus driver may give the controller another bus than the one it had
  in PEI, so it is found again through its PCI I/O protocol, as soon as the
  PCI bus driver installs that. Its handle is kept, not the interface: the
  interface goes away if the bus is disconnected.

  An ExitBootServices notification may allocate no memory (that changes the
  memory map the loader holds): this one only looks the handle up and writes
  one configuration byte through PCI I/O.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "PlatformEarlyDisplayDxe.h"

#include <Guid/EventGroup.h>
#include <IndustryStandard/Pci.h>
#include <Library/DebugLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Protocol/DevicePath.h>
#include <Protocol/PciIo.h>

#include <IndustryStandard/TavrixDisplayController.h>

#define CONTROLLER_IDS  (TAVRIX_PCI_DEVICE_ID << 16 | TAVRIX_PCI_VENDOR_ID)

STATIC EFI_HANDLE  mController;
STATIC VOID        *mPciIoRegistration;
STATIC EFI_EVENT   mPciIoEvent;
STATIC EFI_EVENT   mExitBootServicesEvent;
STATIC EFI_EVENT   mReadyToBootEvent;

BOOLEAN
IsDisplayController (
  IN EFI_PCI_IO_PROTOCOL  *PciIo
  )
{
  UINT32  Ids;

  return (PciIo != NULL) && !EFI_ERROR (PciIo->Pci.Read (PciIo, EfiPciIoWidthUint32, PCI_VENDOR_ID_OFFSET, 1, &Ids)) &&
         (Ids == CONTROLLER_IDS);
}

BOOLEAN
LeadsToDisplayController (
  IN EFI_DEVICE_PATH_PROTOCOL  *DevicePath
  )
{
  EFI_HANDLE           Handle;
  EFI_PCI_IO_PROTOCOL  *PciIo;

  return !EFI_ERROR (gBS->LocateDevicePath (&gEfiPciIoProtocolGuid, &DevicePath, &Handle)) &&
         !EFI_ERROR (gBS->HandleProtocol (Handle, &gEfiPciIoProtocolGuid, (VOID **)&PciIo)) &&
         IsDisplayController (PciIo);
}

/**
  Takes the handle of the first new PCI I/O instance that is the display
  controller; the watch ends with it.
**/
STATIC
VOID
EFIAPI
OnPciIoInstalled (
  IN EFI_EVENT  Event,
  IN VOID       *Context
  )
{
  EFI_HANDLE           Handle;
  UINTN                Size;
  EFI_PCI_IO_PROTOCOL  *PciIo;
  UINTN                Segment;
  UINTN                Bus;
  UINTN                Device;
  UINTN                Function;

  while (mController == NULL) {
    Size = sizeof (Handle);
    if (EFI_ERROR (gBS->LocateHandle (ByRegisterNotify, NULL, mPciIoRegistration, &Size, &Handle))) {
      return;
    }

    if (EFI_ERROR (gBS->HandleProtocol (Handle, &gEfiPciIoProtocolGuid, (VOID **)&PciIo)) || !IsDisplayController (PciIo)) {
      continue;
    }

    mController = Handle;
    if (!EFI_ERROR (PciIo->GetLocation (PciIo, &Segment, &Bus, &Device, &Function))) {
      DEBUG ((
        DEBUG_INFO,
        "PlatformEarlyDisplayDxe: display controller enumerated at %x:%02x:%02x.%x\n",
        (UINT32)Segment,
        (UINT32)Bus,
        (UINT32)Device,
        (UINT32)Function
        ));
    }
  }

  gBS->CloseEvent (Event);
  mPciIoEvent = NULL;
}

VOID
TurnApertureOff (
  IN CONST CHAR8  *Reason
  )
{
  EFI_PCI_IO_PROTOCOL  *PciIo;
  UINT8                Control;

  if ((mController == NULL) ||
      EFI_ERROR (gBS->HandleProtocol (mController, &gEfiPciIoProtocolGuid, (VOID **)&PciIo)) || (PciIo == NULL) ||
      EFI_ERROR (PciIo->Pci.Read (PciIo, EfiPciIoWidthUint8, TAVRIX_CONFIG_APERTURE_CONTROL, 1, &Control)) ||
      ((Control & TAVRIX_APERTURE_ENABLE) == 0))
  {
    return;
  }

  Control &= (UINT8) ~TAVRIX_APERTURE_ENABLE;
  PciIo->Pci.Write (PciIo, EfiPciIoWidthUint8, TAVRIX_CONFIG_APERTURE_CONTROL, 1, &Control);
  DEBUG ((DEBUG_INFO, "PlatformEarlyDisplayDxe: frame aperture turned off: %a\n", Reason));
}

/**
  Turns channel B's display off through the controller's BAR 1, with memory
  decoding on for the write only.
**/
STATIC
VOID
TurnDisplayOff (
  IN EFI_PCI_IO_PROTOCOL  *PciIo
  )
{
  UINT64      Attributes;
  UINT32      Off;
  EFI_STATUS  Status;

  Status = PciIo->Attributes (PciIo, EfiPciIoAttributeOperationGet, 0, &Attributes);
  if (!EFI_ERROR (Status)) {
    Status = PciIo->Attributes (PciIo, EfiPciIoAttributeOperationEnable, EFI_PCI_IO_ATTRIBUTE_MEMORY, NULL);
  }

  if (!EFI_ERROR (Status)) {
    Off    = 0;
    Status = PciIo->Mem.Write (PciIo, EfiPciIoWidthUint32, TAVRIX_REGISTER_BAR, TAVRIX_REG_B_DISPLAY_CONTROL, 1, &Off);
    PciIo->Attributes (PciIo, EfiPciIoAttributeOperationSet, Attributes, NULL);
  }

  DEBUG ((
    EFI_ERROR (Status) ? DEBUG_WARN : DEBUG_INFO,
    "PlatformEarlyDisplayDxe: no GOP took the early frame over: the card's display handed back to VGA: %r\n",
    Status
    ));
}

/**
  Just before the boot manager boots: an early frame that the controller
  shows with no GOP on it is handed back (the aperture off, channel B off).
**/
STATIC
VOID
EFIAPI
OnReadyToBoot (
  IN EFI_EVENT  Event,
  IN VOID       *Context
  )
{
  EFI_PCI_IO_PROTOCOL  *PciIo;

  if ((mController == NULL) || (EarlyFrame () == NULL) || (mGraphicsDisplay.Registrations == 0) ||
      (FindGraphicsOutput (FALSE) != NULL) ||
      EFI_ERROR (gBS->HandleProtocol (mController, &gEfiPciIoProtocolGuid, (VOID **)&PciIo)))
  {
    return;
  }

  gBS->CloseEvent (Event);
  mReadyToBootEvent = NULL;
  TurnApertureOff ("no GOP of the display controller when the boot manager boots");
  TurnDisplayOff (PciIo);
}

STATIC
VOID
EFIAPI
OnExitBootServices (
  IN EFI_EVENT  Event,
  IN VOID       *Context
  )
{
  TurnApertureOff ("boot services end");
}

/**
  Watches for the display controller's PCI I/O, hands an early frame that
  no GOP took over back when the boot manager boots, and turns the aperture
  off when boot services end.
**/
EFI_STATUS
WatchForDisplayController (
  VOID
  )
{
  EFI_STATUS  Status;

  mController = NULL;
  Status      = gBS->CreateEvent (EVT_NOTIFY_SIGNAL, TPL_CALLBACK, OnPciIoInstalled, NULL, &mPciIoEvent);
  if (EFI_ERROR (Status)) {
    return Status;
  }

  Status = gBS->RegisterProtocolNotify (&gEfiPciIoProtocolGuid, mPciIoEvent, &mPciIoRegistration);
  if (!EFI_ERROR (Status)) {
    Status = gBS->CreateEventEx (
                    EVT_NOTIFY_SIGNAL,
                    TPL_CALLBACK,
                    OnExitBootServices,
                    NULL,
                    &gEfiEventExitBootServicesGuid,
                    &mExitBootServicesEvent
                    );
  }

  if (!EFI_ERROR (Status)) {
    Status = gBS->CreateEventEx (
                    EVT_NOTIFY_SIGNAL,
                    TPL_CALLBACK,
                    OnReadyToBoot,
                    NULL,
                    &gEfiEventReadyToBootGuid,
                    &mReadyToBootEvent
                    );
    if (EFI_ERROR (Status)) {
      gBS->CloseEvent (mExitBootServicesEvent);
      mExitBootServicesEvent = NULL;
    }
  }

  if (EFI_ERROR (Status)) {
    gBS->CloseEvent (mPciIoEvent);
    mPciIoEvent = NULL;
  }

  return Status;
}
