/** @file
  A driver that lies beside the application on its volume, loaded through
  the firmware's own LoadImage.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "RoadCheck.h"

extern "C" {
#include <Library/DevicePathLib.h>
#include <Protocol/LoadedImage.h>
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
