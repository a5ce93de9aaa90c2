# Shared by scripts/run and scripts/test: installs the Debian packages the
# build needs when they are missing, then configures and builds a preset.

set -eu
cd "$(dirname "$0")/.."

# Packages for building the program and running every test.
BUILD_PACKAGES="cmake ninja-build g++ qt6-base-dev qt6-qpa-plugins qt6-wayland libxss-dev zlib1g-dev
qt6-base-private-dev libwayland-dev libwayland-bin wayland-protocols pkg-config libxrandr-dev libxcb1-dev
libxcb-present-dev libraw-dev libcli11-dev nlohmann-json3-dev"
TEST_PACKAGES="libgtest-dev googletest libbenchmark-dev clang-format libx11-dev libxtst-dev libxfixes-dev
x11-xserver-utils xvfb openbox weston xwayland
python3 chromium chromium-driver"
# The sanitizer build, the fuzzers, static analysis and the system-call trace.
HARDENING_PACKAGES="clang-14 libclang-rt-14-dev clang-tidy-14 strace dbus-daemon"
# Cross-building Pruvex.exe and pruvex-measure.exe (with mingw's zlib, and
# LibRaw's source fetched with apt from the signed Debian archive) and
# testing them under Wine.
MINGW_PACKAGES="g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
libz-mingw-w64-dev debian-archive-keyring"
WINDOWS_PACKAGES="$MINGW_PACKAGES wine wine64 fonts-wine icoutils"
# Making the .deb (dpkg-shlibdeps finds its Depends, file finds the binaries)
# and checking it, its desktop entry, AppStream metadata and man page.
PACKAGE_PACKAGES="dpkg-dev file desktop-file-utils appstream lintian man-db groff-base"

ensure_packages() {
    missing=""
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
            missing="$missing $package"
        fi
    done
    [ -z "$missing" ] && return 0
    echo "Installing:$missing"
    if [ "$(id -u)" -eq 0 ]; then
        sudo=""
    elif command -v sudo >/dev/null 2>&1; then
        sudo="sudo"
    else
        echo "These Debian packages are missing and this user cannot install them:$missing" >&2
        exit 1
    fi
    $sudo apt-get update -qq
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
}

build_preset() {
    preset=$1
    shift
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" "$@"
}
