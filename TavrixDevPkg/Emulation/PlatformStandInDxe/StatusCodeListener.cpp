/** @file
  Status-code listener: keeps the early video driver's assertion and
  debug-message records.

  Registered with the firmware's status-code router at TPL_HIGH_LEVEL, so it
  runs inside the report call: a debug message's record points into the
  reporting caller's frame (format string and arguments) and must be
  formatted before the call returns. The text comes from the reference
  platform's renderer, which its listener prints. At that level nothing may
  be allocated; records go into a ring allocated up front.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "PlatformStandIn.h"

extern "C" {
#include <Guid/DebugPrintMarkerData.h>
#include <Guid/EventGroup.h>
#include <Library/EarlyVideoStatusCodeRenderLib.h>
#include <Protocol/ReportStatusCodeHandler.h>
}

namespace {

constexpr UINT32 kStatusCodeCapacity = 512;

/// Caller GUID of every status code the early video driver reports.
constexpr EFI_GUID kEarlyVideoCallerId = { 0x847FF339,
                                           0x9457,
                                           0x428D,
                                           { 0xB0, 0x79, 0xDB, 0xAD, 0x06, 0x6A, 0xED, 0xB7 } };

constexpr UINTN kAssertLineOffset = 20; // LineNumber in EFI_DEBUG_ASSERT_DATA

EFI_RSC_HANDLER_PROTOCOL *mRscHandler;
EFI_EVENT                 mExitBootServicesEvent;

/**
  The record's text as the reference platform's renderer makes it, kept as
  one line without its line end and, for an assertion, without the "ASSERT "
  in front: "<tag and file>(<line>): <expression>".
**/
VOID
KeepText (
  EMULATED_STATUS_CODE       &Record,
  EFI_STATUS_CODE_TYPE        CodeType,
  EFI_STATUS_CODE_VALUE       Value,
  const EFI_STATUS_CODE_DATA *Data
)
{
  constexpr CHAR8 kAssertPrefix[] = "ASSERT ";
  CHAR8           Line[sizeof (Record.Text) + sizeof (kAssertPrefix)];
  UINTN           Length = RenderEarlyVideoStatusCode (CodeType, Value, Data, Line, sizeof (Line));

  while (Length > 0 && (Line[Length - 1] == '\n' || Line[Length - 1] == '\r')) {
    Line[--Length] = '\0';
  }

  const UINTN Skip =
    (AsciiStrnCmp (Line, kAssertPrefix, sizeof (kAssertPrefix) - 1) == 0) ? sizeof (kAssertPrefix) - 1 : 0;
  AsciiStrnCpyS (Record.Text, sizeof (Record.Text), Line + Skip, MIN (Length - Skip, sizeof (Record.Text) - 1));
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

    //
    // The extended data follows the 20-byte status-code header, so it is
    // only 4-byte aligned: fields are read unaligned.
    //
    if (CompareGuid (&Data->Type, &gDebugPrintMarkerDataGuid) && (Data->Size >= sizeof (DEBUG_PRINT_MARKER_DATA))) {
      Record.ErrorLevel =
        ReadUnaligned32 (reinterpret_cast<const UINT32 *> (Extended + OFFSET_OF (DEBUG_PRINT_MARKER_DATA, ErrorLevel)));
    } else if (((CodeType & EFI_STATUS_CODE_TYPE_MASK) == EFI_ERROR_CODE) && (Data->Size >= kAssertLineOffset + 4)) {
      Record.LineNumber = ReadUnaligned32 (reinterpret_cast<const UINT32 *> (Extended + kAssertLineOffset));
    }

    KeepText (Record, CodeType, Value, Data);
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
