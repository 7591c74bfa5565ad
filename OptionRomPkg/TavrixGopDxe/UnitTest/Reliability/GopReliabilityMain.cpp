/** @file
  Entry of the TavrixGopDxe sweeps.

  The module's objects reach the link through an archive, which takes a
  member only when it defines a symbol that is needed: main names one symbol
  of each sweep file, or its tests would silently be left out.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include <gtest/gtest.h>

extern int gGopFaultSweepFile;
extern int gGopStartStopCyclesFile;
extern int gGopBltSweepFile;

int
main (int Argc, char **Argv)
{
  volatile int Files = gGopFaultSweepFile + gGopStartStopCyclesFile + gGopBltSweepFile;

  (void)Files;
  testing::InitGoogleTest (&Argc, Argv);
  return RUN_ALL_TESTS ();
}
