/** @file
  The serial DebugLib as the UART sees it, with the driver's settings (print
  level 0x80000042, assertions followed by the endless loop): the exact
  assertion text, the 256-byte message limit, the level filter, and what an
  assertion does under each property mask.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include <HostModel.h>
#include <string>

extern "C" {
#include <Library/DebugLib.h>
#include <Library/PcdLib.h>
}

namespace {

class SerialDebugLibTest : public HOST_MODEL_TEST {
protected:
  void
  SetUp () override
  {
    PatchPcdSet8 (PcdDebugPropertyMask, 0x23);
    ASSERT_EQ (Model.StartModule (HOST_MODEL::EmptyEntryPoint), EFI_SUCCESS);
    Model.Ports.Uart.ClearText ();
  }

  const std::string &
  Serial ()
  {
    return Model.Ports.Uart.Text ();
  }
};

TEST_F (SerialDebugLibTest, ConstructorSetsUpTheUart)
{
  EXPECT_EQ (Model.Ports.Uart.Divisor (), 1);
  EXPECT_EQ (Model.Ports.Uart.LineControl (), 0x03);
  EXPECT_EQ (Model.Ports.Uart.FifoControl () & 0x01, 0x01);
  EXPECT_EQ (Model.Ports.Uart.ModemControl (), 0);
}

TEST_F (SerialDebugLibTest, AssertionPrintsFileLineAndExpressionThenLoops)
{
  EXPECT_TRUE (Model.ExpectDeadLoop ([] { DebugAssert ("Driver/UefiTvx.cpp", 546, "CR has Bad Signature"); }));
  EXPECT_EQ (Serial (), "ASSERT Driver/UefiTvx.cpp(546): CR has Bad Signature\r\n");
  EXPECT_EQ (Model.DeadLoops (), 1u);
}

TEST_F (SerialDebugLibTest, AssertionFollowsThePropertyMask)
{
  // Breakpoint first when asked for; the dead loop is not reached then.
  Model.AllowBreakpoints (TRUE);
  PatchPcdSet8 (PcdDebugPropertyMask, 0x33);
  DebugAssert ("A.c", 1, "x");
  EXPECT_EQ (Model.Breakpoints (), 1u);
  EXPECT_EQ (Model.DeadLoops (), 0u);

  // Neither bit: print and return.
  PatchPcdSet8 (PcdDebugPropertyMask, 0x03);
  DebugAssert ("A.c", 2, "y");
  EXPECT_EQ (Model.Breakpoints (), 1u);
  EXPECT_EQ (Model.DeadLoops (), 0u);
  EXPECT_EQ (Serial (), "ASSERT A.c(1): x\r\nASSERT A.c(2): y\r\n");
}

TEST_F (SerialDebugLibTest, OverlongTextIsCutToTheBuffer)
{
  std::string Long (300, 'm');

  DebugPrint (DEBUG_ERROR, "%a\n", Long.c_str ());
  EXPECT_EQ (Serial (), std::string (255, 'm')) << "255 characters and the terminator, the line end cut off";

  Model.Ports.Uart.ClearText ();
  EXPECT_TRUE (Model.ExpectDeadLoop ([&] { DebugAssert ("F.c", 7, Long.c_str ()); }));
  EXPECT_EQ (Serial (), "ASSERT F.c(7): " + std::string (255 - 15, 'm'));
}

TEST_F (SerialDebugLibTest, MessagePrintsOnlyWhenItsLevelSharesABitWith0x80000042)
{
  DebugPrint (DEBUG_ERROR, "line:%d,Status:%r\n", 276, EFI_OUT_OF_RESOURCES);
  DebugPrint (DEBUG_WARN, "w");
  DebugPrint (DEBUG_INFO, "i");
  DebugPrint (DEBUG_INIT, "init");
  DebugPrint (DEBUG_LOAD, "load");
  DebugPrint (DEBUG_VERBOSE, "verbose");
  DebugPrint (DEBUG_INFO | DEBUG_VERBOSE, "+");
  EXPECT_EQ (Serial (), "line:276,Status:Out of Resources\r\nwi+");
}

TEST_F (SerialDebugLibTest, NullFormatIsAnAssertionAndPrintsNothingElse)
{
  PatchPcdSet8 (PcdDebugPropertyMask, 0x03);
  DebugPrint (DEBUG_ERROR, nullptr);
  EXPECT_NE (Serial ().find ("): Format != ((void *) 0)\r\n"), std::string::npos) << Serial ();
  EXPECT_EQ (Serial ().rfind ("ASSERT ", 0), 0u) << Serial ();
}

} // namespace

int
main (int argc, char *argv[])
{
  testing::InitGoogleTest (&argc, argv);
  return RUN_ALL_TESTS ();
}
