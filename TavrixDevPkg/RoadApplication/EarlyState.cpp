/** @file
  The controller back in its early state, for a second early video driver.

  At the shell the platform's Prelumen has long followed the GOP, and the
  aperture is off. To walk the early part of the road again the road takes
  the controller back to the state the platform's PEI left it in before
  enumeration, now on the enumerated controller: TavrixGopDxe stopped (no
  GOP exists), I/O and memory decoding on, legacy VGA routed through the
  bridge (the bank ports live there), the aperture on, and channel B showing
  the display-information HOB's 800 x 600 frame, cleared, from BAR 0
  offset 0. A Prelumen the road then starts has seen no GOP, and sees the
  one that TavrixGopDxe installs when the road connects it again.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "RoadCheck.h"

extern "C" {
#include <IndustryStandard/Pci.h>
#include <Library/DevicePathLib.h>
#include <TavrixDisplayCore.h>
}

namespace {

constexpr UINT8  kFrameBufferBar    = 0;
constexpr UINT8  kRegisterBar       = 1;
constexpr UINT16 kBridgeControlVga  = 0x08; ///< bridge control register bit 3
constexpr UINT32 kControl32BitShown = TavrixPixelFormat32 | TAVRIX_B_CONTROL_DISPLAY_ENABLE;
constexpr UINT32 kEarlyFrameWidth   = 800;
constexpr UINT32 kEarlyFrameHeight  = 600;

EFI_PCI_IO_PROTOCOL *
ControllerPciIo (ROAD &Road)
{
  EFI_PCI_IO_PROTOCOL *PciIo = nullptr;

  gBS->HandleProtocol (Road.ControllerHandle, &gEfiPciIoProtocolGuid, reinterpret_cast<VOID **> (&PciIo));
  return PciIo;
}

/// The bridge's PCI I/O: the handle whose path is the controller's without
/// its last node.
EFI_PCI_IO_PROTOCOL *
BridgePciIo (ROAD &Road)
{
  EFI_DEVICE_PATH_PROTOCOL *Path   = DuplicateDevicePath (DevicePathFromHandle (Road.ControllerHandle));
  EFI_PCI_IO_PROTOCOL      *Bridge = nullptr;

  if (Path == nullptr) {
    return nullptr;
  }

  EFI_DEVICE_PATH_PROTOCOL *Last = Path;
  for (EFI_DEVICE_PATH_PROTOCOL *Node = Path; !IsDevicePathEnd (Node); Node = NextDevicePathNode (Node)) {
    Last = Node;
  }

  SetDevicePathEndNode (Last);
  EFI_DEVICE_PATH_PROTOCOL *Remaining = Path;
  EFI_HANDLE                Handle    = nullptr;
  if (!EFI_ERROR (gBS->LocateDevicePath (&gEfiPciIoProtocolGuid, &Remaining, &Handle)) && IsDevicePathEnd (Remaining)) {
    gBS->HandleProtocol (Handle, &gEfiPciIoProtocolGuid, reinterpret_cast<VOID **> (&Bridge));
  }

  FreePool (Path);
  return Bridge;
}

/// Sets Bits in a configuration register through PCI I/O; TRUE when they
/// read back set.
BOOLEAN
SetConfigBits (EFI_PCI_IO_PROTOCOL *PciIo, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT32 Offset, UINT16 Bits)
{
  UINT16 Value = 0;

  PciIo->Pci.Read (PciIo, Width, Offset, 1, &Value);
  Value |= Bits;
  PciIo->Pci.Write (PciIo, Width, Offset, 1, &Value);
  Value = 0;
  PciIo->Pci.Read (PciIo, Width, Offset, 1, &Value);
  return (Value & Bits) == Bits;
}

/// The bridge's VGA enable, set directly: OVMF's PCI bus driver refuses
/// the VGA attributes for a card behind a root port.
BOOLEAN
RouteLegacyVga (ROAD &Road)
{
  EFI_PCI_IO_PROTOCOL *Bridge = BridgePciIo (Road);

  return (Bridge != nullptr) &&
         SetConfigBits (Bridge, EfiPciIoWidthUint16, PCI_BRIDGE_CONTROL_REGISTER_OFFSET, kBridgeControlVga);
}

/// Decoding on, then the aperture enable, read back.
BOOLEAN
TurnApertureOn (EFI_PCI_IO_PROTOCOL *PciIo)
{
  return !EFI_ERROR (PciIo->Attributes (
           PciIo, EfiPciIoAttributeOperationEnable, EFI_PCI_IO_ATTRIBUTE_IO | EFI_PCI_IO_ATTRIBUTE_MEMORY, nullptr
         )) &&
         SetConfigBits (PciIo, EfiPciIoWidthUint8, TAVRIX_CONFIG_APERTURE_CONTROL, TAVRIX_APERTURE_ENABLE);
}

/// Channel B shows the early frame, cleared: 32-bit pixels, pitch = width x 4.
BOOLEAN
ShowEarlyFrame (EFI_PCI_IO_PROTOCOL *PciIo)
{
  UINT32 Black = 0;

  // The console's last screen is still in BAR 0; an early frame starts blank.
  if (EFI_ERROR (PciIo->Mem.Write (
        PciIo, EfiPciIoWidthFillUint32, kFrameBufferBar, 0, kEarlyFrameWidth * kEarlyFrameHeight, &Black
      ))) {
    return FALSE;
  }

  const UINT64 Offsets[] = { TAVRIX_REG_B_ACTIVE_SIZE, TAVRIX_REG_B_PITCH, TAVRIX_REG_B_DISPLAY_CONTROL };
  UINT32       Values[]  = { (kEarlyFrameHeight - 1) << 16 | (kEarlyFrameWidth - 1), kEarlyFrameWidth * 4,
                             kControl32BitShown };

  for (UINTN Index = 0; Index < ARRAY_SIZE (Offsets); Index++) {
    if (EFI_ERROR (PciIo->Mem.Write (PciIo, EfiPciIoWidthUint32, kRegisterBar, Offsets[Index], 1, &Values[Index]))) {
      return FALSE;
    }
  }

  return TRUE;
}

} // namespace

/**
  Stops TavrixGopDxe on the controller and puts the controller in its early
  state. FALSE when that failed: the early part of the road cannot run.
**/
BOOLEAN
RestoreEarlyState (IN ROAD &Road)
{
  EFI_STATUS Status = gBS->DisconnectController (Road.ControllerHandle, nullptr, nullptr);
  VOID      *Gop    = nullptr;

  gBS->HandleProtocol (Road.ControllerHandle, &gEfiGraphicsOutputProtocolGuid, &Gop);
  Check (
    "DisconnectController stops TavrixGopDxe: no GOP on the controller any more", !EFI_ERROR (Status) && Gop == nullptr,
    "%r, GOP %p", Status, Gop
  );

  Road.BankSwitchesBefore = Road.Graphics->BankSwitches;

  EFI_PCI_IO_PROTOCOL *PciIo    = ControllerPciIo (Road);
  const BOOLEAN        Routed   = RouteLegacyVga (Road);
  const BOOLEAN        Aperture = (PciIo != nullptr) && TurnApertureOn (PciIo);
  const BOOLEAN        Shown    = (PciIo != nullptr) && ShowEarlyFrame (PciIo);
  return Check (
    "the controller back in its early state: legacy VGA routed, aperture on, channel B showing the 800 x 600 frame",
    Gop == nullptr && Routed && Aperture && Shown, "VGA routed %d, aperture %d, frame shown %d", Routed, Aperture, Shown
  );
}
