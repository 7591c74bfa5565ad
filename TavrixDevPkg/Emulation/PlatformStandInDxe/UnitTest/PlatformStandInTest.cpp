/** @file
  Host tests of the platform stand-in: what the QEMU runs rely on without
  being able to see it -- that the emulated controller refuses what a PCI bus
  driver refuses and writes nothing out of bounds, logs what it is asked, and
  hands its mode to the display; that the PCD answers stay in their token
  space; that the display protocols keep their own copy of the callbacks; that
  the republished HOB list is the old one plus the display-information HOB;
  and that the listener formats a debug message from the caller's arguments.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include <HostModel.h>
#include <vector>
#include "../PlatformStandIn.h"

extern "C" {
#include <Guid/HobList.h>
#include <Guid/StatusCodeDataTypeId.h>
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

class StandInTest : public HOST_MODEL_TEST {
protected:
  std::vector<UINT8>   Frame = std::vector<UINT8> (0x10000, 0xEE); // BAR 0: 64 KiB, guard value
  EFI_PCI_IO_PROTOCOL *PciIo = nullptr;

  void
  SetUp () override
  {
    ASSERT_EQ (Model.StartModule (NoEntryPoint), EFI_SUCCESS);
    ZeroMem (&mPlatform, sizeof (mPlatform));
    mPlatform.FrameBufferBase = (EFI_PHYSICAL_ADDRESS)(UINTN)Frame.data ();
    mPlatform.FrameBufferSize = Frame.size () - 0x1000; // the last 4 KiB lie beyond BAR 0
  }

  void
  CreateController ()
  {
    ASSERT_EQ (CreateEmulatedController (), EFI_SUCCESS);
    PciIo = mPlatform.ControllerPciIo;
  }

  void
  TearDown () override
  {
    DestroyEmulatedController ();
    UninstallDisplayProtocols ();
  }

  /// Bytes of the guard area behind BAR 0 that were written.
  UINTN
  GuardBytesTouched () const
  {
    UINTN Touched = 0;
    for (UINTN Index = mPlatform.FrameBufferSize; Index < Frame.size (); Index++) {
      Touched += (Frame[Index] != 0xEE) ? 1 : 0;
    }

    return Touched;
  }
};

TEST_F (StandInTest, ControllerAnswersAsTheDisplayController)
{
  CreateController ();
  UINT16 Ids[2];
  UINT8  Class[3];

  ASSERT_EQ (PciIo->Pci.Read (PciIo, EfiPciIoWidthUint16, 0, 2, Ids), EFI_SUCCESS);
  ASSERT_EQ (PciIo->Pci.Read (PciIo, EfiPciIoWidthUint8, 9, 3, Class), EFI_SUCCESS);
  EXPECT_EQ (Ids[0], 0x19E5);
  EXPECT_EQ (Ids[1], 0x1711);
  EXPECT_EQ (Class[2], 0x03);
  EXPECT_EQ (Class[1], 0x00);
  EXPECT_NE (Model.FindProtocol (mPlatform.ControllerHandle, gEfiDevicePathProtocolGuid), nullptr);

  // The identity is read-only; the command register follows the attributes.
  UINT32 Zero = 0;
  EXPECT_EQ (PciIo->Pci.Write (PciIo, EfiPciIoWidthUint32, 0, 1, &Zero), EFI_SUCCESS);
  EXPECT_EQ (PciIo->Pci.Read (PciIo, EfiPciIoWidthUint16, 0, 2, Ids), EFI_SUCCESS);
  EXPECT_EQ (Ids[0], 0x19E5);
  ASSERT_EQ (PciIo->Attributes (PciIo, EfiPciIoAttributeOperationEnable, 0x700, nullptr), EFI_SUCCESS);
  UINT16 Command = 0;
  PciIo->Pci.Read (PciIo, EfiPciIoWidthUint16, 4, 1, &Command);
  EXPECT_EQ (Command & 0x7, 0x7);
}

TEST_F (StandInTest, RegisterFileKeepsWritesAndLogsEachCall)
{
  CreateController ();
  UINT32 Value = 0x42D40F02;
  UINT32 Read  = 0;

  ASSERT_EQ (PciIo->Mem.Write (PciIo, EfiPciIoWidthUint32, 1, 0x802A8, 1, &Value), EFI_SUCCESS);
  ASSERT_EQ (PciIo->Mem.Read (PciIo, EfiPciIoWidthUint32, 1, 0x802A8, 1, &Read), EFI_SUCCESS);
  EXPECT_EQ (Read, Value);
  ASSERT_EQ (mPlatform.AccessCount, 2u);
  EXPECT_EQ (mPlatform.AccessLog[0].Kind, EmulatedAccessMemWrite);
  EXPECT_EQ (mPlatform.AccessLog[0].Offset, 0x802A8u);
  EXPECT_EQ (mPlatform.AccessLog[0].Value, 0x42D40F02u);
  EXPECT_EQ (mPlatform.AccessLog[1].Kind, EmulatedAccessMemRead);
}

/// Bochs display-interface writes (index, value) since the last ClearLogs.
std::vector<std::pair<UINT32, UINT32>>
DisplayInterfaceWrites (const HOST_MODEL &Model)
{
  std::vector<std::pair<UINT32, UINT32>> Writes;
  UINT32                                 Index = 0;

  for (const PORT_ACCESS &Access : Model.Ports.Log ()) {
    if (Access.IsWrite && (Access.Port == 0x1CE)) {
      Index = Access.Value;
    } else if (Access.IsWrite && (Access.Port == 0x1D0)) {
      Writes.emplace_back (Index, Access.Value);
    }
  }

  return Writes;
}

TEST_F (StandInTest, ChannelBModeReachesTheMachineDisplay)
{
  mPlatform.FrameBufferOnVga = TRUE; // as if QEMU's VGA lent BAR 0 (16 MiB; the test writes none of it)
  mPlatform.FrameBufferSize  = EMULATED_FRAME_BUFFER_SIZE;
  CreateController ();
  UINT32 ActiveSize = 0x01DF027F; // 640 x 480
  UINT32 Pitch      = 0x0A000A00; // 2560 bytes
  UINT32 Control    = 0x02087106; // 32 bpp, display enabled
  PciIo->Mem.Write (PciIo, EfiPciIoWidthUint32, 1, 0x80284, 1, &ActiveSize);
  PciIo->Mem.Write (PciIo, EfiPciIoWidthUint32, 1, 0x80208, 1, &Pitch);
  EXPECT_EQ (mPlatform.VgaModeSets, 0u); // only the control register hands the mode over

  Model.Ports.ClearLogs ();
  PciIo->Mem.Write (PciIo, EfiPciIoWidthUint32, 1, 0x80200, 1, &Control);
  const std::vector<std::pair<UINT32, UINT32>> Expected = {
    { 4, 0 }, { 5, 0 }, { 3, 32 },  { 1, 640 }, { 2, 480 }, { 6, 640 }, { 7, 0xFFFF & (0x1000000 / 2560) },
    { 8, 0 }, { 9, 0 }, { 4, 0xC1 }
  };
  EXPECT_EQ (DisplayInterfaceWrites (Model), Expected);
  EXPECT_EQ (mPlatform.VgaModeSets, 1u);
  EXPECT_EQ (mPlatform.VgaWidth, 640u);
  EXPECT_EQ (mPlatform.VgaHeight, 480u);

  // Display off, or a pitch too small for the width: the display keeps its mode.
  Model.Ports.ClearLogs ();
  Control = 0x02087006;
  PciIo->Mem.Write (PciIo, EfiPciIoWidthUint32, 1, 0x80200, 1, &Control);
  Control = 0x02087106;
  Pitch   = 0x00000400;
  PciIo->Mem.Write (PciIo, EfiPciIoWidthUint32, 1, 0x80208, 1, &Pitch);
  PciIo->Mem.Write (PciIo, EfiPciIoWidthUint32, 1, 0x80200, 1, &Control);
  EXPECT_TRUE (DisplayInterfaceWrites (Model).empty ());
  EXPECT_EQ (mPlatform.VgaModeSets, 1u);
}

TEST_F (StandInTest, WithoutTheMachineVgaBarZeroIsMemory)
{
  mPlatform.FrameBufferBase = 0;
  mPlatform.FrameBufferSize = 0;
  ASSERT_EQ (AttachMachineVga (Model.ImageHandle ()), EFI_SUCCESS);
  EXPECT_FALSE (mPlatform.FrameBufferOnVga);
  ASSERT_NE (mPlatform.FrameBufferBase, 0u);
  EXPECT_EQ (mPlatform.FrameBufferSize, (UINT64)EMULATED_FRAME_BUFFER_SIZE);
  EXPECT_EQ (ShowVgaText (&mPlatform), EFI_UNSUPPORTED);

  DetachMachineVga (Model.ImageHandle ());
  EXPECT_EQ (mPlatform.FrameBufferBase, 0u);
}

TEST_F (StandInTest, AccessesOutsideABarAreRefusedAndWriteNothing)
{
  CreateController ();
  const UINT64 Size     = mPlatform.FrameBufferSize;
  UINT32       Words[4] = { 1, 2, 3, 4 };

  EXPECT_EQ (PciIo->Mem.Write (PciIo, EfiPciIoWidthUint32, 0, Size - 4, 1, Words), EFI_SUCCESS);
  EXPECT_EQ (PciIo->Mem.Write (PciIo, EfiPciIoWidthUint32, 0, Size - 8, 4, Words), EFI_INVALID_PARAMETER);
  EXPECT_EQ (PciIo->Mem.Write (PciIo, EfiPciIoWidthUint32, 0, Size, 1, Words), EFI_INVALID_PARAMETER);
  EXPECT_EQ (PciIo->Mem.Write (PciIo, EfiPciIoWidthUint32, 0, 0, MAX_UINTN / 2, Words), EFI_INVALID_PARAMETER);
  EXPECT_EQ (PciIo->Mem.Write (PciIo, EfiPciIoWidthFillUint32, 0, Size - 8, 3, Words), EFI_INVALID_PARAMETER);
  EXPECT_EQ (PciIo->Mem.Write (PciIo, EfiPciIoWidthUint32, 0, 2, 1, Words), EFI_UNSUPPORTED); // unaligned
  EXPECT_EQ (PciIo->Mem.Write (PciIo, EfiPciIoWidthUint32, 2, 0, 1, Words), EFI_UNSUPPORTED); // no BAR 2
  EXPECT_EQ (PciIo->Mem.Write (PciIo, EfiPciIoWidthUint32, 0, 0, 1, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ (PciIo->Mem.Write (PciIo, EfiPciIoWidthMaximum, 0, 0, 1, Words), EFI_INVALID_PARAMETER);
  EXPECT_EQ (
    PciIo->Mem.Read (PciIo, EfiPciIoWidthUint32, 1, EMULATED_REGISTER_FILE_SIZE, 1, Words), EFI_INVALID_PARAMETER
  );
  EXPECT_EQ (PciIo->Pci.Read (PciIo, EfiPciIoWidthUint32, 0xFC, 2, Words), EFI_INVALID_PARAMETER);
  EXPECT_EQ (GuardBytesTouched (), 0u);
  EXPECT_EQ (mPlatform.RefusedAccesses, 9u);
}

TEST_F (StandInTest, FillAndFifoWidths)
{
  CreateController ();
  UINT32 Value = 0x00336699;

  ASSERT_EQ (PciIo->Mem.Write (PciIo, EfiPciIoWidthFillUint32, 0, 0x100, 16, &Value), EFI_SUCCESS);
  const UINT32 *Pixels = reinterpret_cast<const UINT32 *> (Frame.data ());
  for (UINTN Index = 0x40; Index < 0x50; Index++) {
    EXPECT_EQ (Pixels[Index], 0x00336699u);
  }

  EXPECT_EQ (Pixels[0x50], 0xEEEEEEEEu);
  EXPECT_EQ (mPlatform.FrameBytesFilled, 64u);
  EXPECT_EQ (mPlatform.AccessLog[0].Kind, EmulatedAccessMemFill);
  EXPECT_EQ (mPlatform.AccessLog[0].Count, 16u);

  // A FIFO write puts every unit at the same register.
  UINT32 Units[3] = { 7, 8, 9 };
  ASSERT_EQ (PciIo->Mem.Write (PciIo, EfiPciIoWidthFifoUint32, 1, 0x40, 3, Units), EFI_SUCCESS);
  UINT32 Read[2] = { 0, 0 };
  PciIo->Mem.Read (PciIo, EfiPciIoWidthUint32, 1, 0x40, 2, Read);
  EXPECT_EQ (Read[0], 9u);
  EXPECT_EQ (Read[1], 0u);
}

TEST_F (StandInTest, AttributesAndBarDescriptors)
{
  CreateController ();
  UINT64 Attributes = 0;

  EXPECT_EQ (
    PciIo->Attributes (PciIo, EfiPciIoAttributeOperationEnable, EFI_PCI_IO_ATTRIBUTE_ISA_IO, nullptr), EFI_UNSUPPORTED
  );
  EXPECT_EQ (PciIo->Attributes (PciIo, EfiPciIoAttributeOperationGet, 0, nullptr), EFI_INVALID_PARAMETER);
  ASSERT_EQ (PciIo->Attributes (PciIo, EfiPciIoAttributeOperationEnable, 0x700, nullptr), EFI_SUCCESS);
  ASSERT_EQ (PciIo->Attributes (PciIo, EfiPciIoAttributeOperationDisable, 0x100, nullptr), EFI_SUCCESS);
  ASSERT_EQ (PciIo->Attributes (PciIo, EfiPciIoAttributeOperationGet, 0, &Attributes), EFI_SUCCESS);
  EXPECT_EQ (Attributes, 0x600u);

  EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR *Bar = nullptr;
  EXPECT_EQ (PciIo->GetBarAttributes (PciIo, 0, nullptr, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ (PciIo->GetBarAttributes (PciIo, 3, nullptr, reinterpret_cast<VOID **> (&Bar)), EFI_UNSUPPORTED);
  ASSERT_EQ (PciIo->GetBarAttributes (PciIo, 0, nullptr, reinterpret_cast<VOID **> (&Bar)), EFI_SUCCESS);
  EXPECT_EQ (Bar->Desc, ACPI_ADDRESS_SPACE_DESCRIPTOR);
  EXPECT_EQ (ReadUnaligned64 (&Bar->AddrRangeMin), mPlatform.FrameBufferBase); // packed record
  EXPECT_EQ (ReadUnaligned64 (&Bar->AddrLen), mPlatform.FrameBufferSize);
  EXPECT_EQ (reinterpret_cast<EFI_ACPI_END_TAG_DESCRIPTOR *> (Bar + 1)->Desc, ACPI_END_TAG_DESCRIPTOR);
  FreePool (Bar);
}

TEST_F (StandInTest, PcdAnswersOnlyItsTokenSpace)
{
  EFI_PCD_PROTOCOL *Firmware = nullptr;
  ASSERT_EQ (gBS->LocateProtocol (&gEfiPcdProtocolGuid, nullptr, reinterpret_cast<VOID **> (&Firmware)), EFI_SUCCESS);
  Model.Pcd.SetEx32 (gEfiMdePkgTokenSpaceGuid, 0x1234, 77);

  ASSERT_EQ (InstallPcdStandIn (), EFI_SUCCESS);
  EFI_PCD_PROTOCOL *Pcd = nullptr;
  ASSERT_EQ (gBS->LocateProtocol (&gEfiPcdProtocolGuid, nullptr, reinterpret_cast<VOID **> (&Pcd)), EFI_SUCCESS);
  EXPECT_NE (Pcd, Firmware);
  EXPECT_TRUE (mPlatform.PcdForwarding);

  EXPECT_EQ (Pcd->Get32 (&gEarlyVideoTokenSpaceGuid, 8), 800u);
  EXPECT_EQ (Pcd->Get32 (&gEarlyVideoTokenSpaceGuid, 7), 600u);
  EXPECT_EQ (Pcd->Get32 (&gEarlyVideoTokenSpaceGuid, 1), 0x01000000u);
  EXPECT_EQ (Pcd->Get8 (&gEarlyVideoTokenSpaceGuid, 4), 0x1C);
  EXPECT_TRUE (Pcd->GetBool (&gEarlyVideoTokenSpaceGuid, 10));
  EXPECT_EQ (Pcd->Get32 (&gEarlyVideoTokenSpaceGuid, 2), 0u);      // no such token
  EXPECT_EQ (Pcd->Get32 (&gEfiMdePkgTokenSpaceGuid, 0x1234), 77u); // passed on

  EXPECT_EQ (Pcd->SetBool (&gEarlyVideoTokenSpaceGuid, 10, FALSE), EFI_SUCCESS);
  EXPECT_FALSE (Pcd->GetBool (&gEarlyVideoTokenSpaceGuid, 10));
  EXPECT_EQ (Pcd->Set8 (&gEarlyVideoTokenSpaceGuid, 8, 1), EFI_INVALID_PARAMETER); // token 8 is 32-bit
  EXPECT_EQ (Pcd->Get32 (&gEarlyVideoTokenSpaceGuid, 8), 800u);
  Pcd->SetBool (&gEarlyVideoTokenSpaceGuid, 10, TRUE);
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
