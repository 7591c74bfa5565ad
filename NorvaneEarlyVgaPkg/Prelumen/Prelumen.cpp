/** @file
  Prelumen: image entry point.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "Prelumen.h"

extern "C"
EFI_STATUS
EFIAPI
EarlyVideoEntryPoint (
  IN EFI_HANDLE        ImageHandle,
  IN EFI_SYSTEM_TABLE  *SystemTable
  )
{
  const BOOLEAN  GraphicsMode = LibPcdGetExBool (&gEarlyVideoTokenSpaceGuid, TokenGraphicsMode);
  VOID           *Display     = nullptr;

  //
  // Without the display protocol of the configured mode there is nobody to
  // hand the callbacks to: return the locate status and stay out of memory.
  //
  EFI_STATUS  Status = gBS->LocateProtocol (
                              GraphicsMode ? &gEarlyGraphicsDisplayProtocolGuid
                                           : &gEarlyTextDisplayProtocolGuid,
                              nullptr,
                              &Display
                              );
  if (EFI_ERROR (Status)) {
    return Status;
  }

  return EFI_SUCCESS;
}
