#!/usr/bin/env bash
# The committed example firmware must be what its source assembles to.
# usage: example_blink.sh EXAMPLES_DIR AVR_AS AVR_LD AVR_OBJCOPY
set -euo pipefail
examples=$1 as=$2 ld=$3 objcopy=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$as" -mmcu=at90s8535 -o "$work/blink.o" "$examples/blink.S"
"$ld" -e main -o "$work/blink.elf" "$work/blink.o"
"$objcopy" -O ihex "$work/blink.elf" "$work/blink.hex"
cmp "$work/blink.hex" "$examples/blink.hex"
