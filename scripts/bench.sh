#!/usr/bin/env bash
# Builds in Release and runs every benchmark; figures go to standard output
# and, as JSON, to build-bench/results/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

build=build-bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRENWICK_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)"
mkdir -p "$build/results"

for b in "$build"/bench/*_bench; do
  [ -x "$b" ] || continue
  name=$(basename "$b")
  echo "== $name"
  QT_QPA_PLATFORM=offscreen "$b" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    --benchmark_out="$build/results/$name.json" --benchmark_out_format=json
done
for s in bench/*.sh; do
  [ -f "$s" ] || continue
  echo "== $(basename "$s")"
  BUILD="$build" bash "$s"
done
