#!/bin/sh
# Runs a Windows program under Wine without a display, so that a message
# box can never wait for a click, and with a prefix of its own.
#   wine-run.sh wine|wine64 program.exe [arguments...]
set -eu
loader=$1
shift
if ! command -v "$loader" >/dev/null 2>&1; then
    # Debian's wine64 package keeps its loader out of PATH.
    if [ -x "/usr/lib/wine/$loader" ]; then
        loader=/usr/lib/wine/$loader
    else
        echo "wine-run: $loader not found (install wine/wine64)" >&2
        exit 127
    fi
fi
unset DISPLAY WAYLAND_DISPLAY
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installer when the prefix is first created.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export WINEPREFIX="${WINEPREFIX:-${TMPDIR:-/tmp}/quarn32-wine-$(id -u)}"
exec "$loader" "$@"
