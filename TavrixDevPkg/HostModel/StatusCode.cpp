/** @file
  The Status Code Runtime protocol: a listener that records every report.

  A debug-message record carries only pointers to the reporter's format
  string and arguments, valid during the call; it is formatted here, then.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "HostModelInternal.h"

#include <algorithm>

extern "C" {
#include <Library/PrintLib.h>
}

namespace {

/// DEBUG_PRINT_MARKER_DATA as the reporter lays it out.
struct PRINT_MARKER {
  UINT64       ErrorLevel;
  CONST CHAR8 *Format;
  VOID        *VaListMarker;
  VOID        *BaseListMarker;
};

std::string
FormatMarker (const EFI_STATUS_CODE_DATA *Data)
{
  if (Data->Size < sizeof (PRINT_MARKER)) {
    return "";
  }

  PRINT_MARKER Marker;
  CHAR8        Text[1024];

  //
  // The record sits behind the 20-byte header, so it is not 8-aligned.
  //
  CopyMem (&Marker, (const UINT8 *)Data + Data->HeaderSize, sizeof (Marker));
  if (Marker.Format == nullptr) {
    return "";
  }

  if (Marker.BaseListMarker != nullptr) {
    AsciiBSPrint (Text, sizeof (Text), Marker.Format, (BASE_LIST)Marker.BaseListMarker);
  } else {
    //
    // The marker points at the reporter's first variable argument slot: an
    // x64 (EFIAPI) argument list, which is what VA_LIST walks.
    //
    AsciiVSPrint (Text, sizeof (Text), Marker.Format, (VA_LIST)Marker.VaListMarker);
  }

  //
  // PrintLib writes every line end as CR LF; keep the text as the format has it.
  //
  std::string Message (Text);

  for (size_t At = Message.find ("\r\n"); At != std::string::npos; At = Message.find ("\r\n", At)) {
    Message.erase (At, 1);
  }

  return Message;
}

EFI_STATUS
EFIAPI
ReportStatusCode (
  IN EFI_STATUS_CODE_TYPE  Type,
  IN EFI_STATUS_CODE_VALUE Value,
  IN UINT32                Instance,
  IN EFI_GUID             *CallerId OPTIONAL,
  IN EFI_STATUS_CODE_DATA *Data OPTIONAL
)
{
  HOST_MODEL        &Model  = HOST_MODEL::Current ();
  STATUS_CODE_RECORD Record = {};

  if (!Model.StatusCodes.Installed ()) {
    ADD_FAILURE () << "the status code protocol was called after it was uninstalled (through a cached pointer?)";
    return EFI_UNSUPPORTED;
  }

  Record.Sequence    = Model.NextSequence ();
  Record.Type        = Type;
  Record.Value       = Value;
  Record.Instance    = Instance;
  Record.HasCallerId = CallerId != nullptr;
  Record.Tpl         = Model.CurrentTpl ();
  if (CallerId != nullptr) {
    Record.CallerId = *CallerId;
  }

  if (Data != nullptr) {
    const UINT8 *Bytes = (const UINT8 *)Data + Data->HeaderSize;

    Record.HasData  = TRUE;
    Record.DataType = Data->Type;
    Record.Data.assign (Bytes, Bytes + Data->Size);
    if (CompareGuid (&Data->Type, &gDebugPrintMarkerDataGuid)) {
      Record.Message = FormatMarker (Data);
    }
  }

  Model.StatusCodes.Record (std::move (Record));
  return EFI_SUCCESS;
}

EFI_STATUS_CODE_PROTOCOL mStatusCode = { ReportStatusCode };

} // namespace

void
STATUS_CODE_LISTENER::Install ()
{
  if (mHandle == nullptr) {
    mHandle = HOST_MODEL::Current ().InstallProtocol (nullptr, gEfiStatusCodeRuntimeProtocolGuid, &mStatusCode);
  }
}

void
STATUS_CODE_LISTENER::Uninstall ()
{
  if (mHandle != nullptr) {
    EFI_STATUS Status = HOST_MODEL::Current ().BootServices ()->UninstallProtocolInterface (
      mHandle, &gEfiStatusCodeRuntimeProtocolGuid, &mStatusCode
    );
    EXPECT_EQ (Status, EFI_SUCCESS);
    mHandle = nullptr;
  }
}

std::vector<std::string>
STATUS_CODE_LISTENER::Messages () const
{
  std::vector<std::string> Texts;

  for (const STATUS_CODE_RECORD &Record : mRecords) {
    if (Record.HasData && CompareGuid (&Record.DataType, &gDebugPrintMarkerDataGuid)) {
      Texts.push_back (Record.Message);
    }
  }

  return Texts;
}

std::vector<STATUS_CODE_LISTENER::ASSERTION>
STATUS_CODE_LISTENER::Assertions () const
{
  std::vector<ASSERTION> Found;

  for (const STATUS_CODE_RECORD &Record : mRecords) {
    if ((Record.Type != STATUS_CODE_ASSERT_TYPE) || (Record.Data.size () <= 40)) {
      continue;
    }

    // Bounded by the record: a record without its terminators still ends.
    const char  *File        = reinterpret_cast<const char *> (Record.Data.data ()) + 40;
    const char  *End         = File + Record.Data.size () - 40;
    const size_t FileLength  = strnlen (File, End - File);
    const char  *Description = File + std::min<size_t> (FileLength + 1, End - File);

    Found.push_back ({ std::string (File, FileLength),
                       std::string (Description, strnlen (Description, End - Description)) });
  }

  return Found;
}
