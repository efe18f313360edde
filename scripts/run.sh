#!/bin/sh
# Builds the project and starts tslcat in a demo folder with a sample
# catalog.  Until the window exists this builds the library and runs its
# tests as a demonstration.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
if [ -x build/release/catalog/gui/tslcat ]; then
    mkdir -p build/demo
    [ -f build/demo/mdb.dat ] || cp catalog/sample/mdb.dat build/demo/mdb.dat 2>/dev/null || true
    cd build/demo && exec ../release/catalog/gui/tslcat
fi
exec ctest --preset release
