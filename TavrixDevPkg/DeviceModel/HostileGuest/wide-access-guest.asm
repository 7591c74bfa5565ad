; A guest of a few instructions that makes real 64-bit accesses to the
; display controller's register file, as a CPU's movq does: QEMU's memory
; core sees one access of size 8, which a qtest writeq never produces (it
; arrives split already).
;
; QEMU loads it with -kernel (a multiboot image: 32-bit protected mode, flat
; segments, paging off) on a pc machine with the card at 00:04.0. It moves
; BAR 1 to 0xC0000000, turns memory decoding on and then:
;   1. stores the quadword 0x5566778811223344 at BAR 1 + 0x304;
;   2. writes 0xA1B2C3D4 at + 0x30C and 0x0F1E2D3C at + 0x310 as dwords and
;      loads them back as one quadword from + 0x30C, kept at 0x7000;
; and announces "WIDE-ACCESS-DONE" on COM1. The harness reads the registers
; and 0x7000 through the monitor.
;
; Build: nasm -f bin -o wide-access-guest.bin wide-access-guest.asm

BITS 32
ORG 0x100000

MULTIBOOT_MAGIC  equ 0x1BADB002
MULTIBOOT_FLAGS  equ 0x00010000          ; the load addresses below are given
CONFIG_ADDRESS   equ 0xCF8
CONFIG_DATA      equ 0xCFC
CARD             equ 0x80000000 | (4 << 11)
BAR1             equ 0xC0000000
RESULT           equ 0x7000
COM1             equ 0x3F8

header:
  dd MULTIBOOT_MAGIC, MULTIBOOT_FLAGS, -(MULTIBOOT_MAGIC + MULTIBOOT_FLAGS)
  dd header, header, image_end, image_end, start

start:
  mov   dx, CONFIG_ADDRESS
  mov   eax, CARD | 0x14                   ; BAR 1
  out   dx, eax
  mov   dx, CONFIG_DATA
  mov   eax, BAR1
  out   dx, eax
  mov   dx, CONFIG_ADDRESS
  mov   eax, CARD | 0x04                   ; command register
  out   dx, eax
  mov   dx, CONFIG_DATA
  mov   ax, 0x0002                         ; memory decoding
  out   dx, ax

  movq  mm0, [pattern]
  movq  [BAR1 + 0x304], mm0                ; one 8-byte store at a 4-aligned offset

  mov   dword [BAR1 + 0x30C], 0xA1B2C3D4
  mov   dword [BAR1 + 0x310], 0x0F1E2D3C
  movq  mm1, [BAR1 + 0x30C]                ; one 8-byte load at a 4-aligned offset
  movq  [RESULT], mm1
  emms

  mov   esi, message
  mov   dx, COM1
.next:
  lodsb
  test  al, al
  jz    .halt
  out   dx, al
  jmp   .next
.halt:
  cli
  hlt
  jmp   .halt

pattern: dq 0x5566778811223344
message: db "WIDE-ACCESS-DONE", 10, 0
image_end:
