/** @file
  Host platform model: the PCI display controller (configuration space, BAR 1
  registers, BAR 0 frame buffer and the fixed aperture that shows it, PCI
  I/O).

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef HOST_MODEL_DISPLAY_CONTROLLER_H_
#define HOST_MODEL_DISPLAY_CONTROLLER_H_

#include "ModelCommon.h"
#include "FrameMemory.h"

/// BAR 1 register file of the display controller model (1 MiB).
#define HOST_MODEL_REGISTER_FILE_SIZE 0x100000ULL
static_assert (HOST_MODEL_REGISTER_FILE_SIZE == TAVRIX_REGISTER_FILE_SIZE, "the model's BAR 1 is the core's");

/// One BAR 1 register access through PCI I/O.
struct REGISTER_ACCESS {
  UINT64  Sequence;
  UINT64  Offset;
  UINT32  Value; ///< value written, or value the read returned
  BOOLEAN IsWrite;
  EFI_TPL Tpl; ///< task priority level during the access
};

/// One BAR 0 frame-buffer call through PCI I/O (the data is in the buffer).
struct FRAME_ACCESS {
  UINT64                    Sequence;
  EFI_PCI_IO_PROTOCOL_WIDTH Width;
  UINT64                    Offset;
  UINTN                     Count;
  BOOLEAN                   IsWrite;
  EFI_TPL                   Tpl;
};

/// One call of the controller's Attributes member.
struct ATTRIBUTE_CALL {
  UINT64                                  Sequence;
  EFI_PCI_IO_PROTOCOL_ATTRIBUTE_OPERATION Operation;
  UINT64                                  Attributes;
  EFI_STATUS                              Status;
};

enum PCI_IO_CALL_KIND {
  PciIoMemRead,
  PciIoMemWrite,
  PciIoIoRead,
  PciIoIoWrite,
  PciIoPciRead,
  PciIoPciWrite,
  PciIoAttributes,
  PciIoGetBarAttributes,
  PciIoCallKinds
};

/// The PCI display controller: configuration space, BAR 1 register file,
/// BAR 0 frame buffer and the EFI_PCI_IO_PROTOCOL instance over them. The
/// same configuration space answers configuration cycles on ports
/// 0xCF8/0xCFC (behind the bridge, see PORT_IO_MODEL).
class DISPLAY_CONTROLLER {
public:
  DISPLAY_CONTROLLER ();
  ~DISPLAY_CONTROLLER ();

  /// Makes a handle carrying PCI I/O and a device path
  /// PciRoot(0)/Pci(0x1C,0)/Pci(0,0) and returns it (once; later calls
  /// return the same handle).
  EFI_HANDLE
  Publish ();

  EFI_HANDLE
  Handle () const
  {
    return mHandle;
  }

  EFI_PCI_IO_PROTOCOL *PciIo ();

  EFI_DEVICE_PATH_PROTOCOL *DevicePath ();

  // Configuration space (256 bytes); vendor 0x19E5, device 0x1711,
  // class 0x030000 by default.
  void SetIds (UINT16 VendorId, UINT16 DeviceId);

  UINT32
  Config32 (UINT16 Register) const;

  /// The raw bytes. A writer other than PCI I/O (the port model) calls
  /// ConfigWritten afterwards so that the device sees the write.
  UINT8 *
  ConfigSpace ()
  {
    return mConfig;
  }

  /// The device's side of a configuration write: the aperture control
  /// register (0x40) keeps only bit 0, and the aperture opens or closes.
  void ConfigWritten ();

  /// Whether the fixed aperture decodes: bit 0 of register 0x40 and memory
  /// decoding (command register bit 1) both on. Until it does, any access
  /// through FIXED_WINDOWS::Aperture () faults. Power-on state: off.
  BOOLEAN
  ApertureDecodes () const;

  /// What the platform's early video set-up does before any driver runs:
  /// memory decoding and the aperture on, written straight into
  /// configuration space (no PCI I/O call, no logged cycle).
  void TurnApertureOn ();

  // Attributes: supported IO | MEMORY | BUS_MASTER | VGA_IO |
  // VGA_IO_16 | VGA_MEMORY; current value starts at 0. Setting them through
  // PCI I/O sets the command register's I/O, memory and bus-master bits to
  // match, as the PCI bus driver does; SetAttributes touches only the value.
  UINT64
  Attributes () const
  {
    return mAttributes;
  }

  void
  SetAttributes (UINT64 Attributes)
  {
    mAttributes = Attributes;
  }

  const std::vector<ATTRIBUTE_CALL> &
  AttributeCalls () const
  {
    return mAttributeCalls;
  }

  /// Every Attributes call with this operation answers Status.
  void FailAttributeOperation (EFI_PCI_IO_PROTOCOL_ATTRIBUTE_OPERATION Operation, EFI_STATUS Status);

  // BAR 1 register file: 32-bit registers, initially 0, kept by the
  // controller's portable core (DeviceModel/DisplayCore), which also
  // holds the extended VGA registers that the port model hands it.
  UINT32
  Register (UINT64 Offset) const;

  TAVRIX_DISPLAY_CORE &
  Core ()
  {
    return *mCore;
  }

  /// Sets a register without logging (the hardware's own state).
  void SetRegister (UINT64 Offset, UINT32 Value);

  /// A read of Offset returns Hook (stored value) instead of the stored value.
  void OnRegisterRead (UINT64 Offset, std::function<UINT32 (UINT32 Stored)> Hook);

  const std::vector<REGISTER_ACCESS> &
  RegisterLog () const
  {
    return mRegisterLog;
  }

  /// The values written to one register, in order.
  std::vector<UINT32> RegisterWrites (UINT64 Offset) const;

  // BAR 0 frame buffer, the same memory as the aperture (FRAME_MEMORY).
  UINT8 *
  FrameBuffer () const
  {
    return mFrame.Bar ();
  }

  UINT32
  Pixel (UINTN ByteOffset) const;

  const std::vector<FRAME_ACCESS> &
  FrameLog () const
  {
    return mFrameLog;
  }

  void ClearLogs ();

  /// The Nth call of Kind from now (1 = the next) answers Status.
  void FailCall (PCI_IO_CALL_KIND Kind, UINTN Nth, EFI_STATUS Status = EFI_DEVICE_ERROR);

  /// Tag and resource type of the first descriptor that GetBarAttributes
  /// returns (by default a QWORD memory range: 0x8A, type 0).
  void
  SetBarDescriptorType (UINT8 Descriptor, UINT8 ResourceType)
  {
    mBarDescriptor   = Descriptor;
    mBarResourceType = ResourceType;
  }

  /// Calls made so far, per kind.
  UINTN
  CallCount (PCI_IO_CALL_KIND Kind) const
  {
    return mCalls[Kind];
  }

  struct PRIVATE;

private:
  friend struct PRIVATE;

  EFI_STATUS
  Memory (BOOLEAN IsWrite, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT8 BarIndex, UINT64 Offset, UINTN Count, VOID *Buffer);

  EFI_STATUS
  ApplyAttributes (EFI_PCI_IO_PROTOCOL_ATTRIBUTE_OPERATION Operation, UINT64 Attributes, UINT64 *Result);

  void CommandFromAttributes ();

  PRIVATE                                         *mPrivate;
  EFI_HANDLE                                       mHandle = nullptr;
  UINT8                                            mConfig[256];
  UINT64                                           mAttributes = 0;
  UINT64                                           mSupported;
  std::vector<ATTRIBUTE_CALL>                      mAttributeCalls;
  std::map<UINT32, EFI_STATUS>                     mAttributeFaults;
  TAVRIX_DISPLAY_CORE                             *mCore;
  std::map<UINT64, std::function<UINT32 (UINT32)>> mReadHooks;
  std::vector<REGISTER_ACCESS>                     mRegisterLog;
  FRAME_MEMORY                                     mFrame;
  std::vector<FRAME_ACCESS>                        mFrameLog;
  UINTN                                            mCalls[PciIoCallKinds]      = {};
  UINTN                                            mFailAt[PciIoCallKinds]     = {};
  EFI_STATUS                                       mFailStatus[PciIoCallKinds] = {};

  UINT8 mBarDescriptor   = 0x8A; // ACPI_ADDRESS_SPACE_DESCRIPTOR
  UINT8 mBarResourceType = 0;    // ACPI_ADDRESS_SPACE_TYPE_MEM
};

#endif
