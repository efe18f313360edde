#!/bin/sh
# Installs the Debian packages the build and tests need.  Idempotent and
# quiet: packages already present are not fetched again.  Run as root.
set -eu
# libarchive reads disc images and archives; xorriso makes the test images.
packages="build-essential cmake pkg-config googletest libgtest-dev qt6-base-dev libgl-dev libglib2.0-dev"
packages="$packages libarchive-dev xorriso"
for option in "$@"; do
    case $option in
    --gui) packages="$packages xvfb xauth xdotool fonts-dejavu-core adwaita-icon-theme" ;;
    --bench) packages="$packages python3 libpcre2-dev libre2-dev libtre-dev plocate libarchive-tools" ;;
    --fuzz) packages="$packages clang libclang-rt-14-dev" ;;
    # Debian packages (CPack + dpkg-shlibdeps) and their checks.
    --package) packages="$packages dpkg-dev file lintian appstream desktop-file-utils bash-completion" ;;
    # Cross-building QUARN32.dll (i686, x86_64) and running its tests under Wine.
    --windows)
        packages="$packages g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix"
        packages="$packages binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 wine64"
        ;;
    *) echo "install-deps: unknown option $option" >&2; exit 2 ;;
    esac
done
missing=""
for p in $packages; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
if [ -n "$missing" ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "install-deps: need root to install:$missing" >&2
        exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi
