#!/usr/bin/env bash
# Every scene of the corpus that converts, converted plainly and with --merge (and with --fix
# when tessloom offers it) and exported with tessloom-inspect --gltf, passes the Khronos glTF validator
# with no error. Arguments: tessloom, tessloom-inspect, node, the folder holding the npm
# packages (node_modules/gltf-validator), the corpus folder. Exit 77 (skipped) when node, the
# validator's package or the corpus is absent.
set -euo pipefail
shopt -s nullglob
tessloom=$1 inspect=$2 node=$3 packages=$4 corpus=$5
script=$(dirname "$(realpath "$0")")/validate_gltf.cjs
skip() {
    echo "skipped: $1"
    exit 77
}
[ -x "$node" ] || skip "no node, which runs the glTF validator"
[ -f "$packages/node_modules/gltf-validator/package.json" ] ||
    skip "no gltf-validator in $packages/node_modules: npm ci did not fetch the packages"
[ -d "$corpus" ] || skip "no corpus at $corpus"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
variants=("" --merge)
if "$tessloom" --help | grep -qE -- '(^|[^-[:alnum:]])--fix([^-[:alnum:]]|$)'; then
    variants+=(--fix "--merge --fix")
fi
rejected=0
for scene in "$corpus"/*.ase "$corpus"/*.ASE; do
    name=$(basename "$scene")
    for variant in "${variants[@]}"; do
        read -r -a options <<<"$variant"
        # a scene the converter rejects has no mesh file to export
        if ! "$tessloom" "${options[@]}" "$scene" "$work/m.obj" 2>"$work/err"; then
            grep -q '^tessloom: ' "$work/err" || { cat "$work/err"; exit 1; }
            rejected=$((rejected + 1))
            continue
        fi
        status=0
        glb="$work/$name${variant// /}.glb"
        "$inspect" "$work/m.obj" --gltf "$glb" >/dev/null || status=$?
        if [ "$status" -gt 1 ] || [ ! -f "$glb" ]; then
            echo "$name ${variant:-plain}: tessloom-inspect --gltf exited $status"
            exit 1
        fi
    done
done
glbs=("$work"/*.glb)
[ "${#glbs[@]}" -gt 0 ] || { echo "no scene of $corpus converted"; exit 1; }
shown=plain
for variant in "${variants[@]:1}"; do shown+=", $variant"; done
echo "conversions of each scene: $shown; rejected: $rejected"
"$node" "$script" "$packages" "${glbs[@]}"
