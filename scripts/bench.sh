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
# Ten million names for the search figures at that size (210 MB).
[ -s "$data/names10m.txt" ] || python3 ../shared/bench/gen_names.py 10000000 1 > "$data/names10m.txt"
# About 2.7 million lines of real text (39 MB of this machine's man pages
# and docs; the count depends on the installed packages).
text=$data/text-39mb.txt
[ -s "$text" ] || python3 ../shared/bench/gen_text.py "$text" 39 2>/dev/null
# A real folder tree of 100,000 entries for the scanning figures, made once
# (built aside and renamed, so an interrupted run leaves no partial tree).
if [ ! -d "$data/tree" ]; then
    rm -rf "$data/tree.partial"
    python3 ../shared/bench/gen_tree.py "$data/names.txt" 1 "$data/tree.partial" 100000 --mkdir >/dev/null
    mv "$data/tree.partial" "$data/tree"
fi
# The same tree as an ISO image with Rock Ridge and Joliet.
if [ ! -s "$data/tree.iso" ]; then
    xorriso -as mkisofs -R -J -joliet-long -quiet -o "$data/tree.iso.partial" "$data/tree" >/dev/null 2>&1
    mv "$data/tree.iso.partial" "$data/tree.iso"
fi
cmake --preset bench >/dev/null
cmake --build --preset bench -j "$(nproc)"
build/bench/bench/regex_bench "$data/names.txt" "$text" "$runs"
build/bench/bench/approx_bench "$data/names.txt" "$text" "$runs"
if [ -x build/bench/bench/image_bench ]; then
    build/bench/bench/image_bench "$data/tree.iso" "$data/tree" "$runs"
fi
build/bench/bench/worst_bench "$runs"
if [ -x build/bench/bench/catalog_bench ]; then
    build/bench/bench/catalog_bench "$data/names.txt" 1000000 "$runs" --scan "$data/tree" \
        --big "$data/names10m.txt"
fi
