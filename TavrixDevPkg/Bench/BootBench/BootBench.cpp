/** @file
  Time-stamp marks for the boot benchmark (scripts/bench/bench-boot.sh), which runs
  the reference platform under -icount shift=0, where the time-stamp counter
  counts guest instructions from reset.

  Started without arguments (the boot manager starts it as the ESP's
  removable-media boot file) it prints "BOOT-TSC boot-option <ticks>" and
  starts the firmware volume's UEFI shell with "-nointerrupt fs0:\bench.nsh":
  the shell's start-up countdown is a busy wait of five guest seconds,
  minutes of host time under -icount, and would stand in the measurement's
  way. Started as "TavrixBootBench.efi tsc NAME" (from that script) it prints
  "BOOT-TSC NAME <ticks> <width>x<height>", the last the first GOP's mode
  (0x0 without a GOP), so that a run can show the console's geometry.

  Each line goes to the console and to QEMU's debug console (I/O port
  0x402), so that a run without a serial console (whose output would be
  counted with the graphics console's) still has its marks.

  Development package only: not part of the product.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

extern "C" {
#include <PiDxe.h>
#include <Library/BaseLib.h>
#include <Library/DevicePathLib.h>
#include <Library/IoLib.h>
#include <Library/PrintLib.h>
#include <Library/MemoryAllocationLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiLib.h>
#include <Protocol/FirmwareVolume2.h>
#include <Protocol/GraphicsOutput.h>
#include <Protocol/LoadedImage.h>
#include <Protocol/ShellParameters.h>
}

namespace {

// The file GUID under which OVMF-derived platforms carry the UEFI shell.
constexpr EFI_GUID kShellFile = { 0x7C04A583, 0x9E3E, 0x4F1C, { 0xAD, 0x65, 0xE0, 0x52, 0x68, 0xD0, 0xB4, 0xD1 } };

// QEMU's debug console.
constexpr UINTN kDebugPort = 0x402;

/// Prints "BOOT-TSC Name Ticks WxH" on the console and the debug console.
VOID
PrintMark (const CHAR16 *Name, UINT64 Ticks)
{
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop    = nullptr;
  UINT32                        Width  = 0;
  UINT32                        Height = 0;
  if (!EFI_ERROR (gBS->LocateProtocol (&gEfiGraphicsOutputProtocolGuid, nullptr, reinterpret_cast<VOID **> (&Gop)))) {
    Width  = Gop->Mode->Info->HorizontalResolution;
    Height = Gop->Mode->Info->VerticalResolution;
  }

  CHAR8 Line[96];
  AsciiSPrint (Line, sizeof (Line), "BOOT-TSC %s %lu %ux%u\n", Name, Ticks, Width, Height);
  AsciiPrint ("%a", Line);
  for (const CHAR8 *Char = Line; *Char != '\0'; Char++) {
    IoWrite8 (kDebugPort, static_cast<UINT8> (*Char));
  }
}

// The shell's command line: argument 0 is its name.
char16_t mShellCommandLine[] = u"Shell.efi -nointerrupt fs0:\\bench.nsh";

/// Loads the shell from the first firmware volume that holds it and starts
/// it with mShellCommandLine; returns when the shell exits.
EFI_STATUS
StartShell (EFI_HANDLE ImageHandle)
{
  UINTN       Count   = 0;
  EFI_HANDLE *Volumes = nullptr;
  EFI_STATUS Status = gBS->LocateHandleBuffer (ByProtocol, &gEfiFirmwareVolume2ProtocolGuid, nullptr, &Count, &Volumes);

  if (EFI_ERROR (Status)) {
    return Status;
  }

  Status = EFI_NOT_FOUND;
  for (UINTN Index = 0; (Index < Count) && (Status == EFI_NOT_FOUND); Index++) {
    MEDIA_FW_VOL_FILEPATH_DEVICE_PATH File;
    EfiInitializeFwVolDevicepathNode (&File, &kShellFile);
    EFI_DEVICE_PATH_PROTOCOL *Path  = AppendDevicePathNode (DevicePathFromHandle (Volumes[Index]), &File.Header);
    EFI_HANDLE                Shell = nullptr;
    if ((Path == nullptr) || EFI_ERROR (gBS->LoadImage (FALSE, ImageHandle, Path, nullptr, 0, &Shell))) {
      if (Path != nullptr) {
        FreePool (Path);
      }

      continue;
    }

    FreePool (Path);
    EFI_LOADED_IMAGE_PROTOCOL *Loaded = nullptr;
    Status = gBS->HandleProtocol (Shell, &gEfiLoadedImageProtocolGuid, reinterpret_cast<VOID **> (&Loaded));
    if (EFI_ERROR (Status)) {
      gBS->UnloadImage (Shell);
      break;
    }

    Loaded->LoadOptions     = mShellCommandLine;
    Loaded->LoadOptionsSize = sizeof (mShellCommandLine);
    Status                  = gBS->StartImage (Shell, nullptr, nullptr);
  }

  FreePool (Volumes);
  return Status;
}

} // namespace

extern "C" EFI_STATUS EFIAPI
BootBenchMain (IN EFI_HANDLE ImageHandle, IN EFI_SYSTEM_TABLE *SystemTable)
{
  const UINT64                   Ticks      = AsmReadTsc ();
  EFI_SHELL_PARAMETERS_PROTOCOL *Parameters = nullptr;

  if (!EFI_ERROR (gBS->HandleProtocol (ImageHandle, &gEfiShellParametersProtocolGuid, reinterpret_cast<VOID **> (&Parameters))) &&
      (Parameters->Argc == 3) && (StrCmp (Parameters->Argv[1], reinterpret_cast<const CHAR16 *> (u"tsc")) == 0)) {
    PrintMark (Parameters->Argv[2], Ticks);
    return EFI_SUCCESS;
  }

  if (Parameters != nullptr) {
    AsciiPrint ("usage: TavrixBootBench.efi tsc NAME\n");
    return EFI_INVALID_PARAMETER;
  }

  PrintMark (reinterpret_cast<const CHAR16 *> (u"boot-option"), Ticks);
  const EFI_STATUS Status = StartShell (ImageHandle);
  AsciiPrint ("BOOT-BENCH the shell could not be started: %r\n", Status);
  return Status;
}
