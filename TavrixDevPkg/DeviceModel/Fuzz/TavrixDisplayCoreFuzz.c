/** @file
  A libFuzzer target for the display controller's portable core: each input
  is a program of register, port and configuration accesses of any size at
  any offset, with frames drawn in between, as a hostile guest would drive
  the device.

  Every frame is drawn the way a wrapper draws it: into a surface that the
  core must judge (TavrixCoreSurfaceFits) before the frame goes in, since
  the program also resizes that surface behind the frame's back, as QEMU's
  VGA does with the console's. Surfaces and frame buffers end at a guard
  page, so a row written or read one byte too far faults at once even
  without AddressSanitizer.

  Build: clang -fsanitize=fuzzer,address,undefined (scripts/checks/fuzz-device.sh).

  SPDX-License-Identifier: BSD-2-Clause-Patent
**/

#include "TavrixDisplayCore.h"

#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

/// Memory that ends exactly at an inaccessible page.
typedef struct {
  uint8_t  *Mapping;
  size_t   MappingSize;
  uint8_t  *Data;
  size_t   Size;
} GUARDED_BUFFER;

static int
GuardedAllocate (
  GUARDED_BUFFER  *Buffer,
  size_t          Size
  )
{
  size_t  Page = (size_t)sysconf (_SC_PAGESIZE);
  size_t  Body = (Size + Page - 1) / Page * Page;

  Buffer->MappingSize = Body + 2 * Page;
  Buffer->Mapping     = mmap (NULL, Buffer->MappingSize, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (Buffer->Mapping == MAP_FAILED) {
    return 0;
  }

  if ((Body != 0) && (mprotect (Buffer->Mapping + Page, Body, PROT_READ | PROT_WRITE) != 0)) {
    munmap (Buffer->Mapping, Buffer->MappingSize);
    return 0;
  }

  Buffer->Data = Buffer->Mapping + Page + (Body - Size);
  Buffer->Size = Size;
  return 1;
}

static void
GuardedFree (
  GUARDED_BUFFER  *Buffer
  )
{
  if (Buffer->Mapping != NULL) {
    munmap (Buffer->Mapping, Buffer->MappingSize);
  }

  memset (Buffer, 0, sizeof (*Buffer));
}

/// The console's surface as a wrapper sees it: 32-bit pixels, rows Stride
/// bytes apart, back to back. A placeholder (what a QEMU console shows
/// before anyone drew) has memory but no shape a frame could fit.
typedef struct {
  TAVRIX_SURFACE  Shape;
  uint32_t        Stride;
  GUARDED_BUFFER  Memory;
} SURFACE;

static void
SurfaceResize (
  SURFACE   *Surface,
  uint32_t  Width,
  uint32_t  Height,
  int       Shared,
  int       Placeholder
  )
{
  GuardedFree (&Surface->Memory);
  memset (&Surface->Shape, 0, sizeof (Surface->Shape));
  Surface->Stride = 0;
  if (GuardedAllocate (&Surface->Memory, (size_t)Width * Height * 4)) {
    Surface->Stride = Width * 4;
    if (!Placeholder) {
      Surface->Shape.Width        = Width;
      Surface->Shape.Height       = Height;
      Surface->Shape.BitsPerPixel = 32;
      Surface->Shape.Shared       = Shared;
    }
  }
}

/// The input, read front to back; past its end every read gives zeros.
typedef struct {
  const uint8_t  *Data;
  size_t         Size;
} PROGRAM;

static uint64_t
Take (
  PROGRAM   *Program,
  unsigned  Bytes
  )
{
  uint64_t  Value = 0;
  unsigned  Index;

  for (Index = 0; Index < Bytes && Program->Size > 0; Index++) {
    Value |= (uint64_t)Program->Data[0] << (8 * Index);
    Program->Data++;
    Program->Size--;
  }

  return Value;
}

//
// Offsets worth more than a random pick: what the display reads, the
// palette, the register file's last word and the first one beyond it.
//
static const uint64_t  mNamedOffsets[] = {
  TAVRIX_REG_B_DISPLAY_CONTROL,      TAVRIX_REG_B_PITCH,            TAVRIX_REG_B_ACTIVE_SIZE, TAVRIX_REG_B_PALETTE,
  TAVRIX_REG_B_PALETTE + 0x3FC, TAVRIX_REGISTER_FILE_SIZE - 4, TAVRIX_REGISTER_FILE_SIZE,
};

//
// Ports worth more than a random pick: the CRT in both places, the
// miscellaneous output register, the bank ports.
//
static const uint16_t  mNamedPorts[] = {
  TAVRIX_PORT_CRT_INDEX,   TAVRIX_PORT_CRT_DATA, TAVRIX_PORT_CRT_INDEX_MONO, TAVRIX_PORT_CRT_DATA_MONO,
  TAVRIX_PORT_MISC_OUTPUT, TAVRIX_PORT_BANK_MIDDLE, TAVRIX_PORT_BANK_LOW,
};

static uint64_t
TakeOffset (
  PROGRAM  *Program
  )
{
  uint8_t  Pick = (uint8_t)Take (Program, 1);

  if (Pick < 2 * sizeof (mNamedOffsets) / sizeof (mNamedOffsets[0])) {
    return mNamedOffsets[Pick / 2] + (Pick & 1) * (Take (Program, 1) & 7);
  }

  return Take (Program, 8);
}

/// A register access of 1, 2, 4 or 8 bytes at any offset, as the QEMU
/// device receives it: within one register as it is, 8 bytes at a 4-aligned
/// offset as two 32-bit accesses, low word first; anything else refused.
static void
RegisterAccess (
  TAVRIX_DISPLAY_CORE  *Core,
  PROGRAM              *Program,
  int                  Write
  )
{
  unsigned  Size   = 1u << (Take (Program, 1) & 3);
  uint64_t  Offset = TakeOffset (Program);
  uint64_t  Value  = Take (Program, Size);
  unsigned  Part;

  if ((Size == 8) && ((Offset & 3) != 0)) {
    return;
  }

  for (Part = 0; Part < Size; Part += 4) {
    if (Write) {
      TavrixCoreWriteRegisterBytes (Core, Offset + Part, Size < 4 ? Size : 4, (uint32_t)(Value >> (8 * Part)));
    } else {
      (void)TavrixCoreReadRegisterBytes (Core, Offset + Part, Size < 4 ? Size : 4);
    }
  }
}

/// A port access of 1, 2 or 4 bytes: QEMU hands wider ones over byte by
/// byte, low byte first.
static void
PortAccess (
  TAVRIX_DISPLAY_CORE  *Core,
  PROGRAM              *Program,
  int                  Write
  )
{
  unsigned  Size = 1u << (Take (Program, 1) % 3);
  uint8_t   Pick = (uint8_t)Take (Program, 1);
  uint16_t  Port = (Pick < sizeof (mNamedPorts) / sizeof (mNamedPorts[0])) ? mNamedPorts[Pick] : (uint16_t)Take (Program, 2);
  uint32_t  Value = (uint32_t)Take (Program, Size);
  unsigned  Index;
  uint8_t   Byte;

  // Often the extended CRT indices rather than a random byte.
  if ((Value & 0xC0) == 0xC0) {
    Value = (Value & ~0xFFu) | ((Value & 1) ? TAVRIX_CRT_EXT_MODE : TAVRIX_CRT_EXT_BANK_HIGH);
  }

  for (Index = 0; Index < Size; Index++) {
    if (Write) {
      (void)TavrixCorePortWrite (Core, (uint16_t)(Port + Index), (uint8_t)(Value >> (8 * Index)));
    } else {
      (void)TavrixCorePortRead (Core, (uint16_t)(Port + Index), &Byte);
    }
  }

  if (TavrixCoreBank (Core) > 0xFFF) {
    abort (); // each bank port holds one nibble
  }
}

/// A configuration write of 1, 2 or 4 bytes at any offset: the aperture
/// control register takes its byte when the write covers offset 0x40.
static void
ConfigWrite (
  TAVRIX_DISPLAY_CORE  *Core,
  PROGRAM              *Program
  )
{
  unsigned  Size   = 1u << (Take (Program, 1) % 3);
  uint8_t   Offset = (uint8_t)Take (Program, 1);
  uint32_t  Value  = (uint32_t)Take (Program, Size);
  uint64_t  Frame;

  if ((Offset <= TAVRIX_CONFIG_APERTURE_CONTROL) && (TAVRIX_CONFIG_APERTURE_CONTROL < Offset + Size)) {
    TavrixCoreWriteApertureControl (Core, (uint8_t)(Value >> (8 * (TAVRIX_CONFIG_APERTURE_CONTROL - Offset))));
  }

  if ((TavrixCoreReadApertureControl (Core) & ~TAVRIX_APERTURE_ENABLE) != 0) {
    abort (); // reserved bits read as 0
  }

  // An access through the aperture: near it or anywhere.
  if (TavrixCoreApertureDecodes (Core, (int)(Value & 1)) &&
      TavrixCoreApertureOffset ((Take (Program, 1) & 1) ? TAVRIX_APERTURE_BASE + Take (Program, 4) : Take (Program, 8), Take (Program, 1) ? Take (Program, 1) : Take (Program, 8), &Frame) &&
      (Frame >= TAVRIX_APERTURE_SIZE))
  {
    abort (); // an offset it accepts lies in the frame buffer
  }
}

/// Every row of a frame up to 256 Ki pixels; of a larger one (up to 2048 x
/// 2048, 40 ms a draw under the sanitizers) the first, the last and the
/// first that lies past the surface's memory, where a surface of the wrong
/// size meets the guard page: the same findings at a hundredth of the cost.
static int
RowWorthDrawing (
  const SURFACE                  *Surface,
  const TAVRIX_DISPLAY_GEOMETRY  *Geometry,
  uint32_t                       Row
  )
{
  return ((uint64_t)Geometry->Width * Geometry->Height <= 0x40000) || (Row == 0) || (Row == Geometry->Height - 1) ||
         ((uint64_t)Row == Surface->Memory.Size / Surface->Stride);
}

/// Draws the frame the registers describe, if any, into the surface, after
/// the core's check; the frame buffer is the whole BAR 0 or a short one.
static void
DrawFrame (
  TAVRIX_DISPLAY_CORE  *Core,
  SURFACE              *Surface,
  GUARDED_BUFFER       *FrameBuffer,
  PROGRAM              *Program
  )
{
  TAVRIX_DISPLAY_GEOMETRY  Geometry;
  uint64_t                 Available = FrameBuffer->Size;
  uint32_t                 Row;

  if (!TavrixCoreDisplayGeometry (Core, &Geometry)) {
    return;
  }

  if (Take (Program, 1) & 1) {
    Available = Take (Program, 4) % (FrameBuffer->Size + 1);
  }

  if (!TavrixCoreSurfaceFits (&Geometry, &Surface->Shape)) {
    SurfaceResize (Surface, Geometry.Width, Geometry.Height, 0, 0);
  }

  for (Row = 0; Row < Geometry.Height && Surface->Memory.Data != NULL; Row++) {
    if (!RowWorthDrawing (Surface, &Geometry, Row)) {
      continue;
    }

    TavrixCoreConvertRow (
      Core,
      &Geometry,
      FrameBuffer->Data + (FrameBuffer->Size - Available),
      Available,
      Row,
      (uint32_t *)(Surface->Memory.Data + (size_t)Row * Surface->Stride)
      );
  }
}

int
LLVMFuzzerTestOneInput (
  const uint8_t  *Data,
  size_t         Size
  )
{
  static TAVRIX_DISPLAY_CORE  *Core;
  static GUARDED_BUFFER       FrameBuffer;
  SURFACE                     Surface = { 0 };
  PROGRAM                     Program = { Data, Size };

  if (Core == NULL) {
    Core = malloc (sizeof (*Core));
    if ((Core == NULL) || !GuardedAllocate (&FrameBuffer, TAVRIX_FRAME_BUFFER_SIZE)) {
      abort ();
    }
  }

  TavrixCoreReset (Core);
  SurfaceResize (&Surface, 640, 480, 0, 1);
  while (Program.Size > 0) {
    switch (Take (&Program, 1) % 9) {
      case 0:
      case 1:
        RegisterAccess (Core, &Program, 1);
        break;
      case 2:
        RegisterAccess (Core, &Program, 0);
        break;
      case 3:
        PortAccess (Core, &Program, 1);
        break;
      case 4:
        PortAccess (Core, &Program, 0);
        break;
      case 5:
        ConfigWrite (Core, &Program);
        break;
      case 6:
        DrawFrame (Core, &Surface, &FrameBuffer, &Program);
        break;
      case 7:
        // The VGA takes the console: its text refresh resizes the surface
        // to its own screen, and may leave it shared with its planes.
        SurfaceResize (&Surface, 8 * (1 + Take (&Program, 1) % 100), 8 * (1 + Take (&Program, 1) % 64), (int)(Take (&Program, 1) & 1), 0);
        break;
      default:
        // A frame-buffer byte from the guest, anywhere in BAR 0.
        FrameBuffer.Data[Take (&Program, 4) % FrameBuffer.Size] = (uint8_t)Take (&Program, 1);
        break;
    }
  }

  GuardedFree (&Surface.Memory);
  return 0;
}
