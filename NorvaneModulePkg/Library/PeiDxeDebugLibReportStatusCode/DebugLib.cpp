/** @file
  DebugLib instance that reports through status codes.

  The module has no console of its own: an assertion becomes an error status
  code whose extended data holds the line number, the module tag, the file
  name and the failed expression; a debug message becomes a debug status code
  whose extended data holds only the error level and pointers to the caller's
  format string and arguments, so that a status-code listener formats it.
  Both paths use stack storage only and never allocate, so they work at any
  TPL, including in event notification functions.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

extern "C" {
#include <PiDxe.h>
#include <Guid/StatusCodeDataTypeId.h>
#include <Guid/DebugPrintMarkerData.h>
#include <Library/BaseLib.h>
#include <Library/BaseMemoryLib.h>
#include <Library/DebugLib.h>
#include <Library/DebugPrintErrorLevelLib.h>
#include <Library/PcdLib.h>
#include <Library/ReportStatusCodeLib.h>
}

//
// C's NULL. In C++ EDK II defines NULL as __null, but assertion texts name
// the null pointer as the C libraries do ("Format != ((void *) 0)").
//
// clang-format off
#define C_NULL  ((void *) 0)
// clang-format on

namespace {

//
// An assertion record: the PI assertion header, then the text. The whole
// record is at most 200 bytes, so it is framed on the report-status-code
// library's stack buffer and never needs pool.
//
constexpr UINTN ASSERT_RECORD_SIZE = 200;

struct DEBUG_ASSERT_RECORD {
  EFI_DEBUG_ASSERT_DATA Header;
  CHAR8                 Text[ASSERT_RECORD_SIZE - sizeof (EFI_DEBUG_ASSERT_DATA)];
};

static_assert (sizeof (EFI_DEBUG_ASSERT_DATA) == 40, "the assertion header is 40 bytes");
static_assert (OFFSET_OF (EFI_DEBUG_ASSERT_DATA, LineNumber) == 20, "LineNumber at offset 20");
static_assert (OFFSET_OF (EFI_DEBUG_ASSERT_DATA, FileNameSize) == 24, "FileNameSize at offset 24");
static_assert (OFFSET_OF (EFI_DEBUG_ASSERT_DATA, FileName) == 32, "FileName at offset 32");
static_assert (OFFSET_OF (DEBUG_ASSERT_RECORD, Text) == 40, "the text follows the header");
static_assert (sizeof (DEBUG_ASSERT_RECORD) == ASSERT_RECORD_SIZE, "the record is 200 bytes");

constexpr UINTN ASSERT_TEXT_ROOM = sizeof (DEBUG_ASSERT_RECORD::Text);

//
// Error level of the line printed before an assertion's endless loop.
//
constexpr UINTN ASSERT_DEAD_LOOP_PRINT_LEVEL = 0x00800000;

//
// Sizes of the three pieces of an assertion's text, each counting its
// terminator except the tag, which has none.
//
struct ASSERT_TEXT_LAYOUT {
  UINTN TagSize;
  UINTN FileNameSize;
  UINTN DescriptionSize;
};

/**
  Fits the tag, the file name and the description into the record's text.

  Everything goes in when it fits. Otherwise the tag is dropped first; if file
  name and description still do not fit, the description is cut to what the
  file name leaves; a file name that leaves no room for one more byte is cut
  itself and the description emptied.
**/
ASSERT_TEXT_LAYOUT
FitAssertText (IN UINTN TagSize, IN UINTN FileNameSize, IN UINTN DescriptionSize)
{
  if ((FileNameSize <= ASSERT_TEXT_ROOM) && (DescriptionSize <= ASSERT_TEXT_ROOM)) {
    if (TagSize + FileNameSize + DescriptionSize <= ASSERT_TEXT_ROOM) {
      return { TagSize, FileNameSize, DescriptionSize };
    }

    if (FileNameSize + DescriptionSize <= ASSERT_TEXT_ROOM) {
      return { 0, FileNameSize, DescriptionSize };
    }
  }

  if (FileNameSize < ASSERT_TEXT_ROOM) {
    return { 0, FileNameSize, ASSERT_TEXT_ROOM - FileNameSize };
  }

  return { 0, ASSERT_TEXT_ROOM - 1, 1 };
}

/**
  Copies Size bytes of String to Destination and terminates the copy in its
  last byte, so that a cut string keeps Size - 1 characters.
**/
VOID
CopyTerminated (OUT CHAR8 *Destination, IN CONST CHAR8 *String, IN UINTN Size)
{
  CopyMem (Destination, String, Size);
  Destination[Size - 1] = '\0';
}

/**
  Reports a debug message record when the message's level passes the
  module's run-time level. Exactly one of VaListMarker and BaseListMarker
  describes the arguments.
**/
VOID
ReportDebugMessage (IN UINTN ErrorLevel, IN CONST CHAR8 *Format, IN VOID *VaListMarker, IN BASE_LIST BaseListMarker)
{
  DEBUG_PRINT_MARKER_DATA Record;

  ASSERT (Format != C_NULL);
  //
  // A record without a format would send every listener to address 0.
  //
  if (Format == NULL) {
    return;
  }

  if ((ErrorLevel & GetDebugPrintErrorLevel ()) == 0) {
    return;
  }

  Record.ErrorLevel     = (UINT32)ErrorLevel;
  Record.Reserved       = 0;
  Record.Format         = Format;
  Record.VaListMarker   = VaListMarker;
  Record.BaseListMarker = BaseListMarker;

  REPORT_STATUS_CODE_EX (
    EFI_DEBUG_CODE, (EFI_SOFTWARE_DXE_BS_DRIVER | EFI_DC_UNSPECIFIED), 0, NULL, &gDebugPrintMarkerDataGuid, &Record,
    sizeof (Record)
  );
}

} // namespace

/**
  Reports a debug message when ErrorLevel shares a bit with the module's
  run-time error level. The message is not formatted here: the record carries
  the format and a pointer to the arguments, valid while the report runs.
**/
extern "C" VOID EFIAPI
DebugPrint (IN UINTN ErrorLevel, IN CONST CHAR8 *Format, ...)
{
  VA_LIST Marker;

  VA_START (Marker, Format);
  ReportDebugMessage (ErrorLevel, Format, (VOID *)Marker, NULL);
  VA_END (Marker);
}

/**
  DebugPrint with the arguments given as a VA_LIST.
**/
extern "C" VOID EFIAPI
DebugVPrint (IN UINTN ErrorLevel, IN CONST CHAR8 *Format, IN VA_LIST VaListMarker)
{
  ReportDebugMessage (ErrorLevel, Format, (VOID *)VaListMarker, NULL);
}

/**
  DebugPrint with the arguments given as a packed BASE_LIST.
**/
extern "C" VOID EFIAPI
DebugBPrint (IN UINTN ErrorLevel, IN CONST CHAR8 *Format, IN BASE_LIST BaseListMarker)
{
  ReportDebugMessage (ErrorLevel, Format, NULL, BaseListMarker);
}

/**
  Reports an assertion as an error status code, then breaks into the
  debugger, stops in an endless loop or returns, as PcdDebugPropertyMask says.

  The record holds "[<module>] ", the file name and the description, each
  string terminated; when they do not fit in the 200-byte record the tag is
  dropped and then the strings are cut (see FitAssertText).
**/
extern "C" VOID EFIAPI
DebugAssert (IN CONST CHAR8 *FileName, IN UINTN LineNumber, IN CONST CHAR8 *Description)
{
  DEBUG_ASSERT_RECORD Record;
  ASSERT_TEXT_LAYOUT  Layout;
  CHAR8              *Text;

  //
  // Measuring a null string would assert again and then read address 0.
  //
  if (FileName == NULL) {
    FileName = "(NULL) Filename";
  }

  if (Description == NULL) {
    Description = "(NULL) Description";
  }

  Layout = FitAssertText (AsciiStrSize (gEfiCallerBaseName) + 2, AsciiStrSize (FileName), AsciiStrSize (Description));

  ZeroMem (&Record.Header, sizeof (Record.Header));
  Record.Header.LineNumber = (UINT32)LineNumber;

  Text = Record.Text;
  if (Layout.TagSize != 0) {
    Text[0] = '[';
    CopyMem (&Text[1], gEfiCallerBaseName, Layout.TagSize - 3);
    Text[Layout.TagSize - 2] = ']';
    Text[Layout.TagSize - 1] = ' ';
    Text += Layout.TagSize;
  }

  CopyTerminated (Text, FileName, Layout.FileNameSize);
  Text += Layout.FileNameSize;
  CopyTerminated (Text, Description, Layout.DescriptionSize);

  REPORT_STATUS_CODE_EX (
    (EFI_ERROR_CODE | EFI_ERROR_UNRECOVERED), (EFI_SOFTWARE_DXE_BS_DRIVER | EFI_SW_EC_ILLEGAL_SOFTWARE_STATE), 0, NULL,
    NULL, &Record, sizeof (Record.Header) + Layout.TagSize + Layout.FileNameSize + Layout.DescriptionSize
  );

  if ((PcdGet8 (PcdDebugPropertyMask) & DEBUG_PROPERTY_ASSERT_BREAKPOINT_ENABLED) != 0) {
    CpuBreakpoint ();
  } else if ((PcdGet8 (PcdDebugPropertyMask) & DEBUG_PROPERTY_ASSERT_DEADLOOP_ENABLED) != 0) {
    //
    // Leave a trace of why the module stops, for those who read the log.
    //
    if (DebugPrintEnabled () && DebugPrintLevelEnabled (ASSERT_DEAD_LOOP_PRINT_LEVEL)) {
      DebugPrint (
        ASSERT_DEAD_LOOP_PRINT_LEVEL, "\n Line:(%ld)--Funname:[%a] PcdGet8(PcdDebugPropertyMask) == 0x%x\n",
        (UINT64)__LINE__, "DebugAssert", PcdGet8 (PcdDebugPropertyMask)
      );
    }

    CpuDeadLoop ();
  }
}

/**
  Fills Length bytes of Buffer with PcdDebugClearMemoryValue.
**/
extern "C" VOID *EFIAPI
DebugClearMemory (OUT VOID *Buffer, IN UINTN Length)
{
  ASSERT (Buffer != NULL);
  if (Buffer == NULL) {
    return NULL;
  }

  return SetMem (Buffer, Length, PcdGet8 (PcdDebugClearMemoryValue));
}

extern "C" BOOLEAN EFIAPI
DebugAssertEnabled (VOID)
{
  return (BOOLEAN)((PcdGet8 (PcdDebugPropertyMask) & DEBUG_PROPERTY_DEBUG_ASSERT_ENABLED) != 0);
}

extern "C" BOOLEAN EFIAPI
DebugPrintEnabled (VOID)
{
  return (BOOLEAN)((PcdGet8 (PcdDebugPropertyMask) & DEBUG_PROPERTY_DEBUG_PRINT_ENABLED) != 0);
}

extern "C" BOOLEAN EFIAPI
DebugCodeEnabled (VOID)
{
  return (BOOLEAN)((PcdGet8 (PcdDebugPropertyMask) & DEBUG_PROPERTY_DEBUG_CODE_ENABLED) != 0);
}

extern "C" BOOLEAN EFIAPI
DebugClearMemoryEnabled (VOID)
{
  return (BOOLEAN)((PcdGet8 (PcdDebugPropertyMask) & DEBUG_PROPERTY_CLEAR_MEMORY_ENABLED) != 0);
}

/**
  TRUE when ErrorLevel shares a bit with the module's build-time print mask.
**/
extern "C" BOOLEAN EFIAPI
DebugPrintLevelEnabled (IN CONST UINTN ErrorLevel)
{
  return (BOOLEAN)((ErrorLevel & PcdGet32 (PcdFixedDebugPrintErrorLevel)) != 0);
}
