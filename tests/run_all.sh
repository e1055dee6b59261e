#!/usr/bin/env bash
# Builds and runs the whole suite: once plainly, once under ASan and UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
for preset in release debug; do
    cmake --preset "$preset"
    cmake --build --preset "$preset"
    ctest --preset "$preset"
done
