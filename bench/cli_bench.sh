#!/usr/bin/env bash
# Whole-process real time of brenwick-cli running "erase write-prog
# verify-prog" of a full random 131072-byte image on the simulated ATmega103.
# Goal: under 2 s. BUILD names the build folder (default build), RUNS the
# number of runs (default 5); prints the median and the range.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build}
runs=${RUNS:-5}
cli="$build/cli/brenwick-cli"
if [ ! -x "$cli" ]; then
  echo "cli_bench: $cli not built" >&2
  exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c 131072 /dev/urandom >"$work/image.bin"
# avr-objcopy reaches the upper 64 KB with extended segment address records.
avr-objcopy -I binary -O ihex "$work/image.bin" "$work/image.hex"

for _ in $(seq "$runs"); do
  start=$(date +%s%N)
  "$cli" --quiet --port sim:ATmega103 --device ATmega103 \
    erase write-prog "$work/image.hex" verify-prog "$work/image.hex" >"$work/out.txt"
  end=$(date +%s%N)
  grep -q '^ Verify : Complete$' "$work/out.txt" || { cat "$work/out.txt" >&2; exit 1; }
  echo $(((end - start) / 1000000))
done | sort -n >"$work/times"

median=$(awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }' "$work/times")
echo "brenwick-cli erase write-prog verify-prog, 131072 bytes, sim:ATmega103:" \
  "median ${median} ms over ${runs} runs (min $(head -1 "$work/times") ms," \
  "max $(tail -1 "$work/times") ms)"
