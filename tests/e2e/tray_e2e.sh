#!/usr/bin/env bash
# End-to-end check of the tray program as a person would use it: a real X
# server (Xvfb), a real tray host (trayer), the stand-in service and the
# program, each with its own temporary folders, inside a private D-Bus session.
#
#   tests/e2e/tray_e2e.sh <build folder> <source folder>
#
# Screenshots land in <source folder>/artifacts/e2e/. Extending it: start more
# parts with `start <name> <command...>` (pid in $WORK/<name>.pid, output in
# $WORK/<name>.out), wait with `wait_until <seconds> <command...>`, drive the
# stand-in with `ctl <command> [args...]`, and read what the program shows in
# $TERVALA_DEBUG_DUMP_DIR (tree.txt, tray.txt, progress.txt, message.txt: the
# text of the message box that is up).
set -euo pipefail

BUILD=$(realpath "$1")
SRC=$(realpath "$2")
if [ -z "${E2E_INSIDE_DBUS:-}" ]; then
  exec env E2E_INSIDE_DBUS=1 dbus-run-session -- bash "$0" "$@"
fi

PROGRAM=$BUILD/app/tervalapro
STANDIN=$BUILD/standin/tervala-standin
ART=$SRC/artifacts/e2e
mkdir -p "$ART"
WORK=$(mktemp -d /tmp/tervala-e2e.XXXXXX)

export TERVALA_RUNTIME_DIR=$WORK/run TERVALA_COMMON_APPDATA=$WORK/appdata
export XDG_RUNTIME_DIR=$WORK/user XDG_CONFIG_HOME=$WORK/config XDG_CONFIG_DIRS=$WORK/xdg
export HOME=$WORK/home TERVALA_DEBUG_DUMP_DIR=$WORK/dump
export QT_QPA_PLATFORM=xcb LANG=C.UTF-8 LC_ALL=C.UTF-8
unset WAYLAND_DISPLAY
mkdir -p "$TERVALA_RUNTIME_DIR" "$TERVALA_COMMON_APPDATA" "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME" \
  "$XDG_CONFIG_DIRS/Quornix" "$HOME" "$TERVALA_DEBUG_DUMP_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
# Error texts go to the program's trace log, where this script reads them.
printf '[General]\nLogTraceLevel=1\n' >"$XDG_CONFIG_DIRS/Quornix/Tervala Pro.conf"

PARTS=()
start() { # name command...
  local name=$1
  shift
  setsid sh -c 'echo $$ >"$0"; exec "$@"' "$WORK/$name.pid" "$@" >"$WORK/$name.out" 2>&1 &
  PARTS+=("$name")
  local i
  for i in $(seq 50); do [ -s "$WORK/$name.pid" ] && return 0; sleep 0.02; done
  echo "could not start $name" >&2
  return 1
}
pid_of() { cat "$WORK/$1.pid" 2>/dev/null; }
alive() { local p; p=$(pid_of "$1") && [ -n "$p" ] && kill -0 "$p" 2>/dev/null; }
stop() { # name
  local p
  p=$(pid_of "$1") || return 0
  [ -n "$p" ] || return 0
  kill "$p" 2>/dev/null || true
  for _ in $(seq 50); do kill -0 "$p" 2>/dev/null || { rm -f "$WORK/$1.pid"; return 0; }; sleep 0.1; done
  kill -9 "$p" 2>/dev/null || true
  rm -f "$WORK/$1.pid"
}
cleanup() {
  local status=$?
  for ((i = ${#PARTS[@]} - 1; i >= 0; i--)); do stop "${PARTS[i]}"; done
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
  shot "failure" || true
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
shot() { import -window root "$ART/$1.png"; }
ctl() { "$STANDIN" ctl "$@" >/dev/null; }
servicelog() { iconv -f UTF-16LE -t UTF-8 "$TERVALA_COMMON_APPDATA/quornix/log/servicelog.txt" 2>/dev/null | tr -d '\r\357\273\277'; }
uilog() { iconv -f UTF-16LE -t UTF-8 "$TERVALA_COMMON_APPDATA/quornix/log/uilog.txt" 2>/dev/null | tr -d '\r'; }

# The program's icon: a window of class "tervalapro" nested inside the tray
# host's panel. Prints "id x y w h" (absolute position).
icon_window() {
  xwininfo -root -tree 2>/dev/null | awk '
    /\("tervalapro"/ {
      match($0, /^ */); if (RLENGTH <= 5) next
      n = split($(NF-1), g, /[x+]/); split($NF, a, /\+/)
      if (g[1] > 1 && g[2] > 1) { print $1, a[2], a[3], g[1], g[2]; exit }
    }'
}
icon_docked() { [ -n "$(icon_window)" ]; }
icon_gone() { [ -z "$(icon_window)" ]; }
# Viewable top-level windows of the program: "id x y w h" per line.
program_windows() {
  local id
  for id in $(xwininfo -root -children 2>/dev/null | awk '/\("tervalapro"/ {print $1}'); do
    xwininfo -id "$id" 2>/dev/null | awk -v id="$id" '
      /Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
      /Width:/ {w=$NF} /Height:/ {h=$NF} /Map State: IsViewable/ {v=1}
      END { if (v && w > 1) print id, x, y, w, h }'
  done
}
main_window() { program_windows | awk '$4 == 324 && $5 == 481 {print; exit}'; }
main_visible() { [ -n "$(main_window)" ]; }
main_hidden() { [ -z "$(main_window)" ]; }
popup_window() { program_windows | awk '!($4 == 324 && $5 == 481) {print; exit}'; }
popup_visible() { [ -n "$(popup_window)" ]; }
no_popup() { [ -z "$(popup_window)" ]; }
# Largest colour saturation inside the icon's area: near 0 for a grey picture
# (the tray host's own background is only faintly tinted), high for the
# coloured one.
icon_saturation() {
  local id x y w h
  read -r id x y w h <<<"$(icon_window)"
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "$WORK/icon.png"
  convert "$WORK/icon.png" -colorspace HSL -channel G -separate +channel -format '%[fx:maxima]' info:
}
icon_grey() { awk -v s="$(icon_saturation)" 'BEGIN { exit !(s < 0.15) }'; }
icon_coloured() { awk -v s="$(icon_saturation)" 'BEGIN { exit !(s > 0.3) }'; }
click_icon() { # button [repeat]
  local id x y w h
  read -r id x y w h <<<"$(icon_window)"
  xdotool mousemove $((x + w / 2)) $((y + h / 2)) click --repeat "${2:-1}" --delay 80 "$1"
}
click_hide_control() {
  local id x y w h
  read -r id x y w h <<<"$(main_window)"
  xdotool mousemove $((x + 309)) $((y + 16)) click 1
}
tray_menu_choose() { # entry number (1 = Show Tervala Pro, 2 = Exit)
  click_icon 3
  wait_until 5 popup_visible || fail "the tray menu did not open"
  local keys=()
  for _ in $(seq "$1"); do keys+=(Down); done
  xdotool key "${keys[@]}" Return
}
# Visible program windows with exactly this title: "id x y w h" per line.
window_titled() {
  local id
  for id in $(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null); do
    xwininfo -id "$id" 2>/dev/null | awk -v id="$id" '
      /Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
      /Width:/ {w=$NF} /Height:/ {h=$NF}
      END { if (w > 1) print id, x, y, w, h }'
  done
}
# The wizard and the progress window share their title; the wizard is the tall one.
wizard_window() { window_titled "Join Network" | awk '$5 > 200 {print; exit}'; }
wizard_visible() { [ -n "$(wizard_window)" ]; }
progress_visible() { window_titled "Join Network" | awk '$5 <= 200 {f=1} END {exit !f}'; }
no_progress() { ! progress_visible; }
file_dialog_visible() { [ -n "$(window_titled 'Select the network invitation file....')" ]; }
# Types into the wizard's fields (an empty nickname keeps the one shown) and
# presses Finish with Return.
wizard_type() { # nickname password
  local id x y w h
  read -r id x y w h <<<"$(wizard_window)"
  xdotool mousemove $((x + w / 2)) $((y + h / 2)) sleep 0.3
  if [ -n "$1" ]; then
    xdotool type --delay 15 "$1"
    xdotool key Tab
  fi
  xdotool type --delay 15 "$2"
  xdotool key Return
}
message_text() { cat "$TERVALA_DEBUG_DUMP_DIR/message.txt" 2>/dev/null; }
message_is() { [ "$(message_text)" = "$1" ] && popup_visible; }
# Closes the message box that is up with Return.
dismiss_message() {
  local id x y w h
  read -r id x y w h <<<"$(window_titled 'Tervala Pro' | awk '!($4 == 324 && $5 == 481) {print; exit}')"
  [ -n "${id:-}" ] || fail "no message box to close"
  xdotool mousemove $((x + w / 2)) $((y + h / 2)) key Return
  wait_until 5 sh -c "[ -z \"\$(cat '$TERVALA_DEBUG_DUMP_DIR/message.txt' 2>/dev/null)\" ]" ||
    fail "the message box did not close"
}
menu_is() { [ "$(cat "$TERVALA_DEBUG_DUMP_DIR/menu.txt" 2>/dev/null)" = "$1" ]; }
tree_has() { grep -q -- "$1" "$TERVALA_DEBUG_DUMP_DIR/tree.txt" 2>/dev/null; }
tooltip_is() { [ "$(cat "$TERVALA_DEBUG_DUMP_DIR/tray.txt" 2>/dev/null)" = "$1" ]; }

cd "$SRC" # pictures are read relative to the working folder

step "X server, tray host and stand-in service"
start xvfb sh -c 'exec Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$0"' "$WORK/display"
wait_until 10 test -s "$WORK/display" || fail "Xvfb did not start"
export DISPLAY=":$(cat "$WORK/display")"
start trayer trayer --edge top --align right --width 10 --height 32
start standin "$STANDIN"
wait_until 10 grep -q ready "$WORK/standin.out" || fail "the stand-in service did not start"

step "-startup: the icon docks, no window shows"
t0=$(date +%s%N)
start program "$PROGRAM" -startup
wait_until 15 icon_docked || fail "the icon never docked in the tray"
t1=$(date +%s%N)
echo "   docked after $(((t1 - t0) / 1000000)) ms"
sleep 1
main_hidden || fail "-startup showed the main window"
wait_until 5 tooltip_is "Tervala Pro active" || fail "tooltip is not 'Tervala Pro active'"
wait_until 5 icon_coloured || fail "the active icon is not in colour"

step "a bare second launch shows the window and ends"
timeout 10 "$PROGRAM" || fail "the second launch did not end cleanly"
wait_until 5 main_visible || fail "the bare second launch did not show the window"
alive program || fail "the first instance ended"
shot main-window

step "the top-right control hides, the tray menu's Show brings it back"
click_hide_control
wait_until 5 main_hidden || fail "the hide control did not hide the window"
click_icon 3
wait_until 5 popup_visible || fail "right click opened no menu"
read -r _ _ _ mw mh <<<"$(popup_window)"
[ "$mh" -ge 30 ] && [ "$mh" -le 90 ] || fail "the tray menu is ${mw}x${mh}, not two entries"
shot tray-menu
xdotool key Down Return
wait_until 5 main_visible || fail "'Show Tervala Pro' did not show the window"

step "double-click shows the window"
click_hide_control
wait_until 5 main_hidden || fail "the hide control did not hide the window"
click_icon 1 2
wait_until 5 main_visible || fail "double-click did not show the window"

step "a network and two peers appear in the tree"
ctl add-network net1 "Network One"
ctl add-peer net1 alice
ctl add-peer net1 bob
wait_until 5 tree_has $'^\tbob' || fail "the peers did not appear: $(cat "$TERVALA_DEBUG_DUMP_DIR/tree.txt" 2>/dev/null)"
tree_has '^Network One' || fail "the network did not appear"
sleep 0.3
shot tree

step "Close Server on a peer reaches the service with the network's name"
read -r bx by <<<"$(awk -F'\t' '$2 == "bob" { sub(/^@/, "", $3); split($3, p, ","); print p[1], p[2] }' "$TERVALA_DEBUG_DUMP_DIR/tree.txt")"
[ -n "${bx:-}" ] || fail "no position for the peer in the tree dump"
xdotool mousemove "$bx" "$by" click 3
wait_until 5 popup_visible || fail "right click on the peer opened no menu"
shot close-server-menu
xdotool key Down Return
wait_until 5 sh -c "$(declare -f servicelog); servicelog | grep -q 'CLOSE_SERVER_SESSION \"net1\"'" ||
  fail "the service never got CLOSE_SERVER_SESSION for net1"

step "join from a second launch: a wrong password is refused with the service's text"
"$STANDIN" write-invitation --path "$WORK/team.Tervalapro" --password s3cret \
  --nickname Carol --session-type "Design Team" >"$WORK/write-team.out" ||
  fail "the stand-in could not write an invitation: $(cat "$WORK/write-team.out")"
"$STANDIN" write-invitation --path "$WORK/ops.Tervalapro" --password opspass \
  --nickname Olga --session-type "Ops Room" >"$WORK/write-ops.out" ||
  fail "the stand-in could not write an invitation: $(cat "$WORK/write-ops.out")"
(cd "$WORK" && timeout 10 "$PROGRAM" team.Tervalapro) || fail "the second launch with a file did not end cleanly"
wait_until 10 wizard_visible || fail "the second launch's file did not open the Join Network wizard"
shot join-wizard
wizard_type dave s3cretX
wait_until 10 message_is "Invalid password or corrupted invitation file" ||
  fail "a wrong password did not show the service's text: '$(message_text)'"
no_progress || fail "the progress window stayed up behind the error"
shot join-wrong-password
dismiss_message

step "join from a second launch: progress window, then the success message"
ctl delay 1500
(cd "$WORK" && timeout 10 "$PROGRAM" team.Tervalapro) || fail "the second launch with a file did not end cleanly"
wait_until 10 wizard_visible || fail "the second launch's file did not open the Join Network wizard"
# The nickname was kept from the last attempt: only the password is asked for.
wizard_type "" s3cret
wait_until 5 progress_visible || fail "no progress window while the service works"
wait_until 3 grep -q "Connecting to the network server...." "$TERVALA_DEBUG_DUMP_DIR/progress.txt" ||
  fail "the progress window does not say it is connecting: $(cat "$TERVALA_DEBUG_DUMP_DIR/progress.txt")"
grep -q '^8/10$' "$TERVALA_DEBUG_DUMP_DIR/progress.txt" || fail "the progress bar is not at 8 of 10"
shot join-progress
wait_until 10 message_is "Successfully connected to the Design Team network." ||
  fail "no success message: '$(message_text)'"
no_progress || fail "the progress window stayed up after the outcome"
shot join-succeeded
dismiss_message
wait_until 5 tree_has '^Design Team' || fail "the joined network is not in the tree: $(cat "$TERVALA_DEBUG_DUMP_DIR/tree.txt")"
tree_has $'^\tCarol' || fail "the inviter is not in the tree"
tree_has $'^\tdave' || fail "the joiner is not in the tree"
servicelog | grep -q 'JOIN_INVITATION' || fail "the service log has no JOIN_INVITATION"
shot tree-after-join

step "join from the menu: file dialog, wizard, success"
main_visible || fail "the main window is not visible for the menu"
read -r _ mx my _ _ <<<"$(main_window)"
xdotool mousemove $((mx + 50)) $((my + 72)) click 1 # "File" in the drawn menu bar
wait_until 5 menu_is File || fail "clicking File opened no menu"
shot file-menu
xdotool key j
wait_until 10 file_dialog_visible || fail "Join Network from the menu opened no file dialog"
shot join-file-dialog
read -r _ fx fy fw fh <<<"$(window_titled 'Select the network invitation file....')"
xdotool mousemove $((fx + fw / 2)) $((fy + 10)) sleep 0.2 type --delay 15 "$WORK/ops.Tervalapro"
xdotool key Return
wait_until 10 wizard_visible || fail "choosing the file did not open the wizard"
wizard_type "" opspass
wait_until 10 message_is "Successfully connected to the Ops Room network." ||
  fail "no success message for the menu join: '$(message_text)'"
dismiss_message
wait_until 5 tree_has '^Ops Room' || fail "the second network is not in the tree"
tree_has $'^\tOlga' || fail "the second inviter is not in the tree"

step "status 0: grey icon, tooltip 'Tervala Pro inactive', a balloon"
click_hide_control
wait_until 5 main_hidden || fail "the hide control did not hide the window"
ctl status 0
wait_until 5 tooltip_is "Tervala Pro inactive" || fail "tooltip is not 'Tervala Pro inactive'"
wait_until 5 icon_grey || fail "the icon did not turn grey"
wait_until 3 popup_visible && shot balloon || echo "   (no balloon window seen)"
sleep 3 # the balloon times out

step "the tray host restarts: the icon comes back grey, without a balloon"
stop trayer
wait_until 5 icon_gone || fail "the icon stayed after the tray host ended"
start trayer trayer --edge top --align right --width 10 --height 32
wait_until 10 icon_docked || fail "the icon did not come back"
wait_until 5 icon_grey || fail "the icon came back in colour"
tooltip_is "Tervala Pro inactive" || fail "the tooltip changed over the restart"
sleep 1.5
no_popup || fail "a balloon or window appeared after the restart"
shot tray-restarted
ctl status 1
wait_until 5 icon_coloured || fail "status 1 did not restore the icon"

step "Exit from the tray menu ends the program and removes the icon"
tray_menu_choose 2
wait_until 10 sh -c "! kill -0 $(pid_of program) 2>/dev/null" || fail "Exit did not end the program"
wait_until 5 icon_gone || fail "the icon stayed in the tray after Exit"

step "started with an invitation file: the progress window stays above the main window"
# Position in the X server's stacking order, 1 = topmost (xwininfo lists the
# root's children from the top down).
stack_position() { xwininfo -root -children | awk -v id="$1" '$1 == id {print NR; exit}'; }
ctl delay 4000
start program3 sh -c 'cd "$0" && exec "$1" team.Tervalapro' "$WORK" "$PROGRAM"
wait_until 10 wizard_visible || fail "starting with a file did not open the Join Network wizard"
wizard_type "" s3cret
wait_until 5 progress_visible || fail "no progress window while the service works"
wait_until 10 main_visible || fail "the main window did not appear after the wizard"
sleep 0.5 # let a late map of the main window land before looking at the order
# xdotool gives the id in decimal, xwininfo in hex.
progress_id=$(printf '0x%x' "$(window_titled "Join Network" | awk '$5 <= 200 {print $1; exit}')")
read -r main_id _ <<<"$(main_window)"
[ -n "$progress_id" ] && [ -n "$main_id" ] || fail "progress or main window not found"
progress_pos=$(stack_position "$progress_id")
main_pos=$(stack_position "$main_id")
shot progress-above-main
[ "$progress_pos" -lt "$main_pos" ] ||
  fail "the progress window ($progress_pos) is under the main window ($main_pos)"
wait_until 10 sh -c "[ -n \"\$(cat '$TERVALA_DEBUG_DUMP_DIR/message.txt' 2>/dev/null)\" ]" ||
  fail "no outcome of the join started with a file"
dismiss_message
tray_menu_choose 2
wait_until 10 sh -c "! kill -0 $(pid_of program3) 2>/dev/null" || fail "Exit did not end the program"

step "no service at start: the connection error box, then the end"
stop standin
start program2 "$PROGRAM"
wait_until 10 popup_visible || fail "no error box without the service"
shot no-service
wait_until 5 sh -c "$(declare -f uilog); uilog | grep -q 'Unable to establish connection with the service'" ||
  fail "the error text is not the connection error"
read -r _ ex ey ew eh <<<"$(popup_window)"
xdotool mousemove $((ex + ew / 2)) $((ey + eh / 2)) key Return
wait_until 10 sh -c "! kill -0 $(pid_of program2) 2>/dev/null" || fail "the program did not end after the error"
icon_gone || fail "an icon docked although the service was absent"

echo "PASS"
