/** @file
  Prelumen's debug level when platform setup has chosen none.

  Prelumen takes its run-time level from the "DebugMessageConfig" variable
  (and "EFIDebug"); with both missing the level is 0 and it reports no debug
  message. While variable services are not up it takes the level from the
  fallback HOB, which the PEI phase leaves. This platform's Prelumen runs
  after the variable services (it waits for this driver, which waits for
  them), so the platform writes the HOB's level as a volatile
  "DebugMessageConfig" whenever no such variable exists: a setting that
  setup stored (non-volatile) wins, and the default is renewed every boot.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "PlatformEarlyDisplayDxe.h"

#include <Guid/DebugMessageConfig.h>
#include <Library/BaseMemoryLib.h>
#include <Library/DebugLib.h>
#include <Library/HobLib.h>
#include <Library/PcdLib.h>
#include <Library/UefiRuntimeServicesTableLib.h>

//
// The level bit behind each switch byte (bytes 5 to 21) of the record.
//
STATIC CONST UINT32  mSwitchLevel[DEBUG_MESSAGE_CONFIG_SWITCH_COUNT] = DEBUG_MESSAGE_CONFIG_SWITCH_LEVELS;

/// The level the PEI phase chose: the fallback HOB's, else the build's.
STATIC
UINT32
PlatformDebugLevel (
  VOID
  )
{
  EFI_HOB_GUID_TYPE  *Hob;

  Hob = GetFirstGuidHob (&gDebugMessageConfigGuid);
  if ((Hob != NULL) && (GET_HOB_LENGTH (Hob) == sizeof (EFI_HOB_GUID_TYPE) + 8)) {
    return *(UINT32 *)GET_GUID_HOB_DATA (Hob);
  }

  return FixedPcdGet32 (PcdEarlyVideoDefaultDebugLevel);
}

VOID
SetDebugLevelDefault (
  VOID
  )
{
  DEBUG_MESSAGE_CONFIG  Config;
  UINTN                 Size;
  UINT32                Level;
  UINT32                Shown;
  UINTN                 Index;
  EFI_STATUS            Status;

  Size   = sizeof (Config);
  Status = gRT->GetVariable (DEBUG_MESSAGE_CONFIG_VARIABLE_NAME, &gDebugMessageConfigGuid, NULL, &Size, &Config);
  if (Status != EFI_NOT_FOUND) {
    DEBUG ((DEBUG_INFO, "PlatformEarlyDisplayDxe: DebugMessageConfig kept (%r)\n", Status));
    return;
  }

  //
  // Levels outside the switches (DEBUG_POOL, DEBUG_PAGE, bits 23-30) cannot
  // be said in this record; they are dropped.
  //
  Level = PlatformDebugLevel ();
  Shown = 0;
  ZeroMem (&Config, sizeof (Config));
  Config.CustomLevels = 1;
  for (Index = 0; Index < DEBUG_MESSAGE_CONFIG_SWITCH_COUNT; Index++) {
    if ((Level & mSwitchLevel[Index]) != 0) {
      Config.Switch[Index] = 1;
      Shown               |= mSwitchLevel[Index];
    }
  }

  Status = gRT->SetVariable (
                  DEBUG_MESSAGE_CONFIG_VARIABLE_NAME,
                  &gDebugMessageConfigGuid,
                  EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS,
                  sizeof (Config),
                  &Config
                  );
  DEBUG ((DEBUG_INFO, "PlatformEarlyDisplayDxe: DebugMessageConfig default, level 0x%x: %r\n", Shown, Status));
}
