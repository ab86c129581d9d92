#!/usr/bin/env bash
# Files we write must read into the same bytes in srec_cat and avr-objcopy,
# and files avr-objcopy writes must read into the same image here.
# usage: hex_peers.sh TOOL SRECCAT AVROBJCOPY SIZE
set -euo pipefail
tool=$1 srec_cat=$2 objcopy=$3 size=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

"$tool" random "$size" "$size" random.bin

"$tool" write random.bin ours.hex
"$srec_cat" ours.hex -intel -o srec.bin -binary 2>srec.log || { cat srec.log; exit 1; }
cmp random.bin srec.bin
"$objcopy" -I ihex -O binary ours.hex objcopy.bin
cmp random.bin objcopy.bin

"$objcopy" -I binary -O ihex random.bin theirs.hex
if [ "$size" -gt 65536 ] && ! grep -q '^:02000002' theirs.hex; then
  echo "expected extended segment address records from avr-objcopy" >&2
  exit 1
fi
"$tool" read theirs.hex "$size" back.bin
cmp random.bin back.bin

# srec_cat writes extended linear address records above 64 KB, and a start
# address record when asked for one.
"$srec_cat" random.bin -binary -o linear.hex -intel -execution-start-address 0x1234
"$tool" read linear.hex "$size" linear.bin
cmp random.bin linear.bin
echo "peers agree on $size bytes"
