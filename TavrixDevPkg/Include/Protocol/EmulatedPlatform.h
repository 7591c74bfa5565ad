/** @file
  What the platform stand-in (TavrixDevPkg/Emulation/PlatformStandInDxe)
  publishes for the road application: the emulated display controller's
  state, the observed calls of the display protocols, the status codes kept by
  its listener and the display-information HOB it republished.

  This is a test interface between two modules of the development package,
  not part of the product. All pointers stay valid while the stand-in is
  resident (it never unloads); the counters only grow.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef EMULATED_PLATFORM_H_
#define EMULATED_PLATFORM_H_

#include <Uefi.h>
#include <Pi/PiStatusCode.h>
#include <Protocol/PciIo.h>
#include <Protocol/EarlyVideoDisplay.h>

#define EMULATED_PLATFORM_PROTOCOL_REVISION 0x00010000

//
// Where the emulated controller sits: bus 1, device 0, function 0 behind a
// bridge at bus 0, device 0x1C, function 0 -- the topology the configuration
// tokens of the early video driver describe by default.
//
#define EMULATED_CONTROLLER_BUS      1
#define EMULATED_CONTROLLER_DEVICE   0
#define EMULATED_CONTROLLER_FUNCTION 0
#define EMULATED_BRIDGE_DEVICE       0x1C
#define EMULATED_BRIDGE_FUNCTION     0

#define EMULATED_REGISTER_FILE_SIZE 0x100000  ///< BAR 1: 1 MiB of 32-bit registers
#define EMULATED_FRAME_BUFFER_SIZE  0x1000000 ///< BAR 0: 16 MiB
#define EMULATED_APERTURE_BASE      0x92000000ULL
#define EMULATED_APERTURE_SIZE      0x800000 ///< reserved behind the aperture

///
/// Data of the display-information HOB as the stand-in produces it. Only the
/// named fields carry meaning; their offsets are the shared format.
///
typedef struct {
  UINT8  Unused0[0x13CC];
  UINT32 FrameWidth;  ///< 0x13CC: pixels; the row pitch is FrameWidth x 4
  UINT32 FrameHeight; ///< 0x13D0: rows
  UINT32 Unused1;
  UINT32 CurrentBank; ///< 0x13D8: 64 KiB bank last selected
  UINT8  Unused2[13];
  UINT8  TransparentText; ///< 0x13E9: clear glyph bits show the shadow buffer
  UINT8  Unused3[0x1400 - 0x13EA];
} STAND_IN_VIDEO_INFO;

///
/// One logged access of the emulated controller.
///
typedef enum {
  EmulatedAccessMemRead  = 1,
  EmulatedAccessMemWrite = 2,
  EmulatedAccessMemFill  = 3,
  EmulatedAccessIoWrite  = 4,
  EmulatedAccessIoRead   = 5
} EMULATED_ACCESS_KIND;

typedef struct {
  UINT8  Kind;     ///< EMULATED_ACCESS_KIND
  UINT8  BarIndex; ///< 0, 1, or EFI_PCI_IO_PASS_THROUGH_BAR for I/O
  UINT8  Width;    ///< bytes per unit
  UINT8  Reserved;
  UINT32 Count;  ///< units
  UINT64 Offset; ///< BAR offset or I/O port
  UINT64 Value;  ///< first unit written or read
} EMULATED_ACCESS;

///
/// One status code kept by the listener (only those reported by the early
/// video driver's image, named by its caller GUID).
///
typedef struct {
  EFI_STATUS_CODE_TYPE  Type;
  EFI_STATUS_CODE_VALUE Value;
  UINT32                Instance;
  EFI_GUID              DataType;   ///< extended-data type, zero GUID if none
  UINT32                DataSize;   ///< extended-data size as reported
  UINT32                ErrorLevel; ///< debug messages: the message's level
  UINT32                LineNumber; ///< assertions: the source line
  UINT32                RawSize;    ///< bytes kept in Raw
  UINT8                 Raw[200];   ///< the extended data as reported (assertions)
  CHAR8                 Text[224];  ///< formatted message, or tag/file/expression
} EMULATED_STATUS_CODE;

///
/// The graphics display protocol as the stand-in produces it: the public
/// member first, then what it keeps. Callbacks is the faithful copy handed
/// back as This; Observed is the same table with SetBank routed through the
/// stand-in, so that every bank switch the drawing makes is seen.
///
typedef struct {
  EARLY_GRAPHICS_DISPLAY_PROTOCOL Public;
  UINT32                          Registrations;
  EARLY_GRAPHICS_CALLBACKS        Callbacks;
  EARLY_GRAPHICS_CALLBACKS        Observed;
} STAND_IN_GRAPHICS_DISPLAY;

typedef struct {
  EARLY_TEXT_DISPLAY_PROTOCOL Public;
  UINT32                      Registrations;
  EARLY_TEXT_CALLBACKS        Callbacks;
} STAND_IN_TEXT_DISPLAY;

typedef struct _EMULATED_PLATFORM_PROTOCOL EMULATED_PLATFORM_PROTOCOL;

/// Puts the machine's own VGA into 80x25 text mode, so that VGA text memory
/// at 0xB8000 is decoded and shown. EFI_UNSUPPORTED without a VGA to drive.
typedef EFI_STATUS (EFIAPI *EMULATED_PLATFORM_SHOW_VGA_TEXT) (IN EMULATED_PLATFORM_PROTOCOL *This);

struct _EMULATED_PLATFORM_PROTOCOL {
  UINT64 Revision;

  // The emulated display controller.
  EFI_HANDLE           ControllerHandle;
  EFI_PCI_IO_PROTOCOL *ControllerPciIo;
  UINT64               Attributes;      ///< current PCI I/O attributes
  UINT8               *RegisterFile;    ///< BAR 1 contents
  EFI_PHYSICAL_ADDRESS FrameBufferBase; ///< BAR 0 address
  UINT64               FrameBufferSize;
  BOOLEAN              FrameBufferOnVga; ///< BAR 0 is the machine VGA's frame buffer
  UINT32               VgaModeSets;      ///< modes mirrored to the machine VGA
  UINT32               VgaWidth;         ///< last mirrored mode
  UINT32               VgaHeight;
  UINT32               VgaBitsPerPixel;
  UINT32               VgaPitch;

  EMULATED_ACCESS *AccessLog; ///< ring: entry n at n % AccessLogCapacity
  UINT32           AccessLogCapacity;
  UINT64           AccessCount;      ///< BAR 1, I/O and fill accesses logged
  UINT64           FrameReadCalls;   ///< BAR 0 reads (not logged)
  UINT64           FrameWriteCalls;  ///< BAR 0 writes other than fills (not logged)
  UINT64           FrameBytesFilled; ///< BAR 0 bytes written by fills
  UINT64           RefusedAccesses;  ///< accesses answered with an error

  // Firmware pieces the early video driver needs.
  STAND_IN_VIDEO_INFO       *VideoInfo; ///< data of the republished HOB
  EFI_PHYSICAL_ADDRESS       ApertureBase;
  UINT64                     ApertureSize;
  BOOLEAN                    ApertureReserved; ///< memory behind the aperture is ours
  BOOLEAN                    PcdForwarding;    ///< other PCD requests reach the firmware's
  UINT64                     PcdRequests;      ///< requests answered for our token space
  STAND_IN_GRAPHICS_DISPLAY *GraphicsDisplay;
  STAND_IN_TEXT_DISPLAY     *TextDisplay;
  UINT32                    *BankLog; ///< ring of banks selected through Observed
  UINT32                     BankLogCapacity;
  UINT64                     BankSwitches;

  // Status codes of the early video driver.
  BOOLEAN               ListenerRegistered;
  EMULATED_STATUS_CODE *StatusCodes; ///< ring: record n at n % capacity
  UINT32                StatusCodeCapacity;
  UINT64                StatusCodeCount;
  UINT64                OtherStatusCodes; ///< reports of other modules, not kept

  EMULATED_PLATFORM_SHOW_VGA_TEXT ShowVgaText;
};

extern EFI_GUID gEmulatedPlatformProtocolGuid;

#endif
