#!/usr/bin/env bash
# The CMake package that `cmake --install` puts beside the library: a CMake
# project finds Torvel::torvel through find_package(libtorvel CONFIG) alone,
# after the installed tree was moved elsewhere (nothing in the package names
# the prefix it was installed under), builds LinkedProgram.cpp and runs it
# with the moved library. A request for another major version is refused.
# Arguments: cmake, build directory, the consumer project, LinkedProgram.cpp,
# project version, library directory (relative to the prefix).
set -euo pipefail
cmake=$1 build=$2 consumer=$3 source=$4 version=$5 libdir=$6
# shellcheck source=linked-program.sh
source "$(dirname "$0")/linked-program.sh"

work=$(mktemp -d /tmp/cmake-package-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
"$cmake" --install "$build" --prefix "$work/installed" >"$work/install.log"
mv "$work/installed" "$work/moved"
prefix=$work/moved

config=$prefix/$libdir/cmake/libtorvel
[ -f "$config/libtorvelConfig.cmake" ] || fail "no libtorvelConfig.cmake in $libdir/cmake/libtorvel"
[ -f "$config/libtorvelConfigVersion.cmake" ] || fail "no libtorvelConfigVersion.cmake in $libdir/cmake/libtorvel"
! grep -rlF "$work/installed" "$config" || fail "the CMake package names the prefix it was installed under"

log=$(build_with_cmake "$cmake" "$consumer" "$source" "$prefix" "$work/consumer" "${version%.*}") ||
    fail "the consumer does not build: $log"
grep -qF -- "-- libtorvel $version from $config" <<<"$log" ||
    fail "find_package did not find libtorvel $version in $config: $log"
run_linked "$work/consumer/linked" "$prefix/$libdir" "$work"
LD_LIBRARY_PATH=$prefix/$libdir expect_library_from "$work/consumer/linked" "$prefix/$libdir"

# Same major version, same soname: the request above took this version;
# another major must not.
major=${version%%.*}
log=$(build_with_cmake "$cmake" "$consumer" "$source" "$prefix" "$work/other-major" "$((major + 1)).0") &&
    fail "find_package took libtorvel $version for a request of $((major + 1)).0"
grep -qF "libtorvelConfig.cmake, version: $version" <<<"$log" ||
    fail "a request of $((major + 1)).0 failed for another reason than the version: $log"
echo "found, built and ran against the moved $prefix"
