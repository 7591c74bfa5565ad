/** @file
  Host tests of Prelumen: the test program's main.

  The test files reach the link through the module's static library, which
  keeps only the objects that something refers to, so main refers to one
  anchor in each of them; their tests then register themselves.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include <gtest/gtest.h>

extern int Font8x16TestAnchor;
extern int PrelumenEntryTestAnchor;

int
main (int argc, char *argv[])
{
  Font8x16TestAnchor      = 0;
  PrelumenEntryTestAnchor = 0;

  testing::InitGoogleTest (&argc, argv);
  return RUN_ALL_TESTS ();
}
