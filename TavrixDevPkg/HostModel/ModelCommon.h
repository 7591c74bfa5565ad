/** @file
  Host platform model: the EDK II and standard headers that every part of the
  model uses, and the GUIDs of our packages it names.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef HOST_MODEL_MODEL_COMMON_H_
#define HOST_MODEL_MODEL_COMMON_H_

#include <gtest/gtest.h>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <PiDxe.h>
#include <Protocol/DevicePath.h>
#include <Protocol/DriverBinding.h>
#include <Protocol/PciIo.h>
#include <Protocol/StatusCode.h>
#include <Protocol/Pcd.h>
#include <Protocol/PiPcd.h>
#include <Protocol/EarlyVideoDisplay.h>
}

#include <TavrixDisplayCore.h>

extern "C" {
extern EFI_GUID gEarlyVideoInfoHobGuid;
extern EFI_GUID gDebugMessageConfigGuid;
extern EFI_GUID gDebugPrintMarkerDataGuid;
}

#endif
