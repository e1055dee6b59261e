#!/usr/bin/env bash
# The Python module's read against the C++ reader: generates a grid scene of FACES faces
# (default 2,000,000) in memory (/dev/shm), converts it, and times reading the mesh file
# both ways, alternately (ROUNDS rounds, default 7); the files are removed after. Uses the
# release build, configured with -DTESSLOOM_BENCH=ON, with the Python module.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/release
cmake --build --preset release --target gen_scene read_mesh tessloom tessloom_python >/dev/null
python=$(sed -n 's/^Python3_EXECUTABLE:FILEPATH=//p' "$build/CMakeCache.txt")
work=$(mktemp -d /dev/shm/tessloom-read.XXXXXX)
trap 'rm -rf "$work"' EXIT
"$build/bench/gen_scene" "$work/s.ase" --faces "${FACES:-2000000}"
"$build/tessloom" "$work/s.ase" "$work/s.obj"
rm "$work/s.ase"
PYTHONPATH=$build/python "$python" bench/python_read.py --reader "$build/bench/read_mesh" \
    --rounds "${ROUNDS:-7}" "$work/s.obj"
