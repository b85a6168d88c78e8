#!/usr/bin/env bash
# Installs what is needed, builds, and runs the whole test suite.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
"$top/scripts/build.sh"
ctest --test-dir "${BUILD_DIR:-$top/build}" --output-on-failure --no-tests=error -j"$(nproc)" --timeout 1200
