#!/usr/bin/env bash
# Installs every Debian package that building, running and testing need.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

PACKAGES=(
  g++ cmake ninja-build pkg-config ccache
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang-16 libclang-rt-16-dev clang-format-14
  zlib1g-dev libssl-dev
  libpng-dev libjpeg62-turbo-dev libexpat1-dev libagg-dev
  libfreetype-dev libfontconfig-dev fonts-liberation fonts-liberation2 fonts-dejavu-core
  libgtk-3-dev libcairo2-dev libcups2-dev libpaper-dev
  libpixman-1-dev libpango1.0-dev libturbojpeg0-dev
  xvfb xauth xdotool x11-xkb-utils xkb-data openbox libx11-dev libxdamage-dev
  libjpeg-turbo-progs libpng-tools pngcheck imagemagick poppler-utils qpdf python3-fonttools
  cups-daemon cups-client printer-driver-cups-pdf cups-filters
)

missing=()
for p in "${PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [[ $(id -u) -eq 0 ]] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
