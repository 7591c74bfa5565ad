/** @file
  Runtime services: a variable store keyed by name and vendor GUID.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "HostModelInternal.h"

namespace {

std::u16string
NameOf (const CHAR16 *Name)
{
  std::u16string Text;

  while (*Name != 0) {
    Text.push_back ((char16_t)*Name++);
  }

  return Text;
}

EFI_STATUS
EFIAPI
GetVariable (
  IN CHAR16    *VariableName,
  IN EFI_GUID  *VendorGuid,
  OUT UINT32   *Attributes OPTIONAL,
  IN OUT UINTN *DataSize,
  OUT VOID     *Data OPTIONAL
)
{
  return HOST_MODEL::Current ().Variables.GetVariable (VariableName, VendorGuid, Attributes, DataSize, Data);
}

EFI_STATUS
EFIAPI
SetVariable (IN CHAR16 *VariableName, IN EFI_GUID *VendorGuid, IN UINT32 Attributes, IN UINTN DataSize, IN VOID *Data)
{
  return HOST_MODEL::Current ().Variables.SetVariable (VariableName, VendorGuid, Attributes, DataSize, Data);
}

EFI_STATUS
EFIAPI
UnmodelledRuntime (VOID)
{
  ADD_FAILURE () << "a runtime service that the host model does not model was called";
  return EFI_UNSUPPORTED;
}

} // namespace

void
InitRuntimeServices (EFI_RUNTIME_SERVICES *Rt)
{
  Rt->GetVariable               = GetVariable;
  Rt->SetVariable               = SetVariable;
  Rt->GetTime                   = (EFI_GET_TIME)UnmodelledRuntime;
  Rt->SetTime                   = (EFI_SET_TIME)UnmodelledRuntime;
  Rt->GetWakeupTime             = (EFI_GET_WAKEUP_TIME)UnmodelledRuntime;
  Rt->SetWakeupTime             = (EFI_SET_WAKEUP_TIME)UnmodelledRuntime;
  Rt->SetVirtualAddressMap      = (EFI_SET_VIRTUAL_ADDRESS_MAP)UnmodelledRuntime;
  Rt->ConvertPointer            = (EFI_CONVERT_POINTER)UnmodelledRuntime;
  Rt->GetNextVariableName       = (EFI_GET_NEXT_VARIABLE_NAME)UnmodelledRuntime;
  Rt->GetNextHighMonotonicCount = (EFI_GET_NEXT_HIGH_MONO_COUNT)UnmodelledRuntime;
  Rt->ResetSystem               = (EFI_RESET_SYSTEM)UnmodelledRuntime;
  Rt->UpdateCapsule             = (EFI_UPDATE_CAPSULE)UnmodelledRuntime;
  Rt->QueryCapsuleCapabilities  = (EFI_QUERY_CAPSULE_CAPABILITIES)UnmodelledRuntime;
  Rt->QueryVariableInfo         = (EFI_QUERY_VARIABLE_INFO)UnmodelledRuntime;
}

void
VARIABLE_STORE::Set (const char16_t *Name, const EFI_GUID &Guid, const VOID *Data, UINTN Size, UINT32 Attributes)
{
  const UINT8 *Bytes = (const UINT8 *)Data;

  mValues[{ Name, GuidKey (&Guid) }] = VALUE{ Attributes, std::vector<UINT8> (Bytes, Bytes + Size) };
}

void
VARIABLE_STORE::Remove (const char16_t *Name, const EFI_GUID &Guid)
{
  mValues.erase ({ Name, GuidKey (&Guid) });
}

/**
  GetVariable with the UEFI size rules: a buffer too small for the value
  gets EFI_BUFFER_TOO_SMALL and the needed size in *DataSize.
**/
EFI_STATUS
VARIABLE_STORE::GetVariable (CHAR16 *Name, EFI_GUID *Guid, UINT32 *Attributes, UINTN *DataSize, VOID *Data)
{
  VARIABLE_READ Read = { HOST_MODEL::Current ().NextSequence (), u"", {}, 0, EFI_SUCCESS,
                         HOST_MODEL::Current ().CurrentTpl () };
  EFI_STATUS    Status;

  if ((Name == nullptr) || (Guid == nullptr) || (DataSize == nullptr)) {
    Status = EFI_INVALID_PARAMETER;
  } else {
    Read.Name       = NameOf (Name);
    Read.Guid       = *Guid;
    Read.BufferSize = *DataSize;

    auto It = mValues.find ({ Read.Name, GuidKey (Guid) });

    if (mNotAvailable) {
      Status = EFI_NOT_AVAILABLE_YET;
    } else if (It == mValues.end ()) {
      Status = EFI_NOT_FOUND;
    } else if (*DataSize < It->second.Data.size ()) {
      *DataSize = It->second.Data.size ();
      Status    = EFI_BUFFER_TOO_SMALL;
    } else if (Data == nullptr) {
      Status = EFI_INVALID_PARAMETER;
    } else {
      CopyMem (Data, It->second.Data.data (), It->second.Data.size ());
      *DataSize = It->second.Data.size ();
      if (Attributes != nullptr) {
        *Attributes = It->second.Attributes;
      }

      Status = EFI_SUCCESS;
    }
  }

  Read.Status = Status;
  mReads.push_back (Read);
  return Status;
}

EFI_STATUS
VARIABLE_STORE::SetVariable (CHAR16 *Name, EFI_GUID *Guid, UINT32 Attributes, UINTN DataSize, VOID *Data)
{
  if ((Name == nullptr) || (Name[0] == 0) || (Guid == nullptr) || ((DataSize != 0) && (Data == nullptr))) {
    return EFI_INVALID_PARAMETER;
  }

  if (mNotAvailable) {
    return EFI_NOT_AVAILABLE_YET;
  }

  std::u16string Key = NameOf (Name);

  if ((DataSize == 0) || (Attributes == 0)) {
    return mValues.erase ({ Key, GuidKey (Guid) }) == 0 ? EFI_NOT_FOUND : EFI_SUCCESS;
  }

  Set (Key.c_str (), *Guid, Data, DataSize, Attributes);
  return EFI_SUCCESS;
}
