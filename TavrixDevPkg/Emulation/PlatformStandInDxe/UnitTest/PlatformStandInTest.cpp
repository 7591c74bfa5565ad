/** @file
  Host tests of the platform stand-in: what the QEMU runs rely on without
  being able to see it -- that it finds the controller the firmware
  enumerated and the bridge in front of it, turns the aperture on, routes
  legacy VGA and shows the early frame only as asked, and fails cleanly
  without them; that the PCD answers stay in their token space and point at
  what was found; that the display protocols keep their own copy of the
  callbacks; that the republished HOB list is the old one plus the
  display-information HOB; and that the listener formats a debug message
  from the caller's arguments.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include <HostModel.h>
#include <vector>
#include "../PlatformStandIn.h"

extern "C" {
#include <Guid/HobList.h>
#include <Guid/StatusCodeDataTypeId.h>
#include <IndustryStandard/Acpi.h>
#include <IndustryStandard/Pci.h>
#include <Library/HobLib.h>
#include <Protocol/PiPcd.h>
#include <Protocol/ReportStatusCodeHandler.h>
}

//
// What the stand-in's entry file gives the files under test.
//
EMULATED_PLATFORM_PROTOCOL mPlatform;

namespace {

extern "C" EFI_STATUS EFIAPI
NoEntryPoint (EFI_HANDLE, EFI_SYSTEM_TABLE *)
{
  return EFI_SUCCESS;
}

//
// The bridge in front of the controller, at PciRoot(0)/Pci(0x1C,0): only its
// configuration space, as a PCI bus driver's PCI I/O of a bridge gives it.
//
UINT8 mBridgeConfig[256];

extern "C" EFI_STATUS EFIAPI
BridgeConfigAccess (
  EFI_PCI_IO_PROTOCOL *,
  EFI_PCI_IO_PROTOCOL_WIDTH Width,
  UINT32                    Offset,
  UINTN                     Count,
  VOID                     *Buffer,
  BOOLEAN                   IsWrite
)
{
  const UINTN Bytes = ((UINTN)1 << (Width & 3)) * Count;

  if (Offset + Bytes > sizeof (mBridgeConfig)) {
    return EFI_INVALID_PARAMETER;
  }

  if (IsWrite) {
    CopyMem (mBridgeConfig + Offset, Buffer, Bytes);
  } else {
    CopyMem (Buffer, mBridgeConfig + Offset, Bytes);
  }

  return EFI_SUCCESS;
}

extern "C" EFI_STATUS EFIAPI
BridgeConfigRead (EFI_PCI_IO_PROTOCOL *This, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT32 Offset, UINTN Count, VOID *Buffer)
{
  return BridgeConfigAccess (This, Width, Offset, Count, Buffer, FALSE);
}

extern "C" EFI_STATUS EFIAPI
BridgeConfigWrite (EFI_PCI_IO_PROTOCOL *This, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT32 Offset, UINTN Count, VOID *Buffer)
{
  return BridgeConfigAccess (This, Width, Offset, Count, Buffer, TRUE);
}

struct BRIDGE_PATH {
  ACPI_HID_DEVICE_PATH     Root;
  PCI_DEVICE_PATH          Bridge;
  EFI_DEVICE_PATH_PROTOCOL End;
};

const BRIDGE_PATH kBridgePath = {
  { { ACPI_DEVICE_PATH, ACPI_DP, { sizeof (ACPI_HID_DEVICE_PATH), 0 } }, EISA_PNP_ID (0x0A03), 0 },
  { { HARDWARE_DEVICE_PATH, HW_PCI_DP, { sizeof (PCI_DEVICE_PATH), 0 } }, 0, 0x1C },
  { END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, { sizeof (EFI_DEVICE_PATH_PROTOCOL), 0 } }
};

class StandInTest : public HOST_MODEL_TEST {
protected:
  EFI_PCI_IO_PROTOCOL BridgeIo = {};

  void
  SetUp () override
  {
    ASSERT_EQ (Model.StartModule (NoEntryPoint), EFI_SUCCESS);
    ZeroMem (&mPlatform, sizeof (mPlatform));
    ZeroMem (mBridgeConfig, sizeof (mBridgeConfig));
  }

  void
  TearDown () override
  {
    UninstallDisplayProtocols ();
  }

  /// The controller enumerated behind its bridge, as OVMF leaves it.
  void
  EnumerateWithBridge ()
  {
    Model.Controller.Publish ();
    BridgeIo.Pci.Read  = BridgeConfigRead;
    BridgeIo.Pci.Write = BridgeConfigWrite;
    EFI_HANDLE Bridge  = Model.InstallProtocol (nullptr, gEfiPciIoProtocolGuid, &BridgeIo);
    Model.InstallProtocol (Bridge, gEfiDevicePathProtocolGuid, const_cast<BRIDGE_PATH *> (&kBridgePath));
  }

  BOOLEAN
  BridgeForwardsVga () const
  {
    return (mBridgeConfig[PCI_BRIDGE_CONTROL_REGISTER_OFFSET] & 0x08) != 0;
  }
};

TEST_F (StandInTest, FindsTheEnumeratedControllerAndTurnsTheApertureOn)
{
  EnumerateWithBridge ();

  ASSERT_EQ (FindDisplayController (), EFI_SUCCESS);
  EXPECT_EQ (mPlatform.ControllerHandle, Model.Controller.Handle ());
  EXPECT_EQ (mPlatform.ControllerLocation, 0x01000000u); // bus 1, device 0, function 0
  EXPECT_EQ (mPlatform.BridgeDevice, 0x1C);
  EXPECT_EQ (mPlatform.BridgeFunction, 0);
  EXPECT_EQ (mPlatform.FrameBufferBase, (EFI_PHYSICAL_ADDRESS)(UINTN)Model.Controller.FrameBuffer ());
  EXPECT_NE (mPlatform.FrameBufferSize, 0u);

  ASSERT_EQ (TurnApertureOn (), EFI_SUCCESS);
  EXPECT_TRUE (mPlatform.ApertureOn);
  EXPECT_EQ (Model.Controller.ConfigSpace ()[0x40] & 0x01, 0x01);
  EXPECT_EQ (Model.Controller.Attributes () & 0x300, 0x300u); // I/O and memory decoding
  EXPECT_EQ (mPlatform.ApertureBase, 0x92000000u);
}

TEST_F (StandInTest, WithoutTheControllerNothingIsPrepared)
{
  Model.Controller.SetIds (0x1234, 0x1111);
  Model.Controller.Publish ();

  EXPECT_EQ (FindDisplayController (), EFI_NOT_FOUND);
  EXPECT_EQ (mPlatform.ControllerHandle, nullptr);
  EXPECT_EQ (PrepareEarlyVideo (&mPlatform), EFI_NOT_READY);
  EXPECT_FALSE (mPlatform.VgaRouted);
}

TEST_F (StandInTest, ApertureFailureIsReportedNotAssumed)
{
  EnumerateWithBridge ();
  ASSERT_EQ (FindDisplayController (), EFI_SUCCESS);
  Model.Controller.FailCall (PciIoPciWrite, 1);

  EXPECT_EQ (TurnApertureOn (), EFI_DEVICE_ERROR);
  EXPECT_FALSE (mPlatform.ApertureOn);
  EXPECT_EQ (Model.Controller.ConfigSpace ()[0x40] & 0x01, 0);
}

TEST_F (StandInTest, GraphicsModeRoutesVgaAndShowsTheEarlyFrame)
{
  EnumerateWithBridge ();
  ASSERT_EQ (FindDisplayController (), EFI_SUCCESS);

  ASSERT_EQ (PrepareEarlyVideo (&mPlatform), EFI_SUCCESS);
  EXPECT_TRUE (BridgeForwardsVga ());
  EXPECT_TRUE (mPlatform.VgaRouted);
  EXPECT_TRUE (mPlatform.EarlyFrameShown);

  // What the controller's display makes of the registers.
  TAVRIX_DISPLAY_GEOMETRY Geometry;
  ASSERT_TRUE (Model.Controller.DisplayGeometry (&Geometry));
  EXPECT_EQ (Geometry.Width, 800u);
  EXPECT_EQ (Geometry.Height, 600u);
  EXPECT_EQ (Geometry.Pitch, 3200u);
  EXPECT_EQ (Geometry.BytesPerPixel, 4u);
}

TEST_F (StandInTest, WithoutTheBridgeVgaIsNotRouted)
{
  Model.Controller.Publish (); // no PCI I/O for the bridge
  ASSERT_EQ (FindDisplayController (), EFI_SUCCESS);

  EXPECT_EQ (PrepareEarlyVideo (&mPlatform), EFI_NOT_FOUND);
  EXPECT_FALSE (mPlatform.VgaRouted);
  EXPECT_FALSE (mPlatform.EarlyFrameShown);
}

TEST_F (StandInTest, PcdAnswersOnlyItsTokenSpace)
{
  EFI_PCD_PROTOCOL *Firmware = nullptr;
  ASSERT_EQ (gBS->LocateProtocol (&gEfiPcdProtocolGuid, nullptr, reinterpret_cast<VOID **> (&Firmware)), EFI_SUCCESS);
  Model.Pcd.SetEx32 (gEfiMdePkgTokenSpaceGuid, 0x1234, 77);

  mPlatform.ControllerHandle   = reinterpret_cast<EFI_HANDLE> (1); // as FindDisplayController leaves it
  mPlatform.ControllerLocation = 0x02030500;
  mPlatform.BridgeDevice       = 0x01;
  mPlatform.BridgeFunction     = 0x02;
  ASSERT_EQ (InstallPcdStandIn (), EFI_SUCCESS);
  EFI_PCD_PROTOCOL *Pcd = nullptr;
  ASSERT_EQ (gBS->LocateProtocol (&gEfiPcdProtocolGuid, nullptr, reinterpret_cast<VOID **> (&Pcd)), EFI_SUCCESS);
  EXPECT_NE (Pcd, Firmware);
  EXPECT_TRUE (mPlatform.PcdForwarding);

  EXPECT_EQ (Pcd->Get32 (&gEarlyVideoTokenSpaceGuid, 8), 800u);
  EXPECT_EQ (Pcd->Get32 (&gEarlyVideoTokenSpaceGuid, 7), 600u);
  EXPECT_EQ (Pcd->Get32 (&gEarlyVideoTokenSpaceGuid, 1), 0x02030500u); // where the controller was found
  EXPECT_EQ (Pcd->Get8 (&gEarlyVideoTokenSpaceGuid, 4), 0x01);
  EXPECT_EQ (Pcd->Get8 (&gEarlyVideoTokenSpaceGuid, 5), 0x02);
  EXPECT_TRUE (Pcd->GetBool (&gEarlyVideoTokenSpaceGuid, 10));
  EXPECT_EQ (Pcd->Get32 (&gEarlyVideoTokenSpaceGuid, 2), 0u);      // no such token
  EXPECT_EQ (Pcd->Get32 (&gEfiMdePkgTokenSpaceGuid, 0x1234), 77u); // passed on

  // The answers are fixed: graphics mode and the HOB's frame.
  EXPECT_EQ (Pcd->SetBool (&gEarlyVideoTokenSpaceGuid, 10, FALSE), EFI_WRITE_PROTECTED);
  EXPECT_TRUE (Pcd->GetBool (&gEarlyVideoTokenSpaceGuid, 10));
  EXPECT_EQ (Pcd->Set32 (&gEarlyVideoTokenSpaceGuid, 8, 1), EFI_WRITE_PROTECTED);
  EXPECT_EQ (Pcd->Get32 (&gEarlyVideoTokenSpaceGuid, 8), 800u);
  EXPECT_EQ (Pcd->Set32 (&gEarlyVideoTokenSpaceGuid, 2, 1), EFI_NOT_FOUND);
}

//
// Callbacks of a pretend early video driver.
//
EARLY_GRAPHICS_CALLBACKS *mSetBankThis;
UINT32                    mSetBankBank;

extern "C" EFI_STATUS EFIAPI
FakeSetBank (EARLY_GRAPHICS_CALLBACKS *This, UINT32 Bank)
{
  mSetBankThis = This;
  mSetBankBank = Bank;
  return EFI_SUCCESS;
}

TEST_F (StandInTest, GraphicsProtocolKeepsItsOwnCopyAndObservesBanks)
{
  ASSERT_EQ (InstallDisplayProtocols (), EFI_SUCCESS);
  EARLY_GRAPHICS_DISPLAY_PROTOCOL *Display = nullptr;
  ASSERT_EQ (
    gBS->LocateProtocol (&gEarlyGraphicsDisplayProtocolGuid, nullptr, reinterpret_cast<VOID **> (&Display)), EFI_SUCCESS
  );

  EARLY_GRAPHICS_CALLBACKS Table = { nullptr, nullptr, FakeSetBank, nullptr };
  EXPECT_EQ (Display->RegisterCallbacks (Display, Table, 0), EFI_SUCCESS);
  Table.SetBank = nullptr; // the caller's copy dies with the call

  STAND_IN_GRAPHICS_DISPLAY &Kept = *mPlatform.GraphicsDisplay;
  EXPECT_EQ (Kept.Registrations, 1u);
  EXPECT_EQ (Kept.Callbacks.SetBank, FakeSetBank);
  ASSERT_EQ (Kept.Observed.SetBank (&Kept.Observed, 23), EFI_SUCCESS);
  EXPECT_EQ (mSetBankThis, &Kept.Observed);
  EXPECT_EQ (mSetBankBank, 23u);
  EXPECT_EQ (mPlatform.BankSwitches, 1u);
  EXPECT_EQ (mPlatform.BankLog[0], 23u);
}

TEST_F (StandInTest, HobListRepublishedWithTheDisplayInformation)
{
  const UINT8 Existing[8] = { 1, 2, 3, 4, 5, 6, 7, 8 };
  Model.Hobs.AddGuidHob (gEfiMdePkgTokenSpaceGuid, Existing, sizeof (Existing));
  Model.StartModule (NoEntryPoint); // the HOB library reads the list again
  VOID *Before = Model.ConfigurationTable (gEfiHobListGuid);

  ASSERT_EQ (PublishDisplayInfoHob (), EFI_SUCCESS);
  VOID *After = Model.ConfigurationTable (gEfiHobListGuid);
  ASSERT_NE (After, Before);

  VOID *Old  = GetNextGuidHob (&gEfiMdePkgTokenSpaceGuid, After);
  VOID *Info = GetNextGuidHob (&gEarlyVideoInfoHobGuid, After);
  ASSERT_NE (Old, nullptr);
  ASSERT_NE (Info, nullptr);
  EXPECT_EQ (CompareMem (GET_GUID_HOB_DATA (Old), Existing, sizeof (Existing)), 0);
  EXPECT_EQ (GET_GUID_HOB_DATA (Info), mPlatform.VideoInfo);
  EXPECT_GE (GET_GUID_HOB_DATA_SIZE (Info), 5098u);
  const UINT8 *Data = static_cast<const UINT8 *> (GET_GUID_HOB_DATA (Info));
  EXPECT_EQ (*reinterpret_cast<const UINT32 *> (Data + 0x13CC), 800u);
  EXPECT_EQ (*reinterpret_cast<const UINT32 *> (Data + 0x13D0), 600u);
  UINT8 *Next = static_cast<UINT8 *> (Info) + GET_HOB_LENGTH (Info);
  EXPECT_EQ (GET_HOB_TYPE (Next), EFI_HOB_TYPE_END_OF_HOB_LIST);
}

//
// A router that only takes the registration; the test reports through it.
//
EFI_RSC_HANDLER_CALLBACK mListener;

extern "C" EFI_STATUS EFIAPI
FakeRegister (EFI_RSC_HANDLER_CALLBACK Callback, EFI_TPL Tpl)
{
  mListener = (Tpl == TPL_HIGH_LEVEL) ? Callback : nullptr;
  return EFI_SUCCESS;
}

extern "C" EFI_STATUS EFIAPI
FakeUnregister (EFI_RSC_HANDLER_CALLBACK Callback)
{
  mListener = nullptr;
  return EFI_SUCCESS;
}

EFI_RSC_HANDLER_PROTOCOL mRouter = { FakeRegister, FakeUnregister };

constexpr EFI_GUID kEarlyVideoCaller = { 0x847FF339,
                                         0x9457,
                                         0x428D,
                                         { 0xB0, 0x79, 0xDB, 0xAD, 0x06, 0x6A, 0xED, 0xB7 } };

/// Reports a debug message the way the early video driver's DebugLib does:
/// the 32-byte record right behind the 20-byte header, pointing at the
/// format and at this function's variable arguments.
extern "C" VOID EFIAPI
ReportDebugMessage (UINT32 Level, const CHAR8 *Format, ...)
{
  UINT64  Buffer[7] = {};
  auto   *Header    = reinterpret_cast<EFI_STATUS_CODE_DATA *> (Buffer);
  UINT8  *Data      = reinterpret_cast<UINT8 *> (Buffer) + sizeof (EFI_STATUS_CODE_DATA);
  VA_LIST Marker;

  VA_START (Marker, Format);
  Header->HeaderSize = sizeof (EFI_STATUS_CODE_DATA);
  Header->Size       = 32;
  CopyGuid (&Header->Type, &gDebugPrintMarkerDataGuid);
  const UINT64 Fields[4] = { Level, (UINT64)(UINTN)Format, (UINT64)(UINTN)Marker, 0 };
  CopyMem (Data, Fields, sizeof (Fields));
  mListener (EFI_DEBUG_CODE, 0x03050000, 0, const_cast<EFI_GUID *> (&kEarlyVideoCaller), Header);
  VA_END (Marker);
}

TEST_F (StandInTest, ListenerFormatsDebugMessagesAndKeepsAssertions)
{
  Model.InstallProtocol (nullptr, gEfiRscHandlerProtocolGuid, &mRouter);
  ASSERT_EQ (RegisterStatusCodeListener (), EFI_SUCCESS);
  ASSERT_NE (mListener, nullptr);

  ReportDebugMessage (0x2, "Prelumen: no shadow buffer of %u bytes: %r\n", 4294836224u, EFI_OUT_OF_RESOURCES);
  ASSERT_EQ (mPlatform.StatusCodeCount, 1u);
  EXPECT_EQ (mPlatform.StatusCodes[0].ErrorLevel, 0x2u);
  EXPECT_STREQ (mPlatform.StatusCodes[0].Text, "Prelumen: no shadow buffer of 4294836224 bytes: Out of Resources");

  // An assertion record: 40-byte header (line at 20), tag and file, expression.
  UINT64       Assert[16] = {};
  auto        *Header     = reinterpret_cast<EFI_STATUS_CODE_DATA *> (Assert);
  UINT8       *Data       = reinterpret_cast<UINT8 *> (Assert) + sizeof (EFI_STATUS_CODE_DATA);
  const CHAR8  Text[]     = "[Prelumen] Prelumen.cpp\0Size != 0";
  const UINT32 Line       = 123;
  Header->HeaderSize      = sizeof (EFI_STATUS_CODE_DATA);
  Header->Size            = (UINT16)(40 + sizeof (Text));
  CopyGuid (&Header->Type, &gEfiStatusCodeSpecificDataGuid);
  CopyMem (Data + 20, &Line, sizeof (Line));
  CopyMem (Data + 40, Text, sizeof (Text));
  mListener (0x90000002, 0x03050007, 0, const_cast<EFI_GUID *> (&kEarlyVideoCaller), Header);
  ASSERT_EQ (mPlatform.StatusCodeCount, 2u);
  EXPECT_EQ (mPlatform.StatusCodes[1].LineNumber, 123u);
  EXPECT_STREQ (mPlatform.StatusCodes[1].Text, "[Prelumen] Prelumen.cpp(123): Size != 0");

  // Reports of other modules are counted, not kept.
  mListener (EFI_PROGRESS_CODE, 0, 0, const_cast<EFI_GUID *> (&gEfiCallerIdGuid), nullptr);
  EXPECT_EQ (mPlatform.StatusCodeCount, 2u);
  EXPECT_EQ (mPlatform.OtherStatusCodes, 1u);
}

} // namespace

int
main (int argc, char *argv[])
{
  testing::InitGoogleTest (&argc, argv);
  return RUN_ALL_TESTS ();
}
