/** @file
  State of the modelled firmware core shared by the files of the model.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef HOST_MODEL_INTERNAL_H_
#define HOST_MODEL_INTERNAL_H_

#include <HostModel.h>
#include <deque>
#include <string>

extern "C" {
#include <Library/BaseLib.h>
#include <Library/BaseMemoryLib.h>
#include <Protocol/LoadedImage.h>
#include <Guid/HobList.h>
}

/// One protocol interface on a handle, with its opens.
struct PROTOCOL_INTERFACE {
  EFI_GUID                 Guid;
  VOID                    *Interface;
  UINT64                   InstallSequence;
  std::vector<OPEN_RECORD> Opens;
};

/// A handle of the database. EFI_HANDLE values point at these records;
/// records of removed handles are kept (marked dead) until the model goes,
/// so a stale handle is never confused with a new one.
struct HANDLE_RECORD {
  UINT64                          Signature;
  BOOLEAN                         Alive;
  std::vector<PROTOCOL_INTERFACE> Protocols;
};

/// A protocol-notify registration; the value handed out as Registration.
/// Kept (marked dead) after its event closes, until the model goes: a
/// notification may close another event while installs are being reported.
struct NOTIFY_REGISTRATION {
  EFI_GUID               Protocol;
  EFI_EVENT              Event;
  std::deque<EFI_HANDLE> NewHandles; // installs not yet reported by Locate*
  BOOLEAN                Alive;
};

struct EVENT_RECORD {
  UINT64           Signature;
  BOOLEAN          Open;
  UINT32           Type;
  EFI_TPL          NotifyTpl;
  EFI_EVENT_NOTIFY Notify;
  VOID            *Context;
  BOOLEAN          HasGroup;
  alignas (8) EFI_GUID Group; // CompareGuid reads it as two UINT64
  BOOLEAN Signaled;
  BOOLEAN Queued;
  UINT64  QueueSequence;
};

struct BOOT_SERVICES_STATE {
  EFI_SYSTEM_TABLE                         SystemTable;
  EFI_BOOT_SERVICES                        BootServices;
  EFI_RUNTIME_SERVICES                     RuntimeServices;
  EFI_CONFIGURATION_TABLE                  ConfigTables[32];
  std::vector<HANDLE_RECORD *>             Handles; // creation order, dead ones included
  std::vector<EVENT_RECORD *>              Events;
  std::vector<NOTIFY_REGISTRATION *>       Registrations;
  std::vector<BINDING_CALL>                BindingCalls;
  std::vector<EFI_LOADED_IMAGE_PROTOCOL *> LoadedImages;
  EFI_TPL                                  Tpl             = TPL_APPLICATION;
  UINT64                                   InstallSequence = 0;
  UINT64                                   QueueSequence   = 0;
  EFI_HANDLE                               CoreImageHandle = nullptr;

  // Calls per kind through the table, and the failures a test asked for.
  UINTN      ServiceCalls[BootServiceKinds]      = {};
  UINTN      ServiceFailAt[BootServiceKinds]     = {};
  EFI_STATUS ServiceFailStatus[BootServiceKinds] = {};

  ~BOOT_SERVICES_STATE ();
};

#define HANDLE_SIGNATURE SIGNATURE_64 ('h', 'm', 'h', 'a', 'n', 'd', 'l', 'e')
#define EVENT_SIGNATURE  SIGNATURE_64 ('h', 'm', 'e', 'v', 'e', 'n', 't', ' ')

/// Key of a GUID in std::map.
std::string GuidKey (const EFI_GUID *Guid);

HANDLE_RECORD *LookupHandle (EFI_HANDLE Handle);

PROTOCOL_INTERFACE *LookupInterface (HANDLE_RECORD *Record, const EFI_GUID *Protocol);

/// Installs the boot services into the table (HandleDatabase.cpp,
/// Events.cpp, BootServices.cpp each fill their members).
void InitHandleServices (EFI_BOOT_SERVICES *Bs);

void InitEventServices (EFI_BOOT_SERVICES *Bs);

void InitMiscBootServices (EFI_BOOT_SERVICES *Bs);

void InitRuntimeServices (EFI_RUNTIME_SERVICES *Rt);

/// Signals the events registered for notification of Protocol (Handle got it).
void NotifyProtocolInstalled (const EFI_GUID *Protocol, EFI_HANDLE Handle);

/// Closes the registrations that belong to Event.
void DropRegistrations (EFI_EVENT Event);

/// Installs the PCD protocols on a handle of their own.
void InstallPcdProtocols ();

/// A one-line text for a GUID, for messages.
std::string GuidText (const EFI_GUID &Guid);

#endif
