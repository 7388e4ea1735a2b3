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
for dep in libqt6webenginewidgets6 libqt6webenginecore6-bin libqt6keychain1 libssl3 libzip4 qt6-qpa-plugins tesseract-ocr-eng; do
  field Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//' | grep -qx "$dep" || fail "Depends lacks $dep: $(field Depends)"
done

ROOT="$WORK/root"
dpkg-deb -x "$DEB" "$ROOT"
[ -x "$ROOT/usr/bin/velto" ] || fail "no /usr/bin/velto"

# Every library the program links to must come from a package that Depends
# brings in, directly or through the Depends of what it names (walked over
# the packages installed here, where the program was built).
# One pass over the installed packages: "name|depends, pre-depends|provides".
closure="$(field Depends | {
  read -r wanted
  dpkg-query -W -f='${db:Status-Abbrev}|${Package}|${Depends}, ${Pre-Depends}|${Provides}\n' |
    awk -F'|' -v wanted="$wanted" '
      function names(text, out,   parts, n, i, v) {
        gsub(/\([^)]*\)/, "", text); gsub(/\|/, ",", text)
        n = split(text, parts, ",")
        for (i = 1; i <= n; i++) { v = parts[i]; sub(/:[a-z0-9]*/, "", v); gsub(/ /, "", v); if (v != "") out[++out[0]] = v }
      }
      $1 ~ /^ii/ {
        deps[$2] = $3
        delete pv; pv[0] = 0; names($4, pv)
        for (i = 1; i <= pv[0]; i++) provided[pv[i]] = provided[pv[i]] " " $2
      }
      END {
        delete q; q[0] = 0; names(wanted, q)
        for (head = 1; head <= q[0]; head++) {
          p = q[head]
          if (p in seen) continue
          seen[p] = 1; print p
          delete more; more[0] = 0
          if (p in deps) names(deps[p], more)
          if (p in provided) names(provided[p], more)
          for (i = 1; i <= more[0]; i++) if (!(more[i] in seen)) q[++q[0]] = more[i]
        }
      }'
})"
sonames="$(readelf -d "$ROOT/usr/bin/velto" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')"
[ -n "$sonames" ] || fail "the program names no libraries"
# "package[, package]: path" for every installed file named like one of them.
holders="$(dpkg -S $(sed 's|^|*/|' <<<"$sonames") 2>/dev/null || true)"
missing=""
for soname in $sonames; do
  owners="$(grep -F "/$soname" <<<"$holders" | grep -E "/$(sed 's/[.+]/\\&/g' <<<"$soname")\$" |
    sed 's/: .*//; s/, /\n/g' | sed 's/:.*//' | sort -u || true)"
  [ -n "$owners" ] || { missing+=" $soname (no package holds it)"; continue; }
  found=""
  for o in $owners; do grep -qx "$o" <<<"$closure" && found=1; done
  [ -n "$found" ] || missing+=" $soname ($(echo $owners | tr ' ' '/'))"
done
[ -z "$missing" ] || fail "Depends does not bring in:$missing"
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
