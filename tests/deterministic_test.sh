#!/usr/bin/env bash
# A conversion is hermetic: the mesh file depends on the scene's bytes alone. Converts every
# scene of the corpus twice, from different folders with relative and absolute paths, under
# different environments (locale, time zone, umask, variables, a copy of the scene under
# another name), and compares the bytes. Arguments: tessloom, the corpus folder.
# Exit 77 (skipped) when the corpus is absent.
set -euo pipefail
shopt -s nullglob
tessloom=$(realpath "$1")
corpus=$2
[ -d "$corpus" ] || {
    echo "skipped: no corpus at $corpus"
    exit 77
}
corpus=$(realpath "$corpus")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/one" "$work/two/deeper/folder" "$work/copies"
compared=0
for scene in "$corpus"/*.ase "$corpus"/*.ASE; do
    name=$(basename "$scene")
    # first: relative paths from the output folder, a bare environment
    one=0 two=0
    (cd "$work/one" && env -i PATH=/usr/bin:/bin LC_ALL=C TZ=UTC \
        bash -c 'umask 022; exec "$@"' - "$tessloom" "$scene" "$name.obj") || one=$?
    # second: a renamed copy, absolute paths from elsewhere, another locale, zone and umask
    cp "$scene" "$work/copies/other-$compared.ase"
    (cd "$work/two/deeper/folder" && env LC_ALL=C.UTF-8 LANG=de_DE.UTF-8 TZ=Pacific/Chatham \
        HOME=/nonexistent TMPDIR="$work" bash -c 'umask 077; exec "$@"' - "$tessloom" \
        "$work/copies/other-$compared.ase" "$work/two/$name.obj") || two=$?
    [ "$one" = "$two" ] || { echo "$name: exit $one, then $two"; exit 1; }
    [ "$one" != 0 ] || cmp "$work/one/$name.obj" "$work/two/$name.obj"
    compared=$((compared + 1))
done
[ "$compared" -gt 0 ] || { echo "no scenes in $corpus"; exit 1; }
echo "deterministic test: $compared scenes, identical bytes"
