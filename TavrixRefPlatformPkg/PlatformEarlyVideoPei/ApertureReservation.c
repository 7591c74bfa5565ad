/** @file
  The fixed frame aperture's reservation in the memory map.

  Once the aperture is on (where ApertureRange.c allows it), its range is
  described so that the DXE core never hands it out:

    - an EFI_RESOURCE_MEMORY_RESERVED resource HOB with PRESENT, INITIALIZED
      and TESTED: reserved GCD space. Without TESTED the DXE core takes a
      reserved resource for untested system memory, and when an allocation
      cannot be met its PromoteMemoryResource turns it into conventional
      memory and allocates from it, so the operating system would receive
      the aperture as RAM;
    - a memory allocation HOB of EfiReservedMemoryType over the same range:
      the DXE core allocates that GCD space to itself, so no later
      AllocateMemorySpace can take it.

  This is the form OVMF uses for the PCI Express configuration space; the
  UEFI memory map lists the range as reserved whatever the memory pressure.
  An EFI_RESOURCE_MEMORY_MAPPED_IO HOB would not do: the memory map shows
  memory-mapped I/O only with the runtime attribute, so an operating system
  would treat the range as free address space.

  Inside the host bridge's 32-bit PCI window (OVMF's window starts at 2 GiB
  on QEMU's pc machine) a reserved range would make the PCI host bridge
  driver, which wants all of its window as memory-mapped I/O space, fail,
  and a BAR could be placed on the aperture. The window is therefore moved
  off the aperture, to the larger of the two parts beside it, both in its
  resource HOB and in the PCDs the host bridge driver reads.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "PlatformEarlyVideoPei.h"

#include <Library/DebugLib.h>
#include <Library/HobLib.h>
#include <Library/PcdLib.h>

/**
  Shrinks the memory-mapped I/O window Window to the larger of its parts
  below and above the aperture, and moves OVMF's 32-bit PCI window (the host
  bridge's aperture, PcdPciMmio32Base/Size) with it when that is the window.
**/
STATIC
VOID
MoveWindowOffAperture (
  IN OUT EFI_HOB_RESOURCE_DESCRIPTOR  *Window
  )
{
  EFI_PHYSICAL_ADDRESS  Start;
  UINT64                Below;
  UINT64                Above;
  BOOLEAN               IsPciWindow;

  Start       = Window->PhysicalStart;
  Below       = APERTURE_BASE - Start;
  Above       = Start + Window->ResourceLength - (APERTURE_BASE + APERTURE_SIZE);
  IsPciWindow = (PcdGet64 (PcdPciMmio32Base) == Start) && (PcdGet64 (PcdPciMmio32Size) == Window->ResourceLength);
  if (Above >= Below) {
    Window->PhysicalStart  = APERTURE_BASE + APERTURE_SIZE;
    Window->ResourceLength = Above;
  } else {
    Window->ResourceLength = Below;
  }

  if (IsPciWindow && (RETURN_ERROR (PcdSet64S (PcdPciMmio32Base, Window->PhysicalStart)) ||
                      RETURN_ERROR (PcdSet64S (PcdPciMmio32Size, Window->ResourceLength))))
  {
    DEBUG ((DEBUG_ERROR, "PlatformEarlyVideoPei: the PCI window's PCDs could not follow its resource HOB\n"));
  }

  DEBUG ((
    DEBUG_INFO,
    "PlatformEarlyVideoPei: %a 0x%lx-0x%lx moved off the aperture to 0x%lx-0x%lx\n",
    IsPciWindow ? "the PCI window" : "the memory-mapped I/O window",
    Start,
    Start + Below + APERTURE_SIZE + Above - 1,
    Window->PhysicalStart,
    Window->PhysicalStart + Window->ResourceLength - 1
    ));
}

VOID
ReserveAperture (
  VOID
  )
{
  EFI_HOB_RESOURCE_DESCRIPTOR  *Window;

  Window = ApertureWindow ();
  if (Window != NULL) {
    MoveWindowOffAperture (Window);
  }

  BuildResourceDescriptorHob (
    EFI_RESOURCE_MEMORY_RESERVED,
    EFI_RESOURCE_ATTRIBUTE_PRESENT | EFI_RESOURCE_ATTRIBUTE_INITIALIZED | EFI_RESOURCE_ATTRIBUTE_TESTED |
    EFI_RESOURCE_ATTRIBUTE_UNCACHEABLE,
    APERTURE_BASE,
    APERTURE_SIZE
    );
  BuildMemoryAllocationHob (APERTURE_BASE, APERTURE_SIZE, EfiReservedMemoryType);
  DEBUG ((
    DEBUG_INFO,
    "PlatformEarlyVideoPei: aperture 0x%lx-0x%lx reserved\n",
    APERTURE_BASE,
    APERTURE_BASE + APERTURE_SIZE - 1
    ));
}
