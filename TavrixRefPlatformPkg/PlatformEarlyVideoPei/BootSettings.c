/** @file
  Boot-time settings of Prelumen's configuration values.

  A board keeps such settings in its setup data; on QEMU the reference
  platform reads them from firmware-configuration files, for instance
    -fw_cfg name=opt/org.tavrix/early-video-graphics-mode,string=no
  Each file that exists and parses replaces the value that the build put
  into the PCD database; the others leave the build's value. The values are
  set here, in PEI, so the DXE PCD database that Prelumen reads carries them.

  The bridge and controller location is different: Prelumen's text output
  writes the command, bus-number and BAR 0 registers of whatever sits there,
  on every print. A location chosen at boot is therefore only read here, and
  stored once the controller has answered there (PlatformEarlyVideoPei.c).

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "PlatformEarlyVideoPei.h"

#include <Library/DebugLib.h>
#include <Library/PcdLib.h>
#include <Library/QemuFwCfgSimpleParserLib.h>

typedef enum {
  SettingBool,
  SettingUint32Decimal
} SETTING_KIND;

typedef struct {
  CONST CHAR8     *FileName;
  SETTING_KIND    Kind;
  UINTN           TokenNumber;
} BOOT_SETTING;

//
// Token numbers of gEarlyVideoTokenSpaceGuid, as NorvaneEarlyVgaPkg.dec
// declares them (the build's AutoGen.h carries them).
//
STATIC CONST BOOT_SETTING  mBootSettings[] = {
  { "opt/org.tavrix/early-video-graphics-mode", SettingBool,          PcdToken (PcdEarlyVideoGraphicsMode) },
  { "opt/org.tavrix/early-video-shadow-width",  SettingUint32Decimal, PcdToken (PcdEarlyVideoShadowWidth)  },
  { "opt/org.tavrix/early-video-shadow-height", SettingUint32Decimal, PcdToken (PcdEarlyVideoShadowHeight) },
};

STATIC CONST CHAR8  mBridgeDeviceFile[]   = "opt/org.tavrix/early-video-bridge-device";
STATIC CONST CHAR8  mBridgeFunctionFile[] = "opt/org.tavrix/early-video-bridge-function";
STATIC CONST CHAR8  mDeviceLocationFile[] = "opt/org.tavrix/early-video-device-location";

STATIC CONST CHAR8  mDebugLevelFile[] = "opt/org.tavrix/early-video-debug-level";

/**
  Reads one setting and stores it in the PCD database.

  @param[out] Value  The value stored (a flag as 0 or 1); written only on success.

  @retval RETURN_NOT_FOUND  No such file: the build's value stays.
  @return                   The parse or PCD status otherwise.
**/
STATIC
RETURN_STATUS
ApplySetting (
  IN CONST BOOT_SETTING  *Setting,
  OUT UINT32             *Value
  )
{
  RETURN_STATUS  Status;
  BOOLEAN        Flag;
  UINT32         Word;

  Flag = FALSE;
  Word = 0;
  switch (Setting->Kind) {
    case SettingBool:
      Status = QemuFwCfgParseBool (Setting->FileName, &Flag);
      if (!RETURN_ERROR (Status)) {
        Status = LibPcdSetExBoolS (&gEarlyVideoTokenSpaceGuid, Setting->TokenNumber, Flag);
        Word   = Flag;
      }

      break;
    default:
      Status = QemuFwCfgParseUint32 (Setting->FileName, FALSE, &Word);
      if (!RETURN_ERROR (Status)) {
        Status = LibPcdSetEx32S (&gEarlyVideoTokenSpaceGuid, Setting->TokenNumber, Word);
      }

      break;
  }

  if (!RETURN_ERROR (Status)) {
    *Value = Word;
    DEBUG ((DEBUG_INFO, "PlatformEarlyVideoPei: %a = 0x%x (token %u)\n", Setting->FileName, Word, (UINT32)Setting->TokenNumber));
  } else if (Status != RETURN_NOT_FOUND) {
    DEBUG ((DEBUG_WARN, "PlatformEarlyVideoPei: %a ignored: %r\n", Setting->FileName, Status));
  }

  return Status;
}

UINT32
ApplyBootSettings (
  OUT BOOLEAN  *GraphicsMode
  )
{
  UINTN          Index;
  UINT32         Level;
  UINT32         Value;
  RETURN_STATUS  Status;

  *GraphicsMode = PcdGetExBool (&gEarlyVideoTokenSpaceGuid, PcdEarlyVideoGraphicsMode);
  for (Index = 0; Index < ARRAY_SIZE (mBootSettings); Index++) {
    Status = ApplySetting (&mBootSettings[Index], &Value);
    if (!RETURN_ERROR (Status) && (mBootSettings[Index].TokenNumber == PcdToken (PcdEarlyVideoGraphicsMode))) {
      *GraphicsMode = (BOOLEAN)(Value != 0);
    }
  }

  Level  = FixedPcdGet32 (PcdEarlyVideoDefaultDebugLevel);
  Status = QemuFwCfgParseUint32 (mDebugLevelFile, TRUE, &Level);
  if (!RETURN_ERROR (Status)) {
    DEBUG ((DEBUG_INFO, "PlatformEarlyVideoPei: %a = 0x%x\n", mDebugLevelFile, Level));
  }

  return Level;
}

/**
  TRUE if the file exists and parsed; a file that does not parse is
  reported and ignored.
**/
STATIC
BOOLEAN
Given (
  IN CONST CHAR8    *FileName,
  IN RETURN_STATUS  Status
  )
{
  if (RETURN_ERROR (Status) && (Status != RETURN_NOT_FOUND)) {
    DEBUG ((DEBUG_WARN, "PlatformEarlyVideoPei: %a ignored: %r\n", FileName, Status));
  }

  return !RETURN_ERROR (Status);
}

VOID
GetLocation (
  OUT EARLY_VIDEO_LOCATION  *Location
  )
{
  Location->BridgeDevice   = PcdGetEx8 (&gEarlyVideoTokenSpaceGuid, PcdEarlyVideoBridgeDevice);
  Location->BridgeFunction = PcdGetEx8 (&gEarlyVideoTokenSpaceGuid, PcdEarlyVideoBridgeFunction);
  Location->DeviceLocation = PcdGetEx32 (&gEarlyVideoTokenSpaceGuid, PcdEarlyVideoDeviceLocation);
}

BOOLEAN
ReadBootLocation (
  IN OUT EARLY_VIDEO_LOCATION  *Location
  )
{
  BOOLEAN  Any;
  UINT8    Byte;
  UINT32   Word;

  Any = FALSE;
  if (Given (mBridgeDeviceFile, QemuFwCfgParseUint8 (mBridgeDeviceFile, TRUE, &Byte))) {
    Location->BridgeDevice = Byte;
    Any                    = TRUE;
  }

  if (Given (mBridgeFunctionFile, QemuFwCfgParseUint8 (mBridgeFunctionFile, TRUE, &Byte))) {
    Location->BridgeFunction = Byte;
    Any                      = TRUE;
  }

  if (Given (mDeviceLocationFile, QemuFwCfgParseUint32 (mDeviceLocationFile, TRUE, &Word))) {
    Location->DeviceLocation = Word;
    Any                      = TRUE;
  }

  return Any;
}

VOID
StoreLocation (
  IN CONST EARLY_VIDEO_LOCATION  *Location,
  IN CONST CHAR8                 *What
  )
{
  RETURN_STATUS  Status;

  Status = PcdSetEx8S (&gEarlyVideoTokenSpaceGuid, PcdEarlyVideoBridgeDevice, Location->BridgeDevice);
  if (!RETURN_ERROR (Status)) {
    Status = PcdSetEx8S (&gEarlyVideoTokenSpaceGuid, PcdEarlyVideoBridgeFunction, Location->BridgeFunction);
  }

  if (!RETURN_ERROR (Status)) {
    Status = PcdSetEx32S (&gEarlyVideoTokenSpaceGuid, PcdEarlyVideoDeviceLocation, Location->DeviceLocation);
  }

  DEBUG ((
    RETURN_ERROR (Status) ? DEBUG_ERROR : DEBUG_INFO,
    "PlatformEarlyVideoPei: location %a stored (bridge 0x%x/0x%x, controller 0x%08x): %r\n",
    What,
    Location->BridgeDevice,
    Location->BridgeFunction,
    Location->DeviceLocation,
    Status
    ));
}
