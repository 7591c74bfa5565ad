/** @file
  The display controller as the firmware enumerated it, and what a platform
  does to it for the early video driver.

  The stand-in finds the controller 0x19E5:0x1711 among the PCI I/O handles
  of the firmware's PCI bus driver, with the bridge in front of it (the
  previous node of its device path), and turns the controller's fixed frame
  aperture on (configuration register 0x40 bit 0, with memory decoding).
  Right before the early video driver starts it routes legacy VGA to the
  controller (the bridge's VGA enable, asked for through the PCI I/O
  attributes and set directly where the bus driver refuses): the bank ports
  live there. It also programs channel B to show the display-information
  HOB's frame, since the controller shows nothing of its frame buffer until
  channel B is enabled. (Text mode runs on the reference platform, not
  here.)

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "PlatformStandIn.h"

extern "C" {
#include <IndustryStandard/Acpi.h>
#include <IndustryStandard/Pci.h>
#include <Library/DevicePathLib.h>
}

namespace {

constexpr UINT16 kVendorId = 0x19E5;
constexpr UINT16 kDeviceId = 0x1711;

constexpr UINT32 kApertureControl  = 0x40; ///< bit 0: the aperture decodes
constexpr UINT8  kApertureEnable   = 0x01;
constexpr UINT32 kBridgeControlVga = 0x08; ///< bridge control register (0x3E) bit 3

//
// Channel B: display control (format in bits 1:0, display enable in bit 8),
// pitch in bytes, active size (pixels - 1 in bits 10:0, lines - 1 in 26:16).
//
constexpr UINT64 kChannelBControl    = 0x80200;
constexpr UINT64 kChannelBPitch      = 0x80208;
constexpr UINT64 kChannelBActiveSize = 0x80284;
constexpr UINT32 kControl32BitShown  = 0x102;

constexpr UINT8 kRegisterBar    = 1;
constexpr UINT8 kFrameBufferBar = 0;

BOOLEAN
IsDisplayController (EFI_PCI_IO_PROTOCOL *PciIo)
{
  UINT16 Ids[2] = { 0, 0 };

  return !EFI_ERROR (PciIo->Pci.Read (PciIo, EfiPciIoWidthUint16, PCI_VENDOR_ID_OFFSET, 2, Ids)) &&
         (Ids[0] == kVendorId) && (Ids[1] == kDeviceId);
}

/// The PCI node right before the controller's own, when it is the first
/// PCI node of the path (a bridge on bus 0); NULL otherwise.
const PCI_DEVICE_PATH *
BridgeNode (EFI_DEVICE_PATH_PROTOCOL *Path)
{
  const PCI_DEVICE_PATH *Nodes[3] = { nullptr, nullptr, nullptr };
  UINTN                  Count    = 0;

  for (EFI_DEVICE_PATH_PROTOCOL *Node = Path; Node != nullptr && !IsDevicePathEnd (Node);
       Node                           = NextDevicePathNode (Node)) {
    if ((DevicePathType (Node) == HARDWARE_DEVICE_PATH) && (DevicePathSubType (Node) == HW_PCI_DP)) {
      if (Count == 3) {
        return nullptr;
      }

      Nodes[Count++] = reinterpret_cast<const PCI_DEVICE_PATH *> (Node);
    }
  }

  return (Count == 2) ? Nodes[0] : nullptr;
}

/// BAR 0 as the bus driver placed it.
VOID
ReadFrameBuffer (EFI_PCI_IO_PROTOCOL *PciIo)
{
  EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR *Bar = nullptr;

  if (EFI_ERROR (PciIo->GetBarAttributes (PciIo, kFrameBufferBar, nullptr, reinterpret_cast<VOID **> (&Bar))) || (Bar == nullptr)) {
    return;
  }

  if ((Bar->Desc == ACPI_ADDRESS_SPACE_DESCRIPTOR) && (Bar->ResType == ACPI_ADDRESS_SPACE_TYPE_MEM)) {
    mPlatform.FrameBufferBase = Bar->AddrRangeMin;
    mPlatform.FrameBufferSize = Bar->AddrLen;
  }

  FreePool (Bar);
}

EFI_STATUS
WriteRegister (UINT64 Offset, UINT32 Value)
{
  EFI_PCI_IO_PROTOCOL *PciIo = mPlatform.ControllerPciIo;

  return PciIo->Mem.Write (PciIo, EfiPciIoWidthUint32, kRegisterBar, Offset, 1, &Value);
}

/// Channel B shows the HOB's frame: 32-bit pixels, pitch = width x 4.
EFI_STATUS
ShowEarlyFrame (VOID)
{
  const UINT32 Width  = STAND_IN_FRAME_WIDTH;
  const UINT32 Height = STAND_IN_FRAME_HEIGHT;
  EFI_STATUS   Status = WriteRegister (kChannelBActiveSize, (Height - 1) << 16 | (Width - 1));

  if (!EFI_ERROR (Status)) {
    Status = WriteRegister (kChannelBPitch, Width * 4);
  }

  if (!EFI_ERROR (Status)) {
    Status = WriteRegister (kChannelBControl, kControl32BitShown);
  }

  mPlatform.EarlyFrameShown = !EFI_ERROR (Status);
  return Status;
}

/// The bridge's handle: the one whose path is the controller's without its
/// last node.
EFI_PCI_IO_PROTOCOL *
BridgePciIo (VOID)
{
  EFI_DEVICE_PATH_PROTOCOL *Path   = DuplicateDevicePath (DevicePathFromHandle (mPlatform.ControllerHandle));
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

/**
  Routes legacy VGA to the controller: VGA attributes on the controller,
  which a PCI bus driver passes up as the bridge's VGA enable. Where the bus
  driver refuses (OVMF's does, for the card behind a root port on q35), the
  bridge control register is set directly through the bridge's PCI I/O.
**/
EFI_STATUS
RouteLegacyVgaToController (VOID)
{
  EFI_PCI_IO_PROTOCOL *PciIo   = mPlatform.ControllerPciIo;
  const UINT64         Vga     = EFI_PCI_IO_ATTRIBUTE_VGA_IO | EFI_PCI_IO_ATTRIBUTE_VGA_MEMORY;
  EFI_STATUS           Status  = PciIo->Attributes (PciIo, EfiPciIoAttributeOperationEnable, Vga, nullptr);
  EFI_PCI_IO_PROTOCOL *Bridge  = BridgePciIo ();
  UINT16               Control = 0;

  if (Bridge == nullptr) {
    return EFI_ERROR (Status) ? Status : EFI_NOT_FOUND;
  }

  Bridge->Pci.Read (Bridge, EfiPciIoWidthUint16, PCI_BRIDGE_CONTROL_REGISTER_OFFSET, 1, &Control);
  if ((Control & kBridgeControlVga) == 0) {
    DEBUG ((DEBUG_WARN, "PlatformStandIn: VGA attributes %r; setting the bridge's VGA enable directly\n", Status));
    Control |= kBridgeControlVga;
    Bridge->Pci.Write (Bridge, EfiPciIoWidthUint16, PCI_BRIDGE_CONTROL_REGISTER_OFFSET, 1, &Control);
    Bridge->Pci.Read (Bridge, EfiPciIoWidthUint16, PCI_BRIDGE_CONTROL_REGISTER_OFFSET, 1, &Control);
  }

  mPlatform.VgaRouted = (Control & kBridgeControlVga) != 0;
  return mPlatform.VgaRouted ? EFI_SUCCESS : EFI_DEVICE_ERROR;
}

} // namespace

/**
  Finds the controller and the bridge in front of it; records BAR 0 and the
  location that the early video driver's tokens 1, 4 and 5 give.
  EFI_NOT_FOUND when the firmware enumerated no such controller,
  EFI_UNSUPPORTED when it does not sit right behind a bridge on bus 0.
**/
EFI_STATUS
FindDisplayController (VOID)
{
  UINTN       Count   = 0;
  EFI_HANDLE *Handles = nullptr;
  EFI_STATUS  Status  = gBS->LocateHandleBuffer (ByProtocol, &gEfiPciIoProtocolGuid, nullptr, &Count, &Handles);

  if (EFI_ERROR (Status)) {
    return EFI_NOT_FOUND;
  }

  for (UINTN Index = 0; Index < Count && mPlatform.ControllerHandle == nullptr; Index++) {
    EFI_PCI_IO_PROTOCOL *PciIo = nullptr;
    if (!EFI_ERROR (gBS->HandleProtocol (Handles[Index], &gEfiPciIoProtocolGuid, reinterpret_cast<VOID **> (&PciIo))) && IsDisplayController (PciIo)) {
      mPlatform.ControllerHandle = Handles[Index];
      mPlatform.ControllerPciIo  = PciIo;
    }
  }

  FreePool (Handles);
  if (mPlatform.ControllerHandle == nullptr) {
    return EFI_NOT_FOUND;
  }

  UINTN                  Segment, Bus, Device, Function;
  const PCI_DEVICE_PATH *Bridge = BridgeNode (DevicePathFromHandle (mPlatform.ControllerHandle));
  Status = mPlatform.ControllerPciIo->GetLocation (mPlatform.ControllerPciIo, &Segment, &Bus, &Device, &Function);
  if (EFI_ERROR (Status) || (Bridge == nullptr) || (Bus == 0) || (Bus > 0xFF)) {
    return EFI_UNSUPPORTED;
  }

  mPlatform.ControllerLocation = (UINT32)(Bus << 24 | (Device & 0x1F) << 16 | (Function & 0x7) << 8);
  mPlatform.BridgeDevice       = Bridge->Device;
  mPlatform.BridgeFunction     = Bridge->Function;
  ReadFrameBuffer (mPlatform.ControllerPciIo);
  return EFI_SUCCESS;
}

/// Memory and I/O decoding on, then the aperture enable; read back.
EFI_STATUS
TurnApertureOn (VOID)
{
  EFI_PCI_IO_PROTOCOL *PciIo  = mPlatform.ControllerPciIo;
  UINT8                Value  = 0;
  EFI_STATUS           Status = PciIo->Attributes (
              PciIo, EfiPciIoAttributeOperationEnable, EFI_PCI_IO_ATTRIBUTE_IO | EFI_PCI_IO_ATTRIBUTE_MEMORY, nullptr
            );

  if (!EFI_ERROR (Status)) {
    Status = PciIo->Pci.Read (PciIo, EfiPciIoWidthUint8, kApertureControl, 1, &Value);
  }

  if (!EFI_ERROR (Status)) {
    Value |= kApertureEnable;
    Status = PciIo->Pci.Write (PciIo, EfiPciIoWidthUint8, kApertureControl, 1, &Value);
  }

  if (!EFI_ERROR (Status)) {
    Value  = 0;
    Status = PciIo->Pci.Read (PciIo, EfiPciIoWidthUint8, kApertureControl, 1, &Value);
  }

  mPlatform.ApertureBase = EMULATED_APERTURE_BASE;
  mPlatform.ApertureOn   = !EFI_ERROR (Status) && (Value & kApertureEnable) != 0;
  return EFI_ERROR (Status) ? Status : (mPlatform.ApertureOn ? EFI_SUCCESS : EFI_DEVICE_ERROR);
}

extern "C" EFI_STATUS EFIAPI
PrepareEarlyVideo (IN EMULATED_PLATFORM_PROTOCOL *This)
{
  if (mPlatform.ControllerPciIo == nullptr) {
    return EFI_NOT_READY;
  }

  EFI_STATUS Status = RouteLegacyVgaToController ();
  if (!EFI_ERROR (Status)) {
    Status = ShowEarlyFrame ();
  }

  return Status;
}
