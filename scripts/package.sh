#!/usr/bin/env bash
# Builds the Debian packages libtorvel3, libtorvel-dev, torvel and vetrik
# from this source tree with debhelper, checks them with lintian, and puts
# them into OUTPUT (out/ by default). They reach OUTPUT only when the build
# passes and lintian reports neither an error nor a warning that debian/ does
# not override; older versions of the same packages there are replaced.
#
# Usage: scripts/package.sh [--build-dir DIR] [OUTPUT]
#   --build-dir DIR  keep the build in DIR, so that the next run compiles only
#                    what changed. DIR must be empty, missing, or one that an
#                    earlier run made: a build tree of another configuration
#                    would leave its cache settings in the packages.
#
# Without --build-dir every run builds from scratch in a temporary directory.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

fail() {
    echo "package.sh: $*" >&2
    exit 1
}

build_dir=
while [ $# -gt 0 ]; do
    case $1 in
    --build-dir)
        [ $# -ge 2 ] || fail "--build-dir needs a directory"
        build_dir=$2
        shift 2
        ;;
    --build-dir=*)
        build_dir=${1#--build-dir=}
        shift
        ;;
    -h | --help)
        sed -n '2,/^set -e/{/^set -e/d;s/^# \{0,1\}//;p}' "$0"
        exit 0
        ;;
    -*) fail "unknown option $1 (see --help)" ;;
    *) break ;;
    esac
done
[ $# -le 1 ] || fail "one output folder at most (see --help)"
output=${1:-$top/out}

# Each tool with the Debian package that brings it.
for tool in dh:debhelper dh_auto_configure:debhelper dpkg-buildpackage:dpkg-dev \
    dpkg-architecture:dpkg-dev lintian:lintian; do
    command -v "${tool%%:*}" >/dev/null ||
        fail "${tool%%:*} is not installed: install ${tool#*:} (scripts/setup.sh installs everything the packaging needs)"
done

mkdir -p -- "$output" 2>/dev/null && [ -d "$output" ] || fail "cannot create the output folder $output"
probe=$(mktemp "$output/.package-probe.XXXXXX" 2>/dev/null) || fail "cannot write to the output folder $output"
rm -f -- "$probe"
output=$(cd "$output" && pwd)

# The build tree's cache keeps every setting it was ever given; only a tree
# this script made, from the same packaging for the same architecture, is
# built in again. A tree of another packaging is this script's own to clear.
marker_name=.taliro-package-build
marker_text="taliro-package-tools package build 1
architecture $(dpkg-architecture -qDEB_HOST_MULTIARCH)
rules $(sha256sum <"$top/debian/rules" | cut -d' ' -f1)"
staged=()
remove_staged() {
    [ ${#staged[@]} -eq 0 ] || rm -f -- "${staged[@]}"
}
if [ -n "$build_dir" ]; then
    mkdir -p -- "$build_dir" 2>/dev/null && [ -d "$build_dir" ] || fail "cannot create the build folder $build_dir"
    build_dir=$(cd "$build_dir" && pwd)
    if [ ! -f "$build_dir/$marker_name" ] && [ -n "$(ls -A -- "$build_dir")" ]; then
        fail "$build_dir holds files this script did not make (a build of another configuration?): remove it or name another folder"
    fi
    exec 9>"$build_dir/.lock"
    flock -n 9 || fail "another package.sh is building in $build_dir"
    if [ -f "$build_dir/$marker_name" ] && [ "$(cat "$build_dir/$marker_name")" != "$marker_text" ]; then
        echo "package.sh: the packaging changed since the last build in $build_dir: building afresh" >&2
        rm -rf -- "$build_dir/obj"
    fi
    printf '%s\n' "$marker_text" >"$build_dir/$marker_name"
    work=$build_dir
    trap remove_staged EXIT
else
    work=$(mktemp -d "${TMPDIR:-/tmp}/taliro-package.XXXXXX")
    trap 'remove_staged; rm -rf -- "$work"' EXIT
fi
source=$work/source
rm -rf -- "$source" "$work"/*.deb "$work"/*.changes "$work"/*.buildinfo
mkdir "$source"

# The source tree as git sees it, uncommitted changes included, and never
# what an earlier build left in it (build trees, debian/tmp, ...), nor the
# work folder itself when it lies inside. tar keeps the files' times, so an
# unchanged file does not compile again.
inside=${work#"$top"/}
[ "$inside" != "$work" ] || inside=
if git -C "$top" rev-parse --show-toplevel 2>/dev/null | grep -qxF "$top"; then
    git -C "$top" ls-files -z --cached --others --exclude-standard |
        while IFS= read -r -d '' file; do
            [ -n "$inside" ] && [[ $file == "$inside"/* ]] && continue
            [ -e "$top/$file" ] && printf '%s\0' "$file"
        done |
        tar -C "$top" --null --no-recursion -T - -cf - | tar -C "$source" -xf -
else
    tar -C "$top" ${inside:+--exclude="./$inside"} \
        --exclude='./build*' --exclude='./obj-*' --exclude=./out --exclude=./.git \
        --exclude=./debian/tmp --exclude=./debian/.debhelper --exclude=./debian/files \
        --exclude='./debian/*.substvars' --exclude='./debian/*.debhelper.log' \
        --exclude=./debian/debhelper-build-stamp --exclude=./debian/libtorvel3 \
        --exclude=./debian/libtorvel-dev --exclude=./debian/torvel --exclude=./debian/vetrik \
        -cf - . | tar -C "$source" -xf -
fi

log=$work/build.log
echo "package.sh: building the packages in $work (log: $log)" >&2
# -nc: the copy is new, and the clean step would remove the kept build tree.
if ! (cd "$source" &&
    TALIRO_DEB_BUILD_DIR=$work/obj \
        DEB_BUILD_OPTIONS="noautodbgsym parallel=$(nproc) ${DEB_BUILD_OPTIONS:-}" \
        dpkg-buildpackage -b -us -uc -nc) >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    fail "the package build failed; nothing was put into $output"
fi

debs=("$work"/*.deb)
[ -e "${debs[0]}" ] || fail "the package build made no package; nothing was put into $output"
if ! lintian --fail-on error,warning "${debs[@]}" >&2; then
    fail "lintian reports errors or warnings that debian/ does not override; nothing was put into $output"
fi

# Every package is copied in under a hidden name first, then all are renamed
# into place: an interrupted run leaves no half-written package behind.
for deb in "${debs[@]}"; do
    staged+=("$output/.$(basename "$deb").partial")
    cp -- "$deb" "${staged[-1]}"
done
for deb in "${debs[@]}"; do
    name=$(basename "$deb")
    mv -f -- "$output/.$name.partial" "$output/$name"
done
staged=()
for deb in "${debs[@]}"; do
    name=$(basename "$deb")
    for old in "$output/${name%%_*}"_*.deb; do
        [ "$old" = "$output/$name" ] || rm -f -- "$old"
    done
    echo "$output/$name"
done
