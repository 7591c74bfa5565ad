/** @file
  The option ROM image: a PCI expansion ROM for 0x19E5:0x1711 whose EFI
  image, once the firmware's decompressor has expanded it, is the driver
  itself, and which the firmware's LoadImage accepts.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "RoadCheck.h"

extern "C" {
#include <IndustryStandard/Pci.h>
#include <Protocol/Decompress.h>
}

namespace {

/// The EFI image inside the ROM, expanded into pool memory the caller frees.
EFI_STATUS
ExpandRomImage (const UINT8 *Rom, UINTN RomSize, VOID **Image, UINT32 *ImageSize)
{
  const auto *Header = reinterpret_cast<const EFI_PCI_EXPANSION_ROM_HEADER *> (Rom);

  if ((RomSize < sizeof (*Header)) || (Header->Signature != PCI_EXPANSION_ROM_HEADER_SIGNATURE) ||
      (Header->EfiSignature != EFI_PCI_EXPANSION_ROM_HEADER_EFISIGNATURE) ||
      (Header->CompressionType != EFI_PCI_EXPANSION_ROM_HEADER_COMPRESSED) ||
      ((UINTN)Header->InitializationSize * 512 > RomSize) || (Header->EfiImageHeaderOffset >= Header->InitializationSize * 512))
  {
    return EFI_UNSUPPORTED;
  }

  EFI_DECOMPRESS_PROTOCOL *Decompress;
  EFI_STATUS               Status =
    gBS->LocateProtocol (&gEfiDecompressProtocolGuid, nullptr, reinterpret_cast<VOID **> (&Decompress));
  if (EFI_ERROR (Status)) {
    return Status;
  }

  UINT8       *Source      = const_cast<UINT8 *> (Rom) + Header->EfiImageHeaderOffset;
  const UINT32 SourceSize  = Header->InitializationSize * 512 - Header->EfiImageHeaderOffset;
  UINT32       ScratchSize = 0;
  Status                   = Decompress->GetInfo (Decompress, Source, SourceSize, ImageSize, &ScratchSize);
  if (EFI_ERROR (Status)) {
    return Status;
  }

  *Image        = AllocatePool (*ImageSize);
  VOID *Scratch = AllocatePool (ScratchSize);
  Status        = (*Image == nullptr || Scratch == nullptr)
                    ? EFI_OUT_OF_RESOURCES
                    : Decompress->Decompress (Decompress, Source, SourceSize, *Image, *ImageSize, Scratch, ScratchSize);
  if (Scratch != nullptr) {
    FreePool (Scratch);
  }

  if (EFI_ERROR (Status) && (*Image != nullptr)) {
    FreePool (*Image);
    *Image = nullptr;
  }

  return Status;
}

} // namespace

VOID
CheckOptionRom (IN ROAD &Road)
{
  VOID *Rom = nullptr;
  VOID *Efi = nullptr;
  UINTN RomSize;
  UINTN EfiSize;

  EFI_STATUS Status = ReadFileBeside (Road, u"TavrixGopDxe.rom", &Rom, &RomSize);
  if (!EFI_ERROR (Status)) {
    Status = ReadFileBeside (Road, u"TavrixGopDxe.efi", &Efi, &EfiSize);
  }

  if (EFI_ERROR (Status)) {
    Check ("option ROM image", FALSE, "cannot read the ROM or the driver: %r", Status);
  } else {
    const auto *Header = static_cast<const EFI_PCI_EXPANSION_ROM_HEADER *> (Rom);
    const auto *Pcir =
      (RomSize >= 0x40 && Header->PcirOffset + sizeof (PCI_DATA_STRUCTURE) <= RomSize)
        ? reinterpret_cast<const PCI_DATA_STRUCTURE *> (static_cast<UINT8 *> (Rom) + Header->PcirOffset)
        : nullptr;
    Check (
      "option ROM: PCI data structure names 0x19E5:0x1711, class 0x030000, EFI code",
      Pcir != nullptr && Pcir->Signature == PCI_DATA_STRUCTURE_SIGNATURE && Pcir->VendorId == TAVRIX_PCI_VENDOR_ID &&
        Pcir->DeviceId == TAVRIX_PCI_DEVICE_ID && Pcir->ClassCode[2] == 0x03 && Pcir->ClassCode[1] == 0 && Pcir->ClassCode[0] == 0 &&
        Pcir->CodeType == PCI_CODE_TYPE_EFI_IMAGE,
      "no or wrong PCI data structure"
    );

    VOID  *Image     = nullptr;
    UINT32 ImageSize = 0;
    Status           = ExpandRomImage (static_cast<UINT8 *> (Rom), RomSize, &Image, &ImageSize);
    Check (
      "option ROM: the firmware's decompressor expands it to TavrixGopDxe.efi byte for byte",
      !EFI_ERROR (Status) && ImageSize == EfiSize && CompareMem (Image, Efi, EfiSize) == 0,
      "%r, %u bytes expanded, %u in the driver file", Status, ImageSize, (UINT32)EfiSize
    );

    EFI_HANDLE Loaded = nullptr;
    Status =
      (Image == nullptr) ? EFI_NOT_FOUND : gBS->LoadImage (FALSE, Road.ImageHandle, nullptr, Image, ImageSize, &Loaded);
    Check ("option ROM: the firmware's LoadImage accepts the expanded image", Status == EFI_SUCCESS, "%r", Status);
    if (Loaded != nullptr) {
      gBS->UnloadImage (Loaded);
    }

    if (Image != nullptr) {
      FreePool (Image);
    }
  }

  if (Rom != nullptr) {
    FreePool (Rom);
  }

  if (Efi != nullptr) {
    FreePool (Efi);
  }
}
