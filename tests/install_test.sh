#!/usr/bin/env bash
# Installs the release build into a temporary prefix and uses it as a user would: the
# programs on the example, the installed example programs built against the reader and the
# converter library through find_package, the manuals; then builds the Debian package and checks its files and
# lintian's verdict.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/release
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
"$prefix/bin/tessloom" examples/box.ase "$work/box.obj"
[ "$(stat -c %s "$work/box.obj")" = 1225 ]
version=$(sed -n 's/^project(tessloom VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
# the inspector is built only where its libraries are installed
inspect=
if [ -e "$build/tessloom-inspect" ]; then
    inspect=tessloom-inspect
    "$prefix/bin/tessloom-inspect" "$work/box.obj" >/dev/null
    [ "$("$prefix/bin/tessloom-inspect" --version)" = "tessloom-inspect $version" ]
else
    echo "install test: tessloom-inspect was not built (its libraries are missing): not checked"
fi

# the installed example, built as a user would from its copy: the box's counts and bitmap
# (8 corners, 12 texture vertices, 12 triangles, one material with C:\3dsmax\maps\crate.tga);
# a scene is no mesh file, and the reader says where it stopped
cp -r "$prefix/share/doc/tessloom/examples/mesh_info" "$work/mesh_info"
cmake -S "$work/mesh_info" -B "$work/mesh_info/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/mesh_info/build" >/dev/null
[ "$("$work/mesh_info/build/mesh_info" "$work/box.obj")" = "material entries: 1
vertices: 8
texture vertices: 12
faces: 12
bitmap: crate.tga" ]
if out=$("$work/mesh_info/build/mesh_info" examples/box.ase 2>&1); then exit 1; fi
grep -q '^mesh_info: examples/box.ase: at byte [0-9]*: expected a mesh file of either layout' <<<"$out" ||
    { echo "install test: $out"; exit 1; }

# the installed converter example, built the same way: the box from its path and from
# standard input (in memory), with fixNormals and nothing to warn about; a scene in memory
# whose one material gives no tiling (one warning, and two findings: that material on line
# 2 and the normals the face count's line 6 leaves out); a bad scene, the tool's reason
cp -r "$prefix/share/doc/tessloom/examples/convert_scene" "$work/convert_scene"
cmake -S "$work/convert_scene" -B "$work/convert_scene/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/convert_scene/build" >/dev/null
convert=$work/convert_scene/build/convert_scene
box="material entries: 1
vertices: 8
texture vertices: 12
faces: 12
warnings: 0
findings: 0"
[ "$("$convert" examples/box.ase "$work/api.obj")" = "$box
written: $work/api.obj" ]
cmp "$work/api.obj" "$work/box.obj"
[ "$("$convert" - "$work/memory.obj" <examples/box.ase)" = "$box
written: $work/memory.obj" ]
cmp "$work/memory.obj" "$work/box.obj"
untiled='*MATERIAL_COUNT 1
*MATERIAL 0 {
*BITMAP "a.tga"
}
*MESH_NUMVERTEX 3
*MESH_NUMFACES 1
*MESH_NUMTVERTEX 1
*MESH_NUMTVFACES 1
*MESH_VERTEX 0 0 0 0
*MESH_VERTEX 1 1 0 0
*MESH_VERTEX 2 0 1 0
*MESH_FACE 0: A: 0 B: 1 C: 2 *MESH_SMOOTHING 1 *MESH_MTLID 0
*MESH_TVERT 0 0.5 0.25 0
*MESH_TFACE 0 0 0 0
*MATERIAL_REF 0'
out=$("$convert" - "$work/untiled.obj" <<<"$untiled")
sed -n '1,7p;10p' <<<"$out" | diff - <(echo "material entries: 1
vertices: 3
texture vertices: 1
faces: 1
warnings: 1
  standard input: 1 material entry gives no tiling; 1 texture coordinate is scaled by 0 (--keep-uv keeps them)
findings: 2
written: $work/untiled.obj") || { echo "install test: $out"; exit 1; }
grep -q '^  line 2: warning: .* \[zero-tiling\]$' <<<"$out" || { echo "install test: $out"; exit 1; }
grep -q '^  line 6: warning: .* \[no-normals\]$' <<<"$out" || { echo "install test: $out"; exit 1; }
printf '*MESH_NUMVERTEX -1\n' >"$work/bad.ase"
if out=$("$convert" "$work/bad.ase" "$work/bad.obj" 2>&1); then exit 1; fi
[ "$out" = "convert_scene: $work/bad.ase: *MESH_NUMVERTEX is -1" ] ||
    { echo "install test: $out"; exit 1; }
[ ! -e "$work/bad.obj" ]
# the README shows the example as it is
sed -n '/^<!-- examples\/convert_scene\/convert_scene.cpp/,/^```$/p' README.md | sed '1,2d;$d' |
    diff - examples/convert_scene/convert_scene.cpp ||
    { echo "install test: the README's convert_scene.cpp differs from the example"; exit 1; }

# only the library's headers are public: the converter's, the reader and the file's layout
# they include
headers=$(cd "$prefix/include" && find . -type f | sort | xargs)
[ "$headers" = "./tessloom/convert.h ./tessloom/meshfile/format.h ./tessloom/meshfile/reader.h" ] ||
    { echo "install test: unexpected public headers: $headers"; exit 1; }
# and the package's targets: no private layer among them
grep -o 'add_library(tessloom::[a-z]*' "$prefix"/lib/cmake/tessloom/tessloomTargets.cmake |
    sort | xargs | grep -qx 'add_library(tessloom::converter add_library(tessloom::format add_library(tessloom::meshfile' ||
    { echo "install test: unexpected targets in the package"; exit 1; }

# the Python module, where it was built: imported from the prefix through PYTHONPATH by the
# interpreter it was built for, it converts the example
module=
if compgen -G "$build/python/tessloom.*.so" >/dev/null; then
    site=$(sed -n 's/^TESSLOOM_PYTHON_DIR:STRING=//p' "$build/CMakeCache.txt")
    python=$(sed -n 's/^Python3_EXECUTABLE:FILEPATH=//p' "$build/CMakeCache.txt")
    module=$site/$(basename "$build"/python/tessloom.*.so)
    box=$PWD/examples/box.ase
    [ "$(cd "$work" && PYTHONPATH="$prefix/$site" "$python" -c "import tessloom
print(tessloom.__file__, len(tessloom.convert('$box').to_bytes()))")" = "$prefix/$module 1225" ]
else
    echo "install test: the Python module was not built (pybind11 or numpy is missing): not checked"
fi

for page in "$prefix"/share/man/man*/*.gz; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || { echo "$page: $warnings"; exit 1; }
    zcat "$page" | grep -q "tessloom $version"
done

(cd "$build" && cpack -G DEB >/dev/null)
deb=$build/tessloom_${version}_amd64.deb
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for file in ./usr/bin/tessloom ${inspect:+./usr/bin/$inspect} ./usr/share/man/man1/tessloom.1.gz \
    ./usr/share/man/man1/tessloom-inspect.1.gz ./usr/share/man/man5/tessloom-meshfile.5.gz \
    ./usr/include/tessloom/meshfile/reader.h ./usr/include/tessloom/meshfile/format.h \
    ./usr/share/doc/tessloom/examples/mesh_info/mesh_info.cpp \
    ./usr/share/doc/tessloom/examples/mesh_info/CMakeLists.txt \
    ./usr/share/doc/tessloom/examples/convert_scene/convert_scene.cpp \
    ./usr/share/doc/tessloom/examples/convert_scene/CMakeLists.txt \
    ./usr/include/tessloom/convert.h ./usr/lib/libtessloom_converter.a \
    ./usr/lib/libtessloom_meshfile.a \
    ./usr/lib/cmake/tessloom/tessloomConfig.cmake ./usr/lib/cmake/tessloom/tessloomMeshes.cmake \
    ./usr/share/doc/tessloom/copyright ./usr/share/doc/tessloom/changelog.gz ${module:+./usr/$module}; do
    grep -qx "$file" <<<"$contents" || { echo "the package lacks $file"; exit 1; }
done
dpkg-deb -f "$deb" Depends | grep -q libc6
lintian --fail-on error "$deb"
echo "install test: passed ($deb)"
