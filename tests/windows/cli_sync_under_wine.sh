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
[ -f "$SERVER_ROOT/ftp/up_hufwine.zip" ] || fail "kein up_hufwine.zip auf dem FTP-Server"
[ -s "$ACCOUNT/mob_kunde.txt" ] || fail "mob_kunde.txt nicht beim Mobilgerät angekommen"
[ -f "$TOOL_DIR/mobil/tmp.bat" ] || fail "kein tmp.bat in local_dir"

field_changes
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
echo "Zwei Synchronisationen unter Wine: in Ordnung."
