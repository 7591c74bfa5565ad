/** @file
  Boot-time settings of Prelumen's configuration values.

  A board keeps such settings in its setup data; on QEMU the reference
  platform reads them from firmware-configuration files, for instance
    -fw_cfg name=opt/org.tavrix/early-video-graphics-mode,string=no
  Each file that exists and parses replaces the value that the build put
  into the PCD database; the others leave the build's value. The values are
  set here, in PEI, so the DXE PCD database that Prelumen reads carries them.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "PlatformEarlyVideoPei.h"

#include <Library/DebugLib.h>
#include <Library/PcdLib.h>
#include <Library/QemuFwCfgSimpleParserLib.h>

typedef enum {
  SettingBool,
  SettingUint8Hex,
  SettingUint32Decimal,
  SettingUint32Hex
} SETTING_KIND;

typedef struct {
  CONST CHAR8     *FileName;
  SETTING_KIND    Kind;
  UINTN           TokenNumber;
} BOOT_SETTING;

//
// Token numbers of gEarlyVideoTokenSpaceGuid: fixed by NorvaneEarlyVgaPkg.dec.
//
STATIC CONST BOOT_SETTING  mBootSettings[] = {
  { "opt/org.tavrix/early-video-graphics-mode",  SettingBool,          10 },
  { "opt/org.tavrix/early-video-shadow-width",   SettingUint32Decimal, 8  },
  { "opt/org.tavrix/early-video-shadow-height",  SettingUint32Decimal, 7  },
  { "opt/org.tavrix/early-video-bridge-device",  SettingUint8Hex,      4  },
  { "opt/org.tavrix/early-video-bridge-function", SettingUint8Hex,     5  },
  { "opt/org.tavrix/early-video-device-location", SettingUint32Hex,    1  },
};

STATIC CONST CHAR8  mDebugLevelFile[] = "opt/org.tavrix/early-video-debug-level";

/**
  Reads one setting and stores it in the PCD database.

  @retval RETURN_NOT_FOUND  No such file: the build's value stays.
  @return                   The parse or PCD status otherwise.
**/
STATIC
RETURN_STATUS
ApplySetting (
  IN CONST BOOT_SETTING  *Setting
  )
{
  RETURN_STATUS  Status;
  BOOLEAN        Flag;
  UINT8          Byte;
  UINT32         Word;

  Flag = FALSE;
  Byte = 0;
  Word = 0;
  switch (Setting->Kind) {
    case SettingBool:
      Status = QemuFwCfgParseBool (Setting->FileName, &Flag);
      if (!RETURN_ERROR (Status)) {
        Status = LibPcdSetExBoolS (&gEarlyVideoTokenSpaceGuid, Setting->TokenNumber, Flag);
        Word   = Flag;
      }

      break;
    case SettingUint8Hex:
      Status = QemuFwCfgParseUint8 (Setting->FileName, TRUE, &Byte);
      if (!RETURN_ERROR (Status)) {
        Status = LibPcdSetEx8S (&gEarlyVideoTokenSpaceGuid, Setting->TokenNumber, Byte);
        Word   = Byte;
      }

      break;
    default:
      Status = QemuFwCfgParseUint32 (Setting->FileName, Setting->Kind == SettingUint32Hex, &Word);
      if (!RETURN_ERROR (Status)) {
        Status = LibPcdSetEx32S (&gEarlyVideoTokenSpaceGuid, Setting->TokenNumber, Word);
      }

      break;
  }

  if (!RETURN_ERROR (Status)) {
    DEBUG ((DEBUG_INFO, "PlatformEarlyVideoPei: %a = 0x%x (token %u)\n", Setting->FileName, Word, (UINT32)Setting->TokenNumber));
  } else if (Status != RETURN_NOT_FOUND) {
    DEBUG ((DEBUG_WARN, "PlatformEarlyVideoPei: %a ignored: %r\n", Setting->FileName, Status));
  }

  return Status;
}

UINT32
ApplyBootSettings (
  VOID
  )
{
  UINTN          Index;
  UINT32         Level;
  RETURN_STATUS  Status;

  for (Index = 0; Index < ARRAY_SIZE (mBootSettings); Index++) {
    ApplySetting (&mBootSettings[Index]);
  }

  Level  = FixedPcdGet32 (PcdEarlyVideoDefaultDebugLevel);
  Status = QemuFwCfgParseUint32 (mDebugLevelFile, TRUE, &Level);
  if (!RETURN_ERROR (Status)) {
    DEBUG ((DEBUG_INFO, "PlatformEarlyVideoPei: %a = 0x%x\n", mDebugLevelFile, Level));
  }

  return Level;
}
