#!/usr/bin/env bash
# Builds (optimised) and runs every benchmark target; prints their reports.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench -j"$(nproc)"
for b in $(find build-bench -type f -name 'bench_*' -perm -u+x | sort); do
  echo "== $(basename "$b")"
  "$b" "$@"
done
