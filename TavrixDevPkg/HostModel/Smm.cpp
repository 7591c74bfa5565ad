/** @file
  EFI_SMM_BASE2_PROTOCOL and a small SMM system table: enough for a library
  that asks whether it runs in SMM and then finds or publishes a protocol
  there.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "HostModelInternal.h"

namespace {

EFI_STATUS
EFIAPI
InSmm (IN CONST EFI_SMM_BASE2_PROTOCOL *This, OUT BOOLEAN *InSmram)
{
  if (InSmram == nullptr) {
    return EFI_INVALID_PARAMETER;
  }

  *InSmram = HOST_MODEL::Current ().Smm.InSmm ();
  return EFI_SUCCESS;
}

EFI_STATUS
EFIAPI
GetSmstLocation (IN CONST EFI_SMM_BASE2_PROTOCOL *This, IN OUT EFI_SMM_SYSTEM_TABLE2 **Smst)
{
  SMM_MODEL &Smm = HOST_MODEL::Current ().Smm;

  if (Smst == nullptr) {
    return EFI_INVALID_PARAMETER;
  }

  if (EFI_ERROR (Smm.SmstStatus ())) {
    return Smm.SmstStatus ();
  }

  *Smst = Smm.Smst ();
  return EFI_SUCCESS;
}

EFI_STATUS
EFIAPI
SmmLocateProtocol (IN EFI_GUID *Protocol, IN VOID *Registration OPTIONAL, OUT VOID **Interface)
{
  if ((Protocol == nullptr) || (Interface == nullptr)) {
    return EFI_INVALID_PARAMETER;
  }

  *Interface = HOST_MODEL::Current ().Smm.Protocol (*Protocol);
  return *Interface == nullptr ? EFI_NOT_FOUND : EFI_SUCCESS;
}

EFI_STATUS
EFIAPI
SmmInstallProtocolInterface (
  IN OUT EFI_HANDLE    *UserHandle,
  IN EFI_GUID          *Protocol,
  IN EFI_INTERFACE_TYPE InterfaceType,
  IN VOID              *Interface
)
{
  if ((UserHandle == nullptr) || (Protocol == nullptr) || (InterfaceType != EFI_NATIVE_INTERFACE)) {
    return EFI_INVALID_PARAMETER;
  }

  SMM_MODEL &Smm = HOST_MODEL::Current ().Smm;

  Smm.Installed.push_back ({ *Protocol, Interface });
  if (*UserHandle == nullptr) {
    *UserHandle = (EFI_HANDLE)(UINTN)Smm.Installed.size (); // a distinct non-null handle
  }

  return EFI_SUCCESS;
}

EFI_STATUS
EFIAPI
UnmodelledSmm (VOID)
{
  ADD_FAILURE () << "an SMM service that the host model does not model was called";
  return EFI_UNSUPPORTED;
}

EFI_SMM_BASE2_PROTOCOL mSmmBase2 = { InSmm, GetSmstLocation };

} // namespace

SMM_MODEL::SMM_MODEL ()
{
  VOID **Slots = (VOID **)&mSmst;

  //
  // Everything after the header answers "unmodelled"; the two services
  // the libraries use are real.
  //
  ZeroMem (&mSmst, sizeof (mSmst));
  for (UINTN Index = sizeof (mSmst.Hdr) / sizeof (VOID *); Index < sizeof (mSmst) / sizeof (VOID *); Index++) {
    Slots[Index] = (VOID *)UnmodelledSmm;
  }

  mSmst.Hdr.Signature               = SMM_SMST_SIGNATURE;
  mSmst.SmmFirmwareVendor           = nullptr;
  mSmst.SmmFirmwareRevision         = 0;
  mSmst.NumberOfTableEntries        = 0;
  mSmst.SmmConfigurationTable       = nullptr;
  mSmst.CurrentlyExecutingCpu       = 0;
  mSmst.NumberOfCpus                = 1;
  mSmst.CpuSaveStateSize            = nullptr;
  mSmst.CpuSaveState                = nullptr;
  mSmst.SmmLocateProtocol           = SmmLocateProtocol;
  mSmst.SmmInstallProtocolInterface = SmmInstallProtocolInterface;
}

void
SMM_MODEL::Install (BOOLEAN InSmm)
{
  mInSmm = InSmm;
  HOST_MODEL::Current ().InstallProtocol (nullptr, gEfiSmmBase2ProtocolGuid, &mSmmBase2);
}

VOID *
SMM_MODEL::Protocol (const EFI_GUID &Guid) const
{
  for (const auto &Entry : Installed) {
    if (CompareGuid (&Entry.first, &Guid)) {
      return Entry.second;
    }
  }

  return nullptr;
}
