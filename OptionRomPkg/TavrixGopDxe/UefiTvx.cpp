/** @file
  TavrixGopDxe: entry point and driver binding.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "UefiTvx.h"

namespace {

EFI_STATUS
EFIAPI
DisplaySupported (
  IN EFI_DRIVER_BINDING_PROTOCOL  *This,
  IN EFI_HANDLE                   Controller,
  IN EFI_DEVICE_PATH_PROTOCOL     *RemainingDevicePath
  )
{
  return EFI_UNSUPPORTED;
}

EFI_STATUS
EFIAPI
DisplayStart (
  IN EFI_DRIVER_BINDING_PROTOCOL  *This,
  IN EFI_HANDLE                   Controller,
  IN EFI_DEVICE_PATH_PROTOCOL     *RemainingDevicePath
  )
{
  return EFI_UNSUPPORTED;
}

EFI_STATUS
EFIAPI
DisplayStop (
  IN EFI_DRIVER_BINDING_PROTOCOL  *This,
  IN EFI_HANDLE                   Controller,
  IN UINTN                        NumberOfChildren,
  IN EFI_HANDLE                   *ChildHandleBuffer
  )
{
  return EFI_UNSUPPORTED;
}

} // namespace

extern "C" {

EFI_DRIVER_BINDING_PROTOCOL  gDisplayDriverBinding = {
  DisplaySupported,
  DisplayStart,
  DisplayStop,
  0x10,
  nullptr,
  nullptr
};

EFI_STATUS
EFIAPI
TavrixGopDxeEntryPoint (
  IN EFI_HANDLE        ImageHandle,
  IN EFI_SYSTEM_TABLE  *SystemTable
  )
{
  gDisplayDriverBinding.ImageHandle         = ImageHandle;
  gDisplayDriverBinding.DriverBindingHandle = ImageHandle;
  return gBS->InstallMultipleProtocolInterfaces (
                &gDisplayDriverBinding.DriverBindingHandle,
                &gEfiDriverBindingProtocolGuid,
                &gDisplayDriverBinding,
                nullptr
                );
}

} // extern "C"
