/** @file
  Shared checkpoint list. A module that links this library finds, in its
  constructor, the checkpoint list that firmware modules share, or creates an
  empty one and publishes it under gQv3CpListProtocolGuid. The protocol
  interface is the list head itself.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef QV3_CP_LIB_H_
#define QV3_CP_LIB_H_

#include <Uefi.h>

#endif
