#!/bin/sh
# Builds the Debian packages (libquarn32-6, libquarn32-dev, tslcat) with
# CPack from the `package` preset, then checks them:
#   - the file list of each package, extracted with dpkg-deb -x;
#   - the dependencies that dpkg-shlibdeps computed;
#   - the extracted tslcat-cli against a sample catalog;
#   - the library's consumer example built against the extracted -dev files
#     (CMake package and pkg-config);
#   - lintian: no errors (the accepted warnings are listed in README).
# The .deb files are left in build/package.  Exit status non-zero on any
# failure.
set -eu
cd "$(dirname "$0")/.."
top=$(pwd)
scripts/install-deps.sh --package
cmake --preset package >/dev/null
cmake --build --preset package -j "$(nproc)" >/dev/null

out=build/package
version=$(sed -n 's/^ *VERSION \([0-9.]*\)$/\1/p' CMakeLists.txt | head -n1)
arch=$(dpkg --print-architecture)
lib_deb=$out/libquarn32-6_${version}-1_${arch}.deb
dev_deb=$out/libquarn32-dev_${version}-1_${arch}.deb
app_deb=$out/tslcat_${version}-1_${arch}.deb
for deb in "$lib_deb" "$dev_deb" "$app_deb"; do
    [ -f "$deb" ] || { echo "package: missing $deb" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "package: $*" >&2; exit 1; }

# File lists: every expected path is present, nothing is outside /usr.
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
expect() {
    deb=$1; shift
    dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' > "$work/list"
    for path in "$@"; do
        grep -qx "$path" "$work/list" || fail "$(basename "$deb") lacks $path"
    done
    if grep -v '^/$' "$work/list" | grep -v '^/usr' >/dev/null; then
        fail "$(basename "$deb") installs outside /usr"
    fi
}
expect "$lib_deb" \
    "/usr/lib/$multiarch/libquarn32.so.6" "/usr/lib/$multiarch/libquarn32.so.$version" \
    /usr/share/doc/libquarn32-6/copyright /usr/share/doc/libquarn32-6/changelog.Debian.gz
if grep -q 'include\|\.so$\|cmake\|pkgconfig' "$work/list"; then
    fail "libquarn32-6 carries development files"
fi
expect "$dev_deb" \
    /usr/include/quarn32.h "/usr/lib/$multiarch/libquarn32.so" \
    "/usr/lib/$multiarch/pkgconfig/quarn32.pc" \
    "/usr/lib/$multiarch/cmake/QUARN32/QUARN32Config.cmake" \
    /usr/share/man/man3/quarn32.3.gz /usr/share/doc/libquarn32-dev/copyright
expect "$app_deb" \
    /usr/bin/tslcat /usr/bin/tslcat-cli \
    /usr/share/applications/tslcat.desktop \
    /usr/share/icons/hicolor/scalable/apps/tslcat.svg \
    /usr/share/metainfo/org.quarn32.tslcat.metainfo.xml \
    /usr/share/tslcat/tslcat_help.html \
    /usr/share/man/man1/tslcat.1.gz /usr/share/man/man1/tslcat-cli.1.gz \
    /usr/share/bash-completion/completions/tslcat-cli \
    /usr/share/doc/tslcat/copyright /usr/share/doc/tslcat/changelog.Debian.gz

# Dependencies: the library's SONAME package from the component graph, the
# system libraries from dpkg-shlibdeps.
depends() { dpkg-deb -f "$1" Depends; }
depends "$app_deb" | grep -q 'libquarn32-6 (= ' || fail "tslcat does not depend on libquarn32-6"
depends "$app_deb" | grep -q 'libqt6core6' || fail "tslcat lacks its Qt dependency: $(depends "$app_deb")"
depends "$app_deb" | grep -q 'libc6 (>= ' || fail "tslcat lacks a versioned libc6 dependency"
depends "$lib_deb" | grep -q 'libc6 (>= ' || fail "libquarn32-6 lacks a versioned libc6 dependency"
depends "$dev_deb" | grep -q 'libquarn32-6 (= ' || fail "libquarn32-dev does not depend on libquarn32-6"
dpkg-deb -I "$lib_deb" shlibs | grep -q '^libquarn32 6 libquarn32-6' || fail "libquarn32-6 has no shlibs entry"

# The extracted programs work from the extracted tree.
root=$work/root
for deb in "$lib_deb" "$dev_deb" "$app_deb"; do dpkg-deb -x "$deb" "$root"; done
export LD_LIBRARY_PATH="$root/usr/lib/$multiarch"
cli=$root/usr/bin/tslcat-cli
"$cli" --version | grep -qx "tslcat-cli $version" || fail "tslcat-cli --version"
"$root/usr/bin/tslcat" --version | grep -qx "tslcat $version" || fail "tslcat --version"
(
    cd "$work"
    "$cli" add --name "Tools 1998" "$top/catalog/sample/tools-1998" >/dev/null
    "$cli" add --name "Recipes" "$top/catalog/sample/recipes" >/dev/null
    "$cli" search --files '\.txt$' > hits.txt
    grep -q "^Tools 1998	README.TXT	" hits.txt || fail "search in the extracted tslcat-cli"
    grep -q "^Recipes	onion soup.txt	" hits.txt || fail "search in the extracted tslcat-cli"
    [ "$("$cli" search --discs . 2>/dev/null | wc -l)" -eq 2 ] || fail "disc search"
)

# The consumer example against the extracted -dev files, both ways.
cmake -S library/tests/consumer -B "$work/consumer" -DCMAKE_PREFIX_PATH="$root/usr" >/dev/null
cmake --build "$work/consumer" >/dev/null
"$work/consumer/consumer" >/dev/null || fail "consumer (CMake package)"
flags=$(PKG_CONFIG_PATH="$root/usr/lib/$multiarch/pkgconfig" pkg-config --cflags --libs quarn32)
cc -o "$work/pc_consumer" library/tests/consumer/main.c $flags
"$work/pc_consumer" >/dev/null || fail "consumer (pkg-config)"

# lintian: errors fail the run; warnings are printed (README lists the
# accepted ones).
lintian --tag-display-limit 0 "$lib_deb" "$dev_deb" "$app_deb" > "$work/lintian.txt" 2>&1 || true
cat "$work/lintian.txt"
if grep -q '^E: ' "$work/lintian.txt"; then
    fail "lintian reports errors"
fi
echo "package: $(basename "$lib_deb") $(basename "$dev_deb") $(basename "$app_deb") built and checked"
