/** @file
  Host platform model: the runtime variable store.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef HOST_MODEL_VARIABLES_H_
#define HOST_MODEL_VARIABLES_H_

#include "ModelCommon.h"

struct VARIABLE_READ {
  UINT64         Sequence;
  std::u16string Name;
  EFI_GUID       Guid;
  UINTN          BufferSize; ///< *DataSize on entry
  EFI_STATUS     Status;
  EFI_TPL        Tpl;
};

/// Runtime variable store behind GetVariable/SetVariable.
class VARIABLE_STORE {
public:
  void Set (
    const char16_t *Name,
    const EFI_GUID &Guid,
    const VOID     *Data,
    UINTN           Size,
    UINT32          Attributes = EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS
  );

  void Remove (const char16_t *Name, const EFI_GUID &Guid);

  /// While set, GetVariable answers EFI_NOT_AVAILABLE_YET.
  void
  SetNotAvailableYet (BOOLEAN NotAvailable)
  {
    mNotAvailable = NotAvailable;
  }

  const std::vector<VARIABLE_READ> &
  Reads () const
  {
    return mReads;
  }

  EFI_STATUS
  GetVariable (CHAR16 *Name, EFI_GUID *Guid, UINT32 *Attributes, UINTN *DataSize, VOID *Data);

  EFI_STATUS
  SetVariable (CHAR16 *Name, EFI_GUID *Guid, UINT32 Attributes, UINTN DataSize, VOID *Data);

private:
  struct VALUE {
    UINT32             Attributes;
    std::vector<UINT8> Data;
  };
  std::map<std::pair<std::u16string, std::string>, VALUE> mValues;
  std::vector<VARIABLE_READ>                              mReads;
  BOOLEAN                                                 mNotAvailable = FALSE;
};

#endif
