/** @file
  The display controller's portable core, seen from outside: register
  writes in, display geometry, pixels, banks and aperture offsets out.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include <gtest/gtest.h>
#include <cstdlib>
#include <vector>
#include "TavrixDisplayCore.h"
#include <ShippedModeRegisters.h>

namespace {

/// The core is about 1 MiB: one per test, on the heap.
class DisplayCoreTest : public testing::Test {
protected:
  void
  SetUp () override
  {
    Core = (TAVRIX_DISPLAY_CORE *)malloc (sizeof (TAVRIX_DISPLAY_CORE));
    ASSERT_NE (Core, nullptr);
    memset (Core, 0xA5, sizeof (*Core)); // reset must not rely on zeroed memory
    TavrixCoreReset (Core);
  }

  void
  TearDown () override
  {
    free (Core);
  }

  /// What a mode set leaves in channel B's three display registers.
  void
  Program (uint32_t Control, uint32_t Pitch, uint32_t ActiveSize)
  {
    TavrixCoreWriteRegister (Core, TAVRIX_REG_B_PITCH, Pitch);
    TavrixCoreWriteRegister (Core, TAVRIX_REG_B_ACTIVE_SIZE, ActiveSize);
    TavrixCoreWriteRegister (Core, TAVRIX_REG_B_DISPLAY_CONTROL, Control);
  }

  bool
  Shows ()
  {
    TAVRIX_DISPLAY_GEOMETRY Geometry;
    return TavrixCoreDisplayGeometry (Core, &Geometry) != 0;
  }

  TAVRIX_DISPLAY_CORE *Core = nullptr;
};

TEST_F (DisplayCoreTest, EachModeOfTheDriverDecodesToItsGeometry)
{
  for (const SHIPPED_MODE &Mode : kShippedModes) {
    TAVRIX_DISPLAY_GEOMETRY Geometry = {};

    Program (Mode.DisplayControl, Mode.Pitch, Mode.ActiveSize);
    ASSERT_TRUE (TavrixCoreDisplayGeometry (Core, &Geometry)) << Mode.Width;
    EXPECT_EQ (Geometry.Width, Mode.Width);
    EXPECT_EQ (Geometry.Height, Mode.Height);
    EXPECT_EQ (Geometry.Pitch, Mode.Width * 4);
    EXPECT_EQ (Geometry.BytesPerPixel, 4u);
    EXPECT_EQ (Geometry.Format, TavrixPixelFormat32);
  }
}

TEST_F (DisplayCoreTest, NothingIsShownUntilChannelBIsProgrammedWithAFrameThatFits)
{
  EXPECT_FALSE (Shows ()) << "after reset";

  // Pitch and size alone, as during a mode set before its last write.
  TavrixCoreWriteRegister (Core, TAVRIX_REG_B_PITCH, 0x0A000A00);
  TavrixCoreWriteRegister (Core, TAVRIX_REG_B_ACTIVE_SIZE, 0x01DF027F);
  EXPECT_FALSE (Shows ());

  // Channel A's registers do not drive the display.
  TavrixCoreWriteRegister (Core, TAVRIX_REG_A_DISPLAY_CONTROL, 0x02087106);
  EXPECT_FALSE (Shows ());

  Program (0x02087106 & ~TAVRIX_B_CONTROL_DISPLAY_ENABLE, 0x0A000A00, 0x01DF027F);
  EXPECT_FALSE (Shows ()) << "display enable clear";
  Program (0x02087107, 0x0A000A00, 0x01DF027F);
  EXPECT_FALSE (Shows ()) << "reserved pixel format";
  Program (0x02087106, 0x09FC09FC, 0x01DF027F);
  EXPECT_FALSE (Shows ()) << "a line longer than the pitch";
  Program (0x02087106, 0x3FFF3FFF, 0x07FF0FFF);
  EXPECT_TRUE (Shows ()) << "the largest frame the registers describe, 2048 lines of 16383 bytes, fits BAR 0";
  Program (0x02087106, 0x0A000A00, 0xFFFFFFFF);
  EXPECT_FALSE (Shows ()) << "bits above the 11-bit size fields are not size: 2048 pixels need 8192 bytes";

  Program (0x02087106, 0x0A000A00, 0x01DF027F);
  EXPECT_TRUE (Shows ());
  TavrixCoreReset (Core);
  EXPECT_FALSE (Shows ()) << "reset turns the display off";
}

TEST_F (DisplayCoreTest, EightAndSixteenBitFormatsUseTheirPixelSize)
{
  TAVRIX_DISPLAY_GEOMETRY Geometry = {};

  Program (0x02087104, 0x02800280, 0x01DF027F); // 640 x 480 at 8 bits
  ASSERT_TRUE (TavrixCoreDisplayGeometry (Core, &Geometry));
  EXPECT_EQ (Geometry.BytesPerPixel, 1u);
  Program (0x02087105, 0x04FF04FF, 0x01DF027F); // one byte short of 640 x 2
  EXPECT_FALSE (TavrixCoreDisplayGeometry (Core, &Geometry));
}

TEST_F (DisplayCoreTest, RegistersReadBackAndOutOfRangeAccessesAreHarmless)
{
  // Every register the driver programs keeps its value, channel A's
  // display control included (the driver's confirmation loop reads it).
  const uint64_t Written[] = { 0x40, 0x44, 0x5C, 0x60, 0x88, 0x80000, 0x80200, 0x802A8, 0x802BC, 0x80FFC, 0xFFFFC };
  for (uint64_t Offset : Written) {
    TavrixCoreWriteRegister (Core, Offset, (uint32_t)Offset ^ 0x5A5A5A5A);
  }

  for (uint64_t Offset : Written) {
    EXPECT_EQ (TavrixCoreReadRegister (Core, Offset), (uint32_t)Offset ^ 0x5A5A5A5A) << std::hex << Offset;
  }

  EXPECT_EQ (TavrixCoreReadRegister (Core, 0x80002), TavrixCoreReadRegister (Core, 0x80000))
    << "a misaligned offset names its register";

  TavrixCoreWriteRegister (Core, TAVRIX_REGISTER_FILE_SIZE, 1);
  TavrixCoreWriteRegister (Core, UINT64_MAX, 1);
  TavrixCoreWriteRegister (Core, UINT64_MAX - 3, 1);
  EXPECT_EQ (TavrixCoreReadRegister (Core, 0xFFFFC), 0xFFFFCu ^ 0x5A5A5A5A) << "the last register is untouched";
  EXPECT_EQ (TavrixCoreReadRegister (Core, TAVRIX_REGISTER_FILE_SIZE), 0xFFFFFFFFu);
  EXPECT_EQ (TavrixCoreReadRegister (Core, UINT64_MAX), 0xFFFFFFFFu);
}

TEST_F (DisplayCoreTest, ByteAndWordAccessesReachOnlyTheirBytesOfOneRegister)
{
  static const uint8_t Quadword[] = { 0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55 };

  // A CPU's 64-bit store at 0x304 as QEMU's CPU emulation delivers it: bytes.
  for (uint32_t Index = 0; Index < sizeof (Quadword); Index++) {
    TavrixCoreWriteRegisterBytes (Core, 0x304 + Index, 1, Quadword[Index]);
  }

  EXPECT_EQ (TavrixCoreReadRegister (Core, 0x304), 0x11223344u) << "low word at 0x304";
  EXPECT_EQ (TavrixCoreReadRegister (Core, 0x308), 0x55667788u) << "high word at 0x308";

  TavrixCoreWriteRegisterBytes (Core, 0x306, 2, 0xBEEF);
  EXPECT_EQ (TavrixCoreReadRegister (Core, 0x304), 0xBEEF3344u);
  EXPECT_EQ (TavrixCoreReadRegisterBytes (Core, 0x307, 1), 0xBEu);
  EXPECT_EQ (TavrixCoreReadRegisterBytes (Core, 0x304, 2), 0x3344u);
  EXPECT_EQ (TavrixCoreReadRegisterBytes (Core, 0x304, 4), 0xBEEF3344u);

  // Accesses across two registers, of other sizes or beyond the file: nothing.
  TavrixCoreWriteRegisterBytes (Core, 0x307, 2, 0);
  TavrixCoreWriteRegisterBytes (Core, 0x306, 4, 0);
  TavrixCoreWriteRegisterBytes (Core, 0x304, 3, 0);
  TavrixCoreWriteRegisterBytes (Core, TAVRIX_REGISTER_FILE_SIZE + 1, 1, 0);
  // Sizes no register holds, some of which would make shifts of 32 bits or
  // more (undefined, reported by the sanitizer) if they sized a mask.
  for (uint32_t Size : { 0u, 5u, 8u, 16u, 0x80000000u, UINT32_MAX }) {
    TavrixCoreWriteRegisterBytes (Core, 0x304, Size, 0);
    EXPECT_EQ (TavrixCoreReadRegisterBytes (Core, 0x304, Size), 0xFFFFFFFFu) << "size " << Size;
  }
  EXPECT_EQ (TavrixCoreReadRegister (Core, 0x304), 0xBEEF3344u);
  EXPECT_EQ (TavrixCoreReadRegister (Core, 0x308), 0x55667788u);
  EXPECT_EQ (TavrixCoreReadRegisterBytes (Core, 0x307, 2), 0xFFFFFFFFu);
  EXPECT_EQ (TavrixCoreReadRegisterBytes (Core, TAVRIX_REGISTER_FILE_SIZE + 1, 1), 0xFFu);
}

TEST_F (DisplayCoreTest, RowsConvertToRgbInEachFormatAndNeverReadPastTheBuffer)
{
  TAVRIX_DISPLAY_GEOMETRY Geometry = { 4, 2, 16, 4, TavrixPixelFormat32 };
  std::vector<uint8_t>    Frame (32, 0);
  uint32_t                Pixels[4];

  // Blue, green, red, reserved in memory; 0x00RRGGBB out.
  const uint8_t Bgrx[] = { 0x11, 0x22, 0x33, 0xFF };
  memcpy (&Frame[16 + 4], Bgrx, 4);
  TavrixCoreConvertRow (Core, &Geometry, Frame.data (), Frame.size (), 1, Pixels);
  EXPECT_EQ (Pixels[0], 0u);
  EXPECT_EQ (Pixels[1], 0x00332211u);

  // 5:6:5: pure red and white widen to full intensity; the low bits of
  // each channel repeat its high bits (red 0x10, green 0x20, blue 0x04
  // become 0x84, 0x82, 0x21).
  Geometry = { 3, 1, 6, 2, TavrixPixelFormat16 };
  Frame[0] = 0x00;
  Frame[1] = 0xF8;
  Frame[2] = 0xFF;
  Frame[3] = 0xFF;
  Frame[4] = 0x04;
  Frame[5] = 0x84;
  TavrixCoreConvertRow (Core, &Geometry, Frame.data (), Frame.size (), 0, Pixels);
  EXPECT_EQ (Pixels[0], 0x00FF0000u);
  EXPECT_EQ (Pixels[1], 0x00FFFFFFu);
  EXPECT_EQ (Pixels[2], 0x00848221u);

  // 8 bits: channel B's palette.
  Geometry = { 2, 1, 2, 1, TavrixPixelFormat8 };
  TavrixCoreWriteRegister (Core, TAVRIX_REG_B_PALETTE + 4 * 7, 0xFF123456);
  Frame[0] = 7;
  Frame[1] = 0;
  TavrixCoreConvertRow (Core, &Geometry, Frame.data (), Frame.size (), 0, Pixels);
  EXPECT_EQ (Pixels[0], 0x00123456u) << "palette bits 31:24 are not colour";
  EXPECT_EQ (Pixels[1], 0u);

  // A buffer shorter than the frame: the missing pixels are black.
  Geometry = { 4, 1, 16, 4, TavrixPixelFormat32 };
  std::vector<uint8_t> Short (10, 0xFF);
  TavrixCoreConvertRow (Core, &Geometry, Short.data (), Short.size (), 0, Pixels);
  EXPECT_EQ (Pixels[1], 0x00FFFFFFu);
  EXPECT_EQ (Pixels[2], 0u) << "bytes 8..11 reach past the 10-byte buffer";
  EXPECT_EQ (Pixels[3], 0u);
}

TEST_F (DisplayCoreTest, BankSelectionIsRecordedFromTheExtendedPorts)
{
  uint8_t Value = 0;

  EXPECT_EQ (TavrixCoreBank (Core), 0u);

  // Colour text, as a video BIOS leaves the VGA: the CRT at 0x3D4/0x3D5.
  EXPECT_EQ (TavrixCorePortWrite (Core, TAVRIX_PORT_MISC_OUTPUT, 0x67), TavrixPortStandard);

  // The early video driver's selection of bank 0x123.
  EXPECT_EQ (TavrixCorePortWrite (Core, TAVRIX_PORT_CRT_INDEX, 0xA5), TavrixPortStandard)
    << "the standard CRT controller sees the index too";
  EXPECT_EQ (TavrixCorePortWrite (Core, TAVRIX_PORT_CRT_DATA, 0x11), TavrixPortClaimed);
  EXPECT_EQ (TavrixCorePortWrite (Core, TAVRIX_PORT_BANK_MIDDLE, 0x22), TavrixPortClaimed);
  EXPECT_EQ (TavrixCorePortWrite (Core, TAVRIX_PORT_BANK_LOW, 0x33), TavrixPortClaimed);
  EXPECT_EQ (TavrixCoreBank (Core), 0x123u);
  EXPECT_EQ (Core->BankSelects, 1u);
  EXPECT_EQ (TavrixCorePortRead (Core, TAVRIX_PORT_CRT_DATA, &Value), TavrixPortClaimed);
  EXPECT_EQ (Value, 0x11);
  EXPECT_EQ (TavrixCorePortRead (Core, TAVRIX_PORT_BANK_MIDDLE, &Value), TavrixPortClaimed);
  EXPECT_EQ (Value, 0x22);

  // The mode set's extended register 0x88 is the core's as well.
  TavrixCorePortWrite (Core, TAVRIX_PORT_CRT_INDEX, TAVRIX_CRT_EXT_MODE);
  EXPECT_EQ (TavrixCorePortWrite (Core, TAVRIX_PORT_CRT_DATA, 0x06), TavrixPortClaimed);
  EXPECT_EQ (Core->CrtModeControl, 0x06);
  EXPECT_EQ (TavrixCoreBank (Core), 0x123u) << "0x88 is not a bank register";

  // A standard CRT index and the other VGA ports stay standard VGA's.
  TavrixCorePortWrite (Core, TAVRIX_PORT_CRT_INDEX, 0x11);
  EXPECT_EQ (TavrixCorePortWrite (Core, TAVRIX_PORT_CRT_DATA, 0x0E), TavrixPortStandard);
  EXPECT_EQ (TavrixCorePortRead (Core, TAVRIX_PORT_CRT_DATA, &Value), TavrixPortStandard);
  EXPECT_EQ (TavrixCorePortWrite (Core, 0x3C4, 0x02), TavrixPortStandard);

  // A bank above 0xFFF cannot be named: each port holds one nibble.
  TavrixCorePortWrite (Core, TAVRIX_PORT_CRT_INDEX, 0xA5);
  TavrixCorePortWrite (Core, TAVRIX_PORT_CRT_DATA, 0xFF);
  TavrixCorePortWrite (Core, TAVRIX_PORT_BANK_MIDDLE, 0xFF);
  TavrixCorePortWrite (Core, TAVRIX_PORT_BANK_LOW, 0xFF);
  EXPECT_EQ (TavrixCoreBank (Core), 0xFFFu);
  EXPECT_EQ (Core->BankSelects, 2u);
}

TEST_F (DisplayCoreTest, TheExtendedCrtRegistersFollowTheVgaCrtToTheMonoPorts)
{
  uint8_t Value = 0;

  // Mono: the misc output register's bit 0 clear puts the CRT at 0x3B4/0x3B5.
  TavrixCorePortWrite (Core, TAVRIX_PORT_MISC_OUTPUT, 0x66);
  TavrixCorePortWrite (Core, TAVRIX_PORT_CRT_INDEX_MONO, TAVRIX_CRT_EXT_BANK_HIGH);
  EXPECT_EQ (TavrixCorePortWrite (Core, TAVRIX_PORT_CRT_DATA_MONO, 0x03), TavrixPortClaimed);
  EXPECT_EQ (TavrixCoreBank (Core), 0x300u);
  EXPECT_EQ (TavrixCorePortRead (Core, TAVRIX_PORT_CRT_DATA_MONO, &Value), TavrixPortClaimed);
  EXPECT_EQ (Value, 0x03);

  // The colour ports are not the CRT's now: the VGA ignores them, and so
  // does the core.
  EXPECT_EQ (TavrixCorePortWrite (Core, TAVRIX_PORT_CRT_INDEX, TAVRIX_CRT_EXT_MODE), TavrixPortStandard);
  EXPECT_EQ (TavrixCorePortWrite (Core, TAVRIX_PORT_CRT_DATA, 0x06), TavrixPortStandard);
  EXPECT_EQ (TavrixCorePortRead (Core, TAVRIX_PORT_CRT_DATA, &Value), TavrixPortStandard);
  EXPECT_EQ (Core->CrtModeControl, 0) << "0x3D5 wrote an extended register while the CRT is at 0x3B5";
  EXPECT_EQ (Core->CrtBankHigh, 0x03);

  // Back to colour: the same registers at 0x3D4/0x3D5, none at 0x3B5.
  TavrixCorePortWrite (Core, TAVRIX_PORT_MISC_OUTPUT, 0x67);
  TavrixCorePortWrite (Core, TAVRIX_PORT_CRT_INDEX, TAVRIX_CRT_EXT_BANK_HIGH);
  EXPECT_EQ (TavrixCorePortRead (Core, TAVRIX_PORT_CRT_DATA, &Value), TavrixPortClaimed);
  EXPECT_EQ (Value, 0x03);
  EXPECT_EQ (TavrixCorePortWrite (Core, TAVRIX_PORT_CRT_DATA_MONO, 0x0F), TavrixPortStandard);
  EXPECT_EQ (TavrixCoreBank (Core), 0x300u);
}

TEST_F (DisplayCoreTest, TheApertureDecodesWithBothEnablesAndOnlyWithinItsBounds)
{
  uint64_t Offset = 0;

  EXPECT_FALSE (TavrixCoreApertureDecodes (Core, 1)) << "off after reset";
  TavrixCoreWriteApertureControl (Core, 0xFF);
  EXPECT_EQ (TavrixCoreReadApertureControl (Core), TAVRIX_APERTURE_ENABLE) << "reserved bits read as 0";
  EXPECT_TRUE (TavrixCoreApertureDecodes (Core, 1));
  EXPECT_FALSE (TavrixCoreApertureDecodes (Core, 0)) << "memory decoding off";

  ASSERT_TRUE (TavrixCoreApertureOffset (TAVRIX_APERTURE_BASE + 0x1FFFC, 4, &Offset));
  EXPECT_EQ (Offset, 0x1FFFCu) << "the full offset, not folded into a bank";
  ASSERT_TRUE (TavrixCoreApertureOffset (TAVRIX_APERTURE_BASE + TAVRIX_APERTURE_SIZE - 4, 4, &Offset));
  EXPECT_EQ (Offset, TAVRIX_APERTURE_SIZE - 4);

  Offset = 0x1234;
  EXPECT_FALSE (TavrixCoreApertureOffset (TAVRIX_APERTURE_BASE + TAVRIX_APERTURE_SIZE - 2, 4, &Offset));
  EXPECT_FALSE (TavrixCoreApertureOffset (TAVRIX_APERTURE_BASE + TAVRIX_APERTURE_SIZE, 1, &Offset));
  EXPECT_FALSE (TavrixCoreApertureOffset (TAVRIX_APERTURE_BASE - 1, 4, &Offset));
  EXPECT_FALSE (TavrixCoreApertureOffset (TAVRIX_APERTURE_BASE, 0, &Offset));
  EXPECT_FALSE (TavrixCoreApertureOffset (TAVRIX_APERTURE_BASE, UINT64_MAX, &Offset));
  EXPECT_FALSE (TavrixCoreApertureOffset (UINT64_MAX, 4, &Offset));
  EXPECT_EQ (Offset, 0x1234u) << "a refused access leaves the offset alone";
}

} // namespace

int
main (int argc, char *argv[])
{
  testing::InitGoogleTest (&argc, argv);
  return RUN_ALL_TESTS ();
}
