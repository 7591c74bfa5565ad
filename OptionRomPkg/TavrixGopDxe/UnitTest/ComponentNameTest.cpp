/** @file
  The names the firmware's user interface shows: driver name by language,
  controller name only for controllers this driver has started.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "GopTestSupport.h"

HOST_MODEL_TEST_FILE (ComponentNameTest);

namespace {

std::u16string
Text (const CHAR16 *Name)
{
  return (Name == nullptr) ? u"(null)" : std::u16string (reinterpret_cast<const char16_t *> (Name));
}

class ComponentName : public GopTest {
protected:
  EFI_STATUS
  DriverName (const char *Language, CHAR16 **Name)
  {
    return gDisplayComponentName.GetDriverName (&gDisplayComponentName, const_cast<CHAR8 *> (Language), Name);
  }

  EFI_STATUS
  ControllerName (EFI_HANDLE Child, const char *Language, CHAR16 **Name)
  {
    return gDisplayComponentName.GetControllerName (
      &gDisplayComponentName, Controller, Child, const_cast<CHAR8 *> (Language), Name
    );
  }
};

TEST_F (ComponentName, DriverNameInEnglishOnly)
{
  CHAR16 *Name = nullptr;

  ASSERT_EQ (DriverName ("eng", &Name), EFI_SUCCESS);
  EXPECT_EQ (Text (Name), u"Tavrix TVX  GOP Driver");
  Name = nullptr;
  EXPECT_EQ (DriverName ("english", &Name), EFI_SUCCESS) << "only the first three letters count";
  EXPECT_EQ (Text (Name), u"Tavrix TVX  GOP Driver");

  EXPECT_EQ (DriverName ("fra", &Name), EFI_UNSUPPORTED);
  //
  // EDK II's lookup reads the first three letters as one unaligned word, so
  // the two-letter code sits in a buffer of four bytes or more.
  //
  char TwoLetters[4] = "en";
  EXPECT_EQ (DriverName (TwoLetters, &Name), EFI_UNSUPPORTED);
  EXPECT_EQ (DriverName (nullptr, &Name), EFI_INVALID_PARAMETER);
  EXPECT_EQ (DriverName ("eng", nullptr), EFI_INVALID_PARAMETER);
  EXPECT_STREQ (gDisplayComponentName.SupportedLanguages, "eng");
}

TEST_F (ComponentName, ControllerNameOnlyForAControllerWeStarted)
{
  CHAR16 *Name = nullptr;

  EXPECT_EQ (ControllerName (nullptr, "eng", &Name), EFI_UNSUPPORTED) << "not started";
  EXPECT_TRUE (Model.OpenRecords (Controller, gEfiPciIoProtocolGuid).empty ()) << "the test open is closed again";
  EXPECT_EQ (ControllerName (nullptr, nullptr, &Name), EFI_UNSUPPORTED);

  ASSERT_EQ (Model.ConnectController (Controller), EFI_SUCCESS);
  ASSERT_EQ (ControllerName (nullptr, "eng", &Name), EFI_SUCCESS);
  EXPECT_EQ (Text (Name), u"Tavrix TVX  PCI Adapter");
  EXPECT_EQ (ControllerName (Model.ChildrenOf (Controller)[0], "eng", &Name), EFI_UNSUPPORTED)
    << "children have no name";
  EXPECT_EQ (ControllerName (nullptr, nullptr, &Name), EFI_INVALID_PARAMETER);
  EXPECT_EQ (ControllerName (nullptr, "deu", &Name), EFI_UNSUPPORTED);
}

TEST_F (ComponentName, ControllerHeldByAnotherDriverHasNoNameFromUs)
{
  UINTN      Dummy = 0;
  EFI_HANDLE Other = Model.InstallProtocol (nullptr, gEfiCallerIdGuid, &Dummy);
  VOID      *PciIo;
  CHAR16    *Name = nullptr;

  ASSERT_EQ (
    gBS->OpenProtocol (Controller, &gEfiPciIoProtocolGuid, &PciIo, Other, Controller, EFI_OPEN_PROTOCOL_BY_DRIVER),
    EFI_SUCCESS
  );
  EXPECT_EQ (ControllerName (nullptr, "eng", &Name), EFI_UNSUPPORTED);
  EXPECT_EQ (Model.OpenRecords (Controller, gEfiPciIoProtocolGuid).size (), 1u);
  gBS->CloseProtocol (Controller, &gEfiPciIoProtocolGuid, Other, Controller);
}

TEST_F (ComponentName, HeldControllerWithoutGopAnswersTheLookupFailure)
{
  VOID   *PciIo;
  CHAR16 *Name = nullptr;

  ASSERT_EQ (
    gBS->OpenProtocol (
      Controller, &gEfiPciIoProtocolGuid, &PciIo, gDisplayDriverBinding.DriverBindingHandle, Controller,
      EFI_OPEN_PROTOCOL_BY_DRIVER
    ),
    EFI_SUCCESS
  );
  EXPECT_EQ (ControllerName (nullptr, "eng", &Name), EFI_UNSUPPORTED);

  //
  // A GOP that is not ours on a controller we hold: fatal.
  //
  DISPLAY_DEVICE_CONTEXT Forged = {};
  ASSERT_NE (Model.InstallProtocol (Controller, gEfiGraphicsOutputProtocolGuid, &Forged.GraphicsOutput), nullptr);
  EXPECT_TRUE (Model.ExpectDeadLoop ([&] { ControllerName (nullptr, "eng", &Name); }));
  EXPECT_EQ (SerialWithoutDirectories (), "ASSERT UefiComponentName.cpp(213): CR has Bad Signature\r\n");
  gBS->UninstallMultipleProtocolInterfaces (
    Controller, &gEfiGraphicsOutputProtocolGuid, &Forged.GraphicsOutput, nullptr
  );
  gBS->CloseProtocol (Controller, &gEfiPciIoProtocolGuid, gDisplayDriverBinding.DriverBindingHandle, Controller);
}

} // namespace
