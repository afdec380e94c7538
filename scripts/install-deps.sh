#!/usr/bin/env bash
# Installs what Halvorin needs to build, test and run on Debian 12. Quick when
# everything is already there: apt-get runs only for missing packages.
set -euo pipefail

packages=(
    g++ cmake ninja-build ccache clang clang-format libclang-rt-14-dev
    googletest libgtest-dev libgmock-dev
    nlohmann-json3-dev liblzma-dev libssl-dev prometheus
    sg3-utils xz-utils python3-jsonschema gettext
    qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev
    fonts-roboto fonts-wqy-microhei
    xvfb xauth x11-utils openbox xdotool weston qt6-wayland
    dbus at-spi2-core python3-gi gir1.2-atspi-2.0
    dpkg-dev file lintian desktop-file-utils appstream
    qemu-system-x86 busybox-static cpio binutils
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
