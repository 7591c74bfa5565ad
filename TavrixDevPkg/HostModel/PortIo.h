/** @file
  Host platform model: the I/O port space (legacy VGA ports, PCI configuration
  mechanism 1 with a bridge, the 16550 UART).

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef HOST_MODEL_PORT_IO_H_
#define HOST_MODEL_PORT_IO_H_

#include "ModelCommon.h"

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

  /// Where the controller answers: behind the bridge (bus 1, 0, 0 by
  /// default), or on bus 0 itself (the root bus, no bridge in front).
  void SetControllerLocation (UINT8 Bus, UINT8 Device, UINT8 Function);

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
  UINT32                     mCf8 = 0;
  UINT8                      mBridge[256];
  UINT8                      mBridgeDevice = 0x1C, mBridgeFunction = 0;
  UINT8                      mBus = 1, mDevice = 0, mFunction = 0;
};

#endif
