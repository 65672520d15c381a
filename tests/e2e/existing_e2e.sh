#!/usr/bin/env bash
# End-to-end check of inviting people again to a network made earlier: a real
# X server (Xvfb), a real tray host (trayer), the stand-in service and the
# program. The creator makes a network with Add Network, the stand-in adds a
# second one and an expired one to the store, Existing Networks lists the two
# valid ones (the expired one is gone), and a fresh invitation file for the
# first one, under a new password, lets a second program join. Started again,
# the creator's program reminds from the tray that the one-day network ends
# within 24 hours.
#
#   tests/e2e/existing_e2e.sh <build folder> <source folder>
#
# Screenshots land in <source folder>/artifacts/e2e/existing-*.png.
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
WORK=$(mktemp -d /tmp/tervala-existing.XXXXXX)

# One machine (service folders), two users' programs.
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
user_env() { # a|b
  echo "XDG_RUNTIME_DIR=$WORK/user-$1 XDG_CONFIG_HOME=$WORK/config-$1 TERVALA_DEBUG_DUMP_DIR=$WORK/dump-$1"
}
LOCAL=$TERVALA_COMMON_APPDATA/quornix/TervalaPro/store/local

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
  import -window root "$ART/existing-failure.png" || true
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
main_window() { window_titled "Tervala Pro" | awk '$4 == 324 && $5 == 481 {print; exit}'; }
main_visible() { [ -n "$(main_window)" ]; }
shot_window() { # name title
  local id x y w h
  read -r id x y w h <<<"$(window_titled "$2" | head -n 1)"
  [ -n "${id:-}" ] || fail "no window '$2' to take a picture of"
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "$ART/$1.png"
}
# No window manager: the keyboard goes where the pointer is.
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
listed() { grep -qx -- "$1" "$WORK/dump-a/existing.txt" 2>/dev/null; }
# Any top-level window of the program other than the main window and the
# named ones: the tray's balloon, under an XEmbed tray host.
balloon_visible() {
  local id
  for id in $(xwininfo -root -children 2>/dev/null | awk '/\("tervalapro"/ {print $1}'); do
    xwininfo -id "$id" 2>/dev/null | awk '/Map State: IsViewable/ {v=1} /Width:/ {w=$NF} /Height:/ {h=$NF}
      END { exit !(v && w > 1 && !(w == 324 && h == 481)) }' && return 0
  done
  return 1
}
start_creator() {
  # shellcheck disable=SC2046 # the folders have no blanks
  start creator env $(user_env a) "$PROGRAM"
  wait_until 15 main_visible || fail "the main window did not show"
}

cd "$SRC" # pictures are read relative to the working folder

step "X server, tray host and stand-in service"
start xvfb sh -c 'exec Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$0"' "$WORK/display"
wait_until 10 test -s "$WORK/display" || fail "Xvfb did not start"
export DISPLAY=":$(cat "$WORK/display")"
start trayer trayer --edge top --align right --width 10 --height 32
start standin "$STANDIN"
wait_until 10 grep -q ready "$WORK/standin.out" || fail "the stand-in service did not start"
start_creator

step "Add Network makes a one-day network 'Team Chat'"
read -r _ mx my _ _ <<<"$(main_window)"
xdotool mousemove $((mx + 34 + 30)) $((my + 120 + 17)) click 1 # Add: 23, 74, 40, 22 dlu
wait_until 10 visible "Add Network" || fail "the Add button opened no wizard"
sleep 0.5
focus_window "Add Network"
typed anna
xdotool key Tab Tab space # the session list, then "Add New Session"
wait_until 10 visible "Add New Session" || fail "Add New Session did not open"
focus_window "Add New Session"
typed "Team Chat"
xdotool key Tab
typed "5222"
xdotool key Return
wait_until 10 gone "Add New Session" || fail "Add did not close the dialog"
focus_window "Add Network"
xdotool key Return # Next; the lifetime stays "1 day"
sleep 0.5
xdotool key Tab space # Browse..
wait_until 10 visible "Save the network invitation File...." || fail "Browse opened no save dialog"
focus_window "Save the network invitation File...."
typed "$WORK/first"
xdotool key Return
wait_until 10 gone "Save the network invitation File...." || fail "the save dialog stayed open"
focus_window "Add Network"
xdotool key Tab
typed "tea-time"
xdotool key Tab
typed "tea-time"
xdotool key Return # Finish
wait_until 10 gone "Add Network" || fail "Finish did not end the wizard: '$(dump a message.txt)'"
wait_until 15 message_is a "Network invitation file is created successfully." ||
  fail "no success message: '$(dump a message.txt)'"
dismiss_message a
TEAM=$(cd "$LOCAL" && ls Team-Chat-*.cert 2>/dev/null | head -n 1)
[ -n "$TEAM" ] || fail "no stored invitation of Team Chat in $LOCAL"
TEAM_BYTES=$(sha256sum "$LOCAL/$TEAM" | cut -d' ' -f1)

step "the stand-in stores a ten-day network and an expired one"
"$STANDIN" write-invitation --path "$WORK/games.Tervalapro" --password games-pass \
  --nickname anna --session-type Games --expiry-days 10 >"$WORK/games.out" || fail "write-invitation failed"
"$STANDIN" write-invitation --path "$WORK/old.Tervalapro" --password old-pass \
  --nickname anna --session-type "Old Team" --expiry-days -1 >"$WORK/old.out" || fail "write-invitation failed"
OLD=$(awk '/^stored / {print substr($0, 8)}' "$WORK/old.out")
[ -f "$OLD" ] || fail "the expired network was not stored"

step "Existing Networks from the window lists the two valid networks"
read -r _ mx my _ _ <<<"$(main_window)"
xdotool mousemove $((mx + 166 + 59)) $((my + 120 + 17)) click 1 # Existing: 111, 74, 79, 22 dlu
wait_until 15 visible "Show Existing" || fail "the Existing button opened no wizard: '$(dump a message.txt)'"
wait_until 5 listed "Team Chat" || fail "Team Chat is not listed: $(dump a existing.txt)"
listed "Games" || fail "Games is not listed: $(dump a existing.txt)"
! listed "Old Team" || fail "the expired network is listed"
[ ! -e "$OLD" ] || fail "the expired stored invitation is still there"
sleep 0.5
shot_window existing-list "Show Existing"

step "the selection follows the keyboard; the one-day network is marked"
focus_window "Show Existing"
for _ in 1 2; do
  grep -q '^remaining: expires in .* (marked)$' "$WORK/dump-a/existing.txt" && break
  xdotool key Down
  sleep 0.3
done
grep -q '^remaining: expires in 2[0-9] hours (marked)$' "$WORK/dump-a/existing.txt" ||
  fail "Team Chat is not marked as ending within a day: $(dump a existing.txt)"
sleep 0.3
shot_window existing-marked "Show Existing"

step "Next, a new file under a new password, Finish"
xdotool key Return # Next
sleep 0.5
shot_window existing-save-page "Show Existing"
xdotool key Tab space # Browse..
wait_until 10 visible "Save the network invitation File...." || fail "Browse opened no save dialog"
focus_window "Save the network invitation File...."
typed "$WORK/again"
xdotool key Return
wait_until 10 gone "Save the network invitation File...." || fail "the save dialog stayed open"
focus_window "Show Existing"
xdotool key Tab
typed "coffee-break"
xdotool key Tab
typed "coffee-break"
xdotool key Return # Finish
wait_until 10 gone "Show Existing" || fail "Finish did not end the wizard: '$(dump a message.txt)'"
wait_until 10 message_is a "Network invitation file is created successfully." ||
  fail "no success message: '$(dump a message.txt)'"
shot_window existing-exported "Tervala Pro"
dismiss_message a
[ -s "$WORK/again.Tervalapro" ] || fail "no invitation file at $WORK/again.Tervalapro"
[ "$(sha256sum "$LOCAL/$TEAM" | cut -d' ' -f1)" = "$TEAM_BYTES" ] || fail "the stored invitation changed"

step "a second program joins with the new password"
# shellcheck disable=SC2046
start joiner env $(user_env b) "$PROGRAM" "$WORK/again.Tervalapro"
wait_until 15 visible "Join Network" || fail "the second program did not open the Join Network wizard"
focus_window "Join Network"
typed bruno
xdotool key Tab
typed "coffee-break"
xdotool key Return
wait_until 15 message_is b "Successfully connected to the Team Chat network." ||
  fail "the join did not succeed: '$(dump b message.txt)'"
dismiss_message b
stop joiner

step "started again, the creator's program reminds from the tray"
stop creator
rm -f "$WORK/dump-a/reminder.txt"
start_creator
wait_until 15 grep -q '^The network Team Chat expires in 2[0-9] hours' "$WORK/dump-a/reminder.txt" ||
  fail "no reminder of Team Chat: '$(dump a reminder.txt)'"
grep -q Games "$WORK/dump-a/reminder.txt" && fail "the ten-day network was in the reminder"
wait_until 5 balloon_visible || fail "no balloon window on the screen"
sleep 0.3
import -window root "$ART/existing-reminder.png"

step "a further start the same day says nothing"
stop creator
rm -f "$WORK/dump-a/reminder.txt"
start_creator
sleep 3
[ ! -s "$WORK/dump-a/reminder.txt" ] || fail "a second reminder the same day: $(dump a reminder.txt)"

echo "PASS"
