/** @file
  The firmware pieces: starting a module, PCDs, HOBs, status codes and the
  display protocols, each through the EDK II library a
  driver would use.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include <HostModel.h>
#include <gtest/gtest-spi.h>

extern "C" {
#include <Library/BaseLib.h>
#include <Library/BaseMemoryLib.h>
#include <Library/HobLib.h>
#include <Library/PcdLib.h>
#include <Library/ReportStatusCodeLib.h>
#include <Library/UefiBootServicesTableLib.h>
}

namespace {

std::string mOrder;
EFI_STATUS  mEntryStatus;

EFI_STATUS EFIAPI
FirstConstructor (EFI_HANDLE Image, EFI_SYSTEM_TABLE *St)
{
  mOrder += (gBS == St->BootServices) ? "C1 " : "C1-without-gBS ";
  return EFI_SUCCESS;
}

RETURN_STATUS EFIAPI
SecondConstructor (VOID)
{
  mOrder += "C2 ";
  return RETURN_SUCCESS;
}

EFI_STATUS EFIAPI
Entry (EFI_HANDLE Image, EFI_SYSTEM_TABLE *St)
{
  mOrder += (Image == gImageHandle) ? "E " : "E-wrong-image ";
  return mEntryStatus;
}

EFI_STATUS EFIAPI
Destructor (EFI_HANDLE Image, EFI_SYSTEM_TABLE *St)
{
  mOrder += "D";
  return EFI_SUCCESS;
}

class FirmwareServices : public HOST_MODEL_TEST {
protected:
  EFI_STATUS
  Start (EFI_STATUS EntryStatus)
  {
    mOrder       = "";
    mEntryStatus = EntryStatus;

    std::vector<LIBRARY_CONSTRUCTOR> Constructors = HOST_MODEL::Edk2LibraryConstructors ();

    Constructors.push_back (FirstConstructor);
    Constructors.push_back (SecondConstructor);
    return Model.StartModule (MODULE_IMAGE{ Entry, Constructors, { Destructor } });
  }
};

TEST_F (FirmwareServices, ModuleStartRunsConstructorsEntryAndDestructorsOnFailure)
{
  EXPECT_EQ (Start (EFI_SUCCESS), EFI_SUCCESS);
  EXPECT_EQ (mOrder, "C1 C2 E ");
  EXPECT_EQ (Start (EFI_NOT_FOUND), EFI_NOT_FOUND);
  EXPECT_EQ (mOrder, "C1 C2 E D");
}

TEST_F (FirmwareServices, PcdsAndHobsThroughTheEdk2Libraries)
{
  Model.Pcd.SetEx32 (gEarlyVideoTokenSpaceGuid, 7, 768);
  Model.Pcd.SetExBool (gEarlyVideoTokenSpaceGuid, 10, TRUE);
  EXPECT_EQ (LibPcdGetEx32 (&gEarlyVideoTokenSpaceGuid, 7), 768u);
  EXPECT_TRUE (LibPcdGetExBool (&gEarlyVideoTokenSpaceGuid, 10));
  EXPECT_NONFATAL_FAILURE (LibPcdGetEx8 (&gEarlyVideoTokenSpaceGuid, 4), "never set");
  EXPECT_EQ (Model.Pcd.Reads ().size (), 3u);

  EXPECT_EQ (GetFirstGuidHob (&gEarlyVideoInfoHobGuid), nullptr);

  UINT8 *Info = Model.Hobs.AddEarlyVideoInfo (800, 600, 3, 1);
  VOID  *Hob  = GetFirstGuidHob (&gEarlyVideoInfoHobGuid);

  ASSERT_NE (Hob, nullptr);
  EXPECT_EQ ((UINT8 *)GET_GUID_HOB_DATA (Hob), Info);
  EXPECT_EQ (ReadUnaligned32 ((UINT32 *)((UINT8 *)Hob + 0x13E4)), 800u);
  EXPECT_EQ (((UINT8 *)Hob)[0x1401], 1);
  EXPECT_EQ (Model.Hobs.EarlyVideoCurrentBank (), 3u);
  UINT8 *Config = Model.Hobs.AddDebugMessageConfig (0x80000040);

  EXPECT_EQ (((EFI_HOB_GUID_TYPE *)(Config - sizeof (EFI_HOB_GUID_TYPE)))->Header.HobLength, 32);
}

/// Reports a debug message the way a status-code DebugLib does: only the
/// format and a pointer to this frame's variable arguments travel.
VOID EFIAPI
ReportMessage (UINT32 Level, CONST CHAR8 *Format, ...)
{
  VA_LIST Marker;
  UINT64  Data[4] = { Level, (UINT64)(UINTN)Format, 0, 0 };

  VA_START (Marker, Format);
  Data[2] = (UINT64)(UINTN)Marker;
  ReportStatusCodeEx (EFI_DEBUG_CODE, 0x03050000, 0, nullptr, &gDebugPrintMarkerDataGuid, Data, sizeof (Data));
  VA_END (Marker);
}

TEST_F (FirmwareServices, StatusCodesAreRecordedAndMessagesFormattedDuringTheCall)
{
  UINT32 Extended = 0x1234;

  ReportStatusCodeEx (
    EFI_ERROR_CODE | EFI_ERROR_UNRECOVERED, 0x03050007, 0, nullptr, nullptr, &Extended, sizeof (Extended)
  );
  ReportMessage (0x40, "line:%d,Status:%r\n", 276, EFI_OUT_OF_RESOURCES);

  const std::vector<STATUS_CODE_RECORD> &Records = Model.StatusCodes.Records ();

  ASSERT_EQ (Records.size (), 2u);
  EXPECT_EQ (Records[0].Value, 0x03050007u);
  EXPECT_EQ (Records[0].Data, (std::vector<UINT8>{ 0x34, 0x12, 0, 0 }));
  EXPECT_TRUE (Records[0].HasCallerId);
  EXPECT_TRUE (CompareGuid (&Records[0].CallerId, &gEfiCallerIdGuid));
  EXPECT_EQ (Model.StatusCodes.Messages (), std::vector<std::string>{ "line:276,Status:Out of Resources\n" });
}

TEST_F (FirmwareServices, StatusCodeProtocolNotThereYet)
{
  Model.StatusCodes.Uninstall ();
  EXPECT_EQ (ReportStatusCodeEx (EFI_ERROR_CODE, 1, 0, nullptr, nullptr, nullptr, 0), EFI_UNSUPPORTED);
  Model.StatusCodes.Install ();
  EXPECT_EQ (ReportStatusCodeEx (EFI_ERROR_CODE, 1, 0, nullptr, nullptr, nullptr, 0), EFI_SUCCESS)
    << "the library looks again";
  EXPECT_EQ (Model.StatusCodes.Records ().size (), 1u);
}

EARLY_GRAPHICS_CALLBACKS *mSeenThis;
UINT32                    mSeenBank;

EFI_STATUS EFIAPI
SetBankSeen (EARLY_GRAPHICS_CALLBACKS *This, UINT32 Bank)
{
  mSeenThis = This;
  mSeenBank = Bank;
  return EFI_SUCCESS;
}

TEST_F (FirmwareServices, GraphicsProtocolKeepsItsOwnCopyOfTheTable)
{
  EARLY_GRAPHICS_DISPLAY_PROTOCOL *Protocol = nullptr;

  Model.EarlyDisplay.InstallGraphics ();
  ASSERT_EQ (gBS->LocateProtocol (&gEarlyGraphicsDisplayProtocolGuid, nullptr, (VOID **)&Protocol), EFI_SUCCESS);
  {
    EARLY_GRAPHICS_CALLBACKS Table = { nullptr, nullptr, SetBankSeen, nullptr };
    Protocol->RegisterCallbacks (Protocol, Table, 0);
    Table.SetBank = nullptr; // the caller's copy dies with the call
  }

  EXPECT_EQ (Model.EarlyDisplay.GraphicsRegistrations (), 1u);
  EXPECT_EQ (Model.EarlyDisplay.SetBank (0x123), EFI_SUCCESS);
  EXPECT_EQ (mSeenThis, &Model.EarlyDisplay.GraphicsCallbacks ());
  EXPECT_EQ (mSeenBank, 0x123u);
  EXPECT_NONFATAL_FAILURE (Model.EarlyDisplay.DrawString (0, 0, 0, 0, "x"), "before RegisterCallbacks");
}

EFI_STATUS EFIAPI
FailingConstructor (EFI_HANDLE Image, EFI_SYSTEM_TABLE *St)
{
  mOrder += "F ";
  return EFI_OUT_OF_RESOURCES;
}

TEST_F (FirmwareServices, FailingConstructorIsAStatusAssertion)
{
  //
  // This executable's DebugLib is the firmware's serial one: the assertion
  // prints and then loops forever.
  //
  MODULE_IMAGE Image = { Entry, { FailingConstructor, SecondConstructor }, {} };

  mOrder       = "";
  mEntryStatus = EFI_SUCCESS;
  EXPECT_TRUE (Model.ExpectDeadLoop ([&] { Model.StartModule (Image); }));
  EXPECT_EQ (mOrder, "F ");
  EXPECT_NE (Model.Ports.Uart.Text ().find ("ASSERT_EFI_ERROR (Status = Out of Resources)"), std::string::npos)
    << Model.Ports.Uart.Text ();
}

TEST_F (FirmwareServices, ConfigurationTableEntriesAreReplacedAndRemoved)
{
  UINT32 First, Second;

  EXPECT_EQ (Model.ConfigurationTable (gEfiHobListGuid), Model.Hobs.List ());
  EXPECT_EQ (gBS->InstallConfigurationTable (&gEfiCallerIdGuid, nullptr), EFI_NOT_FOUND);
  EXPECT_EQ (gBS->InstallConfigurationTable (&gEfiCallerIdGuid, &First), EFI_SUCCESS);
  EXPECT_EQ (gBS->InstallConfigurationTable (&gEfiCallerIdGuid, &Second), EFI_SUCCESS);
  EXPECT_EQ (Model.ConfigurationTable (gEfiCallerIdGuid), &Second);
  EXPECT_EQ (gBS->InstallConfigurationTable (&gEfiCallerIdGuid, nullptr), EFI_SUCCESS);
  EXPECT_EQ (Model.ConfigurationTable (gEfiCallerIdGuid), nullptr);
  EXPECT_EQ (Model.ConfigurationTable (gEfiHobListGuid), Model.Hobs.List ());
}

} // namespace

HOST_MODEL_TEST_FILE (FirmwareServicesTest)
