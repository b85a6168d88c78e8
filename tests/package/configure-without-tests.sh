#!/usr/bin/env bash
# A tree configured without the tests, as the package build configures it,
# leaves out the benchmarks too, even when asked for them: they build their
# packages with the test kit, which such a tree does not have.
# Arguments: cmake, the source tree.
set -euo pipefail
cmake=$1 source_tree=$2
work=$(mktemp -d /tmp/configure-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
status=0
for options in "-DTALIRO_TESTS=OFF" "-DTALIRO_TESTS=OFF -DTALIRO_BENCH=ON"; do
    build=$work/build
    rm -rf "$build"
    # shellcheck disable=SC2086
    if ! "$cmake" -S "$source_tree" -B "$build" $options >"$work/configure.log" 2>&1; then
        echo "FAILED: $options does not configure: $(tail -n 20 "$work/configure.log")" >&2
        status=1
    elif [ -e "$build/bench" ] || [ -e "$build/tests" ]; then
        echo "FAILED: $options still configures $(cd "$build" && ls -d bench tests 2>/dev/null | xargs)" >&2
        status=1
    fi
done
exit $status
