#!/usr/bin/env bash
# Runs the micro-benchmarks once with a minimal time, so they keep building and running;
# fuzzes the whole conversion for two minutes after replaying every committed input; then
# builds and runs the whole test suite, once plainly and once under ASan and UBSan.
set -euo pipefail
shopt -s nullglob
cd "$(dirname "$0")/.."
cmake --preset bench
cmake --build --preset bench
build/bench/bench/bench_scanner --benchmark_min_time=0.01

cmake --preset fuzz
cmake --build --preset fuzz
fuzzer=build/fuzz/fuzz/convert_fuzz
# every committed input once: the seeds, the example scenes, and each past finding
# (fuzz/regressions/*.ase, one file per crash the fuzzer ever found)
"$fuzzer" -timeout=10 fuzz/corpus/* examples/*.ase fuzz/regressions/*.ase
mkdir -p build/fuzz/corpus
"$fuzzer" -max_total_time="${FUZZ_SECONDS:-120}" -timeout=10 -rss_limit_mb=4096 -dict=fuzz/ase.dict \
    -print_final_stats=1 -artifact_prefix=build/fuzz/ build/fuzz/corpus fuzz/corpus examples
for preset in release debug; do
    cmake --preset "$preset"
    cmake --build --preset "$preset"
    ctest --preset "$preset"
done
