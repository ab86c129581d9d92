#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs them.
#   scripts/fuzz.sh --replay      run every corpus input once (regression, seconds)
#   scripts/fuzz.sh SECONDS       fuzz each target for SECONDS, growing its corpus
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

build=${FUZZ_BUILD:-build-fuzz}
CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -G Ninja -DBRENWICK_FUZZ=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" >/dev/null
cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)"

mode=${1:---replay}
status=0
for target in "$build"/fuzz/fuzz_*; do
  [ -f "$target" ] && [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus=fuzz/corpus/${name#fuzz_}
  mkdir -p "$corpus"
  if [ "$mode" = "--replay" ]; then
    echo "== replaying $corpus with $name"
    if ! "$target" -runs=0 -artifact_prefix="$(mktemp -d)/" "$corpus" >"$build/$name.log" 2>&1; then
      tail -n 30 "$build/$name.log"
      status=1
    else
      tail -n 1 "$build/$name.log"
    fi
  else
    echo "== fuzzing $name for $mode s"
    work=$(mktemp -d)
    "$target" -max_total_time="$mode" -print_final_stats=1 -artifact_prefix="$work/" \
      "$work" "$corpus" 2>&1 | grep -E 'stat::number_of_executed_units|crash|ERROR|Done' || true
    # Keep what the run found: a minimised merge into the stored corpus (an
    # input that fails again leaves its artifact with the others).
    "$target" -merge=1 -artifact_prefix="$work/" "$corpus" "$work" >/dev/null 2>&1 || true
    # Any one kind of finding fails the run.
    if [ -n "$(find "$work" -maxdepth 1 \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' \
      -o -name 'oom-*' \) -print -quit)" ]; then
      echo "findings kept in $work" >&2
      status=1
    fi
  fi
done
exit $status
