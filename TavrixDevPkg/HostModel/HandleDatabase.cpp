/** @file
  The handle database: protocol installation, the open rules of OpenProtocol,
  location services and protocol notification.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "HostModelInternal.h"
#include <algorithm>
#include <cstdio>

namespace {

/// Size of a device path including its end node (DevicePathLib's rule).
UINTN
GetDevicePathSize (const EFI_DEVICE_PATH_PROTOCOL *Path)
{
  const UINT8 *Start = (const UINT8 *)Path;
  const UINT8 *Node  = Start;

  for (;;) {
    const EFI_DEVICE_PATH_PROTOCOL *Header = (const EFI_DEVICE_PATH_PROTOCOL *)Node;
    UINTN                           Length = Header->Length[0] | (Header->Length[1] << 8);

    if ((Header->Type == END_DEVICE_PATH_TYPE) && (Header->SubType == END_ENTIRE_DEVICE_PATH_SUBTYPE)) {
      return (UINTN)(Node - Start) + sizeof (EFI_DEVICE_PATH_PROTOCOL);
    }

    if (Length < sizeof (EFI_DEVICE_PATH_PROTOCOL)) {
      ADD_FAILURE () << "malformed device path node (length " << Length << ")";
      return (UINTN)(Node - Start) + sizeof (EFI_DEVICE_PATH_PROTOCOL);
    }

    Node += Length;
  }
}

BOOT_SERVICES_STATE &
Boot ()
{
  return HOST_MODEL::Current ().Boot ();
}

/// Counts one call of Kind and answers the failure a test asked for, if due.
EFI_STATUS
BootServiceFault (BOOT_SERVICE_KIND Kind)
{
  BOOT_SERVICES_STATE &State = Boot ();

  State.ServiceCalls[Kind]++;
  if ((State.ServiceFailAt[Kind] != 0) && (State.ServiceCalls[Kind] == State.ServiceFailAt[Kind])) {
    State.ServiceFailAt[Kind] = 0;
    return State.ServiceFailStatus[Kind];
  }

  return EFI_SUCCESS;
}

HANDLE_RECORD *
NewHandle ()
{
  HANDLE_RECORD *Record = new HANDLE_RECORD ();

  Record->Signature = HANDLE_SIGNATURE;
  Record->Alive     = TRUE;
  Boot ().Handles.push_back (Record);
  return Record;
}

/// Removes a handle that has no protocols left.
void
RetireIfEmpty (HANDLE_RECORD *Record)
{
  if (Record->Protocols.empty ()) {
    Record->Alive = FALSE;
  }
}

EFI_STATUS
EFIAPI
InstallProtocolInterface (
  IN OUT EFI_HANDLE    *UserHandle,
  IN EFI_GUID          *Protocol,
  IN EFI_INTERFACE_TYPE InterfaceType,
  IN VOID              *Interface
)
{
  if ((UserHandle == nullptr) || (Protocol == nullptr) || (InterfaceType != EFI_NATIVE_INTERFACE)) {
    return EFI_INVALID_PARAMETER;
  }

  HANDLE_RECORD *Record = nullptr;

  if (*UserHandle != nullptr) {
    Record = LookupHandle (*UserHandle);
    if (Record == nullptr) {
      return EFI_INVALID_PARAMETER;
    }

    if (LookupInterface (Record, Protocol) != nullptr) {
      return EFI_INVALID_PARAMETER;
    }
  } else {
    Record = NewHandle ();
  }

  Record->Protocols.push_back (PROTOCOL_INTERFACE{ *Protocol, Interface, ++Boot ().InstallSequence, {} });
  *UserHandle = (EFI_HANDLE)Record;
  NotifyProtocolInstalled (Protocol, *UserHandle);
  return EFI_SUCCESS;
}

/**
  Asks every driver that holds Protocol on Handle BY_DRIVER to let go, as
  removing or replacing an interface does.
**/
void
DisconnectOpeners (HANDLE_RECORD *Record, const EFI_GUID *Protocol)
{
  PROTOCOL_INTERFACE *Entry = LookupInterface (Record, Protocol);

  if (Entry == nullptr) {
    return;
  }

  std::vector<EFI_HANDLE> Agents;

  for (const OPEN_RECORD &Open : Entry->Opens) {
    if ((Open.Attributes & EFI_OPEN_PROTOCOL_BY_DRIVER) != 0) {
      Agents.push_back (Open.Agent);
    }
  }

  for (EFI_HANDLE Agent : Agents) {
    HOST_MODEL::Current ().DisconnectController ((EFI_HANDLE)Record, Agent, nullptr);
  }
}

/// Drops the opens that do not hold a protocol (GET, BY_HANDLE, TEST).
void
DropPassiveOpens (PROTOCOL_INTERFACE *Entry)
{
  const UINT32 Passive =
    EFI_OPEN_PROTOCOL_BY_HANDLE_PROTOCOL | EFI_OPEN_PROTOCOL_GET_PROTOCOL | EFI_OPEN_PROTOCOL_TEST_PROTOCOL;

  Entry->Opens.erase (
    std::remove_if (
      Entry->Opens.begin (), Entry->Opens.end (),
      [Passive] (const OPEN_RECORD &Open) { return (Open.Attributes & ~Passive) == 0; }
    ),
    Entry->Opens.end ()
  );
}

/**
  Frees the interface Interface of Protocol on UserHandle so that it can be
  removed or replaced: the drivers holding it are asked to stop and the opens
  that do not hold it are dropped. If someone still holds it, the drivers are
  connected again and the change is refused.

  @retval EFI_SUCCESS  The change may go ahead on *Entry; *Entry is nullptr
                       when the interface went away while its drivers stopped.
**/
EFI_STATUS
ReleaseInterface (
  EFI_HANDLE           UserHandle,
  EFI_GUID            *Protocol,
  VOID                *Interface,
  HANDLE_RECORD      **Record,
  PROTOCOL_INTERFACE **Entry
)
{
  *Record = LookupHandle (UserHandle);
  if ((*Record == nullptr) || (Protocol == nullptr)) {
    return EFI_INVALID_PARAMETER;
  }

  *Entry = LookupInterface (*Record, Protocol);
  if ((*Entry == nullptr) || ((*Entry)->Interface != Interface)) {
    return EFI_NOT_FOUND;
  }

  DisconnectOpeners (*Record, Protocol);
  *Entry = LookupInterface (*Record, Protocol);
  if (*Entry == nullptr) {
    return EFI_SUCCESS;
  }

  DropPassiveOpens (*Entry);
  if (!(*Entry)->Opens.empty ()) {
    HOST_MODEL::Current ().ConnectController (UserHandle);
    return EFI_ACCESS_DENIED;
  }

  return EFI_SUCCESS;
}

EFI_STATUS
EFIAPI
UninstallProtocolInterface (IN EFI_HANDLE UserHandle, IN EFI_GUID *Protocol, IN VOID *Interface)
{
  HANDLE_RECORD      *Record;
  PROTOCOL_INTERFACE *Entry;
  EFI_STATUS          Status = ReleaseInterface (UserHandle, Protocol, Interface, &Record, &Entry);

  if (EFI_ERROR (Status) || (Entry == nullptr)) {
    return Status;
  }

  Record->Protocols.erase (Record->Protocols.begin () + (Entry - Record->Protocols.data ()));
  RetireIfEmpty (Record);
  return EFI_SUCCESS;
}

EFI_STATUS
EFIAPI
ReinstallProtocolInterface (
  IN EFI_HANDLE UserHandle,
  IN EFI_GUID  *Protocol,
  IN VOID      *OldInterface,
  IN VOID      *NewInterface
)
{
  HANDLE_RECORD      *Record;
  PROTOCOL_INTERFACE *Entry;
  EFI_STATUS          Status = ReleaseInterface (UserHandle, Protocol, OldInterface, &Record, &Entry);

  if (EFI_ERROR (Status)) {
    return Status;
  }

  if (Entry == nullptr) {
    return EFI_NOT_FOUND;
  }

  Entry->Interface       = NewInterface;
  Entry->InstallSequence = ++Boot ().InstallSequence;
  NotifyProtocolInstalled (Protocol, UserHandle);
  HOST_MODEL::Current ().ConnectController (UserHandle);
  return EFI_SUCCESS;
}

/// TRUE when a device path equal to Path is installed on some handle.
BOOLEAN
DevicePathInstalled (EFI_DEVICE_PATH_PROTOCOL *Path)
{
  UINTN Size = GetDevicePathSize (Path);

  for (HANDLE_RECORD *Record : Boot ().Handles) {
    if (!Record->Alive) {
      continue;
    }

    PROTOCOL_INTERFACE *Entry = LookupInterface (Record, &gEfiDevicePathProtocolGuid);

    if ((Entry != nullptr) && (Entry->Interface != nullptr) &&
        (GetDevicePathSize ((EFI_DEVICE_PATH_PROTOCOL *)Entry->Interface) == Size) &&
        (CompareMem (Entry->Interface, Path, Size) == 0))
    {
      return TRUE;
    }
  }

  return FALSE;
}

struct GUID_INTERFACE {
  EFI_GUID *Guid;
  VOID     *Interface;
};

std::vector<GUID_INTERFACE>
CollectPairs (VA_LIST Args)
{
  std::vector<GUID_INTERFACE> Pairs;

  for (;;) {
    EFI_GUID *Guid = VA_ARG (Args, EFI_GUID *);

    if (Guid == nullptr) {
      break;
    }

    Pairs.push_back (GUID_INTERFACE{ Guid, VA_ARG (Args, VOID *) });
  }

  return Pairs;
}

/**
  Installs all pairs or none. A device path that is already installed
  elsewhere is refused with EFI_ALREADY_STARTED. Notifications run when the
  priority level drops back, after the whole set is installed.
**/
EFI_STATUS
InstallPairs (EFI_HANDLE *Handle, const std::vector<GUID_INTERFACE> &Pairs)
{
  EFI_STATUS Fault = BootServiceFault (BootInstallMultipleProtocolInterfaces);

  if (EFI_ERROR (Fault)) {
    return Fault;
  }

  EFI_BOOT_SERVICES *Bs        = HOST_MODEL::Current ().BootServices ();
  EFI_TPL            OldTpl    = Bs->RaiseTPL (TPL_NOTIFY);
  EFI_HANDLE         OldHandle = *Handle;
  EFI_STATUS         Status    = EFI_SUCCESS;
  UINTN              Installed = 0;

  for (const GUID_INTERFACE &Pair : Pairs) {
    if (CompareGuid (Pair.Guid, &gEfiDevicePathProtocolGuid) && (Pair.Interface != nullptr) &&
        DevicePathInstalled ((EFI_DEVICE_PATH_PROTOCOL *)Pair.Interface))
    {
      Status = EFI_ALREADY_STARTED;
      break;
    }

    Status = InstallProtocolInterface (Handle, Pair.Guid, EFI_NATIVE_INTERFACE, Pair.Interface);
    if (EFI_ERROR (Status)) {
      break;
    }

    Installed++;
  }

  if (EFI_ERROR (Status)) {
    while (Installed > 0) {
      Installed--;
      UninstallProtocolInterface (*Handle, Pairs[Installed].Guid, Pairs[Installed].Interface);
    }

    *Handle = OldHandle;
  }

  Bs->RestoreTPL (OldTpl);
  return Status;
}

/// Removes all pairs or none: what was removed before a failure goes back.
EFI_STATUS
UninstallPairs (EFI_HANDLE Handle, const std::vector<GUID_INTERFACE> &Pairs)
{
  EFI_STATUS Fault = BootServiceFault (BootUninstallMultipleProtocolInterfaces);

  if (EFI_ERROR (Fault)) {
    return Fault;
  }

  EFI_STATUS Status  = EFI_SUCCESS;
  UINTN      Removed = 0;

  for (const GUID_INTERFACE &Pair : Pairs) {
    Status = UninstallProtocolInterface (Handle, Pair.Guid, Pair.Interface);
    if (EFI_ERROR (Status)) {
      break;
    }

    Removed++;
  }

  if (EFI_ERROR (Status)) {
    //
    // Put back what was removed; the handle may have gone with its last
    // protocol, in which case the reinstall makes a new one.
    //
    for (UINTN Index = 0; Index < Removed; Index++) {
      EFI_HANDLE Target = LookupHandle (Handle) != nullptr ? Handle : nullptr;
      InstallProtocolInterface (&Target, Pairs[Index].Guid, EFI_NATIVE_INTERFACE, Pairs[Index].Interface);
    }

    return EFI_INVALID_PARAMETER;
  }

  return EFI_SUCCESS;
}

//
// The variadic services read their GUID/interface pairs and hand them on.
//
EFI_STATUS
EFIAPI
InstallMultipleProtocolInterfaces (IN OUT EFI_HANDLE *Handle, ...)
{
  if (Handle == nullptr) {
    return EFI_INVALID_PARAMETER;
  }

  VA_LIST Args;

  VA_START (Args, Handle);
  EFI_STATUS Status = InstallPairs (Handle, CollectPairs (Args));
  VA_END (Args);
  return Status;
}

EFI_STATUS
EFIAPI
UninstallMultipleProtocolInterfaces (IN EFI_HANDLE Handle, ...)
{
  VA_LIST Args;

  VA_START (Args, Handle);
  EFI_STATUS Status = UninstallPairs (Handle, CollectPairs (Args));
  VA_END (Args);
  return Status;
}

/**
  OpenProtocol with the attribute rules of the UEFI specification. Like
  HandleProtocol, which comes here, it may be called only at TPL_NOTIFY or
  below: a DEBUG DXE core asserts when its protocol lock raises the TPL to
  TPL_NOTIFY from above, so a call from higher up fails the test.
**/
EFI_STATUS
EFIAPI
OpenProtocol (
  IN EFI_HANDLE UserHandle,
  IN EFI_GUID  *Protocol,
  OUT VOID    **Interface OPTIONAL,
  IN EFI_HANDLE AgentHandle,
  IN EFI_HANDLE ControllerHandle,
  IN UINT32     Attributes
)
{
  EXPECT_LE (Boot ().Tpl, (EFI_TPL)TPL_NOTIFY) << "OpenProtocol or HandleProtocol called above TPL_NOTIFY";

  if (Protocol == nullptr) {
    return EFI_INVALID_PARAMETER;
  }

  if (Attributes != EFI_OPEN_PROTOCOL_TEST_PROTOCOL) {
    if (Interface == nullptr) {
      return EFI_INVALID_PARAMETER;
    }

    *Interface = nullptr;
  }

  HANDLE_RECORD *Record = LookupHandle (UserHandle);

  if (Record == nullptr) {
    return EFI_INVALID_PARAMETER;
  }

  switch (Attributes) {
    case EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER:
      if ((LookupHandle (AgentHandle) == nullptr) || (LookupHandle (ControllerHandle) == nullptr) || (UserHandle == ControllerHandle)) {
        return EFI_INVALID_PARAMETER;
      }

      break;
    case EFI_OPEN_PROTOCOL_BY_DRIVER:
    case EFI_OPEN_PROTOCOL_BY_DRIVER | EFI_OPEN_PROTOCOL_EXCLUSIVE:
      if ((LookupHandle (AgentHandle) == nullptr) || (LookupHandle (ControllerHandle) == nullptr)) {
        return EFI_INVALID_PARAMETER;
      }

      break;
    case EFI_OPEN_PROTOCOL_EXCLUSIVE:
      if (LookupHandle (AgentHandle) == nullptr) {
        return EFI_INVALID_PARAMETER;
      }

      break;
    case EFI_OPEN_PROTOCOL_BY_HANDLE_PROTOCOL:
    case EFI_OPEN_PROTOCOL_GET_PROTOCOL:
    case EFI_OPEN_PROTOCOL_TEST_PROTOCOL:
      break;
    default:
      return EFI_INVALID_PARAMETER;
  }

  PROTOCOL_INTERFACE *Entry = LookupInterface (Record, Protocol);

  if (Entry == nullptr) {
    return EFI_UNSUPPORTED;
  }

  BOOLEAN ByDriver  = FALSE;
  BOOLEAN Exclusive = FALSE;

  for (const OPEN_RECORD &Open : Entry->Opens) {
    BOOLEAN ExactMatch =
      (Open.Agent == AgentHandle) && (Open.Attributes == Attributes) && (Open.Controller == ControllerHandle);

    if ((Open.Attributes & EFI_OPEN_PROTOCOL_BY_DRIVER) != 0) {
      ByDriver = TRUE;
      if (ExactMatch) {
        if (Attributes != EFI_OPEN_PROTOCOL_TEST_PROTOCOL) {
          *Interface = Entry->Interface;
        }

        return EFI_ALREADY_STARTED;
      }
    }

    if ((Open.Attributes & EFI_OPEN_PROTOCOL_EXCLUSIVE) != 0) {
      Exclusive = TRUE;
    }
  }

  switch (Attributes) {
    case EFI_OPEN_PROTOCOL_BY_DRIVER:
      if (Exclusive || ByDriver) {
        return EFI_ACCESS_DENIED;
      }

      break;
    case EFI_OPEN_PROTOCOL_BY_DRIVER | EFI_OPEN_PROTOCOL_EXCLUSIVE:
    case EFI_OPEN_PROTOCOL_EXCLUSIVE:
      if (Exclusive) {
        return EFI_ACCESS_DENIED;
      }

      if (ByDriver) {
        DisconnectOpeners (Record, Protocol);
        Entry = LookupInterface (Record, Protocol);
        if (Entry == nullptr) {
          return EFI_UNSUPPORTED; // the stopped driver took the interface with it
        }

        for (const OPEN_RECORD &Open : Entry->Opens) {
          if ((Open.Attributes & EFI_OPEN_PROTOCOL_BY_DRIVER) != 0) {
            return EFI_ACCESS_DENIED;
          }
        }
      }

      break;
    default:
      break;
  }

  if (Attributes != EFI_OPEN_PROTOCOL_TEST_PROTOCOL) {
    *Interface = Entry->Interface;
  }

  if (Attributes == EFI_OPEN_PROTOCOL_TEST_PROTOCOL) {
    return EFI_SUCCESS;
  }

  for (OPEN_RECORD &Open : Entry->Opens) {
    if ((Open.Agent == AgentHandle) && (Open.Attributes == Attributes) && (Open.Controller == ControllerHandle)) {
      Open.OpenCount++;
      return EFI_SUCCESS;
    }
  }

  Entry->Opens.push_back (OPEN_RECORD{ AgentHandle, ControllerHandle, Attributes, 1 });
  return EFI_SUCCESS;
}

/// OpenProtocol as callers reach it through the table.
EFI_STATUS
EFIAPI
OpenProtocolService (
  IN EFI_HANDLE UserHandle,
  IN EFI_GUID  *Protocol,
  OUT VOID    **Interface OPTIONAL,
  IN EFI_HANDLE AgentHandle,
  IN EFI_HANDLE ControllerHandle,
  IN UINT32     Attributes
)
{
  EFI_STATUS Fault = BootServiceFault (BootOpenProtocol);

  if (EFI_ERROR (Fault)) {
    return Fault;
  }

  return OpenProtocol (UserHandle, Protocol, Interface, AgentHandle, ControllerHandle, Attributes);
}

EFI_STATUS
EFIAPI
CloseProtocol (
  IN EFI_HANDLE UserHandle,
  IN EFI_GUID  *Protocol,
  IN EFI_HANDLE AgentHandle,
  IN EFI_HANDLE ControllerHandle
)
{
  HANDLE_RECORD *Record = LookupHandle (UserHandle);

  if ((Record == nullptr) || (Protocol == nullptr) || (LookupHandle (AgentHandle) == nullptr) || ((ControllerHandle != nullptr) && (LookupHandle (ControllerHandle) == nullptr))) {
    return EFI_INVALID_PARAMETER;
  }

  PROTOCOL_INTERFACE *Entry = LookupInterface (Record, Protocol);

  if (Entry == nullptr) {
    return EFI_NOT_FOUND;
  }

  size_t Before = Entry->Opens.size ();

  Entry->Opens.erase (
    std::remove_if (
      Entry->Opens.begin (), Entry->Opens.end (),
      [=] (const OPEN_RECORD &Open) { return (Open.Agent == AgentHandle) && (Open.Controller == ControllerHandle); }
    ),
    Entry->Opens.end ()
  );
  return Entry->Opens.size () == Before ? EFI_NOT_FOUND : EFI_SUCCESS;
}

EFI_STATUS
EFIAPI
OpenProtocolInformation (
  IN EFI_HANDLE                             UserHandle,
  IN EFI_GUID                              *Protocol,
  OUT EFI_OPEN_PROTOCOL_INFORMATION_ENTRY **EntryBuffer,
  OUT UINTN                                *EntryCount
)
{
  HANDLE_RECORD *Record = LookupHandle (UserHandle);

  if ((Record == nullptr) || (Protocol == nullptr) || (EntryBuffer == nullptr) || (EntryCount == nullptr)) {
    return EFI_INVALID_PARAMETER;
  }

  PROTOCOL_INTERFACE *Entry = LookupInterface (Record, Protocol);

  if (Entry == nullptr) {
    return EFI_NOT_FOUND;
  }

  UINTN      Count  = Entry->Opens.size ();
  EFI_STATUS Status = HOST_MODEL::Current ().Memory.AllocatePool (
    EfiBootServicesData, (Count == 0 ? 1 : Count) * sizeof (EFI_OPEN_PROTOCOL_INFORMATION_ENTRY), (VOID **)EntryBuffer
  );

  if (EFI_ERROR (Status)) {
    return EFI_OUT_OF_RESOURCES;
  }

  for (UINTN Index = 0; Index < Count; Index++) {
    const OPEN_RECORD &Open = Entry->Opens[Index];

    (*EntryBuffer)[Index] =
      EFI_OPEN_PROTOCOL_INFORMATION_ENTRY{ Open.Agent, Open.Controller, Open.Attributes, Open.OpenCount };
  }

  *EntryCount = Count;
  return EFI_SUCCESS;
}

EFI_STATUS
EFIAPI
HandleProtocol (IN EFI_HANDLE UserHandle, IN EFI_GUID *Protocol, OUT VOID **Interface)
{
  return OpenProtocol (
    UserHandle, Protocol, Interface, Boot ().CoreImageHandle, nullptr, EFI_OPEN_PROTOCOL_BY_HANDLE_PROTOCOL
  );
}

EFI_STATUS
EFIAPI
ProtocolsPerHandle (IN EFI_HANDLE UserHandle, OUT EFI_GUID ***ProtocolBuffer, OUT UINTN *ProtocolBufferCount)
{
  HANDLE_RECORD *Record = LookupHandle (UserHandle);

  if ((Record == nullptr) || (ProtocolBuffer == nullptr) || (ProtocolBufferCount == nullptr)) {
    return EFI_INVALID_PARAMETER;
  }

  UINTN Count = Record->Protocols.size ();

  if (EFI_ERROR (HOST_MODEL::Current ().Memory.AllocatePool (
        EfiBootServicesData, Count * sizeof (EFI_GUID *), (VOID **)ProtocolBuffer
      ))) {
    return EFI_OUT_OF_RESOURCES;
  }

  for (UINTN Index = 0; Index < Count; Index++) {
    (*ProtocolBuffer)[Index] = &Record->Protocols[Index].Guid;
  }

  *ProtocolBufferCount = Count;
  return EFI_SUCCESS;
}

/// The handles a search selects, in the order the firmware returns them.
EFI_STATUS
SelectHandles (EFI_LOCATE_SEARCH_TYPE SearchType, EFI_GUID *Protocol, VOID *SearchKey, std::vector<EFI_HANDLE> &Handles)
{
  switch (SearchType) {
    case AllHandles:
      for (HANDLE_RECORD *Record : Boot ().Handles) {
        if (Record->Alive) {
          Handles.push_back ((EFI_HANDLE)Record);
        }
      }

      break;
    case ByProtocol:
      if (Protocol == nullptr) {
        return EFI_INVALID_PARAMETER;
      }

      Handles = HOST_MODEL::Current ().HandlesWith (*Protocol);
      break;
    case ByRegisterNotify: {
      auto &Registrations = Boot ().Registrations;

      if ((std::find (Registrations.begin (), Registrations.end (), SearchKey) == Registrations.end ()) ||
          !((NOTIFY_REGISTRATION *)SearchKey)->Alive)
      {
        return EFI_INVALID_PARAMETER;
      }

      NOTIFY_REGISTRATION *Registration = (NOTIFY_REGISTRATION *)SearchKey;

      //
      // One new handle per call, as the firmware hands them out.
      //
      while (!Registration->NewHandles.empty ()) {
        EFI_HANDLE Next = Registration->NewHandles.front ();
        Registration->NewHandles.pop_front ();
        if (LookupHandle (Next) != nullptr) {
          Handles.push_back (Next);
          break;
        }
      }

      break;
    }
    default:
      return EFI_INVALID_PARAMETER;
  }

  return Handles.empty () ? EFI_NOT_FOUND : EFI_SUCCESS;
}

EFI_STATUS
EFIAPI
LocateHandle (
  IN EFI_LOCATE_SEARCH_TYPE SearchType,
  IN EFI_GUID              *Protocol OPTIONAL,
  IN VOID                  *SearchKey OPTIONAL,
  IN OUT UINTN             *BufferSize,
  OUT EFI_HANDLE           *Buffer
)
{
  if (BufferSize == nullptr) {
    return EFI_INVALID_PARAMETER;
  }

  std::vector<EFI_HANDLE> Handles;
  EFI_STATUS              Status = SelectHandles (SearchType, Protocol, SearchKey, Handles);

  if (EFI_ERROR (Status)) {
    return Status;
  }

  UINTN Needed = Handles.size () * sizeof (EFI_HANDLE);

  if (*BufferSize < Needed) {
    *BufferSize = Needed;
    return EFI_BUFFER_TOO_SMALL;
  }

  if (Buffer == nullptr) {
    return EFI_INVALID_PARAMETER;
  }

  CopyMem (Buffer, Handles.data (), Needed);
  *BufferSize = Needed;
  return EFI_SUCCESS;
}

EFI_STATUS
EFIAPI
LocateHandleBuffer (
  IN EFI_LOCATE_SEARCH_TYPE SearchType,
  IN EFI_GUID              *Protocol OPTIONAL,
  IN VOID                  *SearchKey OPTIONAL,
  OUT UINTN                *NoHandles,
  OUT EFI_HANDLE          **Buffer
)
{
  if ((NoHandles == nullptr) || (Buffer == nullptr)) {
    return EFI_INVALID_PARAMETER;
  }

  *NoHandles = 0;
  *Buffer    = nullptr;

  std::vector<EFI_HANDLE> Handles;
  EFI_STATUS              Status = SelectHandles (SearchType, Protocol, SearchKey, Handles);

  if (EFI_ERROR (Status)) {
    return Status;
  }

  Status = HOST_MODEL::Current ().Memory.AllocatePool (
    EfiBootServicesData, Handles.size () * sizeof (EFI_HANDLE), (VOID **)Buffer
  );
  if (EFI_ERROR (Status)) {
    *Buffer = nullptr;
    return EFI_OUT_OF_RESOURCES;
  }

  CopyMem (*Buffer, Handles.data (), Handles.size () * sizeof (EFI_HANDLE));
  *NoHandles = Handles.size ();
  return EFI_SUCCESS;
}

EFI_STATUS
EFIAPI
LocateProtocol (IN EFI_GUID *Protocol, IN VOID *Registration OPTIONAL, OUT VOID **Interface)
{
  if ((Protocol == nullptr) || (Interface == nullptr)) {
    return EFI_INVALID_PARAMETER;
  }

  *Interface = nullptr;

  std::vector<EFI_HANDLE> Handles;
  EFI_STATUS              Status = (Registration == nullptr) ? SelectHandles (ByProtocol, Protocol, nullptr, Handles)
                                                             : SelectHandles (ByRegisterNotify, Protocol, Registration, Handles);

  if (EFI_ERROR (Status)) {
    return EFI_NOT_FOUND;
  }

  *Interface = LookupInterface (LookupHandle (Handles[0]), Protocol)->Interface;
  return EFI_SUCCESS;
}

EFI_STATUS
EFIAPI
LocateDevicePath (IN EFI_GUID *Protocol, IN OUT EFI_DEVICE_PATH_PROTOCOL **DevicePath, OUT EFI_HANDLE *Device)
{
  if ((Protocol == nullptr) || (DevicePath == nullptr) || (*DevicePath == nullptr) || (Device == nullptr)) {
    return EFI_INVALID_PARAMETER;
  }

  UINTN      SourceSize = GetDevicePathSize (*DevicePath) - sizeof (EFI_DEVICE_PATH_PROTOCOL);
  UINTN      BestSize   = 0;
  EFI_HANDLE Best       = nullptr;

  for (EFI_HANDLE Handle : HOST_MODEL::Current ().HandlesWith (*Protocol)) {
    VOID *Path = HOST_MODEL::Current ().FindProtocol (Handle, gEfiDevicePathProtocolGuid);

    if (Path == nullptr) {
      continue;
    }

    UINTN Size = GetDevicePathSize ((EFI_DEVICE_PATH_PROTOCOL *)Path) - sizeof (EFI_DEVICE_PATH_PROTOCOL);

    if ((Size <= SourceSize) && (CompareMem (Path, *DevicePath, Size) == 0) && ((Best == nullptr) || (Size > BestSize))) {
      Best     = Handle;
      BestSize = Size;
    }
  }

  if (Best == nullptr) {
    return EFI_NOT_FOUND;
  }

  *Device     = Best;
  *DevicePath = (EFI_DEVICE_PATH_PROTOCOL *)((UINT8 *)*DevicePath + BestSize);
  return EFI_SUCCESS;
}

EFI_STATUS
EFIAPI
RegisterProtocolNotify (IN EFI_GUID *Protocol, IN EFI_EVENT Event, OUT VOID **Registration)
{
  if ((Protocol == nullptr) || (Registration == nullptr) || !HOST_MODEL::Current ().IsEventOpen (Event)) {
    return EFI_INVALID_PARAMETER;
  }

  NOTIFY_REGISTRATION *Record = new NOTIFY_REGISTRATION{ *Protocol, Event, {}, TRUE };

  Boot ().Registrations.push_back (Record);
  *Registration = Record;
  return EFI_SUCCESS;
}

EFI_STATUS
EFIAPI
ConnectControllerService (
  IN EFI_HANDLE                ControllerHandle,
  IN EFI_HANDLE               *DriverImageHandle OPTIONAL,
  IN EFI_DEVICE_PATH_PROTOCOL *RemainingDevicePath OPTIONAL,
  IN BOOLEAN                   Recursive
)
{
  return HOST_MODEL::Current ().ConnectController (ControllerHandle, RemainingDevicePath);
}

EFI_STATUS
EFIAPI
DisconnectControllerService (
  IN EFI_HANDLE ControllerHandle,
  IN EFI_HANDLE DriverImageHandle OPTIONAL,
  IN EFI_HANDLE ChildHandle OPTIONAL
)
{
  return HOST_MODEL::Current ().DisconnectController (ControllerHandle, DriverImageHandle, ChildHandle);
}

} // namespace

std::string
GuidKey (const EFI_GUID *Guid)
{
  return std::string ((const char *)Guid, sizeof (EFI_GUID));
}

std::string
GuidText (const EFI_GUID &Guid)
{
  char Text[40];

  snprintf (
    Text, sizeof (Text), "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", Guid.Data1, Guid.Data2, Guid.Data3,
    Guid.Data4[0], Guid.Data4[1], Guid.Data4[2], Guid.Data4[3], Guid.Data4[4], Guid.Data4[5], Guid.Data4[6],
    Guid.Data4[7]
  );
  return Text;
}

HANDLE_RECORD *
LookupHandle (EFI_HANDLE Handle)
{
  if (Handle == nullptr) {
    return nullptr;
  }

  for (HANDLE_RECORD *Record : Boot ().Handles) {
    if ((Record == (HANDLE_RECORD *)Handle) && Record->Alive) {
      return Record;
    }
  }

  return nullptr;
}

PROTOCOL_INTERFACE *
LookupInterface (HANDLE_RECORD *Record, const EFI_GUID *Protocol)
{
  if (Record == nullptr) {
    return nullptr;
  }

  for (PROTOCOL_INTERFACE &Entry : Record->Protocols) {
    if (CompareGuid (&Entry.Guid, Protocol)) {
      return &Entry;
    }
  }

  return nullptr;
}

void
NotifyProtocolInstalled (const EFI_GUID *Protocol, EFI_HANDLE Handle)
{
  //
  // Copy first: a notification may register or close events.
  //
  std::vector<NOTIFY_REGISTRATION *> Registrations = Boot ().Registrations;

  for (NOTIFY_REGISTRATION *Registration : Registrations) {
    if (Registration->Alive && CompareGuid (&Registration->Protocol, Protocol)) {
      Registration->NewHandles.push_back (Handle);
      HOST_MODEL::Current ().BootServices ()->SignalEvent (Registration->Event);
    }
  }
}

void
DropRegistrations (EFI_EVENT Event)
{
  for (NOTIFY_REGISTRATION *Registration : Boot ().Registrations) {
    if (Registration->Event == Event) {
      Registration->Alive = FALSE;
      Registration->NewHandles.clear ();
    }
  }
}

void
InitHandleServices (EFI_BOOT_SERVICES *Bs)
{
  Bs->InstallProtocolInterface            = InstallProtocolInterface;
  Bs->ReinstallProtocolInterface          = ReinstallProtocolInterface;
  Bs->UninstallProtocolInterface          = UninstallProtocolInterface;
  Bs->HandleProtocol                      = HandleProtocol;
  Bs->RegisterProtocolNotify              = RegisterProtocolNotify;
  Bs->LocateHandle                        = LocateHandle;
  Bs->LocateDevicePath                    = LocateDevicePath;
  Bs->ConnectController                   = ConnectControllerService;
  Bs->DisconnectController                = DisconnectControllerService;
  Bs->OpenProtocol                        = OpenProtocolService;
  Bs->CloseProtocol                       = CloseProtocol;
  Bs->OpenProtocolInformation             = OpenProtocolInformation;
  Bs->ProtocolsPerHandle                  = ProtocolsPerHandle;
  Bs->LocateHandleBuffer                  = LocateHandleBuffer;
  Bs->LocateProtocol                      = LocateProtocol;
  Bs->InstallMultipleProtocolInterfaces   = InstallMultipleProtocolInterfaces;
  Bs->UninstallMultipleProtocolInterfaces = UninstallMultipleProtocolInterfaces;
}

//
// The test-facing side of the handle database.
//

EFI_HANDLE
HOST_MODEL::InstallProtocol (EFI_HANDLE Handle, const EFI_GUID &Protocol, VOID *Interface)
{
  EFI_STATUS Status = InstallProtocolInterface (&Handle, (EFI_GUID *)&Protocol, EFI_NATIVE_INTERFACE, Interface);

  EXPECT_EQ (Status, EFI_SUCCESS) << "installing " << GuidText (Protocol);
  return Handle;
}

void
HOST_MODEL::FailBootService (BOOT_SERVICE_KIND Kind, UINTN Nth, EFI_STATUS Status)
{
  mBoot->ServiceFailAt[Kind]     = mBoot->ServiceCalls[Kind] + Nth;
  mBoot->ServiceFailStatus[Kind] = Status;
}

UINTN
HOST_MODEL::BootServiceCalls (BOOT_SERVICE_KIND Kind) const
{
  return mBoot->ServiceCalls[Kind];
}

VOID *
HOST_MODEL::FindProtocol (EFI_HANDLE Handle, const EFI_GUID &Protocol) const
{
  PROTOCOL_INTERFACE *Entry = LookupInterface (LookupHandle (Handle), &Protocol);

  return Entry == nullptr ? nullptr : Entry->Interface;
}

std::vector<EFI_HANDLE>
HOST_MODEL::HandlesWith (const EFI_GUID &Protocol) const
{
  std::vector<std::pair<UINT64, EFI_HANDLE>> Found;

  for (HANDLE_RECORD *Record : mBoot->Handles) {
    PROTOCOL_INTERFACE *Entry = Record->Alive ? LookupInterface (Record, &Protocol) : nullptr;

    if (Entry != nullptr) {
      Found.push_back ({ Entry->InstallSequence, (EFI_HANDLE)Record });
    }
  }

  //
  // In the order the interfaces were installed, as the firmware keeps them.
  //
  std::sort (Found.begin (), Found.end ());

  std::vector<EFI_HANDLE> Handles;

  for (auto &Pair : Found) {
    Handles.push_back (Pair.second);
  }

  return Handles;
}

std::vector<OPEN_RECORD>
HOST_MODEL::OpenRecords (EFI_HANDLE Handle, const EFI_GUID &Protocol) const
{
  PROTOCOL_INTERFACE *Entry = LookupInterface (LookupHandle (Handle), &Protocol);

  return Entry == nullptr ? std::vector<OPEN_RECORD> () : Entry->Opens;
}

BOOLEAN
HOST_MODEL::IsValidHandle (EFI_HANDLE Handle) const
{
  return LookupHandle (Handle) != nullptr;
}

std::vector<EFI_HANDLE>
HOST_MODEL::ChildrenOf (EFI_HANDLE Controller) const
{
  std::vector<EFI_HANDLE> Children;
  HANDLE_RECORD          *Record = LookupHandle (Controller);

  if (Record == nullptr) {
    return Children;
  }

  for (const PROTOCOL_INTERFACE &Entry : Record->Protocols) {
    for (const OPEN_RECORD &Open : Entry.Opens) {
      if (((Open.Attributes & EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER) != 0) &&
          (std::find (Children.begin (), Children.end (), Open.Controller) == Children.end ()))
      {
        Children.push_back (Open.Controller);
      }
    }
  }

  return Children;
}
