/** @file
  TavrixGopDxe: the driver's and the controller's names.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef UEFI_COMPONENT_NAME_H_
#define UEFI_COMPONENT_NAME_H_

#include "UefiTvx.h"

/**
  A UCS-2 string held as CHAR16 data. C++ spells UCS-2 literals u"...", whose
  char16_t elements do not convert to EDK II's CHAR16; this copies them at
  compile time, so the strings stay constant data in the image.
**/
template <UINTN Length> struct UCS2_STRING {
  CHAR16 Text[Length];
};

template <UINTN Length>
constexpr UCS2_STRING<Length>
Ucs2String (const char16_t (&Literal)[Length])
{
  UCS2_STRING<Length> Result = {};

  for (UINTN Index = 0; Index < Length; Index++) {
    Result.Text[Index] = static_cast<CHAR16> (Literal[Index]);
  }

  return Result;
}

extern "C" {
extern EFI_COMPONENT_NAME_PROTOCOL gDisplayComponentName;

PROTOCOL_SERVICE<EFI_COMPONENT_NAME_GET_DRIVER_NAME>     DisplayGetDriverName;
PROTOCOL_SERVICE<EFI_COMPONENT_NAME_GET_CONTROLLER_NAME> DisplayGetControllerName;
}

#endif
