/** @file
  Prelumen: configuration tokens, callback tables and module state.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef PRELUMEN_H_
#define PRELUMEN_H_

extern "C" {
#include <PiDxe.h>
#include <Protocol/EarlyVideoDisplay.h>
#include <Library/DebugLib.h>
#include <Library/PcdLib.h>
#include <Library/UefiBootServicesTableLib.h>
}

/// Token numbers of the configuration values in gEarlyVideoTokenSpaceGuid.
enum EARLY_VIDEO_TOKEN : UINTN {
  TokenDeviceLocation = 1,
  TokenBridgeDevice   = 4,
  TokenBridgeFunction = 5,
  TokenShadowHeight   = 7,
  TokenShadowWidth    = 8,
  TokenGraphicsMode   = 10
};

extern "C" {
EFI_STATUS
EFIAPI
EarlyVideoEntryPoint (
  IN EFI_HANDLE        ImageHandle,
  IN EFI_SYSTEM_TABLE  *SystemTable
  );
}

#endif
