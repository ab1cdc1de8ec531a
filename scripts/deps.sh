#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing Quillo need.
set -euo pipefail
packages=(
    cmake ninja-build g++ pkg-config git ca-certificates tzdata
    qt6-base-dev qt6-base-private-dev qt6-base-dev-tools qt6-svg-dev qt6-tools-dev libgl-dev
    libplist-dev libplist++-dev libcurl4-openssl-dev libical-dev
    libxcb1-dev libxcb-keysyms1-dev libxcb-xtest0-dev libx11-dev
    xvfb xauth xdotool dbus dbus-x11 trayer clang-format
    todoman vdirsyncer radicale curl
    xfce4-panel weston qt6-wayland dunst xdg-desktop-portal
)
if [ "$(id -u)" -eq 0 ]; then
    SUDO=()
else
    SUDO=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update
"${SUDO[@]}" apt-get install -y --no-install-recommends "${packages[@]}"
