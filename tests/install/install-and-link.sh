#!/usr/bin/env bash
# Installs the build under a fresh prefix with `cmake --install` and checks
# what lands there: the programs run from it, the library has its soname
# link, and a C++ program builds against the installed library through
# pkg-config and runs with it.
# Arguments: cmake, build directory, C++ compiler, the program's source,
# project version, then the install directories for binaries, libraries,
# headers, man pages, completions and data (relative to the prefix).
set -euo pipefail
cmake=$1 build=$2 cxx=$3 source=$4 version=$5
bindir=$6 libdir=$7 includedir=$8 mandir=$9 completiondir=${10} datadir=${11}

work=$(mktemp -d /tmp/install-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
prefix=$(realpath "$work")/prefix
"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log"

fail() {
    echo "FAILED: $*" >&2
    exit 1
}
expect_file() {
    [ -f "$prefix/$1" ] || fail "$1 is not installed"
}
# Fails unless the program loads the installed library, not the build tree's.
expect_installed_library() {
    local loaded
    loaded=$(ldd "$1" | sed -n 's/^\s*libtorvel\.so\.3 => \(.*\) (0x[0-9a-f]*)$/\1/p')
    [ -n "$loaded" ] && [ "$(realpath "$loaded")" = "$(realpath "$prefix/$libdir/libtorvel.so.3")" ] ||
        fail "$1 does not load the installed libtorvel: $(ldd "$1" | grep torvel)"
}

# The programs, found and run where they were installed; each loads the
# installed library, not the one of the build tree.
[ "$("$prefix/$bindir/torvel" --version)" = "torvel 0.9.5" ] || fail "installed torvel does not run"
[ "$("$prefix/$bindir/vetrik" --version)" = "vetrik-tool unknown" ] || fail "installed vetrik does not run"
expect_installed_library "$prefix/$bindir/torvel"
expect_installed_library "$prefix/$bindir/vetrik"

# The library under its full version, its soname link and the link to build against.
[ -f "$prefix/$libdir/libtorvel.so.$version" ] || fail "libtorvel.so.$version is not installed"
[ "$(readlink "$prefix/$libdir/libtorvel.so.3")" = "libtorvel.so.$version" ] || fail "no soname link libtorvel.so.3"
[ "$(readlink "$prefix/$libdir/libtorvel.so")" = "libtorvel.so.3" ] || fail "no link libtorvel.so"
readelf -d "$prefix/$libdir/libtorvel.so.$version" | grep -q 'SONAME.*\[libtorvel.so.3\]' || fail "soname is not libtorvel.so.3"

expect_file "$includedir/torvel/torvel.h"
expect_file "$libdir/pkgconfig/libtorvel.pc"
expect_file "$mandir/man1/vetrik.1"
expect_file "$mandir/man1/torvel.1"
expect_file "$mandir/man7/vetrik-rules.7"
expect_file "$completiondir/vetrik"
expect_file "$completiondir/torvel"
expect_file "$datadir/vetrik/schemas/vetrik-report.schema.json"

# Someone else's program, with nothing but what pkg-config says.
export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
[ "$(pkg-config --modversion libtorvel)" = "$version" ] || fail "pkg-config does not find libtorvel $version"
# shellcheck disable=SC2046
"$cxx" -std=c++20 "$source" $(pkg-config --cflags --libs libtorvel) -o "$work/linked"
export LD_LIBRARY_PATH
LD_LIBRARY_PATH=$(pkg-config --variable=libdir libtorvel)
expect_installed_library "$work/linked"
openssl genrsa -out "$work/ca.key" 2048 2>/dev/null
printf 'no signature blocks here' >"$work/file"
output=$("$work/linked" "$work/ca.key" "$work/ca.pem" "$work/file" 2>"$work/linked.err") ||
    fail "the linked program failed: $(cat "$work/linked.err")"
# The installed torvel tells the key id of the certificate the program issued.
keyid=$("$prefix/$bindir/torvel" info "$work/ca.pem" 2>/dev/null | sed -n 's/^Key ID: //p')
[[ $keyid =~ ^[0-9a-f]+$ ]] || fail "torvel info shows no key id"
expected="Linked Root"$'\n'"$keyid"$'\n0 signature blocks'
[ "$output" = "$expected" ] || fail "the linked program printed: $output"
echo "installed, linked and ran against $prefix"
