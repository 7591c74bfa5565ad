/** @file
  The controller's frame memory: a memory file mapped as BAR 0 and again at
  the fixed aperture address, between two guard pages.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "HostModelInternal.h"
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace {

const UINTN mGuard = 0x1000;

/// The instance whose pages the aperture address shows; nullptr while none.
FRAME_MEMORY *mShown;

UINT8 *
ApertureView ()
{
  return (UINT8 *)(UINTN)HOST_MODEL_APERTURE_BASE;
}

[[noreturn]] void
Fail (const char *What)
{
  fprintf (stderr, "host model: cannot %s: %s\n", What, strerror (errno));
  abort ();
}

/// Reserves [aperture - guard, aperture + size + guard) inaccessible, once
/// per process: the guards stay, the middle is replaced per instance.
void
ReserveAperture ()
{
  static BOOLEAN Reserved;

  if (Reserved) {
    return;
  }

  VOID *Want = ApertureView () - mGuard;
  VOID *Got  = mmap (
     Want, HOST_MODEL_APERTURE_SIZE + 2 * mGuard, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0
   );

  if (Got != Want) {
    Fail ("reserve the aperture");
  }

  Reserved = TRUE;
}

} // namespace

FRAME_MEMORY::FRAME_MEMORY ()
{
  mFile = memfd_create ("host-model-bar0", MFD_CLOEXEC);
  if ((mFile < 0) || (ftruncate (mFile, HOST_MODEL_FRAME_BUFFER_SIZE) != 0)) {
    Fail ("create the frame memory");
  }

  mBar = (UINT8 *)mmap (nullptr, HOST_MODEL_FRAME_BUFFER_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, mFile, 0);
  if (mBar == MAP_FAILED) {
    Fail ("map BAR 0");
  }

  ReserveAperture ();
  if (mmap (ApertureView (), HOST_MODEL_APERTURE_SIZE, PROT_NONE, MAP_SHARED | MAP_FIXED, mFile, 0) != ApertureView ()) {
    Fail ("map the aperture");
  }

  mShown = this;
}

FRAME_MEMORY::~FRAME_MEMORY ()
{
  //
  // The aperture gives the pages back (an inaccessible hole again) unless a
  // newer instance has taken it over.
  //
  if (mShown == this) {
    mmap (ApertureView (), HOST_MODEL_APERTURE_SIZE, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    mShown = nullptr;
  }

  munmap (mBar, HOST_MODEL_FRAME_BUFFER_SIZE);
  close (mFile);
}

void
FRAME_MEMORY::SetApertureOpen (BOOLEAN Open)
{
  if (mShown != this) {
    return; // a newer instance shows its own pages there
  }

  if (mprotect (ApertureView (), HOST_MODEL_APERTURE_SIZE, Open ? PROT_READ | PROT_WRITE : PROT_NONE) != 0) {
    Fail ("change the aperture's protection");
  }
}
