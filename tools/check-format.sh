#!/usr/bin/env bash
# Fails when a C++ source of the project differs from clang-format's layout.
# tools/check-format.sh --fix rewrites the files instead.
set -euo pipefail
cd "$(dirname "$0")/.."
CF="${CLANG_FORMAT:-clang-format}"
mapfile -t files < <(git ls-files '*.cpp' '*.h' 2>/dev/null || find . -name '*.cpp' -o -name '*.h')
((${#files[@]})) || exit 0
if [ "${1:-}" = "--fix" ]; then
  "$CF" -i "${files[@]}"
else
  "$CF" --dry-run -Werror "${files[@]}"
fi
