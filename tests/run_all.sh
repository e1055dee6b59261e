#!/usr/bin/env bash
# Runs the micro-benchmarks once with a minimal time, so they keep building and running;
# then builds and runs the whole test suite, once plainly and once under ASan and UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset bench
cmake --build --preset bench
build/bench/bench/bench_scanner --benchmark_min_time=0.01
for preset in release debug; do
    cmake --preset "$preset"
    cmake --build --preset "$preset"
    ctest --preset "$preset"
done
