#!/bin/sh
# Installs what is needed, builds with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test.  Exit status non-zero on
# any failure.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset asan-ubsan >/dev/null
cmake --build --preset asan-ubsan -j "$(nproc)"
ctest --preset asan-ubsan -j "$(nproc)"
# QUARN32.dll for Windows: cross-built, export tables checked, x86_64 tests
# under Wine.
scripts/test-windows.sh
