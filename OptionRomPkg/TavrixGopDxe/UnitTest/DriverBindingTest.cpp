/** @file
  The driver-model face: the entry point, Supported for every kind of
  controller and remaining path, Start's child path and every failure line,
  Stop and the firmware's two-phase disconnect with its failures, and a
  forged GOP.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "GopTestSupport.h"

HOST_MODEL_TEST_FILE (DriverBindingTest);

namespace {

/// A remaining device path: one node of the given shape, then the end node.
std::vector<UINT8>
RemainingPath (UINT8 Type, UINT8 SubType, UINT16 Length, UINT32 Value = 0)
{
  std::vector<UINT8> Path (Length, 0);

  Path[0] = Type;
  Path[1] = SubType;
  Path[2] = (UINT8)Length;
  Path[3] = (UINT8)(Length >> 8);
  if (Length >= 8) {
    CopyMem (&Path[4], &Value, sizeof (Value));
  }

  Path.insert (Path.end (), { 0x7F, 0xFF, 0x04, 0x00 });
  return Path;
}

EFI_DEVICE_PATH_PROTOCOL *
AsPath (std::vector<UINT8> &Bytes)
{
  return reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *> (Bytes.data ());
}

std::vector<UINT8>
PathBytes (EFI_DEVICE_PATH_PROTOCOL *Path)
{
  UINT8 *Bytes = reinterpret_cast<UINT8 *> (Path);

  return std::vector<UINT8> (Bytes, Bytes + GetDevicePathSize (Path));
}

/// The controller's own path followed by Node (with its end node).
std::vector<UINT8>
ChildPathWith (EFI_DEVICE_PATH_PROTOCOL *Parent, const std::vector<UINT8> &Node)
{
  std::vector<UINT8> Path = PathBytes (Parent);

  Path.resize (Path.size () - 4);
  Path.insert (Path.end (), Node.begin (), Node.end ());
  return Path;
}

class DriverBinding : public GopTest {
protected:
  EFI_STATUS
  Supported (EFI_DEVICE_PATH_PROTOCOL *RemainingDevicePath)
  {
    return gDisplayDriverBinding.Supported (&gDisplayDriverBinding, Controller, RemainingDevicePath);
  }

  EFI_HANDLE
  OnlyChild ()
  {
    std::vector<EFI_HANDLE> Children = Model.ChildrenOf (Controller);

    EXPECT_EQ (Children.size (), 1u);
    return Children.empty () ? nullptr : Children[0];
  }

  std::vector<UINT8>
  ChildPath ()
  {
    EFI_HANDLE Child = OnlyChild ();

    return (Child == nullptr)
             ? std::vector<UINT8> ()
             : PathBytes (
                 static_cast<EFI_DEVICE_PATH_PROTOCOL *> (Model.FindProtocol (Child, gEfiDevicePathProtocolGuid))
               );
  }

  bool
  PciIoOpen ()
  {
    return !Model.OpenRecords (Controller, gEfiPciIoProtocolGuid).empty ();
  }

  bool
  AttributesRestored ()
  {
    for (const ATTRIBUTE_CALL &Call : Model.Controller.AttributeCalls ()) {
      if (Call.Operation == EfiPciIoAttributeOperationSet) {
        return true;
      }
    }

    return false;
  }
};

TEST_F (DriverBinding, EntryPointInstallsBindingAndNamesOnTheImage)
{
  EFI_HANDLE Image = Model.ImageHandle ();

  EXPECT_EQ (Model.FindProtocol (Image, gEfiDriverBindingProtocolGuid), &gDisplayDriverBinding);
  EXPECT_EQ (Model.FindProtocol (Image, gEfiComponentNameProtocolGuid), &gDisplayComponentName);
  EXPECT_EQ (gDisplayDriverBinding.ImageHandle, Image);
  EXPECT_EQ (gDisplayDriverBinding.DriverBindingHandle, Image);
  EXPECT_EQ (gDisplayDriverBinding.Version, 0x10u);
}

TEST_F (DriverBinding, EntryPointFailingToInstallIsAFatalStatusAssertion)
{
  // The image already carries both protocols: the second install is refused.
  // The line is the entry point's own source line, whatever it is.
  EXPECT_TRUE (Model.ExpectDeadLoop ([&] { DisplayDriverEntryPoint (Model.ImageHandle (), gST); }));
  EXPECT_TRUE (std::regex_match (
    SerialWithoutDirectories (), std::regex ("\r\nASSERT_EFI_ERROR \\(Status = Invalid Parameter\\)\r\nASSERT "
                                             "UefiTvx\\.cpp\\([0-9]+\\): !EFI_ERROR \\(Status\\)\r\n")
  )) << SerialWithoutDirectories ();
}

TEST_F (DriverBinding, SupportedAcceptsOurIdsWithAcceptableRemainingPaths)
{
  std::vector<UINT8> End         = { 0x7F, 0xFF, 0x04, 0x00 };
  std::vector<UINT8> Adr         = RemainingPath (ACPI_DEVICE_PATH, ACPI_ADR_DP, 8, 0xDEADBEEF);
  std::vector<UINT8> LongAdr     = RemainingPath (ACPI_DEVICE_PATH, ACPI_ADR_DP, 12);
  std::vector<UINT8> InstanceEnd = { 0x7F, 0x01, 0x04, 0x00, 0x7F, 0xFF, 0x04, 0x00 };
  std::vector<UINT8> PciNode     = RemainingPath (HARDWARE_DEVICE_PATH, HW_PCI_DP, 6);
  std::vector<UINT8> AcpiHid     = RemainingPath (ACPI_DEVICE_PATH, ACPI_DP, 12);

  struct {
    EFI_DEVICE_PATH_PROTOCOL *Remaining;
    EFI_STATUS                Expected;
  } Cases[] = {
    { nullptr, EFI_SUCCESS },
    { AsPath (End), EFI_SUCCESS },
    { AsPath (Adr), EFI_SUCCESS },
    { AsPath (LongAdr), EFI_UNSUPPORTED },
    { AsPath (InstanceEnd), EFI_UNSUPPORTED },
    { AsPath (PciNode), EFI_UNSUPPORTED },
    { AsPath (AcpiHid), EFI_UNSUPPORTED },
  };

  for (UINTN Index = 0; Index < ARRAY_SIZE (Cases); Index++) {
    EXPECT_EQ (Supported (Cases[Index].Remaining), Cases[Index].Expected) << "case " << Index;
    EXPECT_FALSE (PciIoOpen ()) << "case " << Index;
  }
}

TEST_F (DriverBinding, SupportedRefusesForeignIdsAndPassesReadFailures)
{
  for (auto Ids :
       { std::make_pair (0x19E5, 0x1712), std::make_pair (0x19E6, 0x1711), std::make_pair (0x1711, 0x19E5) }) {
    Model.Controller.SetIds ((UINT16)Ids.first, (UINT16)Ids.second);
    EXPECT_EQ (Supported (nullptr), EFI_UNSUPPORTED);
    EXPECT_FALSE (PciIoOpen ());
  }

  Model.Controller.SetIds (0x19E5, 0x1711);
  Model.Controller.FailCall (PciIoPciRead, 1, EFI_DEVICE_ERROR);
  EXPECT_EQ (Supported (nullptr), EFI_DEVICE_ERROR);
  EXPECT_FALSE (PciIoOpen ());
}

TEST_F (DriverBinding, SupportedOnAStartedControllerIsAlreadyStartedAndClosesNothing)
{
  ASSERT_EQ (Model.ConnectController (Controller), EFI_SUCCESS);
  UINTN Opens = Model.OpenRecords (Controller, gEfiPciIoProtocolGuid).size ();

  EXPECT_EQ (Supported (nullptr), EFI_ALREADY_STARTED);
  EXPECT_EQ (Model.OpenRecords (Controller, gEfiPciIoProtocolGuid).size (), Opens);
  EXPECT_EQ (Model.ChildrenOf (Controller).size (), 1u);
}

TEST_F (DriverBinding, StartMakesAnAdrChildAndPutsTheGopOnTheController)
{
  ASSERT_EQ (Start (), EFI_SUCCESS);

  EXPECT_EQ (Serial ().substr (0, 6), "1004\r\n");
  EXPECT_EQ (
    ChildPath (),
    ChildPathWith (
      Model.Controller.DevicePath (), { 0x02, 0x03, 0x08, 0x00, 0x00, 0x01, 0x01, 0x80, 0x7F, 0xFF, 0x04, 0x00 }
    )
  );
  EXPECT_NE (Gop (), nullptr);
  EXPECT_EQ (Model.FindProtocol (OnlyChild (), gEfiGraphicsOutputProtocolGuid), nullptr);
  EXPECT_EQ (Context ()->Signature, 0x47585654u) << "\"TVXG\", upper bytes zero";
  EXPECT_EQ (Context ()->OutputHandle, OnlyChild ());

  //
  // Exactly I/O, memory and bus-master decoding: the VGA bits stay off.
  //
  EXPECT_EQ (Model.Controller.Attributes (), 0x700u);
  EXPECT_FALSE (AttributesRestored ());
}

TEST_F (DriverBinding, StartPutsTheCallersAdrNodeUnchangedAfterTheParent)
{
  std::vector<UINT8> Remaining = RemainingPath (ACPI_DEVICE_PATH, ACPI_ADR_DP, 8, 0x12345678);
  std::vector<UINT8> Second    = RemainingPath (HARDWARE_DEVICE_PATH, HW_PCI_DP, 6);

  //
  // Only the first node counts: a node after it is not copied.
  //
  Remaining.resize (8);
  Remaining.insert (Remaining.end (), Second.begin (), Second.end ());
  ASSERT_EQ (Start (AsPath (Remaining)), EFI_SUCCESS);

  EXPECT_EQ (
    ChildPath (),
    ChildPathWith (Model.Controller.DevicePath (), RemainingPath (ACPI_DEVICE_PATH, ACPI_ADR_DP, 8, 0x12345678))
  );
}

TEST_F (DriverBinding, StartWithTheEndNodeMakesNoChildAndIsUndone)
{
  std::vector<UINT8> End  = { 0x7F, 0xFF, 0x04, 0x00 };
  UINT64             Mark = Model.Memory.Mark ();

  EXPECT_EQ (Start (AsPath (End)), EFI_INVALID_PARAMETER);
  EXPECT_EQ (Serial (), "1004\r\nline:464,Status:Invalid Parameter\r\n");
  EXPECT_EQ (Gop (), nullptr);
  EXPECT_TRUE (Model.ChildrenOf (Controller).empty ());
  EXPECT_TRUE (Model.Controller.RegisterLog ().empty ()) << "no GOP constructor ran";
  EXPECT_TRUE (AttributesRestored ());
  EXPECT_FALSE (PciIoOpen ());
  EXPECT_EQ (Model.Memory.LeakReport (Mark), "");
}

/// One failure of Start: how to provoke it, what it must report.
struct START_FAILURE {
  const char *Name;
  UINT32      Line;
  EFI_STATUS  Status;
  bool        Restores;
};

class StartFailure : public DriverBinding {
protected:
  void
  Expect (const START_FAILURE &Failure, UINT64 MemoryMark)
  {
    SCOPED_TRACE (Failure.Name);
    UINTN Paths = Model.HandlesWith (gEfiDevicePathProtocolGuid).size ();

    EXPECT_EQ (Start (), Failure.Status);

    char Text[64];
    snprintf (Text, sizeof (Text), "line:%u,", Failure.Line);
    EXPECT_NE (Serial ().find (std::string ("1004\r\n") + Text), std::string::npos) << Serial ();
    EXPECT_EQ (AttributesRestored (), Failure.Restores);
    EXPECT_FALSE (PciIoOpen ());
    EXPECT_EQ (Gop (), nullptr);
    EXPECT_TRUE (Model.ChildrenOf (Controller).empty ());
    EXPECT_LE (Model.HandlesWith (gEfiDevicePathProtocolGuid).size (), Paths) << "no child path left behind";
    EXPECT_EQ (Model.Memory.LeakReport (MemoryMark), "");
  }
};

TEST_F (StartFailure, ContextAllocation)
{
  UINT64 Mark = Model.Memory.Mark ();

  Model.Memory.FailAllocation (1);
  Expect ({ "context", 276, EFI_OUT_OF_RESOURCES, false }, Mark);
  EXPECT_EQ (Serial (), "1004\r\nline:276,Status:Out of Resources\r\n");
  EXPECT_TRUE (Model.Controller.AttributeCalls ().empty ());
}

TEST_F (StartFailure, PciIoHeldByAnotherDriver)
{
  UINTN      Dummy = 0;
  EFI_HANDLE Other = Model.InstallProtocol (nullptr, gEfiCallerIdGuid, &Dummy);
  VOID      *PciIo;

  ASSERT_EQ (
    gBS->OpenProtocol (Controller, &gEfiPciIoProtocolGuid, &PciIo, Other, Controller, EFI_OPEN_PROTOCOL_BY_DRIVER),
    EFI_SUCCESS
  );
  UINT64 Mark = Model.Memory.Mark ();

  EXPECT_EQ (Start (), EFI_ACCESS_DENIED);
  EXPECT_EQ (Serial (), "1004\r\nline:298,Status:Access Denied\r\n");
  EXPECT_TRUE (Model.Controller.AttributeCalls ().empty ());
  EXPECT_EQ (Model.OpenRecords (Controller, gEfiPciIoProtocolGuid).size (), 1u) << "the other driver's open stays";
  EXPECT_EQ (Model.Memory.LeakReport (Mark), "");
  gBS->CloseProtocol (Controller, &gEfiPciIoProtocolGuid, Other, Controller);
}

TEST_F (StartFailure, AttributeSteps)
{
  struct {
    EFI_PCI_IO_PROTOCOL_ATTRIBUTE_OPERATION Operation;
    START_FAILURE                           Failure;
  } Cases[] = {
    { EfiPciIoAttributeOperationSupported, { "supported", 312, EFI_UNSUPPORTED, false } },
    { EfiPciIoAttributeOperationGet, { "get", 335, EFI_DEVICE_ERROR, false } },
    { EfiPciIoAttributeOperationEnable, { "enable", 348, EFI_DEVICE_ERROR, true } },
  };

  for (auto &Case : Cases) {
    Model.Controller.FailAttributeOperation (Case.Operation, Case.Failure.Status);
    Model.Ports.Uart.ClearText ();
    Expect (Case.Failure, Model.Memory.Mark ());
    Model.Controller.FailAttributeOperation (Case.Operation, EFI_SUCCESS);
  }
}

TEST_F (StartFailure, ControllerWithoutDevicePathRestoresAttributes)
{
  ASSERT_EQ (
    gBS->UninstallMultipleProtocolInterfaces (
      Controller, &gEfiDevicePathProtocolGuid, Model.Controller.DevicePath (), nullptr
    ),
    EFI_SUCCESS
  );
  Expect ({ "device path", 362, EFI_UNSUPPORTED, true }, Model.Memory.Mark ());
  EXPECT_EQ (Serial (), "1004\r\nline:362,Status:Unsupported\r\n");

  std::vector<ATTRIBUTE_CALL> Calls = Model.Controller.AttributeCalls ();
  ASSERT_FALSE (Calls.empty ());
  EXPECT_EQ (Calls.back ().Attributes, 0u) << "the attributes read before the enable come back";
}

TEST_F (StartFailure, ConstructorAllocationsAreReleased)
{
  //
  // Find which allocations of a good start are the mode record and its
  // information record, then make each fail in turn; the line buffer is
  // the only one of its size.
  //
  UINT64 Mark = Model.Memory.Mark ();

  ASSERT_EQ (Start (), EFI_SUCCESS);
  UINT64 ModeSequence = 0, InfoSequence = 0;
  for (const MEMORY_BLOCK &Block : Model.Memory.Outstanding (Mark)) {
    ModeSequence = (Block.Address == Gop ()->Mode) ? Block.Sequence : ModeSequence;
    InfoSequence = (Block.Address == Gop ()->Mode->Info) ? Block.Sequence : InfoSequence;
  }

  ASSERT_NE (ModeSequence, 0u);
  ASSERT_NE (InfoSequence, 0u);
  ASSERT_EQ (Stop (), EFI_SUCCESS);

  for (UINT64 Nth : { ModeSequence - Mark, InfoSequence - Mark }) {
    Model.Controller.ClearLogs ();
    Model.Ports.Uart.ClearText ();
    UINT64 Again = Model.Memory.Mark ();
    Model.Memory.FailAllocation ((UINTN)Nth);
    Expect ({ "mode records", 428, EFI_OUT_OF_RESOURCES, true }, Again);
    EXPECT_TRUE (Model.Controller.RegisterLog ().empty ());
  }

  Model.Controller.ClearLogs ();
  Model.Ports.Uart.ClearText ();
  Mark = Model.Memory.Mark ();
  Model.Memory.FailAllocationsOfSize (DISPLAY_LINE_BUFFER_SIZE);
  Expect ({ "line buffer", 428, EFI_OUT_OF_RESOURCES, true }, Mark);
  EXPECT_TRUE (Model.Controller.RegisterLog ().empty ()) << "no register is touched before the line buffer exists";
  Model.Memory.StopFailing ();
}

TEST_F (StartFailure, ChildPathAlreadyTakenUndoesTheInstalledGop)
{
  //
  // Another handle already carries the child's path, so the child cannot be
  // installed; the GOP is built and installed, and the open for the missing
  // child then fails.
  //
  std::vector<UINT8> Taken =
    ChildPathWith (Model.Controller.DevicePath (), RemainingPath (ACPI_DEVICE_PATH, ACPI_ADR_DP, 8, 0x80010100));
  EFI_HANDLE Other = Model.InstallProtocol (nullptr, gEfiDevicePathProtocolGuid, Taken.data ());
  UINT64     Mark  = Model.Memory.Mark ();

  EXPECT_EQ (Start (), EFI_INVALID_PARAMETER);
  EXPECT_NE (Serial ().find ("line:464,Status:Invalid Parameter\r\n"), std::string::npos) << Serial ();
  EXPECT_FALSE (Model.Controller.RegisterLog ().empty ()) << "the GOP was constructed";
  EXPECT_EQ (Gop (), nullptr);
  EXPECT_TRUE (AttributesRestored ());
  EXPECT_FALSE (PciIoOpen ());
  EXPECT_EQ (Model.Memory.LeakReport (Mark), "");
  EXPECT_EQ (Model.FindProtocol (Other, gEfiDevicePathProtocolGuid), Taken.data ());
}

TEST_F (StartFailure, GopInstallationRefusedUndoesTheStart)
{
  //
  // The first installation of Start is the child's path, the second the GOP.
  //
  Model.FailBootService (BootInstallMultipleProtocolInterfaces, 2, EFI_OUT_OF_RESOURCES);
  Expect ({ "GOP installation", 428, EFI_OUT_OF_RESOURCES, true }, Model.Memory.Mark ());
}

TEST_F (StartFailure, AnotherAgentsGopOnTheControllerUndoesTheStart)
{
  EFI_GRAPHICS_OUTPUT_PROTOCOL Foreign = {};
  Model.InstallProtocol (Controller, gEfiGraphicsOutputProtocolGuid, &Foreign);
  UINT64 Mark = Model.Memory.Mark ();

  EXPECT_EQ (Start (), EFI_INVALID_PARAMETER);
  EXPECT_NE (Serial ().find ("line:428,Status:Invalid Parameter\r\n"), std::string::npos) << Serial ();
  EXPECT_EQ (Gop (), &Foreign) << "the other agent's GOP stays";
  EXPECT_TRUE (Model.ChildrenOf (Controller).empty ());
  EXPECT_TRUE (AttributesRestored ());
  EXPECT_FALSE (PciIoOpen ());
  EXPECT_EQ (Model.Memory.LeakReport (Mark), "");
}

TEST_F (DriverBinding, StopThatCannotRemoveTheGopKeepsEverything)
{
  //
  // A consumer holds the GOP exclusively, so its removal is refused; the
  // child still present must survive the failed stop.
  //
  UINT64 Mark = Model.Memory.Mark ();
  ASSERT_EQ (Start (), EFI_SUCCESS);
  EFI_HANDLE                    Child = OnlyChild ();
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Ours  = Gop ();
  UINTN                         Dummy = 0;
  EFI_HANDLE                    Other = Model.InstallProtocol (nullptr, gEfiCallerIdGuid, &Dummy);
  VOID                         *Held;
  ASSERT_EQ (
    gBS->OpenProtocol (Controller, &gEfiGraphicsOutputProtocolGuid, &Held, Other, nullptr, EFI_OPEN_PROTOCOL_EXCLUSIVE),
    EFI_SUCCESS
  );

  EXPECT_TRUE (EFI_ERROR (Stop ()));
  EXPECT_EQ (Gop (), Ours);
  EXPECT_EQ (Model.ChildrenOf (Controller), std::vector<EFI_HANDLE>{ Child });
  EXPECT_NE (Model.FindProtocol (Child, gEfiDevicePathProtocolGuid), nullptr);
  EXPECT_EQ (Context ()->OutputHandle, Child);
  EXPECT_TRUE (PciIoOpen ());

  gBS->CloseProtocol (Controller, &gEfiGraphicsOutputProtocolGuid, Other, nullptr);
  EXPECT_EQ (Stop (), EFI_SUCCESS);
  EXPECT_FALSE (Model.IsValidHandle (Child));
  EXPECT_EQ (Model.Memory.LeakReport (Mark), "");
}

class ChildHeld : public DriverBinding {
protected:
  /// Starts, then lets another agent hold the child's path exclusively, so
  /// that the child cannot be released.
  void
  SetUp () override
  {
    DriverBinding::SetUp ();
    Mark = Model.Memory.Mark ();
    ASSERT_EQ (Start (), EFI_SUCCESS);
    Child       = OnlyChild ();
    UINTN Dummy = 0;
    Other       = Model.InstallProtocol (nullptr, gEfiCallerIdGuid, &Dummy);
    VOID *Held;
    ASSERT_EQ (
      gBS->OpenProtocol (Child, &gEfiDevicePathProtocolGuid, &Held, Other, nullptr, EFI_OPEN_PROTOCOL_EXCLUSIVE),
      EFI_SUCCESS
    );
  }

  UINT64     Mark  = 0;
  EFI_HANDLE Child = nullptr;
  EFI_HANDLE Other = nullptr;
};

TEST_F (ChildHeld, StopPutsTheGopBackAndFails)
{
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Ours = Gop ();

  EXPECT_TRUE (EFI_ERROR (Stop ()));
  EXPECT_EQ (Gop (), Ours);
  EXPECT_EQ (Model.ChildrenOf (Controller), std::vector<EFI_HANDLE>{ Child });
  EXPECT_TRUE (PciIoOpen ());
  EXPECT_EQ (Gop ()->Mode->Mode, 0u) << "the context is intact";

  gBS->CloseProtocol (Child, &gEfiDevicePathProtocolGuid, Other, nullptr);
  EXPECT_EQ (Stop (), EFI_SUCCESS);
  EXPECT_EQ (Model.Memory.LeakReport (Mark), "");
}

TEST_F (ChildHeld, WhenTheGopCannotGoBackTheStopLeavesOnlyTheChild)
{
  Model.FailBootService (BootInstallMultipleProtocolInterfaces, 1, EFI_OUT_OF_RESOURCES);

  EXPECT_EQ (Stop (), EFI_SUCCESS);
  EXPECT_NE (Serial ().find ("cannot put the GOP back: Out of Resources"), std::string::npos) << Serial ();
  EXPECT_EQ (Gop (), nullptr);
  EXPECT_EQ (Model.OpenRecords (Controller, gEfiPciIoProtocolGuid).size (), 1u) << "only the child's open";
  EXPECT_EQ (Model.ChildrenOf (Controller), std::vector<EFI_HANDLE>{ Child });

  std::vector<MEMORY_BLOCK> Left = Model.Memory.Outstanding (Mark);
  ASSERT_EQ (Left.size (), 1u) << Model.Memory.LeakReport (Mark);
  EXPECT_EQ (Left[0].Address, Model.FindProtocol (Child, gEfiDevicePathProtocolGuid)) << "the child's installed path";
}

TEST_F (DriverBinding, DisconnectReleasesEverythingAndReconnectGivesTheSamePath)
{
  UINT64 Mark = Model.Memory.Mark ();

  ASSERT_EQ (Model.ConnectController (Controller), EFI_SUCCESS);
  std::vector<UINT8> FirstPath = ChildPath ();
  EFI_HANDLE         Child     = OnlyChild ();
  Model.Controller.ClearLogs ();

  ASSERT_EQ (Model.DisconnectController (Controller), EFI_SUCCESS);

  std::vector<UINTN> StopChildren;
  for (const BINDING_CALL &Call : Model.BindingCalls ()) {
    if (Call.Kind == BindingStop) {
      EXPECT_EQ (Call.Status, EFI_SUCCESS);
      StopChildren.push_back (Call.NumberOfChildren);
    }
  }

  EXPECT_EQ (StopChildren, (std::vector<UINTN>{ 1, 0 })) << "children first, then the controller";
  EXPECT_EQ (Gop (), nullptr);
  EXPECT_FALSE (Model.IsValidHandle (Child));
  EXPECT_FALSE (PciIoOpen ());
  EXPECT_EQ (Model.Memory.LeakReport (Mark), "");
  EXPECT_TRUE (Model.Controller.RegisterLog ().empty ()) << "stopping writes no controller register";
  ASSERT_FALSE (Model.Controller.AttributeCalls ().empty ());
  EXPECT_EQ (Model.Controller.AttributeCalls ().back ().Operation, EfiPciIoAttributeOperationDisable);
  EXPECT_EQ (Model.Controller.AttributeCalls ().back ().Attributes, 0x700u);

  ASSERT_EQ (Model.ConnectController (Controller), EFI_SUCCESS);
  EXPECT_EQ (ChildPath (), FirstPath);
  EXPECT_NE (Gop (), nullptr);
  ASSERT_EQ (Model.DisconnectController (Controller), EFI_SUCCESS);
  EXPECT_EQ (Model.Memory.LeakReport (Mark), "");
}

TEST_F (DriverBinding, FirstPhaseOfADisconnectReleasesOnlyTheChild)
{
  UINT64 Mark = Model.Memory.Mark ();

  ASSERT_EQ (Model.ConnectController (Controller), EFI_SUCCESS);
  EFI_HANDLE Child = OnlyChild ();

  ASSERT_EQ (gDisplayDriverBinding.Stop (&gDisplayDriverBinding, Controller, 1, &Child), EFI_SUCCESS);
  EXPECT_FALSE (Model.IsValidHandle (Child));
  EXPECT_TRUE (Model.ChildrenOf (Controller).empty ());
  ASSERT_NE (Gop (), nullptr);
  EXPECT_EQ (Context ()->OutputHandle, nullptr);
  EXPECT_EQ (Context ()->OutputDevicePath, nullptr);
  EXPECT_EQ (Model.OpenRecords (Controller, gEfiPciIoProtocolGuid).size (), 1u) << "still held BY_DRIVER";

  ASSERT_EQ (Model.DisconnectController (Controller), EFI_SUCCESS);
  EXPECT_EQ (Model.Memory.LeakReport (Mark), "");
}

TEST_F (DriverBinding, StopOfTheControllerAlsoReleasesAChildStillPresent)
{
  UINT64 Mark = Model.Memory.Mark ();

  ASSERT_EQ (Start (), EFI_SUCCESS);
  EFI_HANDLE Child = OnlyChild ();

  EXPECT_EQ (Stop (), EFI_SUCCESS);
  EXPECT_FALSE (Model.IsValidHandle (Child));
  EXPECT_FALSE (PciIoOpen ());
  EXPECT_EQ (Model.Memory.LeakReport (Mark), "");
  EXPECT_EQ (Start (), EFI_SUCCESS) << "a start after a stop succeeds";
  EXPECT_EQ (Stop (), EFI_SUCCESS);
}

TEST_F (DriverBinding, StopRefusesWhatIsNotOurs)
{
  EXPECT_EQ (Stop (), EFI_UNSUPPORTED) << "no GOP on the controller";
  EXPECT_TRUE (Model.Controller.AttributeCalls ().empty ());

  ASSERT_EQ (Start (), EFI_SUCCESS);
  UINTN      Dummy   = 0;
  EFI_HANDLE Foreign = Model.InstallProtocol (nullptr, gEfiCallerIdGuid, &Dummy);

  EXPECT_EQ (gDisplayDriverBinding.Stop (&gDisplayDriverBinding, Controller, 1, &Foreign), EFI_INVALID_PARAMETER);
  EXPECT_EQ (Model.ChildrenOf (Controller).size (), 1u) << "our child stays";
  EXPECT_NE (Gop (), nullptr);
}

TEST_F (DriverBinding, ForgedGopIsAFatalBadSignature)
{
  DISPLAY_DEVICE_CONTEXT Forged = {};
  EFI_HANDLE Handle = Model.InstallProtocol (nullptr, gEfiGraphicsOutputProtocolGuid, &Forged.GraphicsOutput);

  Forged.Signature = SIGNATURE_32 ('T', 'V', 'X', 'H');
  EXPECT_TRUE (Model.ExpectDeadLoop ([&] { gDisplayDriverBinding.Stop (&gDisplayDriverBinding, Handle, 0, nullptr); }));
  EXPECT_EQ (SerialWithoutDirectories (), "ASSERT UefiTvx.cpp(546): CR has Bad Signature\r\n");
}

} // namespace
