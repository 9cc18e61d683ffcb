#!/bin/sh
# Rebuilds the sample firmware with Debian's gcc-arm-none-eabi:
#   blinky.elf          linked at 0x0000 (sign with: vortle blinky.elf BINARY)
#   blinky-app2000.elf  linked at 0x2000, behind a bootloader (vortle blinky-app2000.elf BA(0x2000))
#   blinky-be.elf       big-endian build of blinky.elf
#   blinky.hex, blinky.s19, blinky.bin  blinky.elf as Intel HEX, S-records and raw image
set -eu
cd "$(dirname "$0")"
CC=${CC:-arm-none-eabi-gcc}
CFLAGS="-mcpu=cortex-m3 -mthumb -Os -ffreestanding -nostdlib -nostartfiles -Wall -Wextra"
LDFLAGS="-T lpc1768.ld -Wl,--gc-sections -Wl,-z,max-page-size=0x100 -Wl,--build-id=none"
$CC $CFLAGS $LDFLAGS -o blinky.elf startup.c main.c
$CC $CFLAGS $LDFLAGS -Wl,--defsym=FLASH_ORIGIN=0x2000 -o blinky-app2000.elf startup.c main.c
$CC $CFLAGS -mbig-endian $LDFLAGS -o blinky-be.elf startup.c main.c
# The same firmware as the flows that sign a HEX or raw image see it (unsigned):
#   blinky.hex  Intel HEX (vortle blinky.hex)      blinky.bin  raw image at 0 (vortle blinky.bin)
#   blinky.s19  S-records (vortle blinky.s19)
OBJCOPY=${OBJCOPY:-arm-none-eabi-objcopy}
$OBJCOPY -O ihex blinky.elf blinky.hex
$OBJCOPY -O srec blinky.elf blinky.s19
$OBJCOPY -O binary blinky.elf blinky.bin && chmod 644 blinky.bin
# With a code read protection word at 0x2FC, one file per level (crp.c, lpc1768-crp.ld):
#   blinky-crp1.elf, blinky-crp2.elf, blinky-crp3.elf, blinky-noisp.elf
for level in crp1:0x12345678 crp2:0x87654321 crp3:0x43218765 noisp:0x4E697370; do
  $CC $CFLAGS -DCRP_VALUE=${level#*:} -T lpc1768-crp.ld ${LDFLAGS#-T lpc1768.ld} \
      -o blinky-${level%%:*}.elf startup.c main.c crp.c
done
