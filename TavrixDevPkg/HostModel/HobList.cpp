/** @file
  The HOB list: a hand-off HOB, GUID extension HOBs added by the test, and
  the end of the list, in one buffer that never moves.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "HostModelInternal.h"
#include <cstdlib>

namespace {

const UINTN mListSize = 0x10000;

} // namespace

HOB_LIST_MODEL::HOB_LIST_MODEL () : mList ((UINT8 *)calloc (1, mListSize))
{
  EFI_HOB_HANDOFF_INFO_TABLE *Handoff = (EFI_HOB_HANDOFF_INFO_TABLE *)mList;

  Handoff->Header.HobType   = EFI_HOB_TYPE_HANDOFF;
  Handoff->Header.HobLength = sizeof (*Handoff);
  Handoff->Version          = EFI_HOB_HANDOFF_TABLE_VERSION;
  Handoff->BootMode         = BOOT_WITH_FULL_CONFIGURATION;
  mEnd                      = sizeof (*Handoff);

  EFI_HOB_GENERIC_HEADER *End = (EFI_HOB_GENERIC_HEADER *)(mList + mEnd);

  End->HobType             = EFI_HOB_TYPE_END_OF_HOB_LIST;
  End->HobLength           = sizeof (*End);
  Handoff->EfiEndOfHobList = (EFI_PHYSICAL_ADDRESS)(UINTN)End;
}

HOB_LIST_MODEL::~HOB_LIST_MODEL ()
{
  free (mList);
}

EFI_HOB_GENERIC_HEADER *
HOB_LIST_MODEL::Append (UINT16 Type, UINTN Length)
{
  if ((Length > 0xFFF8) || (mEnd + Length + sizeof (EFI_HOB_GENERIC_HEADER) > mListSize)) {
    ADD_FAILURE () << "the model's HOB list is full";
    return nullptr;
  }

  EFI_HOB_GENERIC_HEADER *Hob = (EFI_HOB_GENERIC_HEADER *)(mList + mEnd);

  ZeroMem (Hob, Length);
  Hob->HobType   = Type;
  Hob->HobLength = (UINT16)Length;
  mEnd += Length;

  EFI_HOB_GENERIC_HEADER *End = (EFI_HOB_GENERIC_HEADER *)(mList + mEnd);

  End->HobType                                           = EFI_HOB_TYPE_END_OF_HOB_LIST;
  End->HobLength                                         = sizeof (*End);
  End->Reserved                                          = 0;
  ((EFI_HOB_HANDOFF_INFO_TABLE *)mList)->EfiEndOfHobList = (EFI_PHYSICAL_ADDRESS)(UINTN)End;
  return Hob;
}

UINT8 *
HOB_LIST_MODEL::AddGuidHob (const EFI_GUID &Name, const VOID *Data, UINTN DataSize)
{
  EFI_HOB_GUID_TYPE *Hob =
    (EFI_HOB_GUID_TYPE *)Append (EFI_HOB_TYPE_GUID_EXTENSION, sizeof (EFI_HOB_GUID_TYPE) + ALIGN_VALUE (DataSize, 8));

  if (Hob == nullptr) {
    return nullptr;
  }

  Hob->Name = Name;
  if (Data != nullptr) {
    CopyMem (Hob + 1, Data, DataSize);
  }

  return (UINT8 *)(Hob + 1);
}

EFI_HOB_RESOURCE_DESCRIPTOR *
HOB_LIST_MODEL::AddResource (EFI_RESOURCE_TYPE Type, EFI_PHYSICAL_ADDRESS Start, UINT64 Length)
{
  auto *Hob =
    (EFI_HOB_RESOURCE_DESCRIPTOR *)Append (EFI_HOB_TYPE_RESOURCE_DESCRIPTOR, sizeof (EFI_HOB_RESOURCE_DESCRIPTOR));

  if (Hob != nullptr) {
    Hob->ResourceType = Type;
    Hob->ResourceAttribute =
      EFI_RESOURCE_ATTRIBUTE_PRESENT | EFI_RESOURCE_ATTRIBUTE_INITIALIZED | EFI_RESOURCE_ATTRIBUTE_TESTED;
    Hob->PhysicalStart  = Start;
    Hob->ResourceLength = Length;
  }

  return Hob;
}

UINT8 *
HOB_LIST_MODEL::AddEarlyVideoInfo (UINT32 FrameWidth, UINT32 FrameHeight, UINT32 CurrentBank, UINT8 TransparentText)
{
  UINT8 *Data = AddGuidHob (gEarlyVideoInfoHobGuid, nullptr, HOST_MODEL_VIDEO_INFO_DATA_SIZE);

  if (Data != nullptr) {
    CopyMem (Data + HOST_MODEL_VIDEO_INFO_FRAME_WIDTH, &FrameWidth, 4);
    CopyMem (Data + HOST_MODEL_VIDEO_INFO_FRAME_HEIGHT, &FrameHeight, 4);
    CopyMem (Data + HOST_MODEL_VIDEO_INFO_CURRENT_BANK, &CurrentBank, 4);
    Data[HOST_MODEL_VIDEO_INFO_TRANSPARENT_TEXT] = TransparentText;
  }

  return Data;
}

UINT32
HOB_LIST_MODEL::EarlyVideoCurrentBank () const
{
  for (UINTN Offset = 0; Offset < mEnd;) {
    EFI_HOB_GUID_TYPE *Hob = (EFI_HOB_GUID_TYPE *)(mList + Offset);

    if ((Hob->Header.HobType == EFI_HOB_TYPE_GUID_EXTENSION) && CompareGuid (&Hob->Name, &gEarlyVideoInfoHobGuid)) {
      UINT32 Bank;
      CopyMem (&Bank, (UINT8 *)(Hob + 1) + HOST_MODEL_VIDEO_INFO_CURRENT_BANK, 4);
      return Bank;
    }

    Offset += Hob->Header.HobLength;
  }

  return 0;
}

/**
  The debug-level fallback HOB. Its length is what the reader checks, so a
  test may give any length of at least the GUID HOB header plus 4 bytes.
**/
UINT8 *
HOB_LIST_MODEL::AddDebugMessageConfig (UINT32 Level, UINT16 HobLength)
{
  if ((HobLength < sizeof (EFI_HOB_GUID_TYPE) + 4) || ((HobLength & 7) != 0)) {
    ADD_FAILURE () << "a GUID HOB length must be a multiple of 8 with room for the level";
    return nullptr;
  }

  UINT8 *Data = AddGuidHob (gDebugMessageConfigGuid, nullptr, HobLength - sizeof (EFI_HOB_GUID_TYPE));

  if (Data != nullptr) {
    CopyMem (Data, &Level, 4);
  }

  return Data;
}
