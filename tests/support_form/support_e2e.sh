#!/usr/bin/env bash
# End-to-end check of Contact Support as a person would use it: a real X
# server (Xvfb), the stand-in service, the program, and a help centre on
# loopback (support_httpd) that records what it receives.
#
#   tests/support_form/support_e2e.sh <build folder> <source folder>
#
# Screenshots land in <source folder>/artifacts/e2e/.
set -euo pipefail

BUILD=$(realpath "$1")
SRC=$(realpath "$2")
if [ -z "${E2E_INSIDE_DBUS:-}" ]; then
  exec env E2E_INSIDE_DBUS=1 dbus-run-session -- bash "$0" "$@"
fi

PROGRAM=$BUILD/app/tervalapro
STANDIN=$BUILD/standin/tervala-standin
HTTPD=$BUILD/tests/support_form/support_httpd
ART=$SRC/artifacts/e2e
mkdir -p "$ART"
WORK=$(mktemp -d /tmp/tervala-support-e2e.XXXXXX)

export TERVALA_RUNTIME_DIR=$WORK/run TERVALA_COMMON_APPDATA=$WORK/appdata
export XDG_RUNTIME_DIR=$WORK/user XDG_CONFIG_HOME=$WORK/config XDG_CONFIG_DIRS=$WORK/xdg
export HOME=$WORK/home TERVALA_DEBUG_DUMP_DIR=$WORK/dump
export QT_QPA_PLATFORM=xcb LANG=C.UTF-8 LC_ALL=C.UTF-8
unset WAYLAND_DISPLAY http_proxy HTTP_PROXY all_proxy ALL_PROXY
mkdir -p "$TERVALA_RUNTIME_DIR" "$TERVALA_COMMON_APPDATA" "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME" \
  "$XDG_CONFIG_DIRS/Quornix" "$HOME" "$TERVALA_DEBUG_DUMP_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
CONF="$XDG_CONFIG_DIRS/Quornix/Tervala Pro.conf"

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
  shot "support-failure" || true
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
form_window() { window_titled "Contact Support" | head -n 1; }
form_visible() { [ -n "$(form_window)" ]; }
form_gone() { [ -z "$(form_window)" ]; }
main_window() { window_titled "Tervala Pro" | awk '$4 == 324 && $5 == 481 {print; exit}'; }
main_visible() { [ -n "$(main_window)" ]; }
message_text() { cat "$TERVALA_DEBUG_DUMP_DIR/message.txt" 2>/dev/null; }
message_starts() { message_text | head -n 1 | grep -qF -- "$1"; }
dismiss_message() {
  local id x y w h
  read -r id x y w h <<<"$(window_titled 'Tervala Pro' | awk '!($4 == 324 && $5 == 481) {print; exit}')"
  [ -n "${id:-}" ] || fail "no message box to close"
  xdotool mousemove $((x + w / 2)) $((y + h / 2)) key Return
  wait_until 5 sh -c "[ -z \"\$(cat '$TERVALA_DEBUG_DUMP_DIR/message.txt' 2>/dev/null)\" ]" ||
    fail "the message box did not close"
}
# Help > Contact Support through the menu bar: a click on File, Right to the
# Help menu, then the entry's mnemonic.
open_form() {
  local id x y w h
  read -r id x y w h <<<"$(main_window)"
  [ -n "${id:-}" ] || fail "the main window is not visible"
  xdotool mousemove $((x + 47)) $((y + 90)) click 1
  sleep 0.5
  xdotool key Right sleep 0.3 key c
  wait_until 10 form_visible || fail "Help > Contact Support opened no form"
}
# Types into the form's fields from the top (the name has the focus).
fill_form() { # name email subject message
  local id x y w h
  read -r id x y w h <<<"$(form_window)"
  xdotool windowactivate --sync "$id" 2>/dev/null || xdotool windowfocus --sync "$id"
  xdotool type --delay 15 "$1"
  xdotool key Tab
  xdotool type --delay 15 "$2"
  xdotool key Tab
  xdotool type --delay 15 "$3"
  xdotool key Tab
  xdotool type --delay 15 "$4"
  xdotool key Return
  xdotool type --delay 15 "second line"
}
send_form() { xdotool key Tab Return; } # from the message box to Send
start_httpd() { # status
  stop httpd
  rm -f "$WORK/requests.txt"
  start httpd "$HTTPD" "$WORK/requests.txt" "$1"
  wait_until 10 grep -q '^port ' "$WORK/httpd.out" || fail "the loopback help centre did not start"
  local port
  port=$(awk '/^port / {print $2}' "$WORK/httpd.out")
  printf '[General]\nLogTraceLevel=1\nSupportHost=127.0.0.1:%s\nSupportEmail=help@example.com\n' \
    "$port" >"$CONF"
}

cd "$SRC" # pictures are read relative to the working folder

step "X server, stand-in service, help centre and the program"
start xvfb sh -c 'exec Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$0"' "$WORK/display"
wait_until 10 test -s "$WORK/display" || fail "Xvfb did not start"
export DISPLAY=":$(cat "$WORK/display")"
start_httpd 200
start standin "$STANDIN"
wait_until 10 grep -q ready "$WORK/standin.out" || fail "the stand-in service did not start"
start program "$PROGRAM"
wait_until 15 main_visible || fail "the main window did not show"
# The stand-in has logged the program's arrival by now.
wait_until 10 test -s "$TERVALA_COMMON_APPDATA/quornix/log/servicelog.txt" ||
  fail "the stand-in wrote no service log"

step "Help > Contact Support opens the form; Details shows the log tail"
open_form
read -r _ _ _ fw fh <<<"$(form_window)"
echo "   form ${fw}x${fh}"
shot contact-support-form
fill_form "Ann Lee" "ann@example.com" "Grey icon" "It stays grey."
xdotool key alt+d
sleep 0.5
shot contact-support-details
xdotool key alt+d

step "Send posts the form to the help centre"
xdotool key shift+Tab shift+Tab shift+Tab # Details, Cancel, Send: back to the message box
send_form
wait_until 15 message_starts "Error report is successfully sent to the support." ||
  fail "no success message: '$(message_text)'"
shot contact-support-sent
dismiss_message
wait_until 5 form_gone || fail "the form stayed open after a successful send"
grep -qx 'POST /chat/module.php?module=HelpCenter HTTP/1.1' "$WORK/requests.txt" ||
  fail "wrong request line: $(head -n 1 "$WORK/requests.txt")"
grep -qx 'Content-Type: application/x-www-form-urlencoded' "$WORK/requests.txt" ||
  fail "wrong content type"
body=$(awk '/^$/ {getline; print; exit}' "$WORK/requests.txt")
case "$body" in
departmentid=1\&name=Ann%20Lee\&email=ann%40example.com\&subject=Grey%20icon\&message=It%20stays%20grey.%0D%0Asecond%20line*\&email_send=Submit) ;;
*) fail "unexpected body: $body" ;;
esac
# The stand-in's own log lines went with the message.
[[ "$body" == *UI_NOTIFY* ]] || fail "the service log tail is not in the body: $body"

step "with the service down: a server that never answers, Cancel"
stop standin
start_httpd silent
open_form
fill_form "Ann Lee" "ann@example.com" "Down" "No service."
send_form
wait_until 10 test -s "$WORK/requests.txt" || fail "the help centre got no request"
sleep 0.3
shot contact-support-sending
xdotool key Escape
sleep 0.5
form_visible || fail "Escape during the send closed the form"
[ -z "$(message_text)" ] || fail "a cancelled send showed a message: '$(message_text)'"
grep -q "Support report not sent" <(iconv -f UTF-16LE -t UTF-8 "$TERVALA_COMMON_APPDATA/quornix/log/uilog.txt" 2>/dev/null) &&
  fail "the cancel was reported as a failure"

step "a 500 keeps the form, a retry gets through"
start_httpd 500
xdotool key Return # the focus is back on Send
wait_until 15 message_starts "Sending error report failed." ||
  fail "a 500 answer did not show the failure: '$(message_text)'"
message_text | grep -q "500" || fail "the failure does not name the server's answer"
shot contact-support-failed
dismiss_message
form_visible || fail "the form closed after a failed send"
start_httpd 200
xdotool key Return # the focus is back on Send
wait_until 15 message_starts "Error report is successfully sent to the support." ||
  fail "the retry was not sent: '$(message_text)'"
dismiss_message
wait_until 5 form_gone || fail "the form stayed open after the retry"
grep -q 'subject=Down&message=No%20service.%0D%0Asecond%20line' "$WORK/requests.txt" ||
  fail "the retry lost what was typed: $(cat "$WORK/requests.txt")"

echo "PASS"
