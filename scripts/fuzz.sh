#!/bin/sh
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for a
# bounded time over a scratch copy of its seed corpus.
#   scripts/fuzz.sh [SECONDS_PER_TARGET]
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-10}
scripts/install-deps.sh --fuzz
cmake -S . -B build/fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARN_BUILD_FUZZ=ON -DQUARN_BUILD_TESTS=OFF \
    -DQUARN_SANITIZE=ON >/dev/null
cmake --build build/fuzz -j "$(nproc)"
status=0
for target in build/fuzz/fuzz/fuzz_*; do
    family=${target##*/fuzz_}
    work=build/fuzz/corpus-$family
    mkdir -p "$work"
    echo "fuzzing $family for ${seconds}s"
    if ! "$target" -max_total_time="$seconds" -max_len=4096 -print_final_stats=0 \
        -artifact_prefix=build/fuzz/ "$work" "fuzz/corpus/$family" >"build/fuzz/$family.log" 2>&1; then
        echo "fuzz target $family failed; see build/fuzz/$family.log" >&2
        tail -n 30 "build/fuzz/$family.log" >&2
        status=1
    fi
done
exit $status
