/** @file
  Shared fixture of the TavrixGopDxe host tests: a fresh platform model with
  the display controller published and the driver loaded, plus a readable
  trace of everything the driver did to the controller.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef GOP_TEST_SUPPORT_H_
#define GOP_TEST_SUPPORT_H_

#include <HostModel.h>
#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "../UefiTvx.h"
#include "../UefiTvxGraphicsOutput.h"
#include "../UefiComponentName.h"
#include <ShippedModeRegisters.h>

/// "%x"-style text of one controller access, in the form the tests expect:
///   "io 3d4 88", "r 40", "w 44 00000004", "stall 5", "fill 0 1310720".
inline std::string
Hex (UINT64 Value)
{
  char Text[24];

  snprintf (Text, sizeof (Text), "%llx", (unsigned long long)Value);
  return Text;
}

inline std::string
Word (UINT32 Value)
{
  char Text[12];

  snprintf (Text, sizeof (Text), "%08x", Value);
  return Text;
}

class GopTest : public HOST_MODEL_TEST {
protected:
  EFI_HANDLE Controller = nullptr;

  void
  SetUp () override
  {
    Controller = Model.Controller.Publish ();
    ASSERT_EQ (Model.StartModule (DisplayDriverEntryPoint), EFI_SUCCESS);
    Model.Ports.Uart.ClearText ();
  }

  const std::string &
  Serial ()
  {
    return Model.Ports.Uart.Text ();
  }

  /// The serial text with the directories of assertion file names removed
  /// ("ASSERT /any/where/UefiTvx.cpp(546): ..." reads "ASSERT UefiTvx.cpp(546): ..."),
  /// as the compiler's path to a source depends on the workspace.
  std::string
  SerialWithoutDirectories ()
  {
    return std::regex_replace (Serial (), std::regex ("ASSERT [^ (]*/"), "ASSERT ");
  }

  EFI_STATUS
  Start (EFI_DEVICE_PATH_PROTOCOL *RemainingDevicePath = nullptr)
  {
    return gDisplayDriverBinding.Start (&gDisplayDriverBinding, Controller, RemainingDevicePath);
  }

  EFI_STATUS
  Stop ()
  {
    return gDisplayDriverBinding.Stop (&gDisplayDriverBinding, Controller, 0, nullptr);
  }

  EFI_GRAPHICS_OUTPUT_PROTOCOL *
  Gop ()
  {
    return static_cast<EFI_GRAPHICS_OUTPUT_PROTOCOL *> (Model.FindProtocol (Controller, gEfiGraphicsOutputProtocolGuid)
    );
  }

  DISPLAY_DEVICE_CONTEXT *
  Context ()
  {
    return BASE_CR (Gop (), DISPLAY_DEVICE_CONTEXT, GraphicsOutput);
  }

  /// Starts the driver on the controller and forgets what that did.
  void
  StartAndClearLogs ()
  {
    ASSERT_EQ (Model.ConnectController (Controller), EFI_SUCCESS);
    ASSERT_NE (Gop (), nullptr);
    Model.Controller.ClearLogs ();
    Model.Ports.ClearLogs ();
    Model.Ports.Uart.ClearText ();
    Mark = Model.NextSequence ();
  }

  /// Every access to the controller (registers, frame buffer, its ports
  /// through PCI I/O) and every Stall since the last StartAndClearLogs.
  std::vector<std::string>
  Trace (bool WithPalette = true)
  {
    std::vector<std::pair<UINT64, std::string>> Events;

    for (const REGISTER_ACCESS &Access : Model.Controller.RegisterLog ()) {
      bool Palette =
        (Access.Offset >= 0x80400 && Access.Offset < 0x80800) || (Access.Offset >= 0x80C00 && Access.Offset < 0x81000);
      if (Palette && !WithPalette) {
        continue;
      }

      Events.push_back ({ Access.Sequence, Access.IsWrite ? "w " + Hex (Access.Offset) + " " + Word (Access.Value)
                                                          : "r " + Hex (Access.Offset) });
    }

    for (const FRAME_ACCESS &Access : Model.Controller.FrameLog ()) {
      std::string Kind = (Access.Width == EfiPciIoWidthFillUint32) ? "fill " : (Access.IsWrite ? "fbw " : "fbr ");
      Events.push_back ({ Access.Sequence, Kind + Hex (Access.Offset) + " " + std::to_string (Access.Count) });
    }

    for (const PORT_ACCESS &Access : Model.Ports.Log ()) {
      if (Access.ThroughPciIo) {
        Events.push_back ({ Access.Sequence,
                            (Access.IsWrite ? "io " : "in ") + Hex (Access.Port) + " " + Hex (Access.Value) });
      }
    }

    for (const STALL_RECORD &Stall : Model.Stalls ()) {
      if (Stall.Sequence > Mark) {
        Events.push_back ({ Stall.Sequence, "stall " + std::to_string (Stall.Microseconds) });
      }
    }

    std::sort (Events.begin (), Events.end ());
    std::vector<std::string> Lines;
    for (auto &Event : Events) {
      Lines.push_back (Event.second);
    }

    return Lines;
  }

  UINT64 Mark = 0;
};

/// The accesses of one channel B mode set, the register values written out
/// from the controller's documentation. PixelClockBefore is what 0x802A8
/// holds when the mode set begins; Fill says whether the frame is cleared.
inline std::vector<std::string>
ExpectedModeSet (const SHIPPED_MODE &Mode, UINT32 PixelClockBefore, bool Fill, bool WithPalette = true)
{
  std::vector<std::string> Lines = {
    "io 3d4 88",
    "io 3d5 6",
    "r 40",
    "r 4c",
    "w 44 00000004",
    "w 60 00020000",
    "w 80204 80000000",
    "w 80208 " + Word (Mode.Pitch),
    "w 8020c " + Word (Mode.Raster[0]),
    "w 80210 " + Word (Mode.Raster[1]),
    "w 80214 " + Word (Mode.Raster[2]),
    "w 80218 " + Word (Mode.Raster[3]),
    "w 802ac " + Word (Mode.PixelClockSecond),
    "r 802a8",
    "w 802a8 " + Word (PixelClockBefore & ~0x40000000U),
    "w 802a8 21000000",
    "w 802a8 " + Word (Mode.PixelClockControl),
    "stall 5",
    "w 802a8 " + Word (Mode.PixelClockControl & ~0x01000000U),
    "stall 100",
    "w 802a8 " + Word (Mode.PixelClockControl & ~0x21000000U),
    "stall 1",
    "w 802a8 " + Word (Mode.PixelClockFinal),
    "w 80280 00000000",
    "w 80284 " + Word (Mode.ActiveSize),
    "w 80200 " + Word (Mode.DisplayControl),
  };

  if (WithPalette) {
    for (UINT32 Index = 0; Index < 256; Index++) {
      Lines.push_back ("w " + Hex (0x80C00 + 4 * Index) + " " + Word (Index * 0x010101));
    }
  }

  if (Fill) {
    Lines.push_back ("fill 0 1310720");
  }

  return Lines;
}

#endif
