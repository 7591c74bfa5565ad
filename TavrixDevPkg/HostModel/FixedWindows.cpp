/** @file
  The fixed physical windows: VGA text memory at its real address, fenced by
  an inaccessible guard page on both sides so that a stray store ends the
  test with a fault, and the frame aperture's picture (the aperture itself is
  the controller's frame memory).

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "HostModelInternal.h"
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/mman.h>

namespace {

const UINTN mGuard = 0x1000;

BOOLEAN mMapped;

/// Reserves [Base - guard, Base + Size + guard) inaccessible, opens the middle.
void
MapWindow (UINT64 Base, UINT64 Size)
{
  VOID *Want = (VOID *)(UINTN)(Base - mGuard);
  VOID *Got  = mmap (Want, Size + 2 * mGuard, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);

  if (Got != Want) {
    fprintf (stderr, "host model: cannot map the window at 0x%llx: %s\n", (unsigned long long)Base, strerror (errno));
    abort ();
  }

  if (mprotect ((VOID *)(UINTN)Base, Size, PROT_READ | PROT_WRITE) != 0) {
    fprintf (stderr, "host model: cannot open the window at 0x%llx: %s\n", (unsigned long long)Base, strerror (errno));
    abort ();
  }
}

/// Gives the window back to the kernel; it reads as zeros from now on.
void
ClearWindow (UINT64 Base, UINT64 Size)
{
  madvise ((VOID *)(UINTN)Base, Size, MADV_DONTNEED);
}

} // namespace

void
FIXED_WINDOWS::Reset ()
{
  if (!mMapped) {
    MapWindow (HOST_MODEL_TEXT_MEMORY_BASE, HOST_MODEL_TEXT_MEMORY_SIZE);
    mMapped = TRUE;
    return;
  }

  ClearWindow (HOST_MODEL_TEXT_MEMORY_BASE, HOST_MODEL_TEXT_MEMORY_SIZE);
}

UINT32
FIXED_WINDOWS::AperturePixel (UINTN ByteOffset) const
{
  //
  // The device's own decoding of an aperture address: a pixel that reaches
  // outside the aperture has no frame-buffer offset.
  //
  uint64_t Offset;

  if (!TavrixCoreApertureOffset ((UINT64)TAVRIX_APERTURE_BASE + ByteOffset, 4, &Offset)) {
    ADD_FAILURE () << "AperturePixel at " << ByteOffset << " lies beyond the aperture";
    return 0;
  }

  return HOST_MODEL::Current ().Controller.Pixel ((UINTN)Offset);
}
