#!/usr/bin/env bash
# debian/libtorvel3.symbols and signatures/libtorvel.map tell the same
# interface: every symbol the symbols file lists falls under a global pattern
# of the version script (C++ symbols, which the file names demangled, under
# its extern "C++" patterns), every global pattern covers at least one listed
# symbol, and no symbol is listed twice. That the list is the library's whole
# export is checked by the package build itself (dpkg-gensymbols -c4).
# Arguments: the version script, the symbols file.
set -euo pipefail
map=$1 symbols=$2
status=0
fail() {
    echo "FAILED: $*" >&2
    status=1
}

# The global patterns, "c pattern" or "c++ pattern" a line.
patterns=$(awk '
    /^[ \t]*global:/ { global = 1; next }
    /^[ \t]*local:/ { global = 0 }
    !global { next }
    /extern "C\+\+"/ { cxx = 1; next }
    cxx && /}/ { cxx = 0; next }
    {
        gsub(/[ \t;]/, "")
        if ($0 != "") print (cxx ? "c++ " : "c ") $0
    }' "$map")
[ -n "$patterns" ] || { fail "no global patterns in $map"; exit 1; }

# The listed symbols, "c name" or "c++ name" a line, without @Base and
# minimal versions.
listed=$(sed -n -e 's/^ (c++)"\(.*\)@Base" .*/c++ \1/p' -e 's/^ \([^ (]*\)@Base .*/c \1/p' "$symbols")
[ "$(grep -c '^ ' "$symbols")" = "$(wc -l <<<"$listed")" ] ||
    fail "$symbols has lines that are neither a C symbol nor a (c++) one at @Base"
duplicates=$(sort <<<"$listed" | uniq -d)
[ -z "$duplicates" ] || fail "listed more than once: $duplicates"

declare -A used
while read -r kind name; do
    matched=
    while read -r pattern_kind pattern; do
        # The version script's patterns are globs, as they are here.
        # shellcheck disable=SC2053
        if [ "$kind" = "$pattern_kind" ] && [[ $name == $pattern ]]; then
            matched=1
            used[$pattern_kind $pattern]=1
        fi
    done <<<"$patterns"
    [ -n "$matched" ] || fail "$kind symbol '$name' is listed but $map does not export it"
done <<<"$listed"
while read -r pattern_kind pattern; do
    [ -n "${used[$pattern_kind $pattern]:-}" ] || fail "$map exports $pattern_kind '$pattern', but no listed symbol falls under it"
done <<<"$patterns"
exit $status
