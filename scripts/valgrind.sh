#!/bin/sh
# Runs the library's test suite under Valgrind's memcheck (a plain debug
# build: the sanitizers and Valgrind do not mix).  Too slow for every CI run;
# run it by hand.  Exit status non-zero on any memory error or leak.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
if ! command -v valgrind >/dev/null 2>&1; then
    apt-get install -y -qq --no-install-recommends valgrind >/dev/null
fi
cmake -S . -B build/valgrind -DCMAKE_BUILD_TYPE=Debug -DQUARN_BUILD_CATALOG=OFF >/dev/null
cmake --build build/valgrind -j "$(nproc)" --target quarn32_tests
valgrind --tool=memcheck --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect \
    --suppressions=scripts/valgrind.supp --quiet build/valgrind/library/tests/quarn32_tests --gtest_brief=1
