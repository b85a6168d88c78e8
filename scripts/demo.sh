#!/usr/bin/env bash
# Installs what is needed, builds, then builds the two sample packages and
# validates them with vetrik: samples/hello is correct and must pass,
# samples/broken has common mistakes and must fail. Then shows what each of
# the broken one's findings means. Ends with status 0 when both came out as
# they must.
#
# VETRIK=path/to/vetrik skips installing and building and uses that vetrik.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "${VETRIK:-}" ]; then
  "$top/scripts/setup.sh"
  "$top/scripts/build.sh"
  VETRIK=${BUILD_DIR:-$top/build}/validator/app/vetrik
fi

work=$(mktemp -d /tmp/vetrik-demo.XXXXXX)
trap 'rm -rf "$work"' EXIT

# The platform vetrik validates for: a root of its own with the
# developer-mode setting, so that only the packages' own lines appear.
export KVD_ROOT_FS=$work/platform
mkdir -p "$KVD_ROOT_FS/var/lib/developer-moded" "$KVD_ROOT_FS/etc"
printf '[developermode]\nvalidationEnabled=true\n' >"$KVD_ROOT_FS/var/lib/developer-moded/developer-moded.conf"
printf 'VERSION_ID=5.0\n' >"$KVD_ROOT_FS/etc/os-release"

# build_sample DIR: builds samples/DIR and prints the package's path.
build_sample() {
  local sample=$top/samples/$1 topdir=$work/rpmbuild-$1
  mkdir -p "$topdir"/{BUILD,RPMS,SOURCES,SPECS,SRPMS}
  cp "$sample"/* "$top/samples/common/make-icon.c" "$topdir/SOURCES/"
  rpmbuild -bb --quiet \
    --define "_topdir $topdir" \
    --define "debug_package %{nil}" \
    --define "_build_id_links none" \
    --define "__os_install_post %{nil}" \
    "$sample"/*.spec >"$topdir/build.log" 2>&1 || { cat "$topdir/build.log" >&2; exit 1; }
  find "$topdir/RPMS" -name '*.rpm' | head -n 1
}
hello=$(build_sample hello)
broken=$(build_sample broken)
outcome=0

echo
echo "== 1. samples/hello: a correct application."
echo "   vetrik must PASS it under the default profile (regular): exit status 0, no finding."
echo "\$ vetrik -p regular $(basename "$hello")"
set +e
"$VETRIK" -p regular --color auto "$hello"
status=$?
set -e
if [ "$status" -eq 0 ]; then
  echo "   => exit status 0: passed, as it must."
else
  echo "   => exit status $status: it must pass, so something is wrong here."
  outcome=1
fi

echo
echo "== 2. samples/broken: the same kind of application with common mistakes."
echo "   vetrik must FAIL it: exit status 1. --rule-names ends each finding with its rule's name."
echo "\$ vetrik -p regular --rule-names $(basename "$broken")"
# Its findings are kept to be explained below (in colour on a terminal).
color=never
[ -t 2 ] && color=always
set +e
"$VETRIK" -p regular --color "$color" --rule-names "$broken" 2>"$work/findings"
status=$?
set -e
cat "$work/findings" >&2
if [ "$status" -eq 1 ]; then
  echo "   => exit status 1: failed, as it must."
else
  echo "   => exit status $status: it must fail, so something is wrong here."
  outcome=1
fi

# The rule names the finding lines end with, once each.
rules=$(sed -n 's/.* \[\([a-z0-9-]*\)\]$/\1/p' "$work/findings" | sort -u)
echo
echo "== 3. What the findings of samples/broken mean, and how to fix them:"
echo "\$ vetrik --explain" $rules
echo
# shellcheck disable=SC2086
"$VETRIK" --explain $rules || outcome=1
exit "$outcome"
