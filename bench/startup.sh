#!/usr/bin/env bash
# The start-up benchmark: one tessloom process per scene over a folder (default: the corpus),
# interleaved with a static do-nothing program (the floor) and the import-library peer when
# it was built; then box.ase alone. OLD=path/to/tessloom adds an older binary, run side by
# side: its line gives `tessloom / old`, new over old, for wall and CPU time.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null
bin=build/bench
folder=${1:-../shared/corpus/ase}
programs=(--converter "tessloom=$bin/tessloom")
[ -n "${OLD:-}" ] && programs+=(--converter "old=$OLD")
programs+=(--floor "$bin/bench/noop")
[ -x "$bin/bench/assimp_peer" ] && programs+=(--peer "assimp=$bin/bench/assimp_peer")
mkdir -p "$bin/startup"
shopt -s nullglob nocaseglob
scenes=("$folder"/*.ase)
[ "${#scenes[@]}" -gt 0 ] || { echo "no .ase files in $folder"; exit 1; }
# FRESH=1: every output is new, as in a first conversion, instead of replacing the last one
fresh=()
[ -n "${FRESH:-}" ] && fresh=(--fresh)
"$bin/bench/startup" --rounds "${ROUNDS:-11}" --out "$bin/startup" "${fresh[@]}" "${programs[@]}" \
    "${scenes[@]}"
"$bin/bench/startup" --rounds "${BOX_ROUNDS:-101}" --out "$bin/startup" "${fresh[@]}" \
    "${programs[@]}" examples/box.ase
