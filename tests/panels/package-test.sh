#!/usr/bin/env bash
# Makes the Debian package from the built tree, unpacks it into a throwaway
# root with dpkg-deb -x, and checks what it carries.
set -euo pipefail
BUILD_DIR="$1"
VERSION="$2"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack -G DEB --config "$BUILD_DIR/CPackConfig.cmake" -B "$WORK/out" >"$WORK/cpack.log" 2>&1 || { cat "$WORK/cpack.log"; fail "cpack"; }
DEB="$WORK/out/velto_${VERSION}_amd64.deb"
[ -f "$DEB" ] || fail "no $DEB: $(ls "$WORK/out")"

field() { dpkg-deb -f "$DEB" "$1"; }
[ "$(field Package)" = velto ] || fail "Package $(field Package)"
[ "$(field Version)" = "$VERSION" ] || fail "Version $(field Version), want $VERSION"
[ "$(field Architecture)" = amd64 ] || fail "Architecture $(field Architecture)"
for dep in libqt6webenginewidgets6 libqt6keychain1 libssl3 libzip4 qt6-qpa-plugins; do
  field Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//' | grep -qx "$dep" || fail "Depends lacks $dep: $(field Depends)"
done

ROOT="$WORK/root"
dpkg-deb -x "$DEB" "$ROOT"
[ -x "$ROOT/usr/bin/velto" ] || fail "no /usr/bin/velto"
file_type="$(head -c 4 "$ROOT/usr/bin/velto" | od -An -c | tr -d ' ')"
[ "$file_type" = '177ELF' ] || fail "/usr/bin/velto is not a program"
DESKTOP="$ROOT/usr/share/applications/velto.desktop"
[ -f "$DESKTOP" ] || fail "no desktop entry"
grep -qx 'Exec=velto' "$DESKTOP" || fail "desktop entry does not start velto"
grep -qx 'Icon=velto' "$DESKTOP" || fail "desktop entry names no icon"
grep -qx 'Type=Application' "$DESKTOP" || fail "desktop entry is not an application"
[ -s "$ROOT/usr/share/icons/hicolor/scalable/apps/velto.svg" ] || fail "no icon"
if command -v desktop-file-validate >/dev/null 2>&1; then desktop-file-validate "$DESKTOP" || fail "desktop entry invalid"; fi

# Nothing outside /usr and /etc.
outside="$(cd "$ROOT" && find . -mindepth 1 -maxdepth 1 ! -name usr ! -name etc)"
[ -z "$outside" ] || fail "files outside /usr and /etc: $outside"
echo "package ok: $(basename "$DEB")"
