#!/usr/bin/env bash
# Installs a build of tessloom into a temporary prefix and converts scenes as a step of a
# user's Ninja build through the installed CMake package (tests/meshes/): three scenes
# converted to the bytes they must give, nothing on a second build, only a touched scene again, a
# broken scene failing the build with tessloom's message, and tessloom_add_meshes's
# argument checks. Argument: the build folder. Exit 77 (skipped) without ninja.
set -euo pipefail
build=$(realpath "$1")
cd "$(dirname "$0")/.."
command -v ninja >/dev/null || {
    echo "skipped: no ninja (scripts/setup.sh installs ninja-build)"
    exit 77
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

game=$work/game
mkdir -p "$game/art" "$work/expected"
cp tests/meshes/CMakeLists.txt "$game/"
# generated scenes, each with the mesh file it must give, computed from the generated numbers
"$build/gen_scene" "$game/art/crate.ase" --faces 2 --expected "$work/expected/crate.obj"
"$build/gen_scene" "$game/art/tree.ase" --faces 40 --expected "$work/expected/tree.obj"
"$build/gen_scene" "$game/art/ship.ase" --faces 7 --sub-materials 3 \
    --expected "$work/expected/ship.obj"
cmake -G Ninja -S "$game" -B "$game/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null

# Prints the scenes a build converted, sorted, on one line.
converted() { grep -o 'Converting art/[a-z]*\.ase' <<<"$1" | sed 's|.*/||' | sort | xargs; }
out=$(ninja -C "$game/build")
[ "$(converted "$out")" = "crate.ase ship.ase tree.ase" ] || { echo "$out"; exit 1; }
for mesh in crate tree ship; do
    cmp "$game/build/meshes/$mesh.obj" "$work/expected/$mesh.obj"
done

out=$(ninja -C "$game/build" -d explain 2>&1)
[ "$out" = "ninja: Entering directory \`$game/build'"$'\n'"ninja: no work to do." ] ||
    { echo "a second build did work: $out"; exit 1; }

touch -d '1 minute ago' "$game/build/meshes/crate.obj" "$game/build/meshes/ship.obj"
before=$(stat -c %Y "$game/build/meshes/crate.obj" "$game/build/meshes/ship.obj")
touch "$game/art/tree.ase"
out=$(ninja -C "$game/build")
[ "$(converted "$out")" = "tree.ase" ] || { echo "$out"; exit 1; }
[ "$(stat -c %Y "$game/build/meshes/crate.obj" "$game/build/meshes/ship.obj")" = "$before" ]

printf '*MESH_NUMVERTEX 99999\n' >"$game/art/ship.ase" # more than the file can hold
if out=$(ninja -C "$game/build" 2>&1); then
    echo "a broken scene did not fail the build: $out"
    exit 1
fi
grep -q '^tessloom: .*ship\.ase' <<<"$out" || { echo "no converter message in: $out"; exit 1; }

# Each call that must be refused, with the message it must give.
calls=(
    "t OUTPUT_DIRECTORY m|no SCENES given"
    "t SCENES a.ase|no OUTPUT_DIRECTORY given"
    "t SCENES a.ase OUTPUT_DIRECTORY m MERGE EACH|MERGE and EACH exclude each other"
    "t SCENES a.ase OUTPUT_DIRECTORY m SPLIT|unknown arguments: SPLIT"
    "t SCENES x/a.ase y/a.ase OUTPUT_DIRECTORY m|two scenes named a would write the same"
)
for entry in "${calls[@]}"; do
    mkdir -p "$work/call"
    printf 'cmake_minimum_required(VERSION 3.25)\nproject(p LANGUAGES NONE)\n%s\n%s\n' \
        'find_package(tessloom CONFIG REQUIRED)' "tessloom_add_meshes(${entry%%|*})" \
        >"$work/call/CMakeLists.txt"
    if out=$(cmake -S "$work/call" -B "$work/call/build" -DCMAKE_PREFIX_PATH="$prefix" 2>&1); then
        echo "tessloom_add_meshes(${entry%%|*}) was accepted"
        exit 1
    fi
    grep -q "tessloom_add_meshes: ${entry#*|}" <<<"$out" || { echo "$out"; exit 1; }
    rm -rf "$work/call"
done
echo "build step test: passed"
