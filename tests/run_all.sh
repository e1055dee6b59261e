#!/usr/bin/env bash
# Installs the Debian packages the tests need and the machine lacks (scripts/setup.sh);
# replays every committed input through both fuzzing targets (the conversion and the mesh
# file reader), then fuzzes them side by side, one core each, for 30 seconds each;
# builds the whole test suite with the micro-benchmarks in the release build folder (the
# benchmarks use the same libraries, so they are compiled once), runs the benchmarks once
# with a minimal time (and the library against the tool over the corpus for one round), so
# they keep building and running, and runs the suite; builds and runs the suite again under
# ASan and UBSan, and the library's test on eight threads under TSan; then installs the
# release build and builds and checks the Debian package.
set -euo pipefail
shopt -s nullglob
cd "$(dirname "$0")/.."
bash scripts/setup.sh test

cmake --preset fuzz
cmake --build --preset fuzz --target convert_fuzz read_fuzz tessloom
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
# the fuzzing time in all, split evenly between the two targets, which run at the same time
# (so it takes half as long); each one's output is shown once it ends
seconds=${FUZZ_SECONDS:-60}
each=$((seconds > 1 ? seconds / 2 : 1))  # libFuzzer takes 0 as no limit
"$fuzz/convert_fuzz" -max_total_time="$each" -timeout=10 -rss_limit_mb=4096 \
    -dict=fuzz/ase.dict -print_final_stats=1 -artifact_prefix=build/fuzz/ build/fuzz/corpus \
    fuzz/corpus examples >build/fuzz/convert_fuzz.log 2>&1 &
converting=$!
"$fuzz/read_fuzz" -max_total_time="$each" -timeout=10 -rss_limit_mb=4096 \
    -print_final_stats=1 -artifact_prefix=build/fuzz/ build/fuzz/read-corpus build/fuzz/read-seeds \
    >build/fuzz/read_fuzz.log 2>&1 &
reading=$!
# a run ended early (an interrupt) leaves no fuzzer behind
trap 'kill "$converting" "$reading" 2>/dev/null || true' EXIT
failed=0
wait "$reading" || failed=1
cat build/fuzz/read_fuzz.log
wait "$converting" || failed=1
cat build/fuzz/convert_fuzz.log
trap - EXIT
[ "$failed" = 0 ] || { echo "fuzzing found a fault: see above"; exit 1; }

cmake --preset release -DTESSLOOM_BENCH=ON
cmake --build --preset release
build/release/bench/bench_scanner --benchmark_min_time=0.01
build/release/bench/inprocess --rounds 1
ctest --preset release
# the suite holds the Python module's tests (pytest) where the module was built, and the
# packages above let it build: they must not drop out unseen
compgen -G "build/release/python/tessloom.*.so" >/dev/null ||
    { echo "the Python module was not built: see CMake's message above"; exit 1; }
cmake --preset debug
cmake --build --preset debug
ctest --preset debug
# the conversions on eight threads at once under ThreadSanitizer, a build of its own that
# builds only the library's tests
cmake --preset tsan
cmake --build --preset tsan
ctest --preset tsan
# installed as a user would: the programs, the manuals, consumers of the reader and of the
# converter library, the package
bash tests/install_test.sh
