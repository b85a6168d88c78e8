#!/usr/bin/env bash
# A tree configured without the tests, as the package build configures it,
# leaves out the benchmarks too, unless they are asked for: they then come
# with the fixture kit that builds their packages, and still without tests.
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
        continue
    fi
    if [ -e "$build/tests" ]; then
        echo "FAILED: $options still configures the tests" >&2
        status=1
    fi
    case $options in
    *BENCH=ON*) [ -e "$build/bench" ] || { echo "FAILED: $options leaves out the benchmarks" >&2; status=1; } ;;
    *) [ -e "$build/bench" ] && { echo "FAILED: $options still configures the benchmarks" >&2; status=1; } ;;
    esac
done
exit $status
