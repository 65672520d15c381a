#!/usr/bin/env bash
# Starts the stand-in service and the tray program (installs and builds first
# when needed). Arguments go to the program, e.g. tools/run.sh -startup.
#
# Without a display it brings up a private virtual desktop (Xvfb, the trayer
# tray host and a session bus) and ends it again when the program exits.
#
# Folders: /run/tervala and /var/lib when this user may write them (as the
# installed service would use), otherwise a folder inside the program's own
# private per-user folder (`tervalapro --runtime-folder`: $XDG_RUNTIME_DIR, or
# without it a checked 0700 folder in /tmp) and ~/.local/share;
# TERVALA_RUNTIME_DIR / TERVALA_COMMON_APPDATA override both. Nothing is
# created in them before the program is built and has a display.
#
# TERVALA_RUN_SKIP_BUILD=1 runs what is already built (the tests use it so as
# not to rebuild the tree they are testing).
set -euo pipefail
cd "$(dirname "$0")/.."

started=$SECONDS
say() { printf '[run.sh %3ds] %s\n' $((SECONDS - started)) "$*"; }

# The display is decided first: an hour of set-up must not end in "no display".
own_desktop=""
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  own_desktop=1
  say "no display: the program will run on a private virtual desktop (Xvfb with a tray host)"
fi

need_setup=""
[ -x build/app/tervalapro ] && [ -x build/standin/tervala-standin ] || need_setup=1
for tool in cmake ninja; do command -v "$tool" >/dev/null || need_setup=1; done
if [ -n "$own_desktop" ]; then
  for tool in Xvfb trayer dbus-daemon import; do command -v "$tool" >/dev/null || need_setup=1; done
fi
if [ -n "$need_setup" ]; then
  say "installing the missing packages (tools/setup.sh)"
  tools/setup.sh
fi
if [ -z "${TERVALA_RUN_SKIP_BUILD:-}" ]; then
  # Always brought up to date (nothing to do when it is), so a pulled change
  # is what runs. The build shows its own progress, [done/total] per step.
  say "building (tools/build.sh normal)"
  tools/build.sh normal
  say "build finished"
fi

# The program must at least start before any folder of the machine is made.
if ! version=$(build/app/tervalapro --version 2>&1); then
  echo "run.sh: build/app/tervalapro does not start: $version" >&2
  exit 1
fi
say "$version"

# Everything this script starts, ended in reverse order when it exits.
started_pids=()
desktop=""
finish() {
  local i
  for ((i = ${#started_pids[@]} - 1; i >= 0; i--)); do
    kill "${started_pids[i]}" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  [ -z "$desktop" ] || rm -rf "$desktop"
}
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

if [ -n "$own_desktop" ]; then
  desktop=$(mktemp -d "${TMPDIR:-/tmp}/tervala-desktop.XXXXXX")
  # -displayfd picks a free display number; -nolisten tcp keeps it local.
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$desktop/display" \
    >"$desktop/xvfb.log" 2>&1 &
  started_pids+=($!)
  for _ in $(seq 100); do [ -s "$desktop/display" ] && break; sleep 0.1; done
  if [ ! -s "$desktop/display" ]; then
    echo "run.sh: Xvfb did not start:" >&2
    cat "$desktop/xvfb.log" >&2
    exit 1
  fi
  export DISPLAY=":$(cat "$desktop/display")"
  trayer --edge top --align right --width 10 --height 32 >"$desktop/trayer.log" 2>&1 &
  started_pids+=($!)
  if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
    dbus-daemon --session --nofork --print-address=3 3>"$desktop/bus" >/dev/null 2>&1 &
    started_pids+=($!)
    for _ in $(seq 100); do [ -s "$desktop/bus" ] && break; sleep 0.1; done
    DBUS_SESSION_BUS_ADDRESS="$(head -n 1 "$desktop/bus")"
    export DBUS_SESSION_BUS_ADDRESS
  fi
  say "virtual desktop $DISPLAY is up (Xvfb, trayer, session bus); to look at it from another shell:"
  echo "    DISPLAY=$DISPLAY import -window root /tmp/tervala-screen.png"
  if command -v x11vnc >/dev/null; then
    echo "    x11vnc -display $DISPLAY -localhost -nopw   # then a VNC viewer on localhost:5900"
  else
    echo "    (or install x11vnc and run: x11vnc -display $DISPLAY -localhost -nopw)"
  fi
fi

usable() { mkdir -p "$1" 2>/dev/null && [ -w "$1" ]; }
if [ -z "${TERVALA_RUNTIME_DIR:-}" ] && ! usable /run/tervala; then
  # The program's own rule, so that a launch from another shell finds the
  # same folder; it refuses a folder someone else made or opened up.
  user_folder="$(build/app/tervalapro --runtime-folder)" || exit 1
  export TERVALA_RUNTIME_DIR="$user_folder/tervala"
fi
if [ -z "${TERVALA_COMMON_APPDATA:-}" ] && ! usable /var/lib/quornix; then
  export TERVALA_COMMON_APPDATA="${XDG_DATA_HOME:-$HOME/.local/share}/tervala-appdata"
fi
export TERVALA_RUNTIME_DIR="${TERVALA_RUNTIME_DIR:-/run/tervala}"
export TERVALA_COMMON_APPDATA="${TERVALA_COMMON_APPDATA:-/var/lib}"
mkdir -p "$TERVALA_RUNTIME_DIR" "$TERVALA_COMMON_APPDATA"

if build/standin/tervala-standin ctl help >/dev/null 2>&1; then
  say "a stand-in service already runs in $TERVALA_RUNTIME_DIR; using it"
else
  # sed -u: each line of the stand-in shows as it comes, also behind a pipe.
  build/standin/tervala-standin > >(sed -u 's/^/[stand-in] /') 2>&1 &
  started_pids+=($!)
  for _ in $(seq 200); do
    build/standin/tervala-standin ctl help >/dev/null 2>&1 && break
    kill -0 "${started_pids[-1]}" 2>/dev/null || { echo "run.sh: the stand-in service ended" >&2; exit 1; }
    sleep 0.1
  done
  say "stand-in service started (pid ${started_pids[-1]})"
fi

cat <<TEXT
To use the stand-in and the program from another shell, paste these lines there:
    cd $(printf '%q' "$PWD")
    export TERVALA_RUNTIME_DIR=$(printf '%q' "$TERVALA_RUNTIME_DIR")
    export TERVALA_COMMON_APPDATA=$(printf '%q' "$TERVALA_COMMON_APPDATA")
TEXT
if [ -n "$own_desktop" ]; then
  echo "    export DISPLAY=$DISPLAY"
fi
cat <<TEXT
then e.g. build/standin/tervala-standin ctl help
The data folder is $TERVALA_COMMON_APPDATA/quornix.
To stop: File > Exit (or Exit in the tray menu) ends the program, and with it
everything this script started; Ctrl+C here does the same.
TEXT

say "starting the program"
# In the background and waited for, so that a TERM or Ctrl+C to this script
# is acted on at once (and ends the program too) rather than after it.
build/app/tervalapro "$@" &
started_pids+=($!)
status=0
wait "${started_pids[-1]}" || status=$?
say "the program ended (status $status)"
exit $status
