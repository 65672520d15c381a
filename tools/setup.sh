#!/usr/bin/env bash
# Installs what building, testing and running need on Debian 12.
# Safe to run again: only missing packages are installed.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config clang-format ccache
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev qt6-gtk-platformtheme
  libpugixml-dev libssl-dev openssl libbenchmark-dev
  xvfb xauth trayer xdotool x11-utils imagemagick librsvg2-bin dbus dbus-x11 strace
  locales desktop-file-utils shared-mime-info xdg-utils libfile-mimeinfo-perl
  clang libclang-rt-dev llvm
  qt6-tools-dev qt6-l10n-tools qt6-translations-l10n
  dpkg-dev fakeroot lintian appstream man-db gzip librsvg2-bin
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
