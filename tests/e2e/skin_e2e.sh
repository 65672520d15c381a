#!/usr/bin/env bash
# The main window as a person sees it, on a real X server with a tray host:
# screenshots at 100 % and 200 % compared with the reference pictures in
# tests/e2e/reference (a small tolerance absorbs font hinting), the hover
# picture, the drawn menu opening and closing, and dragging the window by its
# background.
#
#   tests/e2e/skin_e2e.sh <build folder> <source folder>
#
# UPDATE_REFERENCE=1 replaces the reference pictures with the new screenshots
# (look at them first). Screenshots land in <source folder>/artifacts/e2e/.
set -euo pipefail

BUILD=$(realpath "$1")
SRC=$(realpath "$2")
if [ -z "${E2E_INSIDE_DBUS:-}" ]; then
  exec env E2E_INSIDE_DBUS=1 dbus-run-session -- bash "$0" "$@"
fi
PROGRAM=$BUILD/app/tervalapro
STANDIN=$BUILD/standin/tervala-standin
ART=$SRC/artifacts/e2e
REF=$SRC/tests/e2e/reference
# Root-mean-square difference allowed, as a fraction of full scale.
TOLERANCE=${SKIN_TOLERANCE:-0.02}
mkdir -p "$ART" "$REF"
WORK=$(mktemp -d /tmp/tervala-skin.XXXXXX)

export TERVALA_RUNTIME_DIR=$WORK/run TERVALA_COMMON_APPDATA=$WORK/appdata
export XDG_RUNTIME_DIR=$WORK/user XDG_CONFIG_HOME=$WORK/config XDG_CONFIG_DIRS=$WORK/xdg
export HOME=$WORK/home TERVALA_DEBUG_DUMP_DIR=$WORK/dump
export QT_QPA_PLATFORM=xcb LANG=C.UTF-8 LC_ALL=C.UTF-8
unset WAYLAND_DISPLAY QT_SCALE_FACTOR
mkdir -p "$TERVALA_RUNTIME_DIR" "$TERVALA_COMMON_APPDATA" "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME" \
  "$XDG_CONFIG_DIRS" "$HOME" "$TERVALA_DEBUG_DUMP_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

PIDS=()
start() { # name command...
  local name=$1
  shift
  "$@" >"$WORK/$name.out" 2>&1 &
  echo $! >"$WORK/$name.pid"
  PIDS+=("$!")
}
stop() { # name
  local p
  p=$(cat "$WORK/$1.pid" 2>/dev/null) || return 0
  kill "$p" 2>/dev/null || true
  for _ in $(seq 50); do kill -0 "$p" 2>/dev/null || return 0; sleep 0.1; done
  kill -9 "$p" 2>/dev/null || true
}
cleanup() {
  local status=$?
  for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do kill "${PIDS[i]}" 2>/dev/null || true; done
  if [ $status -ne 0 ]; then
    echo "--- kept for inspection: $WORK" >&2
    for f in "$WORK"/*.out; do echo "--- $f" >&2; tail -n 20 "$f" >&2 || true; done
  else
    rm -rf "$WORK"
  fi
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  import -window root "$ART/skin-failure.png" || true
  exit 1
}
step() { echo "== $*"; }
wait_until() { # seconds command...
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.1
  done
}
# The viewable top-level window of the program of the given size: "id x y".
main_window() { # width height
  local id
  for id in $(xwininfo -root -children 2>/dev/null | awk '/\("tervalapro"/ {print $1}'); do
    xwininfo -id "$id" 2>/dev/null | awk -v id="$id" -v W="$1" -v H="$2" '
      /Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
      /Width:/ {w=$NF} /Height:/ {h=$NF} /Map State: IsViewable/ {v=1}
      END { if (v && w == W && h == H) print id, x, y }'
  done | head -n 1
}
shown() { [ -n "$(main_window "$1" "$2")" ]; }
menu_is() { [ "$(cat "$TERVALA_DEBUG_DUMP_DIR/menu.txt" 2>/dev/null)" = "$1" ]; }
# Screenshot of the window only: name width height.
window_shot() {
  local x y
  read -r _ x y <<<"$(main_window "$2" "$3")"
  import -window root -crop "${2}x${3}+${x}+${y}" +repage "$ART/$1.png"
}
# Compares a screenshot with its reference; the difference is printed.
compare_with_reference() { # name
  local shot=$ART/$1.png ref=$REF/$1.png diff
  if [ -n "${UPDATE_REFERENCE:-}" ] || [ ! -f "$ref" ]; then
    [ -n "${UPDATE_REFERENCE:-}" ] || fail "no reference picture $ref (run with UPDATE_REFERENCE=1)"
    cp "$shot" "$ref"
    echo "   reference $1 updated"
    return 0
  fi
  diff=$(compare -metric RMSE "$shot" "$ref" null: 2>&1 | sed -n 's/.*(\(.*\)).*/\1/p') ||
    true
  [ -n "$diff" ] || fail "$1: the screenshot and the reference differ in size"
  echo "   $1: difference $diff (allowed $TOLERANCE)"
  awk -v d="$diff" -v t="$TOLERANCE" 'BEGIN { exit !(d <= t) }' ||
    fail "$1 differs from its reference by $diff (see $ART/$1.png)"
}

cd "$SRC" # pictures are read relative to the working folder

step "X server (room for the window at 200 %), tray host and stand-in service"
start xvfb sh -c 'exec Xvfb -displayfd 3 -screen 0 1280x1100x24 -nolisten tcp 3>"$0"' "$WORK/display"
wait_until 10 test -s "$WORK/display" || fail "Xvfb did not start"
export DISPLAY=":$(cat "$WORK/display")"
start trayer trayer --edge top --align right --width 10 --height 32
start standin "$STANDIN"
wait_until 10 grep -q ready "$WORK/standin.out" || fail "the stand-in service did not start"

step "100 %: the window matches its reference"
start program "$PROGRAM"
wait_until 15 shown 324 481 || fail "the main window did not show"
sleep 1 # the first paint of the pictures
read -r _ x y <<<"$(main_window 324 481)"
xdotool mousemove $((x + 300)) $((y + 470)) # out of the way
sleep 0.3
window_shot main-window 324 481
compare_with_reference main-window
# The corners are cut: the desktop shows at the window's very corner.
corner=$(import -window root -crop "1x1+${x}+${y}" +repage -format '%[pixel:p{0,0}]' info:)
inside=$(import -window root -crop "1x1+$((x + 9))+$((y + 9))" +repage -format '%[pixel:p{0,0}]' info:)
[ "$corner" != "$inside" ] || fail "the window's corner is not cut ($corner)"

step "hovering Join shows its active picture"
before=$(import -window root -crop "1x1+$((x + 123))+$((y + 140))" +repage -format '%[pixel:p{0,0}]' info:)
xdotool mousemove $((x + 162)) $((y + 110))
sleep 0.5
after=$(import -window root -crop "1x1+$((x + 123))+$((y + 140))" +repage -format '%[pixel:p{0,0}]' info:)
[ "$before" != "$after" ] || fail "the Join button did not change under the mouse ($before)"
window_shot main-window-hover 324 481

step "the drawn menu: File opens, Help follows the mouse, a second click closes"
xdotool mousemove $((x + 50)) $((y + 72)) click 1
wait_until 5 menu_is File || fail "clicking File opened no list"
sleep 0.3
window_shot file-menu-open 324 481
xdotool mousemove $((x + 100)) $((y + 72))
wait_until 5 menu_is Help || fail "moving to Help did not switch lists"
xdotool click 1
wait_until 5 menu_is "" || fail "a second click did not close the list"
xdotool key alt+f
wait_until 5 menu_is File || fail "Alt+F opened no list"
xdotool key Escape
wait_until 5 menu_is "" || fail "Escape did not close the list"

step "dragging the background moves the window"
xdotool mousemove $((x + 160)) $((y + 455)) mousedown 1 sleep 0.2 mousemove $((x + 200)) $((y + 485)) \
  sleep 0.2 mousemove $((x + 220)) $((y + 495)) sleep 0.2 mouseup 1
sleep 0.5
read -r _ nx ny <<<"$(main_window 324 481)"
[ "$nx" != "$x" ] || [ "$ny" != "$y" ] || fail "the window did not move ($x,$y)"
stop program
wait_until 10 sh -c "! kill -0 $(cat "$WORK/program.pid") 2>/dev/null" || fail "the program did not end"

step "200 %: the window matches its reference"
QT_SCALE_FACTOR=2 start program2 "$PROGRAM"
wait_until 15 shown 648 962 || fail "the main window did not show at 200 %"
sleep 1
read -r _ x y <<<"$(main_window 648 962)"
xdotool mousemove $((x + 600)) $((y + 940))
sleep 0.3
window_shot main-window@2x 648 962
compare_with_reference main-window@2x
stop program2

echo "PASS"
