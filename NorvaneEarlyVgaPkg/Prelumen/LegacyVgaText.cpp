/** @file
  Legacy VGA text output: routes legacy VGA to the controller through PCI
  configuration writes and prints strings into VGA text memory.

  The routing needs no driver model and no PCI enumeration, and it is redone
  before every print: whatever ran in between may have reprogrammed the
  bridge.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "Prelumen.h"

extern "C" {
#include <Library/PcdLib.h>
#include <Library/PciCf8Lib.h>
}

namespace {

//
// Configuration registers and the fixed values the routing writes.
//
constexpr UINTN PCI_REG_VENDOR_ID       = 0x00;
constexpr UINTN PCI_REG_DEVICE_ID       = 0x02;
constexpr UINTN PCI_REG_COMMAND         = 0x04;
constexpr UINTN PCI_REG_BAR0            = 0x10;
constexpr UINTN PCI_REG_PRIMARY_BUS     = 0x18;
constexpr UINTN PCI_REG_SECONDARY_BUS   = 0x19;
constexpr UINTN PCI_REG_SUBORDINATE_BUS = 0x1A;

constexpr UINT8  COMMAND_IO_AND_MEMORY  = 0x03;
constexpr UINT8  BRIDGE_PRIMARY_BUS     = 0;
constexpr UINT8  BRIDGE_SECONDARY_BUS   = 1;
constexpr UINT8  BRIDGE_SUBORDINATE_BUS = 8;
constexpr UINT32 CONTROLLER_BAR0        = 0x91000000;

/// Packed controller location of token 1: bus 31-24, device 20-16, function 10-8.
constexpr UINTN
LocationBus (UINT32 Location)
{
  return (Location >> 24) & 0xFF;
}

constexpr UINTN
LocationDevice (UINT32 Location)
{
  return (Location >> 16) & 0x1F;
}

constexpr UINTN
LocationFunction (UINT32 Location)
{
  return (Location >> 8) & 0x07;
}

/**
  Makes the bridge on bus 0 forward configuration cycles and legacy VGA
  decoding to buses 1 to 8. Its windows and bridge control stay as they are.
**/
VOID
OpenBridge (VOID)
{
  const UINTN Device   = LibPcdGetEx8 (&gEarlyVideoTokenSpaceGuid, TokenBridgeDevice) & 0x1F;
  const UINTN Function = LibPcdGetEx8 (&gEarlyVideoTokenSpaceGuid, TokenBridgeFunction) & 0x07;

  PciCf8Write8 (PCI_CF8_LIB_ADDRESS (0, Device, Function, PCI_REG_COMMAND), COMMAND_IO_AND_MEMORY);
  PciCf8Write8 (PCI_CF8_LIB_ADDRESS (0, Device, Function, PCI_REG_PRIMARY_BUS), BRIDGE_PRIMARY_BUS);
  PciCf8Write8 (PCI_CF8_LIB_ADDRESS (0, Device, Function, PCI_REG_SECONDARY_BUS), BRIDGE_SECONDARY_BUS);
  PciCf8Write8 (PCI_CF8_LIB_ADDRESS (0, Device, Function, PCI_REG_SUBORDINATE_BUS), BRIDGE_SUBORDINATE_BUS);
}

} // namespace

EFI_STATUS
RouteLegacyVga (OUT UINT16 *Vendor, OUT UINT16 *Device, OUT UINT32 *Location)
{
  if (mGopFound) {
    return EFI_UNSUPPORTED;
  }

  OpenBridge ();

  const UINT32 Packed = LibPcdGetEx32 (&gEarlyVideoTokenSpaceGuid, TokenDeviceLocation);
  const UINTN  Bus    = LocationBus (Packed);
  const UINTN  Dev    = LocationDevice (Packed);
  const UINTN  Func   = LocationFunction (Packed);

  //
  // The IDs are only reported: the location is the platform's word.
  //
  *Vendor = PciCf8Read16 (PCI_CF8_LIB_ADDRESS (Bus, Dev, Func, PCI_REG_VENDOR_ID));
  *Device = PciCf8Read16 (PCI_CF8_LIB_ADDRESS (Bus, Dev, Func, PCI_REG_DEVICE_ID));
  PciCf8Write8 (PCI_CF8_LIB_ADDRESS (Bus, Dev, Func, PCI_REG_COMMAND), COMMAND_IO_AND_MEMORY);
  PciCf8Write32 (PCI_CF8_LIB_ADDRESS (Bus, Dev, Func, PCI_REG_BAR0), CONTROLLER_BAR0);

  *Location = Packed;
  return EFI_SUCCESS;
}

/**
  Prints String from cell (Column, Row) on, one cell per byte, each with
  Attribute. Cells are linear, so a string that runs past column 79 goes on
  in the next row. Cells outside the 80 x 25 screen are dropped, whatever
  Row and Column the caller passes: text memory is never written outside
  the screen. Silent once a GOP has taken over the display.
**/
extern "C" EFI_STATUS EFIAPI
PrintString (IN VOID *This, IN UINT32 Column, IN UINT32 Row, IN UINT8 Attribute, IN CHAR8 *String)
{
  constexpr UINT64 ScreenCells = EARLY_VIDEO_TEXT_COLUMNS * EARLY_VIDEO_TEXT_ROWS;

  if (mGopFound) {
    return EFI_SUCCESS;
  }

  UINT16 Vendor;
  UINT16 Device;
  UINT32 Location;

  RouteLegacyVga (&Vendor, &Device, &Location);

  if (String == nullptr) {
    return EFI_SUCCESS;
  }

  volatile UINT8 *Text = reinterpret_cast<volatile UINT8 *> (EARLY_VIDEO_TEXT_BASE);

  //
  // 64-bit index: Row * 80 + Column cannot wrap back onto the screen.
  //
  for (UINT64 Cell = UINT64 (Row) * EARLY_VIDEO_TEXT_COLUMNS + Column; *String != '\0'; String++, Cell++) {
    if (Cell >= ScreenCells) {
      break;
    }

    Text[Cell * 2]     = static_cast<UINT8> (*String);
    Text[Cell * 2 + 1] = Attribute;
  }

  return EFI_SUCCESS;
}
