/** @file
  TavrixGopDxe: image entry point, driver binding and the device context.

  Start enables the controller, gives it a child handle that carries the
  output's ACPI _ADR device path, builds the Graphics Output service (which
  sets mode 0) and installs it on the controller handle itself. Stop answers
  the firmware's two-phase disconnect: first the child, then the controller.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "UefiTvx.h"
#include "UefiTvxGraphicsOutput.h"
#include "UefiComponentName.h"

extern "C" {
#include <IndustryStandard/Acpi.h>
}

namespace {

/// I/O, memory and bus-master decoding: all the controller needs. The VGA
/// I/O attributes stay off: the PCI bus driver grants the legacy VGA range to
/// one device only, so asking for it would fail the whole start wherever
/// another device holds it, and the mode set's two CRT controller port
/// writes are best effort anyway.
constexpr UINT64 DISPLAY_ENABLE_ATTRIBUTES =
  EFI_PCI_IO_ATTRIBUTE_IO | EFI_PCI_IO_ATTRIBUTE_MEMORY | EFI_PCI_IO_ATTRIBUTE_BUS_MASTER;
static_assert (DISPLAY_ENABLE_ATTRIBUTES == 0x700, "enable attributes");

/// _ADR of the output: device-ID scheme, BIOS can detect, VGA CRT, port 0, index 0.
constexpr UINT32 DISPLAY_OUTPUT_ADR = ACPI_DISPLAY_ADR (1, 0, 0, 1, 0, ACPI_ADR_DISPLAY_TYPE_VGA, 0, 0);
static_assert (DISPLAY_OUTPUT_ADR == 0x80010100, "output _ADR");

/// Numbers that the failure message of Start gives each failing step.
enum START_STEP : UINT32 {
  StartStepAllocateContext  = 276,
  StartStepOpenPciIo        = 298,
  StartStepSupportedAttrs   = 312,
  StartStepGetAttributes    = 335,
  StartStepEnableAttributes = 348,
  StartStepParentPath       = 362,
  StartStepConstructor      = 428,
  StartStepOpenForChild     = 464
};

/// What Start has done so far, so that a failure undoes exactly that.
struct START_PROGRESS {
  bool PciIoOpened;
  bool AttributesChanging;
  bool GraphicsOutputInstalled;
};

/// Error and information bits: the start marker prints in DEBUG builds, not in RELEASE.
constexpr UINTN START_MARKER_LEVEL = DEBUG_ERROR | DEBUG_INFO;

bool
RemainingPathAcceptable (EFI_DEVICE_PATH_PROTOCOL *RemainingDevicePath)
{
  if ((RemainingDevicePath == nullptr) || IsDevicePathEnd (RemainingDevicePath)) {
    return true;
  }

  return (DevicePathType (RemainingDevicePath) == ACPI_DEVICE_PATH) &&
         (DevicePathSubType (RemainingDevicePath) == ACPI_ADR_DP) &&
         (DevicePathNodeLength (RemainingDevicePath) == sizeof (ACPI_ADR_DEVICE_PATH));
}

/// The child's path: parent plus the caller's first node, or plus our own
/// _ADR node when the caller gave none. NULL when the caller asked for no child.
EFI_DEVICE_PATH_PROTOCOL *
BuildOutputDevicePath (EFI_DEVICE_PATH_PROTOCOL *ParentDevicePath, EFI_DEVICE_PATH_PROTOCOL *RemainingDevicePath)
{
  ACPI_ADR_DEVICE_PATH AdrNode;

  if (RemainingDevicePath == nullptr) {
    ZeroMem (&AdrNode, sizeof (AdrNode));
    AdrNode.Header.Type    = ACPI_DEVICE_PATH;
    AdrNode.Header.SubType = ACPI_ADR_DP;
    SetDevicePathNodeLength (&AdrNode.Header, sizeof (AdrNode));
    AdrNode.ADR = DISPLAY_OUTPUT_ADR;
    return AppendDevicePathNode (ParentDevicePath, &AdrNode.Header);
  }

  if (IsDevicePathEnd (RemainingDevicePath)) {
    return nullptr;
  }

  return AppendDevicePathNode (ParentDevicePath, RemainingDevicePath);
}

/// Removes the child handle's device path and forgets the child. The child's
/// BY_CHILD_CONTROLLER open of PCI I/O is closed first and reopened if the
/// path cannot be removed, so a failure leaves everything as it was.
EFI_STATUS
ReleaseOutputChild (DISPLAY_DEVICE_CONTEXT *Context, EFI_HANDLE ControllerHandle)
{
  EFI_STATUS CloseStatus;
  EFI_STATUS Status;
  VOID      *PciIo;

  CloseStatus = gBS->CloseProtocol (
    ControllerHandle, &gEfiPciIoProtocolGuid, gDisplayDriverBinding.DriverBindingHandle, Context->OutputHandle
  );
  Status = gBS->UninstallMultipleProtocolInterfaces (
    Context->OutputHandle, &gEfiDevicePathProtocolGuid, Context->OutputDevicePath, nullptr
  );
  if (EFI_ERROR (Status)) {
    DEBUG ((DEBUG_ERROR, "TavrixGopDxe: cannot remove the output device path: %r\n", Status));
    if (!EFI_ERROR (CloseStatus)) {
      gBS->OpenProtocol (
        ControllerHandle, &gEfiPciIoProtocolGuid, &PciIo, gDisplayDriverBinding.DriverBindingHandle,
        Context->OutputHandle, EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER
      );
    }

    return Status;
  }

  FreePool (Context->OutputDevicePath);
  Context->OutputDevicePath = nullptr;
  Context->OutputHandle     = nullptr;
  return EFI_SUCCESS;
}

/// First phase of a disconnect: releases the children named and keeps the
/// controller started. A handle that is not this driver's child is refused.
EFI_STATUS
StopOutputChildren (
  DISPLAY_DEVICE_CONTEXT *Context,
  EFI_HANDLE              ControllerHandle,
  UINTN                   NumberOfChildren,
  EFI_HANDLE             *ChildHandleBuffer
)
{
  EFI_STATUS Result;
  EFI_STATUS Status;

  if (ChildHandleBuffer == nullptr) {
    return EFI_INVALID_PARAMETER;
  }

  Result = EFI_SUCCESS;
  for (UINTN Index = 0; Index < NumberOfChildren; Index++) {
    if ((ChildHandleBuffer[Index] == nullptr) || (ChildHandleBuffer[Index] != Context->OutputHandle)) {
      Result = EFI_INVALID_PARAMETER;
      continue;
    }

    Status = ReleaseOutputChild (Context, ControllerHandle);
    if (EFI_ERROR (Status)) {
      return Status;
    }
  }

  return Result;
}

/// Undoes a Start that failed at Line with Status, then frees the context.
EFI_STATUS
AbortStart (
  DISPLAY_DEVICE_CONTEXT *Context,
  EFI_HANDLE              ControllerHandle,
  const START_PROGRESS   &Progress,
  UINT32                  Line,
  EFI_STATUS              Status
)
{
  EFI_STATUS UndoStatus;

  DEBUG ((DEBUG_ERROR, "line:%d,Status:%r\n", Line, Status));

  if (Progress.GraphicsOutputInstalled) {
    UndoStatus = gBS->UninstallMultipleProtocolInterfaces (
      ControllerHandle, &gEfiGraphicsOutputProtocolGuid, &Context->GraphicsOutput, nullptr
    );
    if (EFI_ERROR (UndoStatus)) {
      //
      // Someone holds the GOP: freeing the context under it would leave them
      // a dangling pointer, so the controller stays as it is.
      //
      DEBUG ((DEBUG_ERROR, "TavrixGopDxe: cannot remove the GOP after a failed start: %r\n", UndoStatus));
      return Status;
    }
  }

  if (Context->OutputHandle != nullptr) {
    if (EFI_ERROR (ReleaseOutputChild (Context, ControllerHandle))) {
      Context->OutputDevicePath = nullptr; // still installed on the child: not ours to free
    }
  }

  if (Context->OutputDevicePath != nullptr) {
    FreePool (Context->OutputDevicePath);
  }

  DisplayGraphicsOutputDestructor (Context);

  if (Progress.PciIoOpened) {
    if (Progress.AttributesChanging) {
      Context->PciIo->Attributes (Context->PciIo, EfiPciIoAttributeOperationSet, Context->SavedPciAttributes, nullptr);
    }

    gBS->CloseProtocol (
      ControllerHandle, &gEfiPciIoProtocolGuid, gDisplayDriverBinding.DriverBindingHandle, ControllerHandle
    );
  }

  FreePool (Context);
  return Status;
}

/// Opens the controller's PCI I/O and enables its decoding (steps up to the
/// enable); on failure Line names the step.
EFI_STATUS
OpenAndEnableController (
  DISPLAY_DEVICE_CONTEXT *Context,
  EFI_HANDLE              ControllerHandle,
  START_PROGRESS         &Progress,
  UINT32                 &Line
)
{
  EFI_STATUS Status;
  UINT64     Supports;

  Line   = StartStepOpenPciIo;
  Status = gBS->OpenProtocol (
    ControllerHandle, &gEfiPciIoProtocolGuid, reinterpret_cast<VOID **> (&Context->PciIo),
    gDisplayDriverBinding.DriverBindingHandle, ControllerHandle, EFI_OPEN_PROTOCOL_BY_DRIVER
  );
  if (EFI_ERROR (Status)) {
    Context->PciIo = nullptr;
    return Status;
  }

  Progress.PciIoOpened = true;

  //
  // Only the success of this query matters: the enable below asks for
  // decoding and bus mastering alone.
  //
  Line   = StartStepSupportedAttrs;
  Status = Context->PciIo->Attributes (Context->PciIo, EfiPciIoAttributeOperationSupported, 0, &Supports);
  if (EFI_ERROR (Status)) {
    return Status;
  }

  Line   = StartStepGetAttributes;
  Status = Context->PciIo->Attributes (Context->PciIo, EfiPciIoAttributeOperationGet, 0, &Context->SavedPciAttributes);
  if (EFI_ERROR (Status)) {
    return Status;
  }

  //
  // A failing enable may have changed some attributes, so it is undone too.
  //
  Line                        = StartStepEnableAttributes;
  Progress.AttributesChanging = true;
  return Context->PciIo->Attributes (
    Context->PciIo, EfiPciIoAttributeOperationEnable, DISPLAY_ENABLE_ATTRIBUTES, nullptr
  );
}

/// Makes the child path and installs it on a new handle, then builds the GOP
/// and installs it on the controller handle.
EFI_STATUS
CreateOutput (
  DISPLAY_DEVICE_CONTEXT   *Context,
  EFI_HANDLE                ControllerHandle,
  EFI_DEVICE_PATH_PROTOCOL *RemainingDevicePath,
  START_PROGRESS           &Progress,
  UINT32                   &Line
)
{
  EFI_DEVICE_PATH_PROTOCOL *ParentDevicePath;
  EFI_STATUS                Status;

  Line = StartStepParentPath;
  Status =
    gBS->HandleProtocol (ControllerHandle, &gEfiDevicePathProtocolGuid, reinterpret_cast<VOID **> (&ParentDevicePath));
  if (EFI_ERROR (Status)) {
    return Status;
  }

  Context->OutputDevicePath = BuildOutputDevicePath (ParentDevicePath, RemainingDevicePath);
  if (Context->OutputDevicePath == nullptr) {
    return EFI_SUCCESS;
  }

  //
  // A failed installation leaves OutputHandle NULL, and the open for the
  // child below then fails and undoes the start.
  //
  Context->OutputHandle = nullptr;
  gBS->InstallMultipleProtocolInterfaces (
    &Context->OutputHandle, &gEfiDevicePathProtocolGuid, Context->OutputDevicePath, nullptr
  );

  Line   = StartStepConstructor;
  Status = DisplayGraphicsOutputConstructor (Context);
  if (EFI_ERROR (Status)) {
    return Status;
  }

  //
  // The GOP goes on the controller handle, which has the device path that
  // GOP consumers look for. A GOP that is not installed could never be
  // stopped (Stop finds the context through it), so a failed installation
  // (another agent's GOP already there, for one) undoes the start, reported
  // with the constructor's step.
  //
  Status = gBS->InstallMultipleProtocolInterfaces (
    &ControllerHandle, &gEfiGraphicsOutputProtocolGuid, &Context->GraphicsOutput, nullptr
  );
  if (EFI_ERROR (Status)) {
    return Status;
  }

  Progress.GraphicsOutputInstalled = true;
  return EFI_SUCCESS;
}

/// Second phase of a disconnect: the controller itself, and a child still
/// present. Fails with everything as it was, or releases all of it.
EFI_STATUS
StopController (DISPLAY_DEVICE_CONTEXT *Context, EFI_HANDLE ControllerHandle)
{
  EFI_STATUS Status;
  EFI_STATUS ChildStatus;

  //
  // The GOP goes first: a consumer that keeps it makes the removal fail, and
  // the child must then still be there.
  //
  Status = gBS->UninstallMultipleProtocolInterfaces (
    ControllerHandle, &gEfiGraphicsOutputProtocolGuid, &Context->GraphicsOutput, nullptr
  );
  if (EFI_ERROR (Status)) {
    return Status;
  }

  if (Context->OutputHandle != nullptr) {
    ChildStatus = ReleaseOutputChild (Context, ControllerHandle);
    if (EFI_ERROR (ChildStatus)) {
      Status = gBS->InstallMultipleProtocolInterfaces (
        &ControllerHandle, &gEfiGraphicsOutputProtocolGuid, &Context->GraphicsOutput, nullptr
      );
      if (!EFI_ERROR (Status)) {
        return ChildStatus;
      }

      //
      // Nothing can reach the context without its GOP: the stop goes on and
      // leaves the child, its path and its open of PCI I/O as they are.
      //
      DEBUG ((DEBUG_ERROR, "TavrixGopDxe: cannot put the GOP back: %r; the child stays\n", Status));
    }
  }

  DisplayGraphicsOutputDestructor (Context);

  //
  // Decoding is turned off rather than the earlier attributes restored; the
  // controller registers keep the last mode.
  //
  Context->PciIo->Attributes (Context->PciIo, EfiPciIoAttributeOperationDisable, DISPLAY_ENABLE_ATTRIBUTES, nullptr);
  gBS->CloseProtocol (
    ControllerHandle, &gEfiPciIoProtocolGuid, gDisplayDriverBinding.DriverBindingHandle, ControllerHandle
  );
  FreePool (Context);
  return EFI_SUCCESS;
}

} // namespace

extern "C" {

EFI_DRIVER_BINDING_PROTOCOL gDisplayDriverBinding = {
  DisplayDriverSupported, DisplayDriverStart, DisplayDriverStop, 0x10, nullptr, nullptr
};

EFI_STATUS
EFIAPI
DisplayDriverEntryPoint (IN EFI_HANDLE ImageHandle, IN EFI_SYSTEM_TABLE *SystemTable)
{
  EFI_STATUS Status;

  gDisplayDriverBinding.ImageHandle         = ImageHandle;
  gDisplayDriverBinding.DriverBindingHandle = ImageHandle;
  Status                                    = gBS->InstallMultipleProtocolInterfaces (
                                       &gDisplayDriverBinding.DriverBindingHandle, &gEfiDriverBindingProtocolGuid, &gDisplayDriverBinding,
                                       &gEfiComponentNameProtocolGuid, &gDisplayComponentName, nullptr
                                     );
  DISPLAY_ASSERT_EFI_ERROR (Status);
  return Status;
}

EFI_STATUS
EFIAPI
DisplayDriverSupported (
  IN EFI_DRIVER_BINDING_PROTOCOL *This,
  IN EFI_HANDLE                   ControllerHandle,
  IN EFI_DEVICE_PATH_PROTOCOL    *RemainingDevicePath
)
{
  EFI_PCI_IO_PROTOCOL *PciIo;
  PCI_TYPE00           Header;
  EFI_STATUS           Status;

  Status = gBS->OpenProtocol (
    ControllerHandle, &gEfiPciIoProtocolGuid, reinterpret_cast<VOID **> (&PciIo),
    gDisplayDriverBinding.DriverBindingHandle, ControllerHandle, EFI_OPEN_PROTOCOL_BY_DRIVER
  );
  if (EFI_ERROR (Status)) {
    return Status;
  }

  Status = PciIo->Pci.Read (PciIo, EfiPciIoWidthUint32, 0, sizeof (Header) / sizeof (UINT32), &Header);
  if (!EFI_ERROR (Status)) {
    if ((Header.Hdr.VendorId != TAVRIX_PCI_VENDOR_ID) || (Header.Hdr.DeviceId != TAVRIX_PCI_DEVICE_ID) || !RemainingPathAcceptable (RemainingDevicePath)) {
      Status = EFI_UNSUPPORTED;
    }
  }

  gBS->CloseProtocol (
    ControllerHandle, &gEfiPciIoProtocolGuid, gDisplayDriverBinding.DriverBindingHandle, ControllerHandle
  );
  return Status;
}

EFI_STATUS
EFIAPI
DisplayDriverStart (
  IN EFI_DRIVER_BINDING_PROTOCOL *This,
  IN EFI_HANDLE                   ControllerHandle,
  IN EFI_DEVICE_PATH_PROTOCOL    *RemainingDevicePath
)
{
  DISPLAY_DEVICE_CONTEXT *Context;
  START_PROGRESS          Progress = { false, false, false };
  EFI_STATUS              Status;
  UINT32                  Line = 0;
  VOID                   *ChildPciIo;

  DEBUG ((START_MARKER_LEVEL, "1004"));
  DEBUG ((START_MARKER_LEVEL, "\n"));

  Context = static_cast<DISPLAY_DEVICE_CONTEXT *> (AllocateZeroPool (sizeof (DISPLAY_DEVICE_CONTEXT)));
  if (Context == nullptr) {
    DEBUG ((DEBUG_ERROR, "line:%d,Status:%r\n", StartStepAllocateContext, EFI_OUT_OF_RESOURCES));
    return EFI_OUT_OF_RESOURCES;
  }

  Context->Signature    = DISPLAY_DEVICE_CONTEXT_SIGNATURE;
  Context->OutputHandle = nullptr;

  Status = OpenAndEnableController (Context, ControllerHandle, Progress, Line);
  if (!EFI_ERROR (Status)) {
    Status = CreateOutput (Context, ControllerHandle, RemainingDevicePath, Progress, Line);
  }

  if (EFI_ERROR (Status)) {
    return AbortStart (Context, ControllerHandle, Progress, Line, Status);
  }

  //
  // Records the child as a child of the controller. Without a child (the
  // caller asked for none) this names a NULL handle, which the firmware
  // refuses, and the start is undone.
  //
  Status = gBS->OpenProtocol (
    ControllerHandle, &gEfiPciIoProtocolGuid, &ChildPciIo, gDisplayDriverBinding.DriverBindingHandle,
    Context->OutputHandle, EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER
  );
  if (EFI_ERROR (Status)) {
    return AbortStart (Context, ControllerHandle, Progress, StartStepOpenForChild, Status);
  }

  return EFI_SUCCESS;
}

EFI_STATUS
EFIAPI
DisplayDriverStop (
  IN EFI_DRIVER_BINDING_PROTOCOL *This,
  IN EFI_HANDLE                   ControllerHandle,
  IN UINTN                        NumberOfChildren,
  IN EFI_HANDLE                  *ChildHandleBuffer
)
{
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop;
  DISPLAY_DEVICE_CONTEXT       *Context;
  EFI_STATUS                    Status;

  Status = gBS->OpenProtocol (
    ControllerHandle, &gEfiGraphicsOutputProtocolGuid, reinterpret_cast<VOID **> (&Gop),
    gDisplayDriverBinding.DriverBindingHandle, ControllerHandle, EFI_OPEN_PROTOCOL_GET_PROTOCOL
  );
  if (EFI_ERROR (Status)) {
    return Status;
  }

  Context = DISPLAY_CONTEXT_FROM_GOP (Gop, SignatureCheckStop);

  if (NumberOfChildren != 0) {
    return StopOutputChildren (Context, ControllerHandle, NumberOfChildren, ChildHandleBuffer);
  }

  return StopController (Context, ControllerHandle);
}

} // extern "C"
