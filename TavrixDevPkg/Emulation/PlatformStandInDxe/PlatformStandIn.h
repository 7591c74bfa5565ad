/** @file
  Platform stand-in for running the display drivers in OVMF: internal
  declarations shared by the files of the module.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef PLATFORM_STAND_IN_H_
#define PLATFORM_STAND_IN_H_

extern "C" {
#include <PiDxe.h>
#include <Protocol/EmulatedPlatform.h>
#include <Library/BaseLib.h>
#include <Library/BaseMemoryLib.h>
#include <Library/DebugLib.h>
#include <Library/MemoryAllocationLib.h>
#include <Library/UefiBootServicesTableLib.h>
}

/// Everything the stand-in publishes; one instance, module data.
extern EMULATED_PLATFORM_PROTOCOL mPlatform;

//
// The display controller the firmware enumerated (DisplayDevice.cpp).
//
EFI_STATUS
FindDisplayController (VOID);

EFI_STATUS
TurnApertureOn (VOID);

extern "C" EFI_STATUS EFIAPI PrepareEarlyVideo (IN EMULATED_PLATFORM_PROTOCOL *This);

//
// The two firmware display protocols (DisplayProtocols.cpp).
//
EFI_STATUS
InstallDisplayProtocols (VOID);

VOID UninstallDisplayProtocols (VOID);

//
// PCD answers for the early video token space (PcdStandIn.cpp).
//
EFI_STATUS
InstallPcdStandIn (VOID);

//
// The display-information HOB (DisplayInfoHob.cpp).
//
EFI_STATUS
PublishDisplayInfoHob (VOID);

//
// The status-code listener (StatusCodeListener.cpp).
//
EFI_STATUS
RegisterStatusCodeListener (VOID);

/// Frame geometry the stand-in describes in the HOB and the shadow tokens.
constexpr UINT32 STAND_IN_FRAME_WIDTH  = 800;
constexpr UINT32 STAND_IN_FRAME_HEIGHT = 600;

#endif
