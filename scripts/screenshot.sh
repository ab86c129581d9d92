#!/usr/bin/env bash
# Renders the real windows offscreen into docs/: the main window
# (screenshot.png: COM2 mapped to a simulated ATmega328P, examples/thermo.hex
# opened and written),
# the Other Device chooser (chooser.png) and the Fuses window of a simulated
# ATmega328P (fuses.png), each from a fresh temporary settings folder. No
# display and no serial port are needed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

build=${BUILD:-build}
cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target brenwick-screenshot -j"${JOBS:-2}"
for shot in window:screenshot chooser:chooser fuses:fuses; do
  program=()
  if [ "${shot%%:*}" = window ]; then program=(examples/thermo.hex); fi
  QT_QPA_PLATFORM=offscreen "$build/app/brenwick-screenshot" "docs/${shot#*:}.png" \
    "${shot%%:*}" "${program[@]}"
  echo "wrote docs/${shot#*:}.png"
done
