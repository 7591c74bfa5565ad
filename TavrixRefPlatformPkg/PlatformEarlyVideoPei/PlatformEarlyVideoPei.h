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

/**
  Applies the boot-time settings of Prelumen's configuration values (QEMU
  firmware-configuration files opt/org.tavrix/early-video-*) to the PCD
  database, and returns the debug level chosen at boot, or the platform
  default.
**/
UINT32
ApplyBootSettings (VOID);

/**
  Routes legacy VGA through the bridge to the controller and, in graphics
  mode, turns the controller's frame aperture on.

  @retval TRUE   The controller answered at its configured location.
  @retval FALSE  No bridge or no controller there; nothing was turned on.
**/
BOOLEAN
SetUpController (IN BOOLEAN GraphicsMode);

#endif
