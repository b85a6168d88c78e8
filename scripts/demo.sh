#!/usr/bin/env bash
# Installs what is needed, builds, then builds the bundled sample application
# package and validates it with vetrik.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
"$top/scripts/build.sh"

work=$(mktemp -d /tmp/vetrik-demo.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work"/{BUILD,RPMS,SOURCES,SPECS,SRPMS}
cp "$top"/samples/hello/main.c "$top"/samples/hello/org.example.hello.desktop "$work/SOURCES/"
rpmbuild -bb --quiet \
  --define "_topdir $work" \
  --define "debug_package %{nil}" \
  --define "_build_id_links none" \
  --define "__os_install_post %{nil}" \
  "$top/samples/hello/org.example.hello.spec"
package=$(find "$work/RPMS" -name '*.rpm' | head -n 1)

echo "== vetrik $package"
set +e
"${BUILD_DIR:-$top/build}/validator/app/vetrik" --color auto "$package"
status=$?
set -e
echo "== vetrik exit status: $status"
