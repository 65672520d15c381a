#!/usr/bin/env bash
# Builds the Debian packages of the program and of the stand-in service:
#   dist/tervalapro_<version>_<arch>.deb       the tray program
#   dist/tervala-standin_<version>_<arch>.deb  the stand-in service
# Usage: tools/package.sh [output folder]
# Installs what is missing, brings the build tree up to date (only what the
# packages hold), then packs it with CPack.
set -euo pipefail
cd "$(dirname "$0")/.."
OUT=$(realpath -m "${1:-dist}")

tools/setup.sh
tools/build.sh normal tervalapro tervala-standin tervala_translations tervala_manpages \
  tervala_debian_changelog
mkdir -p "$OUT"
cpack --config build/CPackConfig.cmake -B "$OUT"
rm -rf "$OUT/_CPack_Packages"
echo
echo "Install with:  sudo apt install $OUT/tervalapro_*.deb   (and, for a demonstration, $OUT/tervala-standin_*.deb)"
