/** @file
  One line per check, "PASS: road: <name>" or "FAIL: road: <name> -- <why>",
  which the host script counts; and the snapshot handshake with the host.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "RoadCheck.h"

extern "C" {
#include <Library/PrintLib.h>
#include <Library/SerialPortLib.h>
}

namespace {

UINTN   mPassed;
UINTN   mFailed;
BOOLEAN mSerialOnly;

/// One report line, on the console or, while the screen is under test,
/// straight to the serial port (where the host reads it anyway).
VOID
Emit (IN CONST CHAR8 *Line)
{
  if (mSerialOnly) {
    SerialPortWrite (reinterpret_cast<UINT8 *> (const_cast<CHAR8 *> (Line)), AsciiStrLen (Line));
    SerialPortWrite (reinterpret_cast<UINT8 *> (const_cast<CHAR8 *> ("\r\n")), 2);
  } else {
    AsciiPrint ("%a\n", Line);
  }
}

/// How long a snapshot waits for the host to say it has captured the screen.
constexpr UINT64 kSnapshotTimeout = 600ULL * 10 * 1000 * 1000; // 10 minutes in 100 ns units

} // namespace

BOOLEAN
EFIAPI
Check (IN CONST CHAR8 *Name, IN BOOLEAN Passed, IN CONST CHAR8 *DetailFormat, ...)
{
  CHAR8 Line[384];

  if (Passed) {
    mPassed++;
    AsciiSPrint (Line, sizeof (Line), "PASS: road: %a", Name);
    Emit (Line);
    return TRUE;
  }

  CHAR8   Detail[256];
  VA_LIST Marker;
  VA_START (Marker, DetailFormat);
  AsciiVSPrint (Detail, sizeof (Detail), DetailFormat, Marker);
  VA_END (Marker);

  mFailed++;
  AsciiSPrint (Line, sizeof (Line), "FAIL: road: %a -- %a", Name, Detail);
  Emit (Line);
  return FALSE;
}

/// Information that is not a check (counts, what the firmware chose).
VOID EFIAPI
Note (IN CONST CHAR8 *Format, ...)
{
  CHAR8   Text[256];
  VA_LIST Marker;
  VA_START (Marker, Format);
  AsciiVSPrint (Text, sizeof (Text), Format, Marker);
  VA_END (Marker);
  CHAR8 Line[288];
  AsciiSPrint (Line, sizeof (Line), "NOTE: road: %a", Text);
  Emit (Line);
}

VOID
ReportToSerialOnly (IN BOOLEAN SerialOnly)
{
  mSerialOnly = SerialOnly;
}

UINTN
FailedChecks (VOID)
{
  return mFailed;
}

UINTN
PassedChecks (VOID)
{
  return mPassed;
}

/**
  Tells the host what to capture ("screen", or "memory <base> <width>
  <height>" for a 32-bit frame in memory) and, when a host is there, waits
  until it answers with one key press, so the picture is the one named.
**/
VOID
Snapshot (IN ROAD &Road, IN CONST CHAR8 *Name, IN CONST CHAR8 *What)
{
  //
  // A key pressed before this snapshot (one left over from an earlier wait)
  // must not answer it: drop what is pending first.
  //
  EFI_INPUT_KEY Pending;
  while (Road.WaitForSnapshots && !EFI_ERROR (gST->ConIn->ReadKeyStroke (gST->ConIn, &Pending))) {
  }

  //
  // Straight to the serial port, where the host reads it, so that the line
  // stays off the screen being captured. The closing " ;" tells the host
  // that the whole line has arrived.
  //
  CHAR8 Line[128];
  UINTN Length = AsciiSPrint (Line, sizeof (Line), "\r\nROAD-SNAP %a %a ;\r\n", Name, What);
  SerialPortWrite (reinterpret_cast<UINT8 *> (Line), Length);
  if (!Road.WaitForSnapshots) {
    return;
  }

  EFI_EVENT Timer;
  if (EFI_ERROR (gBS->CreateEvent (EVT_TIMER, TPL_CALLBACK, nullptr, nullptr, &Timer))) {
    return;
  }

  gBS->SetTimer (Timer, TimerRelative, kSnapshotTimeout);
  EFI_EVENT Events[] = { gST->ConIn->WaitForKey, Timer };
  UINTN     Index;
  gBS->WaitForEvent (2, Events, &Index);
  gBS->CloseEvent (Timer);

  EFI_INPUT_KEY Key;
  while (!EFI_ERROR (gST->ConIn->ReadKeyStroke (gST->ConIn, &Key))) {
  }

  if (Index != 0) {
    Note ("snapshot %a: no answer from the host", Name);
  }
}
