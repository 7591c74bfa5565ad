/** @file
  Host platform model: the HOB list.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef HOST_MODEL_HOB_LIST_H_
#define HOST_MODEL_HOB_LIST_H_

#include "ModelCommon.h"

extern "C" {
#include <Guid/EarlyVideoInfoHob.h>
}

/// Data offsets of the fields of the display-information HOB, from its
/// public layout.
#define HOST_MODEL_VIDEO_INFO_FRAME_WIDTH      OFFSET_OF (EARLY_VIDEO_INFO, FrameWidth)
#define HOST_MODEL_VIDEO_INFO_FRAME_HEIGHT     OFFSET_OF (EARLY_VIDEO_INFO, FrameHeight)
#define HOST_MODEL_VIDEO_INFO_CURRENT_BANK     OFFSET_OF (EARLY_VIDEO_INFO, CurrentBank)
#define HOST_MODEL_VIDEO_INFO_TRANSPARENT_TEXT OFFSET_OF (EARLY_VIDEO_INFO, TransparentText)
/// The model's HOB carries the record padded to whole 8-byte words, as HOBs are.
#define HOST_MODEL_VIDEO_INFO_DATA_SIZE ALIGN_VALUE (sizeof (EARLY_VIDEO_INFO), 8)

/// GUID extension and resource descriptor HOBs in a fixed 64 KiB list
/// published as the HOB list configuration table. HOBs can be added at any
/// time; the list never moves.
class HOB_LIST_MODEL {
public:
  HOB_LIST_MODEL ();
  ~HOB_LIST_MODEL ();

  /// Adds a GUID HOB with DataSize bytes (padded to 8) and returns its data.
  UINT8 *AddGuidHob (const EFI_GUID &Name, const VOID *Data, UINTN DataSize);

  /// Adds a resource descriptor HOB (present, initialized, tested).
  EFI_HOB_RESOURCE_DESCRIPTOR *AddResource (EFI_RESOURCE_TYPE Type, EFI_PHYSICAL_ADDRESS Start, UINT64 Length);

  /// Adds the display-information HOB and returns its data.
  UINT8 *AddEarlyVideoInfo (UINT32 FrameWidth, UINT32 FrameHeight, UINT32 CurrentBank = 0, UINT8 TransparentText = 0);

  /// The CurrentBank field of the first display-information HOB (0 if none).
  UINT32
  EarlyVideoCurrentBank () const;

  /// Adds the debug-level fallback HOB: HobLength bytes in all (32 is the
  /// accepted length), Level in the first data word.
  UINT8 *AddDebugMessageConfig (UINT32 Level, UINT16 HobLength = 32);

  VOID *
  List () const
  {
    return mList;
  }

private:
  EFI_HOB_GENERIC_HEADER *Append (UINT16 Type, UINTN Length);

  UINT8 *mList;
  UINTN  mEnd; // offset of the end-of-list HOB
};

#endif
