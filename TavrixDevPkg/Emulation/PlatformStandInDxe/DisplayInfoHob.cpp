/** @file
  The display-information HOB.

  On a real platform an earlier boot phase leaves the HOB behind. Here the
  stand-in copies the firmware's HOB list, appends the HOB, and publishes the
  copy as the HOB list configuration table, so that a driver started later
  finds it with GetFirstGuidHob (its HOB library reads the table when the
  driver starts).

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "PlatformStandIn.h"

extern "C" {
#include <Guid/HobList.h>
#include <Library/HobLib.h>
}

static_assert (OFFSET_OF (STAND_IN_VIDEO_INFO, FrameWidth) == 0x13CC, "shared HOB format");
static_assert (OFFSET_OF (STAND_IN_VIDEO_INFO, FrameHeight) == 0x13D0, "shared HOB format");
static_assert (OFFSET_OF (STAND_IN_VIDEO_INFO, CurrentBank) == 0x13D8, "shared HOB format");
static_assert (OFFSET_OF (STAND_IN_VIDEO_INFO, TransparentText) == 0x13E9, "shared HOB format");
static_assert (sizeof (EFI_HOB_GUID_TYPE) + sizeof (STAND_IN_VIDEO_INFO) >= 5122, "data of at least 5,098 bytes");

/**
  Republishes the HOB list with the display-information HOB appended: frame
  800 x 600, bank 0 selected, opaque text.
**/
EFI_STATUS
PublishDisplayInfoHob (VOID)
{
  UINT8               *Original = static_cast<UINT8 *> (GetHobList ());
  EFI_PEI_HOB_POINTERS Hob;

  for (Hob.Raw = Original; !END_OF_HOB_LIST (Hob); Hob.Raw = static_cast<UINT8 *> (GET_NEXT_HOB (Hob))) {
  }

  const UINTN Used     = (UINTN)(Hob.Raw - Original);
  const UINTN InfoSize = sizeof (EFI_HOB_GUID_TYPE) + sizeof (STAND_IN_VIDEO_INFO);
  UINT8      *Copy     = static_cast<UINT8 *> (AllocatePool (Used + InfoSize + sizeof (EFI_HOB_GENERIC_HEADER)));

  if (Copy == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }

  CopyMem (Copy, Original, Used);

  auto *Info             = reinterpret_cast<EFI_HOB_GUID_TYPE *> (Copy + Used);
  Info->Header.HobType   = EFI_HOB_TYPE_GUID_EXTENSION;
  Info->Header.HobLength = (UINT16)InfoSize;
  Info->Header.Reserved  = 0;
  CopyGuid (&Info->Name, &gEarlyVideoInfoHobGuid);

  auto *Data = reinterpret_cast<STAND_IN_VIDEO_INFO *> (Info + 1);
  ZeroMem (Data, sizeof (*Data));
  Data->FrameWidth      = STAND_IN_FRAME_WIDTH;
  Data->FrameHeight     = STAND_IN_FRAME_HEIGHT;
  Data->CurrentBank     = 0;
  Data->TransparentText = 0;

  auto *End      = reinterpret_cast<EFI_HOB_GENERIC_HEADER *> (Copy + Used + InfoSize);
  End->HobType   = EFI_HOB_TYPE_END_OF_HOB_LIST;
  End->HobLength = sizeof (EFI_HOB_GENERIC_HEADER);
  End->Reserved  = 0;

  auto *Handoff = reinterpret_cast<EFI_HOB_HANDOFF_INFO_TABLE *> (Copy);
  if (Handoff->Header.HobType == EFI_HOB_TYPE_HANDOFF) {
    Handoff->EfiEndOfHobList = (EFI_PHYSICAL_ADDRESS)(UINTN)End;
  }

  EFI_STATUS Status = gBS->InstallConfigurationTable (&gEfiHobListGuid, Copy);
  if (EFI_ERROR (Status)) {
    FreePool (Copy);
    return Status;
  }

  mPlatform.VideoInfo = Data;
  return EFI_SUCCESS;
}
