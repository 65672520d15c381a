#!/usr/bin/env bash
# Runs lupdate over the sources into a copy of each .ts file: a text added to
# or changed in the code shows as a difference, and so does a translation
# left unfinished.
#
#   tests/translations/ts_check.sh <lupdate> <source folder> <sources list> <ts file>...
set -uo pipefail
LUPDATE=$1
SRC=$2
SOURCES=$3
shift 3
WORK=$(mktemp -d /tmp/tervala-ts.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
failures=0
for ts in "$@"; do
  copy=$WORK/$(basename "$ts")
  cp "$ts" "$copy"
  if ! "$LUPDATE" -silent -I "$SRC" -no-obsolete -locations none "@$SOURCES" -ts "$copy" \
    >"$WORK/lupdate.log" 2>&1; then
    cat "$WORK/lupdate.log"
    echo "FAIL: lupdate failed"
    exit 1
  fi
  if ! diff -u "$ts" "$copy" >"$WORK/diff"; then
    echo "FAIL: $(basename "$ts") is not up to date with the code:"
    cat "$WORK/diff"
    failures=$((failures + 1))
  fi
  if grep -q 'type="unfinished"' "$copy"; then
    echo "FAIL: $(basename "$ts") has texts without a translation:"
    grep -B2 'type="unfinished"' "$copy" | sed -n 's/.*<source>\(.*\)<\/source>.*/  \1/p'
    failures=$((failures + 1))
  fi
done
if [ "$failures" -gt 0 ]; then
  echo "Bring them up to date with: cmake --build build --target update_translations"
  echo "then translate the new texts (Qt Linguist, or the <translation> elements by hand)."
  exit 1
fi
echo "translations: up to date with the code and complete"
