/** @file
  Prelumen's entry: what it registers with which display protocol, the GOP
  watch, the shadow buffer, and the GOP-arrival notification.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "PrelumenTest.h"

int PrelumenEntryTestAnchor;

namespace {

constexpr UINTN SHADOW_PAGES = 768; // 1024 x 768 pixels of 4 bytes

/// Tokens of our token space read so far, in order.
std::vector<UINTN>
TokensRead (HOST_MODEL &Model)
{
  std::vector<UINTN> Tokens;

  for (const PCD_READ &Read : Model.Pcd.Reads ()) {
    if (CompareGuid (&Read.TokenSpace, &gEarlyVideoTokenSpaceGuid)) {
      Tokens.push_back (Read.Token);
    }
  }

  return Tokens;
}

/// Page allocations still held that were made after Mark.
std::vector<MEMORY_BLOCK>
PagesSince (HOST_MODEL &Model, UINT64 Mark)
{
  std::vector<MEMORY_BLOCK> Pages;

  for (const MEMORY_BLOCK &Block : Model.Memory.Outstanding (Mark)) {
    if (Block.IsPages) {
      Pages.push_back (Block);
    }
  }

  return Pages;
}

/// The shadow buffer is the one page block the entry made, and it is clear.
void
ExpectClearShadow (HOST_MODEL &Model, UINT64 Mark, UINTN Pages, UINTN Bytes)
{
  const std::vector<MEMORY_BLOCK> Blocks = PagesSince (Model, Mark);

  ASSERT_EQ (Blocks.size (), 1U);
  EXPECT_EQ (Blocks[0].Size, Pages * EFI_PAGE_SIZE);
  EXPECT_EQ (Blocks[0].Type, EfiBootServicesData);
  ASSERT_EQ (Blocks[0].Address, mShadowBuffer);
  EXPECT_EQ (mShadowBufferSize, Bytes);
  EXPECT_TRUE (std::all_of (mShadowBuffer, mShadowBuffer + Bytes, [] (UINT8 Byte) { return Byte == 0; }));
}

EFI_CREATE_EVENT    mRealCreateEvent;
EFI_HANDLE_PROTOCOL mRealHandleProtocol;
BOOLEAN             mGopStoredIntoModuleState;
BOOLEAN             mGopFoundWhenStored;

EFI_STATUS
EFIAPI
FailingCreateEvent (
  UINT32           Type,
  EFI_TPL          NotifyTpl,
  EFI_EVENT_NOTIFY NotifyFunction,
  VOID            *NotifyContext,
  EFI_EVENT       *Event
)
{
  return EFI_OUT_OF_RESOURCES;
}

/// Notes, for GOP look-ups, where the interface went and whether the
/// GOP-present flag was already set when it got there.
EFI_STATUS
EFIAPI
ObservedHandleProtocol (EFI_HANDLE Handle, EFI_GUID *Protocol, VOID **Interface)
{
  const EFI_STATUS Status = mRealHandleProtocol (Handle, Protocol, Interface);

  if (!EFI_ERROR (Status) && CompareGuid (Protocol, &gEfiGraphicsOutputProtocolGuid)) {
    mGopStoredIntoModuleState = (Interface == reinterpret_cast<VOID **> (&mGraphicsOutput));
    mGopFoundWhenStored       = mGopFound;
  }

  return Status;
}

} // namespace

class PrelumenEntry : public PrelumenTest {};

TEST_F (PrelumenEntry, GraphicsModeRegistersFourCallbacksWatchesForGopAndClearsTheShadow)
{
  Configure (TRUE);
  Model.EarlyDisplay.InstallGraphics ();
  const UINTN  EventsBefore = Model.OpenEventCount ();
  const UINT64 Mark         = Model.Memory.Mark ();

  ASSERT_EQ (Model.StartModule (EarlyVideoEntryPoint), EFI_SUCCESS);

  EXPECT_EQ (Model.EarlyDisplay.GraphicsRegistrations (), 1U);
  EXPECT_EQ (Model.EarlyDisplay.TextRegistrations (), 0U);
  EXPECT_EQ (Model.EarlyDisplay.LastReserved (), 0U);
  const EARLY_GRAPHICS_CALLBACKS &Table = Model.EarlyDisplay.GraphicsCallbacks ();
  EXPECT_EQ (Table.DrawString, DrawString);
  EXPECT_EQ (Table.DrawImage, DrawImage);
  EXPECT_EQ (Table.SetBank, SetBank);
  EXPECT_EQ (Table.EnableDrawing, EnableDrawing);

  EXPECT_EQ (Model.OpenEventCount (), EventsBefore + 1);
  EXPECT_EQ (
    TokensRead (Model),
    (std::vector<UINTN>{ TokenGraphicsMode, TokenGraphicsMode, TokenShadowWidth, TokenShadowHeight })
  );
  ExpectClearShadow (Model, Mark, SHADOW_PAGES, 3145728);
}

TEST_F (PrelumenEntry, TextModeRegistersPrintStringAndWatchesNothing)
{
  Configure (FALSE);
  Model.EarlyDisplay.InstallText ();
  const UINTN  EventsBefore = Model.OpenEventCount ();
  const UINT64 Mark         = Model.Memory.Mark ();

  ASSERT_EQ (Model.StartModule (EarlyVideoEntryPoint), EFI_SUCCESS);

  EXPECT_EQ (Model.EarlyDisplay.TextRegistrations (), 1U);
  EXPECT_EQ (Model.EarlyDisplay.GraphicsRegistrations (), 0U);
  EXPECT_EQ (Model.EarlyDisplay.TextCallbacks ().PrintString, PrintString);
  EXPECT_EQ (Model.OpenEventCount (), EventsBefore);
  ExpectClearShadow (Model, Mark, SHADOW_PAGES, 3145728);

  // No watch: a GOP arriving later changes nothing, text output stays live.
  TEST_GOP Gop (16);
  InstallGop (Gop, TRUE);
  EXPECT_FALSE (mGopFound);
}

//
// Without the display protocol of its mode the driver returns the locate
// status and leaves no trace, even when the other protocol is there.
//
class PrelumenEntryWithoutDisplay : public PrelumenTest, public ::testing::WithParamInterface<BOOLEAN> {};

TEST_P (PrelumenEntryWithoutDisplay, ReturnsNotFoundAndDoesNothingElse)
{
  const BOOLEAN GraphicsMode = GetParam ();

  Configure (GraphicsMode);
  if (GraphicsMode) {
    Model.EarlyDisplay.InstallText ();
  } else {
    Model.EarlyDisplay.InstallGraphics ();
  }

  const UINTN  EventsBefore = Model.OpenEventCount ();
  const UINT64 Mark         = Model.Memory.Mark ();

  EXPECT_EQ (Model.StartModule (EarlyVideoEntryPoint), EFI_NOT_FOUND);
  EXPECT_EQ (Model.EarlyDisplay.GraphicsRegistrations () + Model.EarlyDisplay.TextRegistrations (), 0U);
  EXPECT_EQ (Model.OpenEventCount (), EventsBefore);
  EXPECT_TRUE (PagesSince (Model, Mark).empty ());
  EXPECT_EQ (mShadowBuffer, nullptr);
  EXPECT_EQ (TokensRead (Model), std::vector<UINTN>{ TokenGraphicsMode });
}

INSTANTIATE_TEST_SUITE_P (BothModes, PrelumenEntryWithoutDisplay, ::testing::Values (TRUE, FALSE));

TEST_F (PrelumenEntry, WithoutTheGopEventTheCallbacksAreStillRegistered)
{
  Configure (TRUE);
  Model.EarlyDisplay.InstallGraphics ();
  mRealCreateEvent                   = Model.BootServices ()->CreateEvent;
  Model.BootServices ()->CreateEvent = FailingCreateEvent;
  const UINTN EventsBefore           = Model.OpenEventCount ();

  EXPECT_EQ (Model.StartModule (EarlyVideoEntryPoint), EFI_SUCCESS);
  Model.BootServices ()->CreateEvent = mRealCreateEvent;

  EXPECT_EQ (Model.EarlyDisplay.GraphicsRegistrations (), 1U);
  EXPECT_EQ (Model.EarlyDisplay.GraphicsCallbacks ().DrawString, DrawString);
  EXPECT_EQ (Model.OpenEventCount (), EventsBefore);
  EXPECT_NE (mShadowBuffer, nullptr);

  TEST_GOP Gop (16);
  InstallGop (Gop, TRUE);
  EXPECT_FALSE (mGopFound);
}

TEST_F (PrelumenEntry, TableWithoutTheServedControllerRegistersNothingButAllocatesTheShadow)
{
  for (EARLY_VIDEO_DEVICE *Row = mSupportedDevices; Row->VendorId != EARLY_VIDEO_DEVICE_END; Row++) {
    if ((Row->VendorId == EARLY_VIDEO_VENDOR_ID) && (Row->DeviceId == EARLY_VIDEO_DEVICE_ID)) {
      Row->DeviceId = 0x1712;
    }
  }

  Configure (TRUE);
  Model.EarlyDisplay.InstallGraphics ();
  const UINTN  EventsBefore = Model.OpenEventCount ();
  const UINT64 Mark         = Model.Memory.Mark ();

  EXPECT_EQ (Model.StartModule (EarlyVideoEntryPoint), EFI_SUCCESS);
  EXPECT_EQ (Model.EarlyDisplay.GraphicsRegistrations (), 0U);
  EXPECT_EQ (Model.OpenEventCount (), EventsBefore);
  ExpectClearShadow (Model, Mark, SHADOW_PAGES, 3145728);
}

//
// No shadow buffer: a zero product (also when the 32-bit byte size wraps to
// 0) or a failed allocation. The entry still succeeds.
//
struct SHADOW_CASE {
  UINT32  Width;
  UINT32  Height;
  BOOLEAN FailAllocation;
};

class PrelumenEntryShadowMissing : public PrelumenTest, public ::testing::WithParamInterface<SHADOW_CASE> {};

TEST_P (PrelumenEntryShadowMissing, EntryStillSucceeds)
{
  Configure (TRUE, GetParam ().Width, GetParam ().Height);
  Model.EarlyDisplay.InstallGraphics ();
  if (GetParam ().FailAllocation) {
    Model.Memory.FailAllocationsOfSize (SHADOW_PAGES * EFI_PAGE_SIZE);
  }

  const UINT64 Mark = Model.Memory.Mark ();

  EXPECT_EQ (Model.StartModule (EarlyVideoEntryPoint), EFI_SUCCESS);
  EXPECT_EQ (Model.EarlyDisplay.GraphicsRegistrations (), 1U);
  EXPECT_EQ (mShadowBuffer, nullptr);
  EXPECT_TRUE (PagesSince (Model, Mark).empty ());
}

INSTANTIATE_TEST_SUITE_P (
  ZeroWrappedOrFailed,
  PrelumenEntryShadowMissing,
  ::testing::Values (SHADOW_CASE{ 0, 768, FALSE }, SHADOW_CASE{ 65536, 16384, FALSE }, SHADOW_CASE{ 1024, 768, TRUE })
);

//
// The notification takes the first GOP whose handle has a device path; a
// scan that finds none leaves the watch open, and the next installation
// scans every GOP handle again.
//
TEST_F (PrelumenEntry, NotificationTakesTheFirstGopWithADevicePathThenStopsWatching)
{
  const UINTN EventsBefore = Model.OpenEventCount ();

  StartGraphics ();
  ASSERT_EQ (Model.OpenEventCount (), EventsBefore + 1);

  TEST_GOP Splitter (16);
  InstallGop (Splitter, FALSE);
  EXPECT_FALSE (mGopFound);
  EXPECT_EQ (Model.OpenEventCount (), EventsBefore + 1);

  // The interface goes straight into mGraphicsOutput, before the flag is set.
  mRealHandleProtocol                   = Model.BootServices ()->HandleProtocol;
  Model.BootServices ()->HandleProtocol = ObservedHandleProtocol;

  TEST_GOP Display (16);
  InstallGop (Display, TRUE);
  Model.BootServices ()->HandleProtocol = mRealHandleProtocol;
  EXPECT_TRUE (mGopFound);
  EXPECT_EQ (mGraphicsOutput, &Display.Protocol);
  EXPECT_TRUE (mGopStoredIntoModuleState);
  EXPECT_FALSE (mGopFoundWhenStored);
  EXPECT_EQ (Model.OpenEventCount (), EventsBefore);

  TEST_GOP Later (16);
  InstallGop (Later, TRUE);
  EXPECT_EQ (mGraphicsOutput, &Display.Protocol);
}

//
// A GOP without a linear frame buffer is not taken: drawing stays on the
// aperture and the watch stays open for the next installation. The GOP GUID
// installed with a NULL interface, on a handle with a device path, is such a
// GOP: it comes first in every later scan.
//
TEST_F (PrelumenEntry, NotificationSkipsAGopWithoutALinearFrameBufferAndKeepsWatching)
{
  const UINTN  EventsBefore = Model.OpenEventCount ();
  const UINT32 Pixel1[]     = { 0xFF010203 };

  StartGraphics ();
  TEST_GOP Null (16);
  TEST_GOP BltOnly (16);
  TEST_GOP AtZero (16);
  TEST_GOP Linear (16);

  Model.Controller.Publish ();
  Null.DevicePath = ChildPath (Model.Controller.DevicePath ());
  Model.InstallProtocol (
    Model.InstallProtocol (nullptr, gEfiDevicePathProtocolGuid, Null.DevicePath.data ()),
    gEfiGraphicsOutputProtocolGuid, nullptr
  );
  EXPECT_FALSE (mGopFound);
  EXPECT_EQ (mGraphicsOutput, nullptr);

  BltOnly.Info.PixelFormat = PixelBltOnly;
  InstallGop (BltOnly, TRUE);
  AtZero.Mode.FrameBufferBase = 0;
  InstallGop (AtZero, TRUE);
  EXPECT_FALSE (mGopFound);
  EXPECT_EQ (mGraphicsOutput, nullptr);
  EXPECT_EQ (Model.OpenEventCount (), EventsBefore + 1);

  EXPECT_EQ (
    Model.EarlyDisplay.DrawImage (0x10000, 4, reinterpret_cast<const UINT8 *> (Pixel1), 1, 1, 32, 0), EFI_SUCCESS
  );
  EXPECT_EQ (Pixel (0x10000), 0x00010203U);
  EXPECT_EQ (VideoInfo->CurrentBank, 1U);

  InstallGop (Linear, TRUE);
  EXPECT_TRUE (mGopFound);
  EXPECT_EQ (mGraphicsOutput, &Linear.Protocol);
  EXPECT_EQ (Model.OpenEventCount (), EventsBefore);
}

TEST_F (PrelumenEntry, GopInstalledBeforeTheEntryIsTakenAtTheNextInstallation)
{
  TEST_GOP Early (16);
  TEST_GOP Next (16);

  InstallGop (Early, TRUE);
  StartGraphics ();
  EXPECT_FALSE (mGopFound);

  InstallGop (Next, TRUE);
  EXPECT_TRUE (mGopFound);
  EXPECT_EQ (mGraphicsOutput, &Early.Protocol);
}

//
// Another display's GOP is never followed, however early it arrives: its
// frame buffer is not the controller's. A device path that leads to no PCI
// function at all names no display either. The served controller's GOP is
// taken once it comes.
//
namespace {

/// A second display on the root bus, PciRoot(0x0)/Pci(0x2,0x0), with
/// another vendor's IDs in its configuration space.
struct OTHER_DISPLAY {
  EFI_PCI_IO_PROTOCOL PciIo{};
  // The path as its nodes' bytes, one node per line.
  // clang-format off
  UINT8               DevicePath[22] = { ACPI_DEVICE_PATH, ACPI_DP, 12, 0, 0xD0, 0x41, 0x03, 0x0A, 0, 0, 0, 0,
                                         HARDWARE_DEVICE_PATH, HW_PCI_DP, 6, 0, 0x00, 0x02,
                                         END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, 4, 0 };
  // clang-format on

  static EFI_STATUS EFIAPI
  ReadConfig (EFI_PCI_IO_PROTOCOL *This, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT32 Offset, UINTN Count, VOID *Buffer)
  {
    const UINT8 Config[4] = { 0x34, 0x12, 0x11, 0x11 }; // 1234:1111

    if ((Offset >= sizeof (Config)) || (Count << (Width & 3)) > sizeof (Config) - Offset) {
      return EFI_UNSUPPORTED;
    }

    CopyMem (Buffer, Config + Offset, Count << (Width & 3));
    return EFI_SUCCESS;
  }

  OTHER_DISPLAY ()
  {
    PciIo.Pci.Read = ReadConfig;
  }
};

} // namespace

TEST_F (PrelumenEntry, NotificationPassesOverAnotherDisplaysGopAndKeepsWatching)
{
  const UINT32  Pixel1[] = { 0xFF010203 };
  OTHER_DISPLAY Other;
  TEST_GOP      OthersGop (16);
  TEST_GOP      Unplaced (16);
  TEST_GOP      Ours (16);

  StartGraphics ();
  Model.InstallProtocol (
    Model.InstallProtocol (nullptr, gEfiDevicePathProtocolGuid, Other.DevicePath), gEfiPciIoProtocolGuid, &Other.PciIo
  );
  InstallGopBelow (OthersGop, reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *> (Other.DevicePath));
  EXPECT_FALSE (mGopFound);
  EXPECT_EQ (mGraphicsOutput, nullptr);

  //
  // A path whose PCI node names a function nobody published.
  //
  OTHER_DISPLAY Nowhere;

  Nowhere.DevicePath[17] = 0x03;
  InstallGopBelow (Unplaced, reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *> (Nowhere.DevicePath));
  EXPECT_FALSE (mGopFound);

  EXPECT_EQ (
    Model.EarlyDisplay.DrawImage (0x10000, 4, reinterpret_cast<const UINT8 *> (Pixel1), 1, 1, 32, 0), EFI_SUCCESS
  );
  EXPECT_EQ (Pixel (0x10000), 0x00010203U);
  EXPECT_EQ (OthersGop.Frame[0], 0U);

  InstallGop (Ours, TRUE);
  EXPECT_TRUE (mGopFound);
  EXPECT_EQ (mGraphicsOutput, &Ours.Protocol);
}
