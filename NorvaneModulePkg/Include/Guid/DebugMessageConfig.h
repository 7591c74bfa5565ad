/** @file
  "DebugMessageConfig": the platform's choice of debug messages, written by
  platform setup, read by the debug error-level policy of a module.

  The variable's vendor GUID also names a GUID HOB that supplies a ready-made
  32-bit error level while variable services are not available yet.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef DEBUG_MESSAGE_CONFIG_H_
#define DEBUG_MESSAGE_CONFIG_H_

#define DEBUG_MESSAGE_CONFIG_GUID                                                                                      \
  {                                                                                                                    \
    0x091AAE73, 0x6D75, 0x479E,                                                                                        \
    {                                                                                                                  \
      0x8D, 0x16, 0x8E, 0x38, 0xD8, 0xC8, 0x58, 0xC6                                                                   \
    }                                                                                                                  \
  }

#define DEBUG_MESSAGE_CONFIG_VARIABLE_NAME L"DebugMessageConfig"

///
/// Number of per-level switches, bytes 5 to 21 of the record.
///
#define DEBUG_MESSAGE_CONFIG_SWITCH_COUNT 17

///
/// A byte is "on" when it is not 0. With CustomLevels off the level is the
/// Preset's: 0 and 255 the module's default level, 1 DEBUG_INFO, 2 DEBUG_ERROR,
/// 3 DEBUG_WARN, 4 every bit except DEBUG_POOL and DEBUG_PAGE, anything else 0.
/// With CustomLevels on the level is the OR of the bits whose switch is on, in
/// the order DEBUG_INIT, DEBUG_WARN, DEBUG_LOAD, DEBUG_FS, DEBUG_INFO,
/// DEBUG_DISPATCH, DEBUG_VARIABLE, DEBUG_BM, DEBUG_BLKIO, DEBUG_NET,
/// DEBUG_UNDI, DEBUG_LOADFILE, DEBUG_EVENT, DEBUG_GCD, DEBUG_CACHE,
/// DEBUG_VERBOSE, DEBUG_ERROR.
///
///
/// The level bit of each switch, in byte order: an initializer for a table of
/// DEBUG_MESSAGE_CONFIG_SWITCH_COUNT UINT32 values (DebugLib.h names them).
///
#define DEBUG_MESSAGE_CONFIG_SWITCH_LEVELS                                                                             \
  {                                                                                                                    \
    DEBUG_INIT, DEBUG_WARN, DEBUG_LOAD, DEBUG_FS, DEBUG_INFO, DEBUG_DISPATCH, DEBUG_VARIABLE, DEBUG_BM, DEBUG_BLKIO,   \
      DEBUG_NET, DEBUG_UNDI, DEBUG_LOADFILE, DEBUG_EVENT, DEBUG_GCD, DEBUG_CACHE, DEBUG_VERBOSE, DEBUG_ERROR           \
  }

typedef struct {
  UINT8 Preset;
  UINT8 Reserved1[3];
  UINT8 CustomLevels;
  UINT8 Switch[DEBUG_MESSAGE_CONFIG_SWITCH_COUNT];
  UINT8 Reserved2[2];
} DEBUG_MESSAGE_CONFIG;

STATIC_ASSERT (sizeof (DEBUG_MESSAGE_CONFIG) == 24, "DEBUG_MESSAGE_CONFIG is a 24-byte record");
STATIC_ASSERT (OFFSET_OF (DEBUG_MESSAGE_CONFIG, CustomLevels) == 4, "CustomLevels is byte 4");
STATIC_ASSERT (OFFSET_OF (DEBUG_MESSAGE_CONFIG, Switch) == 5, "the switches start at byte 5");

extern EFI_GUID gDebugMessageConfigGuid;

#endif
