/** @file
  Prelumen's entry without a display protocol: it locates the protocol of the
  configured mode, returns the locate status, and touches nothing else.

  These tests bring their own minimal boot services and PCD answers, and
  link stand-ins for the hardware libraries that the entry never reaches.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include <gtest/gtest.h>
#include <string.h>
#include "../Prelumen.h"
extern "C" {
#include <Library/BaseMemoryLib.h>
}

namespace {

BOOLEAN  mTestGraphicsMode;
EFI_GUID mLocatedGuid;
UINTN    mLocateCalls;
UINTN    mOtherCalls;

EFI_STATUS
EFIAPI
LocateNothing (IN EFI_GUID *Protocol, IN VOID *Registration, OUT VOID **Interface)
{
  mLocateCalls++;
  mLocatedGuid = *Protocol;
  *Interface   = nullptr;
  return EFI_NOT_FOUND;
}

EFI_STATUS
EFIAPI
AllocatePagesCounted (
  IN EFI_ALLOCATE_TYPE         Type,
  IN EFI_MEMORY_TYPE           MemoryType,
  IN UINTN                     Pages,
  IN OUT EFI_PHYSICAL_ADDRESS *Memory
)
{
  mOtherCalls++;
  return EFI_OUT_OF_RESOURCES;
}

EFI_STATUS
EFIAPI
CreateEventCounted (
  IN UINT32           Type,
  IN EFI_TPL          NotifyTpl,
  IN EFI_EVENT_NOTIFY NotifyFunction,
  IN VOID            *NotifyContext,
  OUT EFI_EVENT      *Event
)
{
  mOtherCalls++;
  return EFI_OUT_OF_RESOURCES;
}

EFI_BOOT_SERVICES mBootServices;

class PrelumenEntryWithoutDisplay : public ::testing::TestWithParam<BOOLEAN> {
protected:
  void
  SetUp () override
  {
    memset (&mBootServices, 0, sizeof (mBootServices));
    mBootServices.LocateProtocol = LocateNothing;
    mBootServices.AllocatePages  = AllocatePagesCounted;
    mBootServices.CreateEvent    = CreateEventCounted;
    mLocateCalls                 = 0;
    mOtherCalls                  = 0;
    mTestGraphicsMode            = GetParam ();
  }
};

} // namespace

extern "C" {
EFI_BOOT_SERVICES *gBS = &mBootServices;

BOOLEAN
EFIAPI
LibPcdGetExBool (IN CONST GUID *Guid, IN UINTN TokenNumber)
{
  EXPECT_TRUE (CompareGuid (Guid, &gEarlyVideoTokenSpaceGuid));
  EXPECT_EQ (TokenNumber, (UINTN)10);
  return mTestGraphicsMode;
}

UINT8
EFIAPI
LibPcdGetEx8 (IN CONST GUID *Guid, IN UINTN TokenNumber)
{
  ADD_FAILURE () << "token " << TokenNumber << " read";
  return 0;
}

UINT32
EFIAPI
LibPcdGetEx32 (IN CONST GUID *Guid, IN UINTN TokenNumber)
{
  ADD_FAILURE () << "token " << TokenNumber << " read";
  return 0;
}

VOID *EFIAPI
GetFirstGuidHob (IN CONST EFI_GUID *Guid)
{
  ADD_FAILURE () << "HOB looked up";
  return nullptr;
}

UINT8
EFIAPI
IoWrite8 (IN UINTN Port, IN UINT8 Value)
{
  ADD_FAILURE () << "port written";
  return Value;
}

UINT16
EFIAPI
PciCf8Read16 (IN UINTN Address)
{
  ADD_FAILURE () << "configuration read";
  return 0;
}

UINT8
EFIAPI
PciCf8Write8 (IN UINTN Address, IN UINT8 Value)
{
  ADD_FAILURE () << "configuration written";
  return Value;
}

UINT32
EFIAPI
PciCf8Write32 (IN UINTN Address, IN UINT32 Value)
{
  ADD_FAILURE () << "configuration written";
  return Value;
}
}

TEST_P (PrelumenEntryWithoutDisplay, ReturnsNotFoundAndDoesNothingElse)
{
  EXPECT_EQ (EarlyVideoEntryPoint (nullptr, nullptr), EFI_NOT_FOUND);
  EXPECT_EQ (mLocateCalls, (UINTN)1);
  EXPECT_TRUE (
    CompareGuid (&mLocatedGuid, GetParam () ? &gEarlyGraphicsDisplayProtocolGuid : &gEarlyTextDisplayProtocolGuid)
  );
  EXPECT_EQ (mOtherCalls, (UINTN)0);
}

INSTANTIATE_TEST_SUITE_P (BothModes, PrelumenEntryWithoutDisplay, ::testing::Values (TRUE, FALSE));

int PrelumenEntryTestAnchor;
