/** @file
  Prelumen's status codes on the serial port.

  Registered with the firmware's status-code router at TPL_HIGH_LEVEL, so
  the router calls it inside each report: a debug-message record points into
  the reporting caller's frame (format string and arguments) and must be
  formatted before the report returns; a listener at a lower TPL would be
  called later, from a copy, when those pointers are stale. At that level
  nothing is allocated: the line is formatted on the stack and written to
  the 16550 UART through SerialPortLib, beside TavrixGopDxe's output.

  A boot-services listener leaves the router before boot services end.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "PlatformEarlyDisplayDxe.h"

#include <Guid/EventGroup.h>
#include <Library/EarlyVideoStatusCodeRenderLib.h>
#include <Library/SerialPortLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Protocol/ReportStatusCodeHandler.h>

#define LINE_SIZE  256

STATIC EFI_RSC_HANDLER_PROTOCOL  *mRscHandler;
STATIC EFI_EVENT                 mExitBootServicesEvent;

STATIC
EFI_STATUS
EFIAPI
OnStatusCode (
  IN EFI_STATUS_CODE_TYPE   CodeType,
  IN EFI_STATUS_CODE_VALUE  Value,
  IN UINT32                 Instance,
  IN EFI_GUID               *CallerId,
  IN EFI_STATUS_CODE_DATA   *Data
  )
{
  CHAR8  Line[LINE_SIZE];
  UINTN  Length;

  Length = RenderEarlyVideoStatusCode (CodeType, Value, Data, Line, sizeof (Line));
  if (Length > 0) {
    SerialPortWrite ((UINT8 *)Line, Length);
  }

  return EFI_SUCCESS;
}

STATIC
VOID
EFIAPI
OnExitBootServices (
  IN EFI_EVENT  Event,
  IN VOID       *Context
  )
{
  mRscHandler->Unregister (OnStatusCode);
}

EFI_STATUS
RegisterStatusCodeListener (
  VOID
  )
{
  EFI_STATUS  Status;

  Status = gBS->LocateProtocol (&gEfiRscHandlerProtocolGuid, NULL, (VOID **)&mRscHandler);
  if (EFI_ERROR (Status)) {
    return Status;
  }

  Status = gBS->CreateEventEx (
                  EVT_NOTIFY_SIGNAL,
                  TPL_CALLBACK,
                  OnExitBootServices,
                  NULL,
                  &gEfiEventExitBootServicesGuid,
                  &mExitBootServicesEvent
                  );
  if (EFI_ERROR (Status)) {
    return Status;
  }

  Status = mRscHandler->Register (OnStatusCode, TPL_HIGH_LEVEL);
  if (EFI_ERROR (Status)) {
    gBS->CloseEvent (mExitBootServicesEvent);
  }

  return Status;
}

VOID
UnregisterStatusCodeListener (
  VOID
  )
{
  mRscHandler->Unregister (OnStatusCode);
  gBS->CloseEvent (mExitBootServicesEvent);
}
