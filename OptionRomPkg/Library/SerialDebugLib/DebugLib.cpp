/** @file
  DebugLib instance that writes debug messages and assertions as text to the
  serial port.

  A message is formatted into a 256-byte stack buffer, so an overlong message
  is cut, never written past the buffer, and no pool is needed (printing works
  at any TPL). It is printed only when its level shares a bit with both the
  build's fixed print level and the print level of DebugPrintErrorLevelLib.
  An assertion prints "ASSERT file(line): expression" and then breaks into
  the debugger or loops forever, as PcdDebugPropertyMask asks. The print
  formatting turns each "\n" of a format string into "\r\n", the line end a
  serial terminal expects.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

extern "C" {
#include <Base.h>
#include <Library/BaseLib.h>
#include <Library/BaseMemoryLib.h>
#include <Library/DebugLib.h>
#include <Library/DebugPrintErrorLevelLib.h>
#include <Library/PcdLib.h>
#include <Library/PrintLib.h>
#include <Library/SerialPortLib.h>
}

//
// C's NULL. In C++ EDK II defines NULL as __null, but the assertion text
// names the null pointer as the C libraries do ("Format != ((void *) 0)").
//
// clang-format off
#define C_NULL  ((void *) 0)
// clang-format on

namespace {

//
// Size of the buffer one message or assertion text is formatted into,
// terminator included.
//
constexpr UINTN DEBUG_MESSAGE_BUFFER_SIZE = 256;

/**
  TRUE when a message of ErrorLevel is to be printed: its level shares a bit
  with the fixed print level and with the run-time print level.
**/
BOOLEAN
MessageLevelPasses (IN UINTN ErrorLevel)
{
  return (ErrorLevel & PcdGet32 (PcdFixedDebugPrintErrorLevel) & GetDebugPrintErrorLevel ()) != 0;
}

/**
  A null format is the caller's fault: report it and print nothing.
**/
BOOLEAN
FormatIsValid (IN CONST CHAR8 *Format)
{
  ASSERT (Format != C_NULL);
  return Format != nullptr;
}

VOID
WriteText (IN CONST CHAR8 *Text)
{
  SerialPortWrite ((UINT8 *)Text, AsciiStrLen (Text));
}

} // namespace

extern "C" {

/**
  The library's constructor: sets the serial port up (SerialPortLib leaves
  a port already set to the configured rate and line control alone).
**/
RETURN_STATUS
EFIAPI
SerialDebugLibConstructor (VOID)
{
  return SerialPortInitialize ();
}

/**
  Prints a debug message when its level is enabled.
**/
VOID EFIAPI
DebugPrint (IN UINTN ErrorLevel, IN CONST CHAR8 *Format, ...)
{
  VA_LIST Marker;

  VA_START (Marker, Format);
  DebugVPrint (ErrorLevel, Format, Marker);
  VA_END (Marker);
}

/**
  DebugPrint with the arguments given as a VA_LIST.
**/
VOID EFIAPI
DebugVPrint (IN UINTN ErrorLevel, IN CONST CHAR8 *Format, IN VA_LIST VaListMarker)
{
  CHAR8 Buffer[DEBUG_MESSAGE_BUFFER_SIZE];

  if (!FormatIsValid (Format) || !MessageLevelPasses (ErrorLevel)) {
    return;
  }

  AsciiVSPrint (Buffer, sizeof (Buffer), Format, VaListMarker);
  WriteText (Buffer);
}

/**
  DebugPrint with the arguments given as a packed BASE_LIST.
**/
VOID EFIAPI
DebugBPrint (IN UINTN ErrorLevel, IN CONST CHAR8 *Format, IN BASE_LIST BaseListMarker)
{
  CHAR8 Buffer[DEBUG_MESSAGE_BUFFER_SIZE];

  if (!FormatIsValid (Format) || !MessageLevelPasses (ErrorLevel)) {
    return;
  }

  AsciiBSPrint (Buffer, sizeof (Buffer), Format, BaseListMarker);
  WriteText (Buffer);
}

/**
  Prints "ASSERT FileName(LineNumber): Description", then breaks into the
  debugger (property bit 0x10) or else loops forever (bit 0x20); with
  neither bit it returns to the caller.
**/
VOID EFIAPI
DebugAssert (IN CONST CHAR8 *FileName, IN UINTN LineNumber, IN CONST CHAR8 *Description)
{
  CHAR8 Buffer[DEBUG_MESSAGE_BUFFER_SIZE];

  AsciiSPrint (Buffer, sizeof (Buffer), "ASSERT %a(%d): %a\n", FileName, LineNumber, Description);
  WriteText (Buffer);

  if ((PcdGet8 (PcdDebugPropertyMask) & DEBUG_PROPERTY_ASSERT_BREAKPOINT_ENABLED) != 0) {
    CpuBreakpoint ();
  } else if ((PcdGet8 (PcdDebugPropertyMask) & DEBUG_PROPERTY_ASSERT_DEADLOOP_ENABLED) != 0) {
    CpuDeadLoop ();
  }
}

/**
  Fills Length bytes of Buffer with PcdDebugClearMemoryValue.
**/
VOID *EFIAPI
DebugClearMemory (OUT VOID *Buffer, IN UINTN Length)
{
  ASSERT (Buffer != C_NULL);
  if (Buffer == nullptr) {
    return nullptr;
  }

  return SetMem (Buffer, Length, PcdGet8 (PcdDebugClearMemoryValue));
}

BOOLEAN
EFIAPI
DebugAssertEnabled (VOID)
{
  return (PcdGet8 (PcdDebugPropertyMask) & DEBUG_PROPERTY_DEBUG_ASSERT_ENABLED) != 0;
}

BOOLEAN
EFIAPI
DebugPrintEnabled (VOID)
{
  return (PcdGet8 (PcdDebugPropertyMask) & DEBUG_PROPERTY_DEBUG_PRINT_ENABLED) != 0;
}

BOOLEAN
EFIAPI
DebugCodeEnabled (VOID)
{
  return (PcdGet8 (PcdDebugPropertyMask) & DEBUG_PROPERTY_DEBUG_CODE_ENABLED) != 0;
}

BOOLEAN
EFIAPI
DebugClearMemoryEnabled (VOID)
{
  return (PcdGet8 (PcdDebugPropertyMask) & DEBUG_PROPERTY_CLEAR_MEMORY_ENABLED) != 0;
}

/**
  TRUE when ErrorLevel shares a bit with the build's fixed print level. The
  run-time level is applied when the message is printed.
**/
BOOLEAN
EFIAPI
DebugPrintLevelEnabled (IN CONST UINTN ErrorLevel)
{
  return (ErrorLevel & PcdGet32 (PcdFixedDebugPrintErrorLevel)) != 0;
}

} // extern "C"
