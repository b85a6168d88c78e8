#!/usr/bin/env bash
# The four packages unpacked with `dpkg-deb -x` into a scratch root, never
# the machine's own /usr: the programs run from there on the library beside
# them (their run path) and print the same help as the build tree's; a C++
# program builds against libtorvel-dev there through pkg-config, and again
# through find_package(libtorvel CONFIG), and runs on the unpacked library.
# Arguments: the folder of the .debs, the project version, the build tree's
# vetrik and torvel, the C++ compiler, cmake, tests/install (LinkedProgram.cpp,
# the consumer project and linked-program.sh).
set -euo pipefail
debs=$1 version=$2 built_vetrik=$3 built_torvel=$4 cxx=$5 cmake=$6 install_tests=$7
# shellcheck source=../install/linked-program.sh
source "$install_tests/linked-program.sh"

work=$(mktemp -d /tmp/package-root-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
root=$work/root
arch=$(dpkg --print-architecture)
for package in libtorvel3 libtorvel-dev torvel vetrik; do
    deb=$debs/${package}_${version}_$arch.deb
    [ -f "$deb" ] || fail "no $deb"
    dpkg-deb -x "$deb" "$root"
done
libdir=$root/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)

# Nothing but their own run path leads the programs to the unpacked library.
for program in vetrik torvel; do
    expect_library_from "$root/usr/bin/$program" "$libdir"
done
# The help names the program as it was called; both are called by one name.
help_of() {
    (exec -a "$2" "$1" --help)
}
for program in vetrik torvel; do
    built=built_$program
    help=$(help_of "$root/usr/bin/$program" "$program") || fail "the packaged $program --help failed"
    [ "$help" = "$(help_of "${!built}" "$program")" ] || fail "the packaged $program prints another help: $help"
done

# pkg-config, with the scratch root's .pc first; it finds its prefix from
# its own place.
export PKG_CONFIG_PATH=$libdir/pkgconfig
[ "$(pkg-config --modversion libtorvel)" = "$version" ] || fail "pkg-config does not find libtorvel $version"
[ "$(realpath "$(pkg-config --variable=libdir libtorvel)")" = "$(realpath "$libdir")" ] ||
    fail "libtorvel.pc points to $(pkg-config --variable=libdir libtorvel), not into the scratch root"
# shellcheck disable=SC2046
"$cxx" -std=c++20 "$install_tests/LinkedProgram.cpp" $(pkg-config --cflags --libs libtorvel) -o "$work/linked" ||
    fail "the program does not build through pkg-config"
LD_LIBRARY_PATH=$libdir expect_library_from "$work/linked" "$libdir"
run_linked "$work/linked" "$libdir" "$work"

# CMake, searching the scratch root's /usr first.
log=$(build_with_cmake "$cmake" "$install_tests/consumer" "$install_tests/LinkedProgram.cpp" "$root/usr" \
    "$work/consumer" "${version%.*}") || fail "the program does not build through find_package: $log"
grep -qF -- "-- libtorvel $version from $libdir/cmake/libtorvel" <<<"$log" ||
    fail "find_package did not find libtorvel $version in the scratch root: $log"
LD_LIBRARY_PATH=$libdir expect_library_from "$work/consumer/linked" "$libdir"
run_linked "$work/consumer/linked" "$libdir" "$work"
echo "unpacked into $root, ran the programs, linked through pkg-config and CMake"
