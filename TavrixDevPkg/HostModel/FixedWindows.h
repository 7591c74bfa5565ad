/** @file
  Host platform model: the fixed physical windows (VGA text memory and the
  frame aperture).

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef HOST_MODEL_FIXED_WINDOWS_H_
#define HOST_MODEL_FIXED_WINDOWS_H_

#include "ModelCommon.h"
#include "FrameMemory.h"

//
// VGA text memory is mapped at its real address, fenced by a guard page on
// each side. The frame aperture is the display controller's (FRAME_MEMORY):
// its BAR 0 frame buffer shown again at HOST_MODEL_APERTURE_BASE, accessible
// only while the controller decodes it.
//
#define HOST_MODEL_TEXT_MEMORY_BASE 0xB8000ULL
#define HOST_MODEL_TEXT_MEMORY_SIZE 0x8000ULL

/// The fixed physical windows. Text memory is mapped once per process and
/// cleared for every model; the aperture comes with every model's controller.
class FIXED_WINDOWS {
public:
  UINT8 *
  TextMemory () const
  {
    return (UINT8 *)(UINTN)HOST_MODEL_TEXT_MEMORY_BASE;
  }

  /// The aperture's address; loads and stores there fault unless
  /// DISPLAY_CONTROLLER::ApertureDecodes ().
  UINT8 *
  Aperture () const
  {
    return (UINT8 *)(UINTN)HOST_MODEL_APERTURE_BASE;
  }

  /// The 32-bit pixel the aperture shows at ByteOffset, read from BAR 0 at
  /// the offset the controller maps it to, so a test can look whether or not
  /// the aperture decodes. An offset beyond the aperture fails the test.
  UINT32
  AperturePixel (UINTN ByteOffset) const;

  /// Maps (first use) or clears text memory.
  void Reset ();
};

#endif
