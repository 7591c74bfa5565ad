/** @file
  The early display protocols as the reference platform produces them: the
  public member first (all that Prelumen uses), then what the platform keeps
  of the registrations. The layout is the platform's own; it is published
  here so that a test application on this platform can draw through the
  callbacks the platform holds and see every bank switch they make.

  The platform draws through Observed, the registered table with SetBank
  routed through the platform's counter; Prelumen reaches SetBank through
  the table it is handed as This, so every switch of a drawing call made
  with &Observed as This is counted and logged, whoever makes the call.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef PLATFORM_EARLY_DISPLAY_H_
#define PLATFORM_EARLY_DISPLAY_H_

#include <Protocol/EarlyVideoDisplay.h>

/// Follows the public member of both protocols: tells this platform's
/// producer from another one.
#define PLATFORM_EARLY_DISPLAY_SIGNATURE  SIGNATURE_32 ('T', 'v', 'x', 'P')

/// Banks logged: switch n of the boot is at BankLog[n % PLATFORM_BANK_LOG_SIZE].
#define PLATFORM_BANK_LOG_SIZE  4096

typedef struct {
  EARLY_GRAPHICS_DISPLAY_PROTOCOL    Public;
  UINT32                             Signature;
  ///
  /// Graphics registrations so far. The platform draws its picture at the
  /// first; a later one (an early video driver started again, by hand)
  /// only replaces the callbacks below.
  ///
  UINT32                             Registrations;
  EARLY_GRAPHICS_CALLBACKS           Callbacks;       ///< the last table registered, as handed over
  EARLY_GRAPHICS_CALLBACKS           Observed;        ///< the same with SetBank counted and logged
  UINT64                             BankSwitches;    ///< SetBank calls made through Observed
  UINT32                             BankLog[PLATFORM_BANK_LOG_SIZE];
} PLATFORM_GRAPHICS_DISPLAY;

typedef struct {
  EARLY_TEXT_DISPLAY_PROTOCOL    Public;
  UINT32                         Signature;
  UINT32                         Registrations;       ///< text registrations so far
  EARLY_TEXT_CALLBACKS           Callbacks;           ///< the last one registered
} PLATFORM_TEXT_DISPLAY;

#endif
