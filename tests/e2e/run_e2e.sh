#!/usr/bin/env bash
# tools/run.sh as a newcomer meets it: no DISPLAY, no XDG_RUNTIME_DIR, next to
# nothing in the environment. It must bring the program up on a virtual
# desktop of its own, and the export lines it prints must work when pasted
# into a new shell: the stand-in is reached there, an invitation is written
# there, and a launch from there hands the file to the running copy. Exit
# ends everything the script started.
#
#   tests/e2e/run_e2e.sh <build folder> <source folder>
set -euo pipefail

BUILD=$(realpath "$1")
SRC=$(realpath "$2")
ART=$SRC/artifacts/e2e
mkdir -p "$ART"
if [ "$BUILD" != "$SRC/build" ]; then
  echo "run.sh runs what is in $SRC/build; this build folder is $BUILD" >&2
  exit 1
fi
# Short: the hand-over socket's path inside TMPDIR must fit a socket address.
WORK=$(mktemp -d /tmp/tvr.XXXXXX)
mkdir -p "$WORK/home" "$WORK/t"

# What a fresh login shell of this user holds, and no more. TMPDIR keeps the
# per-user fallback folder of this test apart from any other copy running on
# the machine; the user's shell and the pasted-into shell share it, as a
# user's shells would.
CLEAN=(env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$WORK/home" TMPDIR="$WORK/t"
  LANG=C.UTF-8 USER="$(id -un)" TERVALA_RUN_SKIP_BUILD=1)
if [ "$(id -u)" -eq 0 ]; then
  # root may write /run/tervala and /var/lib, which run.sh would then use:
  # keep this test out of the machine's folders (the lines must still be
  # printed and work).
  CLEAN+=(TERVALA_RUNTIME_DIR="$WORK/run" TERVALA_COMMON_APPDATA="$WORK/appdata")
fi

run_pid=""
cleanup() {
  local status=$?
  if [ -n "$run_pid" ] && kill -0 "$run_pid" 2>/dev/null; then
    kill "$run_pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$run_pid" 2>/dev/null || break; sleep 0.1; done
  fi
  if [ $status -ne 0 ]; then
    echo "--- kept for inspection: $WORK" >&2
    tail -n 40 "$WORK/run.out" >&2 || true
  else
    rm -rf "$WORK"
  fi
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
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
printed() { grep -q -- "$1" "$WORK/run.out" 2>/dev/null; }

step "run.sh without a display starts its own desktop, the stand-in and the program"
# setsid: run.sh leads its own process group, as in a terminal.
setsid "${CLEAN[@]}" bash -c 'cd "$1" && exec bash "$2"' _ "$WORK/home" "$SRC/tools/run.sh" \
  >"$WORK/run.out" 2>&1 &
run_pid=$!
wait_until 60 printed "starting the program" || fail "run.sh did not get to the program"
printed "no display" || fail "run.sh did not say it brings up its own desktop"
# Shown while the stand-in runs, not held back in a pipe until it ends.
wait_until 10 printed "^\[stand-in\] ready" || fail "the stand-in's ready line did not show"
display=$(sed -n 's/^ *export DISPLAY=\(:[0-9]*\)$/\1/p' "$WORK/run.out")
[ -n "$display" ] || fail "no DISPLAY among the printed lines"
export DISPLAY=$display
program_window() { xwininfo -root -tree 2>/dev/null | grep -q '("tervalapro"'; }
wait_until 30 program_window || fail "the program has no window on $DISPLAY"
# The icon docks in the tray host that run.sh started.
docked() { xwininfo -root -tree 2>/dev/null | grep -q '("trayer"' && xwininfo -root -tree | awk '/\("tervalapro"/ {match($0, /^ */); if (RLENGTH > 5) f=1} END {exit !f}'; }
wait_until 20 docked || fail "the tray icon did not dock in run.sh's tray host"

step "the printed screenshot command works as printed"
shot_line=$(grep -m1 'import -window root' "$WORK/run.out" | sed 's/^ *//')
[ -n "$shot_line" ] || fail "no screenshot command printed"
(cd "$WORK" && env -i PATH=/usr/bin:/bin HOME="$WORK/home" bash -c "$shot_line") ||
  fail "the screenshot command failed: $shot_line"
shot_file=$(awk '{print $NF}' <<<"$shot_line")
[ -s "$shot_file" ] || fail "the screenshot command made no picture"
cp "$shot_file" "$ART/run-sh-desktop.png" && rm -f "$shot_file"

step "the export lines, pasted into a new shell, reach the stand-in and the running copy"
sed -n '/paste these lines there:/,/^then /p' "$WORK/run.out" | sed -n 's/^    //p' >"$WORK/pasted.sh"
grep -q '^export TERVALA_RUNTIME_DIR=' "$WORK/pasted.sh" || fail "no TERVALA_RUNTIME_DIR line"
grep -q '^export TERVALA_COMMON_APPDATA=' "$WORK/pasted.sh" || fail "no TERVALA_COMMON_APPDATA line"
cat >>"$WORK/pasted.sh" <<'TEXT'
set -e
build/standin/tervala-standin ctl clients
build/standin/tervala-standin write-invitation --path ~/team.Tervalapro \
  --password s3cret --nickname Carol --session-type "Design Team"
timeout 20 build/app/tervalapro ~/team.Tervalapro
echo handed-over
TEXT
# A new shell: none of run.sh's environment, not even DISPLAY.
env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$WORK/home" TMPDIR="$WORK/t" LANG=C.UTF-8 \
  bash "$WORK/pasted.sh" >"$WORK/pasted.out" 2>&1 || {
  cat "$WORK/pasted.out" >&2
  fail "the pasted lines did not work"
}
grep -q '^ok 1$' "$WORK/pasted.out" || fail "the stand-in reached from the new shell has not the program as its client: $(cat "$WORK/pasted.out")"
grep -q '^handed-over$' "$WORK/pasted.out" || fail "the launch from the new shell did not end"
# The running copy took the file: its Join Network wizard is up.
wizard() { xdotool search --onlyvisible --name '^Join Network$' >/dev/null 2>&1; }
wait_until 15 wizard || fail "the running copy did not open the handed-over file"
import -window root "$ART/run-sh-handed-over.png"

step "Exit ends the program and everything run.sh started"
children=$(pgrep -d ' ' -P "$run_pid" || true)
program_pid=$(pgrep -x -P "$run_pid" tervalapro || true)
[ -n "$program_pid" ] || fail "no program under run.sh"
xdotool windowfocus --sync "$(xdotool search --onlyvisible --name '^Join Network$' | head -n1)" key Escape
wait_until 10 sh -c "! xdotool search --onlyvisible --name '^Join Network\$' >/dev/null 2>&1" ||
  fail "Escape did not close the wizard"
# File > Exit from the keyboard: Alt+F opens File, x is Exit's key there.
main=$(xwininfo -root -children | awk '/\("tervalapro"/ && / 324x481\+/ {print $1; exit}')
[ -n "$main" ] || fail "the main window is not up"
xdotool windowfocus --sync "$main" key alt+f sleep 0.5 key x
wait_until 20 sh -c "! kill -0 $run_pid 2>/dev/null" || fail "run.sh did not end with the program"
for pid in $children; do
  kill -0 "$pid" 2>/dev/null && fail "process $pid ($(cat /proc/"$pid"/comm 2>/dev/null)) outlived run.sh"
done
wait_until 10 sh -c "! xwininfo -root >/dev/null 2>&1" || fail "the virtual desktop $DISPLAY is still up"
run_pid=""
echo "PASS"
