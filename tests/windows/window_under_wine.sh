#!/usr/bin/env bash
# Kelvanor.exe under Wine on the virtual display: the window opens, a click
# on the sync button runs the first sync (export, zip.exe, FTP upload with
# curl.exe, the server's unzip), the memo shows it, and a screenshot of the
# window after it is left in build-win64/screenshots/.
source "$(dirname "$0")/wine_setup.sh"
[ -n "${DISPLAY:-}" ] || fail "kein DISPLAY (scripts/test-windows.sh startet Xvfb)"
command -v xdotool >/dev/null || fail "xdotool fehlt"
SHOTS="$BUILD/screenshots"
mkdir -p "$SHOTS"

cd "$PROGRAM"
# A window that never gets a display waits forever: the timeout ends it.
timeout 300 wine ./Kelvanor.exe >"$WORK/window.log" 2>&1 &
WINDOW_PID=$!
trap 'wine taskkill /IM Kelvanor.exe >/dev/null 2>&1 || true; sleep 1; kill $WINDOW_PID 2>/dev/null || true; kill $SERVER_PID 2>/dev/null || true' EXIT

window=""
for _ in $(seq 1 120); do
  window="$(xdotool search --onlyvisible --name 'S Y N C' 2>/dev/null | head -1 || true)"
  [ -n "$window" ] && break
  sleep 0.5
done
[ -n "$window" ] || { cat "$WORK/window.log"; fail "das Fenster erscheint nicht"; }
sleep 2
import -window root "$SHOTS/wine_window_start.png"

# The sync button sits at the left of the bottom panel (220 x 44, 8 px from
# the edges of its panel): a click in its middle.
eval "$(xdotool getwindowgeometry --shell "$window")"
click_x=$((X + 8 + 110))
click_y=$((Y + HEIGHT - 8 - 22))
xdotool mousemove "$click_x" "$click_y" click 1

for _ in $(seq 1 240); do
  [ "$(ini_value num_syncs)" = 1 ] && break
  sleep 0.5
done
sleep 2
import -window root "$SHOTS/wine_window_after_first_sync.png"
[ "$(ini_value num_syncs)" = 1 ] || { cat "$WORK/window.log"; fail "die erste Synchronisation aus dem Fenster kam nicht an (num_syncs=$(ini_value num_syncs))"; }
grep -q "K-" "$ACCOUNT/mob_kunde.txt" || fail "mob_kunde.txt nicht beim Mobilgerät angekommen"
echo "Fenster unter Wine: erste Synchronisation in Ordnung, Bildschirmfoto $SHOTS/wine_window_after_first_sync.png"
