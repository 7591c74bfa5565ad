/** @file
  ConnectController and DisconnectController over the Driver Binding
  protocols in the handle database.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "HostModelInternal.h"
#include <algorithm>

namespace {

/// Driver Binding instances, highest Version first (ties: install order).
std::vector<EFI_DRIVER_BINDING_PROTOCOL *>
DriverBindings (HOST_MODEL &Model)
{
  std::vector<EFI_DRIVER_BINDING_PROTOCOL *> Bindings;

  for (EFI_HANDLE Handle : Model.HandlesWith (gEfiDriverBindingProtocolGuid)) {
    Bindings.push_back ((EFI_DRIVER_BINDING_PROTOCOL *)Model.FindProtocol (Handle, gEfiDriverBindingProtocolGuid));
  }

  std::stable_sort (
    Bindings.begin (), Bindings.end (),
    [] (EFI_DRIVER_BINDING_PROTOCOL *A, EFI_DRIVER_BINDING_PROTOCOL *B) { return A->Version > B->Version; }
  );
  return Bindings;
}

/// Agents holding any protocol of Controller BY_DRIVER, in first-open order.
std::vector<EFI_HANDLE>
ManagingAgents (HANDLE_RECORD *Record)
{
  std::vector<EFI_HANDLE> Agents;

  for (const PROTOCOL_INTERFACE &Entry : Record->Protocols) {
    for (const OPEN_RECORD &Open : Entry.Opens) {
      if (((Open.Attributes & EFI_OPEN_PROTOCOL_BY_DRIVER) != 0) &&
          (std::find (Agents.begin (), Agents.end (), Open.Agent) == Agents.end ()))
      {
        Agents.push_back (Open.Agent);
      }
    }
  }

  return Agents;
}

/// Children Agent made on Controller: BY_CHILD_CONTROLLER opens by Agent.
std::vector<EFI_HANDLE>
ChildrenOfAgent (HANDLE_RECORD *Record, EFI_HANDLE Agent)
{
  std::vector<EFI_HANDLE> Children;

  for (const PROTOCOL_INTERFACE &Entry : Record->Protocols) {
    for (const OPEN_RECORD &Open : Entry.Opens) {
      if ((Open.Agent == Agent) && ((Open.Attributes & EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER) != 0) &&
          (std::find (Children.begin (), Children.end (), Open.Controller) == Children.end ()))
      {
        Children.push_back (Open.Controller);
      }
    }
  }

  return Children;
}

} // namespace

/**
  Offers Controller to every driver in Version order: Supported, then Start
  for those that accept it. EFI_SUCCESS when some driver started.
**/
EFI_STATUS
HOST_MODEL::ConnectController (EFI_HANDLE Controller, EFI_DEVICE_PATH_PROTOCOL *RemainingDevicePath)
{
  if (LookupHandle (Controller) == nullptr) {
    return EFI_INVALID_PARAMETER;
  }

  BOOLEAN Started = FALSE;

  for (EFI_DRIVER_BINDING_PROTOCOL *Binding : DriverBindings (*this)) {
    EFI_STATUS Status = Binding->Supported (Binding, Controller, RemainingDevicePath);

    mBoot->BindingCalls.push_back (BINDING_CALL{ NextSequence (), BindingSupported, Binding, Controller, 0, Status });
    if (EFI_ERROR (Status)) {
      continue;
    }

    Status = Binding->Start (Binding, Controller, RemainingDevicePath);
    mBoot->BindingCalls.push_back (BINDING_CALL{ NextSequence (), BindingStart, Binding, Controller, 0, Status });
    if (!EFI_ERROR (Status)) {
      Started = TRUE;
    }
  }

  return Started ? EFI_SUCCESS : EFI_NOT_FOUND;
}

/**
  Stops the drivers that manage Controller in two phases, as the firmware
  does: first each driver's children (Stop with the child list), then, when
  no child of that driver is left or the whole controller is disconnected,
  the controller itself (Stop with no children).
**/
EFI_STATUS
HOST_MODEL::DisconnectController (EFI_HANDLE Controller, EFI_HANDLE DriverImageHandle, EFI_HANDLE ChildHandle)
{
  HANDLE_RECORD *Record = LookupHandle (Controller);

  if ((Record == nullptr) || ((DriverImageHandle != nullptr) && (LookupHandle (DriverImageHandle) == nullptr)) || ((ChildHandle != nullptr) && (LookupHandle (ChildHandle) == nullptr))) {
    return EFI_INVALID_PARAMETER;
  }

  EFI_STATUS Result = EFI_SUCCESS;

  for (EFI_HANDLE Agent : ManagingAgents (Record)) {
    if ((DriverImageHandle != nullptr) && (Agent != DriverImageHandle)) {
      continue;
    }

    EFI_DRIVER_BINDING_PROTOCOL *Binding =
      (EFI_DRIVER_BINDING_PROTOCOL *)FindProtocol (Agent, gEfiDriverBindingProtocolGuid);

    if (Binding == nullptr) {
      Result = EFI_INVALID_PARAMETER;
      continue;
    }

    Record = LookupHandle (Controller);
    if (Record == nullptr) {
      break;
    }

    std::vector<EFI_HANDLE> Children    = ChildrenOfAgent (Record, Agent);
    UINTN                   AllChildren = Children.size ();

    if (ChildHandle != nullptr) {
      if (std::find (Children.begin (), Children.end (), ChildHandle) == Children.end ()) {
        continue; // not a child of this driver
      }

      Children.assign (1, ChildHandle);
    }

    EFI_STATUS Status = EFI_SUCCESS;

    if (!Children.empty ()) {
      Status = Binding->Stop (Binding, Controller, Children.size (), Children.data ());
      mBoot->BindingCalls.push_back (BINDING_CALL{ NextSequence (), BindingStop, Binding, Controller, Children.size (),
                                                   Status });
    }

    if (!EFI_ERROR (Status) && ((ChildHandle == nullptr) || (Children.size () == AllChildren))) {
      Status = Binding->Stop (Binding, Controller, 0, nullptr);
      mBoot->BindingCalls.push_back (BINDING_CALL{ NextSequence (), BindingStop, Binding, Controller, 0, Status });
    }

    if (EFI_ERROR (Status)) {
      Result = Status;
    }
  }

  return Result;
}

const std::vector<BINDING_CALL> &
HOST_MODEL::BindingCalls () const
{
  return mBoot->BindingCalls;
}
