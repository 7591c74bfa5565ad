/** @file
  TavrixGopDxe: entry point, driver binding and per-controller device context.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef UEFI_TVX_H_
#define UEFI_TVX_H_

extern "C" {
#include <Uefi.h>
#include <IndustryStandard/Pci.h>
#include <Protocol/DriverBinding.h>
#include <Protocol/PciIo.h>
#include <Library/DebugLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiLib.h>
}

/// PCI identity of the display controller this driver serves.
constexpr UINT16  TAVRIX_VENDOR_ID = 0x19E5;
constexpr UINT16  TAVRIX_DEVICE_ID = 0x1711;

extern "C" {
extern EFI_DRIVER_BINDING_PROTOCOL  gDisplayDriverBinding;

EFI_STATUS
EFIAPI
TavrixGopDxeEntryPoint (
  IN EFI_HANDLE        ImageHandle,
  IN EFI_SYSTEM_TABLE  *SystemTable
  );
}

#endif
