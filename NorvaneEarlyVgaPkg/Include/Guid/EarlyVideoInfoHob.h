/** @file
  The display-information HOB: a GUID extension HOB named
  gEarlyVideoInfoHobGuid that an earlier boot phase (the platform's PEI video
  initialisation) leaves behind for the early video driver.

  Its data, EARLY_VIDEO_INFO, is at least 5,098 bytes long. The driver reads
  it in place on every drawing call and writes CurrentBank in place; only the
  named fields are the driver's, everything else is the producer's own. The
  producer builds the HOB with BuildGuidHob (gEarlyVideoInfoHobGuid,
  sizeof (EARLY_VIDEO_INFO)) or larger, zeroes it and fills the fields.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef EARLY_VIDEO_INFO_HOB_H_
#define EARLY_VIDEO_INFO_HOB_H_

#define EARLY_VIDEO_INFO_HOB_GUID                                                                                      \
  {                                                                                                                    \
    0x2F51C029, 0x7690, 0x444E,                                                                                        \
    {                                                                                                                  \
      0x82, 0xB4, 0x2A, 0x72, 0x82, 0xC3, 0x5E, 0xFD                                                                   \
    }                                                                                                                  \
  }

#pragma pack(1)
typedef struct {
  UINT8  ProducerData0[0x13CC];
  UINT32 FrameWidth;  ///< pixels; the row pitch is FrameWidth * 4 bytes
  UINT32 FrameHeight; ///< rows
  UINT32 ProducerData1;
  UINT32 CurrentBank; ///< 64 KiB bank last selected, written by the driver
  UINT8  ProducerData2[13];
  UINT8  TransparentText; ///< non-zero: clear glyph bits show the shadow pixel
} EARLY_VIDEO_INFO;
#pragma pack()

STATIC_ASSERT (OFFSET_OF (EARLY_VIDEO_INFO, FrameWidth) == 0x13CC, "FrameWidth at data offset 0x13CC");
STATIC_ASSERT (OFFSET_OF (EARLY_VIDEO_INFO, FrameHeight) == 0x13D0, "FrameHeight at data offset 0x13D0");
STATIC_ASSERT (OFFSET_OF (EARLY_VIDEO_INFO, CurrentBank) == 0x13D8, "CurrentBank at data offset 0x13D8");
STATIC_ASSERT (OFFSET_OF (EARLY_VIDEO_INFO, TransparentText) == 0x13E9, "TransparentText at data offset 0x13E9");
STATIC_ASSERT (sizeof (EARLY_VIDEO_INFO) == 5098, "EARLY_VIDEO_INFO is 5,098 bytes");

extern EFI_GUID gEarlyVideoInfoHobGuid;

#endif
