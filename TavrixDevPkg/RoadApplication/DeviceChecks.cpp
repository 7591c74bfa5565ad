/** @file
  The controller as the firmware enumerated it, and the road on the virtual
  device (QEMU's -device tavrix-display) with Debian's OVMF: the firmware's
  own PCI bus driver, the driver loaded from the card's option ROM and
  connected by the boot manager. What the screen shows
  is judged by the host from QEMU's screendumps and the device's own
  properties; these checks see what the firmware sees.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "RoadCheck.h"

extern "C" {
#include <IndustryStandard/Acpi.h>
#include <IndustryStandard/Pci.h>
#include <Library/DevicePathLib.h>
#include <Library/PrintLib.h>
#include <Library/SerialPortLib.h>
#include <Protocol/LoadedImage.h>
#include <Protocol/PciIo.h>
}

namespace {

constexpr UINT16 kVendorId = TAVRIX_PCI_VENDOR_ID;
constexpr UINT16 kDeviceId = TAVRIX_PCI_DEVICE_ID;

struct MODE_SIZE {
  UINT32 Width;
  UINT32 Height;
};

#define ROAD_MODE_SIZE(Width, Height) { Width, Height },
constexpr MODE_SIZE kModeSizes[TAVRIX_GOP_MODE_COUNT] = { TAVRIX_GOP_MODES (ROAD_MODE_SIZE) };
#undef ROAD_MODE_SIZE

// The test picture of each mode: a dark blue frame with a red square at the
// top-left and a white one at the bottom-right corner, which the host finds
// at their places only if the screen has the mode's size and pitch.
constexpr UINT32 kBackground  = 0x00204080;
constexpr UINT32 kTopLeft     = 0x00FF0000;
constexpr UINT32 kBottomRight = 0x00FFFFFF;
constexpr UINTN  kSquare      = 16;

/// BAR's address and length, from the PCI I/O resource descriptors.
EFI_PHYSICAL_ADDRESS
BarAddress (EFI_PCI_IO_PROTOCOL *PciIo, UINT8 Bar, UINT64 *Length = nullptr)
{
  VOID                *Resources = nullptr;
  EFI_PHYSICAL_ADDRESS Address   = 0;

  if (!EFI_ERROR (PciIo->GetBarAttributes (PciIo, Bar, nullptr, &Resources)) && (Resources != nullptr)) {
    Address = reinterpret_cast<EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR *> (Resources)->AddrRangeMin;
    if (Length != nullptr) {
      *Length = reinterpret_cast<EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR *> (Resources)->AddrLen;
    }

    FreePool (Resources);
  }

  return Address;
}

/// A quick picture for the host: background, two corner squares.
VOID
DrawTestPicture (EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop, UINT32 Width, UINT32 Height)
{
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL Colour;

  CopyMem (&Colour, &kBackground, 4);
  Gop->Blt (Gop, &Colour, EfiBltVideoFill, 0, 0, 0, 0, Width, Height, 0);
  CopyMem (&Colour, &kTopLeft, 4);
  Gop->Blt (Gop, &Colour, EfiBltVideoFill, 0, 0, 0, 0, kSquare, kSquare, 0);
  CopyMem (&Colour, &kBottomRight, 4);
  Gop->Blt (Gop, &Colour, EfiBltVideoFill, 0, 0, Width - kSquare, Height - kSquare, kSquare, kSquare, 0);
}

} // namespace

/**
  The firmware's PCI bus driver has enumerated the controller: its handle
  carries PCI I/O with our IDs. FALSE when it is not there.
**/
/// The image that holds the controller BY_DRIVER, or NULL.
EFI_HANDLE
ManagingDriver (IN ROAD &Road)
{
  EFI_OPEN_PROTOCOL_INFORMATION_ENTRY *Entries;
  UINTN                                Count;
  EFI_HANDLE                           Agent = nullptr;

  if (EFI_ERROR (gBS->OpenProtocolInformation (Road.ControllerHandle, &gEfiPciIoProtocolGuid, &Entries, &Count))) {
    return nullptr;
  }

  for (UINTN Index = 0; Index < Count; Index++) {
    if ((Entries[Index].Attributes & EFI_OPEN_PROTOCOL_BY_DRIVER) != 0) {
      Agent = Entries[Index].AgentHandle;
    }
  }

  FreePool (Entries);
  return Agent;
}

BOOLEAN
FindDevice (IN ROAD &Road)
{
  UINTN       Count;
  EFI_HANDLE *Handles;

  Road.ControllerHandle = nullptr;
  if (!EFI_ERROR (gBS->LocateHandleBuffer (ByProtocol, &gEfiPciIoProtocolGuid, nullptr, &Count, &Handles))) {
    for (UINTN Index = 0; Index < Count && Road.ControllerHandle == nullptr; Index++) {
      EFI_PCI_IO_PROTOCOL *PciIo;
      UINT16               Ids[2];
      if (!EFI_ERROR (gBS->HandleProtocol (Handles[Index], &gEfiPciIoProtocolGuid, reinterpret_cast<VOID **> (&PciIo))) &&
          !EFI_ERROR (PciIo->Pci.Read (PciIo, EfiPciIoWidthUint16, 0, 2, Ids)) && (Ids[0] == kVendorId) &&
          (Ids[1] == kDeviceId))
      {
        Road.ControllerHandle = Handles[Index];
        Road.FrameBufferBase  = BarAddress (PciIo, 0, &Road.FrameBufferSize);
      }
    }

    FreePool (Handles);
  }

  CHAR16 *Path  = (Road.ControllerHandle != nullptr)
                    ? ConvertDevicePathToText (DevicePathFromHandle (Road.ControllerHandle), FALSE, FALSE)
                    : nullptr;
  BOOLEAN Found = Check (
    "the firmware's PCI bus driver enumerated 0x19E5:0x1711", Road.ControllerHandle != nullptr && Path != nullptr,
    "no PCI I/O handle with these IDs"
  );
  if (Found) {
    Note ("controller %s, BAR 0 at 0x%lx", Path, Road.FrameBufferBase);
  }

  if (Path != nullptr) {
    FreePool (Path);
  }

  return Found;
}

/**
  The driver that holds the controller came from the card's option ROM (its
  image path is an Offset node under the controller), the firmware connected
  it without help, its GOP is on the controller with the _ADR child, and the
  graphics console runs on that GOP.
**/
VOID
CheckDriverFromRom (IN ROAD &Road)
{
  EFI_HANDLE                 Agent  = ManagingDriver (Road);
  EFI_LOADED_IMAGE_PROTOCOL *Loaded = nullptr;

  if (Agent != nullptr) {
    gBS->HandleProtocol (Agent, &gEfiLoadedImageProtocolGuid, reinterpret_cast<VOID **> (&Loaded));
  }

  const EFI_DEVICE_PATH_PROTOCOL *File    = (Loaded != nullptr) ? Loaded->FilePath : nullptr;
  const BOOLEAN                   FromRom = File != nullptr && DevicePathType (File) == MEDIA_DEVICE_PATH &&
                          DevicePathSubType (File) == MEDIA_RELATIVE_OFFSET_RANGE_DP &&
                          Loaded->DeviceHandle == Road.ControllerHandle;
  Check (
    "the firmware started the driver from the card's option ROM (image path Offset(...) on the controller)", FromRom,
    "managing image %p, loaded %p", Agent, Loaded
  );
  Road.GopDriverImage = Agent;
  Road.Gop            = ControllerGop (Road);

  UINTN      Children = 0;
  EFI_HANDLE Child    = FindOutputChild (Road, &Children);
  Check (
    "GOP on the controller handle, one child with AcpiAdr(0x80010100) recorded as its child",
    Road.Gop != nullptr && Children == 1 && IsChildOfController (Road, Child), "GOP %p, %u children", Road.Gop,
    (UINT32)Children
  );

  VOID *TextOut = nullptr;
  gBS->HandleProtocol (Road.ControllerHandle, &gEfiSimpleTextOutProtocolGuid, &TextOut);
  Check ("the firmware's graphics console runs on our GOP", TextOut != nullptr, "no text output on the controller");

  if (Road.Gop != nullptr) {
    CHAR8 Name[48];
    AsciiSPrint (
      Name, sizeof (Name), "firmware-screen-%ux%u", Road.Gop->Mode->Info->HorizontalResolution,
      Road.Gop->Mode->Info->VerticalResolution
    );
    Snapshot (Road, Name, "screen");
  }
}

/**
  Every mode: SetMode, the mode record (frame buffer = BAR 0), then the test
  picture, captured by the host at the mode's size.
**/
VOID
CheckDeviceModes (IN ROAD &Road)
{
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop = Road.Gop;

  if (Gop == nullptr) {
    Check ("GOP modes on the device", FALSE, "no GOP");
    return;
  }

  // The console draws on this GOP: its scrolling must not move the pictures.
  ReportToSerialOnly (TRUE);
  const UINT32 Original = Gop->Mode->Mode;
  for (UINT32 Mode = 0; Mode < 4; Mode++) {
    const MODE_SIZE &Size   = kModeSizes[Mode];
    EFI_STATUS       Status = Gop->SetMode (Gop, Mode);
    CHAR8            Name[96];

    AsciiSPrint (
      Name, sizeof (Name), "SetMode(%u): %u x %u, frame buffer at BAR 0, %u bytes", Mode, Size.Width, Size.Height,
      Size.Width * Size.Height * 4
    );
    Check (
      Name,
      Status == EFI_SUCCESS && Gop->Mode->Mode == Mode && Gop->Mode->Info->HorizontalResolution == Size.Width &&
        Gop->Mode->Info->VerticalResolution == Size.Height && Gop->Mode->FrameBufferBase == Road.FrameBufferBase &&
        Gop->Mode->FrameBufferSize == (UINTN)Size.Width * Size.Height * 4,
      "%r, mode %u, %u x %u, base 0x%lx, size %lu", Status, Gop->Mode->Mode, Gop->Mode->Info->HorizontalResolution,
      Gop->Mode->Info->VerticalResolution, Gop->Mode->FrameBufferBase, (UINT64)Gop->Mode->FrameBufferSize
    );
    DrawTestPicture (Gop, Size.Width, Size.Height);
    AsciiSPrint (Name, sizeof (Name), "mode-%u-%ux%u", Mode, Size.Width, Size.Height);
    Snapshot (Road, Name, "screen");
  }

  // The Blt checks in the largest mode, then back to the console's mode.
  CheckBlt (Road);
  Gop->SetMode (Gop, Original);
  gST->ConOut->ClearScreen (gST->ConOut);
  ReportToSerialOnly (FALSE);
}

/**
  A window on the UART: disconnect/connect cycles between two marker lines
  written straight to the serial port. Nothing else prints in between, so
  whatever the host finds there was written by the driver (a DEBUG ROM's
  messages; nothing at all from a RELEASE ROM).
**/
VOID
CheckUartWindow (IN ROAD &Road)
{
  static const CHAR8 Begin[] = "\r\nROAD-UART-BEGIN ;\r\n";
  static const CHAR8 End[]   = "\r\nROAD-UART-END ;\r\n";
  UINTN              Back    = 0;

  SerialPortWrite ((UINT8 *)Begin, sizeof (Begin) - 1);
  for (UINTN Cycle = 0; Cycle < 3; Cycle++) {
    gBS->DisconnectController (Road.ControllerHandle, nullptr, nullptr);
    gBS->ConnectController (Road.ControllerHandle, nullptr, nullptr, TRUE);
    Back += (ControllerGop (Road) != nullptr) ? 1 : 0;
  }

  SerialPortWrite ((UINT8 *)End, sizeof (End) - 1);
  Road.Gop = ControllerGop (Road);
  Check ("3 disconnect/connect cycles inside the UART window bring the GOP back", Back == 3, "%u of 3", (UINT32)Back);
}
