#!/bin/sh
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for a
# bounded time over a scratch copy of its seed corpus.
#   scripts/fuzz.sh [SECONDS_PER_TARGET]
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-10}
scripts/install-deps.sh --fuzz
cmake -S . -B build/fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARN_BUILD_FUZZ=ON -DQUARN_BUILD_TESTS=OFF -DQUARN_BUILD_CATALOG=ON \
    -DQUARN_SANITIZE=ON >/dev/null
cmake --build build/fuzz -j "$(nproc)" --target fuzzers
status=0
for target in build/fuzz/fuzz/fuzz_*; do
    family=${target##*/fuzz_}
    work=build/fuzz/corpus-$family
    mkdir -p "$work"
    echo "fuzzing $family for ${seconds}s"
    # An input that runs longer than 30 s ends the target with exit code 70.
    # The backtracking regular-expression matcher has such inputs (many
    # closures over a long line, see README "Limits"), so a timeout is shown
    # but does not fail the run; every other finding does.
    rc=0
    # An ISO 9660 image has its first descriptor at 32 KiB.
    maxlen=4096
    [ "$family" = archive ] && maxlen=262144
    "$target" -max_total_time="$seconds" -max_len="$maxlen" -timeout=30 -print_final_stats=0 \
        -artifact_prefix=build/fuzz/ "$work" "fuzz/corpus/$family" >"build/fuzz/$family.log" 2>&1 || rc=$?
    if [ "$rc" -eq 70 ]; then
        echo "fuzz target $family: an input ran over 30 s (slow, not a crash); see build/fuzz/$family.log" >&2
        grep -h 'Test unit written' "build/fuzz/$family.log" >&2 || true
    elif [ "$rc" -ne 0 ]; then
        echo "fuzz target $family failed; see build/fuzz/$family.log" >&2
        tail -n 30 "build/fuzz/$family.log" >&2
        status=1
    else
        grep -h '^Done' "build/fuzz/$family.log" || true
    fi
done
exit $status
