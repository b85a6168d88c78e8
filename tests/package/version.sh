#!/usr/bin/env bash
# One version: the newest entry of debian/changelog, which names the Debian
# packages' version, carries the version of the project() in CMakeLists.txt
# (without an epoch or a Debian revision, should either ever be added).
# Arguments: debian/changelog, the project version.
set -euo pipefail
changelog=$1 version=$2
debian=$(dpkg-parsechangelog -l "$changelog" -S Version) || {
    echo "FAILED: dpkg-parsechangelog cannot read $changelog" >&2
    exit 1
}
upstream=${debian#*:}
upstream=${upstream%-*}
if [ "$upstream" != "$version" ]; then
    echo "FAILED: $changelog is at $debian, the project at $version: add a changelog entry for $version" >&2
    exit 1
fi
