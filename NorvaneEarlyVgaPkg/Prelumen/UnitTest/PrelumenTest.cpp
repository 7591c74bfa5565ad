/** @file
  Fixture of Prelumen's host tests and the test program's main.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "PrelumenTest.h"

#include <algorithm>

TEST_GOP::TEST_GOP (UINTN Pixels) : Protocol (), Mode (), Info (), Frame (Pixels, 0)
{
  Mode.MaxMode         = 1;
  Mode.Info            = &Info;
  Mode.SizeOfInfo      = sizeof (Info);
  Mode.FrameBufferBase = reinterpret_cast<UINTN> (Frame.data ());
  Mode.FrameBufferSize = Pixels * sizeof (UINT32);
  Protocol.Mode        = &Mode;
}

void
PrelumenTest::SetUp ()
{
  //
  // The driver's module state is zero at load; every test is a fresh load.
  // The supported-device table is restored from its first-seen contents.
  //
  static std::vector<EARLY_VIDEO_DEVICE> LoadedDevices;

  if (LoadedDevices.empty ()) {
    for (const EARLY_VIDEO_DEVICE *Row = mSupportedDevices;; Row++) {
      LoadedDevices.push_back (*Row);
      if (Row->VendorId == EARLY_VIDEO_DEVICE_END) {
        break;
      }
    }
  }

  std::copy (LoadedDevices.begin (), LoadedDevices.end (), mSupportedDevices);
  ResetModuleState ();
}

void
PrelumenTest::Configure (BOOLEAN GraphicsMode, UINT32 ShadowWidth, UINT32 ShadowHeight)
{
  Model.Pcd.SetExBool (gEarlyVideoTokenSpaceGuid, TokenGraphicsMode, GraphicsMode);
  Model.Pcd.SetEx32 (gEarlyVideoTokenSpaceGuid, TokenShadowWidth, ShadowWidth);
  Model.Pcd.SetEx32 (gEarlyVideoTokenSpaceGuid, TokenShadowHeight, ShadowHeight);
  Model.Pcd.SetEx8 (gEarlyVideoTokenSpaceGuid, TokenBridgeDevice, 0x1C);
  Model.Pcd.SetEx8 (gEarlyVideoTokenSpaceGuid, TokenBridgeFunction, 0);
  Model.Pcd.SetEx32 (gEarlyVideoTokenSpaceGuid, TokenDeviceLocation, 0x01000000);

  //
  // The platform's early set-up turns the aperture on in graphics mode
  // only; until then a store through it faults.
  //
  if (GraphicsMode) {
    Model.Controller.TurnApertureOn ();
  }
}

void
PrelumenTest::StartGraphics (UINT32 ShadowWidth, UINT32 ShadowHeight, UINT32 FrameWidth, UINT32 FrameHeight)
{
  Configure (TRUE, ShadowWidth, ShadowHeight);
  Model.EarlyDisplay.InstallGraphics ();
  VideoInfo = reinterpret_cast<EARLY_VIDEO_INFO *> (Model.Hobs.AddEarlyVideoInfo (FrameWidth, FrameHeight));
  ASSERT_EQ (Model.StartModule (EarlyVideoEntryPoint), EFI_SUCCESS);
}

void
PrelumenTest::StartText ()
{
  Configure (FALSE);
  Model.EarlyDisplay.InstallText ();
  ASSERT_EQ (Model.StartModule (EarlyVideoEntryPoint), EFI_SUCCESS);
}

EFI_HANDLE
PrelumenTest::InstallGop (TEST_GOP &Gop, BOOLEAN WithDevicePath)
{
  if (!WithDevicePath) {
    return Model.InstallProtocol (nullptr, gEfiGraphicsOutputProtocolGuid, &Gop.Protocol);
  }

  Model.Controller.Publish ();
  return InstallGopBelow (Gop, Model.Controller.DevicePath ());
}

EFI_HANDLE
PrelumenTest::InstallGopBelow (TEST_GOP &Gop, const EFI_DEVICE_PATH_PROTOCOL *Parent)
{
  Gop.DevicePath = ChildPath (Parent);

  EFI_HANDLE Handle = Model.InstallProtocol (nullptr, gEfiDevicePathProtocolGuid, Gop.DevicePath.data ());

  return Model.InstallProtocol (Handle, gEfiGraphicsOutputProtocolGuid, &Gop.Protocol);
}

std::vector<UINT8>
PrelumenTest::ChildPath (const EFI_DEVICE_PATH_PROTOCOL *Parent)
{
  const UINT8 *Bytes   = reinterpret_cast<const UINT8 *> (Parent);
  const UINT8  Child[] = { ACPI_DEVICE_PATH, ACPI_ADR_DP, 8, 0, 0x00, 0x01, 0x01, 0x80 };
  const UINT8  End[]   = { END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, END_DEVICE_PATH_LENGTH, 0 };

  std::vector<UINT8> Path (Bytes, Bytes + GetDevicePathSize (Parent) - END_DEVICE_PATH_LENGTH);

  Path.insert (Path.end (), Child, Child + sizeof (Child));
  Path.insert (Path.end (), End, End + sizeof (End));
  return Path;
}

UINT32
PrelumenTest::Pixel (UINT64 Offset) const
{
  return Model.Windows.AperturePixel (static_cast<UINTN> (Offset));
}

UINTN
PrelumenTest::ApertureBytesWritten () const
{
  //
  // Word by word: the window is 32 MiB and mostly clear. Read through BAR 0,
  // the same memory, which can be read whether or not the aperture decodes.
  //
  const UINT64 *Words = reinterpret_cast<const UINT64 *> (Model.Controller.FrameBuffer ());
  UINTN         Count = 0;

  for (UINTN Index = 0; Index < HOST_MODEL_APERTURE_SIZE / sizeof (UINT64); Index++) {
    for (UINT64 Word = Words[Index]; Word != 0; Word >>= 8) {
      Count += (Word & 0xFF) != 0;
    }
  }

  return Count;
}

std::vector<std::string>
PrelumenTest::Cell (UINT64 Offset, UINT32 Foreground, UINT32 Background, UINT32 Pitch) const
{
  std::vector<std::string> Picture;

  for (UINT32 Row = 0; Row < FONT_8X16_HEIGHT; Row++) {
    std::string Line;

    for (UINT32 Column = 0; Column < FONT_8X16_WIDTH; Column++) {
      const UINT32 Value = Pixel (Offset + Row * Pitch + Column * 4);

      Line += (Value == Foreground) ? '#' : (Value == Background) ? '.' : '?';
    }

    Picture.push_back (Line);
  }

  return Picture;
}

std::vector<std::string>
PrelumenTest::GlyphPicture (UINT8 Code)
{
  std::vector<std::string> Picture;

  for (UINT32 Row = 0; Row < FONT_8X16_HEIGHT; Row++) {
    std::string Line;

    for (UINT32 Column = 0; Column < FONT_8X16_WIDTH; Column++) {
      Line += ((mFont8x16[Code * FONT_8X16_HEIGHT + Row] << Column) & 0x80) ? '#' : '.';
    }

    Picture.push_back (Line);
  }

  return Picture;
}

std::vector<std::pair<UINT16, UINT32>>
PrelumenTest::BankPortWrites () const
{
  std::vector<std::pair<UINT16, UINT32>> Writes;

  for (const PORT_ACCESS &Access : Model.Ports.Log ()) {
    if (Access.IsWrite && ((Access.Port == 0x3D4) || (Access.Port == 0x3D5) || (Access.Port == 0x3CB) || (Access.Port == 0x3CD))) {
      Writes.emplace_back (Access.Port, Access.Value);
    }
  }

  return Writes;
}

extern int Font8x16TestAnchor;
extern int PrelumenEntryTestAnchor;
extern int LegacyVgaTextTestAnchor;
extern int FrameBufferDrawTestAnchor;

int
main (int argc, char *argv[])
{
  //
  // The test files reach the link through the module's static library,
  // which keeps only objects that something refers to: refer to each.
  //
  Font8x16TestAnchor        = 0;
  PrelumenEntryTestAnchor   = 0;
  LegacyVgaTextTestAnchor   = 0;
  FrameBufferDrawTestAnchor = 0;

  testing::InitGoogleTest (&argc, argv);
  return RUN_ALL_TESTS ();
}
