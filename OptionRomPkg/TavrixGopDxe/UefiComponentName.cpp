/** @file
  TavrixGopDxe: driver and controller names in English ("eng", ISO 639-2).
  Only controllers that this driver has started are named; child handles
  get no name.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "UefiComponentName.h"

namespace {

//
// Two blanks between "TVX" and the next word are part of the names.
//
UCS2_STRING<23> mDriverName     = Ucs2String (u"Tavrix TVX  GOP Driver");
UCS2_STRING<24> mControllerName = Ucs2String (u"Tavrix TVX  PCI Adapter");

CHAR8 mEnglish[] = "eng";

EFI_UNICODE_STRING_TABLE mDisplayDriverNameTable[] = { { mEnglish, mDriverName.Text }, { nullptr, nullptr } };

EFI_UNICODE_STRING_TABLE mDisplayControllerNameTable[] = { { mEnglish, mControllerName.Text }, { nullptr, nullptr } };

EFI_STATUS
LookUpName (EFI_COMPONENT_NAME_PROTOCOL *This, CHAR8 *Language, EFI_UNICODE_STRING_TABLE *Table, CHAR16 **Name)
{
  return LookupUnicodeString2 (
    Language, This->SupportedLanguages, Table, Name, (BOOLEAN)(This == &gDisplayComponentName)
  );
}

} // namespace

extern "C" {

EFI_COMPONENT_NAME_PROTOCOL gDisplayComponentName = { DisplayGetDriverName, DisplayGetControllerName, mEnglish };

EFI_STATUS
EFIAPI
DisplayGetDriverName (IN EFI_COMPONENT_NAME_PROTOCOL *This, IN CHAR8 *Language, OUT CHAR16 **DriverName)
{
  if (Language == nullptr) {
    return EFI_INVALID_PARAMETER;
  }

  return LookUpName (This, Language, mDisplayDriverNameTable, DriverName);
}

EFI_STATUS
EFIAPI
DisplayGetControllerName (
  IN EFI_COMPONENT_NAME_PROTOCOL *This,
  IN EFI_HANDLE                   ControllerHandle,
  IN EFI_HANDLE                   ChildHandle OPTIONAL,
  IN CHAR8                       *Language,
  OUT CHAR16                    **ControllerName
)
{
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop;
  EFI_STATUS                    Status;
  VOID                         *PciIo;

  if (ChildHandle != nullptr) {
    return EFI_UNSUPPORTED;
  }

  //
  // The controller is ours exactly when our BY_DRIVER open is refused as
  // already started. An open that succeeds is closed again at once.
  //
  Status = gBS->OpenProtocol (
    ControllerHandle, &gEfiPciIoProtocolGuid, &PciIo, gDisplayDriverBinding.DriverBindingHandle, ControllerHandle,
    EFI_OPEN_PROTOCOL_BY_DRIVER
  );
  if (!EFI_ERROR (Status)) {
    gBS->CloseProtocol (
      ControllerHandle, &gEfiPciIoProtocolGuid, gDisplayDriverBinding.DriverBindingHandle, ControllerHandle
    );
    return EFI_UNSUPPORTED;
  }

  if (Status != EFI_ALREADY_STARTED) {
    return EFI_UNSUPPORTED;
  }

  Status = gBS->OpenProtocol (
    ControllerHandle, &gEfiGraphicsOutputProtocolGuid, reinterpret_cast<VOID **> (&Gop),
    gDisplayDriverBinding.DriverBindingHandle, ControllerHandle, EFI_OPEN_PROTOCOL_GET_PROTOCOL
  );
  if (EFI_ERROR (Status)) {
    return Status;
  }

  DISPLAY_CONTEXT_FROM_GOP (Gop, SignatureCheckControllerName);

  if (Language == nullptr) {
    return EFI_INVALID_PARAMETER;
  }

  return LookUpName (This, Language, mDisplayControllerNameTable, ControllerName);
}

} // extern "C"
