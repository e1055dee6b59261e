#!/usr/bin/env bash
# The batch benchmark: many scenes in one `tessloom --out-dir` process against one process
# per scene, side by side in one run (timeit: the commands take turns, round by round;
# medians of ROUNDS rounds, default 9). Two sets:
#  - the scenes of a folder (default: the corpus): the batch, the floor of as many static
#    do-nothing processes started one after another, one tessloom process per scene one
#    after another, and the same two at a time (xargs -P2);
#  - COUNT generated small scenes (default 1,000, of 2 to 50 KB, in a folder under /dev/shm
#    removed at the end): the batch against one process per scene.
# Every command writes into a folder under /dev/shm; the batch's peak resident memory for
# both sets shows that it does not grow with the number of scenes. BIN=build/release uses
# that build instead of building the bench preset.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${BIN:-}" ]; then
    cmake --preset bench >/dev/null
    cmake --build --preset bench >/dev/null
    BIN=build/bench
fi
T=$(realpath "$BIN/tessloom")
noop=$(realpath "$BIN/bench/noop")
timeit=$(realpath "$BIN/bench/timeit")
gen=$(realpath "$BIN/bench/gen_scene")
folder=$(realpath "${1:-../shared/corpus/ase}")
rounds=${ROUNDS:-9}
count=${COUNT:-1000}
work=$(mktemp -d /dev/shm/tessloom-batch.XXXXXX)
trap 'rm -rf "$work"' EXIT

# A list of scenes (one a line) and, for one process per scene, the pairs scene / output.
lists() { # folder-of-outputs name scene...
    local out=$1 name=$2
    shift 2
    printf '%s\n' "$@" >"$work/$name.scenes"
    : >"$work/$name.pairs"
    for scene in "$@"; do
        base=${scene##*/}
        printf '%s\n%s\n' "$scene" "$out/${base:0:${#base}-4}.obj" >>"$work/$name.pairs"
    done
}

# The commands, each run by timeit through `sh -c exec ...`; standard error (the warnings and
# the batch's count) goes to /dev/null alike.
compare() { # name
    local name=$1
    # all the scenes in one file, for timeit's MB/s: of all the scenes together
    xargs -d '\n' cat <"$work/$name.scenes" >"$work/$name.all"
    mkdir -p "$work/$name-batch" "$work/$name-one"
    local commands=(
        "batch=$T --quiet --out-dir $work/$name-batch --from $work/$name.scenes 2>/dev/null"
        "noop=xargs -d '\n' -n2 $noop <$work/$name.pairs"
        "one-each=xargs -d '\n' -n2 $T <$work/$name.pairs 2>/dev/null"
    )
    [ "$name" = corpus ] && commands+=("xargs-P2=xargs -d '\n' -n2 -P2 $T <$work/$name.pairs 2>/dev/null")
    "$timeit" --runs "$rounds" --input "$work/$name.all" "${commands[@]}"
}

shopt -s nullglob nocaseglob
corpus=("$folder"/*.ase)
shopt -u nocaseglob
[ "${#corpus[@]}" -gt 0 ] || { echo "no .ase files in $folder"; exit 1; }
lists "$work/corpus-one" corpus "${corpus[@]}"
echo "${#corpus[@]} scenes of $folder (the last column: batch time / this)"
compare corpus

mkdir -p "$work/gen"
generated=()
for ((i = 0; i < count; i++)); do
    scene=$(printf '%s/gen/s%04d.ase' "$work" "$i")
    "$gen" "$scene" --faces $((2 + i * 37 % 124)) # 2 to 125 faces: 2 to 50 KB
    generated+=("$scene")
done
lists "$work/gen-one" gen "${generated[@]}"
echo "$count generated scenes of $(du -sk "$work/gen" | cut -f1) KB in all"
compare gen
