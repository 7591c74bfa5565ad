/** @file
  The reference platform's early display on the host model: what it draws
  through the callbacks registered with its display protocols, that it stays
  inside the frame of the display-information HOB, and how it takes the
  display driver's GOP (the first usable one, in the early frame's mode) to
  draw the picture again, that text is printed only before PCI enumeration,
  and that the frame aperture goes off once nothing needs it. The callbacks
  record their calls; the GOPs are the test's own.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include <HostModel.h>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

extern "C" {
#include "../PlatformEarlyDisplayDxe.h"
#include <Library/BaseMemoryLib.h>
#include <Library/MemoryAllocationLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Protocol/DevicePath.h>
#include <Protocol/GraphicsOutput.h>
#include <Protocol/PciEnumerationComplete.h>
}

namespace {

//
// The board: a 128 x 128 logo of opaque white by default; a test may take
// the logo away, change its size, or have the board fail to allocate it.
//
enum class BOARD_LOGO { Present, None, NoMemory };
BOARD_LOGO mBoardLogo     = BOARD_LOGO::Present;
UINT32     mBoardLogoSide = 128;

} // namespace

extern "C" EFI_STATUS EFIAPI
EarlyDisplayBoardGetLogo (OUT UINT32 **Pixels, OUT UINT32 *Width, OUT UINT32 *Height)
{
  switch (mBoardLogo) {
    case BOARD_LOGO::None:
      return EFI_NOT_FOUND;
    case BOARD_LOGO::NoMemory:
      return EFI_OUT_OF_RESOURCES;
    case BOARD_LOGO::Present:
      break;
  }

  *Width  = mBoardLogoSide;
  *Height = mBoardLogoSide;
  *Pixels = static_cast<UINT32 *> (AllocatePool ((UINTN)mBoardLogoSide * mBoardLogoSide * sizeof (UINT32)));
  if (*Pixels == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }

  for (UINTN Index = 0; Index < (UINTN)mBoardLogoSide * mBoardLogoSide; Index++) {
    (*Pixels)[Index] = 0xFFFFFFFF;
  }

  return EFI_SUCCESS;
}

//
// The board's hold: none by default; a test may set one, with or without a
// release that comes after a number of polls.
//
UINT32       mBoardHold;
const CHAR8 *mBoardRelease;
UINTN        mPollsUntilRelease;

extern "C" UINT32 EFIAPI
EarlyDisplayBoardHoldMilliseconds (VOID)
{
  return mBoardHold;
}

extern "C" CONST CHAR8 *EFIAPI
EarlyDisplayBoardHoldRelease (VOID)
{
  return mBoardRelease;
}

extern "C" BOOLEAN EFIAPI
EarlyDisplayBoardHoldReleased (VOID)
{
  return (mPollsUntilRelease == 0) || (--mPollsUntilRelease == 0);
}

namespace {

//
// Callbacks that record what the platform asks of them.
//
struct DRAW_CALL {
  char                      Kind; ///< 'S' DrawString, 'I' DrawImage, 'P' PrintString
  UINT32                    X;    ///< column, or byte offset of an image
  UINT32                    Y;    ///< row, or row step of an image
  UINT32                    Width;
  UINT32                    Height;
  std::string               Text;
  EARLY_GRAPHICS_CALLBACKS *This;
};

std::vector<DRAW_CALL> mCalls;
UINT32                 mPrelumenBankSelections;

extern "C" EFI_STATUS EFIAPI
RecordDrawString (EARLY_GRAPHICS_CALLBACKS *This, UINT16 Column, UINT16 Row, UINT32 Fg, UINT32 Bg, CHAR8 *String)
{
  mCalls.push_back ({ 'S', Column, Row, 0, 0, String, This });
  return EFI_SUCCESS;
}

/// Draws like Prelumen before a GOP: reads the image's first and last
/// pixel, which lie in the caller's buffer, and selects one bank through
/// This.
extern "C" EFI_STATUS EFIAPI
RecordDrawImage (
  EARLY_GRAPHICS_CALLBACKS *This,
  UINT32                    Offset,
  UINT32                    RowStep,
  UINT8                    *Image,
  UINT32                    Width,
  UINT32                    Height,
  UINT8                     BitsPerPixel,
  UINT32                    ShadowOnly
)
{
  mCalls.push_back ({ 'I', Offset, RowStep, Width, Height, "", This });
  volatile UINT8 Ends = Image[0] | Image[(UINTN)Width * Height * 4 - 1];
  (void)Ends;
  return This->SetBank (This, Offset >> 16);
}

extern "C" EFI_STATUS EFIAPI
PrelumenSetBank (EARLY_GRAPHICS_CALLBACKS *This, UINT32 Bank)
{
  mPrelumenBankSelections++;
  return EFI_SUCCESS;
}

extern "C" EFI_STATUS EFIAPI
RecordEnableDrawing (EARLY_GRAPHICS_CALLBACKS *This, UINT32 Enable)
{
  return EFI_SUCCESS;
}

/// Writes the string into VGA text memory, as Prelumen's PrintString does.
extern "C" EFI_STATUS EFIAPI
RecordPrintString (VOID *This, UINT32 Column, UINT32 Row, UINT8 Attribute, CHAR8 *String)
{
  mCalls.push_back ({ 'P', Column, Row, 0, 0, String, nullptr });
  volatile UINT8 *Cells = reinterpret_cast<volatile UINT8 *> (HOST_MODEL_TEXT_MEMORY_BASE);
  for (UINT32 Index = 0; String[Index] != '\0'; Index++) {
    Cells[(Row * 80 + Column + Index) * 2]     = String[Index];
    Cells[(Row * 80 + Column + Index) * 2 + 1] = Attribute;
  }

  return EFI_SUCCESS;
}

const EARLY_GRAPHICS_CALLBACKS kPrelumenGraphics = { RecordDrawString, RecordDrawImage, PrelumenSetBank,
                                                     RecordEnableDrawing };

//
// A GOP with a list of modes; SetMode only changes what Mode says.
//
struct TEST_GOP {
  EFI_GRAPHICS_OUTPUT_PROTOCOL           Gop;
  EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE      Mode;
  EFI_GRAPHICS_OUTPUT_MODE_INFORMATION   Info;
  std::vector<std::pair<UINT32, UINT32>> Modes;
  std::vector<UINT32>                    SetModes;
  UINT32                                 RefusedQuery = MAX_UINT32;
};

std::map<EFI_GRAPHICS_OUTPUT_PROTOCOL *, TEST_GOP *> mGops;

EFI_GRAPHICS_OUTPUT_MODE_INFORMATION
ModeInfo (std::pair<UINT32, UINT32> Size, EFI_GRAPHICS_PIXEL_FORMAT Format)
{
  EFI_GRAPHICS_OUTPUT_MODE_INFORMATION Info = {};
  Info.HorizontalResolution                 = Size.first;
  Info.VerticalResolution                   = Size.second;
  Info.PixelFormat                          = Format;
  Info.PixelsPerScanLine                    = Size.first;
  return Info;
}

extern "C" EFI_STATUS EFIAPI
TestQueryMode (
  EFI_GRAPHICS_OUTPUT_PROTOCOL          *This,
  UINT32                                 Mode,
  UINTN                                 *Size,
  EFI_GRAPHICS_OUTPUT_MODE_INFORMATION **Info
)
{
  TEST_GOP &Gop = *mGops.at (This);
  if ((Mode >= Gop.Modes.size ()) || (Mode == Gop.RefusedQuery)) {
    return EFI_DEVICE_ERROR;
  }

  EFI_GRAPHICS_OUTPUT_MODE_INFORMATION Record = ModeInfo (Gop.Modes[Mode], Gop.Info.PixelFormat);
  *Size                                       = sizeof (Record);
  *Info = static_cast<EFI_GRAPHICS_OUTPUT_MODE_INFORMATION *> (AllocateCopyPool (sizeof (Record), &Record));
  return EFI_SUCCESS;
}

extern "C" EFI_STATUS EFIAPI
TestSetMode (EFI_GRAPHICS_OUTPUT_PROTOCOL *This, UINT32 Mode)
{
  TEST_GOP &Gop = *mGops.at (This);
  Gop.SetModes.push_back (Mode);
  Gop.Mode.Mode = Mode;
  Gop.Info      = ModeInfo (Gop.Modes.at (Mode), Gop.Info.PixelFormat);
  return EFI_SUCCESS;
}

/// A display behind a bridge on the root bus, PciRoot(0x0)/Pci(Slot,0x0)/
/// Pci(0x0,0x0) (the display controller's model is behind 0x1C), and a
/// display driver's child below it: an ACPI _ADR node, told apart by its
/// address. A path without the child names the PCI function itself.
#pragma pack(1)
struct TEST_DEVICE_PATH {
  ACPI_HID_DEVICE_PATH     Root;
  PCI_DEVICE_PATH          Slot;
  PCI_DEVICE_PATH          Function;
  ACPI_ADR_DEVICE_PATH     Child;
  EFI_DEVICE_PATH_PROTOCOL End;

  TEST_DEVICE_PATH (UINT8 SlotDevice, UINT32 Address)
  {
    Root     = { { ACPI_DEVICE_PATH, ACPI_DP, { sizeof (ACPI_HID_DEVICE_PATH), 0 } }, EISA_PNP_ID (0x0A03), 0 };
    Slot     = { { HARDWARE_DEVICE_PATH, HW_PCI_DP, { sizeof (PCI_DEVICE_PATH), 0 } }, 0, SlotDevice };
    Function = { { HARDWARE_DEVICE_PATH, HW_PCI_DP, { sizeof (PCI_DEVICE_PATH), 0 } }, 0, 0 };
    Child    = { { ACPI_DEVICE_PATH, ACPI_ADR_DP, { sizeof (ACPI_ADR_DEVICE_PATH), 0 } }, Address };
    End      = { END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, { 4, 0 } };
  }

  /// The PCI function's own path: the child node becomes the end.
  EFI_DEVICE_PATH_PROTOCOL *
  FunctionPath ()
  {
    Child.Header = { END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, { 4, 0 } };
    return &Root.Header;
  }
};
#pragma pack()

/// Another display's PCI I/O: only its IDs (QEMU's standard VGA) are read.
extern "C" EFI_STATUS EFIAPI
OtherDisplayConfigRead (EFI_PCI_IO_PROTOCOL *This, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT32 Offset, UINTN Count, VOID *Buffer)
{
  if ((Width != EfiPciIoWidthUint32) || (Offset != 0) || (Count != 1)) {
    return EFI_UNSUPPORTED;
  }

  *static_cast<UINT32 *> (Buffer) = 0x11111234;
  return EFI_SUCCESS;
}

class PlatformEarlyDisplay : public HOST_MODEL_TEST {
protected:
  void
  SetUp () override
  {
    // What a fresh load of the driver holds: the public members and
    // signatures, nothing registered.
    mGraphicsDisplay.Registrations = 0;
    mGraphicsDisplay.BankSwitches  = 0;
    ZeroMem (&mGraphicsDisplay.Callbacks, sizeof (mGraphicsDisplay.Callbacks));
    ZeroMem (&mGraphicsDisplay.Observed, sizeof (mGraphicsDisplay.Observed));
    ZeroMem (mGraphicsDisplay.BankLog, sizeof (mGraphicsDisplay.BankLog));
    mTextDisplay.Registrations = 0;
    ZeroMem (&mTextDisplay.Callbacks, sizeof (mTextDisplay.Callbacks));
    mPrelumenBankSelections = 0;
    mCalls.clear ();
    mBoardLogo         = BOARD_LOGO::Present;
    mBoardLogoSide     = 128;
    mBoardHold         = 0;
    mBoardRelease      = nullptr;
    mPollsUntilRelease = 0;
    ASSERT_EQ (InstallDisplayProtocols (), EFI_SUCCESS);
    ASSERT_EQ (WatchForDisplayController (), EFI_SUCCESS);
  }

  void
  TearDown () override
  {
    mGops.clear ();
  }

  EFI_STATUS
  RegisterGraphics (EARLY_GRAPHICS_CALLBACKS Table = kPrelumenGraphics)
  {
    auto *Display = static_cast<EARLY_GRAPHICS_DISPLAY_PROTOCOL *> (Model.FindProtocol (
      Model.HandlesWith (gEarlyGraphicsDisplayProtocolGuid).at (0), gEarlyGraphicsDisplayProtocolGuid
    ));
    return Display->RegisterCallbacks (Display, Table, 0);
  }

  /// A GOP in Modes[Current] with a frame buffer at Base, not installed yet.
  TEST_GOP &
  MakeGop (
    std::vector<std::pair<UINT32, UINT32>> Modes,
    UINT32                                 Current = 0,
    EFI_PHYSICAL_ADDRESS                   Base    = 0xC0000000,
    EFI_GRAPHICS_PIXEL_FORMAT              Format  = PixelBlueGreenRedReserved8BitPerColor
  )
  {
    mStore.push_back (std::make_unique<TEST_GOP> ());
    TEST_GOP &Gop            = *mStore.back ();
    Gop.Modes                = Modes;
    Gop.Info                 = ModeInfo (Modes.at (Current), Format);
    Gop.Mode.MaxMode         = (UINT32)Modes.size ();
    Gop.Mode.Mode            = Current;
    Gop.Mode.Info            = &Gop.Info;
    Gop.Mode.SizeOfInfo      = sizeof (Gop.Info);
    Gop.Mode.FrameBufferBase = Base;
    Gop.Gop                  = { TestQueryMode, TestSetMode, nullptr, &Gop.Mode };
    mGops[&Gop.Gop]          = &Gop;
    return Gop;
  }

  /// Installs the GOP on a new handle, with a device path below the display
  /// controller's unless WithPath is FALSE; the notifications run before
  /// this returns.
  TEST_GOP &
  Install (TEST_GOP &Gop, BOOLEAN WithPath = TRUE)
  {
    if (!WithPath) {
      Model.InstallProtocol (nullptr, gEfiGraphicsOutputProtocolGuid, &Gop.Gop);
    } else {
      InstallWithPath (&Gop.Gop);
    }

    return Gop;
  }

  /// Installs the GOP GUID with Interface (NULL allowed) on a new handle
  /// whose device path is a child's of the display behind SlotDevice (the
  /// display controller's model, published here, is behind 0x1C).
  void
  InstallWithPath (EFI_GRAPHICS_OUTPUT_PROTOCOL *Interface, UINT8 SlotDevice = 0x1C)
  {
    EFI_HANDLE Handle = nullptr;

    Model.Controller.Publish ();
    mPaths.push_back (std::make_unique<TEST_DEVICE_PATH> (SlotDevice, (UINT32)mPaths.size ()));
    TEST_DEVICE_PATH &Path = *mPaths.back ();
    EXPECT_EQ (
      gBS->InstallMultipleProtocolInterfaces (
        &Handle, &gEfiDevicePathProtocolGuid, &Path, &gEfiGraphicsOutputProtocolGuid, Interface, nullptr
      ),
      EFI_SUCCESS
    );
  }

  TEST_GOP &
  InstallGop (std::vector<std::pair<UINT32, UINT32>> Modes, UINT32 Current = 0)
  {
    return Install (MakeGop (Modes, Current));
  }

  /// The calls of one kind, in order.
  static std::vector<DRAW_CALL>
  Calls (char Kind)
  {
    std::vector<DRAW_CALL> Found;
    for (const DRAW_CALL &Call : mCalls) {
      if (Call.Kind == Kind) {
        Found.push_back (Call);
      }
    }

    return Found;
  }

  std::vector<std::unique_ptr<TEST_GOP>>         mStore;
  std::vector<std::unique_ptr<TEST_DEVICE_PATH>> mPaths;
};

const std::vector<std::pair<UINT32, UINT32>> kDriverModes = { { 640, 480 },
                                                              { 800, 600 },
                                                              { 1024, 768 },
                                                              { 1280, 1024 } };

/// Every image call lies inside a Width x Height frame of 32-bit pixels.
BOOLEAN
ImagesInsideFrame (const std::vector<DRAW_CALL> &Images, UINT32 Width, UINT32 Height)
{
  for (const DRAW_CALL &Image : Images) {
    const UINT32 X = (Image.X % (Width * 4)) / 4;
    const UINT32 Y = Image.X / (Width * 4);
    if ((Image.Y != Width * 4) || (X + Image.Width > Width) || (Y + Image.Height > Height)) {
      return FALSE;
    }
  }

  return TRUE;
}

TEST_F (PlatformEarlyDisplay, RegistrationDrawsTheEarlyPictureInsideTheFrameThroughTheCountingCopy)
{
  Model.Hobs.AddEarlyVideoInfo (800, 600);
  ASSERT_EQ (RegisterGraphics (), EFI_SUCCESS);

  // The name and the controller's line, the logo and the first third of the
  // progress line with its caption.
  const std::vector<DRAW_CALL> Strings = Calls ('S');
  ASSERT_EQ (Strings.size (), 3u);
  EXPECT_EQ (Strings[0].Text, "Tavrix reference platform - QEMU q35");
  EXPECT_EQ (std::make_pair (Strings[0].X, Strings[0].Y), std::make_pair (2u, 1u));
  EXPECT_EQ (std::make_pair (Strings[2].X, Strings[2].Y), std::make_pair (4u, 600u / 16 - 2));
  const std::vector<DRAW_CALL> Images = Calls ('I');
  ASSERT_EQ (Images.size (), 2u);
  EXPECT_EQ (Images[0].X, ((600u - 128) / 2 * 800 + (800 - 128) / 2) * 4); // the logo, centred
  EXPECT_EQ (Images[1].Width, (800u - 64) / ProgressCount);
  EXPECT_TRUE (ImagesInsideFrame (Images, 800, 600));

  // Prelumen reaches SetBank through the platform's copy of its table,
  // which counts each switch and passes it on.
  EXPECT_NE (Images[0].This->SetBank, PrelumenSetBank);
  EXPECT_EQ (mGraphicsDisplay.BankSwitches, 2u);
  EXPECT_EQ (mPrelumenBankSelections, 2u);
  // The log keeps the bank of each switch, in order: the logo's, then the bar's.
  EXPECT_EQ (mGraphicsDisplay.BankLog[0], Images[0].X >> 16);
  EXPECT_EQ (mGraphicsDisplay.BankLog[1], Images[1].X >> 16);

  // The end of DXE moves the progress line on.
  mCalls.clear ();
  ShowProgress (ProgressEndOfDxe);
  ASSERT_EQ (Calls ('I').size (), 1u);
  EXPECT_EQ (Calls ('I')[0].Width, (800u - 64) * 2 / ProgressCount);
}

TEST_F (PlatformEarlyDisplay, NothingIsDrawnOutsideTheFrameOrWithoutOne)
{
  // No HOB: nothing at all.
  ASSERT_EQ (RegisterGraphics (), EFI_SUCCESS);
  EXPECT_TRUE (mCalls.empty ());

  // A frame too narrow for the name and too small for the progress line.
  Model.Hobs.AddEarlyVideoInfo (200, 48);
  ASSERT_EQ (RegisterGraphics (), EFI_SUCCESS);
  EXPECT_TRUE (mCalls.empty ());

  // An incomplete table is refused and nothing drawn; no GOP is watched.
  EARLY_GRAPHICS_CALLBACKS Incomplete = kPrelumenGraphics;
  Incomplete.DrawImage                = nullptr;
  EXPECT_EQ (RegisterGraphics (Incomplete), EFI_INVALID_PARAMETER);
  EXPECT_TRUE (mCalls.empty ());
}

//
// The board's logo as the board gives it: none (the text alone, and that is
// success), larger than the frame (left out, not placed at a wrapped
// offset), or not allocated (the text drawn, the failure reported); the
// pool holds no more than before each time.
//
TEST_F (PlatformEarlyDisplay, TheBoardsLogoIsDrawnOnlyWhenThereIsOneThatFits)
{
  Model.Hobs.AddEarlyVideoInfo (800, 600);
  const EARLY_VIDEO_INFO *Frame = EarlyFrame ();
  ASSERT_NE (Frame, nullptr);
  ASSERT_EQ (RegisterGraphics (), EFI_SUCCESS);

  const std::pair<BOARD_LOGO, UINT32> Boards[] = { { BOARD_LOGO::None, 128 },
                                                   { BOARD_LOGO::Present, 601 },
                                                   { BOARD_LOGO::NoMemory, 128 } };
  const EFI_STATUS                    Wanted[] = { EFI_SUCCESS, EFI_BAD_BUFFER_SIZE, EFI_OUT_OF_RESOURCES };
  for (UINTN Index = 0; Index < ARRAY_SIZE (Boards); Index++) {
    mBoardLogo     = Boards[Index].first;
    mBoardLogoSide = Boards[Index].second;
    mCalls.clear ();
    const UINT64 Mark = Model.Memory.Mark ();
    EXPECT_EQ (DrawNameAndLogo (Frame), Wanted[Index]) << Index;
    EXPECT_EQ (Calls ('S').size (), 2u) << Index;
    EXPECT_TRUE (Calls ('I').empty ()) << Index;
    EXPECT_EQ (Model.Memory.LeakReport (Mark), "") << Index;
  }

  // A logo as tall as the frame fits: on the top row, centred.
  mBoardLogo     = BOARD_LOGO::Present;
  mBoardLogoSide = 600;
  mCalls.clear ();
  EXPECT_EQ (DrawNameAndLogo (Frame), EFI_SUCCESS);
  ASSERT_EQ (Calls ('I').size (), 1u);
  EXPECT_EQ (Calls ('I')[0].X, (800u - 600) / 2 * 4);
}

//
// A frame whose byte size passes 4 GiB: Prelumen's 32-bit offsets cannot
// reach all of it, and its progress line's width times its height wraps in
// 32 bits (a 256-byte buffer for 536,870,920 x 8 pixels). Nothing is drawn.
//
TEST_F (PlatformEarlyDisplay, AFrameLargerThan4GiBIsNotDrawnInto)
{
  Model.Hobs.AddEarlyVideoInfo (1610612824u, 600);
  ASSERT_EQ (RegisterGraphics (), EFI_SUCCESS);
  ShowProgress (ProgressEndOfDxe);
  InstallGop (kDriverModes);
  EXPECT_TRUE (mCalls.empty ());
}

//
// 2^31 x 2^31 pixels of 4 bytes are 2^64 bytes, which a 64-bit product
// wraps to 0: still far larger than 4 GiB.
//
TEST_F (PlatformEarlyDisplay, AFrameWhoseByteSizeWraps64BitsIsNotDrawnInto)
{
  Model.Hobs.AddEarlyVideoInfo (0x80000000u, 0x80000000u);
  EXPECT_EQ (EarlyFrame (), nullptr);
  ASSERT_EQ (RegisterGraphics (), EFI_SUCCESS);
  EXPECT_TRUE (mCalls.empty ());
}

TEST_F (PlatformEarlyDisplay, TheGopIsSetToTheEarlyFrameAndThePictureDrawnAgainOnce)
{
  Model.Hobs.AddEarlyVideoInfo (800, 600);
  ASSERT_EQ (RegisterGraphics (), EFI_SUCCESS);
  mCalls.clear ();

  TEST_GOP &Gop = InstallGop (kDriverModes);
  EXPECT_EQ (Gop.SetModes, std::vector<UINT32>{ 1 });
  ASSERT_EQ (Calls ('S').size (), 3u);
  EXPECT_EQ (Calls ('S')[2].Text.rfind ("Display driver started", 0), 0u);
  const std::vector<DRAW_CALL> Images = Calls ('I');
  ASSERT_EQ (Images.size (), 2u);
  EXPECT_EQ (Images[1].Width, 800u - 64); // the whole progress line
  EXPECT_TRUE (ImagesInsideFrame (Images, 800, 600));

  // Only the first usable GOP: the watch ends with it.
  mCalls.clear ();
  TEST_GOP &Second = InstallGop (kDriverModes);
  EXPECT_TRUE (Second.SetModes.empty ());
  EXPECT_TRUE (mCalls.empty ());
}

TEST_F (PlatformEarlyDisplay, GopsPrelumenWouldNotTakeAreSkippedAndTheWatchGoesOn)
{
  Model.Hobs.AddEarlyVideoInfo (800, 600);
  ASSERT_EQ (RegisterGraphics (), EFI_SUCCESS);
  mCalls.clear ();

  // The GOP GUID with a NULL interface on a handle with a device path,
  // first in every later scan.
  InstallWithPath (nullptr);
  TEST_GOP &NoPath  = Install (MakeGop (kDriverModes), FALSE);
  TEST_GOP &BltOnly = Install (MakeGop (kDriverModes, 0, 0xC0000000, PixelBltOnly));
  TEST_GOP &NoBase  = Install (MakeGop (kDriverModes, 0, 0));
  EXPECT_TRUE (NoPath.SetModes.empty () && BltOnly.SetModes.empty () && NoBase.SetModes.empty ());
  EXPECT_TRUE (mCalls.empty ());

  // Already in the frame's mode: not set again, drawn at once.
  TEST_GOP &Usable = InstallGop (kDriverModes, 1);
  EXPECT_TRUE (Usable.SetModes.empty ());
  EXPECT_EQ (Calls ('I').size (), 2u);
}

//
// A second display's GOP (another vendor's card behind slot 2) arrives
// first: it is neither set to another mode nor drawn into, and the watch
// goes on until the display controller's own GOP comes.
//
TEST_F (PlatformEarlyDisplay, AnotherDisplaysGopIsNeverTaken)
{
  Model.Hobs.AddEarlyVideoInfo (800, 600);
  ASSERT_EQ (RegisterGraphics (), EFI_SUCCESS);
  mCalls.clear ();

  EFI_PCI_IO_PROTOCOL OtherPciIo = {};
  TEST_DEVICE_PATH    OtherPath (2, 0);
  OtherPciIo.Pci.Read = OtherDisplayConfigRead;
  Model.InstallProtocol (
    Model.InstallProtocol (nullptr, gEfiDevicePathProtocolGuid, OtherPath.FunctionPath ()), gEfiPciIoProtocolGuid,
    &OtherPciIo
  );
  TEST_GOP &Other = MakeGop (kDriverModes);
  InstallWithPath (&Other.Gop, 2);
  EXPECT_TRUE (Other.SetModes.empty ());
  EXPECT_TRUE (mCalls.empty ());

  TEST_GOP &Ours = InstallGop (kDriverModes);
  EXPECT_EQ (Ours.SetModes, std::vector<UINT32>{ 1 });
  EXPECT_EQ (Calls ('I').size (), 2u);
}

TEST_F (PlatformEarlyDisplay, AGopWithoutTheEarlyFramesModeIsLeftAlone)
{
  Model.Hobs.AddEarlyVideoInfo (1280, 1024);
  ASSERT_EQ (RegisterGraphics (), EFI_SUCCESS);
  mCalls.clear ();

  // No 1280 x 1024 mode: nothing is set and nothing drawn.
  TEST_GOP &Gop = InstallGop ({ { 640, 480 }, { 800, 600 } });
  EXPECT_TRUE (Gop.SetModes.empty ());
  EXPECT_TRUE (mCalls.empty ());
}

TEST_F (PlatformEarlyDisplay, AGopWhoseFrameModeCannotBeQueriedIsLeftAlone)
{
  Model.Hobs.AddEarlyVideoInfo (800, 600);
  ASSERT_EQ (RegisterGraphics (), EFI_SUCCESS);
  mCalls.clear ();

  TEST_GOP &Gop    = MakeGop (kDriverModes);
  Gop.RefusedQuery = 1;
  Install (Gop);
  EXPECT_TRUE (Gop.SetModes.empty ());
  EXPECT_TRUE (mCalls.empty ());
}

TEST_F (PlatformEarlyDisplay, TextModePrintsTheNameAndTheProgressIntoTextMemory)
{
  auto *Display = static_cast<EARLY_TEXT_DISPLAY_PROTOCOL *> (
    Model.FindProtocol (Model.HandlesWith (gEarlyTextDisplayProtocolGuid).at (0), gEarlyTextDisplayProtocolGuid)
  );
  EARLY_TEXT_CALLBACKS Empty = {};
  EXPECT_EQ (Display->RegisterCallbacks (Display, Empty, 0), EFI_INVALID_PARAMETER);
  EXPECT_TRUE (mCalls.empty ());

  EARLY_TEXT_CALLBACKS Text = { RecordPrintString };
  Model.Hobs.AddEarlyVideoInfo (800, 600);
  ASSERT_EQ (Display->RegisterCallbacks (Display, Text, 0), EFI_SUCCESS);
  const std::vector<DRAW_CALL> Prints = Calls ('P');
  ASSERT_EQ (Prints.size (), 2u);
  EXPECT_EQ (Prints[0].Text, "Tavrix reference platform - QEMU q35");
  EXPECT_EQ (std::make_pair (Prints[1].X, Prints[1].Y), std::make_pair (2u, 3u));

  // In text mode the progress goes to text memory, and no GOP is watched.
  ShowProgress (ProgressEndOfDxe);
  EXPECT_EQ (Calls ('P').size (), 3u);
  InstallGop (kDriverModes);
  EXPECT_EQ (mCalls.size (), 3u);

  // Each print routes legacy VGA and writes the controller's BAR 0: once the
  // PCI bus driver has placed the controller nothing is printed, neither a
  // milestone nor a registration's name.
  Model.InstallProtocol (nullptr, gEfiPciEnumerationCompleteProtocolGuid, nullptr);
  ShowProgress (ProgressGraphicsOutput);
  ASSERT_EQ (Display->RegisterCallbacks (Display, Text, 0), EFI_SUCCESS);
  EXPECT_EQ (mCalls.size (), 3u);
}

//
// Without the display-information HOB the early video set-up found no
// controller: text memory may read back what is written, but nothing shows
// it, so nothing is printed, neither the name nor a milestone.
//
TEST_F (PlatformEarlyDisplay, TextModePrintsNothingWithoutTheHob)
{
  auto *Display = static_cast<EARLY_TEXT_DISPLAY_PROTOCOL *> (
    Model.FindProtocol (Model.HandlesWith (gEarlyTextDisplayProtocolGuid).at (0), gEarlyTextDisplayProtocolGuid)
  );
  EARLY_TEXT_CALLBACKS Text = { RecordPrintString };

  ASSERT_EQ (Display->RegisterCallbacks (Display, Text, 0), EFI_SUCCESS);
  ShowProgress (ProgressEndOfDxe);
  EXPECT_TRUE (mCalls.empty ());
}

//
// A hold lasts the board's time, a millisecond at a time, unless the board's
// release comes first; a board without a release holds the whole time.
//
TEST_F (PlatformEarlyDisplay, AHoldEndsAtTheBoardsReleaseOrAfterItsTime)
{
  mBoardHold = 50;
  HoldPicture ("a picture");
  EXPECT_EQ (Model.Stalls ().size (), 50u);

  mBoardRelease      = "a test's release";
  mPollsUntilRelease = 7;
  HoldPicture ("a picture");
  EXPECT_EQ (Model.Stalls ().size (), 50u + 6);
}

//
// The aperture, on since PEI, goes off once the platform takes the display
// driver's GOP (Prelumen follows it then), and at the latest when boot
// services end; the controller is found through its PCI I/O.
//
class PlatformAperture : public PlatformEarlyDisplay {
protected:
  void
  SetUp () override
  {
    PlatformEarlyDisplay::SetUp ();
    Model.Controller.ConfigSpace ()[0x40] = 0x01;
    mController                           = Model.Controller.Publish ();
    Model.Hobs.AddEarlyVideoInfo (800, 600);
    ASSERT_EQ (RegisterGraphics (), EFI_SUCCESS);
  }

  BOOLEAN
  ApertureOn ()
  {
    return (Model.Controller.ConfigSpace ()[0x40] & 0x01) != 0;
  }

  EFI_HANDLE mController = nullptr;
};

TEST_F (PlatformAperture, GoesOffWhenTheGopIsTaken)
{
  // A GOP that is not taken leaves the aperture to Prelumen.
  Install (MakeGop (kDriverModes, 0, 0xC0000000, PixelBltOnly));
  EXPECT_TRUE (ApertureOn ());

  TEST_GOP &Gop = MakeGop (kDriverModes);
  Model.InstallProtocol (mController, gEfiGraphicsOutputProtocolGuid, &Gop.Gop);
  EXPECT_EQ (Calls ('I').size (), 4u);
  EXPECT_FALSE (ApertureOn ());
}

//
// The boot manager boots and the controller has no GOP (its driver refused
// or failed): the aperture goes off and channel B's display with it, the
// controller's memory decoding as it was. A controller with a GOP of its
// own, even one the platform did not take, is left to that GOP's driver.
//
TEST_F (PlatformAperture, AnEarlyFrameNoGopTookOverIsHandedBackWhenTheBootManagerBoots)
{
  Model.Controller.SetRegister (0x80200, 0x102);
  const UINT64 Attributes = Model.Controller.Attributes ();

  Model.SignalEventGroup (gEfiEventReadyToBootGuid);
  EXPECT_FALSE (ApertureOn ());
  EXPECT_EQ (Model.Controller.Register (0x80200), 0u);
  EXPECT_EQ (Model.Controller.Attributes (), Attributes);
}

TEST_F (PlatformAperture, AControllerWithAGopOfItsOwnIsLeftAloneWhenTheBootManagerBoots)
{
  TEST_GOP &BltOnly = MakeGop (kDriverModes, 0, 0xC0000000, PixelBltOnly);
  Model.InstallProtocol (mController, gEfiGraphicsOutputProtocolGuid, &BltOnly.Gop);
  Model.Controller.SetRegister (0x80200, 0x102);

  Model.SignalEventGroup (gEfiEventReadyToBootGuid);
  EXPECT_TRUE (ApertureOn ());
  EXPECT_EQ (Model.Controller.Register (0x80200), 0x102u);
}

TEST_F (PlatformAperture, GoesOffAtTheLatestWhenBootServicesEnd)
{
  EXPECT_TRUE (ApertureOn ());
  Model.SignalEventGroup (gEfiEventExitBootServicesGuid);
  EXPECT_FALSE (ApertureOn ());
  EXPECT_EQ (Model.Controller.ConfigSpace ()[0x40], 0x00);
}

} // namespace

int
main (int argc, char *argv[])
{
  testing::InitGoogleTest (&argc, argv);
  return RUN_ALL_TESTS ();
}

TEST_F (PlatformEarlyDisplay, ALaterRegistrationReplacesTheCallbacksAndDrawsNothing)
{
  Model.Hobs.AddEarlyVideoInfo (800, 600);
  ASSERT_EQ (RegisterGraphics (), EFI_SUCCESS);
  const UINT64 Switches = mGraphicsDisplay.BankSwitches;
  const size_t Drawn    = mCalls.size ();

  // An early video driver started again (from the shell) registers its own
  // table: the platform keeps it, counts its bank switches and draws nothing.
  EARLY_GRAPHICS_CALLBACKS Second = kPrelumenGraphics;
  Second.DrawString               = RecordDrawString;
  ASSERT_EQ (RegisterGraphics (Second), EFI_SUCCESS);
  EXPECT_EQ (mGraphicsDisplay.Registrations, 2u);
  EXPECT_EQ (mCalls.size (), Drawn);
  EXPECT_EQ (mGraphicsDisplay.BankSwitches, Switches);
  EXPECT_EQ (mGraphicsDisplay.Callbacks.SetBank, PrelumenSetBank);

  // Drawing through the observed table with it as This counts and logs the switch.
  EXPECT_EQ (mGraphicsDisplay.Observed.SetBank (&mGraphicsDisplay.Observed, 0x17), EFI_SUCCESS);
  EXPECT_EQ (mGraphicsDisplay.BankSwitches, Switches + 1);
  EXPECT_EQ (mGraphicsDisplay.BankLog[Switches % PLATFORM_BANK_LOG_SIZE], 0x17u);
}
