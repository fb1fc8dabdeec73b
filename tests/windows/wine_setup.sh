# Shared by the Windows tests under Wine (sourced): the package, a practice,
# the reference server on 127.0.0.1 and the two ini files, in a fresh folder.
#
#   BUILD        the Windows build folder (build-win64)
#   WORK         made fresh here: $BUILD/wine-tests/<name of the test>
# Wine itself (WINEPREFIX, the German locale, a running wineserver, the
# display) comes from scripts/test-windows.sh.
set -euo pipefail
BUILD="$(cd "$1" && pwd)"
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
LINUX_BUILD="${KELVANOR_BUILD_DIR:-$ROOT/build}"
TEST_NAME="$(basename "$0" .sh)"
WORK="$BUILD/wine-tests/$TEST_NAME"

fail() { echo "FEHLER ($TEST_NAME): $*" >&2; exit 1; }
[ -n "${WINEPREFIX:-}" ] || fail "WINEPREFIX fehlt: scripts/test-windows.sh richtet Wine ein"
[ -x "$LINUX_BUILD/tools/gen_practice" ] || fail "$LINUX_BUILD/tools/gen_practice fehlt (Linux-Build)"
[ -f "$BUILD/package/kelvanor-cli.exe" ] || fail "$BUILD/package fehlt (scripts/build-windows.sh)"

rm -rf "$WORK"
mkdir -p "$WORK"

# Windows paths for the folders below WORK: a drive letter of their own
# (reaching them through Z: makes Wine complain about the root of Z:).
DRIVE="k:"
ln -sfn "$WORK" "$WINEPREFIX/dosdevices/$DRIVE"
win() { echo "K:$(echo "${1#"$WORK"}" | tr / '\\')"; }

# What the installer puts into the program folder.
PROGRAM="$WORK/Programm"
mkdir -p "$PROGRAM"
cp "$BUILD/package/"*.exe "$PROGRAM/"

# The practice lives in a folder with an umlaut and a blank, and so does the
# user's profile (the farrier is called Jürgen): local_dir below it carries
# them into every command line, through cmd in code page 850.
UE="$(printf '\xc3\xbc')"
PRACTICE="$WORK/B${UE}ro Praxis"
mkdir -p "$PRACTICE"
"$LINUX_BUILD/tools/gen_practice" --customers 30 --seed 7 "$PRACTICE/praxis.db" >/dev/null

# APPDATA as Windows gives it to the programs, in a profile "Jürgen Sánchez
# 100%": cmd reads the á, like the ü, in code page 850, and would read the
# "%" as the start of a variable if tmp.bat did not double it.
AA="$(printf '\xc3\xa1')"
APPDATA_UNIX="$WORK/Benutzer/J${UE}rgen S${AA}nchez 100%/AppData/Roaming"
mkdir -p "$APPDATA_UNIX"
wine reg add 'HKCU\Volatile Environment' /v APPDATA /t REG_SZ /d "$(win "$APPDATA_UNIX")" /f >/dev/null 2>&1
APPDATA_WIN="$(wine cmd /c echo %APPDATA% 2>/dev/null | tr -d '\r' | iconv -f WINDOWS-1252 -t UTF-8)"
[ "$APPDATA_WIN" = "$(win "$APPDATA_UNIX")" ] || fail "APPDATA nicht gesetzt: $APPDATA_WIN"
TOOL_DIR="$APPDATA_UNIX/dasTessavor"
rm -rf "$TOOL_DIR"
mkdir -p "$TOOL_DIR"

# The reference server; it stops by itself when this script ends.
SERVER_ROOT="$WORK/server"
mkdir -p "$SERVER_ROOT"
/usr/bin/python3 "$ROOT/server/sync_server.py" --root "$SERVER_ROOT" --parent-pid $$ >"$WORK/server.json" &
SERVER_PID=$!
trap 'kill $SERVER_PID 2>/dev/null || true' EXIT
for _ in $(seq 1 100); do
  [ -s "$WORK/server.json" ] && break
  sleep 0.1
done
HTTP_PORT=$(/usr/bin/python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["http_port"])' "$WORK/server.json")
FTP_PORT=$(/usr/bin/python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["ftp_port"])' "$WORK/server.json")
# The account has an umlaut and a blank: every request carries it
# percent-encoded (M%FCller%20Hof), which cmd must leave as it is.
ACCOUNT_NAME="M${UE}ller Hof"
ACCOUNT="$SERVER_ROOT/accounts/$ACCOUNT_NAME"
mkdir -p "$SERVER_ROOT/www/sync" "$ACCOUNT"
wine "$PROGRAM/kelvanor-cli.exe" version | tr -d '\r\n' >"$SERVER_ROOT/www/sync/version.txt"

# Both ini files in Windows-1252 with CR LF, as Windows programs write them.
ini() { sed 's/$/\r/' | iconv -f UTF-8 -t WINDOWS-1252 >"$1"; }
ini "$TOOL_DIR/tessavor.ini" <<INI
[Allgemein]
db_pfad=$(win "$PRACTICE")\\
db_name=praxis.db
INI
ini "$TOOL_DIR/Kelvanor.ini" <<INI
[general]
name=$ACCOUNT_NAME
num_syncs=0
debug=1

[sync_server]
base=http://127.0.0.1:$HTTP_PORT
web=http://127.0.0.1:$HTTP_PORT
ftp=ftp://127.0.0.1:$FTP_PORT
INI

# What the farrier did in the field, for the sync after the first.
# A new customer with an appointment, a horse changed (its interval echoed as
# the number it was sent, 6), an appointment of the practice deleted.
field_changes() {
  printf 'op;anrede;name;vorname;kundennr;telefon;strasse;plz;ort;email;preisstufe;handy\r\nN/1;Frau;B\xe4cker;J\xfclia;K-900;0171 1234;Am Anger 3;83022;Rosenheim;;1;\r\n' >"$ACCOUNT/mob_kunde_x.txt"
  printf 'op;name;x;rhythmus;x;naechster;stall;x;x;x;x\r\nA/1;%s;;6;;46400;A/1;;;;\r\n' \
    "$(sqlite3 "$PRACTICE/praxis.db" "SELECT name FROM pferd WHERE id=1")" >"$ACCOUNT/mob_pferd_x.txt"
  printf 'op;beginn;ende;thema;ort;5;6;7;8;9;10\r\nN/1;46400.375;46400.4375;kd/N/1/Hufbeschlag vorne;Rosenheim;;;;;;\r\nD/A/1\r\n' >"$ACCOUNT/mob_termin_x.txt"
}

ini_value() { sed -n "s/^$1=//p" "$TOOL_DIR/Kelvanor.ini" | tr -d '\r'; }

# The upload archive on the FTP server, named as curl.exe sent it (the
# account in Windows-1252 or in UTF-8); nothing when there is none.
ftp_upload() {
  /usr/bin/python3 - "$SERVER_ROOT/ftp" "$ACCOUNT_NAME" <<'PY'
import os, sys
folder, name = os.fsencode(sys.argv[1]), sys.argv[2]
for spelling in (name.encode("utf-8"), name.encode("cp1252")):
    if os.path.isfile(os.path.join(folder, b"up_" + spelling + b".zip")):
        print("up_%s.zip" % name)
        break
PY
}
