#!/usr/bin/env bash
# Installs the release build into a temporary prefix and uses it as a user would: the
# programs on the example, the installed example program built against the reader through
# find_package, the manuals; then builds the Debian package and checks its files and
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
# only the reader's headers are public: the reader and the file's layout it includes
headers=$(cd "$prefix/include" && find . -type f | sort | xargs)
[ "$headers" = "./tessloom/meshfile/format.h ./tessloom/meshfile/reader.h" ] ||
    { echo "install test: unexpected public headers: $headers"; exit 1; }

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
    ./usr/lib/libtessloom_meshfile.a \
    ./usr/lib/cmake/tessloom/tessloomConfig.cmake ./usr/lib/cmake/tessloom/tessloomMeshes.cmake \
    ./usr/share/doc/tessloom/copyright ./usr/share/doc/tessloom/changelog.gz ${module:+./usr/$module}; do
    grep -qx "$file" <<<"$contents" || { echo "the package lacks $file"; exit 1; }
done
dpkg-deb -f "$deb" Depends | grep -q libc6
lintian --fail-on error "$deb"
echo "install test: passed ($deb)"
