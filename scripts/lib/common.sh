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
    # Wine, its 提示 box read back through the clipboard (xclip), in a Chinese
    # font without embedded bitmaps; the release is a zip file
    g++-mingw-w64-x86-64 wine wine64 xclip fonts-wqy-microhei zip
    # the fuzzers: clang, libFuzzer and the sanitizers' runtimes, the symbolizer
    clang-14 libclang-rt-14-dev llvm-14
)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_missing() {
    local missing=() p
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
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
