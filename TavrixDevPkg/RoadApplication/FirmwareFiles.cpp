/** @file
  The drivers and the option ROM lie beside the application on its volume;
  the application loads them through the firmware's own LoadImage.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "RoadCheck.h"

extern "C" {
#include <Guid/FileInfo.h>
#include <Library/DevicePathLib.h>
#include <Protocol/LoadedImage.h>
#include <Protocol/SimpleFileSystem.h>
}

namespace {

/// The application's own volume.
EFI_STATUS
OwnVolume (ROAD &Road, EFI_HANDLE *Device)
{
  EFI_LOADED_IMAGE_PROTOCOL *LoadedImage;
  EFI_STATUS                 Status =
    gBS->HandleProtocol (Road.ImageHandle, &gEfiLoadedImageProtocolGuid, reinterpret_cast<VOID **> (&LoadedImage));

  if (!EFI_ERROR (Status)) {
    *Device = LoadedImage->DeviceHandle;
  }

  return Status;
}

/// The file's information record, in pool memory the caller frees.
EFI_FILE_INFO *
FileInfo (EFI_FILE_PROTOCOL *File)
{
  UINTN          Size = 0;
  EFI_FILE_INFO *Info = nullptr;

  if (File->GetInfo (File, &gEfiFileInfoGuid, &Size, nullptr) != EFI_BUFFER_TOO_SMALL) {
    return nullptr;
  }

  Info = static_cast<EFI_FILE_INFO *> (AllocatePool (Size));
  if ((Info != nullptr) && EFI_ERROR (File->GetInfo (File, &gEfiFileInfoGuid, &Size, Info))) {
    FreePool (Info);
    Info = nullptr;
  }

  return Info;
}

} // namespace

/**
  Loads and starts a driver image that lies in the root of the application's
  volume. The image handle is returned even when the start fails (the
  firmware unloads an image whose entry point fails; the handle is then
  stale and only good for reporting).
**/
EFI_STATUS
StartDriverFile (IN ROAD &Road, IN CONST char16_t *FileName, OUT EFI_HANDLE *DriverImage)
{
  EFI_HANDLE Device;
  EFI_STATUS Status = OwnVolume (Road, &Device);

  *DriverImage = nullptr;
  if (EFI_ERROR (Status)) {
    return Status;
  }

  EFI_DEVICE_PATH_PROTOCOL *Path = FileDevicePath (Device, reinterpret_cast<const CHAR16 *> (FileName));
  if (Path == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }

  Status = gBS->LoadImage (FALSE, Road.ImageHandle, Path, nullptr, 0, DriverImage);
  FreePool (Path);
  if (EFI_ERROR (Status)) {
    return Status;
  }

  return gBS->StartImage (*DriverImage, nullptr, nullptr);
}

/// Reads a whole file from the root of the application's volume into pool
/// memory that the caller frees.
EFI_STATUS
ReadFileBeside (IN ROAD &Road, IN CONST char16_t *FileName, OUT VOID **Contents, OUT UINTN *Size)
{
  EFI_HANDLE                       Device;
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *Volume;
  EFI_FILE_PROTOCOL               *Root = nullptr;
  EFI_FILE_PROTOCOL               *File = nullptr;
  EFI_FILE_INFO                   *Info = nullptr;

  *Contents         = nullptr;
  EFI_STATUS Status = OwnVolume (Road, &Device);
  if (!EFI_ERROR (Status)) {
    Status = gBS->HandleProtocol (Device, &gEfiSimpleFileSystemProtocolGuid, reinterpret_cast<VOID **> (&Volume));
  }

  if (!EFI_ERROR (Status)) {
    Status = Volume->OpenVolume (Volume, &Root);
  }

  if (!EFI_ERROR (Status)) {
    Status = Root->Open (
      Root, &File, const_cast<CHAR16 *> (reinterpret_cast<const CHAR16 *> (FileName)), EFI_FILE_MODE_READ, 0
    );
  }

  if (!EFI_ERROR (Status)) {
    Info   = FileInfo (File);
    Status = (Info == nullptr) ? EFI_DEVICE_ERROR : EFI_SUCCESS;
  }

  if (!EFI_ERROR (Status)) {
    *Size     = (UINTN)Info->FileSize;
    *Contents = AllocatePool (*Size);
    Status    = (*Contents == nullptr) ? EFI_OUT_OF_RESOURCES : File->Read (File, Size, *Contents);
  }

  if (EFI_ERROR (Status) && (*Contents != nullptr)) {
    FreePool (*Contents);
    *Contents = nullptr;
  }

  if (Info != nullptr) {
    FreePool (Info);
  }

  if (File != nullptr) {
    File->Close (File);
  }

  if (Root != nullptr) {
    Root->Close (Root);
  }

  return Status;
}
