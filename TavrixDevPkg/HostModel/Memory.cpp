/** @file
  Pool and page allocation with accounting and fault injection.

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "HostModelInternal.h"
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace {

/// Fill of new memory, as a DEBUG firmware leaves it.
const UINT8 mNewMemoryFill = 0xAF;

BOOLEAN
ValidType (EFI_MEMORY_TYPE Type)
{
  return ((UINT32)Type < EfiMaxMemoryType && Type != EfiPersistentMemory) || ((UINT32)Type >= 0x70000000);
}

BOOLEAN
Selected (const MEMORY_BLOCK &Block, UINT64 Since, EFI_MEMORY_TYPE Type)
{
  return Block.Sequence > Since && (Type == EfiMaxMemoryType || Block.Type == Type);
}

} // namespace

MEMORY_MODEL::~MEMORY_MODEL ()
{
  for (auto &Entry : mBlocks) {
    free (Entry.second.Address);
  }
}

void
MEMORY_MODEL::FailAllocation (UINTN Nth)
{
  mFailAt = mSequence + Nth;
}

void
MEMORY_MODEL::FailAllocationsOfSize (UINTN Size)
{
  mFailBySize = TRUE;
  mFailSize   = Size;
}

void
MEMORY_MODEL::StopFailing ()
{
  mFailAt     = 0;
  mFailBySize = FALSE;
}

/// Counts one allocation attempt and tells whether it is to fail.
BOOLEAN
MEMORY_MODEL::ShouldFail (UINTN Size)
{
  mSequence++;
  if (mSequence == mFailAt) {
    mFailAt = 0;
    return TRUE;
  }

  return mFailBySize && Size == mFailSize;
}

EFI_STATUS
MEMORY_MODEL::AllocatePool (EFI_MEMORY_TYPE Type, UINTN Size, VOID **Buffer)
{
  if ((Buffer == nullptr) || !ValidType (Type)) {
    return EFI_INVALID_PARAMETER;
  }

  *Buffer = nullptr;
  if (ShouldFail (Size)) {
    return EFI_OUT_OF_RESOURCES;
  }

  //
  // A zero-byte pool still gets a distinct address, as the firmware's does.
  //
  VOID *Memory = malloc (Size == 0 ? 1 : Size);

  if (Memory == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }

  memset (Memory, mNewMemoryFill, Size); // not SetMem: its UINT8 shifts overflow int for fills >= 0x80
  mBlocks[(UINTN)Memory] = MEMORY_BLOCK{ mSequence, Memory, Size, Type, FALSE };
  *Buffer                = Memory;
  return EFI_SUCCESS;
}

EFI_STATUS
MEMORY_MODEL::FreePool (VOID *Buffer)
{
  auto It = mBlocks.find ((UINTN)Buffer);

  if ((It == mBlocks.end ()) || It->second.IsPages) {
    ADD_FAILURE () << "FreePool of " << Buffer << ", which is not a live pool block";
    return EFI_INVALID_PARAMETER;
  }

  free (Buffer);
  mBlocks.erase (It);
  return EFI_SUCCESS;
}

EFI_STATUS
MEMORY_MODEL::AllocatePages (
  EFI_ALLOCATE_TYPE     AllocateType,
  EFI_MEMORY_TYPE       Type,
  UINTN                 Pages,
  EFI_PHYSICAL_ADDRESS *Memory
)
{
  if ((Memory == nullptr) || !ValidType (Type) || (AllocateType >= MaxAllocateType)) {
    return EFI_INVALID_PARAMETER;
  }

  if (ShouldFail (EFI_PAGES_TO_SIZE (Pages))) {
    return EFI_OUT_OF_RESOURCES;
  }

  if ((Pages == 0) || (AllocateType == AllocateAddress)) {
    //
    // Host memory cannot be placed at a chosen address.
    //
    return EFI_NOT_FOUND;
  }

  VOID *Block = aligned_alloc (EFI_PAGE_SIZE, EFI_PAGES_TO_SIZE (Pages));

  if (Block == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }

  if ((AllocateType == AllocateMaxAddress) && ((UINTN)Block + EFI_PAGES_TO_SIZE (Pages) - 1 > *Memory)) {
    free (Block);
    return EFI_NOT_FOUND;
  }

  memset (Block, mNewMemoryFill, EFI_PAGES_TO_SIZE (Pages));
  mBlocks[(UINTN)Block] = MEMORY_BLOCK{ mSequence, Block, EFI_PAGES_TO_SIZE (Pages), Type, TRUE };
  *Memory               = (EFI_PHYSICAL_ADDRESS)(UINTN)Block;
  return EFI_SUCCESS;
}

EFI_STATUS
MEMORY_MODEL::FreePages (EFI_PHYSICAL_ADDRESS Memory, UINTN Pages)
{
  auto It = mBlocks.find ((UINTN)Memory);

  if ((It == mBlocks.end ()) || !It->second.IsPages) {
    ADD_FAILURE () << "FreePages of 0x" << std::hex << Memory << ", which is not a live page block";
    return EFI_NOT_FOUND;
  }

  if (It->second.Size != EFI_PAGES_TO_SIZE (Pages)) {
    ADD_FAILURE () << "FreePages of " << Pages << " pages of a block of " << It->second.Size / EFI_PAGE_SIZE;
    return EFI_INVALID_PARAMETER;
  }

  free (It->second.Address);
  mBlocks.erase (It);
  return EFI_SUCCESS;
}

std::vector<MEMORY_BLOCK>
MEMORY_MODEL::Outstanding (UINT64 Since, EFI_MEMORY_TYPE Type) const
{
  std::vector<MEMORY_BLOCK> Blocks;

  for (auto &Entry : mBlocks) {
    if (Selected (Entry.second, Since, Type)) {
      Blocks.push_back (Entry.second);
    }
  }

  return Blocks;
}

UINTN
MEMORY_MODEL::OutstandingPoolBytes (UINT64 Since, EFI_MEMORY_TYPE Type) const
{
  UINTN Bytes = 0;

  for (const MEMORY_BLOCK &Block : Outstanding (Since, Type)) {
    Bytes += Block.IsPages ? 0 : Block.Size;
  }

  return Bytes;
}

UINTN
MEMORY_MODEL::OutstandingPages (UINT64 Since, EFI_MEMORY_TYPE Type) const
{
  UINTN Pages = 0;

  for (const MEMORY_BLOCK &Block : Outstanding (Since, Type)) {
    Pages += Block.IsPages ? Block.Size / EFI_PAGE_SIZE : 0;
  }

  return Pages;
}

std::string
MEMORY_MODEL::LeakReport (UINT64 Since) const
{
  std::ostringstream Report;

  for (const MEMORY_BLOCK &Block : Outstanding (Since)) {
    Report << "allocation #" << Block.Sequence << ": " << (Block.IsPages ? "pages" : "pool") << ", " << Block.Size
           << " bytes of memory type " << Block.Type << " at " << Block.Address << "\n";
  }

  return Report.str ();
}
