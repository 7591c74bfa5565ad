/** @file
  Secure Boot's keys out of reach of code outside SMM: on the reference
  platform's Secure Boot variant, the road application's "keys" run tries to
  change db the two ways ring-0 code has, and checks that neither did:

    - straight to the variable store's flash: the chip's byte program
      sequence clearing db's record to "deleted", the state the variable
      driver itself writes when db goes;
    - through the firmware: SetVariable of db with a time-based
      authentication descriptor whose signature is not one (append, and
      replace), and a delete without any descriptor.

  db as GetVariable returns it, and db's record as the flash holds it, must
  be the same after each attempt as before. The host then compares the
  store's file and boots again (scripts/roads/qemu-secure-boot.sh).

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "RoadCheck.h"

extern "C" {
#include <Guid/GlobalVariable.h>
#include <Guid/ImageAuthentication.h>
#include <Guid/SystemNvDataGuid.h>
#include <Guid/VariableFormat.h>
#include <Library/PrintLib.h>
#include <Library/UefiRuntimeServicesTableLib.h>
}

namespace {

constexpr char16_t kDbName[] = u"db";

constexpr UINT32 kDbAttributes = EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS |
                                 EFI_VARIABLE_RUNTIME_ACCESS | EFI_VARIABLE_TIME_BASED_AUTHENTICATED_WRITE_ACCESS;

/// db as the firmware returns it.
struct DB_COPY {
  EFI_STATUS Status;
  UINT32     Attributes;
  UINTN      Size;
  UINT8     *Data; ///< pool memory; NULL when db could not be read
};

DB_COPY
ReadDb (VOID)
{
  DB_COPY Copy = { EFI_NOT_FOUND, 0, 0, nullptr };

  Copy.Status =
    gRT->GetVariable (Ucs2 (kDbName), &gEfiImageSecurityDatabaseGuid, &Copy.Attributes, &Copy.Size, nullptr);
  if (Copy.Status != EFI_BUFFER_TOO_SMALL) {
    return Copy;
  }

  Copy.Data = static_cast<UINT8 *> (AllocatePool (Copy.Size));
  if (Copy.Data == nullptr) {
    Copy.Status = EFI_OUT_OF_RESOURCES;
    return Copy;
  }

  Copy.Status =
    gRT->GetVariable (Ucs2 (kDbName), &gEfiImageSecurityDatabaseGuid, &Copy.Attributes, &Copy.Size, Copy.Data);
  if (EFI_ERROR (Copy.Status)) {
    FreePool (Copy.Data);
    Copy.Data = nullptr;
  }

  return Copy;
}

VOID
FreeDb (DB_COPY &Copy)
{
  if (Copy.Data != nullptr) {
    FreePool (Copy.Data);
    Copy.Data = nullptr;
  }
}

BOOLEAN
SameDb (const DB_COPY &Before, const DB_COPY &After)
{
  return Before.Data != nullptr && After.Data != nullptr && Before.Attributes == After.Attributes &&
         Before.Size == After.Size && CompareMem (Before.Data, After.Data, Before.Size) == 0;
}

/// The variable store at Base as the flash holds it: first variable and end.
/// FALSE when Base is not the platform's authenticated store.
BOOLEAN
StoreBounds (EFI_PHYSICAL_ADDRESS Base, UINTN *First, UINTN *End)
{
  const auto *Volume = reinterpret_cast<const EFI_FIRMWARE_VOLUME_HEADER *> ((UINTN)Base);
  if ((Volume->Signature != EFI_FVH_SIGNATURE) || !CompareGuid (&Volume->FileSystemGuid, &gEfiSystemNvDataFvGuid) ||
      (Volume->HeaderLength >= Volume->FvLength))
  {
    return FALSE;
  }

  const UINTN StoreStart = (UINTN)Base + Volume->HeaderLength;
  const auto *Store      = reinterpret_cast<const VARIABLE_STORE_HEADER *> (StoreStart);
  if (!CompareGuid (&Store->Signature, &gEfiAuthenticatedVariableGuid) || (Store->Format != VARIABLE_STORE_FORMATTED) ||
      (Store->State != VARIABLE_STORE_HEALTHY) || (Store->Size < sizeof (*Store)) ||
      (Volume->HeaderLength + Store->Size > Volume->FvLength))
  {
    return FALSE;
  }

  *First = HEADER_ALIGN (StoreStart + sizeof (*Store));
  *End   = StoreStart + Store->Size;
  return TRUE;
}

/// Where the flash holds db's live record.
struct DB_RECORD {
  volatile UINT8 *Start;  ///< the record's header; NULL when none was found
  UINTN           Length; ///< header, name and data
  UINTN           Live;   ///< live records named db (one in a sound store)
};

BOOLEAN
IsDb (const AUTHENTICATED_VARIABLE_HEADER *Header)
{
  return Header->NameSize == sizeof (kDbName) && CompareGuid (&Header->VendorGuid, &gEfiImageSecurityDatabaseGuid) &&
         CompareMem (Header + 1, kDbName, sizeof (kDbName)) == 0;
}

/// Walks the store's records from the first to the first that is not one,
/// never past the store's end.
DB_RECORD
FindDbRecord (UINTN First, UINTN End)
{
  DB_RECORD Record = { nullptr, 0, 0 };

  for (UINTN Offset = First; Offset + sizeof (AUTHENTICATED_VARIABLE_HEADER) <= End;) {
    const auto *Header = reinterpret_cast<const AUTHENTICATED_VARIABLE_HEADER *> (Offset);
    if (Header->StartId != VARIABLE_DATA) {
      break;
    }

    const UINT64 Length = sizeof (*Header) + (UINT64)Header->NameSize + Header->DataSize;
    if (Length > End - Offset) {
      break;
    }

    if ((Header->State == VAR_ADDED) && IsDb (Header)) {
      Record.Start  = reinterpret_cast<volatile UINT8 *> (Offset);
      Record.Length = (UINTN)Length;
      Record.Live++;
    }

    Offset = HEADER_ALIGN (Offset + Length);
  }

  return Record;
}

/// A CRC32 of Size bytes (the host compares it with the enrolled db's).
UINT32
Crc32Of (const volatile UINT8 *Data, UINTN Size)
{
  UINT32 Crc = 0;

  gBS->CalculateCrc32 (const_cast<UINT8 *> (Data), Size, &Crc);
  return Crc;
}

/// Programs one byte of the flash the way the chip is written: the byte
/// program command, the byte, then back to read-array mode. On a board
/// whose store answers only SMM, the chip never sees these writes.
VOID
ProgramFlashByte (volatile UINT8 *Address, UINT8 Value)
{
  *Address = 0x10;
  *Address = Value;
  *Address = 0xFF;
}

/// The direct write: db's record state cleared to "deleted" in the flash.
VOID
WriteFlashDirectly (const DB_RECORD &Record, const DB_COPY &Before)
{
  auto *const  Header    = reinterpret_cast<volatile AUTHENTICATED_VARIABLE_HEADER *> (Record.Start);
  const UINT32 CrcBefore = Crc32Of (Record.Start, Record.Length);

  ProgramFlashByte (&Header->State, VAR_ADDED & VAR_DELETED);

  const UINT8  State    = Header->State;
  const UINT32 CrcAfter = Crc32Of (Record.Start, Record.Length);
  Check (
    "keys: a byte program sent straight to the variable store's flash leaves db's record as it was",
    State == VAR_ADDED && CrcAfter == CrcBefore, "state 0x%02x (0x%02x before), record CRC32 0x%08x (0x%08x before)",
    State, VAR_ADDED, CrcAfter, CrcBefore
  );

  DB_COPY After = ReadDb ();
  Check (
    "keys: after the direct write the firmware's db reads back as before", SameDb (Before, After),
    "GetVariable: %r, %u bytes (%u before)", After.Status, (UINT32)After.Size, (UINT32)Before.Size
  );
  FreeDb (After);
}

/// A time-based authentication descriptor whose PKCS#7 "signature" is a
/// DER sequence of zeros, followed by one signature list: an SHA-256 hash
/// to trust. Count bytes in pool memory, which the caller frees.
UINT8 *
ForgedDbUpdate (UINTN *Count)
{
  constexpr UINTN kSignatureBytes = 64;
  constexpr UINTN kAuthBytes      = OFFSET_OF (EFI_VARIABLE_AUTHENTICATION_2, AuthInfo) +
                               OFFSET_OF (WIN_CERTIFICATE_UEFI_GUID, CertData) + kSignatureBytes;
  constexpr UINTN kEntryBytes = sizeof (EFI_GUID) + 32;
  constexpr UINTN kListBytes  = sizeof (EFI_SIGNATURE_LIST) + kEntryBytes;

  auto *Bits = static_cast<UINT8 *> (AllocateZeroPool (kAuthBytes + kListBytes));
  if (Bits == nullptr) {
    return nullptr;
  }

  // A time far ahead, so that a replace is not refused for its age but
  // for its signature.
  auto *Auth                          = reinterpret_cast<EFI_VARIABLE_AUTHENTICATION_2 *> (Bits);
  Auth->TimeStamp.Year                = 2099;
  Auth->TimeStamp.Month               = 1;
  Auth->TimeStamp.Day                 = 1;
  Auth->AuthInfo.Hdr.dwLength         = OFFSET_OF (WIN_CERTIFICATE_UEFI_GUID, CertData) + kSignatureBytes;
  Auth->AuthInfo.Hdr.wRevision        = 0x0200;
  Auth->AuthInfo.Hdr.wCertificateType = WIN_CERT_TYPE_EFI_GUID;
  Auth->AuthInfo.CertType             = gEfiCertPkcs7Guid;
  Auth->AuthInfo.CertData[0]          = 0x30;
  Auth->AuthInfo.CertData[1]          = kSignatureBytes - 2;

  auto *List                = reinterpret_cast<EFI_SIGNATURE_LIST *> (Bits + kAuthBytes);
  List->SignatureType       = gEfiCertSha256Guid;
  List->SignatureListSize   = kListBytes;
  List->SignatureHeaderSize = 0;
  List->SignatureSize       = kEntryBytes;
  SetMem (Bits + kAuthBytes + sizeof (EFI_SIGNATURE_LIST) + sizeof (EFI_GUID), 32, 0x5A);

  *Count = kAuthBytes + kListBytes;
  return Bits;
}

/// One SetVariable of db that must be refused and leave db as it was.
VOID
TrySetDb (const CHAR8 *What, UINT32 Attributes, UINTN Size, VOID *Data, const DB_COPY &Before)
{
  CHAR8 Name[160];

  const EFI_STATUS Status = gRT->SetVariable (Ucs2 (kDbName), &gEfiImageSecurityDatabaseGuid, Attributes, Size, Data);
  DB_COPY          After  = ReadDb ();
  AsciiSPrint (Name, sizeof (Name), "keys: SetVariable of db, %a, is refused and db reads back as before", What);
  Check (
    Name, EFI_ERROR (Status) && SameDb (Before, After), "SetVariable: %r; GetVariable: %r, %u bytes (%u before)",
    Status, After.Status, (UINT32)After.Size, (UINT32)Before.Size
  );
  Note ("keys: SetVariable of db, %a: %r", What, Status);
  FreeDb (After);
}

VOID
SetVariableWithoutSignature (const DB_COPY &Before)
{
  UINTN  Size   = 0;
  UINT8 *Forged = ForgedDbUpdate (&Size);

  if (Forged == nullptr) {
    Check ("keys: the forged db update is made", FALSE, "%r", EFI_OUT_OF_RESOURCES);
    return;
  }

  TrySetDb (
    "time-based authenticated append, signature forged", kDbAttributes | EFI_VARIABLE_APPEND_WRITE, Size, Forged, Before
  );
  TrySetDb ("time-based authenticated replace, signature forged", kDbAttributes, Size, Forged, Before);
  TrySetDb ("delete without authentication", 0, 0, nullptr, Before);
  FreePool (Forged);
}

} // namespace

VOID
CheckSecureBootKeys (IN EFI_PHYSICAL_ADDRESS StoreBase)
{
  DB_COPY Before = ReadDb ();

  if (!Check (
        "keys: the firmware's db holds Secure Boot's signature database (GetVariable)",
        Before.Data != nullptr && Before.Attributes == kDbAttributes, "GetVariable: %r, attributes 0x%x", Before.Status,
        Before.Attributes
      )) {
    FreeDb (Before);
    return;
  }

  Note ("keys: db %u bytes, CRC32 0x%08x", (UINT32)Before.Size, Crc32Of (Before.Data, Before.Size));

  UINTN First;
  UINTN End;
  if (!Check (
        "keys: the variable store's flash is where the host said", StoreBounds (StoreBase, &First, &End),
        "no authenticated variable store at 0x%lx", StoreBase
      )) {
    FreeDb (Before);
    return;
  }

  const DB_RECORD Record = FindDbRecord (First, End);
  const BOOLEAN   Found  = Check (
       "keys: the flash holds one live record of db, the same data GetVariable returns",
       Record.Live == 1 && Record.Length == sizeof (AUTHENTICATED_VARIABLE_HEADER) + sizeof (kDbName) + Before.Size &&
         CompareMem (const_cast<UINT8 *> (Record.Start) + Record.Length - Before.Size, Before.Data, Before.Size) == 0,
       "%u live records, the last %u bytes long", (UINT32)Record.Live, (UINT32)Record.Length
     );
  if (Found) {
    Note (
      "keys: db's record at flash offset 0x%x, %u bytes", (UINT32)((UINTN)Record.Start - StoreBase),
      (UINT32)Record.Length
    );
    WriteFlashDirectly (Record, Before);
  }

  SetVariableWithoutSignature (Before);
  FreeDb (Before);
}
