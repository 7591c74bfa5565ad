/** @file
  What a board gives the early display besides its text lines: its logo,
  how long it holds the early picture, and what may end a hold early. The
  text lines are PCDs of this package (PcdEarlyDisplayNameLine,
  PcdEarlyDisplayDeviceLine).

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef EARLY_DISPLAY_BOARD_LIB_H_
#define EARLY_DISPLAY_BOARD_LIB_H_

#include <Uefi/UefiBaseType.h>

/**
  The board's logo as Width x Height 32-bit pixels (0xAARRGGBB, alpha in the
  top byte), in a pool allocation that the caller frees.

  @param[out] Pixels  The logo's pixels, row after row.
  @param[out] Width   Its width in pixels.
  @param[out] Height  Its height in pixels.

  @retval EFI_SUCCESS           The logo is in Pixels.
  @retval EFI_NOT_FOUND         The board has no logo; nothing allocated.
  @retval EFI_OUT_OF_RESOURCES  No memory for it; nothing allocated.
**/
EFI_STATUS
EFIAPI
EarlyDisplayBoardGetLogo (
  OUT UINT32  **Pixels,
  OUT UINT32  *Width,
  OUT UINT32  *Height
  );

/**
  How long the board holds each early picture on the screen before the
  boot goes on, in milliseconds; 0 for not at all.
**/
UINT32
EFIAPI
EarlyDisplayBoardHoldMilliseconds (
  VOID
  );

/**
  Readies the board's way of ending a hold early, if it has one, and names
  it for the log (the reference board: "a byte arrives on COM2").

  @return  What ends a hold early, or NULL: the board has no such way on
           this machine, and a hold lasts its whole time.
**/
CONST CHAR8 *
EFIAPI
EarlyDisplayBoardHoldRelease (
  VOID
  );

/**
  Whether the release named by EarlyDisplayBoardHoldRelease has come since
  it was readied; it is consumed. Polled about once a millisecond.
**/
BOOLEAN
EFIAPI
EarlyDisplayBoardHoldReleased (
  VOID
  );

#endif
