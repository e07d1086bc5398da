#!/usr/bin/env bash
# Installs the Debian packages that building, running, testing and packaging
# Pictavo need, but only those that are missing. The validators of the desktop
# entry and the AppStream metadata run in the tests; dpkg-dev (dpkg-shlibdeps)
# and file let `cpack -G DEB` work out the package's dependencies. Debian 12's
# libheif1 (pulled in by libheif-dev) has its HEVC (libde265) and AV1 (dav1d,
# aom) decoders built in; Pictavo decodes WebP and the common TIFF layouts through
# libwebp and libtiff itself, qt6-image-formats-plugins reads the other TIFFs;
# heif-convert from libheif-examples is the benchmarks' yardstick.
# Sourced by run.sh and test.sh.
set -euo pipefail

PICTAVO_PACKAGES=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev libgl-dev libjpeg62-turbo-dev
    qt6-image-formats-plugins libheif-dev liblcms2-dev zlib1g-dev
    libheif-examples
    libgtest-dev libbenchmark-dev
    libjpeg-turbo-progs
    clang libclang-rt-14-dev
    xvfb xauth xdg-utils
    qt6-translations-l10n
    openbox x11-utils xdotool
    desktop-file-utils appstream
    dpkg-dev file
    libexiv2-dev
    libwebp-dev libtiff-dev
)

missing_packages() {
    local pkg
    for pkg in "${PICTAVO_PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            echo "$pkg"
        fi
    done
}

install_missing_packages() {
    if ! command -v dpkg-query >/dev/null 2>&1; then
        echo "Pictavo is built on Debian 12 (or a system with apt). Please install by hand:" >&2
        echo "  ${PICTAVO_PACKAGES[*]}" >&2
        return 1
    fi
    local missing
    missing=$(missing_packages)
    [ -z "$missing" ] && return 0
    echo "Installing missing packages: $(echo $missing)"
    if ! command -v apt-get >/dev/null 2>&1; then
        echo "apt-get is not available. Please install these packages by hand: $(echo $missing)" >&2
        return 1
    fi
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null 2>&1; then
            sudo="sudo"
        else
            echo "Installing packages needs root rights. Please run as root: apt-get install $(echo $missing)" >&2
            return 1
        fi
    fi
    $sudo apt-get update -qq
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
}
