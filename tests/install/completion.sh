#!/usr/bin/env bash
# The bash completion of both programs offers what their own help lists
# (options, torvel's commands and each command's options, vetrik's
# profiles and rules), the values of the options that take fixed ones, and
# file names.
# Arguments: the directory of the completion scripts, vetrik, torvel.
set -euo pipefail
completions=$1 vetrik=$2 torvel=$3
status=0
fail() {
    echo "FAILED: $*" >&2
    status=1
}

# shellcheck source=/dev/null
source "$completions/vetrik"
# shellcheck source=/dev/null
source "$completions/torvel"
# As in an interactive shell, where readline also breaks words at ':'.
COMP_WORDBREAKS=$' \t\n"\'><=;|&(:'

# The sorted completions of the last word of the command line given as words.
completions_of() {
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    "_$1"
    printf '%s\n' "${COMPREPLY[@]}" | sort
}
sorted() {
    tr ' ,' '\n\n' <<<"$*" | grep -v '^$' | sort
}
expect() {
    local what=$1 expected=$2 actual=$3
    [ "$actual" = "$expected" ] || fail "$what: expected [$(echo $expected)], got [$(echo $actual)]"
}
# Option names of a --help text, without Qt's --help-all.
help_options() {
    "$@" --help | sed -n 's/^  \(-[^ ].*\)/\1/p' | sed 's/  .*//; s/ <[^>]*>//g; s/,//g' | tr ' ' '\n' |
        grep -v -x -e '--help-all' -e '' | sort
}

expect "vetrik -" "$(help_options "$vetrik")" "$(completions_of vetrik -)"
expect "vetrik --profile" "$(sorted "$("$vetrik" --suites)")" "$(completions_of vetrik --profile '')"
expect "vetrik -p m" "$(sorted mdm market)" "$(completions_of vetrik -p m)"
expect "vetrik --color" "$(sorted always auto never)" "$(completions_of vetrik --color '')"
expect "vetrik --color=a" "$(sorted always auto)" "$(completions_of vetrik --color = a)"
expect "vetrik --report-format" "$(sorted jsonl junit)" "$(completions_of vetrik --report-format "")"
# Rule names come from the vetrik being completed, found as the shell would.
expect "vetrik --ignore rpath-" "$(sorted rpath-empty rpath-missing rpath-not-allowed)" \
    "$(PATH=$(dirname "$vetrik"):$PATH completions_of vetrik --ignore rpath-)"
expect "vetrik --explain rpath-empty rpath-m" "rpath-missing" \
    "$(PATH=$(dirname "$vetrik"):$PATH completions_of vetrik --explain rpath-empty rpath-m)"

commands=$("$torvel" --help | sed -n '/Supported commands are:/,$p' | sed 's/.*Supported commands are://' |
    awk 'NF { print $1 }' | sort)
expect "torvel" "$commands" "$(completions_of torvel '')"
expect "torvel -" "$(help_options "$torvel")" "$(completions_of torvel -)"
for command in $commands; do
    # Each command also takes --version, which nobody completes after it.
    expect "torvel $command -" "$(help_options "$torvel" "$command" | grep -v -x -e -v -e --version)" \
        "$(completions_of torvel "$command" -)"
done
expect "torvel makecert --group developer:m" "$(sorted mdm market)" \
    "$(completions_of torvel makecert -i x.csr --group developer : m)"
expect "torvel dumpdb --type" "$(sorted packages certificates revoked)" "$(completions_of torvel dumpdb --type '')"
expect "torvel dumpdb --type=" "$(sorted packages certificates revoked)" "$(completions_of torvel dumpdb --type =)"
expect "torvel sign --ta-sign-algo" "$(sorted RSASSA_PKCS1_V1_5_SHA256 RSASSA_PKCS1_PSS_MGF1_SHA256)" \
    "$(completions_of torvel sign --ta-sign-algo '')"
expect "torvel makecertca -c" "" "$(completions_of torvel makecertca -c '')"

# File names: packages for vetrik and the package commands, any file for
# the options that name keys, certificates and outputs.
work=$(mktemp -d /tmp/completion-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir "$work/dir"
touch "$work/app.rpm" "$work/dev.pem" "$work/with space.rpm"
cd "$work"
expect "vetrik" "$(sorted app.rpm dir)"$'\n'"with space.rpm" "$(completions_of vetrik '')"
expect "torvel sign -k key -c cert" "$(sorted app.rpm dir)"$'\n'"with space.rpm" \
    "$(completions_of torvel sign -k key -c cert '')"
expect "torvel sign -k d" "$(sorted dev.pem dir)" "$(completions_of torvel sign -k d)"
expect "torvel info d" "$(sorted dev.pem dir)" "$(completions_of torvel info d)"
exit $status
