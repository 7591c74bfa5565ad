/** @file
  The debug error-level policy: the level read from "EFIDebug" and
  "DebugMessageConfig" or the fallback HOB, when it is read and when the
  cache answers, and the debug mask protocol; the variables come from the
  store stand-in beside this file.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "VariableStoreStandIn.h"
#include "../DxeDebugPrintErrorLevelLibInternal.h"

extern "C" {
#include <Library/DebugLib.h>
#include <Library/DebugPrintErrorLevelLib.h>
}

namespace {

using namespace DebugPrintErrorLevel;

const std::u16string EFI_DEBUG      = u"EFIDebug";
const std::u16string MESSAGE_CONFIG = u"DebugMessageConfig";

DEBUG_MESSAGE_CONFIG
Preset (UINT8 Value)
{
  DEBUG_MESSAGE_CONFIG Config = {};

  Config.Preset = Value;
  return Config;
}

/// CustomLevels on and the given switch bytes (5 to 21) on.
DEBUG_MESSAGE_CONFIG
Custom (std::initializer_list<UINTN> Bytes)
{
  DEBUG_MESSAGE_CONFIG Config = {};
  UINT8               *Raw    = (UINT8 *)&Config;

  Config.CustomLevels = 1;
  for (UINTN Byte : Bytes) {
    Raw[Byte] = 0xFF;
  }

  return Config;
}

class DebugPrintErrorLevelTest : public HOST_MODEL_TEST {
protected:
  void
  SetUp () override
  {
    mSystemTable           = nullptr;
    mDebugPrintErrorLevel  = 0;
    mVariablesRead         = FALSE;
    mExitBootServicesEvent = nullptr;
    mBootServicesExited    = FALSE;
    Variables.Install (Model);
  }

  void
  SetEfiDebug (UINT64 Value)
  {
    Variables.Set (u"EFIDebug", gEfiGenericVariableGuid, &Value, sizeof (Value));
  }

  void
  SetMessageConfig (const DEBUG_MESSAGE_CONFIG &Config, UINTN Size = sizeof (DEBUG_MESSAGE_CONFIG))
  {
    Variables.Set (u"DebugMessageConfig", gDebugMessageConfigGuid, &Config, Size);
  }

  /// Starts a module with the table and HOB libraries and this library.
  EFI_STATUS
  Start ()
  {
    MODULE_IMAGE Image = { HOST_MODEL::EmptyEntryPoint, HOST_MODEL::Edk2LibraryConstructors (), {} };

    Image.Constructors.push_back (DxeDebugPrintErrorLevelLibConstructor);
    return Model.StartModule (Image);
  }

  UINTN
  ReadsOf (const std::u16string &Name) const
  {
    UINTN Count = 0;

    for (const VARIABLE_READ &Read : Variables.Reads ()) {
      Count += (Read.Name == Name) ? 1 : 0;
    }

    return Count;
  }

  EFI_DEBUG_MASK_PROTOCOL *
  DebugMask () const
  {
    return (EFI_DEBUG_MASK_PROTOCOL *)Model.FindProtocol (Model.ImageHandle (), gEfiDebugMaskProtocolGuid);
  }

  UINT32
  LookupAt (EFI_TPL Tpl)
  {
    EFI_TPL Old   = Model.BootServices ()->RaiseTPL (Tpl);
    UINT32  Level = GetDebugPrintErrorLevel ();

    Model.BootServices ()->RestoreTPL (Old);
    return Level;
  }

  VARIABLE_STORE_STAND_IN Variables;
};

//
// The configuration record.
//

TEST (DebugMessageConfigTest, PresetsSelectTheirLevels)
{
  for (UINTN Value = 0; Value <= 255; Value++) {
    const DEBUG_MESSAGE_CONFIG Config = Preset ((UINT8)Value);
    UINT32                     Expected;

    switch (Value) {
      case 1:
        Expected = 0x00000040;
        break;
      case 2:
        Expected = 0x80000000;
        break;
      case 3:
        Expected = 0x00000002;
        break;
      case 4:
        Expected = 0xFFFFFFCF;
        break;
      default:
        Expected = 0; // 0 and 255 give the default level, 0 here
        break;
    }

    EXPECT_EQ (DebugMessageConfigToErrorLevel (&Config), Expected) << "preset " << Value;
  }
}

TEST (DebugMessageConfigTest, CustomSwitchesSetOneBitEachAndIgnoreThePreset)
{
  const UINT32 Bits[] = { 0x00000001, 0x00000002, 0x00000004, 0x00000008, 0x00000040, 0x00000080,
                          0x00000100, 0x00000400, 0x00001000, 0x00004000, 0x00010000, 0x00020000,
                          0x00080000, 0x00100000, 0x00200000, 0x00400000, 0x80000000 };

  for (UINTN Byte = 5; Byte <= 21; Byte++) {
    DEBUG_MESSAGE_CONFIG Config = Custom ({ Byte });

    Config.Preset = 4;
    EXPECT_EQ (DebugMessageConfigToErrorLevel (&Config), Bits[Byte - 5]) << "byte " << Byte;
  }

  DEBUG_MESSAGE_CONFIG All =
    Custom ({ 1, 2, 3, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23 });

  EXPECT_EQ (DebugMessageConfigToErrorLevel (&All), 0x807B55CFu);
  EXPECT_EQ (DebugMessageConfigToErrorLevel (&All) & 0x7F800030u, 0u);
}

//
// Reading the variables.
//

TEST_F (DebugPrintErrorLevelTest, EfiDebugAddsItsHighBitsToThePreset)
{
  SetEfiDebug (0xFFFFFFFF);
  SetMessageConfig (Preset (2));

  ASSERT_EQ (Start (), EFI_SUCCESS);
  EXPECT_EQ (GetDebugPrintErrorLevel (), 0xFF800000u);
  EXPECT_TRUE (mVariablesRead);

  // Settled: later lookups read nothing.
  GetDebugPrintErrorLevel ();
  EXPECT_EQ (ReadsOf (EFI_DEBUG), 1u);
  EXPECT_EQ (ReadsOf (MESSAGE_CONFIG), 1u);
  for (const VARIABLE_READ &Read : Variables.Reads ()) {
    EXPECT_EQ (Read.BufferSize, (Read.Name == EFI_DEBUG) ? 8u : 24u);
  }
}

TEST_F (DebugPrintErrorLevelTest, CustomLevelsAloneWhenEfiDebugIsMissing)
{
  SetMessageConfig (Custom ({ 5, 21 }));

  ASSERT_EQ (Start (), EFI_SUCCESS);
  EXPECT_EQ (GetDebugPrintErrorLevel (), 0x80000001u);
}

TEST_F (DebugPrintErrorLevelTest, BothVariablesMissingSettleAtZero)
{
  ASSERT_EQ (Start (), EFI_SUCCESS);
  EXPECT_EQ (GetDebugPrintErrorLevel (), 0u);
  EXPECT_TRUE (mVariablesRead);
  EXPECT_EQ (ReadsOf (EFI_DEBUG), 1u);
}

TEST_F (DebugPrintErrorLevelTest, OversizedVariablesCountAsMissing)
{
  const UINT8 Big[32] = { 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF };

  // "EFIDebug" of 16 bytes: only the configuration counts.
  Variables.Set (u"EFIDebug", gEfiGenericVariableGuid, Big, 16);
  SetMessageConfig (Preset (3));
  ASSERT_EQ (Start (), EFI_SUCCESS);
  EXPECT_EQ (GetDebugPrintErrorLevel (), 0x00000002u);

  // "DebugMessageConfig" of 32 bytes: only "EFIDebug" counts.
  SetUp ();
  SetEfiDebug (0x40800000);
  Variables.Set (u"DebugMessageConfig", gDebugMessageConfigGuid, Big, sizeof (Big));
  ASSERT_EQ (Start (), EFI_SUCCESS);
  EXPECT_EQ (GetDebugPrintErrorLevel (), 0x40800000u);
}

TEST_F (DebugPrintErrorLevelTest, ShortConfigurationLeavesTheRestOff)
{
  // Six bytes: Preset 4 (ignored), CustomLevels on, switch 5 on.
  DEBUG_MESSAGE_CONFIG Config = Custom ({ 5 });

  Config.Preset = 4;
  SetMessageConfig (Config, 6);
  ASSERT_EQ (Start (), EFI_SUCCESS);
  EXPECT_EQ (GetDebugPrintErrorLevel (), 0x00000001u);
}

//
// Before variable services exist.
//

TEST_F (DebugPrintErrorLevelTest, FallbackHobOfThirtyTwoBytesSettlesTheLevelAlone)
{
  SetEfiDebug (0xFFFFFFFF);
  SetMessageConfig (Preset (4));
  Variables.NotAvailableYet = TRUE;
  Model.Hobs.AddDebugMessageConfig (0x80000040);

  ASSERT_EQ (Start (), EFI_SUCCESS);
  EXPECT_EQ (GetDebugPrintErrorLevel (), 0x80000040u);
  EXPECT_TRUE (mVariablesRead);

  // Settled: variables that become available later are not read.
  const UINTN Reads = Variables.Reads ().size ();

  Variables.NotAvailableYet = FALSE;
  EXPECT_EQ (GetDebugPrintErrorLevel (), 0x80000040u);
  EXPECT_EQ (Variables.Reads ().size (), Reads);
}

class PendingLevelTest : public DebugPrintErrorLevelTest, public ::testing::WithParamInterface<UINT16> {};

TEST_P (PendingLevelTest, WithoutAFittingHobTheLevelStaysPendingUntilVariablesArrive)
{
  if (GetParam () != 0) {
    Model.Hobs.AddDebugMessageConfig (0x80000040, GetParam ());
  }

  SetMessageConfig (Preset (1));
  Variables.NotAvailableYet = TRUE;
  ASSERT_EQ (Start (), EFI_SUCCESS);
  EXPECT_EQ (GetDebugPrintErrorLevel (), 0u);
  EXPECT_FALSE (mVariablesRead);

  const UINTN Reads = ReadsOf (MESSAGE_CONFIG);

  EXPECT_EQ (GetDebugPrintErrorLevel (), 0u);
  EXPECT_EQ (ReadsOf (MESSAGE_CONFIG), Reads + 1) << "each lookup tries again";

  Variables.NotAvailableYet = FALSE;
  EXPECT_EQ (GetDebugPrintErrorLevel (), 0x00000040u);
  EXPECT_TRUE (mVariablesRead);
}

// No HOB, or a HOB of a length other than 32 bytes.
INSTANTIATE_TEST_SUITE_P (HobLengths, PendingLevelTest, ::testing::Values (0, 40, 48));

//
// When the variables are read.
//

TEST_F (DebugPrintErrorLevelTest, BeforeTheConstructorTheDefaultLevelAnswers)
{
  SetEfiDebug (0xFFFFFFFF);
  EXPECT_EQ (GetDebugPrintErrorLevel (), 0u);
  EXPECT_TRUE (Variables.Reads ().empty ());
}

TEST_F (DebugPrintErrorLevelTest, LookupsAboveCallbackAnswerTheCache)
{
  Variables.NotAvailableYet = TRUE;
  ASSERT_EQ (Start (), EFI_SUCCESS);
  Variables.NotAvailableYet = FALSE;
  SetMessageConfig (Preset (2));

  const UINTN Reads = Variables.Reads ().size ();

  EXPECT_EQ (LookupAt (TPL_NOTIFY), 0u);
  EXPECT_EQ (Variables.Reads ().size (), Reads);
  EXPECT_EQ (LookupAt (TPL_CALLBACK), 0x80000000u);
  for (const VARIABLE_READ &Read : Variables.Reads ()) {
    EXPECT_LE (Read.Tpl, (EFI_TPL)TPL_CALLBACK);
  }
}

TEST_F (DebugPrintErrorLevelTest, AfterExitBootServicesTheCacheAnswers)
{
  Variables.NotAvailableYet = TRUE;
  ASSERT_EQ (Start (), EFI_SUCCESS);
  Model.SignalEventGroup (gEfiEventExitBootServicesGuid);
  EXPECT_TRUE (mBootServicesExited);

  const UINTN Reads = Variables.Reads ().size ();

  Variables.NotAvailableYet = FALSE;
  SetMessageConfig (Preset (2));
  EXPECT_EQ (GetDebugPrintErrorLevel (), 0u);
  EXPECT_EQ (Variables.Reads ().size (), Reads);
}

//
// The debug mask protocol.
//

TEST_F (DebugPrintErrorLevelTest, DebugMaskReadsAndSetsTheLowThirtyTwoBits)
{
  ASSERT_EQ (Start (), EFI_SUCCESS);

  EFI_DEBUG_MASK_PROTOCOL *Mask  = DebugMask ();
  UINTN                    Value = 0xDEAD;

  ASSERT_NE (Mask, nullptr);
  EXPECT_EQ (Mask->Revision, 0x00010000);
  EXPECT_EQ (Mask->SetDebugMask (Mask, 0xFFFFFFFF00000002ULL), EFI_SUCCESS);
  EXPECT_EQ (Mask->GetDebugMask (Mask, &Value), EFI_SUCCESS);
  EXPECT_EQ (Value, 0x00000002u);
  EXPECT_EQ (GetDebugPrintErrorLevel (), 0x00000002u);

  EXPECT_EQ (Mask->GetDebugMask (Mask, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ (GetDebugPrintErrorLevel (), 0x00000002u);
}

TEST_F (DebugPrintErrorLevelTest, SetWhilePendingIsReplacedByTheVariables)
{
  Variables.NotAvailableYet = TRUE;
  ASSERT_EQ (Start (), EFI_SUCCESS);

  EFI_DEBUG_MASK_PROTOCOL *Mask  = DebugMask ();
  UINTN                    Value = 0;

  ASSERT_EQ (Mask->SetDebugMask (Mask, DEBUG_WARN), EFI_SUCCESS);
  EXPECT_FALSE (mVariablesRead);

  // GetDebugMask reads no variables.
  Variables.NotAvailableYet = FALSE;
  SetMessageConfig (Preset (2));
  const UINTN Reads = Variables.Reads ().size ();

  EXPECT_EQ (Mask->GetDebugMask (Mask, &Value), EFI_SUCCESS);
  EXPECT_EQ (Value, (UINTN)DEBUG_WARN);
  EXPECT_EQ (Variables.Reads ().size (), Reads);

  EXPECT_EQ (GetDebugPrintErrorLevel (), 0x80000000u);
}

TEST_F (DebugPrintErrorLevelTest, SetDebugPrintErrorLevelChangesNothing)
{
  ASSERT_EQ (Start (), EFI_SUCCESS);
  EXPECT_FALSE (SetDebugPrintErrorLevel (DEBUG_ERROR));
  EXPECT_EQ (GetDebugPrintErrorLevel (), 0u);
}

//
// Constructor and destructor.
//

TEST_F (DebugPrintErrorLevelTest, ConstructorPublishesTheMaskAndWatchesExitBootServices)
{
  const UINTN Events = Model.OpenEventCount ();

  ASSERT_EQ (Start (), EFI_SUCCESS);
  EXPECT_EQ (DebugMask (), &mDebugMaskProtocol);
  EXPECT_EQ (Model.OpenEventCount (), Events + 1);
  EXPECT_TRUE (Model.IsEventOpen (mExitBootServicesEvent));

  EXPECT_EQ (DxeDebugPrintErrorLevelLibDestructor (Model.ImageHandle (), Model.SystemTable ()), EFI_SUCCESS);
  EXPECT_EQ (DebugMask (), nullptr);
  EXPECT_EQ (Model.OpenEventCount (), Events);
}

TEST_F (DebugPrintErrorLevelTest, FailedInstallationIsReturnedAndCreatesNoEvent)
{
  ASSERT_EQ (Start (), EFI_SUCCESS);

  // The protocol is already on the image handle: a second install fails.
  const UINTN Events = Model.OpenEventCount ();

  mExitBootServicesEvent = nullptr;
  EXPECT_EQ (DxeDebugPrintErrorLevelLibConstructor (Model.ImageHandle (), Model.SystemTable ()), EFI_INVALID_PARAMETER);
  EXPECT_EQ (Model.OpenEventCount (), Events);
  EXPECT_EQ (mExitBootServicesEvent, nullptr);
}

/// The stand-in itself: the size rules and the record of each read; writes
/// stay the model's, which refuses them.
TEST_F (DebugPrintErrorLevelTest, VariableStoreStandInFollowsTheSizeRules)
{
  EFI_GET_VARIABLE GetVariable = Model.RuntimeServices ()->GetVariable;
  CHAR16          *Name        = (CHAR16 *)u"EFIDebug";
  UINT64           Value       = 0x80000040;
  UINTN            Size        = 4;
  UINT64           Buffer[2];

  Variables.Set (u"EFIDebug", gEfiCallerIdGuid, &Value, sizeof (Value));
  EXPECT_EQ (GetVariable (Name, &gEfiCallerIdGuid, nullptr, &Size, Buffer), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ (Size, 8u);
  Size = sizeof (Buffer);
  EXPECT_EQ (GetVariable (Name, &gEfiCallerIdGuid, nullptr, &Size, Buffer), EFI_SUCCESS);
  EXPECT_EQ (Size, 8u);
  EXPECT_EQ (Buffer[0], Value);
  EXPECT_EQ (GetVariable ((CHAR16 *)u"Other", &gEfiCallerIdGuid, nullptr, &Size, Buffer), EFI_NOT_FOUND);
  EXPECT_EQ (GetVariable (Name, &gEfiCallerIdGuid, nullptr, &Size, nullptr), EFI_INVALID_PARAMETER);

  Variables.NotAvailableYet = TRUE;
  EXPECT_EQ (GetVariable (Name, &gEfiCallerIdGuid, nullptr, &Size, Buffer), EFI_NOT_AVAILABLE_YET);
  ASSERT_EQ (Variables.Reads ().size (), 5u);
  EXPECT_EQ (Variables.Reads ()[0].Name, u"EFIDebug");
  EXPECT_EQ (Variables.Reads ()[0].BufferSize, 4u);
  EXPECT_EQ (
    Model.RuntimeServices ()->SetVariable (Name, &gEfiCallerIdGuid, EFI_VARIABLE_BOOTSERVICE_ACCESS, 8, &Value),
    EFI_WRITE_PROTECTED
  );
}

} // namespace

int
main (int argc, char *argv[])
{
  testing::InitGoogleTest (&argc, argv);
  return RUN_ALL_TESTS ();
}
