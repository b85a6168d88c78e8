#!/usr/bin/env bash
# What `dpkg-deb --info` and `--contents` show of the four packages: each at
# the project's version with the dependencies it needs (the programs on the
# same libtorvel3, vetrik on the tools it runs, everything on the shared
# libraries found by dpkg-shlibdeps), each with the files that make it, and
# none with a file of the tests, the benchmarks or the fuzzers.
# Arguments: the folder of the .debs, the project version.
set -euo pipefail
debs=$1 version=$2
status=0
fail() {
    echo "FAILED: $*" >&2
    status=1
}

shopt -s nullglob
found=$(for deb in "$debs"/*.deb; do basename "$deb"; done | sort)
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
expected=$(printf '%s\n' libtorvel-dev libtorvel3 torvel vetrik | sed "s/\$/_${version}_$arch.deb/" | sort)
[ "$found" = "$expected" ] || fail "the packages are [$(echo $found)], not [$(echo $expected)]"

# The Depends line as `dpkg-deb --info` shows it, one dependency a line.
depends_of() {
    dpkg-deb --info "$debs/$1_${version}_$arch.deb" | sed -n 's/^ Depends: //p' | tr ',' '\n' | sed 's/^ *//'
}
# package, then each dependency it must have: a name with a version is
# matched word for word, a bare name (what dpkg-shlibdeps finds, whose
# versions follow the build machine) with any version.
while read -r package needed; do
    [ -f "$debs/${package}_${version}_$arch.deb" ] || continue
    depends=$(depends_of "$package")
    for dependency in $needed; do
        dependency=${dependency//_/ }
        if [[ $dependency == *" "* ]]; then
            grep -qxF -- "$dependency" <<<"$depends"
        else
            grep -qxF -- "$dependency" <<<"$(sed 's/ (.*//' <<<"$depends")"
        fi || fail "$package does not depend on $dependency; its Depends: $(echo $depends)"
    done
done <<EOT
libtorvel3      libc6 libssl3 librpm9 librpmio9 libsqlite3-0 libglib2.0-0 libstdc++6
libtorvel-dev   libtorvel3_(=_$version) libssl-dev_(>=_3.0) libglib2.0-dev librpm-dev
torvel          libtorvel3_(=_$version) libqt5core5a librpm9 libssl3
vetrik          libtorvel3_(=_$version) rpm2cpio cpio libqt5core5a librpm9 libelf1 libpng16-16 libjson-glib-1.0-0
EOT

# package, then files it must hold.
while read -r package files; do
    deb=$debs/${package}_${version}_$arch.deb
    [ -f "$deb" ] || continue
    contents=$(dpkg-deb --contents "$deb" | awk '{ print $6 }' | sed 's|^\./|/|')
    for file in ${files//@/$multiarch}; do
        grep -qxF -- "$file" <<<"$contents" || fail "$package does not hold $file"
    done
    # Nothing of the developers' own: test programs and scripts, fixtures,
    # benchmarks, fuzzers and their corpora.
    stray=$(grep -iE 'test|bench|fuzz|corpus|seed|fixture|gtest|gmock' <<<"$contents" || true)
    [ -z "$stray" ] || fail "$package holds files of the tests, benchmarks or fuzzers: $(echo $stray)"
done <<'EOT'
libtorvel3      /usr/lib/@/libtorvel.so.3 /usr/share/doc/libtorvel3/copyright
libtorvel-dev   /usr/lib/@/libtorvel.so /usr/include/torvel/torvel.h /usr/lib/@/pkgconfig/libtorvel.pc /usr/lib/@/cmake/libtorvel/libtorvelConfig.cmake /usr/lib/@/cmake/libtorvel/libtorvelConfigVersion.cmake
torvel          /usr/bin/torvel /usr/share/man/man1/torvel.1.gz /usr/share/bash-completion/completions/torvel
vetrik          /usr/bin/vetrik /usr/share/man/man1/vetrik.1.gz /usr/share/man/man7/vetrik-rules.7.gz /usr/share/bash-completion/completions/vetrik /usr/share/vetrik/schemas/vetrik-report.schema.json
EOT
# The library itself, under the project's version, in libtorvel3 alone.
library=$(dpkg-deb --contents "$debs/libtorvel3_${version}_$arch.deb" 2>/dev/null || true)
grep -q " \./usr/lib/$multiarch/libtorvel\.so\.$version\$" <<<"$library" ||
    fail "libtorvel3 does not hold libtorvel.so.$version"
exit $status
