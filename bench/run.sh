#!/usr/bin/env bash
# The speed benchmark: generates (or reuses) grid scenes of 200,000 and 2,000,000 faces and
# times whole conversions, alternating with the import-library peer when it was built.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null
bin=build/bench
scenes=${SCENES:-$bin/scenes}
mkdir -p "$scenes"
for faces in 200000 2000000; do
    scene=$scenes/grid$faces.ase
    [ -s "$scene" ] || "$bin/bench/gen_scene" "$scene" --faces "$faces"
    commands=("tessloom=$bin/tessloom $scene $scenes/grid$faces.obj")
    [ -x "$bin/bench/assimp_peer" ] && commands+=("assimp=$bin/bench/assimp_peer $scene")
    "$bin/bench/timeit" --runs "${RUNS:-5}" --input "$scene" "${commands[@]}"
done
