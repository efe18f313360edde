#!/bin/sh
# Builds QUARN32.dll for 32-bit (i686) and 64-bit (x86_64) Windows with
# mingw-w64, checks both export tables (names; on i686 also that every
# export removes its own arguments), and runs the x86_64 test programs under
# wine64 without a display.  Exit status non-zero on any failure.
#
#   scripts/test-windows.sh              the above
#   scripts/test-windows.sh --i686-wine  also runs the i686 test programs
#                                        under a 32-bit Wine (needs a kernel
#                                        that runs i386 programs and Debian's
#                                        wine32:i386; installs them)
set -eu
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc)}
run_i686=no
for option in "$@"; do
    case $option in
    --i686-wine) run_i686=yes ;;
    *) echo "test-windows: unknown option $option" >&2; exit 2 ;;
    esac
done

step() {
    echo "== $*"
    start=$(date +%s)
}
done_step() {
    echo "== done in $(($(date +%s) - start)) s"
}

scripts/install-deps.sh --windows
if [ "$run_i686" = yes ]; then
    if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
        dpkg --add-architecture i386
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends wine wine32:i386 >/dev/null
    fi
fi

for preset in win32 win64; do
    step "configure and build $preset"
    if [ "$preset" = win32 ]; then
        cmake --preset win32 -DQUARN_WINE_TESTS=$([ "$run_i686" = yes ] && echo ON || echo OFF) >/dev/null
    else
        cmake --preset "$preset" >/dev/null
    fi
    cmake --build --preset "$preset" -j "$jobs"
    done_step
    step "test $preset"
    ctest --preset "$preset"
    done_step
done
