/** @file
  PEI video initialisation of the reference platform.

  Leaves for the DXE phase what Prelumen reads there:
    - Prelumen's configuration values as chosen at boot (BootSettings.c);
    - the display-information HOB: the early frame's geometry, bank 0
      selected, opaque text;
    - the fallback debug-level HOB (gDebugMessageConfigGuid, 8 data bytes),
      which Prelumen uses while variable services are not up yet;
  and makes the controller reachable the legacy way (ControllerSetup.c), at
  the location chosen at boot only if the controller answers there: Prelumen's
  text output rewrites the registers of whatever sits at the stored location.

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
  Reports the aperture as reserved memory. The DXE core turns a reserved
  resource into reserved space in its memory map and hands that on in the
  UEFI memory map, so the operating system never places a BAR or anything
  else there; memory-mapped I/O would reach that map only with the runtime
  attribute. The aperture is turned off when boot services end at the
  latest; the range stays reserved, which costs the operating system
  nothing it could have used.
**/
STATIC
VOID
DescribeAperture (
  VOID
  )
{
  BuildResourceDescriptorHob (
    EFI_RESOURCE_MEMORY_RESERVED,
    EFI_RESOURCE_ATTRIBUTE_PRESENT | EFI_RESOURCE_ATTRIBUTE_INITIALIZED | EFI_RESOURCE_ATTRIBUTE_UNCACHEABLE,
    FixedPcdGet32 (PcdEarlyVideoApertureBase),
    FixedPcdGet32 (PcdEarlyVideoApertureSize)
    );
}

/**
  Sets the controller up at the location chosen at boot and stores that
  location if the controller answered there; otherwise, and without such a
  choice, at the build's location, which then stays in the PCD database.
**/
STATIC
VOID
SetUpAtLocation (
  IN BOOLEAN  GraphicsMode
  )
{
  EARLY_VIDEO_LOCATION  Built;
  EARLY_VIDEO_LOCATION  Chosen;

  GetLocation (&Built);
  Chosen = Built;
  if (ReadBootLocation (&Chosen)) {
    if (SetUpController (GraphicsMode, &Chosen)) {
      StoreLocation (&Chosen);
      return;
    }

    DEBUG ((
      DEBUG_WARN,
      "PlatformEarlyVideoPei: location chosen at boot rejected, the build's stays (bridge 0x%x/0x%x, controller 0x%08x)\n",
      Built.BridgeDevice,
      Built.BridgeFunction,
      Built.DeviceLocation
      ));
  }

  SetUpController (GraphicsMode, &Built);
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

  ErrorLevel   = ApplyBootSettings ();
  GraphicsMode = PcdGetExBool (&gEarlyVideoTokenSpaceGuid, PcdEarlyVideoGraphicsMode);
  DEBUG ((
    DEBUG_INFO,
    "PlatformEarlyVideoPei: Prelumen in %a mode, debug level 0x%x\n",
    GraphicsMode ? "graphics" : "text",
    ErrorLevel
    ));

  Status = PublishDisplayInfo ();
  if (!EFI_ERROR (Status)) {
    Status = PublishDebugLevel (ErrorLevel);
  }

  if (EFI_ERROR (Status)) {
    DEBUG ((DEBUG_ERROR, "PlatformEarlyVideoPei: HOBs not published: %r\n", Status));
    return Status;
  }

  DescribeAperture ();
  SetUpAtLocation (GraphicsMode);
  return EFI_SUCCESS;
}
