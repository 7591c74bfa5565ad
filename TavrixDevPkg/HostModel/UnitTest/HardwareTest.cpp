/** @file
  The hardware side: the controller behind PCI I/O, configuration cycles
  through EDK II's PciCf8Lib, the UART through EDK II's 16550 library, the
  fixed windows, and fatal assertions of the serial DebugLib.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include <HostModel.h>
#include <gtest/gtest-spi.h>
#include <csetjmp>
#include <csignal>
#include <csetjmp>
#include <csignal>

extern "C" {
#include <IndustryStandard/Acpi.h>
#include <IndustryStandard/Pci.h>
#include <Library/BaseLib.h>
#include <Library/DebugLib.h>
#include <Library/IoLib.h>
#include <Library/PciCf8Lib.h>
#include <Library/SerialPortLib.h>
#include <Library/UefiBootServicesTableLib.h>
}

namespace {

class Hardware : public HOST_MODEL_TEST {
protected:
  EFI_PCI_IO_PROTOCOL *PciIo = Model.Controller.PciIo ();

  UINT32
  ReadRegister (UINT64 Offset)
  {
    UINT32 Value = 0;

    EXPECT_EQ (PciIo->Mem.Read (PciIo, EfiPciIoWidthUint32, 1, Offset, 1, &Value), EFI_SUCCESS);
    return Value;
  }

  void
  WriteRegister (UINT64 Offset, UINT32 Value)
  {
    EXPECT_EQ (PciIo->Mem.Write (PciIo, EfiPciIoWidthUint32, 1, Offset, 1, &Value), EFI_SUCCESS);
  }
};

TEST_F (Hardware, RegisterFileLogsInOrderAndHonoursHooks)
{
  Model.Controller.SetRegister (0x4C, 1);
  Model.Controller.OnRegisterRead (0x80000, [] (UINT32 Stored) { return Stored & 0x3F0F7FFF; });

  EXPECT_EQ (ReadRegister (0x4C), 1u);
  WriteRegister (0x80000, 0xFFFFFFFF);
  EXPECT_EQ (ReadRegister (0x80000), 0x3F0F7FFFu) << "reads back masked";
  EXPECT_EQ (Model.Controller.Register (0x80000), 0xFFFFFFFFu);

  const std::vector<REGISTER_ACCESS> &Log = Model.Controller.RegisterLog ();

  ASSERT_EQ (Log.size (), 3u);
  EXPECT_FALSE (Log[0].IsWrite);
  EXPECT_TRUE (Log[1].IsWrite);
  EXPECT_EQ (Log[1].Offset, 0x80000u);
  EXPECT_EQ (Log[2].Value, 0x3F0F7FFFu);
  EXPECT_LT (Log[0].Sequence, Log[2].Sequence);

  UINT8 Byte = 0;

  EXPECT_NONFATAL_FAILURE (
    EXPECT_EQ (PciIo->Mem.Read (PciIo, EfiPciIoWidthUint8, 1, 0x40, 1, &Byte), EFI_INVALID_PARAMETER), "32-bit"
  );
  EXPECT_EQ (
    PciIo->Mem.Read (PciIo, EfiPciIoWidthUint32, 1, HOST_MODEL_REGISTER_FILE_SIZE, 1, &Byte), EFI_INVALID_PARAMETER
  );
}

TEST_F (Hardware, FrameBufferFillAndBarDescriptor)
{
  UINT32 Blue = 0x000000FF;
  UINT64 Mark = Model.Memory.Mark ();

  Model.Controller.FrameBuffer ()[4 * 10] = 0x55;
  EXPECT_EQ (PciIo->Mem.Write (PciIo, EfiPciIoWidthFillUint32, 0, 0, 8, &Blue), EFI_SUCCESS);
  EXPECT_EQ (Model.Controller.Pixel (4 * 7), Blue);
  EXPECT_EQ (Model.Controller.Pixel (4 * 8), 0u);
  EXPECT_EQ (Model.Controller.FrameBuffer ()[4 * 10], 0x55);
  EXPECT_EQ (
    PciIo->Mem.Write (PciIo, EfiPciIoWidthFillUint32, 0, HOST_MODEL_FRAME_BUFFER_SIZE - 4, 2, &Blue),
    EFI_INVALID_PARAMETER
  );
  ASSERT_EQ (Model.Controller.FrameLog ().size (), 1u) << "the refused call moved nothing";
  EXPECT_EQ (Model.Controller.FrameLog ()[0].Count, 8u);

  VOID *Resources = nullptr;

  ASSERT_EQ (PciIo->GetBarAttributes (PciIo, 0, nullptr, &Resources), EFI_SUCCESS);
  EXPECT_EQ (((UINT8 *)Resources)[0], ACPI_ADDRESS_SPACE_DESCRIPTOR);
  EXPECT_EQ (ReadUnaligned64 ((UINT64 *)((UINT8 *)Resources + 14)), (UINT64)(UINTN)Model.Controller.FrameBuffer ());
  EXPECT_EQ (((UINT8 *)Resources)[sizeof (EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR)], ACPI_END_TAG_DESCRIPTOR);
  EXPECT_EQ (Model.Memory.Outstanding (Mark).size (), 1u) << "the descriptor is the caller's pool";
  gBS->FreePool (Resources);
}

TEST_F (Hardware, AttributesAndInjectedFaults)
{
  UINT64 Value = 0;

  EXPECT_EQ (PciIo->Attributes (PciIo, EfiPciIoAttributeOperationEnable, 0x700, nullptr), EFI_SUCCESS);
  EXPECT_EQ (Model.Controller.Attributes (), 0x700u);
  EXPECT_EQ (PciIo->Attributes (PciIo, EfiPciIoAttributeOperationGet, 0, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ (
    PciIo->Attributes (PciIo, EfiPciIoAttributeOperationEnable, EFI_PCI_IO_ATTRIBUTE_DUAL_ADDRESS_CYCLE, nullptr),
    EFI_UNSUPPORTED
  );

  Model.Controller.FailAttributeOperation (EfiPciIoAttributeOperationDisable, EFI_DEVICE_ERROR);
  EXPECT_EQ (PciIo->Attributes (PciIo, EfiPciIoAttributeOperationDisable, 0x700, nullptr), EFI_DEVICE_ERROR);
  EXPECT_EQ (Model.Controller.Attributes (), 0x700u);

  Model.Controller.FailCall (PciIoMemRead, 2);
  EXPECT_EQ (PciIo->Mem.Read (PciIo, EfiPciIoWidthUint32, 1, 0, 1, &Value), EFI_SUCCESS);
  EXPECT_EQ (PciIo->Mem.Read (PciIo, EfiPciIoWidthUint32, 1, 0, 1, &Value), EFI_DEVICE_ERROR);
  EXPECT_EQ (PciIo->Mem.Read (PciIo, EfiPciIoWidthUint32, 1, 0, 1, &Value), EFI_SUCCESS);
  EXPECT_EQ (Model.Controller.RegisterLog ().size (), 2u);
}

TEST_F (Hardware, PassThroughIoReachesTheLoggedVgaPorts)
{
  UINT8 Index = 0x88;
  UINT8 Data  = 0x06;

  PciIo->Io.Write (PciIo, EfiPciIoWidthUint8, EFI_PCI_IO_PASS_THROUGH_BAR, 0x3D4, 1, &Index);
  PciIo->Io.Write (PciIo, EfiPciIoWidthUint8, EFI_PCI_IO_PASS_THROUGH_BAR, 0x3D5, 1, &Data);
  IoWrite8 (0x3CB, 0x22);

  const std::vector<PORT_ACCESS> &Log = Model.Ports.Log ();

  ASSERT_EQ (Log.size (), 3u);
  EXPECT_EQ (Log[0].Port, 0x3D4);
  EXPECT_EQ (Log[0].Value, 0x88u);
  EXPECT_TRUE (Log[1].ThroughPciIo);
  EXPECT_FALSE (Log[2].ThroughPciIo);
  EXPECT_EQ (Model.Ports.WritesTo (0x3CB), std::vector<UINT32>{ 0x22 });
}

TEST_F (Hardware, ConfigurationCyclesReachTheControllerOnlyThroughTheBridge)
{
  UINTN Bridge     = PCI_CF8_LIB_ADDRESS (0, 0x1C, 0, 0);
  UINTN Controller = PCI_CF8_LIB_ADDRESS (1, 0, 0, 0);

  IoWrite32 (0xCF8, 0x12345678);
  EXPECT_EQ (PciCf8Read16 (Controller), 0xFFFF) << "no bus 1 before the bridge is programmed";
  EXPECT_EQ (PciCf8Read16 (Bridge), 0x8086);
  PciCf8Write8 (Bridge + 0x19, 1);
  PciCf8Write8 (Bridge + 0x1A, 8);
  EXPECT_EQ (PciCf8Read16 (Controller), 0x19E5);
  EXPECT_EQ (PciCf8Read16 (Controller + 2), 0x1711);
  PciCf8Write32 (Controller + 0x10, 0x91000000);
  PciCf8Write8 (Controller + 0x04, 0x03);
  EXPECT_EQ (Model.Controller.Config32 (0x10), 0x91000000u);
  EXPECT_EQ (Model.Controller.ConfigSpace ()[4], 0x03);
  EXPECT_EQ (IoRead32 (0xCF8), 0x12345678u) << "PciCf8Lib restores the address register";

  std::vector<CONFIG_ACCESS> Writes = Model.Ports.ConfigWrites ();

  ASSERT_EQ (Writes.size (), 4u);
  EXPECT_EQ (Writes[0].Register, 0x19);
  EXPECT_EQ (Writes[2].Bus, 1);
  EXPECT_EQ (Writes[2].Size, 4);
  EXPECT_TRUE (Writes[3].Claimed);
  EXPECT_FALSE (Model.Ports.ConfigLog ()[0].Claimed);
}

TEST_F (Hardware, UartCapturesTextAndHowTheLibraryProgrammedIt)
{
  ASSERT_EQ (SerialPortInitialize (), RETURN_SUCCESS);
  EXPECT_EQ (Model.Ports.Uart.Divisor (), 1);
  EXPECT_EQ (Model.Ports.Uart.LineControl (), 0x03);
  EXPECT_EQ (Model.Ports.Uart.FifoControl () & 0x01, 0x01);
  EXPECT_EQ (Model.Ports.Uart.DivisorLatchWrites (), 2u);
  EXPECT_EQ (Model.Ports.Uart.ModemControl (), 0);

  SerialPortWrite ((UINT8 *)"line:276\n", 9);
  EXPECT_EQ (Model.Ports.Uart.Text (), "line:276\n");
}

TEST_F (Hardware, UartProgrammedBeforeIsLeftAlone)
{
  Model.Ports.Uart.Preset (1, 0x03);
  ASSERT_EQ (SerialPortInitialize (), RETURN_SUCCESS);
  EXPECT_EQ (Model.Ports.Uart.DivisorLatchWrites (), 0u);
  EXPECT_EQ (Model.Ports.Uart.FifoControlWrites (), 0u);
}

TEST_F (Hardware, FatalAssertionIsCaughtWithItsText)
{
  BOOLEAN Continued = FALSE;

  EXPECT_TRUE (Model.ExpectDeadLoop ([&] {
    ASSERT (1 == 2);
    Continued = TRUE;
  }));
  EXPECT_FALSE (Continued);
  EXPECT_NE (Model.Ports.Uart.Text ().find ("ASSERT "), std::string::npos);
  EXPECT_NE (Model.Ports.Uart.Text ().find ("1 == 2"), std::string::npos) << Model.Ports.Uart.Text ();
  EXPECT_FALSE (Model.ExpectDeadLoop ([] {}));
  EXPECT_EQ (Model.DeadLoops (), 1u);
}

TEST_F (Hardware, WindowsAreMappedAndClearedForEachModel)
{
  UINT8 *Text = Model.Windows.TextMemory ();

  Model.Controller.TurnApertureOn ();

  EXPECT_EQ ((UINTN)Text, 0xB8000u);
  EXPECT_EQ (Text[0], 0) << "cleared: a previous test wrote here";
  Text[0]                                                 = 'A';
  Text[HOST_MODEL_TEXT_MEMORY_SIZE - 1]                   = 0x07;
  Model.Windows.Aperture ()[HOST_MODEL_APERTURE_SIZE - 4] = 0x11;
  EXPECT_EQ (Model.Windows.AperturePixel (HOST_MODEL_APERTURE_SIZE - 4), 0x11u);
#ifdef EARLY_VIDEO_APERTURE_BASE
  EXPECT_EQ ((UINT64)(UINTN)Model.Windows.Aperture (), (UINT64)EARLY_VIDEO_APERTURE_BASE);
#endif
}

sigjmp_buf mFaultJump;

void
OnFault (int Signal)
{
  siglongjmp (mFaultJump, 1);
}

/// TRUE when a one-byte store at Address faults.
BOOLEAN
StoreFaults (UINT8 *Address)
{
  struct sigaction Action = {};
  struct sigaction Saved;
  volatile BOOLEAN Faulted = FALSE;

  Action.sa_handler = OnFault;
  sigaction (SIGSEGV, &Action, &Saved);
  if (sigsetjmp (mFaultJump, 1) == 0) {
    *(volatile UINT8 *)Address = 0x5A;
  } else {
    Faulted = TRUE;
  }

  sigaction (SIGSEGV, &Saved, nullptr);
  return Faulted;
}

TEST_F (Hardware, StoresJustOutsideAWindowFault)
{
  Model.Controller.TurnApertureOn ();
  EXPECT_TRUE (StoreFaults (Model.Windows.TextMemory () - 1));
  EXPECT_TRUE (StoreFaults (Model.Windows.TextMemory () + HOST_MODEL_TEXT_MEMORY_SIZE));
  EXPECT_TRUE (StoreFaults (Model.Windows.Aperture () - 1));
  EXPECT_TRUE (StoreFaults (Model.Windows.Aperture () + HOST_MODEL_APERTURE_SIZE));
  EXPECT_FALSE (StoreFaults (Model.Windows.Aperture ()));
}

TEST_F (Hardware, WindowsAreClearedEvenAfterAWrite)
{
  EXPECT_EQ (Model.Windows.TextMemory ()[0], 0);
  Model.Windows.TextMemory ()[0] = 'B';
}

TEST_F (Hardware, ApertureAndBarZeroAreOneMemory)
{
  volatile UINT32 *Aperture = reinterpret_cast<volatile UINT32 *> (Model.Windows.Aperture ());
  UINT32           Green    = 0x0000FF00;
  UINT32           Read     = 0;
  const UINTN      Last     = HOST_MODEL_APERTURE_SIZE / 4 - 1;

  Model.Controller.TurnApertureOn ();

  // A store through the aperture lands in BAR 0 at the same offset, at both ends.
  Aperture[0]    = 0x11223344;
  Aperture[Last] = 0x55667788;
  EXPECT_EQ (Model.Controller.Pixel (0), 0x11223344u);
  EXPECT_EQ (Model.Controller.Pixel (Last * 4), 0x55667788u);
  ASSERT_EQ (PciIo->Mem.Read (PciIo, EfiPciIoWidthUint32, 0, Last * 4, 1, &Read), EFI_SUCCESS);
  EXPECT_EQ (Read, 0x55667788u);

  // A PCI I/O write of BAR 0 shows through the aperture.
  ASSERT_EQ (PciIo->Mem.Write (PciIo, EfiPciIoWidthFillUint32, 0, 0x1FFFC, 2, &Green), EFI_SUCCESS);
  EXPECT_EQ (Aperture[0x1FFFC / 4], Green);
  EXPECT_EQ (Aperture[0x20000 / 4], Green);
  EXPECT_EQ (Model.Windows.AperturePixel (0x20000), Green);

  EXPECT_NONFATAL_FAILURE (Model.Windows.AperturePixel (HOST_MODEL_APERTURE_SIZE - 2), "beyond the aperture");
}

TEST_F (Hardware, ApertureDecodesOnlyWithItsEnableAndMemoryDecoding)
{
  UINTN Controller = PCI_CF8_LIB_ADDRESS (1, 0, 0, 0);
  UINT8 Control    = 0xFF;
  UINT8 Read       = 0;

  EXPECT_FALSE (Model.Controller.ApertureDecodes ()) << "off at power-on";
  EXPECT_TRUE (StoreFaults (Model.Windows.Aperture ()));

  // The enable alone is not enough; reserved bits read back as 0.
  ASSERT_EQ (PciIo->Pci.Write (PciIo, EfiPciIoWidthUint8, TAVRIX_CONFIG_APERTURE_CONTROL, 1, &Control), EFI_SUCCESS);
  ASSERT_EQ (PciIo->Pci.Read (PciIo, EfiPciIoWidthUint8, TAVRIX_CONFIG_APERTURE_CONTROL, 1, &Read), EFI_SUCCESS);
  EXPECT_EQ (Read, TAVRIX_APERTURE_ENABLE);
  EXPECT_TRUE (StoreFaults (Model.Windows.Aperture ())) << "memory decoding is still off";

  // Memory decoding through PCI I/O's attributes, as the bus driver sets it.
  ASSERT_EQ (
    PciIo->Attributes (PciIo, EfiPciIoAttributeOperationEnable, EFI_PCI_IO_ATTRIBUTE_MEMORY, nullptr), EFI_SUCCESS
  );
  EXPECT_TRUE (Model.Controller.ApertureDecodes ());
  EXPECT_FALSE (StoreFaults (Model.Windows.Aperture () + 4));
  EXPECT_EQ (Model.Controller.FrameBuffer ()[4], 0x5A);

  // A configuration cycle through the ports turns it off again; BAR 0 keeps the data.
  PciCf8Write8 (PCI_CF8_LIB_ADDRESS (0, 0x1C, 0, 0x19), 1);
  PciCf8Write8 (PCI_CF8_LIB_ADDRESS (0, 0x1C, 0, 0x1A), 1);
  PciCf8Write8 (Controller + TAVRIX_CONFIG_APERTURE_CONTROL, 0);
  EXPECT_FALSE (Model.Controller.ApertureDecodes ());
  EXPECT_TRUE (StoreFaults (Model.Windows.Aperture () + 4));
  EXPECT_EQ (Model.Windows.AperturePixel (4), 0x5Au) << "the picture is still there";

  // So does turning memory decoding off while the enable is on.
  PciCf8Write8 (Controller + TAVRIX_CONFIG_APERTURE_CONTROL, TAVRIX_APERTURE_ENABLE);
  EXPECT_FALSE (StoreFaults (Model.Windows.Aperture ()));
  ASSERT_EQ (
    PciIo->Attributes (PciIo, EfiPciIoAttributeOperationDisable, EFI_PCI_IO_ATTRIBUTE_MEMORY, nullptr), EFI_SUCCESS
  );
  EXPECT_EQ (Model.Controller.ConfigSpace ()[PCI_COMMAND_OFFSET] & EFI_PCI_COMMAND_MEMORY_SPACE, 0);
  EXPECT_TRUE (StoreFaults (Model.Windows.Aperture ()));
}

} // namespace

HOST_MODEL_TEST_FILE (HardwareTest)
