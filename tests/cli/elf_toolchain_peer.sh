#!/usr/bin/env bash
# avr-gcc as the peer: a program with fuses, lock bits, EEPROM and the
# signature declared through avr-libc is compiled to ELF; what brenwick-cli
# writes from the ELF must be what avr-objcopy's Intel HEX and raw sections of
# the same file hold.
#   elf_toolchain_peer.sh BRENWICK_CLI AVR_GCC AVR_OBJCOPY
set -euo pipefail
cli=$1
gcc=$2
objcopy=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

cat > main.c <<'C'
#include <avr/eeprom.h>
#include <avr/fuse.h>
#include <avr/io.h>
#include <avr/lock.h>
#include <avr/signature.h>

FUSES = {.low = 0xE2, .high = 0xD1, .extended = 0xFD};
LOCKBITS = LB_MODE_3;
uint8_t EEMEM table[5] = {1, 2, 3, 4, 5};
volatile uint8_t counter = 7;
const char text[] = "brenwick";

int main(void) {
    DDRB = 1;
    for (;;) {
        PORTB ^= counter + text[counter & 7];
    }
}
C
"$gcc" -mmcu=atmega328p -Os -o main.elf main.c
"$objcopy" -O ihex -j .text -j .data main.elf main.hex
"$objcopy" -O ihex -j .eeprom --change-section-lma .eeprom=0 main.elf main.eep
"$objcopy" -O binary -j .fuse main.elf fuse.bin
read -r low high extended < <(od -An -tx1 fuse.bin)

port=sim:ATmega328P,state=chip.txt
# From the ELF, verified against avr-objcopy's images and fuse bytes; the
# lock bits last, as they stop reading the memories.
"$cli" -P "$port" -p m328p -e -U flash:w:main.elf:e -U eeprom:w:main.elf:e \
  -U flash:v:main.hex:i -U eeprom:v:main.eep:i \
  -U lfuse:w:main.elf:e -U hfuse:w:main.elf:e -U efuse:w:main.elf:e \
  -U "lfuse:v:0x$low:m" -U "hfuse:v:0x$high:m" -U "efuse:v:0x$extended:m" \
  -U lock:w:main.elf:e -U lock:v:0xFC:m
# And the other way round: avr-objcopy's HEX written, the ELF verified.
"$cli" -P sim:ATmega328P -p m328p -U flash:w:main.hex:i -U flash:v:main.elf:e \
  -U eeprom:w:main.eep:i -U eeprom:v:main.elf:e
echo "ELF and avr-objcopy images agree"
