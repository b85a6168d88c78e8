#!/usr/bin/env bash
# The manual pages render without a single warning of groff or man, and
# document every option the programs' own help lists: vetrik's anywhere in
# vetrik(1), each torvel command's under that command in torvel(1).
# Arguments: the directory of the pages, vetrik, torvel.
set -euo pipefail
pages=$1 vetrik=$2 torvel=$3
status=0
fail() {
    echo "FAILED: $*" >&2
    status=1
}

for page in "$pages"/vetrik.1 "$pages"/torvel.1 "$pages"/vetrik-rules.7; do
    warnings=$(groff -man -ww -z "$page" 2>&1) || fail "groff cannot render $page"
    [ -z "$warnings" ] || fail "groff warns about $page: $warnings"
    warnings=$(MANWIDTH=80 man --warnings=w -l "$page" 2>&1 >/dev/null) || fail "man cannot render $page"
    [ -z "$warnings" ] || fail "man warns about $page: $warnings"
done

# Plain text on lines long enough that no option is ever broken.
text() {
    groff -man -Tascii -P-cbou -rLL=1000n "$1"
}
# The option names a --help text lists ("  -k, --key <key>  ..."), but
# Qt's --help-all, which the pages leave out.
help_options() {
    "$@" --help | sed -n 's/^  \(-[^ ].*\)/\1/p' | sed 's/  .*//; s/ <[^>]*>//g; s/,//g' | tr ' ' '\n' |
        grep -v -x -e '--help-all' -e ''
}
# Whether the option occurs in the text as a word of its own.
mentions() {
    grep -q -e "\(^\|[^-a-z]\)$2\([^-a-z]\|$\)" <<<"$1"
}

vetrik_text=$(text "$pages/vetrik.1")
for option in $(help_options "$vetrik"); do
    mentions "$vetrik_text" "$option" || fail "vetrik(1) does not mention $option"
done

torvel_text=$(text "$pages/torvel.1")
# Every command takes these too; the page tells them once, at the top.
general_options=$(help_options "$torvel")
for option in $general_options; do
    mentions "$torvel_text" "$option" || fail "torvel(1) does not mention $option"
done
commands=$("$torvel" --help | sed -n '/Supported commands are:/,$p' | sed 's/.*Supported commands are://' |
    awk 'NF { print $1 }')
[ -n "$commands" ] || fail "torvel --help lists no commands"
for command in $commands; do
    # From the command's own heading to the next heading at its indentation.
    section=$(awk -v command="$command" '
        /^       [^ ]/ { inside = ($1 == command) }
        inside' <<<"$torvel_text")
    if [ -z "$section" ]; then
        fail "torvel(1) has no entry for $command"
        continue
    fi
    for option in $(help_options "$torvel" "$command" | grep -v -x -F -e "$general_options"); do
        mentions "$section" "$option" || fail "torvel(1) does not mention $option under $command"
    done
done
exit $status
