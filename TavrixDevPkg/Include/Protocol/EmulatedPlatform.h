/** @file
  What the platform stand-in (TavrixDevPkg/Emulation/PlatformStandInDxe)
  publishes for the road application: the display controller it prepared
  for the early video driver (the virtual device, found through the
  firmware's own PCI enumeration), the observed calls of the display
  protocols, the status codes kept by its listener and the
  display-information HOB it republished.

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

#define EMULATED_PLATFORM_PROTOCOL_REVISION 0x00020000

#define EMULATED_APERTURE_BASE 0x92000000ULL ///< the device decodes it once turned on

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

/**
  Does what the platform does for the early video driver right before that
  driver runs:
    sets the VGA enable of the bridge in front of the controller (asked for
    through the firmware's PCI I/O attributes, written through the bridge's
    own PCI I/O where the bus driver refuses), so that the legacy VGA bank
    ports reach the controller once its decoding is on; and programs
    channel B to show the HOB's 800 x 600 frame from BAR 0 offset 0, so that
    drawing into the aperture shows at once.
  EFI_NOT_READY when no controller was found.
**/
typedef EFI_STATUS (EFIAPI *EMULATED_PLATFORM_PREPARE_EARLY_VIDEO) (IN EMULATED_PLATFORM_PROTOCOL *This);

struct _EMULATED_PLATFORM_PROTOCOL {
  UINT64 Revision;

  // The display controller 0x19E5:0x1711 as the firmware's PCI bus driver
  // enumerated it, and the bridge in front of it on bus 0.
  EFI_HANDLE           ControllerHandle;
  EFI_PCI_IO_PROTOCOL *ControllerPciIo;
  EFI_PHYSICAL_ADDRESS FrameBufferBase; ///< BAR 0 as enumerated
  UINT64               FrameBufferSize;
  UINT32               ControllerLocation; ///< bus << 24 | device << 16 | function << 8 (token 1)
  UINT8                BridgeDevice;       ///< on bus 0 (token 4)
  UINT8                BridgeFunction;     ///< (token 5)
  BOOLEAN              ApertureOn;         ///< configuration register 0x40 bit 0 set, memory decoding on
  BOOLEAN              EarlyFrameShown;    ///< channel B shows the HOB's frame
  BOOLEAN              VgaRouted;          ///< the bridge forwards legacy VGA

  // Firmware pieces the early video driver needs.
  STAND_IN_VIDEO_INFO       *VideoInfo; ///< data of the republished HOB
  EFI_PHYSICAL_ADDRESS       ApertureBase;
  BOOLEAN                    PcdForwarding; ///< other PCD requests reach the firmware's
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

  EMULATED_PLATFORM_PREPARE_EARLY_VIDEO PrepareEarlyVideo;
};

extern EFI_GUID gEmulatedPlatformProtocolGuid;

#endif
