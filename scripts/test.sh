#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test through
# CTest, twice: a normal build, and one with AddressSanitizer and
# UndefinedBehaviorSanitizer. Before that, the fuzz corpora are replayed
# through the parsers; after it, the Debian package is built from the normal
# build, installed, tried and removed. BRENWICK_QUICK=1 runs the normal
# build's tests only.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 2)

run_suite() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  ctest --test-dir "$dir" --output-on-failure -j"$jobs"
}

if [ "${BRENWICK_QUICK:-0}" != 1 ]; then
  bash scripts/fuzz.sh --replay
  # Qt keeps a few allocations for the life of the process; none of ours may leak.
  export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  # Light optimisation and line tables only: the sanitizers' reports keep
  # their file and line, and the build takes far less time than -O2 -g.
  run_suite build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRENWICK_SANITIZE=ON \
    -DBRENWICK_BUILD_BENCH=OFF -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG"
fi
run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
if [ "${BRENWICK_QUICK:-0}" != 1 ]; then
  BUILD=build bash scripts/package-check.sh
fi
