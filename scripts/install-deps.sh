#!/usr/bin/env bash
# Installs every build, test and runtime dependency on Debian (run as root or with sudo).
set -euo pipefail
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libjpeg62-turbo-dev libgif-dev libpng-dev zlib1g-dev libxml2-dev
    liblcms2-dev libexiv2-dev libxcb1-dev libheif-dev qt6-image-formats-plugins libqt6svg6
    fonts-liberation2 fontconfig
    libgtest-dev libbenchmark-dev
    xvfb xauth xdotool openbox imagemagick desktop-file-utils parallel
    libimage-exiftool-perl libjpeg-turbo-progs libheif-examples webp libtiff-tools
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    $SUDO apt-get update
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
