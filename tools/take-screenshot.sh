#!/usr/bin/env bash
# Takes the software-centre screenshot of the main window: the program from
# the build tree on a private X server with a tray host, the stand-in service
# publishing two networks with their peers. Writes
# resources/linux/screenshots/main-window.png (or the file given).
#
#   tools/take-screenshot.sh [output.png]     (LANG picks the language shown)
set -euo pipefail
cd "$(dirname "$0")/.."
SRC=$PWD
OUT=$(realpath -m "${1:-resources/linux/screenshots/main-window.png}")
PROGRAM=$SRC/build/app/tervalapro
STANDIN=$SRC/build/standin/tervala-standin
[ -x "$PROGRAM" ] && [ -x "$STANDIN" ] || {
  echo "build first: tools/build.sh normal" >&2
  exit 1
}
if [ -z "${SHOT_INSIDE_DBUS:-}" ]; then
  exec env SHOT_INSIDE_DBUS=1 dbus-run-session -- bash "$0" "$@"
fi

WORK=$(mktemp -d /tmp/tervala-shot.XXXXXX)
export TERVALA_RUNTIME_DIR=$WORK/run TERVALA_COMMON_APPDATA=$WORK/appdata
export XDG_RUNTIME_DIR=$WORK/user XDG_CONFIG_HOME=$WORK/config XDG_CONFIG_DIRS=$WORK/xdg
export HOME=$WORK/home TERVALA_DEBUG_DUMP_DIR=$WORK/dump QT_QPA_PLATFORM=xcb
export LANG=${LANG:-C.UTF-8}
unset WAYLAND_DISPLAY
mkdir -p "$TERVALA_RUNTIME_DIR" "$TERVALA_COMMON_APPDATA" "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME" \
  "$XDG_CONFIG_DIRS" "$HOME" "$TERVALA_DEBUG_DUMP_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

pids=()
start() { # pidfile command...
  setsid sh -c 'echo $$ >"$0"; exec "$@"' "$@" >>"$WORK/out.log" 2>&1 &
  for _ in $(seq 50); do [ -s "$1" ] && break; sleep 0.02; done
  pids+=("$(cat "$1")")
}
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  rm -rf "$WORK"
}
trap cleanup EXIT
wait_until() { # seconds command...
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.1
  done
}
main_window() {
  local id
  for id in $(xwininfo -root -children 2>/dev/null | awk '/\("tervalapro"/ {print $1}'); do
    xwininfo -id "$id" 2>/dev/null |
      awk -v id="$id" '/Width: 324/ {w=1} /Height: 481/ {h=1} /IsViewable/ {v=1} END {if (w && h && v) print id}'
  done | head -n 1
}
ctl() { "$STANDIN" ctl "$@" >/dev/null; }

start "$WORK/xvfb.pid" sh -c 'exec Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$0"' "$WORK/display"
wait_until 10 test -s "$WORK/display"
export DISPLAY=":$(cat "$WORK/display")"
start "$WORK/trayer.pid" trayer --edge top --align right --width 10 --height 32
start "$WORK/standin.pid" "$STANDIN"
wait_until 10 grep -q ready "$WORK/out.log"
ctl add-network design "Design Team"
ctl add-peer design Carol
ctl add-peer design Dave
ctl add-network ops "Ops Room"
ctl add-peer ops Olga
ctl add-peer ops Sam
ctl add-peer ops Priya
start "$WORK/program.pid" "$PROGRAM"
wait_until 20 sh -c "$(declare -f main_window); [ -n \"\$(main_window)\" ]" || {
  cat "$WORK/out.log" >&2
  echo "the main window did not appear" >&2
  exit 1
}
wait_until 10 grep -q 'Priya' "$TERVALA_DEBUG_DUMP_DIR/tree.txt"
sleep 1 # the last paint
mkdir -p "$(dirname "$OUT")"
import -window "$(main_window)" "$OUT"
echo "wrote $OUT"
