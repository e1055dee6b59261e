#!/usr/bin/env bash
# Installs a build of tessloom into a temporary prefix and converts scenes as a step of a
# user's Ninja build through the installed CMake package (tests/meshes/, two calls): three
# scenes converted to the bytes they must give, nothing on a second build, only a touched
# scene again; an EACH scene that grows and shrinks, its stale files removed, every file
# listed in its stamp, installed and cleaned; MESH and OPTIONS reaching the converter; a
# broken scene failing the build with tessloom's message; BATCH giving what one command per
# scene gives; and tessloom_add_meshes's
# argument checks, within a call and across calls. Arguments: the build folder and the scene
# generator. Exit 77 (skipped) without ninja.
set -euo pipefail
build=$(realpath "$1")
gen_scene=$(realpath "$2")
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
# README shows this project as it is
readme=$(<README.md) project=$(<tests/meshes/CMakeLists.txt)
[[ "$readme" == *"$project"* ]] || { echo "README lacks tests/meshes/CMakeLists.txt as it is"; exit 1; }
# generated scenes, each with the mesh file it must give, computed from the generated numbers
"$gen_scene" "$game/art/crate.ase" --faces 2 --expected "$work/expected/crate.obj"
"$gen_scene" "$game/art/tree.ase" --faces 40 --expected "$work/expected/tree.obj"
"$gen_scene" "$game/art/ship.ase" --faces 7 --sub-materials 3 \
    --expected "$work/expected/ship.obj"
# A scene of N meshes of one vertex and one face each, the vertex of mesh i at (i, 0, 0).
vehicle() {
    for ((i = 0; i < $1; i++)); do
        printf '*GEOMOBJECT {\n*NODE_NAME "part %d"\n*MESH {\n*MESH_NUMVERTEX 1\n' "$i"
        printf '*MESH_NUMFACES 1\n*MESH_VERTEX 0 %d 0 0\n*MESH_FACE 0: A: 0 B: 0 C: 0\n}\n}\n' "$i"
    done
}
vehicle 3 >"$game/art/vehicle.ase"
cmake -G Ninja -S "$game" -B "$game/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null

# Builds the game; the scenes the build converted, sorted on one line, must be "$1".
build_converts() {
    out=$(ninja -C "$game/build")
    [ "$(grep -o 'Converting art/[a-z]*\.ase' <<<"$out" | sed 's|.*/||' | sort | xargs)" = "$1" ] ||
        { echo "$out"; exit 1; }
}
build_converts "crate.ase ship.ase tree.ase vehicle.ase"
for mesh in crate tree ship; do
    cmp "$game/build/meshes/$mesh.obj" "$work/expected/$mesh.obj"
done

# The EACH scene's files; the stamp must list them, one absolute path a line.
each_files() { (cd "$game/build/meshes" && ls | grep -E '^vehicle\.[0-9]+\.obj$' | sort -V | xargs); }
stamp_lists() {
    local expected=
    for f in $(each_files); do expected+="$game/build/meshes/$f"$'\n'; done
    [ "$(cat "$game/build/meshes/vehicle.each")"$'\n' = "$expected" ] ||
        { echo "the stamp lists: $(cat "$game/build/meshes/vehicle.each")"; exit 1; }
}
# Each of the vehicle's files is what tessloom --each gives for the scene.
each_bytes() {
    rm -rf "$work/each" && mkdir "$work/each"
    "$prefix/bin/tessloom" --each "$game/art/vehicle.ase" "$work/each/vehicle.obj"
    for f in $(each_files); do cmp "$game/build/meshes/$f" "$work/each/$f"; done
    [ "$(cd "$work/each" && ls | sort -V | xargs)" = "$(each_files)" ]
}
[ "$(each_files)" = "vehicle.0.obj vehicle.1.obj vehicle.2.obj" ] || { each_files; exit 1; }
[ "$(stat -c %s "$game/build/meshes/vehicle.1.obj")" = 128 ] # one vertex, one face
stamp_lists
each_bytes

# the list of the EACH files changed: CMake runs once more, so that clean knows them, and
# converts nothing
build_converts ""
grep -q 'Re-running CMake' <<<"$out" || { echo "$out"; exit 1; }
out=$(ninja -C "$game/build" -d explain 2>&1)
[ "$out" = "ninja: Entering directory \`$game/build'"$'\n'"ninja: no work to do." ] ||
    { echo "a second build did work: $out"; exit 1; }

# the vehicle shrinks to one mesh: the two files it no longer gives go, a file of the
# user's that only looks like one stays
echo mine >"$game/build/meshes/vehicle.7.txt"
echo mine >"$game/build/meshes/vehicle.x.obj"
# a stamp edited by hand: only the files the scene's conversions write are removed
printf 'x\n%s\n' "$game/build/meshes/vehicle.7.txt" "$game/build/meshes/vehicle.x.obj" \
    >>"$game/build/meshes/vehicle.each"
vehicle 1 >"$game/art/vehicle.ase"
build_converts vehicle.ase
[ "$(each_files)" = "vehicle.0.obj" ] || { each_files; exit 1; }
stamp_lists
each_bytes
[ "$(cat "$game/build/meshes/vehicle.7.txt" "$game/build/meshes/vehicle.x.obj")" = "mine
mine" ]
rm "$game/build/meshes/vehicle.x.obj"
ninja -C "$game/build" >/dev/null

cmake --install "$game/build" --prefix "$work/installed" >/dev/null
[ "$(cd "$work/installed/share/game/meshes" && ls | xargs)" = \
    "crate.obj ship.obj tree.obj vehicle.0.obj" ] || { ls "$work/installed/share/game/meshes"; exit 1; }
cmp "$work/installed/share/game/meshes/vehicle.0.obj" "$game/build/meshes/vehicle.0.obj"

touch -d '1 minute ago' "$game/build/meshes/crate.obj" "$game/build/meshes/ship.obj"
before=$(stat -c %Y "$game/build/meshes/crate.obj" "$game/build/meshes/ship.obj")
touch "$game/art/tree.ase"
build_converts tree.ase
[ "$(stat -c %Y "$game/build/meshes/crate.obj" "$game/build/meshes/ship.obj")" = "$before" ]

# the vehicle grows to two meshes, and clean follows at once: every file goes, those of
# the conversion CMake has not yet seen too (clean runs CMake first)
vehicle 2 >"$game/art/vehicle.ase"
build_converts vehicle.ase
[ "$(each_files)" = "vehicle.0.obj vehicle.1.obj" ] || { each_files; exit 1; }
ninja -C "$game/build" clean >/dev/null
[ "$(ls -A "$game/build/meshes" | xargs)" = "vehicle.7.txt" ] || { ls -A "$game/build/meshes"; exit 1; }

printf '*MESH_NUMVERTEX 99999\n' >"$game/art/ship.ase" # more than the file can hold
if out=$(ninja -C "$game/build" 2>&1); then
    echo "a broken scene did not fail the build: $out"
    exit 1
fi
grep -q '^tessloom: .*ship\.ase' <<<"$out" || { echo "no converter message in: $out"; exit 1; }

# A project of its own calls; its CMakeLists.txt holds the calls given.
project_of() {
    rm -rf "$work/call" && mkdir -p "$work/call/art"
    vehicle 3 >"$work/call/art/vehicle.ase"
    printf 'cmake_minimum_required(VERSION 3.25)\nproject(p LANGUAGES NONE)\n%s\n%s\n' \
        'find_package(tessloom CONFIG REQUIRED)' "$1" >"$work/call/CMakeLists.txt"
}

# MESH and OPTIONS reach the converter: each call with the tessloom arguments that must give
# the same file, or the message with which its build must fail.
builds=(
    "MESH 1|--mesh=1"
    "MESH [[part 2]]|--mesh=part 2"
    "OPTIONS --fix|--fix"
    "OPTIONS --strict|!--strict: nothing written"
    "OPTIONS --bogus|!tessloom: unknown option --bogus"
    "MESH 9|!no mesh 9; the scene holds 3 meshes"
)
for entry in "${builds[@]}"; do
    project_of "tessloom_add_meshes(t SCENES art/vehicle.ase OUTPUT_DIRECTORY m ${entry%%|*})"
    cmake -G Ninja -S "$work/call" -B "$work/call/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
    expected=${entry#*|}
    if [ "${expected:0:1}" = "!" ]; then
        if out=$(ninja -C "$work/call/build" 2>&1); then echo "${entry%%|*} built: $out"; exit 1; fi
        grep -qF -- "${expected:1}" <<<"$out" || { echo "$out"; exit 1; }
    else
        ninja -C "$work/call/build" >/dev/null
        "$prefix/bin/tessloom" "$expected" "$work/call/art/vehicle.ase" "$work/expected.obj"
        cmp "$work/call/build/m/vehicle.obj" "$work/expected.obj"
    fi
done

# BATCH: one command for all the scenes of a call, the same files as one command each, the
# same OUTPUTS_VARIABLE; nothing on a second build, every scene again when one changed, a
# broken scene failing the build with tessloom's message.
batch_builds=(
    "art/crate.ase art/tree.ase OUTPUT_DIRECTORY m"
    "art/vehicle.ase art/crate.ase OUTPUT_DIRECTORY m EACH"
    "art/vehicle.ase art/tree.ase OUTPUT_DIRECTORY m/ MERGE OPTIONS --fix"
)
for entry in "${batch_builds[@]}"; do
    for batch in "" BATCH; do
        project_of "tessloom_add_meshes(t SCENES $entry $batch OUTPUTS_VARIABLE made)
file(WRITE \${CMAKE_BINARY_DIR}/made.txt \"\${made}\")"
        "$gen_scene" "$work/call/art/crate.ase" --faces 2
        "$gen_scene" "$work/call/art/tree.ase" --faces 40
        cmake -G Ninja -S "$work/call" -B "$work/call/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
        out=$(ninja -C "$work/call/build")
        if [ -n "$batch" ]; then
            grep -q 'Converting 2 scenes in one batch (t)' <<<"$out" || { echo "$out"; exit 1; }
            [ "$(cat "$work/call/build/made.txt")" = "$made" ] || { echo "$entry: outputs differ"; exit 1; }
            [ "$(cd "$work/call/build/m" && ls -A | xargs)" = "$files" ] || { ls -A "$work/call/build/m"; exit 1; }
            for f in $files; do cmp "$work/call/build/m/$f" "$work/one/$f"; done
            out=$(ninja -C "$work/call/build")
            grep -q 'no work to do' <<<"$out" || { echo "a second build did work: $out"; exit 1; }
            # file times come from a clock that moves in steps of a few milliseconds: a
            # scene changed in the step its output was written in would look unchanged
            sleep 0.05
            touch "$work/call/art/tree.ase" "$work/call/art/vehicle.ase"
            out=$(ninja -C "$work/call/build")
            grep -q 'Converting 2 scenes in one batch (t)' <<<"$out" || { echo "$out"; exit 1; }
        else
            made=$(cat "$work/call/build/made.txt")
            files=$(cd "$work/call/build/m" && ls -A | xargs)
            rm -rf "$work/one" && cp -r "$work/call/build/m" "$work/one"
        fi
    done
done
sleep 0.05
printf '*MESH_NUMVERTEX 99999\n' >"$work/call/art/tree.ase"
if out=$(ninja -C "$work/call/build" 2>&1); then echo "a broken scene built: $out"; exit 1; fi
grep -q '^tessloom: .*tree\.ase' <<<"$out" || { echo "no converter message in: $out"; exit 1; }

# Each set of calls that must be refused when CMake runs, with the message it must give.
calls=(
    "t OUTPUT_DIRECTORY m|no SCENES given"
    "t SCENES a.ase|no OUTPUT_DIRECTORY given"
    "t SCENES a.ase OUTPUT_DIRECTORY m MERGE EACH|MERGE and EACH exclude each other"
    "t SCENES a.ase OUTPUT_DIRECTORY m EACH MESH 0|EACH and MESH exclude each other"
    "t SCENES a.ase OUTPUT_DIRECTORY m MESH x MERGE|MERGE and MESH exclude each other"
    "t SCENES a.ase OUTPUT_DIRECTORY m MESH|MESH needs a value"
    "t SCENES a.ase OUTPUT_DIRECTORY m OUTPUTS_VARIABLE|OUTPUTS_VARIABLE needs a value"
    "t SCENES a.ase OUTPUT_DIRECTORY m OPTIONS --fix --each|OPTIONS --each: use EACH instead"
    "t SCENES a.ase OUTPUT_DIRECTORY m SPLIT|unknown arguments: SPLIT"
    "t SCENES a.ase OUTPUT_DIRECTORY m BATCH MESH 0|BATCH and MESH exclude each other"
    "t SCENES a.ase b.model OUTPUT_DIRECTORY m BATCH|BATCH names b.model's output by replacing the last four characters"
    "t SCENES a.ase x/a.ase OUTPUT_DIRECTORY m BATCH|a.ase (t) and x/a.ase (t) would write the same mesh file"
    "t SCENES x/a.ase y/a.ase OUTPUT_DIRECTORY m|x/a.ase (t) and y/a.ase (t) would write the same mesh file $work/call/build/m/a.obj"
    "a SCENES art/tree.ase OUTPUT_DIRECTORY m) tessloom_add_meshes(b SCENES art2/tree.ase OUTPUT_DIRECTORY ./m/|art/tree.ase (a) and art2/tree.ase (b) would write the same mesh file"
    "a SCENES tree.ase OUTPUT_DIRECTORY m EACH) tessloom_add_meshes(b SCENES x/tree.1.ase OUTPUT_DIRECTORY m|tree.ase (a) and x/tree.1.ase (b) would write the same mesh file $work/call/build/m/tree.1.obj"
    "a SCENES x/tree.1.ase OUTPUT_DIRECTORY m) tessloom_add_meshes(b SCENES tree.ase OUTPUT_DIRECTORY m EACH|x/tree.1.ase (a) and tree.ase (b) would write the same mesh file $work/call/build/m/tree.1.obj"
)
for entry in "${calls[@]}"; do
    call="tessloom_add_meshes(${entry%%|*})"
    project_of "${call//) /)$'\n'}" # one call a line
    if out=$(cmake -S "$work/call" -B "$work/call/build" -DCMAKE_PREFIX_PATH="$prefix" 2>&1); then
        echo "tessloom_add_meshes(${entry%%|*}) was accepted"
        exit 1
    fi
    # CMake wraps long messages: compare with the line breaks and indents taken out
    flat=$(tr -s ' \n' '  ' <<<"$out")
    grep -qF -- "tessloom_add_meshes: ${entry#*|}" <<<"$flat" || { echo "$entry: $out"; exit 1; }
done
# the same scene names in other folders, or one with EACH and another without, are fine
project_of "tessloom_add_meshes(a SCENES x/tree.ase OUTPUT_DIRECTORY m)
tessloom_add_meshes(b SCENES y/tree.ase OUTPUT_DIRECTORY n)
tessloom_add_meshes(c SCENES z/tree.ase OUTPUT_DIRECTORY o EACH)
tessloom_add_meshes(d SCENES tree.1.ase OUTPUT_DIRECTORY n EACH)"
cmake -S "$work/call" -B "$work/call/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
echo "build step test: passed"
