/** @file
  Start/Stop cycles: the controller is connected and disconnected over and
  over through the firmware's connect logic and its two-phase disconnect
  (children first, then the controller). No cycle may leave pool, pages or
  handles behind.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "GopPlatform.h"

TEST (GopStartStopCycles, ConnectDisconnectCyclesLeaveNothingBehind)
{
  GOP_PLATFORM Platform;
  const UINTN  Cycles = SweepSize (100, 1000);
  const UINT64 Mark   = Platform.Model.Memory.Mark ();
  const UINTN  Pool   = Platform.Model.Memory.OutstandingPoolBytes ();

  for (UINTN Cycle = 0; Cycle < Cycles; Cycle++) {
    const std::string Where = "cycle " + std::to_string (Cycle);

    ASSERT_EQ (Platform.Model.ConnectController (Platform.Controller), EFI_SUCCESS) << Where;
    ASSERT_NE (Platform.Gop (), nullptr) << Where;
    ASSERT_EQ (Platform.Model.ChildrenOf (Platform.Controller).size (), 1u) << Where;
    ASSERT_EQ (Platform.Model.DisconnectController (Platform.Controller), EFI_SUCCESS) << Where;

    ASSERT_EQ (Platform.Model.Memory.OutstandingPoolBytes (), Pool) << Where << ": pool grew";
    ASSERT_EQ (Platform.Model.Memory.LeakReport (Mark), "") << Where;
    ASSERT_EQ (Platform.Gop (), nullptr) << Where;
    ASSERT_TRUE (Platform.Model.ChildrenOf (Platform.Controller).empty ()) << Where;
    ASSERT_EQ (Platform.Model.HandlesWith (gEfiDevicePathProtocolGuid).size (), Platform.DevicePathHandles) << Where;
    ASSERT_EQ (Platform.DriverOpens (), 0u) << Where;

    //
    // The logs would grow with every cycle; they are not what is measured.
    //
    Platform.Model.Controller.ClearLogs ();
    Platform.Model.Ports.ClearLogs ();
    Platform.Model.Ports.Uart.ClearText ();
  }

  SweepReport ("GopStartStopCycles", "connect/disconnect cycles", Cycles);
}

int gGopStartStopCyclesFile = 1; // named by main, see GopReliabilityMain.cpp
