/** @file
  IoLib for host tests: port I/O goes to the host model's port space, MMIO
  is a plain volatile access of the (host) address. EDK II's PciCf8Lib and
  16550 serial-port library run unchanged on it.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include <HostModel.h>

extern "C" {
#include <Library/BaseLib.h>
#include <Library/IoLib.h>
}

namespace {

template <typename T>
T
PortRead (UINTN Port)
{
  if (sizeof (T) == 8) {
    ADD_FAILURE () << "64-bit port I/O at 0x" << std::hex << Port;
    return 0;
  }

  return (T)HOST_MODEL::Current ().Ports.Read ((UINT16)Port, (UINT8)sizeof (T));
}

template <typename T>
T
PortWrite (UINTN Port, T Value)
{
  if (sizeof (T) == 8) {
    ADD_FAILURE () << "64-bit port I/O at 0x" << std::hex << Port;
    return Value;
  }

  HOST_MODEL::Current ().Ports.Write ((UINT16)Port, (UINT8)sizeof (T), (UINT32)Value);
  return Value;
}

template <typename T>
T
MmioRd (UINTN Address)
{
  return *(volatile T *)Address;
}

template <typename T>
T
MmioWr (UINTN Address, T Value)
{
  *(volatile T *)Address = Value;
  return Value;
}

/// Bits StartBit..EndBit of Value, at bit 0.
template <typename T>
T
FieldRead (T Value, UINTN StartBit, UINTN EndBit)
{
  UINT64 Mask = (EndBit - StartBit + 1 >= 64) ? ~0ULL : ((1ULL << (EndBit - StartBit + 1)) - 1);

  return (T)(((UINT64)Value >> StartBit) & Mask);
}

/// Value with bits StartBit..EndBit replaced by (field AND AndData) OR OrData.
template <typename T>
T
FieldAndThenOr (T Value, UINTN StartBit, UINTN EndBit, UINT64 AndData, UINT64 OrData)
{
  UINT64 Width = EndBit - StartBit + 1;
  UINT64 Mask  = (Width >= 64) ? ~0ULL : ((1ULL << Width) - 1);
  UINT64 Field = ((((UINT64)Value >> StartBit) & Mask) & AndData) | (OrData & Mask);

  return (T)(((UINT64)Value & ~(Mask << StartBit)) | ((Field & Mask) << StartBit));
}

} // namespace

//
// The IoLib functions, generated per width for ports (Io) and memory (Mmio)
// from the two primitives above.
//
#define HOST_IO_WIDTH(Prefix, Bits, Rd, Wr)                                                                            \
  extern "C" UINT##Bits EFIAPI Prefix##Read##Bits (UINTN A)                                                            \
  {                                                                                                                    \
    return Rd<UINT##Bits> (A);                                                                                         \
  }                                                                                                                    \
  extern "C" UINT##Bits EFIAPI Prefix##Write##Bits (UINTN A, UINT##Bits V)                                             \
  {                                                                                                                    \
    return Wr<UINT##Bits> (A, V);                                                                                      \
  }                                                                                                                    \
  extern "C" UINT##Bits EFIAPI Prefix##Or##Bits (UINTN A, UINT##Bits O)                                                \
  {                                                                                                                    \
    return Wr<UINT##Bits> (A, (UINT##Bits) (Rd<UINT##Bits> (A) | O));                                                  \
  }                                                                                                                    \
  extern "C" UINT##Bits EFIAPI Prefix##And##Bits (UINTN A, UINT##Bits N)                                               \
  {                                                                                                                    \
    return Wr<UINT##Bits> (A, (UINT##Bits) (Rd<UINT##Bits> (A) & N));                                                  \
  }                                                                                                                    \
  extern "C" UINT##Bits EFIAPI Prefix##AndThenOr##Bits (UINTN A, UINT##Bits N, UINT##Bits O)                           \
  {                                                                                                                    \
    return Wr<UINT##Bits> (A, (UINT##Bits) ((Rd<UINT##Bits> (A) & N) | O));                                            \
  }                                                                                                                    \
  extern "C" UINT##Bits EFIAPI Prefix##BitFieldRead##Bits (UINTN A, UINTN S, UINTN E)                                  \
  {                                                                                                                    \
    return FieldRead<UINT##Bits> (Rd<UINT##Bits> (A), S, E);                                                           \
  }                                                                                                                    \
  extern "C" UINT##Bits EFIAPI Prefix##BitFieldWrite##Bits (UINTN A, UINTN S, UINTN E, UINT##Bits V)                   \
  {                                                                                                                    \
    return Wr<UINT##Bits> (A, FieldAndThenOr<UINT##Bits> (Rd<UINT##Bits> (A), S, E, 0, V));                            \
  }                                                                                                                    \
  extern "C" UINT##Bits EFIAPI Prefix##BitFieldOr##Bits (UINTN A, UINTN S, UINTN E, UINT##Bits O)                      \
  {                                                                                                                    \
    return Wr<UINT##Bits> (A, FieldAndThenOr<UINT##Bits> (Rd<UINT##Bits> (A), S, E, ~0ULL, O));                        \
  }                                                                                                                    \
  extern "C" UINT##Bits EFIAPI Prefix##BitFieldAnd##Bits (UINTN A, UINTN S, UINTN E, UINT##Bits N)                     \
  {                                                                                                                    \
    return Wr<UINT##Bits> (A, FieldAndThenOr<UINT##Bits> (Rd<UINT##Bits> (A), S, E, N, 0));                            \
  }                                                                                                                    \
  extern "C" UINT##Bits EFIAPI Prefix##BitFieldAndThenOr##Bits (UINTN A, UINTN S, UINTN E, UINT##Bits N, UINT##Bits O) \
  {                                                                                                                    \
    return Wr<UINT##Bits> (A, FieldAndThenOr<UINT##Bits> (Rd<UINT##Bits> (A), S, E, N, O));                            \
  }

HOST_IO_WIDTH (Io, 8, PortRead, PortWrite)
HOST_IO_WIDTH (Io, 16, PortRead, PortWrite)
HOST_IO_WIDTH (Io, 32, PortRead, PortWrite)
HOST_IO_WIDTH (Io, 64, PortRead, PortWrite)
HOST_IO_WIDTH (Mmio, 8, MmioRd, MmioWr)
HOST_IO_WIDTH (Mmio, 16, MmioRd, MmioWr)
HOST_IO_WIDTH (Mmio, 32, MmioRd, MmioWr)
HOST_IO_WIDTH (Mmio, 64, MmioRd, MmioWr)

#define HOST_IO_FIFO(Bits)                                                                                             \
  extern "C" VOID EFIAPI IoReadFifo##Bits (UINTN Port, UINTN Count, VOID *Buffer)                                      \
  {                                                                                                                    \
    for (UINTN I = 0; I < Count; I++) {                                                                                \
      ((UINT##Bits *)Buffer)[I] = PortRead<UINT##Bits> (Port);                                                         \
    }                                                                                                                  \
  }                                                                                                                    \
  extern "C" VOID EFIAPI IoWriteFifo##Bits (UINTN Port, UINTN Count, VOID *Buffer)                                     \
  {                                                                                                                    \
    for (UINTN I = 0; I < Count; I++) {                                                                                \
      PortWrite<UINT##Bits> (Port, ((UINT##Bits *)Buffer)[I]);                                                         \
    }                                                                                                                  \
  }

HOST_IO_FIFO (8)
HOST_IO_FIFO (16)
HOST_IO_FIFO (32)

#define HOST_MMIO_BUFFER(Bits)                                                                                         \
  extern "C" UINT##Bits *EFIAPI MmioReadBuffer##Bits (UINTN Start, UINTN Length, UINT##Bits *Buffer)                   \
  {                                                                                                                    \
    for (UINTN I = 0; I < Length / sizeof (UINT##Bits); I++) {                                                         \
      Buffer[I] = MmioRd<UINT##Bits> (Start + I * sizeof (UINT##Bits));                                                \
    }                                                                                                                  \
    return Buffer;                                                                                                     \
  }                                                                                                                    \
  extern "C" UINT##Bits *EFIAPI MmioWriteBuffer##Bits (UINTN Start, UINTN Length, CONST UINT##Bits *Buffer)            \
  {                                                                                                                    \
    for (UINTN I = 0; I < Length / sizeof (UINT##Bits); I++) {                                                         \
      MmioWr<UINT##Bits> (Start + I * sizeof (UINT##Bits), Buffer[I]);                                                 \
    }                                                                                                                  \
    return (UINT##Bits *)Buffer;                                                                                       \
  }

HOST_MMIO_BUFFER (8)
HOST_MMIO_BUFFER (16)
HOST_MMIO_BUFFER (32)
HOST_MMIO_BUFFER (64)
