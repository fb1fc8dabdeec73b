#!/usr/bin/env bash
# The installer as a user's PC meets it, in a fresh Wine prefix: installed
# silently (/S), the installed kelvanor-cli.exe prints the version, the
# Start-menu entries are there, and the uninstaller takes everything away.
# Then installed page by page as a user clicks through it: the finish page
# starts Kelvanor through the desktop's shell (as the user at the desktop,
# not as the elevated setup), whose first start on a PC without dasTessavor
# says where it looked; the uninstaller's page says that the settings stay.
set -euo pipefail
BUILD="$(cd "$1" && pwd)"
fail() { echo "FEHLER (installer_under_wine): $*" >&2; exit 1; }
VERSION="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")"
SETUP="$BUILD/Kelvanor-$VERSION-setup.exe"
[ -f "$SETUP" ] || fail "$SETUP fehlt (scripts/build-windows.sh)"
PROBE="$BUILD/tests/windows_probe.exe"
[ -f "$PROBE" ] || fail "$PROBE fehlt (scripts/build-windows.sh)"
SHOTS="$BUILD/screenshots"
mkdir -p "$SHOTS"

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
[ ! -e "$INSTALLED/start_as_user.exe" ] || fail "start_as_user.exe gehört nicht in den Programmordner"
START_MENU="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Kelvanor"
for entry in Kelvanor LIESMICH "Kelvanor deinstallieren"; do
  [ -f "$START_MENU/$entry.lnk" ] || fail "kein Startmenü-Eintrag \"$entry\""
done

printed="$(wine "C:\\Program Files\\Kelvanor\\kelvanor-cli.exe" version | tr -d '\r')"
[ "$printed" = "$VERSION" ] || fail "kelvanor-cli version sagt '$printed', erwartet $VERSION"
echo "Installiert: kelvanor-cli.exe version -> $printed"
printed="$(wine "C:\\Program Files\\Kelvanor\\curl.exe" --version | head -1 | tr -d '\r')"
echo "$printed" | grep -q Schannel || fail "curl.exe ohne Schannel: $printed"

# The uninstaller copies itself away and works from there: wait for it.
uninstalled() {
  for _ in $(seq 1 100); do
    [ ! -e "$INSTALLED" ] && [ ! -e "$START_MENU" ] && break
    sleep 0.2
  done
  [ ! -e "$INSTALLED/kelvanor-cli.exe" ] || fail "Deinstallation hat kelvanor-cli.exe nicht entfernt"
  [ ! -e "$START_MENU" ] || fail "Deinstallation hat den Startmenü-Eintrag nicht entfernt"
}
wine "C:\\Program Files\\Kelvanor\\Deinstallieren.exe" /S
uninstalled
echo "Installation und Deinstallation in frischem Präfix: in Ordnung."

# --- Page by page, on the display of scripts/test-windows.sh ----------------
[ -n "${DISPLAY:-}" ] || fail "kein DISPLAY (scripts/test-windows.sh startet Xvfb)"
command -v xdotool >/dev/null || fail "xdotool fehlt"
# Waits until a visible window whose title matches $1 is there.
window_named() {
  for _ in $(seq 1 120); do
    xdotool search --onlyvisible --name "$1" >/dev/null 2>&1 && return 0
    sleep 0.5
  done
  return 1
}
# Wine's desktop now and then comes up without registering the shell's
# window list (the class stays "not registered" for good in that session).
# The finish page then rightly says it cannot start Kelvanor; what is tested
# here needs a desktop whose shell answers, as Windows always has one: a new
# Wine session is asked for until it does.
shell_answers() {
  for _ in $(seq 1 20); do
    wine "$PROBE" shell >/dev/null 2>&1 && return 0
    sleep 0.5
  done
  return 1
}
for session in 1 2 3; do
  shell_answers && break
  [ "$session" -lt 3 ] || fail "Wines Desktop-Shell antwortet nicht (auch in drei neuen Sitzungen)"
  echo "Wines Desktop-Shell antwortet nicht: neue Wine-Sitzung ($session)"
  wineserver -k || true
  wineserver -w || true
  (setsid wineserver -p </dev/null >/dev/null 2>&1 &)
done
wine "$SETUP" >"$WORK/setup.log" 2>&1 &
window_named "Installation von Kelvanor" || fail "das Installationsprogramm erscheint nicht"
sleep 2
xdotool key Return   # Willkommen: Weiter
sleep 2
xdotool key Return   # Zielverzeichnis: Installieren, dann die letzte Seite
for _ in $(seq 1 120); do
  [ -f "$START_MENU/Kelvanor.lnk" ] && break
  sleep 0.5
done
sleep 3
import -window root "$SHOTS/wine_setup_finish_page.png"
xdotool key Return   # Fertigstellen, "Kelvanor starten" angekreuzt

origin=""
for _ in $(seq 1 120); do
  origin="$(wine "$PROBE" origin Kelvanor.exe 2>/dev/null | tr -d '\r')"
  [ -n "$origin" ] && break
  sleep 0.5
done
if [ -z "$origin" ]; then
  import -window root "$SHOTS/wine_setup_after_finish.png" || true
  shown="$(xdotool search --onlyvisible --name . getwindowname %@ 2>/dev/null | paste -sd '|' || true)"
  fail "die letzte Seite hat Kelvanor nicht gestartet (sichtbare Fenster: $shown; Bild wine_setup_after_finish.png)"
fi
# Started by the desktop's shell, Kelvanor runs as the user at the desktop;
# started by the setup, it would run with the setup's administrator rights.
# (Wine gives every process the same full token: the parent tells it here.)
echo "Kelvanor von der letzten Seite: gestartet von $origin"
case "$origin" in
  "explorer.exe "*) ;;
  *) fail "Kelvanor wurde nicht über die Shell des Desktops gestartet, sondern von: $origin" ;;
esac
# Without dasTessavor the first start says which file it looked for.
window_named "^Kelvanor$" || fail "Kelvanor zeigt nichts"
sleep 3
import -window root "$SHOTS/wine_first_start_without_host.png"
wine taskkill /F /IM Kelvanor.exe >/dev/null 2>&1 || true

# With Kelvanor running, neither the setup nor the uninstaller goes on: each
# asks to close it first (silently: ends with exit code 2), leaves the
# program as it was, and never reports success.
wine "C:\\Program Files\\Kelvanor\\Kelvanor.exe" >"$WORK/running.log" 2>&1 &
window_named "^Kelvanor$" || fail "Kelvanor startet nicht"
sleep 2
before="$(md5sum <"$INSTALLED/Kelvanor.exe")"
status=0
wine "$SETUP" /S || status=$?
[ "$status" = 2 ] || fail "Setup bei laufendem Kelvanor: Exit-Code $status statt 2"
[ "$(md5sum <"$INSTALLED/Kelvanor.exe")" = "$before" ] || fail "Setup hat das laufende Kelvanor.exe angefasst"
status=0
wine "C:\\Program Files\\Kelvanor\\Deinstallieren.exe" /S || status=$?
sleep 3
[ "$status" = 2 ] || [ -f "$INSTALLED/Deinstallieren.exe" ] ||
  fail "Deinstallation bei laufendem Kelvanor meldet Erfolg (Exit-Code $status)"
[ -f "$INSTALLED/Kelvanor.exe" ] && [ -f "$INSTALLED/Deinstallieren.exe" ] ||
  fail "Deinstallation bei laufendem Kelvanor hat Dateien entfernt"
wine "$SETUP" >"$WORK/setup_running.log" 2>&1 &
setup_pid=$!
window_named "Installation von Kelvanor" || fail "Setup bei laufendem Kelvanor: keine Frage"
sleep 2
import -window root "$SHOTS/wine_setup_kelvanor_running.png"
press_in() {
  local id
  id="$(xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -1 || true)"
  [ -n "$id" ] && xdotool windowactivate --sync "$id" >/dev/null 2>&1 || true
  xdotool key "$2"
}
press_in "Installation von Kelvanor" Escape   # Abbrechen
wait "$setup_pid" 2>/dev/null || true
wine "C:\\Program Files\\Kelvanor\\Deinstallieren.exe" >"$WORK/uninstall_running.log" 2>&1 &
window_named "Kelvanor .*Deinstallation|Deinstallation von Kelvanor" ||
  fail "Deinstallation bei laufendem Kelvanor: keine Frage"
sleep 3
import -window root "$SHOTS/wine_uninstall_kelvanor_running.png"
press_in "Kelvanor .*Deinstallation|Deinstallation von Kelvanor" Escape   # Abbrechen
sleep 3
[ -f "$INSTALLED/Kelvanor.exe" ] || fail "abgebrochene Deinstallation hat Kelvanor.exe entfernt"
wine taskkill /F /IM Kelvanor.exe >/dev/null 2>&1 || true
sleep 2
echo "Setup und Deinstallation bei laufendem Kelvanor: fragen, ändern nichts (wine_setup_kelvanor_running.png, wine_uninstall_kelvanor_running.png)."

wine "C:\\Program Files\\Kelvanor\\Deinstallieren.exe" >"$WORK/uninstall.log" 2>&1 &
window_named "Kelvanor .*Deinstallation|Deinstallation von Kelvanor" ||
  fail "das Deinstallationsprogramm erscheint nicht"
sleep 2
import -window root "$SHOTS/wine_uninstall_page.png"
xdotool key Return   # Deinstallieren
sleep 5
xdotool key Return   # Schließen
uninstalled
echo "Installation Seite für Seite: Kelvanor startet als Benutzer des Desktops; Bildschirmfotos in $SHOTS."
