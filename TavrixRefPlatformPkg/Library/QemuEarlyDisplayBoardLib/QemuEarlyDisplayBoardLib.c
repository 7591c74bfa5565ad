/** @file
  The reference platform's logo and picture hold time (QEMU q35).

  The hold is chosen at boot, like a board's splash-screen delay:
    -fw_cfg name=opt/org.tavrix/early-picture-hold-ms,string=3000
  (decimal milliseconds; none by default). A byte received on the second
  serial port (COM2, 0x2F8) ends a hold at once. The road uses both: it
  holds each picture until it has read the picture back, then sends the
  byte, so that no snapshot depends on how fast the host runs the guest.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include <Uefi.h>
#include <Library/EarlyDisplayBoardLib.h>
#include <Library/IoLib.h>
#include <Library/MemoryAllocationLib.h>
#include <Library/QemuFwCfgSimpleParserLib.h>

#define LOGO_SIZE     128
#define HOLD_SETTING  "opt/org.tavrix/early-picture-hold-ms"

//
// COM2, whose received byte ends a hold: receive buffer, line status (bit 0:
// data ready) and the scratch register, which tells a UART from no device
// (that reads all ones).
//
#define RELEASE_PORT_DATA     0x2F8
#define RELEASE_PORT_STATUS   0x2FD
#define RELEASE_PORT_SCRATCH  0x2FF
#define RELEASE_DATA_READY    BIT0

/**
  The logo: a disc shaded from blue at the top to cyan at the bottom, with
  a ring cut out of it. Its rim fades out over two pixels (alpha); Prelumen
  blends that against its shadow buffer where the shadow holds a picture,
  and draws it as it is over an empty one. Outside the disc everything is
  black and fully transparent.
**/
STATIC
VOID
PaintLogo (
  OUT UINT32  *Pixels
  )
{
  CONST INT32  Radius = LOGO_SIZE / 2 - 2;
  INT32        X;
  INT32        Y;
  INT32        Distance2;
  UINT32       Alpha;
  UINT32       Green;

  for (Y = 0; Y < LOGO_SIZE; Y++) {
    for (X = 0; X < LOGO_SIZE; X++) {
      Distance2 = (X - LOGO_SIZE / 2) * (X - LOGO_SIZE / 2) + (Y - LOGO_SIZE / 2) * (Y - LOGO_SIZE / 2);
      if (Distance2 >= Radius * Radius) {
        Alpha = 0;
      } else if (Distance2 >= (Radius - 2) * (Radius - 2)) {
        Alpha = 255 * (UINT32)(Radius * Radius - Distance2) / (UINT32)(Radius * Radius - (Radius - 2) * (Radius - 2));
      } else if ((Distance2 >= 30 * 30) && (Distance2 < 40 * 40)) {
        Alpha = 0;
      } else {
        Alpha = 255;
      }

      Green                     = (UINT32)Y * 255 / LOGO_SIZE;
      Pixels[Y * LOGO_SIZE + X] = (Alpha == 0) ? 0 : (Alpha << 24) | (Green << 8) | 0xFF;
    }
  }
}

EFI_STATUS
EFIAPI
EarlyDisplayBoardGetLogo (
  OUT UINT32  **Pixels,
  OUT UINT32  *Width,
  OUT UINT32  *Height
  )
{
  *Pixels = AllocatePool (LOGO_SIZE * LOGO_SIZE * sizeof (UINT32));
  if (*Pixels == NULL) {
    return EFI_OUT_OF_RESOURCES;
  }

  PaintLogo (*Pixels);
  *Width  = LOGO_SIZE;
  *Height = LOGO_SIZE;
  return EFI_SUCCESS;
}

UINT32
EFIAPI
EarlyDisplayBoardHoldMilliseconds (
  VOID
  )
{
  UINT32  Milliseconds;

  if (RETURN_ERROR (QemuFwCfgParseUint32 (HOLD_SETTING, FALSE, &Milliseconds))) {
    return 0;
  }

  return Milliseconds;
}

CONST CHAR8 *
EFIAPI
EarlyDisplayBoardHoldRelease (
  VOID
  )
{
  //
  // A UART answers at COM2 when its scratch register keeps what was written.
  //
  IoWrite8 (RELEASE_PORT_SCRATCH, 0x5A);
  if (IoRead8 (RELEASE_PORT_SCRATCH) != 0x5A) {
    return NULL;
  }

  IoWrite8 (RELEASE_PORT_SCRATCH, 0xA5);
  return (IoRead8 (RELEASE_PORT_SCRATCH) == 0xA5) ? "a byte arrives on COM2" : NULL;
}

BOOLEAN
EFIAPI
EarlyDisplayBoardHoldReleased (
  VOID
  )
{
  if ((IoRead8 (RELEASE_PORT_STATUS) & RELEASE_DATA_READY) == 0) {
    return FALSE;
  }

  IoRead8 (RELEASE_PORT_DATA);
  return TRUE;
}
