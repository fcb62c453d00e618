#!/usr/bin/env bash
# apt_get (scripts/lib/common.sh) against a stub apt-get: "update" is tried
# again while another package manager holds the lists' lock, and only then.
# shellcheck disable=SC2016  # the stubs' scripts expand their own variables
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source-path=SCRIPTDIR
source "$here/Stubs.sh"
# shellcheck source-path=SCRIPTDIR/../../scripts/lib
source "$here/../../scripts/lib/common.sh"

# The first $STUB_BUSY calls fail as apt 2.6 does when the lock is held.
stub apt-get 'n=$(grep -c "^apt-get update" "$STUB_LOG")
if [ "$n" -le "${STUB_BUSY:-0}" ]; then
    echo "E: Could not get lock /var/lib/apt/lists/lock. It is held by process 4242 (apt-get)" >&2; exit 100
fi
[ -z "${STUB_FAIL:-}" ] || { echo "E: $STUB_FAIL" >&2; exit 100; }'
updates() { grep -c "^apt-get update" "$STUB_LOG"; }

apt_lock_wait=60
STUB_BUSY=1 apt_get update -qq 2>/dev/null
expect "a held lock: tried again, then done" test $? -eq 0 -a "$(updates)" -eq 2
expect "the lock wait is passed on" logged "^apt-get update -o DPkg::Lock::Timeout=60 -qq$"

: >"$STUB_LOG"
message=$(STUB_FAIL="The repository does not have a Release file." apt_get update -qq 2>&1)
expect "another failure: given up at once" test $? -ne 0 -a "$(updates)" -eq 1
expect "another failure: apt-get's words shown" grep -q "Release file" <<<"$message"

: >"$STUB_LOG"
apt_lock_wait=0
STUB_BUSY=5 apt_get update -qq 2>/dev/null
expect "a lock held past the wait: given up" test $? -ne 0 -a "$(updates)" -eq 1

finish
