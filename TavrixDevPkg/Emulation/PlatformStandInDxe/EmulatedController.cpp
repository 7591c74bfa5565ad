/** @file
  The emulated display controller: a handle with a PCI-style device path and
  a software PCI I/O protocol answering as 0x19E5:0x1711.

  BAR 1 is a register file (plain memory: a read returns what was last
  written) whose accesses are logged; BAR 0 is the frame buffer, the machine
  VGA's linear frame buffer when there is one. Writing the display-control
  register of channel B hands the programmed mode to the machine VGA, so the
  screen shows what the driver draws.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "PlatformStandIn.h"

extern "C" {
#include <IndustryStandard/Acpi.h>
#include <IndustryStandard/Pci.h>
#include <Library/IoLib.h>
#include <Protocol/DevicePath.h>
}

namespace {

constexpr UINT16 kVendorId = 0x19E5;
constexpr UINT16 kDeviceId = 0x1711;

constexpr UINT64 kSupportedAttributes = EFI_PCI_IO_ATTRIBUTE_IO | EFI_PCI_IO_ATTRIBUTE_MEMORY |
                                        EFI_PCI_IO_ATTRIBUTE_BUS_MASTER | EFI_PCI_IO_ATTRIBUTE_VGA_IO |
                                        EFI_PCI_IO_ATTRIBUTE_VGA_IO_16 | EFI_PCI_IO_ATTRIBUTE_VGA_MEMORY |
                                        EFI_PCI_IO_ATTRIBUTE_VGA_PALETTE_IO | EFI_PCI_IO_ATTRIBUTE_VGA_PALETTE_IO_16;

/// Channel B's display-control register: writing it completes a mode set.
constexpr UINT64 kChannelBDisplayControl = 0x80200;

constexpr UINT32 kAccessLogCapacity = 16384;
constexpr UINTN  kConfigSpaceSize   = 256;

/// PciRoot(0x0)/Pci(0x1C,0x0)/Pci(0x0,0x0): the controller behind its bridge.
struct EMULATED_CONTROLLER_PATH {
  ACPI_HID_DEVICE_PATH     Root;
  PCI_DEVICE_PATH          Bridge;
  PCI_DEVICE_PATH          Device;
  EFI_DEVICE_PATH_PROTOCOL End;
};

static_assert (sizeof (EMULATED_CONTROLLER_PATH) == 12 + 6 + 6 + 4, "device path nodes are packed");

constexpr EMULATED_CONTROLLER_PATH mControllerDevicePath = {
  { { ACPI_DEVICE_PATH, ACPI_DP, { sizeof (ACPI_HID_DEVICE_PATH), 0 } }, EISA_PNP_ID (0x0A03), 0 },
  { { HARDWARE_DEVICE_PATH, HW_PCI_DP, { sizeof (PCI_DEVICE_PATH), 0 } },
    EMULATED_BRIDGE_FUNCTION,
    EMULATED_BRIDGE_DEVICE },
  { { HARDWARE_DEVICE_PATH, HW_PCI_DP, { sizeof (PCI_DEVICE_PATH), 0 } },
    EMULATED_CONTROLLER_FUNCTION,
    EMULATED_CONTROLLER_DEVICE },
  { END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, { sizeof (EFI_DEVICE_PATH_PROTOCOL), 0 } }
};

UINT8 mConfigSpace[kConfigSpaceSize];

inline UINTN
UnitSize (EFI_PCI_IO_PROTOCOL_WIDTH Width)
{
  return (UINTN)1 << (Width & 0x03);
}

inline BOOLEAN
IsFifo (EFI_PCI_IO_PROTOCOL_WIDTH Width)
{
  return Width >= EfiPciIoWidthFifoUint8 && Width <= EfiPciIoWidthFifoUint64;
}

inline BOOLEAN
IsFill (EFI_PCI_IO_PROTOCOL_WIDTH Width)
{
  return Width >= EfiPciIoWidthFillUint8 && Width <= EfiPciIoWidthFillUint64;
}

UINT64
ReadUnit (const volatile UINT8 *Address, UINTN Unit)
{
  switch (Unit) {
    case 1:
      return *Address;
    case 2:
      return *reinterpret_cast<const volatile UINT16 *> (Address);
    case 4:
      return *reinterpret_cast<const volatile UINT32 *> (Address);
    default:
      return *reinterpret_cast<const volatile UINT64 *> (Address);
  }
}

VOID
WriteUnit (volatile UINT8 *Address, UINTN Unit, UINT64 Value)
{
  switch (Unit) {
    case 1:
      *Address = (UINT8)Value;
      break;
    case 2:
      *reinterpret_cast<volatile UINT16 *> (Address) = (UINT16)Value;
      break;
    case 4:
      *reinterpret_cast<volatile UINT32 *> (Address) = (UINT32)Value;
      break;
    default:
      *reinterpret_cast<volatile UINT64 *> (Address) = Value;
      break;
  }
}

/// Refuses what the PCI bus driver refuses: unknown widths, unaligned
/// offsets, and any unit that would lie outside the region.
EFI_STATUS
CheckRegionAccess (UINT64 RegionSize, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT64 Offset, UINTN Count, const VOID *Buffer)
{
  if ((Buffer == nullptr) || (Width < 0) || (Width >= EfiPciIoWidthMaximum)) {
    return EFI_INVALID_PARAMETER;
  }

  const UINTN Unit = UnitSize (Width);
  if ((Offset & (Unit - 1)) != 0) {
    return EFI_UNSUPPORTED;
  }

  if ((Count == 0) || (Offset > RegionSize)) {
    return (Count == 0 && Offset <= RegionSize) ? EFI_SUCCESS : EFI_INVALID_PARAMETER;
  }

  const UINT64 Units = IsFifo (Width) ? 1 : Count;
  if (Units > (RegionSize - Offset) / Unit) {
    return EFI_INVALID_PARAMETER;
  }

  return EFI_SUCCESS;
}

/// Moves Count units between a region and Buffer, honouring FIFO (the
/// region address stays) and fill (the buffer address stays) widths.
VOID
TransferRegion (
  UINT8                    *Region,
  EFI_PCI_IO_PROTOCOL_WIDTH Width,
  UINT64                    Offset,
  UINTN                     Count,
  UINT8                    *Buffer,
  BOOLEAN                   Write
)
{
  const UINTN Unit = UnitSize (Width);

  if (!IsFifo (Width) && !IsFill (Width)) {
    if (Write) {
      CopyMem (Region + Offset, Buffer, Count * Unit);
    } else {
      CopyMem (Buffer, Region + Offset, Count * Unit);
    }

    return;
  }

  if (IsFill (Width) && Write && (Unit == 4)) {
    SetMem32 (Region + Offset, Count * Unit, *reinterpret_cast<UINT32 *> (Buffer));
    return;
  }

  for (UINTN Index = 0; Index < Count; Index++) {
    UINT8 *Target = Region + Offset + (IsFifo (Width) ? 0 : Index * Unit);
    UINT8 *Source = Buffer + (IsFill (Width) ? 0 : Index * Unit);
    if (Write) {
      WriteUnit (Target, Unit, ReadUnit (Source, Unit));
    } else {
      WriteUnit (Source, Unit, ReadUnit (Target, Unit));
    }
  }
}

VOID
LogAccess (
  EMULATED_ACCESS_KIND      Kind,
  UINT8                     BarIndex,
  EFI_PCI_IO_PROTOCOL_WIDTH Width,
  UINT64                    Offset,
  UINTN                     Count,
  const VOID               *Buffer
)
{
  EMULATED_ACCESS &Entry = mPlatform.AccessLog[mPlatform.AccessCount % mPlatform.AccessLogCapacity];

  Entry.Kind     = (UINT8)Kind;
  Entry.BarIndex = BarIndex;
  Entry.Width    = (UINT8)UnitSize (Width);
  Entry.Reserved = 0;
  Entry.Count    = (UINT32)MIN (Count, (UINTN)MAX_UINT32);
  Entry.Offset   = Offset;
  Entry.Value    = (Buffer != nullptr && Count > 0) ? ReadUnit (static_cast<const UINT8 *> (Buffer), Entry.Width) : 0;
  mPlatform.AccessCount++;
}

/// BAR 0 and BAR 1 as memory regions; other BARs do not exist.
UINT8 *
BarRegion (UINT8 BarIndex, UINT64 *Size)
{
  if (BarIndex == 0) {
    *Size = mPlatform.FrameBufferSize;
    return reinterpret_cast<UINT8 *> ((UINTN)mPlatform.FrameBufferBase);
  }

  if (BarIndex == 1) {
    *Size = EMULATED_REGISTER_FILE_SIZE;
    return mPlatform.RegisterFile;
  }

  return nullptr;
}

EFI_STATUS
MemAccess (EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT8 BarIndex, UINT64 Offset, UINTN Count, VOID *Buffer, BOOLEAN Write)
{
  UINT64 Size;
  UINT8 *Region = BarRegion (BarIndex, &Size);

  if (Region == nullptr) {
    mPlatform.RefusedAccesses++;
    return EFI_UNSUPPORTED;
  }

  EFI_STATUS Status = CheckRegionAccess (Size, Width, Offset, Count, Buffer);
  if (EFI_ERROR (Status)) {
    mPlatform.RefusedAccesses++;
    return Status;
  }

  if (Count == 0) {
    return EFI_SUCCESS;
  }

  //
  // Frame-buffer traffic is counted, not logged: a Blt makes one call per
  // row. Fills are logged, since a mode set's clear is one of them.
  //
  if (BarIndex == 0) {
    if (Write && IsFill (Width)) {
      LogAccess (EmulatedAccessMemFill, BarIndex, Width, Offset, Count, Buffer);
      mPlatform.FrameBytesFilled += (UINT64)Count * UnitSize (Width);
    } else if (Write) {
      mPlatform.FrameWriteCalls++;
    } else {
      mPlatform.FrameReadCalls++;
    }
  }

  TransferRegion (Region, Width, Offset, Count, static_cast<UINT8 *> (Buffer), Write);

  if (BarIndex == 1) {
    LogAccess (
      Write ? (IsFill (Width) ? EmulatedAccessMemFill : EmulatedAccessMemWrite) : EmulatedAccessMemRead, BarIndex,
      Width, Offset, Count, Buffer
    );
    const UINT64 End = IsFifo (Width) ? Offset + UnitSize (Width) : Offset + Count * UnitSize (Width);
    if (Write && (Offset <= kChannelBDisplayControl) && (kChannelBDisplayControl < End)) {
      MirrorDisplayMode ();
    }
  }

  return EFI_SUCCESS;
}

/// Pass-through I/O: the legacy VGA ports reach the machine's VGA, since the
/// emulated controller stands for it there; every access is logged.
EFI_STATUS
IoAccess (EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT8 BarIndex, UINT64 Offset, UINTN Count, VOID *Buffer, BOOLEAN Write)
{
  if (BarIndex != EFI_PCI_IO_PASS_THROUGH_BAR) {
    mPlatform.RefusedAccesses++;
    return EFI_UNSUPPORTED;
  }

  EFI_STATUS Status = CheckRegionAccess (0x10000, Width, Offset, Count, Buffer);
  if (EFI_ERROR (Status) || (Count == 0)) {
    mPlatform.RefusedAccesses += EFI_ERROR (Status) ? 1 : 0;
    return Status;
  }

  const UINTN   Unit     = UnitSize (Width);
  const BOOLEAN VgaPorts = (Offset >= 0x3B0) && (Offset + Unit <= 0x3E0);
  UINT8        *Bytes    = static_cast<UINT8 *> (Buffer);

  for (UINTN Index = 0; Index < Count; Index++) {
    const UINTN Port  = (UINTN)Offset + (IsFifo (Width) ? 0 : Index * Unit);
    UINT8      *Value = Bytes + (IsFill (Width) ? 0 : Index * Unit);
    if (Write && VgaPorts && (Unit == 1)) {
      IoWrite8 (Port, *Value);
    } else if (!Write) {
      WriteUnit (Value, Unit, (VgaPorts && (Unit == 1)) ? IoRead8 (Port) : MAX_UINT64);
    }
  }

  LogAccess (Write ? EmulatedAccessIoWrite : EmulatedAccessIoRead, BarIndex, Width, Offset, Count, Buffer);
  return EFI_SUCCESS;
}

//
// EFI_PCI_IO_PROTOCOL members.
//

extern "C" EFI_STATUS EFIAPI
PciIoMemRead (
  EFI_PCI_IO_PROTOCOL *,
  EFI_PCI_IO_PROTOCOL_WIDTH Width,
  UINT8                     BarIndex,
  UINT64                    Offset,
  UINTN                     Count,
  VOID                     *Buffer
)
{
  return MemAccess (Width, BarIndex, Offset, Count, Buffer, FALSE);
}

extern "C" EFI_STATUS EFIAPI
PciIoMemWrite (
  EFI_PCI_IO_PROTOCOL *,
  EFI_PCI_IO_PROTOCOL_WIDTH Width,
  UINT8                     BarIndex,
  UINT64                    Offset,
  UINTN                     Count,
  VOID                     *Buffer
)
{
  return MemAccess (Width, BarIndex, Offset, Count, Buffer, TRUE);
}

extern "C" EFI_STATUS EFIAPI
PciIoIoRead (
  EFI_PCI_IO_PROTOCOL *,
  EFI_PCI_IO_PROTOCOL_WIDTH Width,
  UINT8                     BarIndex,
  UINT64                    Offset,
  UINTN                     Count,
  VOID                     *Buffer
)
{
  return IoAccess (Width, BarIndex, Offset, Count, Buffer, FALSE);
}

extern "C" EFI_STATUS EFIAPI
PciIoIoWrite (
  EFI_PCI_IO_PROTOCOL *,
  EFI_PCI_IO_PROTOCOL_WIDTH Width,
  UINT8                     BarIndex,
  UINT64                    Offset,
  UINTN                     Count,
  VOID                     *Buffer
)
{
  return IoAccess (Width, BarIndex, Offset, Count, Buffer, TRUE);
}

extern "C" EFI_STATUS EFIAPI
PciIoPollMem (
  EFI_PCI_IO_PROTOCOL      *This,
  EFI_PCI_IO_PROTOCOL_WIDTH Width,
  UINT8                     BarIndex,
  UINT64                    Offset,
  UINT64                    Mask,
  UINT64                    Value,
  UINT64                    Delay,
  UINT64                   *Result
)
{
  if ((Result == nullptr) || (Width > EfiPciIoWidthUint64)) {
    return EFI_INVALID_PARAMETER;
  }

  for (;;) {
    *Result           = 0;
    EFI_STATUS Status = PciIoMemRead (This, Width, BarIndex, Offset, 1, Result);
    if (EFI_ERROR (Status) || ((*Result & Mask) == Value)) {
      return Status;
    }

    if (Delay == 0) {
      return EFI_TIMEOUT;
    }

    // Delay counts 100 ns units; wait in steps of 10 us.
    gBS->Stall (10);
    Delay = (Delay > 100) ? Delay - 100 : 0;
  }
}

extern "C" EFI_STATUS EFIAPI
PciIoPollIo (
  EFI_PCI_IO_PROTOCOL      *This,
  EFI_PCI_IO_PROTOCOL_WIDTH Width,
  UINT8                     BarIndex,
  UINT64                    Offset,
  UINT64                    Mask,
  UINT64                    Value,
  UINT64                    Delay,
  UINT64                   *Result
)
{
  if ((Result == nullptr) || (Width > EfiPciIoWidthUint64)) {
    return EFI_INVALID_PARAMETER;
  }

  *Result           = 0;
  EFI_STATUS Status = PciIoIoRead (This, Width, BarIndex, Offset, 1, Result);
  if (EFI_ERROR (Status)) {
    return Status;
  }

  return ((*Result & Mask) == Value) ? EFI_SUCCESS : EFI_TIMEOUT;
}

/// Configuration space: identity, class and header are read-only; the
/// command register follows the attributes.
extern "C" EFI_STATUS EFIAPI
PciIoConfigRead (EFI_PCI_IO_PROTOCOL *, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT32 Offset, UINTN Count, VOID *Buffer)
{
  EFI_STATUS Status = CheckRegionAccess (kConfigSpaceSize, Width, Offset, Count, Buffer);
  if (!EFI_ERROR (Status) && (Count > 0)) {
    TransferRegion (mConfigSpace, Width, Offset, Count, static_cast<UINT8 *> (Buffer), FALSE);
  }

  return Status;
}

extern "C" EFI_STATUS EFIAPI
PciIoConfigWrite (EFI_PCI_IO_PROTOCOL *, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT32 Offset, UINTN Count, VOID *Buffer)
{
  EFI_STATUS Status = CheckRegionAccess (kConfigSpaceSize, Width, Offset, Count, Buffer);
  if (EFI_ERROR (Status) || (Count == 0)) {
    return Status;
  }

  //
  // Write into a scratch copy, then keep only the writable bytes: the
  // command register and everything above the standard header.
  //
  UINT8 Scratch[kConfigSpaceSize];
  CopyMem (Scratch, mConfigSpace, sizeof (Scratch));
  TransferRegion (Scratch, Width, Offset, Count, static_cast<UINT8 *> (Buffer), TRUE);
  CopyMem (&mConfigSpace[PCI_COMMAND_OFFSET], &Scratch[PCI_COMMAND_OFFSET], 2);
  CopyMem (&mConfigSpace[0x40], &Scratch[0x40], kConfigSpaceSize - 0x40);
  return EFI_SUCCESS;
}

extern "C" EFI_STATUS EFIAPI
PciIoCopyMem (
  EFI_PCI_IO_PROTOCOL *,
  EFI_PCI_IO_PROTOCOL_WIDTH Width,
  UINT8                     DestBarIndex,
  UINT64                    DestOffset,
  UINT8                     SrcBarIndex,
  UINT64                    SrcOffset,
  UINTN                     Count
)
{
  UINT64 DestSize;
  UINT64 SourceSize;
  UINT8 *Dest   = BarRegion (DestBarIndex, &DestSize);
  UINT8 *Source = BarRegion (SrcBarIndex, &SourceSize);

  if ((Dest == nullptr) || (Source == nullptr) || (Width > EfiPciIoWidthUint64)) {
    return (Width > EfiPciIoWidthUint64) ? EFI_INVALID_PARAMETER : EFI_UNSUPPORTED;
  }

  const UINT8 Dummy  = 0;
  EFI_STATUS  Status = CheckRegionAccess (DestSize, Width, DestOffset, Count, &Dummy);
  if (!EFI_ERROR (Status)) {
    Status = CheckRegionAccess (SourceSize, Width, SrcOffset, Count, &Dummy);
  }

  if (!EFI_ERROR (Status) && (Count > 0)) {
    CopyMem (Dest + DestOffset, Source + SrcOffset, Count * UnitSize (Width));
  }

  return Status;
}

/// No IOMMU: device addresses are host addresses.
extern "C" EFI_STATUS EFIAPI
PciIoMap (
  EFI_PCI_IO_PROTOCOL *,
  EFI_PCI_IO_PROTOCOL_OPERATION Operation,
  VOID                         *HostAddress,
  UINTN                        *NumberOfBytes,
  EFI_PHYSICAL_ADDRESS         *DeviceAddress,
  VOID                        **Mapping
)
{
  if ((HostAddress == nullptr) || (NumberOfBytes == nullptr) || (DeviceAddress == nullptr) || (Mapping == nullptr) || (Operation >= EfiPciIoOperationMaximum)) {
    return EFI_INVALID_PARAMETER;
  }

  *DeviceAddress = (EFI_PHYSICAL_ADDRESS)(UINTN)HostAddress;
  *Mapping       = HostAddress;
  return EFI_SUCCESS;
}

extern "C" EFI_STATUS EFIAPI
PciIoUnmap (EFI_PCI_IO_PROTOCOL *, VOID *)
{
  return EFI_SUCCESS;
}

extern "C" EFI_STATUS EFIAPI
PciIoAllocateBuffer (
  EFI_PCI_IO_PROTOCOL *,
  EFI_ALLOCATE_TYPE Type,
  EFI_MEMORY_TYPE   MemoryType,
  UINTN             Pages,
  VOID            **HostAddress,
  UINT64            Attributes
)
{
  if (HostAddress == nullptr) {
    return EFI_INVALID_PARAMETER;
  }

  if ((Type != AllocateAnyPages) || ((MemoryType != EfiBootServicesData) && (MemoryType != EfiRuntimeServicesData))) {
    return EFI_INVALID_PARAMETER;
  }

  EFI_PHYSICAL_ADDRESS Address = MAX_ADDRESS;
  EFI_STATUS           Status  = gBS->AllocatePages (AllocateMaxAddress, MemoryType, Pages, &Address);
  if (!EFI_ERROR (Status)) {
    *HostAddress = reinterpret_cast<VOID *> ((UINTN)Address);
  }

  return Status;
}

extern "C" EFI_STATUS EFIAPI
PciIoFreeBuffer (EFI_PCI_IO_PROTOCOL *, UINTN Pages, VOID *HostAddress)
{
  return gBS->FreePages ((EFI_PHYSICAL_ADDRESS)(UINTN)HostAddress, Pages);
}

extern "C" EFI_STATUS EFIAPI
PciIoFlush (EFI_PCI_IO_PROTOCOL *)
{
  return EFI_SUCCESS;
}

extern "C" EFI_STATUS EFIAPI
PciIoGetLocation (EFI_PCI_IO_PROTOCOL *, UINTN *Segment, UINTN *Bus, UINTN *Device, UINTN *Function)
{
  if ((Segment == nullptr) || (Bus == nullptr) || (Device == nullptr) || (Function == nullptr)) {
    return EFI_INVALID_PARAMETER;
  }

  *Segment  = 0;
  *Bus      = EMULATED_CONTROLLER_BUS;
  *Device   = EMULATED_CONTROLLER_DEVICE;
  *Function = EMULATED_CONTROLLER_FUNCTION;
  return EFI_SUCCESS;
}

/// Keeps the command register's decode bits in step with the attributes.
VOID
SyncCommandRegister (VOID)
{
  UINT16 Command = *reinterpret_cast<UINT16 *> (&mConfigSpace[PCI_COMMAND_OFFSET]);

  Command &= (UINT16) ~(EFI_PCI_COMMAND_IO_SPACE | EFI_PCI_COMMAND_MEMORY_SPACE | EFI_PCI_COMMAND_BUS_MASTER);
  Command |= (mPlatform.Attributes & EFI_PCI_IO_ATTRIBUTE_IO) ? EFI_PCI_COMMAND_IO_SPACE : 0;
  Command |= (mPlatform.Attributes & EFI_PCI_IO_ATTRIBUTE_MEMORY) ? EFI_PCI_COMMAND_MEMORY_SPACE : 0;
  Command |= (mPlatform.Attributes & EFI_PCI_IO_ATTRIBUTE_BUS_MASTER) ? EFI_PCI_COMMAND_BUS_MASTER : 0;
  *reinterpret_cast<UINT16 *> (&mConfigSpace[PCI_COMMAND_OFFSET]) = Command;
}

extern "C" EFI_STATUS EFIAPI
PciIoAttributes (
  EFI_PCI_IO_PROTOCOL *,
  EFI_PCI_IO_PROTOCOL_ATTRIBUTE_OPERATION Operation,
  UINT64                                  Attributes,
  UINT64                                 *Result
)
{
  switch (Operation) {
    case EfiPciIoAttributeOperationGet:
    case EfiPciIoAttributeOperationSupported:
      if (Result == nullptr) {
        return EFI_INVALID_PARAMETER;
      }

      *Result = (Operation == EfiPciIoAttributeOperationGet) ? mPlatform.Attributes : kSupportedAttributes;
      return EFI_SUCCESS;

    case EfiPciIoAttributeOperationSet:
    case EfiPciIoAttributeOperationEnable:
    case EfiPciIoAttributeOperationDisable:
      if ((Attributes & ~kSupportedAttributes) != 0) {
        return EFI_UNSUPPORTED;
      }

      if (Operation == EfiPciIoAttributeOperationSet) {
        mPlatform.Attributes = Attributes;
      } else if (Operation == EfiPciIoAttributeOperationEnable) {
        mPlatform.Attributes |= Attributes;
      } else {
        mPlatform.Attributes &= ~Attributes;
      }

      SyncCommandRegister ();
      return EFI_SUCCESS;

    default:
      return EFI_INVALID_PARAMETER;
  }
}

/// One QWORD memory descriptor per BAR, in pool memory the caller frees.
extern "C" EFI_STATUS EFIAPI
PciIoGetBarAttributes (EFI_PCI_IO_PROTOCOL *, UINT8 BarIndex, UINT64 *Supports, VOID **Resources)
{
  if ((Supports == nullptr) && (Resources == nullptr)) {
    return EFI_INVALID_PARAMETER;
  }

  UINT64       Size;
  const UINT8 *Region = BarRegion (BarIndex, &Size);
  if (Region == nullptr) {
    return EFI_UNSUPPORTED;
  }

  if (Supports != nullptr) {
    *Supports = (BarIndex == 0) ? (EFI_PCI_IO_ATTRIBUTE_MEMORY_WRITE_COMBINE | EFI_PCI_IO_ATTRIBUTE_MEMORY_CACHED) : 0;
  }

  if (Resources == nullptr) {
    return EFI_SUCCESS;
  }

  struct BAR_DESCRIPTORS {
    EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR Bar;
    EFI_ACPI_END_TAG_DESCRIPTOR       End;
  };
  auto *Descriptors = static_cast<BAR_DESCRIPTORS *> (AllocateZeroPool (sizeof (BAR_DESCRIPTORS)));
  if (Descriptors == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }

  Descriptors->Bar.Desc         = ACPI_ADDRESS_SPACE_DESCRIPTOR;
  Descriptors->Bar.Len          = (UINT16)(sizeof (EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR) - 3);
  Descriptors->Bar.ResType      = ACPI_ADDRESS_SPACE_TYPE_MEM;
  Descriptors->Bar.SpecificFlag = (BarIndex == 0) ? EFI_ACPI_MEMORY_RESOURCE_SPECIFIC_FLAG_CACHEABLE_PREFETCHABLE : 0;
  Descriptors->Bar.AddrSpaceGranularity = 32;
  Descriptors->Bar.AddrRangeMin         = (UINT64)(UINTN)Region;
  Descriptors->Bar.AddrLen              = Size;
  Descriptors->Bar.AddrRangeMax         = Size - 1; // the alignment, as the PCI bus driver reports it
  Descriptors->End.Desc                 = ACPI_END_TAG_DESCRIPTOR;
  *Resources                            = Descriptors;
  return EFI_SUCCESS;
}

extern "C" EFI_STATUS EFIAPI
PciIoSetBarAttributes (EFI_PCI_IO_PROTOCOL *, UINT64, UINT8, UINT64 *Offset, UINT64 *Length)
{
  return (Offset == nullptr || Length == nullptr) ? EFI_INVALID_PARAMETER : EFI_UNSUPPORTED;
}

EFI_PCI_IO_PROTOCOL mPciIo = { PciIoPollMem,
                               PciIoPollIo,
                               { PciIoMemRead, PciIoMemWrite },
                               { PciIoIoRead, PciIoIoWrite },
                               { PciIoConfigRead, PciIoConfigWrite },
                               PciIoCopyMem,
                               PciIoMap,
                               PciIoUnmap,
                               PciIoAllocateBuffer,
                               PciIoFreeBuffer,
                               PciIoFlush,
                               PciIoGetLocation,
                               PciIoAttributes,
                               PciIoGetBarAttributes,
                               PciIoSetBarAttributes,
                               0,
                               nullptr };

/// A type-0 header: the controller's identity, a VGA-compatible display
/// class, and the two BARs at the addresses that back them.
VOID
InitializeConfigSpace (VOID)
{
  ZeroMem (mConfigSpace, sizeof (mConfigSpace));
  *reinterpret_cast<UINT16 *> (&mConfigSpace[PCI_VENDOR_ID_OFFSET]) = kVendorId;
  *reinterpret_cast<UINT16 *> (&mConfigSpace[PCI_DEVICE_ID_OFFSET]) = kDeviceId;
  mConfigSpace[PCI_REVISION_ID_OFFSET]                              = 0x01;
  mConfigSpace[PCI_CLASSCODE_OFFSET + 0]                            = PCI_IF_VGA_VGA;
  mConfigSpace[PCI_CLASSCODE_OFFSET + 1]                            = PCI_CLASS_DISPLAY_VGA;
  mConfigSpace[PCI_CLASSCODE_OFFSET + 2]                            = PCI_CLASS_DISPLAY;
  mConfigSpace[PCI_HEADER_TYPE_OFFSET]                              = HEADER_TYPE_DEVICE;
  *reinterpret_cast<UINT32 *> (&mConfigSpace[PCI_BASE_ADDRESSREG_OFFSET + 0]) =
    (UINT32)mPlatform.FrameBufferBase | 0x8; // 32-bit prefetchable memory
  *reinterpret_cast<UINT32 *> (&mConfigSpace[PCI_BASE_ADDRESSREG_OFFSET + 4]) = (UINT32)(UINTN)mPlatform.RegisterFile;
  *reinterpret_cast<UINT16 *> (&mConfigSpace[PCI_SUBSYSTEM_VENDOR_ID_OFFSET]) = kVendorId;
  *reinterpret_cast<UINT16 *> (&mConfigSpace[PCI_SUBSYSTEM_ID_OFFSET])        = kDeviceId;
  SyncCommandRegister ();
}

} // namespace

/**
  Makes the controller: register file, access log, configuration space, and
  a new handle with the device path and the PCI I/O protocol. BAR 0 must be
  settled first (AttachMachineVga). Nothing connects a driver yet.
**/
EFI_STATUS
CreateEmulatedController (VOID)
{
  mPlatform.RegisterFile = static_cast<UINT8 *> (AllocateZeroPool (EMULATED_REGISTER_FILE_SIZE));
  mPlatform.AccessLog =
    static_cast<EMULATED_ACCESS *> (AllocateZeroPool (kAccessLogCapacity * sizeof (EMULATED_ACCESS)));
  mPlatform.AccessLogCapacity = kAccessLogCapacity;
  if ((mPlatform.RegisterFile == nullptr) || (mPlatform.AccessLog == nullptr)) {
    DestroyEmulatedController ();
    return EFI_OUT_OF_RESOURCES;
  }

  mPlatform.Attributes = 0;
  InitializeConfigSpace ();

  mPlatform.ControllerHandle = nullptr;
  EFI_STATUS Status          = gBS->InstallMultipleProtocolInterfaces (
             &mPlatform.ControllerHandle, &gEfiDevicePathProtocolGuid,
             const_cast<EMULATED_CONTROLLER_PATH *> (&mControllerDevicePath), &gEfiPciIoProtocolGuid, &mPciIo, nullptr
           );
  if (EFI_ERROR (Status)) {
    mPlatform.ControllerHandle = nullptr;
    DestroyEmulatedController ();
    return Status;
  }

  mPlatform.ControllerPciIo = &mPciIo;
  return EFI_SUCCESS;
}

/// Undoes CreateEmulatedController on the stand-in's failure path.
VOID
DestroyEmulatedController (VOID)
{
  if (mPlatform.ControllerHandle != nullptr) {
    gBS->UninstallMultipleProtocolInterfaces (
      mPlatform.ControllerHandle, &gEfiDevicePathProtocolGuid,
      const_cast<EMULATED_CONTROLLER_PATH *> (&mControllerDevicePath), &gEfiPciIoProtocolGuid, &mPciIo, nullptr
    );
    mPlatform.ControllerHandle = nullptr;
  }

  if (mPlatform.RegisterFile != nullptr) {
    FreePool (mPlatform.RegisterFile);
    mPlatform.RegisterFile = nullptr;
  }

  if (mPlatform.AccessLog != nullptr) {
    FreePool (mPlatform.AccessLog);
    mPlatform.AccessLog = nullptr;
  }

  mPlatform.ControllerPciIo = nullptr;
}
