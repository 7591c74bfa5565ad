/** @file
  Runs the TavrixGopDxe host tests.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include <HostModel.h>

HOST_MODEL_USES_TEST_FILE (DriverBindingTest);
HOST_MODEL_USES_TEST_FILE (ControllerProgrammingTest);
HOST_MODEL_USES_TEST_FILE (GraphicsOutputTest);
HOST_MODEL_USES_TEST_FILE (ComponentNameTest);

int
main (int argc, char *argv[])
{
  testing::InitGoogleTest (&argc, argv);
  return RUN_ALL_TESTS ();
}
