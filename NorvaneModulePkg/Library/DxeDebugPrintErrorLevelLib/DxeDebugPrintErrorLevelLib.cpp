/** @file
  Debug error-level policy: decides at run time which debug messages of the
  module are reported.

  The level comes from the "EFIDebug" and "DebugMessageConfig" variables that
  platform setup writes or, while variable services are not available yet,
  from a GUID HOB. It is read once it can be (normally at the first lookup at
  TPL_CALLBACK or below) and cached from then on. The module's level is also
  published through the debug mask protocol on its image handle, so that
  outside tools can read and change it.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "DxeDebugPrintErrorLevelLibInternal.h"

extern "C" {
#include <Library/BaseLib.h>
#include <Library/BaseMemoryLib.h>
#include <Library/DebugLib.h>
#include <Library/DebugPrintErrorLevelLib.h>
#include <Library/HobLib.h>
#include <Library/PcdLib.h>
}

namespace {

//
// Only these bits of "EFIDebug" are taken; the others come from
// "DebugMessageConfig".
//
constexpr UINT32 EFI_DEBUG_VARIABLE_LEVEL_BITS = 0x7F800000;

//
// The fallback HOB: GUID HOB header (24 bytes) and 8 bytes of data, of which
// the first UINT32 is the level.
//
constexpr UINT16 FALLBACK_HOB_LENGTH = sizeof (EFI_HOB_GUID_TYPE) + sizeof (UINT64);

static_assert (FALLBACK_HOB_LENGTH == 32, "the fallback HOB is 32 bytes long");

//
// Level bit of each switch byte of DEBUG_MESSAGE_CONFIG, in byte order.
//
constexpr UINT32 mSwitchLevel[DEBUG_MESSAGE_CONFIG_SWITCH_COUNT] = DEBUG_MESSAGE_CONFIG_SWITCH_LEVELS;

/**
  UEFI variable names are UCS-2; u"" literals are char16_t, of the same
  width as CHAR16.
**/
CHAR16 *
VariableName (const char16_t *Name)
{
  static_assert (sizeof (char16_t) == sizeof (CHAR16), "UCS-2 code units");
  return (CHAR16 *)Name;
}

EFI_TPL
CurrentTpl (VOID)
{
  EFI_BOOT_SERVICES *BootServices = DebugPrintErrorLevel::mSystemTable->BootServices;
  EFI_TPL            Tpl          = BootServices->RaiseTPL (TPL_HIGH_LEVEL);

  BootServices->RestoreTPL (Tpl);
  return Tpl;
}

/**
  The level of the fallback HOB, which stands in for the variables while
  variable services are not available yet. A HOB of any length but 32 bytes
  is not the one meant and is ignored.
**/
BOOLEAN
GetFallbackHobLevel (OUT UINT32 *Level)
{
  VOID *Hob = GetFirstGuidHob (&gDebugMessageConfigGuid);

  if ((Hob == NULL) || (GET_HOB_LENGTH (Hob) != FALLBACK_HOB_LENGTH)) {
    return FALSE;
  }

  *Level = ReadUnaligned32 ((CONST UINT32 *)GET_GUID_HOB_DATA (Hob));
  return TRUE;
}

/**
  Settles the level from the variables, or from the fallback HOB while
  variable services are not available yet. Without either the level stays
  pending and the next lookup tries again.
**/
VOID
RefreshLevelFromVariables (VOID)
{
  using namespace DebugPrintErrorLevel;

  UINT64     ConfigLevel = 0;
  UINTN      EfiDebug    = 0;
  UINTN      Size        = sizeof (EfiDebug);
  UINT32     HobLevel;
  EFI_STATUS Status;

  ReadDebugMessageConfig (&ConfigLevel);

  Status = mSystemTable->RuntimeServices->GetVariable (
    VariableName (u"EFIDebug"), &gEfiGenericVariableGuid, NULL, &Size, &EfiDebug
  );
  if (Status == EFI_NOT_AVAILABLE_YET) {
    if (GetFallbackHobLevel (&HobLevel)) {
      mDebugPrintErrorLevel = HobLevel;
      mVariablesRead        = TRUE;
    }

    return;
  }

  mVariablesRead = TRUE;
  if (EFI_ERROR (Status)) {
    mDebugPrintErrorLevel = (UINT32)ConfigLevel;
  } else {
    mDebugPrintErrorLevel = ((UINT32)EfiDebug & EFI_DEBUG_VARIABLE_LEVEL_BITS) | (UINT32)ConfigLevel;
  }
}

VOID EFIAPI
OnExitBootServices (IN EFI_EVENT Event, IN VOID *Context)
{
  DebugPrintErrorLevel::mBootServicesExited = TRUE;
}

EFI_STATUS
EFIAPI
GetDebugMask (IN EFI_DEBUG_MASK_PROTOCOL *This, IN OUT UINTN *CurrentDebugMask)
{
  if (CurrentDebugMask == NULL) {
    return EFI_INVALID_PARAMETER;
  }

  *CurrentDebugMask = DebugPrintErrorLevel::mDebugPrintErrorLevel;
  return EFI_SUCCESS;
}

EFI_STATUS
EFIAPI
SetDebugMask (IN EFI_DEBUG_MASK_PROTOCOL *This, IN UINTN NewDebugMask)
{
  DebugPrintErrorLevel::mDebugPrintErrorLevel = (UINT32)NewDebugMask;
  return EFI_SUCCESS;
}

} // namespace

namespace DebugPrintErrorLevel {
EFI_SYSTEM_TABLE *mSystemTable           = NULL;
UINT32            mDebugPrintErrorLevel  = 0;
BOOLEAN           mVariablesRead         = FALSE;
EFI_EVENT         mExitBootServicesEvent = NULL;
BOOLEAN           mBootServicesExited    = FALSE;

EFI_DEBUG_MASK_PROTOCOL mDebugMaskProtocol = { EFI_DEBUG_MASK_REVISION, GetDebugMask, SetDebugMask };

UINT32
DebugMessageConfigToErrorLevel (IN CONST DEBUG_MESSAGE_CONFIG *Config)
{
  UINT32 Level = 0;

  if (Config->CustomLevels != 0) {
    for (UINTN Index = 0; Index < DEBUG_MESSAGE_CONFIG_SWITCH_COUNT; Index++) {
      if (Config->Switch[Index] != 0) {
        Level |= mSwitchLevel[Index];
      }
    }

    return Level;
  }

  switch (Config->Preset) {
    case 0:
    case 255:
      return PcdGet32 (PcdDebugPrintErrorLevel);
    case 1:
      return DEBUG_INFO;
    case 2:
      return DEBUG_ERROR;
    case 3:
      return DEBUG_WARN;
    case 4:
      return ~(UINT32)(DEBUG_POOL | DEBUG_PAGE);
    default:
      return 0;
  }
}

EFI_STATUS
ReadDebugMessageConfig (OUT UINT64 *Level)
{
  DEBUG_MESSAGE_CONFIG Config;
  UINTN                Size = sizeof (Config);
  UINT32               HobLevel;
  EFI_STATUS           Status;

  //
  // A shorter variable fills only the front of the buffer; the switches it
  // does not cover read as off.
  //
  ZeroMem (&Config, sizeof (Config));
  Status = mSystemTable->RuntimeServices->GetVariable (
    VariableName (u"DebugMessageConfig"), &gDebugMessageConfigGuid, NULL, &Size, &Config
  );
  if (Status == EFI_NOT_AVAILABLE_YET) {
    if (!GetFallbackHobLevel (&HobLevel)) {
      return EFI_NOT_FOUND;
    }

    mVariablesRead = TRUE;
    *Level         = HobLevel;
    return EFI_SUCCESS;
  }

  mVariablesRead = TRUE;
  if (EFI_ERROR (Status)) {
    return EFI_NOT_FOUND;
  }

  *Level = DebugMessageConfigToErrorLevel (&Config);
  return EFI_SUCCESS;
}
} // namespace DebugPrintErrorLevel

/**
  The module's current error level. Until the level is settled, a lookup at
  TPL_CALLBACK or below reads the variables; above it, or once boot services
  are gone, the cached level is the answer.
**/
extern "C" UINT32 EFIAPI
GetDebugPrintErrorLevel (VOID)
{
  using namespace DebugPrintErrorLevel;

  if (mSystemTable == NULL) {
    return PcdGet32 (PcdDebugPrintErrorLevel);
  }

  if (mVariablesRead || mBootServicesExited || (CurrentTpl () > TPL_CALLBACK)) {
    return mDebugPrintErrorLevel;
  }

  RefreshLevelFromVariables ();
  return mDebugPrintErrorLevel;
}

/**
  The platform-wide level lives in variables this module does not write; the
  module's own level is set through the debug mask protocol.

  @retval FALSE  Always; nothing is changed.
**/
extern "C" BOOLEAN EFIAPI
SetDebugPrintErrorLevel (UINT32 ErrorLevel)
{
  return FALSE;
}

/**
  Publishes the debug mask protocol on the image handle, watches for the exit
  from boot services, and makes the first attempt to settle the level.

  @return The status of the protocol installation or, when that succeeded,
          of the event creation.
**/
extern "C" EFI_STATUS EFIAPI
DxeDebugPrintErrorLevelLibConstructor (IN EFI_HANDLE ImageHandle, IN EFI_SYSTEM_TABLE *SystemTable)
{
  using namespace DebugPrintErrorLevel;

  EFI_STATUS Status;

  mSystemTable = SystemTable;
  if (!mVariablesRead) {
    mDebugPrintErrorLevel = PcdGet32 (PcdDebugPrintErrorLevel);
  }

  Status = SystemTable->BootServices->InstallMultipleProtocolInterfaces (
    &ImageHandle, &gEfiDebugMaskProtocolGuid, &mDebugMaskProtocol, NULL
  );
  if (!EFI_ERROR (Status)) {
    Status = SystemTable->BootServices->CreateEventEx (
      EVT_NOTIFY_SIGNAL, TPL_CALLBACK, OnExitBootServices, NULL, &gEfiEventExitBootServicesGuid, &mExitBootServicesEvent
    );
  }

  GetDebugPrintErrorLevel ();
  return Status;
}

/**
  Runs only when the module's entry point fails: closes the event and takes
  the debug mask protocol back off the image handle.
**/
extern "C" EFI_STATUS EFIAPI
DxeDebugPrintErrorLevelLibDestructor (IN EFI_HANDLE ImageHandle, IN EFI_SYSTEM_TABLE *SystemTable)
{
  using namespace DebugPrintErrorLevel;

  if (mExitBootServicesEvent != NULL) {
    SystemTable->BootServices->CloseEvent (mExitBootServicesEvent);
    mExitBootServicesEvent = NULL;
  }

  return SystemTable->BootServices->UninstallMultipleProtocolInterfaces (
    ImageHandle, &gEfiDebugMaskProtocolGuid, &mDebugMaskProtocol, NULL
  );
}
