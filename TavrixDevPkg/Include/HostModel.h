/** @file
  Host platform model: the firmware core and the hardware that the drivers'
  host tests run against.

  A test makes a fresh model (the HOST_MODEL_TEST fixture does), publishes
  what the driver under test expects to find, starts the driver as the
  generated entry code would, drives it, and then reads back what the
  driver did: pixels, register and port logs, serial text, status codes,
  open records, outstanding pool. For example:

    TEST_F (GopTest, StartProgramsModeZero) {
      EFI_HANDLE  Controller = Model.Controller.Publish ();
      ASSERT_EQ (Model.StartModule (DisplayDriverEntryPoint), EFI_SUCCESS);
      ASSERT_EQ (Model.ConnectController (Controller), EFI_SUCCESS);
      EXPECT_EQ (Model.Controller.Register (0x802A8), 0x42D40F02u);
      EXPECT_EQ (Model.Controller.RegisterWrites (0x802A8).size (), 6u);
    }

  EDK II's own library instances (the table libraries, DxeHobLib, DxePcdLib,
  UefiLib, DevicePathLib, UefiMemoryAllocationLib, BasePciCf8Lib,
  BaseSerialPortLib16550, BaseDebugLibSerialPort, DxeReportStatusCodeLib)
  run unchanged on top of the model: it provides the system table, the
  protocols they look up, and the I/O ports they touch (through the host
  IoLib instance that goes with this library).

  One model exists at a time; its constructor resets the caches those EDK II
  libraries keep in module globals, so every test starts from a freshly
  loaded image. Every log entry carries a sequence number taken from one
  counter per model, so entries of different logs can be ordered.

  Each part of the model has its header beside its source in
  TavrixDevPkg/HostModel/ (Memory.h, DisplayController.h, FrameMemory.h,
  PortIo.h, FixedWindows.h, HobList.h, Pcd.h, StatusCode.h,
  EarlyDisplay.h, and Platform.h for the whole); this header brings
  them all, with the GoogleTest fixture.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef HOST_MODEL_H_
#define HOST_MODEL_H_

#include "../HostModel/Platform.h"

//
// A host test executable links its own objects from an archive, without
// --whole-archive, so a test file that nothing references is left out and
// its tests never run. Each test file other than the one with main () names
// itself with HOST_MODEL_TEST_FILE (Name), and the file with main () pulls
// it in with HOST_MODEL_USES_TEST_FILE (Name).
//
#define HOST_MODEL_TEST_FILE(Name)                                                                                     \
  extern "C" {                                                                                                         \
  int HostModelTestFile##Name = 0;                                                                                     \
  }
#define HOST_MODEL_USES_TEST_FILE(Name)                                                                                \
  extern "C" {                                                                                                         \
  extern int HostModelTestFile##Name;                                                                                  \
  }                                                                                                                    \
  static int *const mHostModelUses##Name __attribute__ ((used)) = &HostModelTestFile##Name

/// GoogleTest fixture: a fresh model for every test.
class HOST_MODEL_TEST : public ::testing::Test {
protected:
  HOST_MODEL Model;
};

/// Fixture for what a module reports through status codes as Prelumen: the
/// records carry Prelumen's module tag, as in the firmware build, until the
/// test ends. StartReporter starts a module of the EDK II library
/// constructors and Extra after them, then forgets what they reported.
class PRELUMEN_REPORTER_TEST : public HOST_MODEL_TEST {
protected:
  void
  SetUp () override
  {
    mSavedBaseName     = gEfiCallerBaseName;
    gEfiCallerBaseName = mPrelumen;
  }

  void
  TearDown () override
  {
    gEfiCallerBaseName = mSavedBaseName;
  }

  EFI_STATUS
  StartReporter (const std::vector<LIBRARY_CONSTRUCTOR> &Extra = {})
  {
    MODULE_IMAGE Image = { HOST_MODEL::EmptyEntryPoint, HOST_MODEL::Edk2LibraryConstructors (), {} };

    Image.Constructors.insert (Image.Constructors.end (), Extra.begin (), Extra.end ());

    EFI_STATUS Status = Model.StartModule (Image);

    Model.StatusCodes.Clear ();
    return Status;
  }

private:
  static inline CHAR8 mPrelumen[]    = "Prelumen";
  CHAR8              *mSavedBaseName = nullptr;
};

#endif
