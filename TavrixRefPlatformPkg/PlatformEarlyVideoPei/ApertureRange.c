/** @file
  Where the fixed frame aperture may decode.

  While it is on, the aperture decodes on the root bus in front of anything
  else at its address: over RAM it hides that RAM from everyone (the PEI
  core's own memory may lie there), over a BAR it hides the BAR. So it is
  turned on only where the resource descriptor HOBs the platform left show
  no system memory and nothing else but, at most, one memory-mapped I/O
  window around all of it (ApertureReservation.c moves such a window off
  it). The temporary BAR 1 window that shows the early frame must not be
  RAM either; at PEI time no BAR is assigned, so it may lie in a PCI window.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "PlatformEarlyVideoPei.h"

#include <Library/DebugLib.h>
#include <Library/HobLib.h>
#include <Library/PcdLib.h>

/**
  The next resource descriptor HOB from Hob on that overlaps [Base, Base +
  Size), or NULL.
**/
STATIC
EFI_HOB_RESOURCE_DESCRIPTOR *
NextOverlap (
  IN VOID                  *Hob,
  IN EFI_PHYSICAL_ADDRESS  Base,
  IN UINT64                Size
  )
{
  EFI_PEI_HOB_POINTERS  Pointer;

  for (Pointer.Raw = GetNextHob (EFI_HOB_TYPE_RESOURCE_DESCRIPTOR, Hob);
       Pointer.Raw != NULL;
       Pointer.Raw = GetNextHob (EFI_HOB_TYPE_RESOURCE_DESCRIPTOR, GET_NEXT_HOB (Pointer)))
  {
    if ((Pointer.ResourceDescriptor->PhysicalStart < Base + Size) &&
        (Base < Pointer.ResourceDescriptor->PhysicalStart + Pointer.ResourceDescriptor->ResourceLength))
    {
      return Pointer.ResourceDescriptor;
    }
  }

  return NULL;
}

EFI_HOB_RESOURCE_DESCRIPTOR *
ApertureWindow (
  VOID
  )
{
  EFI_HOB_RESOURCE_DESCRIPTOR  *Resource;

  for (Resource = NextOverlap (GetHobList (), APERTURE_BASE, APERTURE_SIZE);
       Resource != NULL;
       Resource = NextOverlap (GET_NEXT_HOB (Resource), APERTURE_BASE, APERTURE_SIZE))
  {
    if ((Resource->ResourceType == EFI_RESOURCE_MEMORY_MAPPED_IO) && (Resource->PhysicalStart <= APERTURE_BASE) &&
        (APERTURE_BASE + APERTURE_SIZE <= Resource->PhysicalStart + Resource->ResourceLength))
    {
      return Resource;
    }
  }

  return NULL;
}

/**
  Whether [Base, Base + Size) overlaps no resource but Window (the
  aperture's own memory-mapped I/O window, or NULL) or, with AnyWindow, any
  memory-mapped I/O window; says what it overlaps otherwise.
**/
STATIC
BOOLEAN
RangeIsFree (
  IN CONST CHAR8                  *What,
  IN EFI_PHYSICAL_ADDRESS         Base,
  IN UINT64                       Size,
  IN EFI_HOB_RESOURCE_DESCRIPTOR  *Window     OPTIONAL,
  IN BOOLEAN                      AnyWindow
  )
{
  EFI_HOB_RESOURCE_DESCRIPTOR  *Resource;

  for (Resource = NextOverlap (GetHobList (), Base, Size);
       Resource != NULL;
       Resource = NextOverlap (GET_NEXT_HOB (Resource), Base, Size))
  {
    if ((Resource == Window) || (AnyWindow && (Resource->ResourceType == EFI_RESOURCE_MEMORY_MAPPED_IO))) {
      continue;
    }

    DEBUG ((
      DEBUG_WARN,
      "PlatformEarlyVideoPei: the %a 0x%lx-0x%lx overlaps %a 0x%lx-0x%lx: the aperture stays off, no early picture\n",
      What,
      Base,
      Base + Size - 1,
      (Resource->ResourceType == EFI_RESOURCE_SYSTEM_MEMORY) ? "system memory" : "a reserved or device range",
      Resource->PhysicalStart,
      Resource->PhysicalStart + Resource->ResourceLength - 1
      ));
    return FALSE;
  }

  return TRUE;
}

BOOLEAN
ApertureMayDecode (
  VOID
  )
{
  return RangeIsFree ("aperture", APERTURE_BASE, APERTURE_SIZE, ApertureWindow (), FALSE) &&
         RangeIsFree ("temporary register window", REGISTERS_TEMPORARY_BASE, REGISTERS_TEMPORARY_SIZE, NULL, TRUE);
}
