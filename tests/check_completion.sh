#!/usr/bin/env bash
# The bash completion of orvalen-cli parses, and completing a few command
# lines offers what the program accepts there.
# Usage: check_completion.sh <completion file>
completion=$1
bash -n "$completion" || exit 1
source /usr/share/bash-completion/bash_completion || exit 1
source "$completion" || exit 1

scratch=$(mktemp -d) || exit 1
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/dir" && touch "$scratch/file" && cd "$scratch" || exit 1

failures=0
# expect <command line> <the words offered, sorted>
expect() {
    local line=$1 want=$2 got
    COMP_LINE=$line
    COMP_POINT=${#line}
    read -ra COMP_WORDS <<<"$line"
    [[ $line == *' ' ]] && COMP_WORDS+=('')
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _orvalen_cli orvalen-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" 2>/dev/null
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | xargs)
    if [[ $got != "$want" ]]; then
        echo "'$line' offers '$got', expected '$want'"
        failures=1
    fi
}
expect "orvalen-cli ve" "verify"
expect "orvalen-cli -q " "create digest update verify"
expect "orvalen-cli --jo" "--jobs"
expect "orvalen-cli digest -a sha" "sha1 sha256 sha384 sha512"
expect "orvalen-cli create " "dir"
expect "orvalen-cli -j 2 verify dir " "dir file"
expect "orvalen-cli verify dir file " ""
expect "orvalen-cli --dam" "--damage-only"
expect "orvalen-cli --format " "json text"
expect "orvalen-cli --format json --subset 2/7 verify " "dir"
expect "orvalen-cli update dir " "dir file"
expect "orvalen-cli verify --subset " "auto/7 next/7"
expect "orvalen-cli --sta" "--state"
expect "orvalen-cli --subset next/7 --state file verify " "dir"
expect "orvalen-cli digest -a md5 file " "dir file"
expect "orvalen-cli digest --che" "--check"
expect "orvalen-cli --metrics-l" "--metrics-label"
expect "orvalen-cli --metrics m.prom --metrics-label photos verify " "dir"
exit $failures
