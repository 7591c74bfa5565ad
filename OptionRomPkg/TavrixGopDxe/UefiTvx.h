/** @file
  TavrixGopDxe: the per-controller device context, the driver binding and
  the helpers every part of the driver shares.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef UEFI_TVX_H_
#define UEFI_TVX_H_

extern "C" {
#include <Uefi.h>
#include <IndustryStandard/Pci.h>
#include <Protocol/ComponentName.h>
#include <Protocol/DevicePath.h>
#include <Protocol/DriverBinding.h>
#include <Protocol/GraphicsOutput.h>
#include <Protocol/PciIo.h>
#include <Library/BaseLib.h>
#include <Library/BaseMemoryLib.h>
#include <Library/DebugLib.h>
#include <Library/DevicePathLib.h>
#include <Library/MemoryAllocationLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiLib.h>
}

// The controller this driver serves: identity, registers, ports and modes.
#include <IndustryStandard/TavrixDisplayController.h>

/// The function type a protocol's service pointer type points to. The
/// driver's protocol services are declared with it from the protocol's own
/// typedefs: their parameters stand once, in the definition, and a
/// definition that strays from the protocol's signature does not compile.
template <typename POINTER> struct PROTOCOL_SERVICE_OF;
template <typename SERVICE> struct PROTOCOL_SERVICE_OF<SERVICE *> {
  using TYPE = SERVICE;
};
template <typename POINTER> using PROTOCOL_SERVICE = typename PROTOCOL_SERVICE_OF<POINTER>::TYPE;

/// "TVXG", first character in the lowest byte, upper four bytes zero.
constexpr UINT64 DISPLAY_DEVICE_CONTEXT_SIGNATURE = SIGNATURE_32 ('T', 'V', 'X', 'G');

/// Number of display modes the driver offers (the GOP MaxMode).
constexpr UINT32 DISPLAY_MODE_COUNT = 4;

/// One display mode as the GOP reports it.
typedef struct {
  UINT32 HorizontalResolution;
  UINT32 VerticalResolution;
  UINT32 ColorDepth;
  UINT32 RefreshRate;
} DISPLAY_MODE_DATA;

/// Private record of one started controller; reached from the embedded GOP.
typedef struct {
  UINT64                       Signature;
  EFI_HANDLE                   OutputHandle;
  EFI_PCI_IO_PROTOCOL         *PciIo;
  UINT64                       SavedPciAttributes;
  EFI_GRAPHICS_OUTPUT_PROTOCOL GraphicsOutput;
  EFI_DEVICE_PATH_PROTOCOL    *OutputDevicePath;
  BOOLEAN                      ModeNotSet;
  DISPLAY_MODE_DATA            ModeList[DISPLAY_MODE_COUNT];
  VOID                        *LineBuffer;
  UINT8                        ModeSetCount;
} DISPLAY_DEVICE_CONTEXT;

/**
  Finds the device context that embeds Gop and checks its signature. A wrong
  signature means the pointer was never ours: that is a fatal assertion
  "CR has Bad Signature", reported with the caller's file and the line number
  given, as the driver's documentation names them.
**/
inline DISPLAY_DEVICE_CONTEXT *
DisplayContextFromGraphicsOutput (IN EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop, IN CONST CHAR8 *FileName, IN UINTN LineNumber)
{
  DISPLAY_DEVICE_CONTEXT *Context;

  Context = BASE_CR (Gop, DISPLAY_DEVICE_CONTEXT, GraphicsOutput);
#if !defined(MDEPKG_NDEBUG)
  if (DebugAssertEnabled () && (Context->Signature != DISPLAY_DEVICE_CONTEXT_SIGNATURE)) {
    DebugAssert (FileName, LineNumber, "CR has Bad Signature");
  }

#endif
  return Context;
}

#define DISPLAY_CONTEXT_FROM_GOP(Gop, LineNumber) DisplayContextFromGraphicsOutput ((Gop), __FILE__, (LineNumber))

/// The line numbers that the signature check of each recovery reports with
/// "CR has Bad Signature": fixed numbers that the driver's documentation
/// gives, not the lines the checks happen to stand on.
enum SIGNATURE_CHECK_LINE : UINT32 {
  SignatureCheckQueryMode      = 187, ///< UefiTvxGraphicsOutput, QueryMode
  SignatureCheckSetMode        = 246, ///< UefiTvxGraphicsOutput, SetMode
  SignatureCheckBlt            = 490, ///< UefiTvxGraphicsOutput, Blt
  SignatureCheckControllerName = 213, ///< UefiComponentName, GetControllerName
  SignatureCheckStop           = 546  ///< UefiTvx, Stop
};

/**
  Checks a status that must not fail. A failure prints the status at error
  level as "\nASSERT_EFI_ERROR (Status = %r)\n" and then fails the assertion
  "!EFI_ERROR (Status)" with the caller's file and line, which is fatal with
  the driver's debug settings. The expression is named in words rather than
  as the compiler sees it, so the serial text reads the same on every build.
**/
inline VOID
DisplayAssertEfiError (IN EFI_STATUS Status, IN CONST CHAR8 *FileName, IN UINTN LineNumber)
{
#if !defined(MDEPKG_NDEBUG)
  if (DebugAssertEnabled () && EFI_ERROR (Status)) {
    DEBUG ((DEBUG_ERROR, "\nASSERT_EFI_ERROR (Status = %r)\n", Status));
    DebugAssert (FileName, LineNumber, "!EFI_ERROR (Status)");
  }

#endif
}

#define DISPLAY_ASSERT_EFI_ERROR(Status) DisplayAssertEfiError ((Status), __FILE__, __LINE__)

extern "C" {
extern EFI_DRIVER_BINDING_PROTOCOL gDisplayDriverBinding;

EFI_STATUS
EFIAPI
DisplayDriverEntryPoint (IN EFI_HANDLE ImageHandle, IN EFI_SYSTEM_TABLE *SystemTable);

PROTOCOL_SERVICE<EFI_DRIVER_BINDING_SUPPORTED> DisplayDriverSupported;
PROTOCOL_SERVICE<EFI_DRIVER_BINDING_START>     DisplayDriverStart;
PROTOCOL_SERVICE<EFI_DRIVER_BINDING_STOP>      DisplayDriverStop;
}

#endif
