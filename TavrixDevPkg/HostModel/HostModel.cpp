/** @file
  The model's lifetime, the system table, starting a module under test, and
  the escape from fatal assertions.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "HostModelInternal.h"
#include <csetjmp>
#include <cstdio>

extern "C" {
#include <Library/DebugLib.h>

//
// EDK II library constructors and the caches those libraries keep in module
// globals. They are weak references: only the libraries linked into the
// test executable are there.
//
RETURN_STATUS EFIAPI BaseSerialPortLib16550 (VOID) __attribute__ ((weak));
RETURN_STATUS EFIAPI BaseDebugLibSerialPortConstructor (VOID) __attribute__ ((weak));
RETURN_STATUS EFIAPI SerialDebugLibConstructor (VOID) __attribute__ ((weak));
EFI_STATUS EFIAPI    UefiBootServicesTableLibConstructor (EFI_HANDLE, EFI_SYSTEM_TABLE *) __attribute__ ((weak));
EFI_STATUS EFIAPI    UefiRuntimeServicesTableLibConstructor (EFI_HANDLE, EFI_SYSTEM_TABLE *) __attribute__ ((weak));
EFI_STATUS EFIAPI    UefiLibConstructor (EFI_HANDLE, EFI_SYSTEM_TABLE *) __attribute__ ((weak));
EFI_STATUS EFIAPI    HobLibConstructor (EFI_HANDLE, EFI_SYSTEM_TABLE *) __attribute__ ((weak));

extern VOID *mHobList __attribute__ ((weak));
extern VOID *mPcd __attribute__ ((weak));
extern VOID *mPiPcd __attribute__ ((weak));
extern VOID *mPcdInfo __attribute__ ((weak));
extern VOID *mPiPcdInfo __attribute__ ((weak));
extern VOID *mReportStatusCodeLibStatusCodeProtocol __attribute__ ((weak));
}

namespace {

HOST_MODEL *mCurrentModel;

EFI_LOADED_IMAGE_PROTOCOL *
NewLoadedImage (BOOT_SERVICES_STATE &Boot)
{
  EFI_LOADED_IMAGE_PROTOCOL *Image = new EFI_LOADED_IMAGE_PROTOCOL ();

  Image->Revision      = EFI_LOADED_IMAGE_PROTOCOL_REVISION;
  Image->SystemTable   = &Boot.SystemTable;
  Image->ImageCodeType = EfiBootServicesCode;
  Image->ImageDataType = EfiBootServicesData;
  Boot.LoadedImages.push_back (Image);
  return Image;
}

} // namespace

BOOT_SERVICES_STATE::~BOOT_SERVICES_STATE ()
{
  for (HANDLE_RECORD *Record : Handles) {
    delete Record;
  }

  for (EVENT_RECORD *Event : Events) {
    delete Event;
  }

  for (NOTIFY_REGISTRATION *Registration : Registrations) {
    delete Registration;
  }

  for (EFI_LOADED_IMAGE_PROTOCOL *Image : LoadedImages) {
    delete Image;
  }
}

/// Clears a system or services table and fills its header: Signature, this
/// model's revision and the table's own size.
template <typename TABLE>
static void
ClearServiceTable (TABLE &Table, UINT64 Signature)
{
  ZeroMem (&Table, sizeof (Table));
  Table.Hdr.Signature  = Signature;
  Table.Hdr.Revision   = EFI_2_70_SYSTEM_TABLE_REVISION;
  Table.Hdr.HeaderSize = sizeof (Table);
}

HOST_MODEL::HOST_MODEL () : mBoot (new BOOT_SERVICES_STATE ())
{
  if (mCurrentModel != nullptr) {
    ADD_FAILURE () << "a second HOST_MODEL while one exists";
  }

  mCurrentModel = this;

  EFI_SYSTEM_TABLE &St = mBoot->SystemTable;

  ClearServiceTable (St, EFI_SYSTEM_TABLE_SIGNATURE);
  St.FirmwareVendor       = (CHAR16 *)u"Host model";
  St.BootServices         = &mBoot->BootServices;
  St.RuntimeServices      = &mBoot->RuntimeServices;
  St.ConfigurationTable   = mBoot->ConfigTables;
  St.NumberOfTableEntries = 0;

  EFI_BOOT_SERVICES *Bs = &mBoot->BootServices;

  ClearServiceTable (*Bs, EFI_BOOT_SERVICES_SIGNATURE);
  InitHandleServices (Bs);
  InitEventServices (Bs);
  InitMiscBootServices (Bs);

  EFI_RUNTIME_SERVICES *Rt = &mBoot->RuntimeServices;

  ClearServiceTable (*Rt, EFI_RUNTIME_SERVICES_SIGNATURE);
  InitRuntimeServices (Rt);

  Windows.Reset ();
  ResetLibraryCaches ();

  //
  // The firmware's own image, agent of HandleProtocol opens; then what the
  // platform has published before any driver runs.
  //
  mBoot->CoreImageHandle = NewImageHandle ();
  mImageHandle           = mBoot->CoreImageHandle;
  Bs->InstallConfigurationTable (&gEfiHobListGuid, Hobs.List ());
  InstallPcdProtocols ();
  StatusCodes.Install ();

  //
  // Bind the table and HOB libraries now, so that tests calling a driver's
  // functions directly find gBS, gST, gRT and the HOB list.
  //
  for (EFI_IMAGE_ENTRY_POINT Constructor :
       { UefiBootServicesTableLibConstructor, UefiRuntimeServicesTableLibConstructor, HobLibConstructor }) {
    if (Constructor != nullptr) {
      Constructor (mImageHandle, &St);
    }
  }
}

HOST_MODEL::~HOST_MODEL ()
{
  ResetLibraryCaches ();
  mCurrentModel = nullptr;
}

HOST_MODEL &
HOST_MODEL::Current ()
{
  if (mCurrentModel == nullptr) {
    ADD_FAILURE () << "a firmware service was called with no HOST_MODEL alive";
    abort ();
  }

  return *mCurrentModel;
}

EFI_SYSTEM_TABLE *
HOST_MODEL::SystemTable ()
{
  return &mBoot->SystemTable;
}

EFI_BOOT_SERVICES *
HOST_MODEL::BootServices ()
{
  return &mBoot->BootServices;
}

EFI_RUNTIME_SERVICES *
HOST_MODEL::RuntimeServices ()
{
  return &mBoot->RuntimeServices;
}

/**
  A freshly loaded image starts with its library globals zero; in one test
  executable they survive from the previous test, so clear the caches that
  would otherwise point into a model that is gone.
**/
void
HOST_MODEL::ResetLibraryCaches ()
{
  VOID **Caches[] = { &mHobList, &mPcd, &mPiPcd, &mPcdInfo, &mPiPcdInfo, &mReportStatusCodeLibStatusCodeProtocol };

  for (VOID **Cache : Caches) {
    if (Cache != nullptr) {
      *Cache = nullptr;
    }
  }
}

EFI_HANDLE
HOST_MODEL::NewImageHandle ()
{
  return InstallProtocol (nullptr, gEfiLoadedImageProtocolGuid, NewLoadedImage (*mBoot));
}

std::vector<LIBRARY_CONSTRUCTOR>
HOST_MODEL::Edk2LibraryConstructors ()
{
  //
  // Weak references: a library that is not linked leaves a null constructor.
  //
  const LIBRARY_CONSTRUCTOR Candidates[] = {
    BaseSerialPortLib16550,
    BaseDebugLibSerialPortConstructor,
    SerialDebugLibConstructor,
    UefiBootServicesTableLibConstructor,
    UefiRuntimeServicesTableLibConstructor,
    UefiLibConstructor,
    HobLibConstructor,
  };
  std::vector<LIBRARY_CONSTRUCTOR> List;

  for (const LIBRARY_CONSTRUCTOR &Constructor : Candidates) {
    if ((Constructor.Dxe != nullptr) || (Constructor.Base != nullptr)) {
      List.push_back (Constructor);
    }
  }

  return List;
}

EFI_STATUS
HOST_MODEL::StartModule (EFI_IMAGE_ENTRY_POINT EntryPoint)
{
  //
  // The image is kept in the model, not in a temporary: a fatal assertion
  // inside ExpectDeadLoop abandons this frame without running destructors.
  //
  mModule = MODULE_IMAGE{ EntryPoint, Edk2LibraryConstructors (), {} };
  return StartModule (mModule);
}

/**
  Runs a module as its generated entry code does: every library constructor
  in order (a failure is a status assertion, and the next one still runs),
  the entry point, and the destructors when the entry point fails.
**/
EFI_STATUS
HOST_MODEL::StartModule (const MODULE_IMAGE &Image)
{
  EFI_SYSTEM_TABLE *St = &mBoot->SystemTable;
  EFI_STATUS        Status;

  mImageHandle = NewImageHandle ();
  for (const LIBRARY_CONSTRUCTOR &Constructor : Image.Constructors) {
    Status = (Constructor.Dxe != nullptr) ? Constructor.Dxe (mImageHandle, St) : Constructor.Base ();
    ASSERT_EFI_ERROR (Status);
  }

  Status = Image.EntryPoint (mImageHandle, St);
  if (EFI_ERROR (Status)) {
    for (LIBRARY_DESTRUCTOR Destructor : Image.Destructors) {
      EFI_STATUS DestructorStatus = Destructor (mImageHandle, St);
      ASSERT_EFI_ERROR (DestructorStatus);
    }
  }

  return Status;
}

void
HOST_MODEL::RecordStall (UINTN Microseconds)
{
  mStalls.push_back (STALL_RECORD{ NextSequence (), Microseconds });
}

VOID *
HOST_MODEL::ConfigurationTable (const EFI_GUID &Guid) const
{
  for (UINTN Index = 0; Index < mBoot->SystemTable.NumberOfTableEntries; Index++) {
    if (CompareGuid (&mBoot->ConfigTables[Index].VendorGuid, &Guid)) {
      return mBoot->ConfigTables[Index].VendorTable;
    }
  }

  return nullptr;
}

//
// Fatal assertions.
//

BOOLEAN
HOST_MODEL::ExpectDeadLoop (const std::function<void ()> &Body)
{
  std::jmp_buf Jump;
  VOID        *Outer = mDeadLoopJump;
  EFI_TPL      Tpl   = mBoot->Tpl;

  mDeadLoopJump = &Jump;
  if (setjmp (Jump) == 0) {
    Body ();
    mDeadLoopJump = Outer;
    return FALSE;
  }

  //
  // The abandoned code may have raised the priority level; the test goes
  // on at the level it had.
  //
  mDeadLoopJump = Outer;
  mBoot->Tpl    = Tpl;
  return TRUE;
}

void
HOST_MODEL::OnDeadLoop ()
{
  mDeadLoops++;
  if (mDeadLoopJump != nullptr) {
    std::longjmp (*(std::jmp_buf *)mDeadLoopJump, 1);
  }

  ADD_FAILURE () << "CpuDeadLoop () reached: a fatal assertion the test did not expect"
                 << (Ports.Uart.Text ().empty () ? "" : "; serial output:\n") << Ports.Uart.Text ();
}

void
HOST_MODEL::OnBreakpoint ()
{
  mBreakpoints++;
  if (!mAllowBreakpoints) {
    ADD_FAILURE () << "CpuBreakpoint () reached: an assertion the test did not expect";
  }
}

extern "C" {
/// CpuDeadLoop () of every host test executable (linked with --wrap).
VOID EFIAPI
__wrap_CpuDeadLoop (VOID)
{
  if (mCurrentModel == nullptr) {
    fprintf (stderr, "CpuDeadLoop () reached with no HOST_MODEL alive\n");
    abort ();
  }

  mCurrentModel->OnDeadLoop ();
}

/// CpuBreakpoint () of every host test executable (linked with --wrap).
VOID EFIAPI
__wrap_CpuBreakpoint (VOID)
{
  if (mCurrentModel == nullptr) {
    fprintf (stderr, "CpuBreakpoint () reached with no HOST_MODEL alive\n");
    abort ();
  }

  mCurrentModel->OnBreakpoint ();
}
}
