/** @file
  PEI video initialisation of the reference platform: declarations shared by
  the module's files.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef PLATFORM_EARLY_VIDEO_PEI_H_
#define PLATFORM_EARLY_VIDEO_PEI_H_

#include <PiPei.h>
#include <IndustryStandard/TavrixDisplayController.h>

/// PCI location of a function on PCI configuration mechanism 1.
typedef struct {
  UINT8 Bus;
  UINT8 Device;
  UINT8 Function;
} PCI_LOCATION;

/// Where the bridge and the controller are, as Prelumen's configuration
/// values hold it: bridge device (token 4) and function (token 5) on bus 0,
/// the controller's packed location (token 1: bus in bits 31-24, device in
/// bits 20-16, function in bits 10-8). A controller on bus 0 sits on the
/// root bus, with no bridge in front of it; the bridge values then name the
/// controller itself, so that the bus-number bytes Prelumen's text output
/// writes into "the bridge" land in the controller's BAR 2, which it does
/// not implement.
typedef struct {
  UINT8  BridgeDevice;
  UINT8  BridgeFunction;
  UINT32 DeviceLocation;
} EARLY_VIDEO_LOCATION;

/// The fixed frame aperture (FixedPcdGet32 needs Library/PcdLib.h).
#define APERTURE_BASE  ((EFI_PHYSICAL_ADDRESS)FixedPcdGet32 (PcdEarlyVideoApertureBase))
#define APERTURE_SIZE  ((UINT64)FixedPcdGet32 (PcdEarlyVideoApertureSize))

//
// The controller decodes its aperture at one fixed address; the PCDs only
// say where this platform reserves it, so a board that changes them must
// fail to build rather than reserve one range while the card decodes another.
//
STATIC_ASSERT (
  FixedPcdGet32 (PcdEarlyVideoApertureBase) == TAVRIX_APERTURE_BASE,
  "PcdEarlyVideoApertureBase is where the controller decodes its aperture"
  );
STATIC_ASSERT (
  FixedPcdGet32 (PcdEarlyVideoApertureSize) == TAVRIX_APERTURE_SIZE,
  "PcdEarlyVideoApertureSize is the controller's aperture size"
  );

/// Where BAR 1 (1 MiB) is put for the three channel-B writes that show the
/// early frame: not RAM (checked, ApertureReservation.c), not the aperture,
/// and below q35's PCI Express configuration space (0xB0000000).
#define REGISTERS_TEMPORARY_BASE  0x94000000
#define REGISTERS_TEMPORARY_SIZE  SIZE_1MB

/**
  Applies the boot-time settings of Prelumen's configuration values (QEMU
  firmware-configuration files opt/org.tavrix/early-video-*) other than the
  location to the PCD database, and returns the debug level chosen at boot,
  or the platform default.

  @param[out] GraphicsMode  Prelumen's mode as set at boot, or the build's.
**/
UINT32
ApplyBootSettings (
  OUT BOOLEAN  *GraphicsMode
  );

/// The location the PCD database holds (the build's, until StoreLocation).
VOID GetLocation (OUT EARLY_VIDEO_LOCATION *Location);

/**
  Replaces the parts of Location that a boot-time setting gives; TRUE if
  any did. Nothing is stored: a location is stored only once the controller
  answered there.
**/
BOOLEAN
ReadBootLocation (IN OUT EARLY_VIDEO_LOCATION *Location);

/// Stores the location in the PCD database, where Prelumen reads it; What
/// says in the log where the location came from.
VOID StoreLocation (IN CONST EARLY_VIDEO_LOCATION *Location, IN CONST CHAR8 *What);

/**
  Routes legacy VGA through the bridge to the controller (a controller on
  the root bus needs no routing) and, in graphics mode, turns the
  controller's frame aperture on and shows the early frame.

  @retval TRUE   The controller answered at Location.
  @retval FALSE  No bridge there, the controller's bus is not behind it, or
                 something other than the controller answered; nothing was
                 turned on and the bridge's bus numbers are as they were.
**/
BOOLEAN
SetUpController (IN BOOLEAN GraphicsMode, IN CONST EARLY_VIDEO_LOCATION *Location);

/**
  Looks for the controller on the root bus (bus 0), function by function.

  @param[out] Location  Where it answered, the bridge values naming the
                        controller itself (no bridge).

  @retval TRUE   Found; nothing was written.
  @retval FALSE  Not on the root bus.
**/
BOOLEAN
FindOnRootBus (OUT EARLY_VIDEO_LOCATION *Location);

/**
  Whether the aperture, and the temporary BAR 1 window that shows the early
  frame, may decode on this machine: neither overlaps the system memory the
  resource HOBs describe, and the aperture overlaps nothing else but, at
  most, one memory-mapped I/O window that holds all of it. Says why in the
  log when not.
**/
BOOLEAN
ApertureMayDecode (VOID);

/**
  The memory-mapped I/O window (resource descriptor HOB) that holds the
  whole aperture, or NULL when the aperture lies in no such window.
**/
EFI_HOB_RESOURCE_DESCRIPTOR *
ApertureWindow (VOID);

/**
  Reserves the aperture's range so that the DXE core never hands it out and
  the UEFI memory map lists it as reserved, moving the host bridge's PCI
  window off it when the aperture lies inside that window. Only after
  ApertureMayDecode said yes.
**/
VOID
ReserveAperture (VOID);

#endif
