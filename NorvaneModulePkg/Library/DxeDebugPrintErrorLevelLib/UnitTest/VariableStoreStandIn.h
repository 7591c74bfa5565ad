/** @file
  A stand-in for the runtime variable store: enough for the debug error-level
  policy to read "EFIDebug" and "DebugMessageConfig", to find them not there
  yet, and for its tests to see each read. Only the policy's tests need
  variables, so the store lives beside them; the host platform model itself
  answers every read with EFI_NOT_FOUND and every write with
  EFI_WRITE_PROTECTED.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef VARIABLE_STORE_STAND_IN_H_
#define VARIABLE_STORE_STAND_IN_H_

#include <HostModel.h>

extern "C" {
#include <Library/BaseMemoryLib.h>
}

/// One GetVariable call as the caller made it.
struct VARIABLE_READ {
  std::u16string Name;
  UINTN          BufferSize; ///< *DataSize on entry
  EFI_TPL        Tpl;
};

/// Values keyed by name and vendor GUID behind the model's GetVariable. One
/// exists at a time: the service, which gets no context, reaches it through
/// mCurrent.
class VARIABLE_STORE_STAND_IN {
public:
  VARIABLE_STORE_STAND_IN ()
  {
    mCurrent = this;
  }

  ~VARIABLE_STORE_STAND_IN ()
  {
    mCurrent = nullptr;
  }

  /// Puts the store behind the model's GetVariable.
  void
  Install (HOST_MODEL &Model)
  {
    mModel                                = &Model;
    Model.RuntimeServices ()->GetVariable = GetVariable;
  }

  void
  Set (const char16_t *Name, const EFI_GUID &Guid, const VOID *Data, UINTN Size)
  {
    const UINT8 *Bytes = (const UINT8 *)Data;

    mValues[{ Name, Key (Guid) }] = std::vector<UINT8> (Bytes, Bytes + Size);
  }

  /// While set, GetVariable answers EFI_NOT_AVAILABLE_YET.
  BOOLEAN NotAvailableYet = FALSE;

  const std::vector<VARIABLE_READ> &
  Reads () const
  {
    return mReads;
  }

private:
  static std::string
  Key (const EFI_GUID &Guid)
  {
    return std::string ((const char *)&Guid, sizeof (Guid));
  }

  /**
    GetVariable with the UEFI size rules: a buffer too small for the value
    gets EFI_BUFFER_TOO_SMALL and the needed size in *DataSize. Every call
    with its arguments in place is recorded.
  **/
  static EFI_STATUS EFIAPI
  GetVariable (
    IN CHAR16    *Name,
    IN EFI_GUID  *Guid,
    OUT UINT32   *Attributes OPTIONAL,
    IN OUT UINTN *DataSize,
    OUT VOID     *Data OPTIONAL
  )
  {
    VARIABLE_STORE_STAND_IN *Store = mCurrent;

    if (Store == nullptr) {
      ADD_FAILURE () << "GetVariable after the variable store stand-in was destroyed";
      return EFI_NOT_FOUND;
    }

    if ((Name == nullptr) || (Guid == nullptr) || (DataSize == nullptr)) {
      return EFI_INVALID_PARAMETER;
    }

    std::u16string Text;

    for (const CHAR16 *Char = Name; *Char != 0; Char++) {
      Text.push_back ((char16_t)*Char);
    }

    Store->mReads.push_back ({ Text, *DataSize, Store->mModel->CurrentTpl () });
    if (Store->NotAvailableYet) {
      return EFI_NOT_AVAILABLE_YET;
    }

    auto It = Store->mValues.find ({ Text, Key (*Guid) });

    if (It == Store->mValues.end ()) {
      return EFI_NOT_FOUND;
    }

    const std::vector<UINT8> &Value = It->second;

    if (*DataSize < Value.size ()) {
      *DataSize = Value.size ();
      return EFI_BUFFER_TOO_SMALL;
    }

    if (Data == nullptr) {
      return EFI_INVALID_PARAMETER;
    }

    CopyMem (Data, Value.data (), Value.size ());
    *DataSize = Value.size ();
    if (Attributes != nullptr) {
      *Attributes = EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS;
    }

    return EFI_SUCCESS;
  }

  static inline VARIABLE_STORE_STAND_IN *mCurrent = nullptr;

  HOST_MODEL                                                          *mModel = nullptr;
  std::map<std::pair<std::u16string, std::string>, std::vector<UINT8>> mValues;
  std::vector<VARIABLE_READ>                                           mReads;
};

#endif
