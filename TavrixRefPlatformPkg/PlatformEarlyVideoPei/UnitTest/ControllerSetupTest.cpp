/** @file
  The PEI video initialisation's controller set-up on the host model: the
  bridge at 0:1C.0 and the display controller behind it, reached through
  PCI configuration mechanism 1. What is written where, and in which order,
  and that a location where the display controller does not answer is
  refused with nothing turned on.

  Graphics mode is left to the platform boot: it programs channel B through
  a BAR 1 address that the host does not map.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include <HostModel.h>
#include <vector>

extern "C" {
#include "../PlatformEarlyVideoPei.h"
#include <IndustryStandard/Pci.h>
}

namespace {

/// The build's location: bridge 0:1C.0, controller at bus 1, device 0.
const EARLY_VIDEO_LOCATION kLocation = { 0x1C, 0x00, 0x01000000 };

class ControllerSetup : public HOST_MODEL_TEST {
protected:
  std::vector<UINT8>
  BridgeConfig ()
  {
    return std::vector<UINT8> (Model.Ports.BridgeConfig (), Model.Ports.BridgeConfig () + 256);
  }

  std::vector<UINT8>
  ControllerConfig ()
  {
    return std::vector<UINT8> (Model.Controller.ConfigSpace (), Model.Controller.ConfigSpace () + 256);
  }

  /// Sequence number of the first access matching the predicate, or ~0.
  template <typename PREDICATE>
  UINT64
  First (PREDICATE Matches)
  {
    for (const CONFIG_ACCESS &Access : Model.Ports.ConfigLog ()) {
      if (Matches (Access)) {
        return Access.Sequence;
      }
    }

    return ~0ull;
  }
};

TEST_F (ControllerSetup, TextModeRoutesLegacyVgaOnceTheControllerHasAnswered)
{
  ASSERT_TRUE (SetUpController (FALSE, &kLocation));

  const std::vector<UINT8> Bridge = BridgeConfig ();
  EXPECT_EQ (Bridge[PCI_BRIDGE_PRIMARY_BUS_REGISTER_OFFSET], 0);
  EXPECT_EQ (Bridge[PCI_BRIDGE_SECONDARY_BUS_REGISTER_OFFSET], 1);
  EXPECT_EQ (Bridge[PCI_BRIDGE_SUBORDINATE_BUS_REGISTER_OFFSET], 8);
  EXPECT_EQ (Bridge[PCI_BRIDGE_CONTROL_REGISTER_OFFSET] & EFI_PCI_BRIDGE_CONTROL_VGA, EFI_PCI_BRIDGE_CONTROL_VGA);
  EXPECT_EQ (Bridge[PCI_COMMAND_OFFSET] & 0x03, 0x03);
  EXPECT_EQ (Model.Controller.ConfigSpace ()[PCI_COMMAND_OFFSET] & 0x03, 0x03);
  EXPECT_EQ (Model.Controller.ConfigSpace ()[0x40], 0); // the aperture is for graphics mode

  // The controller's device ID is read before the bridge forwards or decodes
  // anything.
  const UINT64 Identified = First ([] (const CONFIG_ACCESS &Access) {
    return !Access.IsWrite && Access.Claimed && (Access.Bus == 1) && (Access.Register == PCI_DEVICE_ID_OFFSET);
  });
  const UINT64 Opened     = First ([] (const CONFIG_ACCESS &Access) {
    return Access.IsWrite && (Access.Bus == 0) &&
           ((Access.Register == PCI_COMMAND_OFFSET) || (Access.Register == PCI_BRIDGE_CONTROL_REGISTER_OFFSET));
  });
  EXPECT_LT (Identified, Opened);
}

//
// Another device behind the root port, or none at the controller's
// location: the bridge gets its bus numbers back and nothing is turned on,
// in either mode.
//
TEST_F (ControllerSetup, WhereTheControllerDoesNotAnswerTheBridgeIsLeftAsItWas)
{
  Model.Ports.BridgeConfig ()[PCI_BRIDGE_SECONDARY_BUS_REGISTER_OFFSET]   = 2;
  Model.Ports.BridgeConfig ()[PCI_BRIDGE_SUBORDINATE_BUS_REGISTER_OFFSET] = 3;
  Model.Controller.SetIds (0x8086, 0x100E);
  const std::vector<UINT8> Bridge     = BridgeConfig ();
  const std::vector<UINT8> Controller = ControllerConfig ();

  EXPECT_FALSE (SetUpController (FALSE, &kLocation));
  EXPECT_FALSE (SetUpController (TRUE, &kLocation));
  EXPECT_EQ (BridgeConfig (), Bridge);
  EXPECT_EQ (ControllerConfig (), Controller);

  Model.Controller.SetIds (0x19E5, 0x1711);
  Model.Ports.SetControllerLocation (1, 2, 0);
  EXPECT_FALSE (SetUpController (TRUE, &kLocation));
  EXPECT_EQ (BridgeConfig (), Bridge);
}

//
// No bridge at the bridge's location, or a controller bus the bridge cannot
// forward to: refused before any write.
//
TEST_F (ControllerSetup, ALocationThatCannotHoldTheControllerIsRefusedWithoutAWrite)
{
  const EARLY_VIDEO_LOCATION NoBridge   = { 0x1D, 0x00, 0x01000000 };
  const EARLY_VIDEO_LOCATION BusZero    = { 0x1C, 0x00, 0x00010000 };
  const EARLY_VIDEO_LOCATION BusNine    = { 0x1C, 0x00, 0x09000000 };
  const EARLY_VIDEO_LOCATION Rejected[] = { NoBridge, BusZero, BusNine };

  for (const EARLY_VIDEO_LOCATION &Location : Rejected) {
    EXPECT_FALSE (SetUpController (TRUE, &Location));
    EXPECT_FALSE (SetUpController (FALSE, &Location));
  }

  EXPECT_TRUE (Model.Ports.ConfigWrites ().empty ());
}

} // namespace

int
main (int argc, char *argv[])
{
  testing::InitGoogleTest (&argc, argv);
  return RUN_ALL_TESTS ();
}
