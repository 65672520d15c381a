#!/usr/bin/env bash
# Starts the stand-in service and the tray program (installs and builds first
# when needed). Arguments go to the program, e.g. tools/run.sh -startup.
#
# Folders: /run/tervala and /var/lib when this user may write them (as the
# installed service would use), otherwise a folder inside the program's own
# private per-user folder (`tervalapro --runtime-folder`: $XDG_RUNTIME_DIR, or
# without it a checked 0700 folder in /tmp) and ~/.local/share;
# TERVALA_RUNTIME_DIR / TERVALA_COMMON_APPDATA override both.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ ! -x build/app/tervalapro ] || [ ! -x build/standin/tervala-standin ]; then
  tools/setup.sh
fi
# Always brought up to date (nothing to do when it is), so a pulled change is
# what runs.
tools/build.sh normal >/dev/null

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
mkdir -p "${TERVALA_RUNTIME_DIR:-/run/tervala}" "${TERVALA_COMMON_APPDATA:-/var/lib}"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat >&2 <<'TEXT'
There is no display to show the tray program on. To see it on this machine:

  Xvfb :5 -screen 0 1024x768x24 & trayer --edge top --align right &   # with DISPLAY=:5
  DISPLAY=:5 tools/run.sh

then look at it with a VNC server on that display (x11vnc -display :5) or take
screenshots (DISPLAY=:5 import -window root shot.png). A desktop session with a
notification area (GNOME with the AppIndicator extension, KDE, Xfce) shows the
icon directly.
TEXT
  exit 1
fi

echo "runtime folder: ${TERVALA_RUNTIME_DIR:-/run/tervala}"
echo "data folder:    ${TERVALA_COMMON_APPDATA:-/var/lib}/quornix"

standin_pid=""
socket="${TERVALA_RUNTIME_DIR:-/run/tervala}/{3FAB0660-208D-4898-AA25-14D0DD1B5E3B}.TervalaIPC"
if build/standin/tervala-standin ctl help >/dev/null 2>&1; then
  echo "a stand-in service already runs; using it"
else
  build/standin/tervala-standin > >(sed 's/^/[stand-in] /') 2>&1 &
  standin_pid=$!
  for _ in $(seq 100); do [ -S "$socket" ] && break; sleep 0.05; done
  echo "stand-in service started (pid $standin_pid); drive it with:"
  echo "  TERVALA_RUNTIME_DIR=${TERVALA_RUNTIME_DIR:-/run/tervala} build/standin/tervala-standin ctl help"
fi
trap '[ -n "$standin_pid" ] && kill "$standin_pid" 2>/dev/null; wait 2>/dev/null || true' EXIT

status=0
build/app/tervalapro "$@" || status=$?
exit $status
