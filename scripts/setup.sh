#!/usr/bin/env bash
# Installs the Debian packages that building (`setup.sh build`) or building and running
# every test (`setup.sh test`, the default) needs and this machine lacks; installs nothing
# when all are present. Uses sudo when not run as root.
set -euo pipefail

# One line per package: the name, then what shows it is present (a command on PATH, or a
# file or pattern). To need a new package, add its line to the list that needs it.
build_packages=(
    "g++                 cmd g++"
    "cmake               cmd cmake"
    "make                cmd make"
)
test_packages=(
    "libgtest-dev        file /usr/include/gtest/gtest.h"
    "libbenchmark-dev    file /usr/include/benchmark/benchmark.h"
    "clang               cmd clang++"
    "libclang-rt-dev     file /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a"
    "ninja-build         cmd ninja"
    "libcli11-dev        file /usr/include/CLI/CLI.hpp"
    "nlohmann-json3-dev  file /usr/include/nlohmann/json.hpp"
    "libcairo2-dev       file /usr/include/cairo/cairo.h"
    "libtinygltf-dev     file /usr/include/tiny_gltf.h"
    "pkg-config          cmd pkg-config"
    "gltfpack            cmd gltfpack"
    "util-linux          cmd setpriv"
    "dpkg-dev            cmd dpkg-shlibdeps"
    "lintian             cmd lintian"
    "man-db              cmd man"
    "npm                 cmd npm"
    "chromium            cmd chromium"
    "python3-dev         file /usr/include/python3*/Python.h"
    "python3-pybind11    file /usr/lib/cmake/pybind11/pybind11Config.cmake"
    "python3-numpy       file /usr/lib/python3/dist-packages/numpy/__init__.py"
    "python3-pytest      file /usr/lib/python3/dist-packages/pytest/__init__.py"
)

case "${1:-test}" in
build) wanted=("${build_packages[@]}") ;;
test) wanted=("${build_packages[@]}" "${test_packages[@]}") ;;
*)
    echo "usage: setup.sh [build|test]" >&2
    exit 2
    ;;
esac

present() { # kind what
    case $1 in
    cmd) command -v "$2" >/dev/null ;;
    file) compgen -G "$2" >/dev/null ;;
    esac
}

missing=()
for line in "${wanted[@]}"; do
    read -r package kind what <<<"$line"
    present "$kind" "$what" || missing+=("$package")
done
[ "${#missing[@]}" -eq 0 ] && exit 0

if [ "$EUID" = 0 ]; then
    as_root=()
elif command -v sudo >/dev/null; then
    as_root=(sudo)
else
    echo "setup: this needs the Debian packages ${missing[*]}; run as root, or install sudo," \
        "or install them yourself: apt-get install ${missing[*]}" >&2
    exit 1
fi
echo "setup: installing ${missing[*]}"
if ! command -v apt-get >/dev/null ||
    ! "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q ||
    ! "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"; then
    echo "setup: could not install the Debian packages ${missing[*]}; install them" \
        "yourself (apt-get install ${missing[*]}), then run this again" >&2
    exit 1
fi
