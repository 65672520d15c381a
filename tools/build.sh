#!/usr/bin/env bash
# Configures and builds one tree, or only the targets named.
# Usage: tools/build.sh [normal|sanitize] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
KIND="${1:-normal}"
case "$KIND" in
  normal)   DIR=build;      FLAGS=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  sanitize) DIR=build-asan; FLAGS=(-DCMAKE_BUILD_TYPE=Debug -DTERVALA_SANITIZE=ON -DTERVALA_BENCHMARKS=OFF) ;;
  *) echo "usage: $0 [normal|sanitize]" >&2; exit 2 ;;
esac
# A compiler cache shared by every checkout of the tree: paths are made
# relative to the checkout, so a second clone reuses the first one's objects.
if command -v ccache >/dev/null; then
  FLAGS+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
fi
cmake -S . -B "$DIR" -G Ninja "${FLAGS[@]}" >/dev/null
shift || true
TARGETS=()
for target in "$@"; do TARGETS+=(--target "$target"); done
cmake --build "$DIR" -j"$(nproc)" "${TARGETS[@]}"
