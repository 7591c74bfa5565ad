/** @file
  Pieces shared by the reliability sweeps: their size, their random source
  and how they report what they covered.

  A sweep runs at its fast size by default, as `make test` runs it, and at
  its full size when TAVRIX_RELIABILITY=full (`make reliability`). Random
  inputs come from one seeded generator, so a failure names the seed and the
  case that reproduce it (TAVRIX_RELIABILITY_SEED=<seed>).

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef RELIABILITY_SWEEP_H_
#define RELIABILITY_SWEEP_H_

#include <gtest/gtest.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

extern "C" {
#include <Uefi.h>
#include <Library/BaseLib.h>
}

/// TRUE when the sweeps run at their full size.
inline bool
SweepIsFull ()
{
  const char *Value = getenv ("TAVRIX_RELIABILITY");

  return (Value != nullptr) && (strcmp (Value, "full") == 0);
}

/// Fast or Full, as the run asks.
inline UINTN
SweepSize (UINTN Fast, UINTN Full)
{
  return SweepIsFull () ? Full : Fast;
}

/// Prints one line that scripts/checks/reliability.sh collects into the summary.
inline void
SweepReport (const char *Name, const char *What, UINT64 Count)
{
  printf ("[sweep] %s: %llu %s\n", Name, (unsigned long long)Count, What);
}

/// Seeded random values, with generators biased towards edges.
class SWEEP_RANDOM {
public:
  SWEEP_RANDOM ()
  {
    const char *Value = getenv ("TAVRIX_RELIABILITY_SEED");

    mSeed = (Value != nullptr) ? strtoull (Value, nullptr, 0) : 0x7A1B2C3D4E5F6071ULL;
    mEngine.seed (mSeed);
  }

  UINT64
  Seed () const
  {
    return mSeed;
  }

  UINT64
  Next ()
  {
    return mEngine ();
  }

  /// Uniform in [0, Limit); 0 when Limit is 0.
  UINT64
  Below (UINT64 Limit)
  {
    return (Limit == 0) ? 0 : Next () % Limit;
  }

  /// Uniform in [Low, High].
  UINT64
  Between (UINT64 Low, UINT64 High)
  {
    return Low + Below (High - Low + 1);
  }

  bool
  OneIn (UINT64 N)
  {
    return Below (N) == 0;
  }

  /**
    A value around Limit: inside, at, just past or far past it, or one of the
    values where unsigned arithmetic wraps.
  **/
  UINT64
  Edge (UINT64 Limit)
  {
    switch (Below (12)) {
      case 0:
        return 0;
      case 1:
        return 1;
      case 2:
        return Below (Limit + 1);
      case 3:
        return Below (Limit + 1);
      case 4:
        return Limit - (Limit > 0 ? 1 : 0);
      case 5:
        return Limit;
      case 6:
        return Limit + 1;
      case 7:
        return Limit + Between (2, 64);
      case 8:
        return Between (0x7FFFFFFFULL, 0x100000001ULL);
      case 9:
        return ~0ULL - Below (8);
      case 10:
        return (1ULL << Between (32, 63)) + Below (3);
      default:
        return Next ();
    }
  }

  /// A 32-bit value around Limit, wrapping values included.
  UINT32
  Edge32 (UINT32 Limit)
  {
    return (UINT32)(OneIn (4) ? Next () : Edge (Limit));
  }

private:
  UINT64          mSeed;
  std::mt19937_64 mEngine;
};

/// "seed S case N": the words that reproduce one failing case.
inline std::string
SweepCase (const SWEEP_RANDOM &Random, UINT64 Case)
{
  char Text[64];

  snprintf (Text, sizeof (Text), "seed 0x%llx case %llu", (unsigned long long)Random.Seed (), (unsigned long long)Case);
  return Text;
}

#endif
