/** @file
  The remaining boot services: allocation entry points, Stall, the
  configuration table, memory helpers, and answers for what the drivers
  never call; and the runtime services, which hold no variables.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "HostModelInternal.h"

namespace {

EFI_STATUS
EFIAPI
AllocatePool (IN EFI_MEMORY_TYPE PoolType, IN UINTN Size, OUT VOID **Buffer)
{
  return HOST_MODEL::Current ().Memory.AllocatePool (PoolType, Size, Buffer);
}

EFI_STATUS
EFIAPI
FreePool (IN VOID *Buffer)
{
  return HOST_MODEL::Current ().Memory.FreePool (Buffer);
}

EFI_STATUS
EFIAPI
AllocatePages (
  IN EFI_ALLOCATE_TYPE         Type,
  IN EFI_MEMORY_TYPE           MemoryType,
  IN UINTN                     Pages,
  IN OUT EFI_PHYSICAL_ADDRESS *Memory
)
{
  return HOST_MODEL::Current ().Memory.AllocatePages (Type, MemoryType, Pages, Memory);
}

EFI_STATUS
EFIAPI
FreePages (IN EFI_PHYSICAL_ADDRESS Memory, IN UINTN Pages)
{
  return HOST_MODEL::Current ().Memory.FreePages (Memory, Pages);
}

/// Stall is recorded, not slept.
EFI_STATUS
EFIAPI
Stall (IN UINTN Microseconds)
{
  HOST_MODEL::Current ().RecordStall (Microseconds);
  return EFI_SUCCESS;
}

EFI_STATUS
EFIAPI
InstallConfigurationTable (IN EFI_GUID *Guid, IN VOID *Table)
{
  if (Guid == nullptr) {
    return EFI_INVALID_PARAMETER;
  }

  EFI_SYSTEM_TABLE        *St      = HOST_MODEL::Current ().SystemTable ();
  EFI_CONFIGURATION_TABLE *Entries = St->ConfigurationTable;
  UINTN                    Count   = St->NumberOfTableEntries;

  for (UINTN Index = 0; Index < Count; Index++) {
    if (CompareGuid (&Entries[Index].VendorGuid, Guid)) {
      if (Table != nullptr) {
        Entries[Index].VendorTable = Table;
      } else {
        Entries[Index] = Entries[Count - 1];
        St->NumberOfTableEntries -= 1;
      }

      return EFI_SUCCESS;
    }
  }

  if (Table == nullptr) {
    return EFI_NOT_FOUND;
  }

  if (Count == ARRAY_SIZE (HOST_MODEL::Current ().Boot ().ConfigTables)) {
    return EFI_OUT_OF_RESOURCES;
  }

  Entries[Count].VendorGuid  = *Guid;
  Entries[Count].VendorTable = Table;
  St->NumberOfTableEntries   = Count + 1;
  return EFI_SUCCESS;
}

VOID EFIAPI
CopyMemService (IN VOID *Destination, IN VOID *Source, IN UINTN Length)
{
  CopyMem (Destination, Source, Length);
}

VOID EFIAPI
SetMemService (IN VOID *Buffer, IN UINTN Size, IN UINT8 Value)
{
  SetMem (Buffer, Size, Value);
}

EFI_STATUS
EFIAPI
CalculateCrc32Service (IN VOID *Data, IN UINTN DataSize, OUT UINT32 *Crc32)
{
  if ((Data == nullptr) || (DataSize == 0) || (Crc32 == nullptr)) {
    return EFI_INVALID_PARAMETER;
  }

  *Crc32 = CalculateCrc32 (Data, DataSize);
  return EFI_SUCCESS;
}

EFI_STATUS
EFIAPI
GetNextMonotonicCount (OUT UINT64 *Count)
{
  static UINT64 mCount;

  if (Count == nullptr) {
    return EFI_INVALID_PARAMETER;
  }

  *Count = ++mCount;
  return EFI_SUCCESS;
}

EFI_STATUS
EFIAPI
SetWatchdogTimer (IN UINTN Timeout, IN UINT64 WatchdogCode, IN UINTN DataSize, IN CHAR16 *WatchdogData OPTIONAL)
{
  return EFI_SUCCESS;
}

/**
  Stands in for the services no driver of ours calls (images, memory map,
  exit from boot services): calling one fails the test.
**/
EFI_STATUS
EFIAPI
Unmodelled (VOID)
{
  ADD_FAILURE () << "a boot or runtime service that the host model does not model was called";
  return EFI_UNSUPPORTED;
}

/**
  The model keeps no variables: a read finds nothing, as on a first boot, and
  a write is refused. A test that needs values installs its own GetVariable.
**/
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
  return EFI_NOT_FOUND;
}

EFI_STATUS
EFIAPI
SetVariable (IN CHAR16 *VariableName, IN EFI_GUID *VendorGuid, IN UINT32 Attributes, IN UINTN DataSize, IN VOID *Data)
{
  return EFI_WRITE_PROTECTED;
}

} // namespace

void
InitMiscBootServices (EFI_BOOT_SERVICES *Bs)
{
  Bs->AllocatePages             = AllocatePages;
  Bs->FreePages                 = FreePages;
  Bs->AllocatePool              = AllocatePool;
  Bs->FreePool                  = FreePool;
  Bs->Stall                     = Stall;
  Bs->InstallConfigurationTable = InstallConfigurationTable;
  Bs->CopyMem                   = CopyMemService;
  Bs->SetMem                    = SetMemService;
  Bs->CalculateCrc32            = CalculateCrc32Service;
  Bs->GetNextMonotonicCount     = GetNextMonotonicCount;
  Bs->SetWatchdogTimer          = SetWatchdogTimer;

  Bs->GetMemoryMap     = (EFI_GET_MEMORY_MAP)Unmodelled;
  Bs->LoadImage        = (EFI_IMAGE_LOAD)Unmodelled;
  Bs->StartImage       = (EFI_IMAGE_START)Unmodelled;
  Bs->Exit             = (EFI_EXIT)Unmodelled;
  Bs->UnloadImage      = (EFI_IMAGE_UNLOAD)Unmodelled;
  Bs->ExitBootServices = (EFI_EXIT_BOOT_SERVICES)Unmodelled;
  Bs->Reserved         = nullptr;
}

/// Every runtime service but the two variable services fails the test.
void
InitRuntimeServices (EFI_RUNTIME_SERVICES *Rt)
{
  VOID **Slots = (VOID **)Rt;

  for (UINTN Index = sizeof (Rt->Hdr) / sizeof (VOID *); Index < sizeof (*Rt) / sizeof (VOID *); Index++) {
    Slots[Index] = (VOID *)Unmodelled;
  }

  Rt->GetVariable = GetVariable;
  Rt->SetVariable = SetVariable;
}
