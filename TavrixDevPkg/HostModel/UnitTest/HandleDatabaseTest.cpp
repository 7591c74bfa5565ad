/** @file
  The handle database as drivers see it: the attribute rules of
  OpenProtocol, duplicate device paths, injected failures, and the
  two-phase disconnect.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include <HostModel.h>

extern "C" {
#include <Library/BaseMemoryLib.h>
#include <Library/UefiBootServicesTableLib.h>
}

namespace {

class HandleDatabase : public HOST_MODEL_TEST {
protected:
  EFI_HANDLE Controller = Model.Controller.Publish ();
  EFI_HANDLE DriverA    = Model.InstallProtocol (nullptr, gEfiCallerIdGuid, nullptr);
  EFI_HANDLE DriverB    = Model.InstallProtocol (nullptr, gEfiCallerIdGuid, nullptr);

  EFI_STATUS
  Open (EFI_HANDLE Agent, EFI_HANDLE ControllerHandle, UINT32 Attributes)
  {
    VOID *Interface;

    return gBS->OpenProtocol (Controller, &gEfiPciIoProtocolGuid, &Interface, Agent, ControllerHandle, Attributes);
  }
};

TEST_F (HandleDatabase, ByDriverIsExclusive)
{
  ASSERT_EQ (Open (DriverA, Controller, EFI_OPEN_PROTOCOL_BY_DRIVER), EFI_SUCCESS);

  VOID *Interface = nullptr;

  EXPECT_EQ (
    gBS->OpenProtocol (
      Controller, &gEfiPciIoProtocolGuid, &Interface, DriverA, Controller, EFI_OPEN_PROTOCOL_BY_DRIVER
    ),
    EFI_ALREADY_STARTED
  );
  EXPECT_EQ (Interface, Model.Controller.PciIo ()) << "EFI_ALREADY_STARTED still hands out the interface";
  EXPECT_EQ (Open (DriverB, Controller, EFI_OPEN_PROTOCOL_BY_DRIVER), EFI_ACCESS_DENIED);
  EXPECT_EQ (Open (DriverB, Controller, EFI_OPEN_PROTOCOL_GET_PROTOCOL), EFI_SUCCESS);

  std::vector<OPEN_RECORD> Opens = Model.OpenRecords (Controller, gEfiPciIoProtocolGuid);

  ASSERT_EQ (Opens.size (), 2u);
  EXPECT_EQ (Opens[0].Agent, DriverA);
  EXPECT_EQ (Opens[0].Attributes, (UINT32)EFI_OPEN_PROTOCOL_BY_DRIVER);

  EXPECT_EQ (gBS->CloseProtocol (Controller, &gEfiPciIoProtocolGuid, DriverA, Controller), EFI_SUCCESS);
  EXPECT_EQ (Open (DriverB, Controller, EFI_OPEN_PROTOCOL_BY_DRIVER), EFI_SUCCESS);
  EXPECT_EQ (gBS->CloseProtocol (Controller, &gEfiPciIoProtocolGuid, DriverA, Controller), EFI_NOT_FOUND);
}

TEST_F (HandleDatabase, ByChildControllerNeedsAValidOtherHandle)
{
  EFI_HANDLE Child = Model.InstallProtocol (nullptr, gEfiCallerIdGuid, nullptr);

  EXPECT_EQ (Open (DriverA, nullptr, EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER), EFI_INVALID_PARAMETER);
  EXPECT_EQ (Open (DriverA, (EFI_HANDLE)&Child, EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER), EFI_INVALID_PARAMETER);
  EXPECT_EQ (Open (DriverA, Controller, EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER), EFI_INVALID_PARAMETER);
  EXPECT_TRUE (Model.OpenRecords (Controller, gEfiPciIoProtocolGuid).empty ());

  EXPECT_EQ (Open (DriverA, Child, EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER), EFI_SUCCESS);
  EXPECT_EQ (Open (DriverA, Child, EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER), EFI_SUCCESS)
    << "no exclusivity for children";
  EXPECT_EQ (Model.ChildrenOf (Controller), std::vector<EFI_HANDLE>{ Child });
}

TEST_F (HandleDatabase, DuplicateDevicePathIsRefusedAndNothingInstalled)
{
  EFI_HANDLE Handle = nullptr;
  UINT32     Marker = 0;

  EXPECT_EQ (
    gBS->InstallMultipleProtocolInterfaces (
      &Handle, &gEfiCallerIdGuid, &Marker, &gEfiDevicePathProtocolGuid, Model.Controller.DevicePath (), nullptr
    ),
    EFI_ALREADY_STARTED
  );
  EXPECT_EQ (Handle, nullptr);
  EXPECT_EQ (Model.HandlesWith (gEfiDevicePathProtocolGuid).size (), 1u);
  EXPECT_EQ (Model.FindProtocol (DriverA, gEfiCallerIdGuid), nullptr) << "DriverA's own protocol is untouched";
  EXPECT_EQ (Model.HandlesWith (gEfiCallerIdGuid).size (), 2u) << "the first pair was rolled back";
}

TEST_F (HandleDatabase, AnInjectedFailureChangesNothingAndStrikesOnce)
{
  EFI_HANDLE Handle = nullptr;
  UINT32     Marker = 0;

  Model.FailBootService (BootInstallMultipleProtocolInterfaces, 2, EFI_OUT_OF_RESOURCES);
  Model.FailBootService (BootUninstallMultipleProtocolInterfaces, 1, EFI_INVALID_PARAMETER);
  Model.FailBootService (BootOpenProtocol, 1, EFI_ACCESS_DENIED);

  ASSERT_EQ (gBS->InstallMultipleProtocolInterfaces (&Handle, &gEfiCallerIdGuid, &Marker, nullptr), EFI_SUCCESS);
  EFI_HANDLE Second = nullptr;
  EXPECT_EQ (
    gBS->InstallMultipleProtocolInterfaces (&Second, &gEfiCallerIdGuid, &Marker, nullptr), EFI_OUT_OF_RESOURCES
  );
  EXPECT_EQ (Second, nullptr);
  EXPECT_EQ (
    gBS->UninstallMultipleProtocolInterfaces (Handle, &gEfiCallerIdGuid, &Marker, nullptr), EFI_INVALID_PARAMETER
  );
  EXPECT_EQ (Model.FindProtocol (Handle, gEfiCallerIdGuid), &Marker);
  EXPECT_EQ (Open (DriverA, Controller, EFI_OPEN_PROTOCOL_BY_DRIVER), EFI_ACCESS_DENIED);
  EXPECT_TRUE (Model.OpenRecords (Controller, gEfiPciIoProtocolGuid).empty ());

  EXPECT_EQ (Open (DriverA, Controller, EFI_OPEN_PROTOCOL_BY_DRIVER), EFI_SUCCESS);
  EXPECT_EQ (gBS->UninstallMultipleProtocolInterfaces (Handle, &gEfiCallerIdGuid, &Marker, nullptr), EFI_SUCCESS);
  EXPECT_EQ (Model.BootServiceCalls (BootInstallMultipleProtocolInterfaces), 2u);
  EXPECT_EQ (Model.BootServiceCalls (BootOpenProtocol), 2u);
}

//
// A small bus driver: Start takes the controller and makes one child.
//
struct BUS_DRIVER {
  EFI_DRIVER_BINDING_PROTOCOL Binding;
  EFI_HANDLE                  Child;
  UINT8                       ChildPath[12];
};

BUS_DRIVER mBus;

EFI_STATUS
EFIAPI
BusSupported (EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller, EFI_DEVICE_PATH_PROTOCOL *Remaining)
{
  VOID      *PciIo;
  EFI_STATUS Status = gBS->OpenProtocol (
    Controller, &gEfiPciIoProtocolGuid, &PciIo, This->DriverBindingHandle, Controller, EFI_OPEN_PROTOCOL_BY_DRIVER
  );

  if (!EFI_ERROR (Status)) {
    gBS->CloseProtocol (Controller, &gEfiPciIoProtocolGuid, This->DriverBindingHandle, Controller);
  }

  return Status;
}

EFI_STATUS
EFIAPI
BusStart (EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller, EFI_DEVICE_PATH_PROTOCOL *Remaining)
{
  VOID *PciIo;
  UINT8 Path[] = {
    HARDWARE_DEVICE_PATH, HW_VENDOR_DP, 8, 0, 1, 2, 3, 4, END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, 4, 0
  };

  EXPECT_EQ (
    gBS->OpenProtocol (
      Controller, &gEfiPciIoProtocolGuid, &PciIo, This->DriverBindingHandle, Controller, EFI_OPEN_PROTOCOL_BY_DRIVER
    ),
    EFI_SUCCESS
  );
  CopyMem (mBus.ChildPath, Path, sizeof (Path));
  mBus.Child = nullptr;
  EXPECT_EQ (
    gBS->InstallMultipleProtocolInterfaces (&mBus.Child, &gEfiDevicePathProtocolGuid, mBus.ChildPath, nullptr),
    EFI_SUCCESS
  );
  return gBS->OpenProtocol (
    Controller, &gEfiPciIoProtocolGuid, &PciIo, This->DriverBindingHandle, mBus.Child,
    EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER
  );
}

EFI_STATUS
EFIAPI
BusStop (EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller, UINTN NumberOfChildren, EFI_HANDLE *Children)
{
  if (NumberOfChildren == 0) {
    return gBS->CloseProtocol (Controller, &gEfiPciIoProtocolGuid, This->DriverBindingHandle, Controller);
  }

  EXPECT_EQ (Children[0], mBus.Child);
  gBS->CloseProtocol (Controller, &gEfiPciIoProtocolGuid, This->DriverBindingHandle, Children[0]);
  return gBS->UninstallMultipleProtocolInterfaces (Children[0], &gEfiDevicePathProtocolGuid, mBus.ChildPath, nullptr);
}

TEST_F (HandleDatabase, DisconnectStopsChildrenFirstThenTheController)
{
  mBus.Binding = EFI_DRIVER_BINDING_PROTOCOL{ BusSupported, BusStart, BusStop, 0x10, DriverA, DriverA };
  Model.InstallProtocol (DriverA, gEfiDriverBindingProtocolGuid, &mBus.Binding);

  ASSERT_EQ (Model.ConnectController (Controller), EFI_SUCCESS);
  EXPECT_EQ (Model.ConnectController (Controller), EFI_NOT_FOUND) << "Supported answers EFI_ALREADY_STARTED";
  EXPECT_EQ (Model.ChildrenOf (Controller).size (), 1u);

  size_t Before = Model.BindingCalls ().size ();

  EXPECT_EQ (Model.DisconnectController (Controller), EFI_SUCCESS);

  std::vector<BINDING_CALL> Calls (Model.BindingCalls ().begin () + Before, Model.BindingCalls ().end ());

  ASSERT_EQ (Calls.size (), 2u);
  EXPECT_EQ (Calls[0].Kind, BindingStop);
  EXPECT_EQ (Calls[0].NumberOfChildren, 1u);
  EXPECT_EQ (Calls[1].Kind, BindingStop);
  EXPECT_EQ (Calls[1].NumberOfChildren, 0u);
  EXPECT_FALSE (Model.IsValidHandle (mBus.Child));
  EXPECT_TRUE (Model.OpenRecords (Controller, gEfiPciIoProtocolGuid).empty ());
}

TEST_F (HandleDatabase, UninstallingAnInterfaceHeldByADriverStopsTheDriverFirst)
{
  mBus.Binding = EFI_DRIVER_BINDING_PROTOCOL{ BusSupported, BusStart, BusStop, 0x10, DriverA, DriverA };
  Model.InstallProtocol (DriverA, gEfiDriverBindingProtocolGuid, &mBus.Binding);
  ASSERT_EQ (Model.ConnectController (Controller), EFI_SUCCESS);

  EXPECT_EQ (
    gBS->UninstallProtocolInterface (Controller, &gEfiPciIoProtocolGuid, Model.Controller.PciIo ()), EFI_SUCCESS
  );
  EXPECT_EQ (Model.FindProtocol (Controller, gEfiPciIoProtocolGuid), nullptr);
  EXPECT_FALSE (Model.IsValidHandle (mBus.Child));
}

TEST_F (HandleDatabase, UninstallIsRefusedWhileAnOpenCannotBeReleased)
{
  EFI_HANDLE Child = Model.InstallProtocol (nullptr, gEfiCallerIdGuid, nullptr);

  ASSERT_EQ (Open (DriverA, Child, EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER), EFI_SUCCESS);
  ASSERT_EQ (Open (DriverB, nullptr, EFI_OPEN_PROTOCOL_GET_PROTOCOL), EFI_SUCCESS);
  EXPECT_EQ (
    gBS->UninstallProtocolInterface (Controller, &gEfiPciIoProtocolGuid, Model.Controller.PciIo ()), EFI_ACCESS_DENIED
  );
  EXPECT_EQ (Model.FindProtocol (Controller, gEfiPciIoProtocolGuid), Model.Controller.PciIo ());
  EXPECT_EQ (Model.OpenRecords (Controller, gEfiPciIoProtocolGuid).size (), 1u) << "passive opens are dropped";
}

TEST_F (HandleDatabase, ExclusiveOpenTakesTheControllerFromItsDriver)
{
  mBus.Binding = EFI_DRIVER_BINDING_PROTOCOL{ BusSupported, BusStart, BusStop, 0x10, DriverA, DriverA };
  Model.InstallProtocol (DriverA, gEfiDriverBindingProtocolGuid, &mBus.Binding);
  ASSERT_EQ (Model.ConnectController (Controller), EFI_SUCCESS);

  EXPECT_EQ (Open (DriverB, Controller, EFI_OPEN_PROTOCOL_BY_DRIVER | EFI_OPEN_PROTOCOL_EXCLUSIVE), EFI_SUCCESS);
  EXPECT_FALSE (Model.IsValidHandle (mBus.Child)) << "the driver was stopped";
  EXPECT_EQ (Open (DriverA, Controller, EFI_OPEN_PROTOCOL_BY_DRIVER), EFI_ACCESS_DENIED);
  EXPECT_EQ (Open (DriverA, nullptr, EFI_OPEN_PROTOCOL_EXCLUSIVE), EFI_ACCESS_DENIED);
}

TEST_F (HandleDatabase, LocateServicesAnswerInInstallOrder)
{
  UINT32      Second;
  EFI_HANDLE  Third = Model.InstallProtocol (nullptr, gEfiCallerIdGuid, &Second);
  UINTN       Count = 0;
  EFI_HANDLE *Buffer;
  VOID       *Interface;

  ASSERT_EQ (gBS->LocateHandleBuffer (ByProtocol, &gEfiCallerIdGuid, nullptr, &Count, &Buffer), EFI_SUCCESS);
  ASSERT_EQ (Count, 3u);
  EXPECT_EQ (Buffer[0], DriverA);
  EXPECT_EQ (Buffer[2], Third);
  gBS->FreePool (Buffer);
  EXPECT_EQ (gBS->LocateProtocol (&gEfiCallerIdGuid, nullptr, &Interface), EFI_SUCCESS);
  EXPECT_EQ (Interface, nullptr) << "the first install, DriverA's null interface";
  EXPECT_EQ (
    gBS->LocateHandleBuffer (ByProtocol, &gEfiGraphicsOutputProtocolGuid, nullptr, &Count, &Buffer), EFI_NOT_FOUND
  );
  EXPECT_EQ (Count, 0u);

  EFI_GUID **Protocols;

  ASSERT_EQ (gBS->ProtocolsPerHandle (Controller, &Protocols, &Count), EFI_SUCCESS);
  ASSERT_EQ (Count, 2u);
  EXPECT_TRUE (CompareGuid (Protocols[1], &gEfiPciIoProtocolGuid));
  gBS->FreePool (Protocols);
}

TEST_F (HandleDatabase, ReinstallReplacesTheInterfaceAndReconnects)
{
  EFI_PCI_IO_PROTOCOL Other = *Model.Controller.PciIo ();

  mBus.Binding = EFI_DRIVER_BINDING_PROTOCOL{ BusSupported, BusStart, BusStop, 0x10, DriverA, DriverA };
  Model.InstallProtocol (DriverA, gEfiDriverBindingProtocolGuid, &mBus.Binding);
  ASSERT_EQ (Model.ConnectController (Controller), EFI_SUCCESS);

  EXPECT_EQ (gBS->ReinstallProtocolInterface (Controller, &gEfiPciIoProtocolGuid, &Other, &Other), EFI_NOT_FOUND);
  EXPECT_EQ (
    gBS->ReinstallProtocolInterface (Controller, &gEfiPciIoProtocolGuid, Model.Controller.PciIo (), &Other), EFI_SUCCESS
  );
  EXPECT_EQ (Model.FindProtocol (Controller, gEfiPciIoProtocolGuid), &Other);
  EXPECT_EQ (Model.ChildrenOf (Controller).size (), 1u) << "stopped, then started again";
  EXPECT_EQ (Model.BindingCalls ().back ().Kind, BindingStart);
}

} // namespace

HOST_MODEL_TEST_FILE (HandleDatabaseTest)
