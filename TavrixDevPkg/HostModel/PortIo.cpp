/** @file
  The I/O port space: legacy VGA ports, PCI configuration mechanism 1 with
  a bridge and the display controller, and the 16550 UART at 0x3F8.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "HostModelInternal.h"

extern "C" {
#include <IndustryStandard/Pci.h>
}

namespace {

const UINT16 mUartBase       = 0x3F8;
const UINT16 mConfigAddress  = 0xCF8;
const UINT16 mConfigData     = 0xCFC;
const UINT8  mLcrDlab        = 0x80;
const UINT8  mLsrAlwaysReady = 0x60; // transmit holding and shift registers empty
const UINT8  mMsrConnected   = 0xB0; // carrier, data set ready, clear to send

/// Identity, class code and header type of a function do not take writes.
BOOLEAN
ReadOnlyConfigByte (UINT32 Offset)
{
  return Offset < 4 || (Offset >= 8 && Offset < 0x0C) || Offset == 0x0E;
}

/// The controller implements BAR 0 and BAR 1 only: BARs 2 to 5 read as 0.
BOOLEAN
UnimplementedControllerByte (UINT32 Offset)
{
  return (Offset >= 0x18) && (Offset < 0x28);
}

} // namespace

//
// UART
//

void
UART_16550::Preset (UINT16 Divisor, UINT8 LineControl)
{
  mDivisor = Divisor;
  mLcr     = LineControl;
}

UINT8
UART_16550::Read (UINT16 Register)
{
  BOOLEAN Dlab = (mLcr & mLcrDlab) != 0;

  switch (Register) {
    case 0:
      return Dlab ? (UINT8)mDivisor : 0;
    case 1:
      return Dlab ? (UINT8)(mDivisor >> 8) : mIer;
    case 2:
      return (mFcr & 1) != 0 ? 0xC1 : 0x01; // no interrupt pending
    case 3:
      return mLcr;
    case 4:
      return mMcr;
    case 5:
      return mLsrAlwaysReady;
    case 6:
      return mMsrConnected;
    default:
      return mScratch;
  }
}

void
UART_16550::Write (UINT16 Register, UINT8 Value)
{
  BOOLEAN Dlab = (mLcr & mLcrDlab) != 0;

  if ((Register == 0) && !Dlab) {
    mText.push_back ((char)Value);
    return;
  }

  if (Dlab && (Register <= 1)) {
    mDivisorWrites++;
  }

  switch (Register) {
    case 0:
      mDivisor = (UINT16)((mDivisor & 0xFF00) | Value);
      break;
    case 1:
      if (Dlab) {
        mDivisor = (UINT16)((mDivisor & 0x00FF) | (Value << 8));
      } else {
        mIer = Value;
      }

      break;
    case 2:
      mFcr = Value;
      mFifoWrites++;
      break;
    case 3:
      mLcr = Value;
      break;
    case 4:
      mMcr = Value;
      break;
    case 7:
      mScratch = Value;
      break;
    default:
      break; // line and modem status are read-only
  }
}

//
// Port space
//

PORT_IO_MODEL::PORT_IO_MODEL ()
{
  ZeroMem (mBridge, sizeof (mBridge));
  *(UINT16 *)&mBridge[PCI_VENDOR_ID_OFFSET] = 0x8086;
  *(UINT16 *)&mBridge[PCI_DEVICE_ID_OFFSET] = 0x2448;
  mBridge[PCI_CLASSCODE_OFFSET + 1]         = PCI_CLASS_BRIDGE_P2P;
  mBridge[PCI_CLASSCODE_OFFSET + 2]         = PCI_CLASS_BRIDGE;
  mBridge[PCI_HEADER_TYPE_OFFSET]           = HEADER_TYPE_PCI_TO_PCI_BRIDGE;
}

void
PORT_IO_MODEL::SetBridgeLocation (UINT8 Device, UINT8 Function)
{
  mBridgeDevice   = Device;
  mBridgeFunction = Function;
}

void
PORT_IO_MODEL::SetControllerLocation (UINT8 Bus, UINT8 Device, UINT8 Function)
{
  mBus      = Bus;
  mDevice   = Device;
  mFunction = Function;
}

/**
  The configuration space that answers a type-0 or type-1 cycle: the bridge
  at its place on bus 0, and the controller when its bus lies in the
  bridge's secondary..subordinate range. Nothing else answers.
**/
UINT8 *
PORT_IO_MODEL::DecodeConfig (UINT8 Bus, UINT8 Device, UINT8 Function)
{
  if ((Bus == 0) && (Device == mBridgeDevice) && (Function == mBridgeFunction)) {
    return mBridge;
  }

  UINT8   Secondary   = mBridge[PCI_BRIDGE_SECONDARY_BUS_REGISTER_OFFSET];
  UINT8   Subordinate = mBridge[PCI_BRIDGE_SUBORDINATE_BUS_REGISTER_OFFSET];
  BOOLEAN Reached     = (Bus == 0) || ((Bus >= Secondary) && (Bus <= Subordinate));

  if (Reached && (Bus == mBus) && (Device == mDevice) && (Function == mFunction)) {
    return HOST_MODEL::Current ().Controller.ConfigSpace ();
  }

  return nullptr;
}

UINT32
PORT_IO_MODEL::ConfigAccess (UINT16 Port, UINT8 Size, UINT32 Value, BOOLEAN IsWrite)
{
  UINT8  Bus      = (UINT8)(mCf8 >> 16);
  UINT8  Device   = (UINT8)((mCf8 >> 11) & 0x1F);
  UINT8  Function = (UINT8)((mCf8 >> 8) & 0x07);
  UINT16 Register = (UINT16)((mCf8 & 0xFC) + (Port - mConfigData));
  UINT8 *Space    = ((mCf8 & BIT31) != 0) ? DecodeConfig (Bus, Device, Function) : nullptr;
  UINT32 Result   = 0xFFFFFFFF;

  if ((Space != nullptr) && (Register + Size <= 256)) {
    if (IsWrite) {
      for (UINT8 Byte = 0; Byte < Size; Byte++) {
        if (!ReadOnlyConfigByte (Register + Byte) && !((Space == HOST_MODEL::Current ().Controller.ConfigSpace ()) && UnimplementedControllerByte (Register + Byte))) {
          Space[Register + Byte] = (UINT8)(Value >> (8 * Byte));
        }
      }

      if (Space == HOST_MODEL::Current ().Controller.ConfigSpace ()) {
        HOST_MODEL::Current ().Controller.ConfigWritten ();
      }
    } else {
      Result = 0;
      CopyMem (&Result, &Space[Register], Size);
    }
  }

  if (!IsWrite && (Size < 4)) {
    Result &= (1u << (8 * Size)) - 1;
  }

  mConfigLog.push_back (CONFIG_ACCESS{ HOST_MODEL::Current ().NextSequence (), Bus, Device, Function, Register, Size,
                                       IsWrite ? Value : Result, IsWrite, Space != nullptr });
  return Result;
}

UINT32
PORT_IO_MODEL::Read (UINT16 Port, UINT8 Size, BOOLEAN ThroughPciIo)
{
  if ((Port >= mUartBase) && (Port < mUartBase + 8)) {
    return Uart.Read ((UINT16)(Port - mUartBase));
  }

  if ((Port == mConfigAddress) && (Size == 4)) {
    return mCf8;
  }

  if ((Port >= mConfigData) && (Port + Size <= mConfigData + 4)) {
    return ConfigAccess (Port, Size, 0, FALSE);
  }

  //
  // The controller's extended VGA registers (banks, extended CRT indices)
  // answer from its core; nothing else answers.
  //
  UINT32 Value = 0xFFFFFFFF;
  UINT8  Byte;

  if ((Size == 1) && (TavrixCorePortRead (&HOST_MODEL::Current ().Controller.Core (), Port, &Byte) == TavrixPortClaimed)) {
    Value = Byte;
  }

  if (Size < 4) {
    Value &= (1u << (8 * Size)) - 1;
  }

  mLog.push_back (PORT_ACCESS{ HOST_MODEL::Current ().NextSequence (), Port, Value, Size, FALSE, ThroughPciIo });
  return Value;
}

void
PORT_IO_MODEL::Write (UINT16 Port, UINT8 Size, UINT32 Value, BOOLEAN ThroughPciIo)
{
  if ((Port >= mUartBase) && (Port < mUartBase + 8)) {
    Uart.Write ((UINT16)(Port - mUartBase), (UINT8)Value);
    return;
  }

  if ((Port == mConfigAddress) && (Size == 4)) {
    mCf8 = Value;
    return;
  }

  if ((Port >= mConfigData) && (Port + Size <= mConfigData + 4)) {
    ConfigAccess (Port, Size, Value, TRUE);
    return;
  }

  mLog.push_back (PORT_ACCESS{ HOST_MODEL::Current ().NextSequence (), Port, Value, Size, TRUE, ThroughPciIo });

  // The controller sees the bytes of the access in port order.
  for (UINT8 Byte = 0; Byte < Size; Byte++) {
    TavrixCorePortWrite (
      &HOST_MODEL::Current ().Controller.Core (), (UINT16)(Port + Byte), (UINT8)(Value >> (8 * Byte))
    );
  }
}

std::vector<UINT32>
PORT_IO_MODEL::WritesTo (UINT16 Port) const
{
  std::vector<UINT32> Values;

  for (const PORT_ACCESS &Access : mLog) {
    if (Access.IsWrite && (Access.Port == Port)) {
      Values.push_back (Access.Value);
    }
  }

  return Values;
}

std::vector<CONFIG_ACCESS>
PORT_IO_MODEL::ConfigWrites () const
{
  std::vector<CONFIG_ACCESS> Writes;

  for (const CONFIG_ACCESS &Access : mConfigLog) {
    if (Access.IsWrite) {
      Writes.push_back (Access);
    }
  }

  return Writes;
}

void
PORT_IO_MODEL::ClearLogs ()
{
  mLog.clear ();
  mConfigLog.clear ();
}
