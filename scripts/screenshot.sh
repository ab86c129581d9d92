#!/usr/bin/env bash
# Renders the real main window offscreen into docs/screenshot.png: a fresh
# temporary settings folder, COM2 mapped to a simulated AT90S8535, one Auto
# Detect. No display and no serial port are needed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

build=${BUILD:-build}
cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target brenwick-screenshot -j"${JOBS:-2}"
QT_QPA_PLATFORM=offscreen "$build/app/brenwick-screenshot" docs/screenshot.png
echo "wrote docs/screenshot.png"
