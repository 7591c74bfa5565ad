/** @file
  The status-code renderer as a platform's listener uses it: assertion
  records exactly as Prelumen's DebugLib makes them (reported on the host
  model), debug-message records whose argument pointer is a real x64
  argument list, and everything else left alone, without reading outside a
  record or writing outside the line buffer.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include <HostModel.h>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <Guid/DebugPrintMarkerData.h>
#include <Guid/StatusCodeDataTypeId.h>
#include <Library/BaseMemoryLib.h>
#include <Library/DebugLib.h>
#include <Library/EarlyVideoStatusCodeRenderLib.h>
}

namespace {

/// Extended data framed as the router hands it to a listener: the 20-byte
/// header, then exactly Size bytes (the heap block ends there, so a read
/// past the record is an AddressSanitizer report).
std::vector<UINT8>
Frame (const EFI_GUID &Type, const void *Extended, UINTN Size)
{
  std::vector<UINT8>   Framed (sizeof (EFI_STATUS_CODE_DATA) + Size);
  EFI_STATUS_CODE_DATA Header;

  Header.HeaderSize = sizeof (EFI_STATUS_CODE_DATA);
  Header.Size       = (UINT16)Size;
  CopyGuid (&Header.Type, &Type);
  memcpy (Framed.data (), &Header, sizeof (Header));
  memcpy (Framed.data () + sizeof (Header), Extended, Size);
  return Framed;
}

std::string
Render (EFI_STATUS_CODE_TYPE Type, EFI_STATUS_CODE_VALUE Value, const std::vector<UINT8> &Framed, UINTN Size = 256)
{
  std::vector<CHAR8> Line (Size, 'x');
  const UINTN        Length = RenderEarlyVideoStatusCode (
           Type, Value, reinterpret_cast<const EFI_STATUS_CODE_DATA *> (Framed.data ()), Line.data (), Line.size ()
         );

  EXPECT_EQ (Length, strlen (Line.data ()));
  return std::string (Line.data ());
}

/// Renders a debug-message record built the way Prelumen's DebugPrint builds
/// it: the marker points at this function's own variable arguments.
std::string EFIAPI
RenderMessage (UINT32 Level, const CHAR8 *Format, ...)
{
  DEBUG_PRINT_MARKER_DATA Marker = {};
  VA_LIST                 Arguments;

  VA_START (Arguments, Format);
  Marker.ErrorLevel      = Level;
  Marker.Format          = Format;
  Marker.VaListMarker    = reinterpret_cast<VOID *> (Arguments);
  const std::string Text = Render (
    STATUS_CODE_MESSAGE_TYPE, STATUS_CODE_MESSAGE_VALUE, Frame (gDebugPrintMarkerDataGuid, &Marker, sizeof (Marker))
  );
  VA_END (Arguments);
  return Text;
}

class StatusCodeRenderTest : public PRELUMEN_REPORTER_TEST {
protected:
  void
  SetUp () override
  {
    PRELUMEN_REPORTER_TEST::SetUp ();
    ASSERT_EQ (StartReporter (), EFI_SUCCESS);
  }

  /// The assertion record Prelumen's DebugLib reports, framed again.
  std::vector<UINT8>
  AssertionRecord (const CHAR8 *FileName, UINTN Line, const CHAR8 *Expression)
  {
    Model.StatusCodes.Clear ();
    DebugAssert (FileName, Line, Expression);
    EXPECT_EQ (Model.StatusCodes.Records ().size (), 1u);
    const STATUS_CODE_RECORD &Record = Model.StatusCodes.Records ().back ();
    EXPECT_EQ (Record.Type, STATUS_CODE_ASSERT_TYPE);
    EXPECT_EQ (Record.Value, STATUS_CODE_ASSERT_VALUE);
    return Frame (Record.DataType, Record.Data.data (), Record.Data.size ());
  }
};

TEST_F (StatusCodeRenderTest, AssertionsReadAsTagFileLineAndExpression)
{
  EXPECT_EQ (
    Render (STATUS_CODE_ASSERT_TYPE, STATUS_CODE_ASSERT_VALUE, AssertionRecord ("Dir/File.c", 1234, "Expression != 0")),
    "ASSERT [Prelumen] Dir/File.c(1234): Expression != 0\r\n"
  );

  // A file name of 400 bytes: the record keeps 158 characters of it and an
  // empty expression, and the line says just that.
  const std::string Long (399, 'f');
  EXPECT_EQ (
    Render (STATUS_CODE_ASSERT_TYPE, STATUS_CODE_ASSERT_VALUE, AssertionRecord (Long.c_str (), 7, "Lost")),
    "ASSERT " + std::string (158, 'f') + "(7): \r\n"
  );
}

TEST_F (StatusCodeRenderTest, AssertionTextIsReadOnlyInsideTheRecord)
{
  // Records cut short, down to the bare header: no terminator inside, so
  // the text ends where the record does.
  std::vector<UINT8> Full = AssertionRecord ("Dir/File.c", 9, "X");
  const UINTN        Size = Full.size () - sizeof (EFI_STATUS_CODE_DATA);

  for (UINTN Cut : { Size - 1, Size - 3, (UINTN)41, (UINTN)40 }) {
    std::vector<UINT8> Short =
      Frame (gEfiStatusCodeSpecificDataGuid, Full.data () + sizeof (EFI_STATUS_CODE_DATA), Cut);
    const std::string Line = Render (STATUS_CODE_ASSERT_TYPE, STATUS_CODE_ASSERT_VALUE, Short);
    EXPECT_EQ (Line.rfind ("ASSERT ", 0), 0u) << Cut;
    EXPECT_NE (Line.find ("(9): "), std::string::npos) << Cut;
  }

  // Shorter than the header: not an assertion record.
  std::vector<UINT8> Stub = Frame (gEfiStatusCodeSpecificDataGuid, Full.data () + sizeof (EFI_STATUS_CODE_DATA), 39);
  EXPECT_EQ (Render (STATUS_CODE_ASSERT_TYPE, STATUS_CODE_ASSERT_VALUE, Stub), "");
}

TEST_F (StatusCodeRenderTest, DebugMessagesAreFormattedFromTheCallersArguments)
{
  EXPECT_EQ (
    RenderMessage (0x2, "Prelumen: no shadow buffer of %u bytes: %r\n", 4294836224u, EFI_OUT_OF_RESOURCES),
    "Prelumen: no shadow buffer of 4294836224 bytes: Out of Resources\r\n"
  );
  EXPECT_EQ (
    RenderMessage (0x40, "%a %d %lx %c\n", "mixed", -5, 0x123456789ABCull, 'z'), "mixed -5 123456789ABC z\r\n"
  );
}

TEST_F (StatusCodeRenderTest, PackedArgumentListsAreFormattedToo)
{
  UINT64                  Packed[2] = { 42, 0 };
  DEBUG_PRINT_MARKER_DATA Marker    = {};

  Marker.Format         = "packed %u\n";
  Marker.BaseListMarker = reinterpret_cast<BASE_LIST> (Packed);
  EXPECT_EQ (
    Render (
      STATUS_CODE_MESSAGE_TYPE, STATUS_CODE_MESSAGE_VALUE, Frame (gDebugPrintMarkerDataGuid, &Marker, sizeof (Marker))
    ),
    "packed 42\r\n"
  );
}

TEST_F (StatusCodeRenderTest, LongLinesAreCutToTheBuffer)
{
  std::vector<UINT8> Record = AssertionRecord ("Dir/File.c", 1, "Expression");
  std::string        Line   = Render (STATUS_CODE_ASSERT_TYPE, STATUS_CODE_ASSERT_VALUE, Record, 16);

  EXPECT_EQ (Line, std::string ("ASSERT [Prelumen] Dir/File.c(1): Expression\r\n").substr (0, 15));
}

TEST_F (StatusCodeRenderTest, OtherStatusCodesAreLeftAlone)
{
  DEBUG_PRINT_MARKER_DATA Marker = {};
  Marker.Format                  = "text\n";
  Marker.VaListMarker            = &Marker; // never read: the format takes no argument
  std::vector<UINT8> Message     = Frame (gDebugPrintMarkerDataGuid, &Marker, sizeof (Marker));
  std::vector<UINT8> Assertion   = AssertionRecord ("F.c", 1, "E");

  EXPECT_EQ (Render (STATUS_CODE_MESSAGE_TYPE, STATUS_CODE_MESSAGE_VALUE, Message), "text\r\n");
  EXPECT_EQ (Render (0x00000001, STATUS_CODE_MESSAGE_VALUE, Message), "") << "a progress code";
  EXPECT_EQ (Render (STATUS_CODE_ASSERT_TYPE, 0x03050006, Assertion), "") << "another error value";
  EXPECT_EQ (Render (0x80000002, STATUS_CODE_ASSERT_VALUE, Assertion), "") << "a recoverable error";
  EXPECT_EQ (
    Render (
      STATUS_CODE_MESSAGE_TYPE, STATUS_CODE_MESSAGE_VALUE,
      Frame (gEfiStatusCodeSpecificDataGuid, &Marker, sizeof (Marker))
    ),
    ""
  ) << "a debug code of another data type";
  EXPECT_EQ (
    Render (STATUS_CODE_MESSAGE_TYPE, STATUS_CODE_MESSAGE_VALUE, Frame (gDebugPrintMarkerDataGuid, &Marker, 31)), ""
  ) << "a marker cut short";

  Marker.Format = nullptr;
  EXPECT_EQ (
    Render (
      STATUS_CODE_MESSAGE_TYPE, STATUS_CODE_MESSAGE_VALUE, Frame (gDebugPrintMarkerDataGuid, &Marker, sizeof (Marker))
    ),
    ""
  );
  Marker.Format       = "%u\n";
  Marker.VaListMarker = nullptr;
  EXPECT_EQ (
    Render (
      STATUS_CODE_MESSAGE_TYPE, STATUS_CODE_MESSAGE_VALUE, Frame (gDebugPrintMarkerDataGuid, &Marker, sizeof (Marker))
    ),
    ""
  );

  Message[0] = 19; // HeaderSize below the header's own size
  EXPECT_EQ (Render (STATUS_CODE_MESSAGE_TYPE, STATUS_CODE_MESSAGE_VALUE, Message), "");

  CHAR8 Line[8] = "x";
  EXPECT_EQ (
    RenderEarlyVideoStatusCode (STATUS_CODE_MESSAGE_TYPE, STATUS_CODE_MESSAGE_VALUE, nullptr, Line, sizeof (Line)), 0u
  );
  EXPECT_EQ (Line[0], '\0');
}

} // namespace

int
main (int argc, char *argv[])
{
  testing::InitGoogleTest (&argc, argv);
  return RUN_ALL_TESTS ();
}
