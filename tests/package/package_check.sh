#!/usr/bin/env bash
# Builds the Debian packages from a built tree with CPack and checks them as
# a user's machine would meet them: what each package holds and nothing more,
# dependencies that cover every library the programs load, an install into a
# throw-away root with dpkg, the desktop integration of what was installed,
# and a purge that leaves nothing behind. Then lintian, whose warnings must
# each be explained in the README. Builds nothing: the tree must be built.
#
#   tests/package/package_check.sh <build folder> <source folder> <version>
#
# Exit 77 (skip) only when a packaging tool is not installed.
set -uo pipefail

missing=()
for tool in cpack dpkg dpkg-deb dpkg-shlibdeps lintian desktop-file-validate appstreamcli \
  update-mime-database update-desktop-database xdg-mime objdump; do
  command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
if ((${#missing[@]})); then
  echo "SKIP: not installed: ${missing[*]} (tools/setup.sh installs them)"
  exit 77
fi

BUILD=$(realpath "$1")
SRC=$(realpath "$2")
VERSION=$3
WORK=$(mktemp -d /tmp/tervala-package.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# --- Build ------------------------------------------------------------------
if ! cpack --config "$BUILD/CPackConfig.cmake" -B "$WORK/out" >"$WORK/cpack.log" 2>&1; then
  cat "$WORK/cpack.log"
  echo "FAIL: cpack"
  exit 1
fi
arch=$(dpkg --print-architecture)
MAIN=$WORK/out/tervalapro_${VERSION}_$arch.deb
STANDIN=$WORK/out/tervala-standin_${VERSION}_$arch.deb
for deb in "$MAIN" "$STANDIN"; do
  [ -f "$deb" ] || {
    ls "$WORK/out"
    echo "FAIL: $(basename "$deb") was not built"
    exit 1
  }
done

# --- What each package holds ------------------------------------------------
files_of() { dpkg-deb --fsys-tarfile "$1" | tar -t | sed 's|^\./|/|' | grep -v '/$'; }
files_of "$MAIN" | sort >"$WORK/main.files"
files_of "$STANDIN" | sort >"$WORK/standin.files"

# Every file must lie in one of its package's documented places.
allowed_main='^(/usr/bin/tervalapro|/usr/share/tervalapro/.*|/usr/share/applications/tervalapro\.desktop|/usr/share/mime/packages/tervalapro\.xml|/usr/share/icons/hicolor/[^/]+/(apps/tervalapro|mimetypes/application-x-tervalapro-invitation)\.(png|svg)|/usr/share/metainfo/com\.quornix\.tervalapro\.metainfo\.xml|/usr/share/man/man1/tervalapro\.1\.gz|/usr/share/doc/tervalapro/(copyright|changelog\.gz)|/etc/xdg/autostart/tervalapro-autostart\.desktop)$'
allowed_standin='^(/usr/bin/tervala-standin|/usr/share/man/man1/tervala-standin\.1\.gz|/usr/lib/systemd/user/tervala-standin\.service|/usr/share/doc/tervala-standin/(copyright|changelog\.gz))$'
while read -r f; do fail "tervalapro holds $f, outside its documented places"; done \
  < <(grep -Ev "$allowed_main" "$WORK/main.files")
while read -r f; do fail "tervala-standin holds $f, outside its documented places"; done \
  < <(grep -Ev "$allowed_standin" "$WORK/standin.files")

# And every file that a desktop, a software centre or man needs must be there.
expected_main=(/usr/bin/tervalapro /usr/share/applications/tervalapro.desktop
  /usr/share/mime/packages/tervalapro.xml /usr/share/metainfo/com.quornix.tervalapro.metainfo.xml
  /usr/share/man/man1/tervalapro.1.gz /usr/share/doc/tervalapro/copyright
  /usr/share/doc/tervalapro/changelog.gz /etc/xdg/autostart/tervalapro-autostart.desktop
  /usr/share/tervalapro/translations/tervalapro_de.qm
  /usr/share/icons/hicolor/scalable/apps/tervalapro.svg
  /usr/share/icons/hicolor/scalable/mimetypes/application-x-tervalapro-invitation.svg)
for size in 16 22 24 32 48 64 128 256; do
  expected_main+=("/usr/share/icons/hicolor/${size}x$size/apps/tervalapro.png"
    "/usr/share/icons/hicolor/${size}x$size/mimetypes/application-x-tervalapro-invitation.png")
done
while IFS= read -r -d '' picture; do
  expected_main+=("/usr/share/tervalapro/${picture#"$SRC"/}")
done < <(find "$SRC/images" "$SRC/icons" -path "*/src" -prune -o -type f -print0)
expected_standin=(/usr/bin/tervala-standin /usr/share/man/man1/tervala-standin.1.gz
  /usr/lib/systemd/user/tervala-standin.service /usr/share/doc/tervala-standin/copyright
  /usr/share/doc/tervala-standin/changelog.gz)
for f in "${expected_main[@]}"; do grep -qxF "$f" "$WORK/main.files" || fail "tervalapro lacks $f"; done
for f in "${expected_standin[@]}"; do
  grep -qxF "$f" "$WORK/standin.files" || fail "tervala-standin lacks $f"
done

# --- Control data -----------------------------------------------------------
field() { dpkg-deb -f "$1" "$2"; }
for deb in "$MAIN" "$STANDIN"; do
  name=$(basename "$deb" | cut -d_ -f1)
  [ "$(field "$deb" Package)" = "$name" ] || fail "$name: Package is '$(field "$deb" Package)'"
  [ "$(field "$deb" Version)" = "$VERSION" ] || fail "$name: Version is '$(field "$deb" Version)'"
  [ "$(field "$deb" Architecture)" = "$arch" ] || fail "$name: Architecture is not $arch"
  # Every library the program loads must come from a package it depends on,
  # which is what dpkg-shlibdeps computes; a hand-written list drifts.
  depends=$(field "$deb" Depends)
  dpkg-deb -x "$deb" "$WORK/x-$name"
  program=$WORK/x-$name/usr/bin/$name
  while read -r library; do
    path=$(ldconfig -p | awk -v l="$library" '$1 == l && /x86-64|64bit|AArch64/ {print $NF; exit}')
    [ -n "$path" ] || path=$(ldconfig -p | awk -v l="$library" '$1 == l {print $NF; exit}')
    owner=$(dpkg -S "$(realpath "$path")" 2>/dev/null | head -n 1 | cut -d: -f1)
    [ -n "$owner" ] || owner=$(dpkg -S "$path" 2>/dev/null | head -n 1 | cut -d: -f1)
    if [ -z "$owner" ]; then
      fail "$name: no package owns $library ($path)"
    elif ! sed 's/, */\n/g' <<<"$depends" | awk '{print $1}' | grep -qxF "$owner"; then
      fail "$name needs $library from $owner, which Depends does not name: $depends"
    fi
  done < <(objdump -p "$program" | awk '$1 == "NEEDED" {print $2}')
  # Stripped programs: debugging data does not belong in a user's package.
  if objdump -h "$program" | grep -q '\.debug_info'; then fail "$name: the program is not stripped"; fi
done
dpkg-deb --ctrl-tarfile "$MAIN" | tar -xO ./conffiles 2>/dev/null | grep -qxF \
  /etc/xdg/autostart/tervalapro-autostart.desktop || fail "the autostart entry is not a conffile"
for name in tervalapro tervala-standin; do
  got=$("$WORK/x-$name/usr/bin/$name" --version 2>&1)
  [ "$got" = "$name $VERSION" ] || fail "the packaged $name does not run: $got"
done

# --- Install into a throw-away root ----------------------------------------
ROOT=$WORK/root
mkdir -p "$ROOT/var/lib/dpkg/info" "$ROOT/var/lib/dpkg/updates" "$ROOT/var/lib/dpkg/triggers"
touch "$ROOT/var/lib/dpkg/status" "$ROOT/var/lib/dpkg/available"
# The programs' libraries are not in the empty root's database.
DPKG=(dpkg --root="$ROOT" --admindir="$ROOT/var/lib/dpkg" --force-depends --force-not-root
  --log=/dev/null)
if [ "$(id -u)" -ne 0 ]; then DPKG=(fakeroot "${DPKG[@]}"); fi
if ! "${DPKG[@]}" -i "$MAIN" "$STANDIN" >"$WORK/install.log" 2>&1; then
  cat "$WORK/install.log"
  fail "dpkg could not install the packages"
fi
for f in "${expected_main[@]}" "${expected_standin[@]}"; do
  [ -e "$ROOT$f" ] || fail "$f not installed"
done
# The program finds its pictures and translations beside its own folder.
for f in icons/trayicon.ico translations/tervalapro_de.qm; do
  [ -f "$ROOT/usr/bin/../share/tervalapro/$f" ] || fail "the program would not find $f"
done

# --- What a desktop makes of it ---------------------------------------------
for entry in usr/share/applications/tervalapro.desktop etc/xdg/autostart/tervalapro-autostart.desktop; do
  desktop-file-validate "$ROOT/$entry" || fail "$entry does not validate"
done
appstreamcli validate --no-net "$ROOT/usr/share/metainfo/com.quornix.tervalapro.metainfo.xml" \
  >"$WORK/appstream.log" 2>&1 || {
  cat "$WORK/appstream.log"
  fail "the metainfo does not validate"
}
key() { sed -n "s/^$2=//p" "$1" | head -n 1; }
for entry in "$ROOT/usr/share/applications/tervalapro.desktop" \
  "$ROOT/etc/xdg/autostart/tervalapro-autostart.desktop"; do
  read -r program _ <<<"$(key "$entry" Exec)"
  [ -x "$ROOT/usr/bin/$program" ] || fail "$(basename "$entry") runs '$program', which is not installed"
  icon=$(key "$entry" Icon)
  for size in 16 22 24 32 48 64 128 256; do
    [ -f "$ROOT/usr/share/icons/hicolor/${size}x$size/apps/$icon.png" ] ||
      fail "$(basename "$entry") shows icon '$icon', which has no ${size}px picture"
  done
done
grep -q 'tervalapro\.desktop' "$ROOT/usr/share/metainfo/com.quornix.tervalapro.metainfo.xml" ||
  fail "the metainfo does not launch the installed desktop entry"

# The caches that dpkg's triggers (shared-mime-info, desktop-file-utils) make
# on a real system, made here on a copy so that the removal check below sees
# only what the packages installed.
DESK=$WORK/desktop
mkdir -p "$DESK/home" "$DESK/config" "$DESK/config-dirs" "$DESK/files"
cp -a "$ROOT/usr/share" "$DESK/share"
update-mime-database "$DESK/share/mime" >/dev/null 2>&1 || fail "update-mime-database failed"
update-desktop-database "$DESK/share/applications" >/dev/null 2>&1 || fail "update-desktop-database failed"
desktop_env() {
  env -i PATH="$PATH" HOME="$DESK/home" LANG=C.UTF-8 XDG_DATA_HOME="$DESK/share" \
    XDG_DATA_DIRS="$DESK/share:/usr/share" XDG_CONFIG_HOME="$DESK/config" \
    XDG_CONFIG_DIRS="$DESK/config-dirs" XDG_CURRENT_DESKTOP=X-Generic "$@"
}
printf '\x00\x01\x02\x89PNGnot\xff\xfe' >"$DESK/files/Team.Tervalapro"
type=$(desktop_env xdg-mime query filetype "$DESK/files/Team.Tervalapro")
[ "$type" = application/x-tervalapro-invitation ] || fail "an invitation file is taken for '$type'"
handler=$(desktop_env xdg-mime query default application/x-tervalapro-invitation)
[ "$handler" = tervalapro.desktop ] || fail "invitations open with '$handler', not tervalapro.desktop"
# The file type's icon: its own name unless the type names another.
mime_icon=$(sed -n 's/.*<icon name="\([^"]*\)".*/\1/p' "$ROOT/usr/share/mime/packages/tervalapro.xml")
mime_icon=${mime_icon:-application-x-tervalapro-invitation}
for size in 16 22 24 32 48 64 128 256; do
  [ -f "$ROOT/usr/share/icons/hicolor/${size}x$size/mimetypes/$mime_icon.png" ] ||
    fail "the invitation type's icon '$mime_icon' has no ${size}px picture"
done

# --- Removal ----------------------------------------------------------------
# Removing keeps only the administrator's conffile; purging leaves nothing.
"${DPKG[@]}" -r tervalapro tervala-standin >"$WORK/remove.log" 2>&1 || {
  cat "$WORK/remove.log"
  fail "dpkg could not remove the packages"
}
left=$(cd "$ROOT" && find . -mindepth 1 -not -type d -not -path './var/lib/dpkg/*' | sort)
[ "$left" = ./etc/xdg/autostart/tervalapro-autostart.desktop ] ||
  fail "removing left other than the conffile: $left"
"${DPKG[@]}" --purge tervalapro tervala-standin >"$WORK/purge.log" 2>&1 || {
  cat "$WORK/purge.log"
  fail "dpkg could not purge the packages"
}
left=$(cd "$ROOT" && find . -mindepth 1 -not -path './var' -not -path './var/lib' \
  -not -path './var/lib/dpkg' -not -path './var/lib/dpkg/*' | sort)
[ -z "$left" ] || fail "purging left behind: $(echo $left)"

# --- lintian ----------------------------------------------------------------
# No errors; every warning that remains is explained in the README's
# packaging section.
lintian --tag-display-limit 0 "$MAIN" "$STANDIN" >"$WORK/lintian.log" 2>&1
cat "$WORK/lintian.log"
if grep -q '^E: ' "$WORK/lintian.log"; then fail "lintian reports errors"; fi
while read -r tag; do
  grep -q -- "\`$tag\`" "$SRC/README.md" || fail "lintian warning '$tag' is not explained in the README"
done < <(awk '/^W: / {print $3}' "$WORK/lintian.log" | sort -u)

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "packages: all checks passed"
