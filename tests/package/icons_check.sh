#!/usr/bin/env bash
# The committed PNG icons must be what tools/make-icons.sh renders from the
# SVG sources today: an edited SVG whose PNGs were not made again shows a
# different icon at each size.
#
#   tests/package/icons_check.sh <source folder>
set -uo pipefail
SRC=$(realpath "$1")
for tool in rsvg-convert compare identify; do
  command -v "$tool" >/dev/null || {
    echo "SKIP: $tool is not installed (tools/setup.sh installs it)"
    exit 77
  }
done
WORK=$(mktemp -d /tmp/tervala-icons.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
"$SRC/tools/make-icons.sh" "$WORK" || exit 1

failures=0
HICOLOR=$SRC/resources/linux/icons/hicolor
rendered=0
while IFS= read -r -d '' fresh; do
  relative=${fresh#"$WORK"/}
  rendered=$((rendered + 1))
  committed=$HICOLOR/$relative
  size=${relative%%x*}
  if [ ! -f "$committed" ]; then
    echo "FAIL: $relative is not committed"
    failures=$((failures + 1))
    continue
  fi
  [ "$(identify -format '%wx%h' "$committed")" = "${size}x$size" ] || {
    echo "FAIL: $relative is not ${size}x$size"
    failures=$((failures + 1))
  }
  # A renderer update may move an edge pixel by a shade; a changed drawing
  # changes many.
  differing=$(compare -metric AE -fuzz 3% "$committed" "$fresh" null: 2>&1)
  [ "${differing%%.*}" -le $((size * size / 100)) ] 2>/dev/null || {
    echo "FAIL: $relative differs from its SVG in $differing pixels (run tools/make-icons.sh)"
    failures=$((failures + 1))
  }
done < <(find "$WORK" -name '*.png' -print0)
# The other way round: no committed PNG without a source.
while IFS= read -r -d '' committed; do
  [ -f "$WORK/${committed#"$HICOLOR"/}" ] || {
    echo "FAIL: ${committed#"$HICOLOR"/} has no SVG source"
    failures=$((failures + 1))
  }
done < <(find "$HICOLOR" -name '*.png' -print0)
[ "$rendered" -ge 16 ] || {
  echo "FAIL: only $rendered icons rendered"
  failures=$((failures + 1))
}
if [ "$failures" -gt 0 ]; then exit 1; fi
echo "icons: $rendered PNGs match their SVG sources"
