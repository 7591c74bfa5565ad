/** @file
  Host platform model: the PCD protocols.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef HOST_MODEL_PCD_H_
#define HOST_MODEL_PCD_H_

#include "ModelCommon.h"

struct PCD_READ {
  EFI_GUID TokenSpace; ///< zero GUID for the non-Ex getters
  UINTN    Token;
  UINT8    Size;
};

/// PCD_PROTOCOL and EFI_PCD_PROTOCOL over values a test sets. Reading a
/// token that was never set fails the test and answers 0.
class PCD_MODEL {
public:
  void
  SetEx8 (const EFI_GUID &TokenSpace, UINTN Token, UINT8 Value)
  {
    Set (TokenSpace, Token, Value, 1);
  }

  void
  SetEx32 (const EFI_GUID &TokenSpace, UINTN Token, UINT32 Value)
  {
    Set (TokenSpace, Token, Value, 4);
  }

  void
  SetExBool (const EFI_GUID &TokenSpace, UINTN Token, BOOLEAN Value)
  {
    Set (TokenSpace, Token, Value, 1);
  }

  const std::vector<PCD_READ> &
  Reads () const
  {
    return mReads;
  }

  UINT64
  Get (const EFI_GUID *TokenSpace, UINTN Token, UINT8 Size);

private:
  void Set (const EFI_GUID &TokenSpace, UINTN Token, UINT64 Value, UINT8 Size);

  std::map<std::pair<std::string, UINTN>, UINT64> mValues;
  std::vector<PCD_READ>                           mReads;
};

#endif
