#!/usr/bin/env bash
# Runs Kelvanor on a small demo practice against the reference sync server on
# 127.0.0.1: the window where a display exists, else a headless sync whose log
# is printed. Everything lives under demo/ and is made fresh on every start.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${KELVANOR_BUILD_DIR:-$ROOT/build}"
DEMO="$ROOT/demo"

"$ROOT/scripts/build.sh"

rm -rf "$DEMO"
APPDATA_DIR="$DEMO/appdata"
TOOL_DIR="$APPDATA_DIR/dasTessavor"
mkdir -p "$TOOL_DIR" "$DEMO/server"

"$BUILD/tools/gen_practice" --customers 40 --seed 1 "$DEMO/praxis.db" >/dev/null

# The reference server; it stops by itself when this script ends.
PORTS_FILE="$DEMO/server.json"
/usr/bin/python3 "$ROOT/server/sync_server.py" --root "$DEMO/server" --parent-pid $$ >"$PORTS_FILE" &
SERVER_PID=$!
trap 'kill $SERVER_PID 2>/dev/null || true' EXIT
for _ in $(seq 1 100); do
  [ -s "$PORTS_FILE" ] && break
  sleep 0.1
done
HTTP_PORT=$(/usr/bin/python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["http_port"])' "$PORTS_FILE")
FTP_PORT=$(/usr/bin/python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["ftp_port"])' "$PORTS_FILE")

cat >"$TOOL_DIR/tessavor.ini" <<INI
[Allgemein]
db_pfad=$DEMO/
db_name=praxis.db
INI
cat >"$TOOL_DIR/Kelvanor.ini" <<INI
[general]
name=demo
num_syncs=0
debug=1

[sync_server]
base=http://127.0.0.1:$HTTP_PORT
web=http://127.0.0.1:$HTTP_PORT
ftp=ftp://127.0.0.1:$FTP_PORT
INI

# The server offers this very version, so no update is offered.
mkdir -p "$DEMO/server/www/sync"
"$BUILD/kelvanor-cli" version >"$DEMO/server/www/sync/version.txt"

# What the farrier did in the field: the second sync brings it home.
ACCOUNT="$DEMO/server/accounts/demo"
mkdir -p "$ACCOUNT"
printf 'op;anrede;name;vorname;kundennr;telefon;strasse;plz;ort;email;preisstufe;handy\r\nN/1;Frau;B\xe4cker;J\xfclia;K-900;0171 1234;Am Anger 3;83022;Rosenheim;;1;\r\n' >"$ACCOUNT/mob_kunde_x.txt"
printf 'op;beginn;ende;thema;ort;5;6;7;8;9;10\r\nN/1;46400.375;46400.4375;kd/N/1/Hufbeschlag vorne;Rosenheim;;;;;;\r\n' >"$ACCOUNT/mob_termin_x.txt"

export APPDATA="$APPDATA_DIR"
if [ -n "${DISPLAY:-}" ] && [ -x "$BUILD/Kelvanor" ]; then
  echo "Demo-Praxis: $DEMO/praxis.db, Sync-Server auf 127.0.0.1:$HTTP_PORT."
  echo "Einmal auf den Sync-Knopf klicken: die erste Synchronisation exportiert und lädt hoch;"
  echo "ein zweiter Klick holt die Änderungen des Mobilgeräts und fragt, ob sie importiert werden."
  "$BUILD/Kelvanor"
else
  echo "== Kein Bildschirm: erste Synchronisation mit kelvanor-cli =="
  "$BUILD/kelvanor-cli" sync --yes
  echo
  echo "== Zweite Synchronisation: die Änderungen vom Mobilgerät =="
  "$BUILD/kelvanor-cli" sync --yes
  echo
  echo "Exportierte Dateien in $TOOL_DIR/mobil:"
  ls -l "$TOOL_DIR/mobil"
fi
