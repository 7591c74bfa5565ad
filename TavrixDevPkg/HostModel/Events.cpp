/** @file
  Events, event groups and task priority levels.

  A signalled notify-signal event is queued; queued notifications run, at
  their own priority level and highest level first, whenever the current
  level drops below theirs (at once when it already is below).

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "HostModelInternal.h"
#include <algorithm>

namespace {

BOOT_SERVICES_STATE &
Boot ()
{
  return HOST_MODEL::Current ().Boot ();
}

EVENT_RECORD *
LookupEvent (EFI_EVENT Event)
{
  for (EVENT_RECORD *Record : Boot ().Events) {
    if ((Record == (EVENT_RECORD *)Event) && Record->Open) {
      return Record;
    }
  }

  return nullptr;
}

/// Runs queued notifications whose level is above Level.
void
DispatchAbove (EFI_TPL Level)
{
  for (;;) {
    EVENT_RECORD *Next = nullptr;

    for (EVENT_RECORD *Record : Boot ().Events) {
      if (Record->Open && Record->Queued && (Record->NotifyTpl > Level) &&
          ((Next == nullptr) || (Record->NotifyTpl > Next->NotifyTpl) ||
           ((Record->NotifyTpl == Next->NotifyTpl) && (Record->QueueSequence < Next->QueueSequence))))
      {
        Next = Record;
      }
    }

    if (Next == nullptr) {
      return;
    }

    Next->Queued = FALSE;

    EFI_TPL Saved = Boot ().Tpl;

    Boot ().Tpl = Next->NotifyTpl;
    Next->Notify ((EFI_EVENT)Next, Next->Context);
    Boot ().Tpl = Saved;
  }
}

void
QueueNotify (EVENT_RECORD *Record)
{
  if (!Record->Queued) {
    Record->Queued        = TRUE;
    Record->QueueSequence = ++Boot ().QueueSequence;
  }
}

EFI_TPL
EFIAPI
RaiseTpl (IN EFI_TPL NewTpl)
{
  EFI_TPL Old = Boot ().Tpl;

  EXPECT_GE (NewTpl, Old) << "RaiseTPL to a lower level";
  EXPECT_LE (NewTpl, (EFI_TPL)TPL_HIGH_LEVEL) << "RaiseTPL above TPL_HIGH_LEVEL";
  Boot ().Tpl = NewTpl;
  return Old;
}

VOID EFIAPI
RestoreTpl (IN EFI_TPL OldTpl)
{
  EXPECT_LE (OldTpl, Boot ().Tpl) << "RestoreTPL to a higher level";
  DispatchAbove (OldTpl);
  Boot ().Tpl = OldTpl;
}

EFI_STATUS
EFIAPI
CreateEventEx (
  IN UINT32           Type,
  IN EFI_TPL          NotifyTpl,
  IN EFI_EVENT_NOTIFY NotifyFunction OPTIONAL,
  IN CONST VOID      *NotifyContext OPTIONAL,
  IN CONST EFI_GUID  *EventGroup OPTIONAL,
  OUT EFI_EVENT      *Event
)
{
  if (Event == nullptr) {
    return EFI_INVALID_PARAMETER;
  }

  const UINT32 Notify = EVT_NOTIFY_WAIT | EVT_NOTIFY_SIGNAL;

  if ((Type & Notify) == Notify) {
    return EFI_INVALID_PARAMETER;
  }

  if ((Type & Notify) != 0) {
    if ((NotifyFunction == nullptr) || (NotifyTpl <= TPL_APPLICATION) || (NotifyTpl >= TPL_HIGH_LEVEL)) {
      return EFI_INVALID_PARAMETER;
    }
  }

  EFI_GUID Group;
  BOOLEAN  HasGroup = EventGroup != nullptr;

  if (HasGroup) {
    if ((Type == EVT_SIGNAL_EXIT_BOOT_SERVICES) || (Type == EVT_SIGNAL_VIRTUAL_ADDRESS_CHANGE)) {
      return EFI_INVALID_PARAMETER;
    }

    Group = *EventGroup;
  } else if (Type == EVT_SIGNAL_EXIT_BOOT_SERVICES) {
    HasGroup = TRUE;
    Group    = gEfiEventExitBootServicesGuid;
  } else if (Type == EVT_SIGNAL_VIRTUAL_ADDRESS_CHANGE) {
    HasGroup = TRUE;
    Group    = gEfiEventVirtualAddressChangeGuid;
  }

  EVENT_RECORD *Record = new EVENT_RECORD ();

  Record->Signature = EVENT_SIGNATURE;
  Record->Open      = TRUE;
  Record->Type      = Type;
  Record->NotifyTpl = NotifyTpl;
  Record->Notify    = NotifyFunction;
  Record->Context   = (VOID *)NotifyContext;
  Record->HasGroup  = HasGroup;
  if (HasGroup) {
    Record->Group = Group;
  }

  Boot ().Events.push_back (Record);
  *Event = (EFI_EVENT)Record;
  return EFI_SUCCESS;
}

EFI_STATUS
EFIAPI
CreateEvent (
  IN UINT32           Type,
  IN EFI_TPL          NotifyTpl,
  IN EFI_EVENT_NOTIFY NotifyFunction OPTIONAL,
  IN VOID            *NotifyContext OPTIONAL,
  OUT EFI_EVENT      *Event
)
{
  return CreateEventEx (Type, NotifyTpl, NotifyFunction, NotifyContext, nullptr, Event);
}

/// Marks one event signalled and queues its notification.
void
SignalOne (EVENT_RECORD *Record)
{
  if (Record->Signaled) {
    return;
  }

  Record->Signaled = TRUE;
  if ((Record->Type & EVT_NOTIFY_SIGNAL) != 0) {
    //
    // A notify-signal event is reset when its notification is queued.
    //
    Record->Signaled = FALSE;
    QueueNotify (Record);
  }
}

EFI_STATUS
EFIAPI
SignalEvent (IN EFI_EVENT Event)
{
  EVENT_RECORD *Record = LookupEvent (Event);

  if (Record == nullptr) {
    return EFI_INVALID_PARAMETER;
  }

  if (Record->HasGroup) {
    std::vector<EVENT_RECORD *> Events = Boot ().Events;

    for (EVENT_RECORD *Member : Events) {
      if (Member->Open && Member->HasGroup && CompareGuid (&Member->Group, &Record->Group)) {
        SignalOne (Member);
      }
    }
  } else {
    SignalOne (Record);
  }

  DispatchAbove (Boot ().Tpl);
  return EFI_SUCCESS;
}

EFI_STATUS
EFIAPI
CloseEvent (IN EFI_EVENT Event)
{
  EVENT_RECORD *Record = LookupEvent (Event);

  if (Record == nullptr) {
    return EFI_INVALID_PARAMETER;
  }

  Record->Open   = FALSE;
  Record->Queued = FALSE;
  DropRegistrations (Event);
  return EFI_SUCCESS;
}

EFI_STATUS
EFIAPI
CheckEvent (IN EFI_EVENT Event)
{
  EVENT_RECORD *Record = LookupEvent (Event);

  if ((Record == nullptr) || ((Record->Type & EVT_NOTIFY_SIGNAL) != 0)) {
    return EFI_INVALID_PARAMETER;
  }

  if (!Record->Signaled && ((Record->Type & EVT_NOTIFY_WAIT) != 0)) {
    QueueNotify (Record);
    DispatchAbove (Boot ().Tpl);
  }

  if (Record->Signaled) {
    Record->Signaled = FALSE;
    return EFI_SUCCESS;
  }

  return EFI_NOT_READY;
}

EFI_STATUS
EFIAPI
WaitForEvent (IN UINTN NumberOfEvents, IN EFI_EVENT *Event, OUT UINTN *Index)
{
  if ((NumberOfEvents == 0) || (Event == nullptr) || (Index == nullptr) || (Boot ().Tpl != TPL_APPLICATION)) {
    return EFI_INVALID_PARAMETER;
  }

  for (UINTN Which = 0; Which < NumberOfEvents; Which++) {
    EFI_STATUS Status = CheckEvent (Event[Which]);

    if (Status != EFI_NOT_READY) {
      *Index = Which;
      return Status;
    }
  }

  ADD_FAILURE () << "WaitForEvent would wait forever: no event is signalled and the model has no time";
  return EFI_UNSUPPORTED;
}

EFI_STATUS
EFIAPI
SetTimer (IN EFI_EVENT Event, IN EFI_TIMER_DELAY Type, IN UINT64 TriggerTime)
{
  EVENT_RECORD *Record = LookupEvent (Event);

  if ((Record == nullptr) || ((Record->Type & EVT_TIMER) == 0) || (Type > TimerRelative)) {
    return EFI_INVALID_PARAMETER;
  }

  //
  // Time does not pass in the model; a test signals timer events itself.
  //
  return EFI_SUCCESS;
}

} // namespace

void
InitEventServices (EFI_BOOT_SERVICES *Bs)
{
  Bs->RaiseTPL      = RaiseTpl;
  Bs->RestoreTPL    = RestoreTpl;
  Bs->CreateEvent   = CreateEvent;
  Bs->CreateEventEx = CreateEventEx;
  Bs->SetTimer      = SetTimer;
  Bs->WaitForEvent  = WaitForEvent;
  Bs->SignalEvent   = SignalEvent;
  Bs->CloseEvent    = CloseEvent;
  Bs->CheckEvent    = CheckEvent;
}

EFI_TPL
HOST_MODEL::CurrentTpl () const
{
  return mBoot->Tpl;
}

void
HOST_MODEL::SignalEventGroup (const EFI_GUID &Group)
{
  std::vector<EVENT_RECORD *> Events = mBoot->Events;

  for (EVENT_RECORD *Member : Events) {
    if (Member->Open && Member->HasGroup && CompareGuid (&Member->Group, &Group)) {
      SignalOne (Member);
    }
  }

  DispatchAbove (mBoot->Tpl);
}

BOOLEAN
HOST_MODEL::IsEventOpen (EFI_EVENT Event) const
{
  return LookupEvent (Event) != nullptr;
}

UINTN
HOST_MODEL::OpenEventCount () const
{
  return (UINTN)std::count_if (mBoot->Events.begin (), mBoot->Events.end (), [] (EVENT_RECORD *E) { return E->Open; });
}
