/** @file
  Host platform model: the Status Code Runtime protocol and what it received.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef HOST_MODEL_STATUS_CODE_H_
#define HOST_MODEL_STATUS_CODE_H_

#include "ModelCommon.h"

//
// The two records a status-code DebugLib reports: an assertion (an
// unrecovered error, illegal software state) and a debug message (a debug
// code).
//
constexpr EFI_STATUS_CODE_TYPE  STATUS_CODE_ASSERT_TYPE   = 0x90000002;
constexpr EFI_STATUS_CODE_VALUE STATUS_CODE_ASSERT_VALUE  = 0x03050007;
constexpr EFI_STATUS_CODE_TYPE  STATUS_CODE_MESSAGE_TYPE  = 0x00000003;
constexpr EFI_STATUS_CODE_VALUE STATUS_CODE_MESSAGE_VALUE = 0x03050000;

/// One report received by the Status Code Runtime protocol.
struct STATUS_CODE_RECORD {
  UINT64                Sequence;
  EFI_STATUS_CODE_TYPE  Type;
  EFI_STATUS_CODE_VALUE Value;
  UINT32                Instance;
  BOOLEAN               HasCallerId;
  alignas (8) EFI_GUID CallerId; // 8-aligned: CompareGuid reads UINT64s
  BOOLEAN HasData;
  alignas (8) EFI_GUID DataType;
  std::vector<UINT8> Data;    ///< extended data without its 20-byte header
  std::string        Message; ///< debug-message records: the formatted text
  EFI_TPL            Tpl;
};

/// The Status Code Runtime protocol, installed by default. Debug-message
/// records (data type gDebugPrintMarkerDataGuid) are formatted during the
/// call, while their format and argument pointers are still valid.
class STATUS_CODE_LISTENER {
public:
  void Install ();

  void Uninstall ();

  BOOLEAN
  Installed () const
  {
    return mHandle != nullptr;
  }

  const std::vector<STATUS_CODE_RECORD> &
  Records () const
  {
    return mRecords;
  }

  /// The formatted messages of the debug-message records, in order.
  std::vector<std::string> Messages () const;

  /// An assertion record (STATUS_CODE_ASSERT_TYPE) as the debug library
  /// writes it: the file name, with any module tag, at byte 40 of the data,
  /// then the assertion's description.
  struct ASSERTION {
    std::string File;
    std::string Description;
  };

  /// The assertion records, in order.
  std::vector<ASSERTION> Assertions () const;

  void
  Clear ()
  {
    mRecords.clear ();
  }

  void
  Record (STATUS_CODE_RECORD &&Record)
  {
    mRecords.push_back (Record);
  }

private:
  EFI_HANDLE                      mHandle = nullptr;
  std::vector<STATUS_CODE_RECORD> mRecords;
};

#endif
