/** @file
  The firmware's graphics console on our GOP: the platform names the
  controller in "ConOut" (as a platform's boot manager would), the firmware's
  connect logic stacks its console drivers on the controller handle, and text
  written to the console becomes pixels in our frame buffer.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "RoadCheck.h"

extern "C" {
#include <Guid/GlobalVariable.h>
#include <Library/DevicePathLib.h>
#include <Library/UefiRuntimeServicesTableLib.h>
}

namespace {

/// Adds the controller's device path to "ConOut" unless it is there.
EFI_STATUS
AddControllerToConOut (ROAD &Road)
{
  EFI_DEVICE_PATH_PROTOCOL *Controller = DevicePathFromHandle (Road.ControllerHandle);
  EFI_DEVICE_PATH_PROTOCOL *ConOut     = nullptr;
  UINTN                     Size       = 0;
  UINT32 Attributes = EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS;

  if (gRT->GetVariable (Ucs2 (u"ConOut"), &gEfiGlobalVariableGuid, nullptr, &Size, nullptr) == EFI_BUFFER_TOO_SMALL) {
    ConOut = static_cast<EFI_DEVICE_PATH_PROTOCOL *> (AllocatePool (Size));
    if ((ConOut != nullptr) && EFI_ERROR (gRT->GetVariable (Ucs2 (u"ConOut"), &gEfiGlobalVariableGuid, &Attributes, &Size, ConOut))) {
      FreePool (ConOut);
      ConOut = nullptr;
    }
  }

  EFI_DEVICE_PATH_PROTOCOL *Updated = AppendDevicePathInstance (ConOut, Controller);
  EFI_STATUS                Status  = EFI_OUT_OF_RESOURCES;
  if (Updated != nullptr) {
    Status =
      gRT->SetVariable (Ucs2 (u"ConOut"), &gEfiGlobalVariableGuid, Attributes, GetDevicePathSize (Updated), Updated);
    FreePool (Updated);
  }

  if (ConOut != nullptr) {
    FreePool (ConOut);
  }

  return Status;
}

/// Whether some driver holds Protocol on the controller handle BY_DRIVER.
BOOLEAN
OpenedByDriver (ROAD &Road, EFI_GUID *Protocol)
{
  EFI_OPEN_PROTOCOL_INFORMATION_ENTRY *Entries;
  UINTN                                Count;
  BOOLEAN                              Found = FALSE;

  if (EFI_ERROR (gBS->OpenProtocolInformation (Road.ControllerHandle, Protocol, &Entries, &Count))) {
    return FALSE;
  }

  for (UINTN Index = 0; Index < Count; Index++) {
    Found |= (Entries[Index].Attributes & EFI_OPEN_PROTOCOL_BY_DRIVER) != 0;
  }

  FreePool (Entries);
  return Found;
}

/// Pixels of the current frame that are not black, read through Blt.
UINTN
LitPixels (EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop)
{
  const UINTN Width  = Gop->Mode->Info->HorizontalResolution;
  const UINTN Height = Gop->Mode->Info->VerticalResolution;
  auto       *Frame  = static_cast<UINT32 *> (AllocatePool (Width * Height * 4));
  UINTN       Lit    = 0;

  if (Frame == nullptr) {
    return 0;
  }

  if (!EFI_ERROR (Gop->Blt (
        Gop, reinterpret_cast<EFI_GRAPHICS_OUTPUT_BLT_PIXEL *> (Frame), EfiBltVideoToBltBuffer, 0, 0, 0, 0, Width,
        Height, 0
      ))) {
    for (UINTN Index = 0; Index < Width * Height; Index++) {
      Lit += ((Frame[Index] & 0x00FFFFFF) != 0) ? 1 : 0;
    }
  }

  FreePool (Frame);
  return Lit;
}

} // namespace

VOID
CheckGraphicsConsole (IN ROAD &Road)
{
  if (Road.Gop == nullptr) {
    Check ("graphics console on our GOP", FALSE, "no GOP");
    return;
  }

  EFI_STATUS Status = AddControllerToConOut (Road);
  Check ("the controller's path added to ConOut", Status == EFI_SUCCESS, "%r", Status);

  Status        = gBS->ConnectController (Road.ControllerHandle, nullptr, nullptr, TRUE);
  VOID *TextOut = nullptr;
  gBS->HandleProtocol (Road.ControllerHandle, &gEfiSimpleTextOutProtocolGuid, &TextOut);
  Check (
    "the firmware's graphics console binds to our GOP (GOP held BY_DRIVER, text output on the controller)",
    TextOut != nullptr && OpenedByDriver (Road, &gEfiGraphicsOutputProtocolGuid), "%r, text output %p", Status, TextOut
  );
  Check (
    "the console splitter takes it into the firmware console", OpenedByDriver (Road, &gEfiSimpleTextOutProtocolGuid),
    "the text output is not held by any driver"
  );
  Note (
    "the console chose mode %u (%u x %u)", Road.Gop->Mode->Mode, Road.Gop->Mode->Info->HorizontalResolution,
    Road.Gop->Mode->Info->VerticalResolution
  );

  gST->ConOut->ClearScreen (gST->ConOut);
  const UINTN Blank = LitPixels (Road.Gop);
  gST->ConOut->SetAttribute (gST->ConOut, EFI_TEXT_ATTR (EFI_YELLOW, EFI_BLACK));
  AsciiPrint ("Tavrix road: this is the firmware console,\n");
  gST->ConOut->SetAttribute (gST->ConOut, EFI_TEXT_ATTR (EFI_LIGHTGRAY, EFI_BLACK));
  AsciiPrint ("drawn by the graphics console through TavrixGopDxe's GOP\n");
  AsciiPrint ("on the card 0x19E5:0x1711 (-device tavrix-display), through the firmware's PCI I/O.\n");
  const UINTN Written = LitPixels (Road.Gop);
  Check (
    "text written to the console becomes pixels in our frame buffer", Blank == 0 && Written > 500,
    "%u lit pixels before, %u after", (UINT32)Blank, (UINT32)Written
  );
}
