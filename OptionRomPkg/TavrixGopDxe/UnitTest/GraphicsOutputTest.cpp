/** @file
  The Graphics Output service as consoles see it: the mode record after
  start, QueryMode and SetMode answers, a GOP without a frame-buffer address,
  and Blt's statuses and pixels for all four operations, including
  rectangles whose sums would wrap.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "GopTestSupport.h"

extern "C" {
#include <IndustryStandard/Acpi.h>
}

HOST_MODEL_TEST_FILE (GraphicsOutputTest);

namespace {

constexpr UINTN kWidth  = 640;
constexpr UINTN kHeight = 480;

class GraphicsOutput : public GopTest {
protected:
  void
  SetUp () override
  {
    GopTest::SetUp ();
    StartAndClearLogs ();
    Frame = reinterpret_cast<UINT32 *> (Model.Controller.FrameBuffer ());
  }

  EFI_STATUS
  Blt (
    EFI_GRAPHICS_OUTPUT_BLT_PIXEL    *Buffer,
    EFI_GRAPHICS_OUTPUT_BLT_OPERATION Operation,
    UINTN                             SourceX,
    UINTN                             SourceY,
    UINTN                             DestinationX,
    UINTN                             DestinationY,
    UINTN                             Width,
    UINTN                             Height,
    UINTN                             Delta = 0
  )
  {
    return Gop ()->Blt (Gop (), Buffer, Operation, SourceX, SourceY, DestinationX, DestinationY, Width, Height, Delta);
  }

  /// Gives every pixel of the 640 x 480 frame a value made of its position.
  void
  PaintPositions ()
  {
    for (UINT32 Y = 0; Y < kHeight; Y++) {
      for (UINT32 X = 0; X < kWidth; X++) {
        Frame[Y * kWidth + X] = (Y << 16) | X;
      }
    }
  }

  UINT32 *Frame = nullptr;
};

TEST_F (GraphicsOutput, AfterStartModeZeroIsCurrentAndDescribed)
{
  EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE *Mode = Gop ()->Mode;

  EXPECT_EQ (Mode->MaxMode, 4u);
  EXPECT_EQ (Mode->Mode, 0u);
  EXPECT_EQ (Mode->SizeOfInfo, 36u);
  EXPECT_EQ (Mode->FrameBufferSize, 1228800u);
  EXPECT_EQ (Mode->FrameBufferBase, (EFI_PHYSICAL_ADDRESS)(UINTN)Model.Controller.FrameBuffer ());
  EXPECT_EQ (Mode->Info->Version, 0u);
  EXPECT_EQ (Mode->Info->HorizontalResolution, 640u);
  EXPECT_EQ (Mode->Info->VerticalResolution, 480u);
  EXPECT_EQ (Mode->Info->PixelFormat, PixelBlueGreenRedReserved8BitPerColor);
  EXPECT_EQ (Mode->Info->PixelInformation.RedMask | Mode->Info->PixelInformation.ReservedMask, 0u);
  EXPECT_EQ (Mode->Info->PixelsPerScanLine, 640u);
  EXPECT_FALSE (Context ()->ModeNotSet);
}

TEST_F (GraphicsOutput, QueryModeDescribesEveryModeAndRefusesBadArguments)
{
  EFI_GRAPHICS_OUTPUT_MODE_INFORMATION *Info = nullptr;
  UINTN                                 Size = 0;

  for (UINT32 Number = 0; Number < 4; Number++) {
    ASSERT_EQ (Gop ()->QueryMode (Gop (), Number, &Size, &Info), EFI_SUCCESS);
    EXPECT_EQ (Size, 36u);
    EXPECT_EQ (Info->HorizontalResolution, kShippedModes[Number].Width);
    EXPECT_EQ (Info->VerticalResolution, kShippedModes[Number].Height);
    EXPECT_EQ (Info->PixelsPerScanLine, kShippedModes[Number].Width);
    EXPECT_EQ (Info->PixelFormat, PixelBlueGreenRedReserved8BitPerColor);
    FreePool (Info);
  }

  UINT64 Mark = Model.Memory.Mark ();

  EXPECT_EQ (Gop ()->QueryMode (Gop (), 4, &Size, &Info), EFI_INVALID_PARAMETER);
  EXPECT_EQ (Gop ()->QueryMode (Gop (), 0, nullptr, &Info), EFI_INVALID_PARAMETER);
  EXPECT_EQ (Gop ()->QueryMode (Gop (), 0, &Size, nullptr), EFI_INVALID_PARAMETER);
  Model.Memory.FailAllocation (1);
  EXPECT_EQ (Gop ()->QueryMode (Gop (), 0, &Size, &Info), EFI_OUT_OF_RESOURCES);
  Context ()->ModeNotSet = TRUE;
  EXPECT_EQ (Gop ()->QueryMode (Gop (), 0, &Size, &Info), EFI_NOT_STARTED);
  EXPECT_EQ (Model.Memory.LeakReport (Mark), "");
}

TEST_F (GraphicsOutput, SetModeChangesModeAndRefusesUnknownNumbers)
{
  EXPECT_EQ (Gop ()->SetMode (Gop (), 4), EFI_UNSUPPORTED);
  EXPECT_EQ (Gop ()->SetMode (Gop (), 0xFFFFFFFF), EFI_UNSUPPORTED);
  EXPECT_EQ (Gop ()->SetMode (Gop (), 0), EFI_SUCCESS);
  EXPECT_TRUE (Trace ().empty ()) << "the current mode is not programmed again";

  ASSERT_EQ (Gop ()->SetMode (Gop (), 2), EFI_SUCCESS);
  EXPECT_EQ (Gop ()->Mode->Mode, 2u);
  EXPECT_EQ (Gop ()->Mode->FrameBufferSize, 3145728u);
  EXPECT_EQ (Gop ()->Mode->Info->HorizontalResolution, 1024u);
  EXPECT_EQ (Gop ()->Mode->Info->PixelsPerScanLine, 1024u);

  ASSERT_EQ (Gop ()->SetMode (Gop (), 3), EFI_SUCCESS);
  EXPECT_EQ (Gop ()->Mode->FrameBufferSize, 5242880u);
}

/// The current mode offers no frame buffer, for Blt only, and QueryMode
/// says so too.
void
ExpectBltOnly (EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop, const char *Why)
{
  SCOPED_TRACE (Why);
  EFI_GRAPHICS_OUTPUT_MODE_INFORMATION *Info = nullptr;
  UINTN                                 Size = 0;

  EXPECT_EQ (Gop->Mode->Info->PixelFormat, PixelBltOnly);
  EXPECT_EQ (Gop->Mode->FrameBufferBase, 0u);
  EXPECT_EQ (Gop->Mode->FrameBufferSize, 0u);
  EXPECT_EQ (Gop->Mode->Info->HorizontalResolution, kShippedModes[Gop->Mode->Mode].Width);
  ASSERT_EQ (Gop->QueryMode (Gop, 3, &Size, &Info), EFI_SUCCESS);
  EXPECT_EQ (Info->PixelFormat, PixelBltOnly);
  FreePool (Info);
}

TEST_F (GraphicsOutput, WithoutBarZerosAddressTheModesAreBltOnlyAndBltStillDraws)
{
  UINT64                        Mark   = Model.Memory.Mark ();
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL Colour = { 0x11, 0x22, 0x33, 0x00 };

  Model.Controller.FailCall (PciIoGetBarAttributes, 1);
  ASSERT_EQ (Gop ()->SetMode (Gop (), 1), EFI_SUCCESS);
  ExpectBltOnly (Gop (), "GetBarAttributes failed");
  ASSERT_EQ (Blt (&Colour, EfiBltVideoFill, 0, 0, 799, 599, 1, 1), EFI_SUCCESS);
  EXPECT_EQ (Frame[599 * 800 + 799], 0x00332211u) << "through PCI I/O";

  Model.Controller.SetBarDescriptorType (ACPI_ADDRESS_SPACE_DESCRIPTOR, ACPI_ADDRESS_SPACE_TYPE_IO);
  ASSERT_EQ (Gop ()->SetMode (Gop (), 2), EFI_SUCCESS);
  ExpectBltOnly (Gop (), "an I/O range");
  Model.Controller.SetBarDescriptorType (ACPI_END_TAG_DESCRIPTOR, ACPI_ADDRESS_SPACE_TYPE_MEM);
  ASSERT_EQ (Gop ()->SetMode (Gop (), 3), EFI_SUCCESS);
  ExpectBltOnly (Gop (), "no descriptor before the end tag");

  Model.Controller.SetBarDescriptorType (ACPI_ADDRESS_SPACE_DESCRIPTOR, ACPI_ADDRESS_SPACE_TYPE_MEM);
  ASSERT_EQ (Gop ()->SetMode (Gop (), 0), EFI_SUCCESS);
  EXPECT_EQ (Gop ()->Mode->Info->PixelFormat, PixelBlueGreenRedReserved8BitPerColor);
  EXPECT_EQ (Gop ()->Mode->FrameBufferBase, (EFI_PHYSICAL_ADDRESS)(UINTN)Model.Controller.FrameBuffer ());
  EXPECT_EQ (Gop ()->Mode->FrameBufferSize, 1228800u);
  EXPECT_EQ (Model.Memory.LeakReport (Mark), "") << "the descriptor buffers are freed";
}

TEST_F (GopTest, WithoutBarZerosAddressTheGopIsBltOnlyFromTheStart)
{
  Model.Controller.FailCall (PciIoGetBarAttributes, 1);
  ASSERT_EQ (Model.ConnectController (Controller), EFI_SUCCESS);
  ASSERT_NE (Gop (), nullptr);
  EXPECT_EQ (Gop ()->Mode->Mode, 0u);
  ExpectBltOnly (Gop (), "after construction");
}

TEST_F (GraphicsOutput, BltRefusesBadRequestsBeforeTouchingTheFrame)
{
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL Pixels[4] = {};
  const UINTN                   Huge      = MAX_UINTN - 4;

  struct {
    EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Buffer;
    UINT32                         Operation;
    UINTN                          SourceX, SourceY, DestinationX, DestinationY, Width, Height, Delta;
  } Refused[] = {
    { Pixels, 4, 0, 0, 0, 0, 1, 1, 0 },
    { Pixels, EfiBltVideoFill, 0, 0, 0, 0, 0, 1, 0 },
    { Pixels, EfiBltVideoFill, 0, 0, 0, 0, 1, 0, 0 },
    { Pixels, EfiBltVideoFill, 0, 0, 1, 0, 640, 1, 0 },
    { Pixels, EfiBltVideoFill, 0, 0, 0, 1, 1, 480, 0 },
    { Pixels, EfiBltBufferToVideo, 0, 0, Huge, 0, 8, 1, 0 }, // sums that wrap
    { Pixels, EfiBltBufferToVideo, 0, 0, 0, Huge, 1, 8, 0 },
    { Pixels, EfiBltVideoToBltBuffer, Huge, 0, 0, 0, 8, 1, 0 },
    { Pixels, EfiBltVideoToBltBuffer, 0, Huge, 0, 0, 1, 8, 0 },
    { Pixels, EfiBltVideoFill, 0, 0, Huge, Huge, 8, 8, 0 },
    { Pixels, EfiBltVideoToBltBuffer, 0, 0, 0, Huge, 1, 1, 4 }, // buffer offset wraps
    { nullptr, EfiBltVideoToVideo, 600, 0, 0, 0, 41, 1, 0 },    // source outside
    { nullptr, EfiBltVideoToVideo, 0, 470, 0, 0, 1, 11, 0 },
    { nullptr, EfiBltVideoToVideo, Huge, 0, 0, 0, 8, 1, 0 },
    { nullptr, EfiBltVideoFill, 0, 0, 0, 0, 1, 1, 0 }, // no buffer
    { nullptr, EfiBltVideoToBltBuffer, 0, 0, 0, 0, 1, 1, 0 },
    { nullptr, EfiBltBufferToVideo, 0, 0, 0, 0, 1, 1, 0 },
  };

  for (UINTN Index = 0; Index < ARRAY_SIZE (Refused); Index++) {
    auto &Case = Refused[Index];
    EXPECT_EQ (
      Blt (
        Case.Buffer, (EFI_GRAPHICS_OUTPUT_BLT_OPERATION)Case.Operation, Case.SourceX, Case.SourceY, Case.DestinationX,
        Case.DestinationY, Case.Width, Case.Height, Case.Delta
      ),
      EFI_INVALID_PARAMETER
    ) << "case "
      << Index;
  }

  EXPECT_TRUE (Model.Controller.FrameLog ().empty ());
  EXPECT_EQ (Model.CurrentTpl (), (EFI_TPL)TPL_APPLICATION);
}

TEST_F (GraphicsOutput, FillCoversExactlyTheRectangleRowByRowAtNotify)
{
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL Colour[2] = { { 0x11, 0x22, 0x33, 0x00 }, { 0xFF, 0xFF, 0xFF, 0xFF } };

  ASSERT_EQ (Blt (Colour, EfiBltVideoFill, 0, 0, 630, 470, 10, 10, 7), EFI_SUCCESS) << "reaches the corner exactly";
  EXPECT_EQ (Frame[470 * kWidth + 630], 0x00332211u);
  EXPECT_EQ (Frame[479 * kWidth + 639], 0x00332211u) << "only the first pixel of the buffer is used";
  EXPECT_EQ (Frame[469 * kWidth + 630], 0u);
  EXPECT_EQ (Frame[470 * kWidth + 629], 0u);

  const std::vector<FRAME_ACCESS> &Log = Model.Controller.FrameLog ();
  ASSERT_EQ (Log.size (), 10u);
  for (const FRAME_ACCESS &Access : Log) {
    EXPECT_EQ (Access.Width, EfiPciIoWidthFillUint32);
    EXPECT_EQ (Access.Count, 10u);
    EXPECT_EQ (Access.Tpl, (EFI_TPL)TPL_NOTIFY);
  }

  EXPECT_EQ (Log[9].Offset, (479 * kWidth + 630) * 4);
  EXPECT_EQ (Model.CurrentTpl (), (EFI_TPL)TPL_APPLICATION);
}

TEST_F (GraphicsOutput, BufferToVideoReadsRowsDeltaApartFromTheSubRectangle)
{
  //
  // A 5 x 4 buffer; rows 1-2, columns 2-4 go to (100, 200).
  //
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL Buffer[4][5];
  for (UINT32 Row = 0; Row < 4; Row++) {
    for (UINT32 Column = 0; Column < 5; Column++) {
      Buffer[Row][Column] = { (UINT8)Column, (UINT8)Row, 0x7F, 0 };
    }
  }

  ASSERT_EQ (Blt (&Buffer[0][0], EfiBltBufferToVideo, 2, 1, 100, 200, 3, 2, sizeof (Buffer[0])), EFI_SUCCESS);
  EXPECT_EQ (Frame[200 * kWidth + 100], 0x007F0102u);
  EXPECT_EQ (Frame[201 * kWidth + 102], 0x007F0204u);
  EXPECT_EQ (Frame[201 * kWidth + 103], 0u);

  //
  // Delta 0: rows are Width pixels apart.
  //
  ASSERT_EQ (Blt (&Buffer[0][0], EfiBltBufferToVideo, 0, 0, 0, 0, 5, 2), EFI_SUCCESS);
  EXPECT_EQ (Frame[kWidth + 0], 0x007F0100u) << "second row starts at the buffer's sixth pixel";
}

TEST_F (GraphicsOutput, VideoToBufferIsCheckedOnItsSourceOnly)
{
  PaintPositions ();
  std::vector<EFI_GRAPHICS_OUTPUT_BLT_PIXEL> Buffer (1000 * 3);

  //
  // The destination lies far beyond the frame's size; it addresses the
  // caller's buffer, 3 pixels wide.
  //
  ASSERT_EQ (Blt (Buffer.data (), EfiBltVideoToBltBuffer, 637, 478, 1, 998, 2, 2, 12), EFI_SUCCESS);
  UINT32 *Read = reinterpret_cast<UINT32 *> (Buffer.data ());
  EXPECT_EQ (Read[998 * 3 + 1], (478u << 16) | 637);
  EXPECT_EQ (Read[999 * 3 + 2], (479u << 16) | 638);
  EXPECT_EQ (Read[998 * 3 + 0], 0u);
}

TEST_F (GraphicsOutput, OverlappingVideoMovesReproduceTheSource)
{
  //
  // Scroll up: rows 1-479 move to 0-478. Then down: rows 0-477 to 1-478.
  //
  PaintPositions ();
  ASSERT_EQ (Blt (nullptr, EfiBltVideoToVideo, 0, 1, 0, 0, kWidth, kHeight - 1), EFI_SUCCESS);
  for (UINT32 Y = 0; Y < kHeight - 1; Y++) {
    ASSERT_EQ (Frame[Y * kWidth + 5], ((Y + 1) << 16) | 5) << Y;
  }

  PaintPositions ();
  ASSERT_EQ (Blt (nullptr, EfiBltVideoToVideo, 10, 0, 10, 1, 600, kHeight - 2), EFI_SUCCESS);
  for (UINT32 Y = 1; Y < kHeight - 1; Y++) {
    ASSERT_EQ (Frame[Y * kWidth + 10], ((Y - 1) << 16) | 10) << Y;
    ASSERT_EQ (Frame[Y * kWidth + 609], ((Y - 1) << 16) | 609) << Y;
  }

  EXPECT_EQ (Frame[0 * kWidth + 10], 10u) << "row 0 keeps its pixels";
  EXPECT_EQ (Frame[1 * kWidth + 9], (1u << 16) | 9) << "left of the rectangle unchanged";
  EXPECT_EQ (Frame[1 * kWidth + 610], (1u << 16) | 610) << "right of the rectangle unchanged";
}

TEST_F (GraphicsOutput, ForgedGopIsAFatalBadSignatureInEveryOperation)
{
  DISPLAY_DEVICE_CONTEXT                Forged = *Context ();
  EFI_GRAPHICS_OUTPUT_PROTOCOL         *Fake   = &Forged.GraphicsOutput;
  UINTN                                 Size;
  EFI_GRAPHICS_OUTPUT_MODE_INFORMATION *Info;

  Forged.Signature = 0;
  EXPECT_TRUE (Model.ExpectDeadLoop ([&] { Fake->QueryMode (Fake, 0, &Size, &Info); }));
  EXPECT_TRUE (Model.ExpectDeadLoop ([&] { Fake->SetMode (Fake, 5); }));
  EXPECT_TRUE (Model.ExpectDeadLoop ([&] { Fake->Blt (Fake, nullptr, EfiBltVideoFill, 0, 0, 0, 0, 0, 0, 0); }));
  EXPECT_EQ (
    SerialWithoutDirectories (), "ASSERT UefiTvxGraphicsOutput.cpp(187): CR has Bad Signature\r\n"
                                 "ASSERT UefiTvxGraphicsOutput.cpp(246): CR has Bad Signature\r\n"
                                 "ASSERT UefiTvxGraphicsOutput.cpp(490): CR has Bad Signature\r\n"
  );
}

} // namespace
