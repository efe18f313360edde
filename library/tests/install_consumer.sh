#!/bin/sh
# Installs the built project into a scratch prefix, then builds and runs a
# consumer through find_package(QUARN32) and through pkg-config.
set -eu
build_dir=$1 work=$2 consumer=$3 extra_flags=${4:-}
rm -rf "$work"
cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
cmake -S "$consumer" -B "$work/build" -DCMAKE_PREFIX_PATH="$work/prefix" \
    -DCMAKE_C_FLAGS="$extra_flags" -DCMAKE_EXE_LINKER_FLAGS="$extra_flags" >/dev/null
cmake --build "$work/build" >/dev/null
libdir=$(dirname "$(find "$work/prefix" -name quarn32.pc | head -n1)")
libroot=$(dirname "$libdir")
LD_LIBRARY_PATH="$libroot:${LD_LIBRARY_PATH:-}" "$work/build/consumer"
flags=$(PKG_CONFIG_PATH="$libdir" pkg-config --cflags --libs quarn32)
cc -o "$work/pc_consumer" "$consumer/main.c" $flags $extra_flags
LD_LIBRARY_PATH="$libroot:${LD_LIBRARY_PATH:-}" "$work/pc_consumer"
