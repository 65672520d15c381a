#!/usr/bin/env bash
# Renders a manual page and compares it with the program's --help: man must
# render it without a warning, and both must name the same options, so that
# neither drifts when an option is added, renamed or dropped.
#
#   tests/package/manpage_check.sh <program> <manual page source>
set -uo pipefail
PROGRAM=$1
PAGE=$2
command -v man >/dev/null || {
  echo "SKIP: man is not installed (tools/setup.sh installs man-db)"
  exit 77
}
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

rendered=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$PAGE" 2>"${TMPDIR:-/tmp}/man.$$.err")
warnings=$(cat "${TMPDIR:-/tmp}/man.$$.err")
rm -f "${TMPDIR:-/tmp}/man.$$.err"
[ -z "$warnings" ] || fail "man warns about $(basename "$PAGE"): $warnings"
[ -n "$rendered" ] || fail "$(basename "$PAGE") renders to nothing"

help=$("$PROGRAM" --help) || fail "$(basename "$PROGRAM") --help failed"

# Option words: a dash or two, a letter, then letters, digits and dashes. The
# page's hyphens render as U+2010 where man may break a line; make them plain.
options() { sed 's/\xe2\x80\x90/-/g' | grep -oE '(^|[][ (|,])--?[a-z][a-z0-9-]*' |
  sed -E 's/^[][ (|,]//' | sort -u; }
# Where the page describes usage: its synopsis and its options (other
# sections may quote other programs' options, such as systemctl's).
usage=$(awk '/^[A-Z]/ {keep = ($1 == "SYNOPSIS" || $1 == "OPTIONS" || $1 == "COMMANDS")} keep' <<<"$rendered")
diff <(options <<<"$help") <(options <<<"$usage") >"${TMPDIR:-/tmp}/opts.$$" ||
  fail "options differ (< only in --help, > only in the manual page):
$(cat "${TMPDIR:-/tmp}/opts.$$")"
rm -f "${TMPDIR:-/tmp}/opts.$$"
count=$(options <<<"$help" | wc -l)
[ "$count" -gt 0 ] || fail "no options found in --help"

if [ "$failures" -gt 0 ]; then exit 1; fi
echo "$(basename "$PAGE"): renders cleanly, $count options agree with --help"
