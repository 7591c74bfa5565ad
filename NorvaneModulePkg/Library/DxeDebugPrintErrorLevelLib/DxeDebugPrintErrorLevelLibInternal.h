/** @file
  Module state of the debug error-level policy, shared with its host tests.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef DXE_DEBUG_PRINT_ERROR_LEVEL_LIB_INTERNAL_H_
#define DXE_DEBUG_PRINT_ERROR_LEVEL_LIB_INTERNAL_H_

extern "C" {
#include <PiDxe.h>
#include <Guid/DebugMask.h>
#include <Guid/DebugMessageConfig.h>
}

//
// The names live in their own namespace so that they cannot meet another
// library's module globals in the same image.
//
namespace DebugPrintErrorLevel {
//
// The system table saved by the constructor; null until it has run, and the
// level lookup then answers the default level.
//
extern EFI_SYSTEM_TABLE *mSystemTable;

//
// The module's current level.
//
extern UINT32 mDebugPrintErrorLevel;

//
// TRUE once a variable read or the fallback HOB has settled the level; the
// lookup then answers the cached level and only SetDebugMask changes it.
//
extern BOOLEAN mVariablesRead;

//
// Created by the constructor, closed by the destructor; its notification
// sets mBootServicesExited, after which the lookup answers from the cache.
//
extern EFI_EVENT mExitBootServicesEvent;
extern BOOLEAN   mBootServicesExited;

extern EFI_DEBUG_MASK_PROTOCOL mDebugMaskProtocol;

/**
  Reads "DebugMessageConfig" (or, while variable services are not available
  yet, the fallback HOB) into Level.

  @retval EFI_SUCCESS    Level holds the configured level.
  @retval EFI_NOT_FOUND  Nothing usable; Level is untouched.
**/
EFI_STATUS
ReadDebugMessageConfig (OUT UINT64 *Level);

/**
  The error level a DEBUG_MESSAGE_CONFIG selects.
**/
UINT32
DebugMessageConfigToErrorLevel (IN CONST DEBUG_MESSAGE_CONFIG *Config);
} // namespace DebugPrintErrorLevel

extern "C" {
EFI_STATUS
EFIAPI
DxeDebugPrintErrorLevelLibConstructor (IN EFI_HANDLE ImageHandle, IN EFI_SYSTEM_TABLE *SystemTable);

EFI_STATUS
EFIAPI
DxeDebugPrintErrorLevelLibDestructor (IN EFI_HANDLE ImageHandle, IN EFI_SYSTEM_TABLE *SystemTable);
}

#endif
