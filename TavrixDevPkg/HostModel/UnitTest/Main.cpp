/** @file
  Runs the host model's tests.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include <HostModel.h>

HOST_MODEL_USES_TEST_FILE (HandleDatabaseTest);
HOST_MODEL_USES_TEST_FILE (EventsAndMemoryTest);
HOST_MODEL_USES_TEST_FILE (HardwareTest);
HOST_MODEL_USES_TEST_FILE (FirmwareServicesTest);

int
main (int argc, char *argv[])
{
  testing::InitGoogleTest (&argc, argv);
  return RUN_ALL_TESTS ();
}
