#!/usr/bin/env bash
# The installer as a user's PC meets it: installed silently (/S) into a
# fresh Wine prefix, the installed kelvanor-cli.exe prints the version, the
# Start-menu entry is there, and the uninstaller takes everything away.
set -euo pipefail
BUILD="$(cd "$1" && pwd)"
fail() { echo "FEHLER (installer_under_wine): $*" >&2; exit 1; }
VERSION="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")"
SETUP="$BUILD/Kelvanor-$VERSION-setup.exe"
[ -f "$SETUP" ] || fail "$SETUP fehlt (scripts/build-windows.sh)"

WORK="$BUILD/wine-tests/installer_under_wine"
rm -rf "$WORK"
mkdir -p "$WORK"
export WINEPREFIX="$WORK/prefix"
trap 'wineserver -k 2>/dev/null || true' EXIT
wineboot -i >/dev/null 2>&1
# A server of its own for the whole test (see scripts/test-windows.sh).
wineserver -w
(setsid wineserver -p </dev/null >/dev/null 2>&1 &)

wine "$SETUP" /S
INSTALLED="$WINEPREFIX/drive_c/Program Files/Kelvanor"
for f in Kelvanor.exe kelvanor-cli.exe curl.exe zip.exe unzip.exe LIESMICH.txt Deinstallieren.exe; do
  [ -f "$INSTALLED/$f" ] || fail "$f nicht installiert"
done
START_MENU="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Kelvanor"
[ -f "$START_MENU/Kelvanor.lnk" ] || fail "kein Startmenü-Eintrag"

printed="$(wine "C:\\Program Files\\Kelvanor\\kelvanor-cli.exe" version | tr -d '\r')"
[ "$printed" = "$VERSION" ] || fail "kelvanor-cli version sagt '$printed', erwartet $VERSION"
echo "Installiert: kelvanor-cli.exe version -> $printed"
printed="$(wine "C:\\Program Files\\Kelvanor\\curl.exe" --version | head -1 | tr -d '\r')"
echo "$printed" | grep -q Schannel || fail "curl.exe ohne Schannel: $printed"

# The uninstaller copies itself away and works from there: wait for it.
wine "C:\\Program Files\\Kelvanor\\Deinstallieren.exe" /S
for _ in $(seq 1 100); do
  [ ! -e "$INSTALLED" ] && [ ! -e "$START_MENU" ] && break
  sleep 0.2
done
[ ! -e "$INSTALLED/kelvanor-cli.exe" ] || fail "Deinstallation hat kelvanor-cli.exe nicht entfernt"
[ ! -e "$START_MENU" ] || fail "Deinstallation hat den Startmenü-Eintrag nicht entfernt"
echo "Installation und Deinstallation in frischem Präfix: in Ordnung."
