# What scripts/check-package does to the machine's packages, and no more: it
# installs the tool's package, later removes exactly what apt-get said that
# install brought in, and leaves alone a copy of the tool installed before.
# Needs common.sh (as_root, apt_get).
# shellcheck shell=bash

tool_package=sqllogclean
# Filled by install_own, emptied by remove_own.
installed_by_us=()

# The packages an apt-get install says it brings in (its "NEW packages"
# list), one a line, from its output in the C locale on stdin. Upgrades and
# suggestions are other lists.
new_packages_in_apt_output() {
    awk '/^The following NEW packages will be installed:/ { on = 1; next }
         on && /^  / { for (i = 1; i <= NF; i++) print $i; next }
         { on = 0 }'
}

# dpkg's state of the tool's package ("installed", "config-files", ...);
# nothing when dpkg has no trace of it.
tool_status() {
    local status
    status=$(dpkg-query -W -f='${db:Status-Status}' "$tool_package" 2>/dev/null) || return 0
    [ "$status" = not-installed ] || echo "$status"
}

under_ci() { [ -n "${CI:-}" ] && [ "$CI" != false ] && [ "$CI" != 0 ]; }

# Succeeds when the check may install its own copy: none is there, or under
# CI, where the machine is the check's, the one there was removed (and says
# so). Otherwise says why not and fails, touching nothing.
make_way_for_own_install() {
    local status
    status=$(tool_status)
    [ -z "$status" ] && return 0
    if under_ci; then
        echo "CI: removing the $tool_package package found on this machine ($status) to check the one built here"
        as_root env DEBIAN_FRONTEND=noninteractive dpkg --purge --force-remove-reinstreq "$tool_package" >/dev/null
        return
    fi
    {
        echo "check-package: $tool_package is already installed on this machine ($status)."
        echo "  The check installs and removes a copy of its own and will not remove yours."
        echo "  Remove it first (sudo apt-get purge $tool_package), or run the check under CI."
    } >&2
    return 1
}

# install_own DEB LOG: installs the package file with apt-get, its output in
# LOG, and notes what apt-get says it brought in (also when it fails midway).
install_own() {
    local deb=$1 log=$2 rc=0
    apt_get install -y -q --no-install-recommends "$deb" >"$log" 2>&1 || rc=$?
    mapfile -t installed_by_us < <(new_packages_in_apt_output <"$log")
    return $rc
}

# Purges what install_own brought in, nothing else.
remove_own() {
    [ ${#installed_by_us[@]} -eq 0 ] && return 0
    apt_get purge -y -qq "${installed_by_us[@]}" || return
    installed_by_us=()
}
