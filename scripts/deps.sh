#!/usr/bin/env bash
# Installs the Debian packages Tavrine needs that are not installed yet, then fetches the face models.
# Idempotent: on a machine that has everything it only checks (a second or two).
# Usage: scripts/deps.sh [build|test]    build: what building and running needs; test (default): also what
#                                         the test suite needs.
# Runs apt-get as root, through sudo when not root. TAVRINE_NO_INSTALL=1 only reports what is missing.
set -euo pipefail

repo_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
what=${1:-test}

build_packages=(
    cmake ninja-build g++ pkg-config git ca-certificates
    qt6-base-dev qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools libgl-dev libx11-dev libxcb1-dev
    libxcb-screensaver0-dev
    libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-plugins-base gstreamer1.0-plugins-good
    nlohmann-json3-dev libwayland-dev libwayland-bin wayland-protocols
    libopencv-core-dev libopencv-imgproc-dev libopencv-dnn-dev libopencv-imgcodecs-dev
    libopencv-videoio-dev
    libdlib-dev libdlib-data libblas-dev liblapack-dev
    libgtest-dev libgmock-dev libbenchmark-dev qt6-svg-dev
    qt6-wayland qt6-translations-l10n
    dpkg-dev file
)
test_packages=(
    xvfb xauth xdotool x11-utils x11-xserver-utils xcompmgr openbox trayer
    dbus-daemon dbus-bin libglib2.0-bin python3-dbus python3-dbusmock python3-numpy python3-pil
    gstreamer1.0-tools gstreamer1.0-libav ffmpeg imagemagick
    desktop-file-utils appstream dex jq strace procps clang-format
    sway swaybg grim wtype weston xwayland util-linux
)

case "$what" in
build) wanted=("${build_packages[@]}") ;;
test) wanted=("${build_packages[@]}" "${test_packages[@]}") ;;
*) echo "usage: $0 [build|test]" >&2; exit 2 ;;
esac

# One dpkg-query for the whole list keeps the warm path fast.
mapfile -t installed < <(dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' "${wanted[@]}" 2>/dev/null |
    awk '$1 == "ii" { print $2 }')
missing=()
for p in "${wanted[@]}"; do
    found=0
    for q in "${installed[@]}"; do
        [ "$p" = "$q" ] && { found=1; break; }
    done
    [ "$found" = 1 ] || missing+=("$p")
done
# The face models come from the npm registry. Debian's npm conflicts with a nodejs from elsewhere, so it is
# only installed when there is no npm at all.
if ! command -v npm >/dev/null 2>&1; then
    missing+=(npm)
fi

if [ ${#missing[@]} -gt 0 ]; then
    echo "deps: missing ${#missing[@]} package(s): ${missing[*]}"
    if [ "${TAVRINE_NO_INSTALL:-0}" = 1 ]; then
        exit 1
    fi
    if [ "$(id -u)" = 0 ]; then
        sudo=()
    elif command -v sudo >/dev/null 2>&1; then
        sudo=(sudo)
    else
        echo "deps: run as root (or install sudo) to install them" >&2
        exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -q
    "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
else
    echo "deps: all ${#wanted[@]} packages present"
fi

if [ -x "$repo_dir/scripts/fetch-models.sh" ]; then
    "$repo_dir/scripts/fetch-models.sh"
elif [ -f "$repo_dir/scripts/fetch-models.sh" ]; then
    sh "$repo_dir/scripts/fetch-models.sh"
fi
