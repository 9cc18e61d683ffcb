#!/bin/sh
# Rebuilds the layout samples with Debian's gcc-arm-none-eabi. Each is a layout that real
# linkers write and that a post-build step must handle:
#   lpc2148.elf        ARM7TDMI-S (LPC2000) image: an ARM-state exception table of PC loads,
#                      checksum in the reserved word 0x14       (vortle lpc2148.elf)
#   app1000.elf        application at 0x1000 whose first segment, at address 0, also holds
#                      the ELF and program headers              (vortle app1000.elf 'BA(0x1000)')
#   bss-past-end.elf   application at 0x2000 whose zero-initialised segment has no file bytes
#                      and a file offset past the end of the file
#                                                               (vortle bss-past-end.elf BINARY 'BA(0x2000)')
#   data-gap.elf       code that ends off a word boundary: the initialised data's load address
#                      leaves a gap                             (vortle data-gap.elf BINARY 'BA(0x1A000000)')
#   far-regions.elf    the same with a table in a second flash bank 16 MiB higher: the image
#                      spans 16 MiB                             (vortle far-regions.elf BINARY 'BA(0x1A000000)')
#   lpc2148-crp3.elf   lpc2148.elf with a CRP3 word at 0x1FC   (vortle lpc2148-crp3.elf CRP3)
set -eu
cd "$(dirname "$0")"
CC=${CC:-arm-none-eabi-gcc}
M3=../lpc1768-blinky
COMMON="-Os -ffreestanding -nostdlib -nostartfiles -Wall -Wextra -Wl,--gc-sections -Wl,--build-id=none"
CM3="-mcpu=cortex-m3 -mthumb $COMMON"
CM4="-mcpu=cortex-m4 -mthumb $COMMON"
SMALL="-Wl,-z,max-page-size=0x100"
$CC -mcpu=arm7tdmi -marm $COMMON $SMALL -T lpc2148.ld -o lpc2148.elf arm7-startup.s arm7-main.c
$CC $CM3 -Wl,-z,max-page-size=0x2000 -T $M3/lpc1768.ld -Wl,--defsym=FLASH_ORIGIN=0x1000 \
    -o app1000.elf $M3/startup.c $M3/main.c
$CC $CM3 -s -Wl,-z,max-page-size=0x10000 -T ahbram.ld -o bss-past-end.elf $M3/startup.c buffers.c
$CC $CM4 $SMALL -T regions.ld -o data-gap.elf $M3/startup.c gap.c
$CC $CM4 $SMALL -T regions.ld -o far-regions.elf $M3/startup.c gap.c bank-b.c
# The LPC2148 image with a CRP3 word at 0x1FC (vortle lpc2148-crp3.elf refuses it;
# vortle lpc2148-crp3.elf CRP3 signs it).
$CC -mcpu=arm7tdmi -marm $COMMON $SMALL -DCRP_VALUE=0x43218765 -T lpc2148-crp.ld \
    -o lpc2148-crp3.elf arm7-startup.s arm7-main.c $M3/crp.c
