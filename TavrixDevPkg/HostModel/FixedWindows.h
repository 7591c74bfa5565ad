/** @file
  Host platform model: the fixed physical windows (VGA text memory and the
  frame aperture).

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef HOST_MODEL_FIXED_WINDOWS_H_
#define HOST_MODEL_FIXED_WINDOWS_H_

#include "ModelCommon.h"

//
// Fixed physical windows. VGA text memory is mapped at its real address.
// The frame aperture lives at 0x92000000 on real machines, an address that
// lies in AddressSanitizer's shadow gap on x86-64; the host-test build
// passes -DEARLY_VIDEO_APERTURE_BASE=0x500092000000ULL to every module and
// the model maps the aperture there. Both windows are fenced by a guard
// page on each side.
//
#define HOST_MODEL_TEXT_MEMORY_BASE 0xB8000ULL
#define HOST_MODEL_TEXT_MEMORY_SIZE 0x8000ULL
#define HOST_MODEL_APERTURE_BASE    0x500092000000ULL
#define HOST_MODEL_APERTURE_SIZE    0x2000000ULL

static_assert (HOST_MODEL_APERTURE_SIZE == TAVRIX_APERTURE_SIZE, "the model's aperture is the core's");

#if defined(EARLY_VIDEO_APERTURE_BASE)
static_assert (EARLY_VIDEO_APERTURE_BASE == HOST_MODEL_APERTURE_BASE, "the aperture define and the model disagree");
#endif

/// The fixed physical windows, mapped once per process and cleared for
/// every model.
class FIXED_WINDOWS {
public:
  UINT8 *
  TextMemory () const
  {
    return (UINT8 *)(UINTN)HOST_MODEL_TEXT_MEMORY_BASE;
  }

  UINT8 *
  Aperture () const
  {
    return (UINT8 *)(UINTN)HOST_MODEL_APERTURE_BASE;
  }

  UINT32
  AperturePixel (UINTN ByteOffset) const;

  /// Maps (first use) or clears both windows.
  void Reset ();
};

#endif
