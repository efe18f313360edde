#!/bin/sh
# Builds the project and starts tslcat in a demo folder (build/demo) with a
# small sample catalog, so the window has something to show and search.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
scripts/demo-catalog.sh build/release/catalog/cli/tslcat-cli build/demo
cd build/demo && exec ../release/catalog/gui/tslcat
