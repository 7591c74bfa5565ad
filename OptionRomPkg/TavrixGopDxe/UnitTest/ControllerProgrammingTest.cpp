/** @file
  What the controller receives: the register initialisation, the complete
  mode-set sequence of each mode, the frame-buffer clear and its counter,
  the enable-set selector, the channel A path and register-access failures.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "GopTestSupport.h"

HOST_MODEL_TEST_FILE (ControllerProgrammingTest);

namespace {

using ControllerProgramming = GopTest;

TEST_F (ControllerProgramming, StartInitialisesRegistersThenSetsModeZeroWithoutClearing)
{
  Model.Controller.SetRegister (0x802B4, 0xFFFFFFFF);
  Model.Controller.SetRegister (0x802A8, 0x7FFFFFFF);
  ASSERT_EQ (Model.ConnectController (Controller), EFI_SUCCESS);
  Mark = 0;

  std::vector<std::string> Expected = {
    "r 802b0", "w 802b0 01d40a02", "r 802b4", "w 802b4 106b851e",
    "r 802b8", "w 802b8 03b40101", "r 802bc", "w 802bc 00000000",
  };
  std::vector<std::string> ModeZero = ExpectedModeSet (kShippedModes[0], 0x7FFFFFFF, false);

  Expected.insert (Expected.end (), ModeZero.begin (), ModeZero.end ());
  EXPECT_EQ (Trace (), Expected);
  EXPECT_EQ (Model.Controller.Register (0x802A8), 0x42D40F02u);
}

TEST_F (ControllerProgramming, EveryModeSetWritesTheDocumentedSequence)
{
  StartAndClearLogs ();
  for (UINT32 ModeNumber : { 1u, 2u, 3u, 0u }) {
    SCOPED_TRACE (ModeNumber);
    Model.Controller.SetRegister (0x802A8, 0xC0000001);
    Model.Controller.ClearLogs ();
    Model.Ports.ClearLogs ();
    Mark = Model.NextSequence ();
    SetMem (Model.Controller.FrameBuffer (), 8, 0xFF);
    SetMem (Model.Controller.FrameBuffer () + 5242876, 8, 0xFF);

    ASSERT_EQ (Gop ()->SetMode (Gop (), ModeNumber), EFI_SUCCESS);
    EXPECT_EQ (Trace (), ExpectedModeSet (kShippedModes[ModeNumber], 0xC0000001, true));
    EXPECT_EQ (Model.Controller.Pixel (0), 0u);
    EXPECT_EQ (Model.Controller.Pixel (5242876), 0u);
    EXPECT_EQ (Model.Controller.Pixel (5242880), 0xFFFFFFFFu) << "the clear covers 1280 x 1024 words only";
  }
}

TEST_F (ControllerProgramming, ClearLeavesTheFirstAndEvery256thModeSetAlone)
{
  ASSERT_EQ (Model.ConnectController (Controller), EFI_SUCCESS);
  EXPECT_TRUE (Model.Controller.FrameLog ().empty ()) << "the first mode set keeps the screen";

  //
  // Mode sets 2 to 4 for real; sets 5 to 255 only advance the 8-bit counter
  // (each costs a 5 MiB clear), then 256 to 258 for real again.
  //
  for (UINT32 Set = 2; Set <= 258; Set++) {
    if ((Set > 4) && (Set < 256)) {
      Context ()->ModeSetCount++;
      continue;
    }

    Model.Controller.ClearLogs ();
    ASSERT_EQ (Gop ()->SetMode (Gop (), (Gop ()->Mode->Mode == 0) ? 1 : 0), EFI_SUCCESS);
    const std::vector<FRAME_ACCESS> &Log = Model.Controller.FrameLog ();
    if (Set == 257) {
      EXPECT_TRUE (Log.empty ()) << "mode set 257 finds the counter wrapped to 0";
      continue;
    }

    ASSERT_EQ (Log.size (), 1u) << "mode set " << Set;
    EXPECT_EQ (Log[0].Width, EfiPciIoWidthFillUint32);
    EXPECT_EQ (Log[0].Offset, 0u);
    EXPECT_EQ (Log[0].Count, 1310720u) << "the largest mode's frame, whatever the mode";
  }
}

TEST_F (ControllerProgramming, EnableBitsFollowTheSelector)
{
  StartAndClearLogs ();
  Model.Controller.SetRegister (0x40, 0x00000104);
  for (UINT32 Select : { 0u, 1u, 2u, 3u, 0xFFFFFFFDu }) {
    SCOPED_TRACE (Select);
    Model.Controller.SetRegister (0x4C, Select);
    Model.Controller.ClearLogs ();
    ASSERT_EQ (Gop ()->SetMode (Gop (), (Gop ()->Mode->Mode + 1) % 4), EFI_SUCCESS);

    UINT64 Target = ((Select & 3) == 1) ? 0x48 : 0x44;
    UINT64 Other  = (Target == 0x48) ? 0x44 : 0x48;
    EXPECT_EQ (Model.Controller.RegisterWrites (Target), std::vector<UINT32>{ 0x104 });
    EXPECT_TRUE (Model.Controller.RegisterWrites (Other).empty ());
  }
}

//
// Channel A is never chosen by the mode set; its path is driven directly.
//
class ChannelA : public GopTest {
protected:
  DISPLAY_DEVICE_CONTEXT Device = {};

  void
  SetUp () override
  {
    GopTest::SetUp ();
    Device.Signature = DISPLAY_DEVICE_CONTEXT_SIGNATURE;
    Device.PciIo     = Model.Controller.PciIo ();
  }
};

TEST_F (ChannelA, ClockSelectOneAddsItsExtraChangesAndKeepsMaskedBits)
{
  DISPLAY_TIMING Timing  = mTiming800x600;
  CLOCK_REQUEST  Request = { 1, 14318181, 0x12, 0x3F, 0x7, 0x6 };

  Timing.ClockPolarity = 2;
  Model.Controller.SetRegister (0x80000, 0xFFFFFFFF);
  Model.Controller.SetRegister (0x80200, 0xFFFFFFFF);
  Model.Controller.SetRegister (0x88, 0x1);
  ProgramDisplayTiming (&Device, &Timing, 8, 800, &Request);

  EXPECT_EQ (Model.Controller.RegisterWrites (0x5C), (std::vector<UINT32>{ 0x0002BF12, 0x0002BF12 }));
  EXPECT_EQ (Model.Controller.RegisterWrites (0x88), (std::vector<UINT32>{ 0x5, 0x7 }));
  EXPECT_EQ (Model.Controller.RegisterWrites (0x80200), std::vector<UINT32>{ 0xFFF3FFFF });
  EXPECT_EQ (Model.Controller.RegisterWrites (0x80010), std::vector<UINT32>{ 0x03200320 });
  EXPECT_EQ (Model.Controller.RegisterWrites (0x80014), std::vector<UINT32>{ 0x031F0000 });
  EXPECT_EQ (Model.Controller.RegisterWrites (0x80018), std::vector<UINT32>{ 0x02570000 });
  EXPECT_EQ (Model.Controller.RegisterWrites (0x80020), std::vector<UINT32>{ 0x0257031F });
  EXPECT_EQ (Model.Controller.RegisterWrites (0x80024), std::vector<UINT32>{ 0x041F031F });
  EXPECT_EQ (Model.Controller.RegisterWrites (0x80030), std::vector<UINT32>{ 0x00040258 });

  //
  // Bits 29:28 cleared first, then masked bits kept (0x3F0F0EA8 of the
  // cleared value), format 0 for 8 bpp, bits 2 and 8, and bit 14 because
  // ClockPolarity is non-zero; no sync-polarity bits for this mode.
  //
  EXPECT_EQ (Model.Controller.RegisterWrites (0x80000), (std::vector<UINT32>{ 0xCFFFFFFF, 0x0F0F4FAC }));
  EXPECT_TRUE (Model.Controller.RegisterWrites (0x60).empty ());
  EXPECT_TRUE (Model.Stalls ().empty ()) << "channel A has no pixel-clock sequence";
}

TEST_F (ChannelA, EightBitPaletteIsAColourCubeThenGreys)
{
  CLOCK_REQUEST Request = { 0, 14318181, 0, 0, 0, 0 };

  ProgramDisplayTiming (&Device, &mTiming640x480, 8, 640, &Request);
  std::vector<UINT32> Palette;
  for (UINT32 Index = 0; Index < 256; Index++) {
    std::vector<UINT32> Writes = Model.Controller.RegisterWrites (0x80400 + 4 * Index);
    ASSERT_EQ (Writes.size (), 1u);
    Palette.push_back (Writes[0]);
  }

  EXPECT_EQ (Palette[0], 0x000000u);
  EXPECT_EQ (Palette[1], 0x000033u) << "blue varies fastest";
  EXPECT_EQ (Palette[6], 0x003300u);
  EXPECT_EQ (Palette[36], 0x330000u);
  EXPECT_EQ (Palette[215], 0xFFFFFFu);
  EXPECT_EQ (Palette[216], 0x000000u);
  EXPECT_EQ (Palette[217], 0x070707u);
  EXPECT_EQ (Palette[230], 0x5C5C5Cu);
  EXPECT_EQ (Palette[255], 0xFFFFFFu);
  EXPECT_EQ (Model.Controller.RegisterWrites (0x80000).back () & 3u, 0u);
  EXPECT_TRUE (Model.Controller.RegisterWrites (0x88).empty ()) << "only clock select 1 touches 0x88";
}

TEST_F (ChannelA, DisplayControlThatNeverReadsBackIsBoundedAndReported)
{
  CLOCK_REQUEST Request = { 0, 14318181, 0, 0, 0, 0 };

  Model.Controller.OnRegisterRead (0x80000, [] (UINT32) { return 0u; });
  ProgramDisplayTiming (&Device, &mTiming1024x768, 16, 2048, &Request);

  EXPECT_EQ (Model.Controller.RegisterWrites (0x80000).size (), 1000u);
  EXPECT_EQ (Model.Controller.RegisterWrites (0x80000).back (), 0x00007105u) << "16 bpp: format 1";
  EXPECT_NE (Serial ().find ("did not read back"), std::string::npos) << Serial ();
  EXPECT_EQ (Model.Controller.RegisterWrites (0x80C00).size (), 0u);
  EXPECT_EQ (Model.Controller.RegisterWrites (0x80400 + 4 * 255), std::vector<UINT32>{ 0xFFFFFF }) << "grey ramp";
}

TEST_F (ChannelA, DisplayControlRewrittenUntilItReadsBack)
{
  CLOCK_REQUEST Request = { 0, 14318181, 0, 0, 0, 0 };
  UINTN         Reads   = 0;

  Model.Controller.OnRegisterRead (0x80000, [&Reads] (UINT32 Stored) { return (++Reads < 3) ? 0u : Stored; });
  ProgramDisplayTiming (&Device, &mTiming640x480, 32, 2560, &Request);

  EXPECT_EQ (Model.Controller.RegisterWrites (0x80000).size (), 2u)
    << "the first read is the read-modify-write's, then one miss";
  EXPECT_EQ (Serial ().find ("did not read back"), std::string::npos);
}

TEST_F (ControllerProgramming, ChannelBClockPolarityOtherThanOneLeavesBit14Clear)
{
  DISPLAY_DEVICE_CONTEXT Device  = {};
  DISPLAY_TIMING         Timing  = mTiming1280x1024;
  CLOCK_REQUEST          Request = { 2, 14318181, 0, 0, 0, 0 };

  Device.PciIo                = Model.Controller.PciIo ();
  Timing.ClockPolarity        = 2;
  Timing.HorizontalDisplayEnd = 1280;
  Timing.VerticalDisplayEnd   = 960;
  ProgramDisplayTiming (&Device, &Timing, 32, 5120, &Request);

  EXPECT_EQ (Model.Controller.RegisterWrites (0x80200), std::vector<UINT32>{ 0x02080106 });
  EXPECT_EQ (Model.Controller.RegisterWrites (0x802AC), std::vector<UINT32>{ 0x80000000 })
    << "1280 x 960 shares 1280 x 1024's words";
}

TEST_F (ControllerProgramming, FailedRegisterAccessIsFatal)
{
  StartAndClearLogs ();
  Model.Controller.FailCall (PciIoMemWrite, 1);

  // The line is the register write's own source line, whatever it is.
  EXPECT_TRUE (Model.ExpectDeadLoop ([&] { Gop ()->SetMode (Gop (), 1); }));
  EXPECT_TRUE (std::regex_match (
    SerialWithoutDirectories (),
    std::regex ("\r\nASSERT_EFI_ERROR \\(Status = Device Error\\)\r\n"
                "ASSERT UefiTvxGraphicsOutput\\.cpp\\([0-9]+\\): !EFI_ERROR \\(Status\\)\r\n")
  )) << SerialWithoutDirectories ();
}

TEST_F (ControllerProgramming, FailedCrtPortWriteIsIgnored)
{
  StartAndClearLogs ();
  Model.Controller.FailCall (PciIoIoWrite, 1);
  ASSERT_EQ (Gop ()->SetMode (Gop (), 3), EFI_SUCCESS);
  EXPECT_EQ (Model.Controller.Register (0x802A8), 0x42B41B01u);
  EXPECT_EQ (Model.DeadLoops (), 0u);
}

} // namespace
