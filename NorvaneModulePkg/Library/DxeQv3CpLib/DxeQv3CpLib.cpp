/** @file
  Shared checkpoint list: at start-up the module finds the list that firmware
  modules share or, when nobody has published one yet, creates an empty one
  and publishes it under gQv3CpListProtocolGuid on a handle of its own. The
  protocol interface is the list head itself.

  The head is boot-services pool, not module data, so that it outlives the
  module that created it.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "DxeQv3CpLibInternal.h"

extern "C" {
#include <PiDxe.h>
#include <Protocol/SmmBase2.h>
#include <Library/BaseLib.h>
#include <Library/DebugLib.h>
}

//
// C's NULL. In C++ EDK II defines NULL as __null, but assertion texts name
// the null pointer as the C libraries do ("mCpList != ((void *) 0)").
//
// clang-format off
#define C_NULL  ((void *) 0)
// clang-format on

LIST_ENTRY *mCpList = NULL;

namespace {

//
// The two services that differ between boot services and SMM; pool comes
// from boot services in both cases.
//
struct CP_LIST_SERVICES {
  EFI_LOCATE_PROTOCOL            LocateProtocol;
  EFI_INSTALL_PROTOCOL_INTERFACE InstallProtocolInterface;
};

/**
  TRUE when the module runs in SMM; a module without the SMM Base2 protocol
  does not.
**/
BOOLEAN
InSmm (IN EFI_BOOT_SERVICES *BootServices, OUT EFI_SMM_BASE2_PROTOCOL **SmmBase2)
{
  BOOLEAN Inside = FALSE;

  if (EFI_ERROR (BootServices->LocateProtocol (&gEfiSmmBase2ProtocolGuid, NULL, (VOID **)SmmBase2))) {
    return FALSE;
  }

  (*SmmBase2)->InSmm (*SmmBase2, &Inside);
  return Inside;
}

/**
  Finds the published list into mCpList or publishes a new, empty one.
**/
EFI_STATUS
FindOrPublishCheckpointList (IN EFI_BOOT_SERVICES *BootServices, IN CONST CP_LIST_SERVICES &Services)
{
  EFI_HANDLE Handle = NULL;
  EFI_STATUS Status;

  Status = Services.LocateProtocol (&gQv3CpListProtocolGuid, NULL, (VOID **)&mCpList);
  if (!EFI_ERROR (Status)) {
    if (mCpList == NULL) {
      //
      // The GUID is published without a list head behind it: there is no
      // list to share, and a second publication would not be the one that
      // other modules' LocateProtocol finds.
      //
      return EFI_NOT_FOUND;
    }

    return Status;
  }

  mCpList = NULL;
  if (EFI_ERROR (BootServices->AllocatePool (EfiBootServicesData, sizeof (LIST_ENTRY), (VOID **)&mCpList))) {
    mCpList = NULL;
  }

  ASSERT (mCpList != C_NULL);
  if (mCpList == NULL) {
    return EFI_OUT_OF_RESOURCES;
  }

  InitializeListHead (mCpList);
  Status = Services.InstallProtocolInterface (&Handle, &gQv3CpListProtocolGuid, EFI_NATIVE_INTERFACE, mCpList);
  if (EFI_ERROR (Status)) {
    //
    // Nobody can find an unpublished head; do not leave it behind.
    //
    BootServices->FreePool (mCpList);
    mCpList = NULL;
  }

  return Status;
}

} // namespace

/**
  Finds or publishes the shared checkpoint list through boot services, or in
  SMM through the SMM system table.

  @retval EFI_SUCCESS           mCpList points to the shared list.
  @retval EFI_NOT_FOUND         The list's GUID is published with a null
                                interface: no usable list; mCpList is null
                                and nothing is installed.
  @retval EFI_OUT_OF_RESOURCES  No pool for a new list head; mCpList is null.
  @return                       The failure of the SMM table lookup or of the
                                installation, unchanged; mCpList is null.
**/
extern "C" EFI_STATUS EFIAPI
DxeQv3CpLibConstructor (IN EFI_HANDLE ImageHandle, IN EFI_SYSTEM_TABLE *SystemTable)
{
  EFI_BOOT_SERVICES      *BootServices = SystemTable->BootServices;
  EFI_SMM_BASE2_PROTOCOL *SmmBase2     = NULL;
  EFI_SMM_SYSTEM_TABLE2  *Smst         = NULL;
  EFI_STATUS              Status;

  if (!InSmm (BootServices, &SmmBase2)) {
    return FindOrPublishCheckpointList (
      BootServices, { BootServices->LocateProtocol, BootServices->InstallProtocolInterface }
    );
  }

  Status = SmmBase2->GetSmstLocation (SmmBase2, &Smst);
  if (EFI_ERROR (Status)) {
    return Status;
  }

  return FindOrPublishCheckpointList (BootServices, { Smst->SmmLocateProtocol, Smst->SmmInstallProtocolInterface });
}
