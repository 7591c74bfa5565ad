/** @file
  Fault injection across Start and the GOP constructor: every allocation and
  every PCI I/O call that a clean Start makes is failed once, one at a time,
  on a fresh platform.

  What each fault must lead to depends on what the driver is allowed to do
  with it:
  - an allocation: Start fails with EFI_OUT_OF_RESOURCES (or, when the
    child's device path could not be made, with the refused child open of
    line 464), or the failure reached a call whose status is not examined
    and Start succeeds;
  - an Attributes call: Start fails with the injected status;
  - a register access (BAR 1): the fatal assertion of the controller
    programming, as the firmware would halt;
  - every other PCI I/O call (frame-buffer clear, extended CRT controller
    ports, BAR attributes): its status is not examined and Start succeeds;
    without BAR attributes the GOP offers Blt only;
  - an installation or an open (boot services): Start fails, with the
    injected status or, when the child's path was not installed, with the
    refused child open of line 464, and names the status it returns.
  A failed Start leaves nothing behind: no pool, no GOP, no child handle, PCI
  I/O closed and the attributes as they were before Start. A Start that
  succeeded despite the fault is undone by a disconnect that leaves the same.

  Then every installation, removal and open of a Stop is failed once, on a
  started controller: the controller's Stop with its child still present,
  and the firmware's two-phase disconnect. A failed Stop leaves the
  controller started, and the controller's Stop leaves everything exactly as
  it was (GOP, child, opens, memory); a retried disconnect then leaves
  nothing behind.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "GopPlatform.h"

namespace {

constexpr EFI_STATUS INJECTED = EFI_DEVICE_ERROR;

const char *
KindName (PCI_IO_CALL_KIND Kind)
{
  static const char *Names[] = { "Mem.Read", "Mem.Write", "Io.Read",    "Io.Write",
                                 "Pci.Read", "Pci.Write", "Attributes", "GetBarAttributes" };

  return Names[Kind];
}

/// What a clean Start does: its allocations and, per kind, its PCI I/O
/// calls; for memory calls, whether the Nth one addressed the registers.
struct START_PROFILE {
  UINTN             Allocations;
  UINTN             Calls[PciIoCallKinds];
  std::vector<bool> ReadIsRegister;
  std::vector<bool> WriteIsRegister;
};

START_PROFILE
ProfileCleanStart ()
{
  GOP_PLATFORM  Platform;
  START_PROFILE Profile;
  UINTN         Before[PciIoCallKinds];
  const UINTN   AllocationsBefore = Platform.Model.Memory.AllocationCount ();

  for (int Kind = 0; Kind < PciIoCallKinds; Kind++) {
    Before[Kind] = Platform.Model.Controller.CallCount (PCI_IO_CALL_KIND (Kind));
  }

  Platform.Model.Controller.ClearLogs ();
  EXPECT_EQ (Platform.Start (), EFI_SUCCESS);
  Profile.Allocations = Platform.Model.Memory.AllocationCount () - AllocationsBefore;
  for (int Kind = 0; Kind < PciIoCallKinds; Kind++) {
    Profile.Calls[Kind] = Platform.Model.Controller.CallCount (PCI_IO_CALL_KIND (Kind)) - Before[Kind];
  }

  //
  // The register log has one entry per BAR 1 call and the frame log one per
  // BAR 0 call; merged by sequence they give the order of the memory calls.
  //
  std::vector<std::pair<UINT64, std::pair<bool, bool>>> Calls; // sequence, (write, register)

  for (const REGISTER_ACCESS &Access : Platform.Model.Controller.RegisterLog ()) {
    Calls.push_back ({ Access.Sequence, { Access.IsWrite != FALSE, true } });
  }

  for (const FRAME_ACCESS &Access : Platform.Model.Controller.FrameLog ()) {
    Calls.push_back ({ Access.Sequence, { Access.IsWrite != FALSE, false } });
  }

  std::sort (Calls.begin (), Calls.end ());
  for (const auto &Call : Calls) {
    (Call.second.first ? Profile.WriteIsRegister : Profile.ReadIsRegister).push_back (Call.second.second);
  }

  EXPECT_EQ (Profile.ReadIsRegister.size (), Profile.Calls[PciIoMemRead]);
  EXPECT_EQ (Profile.WriteIsRegister.size (), Profile.Calls[PciIoMemWrite]);
  return Profile;
}

/// A Start that succeeded despite the fault: a disconnect undoes all of it.
void
ExpectStartUndoneByStop (GOP_PLATFORM &Platform, UINT64 Mark, const std::string &Where)
{
  EXPECT_NE (Platform.Gop (), nullptr) << Where;
  EXPECT_EQ (Platform.Model.DisconnectController (Platform.Controller), EFI_SUCCESS) << Where;
  Platform.ExpectNothingLeft (Mark, GOP_INITIAL_ATTRIBUTES & ~GOP_ENABLED_ATTRIBUTES, Where + ", after Stop");
}

/// Fails the Nth allocation of Start and checks the outcome.
void
FailAllocation (UINTN Nth)
{
  GOP_PLATFORM      Platform;
  const std::string Where = "allocation " + std::to_string (Nth) + " of Start";
  const UINT64      Mark  = Platform.Model.Memory.Mark ();

  Platform.Model.Memory.FailAllocation (Nth);
  bool       Halted = false;
  EFI_STATUS Status = EFI_SUCCESS;

  Halted = Platform.Model.ExpectDeadLoop ([&] { Status = Platform.Start (); });
  Platform.Model.Memory.StopFailing ();
  ASSERT_FALSE (Halted) << Where << ": an allocation failure must not halt\n" << Platform.Model.Ports.Uart.Text ();

  if (Status == EFI_SUCCESS) {
    ExpectStartUndoneByStop (Platform, Mark, Where);
    return;
  }

  const std::string &Serial = Platform.Model.Ports.Uart.Text ();

  if (Status == EFI_INVALID_PARAMETER) {
    EXPECT_NE (Serial.find ("line:464,Status:Invalid Parameter"), std::string::npos) << Where << "\n" << Serial;
  } else {
    EXPECT_EQ (Status, EFI_OUT_OF_RESOURCES) << Where;
    EXPECT_NE (Serial.find ("Status:Out of Resources"), std::string::npos) << Where << "\n" << Serial;
  }

  Platform.ExpectNothingLeft (Mark, GOP_INITIAL_ATTRIBUTES, Where);
}

/// Fails the Nth PCI I/O call of Kind and checks the outcome.
void
FailPciIoCall (PCI_IO_CALL_KIND Kind, UINTN Nth, const START_PROFILE &Profile)
{
  GOP_PLATFORM      Platform;
  const std::string Where  = std::string ("PCI I/O ") + KindName (Kind) + " call " + std::to_string (Nth) + " of Start";
  const UINT64      Mark   = Platform.Model.Memory.Mark ();
  EFI_STATUS        Status = EFI_SUCCESS;

  Platform.Model.Controller.FailCall (Kind, Nth, INJECTED);
  const bool Halted = Platform.Model.ExpectDeadLoop ([&] { Status = Platform.Start (); });

  const std::string &Serial = Platform.Model.Ports.Uart.Text ();

  bool Register = false;

  if (Kind == PciIoMemRead) {
    Register = Profile.ReadIsRegister[Nth - 1];
  } else if (Kind == PciIoMemWrite) {
    Register = Profile.WriteIsRegister[Nth - 1];
  }

  if (Register) {
    //
    // A register that cannot be programmed is fatal by design.
    //
    EXPECT_TRUE (Halted) << Where << ": a failed register access must be a fatal assertion";
    EXPECT_NE (Serial.find ("ASSERT_EFI_ERROR (Status = Device Error)"), std::string::npos) << Where << "\n" << Serial;
    return;
  }

  ASSERT_FALSE (Halted) << Where << "\n" << Serial;
  if (Kind == PciIoAttributes) {
    EXPECT_EQ (Status, INJECTED) << Where;
    EXPECT_NE (Serial.find ("Status:Device Error"), std::string::npos) << Where << "\n" << Serial;
    Platform.ExpectNothingLeft (Mark, GOP_INITIAL_ATTRIBUTES, Where);
    return;
  }

  EXPECT_EQ (Status, EFI_SUCCESS) << Where << ": this call's status is not examined";
  if ((Status == EFI_SUCCESS) && (Kind == PciIoGetBarAttributes)) {
    EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE *Mode = Platform.Gop ()->Mode;

    EXPECT_EQ (Mode->Info->PixelFormat, PixelBltOnly) << Where << ": no frame buffer to offer";
    EXPECT_EQ (Mode->FrameBufferBase, 0u) << Where;
    EXPECT_EQ (Mode->FrameBufferSize, 0u) << Where;
  }

  if (Status == EFI_SUCCESS) {
    ExpectStartUndoneByStop (Platform, Mark, Where);
  }
}

const char *
ServiceName (BOOT_SERVICE_KIND Kind)
{
  static const char *Names[] = { "InstallMultipleProtocolInterfaces", "UninstallMultipleProtocolInterfaces",
                                 "OpenProtocol" };

  return Names[Kind];
}

/// A status a firmware core gives for each service, and its %r text.
EFI_STATUS
ServiceFailure (BOOT_SERVICE_KIND Kind)
{
  static const EFI_STATUS Statuses[] = { EFI_OUT_OF_RESOURCES, EFI_INVALID_PARAMETER, EFI_ACCESS_DENIED };

  return Statuses[Kind];
}

const char *
StatusText (EFI_STATUS Status)
{
  switch (Status) {
    case EFI_OUT_OF_RESOURCES:
      return "Out of Resources";
    case EFI_INVALID_PARAMETER:
      return "Invalid Parameter";
    case EFI_ACCESS_DENIED:
      return "Access Denied";
    default:
      return "?";
  }
}

/// Calls per boot service that Body makes.
std::vector<UINTN>
CountServiceCalls (HOST_MODEL &Model, const std::function<void ()> &Body)
{
  std::vector<UINTN> Calls (BootServiceKinds);

  for (int Kind = 0; Kind < BootServiceKinds; Kind++) {
    Calls[Kind] = Model.BootServiceCalls (BOOT_SERVICE_KIND (Kind));
  }

  Body ();
  for (int Kind = 0; Kind < BootServiceKinds; Kind++) {
    Calls[Kind] = Model.BootServiceCalls (BOOT_SERVICE_KIND (Kind)) - Calls[Kind];
  }

  return Calls;
}

/// Fails the Nth call of Kind in Start and checks the outcome.
void
FailStartService (BOOT_SERVICE_KIND Kind, UINTN Nth)
{
  GOP_PLATFORM      Platform;
  const std::string Where = std::string (ServiceName (Kind)) + " call " + std::to_string (Nth) + " of Start";
  const UINT64      Mark  = Platform.Model.Memory.Mark ();

  Platform.Model.FailBootService (Kind, Nth, ServiceFailure (Kind));
  const EFI_STATUS   Status = Platform.Start ();
  const std::string &Serial = Platform.Model.Ports.Uart.Text ();

  ASSERT_TRUE (EFI_ERROR (Status)) << Where << ": Start must fail";
  EXPECT_TRUE ((Status == ServiceFailure (Kind)) || (Status == EFI_INVALID_PARAMETER)) << Where;
  EXPECT_NE (Serial.find (std::string (",Status:") + StatusText (Status)), std::string::npos) << Where << "\n"
                                                                                              << Serial;
  Platform.ExpectNothingLeft (Mark, GOP_INITIAL_ATTRIBUTES, Where);
}

/// What a started controller holds; a failed Stop of the controller must
/// leave all of it as it was.
struct STARTED_STATE {
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop;
  std::vector<EFI_HANDLE>       Children;
  VOID                         *ChildPath;
  size_t                        DriverOpens;
  std::string                   Memory;
  UINT64                        Attributes;

  static STARTED_STATE
  Of (const GOP_PLATFORM &Platform, UINT64 Mark)
  {
    std::vector<EFI_HANDLE> Children = Platform.Model.ChildrenOf (Platform.Controller);

    return { Platform.Gop (),
             Children,
             Children.empty () ? nullptr : Platform.Model.FindProtocol (Children[0], gEfiDevicePathProtocolGuid),
             Platform.DriverOpens (),
             Platform.Model.Memory.LeakReport (Mark),
             Platform.Model.Controller.Attributes () };
  }
};

void
ExpectSameState (const STARTED_STATE &Before, const STARTED_STATE &After, const std::string &Where)
{
  EXPECT_EQ (After.Gop, Before.Gop) << Where << ": the GOP";
  EXPECT_EQ (After.Children, Before.Children) << Where << ": the child";
  EXPECT_EQ (After.ChildPath, Before.ChildPath) << Where << ": the child's path";
  EXPECT_EQ (After.DriverOpens, Before.DriverOpens) << Where << ": the opens of PCI I/O";
  EXPECT_EQ (After.Memory, Before.Memory) << Where << ": the memory held";
  EXPECT_EQ (After.Attributes, Before.Attributes) << Where << ": the attributes";
}

/// How a Stop is asked for.
enum STOP_ROUTE { StopOfTheController, FirmwareDisconnect };

EFI_STATUS
RunStop (GOP_PLATFORM &Platform, STOP_ROUTE Route)
{
  return (Route == StopOfTheController)
           ? gDisplayDriverBinding.Stop (&gDisplayDriverBinding, Platform.Controller, 0, nullptr)
           : Platform.Model.DisconnectController (Platform.Controller);
}

/// Fails the Nth call of Kind in a Stop of a started controller.
void
FailStopService (STOP_ROUTE Route, BOOT_SERVICE_KIND Kind, UINTN Nth)
{
  GOP_PLATFORM      Platform;
  const std::string Where = std::string (ServiceName (Kind)) + " call " + std::to_string (Nth) +
                            (Route == StopOfTheController ? " of the controller's Stop" : " of a disconnect");
  const UINT64 Mark = Platform.Model.Memory.Mark ();

  ASSERT_EQ (Platform.Start (), EFI_SUCCESS) << Where;
  const STARTED_STATE Before = STARTED_STATE::Of (Platform, Mark);

  Platform.Model.FailBootService (Kind, Nth, ServiceFailure (Kind));
  const EFI_STATUS Status = RunStop (Platform, Route);

  if (EFI_ERROR (Status)) {
    //
    // The disconnect's first phase may have released the child already.
    //
    EXPECT_EQ (Platform.Gop (), Before.Gop) << Where << ": a failed Stop keeps the GOP";
    EXPECT_GE (Platform.DriverOpens (), 1u) << Where << ": a failed Stop keeps PCI I/O open";
    if (Route == StopOfTheController) {
      ExpectSameState (Before, STARTED_STATE::Of (Platform, Mark), Where);
    }

    ASSERT_EQ (Platform.Model.DisconnectController (Platform.Controller), EFI_SUCCESS) << Where << ", retried";
  }

  Platform.ExpectNothingLeft (Mark, GOP_INITIAL_ATTRIBUTES & ~GOP_ENABLED_ATTRIBUTES, Where + ", after Stop");
}

/// Calls per boot service of one Stop by Route of a freshly started controller.
std::vector<UINTN>
ProfileCleanStop (STOP_ROUTE Route)
{
  GOP_PLATFORM Platform;

  EXPECT_EQ (Platform.Start (), EFI_SUCCESS);
  return CountServiceCalls (Platform.Model, [&] { EXPECT_EQ (RunStop (Platform, Route), EFI_SUCCESS); });
}

} // namespace

TEST (GopFaultSweep, EveryAllocationAndPciIoCallOfStartFailedOnce)
{
  const START_PROFILE Profile     = ProfileCleanStart ();
  UINTN               PciIoPoints = 0;
  UINTN               Injected    = 0;

  ASSERT_GT (Profile.Allocations, 0u);
  for (UINTN Nth = 1; Nth <= Profile.Allocations && !HasFatalFailure (); Nth++) {
    FailAllocation (Nth);
  }

  //
  // The fast run fails every eighth frame-buffer and register write (and the
  // last one); the full run fails all of them.
  //
  const UINTN WriteStride = SweepSize (8, 1);

  for (int Kind = 0; Kind < PciIoCallKinds; Kind++) {
    for (UINTN Nth = 1; Nth <= Profile.Calls[Kind] && !HasFatalFailure (); Nth++) {
      if ((Kind == PciIoMemWrite) && (Nth % WriteStride != 1 % WriteStride) && (Nth != Profile.Calls[Kind])) {
        continue;
      }

      FailPciIoCall (PCI_IO_CALL_KIND (Kind), Nth, Profile);
      Injected++;
    }

    PciIoPoints += Profile.Calls[Kind];
    if (Profile.Calls[Kind] != 0) {
      SweepReport (
        "GopFaultSweep", (std::string ("PCI I/O ") + KindName (PCI_IO_CALL_KIND (Kind)) + " fault points").c_str (),
        Profile.Calls[Kind]
      );
    }
  }

  SweepReport ("GopFaultSweep", "allocation fault points", Profile.Allocations);
  SweepReport ("GopFaultSweep", "PCI I/O fault points", PciIoPoints);
  SweepReport ("GopFaultSweep", "PCI I/O faults injected in this run", Injected);
}

TEST (GopFaultSweep, EveryInstallationRemovalAndOpenOfStartAndStopFailedOnce)
{
  std::vector<UINTN> StartCalls;
  {
    GOP_PLATFORM Platform;
    StartCalls = CountServiceCalls (Platform.Model, [&] { EXPECT_EQ (Platform.Start (), EFI_SUCCESS); });
  }

  UINTN Points = 0;

  for (int Kind = 0; Kind < BootServiceKinds && !HasFatalFailure (); Kind++) {
    for (UINTN Nth = 1; Nth <= StartCalls[Kind] && !HasFatalFailure (); Nth++) {
      FailStartService (BOOT_SERVICE_KIND (Kind), Nth);
      Points++;
    }
  }

  ASSERT_GE (StartCalls[BootInstallMultipleProtocolInterfaces], 2u) << "the child's path and the GOP";
  SweepReport ("GopFaultSweep", "boot-service fault points of Start", Points);

  for (STOP_ROUTE Route : { StopOfTheController, FirmwareDisconnect }) {
    const std::vector<UINTN> StopCalls = ProfileCleanStop (Route);

    ASSERT_GE (StopCalls[BootUninstallMultipleProtocolInterfaces], 2u) << "the GOP and the child's path";
    Points = 0;
    for (int Kind = 0; Kind < BootServiceKinds && !HasFatalFailure (); Kind++) {
      for (UINTN Nth = 1; Nth <= StopCalls[Kind] && !HasFatalFailure (); Nth++) {
        FailStopService (Route, BOOT_SERVICE_KIND (Kind), Nth);
        Points++;
      }
    }

    SweepReport (
      "GopFaultSweep",
      Route == StopOfTheController ? "boot-service fault points of the controller's Stop"
                                   : "boot-service fault points of a disconnect",
      Points
    );
  }
}

int gGopFaultSweepFile = 1; // named by main, see GopReliabilityMain.cpp
