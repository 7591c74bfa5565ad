/** @file
  The status-code DebugLib as a listener sees it: assertion records byte for
  byte, debug-message records and their rendering, the two gates a message
  passes, the report-status-code property mask, and what an assertion does
  after reporting under each debug property mask.

  The module runs on the host model with Prelumen's library set: this
  DebugLib, the error-level policy, EDK II's DxeReportStatusCodeLib and the
  AsciiStrLen override. gEfiCallerBaseName is set to "Prelumen" so that the
  records carry the same module tag as in the firmware.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include <HostModel.h>
#include <cstring>
#include <regex>
#include <string>
#include "../../DxeDebugPrintErrorLevelLib/DxeDebugPrintErrorLevelLibInternal.h"

extern "C" {
#include <Guid/StatusCodeDataTypeId.h>
#include <Guid/DebugPrintMarkerData.h>
#include <Library/BaseMemoryLib.h>
#include <Library/DebugLib.h>
#include <Library/DebugPrintErrorLevelLib.h>
#include <Library/PcdLib.h>
}

namespace {

constexpr UINTN  HEADER_SIZE           = 40;
constexpr UINT32 ALL_BUT_POOL_AND_PAGE = 0xFFFFFFCF;

/// A string of Size bytes with its terminator: Size - 1 copies of Fill.
std::string
StringOfSize (UINTN Size, char Fill)
{
  return std::string (Size - 1, Fill);
}

UINT32
ReadUint32 (const std::vector<UINT8> &Data, UINTN Offset)
{
  UINT32 Value;

  memcpy (&Value, &Data[Offset], sizeof (Value));
  return Value;
}

class DebugLibTest : public PRELUMEN_REPORTER_TEST {
protected:
  void
  SetUp () override
  {
    PRELUMEN_REPORTER_TEST::SetUp ();
    DebugPrintErrorLevel::mSystemTable           = nullptr;
    DebugPrintErrorLevel::mDebugPrintErrorLevel  = 0;
    DebugPrintErrorLevel::mVariablesRead         = FALSE;
    DebugPrintErrorLevel::mExitBootServicesEvent = nullptr;
    DebugPrintErrorLevel::mBootServicesExited    = FALSE;

    PatchPcdSet8 (PcdDebugPropertyMask, 0x07);
    PatchPcdSet8 (PcdReportStatusCodePropertyMask, 0x07);
    ASSERT_EQ (StartReporter ({ DxeDebugPrintErrorLevelLibConstructor }), EFI_SUCCESS);
    SetRunTimeLevel (ALL_BUT_POOL_AND_PAGE);
    Model.StatusCodes.Clear ();
  }

  /// Settles the run-time level of the error-level policy at Level.
  void
  SetRunTimeLevel (UINT32 Level)
  {
    EFI_DEBUG_MASK_PROTOCOL *Mask =
      (EFI_DEBUG_MASK_PROTOCOL *)Model.FindProtocol (Model.ImageHandle (), gEfiDebugMaskProtocolGuid);

    ASSERT_NE (Mask, nullptr);
    ASSERT_EQ (Mask->SetDebugMask (Mask, Level), EFI_SUCCESS);
    ASSERT_EQ (GetDebugPrintErrorLevel (), Level);
  }

  const STATUS_CODE_RECORD &
  OnlyRecord ()
  {
    EXPECT_EQ (Model.StatusCodes.Records ().size (), 1u);
    return Model.StatusCodes.Records ().back ();
  }

  /// The text behind the 40-byte header of an assertion record.
  static std::string
  AssertText (const STATUS_CODE_RECORD &Record)
  {
    return std::string (Record.Data.begin () + HEADER_SIZE, Record.Data.end ());
  }

  /// The description of an assertion record: the string behind the file name.
  static std::string
  Description (const STATUS_CODE_RECORD &Record)
  {
    const std::string Text = AssertText (Record);

    return std::string (Text.c_str () + strlen (Text.c_str ()) + 1);
  }
};

//
// Assertion records.
//

TEST_F (DebugLibTest, AssertionRecordCarriesTagFileNameAndDescription)
{
  DebugAssert ("Dir/File.c", 1234, "Expression != 0");

  const STATUS_CODE_RECORD &Record = OnlyRecord ();

  EXPECT_EQ (Record.Type, STATUS_CODE_ASSERT_TYPE);
  EXPECT_EQ (Record.Value, STATUS_CODE_ASSERT_VALUE);
  EXPECT_EQ (Record.Instance, 0u);
  ASSERT_TRUE (Record.HasCallerId);
  EXPECT_TRUE (CompareGuid (&Record.CallerId, &gEfiCallerIdGuid));
  ASSERT_TRUE (Record.HasData);
  EXPECT_TRUE (CompareGuid (&Record.DataType, &gEfiStatusCodeSpecificDataGuid));

  ASSERT_EQ (Record.Data.size (), HEADER_SIZE + 11 + sizeof ("Dir/File.c") + sizeof ("Expression != 0"));
  EXPECT_EQ (ReadUint32 (Record.Data, 20), 1234u);
  for (UINTN Offset = 0; Offset < HEADER_SIZE; Offset++) {
    if ((Offset < 20) || (Offset >= 24)) {
      EXPECT_EQ (Record.Data[Offset], 0) << "header byte " << Offset;
    }
  }

  EXPECT_EQ (AssertText (Record), std::string ("[Prelumen] Dir/File.c\0Expression != 0\0", 38));
}

TEST_F (DebugLibTest, AssertionRecordOfOneByteTooManyDropsTheTag)
{
  // 40 + 11 + 100 + 50 = 201.
  const std::string FileName    = StringOfSize (100, 'f');
  const std::string Description = StringOfSize (50, 'd');

  DebugAssert (FileName.c_str (), 7, Description.c_str ());

  const STATUS_CODE_RECORD &Record = OnlyRecord ();

  ASSERT_EQ (Record.Data.size (), HEADER_SIZE + 100 + 50);
  EXPECT_EQ (AssertText (Record), FileName + std::string (1, '\0') + Description + std::string (1, '\0'));
}

TEST_F (DebugLibTest, AssertionRecordCutsTheDescriptionToWhatTheFileNameLeaves)
{
  const std::string FileName    = StringOfSize (150, 'f');
  const std::string Description = StringOfSize (80, 'd');

  DebugAssert (FileName.c_str (), 7, Description.c_str ());

  const STATUS_CODE_RECORD &Record = OnlyRecord ();

  ASSERT_EQ (Record.Data.size (), 200u);
  EXPECT_EQ (AssertText (Record), FileName + std::string (1, '\0') + std::string (9, 'd') + std::string (1, '\0'));
}

TEST_F (DebugLibTest, AssertionRecordCutsALongFileNameAndEmptiesTheDescription)
{
  for (UINTN FileNameSize : { 160, 161, 400 }) {
    const std::string FileName = StringOfSize (FileNameSize, 'f');

    Model.StatusCodes.Clear ();
    DebugAssert (FileName.c_str (), 7, "Description");

    const STATUS_CODE_RECORD &Record = OnlyRecord ();

    ASSERT_EQ (Record.Data.size (), 200u) << "file name of " << FileNameSize << " bytes";
    EXPECT_EQ (AssertText (Record), std::string (158, 'f') + std::string (2, '\0'));
  }
}

TEST_F (DebugLibTest, AssertionWithoutNamesReportsPlaceholders)
{
  DebugAssert (nullptr, 3, nullptr);

  const STATUS_CODE_RECORD &Record = OnlyRecord ();

  EXPECT_EQ (AssertText (Record), std::string ("[Prelumen] (NULL) Filename\0(NULL) Description\0", 46));
}

TEST_F (DebugLibTest, AssertMacroReportsTheSourceLineAndExpression)
{
  const UINTN Line = __LINE__ + 1;
  ASSERT (Model.StatusCodes.Records ().size () == 42);

  const STATUS_CODE_RECORD &Record = OnlyRecord ();
  const std::string         Text   = AssertText (Record);

  EXPECT_EQ (ReadUint32 (Record.Data, 20), Line);
  // __FILE__ is the compiled path, so whether the module tag still fits depends
  // on where the tree is checked out: expect it exactly when the tag, the path
  // and the expression (each with its terminator) fit in the record's text.
  const std::string Expression = "Model.StatusCodes.Records ().size () == 42";
  const bool        TagFits    = sizeof ("[Prelumen] ") + sizeof (__FILE__) + Expression.size () <= 200 - HEADER_SIZE;
  EXPECT_EQ (Text.rfind ("[Prelumen] ", 0) == 0, TagFits);
  EXPECT_NE (Text.find ("DebugLibTest.cpp"), std::string::npos);
  EXPECT_EQ (Description (Record), Expression);
}

TEST_F (DebugLibTest, ErrorCodeGateDecidesWhetherAssertionsAreReported)
{
  PatchPcdSet8 (PcdReportStatusCodePropertyMask, 0x05);
  DebugAssert ("File.c", 1, "Closed");
  EXPECT_TRUE (Model.StatusCodes.Records ().empty ());

  PatchPcdSet8 (PcdReportStatusCodePropertyMask, 0x02);
  DebugAssert ("File.c", 2, "Open");
  EXPECT_EQ (Model.StatusCodes.Records ().size (), 1u);
}

TEST_F (DebugLibTest, ReportsWithoutAListenerAreDroppedUntilOneArrives)
{
  Model.StatusCodes.Uninstall ();
  DebugAssert ("File.c", 1, "Nobody listens");
  DEBUG ((DEBUG_ERROR, "nobody listens\n"));
  EXPECT_TRUE (Model.StatusCodes.Records ().empty ());

  Model.StatusCodes.Install ();
  DEBUG ((DEBUG_ERROR, "heard\n"));
  EXPECT_EQ (Model.StatusCodes.Messages (), std::vector<std::string> ({ "heard\n" }));
}

//
// What an assertion does after reporting.
//

TEST_F (DebugLibTest, AssertionReturnsToItsCallerUnderPropertyMask07)
{
  DebugAssert ("File.c", 1, "Continue");

  EXPECT_EQ (Model.StatusCodes.Records ().size (), 1u);
  EXPECT_EQ (Model.Breakpoints (), 0u);
  EXPECT_EQ (Model.DeadLoops (), 0u);
}

TEST_F (DebugLibTest, AssertionBreaksAndReturnsUnderPropertyMask30)
{
  PatchPcdSet8 (PcdDebugPropertyMask, 0x30);
  Model.AllowBreakpoints (TRUE);

  DebugAssert ("File.c", 1, "Break");

  EXPECT_EQ (Model.StatusCodes.Records ().size (), 1u);
  EXPECT_EQ (Model.Breakpoints (), 1u);
  EXPECT_EQ (Model.DeadLoops (), 0u);
}

TEST_F (DebugLibTest, AssertionLoopsForeverUnderPropertyMask22AfterSayingWhy)
{
  PatchPcdSet8 (PcdDebugPropertyMask, 0x22);

  EXPECT_TRUE (Model.ExpectDeadLoop ([] { DebugAssert ("File.c", 1, "Stop"); }));

  ASSERT_EQ (Model.StatusCodes.Records ().size (), 2u);
  EXPECT_EQ (Model.StatusCodes.Records ()[0].Type, STATUS_CODE_ASSERT_TYPE);

  const STATUS_CODE_RECORD &Why = Model.StatusCodes.Records ()[1];

  EXPECT_EQ (Why.Type, STATUS_CODE_MESSAGE_TYPE);
  EXPECT_EQ (ReadUint32 (Why.Data, 0), 0x00800000u);
  EXPECT_TRUE (std::regex_match (
    Why.Message,
    std::regex ("\n Line:\\([0-9]+\\)--Funname:\\[DebugAssert\\] PcdGet8\\(PcdDebugPropertyMask\\) == 0x22\n")
  )) << Why.Message;
  EXPECT_EQ (Model.Breakpoints (), 0u);
}

TEST_F (DebugLibTest, DeadLoopLineFollowsTheRunTimeLevel)
{
  PatchPcdSet8 (PcdDebugPropertyMask, 0x22);
  SetRunTimeLevel (DEBUG_ERROR);

  EXPECT_TRUE (Model.ExpectDeadLoop ([] { DebugAssert ("File.c", 1, "Stop"); }));

  ASSERT_EQ (Model.StatusCodes.Records ().size (), 1u);
  EXPECT_EQ (Model.StatusCodes.Records ()[0].Type, STATUS_CODE_ASSERT_TYPE);
}

//
// Debug messages.
//

TEST_F (DebugLibTest, DebugMessageRecordCarriesPointersAndIsRenderedByTheListener)
{
  static const CHAR8 Format[] = "%a %d of %ld: %r\n";

  DebugPrint (DEBUG_ERROR, Format, "step", 3, (UINT64)0x100000000ULL, EFI_NOT_FOUND);

  const STATUS_CODE_RECORD &Record = OnlyRecord ();

  EXPECT_EQ (Record.Type, STATUS_CODE_MESSAGE_TYPE);
  EXPECT_EQ (Record.Value, STATUS_CODE_MESSAGE_VALUE);
  EXPECT_EQ (Record.Instance, 0u);
  ASSERT_TRUE (Record.HasCallerId);
  EXPECT_TRUE (CompareGuid (&Record.CallerId, &gEfiCallerIdGuid));
  EXPECT_TRUE (CompareGuid (&Record.DataType, &gDebugPrintMarkerDataGuid));
  ASSERT_EQ (Record.Data.size (), sizeof (DEBUG_PRINT_MARKER_DATA));

  DEBUG_PRINT_MARKER_DATA Marker;

  memcpy (&Marker, Record.Data.data (), sizeof (Marker));
  EXPECT_EQ (Marker.ErrorLevel, DEBUG_ERROR);
  EXPECT_EQ (Marker.Reserved, 0u);
  EXPECT_EQ (Marker.Format, Format);
  EXPECT_NE (Marker.VaListMarker, nullptr);
  EXPECT_EQ (Marker.BaseListMarker, nullptr);
  EXPECT_EQ (Record.Message, "step 3 of 4294967296: Not Found\n");
}

TEST_F (DebugLibTest, DebugMessagePassesOnlyTheBuildTimeAndRunTimeGates)
{
  SetRunTimeLevel (DEBUG_ERROR | DEBUG_INFO | DEBUG_POOL);
  Model.StatusCodes.Clear ();

  DEBUG ((DEBUG_INFO, "both gates\n"));
  DEBUG ((DEBUG_WARN, "not at run time\n"));
  DEBUG ((DEBUG_POOL, "not at build time\n"));
  DEBUG ((DEBUG_VERBOSE, "neither\n"));
  DEBUG ((DEBUG_ERROR | DEBUG_WARN, "one shared bit is enough\n"));

  EXPECT_EQ (
    Model.StatusCodes.Messages (), std::vector<std::string> ({ "both gates\n", "one shared bit is enough\n" })
  );
}

TEST_F (DebugLibTest, BuildTimeGatesFollowTheFixedMasks)
{
  EXPECT_TRUE (DebugAssertEnabled ());
  EXPECT_TRUE (DebugPrintEnabled ());
  EXPECT_TRUE (DebugCodeEnabled ());
  EXPECT_FALSE (DebugClearMemoryEnabled ());

  for (UINTN Bit = 0; Bit < 64; Bit++) {
    const UINTN Level = (UINTN)1 << Bit;

    EXPECT_EQ (DebugPrintLevelEnabled (Level), (Level & 0xFF9FFFCFULL) != 0) << "level bit " << Bit;
  }
}

TEST_F (DebugLibTest, DebugCodeGateDecidesWhetherMessagesAreReported)
{
  PatchPcdSet8 (PcdReportStatusCodePropertyMask, 0x03);
  DEBUG ((DEBUG_ERROR, "closed\n"));
  EXPECT_TRUE (Model.StatusCodes.Records ().empty ());
}

TEST_F (DebugLibTest, DebugMessageWithoutFormatAssertsAndReportsNoMessage)
{
  DebugPrint (DEBUG_ERROR, nullptr);

  const STATUS_CODE_RECORD &Record = OnlyRecord ();

  EXPECT_EQ (Record.Type, STATUS_CODE_ASSERT_TYPE);
  EXPECT_EQ (Description (Record), "Format != ((void *) 0)");
}

TEST_F (DebugLibTest, StatusAssertionPrintsTheStatusThenAsserts)
{
  EFI_STATUS Status = EFI_OUT_OF_RESOURCES;

  ASSERT_EFI_ERROR (Status);

  ASSERT_EQ (Model.StatusCodes.Records ().size (), 2u);
  EXPECT_EQ (Model.StatusCodes.Records ()[0].Message, "\nASSERT_EFI_ERROR (Status = Out of Resources)\n");
  EXPECT_EQ (Model.StatusCodes.Records ()[1].Type, STATUS_CODE_ASSERT_TYPE);
}

TEST_F (DebugLibTest, ClearMemoryFillsWithTheClearValue)
{
  UINT8 Buffer[8] = {};

  EXPECT_EQ (DebugClearMemory (Buffer, 6), Buffer);
  EXPECT_EQ (
    std::vector<UINT8> (Buffer, Buffer + 8), std::vector<UINT8> ({ 0xAF, 0xAF, 0xAF, 0xAF, 0xAF, 0xAF, 0, 0 })
  );
}

} // namespace

int
main (int argc, char *argv[])
{
  testing::InitGoogleTest (&argc, argv);
  return RUN_ALL_TESTS ();
}
