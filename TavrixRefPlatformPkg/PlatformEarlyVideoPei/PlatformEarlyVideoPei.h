/** @file
  PEI video initialisation of the reference platform: declarations shared by
  the module's files.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef PLATFORM_EARLY_VIDEO_PEI_H_
#define PLATFORM_EARLY_VIDEO_PEI_H_

#include <PiPei.h>

/// PCI location of a function on PCI configuration mechanism 1.
typedef struct {
  UINT8 Bus;
  UINT8 Device;
  UINT8 Function;
} PCI_LOCATION;

/// Where the bridge and the controller are, as Prelumen's configuration
/// values hold it: bridge device (token 4) and function (token 5) on bus 0,
/// the controller's packed location (token 1: bus in bits 31-24, device in
/// bits 20-16, function in bits 10-8).
typedef struct {
  UINT8  BridgeDevice;
  UINT8  BridgeFunction;
  UINT32 DeviceLocation;
} EARLY_VIDEO_LOCATION;

/**
  Applies the boot-time settings of Prelumen's configuration values (QEMU
  firmware-configuration files opt/org.tavrix/early-video-*) other than the
  location to the PCD database, and returns the debug level chosen at boot,
  or the platform default.
**/
UINT32
ApplyBootSettings (VOID);

/// The location the PCD database holds (the build's, until StoreLocation).
VOID GetLocation (OUT EARLY_VIDEO_LOCATION *Location);

/**
  Replaces the parts of Location that a boot-time setting gives; TRUE if
  any did. Nothing is stored: a location is stored only once the controller
  answered there.
**/
BOOLEAN
ReadBootLocation (IN OUT EARLY_VIDEO_LOCATION *Location);

/// Stores the location in the PCD database, where Prelumen reads it.
VOID StoreLocation (IN CONST EARLY_VIDEO_LOCATION *Location);

/**
  Routes legacy VGA through the bridge to the controller and, in graphics
  mode, turns the controller's frame aperture on.

  @retval TRUE   The controller answered at Location.
  @retval FALSE  No bridge there, the controller's bus is not behind it, or
                 something other than the controller answered; nothing was
                 turned on and the bridge's bus numbers are as they were.
**/
BOOLEAN
SetUpController (IN BOOLEAN GraphicsMode, IN CONST EARLY_VIDEO_LOCATION *Location);

#endif
