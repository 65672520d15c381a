#!/usr/bin/env bash
# Renders the hicolor PNG icons from their SVG sources. The SVGs under
# resources/linux/icons/hicolor/scalable are the artwork; every PNG beside them
# is made here and committed, so a build needs no SVG renderer. Run it after
# editing an SVG; the package test fails while a PNG is out of date.
#
#   tools/make-icons.sh [output folder]   (default: the source tree's hicolor folder)
set -euo pipefail
cd "$(dirname "$0")/.."
HICOLOR=resources/linux/icons/hicolor
OUT=${1:-$HICOLOR}
SIZES=(16 22 24 32 48 64 128 256)

command -v rsvg-convert >/dev/null || {
  echo "rsvg-convert is missing (tools/setup.sh installs librsvg2-bin)" >&2
  exit 1
}
for svg in "$HICOLOR"/scalable/*/*.svg; do
  context=$(basename "$(dirname "$svg")")
  name=$(basename "$svg" .svg)
  for size in "${SIZES[@]}"; do
    mkdir -p "$OUT/${size}x${size}/$context"
    rsvg-convert --width "$size" --height "$size" --keep-aspect-ratio \
      --output "$OUT/${size}x${size}/$context/$name.png" "$svg"
  done
done
