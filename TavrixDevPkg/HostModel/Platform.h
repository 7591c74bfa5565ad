/** @file
  Host platform model: the platform as a whole (system table, boot and runtime
  services, handle database, events, module start-up) with its parts.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef HOST_MODEL_PLATFORM_H_
#define HOST_MODEL_PLATFORM_H_

#include "Memory.h"
#include "DisplayController.h"
#include "PortIo.h"
#include "FixedWindows.h"
#include "HobList.h"
#include "Pcd.h"
#include "StatusCode.h"
#include "EarlyDisplay.h"

/// One open of a protocol on a handle, as OpenProtocolInformation reports it.
struct OPEN_RECORD {
  EFI_HANDLE Agent;
  EFI_HANDLE Controller;
  UINT32     Attributes;
  UINT32     OpenCount;
};

enum BINDING_CALL_KIND { BindingSupported, BindingStart, BindingStop };

/// Boot services whose calls a test can make fail (HOST_MODEL::FailBootService).
enum BOOT_SERVICE_KIND {
  BootInstallMultipleProtocolInterfaces,
  BootUninstallMultipleProtocolInterfaces,
  BootOpenProtocol,
  BootServiceKinds
};

/// One Driver Binding call made by ConnectController/DisconnectController.
struct BINDING_CALL {
  UINT64                       Sequence;
  BINDING_CALL_KIND            Kind;
  EFI_DRIVER_BINDING_PROTOCOL *Binding;
  EFI_HANDLE                   Controller;
  UINTN                        NumberOfChildren; ///< Stop only
  EFI_STATUS                   Status;
};

struct STALL_RECORD {
  UINT64 Sequence;
  UINTN  Microseconds;
};

/// A library constructor as the generated entry code calls it: DXE-style
/// (ImageHandle, SystemTable) or BASE-style (no arguments).
struct LIBRARY_CONSTRUCTOR {
  EFI_STATUS (EFIAPI *Dxe) (EFI_HANDLE, EFI_SYSTEM_TABLE *);
  RETURN_STATUS (EFIAPI *Base) (VOID);
  LIBRARY_CONSTRUCTOR (EFI_STATUS (EFIAPI *F) (EFI_HANDLE, EFI_SYSTEM_TABLE *)) : Dxe (F), Base (nullptr)
  {}
  LIBRARY_CONSTRUCTOR (RETURN_STATUS (EFIAPI *F) (VOID)) : Dxe (nullptr), Base (F)
  {}
};

typedef EFI_STATUS (EFIAPI *LIBRARY_DESTRUCTOR) (EFI_HANDLE, EFI_SYSTEM_TABLE *);

/// What StartModule runs: constructors in order, the entry point, and the
/// destructors in order when the entry point fails.
struct MODULE_IMAGE {
  EFI_IMAGE_ENTRY_POINT            EntryPoint;
  std::vector<LIBRARY_CONSTRUCTOR> Constructors;
  std::vector<LIBRARY_DESTRUCTOR>  Destructors;
};

struct BOOT_SERVICES_STATE;

/// The platform: system table, boot and runtime services, hardware.
class HOST_MODEL {
public:
  HOST_MODEL ();
  ~HOST_MODEL ();
  HOST_MODEL (const HOST_MODEL &)            = delete;
  HOST_MODEL &operator= (const HOST_MODEL &) = delete;

  /// The model of the running test (fails the test if there is none).
  static HOST_MODEL &Current ();

  // Hardware and firmware pieces.
  MEMORY_MODEL         Memory;
  DISPLAY_CONTROLLER   Controller;
  PORT_IO_MODEL        Ports;
  FIXED_WINDOWS        Windows;
  HOB_LIST_MODEL       Hobs;
  PCD_MODEL            Pcd;
  STATUS_CODE_LISTENER StatusCodes;
  EARLY_DISPLAY_MODEL  EarlyDisplay;

  EFI_SYSTEM_TABLE *SystemTable ();

  EFI_BOOT_SERVICES *BootServices ();

  EFI_RUNTIME_SERVICES *RuntimeServices ();

  /// Next value of the model-wide sequence counter.
  UINT64
  NextSequence ()
  {
    return ++mSequence;
  }

  //
  // Starting a module under test.
  //

  /// The EDK II library constructors linked into this test executable (a
  /// library object is linked when something uses it), in the order the
  /// generated entry code of a DXE driver runs them: serial port, serial
  /// DebugLib, boot and runtime services tables, UefiLib, HobLib.
  static std::vector<LIBRARY_CONSTRUCTOR> Edk2LibraryConstructors ();

  /// The entry point of a module that only carries libraries under test.
  static EFI_STATUS EFIAPI
  EmptyEntryPoint (IN EFI_HANDLE ImageHandle, IN EFI_SYSTEM_TABLE *SystemTable)
  {
    return EFI_SUCCESS;
  }

  /// Makes a new image handle (with a Loaded Image protocol), runs
  /// Edk2LibraryConstructors () and the entry point, and returns its status.
  EFI_STATUS
  StartModule (EFI_IMAGE_ENTRY_POINT EntryPoint);

  /// As above with an explicit constructor and destructor list. A failing
  /// constructor is reported as ASSERT_EFI_ERROR through the module's
  /// DebugLib and the next one runs, as in generated code.
  EFI_STATUS
  StartModule (const MODULE_IMAGE &Image);

  /// Image handle of the last module started (or the model's own image).
  EFI_HANDLE
  ImageHandle () const
  {
    return mImageHandle;
  }

  //
  // Handle database.
  //

  /// InstallProtocolInterface with a native interface; returns the handle.
  EFI_HANDLE
  InstallProtocol (EFI_HANDLE Handle, const EFI_GUID &Protocol, VOID *Interface);

  /// The interface of Protocol on Handle, without opening it (or nullptr).
  VOID *FindProtocol (EFI_HANDLE Handle, const EFI_GUID &Protocol) const;

  std::vector<EFI_HANDLE> HandlesWith (const EFI_GUID &Protocol) const;

  std::vector<OPEN_RECORD> OpenRecords (EFI_HANDLE Handle, const EFI_GUID &Protocol) const;

  BOOLEAN
  IsValidHandle (EFI_HANDLE Handle) const;

  /// Handles that have opened a protocol of Controller BY_CHILD_CONTROLLER.
  std::vector<EFI_HANDLE> ChildrenOf (EFI_HANDLE Controller) const;

  EFI_STATUS
  ConnectController (EFI_HANDLE Controller, EFI_DEVICE_PATH_PROTOCOL *RemainingDevicePath = nullptr);

  EFI_STATUS
  DisconnectController (
    EFI_HANDLE Controller,
    EFI_HANDLE DriverImageHandle = nullptr,
    EFI_HANDLE ChildHandle       = nullptr
  );

  const std::vector<BINDING_CALL> &BindingCalls () const;

  /// The Nth call of Kind through the boot services table from now (1 = the
  /// next) answers Status and changes nothing, once. The model's own uses of
  /// these services (HandleProtocol, the test-facing helpers) are not counted.
  void FailBootService (BOOT_SERVICE_KIND Kind, UINTN Nth, EFI_STATUS Status);

  /// Calls of Kind made so far through the boot services table.
  UINTN
  BootServiceCalls (BOOT_SERVICE_KIND Kind) const;

  //
  // Events and task priority.
  //

  EFI_TPL
  CurrentTpl () const;

  /// Signals every event of the group (e.g. gEfiEventExitBootServicesGuid).
  void SignalEventGroup (const EFI_GUID &Group);

  BOOLEAN
  IsEventOpen (EFI_EVENT Event) const;

  UINTN
  OpenEventCount () const;

  //
  // Other services.
  //

  const std::vector<STALL_RECORD> &
  Stalls () const
  {
    return mStalls;
  }

  void RecordStall (UINTN Microseconds);

  /// The configuration table entry for Guid, or nullptr.
  VOID *ConfigurationTable (const EFI_GUID &Guid) const;

  //
  // Fatal assertions. The DebugLib instances end a fatal assertion in
  // CpuDeadLoop (); the host build links CpuDeadLoop and CpuBreakpoint to
  // the model (-Wl,--wrap). Inside ExpectDeadLoop the dead loop abandons
  // Body and returns TRUE; the assertion text is wherever the DebugLib put
  // it (Ports.Uart.Text () for the serial DebugLib). Outside, a dead loop
  // fails the test and returns to its caller, as a debugger stepping past
  // the loop would. A breakpoint returns to its caller; unless allowed, it
  // fails the test. An abandoned Body runs no destructors: make objects that
  // own memory (a MODULE_IMAGE, a std::vector) outside it, or LeakSanitizer
  // reports them at exit.
  //

  BOOLEAN
  ExpectDeadLoop (const std::function<void ()> &Body);

  UINTN
  DeadLoops () const
  {
    return mDeadLoops;
  }

  UINTN
  Breakpoints () const
  {
    return mBreakpoints;
  }

  void
  AllowBreakpoints (BOOLEAN Allow)
  {
    mAllowBreakpoints = Allow;
  }

  // Used by the CpuDeadLoop/CpuBreakpoint wrappers.
  void OnDeadLoop ();

  void OnBreakpoint ();

  BOOT_SERVICES_STATE &
  Boot ()
  {
    return *mBoot;
  }

private:
  void ResetLibraryCaches ();

  EFI_HANDLE
  NewImageHandle ();

  UINT64                               mSequence = 0;
  std::unique_ptr<BOOT_SERVICES_STATE> mBoot;
  MODULE_IMAGE                         mModule      = {};
  EFI_HANDLE                           mImageHandle = nullptr;
  std::vector<STALL_RECORD>            mStalls;
  UINTN                                mDeadLoops        = 0;
  UINTN                                mBreakpoints      = 0;
  BOOLEAN                              mAllowBreakpoints = FALSE;
  VOID                                *mDeadLoopJump     = nullptr;
};

#endif
