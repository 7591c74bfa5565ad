/** @file
  The reference platform as the road finds it at the shell: the controller
  the firmware enumerated and TavrixGopDxe holds, the display-information
  HOB, Prelumen's configuration values in the PCD database, the platform's
  display protocols with the one registration of the Prelumen its DXE
  dispatcher started, and the aperture's range reserved in the memory map
  even when all memory is taken.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "RoadCheck.h"

extern "C" {
#include <Library/HobLib.h>
#include <Library/PcdLib.h>
#include <TavrixDisplayCore.h>
}

namespace {

/// The early display protocols, when this platform produced them.
BOOLEAN
FindDisplayProtocols (ROAD &Road)
{
  VOID *Graphics = nullptr;
  VOID *Text     = nullptr;

  gBS->LocateProtocol (&gEarlyGraphicsDisplayProtocolGuid, nullptr, &Graphics);
  gBS->LocateProtocol (&gEarlyTextDisplayProtocolGuid, nullptr, &Text);
  Road.Graphics      = static_cast<PLATFORM_GRAPHICS_DISPLAY *> (Graphics);
  Road.Text          = static_cast<PLATFORM_TEXT_DISPLAY *> (Text);
  const BOOLEAN Ours = (Road.Graphics != nullptr) && (Road.Text != nullptr) &&
                       (Road.Graphics->Signature == PLATFORM_EARLY_DISPLAY_SIGNATURE) &&
                       (Road.Text->Signature == PLATFORM_EARLY_DISPLAY_SIGNATURE);

  if (!Check (
        "the reference platform's early display protocols are installed", Ours, "graphics %p, text %p", Graphics, Text
      )) {
    Road.Graphics = nullptr;
    Road.Text     = nullptr;
    return FALSE;
  }

  Check (
    "the Prelumen of the firmware volume registered its graphics callbacks once, no text callback",
    Road.Graphics->Registrations == 1 && Road.Text->Registrations == 0 && Road.Graphics->BankSwitches > 0,
    "%u graphics, %u text registrations, %lu bank switches", Road.Graphics->Registrations, Road.Text->Registrations,
    Road.Graphics->BankSwitches
  );
  return TRUE;
}

VOID
CheckHobAndConfiguration (ROAD &Road)
{
  VOID *Hob = GetFirstGuidHob (&gEarlyVideoInfoHobGuid);

  Road.VideoInfo = (Hob != nullptr) ? static_cast<EARLY_VIDEO_INFO *> (GET_GUID_HOB_DATA (Hob)) : nullptr;
  Check (
    "the platform's display-information HOB describes the 800 x 600 console frame",
    Road.VideoInfo != nullptr && Road.VideoInfo->FrameWidth == 800 && Road.VideoInfo->FrameHeight == 600, "HOB %p",
    Road.VideoInfo
  );

  const UINT32  Location = PcdGetEx32 (&gEarlyVideoTokenSpaceGuid, PcdEarlyVideoDeviceLocation);
  const UINT8   Device   = PcdGetEx8 (&gEarlyVideoTokenSpaceGuid, PcdEarlyVideoBridgeDevice);
  const UINT8   Function = PcdGetEx8 (&gEarlyVideoTokenSpaceGuid, PcdEarlyVideoBridgeFunction);
  const UINT32  Width    = PcdGetEx32 (&gEarlyVideoTokenSpaceGuid, PcdEarlyVideoShadowWidth);
  const UINT32  Height   = PcdGetEx32 (&gEarlyVideoTokenSpaceGuid, PcdEarlyVideoShadowHeight);
  const BOOLEAN Graphics = PcdGetExBool (&gEarlyVideoTokenSpaceGuid, PcdEarlyVideoGraphicsMode);
  Check (
    "the PCD database holds Prelumen's values: controller 01:00.0 behind 0:1C.0, a 1024 x 768 shadow, graphics mode",
    Location == 0x01000000 && Device == 0x1C && Function == 0 && Width == 1024 && Height == 768 && Graphics,
    "location 0x%08x, bridge 0x%x.%u, shadow %u x %u, graphics %d", Location, Device, Function, Width, Height, Graphics
  );
}

/// One run of pages the pressure check holds; kept in its own first page.
struct HELD_PAGES {
  HELD_PAGES *Next;
  UINTN       Pages;
};

/**
  Takes every page below 4 GiB that can be had, in runs from 256 MiB down
  to one page, until an allocation of one page fails. Each failure lets
  EDK II's DXE core promote untested memory first; an aperture described as
  such would be handed out here. Returns the runs; Landed tells whether
  one overlaps the aperture.
**/
HELD_PAGES *
TakeAllMemoryBelow4GiB (OUT BOOLEAN &Landed)
{
  HELD_PAGES *Held  = nullptr;
  UINTN       Pages = SIZE_256MB / EFI_PAGE_SIZE;

  Landed = FALSE;
  while (Pages > 0) {
    EFI_PHYSICAL_ADDRESS Address = MAX_UINT32;

    if (EFI_ERROR (gBS->AllocatePages (AllocateMaxAddress, EfiBootServicesData, Pages, &Address))) {
      Pages /= 2;
      continue;
    }

    Landed     = Landed || ((Address < TAVRIX_APERTURE_BASE + TAVRIX_APERTURE_SIZE) &&
                        (TAVRIX_APERTURE_BASE < Address + EFI_PAGES_TO_SIZE (Pages)));
    auto *Run  = reinterpret_cast<HELD_PAGES *> (static_cast<UINTN> (Address));
    Run->Next  = Held;
    Run->Pages = Pages;
    Held       = Run;
  }

  return Held;
}

/// The memory type that covers all of [Base, Base + Size) in the UEFI
/// memory map, or EfiMaxMemoryType when none does alone.
EFI_MEMORY_TYPE
MemoryMapType (EFI_PHYSICAL_ADDRESS Base, UINT64 Size)
{
  UINTN                  MapSize = 0;
  UINTN                  Key;
  UINTN                  DescriptorSize;
  UINT32                 Version;
  EFI_MEMORY_DESCRIPTOR *Map  = nullptr;
  EFI_MEMORY_TYPE        Type = EfiMaxMemoryType;

  while (gBS->GetMemoryMap (&MapSize, Map, &Key, &DescriptorSize, &Version) == EFI_BUFFER_TOO_SMALL) {
    if (Map != nullptr) {
      FreePool (Map);
    }

    MapSize += 4 * DescriptorSize;
    Map = static_cast<EFI_MEMORY_DESCRIPTOR *> (AllocatePool (MapSize));
    if (Map == nullptr) {
      return Type;
    }
  }

  if (Map == nullptr) {
    return Type;
  }

  for (UINT8 *Entry = reinterpret_cast<UINT8 *> (Map); Entry < reinterpret_cast<UINT8 *> (Map) + MapSize;
       Entry += DescriptorSize) {
    auto *Descriptor = reinterpret_cast<EFI_MEMORY_DESCRIPTOR *> (Entry);

    if ((Descriptor->PhysicalStart <= Base) && (Base + Size <= Descriptor->PhysicalStart + EFI_PAGES_TO_SIZE (Descriptor->NumberOfPages))) {
      Type = static_cast<EFI_MEMORY_TYPE> (Descriptor->Type);
    }
  }

  FreePool (Map);
  return Type;
}

/**
  Under memory pressure, as an operating system loader with a large initrd
  makes it, the aperture stays out of every allocation and reserved in the
  memory map the operating system receives.
**/
VOID
CheckApertureReservedUnderPressure ()
{
  BOOLEAN     Landed;
  HELD_PAGES *Held  = TakeAllMemoryBelow4GiB (Landed);
  UINTN       Total = 0;

  while (Held != nullptr) {
    HELD_PAGES *Next  = Held->Next;
    UINTN       Pages = Held->Pages;

    Total += Pages;
    gBS->FreePages (reinterpret_cast<UINTN> (Held), Pages);
    Held = Next;
  }

  const EFI_MEMORY_TYPE Type = MemoryMapType (TAVRIX_APERTURE_BASE, TAVRIX_APERTURE_SIZE);
  Check (
    "with every page below 4 GiB allocated and freed again, no allocation landed on the aperture and the memory map "
    "keeps it reserved",
    !Landed && Type == EfiReservedMemoryType, "%lu MiB taken, aperture %a, its memory type %u",
    static_cast<UINT64> (EFI_PAGES_TO_SIZE (Total) >> 20), Landed ? "allocated" : "untouched", Type
  );
}

} // namespace

VOID
LeaveMemoryPressure (IN UINTN KeepMiB)
{
  BOOLEAN     Landed;
  HELD_PAGES *Held  = nullptr;
  const UINTN Keep  = EFI_SIZE_TO_PAGES (SIZE_1MB * KeepMiB);
  UINTN       Freed = 0;
  UINTN       Taken = 0;

  //
  // The list holds the smallest run first; turned round, the largest run,
  // taken first, comes first. KeepMiB are given back from it, in one piece
  // (its top pages; its first page keeps the list): a loader needs its
  // kernel in one piece.
  //
  // What lies below 1 MiB goes back whole: a loader of Linux puts the
  // kernel's real-mode part there.
  //
  for (HELD_PAGES *Run = TakeAllMemoryBelow4GiB (Landed); Run != nullptr;) {
    HELD_PAGES *Next = Run->Next;

    if (reinterpret_cast<UINTN> (Run) < BASE_1MB) {
      gBS->FreePages (reinterpret_cast<UINTN> (Run), Run->Pages);
    } else {
      Run->Next = Held;
      Held      = Run;
    }

    Run = Next;
  }

  while ((Held != nullptr) && (Freed < Keep)) {
    const UINTN Pages = MIN (Held->Pages, Keep - Freed);

    Freed += Pages;
    if (Pages == Held->Pages) {
      HELD_PAGES *Next = Held->Next;

      gBS->FreePages (reinterpret_cast<UINTN> (Held), Pages);
      Held = Next;
    } else {
      Held->Pages -= Pages;
      gBS->FreePages (reinterpret_cast<UINTN> (Held) + EFI_PAGES_TO_SIZE (Held->Pages), Pages);
    }
  }

  for (HELD_PAGES *Run = Held; Run != nullptr; Run = Run->Next) {
    Taken += Run->Pages;
  }

  AsciiPrint (
    "ROAD-PRESSURE %lu MiB below 4 GiB stay allocated, %lu MiB given back in one piece%a\n",
    static_cast<UINT64> (EFI_PAGES_TO_SIZE (Taken) >> 20), static_cast<UINT64> (EFI_PAGES_TO_SIZE (Freed) >> 20),
    Landed ? ", an allocation landed on the aperture" : ""
  );
}

/// FALSE when this is not the reference platform: nothing else can be checked.
BOOLEAN
CheckPlatform (IN ROAD &Road)
{
  if (!FindDevice (Road) || !FindDisplayProtocols (Road)) {
    return FALSE;
  }

  Road.GopDriverImage = ManagingDriver (Road);
  Check (
    "the firmware started TavrixGopDxe on the controller (held BY_DRIVER)", Road.GopDriverImage != nullptr,
    "no driver holds the controller"
  );
  CheckHobAndConfiguration (Road);
  CheckApertureReservedUnderPressure ();
  return (Road.GopDriverImage != nullptr) && (Road.VideoInfo != nullptr);
}
