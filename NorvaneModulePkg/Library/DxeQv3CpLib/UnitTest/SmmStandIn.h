/** @file
  A stand-in for the SMM Base2 protocol and a small SMM system table: enough
  for the checkpoint list library to ask whether it runs in SMM and then
  find or publish its list there. Only the library's tests need SMM, so the
  stand-in lives beside them, not in the host platform model.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef SMM_STAND_IN_H_
#define SMM_STAND_IN_H_

#include <HostModel.h>

extern "C" {
#include <Library/BaseMemoryLib.h>
#include <Protocol/SmmBase2.h>
}

/// SMM Base2 (absent until Install) and an SMM system table whose
/// SmmLocateProtocol and SmmInstallProtocolInterface are real; any other
/// service fails the test. One exists at a time: the services, which get no
/// context, reach it through mCurrent.
class SMM_STAND_IN {
public:
  SMM_STAND_IN ()
  {
    VOID **Slots = (VOID **)&Smst;

    ZeroMem (&Smst, sizeof (Smst));
    for (UINTN Index = sizeof (Smst.Hdr) / sizeof (VOID *); Index < sizeof (Smst) / sizeof (VOID *); Index++) {
      Slots[Index] = (VOID *)Unmodelled;
    }

    Smst.Hdr.Signature               = SMM_SMST_SIGNATURE;
    Smst.SmmConfigurationTable       = nullptr;
    Smst.NumberOfTableEntries        = 0;
    Smst.CurrentlyExecutingCpu       = 0;
    Smst.NumberOfCpus                = 1;
    Smst.CpuSaveStateSize            = nullptr;
    Smst.CpuSaveState                = nullptr;
    Smst.SmmFirmwareVendor           = nullptr;
    Smst.SmmFirmwareRevision         = 0;
    Smst.SmmLocateProtocol           = LocateProtocol;
    Smst.SmmInstallProtocolInterface = InstallProtocolInterface;
    mCurrent                         = this;
  }

  ~SMM_STAND_IN ()
  {
    mCurrent = nullptr;
  }

  /// Installs SMM Base2 in the model's handle database; its InSmm answers InSmm.
  void
  Install (HOST_MODEL &Model, BOOLEAN InSmm)
  {
    mInSmm = InSmm;
    Model.InstallProtocol (nullptr, gEfiSmmBase2ProtocolGuid, &mBase2);
  }

  /// The interface installed in SMM for Guid, or nullptr.
  VOID *
  Protocol (const EFI_GUID &Guid) const
  {
    for (const auto &Entry : Installed) {
      if (CompareGuid (&Entry.first, &Guid)) {
        return Entry.second;
      }
    }

    return nullptr;
  }

  EFI_SMM_SYSTEM_TABLE2                    Smst;
  EFI_STATUS                               SmstStatus = EFI_SUCCESS; ///< what GetSmstLocation answers
  std::vector<std::pair<EFI_GUID, VOID *>> Installed;

private:
  static EFI_STATUS EFIAPI
  InSmmService (IN CONST EFI_SMM_BASE2_PROTOCOL *This, OUT BOOLEAN *InSmram)
  {
    if (InSmram == nullptr) {
      return EFI_INVALID_PARAMETER;
    }

    *InSmram = mCurrent->mInSmm;
    return EFI_SUCCESS;
  }

  static EFI_STATUS EFIAPI
  GetSmstLocation (IN CONST EFI_SMM_BASE2_PROTOCOL *This, IN OUT EFI_SMM_SYSTEM_TABLE2 **Table)
  {
    if (Table == nullptr) {
      return EFI_INVALID_PARAMETER;
    }

    if (!EFI_ERROR (mCurrent->SmstStatus)) {
      *Table = &mCurrent->Smst;
    }

    return mCurrent->SmstStatus;
  }

  static EFI_STATUS EFIAPI
  LocateProtocol (IN EFI_GUID *Protocol, IN VOID *Registration OPTIONAL, OUT VOID **Interface)
  {
    if ((Protocol == nullptr) || (Interface == nullptr)) {
      return EFI_INVALID_PARAMETER;
    }

    *Interface = mCurrent->Protocol (*Protocol);
    return *Interface == nullptr ? EFI_NOT_FOUND : EFI_SUCCESS;
  }

  static EFI_STATUS EFIAPI
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

    mCurrent->Installed.push_back ({ *Protocol, Interface });
    if (*UserHandle == nullptr) {
      *UserHandle = (EFI_HANDLE)(UINTN)mCurrent->Installed.size (); // a distinct non-null handle
    }

    return EFI_SUCCESS;
  }

  static EFI_STATUS EFIAPI
  Unmodelled (VOID)
  {
    ADD_FAILURE () << "an SMM service that the stand-in does not model was called";
    return EFI_UNSUPPORTED;
  }

  static inline SMM_STAND_IN *mCurrent = nullptr;
  EFI_SMM_BASE2_PROTOCOL      mBase2   = { InSmmService, GetSmstLocation };
  BOOLEAN                     mInSmm   = FALSE;
};

#endif
