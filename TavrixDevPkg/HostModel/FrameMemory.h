/** @file
  Host platform model: the display controller's frame memory, seen through
  BAR 0 and through the fixed frame aperture.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef HOST_MODEL_FRAME_MEMORY_H_
#define HOST_MODEL_FRAME_MEMORY_H_

#include "ModelCommon.h"

//
// The frame aperture lives at 0x92000000 on real machines, an address that
// lies in AddressSanitizer's shadow gap on x86-64; the host-test build
// passes -DEARLY_VIDEO_APERTURE_BASE=0x500092000000ULL to every module and
// the model shows the aperture there.
//
#define HOST_MODEL_APERTURE_BASE 0x500092000000ULL
#define HOST_MODEL_APERTURE_SIZE 0x2000000ULL
/// BAR 0 frame buffer of the display controller model (32 MiB).
#define HOST_MODEL_FRAME_BUFFER_SIZE 0x2000000ULL
static_assert (HOST_MODEL_FRAME_BUFFER_SIZE == TAVRIX_FRAME_BUFFER_SIZE, "the model's BAR 0 is the core's");
static_assert (HOST_MODEL_APERTURE_SIZE == TAVRIX_APERTURE_SIZE, "the model's aperture is the core's");

#if defined(EARLY_VIDEO_APERTURE_BASE)
static_assert (EARLY_VIDEO_APERTURE_BASE == HOST_MODEL_APERTURE_BASE, "the aperture define and the model disagree");
#endif

/// The controller's 32 MiB of frame memory: one memory file mapped twice,
/// once where PCI I/O reports BAR 0 and once at the fixed aperture address,
/// so that a store through either view is a store into the other, as on the
/// device, which shows the whole frame buffer linearly through the
/// aperture. The aperture view has an inaccessible guard page on each side
/// and is itself inaccessible while closed: the model cannot see a plain
/// load or store, so an access the device would not decode ends the test
/// with a fault instead. Each instance starts zeroed and closed; the newest
/// one owns the aperture address.
class FRAME_MEMORY {
public:
  FRAME_MEMORY ();
  ~FRAME_MEMORY ();
  FRAME_MEMORY (const FRAME_MEMORY &)            = delete;
  FRAME_MEMORY &operator= (const FRAME_MEMORY &) = delete;

  /// The BAR 0 view, always accessible (the host's own window on the memory).
  UINT8 *
  Bar () const
  {
    return mBar;
  }

  /// Opens the aperture view to loads and stores, or closes it.
  void SetApertureOpen (BOOLEAN Open);

private:
  int    mFile;
  UINT8 *mBar;
};

#endif
