#!/usr/bin/env bash
# Installs the Debian packages the tests need and the machine lacks (scripts/setup.sh); runs
# the micro-benchmarks once with a minimal time, so they keep building and running;
# replays every committed input through both fuzzing targets (the conversion and the mesh
# file reader), then fuzzes them for 100 seconds together; then
# builds and runs the whole test suite, once plainly and once under ASan and UBSan; then
# installs the release build and builds and checks the Debian package.
set -euo pipefail
shopt -s nullglob
cd "$(dirname "$0")/.."
bash scripts/setup.sh test
cmake --preset bench
cmake --build --preset bench
build/bench/bench/bench_scanner --benchmark_min_time=0.01

cmake --preset fuzz
cmake --build --preset fuzz
fuzz=build/fuzz/fuzz
# every committed input once: the seeds, the example scenes, and each past finding
# (fuzz/regressions/*.ase, one file per crash the fuzzer ever found)
"$fuzz/convert_fuzz" -timeout=10 fuzz/corpus/* examples/*.ase fuzz/regressions/*.ase
# the reader's seeds: the converter's mesh files of the same scenes
mkdir -p build/fuzz/corpus build/fuzz/read-corpus build/fuzz/read-seeds
for scene in fuzz/corpus/*.ase examples/*.ase; do
    build/fuzz/tessloom "$scene" "build/fuzz/read-seeds/$(basename "$scene" .ase).obj"
done
"$fuzz/read_fuzz" -timeout=10 build/fuzz/read-seeds/* fuzz/regressions/*.obj
# the fuzzing time, split between the two targets
seconds=${FUZZ_SECONDS:-100}
"$fuzz/convert_fuzz" -max_total_time="$((seconds * 3 / 5))" -timeout=10 -rss_limit_mb=4096 \
    -dict=fuzz/ase.dict -print_final_stats=1 -artifact_prefix=build/fuzz/ build/fuzz/corpus \
    fuzz/corpus examples
"$fuzz/read_fuzz" -max_total_time="$((seconds * 2 / 5))" -timeout=10 -rss_limit_mb=4096 \
    -print_final_stats=1 -artifact_prefix=build/fuzz/ build/fuzz/read-corpus build/fuzz/read-seeds
for preset in release debug; do
    cmake --preset "$preset"
    cmake --build --preset "$preset"
    ctest --preset "$preset"
done
# installed as a user would: the programs, the manuals, a consumer of the reader, the package
bash tests/install_test.sh
