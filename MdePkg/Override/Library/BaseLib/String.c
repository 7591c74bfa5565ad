/** @file
  ASCII string length with the module's own maximum-length check.

  Past PcdMaximumAsciiStringLength characters each further character raises
  one assertion, and counting goes on: the true length is returned, so a
  caller that copies the string copies all of it. The check first fires when
  the count so far exceeds the maximum, so a string of the maximum plus one
  character still passes silently. A maximum of 0 switches the check off.

  Linked in place of BaseLib's AsciiStrLen and AsciiStrSize; the rest of
  BaseLib stays EDK II's.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include <Base.h>
#include <Library/BaseLib.h>
#include <Library/DebugLib.h>
#include <Library/PcdLib.h>

/**
  The number of characters before String's terminator.

  A null String raises an assertion and counts as empty.
**/
UINTN
EFIAPI
AsciiStrLen (
  IN CONST CHAR8  *String
  )
{
  CONST UINTN  MaximumLength = PcdGet32 (PcdMaximumAsciiStringLength);
  UINTN        Length;

  ASSERT (String != NULL);
  if (String == NULL) {
    return 0;
  }

  for (Length = 0; String[Length] != '\0'; Length++) {
    if ((MaximumLength != 0) && (Length > MaximumLength)) {
      ASSERT (FALSE);
    }
  }

  return Length;
}

/**
  The size of String in bytes, terminator included.
**/
UINTN
EFIAPI
AsciiStrSize (
  IN CONST CHAR8  *String
  )
{
  return AsciiStrLen (String) + 1;
}
