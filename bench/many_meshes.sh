#!/usr/bin/env bash
# The many-meshes benchmark: scenes of 1,000, 10,000 and 100,000 tiny meshes (COUNTS to
# change), each converted with --merge and with --each into a folder in memory (OUT, default
# /dev/shm), median wall time of RUNS runs. OLD=path/to/tessloom adds an older binary;
# LIMIT=seconds (default 120) stops a run that takes longer.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null
bin=build/bench
scenes=${SCENES:-$bin/scenes}
out=${OUT:-/dev/shm}/tessloom-many-meshes.$$
mkdir -p "$scenes" "$out"
trap 'rm -rf "$out"' EXIT
programs=("new=$bin/tessloom")
[ -n "${OLD:-}" ] && programs+=("old=$OLD")

# A material list, then meshes of three vertices and one face, one after the other.
generate() {
    awk -v n="$1" 'BEGIN {
        print "*3DSMAX_ASCIIEXPORT 200\n*MATERIAL_LIST {\n\t*MATERIAL_COUNT 1"
        print "\t*MATERIAL 0 {\n\t\t*MATERIAL_DIFFUSE 0.5 0.5 0.5\n\t}\n}"
        for (i = 0; i < n; i++) {
            printf "*GEOMOBJECT {\n\t*NODE_NAME \"m%d\"\n\t*MESH {\n", i
            print "\t\t*MESH_NUMVERTEX 3\n\t\t*MESH_NUMFACES 1\n\t\t*MESH_VERTEX_LIST {"
            printf "\t\t\t*MESH_VERTEX 0 %d.0000 0.0000 0.0000\n", i
            print "\t\t\t*MESH_VERTEX 1 1.0000 0.0000 0.0000"
            print "\t\t\t*MESH_VERTEX 2 0.0000 1.0000 0.0000\n\t\t}\n\t\t*MESH_FACE_LIST {"
            print "\t\t\t*MESH_FACE 0: A: 0 B: 1 C: 2 AB: 1 BC: 1 CA: 1 *MESH_MTLID 0"
            print "\t\t}\n\t}\n\t*MATERIAL_REF 0\n}"
        }
    }'
}

# Median of the arguments.
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

printf '%-8s %-6s %-4s %10s\n' meshes mode bin seconds
for count in ${COUNTS:-1000 10000 100000}; do
    scene=$scenes/meshes$count.ase
    [ -s "$scene" ] || generate "$count" >"$scene"
    for mode in merge each; do
        for program in "${programs[@]}"; do
            label=${program%%=*}
            times=()
            for _ in $(seq "${RUNS:-3}"); do
                rm -rf "$out" && mkdir -p "$out"
                start=$(date +%s.%N)
                if ! timeout "${LIMIT:-120}" "${program#*=}" "--$mode" "$scene" "$out/o.obj"; then
                    times+=(">${LIMIT:-120}")
                    break
                fi
                times+=("$(echo "$(date +%s.%N) - $start" | bc)")
            done
            printf '%-8s %-6s %-4s %10s\n' "$count" "$mode" "$label" "$(median "${times[@]}")"
        done
    done
done
