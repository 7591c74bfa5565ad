/** @file
  DebugAssert of Prelumen's status-code DebugLib with random file-name and
  description lengths, from empty to several megabytes: the assertion record
  that reaches the status-code listener is never longer than 200 bytes and
  always well formed.

  The expected record is computed here from the budget rules (40-byte
  header, then "[<module>] ", the file name and the description, each
  NUL-terminated; the tag is dropped first, then the description cut, then
  the file name) and compared byte for byte.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include <HostModel.h>
#include <ReliabilitySweep.h>

extern "C" {
#include <Library/DebugLib.h>
#include <Pi/PiStatusCode.h>
}

namespace {

constexpr UINTN HEADER_SIZE = 40;
constexpr UINTN RECORD_SIZE = 200;

/// The record text (behind the header) that the budget rules give.
std::string
ExpectedText (const std::string &FileName, const std::string &Description)
{
  const std::string Tag = std::string ("[") + gEfiCallerBaseName + "] ";
  UINTN             M   = Tag.size ();
  UINTN             F   = FileName.size () + 1;
  UINTN             D   = Description.size () + 1;

  if (HEADER_SIZE + M + F + D > RECORD_SIZE) {
    M = 0;
    if (HEADER_SIZE + F + D <= RECORD_SIZE) {
    } else if (HEADER_SIZE + F < RECORD_SIZE) {
      D = RECORD_SIZE - HEADER_SIZE - F;
    } else {
      F = RECORD_SIZE - HEADER_SIZE - 1;
      D = 1;
    }
  }

  return Tag.substr (0, M) + FileName.substr (0, F - 1) + '\0' + Description.substr (0, D - 1) + '\0';
}

/// A length around the budget's turning points, or far past them.
UINTN
DrawLength (SWEEP_RANDOM &Random)
{
  switch (Random.Below (8)) {
    case 0:
      return 0;
    case 1:
      return Random.Below (40);
    case 2:
      return Random.Between (100, 200);
    case 3:
      return Random.Between (120, 170);
    case 4:
      return Random.Between (150, 165);
    case 5:
      return Random.Between (200, 5000);
    case 6:
      return Random.OneIn (64) ? Random.Between (1u << 20, 4u << 20) : Random.Between (5000, 70000);
    default:
      return Random.Below (400);
  }
}

std::string
DrawText (SWEEP_RANDOM &Random, UINTN Length)
{
  //
  // Random bytes repeated with a period of 257, so that megabytes cost little.
  //
  char Period[257];

  for (char &Character : Period) {
    Character = (char)Random.Between (1, 255);
  }

  std::string Text (Length, ' ');

  for (UINTN Index = 0; Index < Length; Index++) {
    Text[Index] = Period[Index % sizeof (Period)];
  }

  return Text;
}

} // namespace

TEST (AssertRecordSweep, RecordNeverExceeds200BytesAndIsWellFormed)
{
  HOST_MODEL   Model;
  SWEEP_RANDOM Random;
  const UINTN  Cases = SweepSize (1000, 20000);
  UINTN        Cut   = 0;
  UINTN        Large = 0;

  for (UINT64 Case = 0; Case < Cases && !HasFailure (); Case++) {
    const std::string Where       = SweepCase (Random, Case);
    const std::string FileName    = DrawText (Random, DrawLength (Random));
    const std::string Description = DrawText (Random, DrawLength (Random));
    const UINTN       Line        = (UINTN)Random.Below (100000);

    Model.StatusCodes.Clear ();
    DebugAssert (FileName.c_str (), Line, Description.c_str ());

    const std::vector<STATUS_CODE_RECORD> &Records = Model.StatusCodes.Records ();

    ASSERT_EQ (Records.size (), 1u) << Where;
    const STATUS_CODE_RECORD &Record = Records[0];
    const std::string         Text   = ExpectedText (FileName, Description);

    EXPECT_EQ (Record.Type, EFI_ERROR_CODE | EFI_ERROR_UNRECOVERED) << Where;
    EXPECT_EQ (Record.Value, (EFI_STATUS_CODE_VALUE)(EFI_SOFTWARE_DXE_BS_DRIVER | EFI_SW_EC_ILLEGAL_SOFTWARE_STATE))
      << Where;
    ASSERT_LE (Record.Data.size (), RECORD_SIZE) << Where;
    ASSERT_EQ (Record.Data.size (), HEADER_SIZE + Text.size ())
      << Where << ": file " << FileName.size () << " description " << Description.size ();
    EXPECT_EQ (ReadUnaligned32 (reinterpret_cast<const UINT32 *> (Record.Data.data () + 20)), (UINT32)Line) << Where;
    EXPECT_EQ (std::string (reinterpret_cast<const char *> (Record.Data.data ()) + HEADER_SIZE, Text.size ()), Text)
      << Where;

    Cut += (Text.size () < FileName.size () + Description.size () + 2) ? 1 : 0;
    Large += (FileName.size () + Description.size () > (1u << 20)) ? 1 : 0;
  }

  //
  // Null strings are reported too, as a record of the same shape.
  //
  Model.StatusCodes.Clear ();
  DebugAssert (nullptr, 1, nullptr);
  ASSERT_EQ (Model.StatusCodes.Records ().size (), 1u);
  EXPECT_LE (Model.StatusCodes.Records ()[0].Data.size (), RECORD_SIZE);
  EXPECT_EQ (Model.StatusCodes.Records ()[0].Data.back (), 0);

  SweepReport ("AssertRecordSweep", "assertions", Cases);
  SweepReport ("AssertRecordSweep", "assertions with a cut record", Cut);
  SweepReport ("AssertRecordSweep", "assertions with more than 1 MiB of text", Large);
}

int
main (int Argc, char **Argv)
{
  testing::InitGoogleTest (&Argc, Argv);
  return RUN_ALL_TESTS ();
}
