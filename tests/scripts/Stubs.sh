# For the script tests: commands on PATH that stand in for the system's, each
# call logged, and a tally of checks.
# shellcheck shell=bash

stubs=$(mktemp -d)
trap 'rm -rf "$stubs"' EXIT
export PATH=$stubs:$PATH
export STUB_LOG=$stubs/calls.log
: >"$STUB_LOG"

# stub NAME SCRIPT: NAME runs the sh SCRIPT after logging "NAME args".
stub() {
    # shellcheck disable=SC2016  # expanded by the stub
    printf '#!/bin/sh\necho "%s $*" >>"$STUB_LOG"\n%s\n' "$1" "$2" >"$stubs/$1"
    chmod +x "$stubs/$1"
}
stub sudo 'exec "$@"'

failures=0
expect() {
    local what=$1; shift
    if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}
logged() { grep -q -- "$1" "$STUB_LOG"; }
finish() {
    [ $failures -eq 0 ] || cat "$STUB_LOG"
    [ $failures -eq 0 ]
}
