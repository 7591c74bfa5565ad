/** @file
  PEI video initialisation of the reference platform.

  Leaves for the DXE phase what Prelumen reads there:
    - Prelumen's configuration values as chosen at boot (BootSettings.c);
    - the fallback debug-level HOB (gDebugMessageConfigGuid, 8 data bytes),
      which Prelumen uses while variable services are not up yet;
    - once the controller is set up for the early picture, the
      display-information HOB: the early frame's geometry, bank 0 selected,
      opaque text.
  It makes the controller reachable the legacy way (ControllerSetup.c) at
  the location chosen at boot, or the build's, only if the controller
  answers there (Prelumen's text output rewrites the registers of whatever
  sits at the stored location), and else on the root bus if it is found
  there. In graphics mode it turns the aperture on only where it may decode
  and reserves its range (ApertureReservation.c).

  The display-information HOB is the platform's word that the early picture
  can be shown: without a controller set up, or in graphics mode without an
  aperture, there is none, and the platform's display driver draws and
  prints nothing (a drawing into an aperture that is off, or text in VGA
  memory that no controller shows, would be reported as done for nothing).

  The early frame is drawn in the geometry the console will use
  (PcdVideoHorizontalResolution x PcdVideoVerticalResolution): once the GOP
  arrives, Prelumen keeps drawing with the HOB's row pitch into the GOP's
  frame buffer, so the two must agree.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "PlatformEarlyVideoPei.h"

#include <Guid/DebugMessageConfig.h>
#include <Guid/EarlyVideoInfoHob.h>
#include <Library/BaseMemoryLib.h>
#include <Library/DebugLib.h>
#include <Library/HobLib.h>
#include <Library/PcdLib.h>

/// The fallback HOB's data: the level, then four bytes Prelumen does not read.
typedef struct {
  UINT32    ErrorLevel;
  UINT32    Reserved;
} DEBUG_LEVEL_HOB_DATA;

STATIC_ASSERT (
  sizeof (EFI_HOB_GUID_TYPE) + sizeof (DEBUG_LEVEL_HOB_DATA) == 32,
  "Prelumen takes the fallback HOB only with a total length of 32 bytes"
  );

STATIC
EFI_STATUS
PublishDisplayInfo (
  VOID
  )
{
  EARLY_VIDEO_INFO  *Info;

  Info = BuildGuidHob (&gEarlyVideoInfoHobGuid, sizeof (EARLY_VIDEO_INFO));
  if (Info == NULL) {
    return EFI_OUT_OF_RESOURCES;
  }

  ZeroMem (Info, sizeof (*Info));
  Info->FrameWidth      = PcdGet32 (PcdVideoHorizontalResolution);
  Info->FrameHeight     = PcdGet32 (PcdVideoVerticalResolution);
  Info->CurrentBank     = 0;
  Info->TransparentText = 0;
  DEBUG ((
    DEBUG_INFO,
    "PlatformEarlyVideoPei: display-information HOB, frame %u x %u\n",
    Info->FrameWidth,
    Info->FrameHeight
    ));
  return EFI_SUCCESS;
}

STATIC
EFI_STATUS
PublishDebugLevel (
  IN UINT32  ErrorLevel
  )
{
  DEBUG_LEVEL_HOB_DATA  *Data;

  Data = BuildGuidHob (&gDebugMessageConfigGuid, sizeof (*Data));
  if (Data == NULL) {
    return EFI_OUT_OF_RESOURCES;
  }

  Data->ErrorLevel = ErrorLevel;
  Data->Reserved   = 0;
  return EFI_SUCCESS;
}

/**
  Sets the controller up at the location chosen at boot and stores that
  location if the controller answered there; otherwise, and without such a
  choice, at the build's location, which then stays in the PCD database;
  failing both, wherever it answers on the root bus, which is then stored.

  @retval TRUE  The controller is set up.
**/
STATIC
BOOLEAN
SetUpAtLocation (
  IN BOOLEAN  GraphicsMode
  )
{
  EARLY_VIDEO_LOCATION  Built;
  EARLY_VIDEO_LOCATION  Chosen;
  EARLY_VIDEO_LOCATION  Found;

  GetLocation (&Built);
  Chosen = Built;
  if (ReadBootLocation (&Chosen)) {
    if (SetUpController (GraphicsMode, &Chosen)) {
      StoreLocation (&Chosen, "chosen at boot");
      return TRUE;
    }

    DEBUG ((
      DEBUG_WARN,
      "PlatformEarlyVideoPei: location chosen at boot rejected, the build's stays (bridge 0x%x/0x%x, controller 0x%08x)\n",
      Built.BridgeDevice,
      Built.BridgeFunction,
      Built.DeviceLocation
      ));
  }

  if (SetUpController (GraphicsMode, &Built)) {
    return TRUE;
  }

  if (FindOnRootBus (&Found) && SetUpController (GraphicsMode, &Found)) {
    StoreLocation (&Found, "found on the root bus");
    return TRUE;
  }

  DEBUG ((DEBUG_WARN, "PlatformEarlyVideoPei: no display controller at the build's location or on the root bus: no early picture\n"));
  return FALSE;
}

EFI_STATUS
EFIAPI
PlatformEarlyVideoPeiEntryPoint (
  IN       EFI_PEI_FILE_HANDLE  FileHandle,
  IN CONST EFI_PEI_SERVICES     **PeiServices
  )
{
  UINT32      ErrorLevel;
  BOOLEAN     GraphicsMode;
  EFI_STATUS  Status;

  ErrorLevel = ApplyBootSettings (&GraphicsMode);
  DEBUG ((
    DEBUG_INFO,
    "PlatformEarlyVideoPei: Prelumen in %a mode, debug level 0x%x\n",
    GraphicsMode ? "graphics" : "text",
    ErrorLevel
    ));

  Status = PublishDebugLevel (ErrorLevel);
  if (EFI_ERROR (Status)) {
    DEBUG ((DEBUG_ERROR, "PlatformEarlyVideoPei: debug-level HOB not published: %r\n", Status));
    return Status;
  }

  if ((GraphicsMode && !ApertureMayDecode ()) || !SetUpAtLocation (GraphicsMode)) {
    return EFI_SUCCESS;
  }

  if (GraphicsMode) {
    ReserveAperture ();
  }

  Status = PublishDisplayInfo ();
  if (EFI_ERROR (Status)) {
    DEBUG ((DEBUG_ERROR, "PlatformEarlyVideoPei: display-information HOB not published: %r\n", Status));
  }

  return Status;
}
