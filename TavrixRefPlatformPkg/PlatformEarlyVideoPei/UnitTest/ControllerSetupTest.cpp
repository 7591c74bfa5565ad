/** @file
  The PEI video initialisation's controller set-up on the host model: the
  bridge at 0:1C.0 and the display controller behind it, or the controller
  on the root bus, reached through PCI configuration mechanism 1. What is
  written where, and in which order, that a location where the display
  controller does not answer is refused with nothing turned on, and where
  the aperture may decode given the platform's resource HOBs.

  Graphics mode is left to the platform boot: it programs channel B through
  a BAR 1 address that the host does not map.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include <HostModel.h>
#include <tuple>
#include <vector>

extern "C" {
#include "../PlatformEarlyVideoPei.h"
#include <IndustryStandard/Pci.h>
#include <Library/PciCf8Lib.h>
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

//
// The card on the root bus, with no bridge in front: found there by its IDs
// without a write, and set up without touching the bridge that exists on
// this board at 0:1C.0. The location found names the controller itself as
// its "bridge"; the bus-number bytes Prelumen's text output writes there
// land in BAR 2, which the controller does not implement.
//
TEST_F (ControllerSetup, OnTheRootBusTheControllerIsFoundAndSetUpWithoutABridge)
{
  EARLY_VIDEO_LOCATION Found = {};

  Model.Ports.SetControllerLocation (0, 2, 0);
  const std::vector<UINT8> Bridge = BridgeConfig ();
  ASSERT_TRUE (FindOnRootBus (&Found));
  EXPECT_EQ (Found.DeviceLocation, 0x00020000u);
  EXPECT_EQ (std::make_pair (Found.BridgeDevice, Found.BridgeFunction), std::make_pair (UINT8 (2), UINT8 (0)));
  EXPECT_TRUE (Model.Ports.ConfigWrites ().empty ());

  ASSERT_TRUE (SetUpController (FALSE, &Found));
  EXPECT_EQ (BridgeConfig (), Bridge);
  EXPECT_EQ (Model.Controller.ConfigSpace ()[PCI_COMMAND_OFFSET] & 0x03, 0x03);
  for (const CONFIG_ACCESS &Write : Model.Ports.ConfigWrites ()) {
    EXPECT_EQ (std::make_tuple (Write.Bus, Write.Device, Write.Function), std::make_tuple (0, 2, 0));
  }

  const UINT32 Bar2 = Model.Controller.Config32 (0x18);
  PciCf8Write8 (PCI_CF8_LIB_ADDRESS (0, 2, 0, PCI_BRIDGE_SECONDARY_BUS_REGISTER_OFFSET), 1);
  PciCf8Write8 (PCI_CF8_LIB_ADDRESS (0, 2, 0, PCI_BRIDGE_SUBORDINATE_BUS_REGISTER_OFFSET), 8);
  EXPECT_EQ (Model.Controller.Config32 (0x18), Bar2);

  // Behind the bridge it is not on the root bus.
  Model.Ports.SetControllerLocation (1, 0, 0);
  EXPECT_FALSE (FindOnRootBus (&Found));
}

//
// Where the aperture (0x92000000, 32 MiB) may decode: outside every
// resource, or inside one memory-mapped I/O window that holds all of it
// (QEMU pc's PCI window), with the temporary register window (0x94000000)
// not RAM. RAM over either, a window that holds only part of the aperture,
// or a reserved range on it keep it off.
//
TEST_F (ControllerSetup, TheApertureMayDecodeOnlyOutsideRamAndOtherDevicesRanges)
{
  EXPECT_TRUE (ApertureMayDecode ());
  EXPECT_EQ (ApertureWindow (), nullptr);

  Model.Hobs.AddResource (EFI_RESOURCE_SYSTEM_MEMORY, 0, 0x80000000);
  Model.Hobs.AddResource (EFI_RESOURCE_MEMORY_RESERVED, 0xB0000000, 0x10000000);
  EXPECT_TRUE (ApertureMayDecode ());

  EFI_HOB_RESOURCE_DESCRIPTOR *Window = Model.Hobs.AddResource (EFI_RESOURCE_MEMORY_MAPPED_IO, 0x80000000, 0x7C000000);
  EXPECT_TRUE (ApertureMayDecode ());
  EXPECT_EQ (ApertureWindow (), Window);

  Window->PhysicalStart = 0x93000000;
  EXPECT_FALSE (ApertureMayDecode ());
  Window->ResourceType = EFI_RESOURCE_MEMORY_RESERVED;
  EXPECT_FALSE (ApertureMayDecode ());
  Window->ResourceType = EFI_RESOURCE_MEMORY_MAPPED_IO;
  Window->PhysicalStart = 0x94000000;
  EXPECT_TRUE (ApertureMayDecode ());

  // 2400 MiB on q35: RAM runs through both the aperture and the register window.
  Model.Hobs.AddResource (EFI_RESOURCE_SYSTEM_MEMORY, 0x80000000, 0x16000000);
  EXPECT_FALSE (ApertureMayDecode ());
}

TEST_F (ControllerSetup, RamOverTheTemporaryRegisterWindowAloneKeepsTheApertureOff)
{
  Model.Hobs.AddResource (EFI_RESOURCE_SYSTEM_MEMORY, 0x94000000, 0x1000);
  EXPECT_FALSE (ApertureMayDecode ());
}

} // namespace

int
main (int argc, char *argv[])
{
  testing::InitGoogleTest (&argc, argv);
  return RUN_ALL_TESTS ();
}
