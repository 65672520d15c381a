#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks what a desktop makes of
# it: every file in its place, valid desktop entries, the invitation file type
# recognised by name, the program registered as its default handler, and
# opening an invitation handing its path to the program. Needs no running
# desktop: the lookups run with XDG folders pointing only at the temporary
# prefix.
#
#   tests/install/install_check.sh <cmake> <build folder> <source folder> \
#       <configured install prefix> <TERVALA_DATADIR definition>
#
# Exit 77 (skip) only when a desktop tool is not installed.
set -uo pipefail

missing=()
for tool in desktop-file-validate update-mime-database update-desktop-database xdg-mime xdg-open \
  mimetype; do
  command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
if ((${#missing[@]})); then
  echo "SKIP: not installed: ${missing[*]} (tools/setup.sh installs them)"
  exit 77
fi

CMAKE=$1
BUILD=$(realpath "$2")
SRC=$(realpath "$3")
CONFIGURED_PREFIX=$4
DATADIR_DEFINITION=$5

WORK=$(mktemp -d /tmp/tervala-install.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
PREFIX=$WORK/prefix
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

if ! "$CMAKE" --install "$BUILD" --prefix "$PREFIX" >"$WORK/install.log" 2>&1; then
  cat "$WORK/install.log"
  echo "FAIL: cmake --install"
  exit 1
fi

# --- Files in place ---------------------------------------------------------
for program in tervalapro tervala-standin; do
  [ -x "$PREFIX/bin/$program" ] || fail "bin/$program missing or not executable"
done
for f in share/applications/tervalapro.desktop \
  share/mime/packages/tervalapro.xml \
  share/icons/hicolor/48x48/apps/tervalapro.png \
  share/icons/hicolor/scalable/apps/tervalapro.svg \
  share/icons/hicolor/48x48/mimetypes/application-x-tervalapro-invitation.png \
  share/metainfo/com.quornix.tervalapro.metainfo.xml \
  share/tervalapro/translations/tervalapro_de.qm \
  share/man/man1/tervalapro.1.gz share/man/man1/tervala-standin.1.gz \
  lib/systemd/user/tervala-standin.service \
  etc/xdg/autostart/tervalapro-autostart.desktop; do
  [ -s "$PREFIX/$f" ] || fail "$f missing"
done

# The pictures must land where the program looks for them: the data folder it
# was compiled with, moved from the configured prefix to this one.
datadir=${DATADIR_DEFINITION#TERVALA_DATADIR=}
datadir=${datadir//\"/}
case $datadir in
  "$CONFIGURED_PREFIX"/*) ;;
  *) fail "data folder $datadir lies outside the install prefix $CONFIGURED_PREFIX" ;;
esac
installed_datadir=$PREFIX/${datadir#"$CONFIGURED_PREFIX"/}
pictures=0
while IFS= read -r -d '' picture; do
  relative=${picture#"$SRC"/}
  pictures=$((pictures + 1))
  cmp -s "$picture" "$installed_datadir/$relative" ||
    fail "$relative not installed unchanged in $installed_datadir"
done < <(find "$SRC/images" "$SRC/icons" -path "*/src" -prune -o -type f -print0)
[ "$pictures" -gt 0 ] || fail "no pictures found in the source folder"

# --- Desktop entries --------------------------------------------------------
for entry in share/applications/tervalapro.desktop etc/xdg/autostart/tervalapro-autostart.desktop; do
  desktop-file-validate "$PREFIX/$entry" || fail "$entry does not validate"
done

key() { sed -n "s/^$2=//p" "$1" | head -n 1; }
menu_entry=$PREFIX/share/applications/tervalapro.desktop
autostart_entry=$PREFIX/etc/xdg/autostart/tervalapro-autostart.desktop
for entry in "$menu_entry" "$autostart_entry"; do
  read -r program _ <<<"$(key "$entry" Exec)"
  [ -x "$PREFIX/bin/$program" ] || fail "$(basename "$entry") runs '$program', which is not installed"
  icon=$(key "$entry" Icon)
  [ -f "$PREFIX/share/icons/hicolor/48x48/apps/$icon.png" ] ||
    fail "$(basename "$entry") shows icon '$icon', which is not installed"
done
# Launchers other than xdg-open pass the file only through a field code.
read -r _ menu_args <<<"$(key "$menu_entry" Exec)"
[ "$menu_args" = "%f" ] || fail "menu entry passes '$menu_args' instead of one file (%f)"
# The program starts hidden only for this exact argument.
read -r _ autostart_args <<<"$(key "$autostart_entry" Exec)"
[ "$autostart_args" = "-startup" ] || fail "autostart passes '$autostart_args' instead of -startup"

# --- File type and default handler -----------------------------------------
mkdir -p "$WORK/home" "$WORK/config" "$WORK/config-dirs" "$WORK/files" "$WORK/fakebin"
# The install itself refreshes the caches that desktops read.
grep -q '^[0-9]*:application/x-tervalapro-invitation:' "$PREFIX/share/mime/globs2" 2>/dev/null ||
  fail "the install did not register the file type in share/mime"
grep -q '^application/x-tervalapro-invitation=tervalapro.desktop;' \
  "$PREFIX/share/applications/mimeinfo.cache" 2>/dev/null ||
  fail "the install did not register the handler in share/applications"

# A clean environment: no desktop session, no user or system defaults that
# could answer in place of the installed files. The base MIME database stays
# visible so that the name has to win over content sniffing.
desktop_env() {
  env -i PATH="$WORK/fakebin:$PATH" HOME="$WORK/home" LANG=C.UTF-8 \
    XDG_DATA_HOME="$PREFIX/share" XDG_DATA_DIRS="$PREFIX/share:/usr/share" \
    XDG_CONFIG_HOME="$WORK/config" XDG_CONFIG_DIRS="$WORK/config-dirs" \
    XDG_CURRENT_DESKTOP=X-Generic "$@"
}

# Invitations are encrypted, so the files carry binary bytes.
binary() { printf '\x00\x01\x02\x89PNGnot\xff\xfe\x00\x10' >"$1"; }

# name | expected type ("other" = anything but the invitation type)
while IFS='|' read -r name expected; do
  binary "$WORK/files/$name"
  got=$(desktop_env xdg-mime query filetype "$WORK/files/$name")
  if [ "$expected" = other ]; then
    [ "$got" != application/x-tervalapro-invitation ] || fail "'$name' taken for an invitation"
  else
    [ "$got" = "$expected" ] || fail "'$name' is '$got', expected $expected"
  fi
done <<'EOF'
Office.Tervalapro|application/x-tervalapro-invitation
office.tervalapro|application/x-tervalapro-invitation
OFFICE.TERVALAPRO|application/x-tervalapro-invitation
My Network.Tervalapro|application/x-tervalapro-invitation
Office.Tervalapro.bak|other
Office.tervala|other
Tervalapro|other
EOF

got=$(desktop_env xdg-mime query default application/x-tervalapro-invitation)
[ "$got" = tervalapro.desktop ] || fail "default handler is '$got', expected tervalapro.desktop"

# Opening an invitation runs the program with its path as the one argument.
cat >"$WORK/fakebin/tervalapro" <<EOF
#!/bin/sh
printf '%s\n' "\$#" "\$@" >"$WORK/opened"
EOF
chmod +x "$WORK/fakebin/tervalapro"
invitation="$WORK/files/My Network.Tervalapro"
desktop_env DISPLAY=:none timeout 20 xdg-open "$invitation" </dev/null >"$WORK/open.log" 2>&1 ||
  fail "xdg-open failed: $(cat "$WORK/open.log")"
expected=$(printf '%s\n' 1 "$invitation")
[ "$(cat "$WORK/opened" 2>/dev/null)" = "$expected" ] ||
  fail "opening an invitation ran the program with: $(cat "$WORK/opened" 2>/dev/null || echo nothing)"

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "install layout and desktop integration: all checks passed"
