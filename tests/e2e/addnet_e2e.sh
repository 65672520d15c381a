#!/usr/bin/env bash
# End-to-end check of creating a network as a person would: a real X server
# (Xvfb), a real tray host (trayer), the stand-in service and the program. The
# creator adds a session type on the way, the stand-in writes the invitation
# file, and a second program with its own settings joins with the password and
# sees the network in its tree.
#
#   tests/e2e/addnet_e2e.sh <build folder> <source folder>
#
# Screenshots of every window on the way land in <source folder>/artifacts/e2e/.
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
WORK=$(mktemp -d /tmp/tervala-addnet.XXXXXX)

# One machine (service folders), two users' programs (settings, user runtime
# folder, what each shows).
export TERVALA_RUNTIME_DIR=$WORK/run TERVALA_COMMON_APPDATA=$WORK/appdata
export XDG_CONFIG_DIRS=$WORK/xdg HOME=$WORK/home
export QT_QPA_PLATFORM=xcb LANG=C.UTF-8 LC_ALL=C.UTF-8
unset WAYLAND_DISPLAY
mkdir -p "$TERVALA_RUNTIME_DIR" "$TERVALA_COMMON_APPDATA" "$XDG_CONFIG_DIRS/Quornix" "$HOME"
for who in a b; do
  mkdir -p "$WORK/user-$who" "$WORK/config-$who" "$WORK/dump-$who"
  chmod 700 "$WORK/user-$who"
done
printf '[General]\nLogTraceLevel=1\n' >"$XDG_CONFIG_DIRS/Quornix/Tervala Pro.conf"
user_env() { # a|b: the environment of that user's program
  echo "XDG_RUNTIME_DIR=$WORK/user-$1 XDG_CONFIG_HOME=$WORK/config-$1 TERVALA_DEBUG_DUMP_DIR=$WORK/dump-$1"
}

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
stop() { # name
  local p
  p=$(cat "$WORK/$1.pid" 2>/dev/null) || return 0
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
  import -window root "$ART/addnet-failure.png" || true
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
servicelog() { iconv -f UTF-16LE -t UTF-8 "$TERVALA_COMMON_APPDATA/quornix/log/servicelog.txt" 2>/dev/null | tr -d '\r\357\273\277'; }

# Visible windows with exactly this title: "id x y w h" per line.
window_titled() {
  local id
  for id in $(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null); do
    xwininfo -id "$id" 2>/dev/null | awk -v id="$id" '
      /Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
      /Width:/ {w=$NF} /Height:/ {h=$NF}
      END { if (w > 1) print id, x, y, w, h }'
  done
}
visible() { [ -n "$(window_titled "$1" | head -n 1)" ]; }
gone() { [ -z "$(window_titled "$1" | head -n 1)" ]; }
# The main window: the captionless "Tervala Pro" window of 324 x 481 pixels.
main_window() { window_titled "Tervala Pro" | awk '$4 == 324 && $5 == 481 {print; exit}'; }
# A picture of one window (by title; the first one found).
shot_window() { # name title
  local id x y w h
  read -r id x y w h <<<"$(window_titled "$2" | head -n 1)"
  [ -n "${id:-}" ] || fail "no window '$2' to take a picture of"
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "$ART/$1.png"
}
# Gives the keyboard to a window: there is no window manager, so the keyboard
# goes where the pointer is.
focus_window() { # title
  local id x y w h
  read -r id x y w h <<<"$(window_titled "$1" | head -n 1)"
  [ -n "${id:-}" ] || fail "no window '$1' to type into"
  xdotool mousemove $((x + w / 2)) $((y + 8)) sleep 0.2
}
typed() { xdotool type --delay 15 "$1"; }
dump() { cat "$WORK/dump-$1/$2" 2>/dev/null; }
message_is() { [ "$(dump "$1" message.txt)" = "$2" ]; }
dismiss_message() { # user
  focus_window "Tervala Pro" || true
  local id x y w h
  read -r id x y w h <<<"$(window_titled 'Tervala Pro' | awk '!($4 == 324 && $5 == 481) {print; exit}')"
  [ -n "${id:-}" ] || fail "no message box to close"
  xdotool mousemove $((x + w / 2)) $((y + h / 2)) key Return
  wait_until 5 sh -c "[ -z \"\$(cat '$WORK/dump-$1/message.txt' 2>/dev/null)\" ]" ||
    fail "the message box did not close"
}
tree_has() { grep -q -- "$2" "$WORK/dump-$1/tree.txt" 2>/dev/null; }

cd "$SRC" # pictures are read relative to the working folder

step "X server, tray host and stand-in service"
start xvfb sh -c 'exec Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$0"' "$WORK/display"
wait_until 10 test -s "$WORK/display" || fail "Xvfb did not start"
export DISPLAY=":$(cat "$WORK/display")"
start trayer trayer --edge top --align right --width 10 --height 32
start standin "$STANDIN"
wait_until 10 grep -q ready "$WORK/standin.out" || fail "the stand-in service did not start"

step "the creator's program shows its window"
# shellcheck disable=SC2046 # the folders have no blanks
start creator env $(user_env a) "$PROGRAM"
wait_until 15 sh -c "$(declare -f window_titled main_window); [ -n \"\$(main_window)\" ]" ||
  fail "the main window did not show"

step "Add from the window opens the wizard, first page"
read -r _ mx my _ _ <<<"$(main_window)"
# The Add button: 23, 74, 40, 22 dialog units.
xdotool mousemove $((mx + 34 + 30)) $((my + 120 + 17)) click 1
wait_until 10 visible "Add Network" || fail "the Add button opened no wizard"
sleep 0.5
focus_window "Add Network"
shot_window addnet-session-page "Add Network"
# The nickname field has the keyboard (nothing stored yet).
typed anna

step "Add New Session on the way: a new type with two ports"
xdotool key Tab Tab space # the session list, then "Add New Session"
wait_until 10 visible "Add New Session" || fail "Add New Session did not open"
focus_window "Add New Session"
typed "Team Chat"
xdotool key Tab
typed "5222,S5223"
shot_window addnet-new-session "Add New Session"
read -r _ _ _ _ collapsed <<<"$(window_titled 'Add New Session' | head -n 1)"
xdotool key Tab Tab space # Add, then "Advanced >>"
wait_until 5 bash -c "$(declare -f window_titled); read -r _ _ _ _ h <<<\"\$(window_titled 'Add New Session' | head -n 1)\"; [ \"\$h\" -gt $collapsed ]" ||
  fail "Advanced did not show the application row"
sleep 0.3
shot_window addnet-new-session-advanced "Add New Session"
xdotool key Return # the default button, Add
wait_until 10 gone "Add New Session" || fail "Add did not close the dialog"
sleep 0.3
shot_window addnet-session-page-after-add "Add Network"

step "Next, then the save page: Browse, passwords, Finish"
focus_window "Add Network"
xdotool key Return # the default button, Next
sleep 0.5
shot_window addnet-save-page "Add Network"
xdotool key Tab space # from the path field to "Browse.."
wait_until 10 visible "Save the network invitation File...." || fail "Browse opened no save dialog"
focus_window "Save the network invitation File...."
shot_window addnet-save-dialog "Save the network invitation File...."
# Without the suffix: the dialog adds ".Tervalapro".
typed "$WORK/made"
xdotool key Return
wait_until 10 gone "Save the network invitation File...." || fail "the save dialog stayed open"
focus_window "Add Network"
xdotool key Tab
typed "tea-time"
xdotool key Tab
typed "tea-time"
sleep 0.3
shot_window addnet-save-page-filled "Add Network"
xdotool key Return # Finish
wait_until 10 gone "Add Network" || fail "Finish did not end the wizard: '$(dump a message.txt)'"

step "the service creates the network and the file; the window says so"
wait_until 15 message_is a "Network invitation file is created successfully." ||
  fail "no success message: '$(dump a message.txt)'"
sleep 0.3
shot_window addnet-created "Tervala Pro"
dismiss_message a
[ -s "$WORK/made.Tervalapro" ] || fail "no invitation file at $WORK/made.Tervalapro"
servicelog | grep -q 'CREATE_INVITATION nickname "anna"' || fail "the service log has no CREATE_INVITATION from anna"
wait_until 10 tree_has a '^Team Chat' || fail "the new network is not in the creator's tree: $(dump a tree.txt)"
# UTF-16LE inside the catalogue.
LC_ALL=C grep -qaP 'T\x00e\x00a\x00m\x00 \x00C\x00h\x00a\x00t\x00' \
  "$TERVALA_COMMON_APPDATA/quornix/TervalaPro/sessions/SessionTypes.dat" ||
  fail "the new session type is not in the catalogue"

step "a second program, with its own settings, joins with the password"
# shellcheck disable=SC2046
start joiner env $(user_env b) "$PROGRAM" "$WORK/made.Tervalapro"
wait_until 15 visible "Join Network" || fail "the second program did not open the Join Network wizard"
focus_window "Join Network"
typed bruno
xdotool key Tab
typed "tea-time"
xdotool key Return
wait_until 15 message_is b "Successfully connected to the Team Chat network." ||
  fail "the join did not succeed: '$(dump b message.txt)'"
dismiss_message b
wait_until 10 tree_has b '^Team Chat' || fail "the network is not in the joiner's tree: $(dump b tree.txt)"
wait_until 5 tree_has b $'^\tbruno' || fail "the joiner is not in the tree: $(dump b tree.txt)"
tree_has b $'^\tanna' || fail "the creator is not in the tree: $(dump b tree.txt)"
sleep 0.3
import -window root "$ART/addnet-joined.png"

echo "PASS"
