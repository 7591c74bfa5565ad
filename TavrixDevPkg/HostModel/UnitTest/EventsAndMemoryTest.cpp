/** @file
  Protocol notification and the priority levels it runs at; allocation
  accounting and fault injection.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include <HostModel.h>
#include <gtest/gtest-spi.h>

extern "C" {
#include <Library/MemoryAllocationLib.h>
#include <Library/UefiBootServicesTableLib.h>
}

namespace {

std::vector<EFI_TPL> mNotifyTpls;

VOID EFIAPI
RecordTpl (EFI_EVENT Event, VOID *Context)
{
  mNotifyTpls.push_back (HOST_MODEL::Current ().CurrentTpl ());
}

class EventsAndMemory : public HOST_MODEL_TEST {
protected:
  EFI_EVENT Event        = nullptr;
  VOID     *Registration = nullptr;

  void
  SetUp () override
  {
    mNotifyTpls.clear ();
    ASSERT_EQ (gBS->CreateEvent (EVT_NOTIFY_SIGNAL, TPL_NOTIFY, RecordTpl, nullptr, &Event), EFI_SUCCESS);
    ASSERT_EQ (gBS->RegisterProtocolNotify (&gEfiCallerIdGuid, Event, &Registration), EFI_SUCCESS);
  }
};

TEST_F (EventsAndMemory, ProtocolNotificationRunsAtItsLevelOncePerInstall)
{
  UINT32     Marker;
  EFI_HANDLE Handle = nullptr;

  EXPECT_EQ (gBS->InstallProtocolInterface (&Handle, &gEfiCallerIdGuid, EFI_NATIVE_INTERFACE, &Marker), EFI_SUCCESS);
  EXPECT_EQ (mNotifyTpls, std::vector<EFI_TPL>{ TPL_NOTIFY });
  EXPECT_EQ (Model.CurrentTpl (), (EFI_TPL)TPL_APPLICATION);

  VOID *Found = nullptr;

  EXPECT_EQ (gBS->LocateProtocol (&gEfiCallerIdGuid, Registration, &Found), EFI_SUCCESS);
  EXPECT_EQ (Found, &Marker);
  EXPECT_EQ (gBS->LocateProtocol (&gEfiCallerIdGuid, Registration, &Found), EFI_NOT_FOUND)
    << "each install is reported once";
}

TEST_F (EventsAndMemory, NotificationWaitsWhileTheLevelIsRaised)
{
  UINT32     Marker;
  EFI_HANDLE Handle = nullptr;
  EFI_TPL    Old    = gBS->RaiseTPL (TPL_NOTIFY);

  gBS->InstallProtocolInterface (&Handle, &gEfiCallerIdGuid, EFI_NATIVE_INTERFACE, &Marker);
  EXPECT_TRUE (mNotifyTpls.empty ());
  gBS->RestoreTPL (Old);
  EXPECT_EQ (mNotifyTpls, std::vector<EFI_TPL>{ TPL_NOTIFY });

  //
  // InstallMultipleProtocolInterfaces raises the level itself: the
  // notification runs once the whole set is in.
  //
  Handle = nullptr;
  gBS->InstallMultipleProtocolInterfaces (&Handle, &gEfiCallerIdGuid, &Marker, nullptr);
  EXPECT_EQ (mNotifyTpls.size (), 2u);
}

TEST_F (EventsAndMemory, ClosedEventIsNoLongerNotified)
{
  UINT32     Marker;
  EFI_HANDLE Handle = nullptr;

  EXPECT_EQ (gBS->CloseEvent (Event), EFI_SUCCESS);
  gBS->InstallProtocolInterface (&Handle, &gEfiCallerIdGuid, EFI_NATIVE_INTERFACE, &Marker);
  EXPECT_TRUE (mNotifyTpls.empty ());
  EXPECT_EQ (gBS->CloseEvent (Event), EFI_INVALID_PARAMETER);
}

EFI_EVENT mOtherEvent;

VOID EFIAPI
CloseOther (EFI_EVENT Event, VOID *Context)
{
  mNotifyTpls.push_back (HOST_MODEL::Current ().CurrentTpl ());
  gBS->CloseEvent (mOtherEvent);
  gBS->CloseEvent (Event);
}

TEST_F (EventsAndMemory, NotificationMayCloseEventsStillWaitingForTheSameInstall)
{
  EFI_EVENT  First;
  VOID      *Key;
  UINT32     Marker;
  EFI_HANDLE Handle = nullptr;

  gBS->CloseEvent (Event);
  ASSERT_EQ (gBS->CreateEvent (EVT_NOTIFY_SIGNAL, TPL_NOTIFY, CloseOther, nullptr, &First), EFI_SUCCESS);
  ASSERT_EQ (gBS->RegisterProtocolNotify (&gEfiCallerIdGuid, First, &Key), EFI_SUCCESS);
  ASSERT_EQ (gBS->CreateEvent (EVT_NOTIFY_SIGNAL, TPL_NOTIFY, RecordTpl, nullptr, &mOtherEvent), EFI_SUCCESS);
  ASSERT_EQ (gBS->RegisterProtocolNotify (&gEfiCallerIdGuid, mOtherEvent, &Key), EFI_SUCCESS);

  gBS->InstallProtocolInterface (&Handle, &gEfiCallerIdGuid, EFI_NATIVE_INTERFACE, &Marker);
  EXPECT_EQ (mNotifyTpls.size (), 1u) << "the closed event is not notified";
  EXPECT_EQ (Model.OpenEventCount (), 0u);
  EXPECT_EQ (gBS->LocateProtocol (&gEfiCallerIdGuid, Key, (VOID **)&Handle), EFI_NOT_FOUND);
}

TEST_F (EventsAndMemory, EventGroupIsSignalledAsAWhole)
{
  EFI_EVENT Member;

  ASSERT_EQ (
    gBS->CreateEventEx (EVT_NOTIFY_SIGNAL, TPL_CALLBACK, RecordTpl, nullptr, &gEfiEventExitBootServicesGuid, &Member),
    EFI_SUCCESS
  );
  Model.SignalEventGroup (gEfiEventExitBootServicesGuid);
  EXPECT_EQ (mNotifyTpls, std::vector<EFI_TPL>{ TPL_CALLBACK });
  EXPECT_EQ (gBS->CreateEvent (EVT_NOTIFY_SIGNAL, TPL_HIGH_LEVEL, RecordTpl, nullptr, &Member), EFI_INVALID_PARAMETER);
}

TEST_F (EventsAndMemory, NthAllocationFailsOnceAndLeaksAreReported)
{
  UINT64 Mark = Model.Memory.Mark ();

  Model.Memory.FailAllocation (2);

  VOID *First  = AllocatePool (16);
  VOID *Second = AllocatePool (16);
  VOID *Third  = AllocateZeroPool (32);

  EXPECT_NE (First, nullptr);
  EXPECT_EQ (Second, nullptr);
  ASSERT_NE (Third, nullptr);
  EXPECT_EQ (*(UINT8 *)First, 0xAF) << "new pool is not zeroed";
  EXPECT_EQ (Model.Memory.OutstandingPoolBytes (Mark), 48u);
  EXPECT_NE (Model.Memory.LeakReport (Mark).find ("32 bytes"), std::string::npos) << Model.Memory.LeakReport (Mark);

  FreePool (First);
  FreePool (Third);
  EXPECT_EQ (Model.Memory.LeakReport (Mark), "");
}

TEST_F (EventsAndMemory, AllocationsOfOneSizeFailWhilePagesAreCounted)
{
  UINT64 Mark = Model.Memory.Mark ();

  Model.Memory.FailAllocationsOfSize (8294400);
  EXPECT_EQ (AllocatePool (8294400), nullptr);
  EXPECT_EQ (AllocatePool (8294400), nullptr);

  VOID *Pages = AllocatePages (3);

  ASSERT_NE (Pages, nullptr);
  EXPECT_EQ ((UINTN)Pages % EFI_PAGE_SIZE, 0u);
  EXPECT_EQ (Model.Memory.OutstandingPages (Mark), 3u);
  FreePages (Pages, 3);
  EXPECT_TRUE (Model.Memory.Outstanding (Mark).empty ());
}

TEST_F (EventsAndMemory, PendingNotificationsRunHighestLevelFirstOnRestore)
{
  EFI_EVENT Callback;
  EFI_TPL   Old = gBS->RaiseTPL (TPL_HIGH_LEVEL);

  ASSERT_EQ (gBS->CreateEvent (EVT_NOTIFY_SIGNAL, TPL_CALLBACK, RecordTpl, nullptr, &Callback), EFI_SUCCESS);
  gBS->SignalEvent (Callback);
  gBS->SignalEvent (Event);
  gBS->SignalEvent (Event);
  EXPECT_TRUE (mNotifyTpls.empty ());
  gBS->RestoreTPL (TPL_NOTIFY);
  EXPECT_TRUE (mNotifyTpls.empty ()) << "a notification waits until the level is below its own";
  gBS->RestoreTPL (TPL_CALLBACK);
  EXPECT_EQ (mNotifyTpls, std::vector<EFI_TPL>{ TPL_NOTIFY }) << "one run for two signals";
  gBS->RestoreTPL (Old);
  EXPECT_EQ (mNotifyTpls, (std::vector<EFI_TPL>{ TPL_NOTIFY, TPL_CALLBACK }));
  EXPECT_EQ (Model.CurrentTpl (), (EFI_TPL)TPL_APPLICATION);
}

TEST_F (EventsAndMemory, FreeingWhatWasNotAllocatedFailsTheTest)
{
  UINT8 Local[16];
  VOID *Pool = AllocatePool (8);

  EXPECT_NONFATAL_FAILURE (EXPECT_EQ (gBS->FreePool (Local), EFI_INVALID_PARAMETER), "not a live pool block");
  EXPECT_EQ (gBS->FreePool (Pool), EFI_SUCCESS);
  EXPECT_NONFATAL_FAILURE (gBS->FreePool (Pool), "not a live pool block");
}

} // namespace

HOST_MODEL_TEST_FILE (EventsAndMemoryTest)
