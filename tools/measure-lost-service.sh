#!/usr/bin/env bash
# Whole-process measurement of the program against a service that accepts and
# at once drops every connection: connections per second, the program's CPU
# time and the growth of its trace log (error and service-link bits on), over
# a window that starts after the program has settled.
#
#   tools/measure-lost-service.sh [seconds] [program...]
#
# Programs default to build/app/tervalapro; pass another build's program to
# compare. The helper service is build/tests/e2e/flapping_service.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_WINDOW=${1:-5}
shift || true
PROGRAMS=("$@")
[ ${#PROGRAMS[@]} -gt 0 ] || PROGRAMS=("$PWD/build/app/tervalapro")
FLAPPER=$PWD/build/tests/e2e/flapping_service
[ -x "$FLAPPER" ] || { echo "build flapping_service first" >&2; exit 2; }
TICKS=$(getconf CLK_TCK)

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
size_of() { stat -c %s "$1" 2>/dev/null || echo 0; }

for program in "${PROGRAMS[@]}"; do
  WORK=$(mktemp -d /tmp/tervala-flap.XXXXXX)
  export TERVALA_RUNTIME_DIR=$WORK/run TERVALA_COMMON_APPDATA=$WORK/appdata
  export XDG_RUNTIME_DIR=$WORK/user XDG_CONFIG_HOME=$WORK/config XDG_CONFIG_DIRS=$WORK/xdg
  export HOME=$WORK/home QT_QPA_PLATFORM=offscreen
  mkdir -p "$TERVALA_RUNTIME_DIR" "$TERVALA_COMMON_APPDATA" "$XDG_RUNTIME_DIR" \
    "$XDG_CONFIG_HOME" "$XDG_CONFIG_DIRS/Quornix" "$HOME"
  chmod 700 "$XDG_RUNTIME_DIR"
  printf '[General]\nLogTraceLevel=5\n' >"$XDG_CONFIG_DIRS/Quornix/Tervala Pro.conf"
  LOG=$TERVALA_COMMON_APPDATA/quornix/log/uilog.txt

  "$FLAPPER" "$WORK/count" >"$WORK/flapper.out" 2>&1 &
  flapper=$!
  for _ in $(seq 100); do grep -q ready "$WORK/flapper.out" 2>/dev/null && break; sleep 0.05; done
  "$program" -startup >"$WORK/program.out" 2>&1 &
  pid=$!
  sleep 2 # start-up and the first losses
  c0=$(cat "$WORK/count" 2>/dev/null || echo 0); t0=$(cpu_ticks $pid); l0=$(size_of "$LOG")
  sleep "$SECONDS_WINDOW"
  c1=$(cat "$WORK/count" 2>/dev/null || echo 0); t1=$(cpu_ticks $pid); l1=$(size_of "$LOG")
  kill $pid $flapper 2>/dev/null || true
  wait $pid $flapper 2>/dev/null || true
  awk -v p="$program" -v c=$((c1 - c0)) -v t=$((t1 - t0)) -v l=$((l1 - l0)) \
    -v s="$SECONDS_WINDOW" -v hz="$TICKS" 'BEGIN {
      printf "%s\n  connections: %d in %d s (%.1f/s)\n  CPU: %.2f s (%.1f %%)\n  trace log: +%d bytes (%.0f bytes/s)\n",
        p, c, s, c / s, t / hz, 100 * t / hz / s, l, l / s }'
  rm -rf "$WORK"
done
