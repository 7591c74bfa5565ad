/** @file
  Fixture of Prelumen's host tests: a fresh platform model, the driver's
  module state back at its load-time values, and the configuration tokens a
  platform would set.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef PRELUMEN_TEST_H_
#define PRELUMEN_TEST_H_

#include <HostModel.h>
#include <string>
#include <vector>
#include "../Prelumen.h"

extern "C" {
#include <Library/BaseMemoryLib.h>
#include <Library/DevicePathLib.h>
}

/// The driver's module state as a fresh load has it (its device table aside):
/// the state lives as long as the process, every test starts a new image.
inline void
ResetModuleState ()
{
  mGraphicsCallbacks    = {};
  mTextCallbacks        = {};
  mGopFound             = FALSE;
  mGraphicsOutput       = nullptr;
  mGraphicsOutputHandle = nullptr;
  mShadowBuffer         = nullptr;
  mShadowBufferSize     = 0;
  mDrawingDisabled      = FALSE;
}

/// A GOP of our own, with a frame buffer that the test owns.
struct TEST_GOP {
  EFI_GRAPHICS_OUTPUT_PROTOCOL         Protocol;
  EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE    Mode;
  EFI_GRAPHICS_OUTPUT_MODE_INFORMATION Info;
  std::vector<UINT32>                  Frame;
  std::vector<UINT8>                   DevicePath; ///< its handle's device path, when it has one

  explicit TEST_GOP (UINTN Pixels);
};

class PrelumenTest : public HOST_MODEL_TEST {
protected:
  // Frame geometry of the display-information HOB in most tests.
  static constexpr UINT32 WIDTH  = 800;
  static constexpr UINT32 HEIGHT = 600;
  static constexpr UINT32 PITCH  = WIDTH * 4;

  void SetUp () override;

  /// Sets all six configuration tokens: the mode, the shadow size, and the
  /// bridge and controller locations at their usual values.
  void Configure (BOOLEAN GraphicsMode, UINT32 ShadowWidth = 1024, UINT32 ShadowHeight = 768);

  /// Graphics mode with the display protocol and a display-information HOB;
  /// starts the driver and expects success.
  void StartGraphics (
    UINT32 ShadowWidth  = 1024,
    UINT32 ShadowHeight = 768,
    UINT32 FrameWidth   = WIDTH,
    UINT32 FrameHeight  = HEIGHT
  );

  /// Text mode with the text display protocol; starts the driver.
  void StartText ();

  /// Installs a GOP on a new handle, with a device path first if asked: the
  /// served controller's path with an ACPI _ADR node, as a display driver's
  /// child handle has.
  EFI_HANDLE
  InstallGop (TEST_GOP &Gop, BOOLEAN WithDevicePath);

  /// Installs a GOP on a new handle whose device path is ChildPath (Parent).
  EFI_HANDLE
  InstallGopBelow (TEST_GOP &Gop, const EFI_DEVICE_PATH_PROTOCOL *Parent);

  /// Parent's device path with an ACPI _ADR node added.
  static std::vector<UINT8> ChildPath (const EFI_DEVICE_PATH_PROTOCOL *Parent);

  /// The aperture pixel at a frame byte offset.
  UINT32
  Pixel (UINT64 Offset) const;

  /// Number of non-zero bytes in the whole aperture window.
  UINTN
  ApertureBytesWritten () const;

  /// The glyph cell at frame byte offset Offset as 16 strings of 8 characters:
  /// '#' for Foreground, '.' for Background, '?' for anything else.
  std::vector<std::string> Cell (UINT64 Offset, UINT32 Foreground, UINT32 Background, UINT32 Pitch = PITCH) const;

  /// The same picture made from a glyph of the font.
  static std::vector<std::string> GlyphPicture (UINT8 Code);

  /// Writes to the three bank ports and the CRT controller index, in order.
  std::vector<std::pair<UINT16, UINT32>> BankPortWrites () const;

  /// The display-information HOB's data, once StartGraphics has added it.
  EARLY_VIDEO_INFO *VideoInfo = nullptr;

private:
  std::vector<EARLY_VIDEO_DEVICE> mDevices;
};

#endif
