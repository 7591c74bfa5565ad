/** @file
  Host platform model: the SMM Base2 protocol and a small SMM system table.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef HOST_MODEL_SMM_H_
#define HOST_MODEL_SMM_H_

#include "ModelCommon.h"

/// EFI_SMM_BASE2_PROTOCOL (absent by default) and a small SMM system table
/// with SmmLocateProtocol and SmmInstallProtocolInterface.
class SMM_MODEL {
public:
  SMM_MODEL ();

  void Install (BOOLEAN InSmm);

  BOOLEAN
  InSmm () const
  {
    return mInSmm;
  }

  /// GetSmstLocation answers Status (EFI_SUCCESS by default).
  void
  SetSmstStatus (EFI_STATUS Status)
  {
    mSmstStatus = Status;
  }

  EFI_STATUS
  SmstStatus () const
  {
    return mSmstStatus;
  }

  EFI_SMM_SYSTEM_TABLE2 *
  Smst ()
  {
    return &mSmst;
  }

  /// The interface installed in SMM for Guid, or nullptr.
  VOID *Protocol (const EFI_GUID &Guid) const;

  std::vector<std::pair<EFI_GUID, VOID *>> Installed;

private:
  EFI_SMM_SYSTEM_TABLE2 mSmst;
  BOOLEAN               mInSmm      = FALSE;
  EFI_STATUS            mSmstStatus = EFI_SUCCESS;
};

#endif
