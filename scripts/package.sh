#!/usr/bin/env bash
# Builds the Debian package brenwick_<version>_amd64.deb from a build folder
# (BUILD, default build; configured and built here when needed) and prints
# its path.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh >&2

build=${BUILD:-build}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >&2
fi
cmake --build "$build" -j"${JOBS:-$(nproc 2>/dev/null || echo 2)}" >&2
(cd "$build" && cpack -G DEB >&2)
ls "$PWD/$build"/brenwick_*_amd64.deb | tail -n 1
