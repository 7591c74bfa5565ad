/** @file
  Host platform model: pool and page allocation with fault injection and leak
  accounting.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#ifndef HOST_MODEL_MEMORY_H_
#define HOST_MODEL_MEMORY_H_

#include "ModelCommon.h"

struct MEMORY_BLOCK {
  UINT64          Sequence; ///< allocation number, see HOST_MODEL::Memory
  VOID           *Address;
  UINTN           Size; ///< bytes (pages: pages × 4096)
  EFI_MEMORY_TYPE Type;
  BOOLEAN         IsPages;
};

/// Pool and page accounting with fault injection. Every allocation gets the
/// next sequence number of the memory model (failed ones too), so a test can
/// take Mark () before a step and ask what that step left behind. New pool
/// and page memory is filled with 0xAF, as a DEBUG firmware would, so code
/// that relies on zeroed memory shows up.
class MEMORY_MODEL {
public:
  /// The Nth allocation from now fails (1 = the next one), once.
  void FailAllocation (UINTN Nth);

  /// Every allocation of Size bytes (pages: pages × 4096) fails.
  void FailAllocationsOfSize (UINTN Size);

  void StopFailing ();

  UINT64
  Mark () const
  {
    return mSequence;
  }

  /// Allocations made so far, failed ones included.
  UINTN
  AllocationCount () const
  {
    return (UINTN)mSequence;
  }

  /// Blocks still allocated, made after Since; Type EfiMaxMemoryType = all types.
  std::vector<MEMORY_BLOCK> Outstanding (UINT64 Since = 0, EFI_MEMORY_TYPE Type = EfiMaxMemoryType) const;

  UINTN
  OutstandingPoolBytes (UINT64 Since = 0, EFI_MEMORY_TYPE Type = EfiMaxMemoryType) const;

  UINTN
  OutstandingPages (UINT64 Since = 0, EFI_MEMORY_TYPE Type = EfiMaxMemoryType) const;

  /// One line per outstanding block made after Since; empty when none.
  std::string LeakReport (UINT64 Since = 0) const;

  // Implementation of the boot services (used by the model itself).
  EFI_STATUS
  AllocatePool (EFI_MEMORY_TYPE Type, UINTN Size, VOID **Buffer);

  EFI_STATUS
  FreePool (VOID *Buffer);

  EFI_STATUS
  AllocatePages (EFI_ALLOCATE_TYPE AllocateType, EFI_MEMORY_TYPE Type, UINTN Pages, EFI_PHYSICAL_ADDRESS *Memory);

  EFI_STATUS
  FreePages (EFI_PHYSICAL_ADDRESS Memory, UINTN Pages);

  ~MEMORY_MODEL ();

private:
  BOOLEAN
  ShouldFail (UINTN Size);

  UINT64                        mSequence   = 0;
  UINT64                        mFailAt     = 0;
  BOOLEAN                       mFailBySize = FALSE;
  UINTN                         mFailSize   = 0;
  std::map<UINTN, MEMORY_BLOCK> mBlocks;
};

#endif
