#!/usr/bin/env bash
# scripts/demo's generations and languages, with its build, its package check
# and its private network stubbed: which --version and --language the sandbox
# is started with.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source-path=SCRIPTDIR
source "$here/Stubs.sh"

stub dpkg-query "printf 'install ok installed'"
stub cmake ''
# in_private_network, where the sandbox and the tool would start: the demo
# passes the language, then the generation last to the script it runs there.
# shellcheck disable=SC2016  # expanded by the stub
stub unshare 'while [ $# -gt 2 ]; do shift; done; echo "language $1" >>"$STUB_LOG"; echo "generation $2" >>"$STUB_LOG"'

started_as() {
    : >"$STUB_LOG"
    DISPLAY=:99 bash "$here/../../scripts/demo" "$@" >"$stubs/banner" || return
    sed -n 's/^generation //p' "$STUB_LOG"
}
language() { sed -n 's/^language //p' "$STUB_LOG"; }

expect "no argument: SQL Server 2022" test "$(started_as)" = 2022
expect "the banner says so" grep -q "generation: *SQL Server 2022" "$stubs/banner"
expect "no language: us_english" test "$(language)" = us_english
expect "the banner says how to ask for Chinese" grep -q "scripts/demo 2022 zh" "$stubs/banner"
expect "2000: the original" test "$(started_as 2000)" = 2000
expect "2019: as asked" test "$(started_as 2019)" = 2019
expect "2000 zh: SQL Server 2000" test "$(started_as 2000 zh)" = 2000
expect "zh: a server installed in Chinese" test "$(language)" = "Simplified Chinese"
expect "the banner says so" grep -q "language: *Simplified Chinese" "$stubs/banner"
expect "a language as the sandbox names it" test "$(started_as 2019 简体中文 >/dev/null; language)" = 简体中文

finish
