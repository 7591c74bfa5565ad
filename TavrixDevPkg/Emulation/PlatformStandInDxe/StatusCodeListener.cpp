/** @file
  Status-code listener: keeps the early video driver's assertion and
  debug-message records.

  Registered with the firmware's status-code router at TPL_HIGH_LEVEL, so it
  runs inside the report call: a debug message's record points into the
  reporting caller's frame (format string and arguments) and must be
  formatted before the call returns. At that level nothing may be allocated;
  records go into a ring allocated up front.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "PlatformStandIn.h"

extern "C" {
#include <Guid/DebugPrintMarkerData.h>
#include <Guid/EventGroup.h>
#include <Guid/StatusCodeDataTypeId.h>
#include <Library/PrintLib.h>
#include <Protocol/ReportStatusCodeHandler.h>
}

namespace {

constexpr UINT32 kStatusCodeCapacity = 512;

/// Caller GUID of every status code the early video driver reports.
constexpr EFI_GUID kEarlyVideoCallerId = { 0x847FF339,
                                           0x9457,
                                           0x428D,
                                           { 0xB0, 0x79, 0xDB, 0xAD, 0x06, 0x6A, 0xED, 0xB7 } };

constexpr UINTN kAssertHeaderSize = 40; // EFI_DEBUG_ASSERT_DATA with its alignment

EFI_RSC_HANDLER_PROTOCOL *mRscHandler;
EFI_EVENT                 mExitBootServicesEvent;

/// Copies a NUL-terminated string that lies inside [Text, Limit) into Out.
UINTN
CopyBoundedString (const CHAR8 *Text, const CHAR8 *Limit, CHAR8 *Out, UINTN OutSize)
{
  UINTN Length = 0;

  while (Text + Length < Limit && Text[Length] != '\0') {
    Length++;
  }

  AsciiStrnCpyS (Out, OutSize, Text, MIN (Length, OutSize - 1));
  return Length;
}

VOID
KeepDebugMessage (EMULATED_STATUS_CODE &Record, const UINT8 *Extended, UINTN Size)
{
  if (Size < sizeof (DEBUG_PRINT_MARKER_DATA)) {
    return;
  }

  //
  // The extended data follows the 20-byte status-code header, so the record
  // is only 4-byte aligned: copy it before reading its pointers.
  //
  DEBUG_PRINT_MARKER_DATA Marker;
  CopyMem (&Marker, Extended, sizeof (Marker));
  Record.ErrorLevel = Marker.ErrorLevel;
  if (Marker.Format == nullptr) {
    return;
  }

  if (Marker.BaseListMarker != nullptr) {
    AsciiBSPrint (Record.Text, sizeof (Record.Text), Marker.Format, Marker.BaseListMarker);
  } else {
    AsciiVSPrint (Record.Text, sizeof (Record.Text), Marker.Format, reinterpret_cast<VA_LIST> (Marker.VaListMarker));
  }

  // One record, one line: drop the line end (PrintLib makes "\n" "\r\n").
  for (UINTN Length = AsciiStrLen (Record.Text);
       Length > 0 && (Record.Text[Length - 1] == '\n' || Record.Text[Length - 1] == '\r');) {
    Record.Text[--Length] = '\0';
  }
}

/// Renders an assertion record as "<tag and file>(<line>): <expression>".
VOID
KeepAssertion (EMULATED_STATUS_CODE &Record, const UINT8 *Extended, UINTN Size)
{
  if (Size < kAssertHeaderSize) {
    return;
  }

  Record.LineNumber = ReadUnaligned32 (reinterpret_cast<const UINT32 *> (Extended + 20));

  const CHAR8 *Text  = reinterpret_cast<const CHAR8 *> (Extended + kAssertHeaderSize);
  const CHAR8 *Limit = reinterpret_cast<const CHAR8 *> (Extended + Size);
  CHAR8        File[128];
  CHAR8        Expression[96];
  const UINTN  FileLength = CopyBoundedString (Text, Limit, File, sizeof (File));

  Expression[0] = '\0';
  if (Text + FileLength + 1 < Limit) {
    CopyBoundedString (Text + FileLength + 1, Limit, Expression, sizeof (Expression));
  }

  AsciiSPrint (Record.Text, sizeof (Record.Text), "%a(%u): %a", File, Record.LineNumber, Expression);
}

extern "C" EFI_STATUS EFIAPI
OnStatusCode (
  IN EFI_STATUS_CODE_TYPE  CodeType,
  IN EFI_STATUS_CODE_VALUE Value,
  IN UINT32                Instance,
  IN EFI_GUID             *CallerId,
  IN EFI_STATUS_CODE_DATA *Data
)
{
  if ((CallerId == nullptr) || !CompareGuid (CallerId, &kEarlyVideoCallerId)) {
    mPlatform.OtherStatusCodes++;
    return EFI_SUCCESS;
  }

  EMULATED_STATUS_CODE &Record = mPlatform.StatusCodes[mPlatform.StatusCodeCount % mPlatform.StatusCodeCapacity];
  ZeroMem (&Record, sizeof (Record));
  Record.Type     = CodeType;
  Record.Value    = Value;
  Record.Instance = Instance;

  if (Data != nullptr) {
    const UINT8 *Extended = reinterpret_cast<const UINT8 *> (Data) + Data->HeaderSize;
    CopyGuid (&Record.DataType, &Data->Type);
    Record.DataSize = Data->Size;
    Record.RawSize  = MIN ((UINT32)Data->Size, (UINT32)sizeof (Record.Raw));
    CopyMem (Record.Raw, Extended, Record.RawSize);

    if (CompareGuid (&Data->Type, &gDebugPrintMarkerDataGuid)) {
      KeepDebugMessage (Record, Extended, Data->Size);
    } else if ((CodeType & EFI_STATUS_CODE_TYPE_MASK) == EFI_ERROR_CODE) {
      KeepAssertion (Record, Extended, Data->Size);
    }
  }

  mPlatform.StatusCodeCount++;
  return EFI_SUCCESS;
}

/// A boot-services listener must leave the router before boot services end.
extern "C" VOID EFIAPI
OnExitBootServices (IN EFI_EVENT Event, IN VOID *Context)
{
  mRscHandler->Unregister (OnStatusCode);
  mPlatform.ListenerRegistered = FALSE;
}

} // namespace

EFI_STATUS
RegisterStatusCodeListener (VOID)
{
  EFI_STATUS Status =
    gBS->LocateProtocol (&gEfiRscHandlerProtocolGuid, nullptr, reinterpret_cast<VOID **> (&mRscHandler));

  if (EFI_ERROR (Status)) {
    return Status;
  }

  mPlatform.StatusCodes =
    static_cast<EMULATED_STATUS_CODE *> (AllocateZeroPool (kStatusCodeCapacity * sizeof (EMULATED_STATUS_CODE)));
  mPlatform.StatusCodeCapacity = kStatusCodeCapacity;
  if (mPlatform.StatusCodes == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }

  Status = gBS->CreateEventEx (
    EVT_NOTIFY_SIGNAL, TPL_CALLBACK, OnExitBootServices, nullptr, &gEfiEventExitBootServicesGuid,
    &mExitBootServicesEvent
  );
  if (!EFI_ERROR (Status)) {
    Status = mRscHandler->Register (OnStatusCode, TPL_HIGH_LEVEL);
    if (EFI_ERROR (Status)) {
      gBS->CloseEvent (mExitBootServicesEvent);
    }
  }

  if (EFI_ERROR (Status)) {
    FreePool (mPlatform.StatusCodes);
    mPlatform.StatusCodes = nullptr;
    return Status;
  }

  mPlatform.ListenerRegistered = TRUE;
  return EFI_SUCCESS;
}
