/** @file
  Extended data of a debug-message status code.

  A module's DebugPrint does not format its message. It reports a status code
  of type EFI_DEBUG_CODE whose extended data (type gDebugPrintMarkerDataGuid)
  carries the error level, the format string and a pointer to the caller's
  variable arguments; a status-code listener formats the message. The pointers
  refer to the caller's string and stack frame, so a listener must finish with
  the record before its ReportStatusCode returns.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef DEBUG_PRINT_MARKER_DATA_H_
#define DEBUG_PRINT_MARKER_DATA_H_

#define DEBUG_PRINT_MARKER_DATA_GUID                                                                                   \
  {                                                                                                                    \
    0x4210019B, 0x9F17, 0x468C,                                                                                        \
    {                                                                                                                  \
      0xBF, 0xE3, 0x53, 0x04, 0x73, 0xEE, 0xE4, 0x3C                                                                   \
    }                                                                                                                  \
  }

typedef struct {
  ///
  /// Low 32 bits of the message's error level.
  ///
  UINT32 ErrorLevel;
  UINT32 Reserved;
  ///
  /// The caller's NUL-terminated ASCII format string.
  ///
  CONST CHAR8 *Format;
  ///
  /// The caller's first variable argument: a VA_LIST (64-bit argument slots
  /// in the caller's frame).
  ///
  VOID *VaListMarker;
  ///
  /// A packed BASE_LIST of the arguments, or NULL when VaListMarker is used.
  ///
  BASE_LIST BaseListMarker;
} DEBUG_PRINT_MARKER_DATA;

STATIC_ASSERT (sizeof (DEBUG_PRINT_MARKER_DATA) == 32, "DEBUG_PRINT_MARKER_DATA is a 32-byte record");
STATIC_ASSERT (OFFSET_OF (DEBUG_PRINT_MARKER_DATA, Format) == 8, "Format at offset 8");
STATIC_ASSERT (OFFSET_OF (DEBUG_PRINT_MARKER_DATA, VaListMarker) == 16, "VaListMarker at offset 16");
STATIC_ASSERT (OFFSET_OF (DEBUG_PRINT_MARKER_DATA, BaseListMarker) == 24, "BaseListMarker at offset 24");

extern EFI_GUID gDebugPrintMarkerDataGuid;

#endif
