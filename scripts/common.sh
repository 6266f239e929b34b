# Shared by the scripts in this folder: Debian packages and the build.
# shellcheck shell=bash

QUORVEL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

QT5_PACKAGES="cmake ninja-build ccache g++ qtbase5-dev libqt5serialport5-dev qttools5-dev-tools qttools5-dev libqcustomplot-dev pkgconf libmosquitto-dev"
QT6_PACKAGES="cmake ninja-build ccache g++ qt6-base-dev qt6-serialport-dev qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools libgl-dev libqcustomplot-dev pkgconf libmosquitto-dev"
# Building and checking the Debian package (scripts/package).
PACKAGE_PACKAGES="dpkg-dev file lintian appstream desktop-file-utils"
# The Windows build (scripts/windows): the cross compiler, the installer maker, the host tools that
# build Qt from Debian's sources, and Wine with a display and xdotool for its tests.
WINDOWS_PACKAGES="cmake ninja-build ccache g++ make perl python3 qttools5-dev-tools dpkg-dev g++-mingw-w64-x86-64-posix mingw-w64-tools nsis zip unzip wine wine64 xvfb xauth xdotool imagemagick"
# Peers of the cross-checks, the MQTT broker, the virtual display and the fuzzing compiler.
TEST_PACKAGES="mbpoll python3-pymodbus python3-serial-asyncio socat xvfb xauth x11-utils clang libclang-rt-14-dev libbenchmark-dev mosquitto mosquitto-clients openssl"

# Installs whatever of the named Debian packages is missing (needs root or sudo).
ensure_packages() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}

# The compiler cache lives beside the cross-built Qt, outside the tree, where CI keeps it between
# runs; paths are taken relative to the tree, so that another clone of it finds the same entries.
export CCACHE_DIR=${CCACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/quorvel/ccache}
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$QUORVEL_ROOT}
export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}

# configure_and_build <build dir> [cmake options...]
configure_and_build() {
    local dir=$1
    shift
    # A compiler cache, where there is one, makes rebuilds of unchanged sources nearly free.
    command -v ccache >/dev/null && set -- -DCMAKE_CXX_COMPILER_LAUNCHER=ccache "$@"
    cmake -S "$QUORVEL_ROOT" -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" --parallel "$(nproc)"
}
