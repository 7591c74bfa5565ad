/** @file
  The checkpoint list constructor: finding the shared list, a list published
  without a head, publishing a new one, running out of pool, failed
  installations, and the SMM branch (through the SMM stand-in beside this
  file).

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include <algorithm>

#include "SmmStandIn.h"
#include "../DxeQv3CpLibInternal.h"

extern "C" {
#include <Library/BaseLib.h>
}

namespace {

class DxeQv3CpLibTest : public HOST_MODEL_TEST {
protected:
  void
  SetUp () override
  {
    mCpList = nullptr;
    for (const LIBRARY_CONSTRUCTOR &Constructor : HOST_MODEL::Edk2LibraryConstructors ()) {
      if (Constructor.Dxe != nullptr) {
        ASSERT_EQ (Constructor.Dxe (Model.ImageHandle (), Model.SystemTable ()), EFI_SUCCESS);
      }
    }

    mMark = Model.Memory.Mark ();
  }

  EFI_STATUS
  Construct ()
  {
    return DxeQv3CpLibConstructor (Model.ImageHandle (), Model.SystemTable ());
  }

  static BOOLEAN
  IsEmptyList (const LIST_ENTRY *Head)
  {
    return (Head->ForwardLink == Head) && (Head->BackLink == Head);
  }

  /// Descriptions of the assertions reported so far.
  std::vector<std::string>
  Assertions () const
  {
    const auto               Found = Model.StatusCodes.Assertions ();
    std::vector<std::string> Descriptions (Found.size ());

    std::transform (Found.begin (), Found.end (), Descriptions.begin (), [] (const auto &Assertion) {
      return Assertion.Description;
    });
    return Descriptions;
  }

  UINT64       mMark;
  SMM_STAND_IN Smm;
};

EFI_STATUS
EFIAPI
RefuseInstall (
  IN OUT EFI_HANDLE    *Handle,
  IN EFI_GUID          *Protocol,
  IN EFI_INTERFACE_TYPE InterfaceType,
  IN VOID              *Interface
)
{
  return EFI_OUT_OF_RESOURCES;
}

/// A LocateProtocol that finds the protocol with a null interface.
EFI_STATUS
EFIAPI
FindNullInterface (IN EFI_GUID *Protocol, IN VOID *Registration OPTIONAL, OUT VOID **Interface)
{
  *Interface = nullptr;
  return EFI_SUCCESS;
}

TEST_F (DxeQv3CpLibTest, FindsAListPublishedByAnotherModule)
{
  LIST_ENTRY Shared;

  InitializeListHead (&Shared);
  Model.InstallProtocol (nullptr, gQv3CpListProtocolGuid, &Shared);

  EXPECT_EQ (Construct (), EFI_SUCCESS);
  EXPECT_EQ (mCpList, &Shared);
  EXPECT_EQ (Model.HandlesWith (gQv3CpListProtocolGuid).size (), 1u);
  EXPECT_EQ (Model.Memory.AllocationCount (), (UINTN)mMark);
}

TEST_F (DxeQv3CpLibTest, AListPublishedWithoutAHeadIsNoList)
{
  Model.InstallProtocol (nullptr, gQv3CpListProtocolGuid, nullptr);
  EXPECT_EQ (Construct (), EFI_NOT_FOUND);
  EXPECT_EQ (mCpList, nullptr);
  EXPECT_EQ (Model.HandlesWith (gQv3CpListProtocolGuid).size (), 1u) << "nothing installed";
  EXPECT_EQ (Model.Memory.AllocationCount (), (UINTN)mMark);

  Smm.Install (Model, TRUE);
  Smm.Smst.SmmLocateProtocol = FindNullInterface;
  EXPECT_EQ (Construct (), EFI_NOT_FOUND) << "in SMM";
  EXPECT_EQ (mCpList, nullptr);
  EXPECT_TRUE (Smm.Installed.empty ());
  EXPECT_EQ (Model.Memory.AllocationCount (), (UINTN)mMark);
}

TEST_F (DxeQv3CpLibTest, PublishesAnEmptyListOnANewHandle)
{
  EXPECT_EQ (Construct (), EFI_SUCCESS);

  const std::vector<EFI_HANDLE> Handles = Model.HandlesWith (gQv3CpListProtocolGuid);

  ASSERT_EQ (Handles.size (), 1u);
  EXPECT_NE (Handles[0], Model.ImageHandle ());
  ASSERT_NE (mCpList, nullptr);
  EXPECT_EQ (Model.FindProtocol (Handles[0], gQv3CpListProtocolGuid), mCpList);
  EXPECT_TRUE (IsEmptyList (mCpList));

  const std::vector<MEMORY_BLOCK> Blocks = Model.Memory.Outstanding (mMark);

  ASSERT_EQ (Blocks.size (), 1u);
  EXPECT_EQ (Blocks[0].Address, mCpList);
  EXPECT_EQ (Blocks[0].Size, sizeof (LIST_ENTRY));
  EXPECT_EQ (Blocks[0].Type, EfiBootServicesData);
  EXPECT_FALSE (Blocks[0].IsPages);
  EXPECT_TRUE (Assertions ().empty ());
}

TEST_F (DxeQv3CpLibTest, WithoutPoolAssertsAndReportsOutOfResources)
{
  Model.Memory.FailAllocation (1);

  EXPECT_EQ (Construct (), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ (mCpList, nullptr);
  EXPECT_TRUE (Model.HandlesWith (gQv3CpListProtocolGuid).empty ());
  EXPECT_EQ (Assertions (), std::vector<std::string> ({ "mCpList != ((void *) 0)" }));
}

TEST_F (DxeQv3CpLibTest, FailedInstallationIsReturnedAndLeavesNothingBehind)
{
  Model.BootServices ()->InstallProtocolInterface = RefuseInstall;

  EXPECT_EQ (Construct (), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ (mCpList, nullptr);
  EXPECT_EQ (Model.Memory.LeakReport (mMark), "");
}

TEST_F (DxeQv3CpLibTest, OutsideSmmTheBootServicesBranchRuns)
{
  Smm.Install (Model, FALSE);

  EXPECT_EQ (Construct (), EFI_SUCCESS);
  EXPECT_EQ (Model.HandlesWith (gQv3CpListProtocolGuid).size (), 1u);
  EXPECT_TRUE (Smm.Installed.empty ());
}

TEST_F (DxeQv3CpLibTest, InSmmTheListIsPublishedThroughTheSmmTable)
{
  Smm.Install (Model, TRUE);

  EXPECT_EQ (Construct (), EFI_SUCCESS);
  ASSERT_NE (mCpList, nullptr);
  EXPECT_EQ (Smm.Protocol (gQv3CpListProtocolGuid), mCpList);
  EXPECT_TRUE (IsEmptyList (mCpList));
  EXPECT_TRUE (Model.HandlesWith (gQv3CpListProtocolGuid).empty ());

  // The head is boot-services pool there too.
  const std::vector<MEMORY_BLOCK> Blocks = Model.Memory.Outstanding (mMark);

  ASSERT_EQ (Blocks.size (), 1u);
  EXPECT_EQ (Blocks[0].Type, EfiBootServicesData);
}

TEST_F (DxeQv3CpLibTest, InSmmAListPublishedThereIsFound)
{
  LIST_ENTRY Shared;
  EFI_HANDLE Handle = nullptr;

  Smm.Install (Model, TRUE);
  InitializeListHead (&Shared);
  ASSERT_EQ (
    Smm.Smst.SmmInstallProtocolInterface (&Handle, &gQv3CpListProtocolGuid, EFI_NATIVE_INTERFACE, &Shared), EFI_SUCCESS
  );

  EXPECT_EQ (Construct (), EFI_SUCCESS);
  EXPECT_EQ (mCpList, &Shared);
  EXPECT_EQ (Model.Memory.AllocationCount (), (UINTN)mMark);
}

TEST_F (DxeQv3CpLibTest, InSmmFailuresAreReturnedUnchanged)
{
  Smm.Install (Model, TRUE);
  Smm.SmstStatus = EFI_UNSUPPORTED;
  EXPECT_EQ (Construct (), EFI_UNSUPPORTED);
  EXPECT_EQ (mCpList, nullptr);

  Smm.SmstStatus                       = EFI_SUCCESS;
  Smm.Smst.SmmInstallProtocolInterface = RefuseInstall;
  EXPECT_EQ (Construct (), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ (mCpList, nullptr);
  EXPECT_EQ (Model.Memory.LeakReport (mMark), "");
}

/// The stand-in itself: SMM Base2 appears only when installed, and what is
/// installed through its table stays out of the DXE handle database.
TEST_F (DxeQv3CpLibTest, SmmStandInIsAbsentUntilInstalledAndKeepsItsProtocolsApart)
{
  EFI_SMM_BASE2_PROTOCOL *SmmBase = nullptr;
  EFI_BOOT_SERVICES      *Bs      = Model.BootServices ();

  EXPECT_EQ (Bs->LocateProtocol (&gEfiSmmBase2ProtocolGuid, nullptr, (VOID **)&SmmBase), EFI_NOT_FOUND);
  Smm.Install (Model, TRUE);
  ASSERT_EQ (Bs->LocateProtocol (&gEfiSmmBase2ProtocolGuid, nullptr, (VOID **)&SmmBase), EFI_SUCCESS);

  BOOLEAN                InSmm  = FALSE;
  EFI_SMM_SYSTEM_TABLE2 *Smst   = nullptr;
  EFI_HANDLE             Handle = nullptr;
  UINT32                 Marker;
  VOID                  *Found;

  EXPECT_EQ (SmmBase->InSmm (SmmBase, &InSmm), EFI_SUCCESS);
  EXPECT_TRUE (InSmm);
  ASSERT_EQ (SmmBase->GetSmstLocation (SmmBase, &Smst), EFI_SUCCESS);
  EXPECT_EQ (Smst->SmmLocateProtocol (&gEfiCallerIdGuid, nullptr, &Found), EFI_NOT_FOUND);
  EXPECT_EQ (
    Smst->SmmInstallProtocolInterface (&Handle, &gEfiCallerIdGuid, EFI_NATIVE_INTERFACE, &Marker), EFI_SUCCESS
  );
  EXPECT_EQ (Smst->SmmLocateProtocol (&gEfiCallerIdGuid, nullptr, &Found), EFI_SUCCESS);
  EXPECT_EQ (Found, &Marker);
  EXPECT_EQ (Model.FindProtocol (Handle, gEfiCallerIdGuid), nullptr) << "SMM protocols stay out of the DXE database";
}

} // namespace

int
main (int argc, char *argv[])
{
  testing::InitGoogleTest (&argc, argv);
  return RUN_ALL_TESTS ();
}
