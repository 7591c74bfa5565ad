/** @file
  The display controller behind EFI_PCI_IO_PROTOCOL: configuration space,
  attributes, the BAR 1 register file, the BAR 0 frame buffer and the fixed
  aperture that shows it.

  PCI I/O accesses go to host buffers whatever the BAR registers of the
  configuration space hold, as they would go to the resources the PCI bus
  driver assigned.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "HostModelInternal.h"
#include <cstdlib>

extern "C" {
#include <IndustryStandard/Acpi.h>
#include <IndustryStandard/Pci.h>
}

struct DISPLAY_CONTROLLER::PRIVATE {
  EFI_PCI_IO_PROTOCOL PciIo; // first: This leads back to the record
  DISPLAY_CONTROLLER *Owner;
  UINT8               DevicePath[64];

  static DISPLAY_CONTROLLER &
  From (EFI_PCI_IO_PROTOCOL *This)
  {
    return *((PRIVATE *)This)->Owner;
  }

  /// Counts a call of Kind; returns a status to answer instead, or EFI_SUCCESS.
  static EFI_STATUS
  Fault (DISPLAY_CONTROLLER &Self, PCI_IO_CALL_KIND Kind)
  {
    Self.mCalls[Kind]++;
    if ((Self.mFailAt[Kind] != 0) && (Self.mCalls[Kind] == Self.mFailAt[Kind])) {
      Self.mFailAt[Kind] = 0;
      return Self.mFailStatus[Kind];
    }

    return EFI_SUCCESS;
  }

  static EFI_STATUS
  PortAccess (
    BOOLEAN                   IsWrite,
    EFI_PCI_IO_PROTOCOL_WIDTH Width,
    UINT8                     BarIndex,
    UINT64                    Offset,
    UINTN                     Count,
    VOID                     *Buffer
  )
  {
    UINT8 Size = (UINT8)(1 << (Width & 3));

    if ((Buffer == nullptr) || (Width >= EfiPciIoWidthMaximum) || (Size == 8)) {
      return EFI_INVALID_PARAMETER;
    }

    if (BarIndex != EFI_PCI_IO_PASS_THROUGH_BAR) {
      return EFI_UNSUPPORTED; // the controller has no I/O BAR
    }

    for (UINTN Index = 0; Index < Count; Index++) {
      UINT16 Port = (UINT16)(Offset + (Width < EfiPciIoWidthFifoUint8 ? Index * Size : 0));
      UINT8 *Item = (UINT8 *)Buffer + (Width >= EfiPciIoWidthFillUint8 ? 0 : Index * Size);

      if (IsWrite) {
        UINT32 Value = 0;
        CopyMem (&Value, Item, Size);
        HOST_MODEL::Current ().Ports.Write (Port, Size, Value, TRUE);
      } else {
        UINT32 Value = HOST_MODEL::Current ().Ports.Read (Port, Size, TRUE);
        CopyMem (Item, &Value, Size);
      }
    }

    return EFI_SUCCESS;
  }

  /// Mem.Read/Write and Io.Read/Write: each call counts for Kind (and may be
  /// failed by the test) before it reaches the BAR or the ports.
  template <PCI_IO_CALL_KIND Kind>
  static EFI_STATUS EFIAPI
  BarAccess (
    EFI_PCI_IO_PROTOCOL      *This,
    EFI_PCI_IO_PROTOCOL_WIDTH Width,
    UINT8                     BarIndex,
    UINT64                    Offset,
    UINTN                     Count,
    VOID                     *Buffer
  )
  {
    constexpr BOOLEAN   IsWrite = (Kind == PciIoMemWrite) || (Kind == PciIoIoWrite);
    DISPLAY_CONTROLLER &Self    = From (This);
    EFI_STATUS          Status  = Fault (Self, Kind);

    if (EFI_ERROR (Status)) {
      return Status;
    }

    if ((Kind == PciIoMemRead) || (Kind == PciIoMemWrite)) {
      return Self.Memory (IsWrite, Width, BarIndex, Offset, Count, Buffer);
    }

    return PortAccess (IsWrite, Width, BarIndex, Offset, Count, Buffer);
  }

  static EFI_STATUS
  ConfigAccess (
    DISPLAY_CONTROLLER       &Self,
    BOOLEAN                   IsWrite,
    EFI_PCI_IO_PROTOCOL_WIDTH Width,
    UINT32                    Offset,
    UINTN                     Count,
    VOID                     *Buffer
  )
  {
    UINTN Size = (UINTN)1 << (Width & 3);

    if ((Buffer == nullptr) || (Width >= EfiPciIoWidthMaximum) || (Size == 8) || ((Offset & (Size - 1)) != 0)) {
      return EFI_INVALID_PARAMETER;
    }

    if ((UINT64)Offset + (Width < EfiPciIoWidthFifoUint8 ? Count * Size : Size) > sizeof (Self.mConfig)) {
      return EFI_UNSUPPORTED;
    }

    for (UINTN Index = 0; Index < Count; Index++) {
      UINT32 Register = Offset + (UINT32)(Width < EfiPciIoWidthFifoUint8 ? Index * Size : 0);
      UINT8 *Item     = (UINT8 *)Buffer + (Width >= EfiPciIoWidthFillUint8 ? 0 : Index * Size);

      for (UINTN Byte = 0; Byte < Size; Byte++) {
        if (!IsWrite) {
          Item[Byte] = Self.mConfig[Register + Byte];
        } else if (!ReadOnlyConfigByte (Register + Byte)) {
          Self.mConfig[Register + Byte] = Item[Byte];
        }
      }
    }

    if (IsWrite) {
      Self.ConfigWritten ();
    }

    return EFI_SUCCESS;
  }

  /// Pci.Read/Write: counted for Kind like the BAR accesses.
  template <PCI_IO_CALL_KIND Kind>
  static EFI_STATUS EFIAPI
  ConfigSpace (EFI_PCI_IO_PROTOCOL *This, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT32 Offset, UINTN Count, VOID *Buffer)
  {
    EFI_STATUS Status = Fault (From (This), Kind);

    return EFI_ERROR (Status) ? Status
                              : ConfigAccess (From (This), Kind == PciIoPciWrite, Width, Offset, Count, Buffer);
  }

  static EFI_STATUS EFIAPI
  Attributes (
    EFI_PCI_IO_PROTOCOL                    *This,
    EFI_PCI_IO_PROTOCOL_ATTRIBUTE_OPERATION Operation,
    UINT64                                  Attributes,
    UINT64                                 *Result
  )
  {
    DISPLAY_CONTROLLER &Self   = From (This);
    EFI_STATUS          Status = Fault (Self, PciIoAttributes);

    if (!EFI_ERROR (Status)) {
      auto It = Self.mAttributeFaults.find ((UINT32)Operation);
      if (It != Self.mAttributeFaults.end ()) {
        Status = It->second;
      } else {
        Status = Self.ApplyAttributes (Operation, Attributes, Result);
      }
    }

    Self.mAttributeCalls.push_back (ATTRIBUTE_CALL{ HOST_MODEL::Current ().NextSequence (), Operation, Attributes,
                                                    Status });
    return Status;
  }

  /**
    One ACPI QWORD memory descriptor for the BAR, then the end tag, in pool
    that the caller frees.
  **/
  static EFI_STATUS EFIAPI
  GetBarAttributes (EFI_PCI_IO_PROTOCOL *This, UINT8 BarIndex, UINT64 *Supports OPTIONAL, VOID **Resources OPTIONAL)
  {
    DISPLAY_CONTROLLER &Self   = From (This);
    EFI_STATUS          Status = Fault (Self, PciIoGetBarAttributes);

    if (EFI_ERROR (Status)) {
      return Status;
    }

    if ((Supports == nullptr) && (Resources == nullptr)) {
      return EFI_INVALID_PARAMETER;
    }

    if (BarIndex > 1) {
      return EFI_UNSUPPORTED;
    }

    if (Supports != nullptr) {
      *Supports = 0;
    }

    if (Resources == nullptr) {
      return EFI_SUCCESS;
    }

    struct DESCRIPTORS {
      EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR Bar;
      EFI_ACPI_END_TAG_DESCRIPTOR       End;
    } __attribute__ ((packed));

    DESCRIPTORS *Descriptors;

    Status =
      HOST_MODEL::Current ().Memory.AllocatePool (EfiBootServicesData, sizeof (DESCRIPTORS), (VOID **)&Descriptors);
    if (EFI_ERROR (Status)) {
      return EFI_OUT_OF_RESOURCES;
    }

    ZeroMem (Descriptors, sizeof (*Descriptors));
    Descriptors->Bar.Desc                 = Self.mBarDescriptor;
    Descriptors->Bar.Len                  = (UINT16)(sizeof (EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR) - 3);
    Descriptors->Bar.ResType              = Self.mBarResourceType;
    Descriptors->Bar.AddrSpaceGranularity = 64;
    Descriptors->Bar.AddrRangeMin = BarIndex == 0 ? (UINT64)(UINTN)Self.FrameBuffer () : (UINT64)(UINTN)Self.mPrivate;
    Descriptors->Bar.AddrLen      = BarIndex == 0 ? HOST_MODEL_FRAME_BUFFER_SIZE : HOST_MODEL_REGISTER_FILE_SIZE;
    Descriptors->Bar.AddrRangeMax = Descriptors->Bar.AddrRangeMin + Descriptors->Bar.AddrLen - 1;
    Descriptors->End.Desc         = ACPI_END_TAG_DESCRIPTOR;
    *Resources                    = Descriptors;
    return EFI_SUCCESS;
  }

  static EFI_STATUS EFIAPI
  GetLocation (EFI_PCI_IO_PROTOCOL *This, UINTN *Segment, UINTN *Bus, UINTN *Device, UINTN *Function)
  {
    if ((Segment == nullptr) || (Bus == nullptr) || (Device == nullptr) || (Function == nullptr)) {
      return EFI_INVALID_PARAMETER;
    }

    *Segment  = 0;
    *Bus      = 1;
    *Device   = 0;
    *Function = 0;
    return EFI_SUCCESS;
  }

  static EFI_STATUS EFIAPI
  Flush (EFI_PCI_IO_PROTOCOL *This)
  {
    return EFI_SUCCESS;
  }

  static EFI_STATUS EFIAPI
  Unmodelled (VOID)
  {
    ADD_FAILURE () << "a PCI I/O member that the host model does not model was called";
    return EFI_UNSUPPORTED;
  }

  /// Identity, class code and header type do not take writes.
  static BOOLEAN
  ReadOnlyConfigByte (UINT32 Offset)
  {
    return Offset < 4 || (Offset >= 8 && Offset < 0x0C) || Offset == 0x0E;
  }
};

DISPLAY_CONTROLLER::DISPLAY_CONTROLLER ()
    : mPrivate (new PRIVATE ()),
      mSupported (
        EFI_PCI_IO_ATTRIBUTE_IO | EFI_PCI_IO_ATTRIBUTE_MEMORY | EFI_PCI_IO_ATTRIBUTE_BUS_MASTER |
        EFI_PCI_IO_ATTRIBUTE_VGA_IO | EFI_PCI_IO_ATTRIBUTE_VGA_IO_16 | EFI_PCI_IO_ATTRIBUTE_VGA_MEMORY
      ),
      mCore ((TAVRIX_DISPLAY_CORE *)malloc (sizeof (TAVRIX_DISPLAY_CORE)))
{
  EFI_PCI_IO_PROTOCOL &PciIo = mPrivate->PciIo;

  TavrixCoreReset (mCore);
  mPrivate->Owner        = this;
  PciIo.PollMem          = (EFI_PCI_IO_PROTOCOL_POLL_IO_MEM)PRIVATE::Unmodelled;
  PciIo.PollIo           = (EFI_PCI_IO_PROTOCOL_POLL_IO_MEM)PRIVATE::Unmodelled;
  PciIo.Mem.Read         = PRIVATE::BarAccess<PciIoMemRead>;
  PciIo.Mem.Write        = PRIVATE::BarAccess<PciIoMemWrite>;
  PciIo.Io.Read          = PRIVATE::BarAccess<PciIoIoRead>;
  PciIo.Io.Write         = PRIVATE::BarAccess<PciIoIoWrite>;
  PciIo.Pci.Read         = PRIVATE::ConfigSpace<PciIoPciRead>;
  PciIo.Pci.Write        = PRIVATE::ConfigSpace<PciIoPciWrite>;
  PciIo.CopyMem          = (EFI_PCI_IO_PROTOCOL_COPY_MEM)PRIVATE::Unmodelled;
  PciIo.Map              = (EFI_PCI_IO_PROTOCOL_MAP)PRIVATE::Unmodelled;
  PciIo.Unmap            = (EFI_PCI_IO_PROTOCOL_UNMAP)PRIVATE::Unmodelled;
  PciIo.AllocateBuffer   = (EFI_PCI_IO_PROTOCOL_ALLOCATE_BUFFER)PRIVATE::Unmodelled;
  PciIo.FreeBuffer       = (EFI_PCI_IO_PROTOCOL_FREE_BUFFER)PRIVATE::Unmodelled;
  PciIo.Flush            = PRIVATE::Flush;
  PciIo.GetLocation      = PRIVATE::GetLocation;
  PciIo.Attributes       = PRIVATE::Attributes;
  PciIo.GetBarAttributes = PRIVATE::GetBarAttributes;
  PciIo.SetBarAttributes = (EFI_PCI_IO_PROTOCOL_SET_BAR_ATTRIBUTES)PRIVATE::Unmodelled;
  PciIo.RomSize          = 0;
  PciIo.RomImage         = nullptr;

  ZeroMem (mConfig, sizeof (mConfig));
  SetIds (TAVRIX_PCI_VENDOR_ID, TAVRIX_PCI_DEVICE_ID);
  mConfig[PCI_CLASSCODE_OFFSET + 2] = PCI_CLASS_DISPLAY;
  mConfig[PCI_HEADER_TYPE_OFFSET]   = HEADER_TYPE_DEVICE;
  *(UINT32 *)&mConfig[0x10]         = 0x80000008; // prefetchable memory
  *(UINT32 *)&mConfig[0x14]         = 0x82000000;

  //
  // PciRoot(0x0)/Pci(0x1C,0x0)/Pci(0x0,0x0): behind the bridge, as on the board.
  //
  UINT8 Path[] = { ACPI_DEVICE_PATH,
                   ACPI_DP,
                   12,
                   0,
                   0xD0,
                   0x41,
                   0x03,
                   0x0A,
                   0,
                   0,
                   0,
                   0,
                   HARDWARE_DEVICE_PATH,
                   HW_PCI_DP,
                   6,
                   0,
                   0x00,
                   0x1C,
                   HARDWARE_DEVICE_PATH,
                   HW_PCI_DP,
                   6,
                   0,
                   0x00,
                   0x00,
                   END_DEVICE_PATH_TYPE,
                   END_ENTIRE_DEVICE_PATH_SUBTYPE,
                   4,
                   0 };

  CopyMem (mPrivate->DevicePath, Path, sizeof (Path));
}

DISPLAY_CONTROLLER::~DISPLAY_CONTROLLER ()
{
  free (mCore);
  delete mPrivate;
}

EFI_HANDLE
DISPLAY_CONTROLLER::Publish ()
{
  if (mHandle == nullptr) {
    HOST_MODEL &Model = HOST_MODEL::Current ();
    mHandle           = Model.InstallProtocol (nullptr, gEfiDevicePathProtocolGuid, mPrivate->DevicePath);
    Model.InstallProtocol (mHandle, gEfiPciIoProtocolGuid, &mPrivate->PciIo);
  }

  return mHandle;
}

EFI_PCI_IO_PROTOCOL *
DISPLAY_CONTROLLER::PciIo ()
{
  return &mPrivate->PciIo;
}

EFI_DEVICE_PATH_PROTOCOL *
DISPLAY_CONTROLLER::DevicePath ()
{
  return (EFI_DEVICE_PATH_PROTOCOL *)mPrivate->DevicePath;
}

void
DISPLAY_CONTROLLER::SetIds (UINT16 VendorId, UINT16 DeviceId)
{
  CopyMem (&mConfig[PCI_VENDOR_ID_OFFSET], &VendorId, 2);
  CopyMem (&mConfig[PCI_DEVICE_ID_OFFSET], &DeviceId, 2);
}

void
DISPLAY_CONTROLLER::ConfigWritten ()
{
  TavrixCoreWriteApertureControl (mCore, mConfig[TAVRIX_CONFIG_APERTURE_CONTROL]);
  mConfig[TAVRIX_CONFIG_APERTURE_CONTROL] = TavrixCoreReadApertureControl (mCore);
  mFrame.SetApertureOpen (ApertureDecodes ());
}

BOOLEAN
DISPLAY_CONTROLLER::ApertureDecodes () const
{
  return TavrixCoreApertureDecodes (mCore, (mConfig[PCI_COMMAND_OFFSET] & EFI_PCI_COMMAND_MEMORY_SPACE) != 0) != 0;
}

void
DISPLAY_CONTROLLER::TurnApertureOn ()
{
  mConfig[PCI_COMMAND_OFFSET] |= EFI_PCI_COMMAND_MEMORY_SPACE;
  mConfig[TAVRIX_CONFIG_APERTURE_CONTROL] |= TAVRIX_APERTURE_ENABLE;
  ConfigWritten ();
}

UINT32
DISPLAY_CONTROLLER::Config32 (UINT16 Register) const
{
  UINT32 Value = 0;

  CopyMem (&Value, &mConfig[Register & 0xFC], 4);
  return Value;
}

void
DISPLAY_CONTROLLER::FailAttributeOperation (EFI_PCI_IO_PROTOCOL_ATTRIBUTE_OPERATION Operation, EFI_STATUS Status)
{
  mAttributeFaults[(UINT32)Operation] = Status;
}

EFI_STATUS
DISPLAY_CONTROLLER::ApplyAttributes (
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

      *Result = Operation == EfiPciIoAttributeOperationGet ? mAttributes : mSupported;
      return EFI_SUCCESS;
    case EfiPciIoAttributeOperationSet:
    case EfiPciIoAttributeOperationEnable:
    case EfiPciIoAttributeOperationDisable:
      if ((Attributes & ~mSupported) != 0) {
        return EFI_UNSUPPORTED;
      }

      if (Operation == EfiPciIoAttributeOperationSet) {
        mAttributes = Attributes;
      } else if (Operation == EfiPciIoAttributeOperationEnable) {
        mAttributes |= Attributes;
      } else {
        mAttributes &= ~Attributes;
      }

      CommandFromAttributes ();
      return EFI_SUCCESS;
    default:
      return EFI_INVALID_PARAMETER;
  }
}

/// The command register's decoding bits follow the attributes, as the PCI
/// bus driver programs them; memory decoding may open or close the aperture.
void
DISPLAY_CONTROLLER::CommandFromAttributes ()
{
  const UINT8 Decoding = EFI_PCI_COMMAND_IO_SPACE | EFI_PCI_COMMAND_MEMORY_SPACE | EFI_PCI_COMMAND_BUS_MASTER;
  UINT8       Command  = mConfig[PCI_COMMAND_OFFSET] & ~Decoding;

  Command |= (mAttributes & EFI_PCI_IO_ATTRIBUTE_IO) != 0 ? EFI_PCI_COMMAND_IO_SPACE : 0;
  Command |= (mAttributes & EFI_PCI_IO_ATTRIBUTE_MEMORY) != 0 ? EFI_PCI_COMMAND_MEMORY_SPACE : 0;
  Command |= (mAttributes & EFI_PCI_IO_ATTRIBUTE_BUS_MASTER) != 0 ? EFI_PCI_COMMAND_BUS_MASTER : 0;
  mConfig[PCI_COMMAND_OFFSET] = Command;
  ConfigWritten ();
}

UINT32
DISPLAY_CONTROLLER::Register (UINT64 Offset) const
{
  return TavrixCoreReadRegister (mCore, Offset);
}

void
DISPLAY_CONTROLLER::SetRegister (UINT64 Offset, UINT32 Value)
{
  TavrixCoreWriteRegister (mCore, Offset, Value);
}

void
DISPLAY_CONTROLLER::OnRegisterRead (UINT64 Offset, std::function<UINT32 (UINT32 Stored)> Hook)
{
  mReadHooks[Offset] = Hook;
}

std::vector<UINT32>
DISPLAY_CONTROLLER::RegisterWrites (UINT64 Offset) const
{
  std::vector<UINT32> Values;

  for (const REGISTER_ACCESS &Access : mRegisterLog) {
    if (Access.IsWrite && (Access.Offset == Offset)) {
      Values.push_back (Access.Value);
    }
  }

  return Values;
}

UINT32
DISPLAY_CONTROLLER::Pixel (UINTN ByteOffset) const
{
  UINT32 Value = 0;

  if (ByteOffset + 4 <= HOST_MODEL_FRAME_BUFFER_SIZE) {
    CopyMem (&Value, FrameBuffer () + ByteOffset, 4);
  } else {
    ADD_FAILURE () << "Pixel at " << ByteOffset << " lies beyond the frame buffer";
  }

  return Value;
}

void
DISPLAY_CONTROLLER::ClearLogs ()
{
  mRegisterLog.clear ();
  mFrameLog.clear ();
  mAttributeCalls.clear ();
}

void
DISPLAY_CONTROLLER::FailCall (PCI_IO_CALL_KIND Kind, UINTN Nth, EFI_STATUS Status)
{
  mFailAt[Kind]     = mCalls[Kind] + Nth;
  mFailStatus[Kind] = Status;
}

/**
  Mem.Read/Mem.Write on BAR 0 (frame buffer, any width) or BAR 1 (32-bit
  registers only). Out-of-range accesses are refused before anything moves.
**/
EFI_STATUS
DISPLAY_CONTROLLER::Memory (
  BOOLEAN                   IsWrite,
  EFI_PCI_IO_PROTOCOL_WIDTH Width,
  UINT8                     BarIndex,
  UINT64                    Offset,
  UINTN                     Count,
  VOID                     *Buffer
)
{
  if ((Buffer == nullptr) || (Width >= EfiPciIoWidthMaximum)) {
    return EFI_INVALID_PARAMETER;
  }

  UINTN   Size    = (UINTN)1 << (Width & 3);
  BOOLEAN Fifo    = Width >= EfiPciIoWidthFifoUint8 && Width < EfiPciIoWidthFillUint8;
  BOOLEAN Fill    = Width >= EfiPciIoWidthFillUint8;
  UINT64  Span    = Fifo ? Size : (UINT64)Count * Size;
  UINT64  BarSize = BarIndex == 0 ? HOST_MODEL_FRAME_BUFFER_SIZE : HOST_MODEL_REGISTER_FILE_SIZE;
  EFI_TPL Tpl     = HOST_MODEL::Current ().CurrentTpl ();

  if (BarIndex > 1) {
    return EFI_UNSUPPORTED;
  }

  if ((Offset >= BarSize) || (Span > BarSize - Offset) || ((Offset & (Size - 1)) != 0)) {
    return EFI_INVALID_PARAMETER;
  }

  if (BarIndex == 0) {
    mFrameLog.push_back (FRAME_ACCESS{ HOST_MODEL::Current ().NextSequence (), Width, Offset, Count, IsWrite, Tpl });

    //
    // A contiguous transfer moves as one copy and a 32-bit fill as one
    // SetMem32: the same bytes as element by element, at the cost of the
    // firmware's wide moves (the benchmarks measure the driver through this
    // path). FIFO accesses and the other fills go element by element.
    //
    if (!Fifo && !Fill) {
      if (IsWrite) {
        CopyMem (FrameBuffer () + Offset, Buffer, (UINTN)Span);
      } else {
        CopyMem (Buffer, FrameBuffer () + Offset, (UINTN)Span);
      }

      return EFI_SUCCESS;
    }

    if (Fill && IsWrite && (Size == 4)) {
      SetMem32 (FrameBuffer () + Offset, (UINTN)Span, ReadUnaligned32 ((UINT32 *)Buffer));
      return EFI_SUCCESS;
    }

    for (UINTN Index = 0; Index < Count; Index++) {
      UINT8 *Device = FrameBuffer () + Offset + (Fifo ? 0 : Index * Size);
      UINT8 *Item   = (UINT8 *)Buffer + (Fill ? 0 : Index * Size);
      if (IsWrite) {
        CopyMem (Device, Item, Size);
      } else {
        CopyMem (Item, Device, Size);
      }
    }

    return EFI_SUCCESS;
  }

  if (Size != 4) {
    ADD_FAILURE () << "BAR 1 registers are 32-bit; access of width " << Width << " at 0x" << std::hex << Offset;
    return EFI_INVALID_PARAMETER;
  }

  for (UINTN Index = 0; Index < Count; Index++) {
    UINT64  Register = Offset + (Fifo ? 0 : Index * 4);
    UINT32 *Item     = (UINT32 *)((UINT8 *)Buffer + (Fill ? 0 : Index * 4));

    if (IsWrite) {
      TavrixCoreWriteRegister (mCore, Register, *Item);
      mRegisterLog.push_back (REGISTER_ACCESS{ HOST_MODEL::Current ().NextSequence (), Register, *Item, TRUE, Tpl });
    } else {
      UINT32 Stored = this->Register (Register);
      auto   Hook   = mReadHooks.find (Register);
      *Item         = Hook == mReadHooks.end () ? Stored : Hook->second (Stored);
      mRegisterLog.push_back (REGISTER_ACCESS{ HOST_MODEL::Current ().NextSequence (), Register, *Item, FALSE, Tpl });
    }
  }

  return EFI_SUCCESS;
}
