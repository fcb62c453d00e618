#!/usr/bin/env bash
# scripts/demo's generations, with its build, its package check and its
# private network stubbed: which --version the sandbox is started with.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source-path=SCRIPTDIR
source "$here/Stubs.sh"

stub dpkg-query "printf 'install ok installed'"
stub cmake ''
# in_private_network, where the sandbox and the tool would start: the demo
# passes the generation last to the script it runs there.
# shellcheck disable=SC2016  # expanded by the stub
stub unshare 'for last; do :; done; echo "generation $last" >>"$STUB_LOG"'

started_as() {
    : >"$STUB_LOG"
    DISPLAY=:99 bash "$here/../../scripts/demo" "$@" >"$stubs/banner" || return
    sed -n 's/^generation //p' "$STUB_LOG"
}

expect "no argument: SQL Server 2022" test "$(started_as)" = 2022
expect "the banner says so" grep -q "generation: *SQL Server 2022" "$stubs/banner"
expect "2000: the original" test "$(started_as 2000)" = 2000
expect "2019: as asked" test "$(started_as 2019)" = 2019

finish
