/** @file
  The AsciiStrLen/AsciiStrSize override: the length is always the full one,
  and past the maximum of 10,485,760 characters each further character
  raises one assertion (reported as a status code by the module's DebugLib).

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include <HostModel.h>
#include <string>

extern "C" {
#include <Library/BaseLib.h>
#include <Library/PcdLib.h>
}

namespace {

constexpr UINTN MAXIMUM_LENGTH = 10485760;

class AsciiStrLenOverrideTest : public HOST_MODEL_TEST {
protected:
  void
  SetUp () override
  {
    ASSERT_EQ (PcdGet32 (PcdMaximumAsciiStringLength), MAXIMUM_LENGTH);
    for (const LIBRARY_CONSTRUCTOR &Constructor : HOST_MODEL::Edk2LibraryConstructors ()) {
      if (Constructor.Dxe != nullptr) {
        ASSERT_EQ (Constructor.Dxe (Model.ImageHandle (), Model.SystemTable ()), EFI_SUCCESS);
      }
    }
  }

  /// Descriptions of the assertions reported so far, each from String.c.
  std::vector<std::string>
  Assertions () const
  {
    std::vector<std::string> Descriptions;

    for (const STATUS_CODE_LISTENER::ASSERTION &Assertion : Model.StatusCodes.Assertions ()) {
      EXPECT_NE (Assertion.File.find ("Override/Library/BaseLib/String.c"), std::string::npos) << Assertion.File;
      Descriptions.push_back (Assertion.Description);
    }

    return Descriptions;
  }
};

TEST_F (AsciiStrLenOverrideTest, ShortStringsAreMeasuredSilently)
{
  EXPECT_EQ (AsciiStrLen (""), 0u);
  EXPECT_EQ (AsciiStrSize (""), 1u);
  EXPECT_EQ (AsciiStrLen ("Prelumen"), 8u);
  EXPECT_EQ (AsciiStrSize ("Prelumen"), 9u);
  EXPECT_TRUE (Assertions ().empty ());
}

TEST_F (AsciiStrLenOverrideTest, MaximumPlusOneCharactersPassSilently)
{
  const std::string String (MAXIMUM_LENGTH + 1, 'x');

  EXPECT_EQ (AsciiStrLen (String.c_str ()), MAXIMUM_LENGTH + 1);
  EXPECT_EQ (AsciiStrSize (String.c_str ()), MAXIMUM_LENGTH + 2);
  EXPECT_TRUE (Assertions ().empty ());
}

TEST_F (AsciiStrLenOverrideTest, EachCharacterBeyondRaisesOneAssertionAndCountingGoesOn)
{
  const std::string TwoOver (MAXIMUM_LENGTH + 2, 'x');
  const std::string FourOver (MAXIMUM_LENGTH + 4, 'x');

  EXPECT_EQ (AsciiStrLen (TwoOver.c_str ()), MAXIMUM_LENGTH + 2);
  EXPECT_EQ (Assertions (), std::vector<std::string> ({ "((BOOLEAN)(0==1))" }));

  Model.StatusCodes.Clear ();
  EXPECT_EQ (AsciiStrSize (FourOver.c_str ()), MAXIMUM_LENGTH + 5);
  EXPECT_EQ (Assertions ().size (), 3u);
}

TEST_F (AsciiStrLenOverrideTest, NullStringAssertsAndCountsAsEmpty)
{
  EXPECT_EQ (AsciiStrLen (nullptr), 0u);
  EXPECT_EQ (Assertions (), std::vector<std::string> ({ "String != ((void *) 0)" }));

  Model.StatusCodes.Clear ();
  EXPECT_EQ (AsciiStrSize (nullptr), 1u);
  EXPECT_EQ (Assertions ().size (), 1u);
}

} // namespace

int
main (int argc, char *argv[])
{
  testing::InitGoogleTest (&argc, argv);
  return RUN_ALL_TESTS ();
}
