#!/usr/bin/env bash
# scripts/package.sh on bad input: a missing tool, an output folder it cannot
# write, a build folder it did not make, a build or a lintian run that fails.
# Each ends with one clear line and status 1, and leaves no package and no
# half-written file in the output folder; a folder it did not make is left
# as it was. The build and lintian are stand-ins here, so that what reaches
# the output folder is known; the last case checks that the stand-ins' own
# package does get there.
# Arguments: scripts/package.sh.
set -euo pipefail
package_sh=$1
status=0
fail() {
    echo "FAILED: $*" >&2
    status=1
}

work=$(mktemp -d /tmp/package-bad-input-test.XXXXXX)
trap 'rm -rf "$work"' EXIT

# Runs package.sh with the remaining arguments and PATH as given; fails the
# case unless it ends with status 1 and a last line that holds EXPECTED.
expect_refusal() {
    local case=$1 expected=$2 path=$3
    shift 3
    local code=0
    PATH=$path "$package_sh" "$@" >"$work/out.log" 2>"$work/err.log" || code=$?
    [ "$code" = 1 ] || fail "$case: status $code, not 1: $(cat "$work/err.log")"
    grep -qF -- "$expected" <<<"$(tail -n 1 "$work/err.log")" ||
        fail "$case: the last line does not say '$expected': $(cat "$work/err.log")"
}
# Fails the case unless FOLDER is missing or holds nothing.
expect_nothing_in() {
    local case=$1 folder=$2
    [ ! -e "$folder" ] || [ -z "$(ls -A "$folder")" ] || fail "$case: $folder holds $(ls -A "$folder" | xargs)"
}

# Stand-ins for the build and lintian, first in every PATH below: the build
# lists the sources it was given into STAND_IN_SOURCES (if set), writes a
# package where dpkg-buildpackage would, then ends with STAND_IN_BUILD;
# lintian ends with STAND_IN_LINTIAN. Where the script fails
# to refuse, they end the run at once, and the case fails on what they left.
stand_ins=$work/stand-ins
mkdir "$stand_ins"
cat >"$stand_ins/dpkg-buildpackage" <<'EOS'
#!/bin/sh
[ -z "${STAND_IN_SOURCES:-}" ] || find . -type f | sort >"$STAND_IN_SOURCES"
echo "stand-in package" >../taliro-stand-in_2.0_all.deb
exit "$STAND_IN_BUILD"
EOS
cat >"$stand_ins/lintian" <<'EOS'
#!/bin/sh
exit "$STAND_IN_LINTIAN"
EOS
chmod +x "$stand_ins"/*

export STAND_IN_BUILD=0 STAND_IN_LINTIAN=0

# A PATH with the stand-ins and every program of this machine, but those
# whose names match one of the patterns (globs, separated by commas).
path_without() {
    local bin unwanted_patterns programs=() name
    local -A seen=()
    bin=$(mktemp -d "$work/path.XXXXXX")
    IFS=, read -r -a unwanted_patterns <<<"$1"
    for program in "$stand_ins"/* /usr/local/bin/* /usr/bin/* /usr/sbin/*; do
        name=${program##*/}
        for unwanted in "${unwanted_patterns[@]}"; do
            # shellcheck disable=SC2053
            [[ $name == $unwanted ]] && continue 2
        done
        # The first of a name in PATH's order, as the shell would find it.
        [ -z "${seen[$name]:-}" ] || continue
        seen[$name]=1
        programs+=("$program")
    done
    ln -s -t "$bin" "${programs[@]}"
    echo "$bin"
}

# A missing tool: the tool, the packages it takes, the Debian package named.
while read -r tool unwanted package; do
    expect_refusal "without $tool" "install $package" "$(path_without $unwanted)" "$work/out-$tool"
    expect_nothing_in "without $tool" "$work/out-$tool"
done <<'EOT'
dh                 dh,dh_*                  debhelper
dpkg-buildpackage  dpkg-buildpackage        dpkg-dev
lintian            lintian                  lintian
EOT

# Output folders that cannot be written.
touch "$work/a-file"
expect_refusal "output below a file" "cannot create the output folder" "$stand_ins:$PATH" "$work/a-file/out"
expect_refusal "output is a file" "cannot create the output folder" "$stand_ins:$PATH" "$work/a-file"
[ ! -s "$work/a-file" ] || fail "output is a file: the file was written"
if [ "$(id -u)" != 0 ]; then
    mkdir "$work/read-only"
    chmod 555 "$work/read-only"
    expect_refusal "read-only output" "cannot write to the output folder" "$stand_ins:$PATH" "$work/read-only"
    expect_nothing_in "read-only output" "$work/read-only"
fi

# A build folder left by another configuration (here a sanitized tree of
# another source), which the script did not make: its cache would carry
# TALIRO_SANITIZE into the packages.
leftover=$work/leftover
mkdir -p "$leftover/CMakeFiles"
printf 'CMAKE_HOME_DIRECTORY:INTERNAL=/elsewhere\nTALIRO_SANITIZE:BOOL=ON\n' >"$leftover/CMakeCache.txt"
before=$(cd "$leftover" && find . -printf '%p %s %T@\n' | sort)
expect_refusal "leftover build folder" "did not make" "$stand_ins:$PATH" --build-dir "$leftover" "$work/out-leftover"
[ "$(cd "$leftover" && find . -printf '%p %s %T@\n' | sort)" = "$before" ] ||
    fail "leftover build folder: the folder was changed"
expect_nothing_in "leftover build folder" "$work/out-leftover"

export STAND_IN_BUILD=2 STAND_IN_LINTIAN=0
expect_refusal "failing build" "the package build failed" "$stand_ins:$PATH" "$work/out-build"
expect_nothing_in "failing build" "$work/out-build"

export STAND_IN_BUILD=0 STAND_IN_LINTIAN=2
expect_refusal "lintian errors" "lintian reports errors" "$stand_ins:$PATH" "$work/out-lintian"
expect_nothing_in "lintian errors" "$work/out-lintian"

# What earlier builds left in the source tree itself (dh's own build folder,
# debian/tmp and the staged packages, a build/ tree) never reaches the
# build, whether the tree is a git checkout or an unpacked archive. The
# tree here is a small copy with the script and the packaging in it.
export STAND_IN_BUILD=0 STAND_IN_LINTIAN=0
tree=$work/tree
mkdir -p "$tree/scripts" "$tree/debian"
cp "$package_sh" "$tree/scripts/"
cp "$(dirname "$package_sh")/../debian/rules" "$(dirname "$package_sh")/../.gitignore" "$tree/"
mv "$tree/rules" "$tree/debian/"
echo 'int main() {}' >"$tree/main.cpp"
git -C "$tree" init -q && git -C "$tree" add -A
for leftover in obj-x86_64-linux-gnu/CMakeCache.txt debian/tmp/usr/lib/stale.so debian/vetrik/usr/bin/vetrik \
    debian/files build/CMakeCache.txt; do
    mkdir -p "$(dirname "$tree/$leftover")"
    touch "$tree/$leftover"
done
for kind in git archive; do
    [ "$kind" = archive ] && rm -rf "$tree/.git"
    STAND_IN_SOURCES=$work/sources-$kind PATH=$stand_ins:$PATH "$tree/scripts/package.sh" "$work/out-$kind" \
        >"$work/out.log" 2>"$work/err.log" || fail "sources of a $kind: $(cat "$work/err.log")"
    [ "$(xargs <"$work/sources-$kind")" = "./.gitignore ./debian/rules ./main.cpp ./scripts/package.sh" ] ||
        fail "sources of a $kind: the build was given $(xargs <"$work/sources-$kind")"
done

# Both pass: the package is put in place, an older version of it replaced,
# another package beside it kept, nothing half-written left.
mkdir "$work/out-good"
touch "$work/out-good/taliro-stand-in_1.0_all.deb" "$work/out-good/other_1.0_all.deb"
PATH=$stand_ins:$PATH "$package_sh" "$work/out-good" >"$work/out.log" 2>"$work/err.log" ||
    fail "with a passing build and lintian: $(cat "$work/err.log")"
[ "$(ls -A "$work/out-good" | xargs)" = "other_1.0_all.deb taliro-stand-in_2.0_all.deb" ] ||
    fail "with a passing build and lintian, the output holds: $(ls -A "$work/out-good" | xargs)"
[ "$(cat "$work/out-good/taliro-stand-in_2.0_all.deb")" = "stand-in package" ] ||
    fail "with a passing build and lintian, the package was not copied whole"
exit $status
