/** @file
  Turns the status codes of the early video driver's debug library into
  text: an assertion record becomes "ASSERT <tag and file>(<line>):
  <expression>", a debug-message record the message formatted from its
  format string and the caller's x64 argument list.

  A debug-message record points into the reporting caller's frame: render it
  inside the listener call that received it.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef EARLY_VIDEO_STATUS_CODE_RENDER_LIB_H_
#define EARLY_VIDEO_STATUS_CODE_RENDER_LIB_H_

#include <Pi/PiStatusCode.h>

/**
  Renders one status code as a NUL-terminated line into Buffer.

  @param[in]  CodeType    The status code's type.
  @param[in]  Value       The status code's value.
  @param[in]  Data        The status code's framed extended data, or NULL.
  @param[out] Buffer      Receives the line (ending in "\r\n").
  @param[in]  BufferSize  Size of Buffer in bytes, at least 1.

  @return  The number of characters in Buffer, without the terminator; 0
           when the status code is neither an assertion record nor a
           debug-message record of that library, or is malformed.
**/
UINTN
EFIAPI
RenderEarlyVideoStatusCode (
  IN EFI_STATUS_CODE_TYPE             CodeType,
  IN EFI_STATUS_CODE_VALUE            Value,
  IN CONST EFI_STATUS_CODE_DATA *Data OPTIONAL,
  OUT CHAR8                          *Buffer,
  IN UINTN                            BufferSize
);

#endif
