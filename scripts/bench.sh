#!/bin/sh
# Builds the benchmarks (release) and runs them against the peers on
# deterministic generated data kept under build/bench-data (never committed).
#   scripts/bench.sh [RUNS]
set -eu
cd "$(dirname "$0")/.."
runs=${1:-5}
scripts/install-deps.sh --bench
data=build/bench-data
mkdir -p "$data"
[ -s "$data/names.txt" ] || python3 ../shared/bench/gen_names.py 1000000 1 > "$data/names.txt"
# About 2.7 million lines of real text.
[ -s "$data/text.txt" ] || python3 ../shared/bench/gen_text.py "$data/text.txt" 55 2>/dev/null
# A real folder tree of 100,000 entries for the scanning figures, made once
# (built aside and renamed, so an interrupted run leaves no partial tree).
if [ ! -d "$data/tree" ]; then
    rm -rf "$data/tree.partial"
    python3 ../shared/bench/gen_tree.py "$data/names.txt" 1 "$data/tree.partial" 100000 --mkdir >/dev/null
    mv "$data/tree.partial" "$data/tree"
fi
cmake --preset bench >/dev/null
cmake --build --preset bench -j "$(nproc)"
build/bench/bench/regex_bench "$data/names.txt" "$data/text.txt" "$runs"
build/bench/bench/approx_bench "$data/names.txt" "$data/text.txt" "$runs"
if [ -x build/bench/bench/catalog_bench ]; then
    build/bench/bench/catalog_bench "$data/names.txt" 1000000 "$runs" --scan "$data/tree"
fi
