# Shared by the project's scripts: packages, builds and the private network namespace.
# shellcheck shell=bash

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
jobs=${SQLLOGCLEAN_JOBS:-$(nproc 2>/dev/null || echo 2)}

# Debian packages the build, the tests, the demo, the screenshot and the package need.
packages=(
    cmake g++ ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev
    unixodbc unixodbc-dev tdsodbc freetds-bin libssl-dev
    googletest libgtest-dev libbenchmark-dev
    # the command-line companion: argument parsing and JSON, header-only (the
    # Windows build copies the same headers)
    libcli11-dev nlohmann-json3-dev
    iproute2 util-linux
    fonts-wqy-zenhei fontconfig
    xvfb xauth x11-apps x11-utils imagemagick
    # the Debian package: building it, checking it, driving the installed program
    dpkg-dev file lintian desktop-file-utils appstream xdotool python3
    # the Windows program: MinGW-w64 with the Windows ODBC and Winsock headers;
    # Qt's source comes with apt-get source (dpkg-dev); the program runs under
    # Wine in a Chinese locale made from the locales package's sources, its
    # 提示 box read back through the clipboard (xclip), in a Chinese font
    # without embedded bitmaps; the release is a zip file
    g++-mingw-w64-x86-64 wine wine64 locales xclip fonts-wqy-microhei zip
    # the fuzzers: clang, libFuzzer and the sanitizers' runtimes, the symbolizer
    clang-14 libclang-rt-14-dev llvm-14
)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Seconds apt-get waits for another package manager to finish (unattended
# upgrades on a fresh machine, another checkout's scripts) before giving up.
apt_lock_wait=${SQLLOGCLEAN_APT_LOCK_WAIT:-900}

# apt-get COMMAND ARGS... as root, in the C locale, waiting for dpkg's lock
# (DPkg::Lock::Timeout). "update" takes the lists' lock, which that option
# does not cover (apt 2.6 fails at once), so it is tried again while the lock
# is held, for as long.
apt_get() {
    local command=$1; shift
    local run=(as_root env LC_ALL=C DEBIAN_FRONTEND=noninteractive apt-get "$command" -o DPkg::Lock::Timeout="$apt_lock_wait")
    if [ "$command" != update ]; then
        "${run[@]}" "$@"
        return
    fi
    local deadline=$((SECONDS + apt_lock_wait)) output
    until output=$("${run[@]}" "$@" 2>&1); do
        if [ $SECONDS -lt $deadline ] && grep -q "Could not get lock" <<<"$output"; then
            sleep 5
            continue
        fi
        printf '%s\n' "$output" >&2
        return 1
    done
    [ -z "$output" ] || printf '%s\n' "$output"
}

install_missing() {
    local missing=() p
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    apt_get update -qq && apt_get install -y -qq --no-install-recommends "${missing[@]}"
}

# build DIR [cmake options...]
# With generator= (default Ninja) and, for a multi-config generator, config=
# naming the one configuration to build, e.g. generator="Ninja Multi-Config" config=Debug build DIR.
build() {
    local dir=$1; shift
    cmake -S "$root" -B "$dir" -G "${generator:-Ninja}" "$@"
    cmake --build "$dir" ${config:+--config "$config"} -j "$jobs"
}

# Cross-builds the Windows program (sqllogclean.exe and the Windows test
# programs) into build/windows against the static Qt that
# scripts/build-qt-windows builds once and keeps.
build_windows() {
    local qt dir=$root/build/windows
    qt=$("$root/scripts/build-qt-windows") || return 1
    # A build directory keeps the Qt it was first configured with (CMake does
    # not take another toolchain file); for another Qt it starts afresh.
    if [ -f "$dir/CMakeCache.txt" ] && ! grep -qF "Qt6_DIR:PATH=$qt/" "$dir/CMakeCache.txt"; then
        rm -rf "$dir"
    fi
    build "$dir" -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" \
        -DQT_CHAINLOAD_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release -DSQLLOGCLEAN_WERROR=ON
}

# Runs a command in a private network namespace with only loopback up, so
# nothing the tool or the tests send can leave this machine.
in_private_network() {
    local unshare=(unshare --net)
    [ "$(id -u)" -eq 0 ] || unshare+=(--map-root-user)
    "${unshare[@]}" bash -c 'ip link set lo up && exec "$@"' in_private_network "$@"
}
