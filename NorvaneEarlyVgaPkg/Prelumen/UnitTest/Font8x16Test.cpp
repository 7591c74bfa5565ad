/** @file
  The 8x16 font table: the glyphs that tell a faithful copy of the VGA code
  page 437 font from a shifted, mirrored or truncated one, and the rules on
  blank glyphs and on the bottom row.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include <gtest/gtest.h>
#include "../Prelumen.h"

namespace {

const UINT8 *
Glyph (UINTN Code)
{
  return &mFont8x16[Code * FONT_8X16_HEIGHT];
}

BOOLEAN
IsBlank (UINTN Code)
{
  for (UINTN Row = 0; Row < FONT_8X16_HEIGHT; Row++) {
    if (Glyph (Code)[Row] != 0) {
      return FALSE;
    }
  }

  return TRUE;
}

/// First and last row with a set bit; the glyph must not be blank.
void
InkRows (UINTN Code, UINTN *First, UINTN *Last)
{
  *First = FONT_8X16_HEIGHT;
  *Last  = 0;
  for (UINTN Row = 0; Row < FONT_8X16_HEIGHT; Row++) {
    if (Glyph (Code)[Row] != 0) {
      *First = MIN (*First, Row);
      *Last  = Row;
    }
  }
}

struct TELLING_GLYPH {
  UINT8 Code;
  UINT8 Rows[16];
};

const TELLING_GLYPH mTellingGlyphs[] = {
  { 0x01, { 0x00, 0x00, 0x7E, 0x81, 0xA5, 0x81, 0x81, 0xBD, 0x99, 0x81, 0x81, 0x7E, 0x00, 0x00, 0x00, 0x00 } },
  { 0x30, { 0x00, 0x00, 0x7C, 0xC6, 0xC6, 0xCE, 0xDE, 0xF6, 0xE6, 0xC6, 0xC6, 0x7C, 0x00, 0x00, 0x00, 0x00 } },
  { 0x41, { 0x00, 0x00, 0x10, 0x38, 0x6C, 0xC6, 0xC6, 0xFE, 0xC6, 0xC6, 0xC6, 0xC6, 0x00, 0x00, 0x00, 0x00 } },
  { 0x61, { 0x00, 0x00, 0x00, 0x00, 0x00, 0x78, 0x0C, 0x7C, 0xCC, 0xCC, 0xCC, 0x76, 0x00, 0x00, 0x00, 0x00 } },
  { 0x67, { 0x00, 0x00, 0x00, 0x00, 0x00, 0x76, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0x7C, 0x0C, 0xCC, 0x78, 0x00 } },
  { 0xB0, { 0x11, 0x44, 0x11, 0x44, 0x11, 0x44, 0x11, 0x44, 0x11, 0x44, 0x11, 0x44, 0x11, 0x44, 0x11, 0x44 } },
  { 0xB3, { 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18 } },
  { 0xC4, { 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00 } },
  { 0xDB, { 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF } },
  { 0xE0, { 0x00, 0x00, 0x00, 0x00, 0x00, 0x76, 0xDC, 0xD8, 0xD8, 0xD8, 0xDC, 0x76, 0x00, 0x00, 0x00, 0x00 } },
};

} // namespace

TEST (Font8x16, TellingGlyphsMatchTheVgaFont)
{
  for (const TELLING_GLYPH &Expected : mTellingGlyphs) {
    for (UINTN Row = 0; Row < FONT_8X16_HEIGHT; Row++) {
      EXPECT_EQ (Glyph (Expected.Code)[Row], Expected.Rows[Row])
        << "glyph 0x" << std::hex << UINTN (Expected.Code) << " row " << std::dec << Row;
    }
  }
}

TEST (Font8x16, OnlyNulSpaceAndFFAreBlank)
{
  for (UINTN Code = 0; Code < 256; Code++) {
    const BOOLEAN ShouldBeBlank = (Code == 0x00) || (Code == 0x20) || (Code == 0xFF);

    EXPECT_EQ (IsBlank (Code), ShouldBeBlank) << "glyph 0x" << std::hex << Code;
  }
}

//
// Row 15 carries ink only where cells stacked vertically must join: the
// shade, box-drawing and block glyphs of 0xB0-0xDF, and 0x08, 0x0A, 0xF4.
//
TEST (Font8x16, BottomRowIsBlankExceptWhereCellsJoin)
{
  for (UINTN Code = 0; Code < 256; Code++) {
    const BOOLEAN MayReachBottom =
      ((Code >= 0xB0) && (Code <= 0xDF)) || (Code == 0x08) || (Code == 0x0A) || (Code == 0xF4);

    if (!MayReachBottom) {
      EXPECT_EQ (Glyph (Code)[15], 0) << "glyph 0x" << std::hex << Code;
    }
  }

  // Stacked vertical bars meet: the last row of one equals the first of the next.
  EXPECT_EQ (Glyph (0xB3)[15], Glyph (0xB3)[0]);
  EXPECT_NE (Glyph (0xB3)[0], 0);
}

TEST (Font8x16, LettersAndDigitsSitOnTheirRows)
{
  UINTN First;
  UINTN Last;

  for (UINTN Code = 'A'; Code <= 'Z'; Code++) {
    InkRows (Code, &First, &Last);
    EXPECT_EQ (First, 2U) << char (Code);
    EXPECT_EQ (Last, (Code == 'Q') ? 13U : 11U) << char (Code);
  }

  for (UINTN Code = '0'; Code <= '9'; Code++) {
    InkRows (Code, &First, &Last);
    EXPECT_EQ (First, 2U) << char (Code);
    EXPECT_EQ (Last, 11U) << char (Code);
  }

  for (const char Letter : { 'a', 'c', 'e', 'm', 'n', 'o', 'r', 's', 'u', 'v', 'w', 'x', 'z' }) {
    InkRows (UINTN (Letter), &First, &Last);
    EXPECT_EQ (First, 5U) << Letter;
    EXPECT_EQ (Last, 11U) << Letter;
  }

  for (const char Letter : { 'b', 'd', 'h', 'k', 'l' }) {
    InkRows (UINTN (Letter), &First, &Last);
    EXPECT_EQ (First, 2U) << Letter;
  }

  for (const char Letter : { 'g', 'j', 'p', 'q', 'y' }) {
    InkRows (UINTN (Letter), &First, &Last);
    EXPECT_EQ (Last, 14U) << Letter;
  }
}

int Font8x16TestAnchor;
