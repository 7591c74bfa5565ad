/** @file
  Host platform model: the firmware core and the hardware that the drivers'
  host tests run against.

  A test makes a fresh model (the HOST_MODEL_TEST fixture does), publishes
  what the driver under test expects to find, starts the driver as the
  generated entry code would, drives it, and then reads back what the
  driver did: pixels, register and port logs, serial text, status codes,
  open records, outstanding pool. For example:

    TEST_F (GopTest, StartProgramsModeZero) {
      EFI_HANDLE  Controller = Model.Controller.Publish ();
      ASSERT_EQ (Model.StartModule (DisplayDriverEntryPoint), EFI_SUCCESS);
      ASSERT_EQ (Model.ConnectController (Controller), EFI_SUCCESS);
      EXPECT_EQ (Model.Controller.Register (0x802A8), 0x42D40F02u);
      EXPECT_EQ (Model.Controller.RegisterWrites (0x802A8).size (), 6u);
    }

  EDK II's own library instances (the table libraries, DxeHobLib, DxePcdLib,
  UefiLib, DevicePathLib, UefiMemoryAllocationLib, BasePciCf8Lib,
  BaseSerialPortLib16550, BaseDebugLibSerialPort, DxeReportStatusCodeLib)
  run unchanged on top of the model: it provides the system table, the
  protocols they look up, and the I/O ports they touch (through the host
  IoLib instance that goes with this library).

  One model exists at a time; its constructor resets the caches those EDK II
  libraries keep in module globals, so every test starts from a freshly
  loaded image. Every log entry carries a sequence number taken from one
  counter per model, so entries of different logs can be ordered.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef HOST_MODEL_H_
#define HOST_MODEL_H_

#include <gtest/gtest.h>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <PiDxe.h>
#include <Protocol/DevicePath.h>
#include <Protocol/DriverBinding.h>
#include <Protocol/PciIo.h>
#include <Protocol/StatusCode.h>
#include <Protocol/Pcd.h>
#include <Protocol/PiPcd.h>
#include <Protocol/SmmBase2.h>
#include <Protocol/EarlyVideoDisplay.h>
}

#include <TavrixDisplayCore.h>

//
// Fixed physical windows. VGA text memory is mapped at its real address.
// The frame aperture lives at 0x92000000 on real machines, an address that
// lies in AddressSanitizer's shadow gap on x86-64; the host-test build
// passes -DEARLY_VIDEO_APERTURE_BASE=0x500092000000ULL to every module and
// the model maps the aperture there. Both windows are fenced by a guard
// page on each side.
//
#define HOST_MODEL_TEXT_MEMORY_BASE 0xB8000ULL
#define HOST_MODEL_TEXT_MEMORY_SIZE 0x8000ULL
#define HOST_MODEL_APERTURE_BASE    0x500092000000ULL
#define HOST_MODEL_APERTURE_SIZE    0x2000000ULL

#if defined(EARLY_VIDEO_APERTURE_BASE)
static_assert (EARLY_VIDEO_APERTURE_BASE == HOST_MODEL_APERTURE_BASE, "the aperture define and the model disagree");
#endif

/// BAR 0 frame buffer of the display controller model (32 MiB).
#define HOST_MODEL_FRAME_BUFFER_SIZE 0x2000000ULL
/// BAR 1 register file of the display controller model (1 MiB).
#define HOST_MODEL_REGISTER_FILE_SIZE 0x100000ULL

static_assert (HOST_MODEL_FRAME_BUFFER_SIZE == TAVRIX_FRAME_BUFFER_SIZE, "the model's BAR 0 is the core's");
static_assert (HOST_MODEL_REGISTER_FILE_SIZE == TAVRIX_REGISTER_FILE_SIZE, "the model's BAR 1 is the core's");
static_assert (HOST_MODEL_APERTURE_SIZE == TAVRIX_APERTURE_SIZE, "the model's aperture is the core's");

/// Data offsets of the fields of the display-information HOB.
#define HOST_MODEL_VIDEO_INFO_FRAME_WIDTH      0x13CC
#define HOST_MODEL_VIDEO_INFO_FRAME_HEIGHT     0x13D0
#define HOST_MODEL_VIDEO_INFO_CURRENT_BANK     0x13D8
#define HOST_MODEL_VIDEO_INFO_TRANSPARENT_TEXT 0x13E9
#define HOST_MODEL_VIDEO_INFO_DATA_SIZE        5104

extern "C" {
extern EFI_GUID gEarlyVideoInfoHobGuid;
extern EFI_GUID gDebugMessageConfigGuid;
extern EFI_GUID gDebugPrintMarkerDataGuid;
}

//
// ---------------------------------------------------------------- records
//

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

/// One I/O port access outside the UART and the 0xCF8/0xCFC pair.
struct PORT_ACCESS {
  UINT64  Sequence;
  UINT16  Port;
  UINT32  Value;
  UINT8   Size; ///< bytes: 1, 2 or 4
  BOOLEAN IsWrite;
  BOOLEAN ThroughPciIo; ///< made through the controller's Io.Read/Write
};

/// One configuration access decoded from ports 0xCF8/0xCFC.
struct CONFIG_ACCESS {
  UINT64  Sequence;
  UINT8   Bus;
  UINT8   Device;
  UINT8   Function;
  UINT16  Register;
  UINT8   Size;
  UINT32  Value;
  BOOLEAN IsWrite;
  BOOLEAN Claimed; ///< FALSE: no device answered (reads give all ones)
};

/// One call of the controller's Attributes member.
struct ATTRIBUTE_CALL {
  UINT64                                  Sequence;
  EFI_PCI_IO_PROTOCOL_ATTRIBUTE_OPERATION Operation;
  UINT64                                  Attributes;
  EFI_STATUS                              Status;
};

/// One open of a protocol on a handle, as OpenProtocolInformation reports it.
struct OPEN_RECORD {
  EFI_HANDLE Agent;
  EFI_HANDLE Controller;
  UINT32     Attributes;
  UINT32     OpenCount;
};

enum BINDING_CALL_KIND { BindingSupported, BindingStart, BindingStop };

/// Boot services whose calls a test can make fail (HOST_MODEL::FailBootService).
enum BOOT_SERVICE_KIND {
  BootInstallMultipleProtocolInterfaces,
  BootUninstallMultipleProtocolInterfaces,
  BootOpenProtocol,
  BootServiceKinds
};

/// One Driver Binding call made by ConnectController/DisconnectController.
struct BINDING_CALL {
  UINT64                       Sequence;
  BINDING_CALL_KIND            Kind;
  EFI_DRIVER_BINDING_PROTOCOL *Binding;
  EFI_HANDLE                   Controller;
  UINTN                        NumberOfChildren; ///< Stop only
  EFI_STATUS                   Status;
};

struct STALL_RECORD {
  UINT64 Sequence;
  UINTN  Microseconds;
};

/// One report received by the Status Code Runtime protocol.
struct STATUS_CODE_RECORD {
  UINT64                Sequence;
  EFI_STATUS_CODE_TYPE  Type;
  EFI_STATUS_CODE_VALUE Value;
  UINT32                Instance;
  BOOLEAN               HasCallerId;
  alignas (8) EFI_GUID CallerId; // 8-aligned: CompareGuid reads UINT64s
  BOOLEAN HasData;
  alignas (8) EFI_GUID DataType;
  std::vector<UINT8> Data;    ///< extended data without its 20-byte header
  std::string        Message; ///< debug-message records: the formatted text
  EFI_TPL            Tpl;
};

struct VARIABLE_READ {
  UINT64         Sequence;
  std::u16string Name;
  EFI_GUID       Guid;
  UINTN          BufferSize; ///< *DataSize on entry
  EFI_STATUS     Status;
  EFI_TPL        Tpl;
};

struct PCD_READ {
  EFI_GUID TokenSpace; ///< zero GUID for the non-Ex getters
  UINTN    Token;
  UINT8    Size;
};

struct MEMORY_BLOCK {
  UINT64          Sequence; ///< allocation number, see HOST_MODEL::Memory
  VOID           *Address;
  UINTN           Size; ///< bytes (pages: pages × 4096)
  EFI_MEMORY_TYPE Type;
  BOOLEAN         IsPages;
};

/// A library constructor as the generated entry code calls it: DXE-style
/// (ImageHandle, SystemTable) or BASE-style (no arguments).
struct LIBRARY_CONSTRUCTOR {
  EFI_STATUS (EFIAPI *Dxe) (EFI_HANDLE, EFI_SYSTEM_TABLE *);
  RETURN_STATUS (EFIAPI *Base) (VOID);
  LIBRARY_CONSTRUCTOR (EFI_STATUS (EFIAPI *F) (EFI_HANDLE, EFI_SYSTEM_TABLE *)) : Dxe (F), Base (nullptr)
  {}
  LIBRARY_CONSTRUCTOR (RETURN_STATUS (EFIAPI *F) (VOID)) : Dxe (nullptr), Base (F)
  {}
};

typedef EFI_STATUS (EFIAPI *LIBRARY_DESTRUCTOR) (EFI_HANDLE, EFI_SYSTEM_TABLE *);

/// What StartModule runs: constructors in order, the entry point, and the
/// destructors in order when the entry point fails.
struct MODULE_IMAGE {
  EFI_IMAGE_ENTRY_POINT            EntryPoint;
  std::vector<LIBRARY_CONSTRUCTOR> Constructors;
  std::vector<LIBRARY_DESTRUCTOR>  Destructors;
};

//
// ---------------------------------------------------------------- memory
//

/// Pool and page accounting with fault injection. Every allocation gets the
/// next sequence number of the memory model (failed ones too), so a test can
/// take Mark () before a step and ask what that step left behind. New pool
/// and page memory is filled with 0xAF, as a DEBUG firmware would, so code
/// that relies on zeroed memory shows up.
class MEMORY_MODEL {
public:
  /// The Nth allocation from now fails (1 = the next one), once.
  void FailAllocation (UINTN Nth);

  /// Every allocation of Size bytes (pages: pages × 4096) fails.
  void FailAllocationsOfSize (UINTN Size);

  void StopFailing ();

  UINT64
  Mark () const
  {
    return mSequence;
  }

  /// Allocations made so far, failed ones included.
  UINTN
  AllocationCount () const
  {
    return (UINTN)mSequence;
  }

  /// Blocks still allocated, made after Since; Type EfiMaxMemoryType = all types.
  std::vector<MEMORY_BLOCK> Outstanding (UINT64 Since = 0, EFI_MEMORY_TYPE Type = EfiMaxMemoryType) const;

  UINTN
  OutstandingPoolBytes (UINT64 Since = 0, EFI_MEMORY_TYPE Type = EfiMaxMemoryType) const;

  UINTN
  OutstandingPages (UINT64 Since = 0, EFI_MEMORY_TYPE Type = EfiMaxMemoryType) const;

  /// One line per outstanding block made after Since; empty when none.
  std::string LeakReport (UINT64 Since = 0) const;

  /// TRUE when Buffer is the start of a live pool block.
  BOOLEAN
  IsLivePool (const VOID *Buffer) const;

  // Implementation of the boot services (used by the model itself).
  EFI_STATUS
  AllocatePool (EFI_MEMORY_TYPE Type, UINTN Size, VOID **Buffer);

  EFI_STATUS
  FreePool (VOID *Buffer);

  EFI_STATUS
  AllocatePages (EFI_ALLOCATE_TYPE AllocateType, EFI_MEMORY_TYPE Type, UINTN Pages, EFI_PHYSICAL_ADDRESS *Memory);

  EFI_STATUS
  FreePages (EFI_PHYSICAL_ADDRESS Memory, UINTN Pages);

  ~MEMORY_MODEL ();

private:
  BOOLEAN
  ShouldFail (UINTN Size);

  UINT64                        mSequence   = 0;
  UINT64                        mFailAt     = 0;
  BOOLEAN                       mFailBySize = FALSE;
  UINTN                         mFailSize   = 0;
  std::map<UINTN, MEMORY_BLOCK> mBlocks;
};

//
// ------------------------------------------------------ display controller
//

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

  UINT8 *
  ConfigSpace ()
  {
    return mConfig;
  }

  // Attributes: supported by default IO | MEMORY | BUS_MASTER | VGA_IO |
  // VGA_IO_16 | VGA_MEMORY; current value starts at 0.
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

  void
  SetSupportedAttributes (UINT64 Supported)
  {
    mSupported = Supported;
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

  /// What the display shows of the registers, as the real device shows it;
  /// FALSE when it shows nothing.
  BOOLEAN
  DisplayGeometry (TAVRIX_DISPLAY_GEOMETRY *Geometry) const
  {
    return TavrixCoreDisplayGeometry (mCore, Geometry) != 0;
  }

  /// Sets a register without logging (the hardware's own state).
  void SetRegister (UINT64 Offset, UINT32 Value);

  /// A read of Offset returns Hook (stored value) instead of the stored value.
  void OnRegisterRead (UINT64 Offset, std::function<UINT32 (UINT32 Stored)> Hook);

  /// A write of Offset stores Hook (written, previously stored).
  void OnRegisterWrite (UINT64 Offset, std::function<UINT32 (UINT32 Written, UINT32 Stored)> Hook);

  const std::vector<REGISTER_ACCESS> &
  RegisterLog () const
  {
    return mRegisterLog;
  }

  /// The values written to one register, in order.
  std::vector<UINT32> RegisterWrites (UINT64 Offset) const;

  // BAR 0 frame buffer.
  UINT8 *
  FrameBuffer ()
  {
    return mFrameBuffer;
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

  PRIVATE                                                 *mPrivate;
  EFI_HANDLE                                               mHandle = nullptr;
  UINT8                                                    mConfig[256];
  UINT64                                                   mAttributes = 0;
  UINT64                                                   mSupported;
  std::vector<ATTRIBUTE_CALL>                              mAttributeCalls;
  std::map<UINT32, EFI_STATUS>                             mAttributeFaults;
  TAVRIX_DISPLAY_CORE                                     *mCore;
  std::map<UINT64, std::function<UINT32 (UINT32)>>         mReadHooks;
  std::map<UINT64, std::function<UINT32 (UINT32, UINT32)>> mWriteHooks;
  std::vector<REGISTER_ACCESS>                             mRegisterLog;
  UINT8                                                   *mFrameBuffer;
  std::vector<FRAME_ACCESS>                                mFrameLog;
  UINTN                                                    mCalls[PciIoCallKinds]      = {};
  UINTN                                                    mFailAt[PciIoCallKinds]     = {};
  EFI_STATUS                                               mFailStatus[PciIoCallKinds] = {};

  UINT8 mBarDescriptor   = 0x8A; // ACPI_ADDRESS_SPACE_DESCRIPTOR
  UINT8 mBarResourceType = 0;    // ACPI_ADDRESS_SPACE_TYPE_MEM
};

//
// ----------------------------------------------------------------- ports
//

/// A 16550 UART at 0x3F8: divisor latch, LCR, FCR, IER, MCR, scratch; line
/// status always ready. Transmitted bytes are captured as text.
class UART_16550 {
public:
  const std::string &
  Text () const
  {
    return mText;
  }

  void
  ClearText ()
  {
    mText.clear ();
  }

  UINT16
  Divisor () const
  {
    return mDivisor;
  }

  UINT8
  LineControl () const
  {
    return mLcr;
  }

  UINT8
  FifoControl () const
  {
    return mFcr;
  }

  UINT8
  InterruptEnable () const
  {
    return mIer;
  }

  UINT8
  ModemControl () const
  {
    return mMcr;
  }

  /// Writes to the divisor latch: 0 when initialisation left the UART alone.
  UINTN
  DivisorLatchWrites () const
  {
    return mDivisorWrites;
  }

  /// Writes to the FIFO control register.
  UINTN
  FifoControlWrites () const
  {
    return mFifoWrites;
  }

  /// Puts the UART in a programmed state, as firmware before us may have.
  void Preset (UINT16 Divisor, UINT8 LineControl);

  UINT8
  Read (UINT16 Register);

  void Write (UINT16 Register, UINT8 Value);

private:
  std::string mText;
  UINT16      mDivisor       = 0;
  UINT8       mLcr           = 0;
  UINT8       mFcr           = 0;
  UINT8       mIer           = 0;
  UINT8       mMcr           = 0;
  UINT8       mScratch       = 0;
  UINTN       mDivisorWrites = 0;
  UINTN       mFifoWrites    = 0;
};

/// The I/O port space: legacy VGA ports (logged), PCI configuration
/// mechanism 1 at 0xCF8/0xCFC decoded into a PCI-to-PCI bridge on bus 0 and
/// the display controller behind it, and the UART at 0x3F8.
class PORT_IO_MODEL {
public:
  PORT_IO_MODEL ();

  UART_16550 Uart;

  /// Ordered log of every port access except the UART and 0xCF8-0xCFF.
  const std::vector<PORT_ACCESS> &
  Log () const
  {
    return mLog;
  }

  /// The values written to one port, in order.
  std::vector<UINT32> WritesTo (UINT16 Port) const;

  const std::vector<CONFIG_ACCESS> &
  ConfigLog () const
  {
    return mConfigLog;
  }

  std::vector<CONFIG_ACCESS> ConfigWrites () const;

  void ClearLogs ();

  /// Bridge at bus 0; 0x1C/0 by default; vendor 0x8086, device 0x2448.
  void SetBridgeLocation (UINT8 Device, UINT8 Function);

  UINT8 *
  BridgeConfig ()
  {
    return mBridge;
  }

  /// Where the controller answers behind the bridge (bus 1, 0, 0 by default).
  void SetControllerLocation (UINT8 Bus, UINT8 Device, UINT8 Function);

  /// Value an unmodelled port reads as (default all ones).
  void
  SetPortValue (UINT16 Port, UINT32 Value)
  {
    mPortValues[Port] = Value;
  }

  // Port accesses (used by the host IoLib and the controller's Io members).
  UINT32
  Read (UINT16 Port, UINT8 Size, BOOLEAN ThroughPciIo = FALSE);

  void Write (UINT16 Port, UINT8 Size, UINT32 Value, BOOLEAN ThroughPciIo = FALSE);

private:
  UINT8 *DecodeConfig (UINT8 Bus, UINT8 Device, UINT8 Function);

  UINT32
  ConfigAccess (UINT16 Port, UINT8 Size, UINT32 Value, BOOLEAN IsWrite);

  std::vector<PORT_ACCESS>   mLog;
  std::vector<CONFIG_ACCESS> mConfigLog;
  std::map<UINT16, UINT32>   mPortValues;
  UINT32                     mCf8 = 0;
  UINT8                      mBridge[256];
  UINT8                      mBridgeDevice = 0x1C, mBridgeFunction = 0;
  UINT8                      mBus = 1, mDevice = 0, mFunction = 0;
};

//
// ------------------------------------------------------- firmware pieces
//

/// GUID extension HOBs in a fixed 64 KiB list published as the HOB list
/// configuration table. HOBs can be added at any time; the list never moves.
class HOB_LIST_MODEL {
public:
  HOB_LIST_MODEL ();
  ~HOB_LIST_MODEL ();

  /// Adds a GUID HOB with DataSize bytes (padded to 8) and returns its data.
  UINT8 *AddGuidHob (const EFI_GUID &Name, const VOID *Data, UINTN DataSize);

  /// Adds the display-information HOB and returns its data.
  UINT8 *AddEarlyVideoInfo (UINT32 FrameWidth, UINT32 FrameHeight, UINT32 CurrentBank = 0, UINT8 TransparentText = 0);

  /// The CurrentBank field of the first display-information HOB (0 if none).
  UINT32
  EarlyVideoCurrentBank () const;

  /// Adds the debug-level fallback HOB: HobLength bytes in all (32 is the
  /// accepted length), Level in the first data word.
  UINT8 *AddDebugMessageConfig (UINT32 Level, UINT16 HobLength = 32);

  VOID *
  List () const
  {
    return mList;
  }

private:
  UINT8 *mList;
  UINTN  mEnd; // offset of the end-of-list HOB
};

/// PCD_PROTOCOL and EFI_PCD_PROTOCOL over values a test sets. Reading a
/// token that was never set fails the test and answers 0.
class PCD_MODEL {
public:
  void
  SetEx8 (const EFI_GUID &TokenSpace, UINTN Token, UINT8 Value)
  {
    Set (TokenSpace, Token, Value, 1);
  }

  void
  SetEx16 (const EFI_GUID &TokenSpace, UINTN Token, UINT16 Value)
  {
    Set (TokenSpace, Token, Value, 2);
  }

  void
  SetEx32 (const EFI_GUID &TokenSpace, UINTN Token, UINT32 Value)
  {
    Set (TokenSpace, Token, Value, 4);
  }

  void
  SetEx64 (const EFI_GUID &TokenSpace, UINTN Token, UINT64 Value)
  {
    Set (TokenSpace, Token, Value, 8);
  }

  void
  SetExBool (const EFI_GUID &TokenSpace, UINTN Token, BOOLEAN Value)
  {
    Set (TokenSpace, Token, Value, 1);
  }

  const std::vector<PCD_READ> &
  Reads () const
  {
    return mReads;
  }

  UINT64
  Get (const EFI_GUID *TokenSpace, UINTN Token, UINT8 Size);

private:
  void Set (const EFI_GUID &TokenSpace, UINTN Token, UINT64 Value, UINT8 Size);

  std::map<std::pair<std::string, UINTN>, UINT64> mValues;
  std::vector<PCD_READ>                           mReads;
};

/// Runtime variable store behind GetVariable/SetVariable.
class VARIABLE_STORE {
public:
  void Set (
    const char16_t *Name,
    const EFI_GUID &Guid,
    const VOID     *Data,
    UINTN           Size,
    UINT32          Attributes = EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS
  );

  void Remove (const char16_t *Name, const EFI_GUID &Guid);

  /// While set, GetVariable answers EFI_NOT_AVAILABLE_YET.
  void
  SetNotAvailableYet (BOOLEAN NotAvailable)
  {
    mNotAvailable = NotAvailable;
  }

  const std::vector<VARIABLE_READ> &
  Reads () const
  {
    return mReads;
  }

  EFI_STATUS
  GetVariable (CHAR16 *Name, EFI_GUID *Guid, UINT32 *Attributes, UINTN *DataSize, VOID *Data);

  EFI_STATUS
  SetVariable (CHAR16 *Name, EFI_GUID *Guid, UINT32 Attributes, UINTN DataSize, VOID *Data);

private:
  struct VALUE {
    UINT32             Attributes;
    std::vector<UINT8> Data;
  };
  std::map<std::pair<std::u16string, std::string>, VALUE> mValues;
  std::vector<VARIABLE_READ>                              mReads;
  BOOLEAN                                                 mNotAvailable = FALSE;
};

/// The Status Code Runtime protocol, installed by default. Debug-message
/// records (data type gDebugPrintMarkerDataGuid) are formatted during the
/// call, while their format and argument pointers are still valid.
class STATUS_CODE_LISTENER {
public:
  void Install ();

  void Uninstall ();

  BOOLEAN
  Installed () const
  {
    return mHandle != nullptr;
  }

  const std::vector<STATUS_CODE_RECORD> &
  Records () const
  {
    return mRecords;
  }

  /// The formatted messages of the debug-message records, in order.
  std::vector<std::string> Messages () const;

  void
  Clear ()
  {
    mRecords.clear ();
  }

  void
  Record (STATUS_CODE_RECORD &&Record)
  {
    mRecords.push_back (Record);
  }

private:
  EFI_HANDLE                      mHandle = nullptr;
  std::vector<STATUS_CODE_RECORD> mRecords;
};

/// The firmware graphics and text display protocols that receive the early
/// video driver's callbacks. Each keeps its own copy of the table it was
/// given; the Call helpers call a callback with that copy as This.
class EARLY_DISPLAY_MODEL {
public:
  EARLY_GRAPHICS_DISPLAY_PROTOCOL *InstallGraphics ();

  EARLY_TEXT_DISPLAY_PROTOCOL *InstallText ();

  UINTN
  GraphicsRegistrations () const
  {
    return mGraphicsRegistrations;
  }

  UINTN
  TextRegistrations () const
  {
    return mTextRegistrations;
  }

  /// Reserved argument of the last RegisterCallbacks call.
  UINTN
  LastReserved () const
  {
    return mLastReserved;
  }

  EARLY_GRAPHICS_CALLBACKS &
  GraphicsCallbacks ()
  {
    return mGraphics;
  }

  EARLY_TEXT_CALLBACKS &
  TextCallbacks ()
  {
    return mText;
  }

  EFI_STATUS
  DrawString (UINT16 Column, UINT16 Row, UINT32 Foreground, UINT32 Background, const char *String);

  EFI_STATUS
  DrawImage (
    UINT32       Offset,
    UINT32       RowStep,
    const UINT8 *Image,
    UINT32       ImageWidth,
    UINT32       ImageHeight,
    UINT8        BitsPerPixel,
    UINT32       ShadowOnly
  );

  EFI_STATUS
  SetBank (UINT32 Bank);

  EFI_STATUS
  EnableDrawing (UINT32 Enable);

  EFI_STATUS
  PrintString (UINT32 Column, UINT32 Row, UINT8 Attribute, const char *String);

  // Used by the protocol instances.
  void RegisterGraphics (const EARLY_GRAPHICS_CALLBACKS &Callbacks, UINTN Reserved);

  void RegisterText (const EARLY_TEXT_CALLBACKS &Callbacks, UINTN Reserved);

private:
  EARLY_GRAPHICS_CALLBACKS mGraphics              = {};
  EARLY_TEXT_CALLBACKS     mText                  = {};
  UINTN                    mGraphicsRegistrations = 0;
  UINTN                    mTextRegistrations     = 0;
  UINTN                    mLastReserved          = 0;
};

/// EFI_SMM_BASE2_PROTOCOL (absent by default) and a small SMM system table
/// with SmmLocateProtocol and SmmInstallProtocolInterface.
class SMM_MODEL {
public:
  SMM_MODEL ();

  void Install (BOOLEAN InSmm);

  BOOLEAN
  InSmm () const
  {
    return mInSmm;
  }

  /// GetSmstLocation answers Status (EFI_SUCCESS by default).
  void
  SetSmstStatus (EFI_STATUS Status)
  {
    mSmstStatus = Status;
  }

  EFI_STATUS
  SmstStatus () const
  {
    return mSmstStatus;
  }

  EFI_SMM_SYSTEM_TABLE2 *
  Smst ()
  {
    return &mSmst;
  }

  /// The interface installed in SMM for Guid, or nullptr.
  VOID *Protocol (const EFI_GUID &Guid) const;

  std::vector<std::pair<EFI_GUID, VOID *>> Installed;

private:
  EFI_SMM_SYSTEM_TABLE2 mSmst;
  BOOLEAN               mInSmm      = FALSE;
  EFI_STATUS            mSmstStatus = EFI_SUCCESS;
};

/// The fixed physical windows, mapped once per process and cleared for
/// every model.
class FIXED_WINDOWS {
public:
  UINT8 *
  TextMemory () const
  {
    return (UINT8 *)(UINTN)HOST_MODEL_TEXT_MEMORY_BASE;
  }

  UINT8 *
  Aperture () const
  {
    return (UINT8 *)(UINTN)HOST_MODEL_APERTURE_BASE;
  }

  UINT32
  AperturePixel (UINTN ByteOffset) const;

  /// Maps (first use) or clears both windows.
  void Reset ();
};

//
// ------------------------------------------------------------ the model
//

struct BOOT_SERVICES_STATE;

/// The platform: system table, boot and runtime services, hardware.
class HOST_MODEL {
public:
  HOST_MODEL ();
  ~HOST_MODEL ();
  HOST_MODEL (const HOST_MODEL &)            = delete;
  HOST_MODEL &operator= (const HOST_MODEL &) = delete;

  /// The model of the running test (fails the test if there is none).
  static HOST_MODEL &Current ();

  // Hardware and firmware pieces.
  MEMORY_MODEL         Memory;
  DISPLAY_CONTROLLER   Controller;
  PORT_IO_MODEL        Ports;
  FIXED_WINDOWS        Windows;
  HOB_LIST_MODEL       Hobs;
  PCD_MODEL            Pcd;
  VARIABLE_STORE       Variables;
  STATUS_CODE_LISTENER StatusCodes;
  EARLY_DISPLAY_MODEL  EarlyDisplay;
  SMM_MODEL            Smm;

  EFI_SYSTEM_TABLE *SystemTable ();

  EFI_BOOT_SERVICES *BootServices ();

  EFI_RUNTIME_SERVICES *RuntimeServices ();

  /// Next value of the model-wide sequence counter.
  UINT64
  NextSequence ()
  {
    return ++mSequence;
  }

  //
  // Starting a module under test.
  //

  /// The EDK II library constructors linked into this test executable (a
  /// library object is linked when something uses it), in the order the
  /// generated entry code of a DXE driver runs them: serial port, serial
  /// DebugLib, boot and runtime services tables, UefiLib, HobLib.
  static std::vector<LIBRARY_CONSTRUCTOR> Edk2LibraryConstructors ();

  /// Makes a new image handle (with a Loaded Image protocol), runs
  /// Edk2LibraryConstructors () and the entry point, and returns its status.
  EFI_STATUS
  StartModule (EFI_IMAGE_ENTRY_POINT EntryPoint);

  /// As above with an explicit constructor and destructor list. A failing
  /// constructor is reported as ASSERT_EFI_ERROR through the module's
  /// DebugLib and the next one runs, as in generated code.
  EFI_STATUS
  StartModule (const MODULE_IMAGE &Image);

  /// Image handle of the last module started (or the model's own image).
  EFI_HANDLE
  ImageHandle () const
  {
    return mImageHandle;
  }

  //
  // Handle database.
  //

  /// InstallProtocolInterface with a native interface; returns the handle.
  EFI_HANDLE
  InstallProtocol (EFI_HANDLE Handle, const EFI_GUID &Protocol, VOID *Interface);

  /// The interface of Protocol on Handle, without opening it (or nullptr).
  VOID *FindProtocol (EFI_HANDLE Handle, const EFI_GUID &Protocol) const;

  std::vector<EFI_HANDLE> HandlesWith (const EFI_GUID &Protocol) const;

  std::vector<OPEN_RECORD> OpenRecords (EFI_HANDLE Handle, const EFI_GUID &Protocol) const;

  BOOLEAN
  IsValidHandle (EFI_HANDLE Handle) const;

  /// Handles that have opened a protocol of Controller BY_CHILD_CONTROLLER.
  std::vector<EFI_HANDLE> ChildrenOf (EFI_HANDLE Controller) const;

  EFI_STATUS
  ConnectController (EFI_HANDLE Controller, EFI_DEVICE_PATH_PROTOCOL *RemainingDevicePath = nullptr);

  EFI_STATUS
  DisconnectController (
    EFI_HANDLE Controller,
    EFI_HANDLE DriverImageHandle = nullptr,
    EFI_HANDLE ChildHandle       = nullptr
  );

  const std::vector<BINDING_CALL> &BindingCalls () const;

  /// The Nth call of Kind through the boot services table from now (1 = the
  /// next) answers Status and changes nothing, once. The model's own uses of
  /// these services (HandleProtocol, the test-facing helpers) are not counted.
  void FailBootService (BOOT_SERVICE_KIND Kind, UINTN Nth, EFI_STATUS Status);

  /// Calls of Kind made so far through the boot services table.
  UINTN
  BootServiceCalls (BOOT_SERVICE_KIND Kind) const;

  //
  // Events and task priority.
  //

  EFI_TPL
  CurrentTpl () const;

  /// Signals every event of the group (e.g. gEfiEventExitBootServicesGuid).
  void SignalEventGroup (const EFI_GUID &Group);

  BOOLEAN
  IsEventOpen (EFI_EVENT Event) const;

  UINTN
  OpenEventCount () const;

  //
  // Other services.
  //

  const std::vector<STALL_RECORD> &
  Stalls () const
  {
    return mStalls;
  }

  void RecordStall (UINTN Microseconds);

  /// The configuration table entry for Guid, or nullptr.
  VOID *ConfigurationTable (const EFI_GUID &Guid) const;

  //
  // Fatal assertions. The DebugLib instances end a fatal assertion in
  // CpuDeadLoop (); the host build links CpuDeadLoop and CpuBreakpoint to
  // the model (-Wl,--wrap). Inside ExpectDeadLoop the dead loop abandons
  // Body and returns TRUE; the assertion text is wherever the DebugLib put
  // it (Ports.Uart.Text () for the serial DebugLib). Outside, a dead loop
  // fails the test and returns to its caller, as a debugger stepping past
  // the loop would. A breakpoint returns to its caller; unless allowed, it
  // fails the test. An abandoned Body runs no destructors: make objects that
  // own memory (a MODULE_IMAGE, a std::vector) outside it, or LeakSanitizer
  // reports them at exit.
  //

  BOOLEAN
  ExpectDeadLoop (const std::function<void ()> &Body);

  UINTN
  DeadLoops () const
  {
    return mDeadLoops;
  }

  UINTN
  Breakpoints () const
  {
    return mBreakpoints;
  }

  void
  AllowBreakpoints (BOOLEAN Allow)
  {
    mAllowBreakpoints = Allow;
  }

  // Used by the CpuDeadLoop/CpuBreakpoint wrappers.
  void OnDeadLoop ();

  void OnBreakpoint ();

  BOOT_SERVICES_STATE &
  Boot ()
  {
    return *mBoot;
  }

private:
  void ResetLibraryCaches ();

  EFI_HANDLE
  NewImageHandle ();

  UINT64                               mSequence = 0;
  std::unique_ptr<BOOT_SERVICES_STATE> mBoot;
  MODULE_IMAGE                         mModule      = {};
  EFI_HANDLE                           mImageHandle = nullptr;
  std::vector<STALL_RECORD>            mStalls;
  UINTN                                mDeadLoops        = 0;
  UINTN                                mBreakpoints      = 0;
  BOOLEAN                              mAllowBreakpoints = FALSE;
  VOID                                *mDeadLoopJump     = nullptr;
};

//
// A host test executable links its own objects from an archive, without
// --whole-archive, so a test file that nothing references is left out and
// its tests never run. Each test file other than the one with main () names
// itself with HOST_MODEL_TEST_FILE (Name), and the file with main () pulls
// it in with HOST_MODEL_USES_TEST_FILE (Name).
//
#define HOST_MODEL_TEST_FILE(Name)                                                                                     \
  extern "C" {                                                                                                         \
  int HostModelTestFile##Name = 0;                                                                                     \
  }
#define HOST_MODEL_USES_TEST_FILE(Name)                                                                                \
  extern "C" {                                                                                                         \
  extern int HostModelTestFile##Name;                                                                                  \
  }                                                                                                                    \
  static int *const mHostModelUses##Name __attribute__ ((used)) = &HostModelTestFile##Name

/// GoogleTest fixture: a fresh model for every test.
class HOST_MODEL_TEST : public ::testing::Test {
protected:
  HOST_MODEL Model;
};

#endif
