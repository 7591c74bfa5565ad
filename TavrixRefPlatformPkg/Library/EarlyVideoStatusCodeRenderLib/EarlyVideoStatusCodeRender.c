/** @file
  Renders the early video driver's assertion and debug-message status codes.

  Assertion (error code 0x90000002, value 0x03050007, default data type):
  behind a 40-byte EFI_DEBUG_ASSERT_DATA whose LineNumber sits at offset 20
  come the file name (with the "[Prelumen] " tag in front of it) and the
  expression, each NUL-terminated, the whole record at most 200 bytes.
  Debug message (debug code, data type gDebugPrintMarkerDataGuid): a
  DEBUG_PRINT_MARKER_DATA with the format string and either the caller's x64
  argument slots (VaListMarker) or a packed list (BaseListMarker).

  Only what lies inside the record is read of the assertion text; a string
  without its terminator is cut at the record's end. The extended data
  follows a 20-byte header, so it is only 4-byte aligned: fields are copied
  out before use.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include <PiPei.h>

#include <Guid/DebugPrintMarkerData.h>
#include <Guid/StatusCodeDataTypeId.h>
#include <Library/BaseLib.h>
#include <Library/BaseMemoryLib.h>
#include <Library/EarlyVideoStatusCodeRenderLib.h>
#include <Library/PrintLib.h>

#define ASSERT_HEADER_SIZE       40
#define ASSERT_LINE_OFFSET       20
#define ASSERT_RECORD_MAX_SIZE   200
#define ASSERT_STATUS_CODE_TYPE  (EFI_ERROR_CODE | EFI_ERROR_UNRECOVERED)
#define ASSERT_STATUS_CODE       (EFI_SOFTWARE_DXE_BS_DRIVER | EFI_SW_EC_ILLEGAL_SOFTWARE_STATE)

/**
  Copies the string at Text, which must end before Limit, into Out (at most
  OutSize - 1 characters). Returns the number of bytes the string takes in
  the record including its terminator, or the bytes up to Limit when it has
  none.
**/
STATIC
UINTN
CopyRecordString (
  IN  CONST CHAR8  *Text,
  IN  CONST CHAR8  *Limit,
  OUT CHAR8        *Out,
  IN  UINTN        OutSize
  )
{
  UINTN  Length;

  Length = 0;
  while (Text + Length < Limit && Text[Length] != '\0') {
    Length++;
  }

  CopyMem (Out, Text, MIN (Length, OutSize - 1));
  Out[MIN (Length, OutSize - 1)] = '\0';
  return (Text + Length < Limit) ? Length + 1 : Length;
}

STATIC
UINTN
RenderAssertion (
  IN  CONST UINT8  *Extended,
  IN  UINTN        Size,
  OUT CHAR8        *Buffer,
  IN  UINTN        BufferSize
  )
{
  CHAR8        File[ASSERT_RECORD_MAX_SIZE];
  CHAR8        Expression[ASSERT_RECORD_MAX_SIZE];
  CONST CHAR8  *Text;
  CONST CHAR8  *Limit;
  UINTN        FileSize;
  UINT32       Line;

  if (Size < ASSERT_HEADER_SIZE) {
    return 0;
  }

  Line          = ReadUnaligned32 ((CONST UINT32 *)(Extended + ASSERT_LINE_OFFSET));
  Text          = (CONST CHAR8 *)Extended + ASSERT_HEADER_SIZE;
  Limit         = (CONST CHAR8 *)Extended + MIN (Size, ASSERT_RECORD_MAX_SIZE);
  FileSize      = CopyRecordString (Text, Limit, File, sizeof (File));
  Expression[0] = '\0';
  if (Text + FileSize < Limit) {
    CopyRecordString (Text + FileSize, Limit, Expression, sizeof (Expression));
  }

  return AsciiSPrint (Buffer, BufferSize, "ASSERT %a(%u): %a\n", File, Line, Expression);
}

STATIC
UINTN
RenderDebugMessage (
  IN  CONST UINT8  *Extended,
  IN  UINTN        Size,
  OUT CHAR8        *Buffer,
  IN  UINTN        BufferSize
  )
{
  DEBUG_PRINT_MARKER_DATA  Marker;

  if (Size < sizeof (Marker)) {
    return 0;
  }

  CopyMem (&Marker, Extended, sizeof (Marker));
  if (Marker.Format == NULL) {
    return 0;
  }

  if (Marker.BaseListMarker != NULL) {
    return AsciiBSPrint (Buffer, BufferSize, Marker.Format, Marker.BaseListMarker);
  }

  if (Marker.VaListMarker == NULL) {
    return 0;
  }

  return AsciiVSPrint (Buffer, BufferSize, Marker.Format, (VA_LIST)Marker.VaListMarker);
}

UINTN
EFIAPI
RenderEarlyVideoStatusCode (
  IN  EFI_STATUS_CODE_TYPE        CodeType,
  IN  EFI_STATUS_CODE_VALUE       Value,
  IN  CONST EFI_STATUS_CODE_DATA  *Data OPTIONAL,
  OUT CHAR8                       *Buffer,
  IN  UINTN                       BufferSize
  )
{
  CONST UINT8  *Extended;
  EFI_GUID     Type;

  if ((Buffer == NULL) || (BufferSize == 0)) {
    return 0;
  }

  Buffer[0] = '\0';
  if ((Data == NULL) || (Data->HeaderSize < sizeof (EFI_STATUS_CODE_DATA))) {
    return 0;
  }

  Extended = (CONST UINT8 *)Data + Data->HeaderSize;
  CopyGuid (&Type, &Data->Type);

  if (((CodeType & EFI_STATUS_CODE_TYPE_MASK) == EFI_DEBUG_CODE) && CompareGuid (&Type, &gDebugPrintMarkerDataGuid)) {
    return RenderDebugMessage (Extended, Data->Size, Buffer, BufferSize);
  }

  if ((CodeType == ASSERT_STATUS_CODE_TYPE) && (Value == ASSERT_STATUS_CODE) &&
      CompareGuid (&Type, &gEfiStatusCodeSpecificDataGuid))
  {
    return RenderAssertion (Extended, Data->Size, Buffer, BufferSize);
  }

  return 0;
}
