/** @file
  Instruction counting for the benchmarks: the measured calls run with
  callgrind collecting and everything else (set-up, checks) without, and each
  measurement is dumped as its own callgrind record named after the case.
  Outside valgrind the client requests cost a few instructions and the
  benchmarks still run, checking their results.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef BENCH_MEASURE_H_
#define BENCH_MEASURE_H_

#include <stdio.h>
#include <valgrind/callgrind.h>

/**
  Runs Call once unmeasured (lazy symbol binding and first touches of memory
  happen there), then Repeats times with callgrind collecting, and dumps the
  count as a record named "<Name> x<Repeats>"; scripts/bench/bench-*.sh divide.
**/
template <typename CALL>
void
BenchMeasure (const char *Name, unsigned Repeats, CALL Call)
{
  char Label[160];

  snprintf (Label, sizeof (Label), "%s x%u", Name, Repeats);
  Call ();
  CALLGRIND_ZERO_STATS;
  CALLGRIND_TOGGLE_COLLECT;
  for (unsigned Index = 0; Index < Repeats; Index++) {
    Call ();
  }

  CALLGRIND_TOGGLE_COLLECT;
  CALLGRIND_DUMP_STATS_AT (Label);
}

#endif
