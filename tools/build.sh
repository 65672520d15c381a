#!/usr/bin/env bash
# Configures and builds one tree. Usage: tools/build.sh [normal|sanitize]
set -euo pipefail
cd "$(dirname "$0")/.."
KIND="${1:-normal}"
case "$KIND" in
  normal)   DIR=build;      FLAGS=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  sanitize) DIR=build-asan; FLAGS=(-DCMAKE_BUILD_TYPE=Debug -DTERVALA_SANITIZE=ON -DTERVALA_BENCHMARKS=OFF) ;;
  *) echo "usage: $0 [normal|sanitize]" >&2; exit 2 ;;
esac
cmake -S . -B "$DIR" -G Ninja "${FLAGS[@]}" >/dev/null
cmake --build "$DIR" -j"$(nproc)"
