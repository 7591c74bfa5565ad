/** @file
  Legacy VGA text output: the configuration cycles that route legacy VGA,
  the cells PrintString writes, and the cells it must not write.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "PrelumenTest.h"

#include <algorithm>
#include <cstdio>

int LegacyVgaTextTestAnchor;

namespace {

/// One configuration access as text: "W 00:1c.3 04/1 = 3".
std::string
Describe (const CONFIG_ACCESS &Access)
{
  char Line[64];

  snprintf (
    Line, sizeof (Line), "%c %02x:%02x.%x %02x/%u = %x", Access.IsWrite ? 'W' : 'R', Access.Bus, Access.Device,
    Access.Function, Access.Register, Access.Size, Access.Value
  );
  return Line;
}

std::vector<std::string>
ConfigSequence (HOST_MODEL &Model)
{
  std::vector<std::string> Lines;

  for (const CONFIG_ACCESS &Access : Model.Ports.ConfigLog ()) {
    Lines.push_back (Describe (Access));
  }

  return Lines;
}

/// The routing with bridge tokens 0x3C/0x0B and controller token 0x01020300.
const std::vector<std::string> mRouting = {
  "W 00:1c.3 04/1 = 3",    "W 00:1c.3 18/1 = 0",    "W 00:1c.3 19/1 = 1", "W 00:1c.3 1a/1 = 8",
  "R 01:02.3 00/2 = 19e5", "R 01:02.3 02/2 = 1711", "W 01:02.3 04/1 = 3", "W 01:02.3 10/4 = 91000000",
};

} // namespace

class PrelumenText : public PrelumenTest {
protected:
  void
  SetUp () override
  {
    PrelumenTest::SetUp ();
    StartText ();
  }

  /// Character and attribute bytes of cell Index.
  std::pair<char, UINT8>
  TextCell (UINTN Index) const
  {
    const UINT8 *Text = Model.Windows.TextMemory ();

    return { static_cast<char> (Text[Index * 2]), Text[Index * 2 + 1] };
  }

  UINTN
  TextBytesWritten () const
  {
    const UINT8 *Text = Model.Windows.TextMemory ();

    return static_cast<UINTN> (std::count_if (Text, Text + HOST_MODEL_TEXT_MEMORY_SIZE, [] (UINT8 Byte) {
      return Byte != 0;
    }));
  }
};

//
// Bridge device and function are masked to 5 and 3 bits; the controller's
// bus, device and function come from bits 31-24, 20-16 and 10-8 of token 1,
// whatever the other bits hold.
//
TEST_F (PrelumenText, RoutingProgramsBridgeThenControllerAndReportsWhatItFound)
{
  const UINT32 Locations[] = { 0x01020300, 0x01E2FBFF };

  Model.Ports.SetBridgeLocation (0x1C, 3);
  Model.Ports.SetControllerLocation (1, 2, 3);
  Model.Pcd.SetEx8 (gEarlyVideoTokenSpaceGuid, TokenBridgeDevice, 0x3C);
  Model.Pcd.SetEx8 (gEarlyVideoTokenSpaceGuid, TokenBridgeFunction, 0x0B);

  for (const UINT32 Location : Locations) {
    Model.Ports.ClearLogs ();
    Model.Pcd.SetEx32 (gEarlyVideoTokenSpaceGuid, TokenDeviceLocation, Location);

    UINT16 Vendor   = 0;
    UINT16 Device   = 0;
    UINT32 Reported = 0;

    EXPECT_EQ (RouteLegacyVga (&Vendor, &Device, &Reported), EFI_SUCCESS);
    EXPECT_EQ (ConfigSequence (Model), mRouting) << std::hex << Location;
    EXPECT_EQ (Vendor, 0x19E5);
    EXPECT_EQ (Device, 0x1711);
    EXPECT_EQ (Reported, Location);
  }
}

TEST_F (PrelumenText, EveryPrintRoutesAgainAndWritesCharacterAndAttributeCells)
{
  Model.Ports.SetBridgeLocation (0x1C, 3);
  Model.Ports.SetControllerLocation (1, 2, 3);
  Model.Pcd.SetEx8 (gEarlyVideoTokenSpaceGuid, TokenBridgeDevice, 0x3C);
  Model.Pcd.SetEx8 (gEarlyVideoTokenSpaceGuid, TokenBridgeFunction, 0x0B);
  Model.Pcd.SetEx32 (gEarlyVideoTokenSpaceGuid, TokenDeviceLocation, 0x01020300);

  // An empty string still routes, and writes nothing.
  EXPECT_EQ (Model.EarlyDisplay.PrintString (3, 3, 0x07, ""), EFI_SUCCESS);
  EXPECT_EQ (ConfigSequence (Model), mRouting);
  EXPECT_EQ (TextBytesWritten (), 0U);

  // Drawing being off is no business of text output.
  mDrawingDisabled = TRUE;
  Model.Ports.ClearLogs ();
  EXPECT_EQ (Model.EarlyDisplay.PrintString (5, 2, 0x1F, "Hi"), EFI_SUCCESS);
  EXPECT_EQ (ConfigSequence (Model), mRouting);
  EXPECT_EQ (TextCell (2 * 80 + 5), std::make_pair ('H', UINT8 (0x1F)));
  EXPECT_EQ (TextCell (2 * 80 + 6), std::make_pair ('i', UINT8 (0x1F)));
  EXPECT_EQ (TextBytesWritten (), 4U);

  // Past column 79 the string goes on at the start of the next row.
  EXPECT_EQ (Model.EarlyDisplay.PrintString (79, 0, 0x4E, "AB"), EFI_SUCCESS);
  EXPECT_EQ (TextCell (79), std::make_pair ('A', UINT8 (0x4E)));
  EXPECT_EQ (TextCell (80), std::make_pair ('B', UINT8 (0x4E)));
}

//
// Cells outside the 80 x 25 screen are dropped, including rows whose
// row * 80 + column wraps in 32 bits back onto the screen (0x03333334 * 80
// is 2^32 + 64).
//
TEST_F (PrelumenText, CellsOutsideTheScreenAreDropped)
{
  EXPECT_EQ (Model.EarlyDisplay.PrintString (78, 24, 0x07, "WXYZ"), EFI_SUCCESS);
  EXPECT_EQ (TextCell (1998), std::make_pair ('W', UINT8 (0x07)));
  EXPECT_EQ (TextCell (1999), std::make_pair ('X', UINT8 (0x07)));
  EXPECT_EQ (TextBytesWritten (), 4U);

  const std::pair<UINT32, UINT32> Outside[] = {
    { 0, 25 }, { 80 * 25, 0 }, { 0, 0x03333334 }, { 0xFFFFFFFF, 0xFFFFFFFF }
  };

  for (const auto &Place : Outside) {
    EXPECT_EQ (Model.EarlyDisplay.PrintString (Place.first, Place.second, 0x07, "outside"), EFI_SUCCESS);
  }

  EXPECT_EQ (TextBytesWritten (), 4U);
}

TEST_F (PrelumenText, SilentOnceAGopIsFound)
{
  UINT16 Vendor;
  UINT16 Device;
  UINT32 Location;

  mGopFound = TRUE;
  EXPECT_EQ (Model.EarlyDisplay.PrintString (0, 0, 0x07, "Hi"), EFI_SUCCESS);
  EXPECT_EQ (RouteLegacyVga (&Vendor, &Device, &Location), EFI_UNSUPPORTED);
  EXPECT_TRUE (Model.Ports.ConfigLog ().empty ());
  EXPECT_EQ (TextBytesWritten (), 0U);
}
