/** @file
  Module state of the checkpoint list library, shared with its host tests.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef DXE_QV3_CP_LIB_INTERNAL_H_
#define DXE_QV3_CP_LIB_INTERNAL_H_

extern "C" {
#include <Uefi.h>
#include <Library/Qv3CpLib.h>

//
// Head of the shared checkpoint list, found or created by the constructor;
// null when the constructor could not provide one.
//
extern LIST_ENTRY *mCpList;

EFI_STATUS
EFIAPI
DxeQv3CpLibConstructor (IN EFI_HANDLE ImageHandle, IN EFI_SYSTEM_TABLE *SystemTable);
}

#endif
