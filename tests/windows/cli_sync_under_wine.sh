#!/usr/bin/env bash
# kelvanor-cli.exe under Wine, end to end against the reference server: the
# first sync exports, zips (zip.exe), uploads by FTP (curl.exe) and has the
# server unpack; the second downloads (curl.exe), unpacks (unzip.exe),
# imports and uploads again. Every step is a tmp.bat run by Wine's cmd.
source "$(dirname "$0")/wine_setup.sh"

cd "$PROGRAM"
echo "== erste Synchronisation =="
wine ./kelvanor-cli.exe sync --yes >"$WORK/sync1.log" 2>&1 || { cat "$WORK/sync1.log"; fail "erste Synchronisation"; }
cat "$WORK/sync1.log"
[ "$(ini_value num_syncs)" = 1 ] || fail "num_syncs nach der ersten Synchronisation: $(ini_value num_syncs)"
[ -n "$(ftp_upload)" ] || fail "kein up_$ACCOUNT_NAME.zip auf dem FTP-Server: $(ls "$SERVER_ROOT/ftp")"
[ -s "$ACCOUNT/mob_kunde.txt" ] || fail "mob_kunde.txt nicht beim Mobilgerät angekommen"
[ -f "$TOOL_DIR/mobil/tmp.bat" ] || fail "kein tmp.bat in local_dir"

field_changes
# Left from a run that was cut short: a folder in tmp_dl, with one inside.
# The sync empties tmp_dl whole.
mkdir -p "$TOOL_DIR/mobil/tmp_dl/alt/tiefer"
echo alt >"$TOOL_DIR/mobil/tmp_dl/alt/tiefer/alt.txt"
# Started from another folder (as the task scheduler does): the tools beside
# the program are still the ones it uses.
echo "== zweite Synchronisation, aus einem anderen Ordner gestartet =="
cd "$WORK"
wine "$PROGRAM/kelvanor-cli.exe" sync --yes >"$WORK/sync2.log" 2>&1 || { cat "$WORK/sync2.log"; fail "zweite Synchronisation"; }
cat "$WORK/sync2.log"
[ "$(ini_value num_syncs)" = 2 ] || fail "num_syncs nach der zweiten Synchronisation: $(ini_value num_syncs)"
# The customer typed in the field is in the practice, in Windows-1252.
name_hex="$(sqlite3 "$PRACTICE/praxis.db" "SELECT hex(name) FROM besitzer WHERE kundennr = 'K-900'")"
[ "$name_hex" = "42E4636B6572" ] || fail "Kunde K-900 nicht importiert (name: $name_hex)"
# The appointment names the new customer by the id the practice gave it.
[ "$(sqlite3 "$PRACTICE/praxis.db" "SELECT COUNT(*) FROM termine
      WHERE thema = 'kd/A/' || (SELECT id FROM besitzer WHERE kundennr = 'K-900')")" = 1 ] ||
  fail "Termin nicht importiert"
# The server's change files were deleted after the import, and the
# new customer went back to the mobile in the fresh export.
[ ! -e "$ACCOUNT/mob_kunde_x.txt" ] || fail "mob_kunde_x.txt liegt noch auf dem Server"
grep -q "K-900" "$ACCOUNT/mob_kunde.txt" || fail "K-900 fehlt im neuen Export"
ls "$TOOL_DIR/mobil/"*mob_from_server.txt >/dev/null 2>&1 || fail "keine Sicherung der empfangenen Daten"
# Before the question the preview said in words what each line does, and the
# question summed the lines up by kind.
for words in "= Neuer Kunde B$(printf '\xc3\xa4')cker, J${UE}lia (Rosenheim)" \
             "= Neuer Termin 13.01.2027 09:00$(printf '\xe2\x80\x93')10:30 Kunde B$(printf '\xc3\xa4')cker, J${UE}lia, Rosenheim" \
             "= Ge$(printf '\xc3\xa4')ndertes Pferd " "= Gel$(printf '\xc3\xb6')schter Termin " \
             "1 neuer Kunde, 1 ge$(printf '\xc3\xa4')ndertes Pferd, 1 neuer Termin, 1 gel$(printf '\xc3\xb6')schter Termin"; do
  grep -qF "$words" "$WORK/sync2.log" || fail "Vorschau ohne: $words"
done
# The horse line echoed its interval's number: the horse has that interval.
[ "$(sqlite3 "$PRACTICE/praxis.db" "SELECT beschlagsrhythmus FROM pferd WHERE id=1")" = 6 ] ||
  fail "Beschlagsrhythmus von Pferd 1 nicht 6"
[ ! -e "$TOOL_DIR/mobil/tmp_dl" ] || fail "tmp_dl ist nach der Synchronisation noch da"
# Every request named the account as it is written: the percent-encoding
# went through cmd untouched (zip.php, the download, unzip.php, delmob.php),
# and so did the FTP upload's file name.
/usr/bin/python3 - "$HTTP_PORT" "$ACCOUNT_NAME" <<'PY' || fail "eine Anfrage kam mit einem anderen Kontonamen an"
import json, sys, urllib.parse, urllib.request
port, name = sys.argv[1], sys.argv[2]
def decoded(raw):
    try:
        return raw.decode("utf-8")
    except UnicodeDecodeError:
        return raw.decode("cp1252")
log = json.load(urllib.request.urlopen("http://127.0.0.1:%s/_control/requests" % port))
seen = set()
for request in log:
    path = request["path"]
    if path in ("/mob/zip.php", "/mob/unzip.php", "/mob/delmob.php"):
        kd = [v for k, _, v in (p.partition("=") for p in request["query"].split("&")) if k == "kd"]
        got = decoded(urllib.parse.unquote_to_bytes(kd[0])) if kd else None
    elif path.startswith("/mob/transfer/"):
        got = path[len("/mob/transfer/dl_"):-len(".zip")]
    else:
        continue
    print("%s -> %r" % (path if not path.startswith("/mob/transfer/") else "/mob/transfer/", got))
    if got != name:
        sys.exit(1)
    seen.add(path if not path.startswith("/mob/transfer/") else "/mob/transfer/")
missing = {"/mob/zip.php", "/mob/transfer/", "/mob/unzip.php", "/mob/delmob.php"} - seen
if missing:
    sys.exit("nicht angefragt: %s" % sorted(missing))
PY

# The way back under Windows: the import undone in place, its backup
# imported again exactly once (twice run: still once), and the history
# telling all of it.
customers() { sqlite3 "$PRACTICE/praxis.db" "SELECT COUNT(*) FROM besitzer"; }
imported="$(customers)"
wine "$PROGRAM/kelvanor-cli.exe" undo-import --yes >"$WORK/undo.log" 2>&1 ||
  { cat "$WORK/undo.log"; fail "undo-import unter Wine"; }
grep -qF "rückgängig gemacht: 1 neuer Kunde" "$WORK/undo.log" || { cat "$WORK/undo.log"; fail "undo-import sagt nicht, was entfernt wurde"; }
[ "$(customers)" = $((imported - 1)) ] || fail "nach undo-import nicht genau ein Kunde weniger"
[ "$(sqlite3 "$PRACTICE/praxis.db" "PRAGMA integrity_check")" = ok ] || fail "Praxis-Datenbank nach undo-import beschädigt"
backup="$(ls -t "$TOOL_DIR/mobil/"*mob_from_server.txt | head -1)"
for round in 1 2; do
  wine "$PROGRAM/kelvanor-cli.exe" import --backup "$(winepath -w "$backup")" --yes >"$WORK/backup$round.log" 2>&1 ||
    { cat "$WORK/backup$round.log"; fail "import --backup unter Wine (Runde $round)"; }
  [ "$(customers)" = "$imported" ] || fail "import --backup (Runde $round): $(customers) Kunden statt $imported"
done
wine "$PROGRAM/kelvanor-cli.exe" history >"$WORK/history.log" 2>&1 || { cat "$WORK/history.log"; fail "history unter Wine"; }
for kind in "Import aus Sicherung  fertig" "Import rückgängig gemacht  fertig" "Synchronisation  fertig"; do
  grep -qF "$kind" "$WORK/history.log" || { cat "$WORK/history.log"; fail "Verlauf ohne: $kind"; }
done
echo "Unter Wine: Import rückgängig gemacht, aus der Sicherung genau einmal wieder importiert, Verlauf in Ordnung."

# A link to a folder outside, left in tmp_dl: Wine shows a Unix link to a
# folder as a reparse point, as Windows shows a junction. Emptying tmp_dl
# never follows it: what it points to stays. (Windows removes a junction
# itself with RemoveDirectory; Wine 8 cannot remove such a link at all, so
# there the sync may stop, saying tmp_dl cannot be deleted.)
OUTSIDE="$WORK/draussen"
mkdir -p "$OUTSIDE/innen" "$TOOL_DIR/mobil/tmp_dl"
echo bleibt >"$OUTSIDE/innen/bleibt.txt"
ln -s "$OUTSIDE" "$TOOL_DIR/mobil/tmp_dl/verbindung"
status=0
wine "$PROGRAM/kelvanor-cli.exe" sync --no >"$WORK/sync3.log" 2>&1 || status=$?
[ "$(cat "$OUTSIDE/innen/bleibt.txt" 2>/dev/null)" = bleibt ] || { cat "$WORK/sync3.log"; fail "die Verbindung in tmp_dl wurde verfolgt"; }
if [ "$status" != 0 ]; then
  grep -q "tmp_dl.*kann nicht gel" "$WORK/sync3.log" || { cat "$WORK/sync3.log"; fail "dritte Synchronisation (Exit-Code $status)"; }
fi
rm -f "$TOOL_DIR/mobil/tmp_dl/verbindung"
echo "Zwei Synchronisationen unter Wine: in Ordnung; eine Verbindung in tmp_dl wurde nicht verfolgt."
