#!/usr/bin/env bash
# Renders the program's pictures from the SVG sources in images/src and
# icons/src. The results are committed; run this again after editing a source.
# Needs rsvg-convert (librsvg2-bin) and ImageMagick (tools/setup.sh installs both).
set -euo pipefail
cd "$(dirname "$0")/.."
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT

# 24-bit uncompressed BMP, the format the program's loaders and masks expect.
bmp() { # svg out scale [threshold]
  local svg=$1 out=$2 scale=$3
  rsvg-convert -z "$scale" -b white "$svg" -o "$TMP/r.png"
  if [ "${4:-}" = mask ]; then
    # Masks are pure black and white: only exact white is see-through.
    convert "$TMP/r.png" -alpha off -colorspace gray -threshold 50% -type truecolor "BMP3:$out"
  else
    convert "$TMP/r.png" -alpha off -type truecolor "BMP3:$out"
  fi
}

for scale in 1 2; do
  suffix=""
  [ "$scale" = 2 ] && suffix="@2x"
  for name in wndbackground Tree_bg tree_down_arrow banner_icon_add banner_icon_existing \
    add_btn_default add_btn_active join_btn_default join_btn_active existing_btn_default \
    existing_btn_active; do
    bmp "images/src/$name.svg" "images/$name$suffix.bmp" "$scale"
  done
  for mask in Add_btn_Mask join_btn_mask existing_btn_mask; do
    bmp images/src/btn_mask.svg "images/$mask$suffix.bmp" "$scale" mask
  done
done

# Tray icons: every size a panel asks for, each rendered from the vector source.
for icon in trayicon trayicon_mono; do
  frames=()
  for size in 16 22 24 32 48 64 128 256; do
    rsvg-convert -w "$size" -h "$size" "icons/src/$icon.svg" -o "$TMP/$icon-$size.png"
    frames+=("$TMP/$icon-$size.png")
  done
  convert "${frames[@]}" "icons/$icon.ico"
done
