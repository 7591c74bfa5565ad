/** @file
  The display controller before PCI enumeration: legacy VGA routing through
  the bridge above it, and the fixed frame aperture.

  Behind a bridge (a root port) on bus 0: before the PCI bus driver runs,
  nothing has given that bridge bus numbers, so the controller does not
  answer configuration cycles and neither its legacy VGA resources nor its
  aperture decode. This code gives the bridge the bus numbers that
  Prelumen's text mode also writes (primary 0, secondary 1, subordinate 8)
  and reads the controller's IDs; only once the controller has answered
  there does it close the bridge's memory and I/O windows (the controller's
  BARs are not assigned yet, so nothing behind it may be reached through
  them), and turns on the bridge's VGA forwarding, which Prelumen does not
  touch: without it the legacy VGA ports (the bank registers) and VGA text
  memory never reach the controller. When something else answers, or
  nothing does, the bridge gets its old bus numbers back and is otherwise
  left as it was.

  On the root bus (bus 0) there is nothing to route: the controller answers
  configuration cycles and, once its decoding is on, the legacy VGA
  resources directly. It is found there by its IDs when the configured
  location holds nothing (FindOnRootBus).

  The aperture (the whole frame buffer, linearly, at 0x92000000) decodes
  while bit 0 of the controller's configuration register 0x40 and its memory
  decoding are on. It is claimed on the root bus, so it needs no bridge
  window. It is turned on only in graphics mode, where Prelumen draws into
  it; text mode needs only the legacy VGA routing. Whether it may decode on
  this machine at all is the caller's question (ApertureReservation.c).

  The controller shows its VGA text screen until channel B is programmed, so
  in graphics mode the early frame (the display-information HOB's size, 32
  bits per pixel, from the start of the frame buffer) is put on the screen
  here: channel B's registers are in BAR 1, which is reached for the three
  writes through a BAR 1 address (and, behind a bridge, a bridge window) of
  its own, taken away again at once.

  The PCI bus driver reassigns bus numbers, windows and BARs when it
  enumerates, later in DXE.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "PlatformEarlyVideoPei.h"

#include <IndustryStandard/Pci.h>
#include <IndustryStandard/TavrixDisplayController.h>
#include <Library/DebugLib.h>
#include <Library/IoLib.h>
#include <Library/PcdLib.h>
#include <Library/PciCf8Lib.h>
#include <Library/PrintLib.h>
#include <Library/BaseLib.h>

/// Channel B's display control for the early frame: 32-bit pixels, shown.
#define CHANNEL_B_32BIT_SHOWN  (TAVRIX_PIXEL_FORMAT_32 | TAVRIX_B_CONTROL_DISPLAY_ENABLE)

/// The bus numbers Prelumen's text mode writes into the bridge.
#define BRIDGE_SECONDARY_BUS    1
#define BRIDGE_SUBORDINATE_BUS  8

STATIC
UINTN
ConfigAddress (
  IN CONST PCI_LOCATION  *Location,
  IN UINTN               Register
  )
{
  return PCI_CF8_LIB_ADDRESS (Location->Bus, Location->Device, Location->Function, Register);
}

/**
  Closes the bridge's windows and turns on its legacy VGA forwarding and its
  I/O and memory decoding; its bus numbers are set already.
**/
STATIC
VOID
OpenBridge (
  IN CONST PCI_LOCATION  *Bridge
  )
{
  //
  // Base above limit closes a window.
  //
  PciCf8Write8 (ConfigAddress (Bridge, OFFSET_OF (PCI_TYPE01, Bridge.IoBase)), 0xF0);
  PciCf8Write8 (ConfigAddress (Bridge, OFFSET_OF (PCI_TYPE01, Bridge.IoLimit)), 0x00);
  PciCf8Write16 (ConfigAddress (Bridge, OFFSET_OF (PCI_TYPE01, Bridge.MemoryBase)), 0xFFF0);
  PciCf8Write16 (ConfigAddress (Bridge, OFFSET_OF (PCI_TYPE01, Bridge.MemoryLimit)), 0x0000);
  PciCf8Write16 (ConfigAddress (Bridge, OFFSET_OF (PCI_TYPE01, Bridge.PrefetchableMemoryBase)), 0xFFF0);
  PciCf8Write16 (ConfigAddress (Bridge, OFFSET_OF (PCI_TYPE01, Bridge.PrefetchableMemoryLimit)), 0x0000);

  PciCf8Or16 (ConfigAddress (Bridge, PCI_BRIDGE_CONTROL_REGISTER_OFFSET), EFI_PCI_BRIDGE_CONTROL_VGA);
  PciCf8Or16 (ConfigAddress (Bridge, PCI_COMMAND_OFFSET), EFI_PCI_COMMAND_IO_SPACE | EFI_PCI_COMMAND_MEMORY_SPACE);
}

/**
  Programs channel B to show a Width x Height frame of 32-bit pixels from
  the start of the frame buffer, through a BAR 1 address, and a window of
  the bridge (NULL on the root bus), that exist only for these writes.
  FALSE for a frame the controller cannot show.
**/
STATIC
BOOLEAN
ShowEarlyFrame (
  IN CONST PCI_LOCATION  *Bridge   OPTIONAL,
  IN CONST PCI_LOCATION  *Controller,
  IN UINT32              Width,
  IN UINT32              Height
  )
{
  UINT16  Window;

  //
  // The active-size fields hold 11 bits each, and the frame must fit the
  // 32 MiB frame buffer.
  //
  if ((Width == 0) || (Width > 2048) || (Height == 0) || (Height > 2048) || (Width * Height > SIZE_32MB / 4)) {
    return FALSE;
  }

  if (Bridge != NULL) {
    Window = (UINT16)((REGISTERS_TEMPORARY_BASE >> 16) & 0xFFF0);
    PciCf8Write16 (ConfigAddress (Bridge, OFFSET_OF (PCI_TYPE01, Bridge.MemoryBase)), Window);
    PciCf8Write16 (ConfigAddress (Bridge, OFFSET_OF (PCI_TYPE01, Bridge.MemoryLimit)), Window);
  }

  PciCf8Write32 (ConfigAddress (Controller, PCI_BASE_ADDRESSREG_OFFSET + 4), REGISTERS_TEMPORARY_BASE);

  MmioWrite32 (REGISTERS_TEMPORARY_BASE + TAVRIX_REG_B_ACTIVE_SIZE, ((Height - 1) << 16) | (Width - 1));
  MmioWrite32 (REGISTERS_TEMPORARY_BASE + TAVRIX_REG_B_PITCH, Width * 4);
  MmioWrite32 (REGISTERS_TEMPORARY_BASE + TAVRIX_REG_B_DISPLAY_CONTROL, CHANNEL_B_32BIT_SHOWN);

  PciCf8Write32 (ConfigAddress (Controller, PCI_BASE_ADDRESSREG_OFFSET + 4), 0);
  if (Bridge != NULL) {
    PciCf8Write16 (ConfigAddress (Bridge, OFFSET_OF (PCI_TYPE01, Bridge.MemoryBase)), 0xFFF0);
    PciCf8Write16 (ConfigAddress (Bridge, OFFSET_OF (PCI_TYPE01, Bridge.MemoryLimit)), 0x0000);
  }

  return TRUE;
}

/**
  Turns the controller's I/O and memory decoding on, which lets it answer
  the legacy VGA ports and memory (its BARs are still 0 and reached through
  no window) and, in graphics mode, its aperture, and shows the early frame.
  Logs what it did; Where says where the controller sits.
**/
STATIC
VOID
TurnControllerOn (
  IN BOOLEAN             GraphicsMode,
  IN CONST PCI_LOCATION  *Bridge   OPTIONAL,
  IN CONST PCI_LOCATION  *Controller
  )
{
  BOOLEAN  Shown;
  CHAR8    Where[24];

  PciCf8Or16 (ConfigAddress (Controller, PCI_COMMAND_OFFSET), EFI_PCI_COMMAND_IO_SPACE | EFI_PCI_COMMAND_MEMORY_SPACE);
  Shown = FALSE;
  if (GraphicsMode) {
    PciCf8Or8 (ConfigAddress (Controller, TAVRIX_CONFIG_APERTURE_CONTROL), TAVRIX_APERTURE_ENABLE);
    Shown = ShowEarlyFrame (Bridge, Controller, PcdGet32 (PcdVideoHorizontalResolution), PcdGet32 (PcdVideoVerticalResolution));
  }

  if (Bridge != NULL) {
    AsciiSPrint (Where, sizeof (Where), "behind 0:%x.%x", Bridge->Device, Bridge->Function);
  } else {
    AsciiStrCpyS (Where, sizeof (Where), "on the root bus");
  }

  DEBUG ((
    DEBUG_INFO,
    "PlatformEarlyVideoPei: controller at %02x:%02x.%x %a, legacy VGA routed%a\n",
    Controller->Bus,
    Controller->Device,
    Controller->Function,
    Where,
    GraphicsMode ? (Shown ? ", aperture on, early frame shown" : ", aperture on, early frame too large to show") : ""
    ));
}

/**
  TRUE when the function at Location answers with the controller's IDs;
  otherwise says what answered.
**/
STATIC
BOOLEAN
IsDisplayController (
  IN CONST PCI_LOCATION  *Location
  )
{
  UINT16  Vendor;
  UINT16  Device;

  Vendor = PciCf8Read16 (ConfigAddress (Location, PCI_VENDOR_ID_OFFSET));
  Device = PciCf8Read16 (ConfigAddress (Location, PCI_DEVICE_ID_OFFSET));
  if ((Vendor == TAVRIX_PCI_VENDOR_ID) && (Device == TAVRIX_PCI_DEVICE_ID)) {
    return TRUE;
  }

  DEBUG ((
    DEBUG_WARN,
    "PlatformEarlyVideoPei: %02x:%02x.%x is %04x:%04x, not the display controller\n",
    Location->Bus,
    Location->Device,
    Location->Function,
    Vendor,
    Device
    ));
  return FALSE;
}

/**
  Gives the bridge its bus numbers and reads the IDs of the function at
  Controller behind it. Unless that is the display controller, the bridge's
  old bus numbers are written back.

  @retval TRUE  The display controller answered; the bus numbers stay.
**/
STATIC
BOOLEAN
ProbeController (
  IN CONST PCI_LOCATION  *Bridge,
  IN CONST PCI_LOCATION  *Controller
  )
{
  UINT32  BusNumbers;

  BusNumbers = PciCf8Read32 (ConfigAddress (Bridge, PCI_BRIDGE_PRIMARY_BUS_REGISTER_OFFSET));
  PciCf8Write8 (ConfigAddress (Bridge, PCI_BRIDGE_PRIMARY_BUS_REGISTER_OFFSET), 0);
  PciCf8Write8 (ConfigAddress (Bridge, PCI_BRIDGE_SECONDARY_BUS_REGISTER_OFFSET), BRIDGE_SECONDARY_BUS);
  PciCf8Write8 (ConfigAddress (Bridge, PCI_BRIDGE_SUBORDINATE_BUS_REGISTER_OFFSET), BRIDGE_SUBORDINATE_BUS);
  if (IsDisplayController (Controller)) {
    return TRUE;
  }

  PciCf8Write8 (ConfigAddress (Bridge, PCI_BRIDGE_SUBORDINATE_BUS_REGISTER_OFFSET), (UINT8)(BusNumbers >> 16));
  PciCf8Write8 (ConfigAddress (Bridge, PCI_BRIDGE_SECONDARY_BUS_REGISTER_OFFSET), (UINT8)(BusNumbers >> 8));
  PciCf8Write8 (ConfigAddress (Bridge, PCI_BRIDGE_PRIMARY_BUS_REGISTER_OFFSET), (UINT8)BusNumbers);
  return FALSE;
}

/**
  The controller behind the bridge at bus 0, Bridge's device and function:
  bus numbers, then IDs, then the bridge opened and the controller on.
**/
STATIC
BOOLEAN
SetUpBehindBridge (
  IN BOOLEAN             GraphicsMode,
  IN CONST PCI_LOCATION  *Bridge,
  IN CONST PCI_LOCATION  *Controller
  )
{
  if ((PciCf8Read16 (ConfigAddress (Bridge, PCI_VENDOR_ID_OFFSET)) == 0xFFFF) ||
      (PciCf8Read8 (ConfigAddress (Bridge, PCI_CLASSCODE_OFFSET + 2)) != PCI_CLASS_BRIDGE) ||
      (PciCf8Read8 (ConfigAddress (Bridge, PCI_CLASSCODE_OFFSET + 1)) != PCI_CLASS_BRIDGE_P2P))
  {
    DEBUG ((DEBUG_WARN, "PlatformEarlyVideoPei: no PCI bridge at 0:%x.%x\n", Bridge->Device, Bridge->Function));
    return FALSE;
  }

  //
  // The controller's bus must lie between the bridge's secondary and
  // subordinate bus for configuration cycles to reach it.
  //
  if ((Controller->Bus < BRIDGE_SECONDARY_BUS) || (Controller->Bus > BRIDGE_SUBORDINATE_BUS)) {
    DEBUG ((DEBUG_WARN, "PlatformEarlyVideoPei: controller bus %u is not behind the bridge\n", Controller->Bus));
    return FALSE;
  }

  if (!ProbeController (Bridge, Controller)) {
    return FALSE;
  }

  OpenBridge (Bridge);
  TurnControllerOn (GraphicsMode, Bridge, Controller);
  return TRUE;
}

BOOLEAN
SetUpController (
  IN BOOLEAN                     GraphicsMode,
  IN CONST EARLY_VIDEO_LOCATION  *Location
  )
{
  PCI_LOCATION  Bridge;
  PCI_LOCATION  Controller;

  Controller.Bus      = (UINT8)(Location->DeviceLocation >> 24);
  Controller.Device   = (UINT8)((Location->DeviceLocation >> 16) & 0x1F);
  Controller.Function = (UINT8)((Location->DeviceLocation >> 8) & 0x07);
  if (Controller.Bus != 0) {
    Bridge.Bus      = 0;
    Bridge.Device   = Location->BridgeDevice & 0x1F;
    Bridge.Function = Location->BridgeFunction & 0x07;
    return SetUpBehindBridge (GraphicsMode, &Bridge, &Controller);
  }

  //
  // On the root bus: nothing in front of the controller to open.
  //
  if (!IsDisplayController (&Controller)) {
    return FALSE;
  }

  TurnControllerOn (GraphicsMode, NULL, &Controller);
  return TRUE;
}

BOOLEAN
FindOnRootBus (
  OUT EARLY_VIDEO_LOCATION  *Location
  )
{
  PCI_LOCATION  Candidate;
  UINT32        Ids;

  Candidate.Bus = 0;
  for (Candidate.Device = 0; Candidate.Device < 32; Candidate.Device++) {
    for (Candidate.Function = 0; Candidate.Function < 8; Candidate.Function++) {
      Ids = PciCf8Read32 (ConfigAddress (&Candidate, PCI_VENDOR_ID_OFFSET));
      if (Ids == ((UINT32)TAVRIX_PCI_DEVICE_ID << 16 | TAVRIX_PCI_VENDOR_ID)) {
        Location->DeviceLocation = ((UINT32)Candidate.Device << 16) | ((UINT32)Candidate.Function << 8);
        Location->BridgeDevice   = Candidate.Device;
        Location->BridgeFunction = Candidate.Function;
        return TRUE;
      }

      //
      // Functions 1-7 exist only beside a function 0 of a multi-function
      // device.
      //
      if ((Candidate.Function == 0) &&
          (((UINT16)Ids == 0xFFFF) || ((PciCf8Read8 (ConfigAddress (&Candidate, PCI_HEADER_TYPE_OFFSET)) & HEADER_TYPE_MULTI_FUNCTION) == 0)))
      {
        break;
      }
    }
  }

  return FALSE;
}
