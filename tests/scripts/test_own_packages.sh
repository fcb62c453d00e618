#!/usr/bin/env bash
# What scripts/check-package may remove (scripts/lib/own-packages.sh), against
# stub dpkg-query, dpkg and apt-get.
# shellcheck disable=SC2016  # the stubs' scripts expand their own variables
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source-path=SCRIPTDIR
source "$here/Stubs.sh"
# shellcheck source-path=SCRIPTDIR/../../scripts/lib
source "$here/../../scripts/lib/common.sh"
source "$here/../../scripts/lib/own-packages.sh"

# dpkg-query knows the tool in state $STUB_STATUS, or not at all.
stub dpkg-query '[ -n "${STUB_STATUS:-}" ] && printf %s "$STUB_STATUS"'
stub dpkg ''
# apt-get prints what Debian 12's apt-get printed for the package, plus an upgrade.
stub apt-get '[ "$1" = install ] && cat <<OUT
Reading package lists...
Building dependency tree...
Reading state information...
Note, selecting '"'"'sqllogclean'"'"' instead of '"'"'./build/package/sqllogclean_1.0.0_amd64.deb'"'"'
The following additional packages will be installed:
  fonts-wqy-zenhei libodbc2 libqt6widgets6 odbcinst tdsodbc
Suggested packages:
  libmyodbc odbc-postgresql
Recommended packages:
  unixodbc-common
The following NEW packages will be installed:
  fonts-wqy-zenhei libodbc2 libqt6widgets6 odbcinst sqllogclean
  tdsodbc
The following packages will be upgraded:
  libc6
0 upgraded, 6 newly installed, 0 to remove and 0 not upgraded.
OUT
exit 0'

# ---- an install removes what apt-get said it brought in, nothing else
install_own ./sqllogclean.deb "$stubs/apt.out"
expect "the install waits for another package manager" logged "^apt-get install -o DPkg::Lock::Timeout=[1-9]"
expect "brought in: apt-get's NEW packages" \
    test "${installed_by_us[*]}" = "fonts-wqy-zenhei libodbc2 libqt6widgets6 odbcinst sqllogclean tdsodbc"
remove_own
expect "purged: exactly those" \
    logged "^apt-get purge -o DPkg::Lock::Timeout=[0-9]* -y -qq fonts-wqy-zenhei libodbc2 libqt6widgets6 odbcinst sqllogclean tdsodbc$"
expect "purged once" test ${#installed_by_us[@]} -eq 0
: >"$STUB_LOG"
remove_own
expect "nothing more to purge" test ! -s "$STUB_LOG"

# ---- a copy of the tool installed before the check
for status in "" not-installed; do
    STUB_STATUS=$status make_way_for_own_install 2>/dev/null
    expect "no copy ('$status'): the check goes on" test $? -eq 0
done
for status in installed config-files half-installed; do
    : >"$STUB_LOG"
    message=$(STUB_STATUS=$status CI='' make_way_for_own_install 2>&1)
    expect "a copy ($status): the check stops" test $? -ne 0
    expect "a copy ($status): it says why" grep -q "already installed" <<<"$message"
    expect "a copy ($status): left alone" test -z "$(grep '^dpkg ' "$STUB_LOG")"
done
for ci in true 1; do
    : >"$STUB_LOG"
    message=$(STUB_STATUS=installed CI=$ci make_way_for_own_install 2>&1)
    expect "under CI=$ci: the copy is replaced" test $? -eq 0
    expect "under CI=$ci: it says so" grep -q "^CI: removing" <<<"$message"
    expect "under CI=$ci: purged by dpkg" logged "^dpkg --purge --force-remove-reinstreq sqllogclean$"
done
STUB_STATUS=installed CI=false make_way_for_own_install 2>/dev/null
expect "CI=false is no CI" test $? -ne 0

finish
