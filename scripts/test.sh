#!/bin/sh
# Installs what is needed, builds with AddressSanitizer and
# UndefinedBehaviorSanitizer, runs every test, runs the thread tests under
# ThreadSanitizer, builds and checks the Debian packages, then runs each
# libFuzzer
# target for a few seconds (QUARN_FUZZ_SECONDS, default 8; 0 skips them).
# Exit status non-zero on any failure, a fuzzer's finding included.
set -eu
cd "$(dirname "$0")/.."
fuzz_seconds=${QUARN_FUZZ_SECONDS:-8}
if [ "$fuzz_seconds" -gt 0 ]; then
    scripts/install-deps.sh --package --fuzz
else
    scripts/install-deps.sh --package
fi
cmake --preset asan-ubsan >/dev/null
cmake --build --preset asan-ubsan -j "$(nproc)"
ctest --preset asan-ubsan -j "$(nproc)"
# Threads compiling and matching at once, and the catalog's parallel search,
# under ThreadSanitizer (the library, the catalog core and those two tests
# only).
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$(nproc)"
ctest --preset tsan
# The Debian packages: built with CPack, extracted and checked, lintian.
scripts/package.sh
# QUARN32.dll for Windows: cross-built, export tables checked, x86_64 tests
# under Wine.
scripts/test-windows.sh
if [ "$fuzz_seconds" -gt 0 ]; then
    scripts/fuzz.sh "$fuzz_seconds"
fi
