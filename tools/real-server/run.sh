#!/bin/bash
# A manual trial of kelvanor-cli against Debian's own server software on
# 127.0.0.1: nginx, PHP-FPM 8.2 with the scripts in php/, vsftpd. See README.md.
#
#   tools/real-server/run.sh            start everything, run every situation, stop
#   tools/real-server/run.sh --shell    start everything, print how to use it, wait for Ctrl-C
#   tools/real-server/run.sh --keep     as without it, but keep the work folder
#
# KELVANOR_BUILD_DIR names the build (default: build/ of this tree).
set -uo pipefail

HERE="$(cd "$(dirname "$0")" && pwd)"
ROOT="$(cd "$HERE/../.." && pwd)"
BUILD="${KELVANOR_BUILD_DIR:-$ROOT/build}"
CLI="$BUILD/kelvanor-cli"
GEN="$BUILD/tools/gen_practice"
FTP_USER=ftp5830417-mob
FTP_PASSWORD=kwaldrimensup
PAM_SERVICE=kelvanor-real-ftp
ACCOUNT=hof1
MODE=all
KEEP=0
for arg in "$@"; do
  case "$arg" in
    --shell) MODE=shell ;;
    --keep) KEEP=1 ;;
    *) echo "usage: $0 [--shell] [--keep]" >&2; exit 2 ;;
  esac
done

if [ "$(id -u)" != 0 ]; then
  echo "run.sh: needs root (vsftpd logs in a system user; nginx and PHP-FPM drop to www-data)" >&2
  exit 2
fi
for program in nginx php-fpm8.2 vsftpd openssl sqlite3 curl zip unzip "$CLI" "$GEN"; do
  if ! command -v "$program" >/dev/null; then
    echo "run.sh: $program is missing (apt-get install nginx php8.2-fpm php8.2-zip vsftpd;" \
         "cmake --build build --target kelvanor-cli gen_practice)" >&2
    exit 2
  fi
done
php8.2 -r 'exit(class_exists("ZipArchive") ? 0 : 1);' || { echo "run.sh: php8.2-zip is missing" >&2; exit 2; }

W="$(mktemp -d /tmp/kelvanor-real.XXXXXX)"
chmod 755 "$W"
SRV="$W/srv"
RUN="$W/run"
APP="$W/appdata"
TOOL="$APP/dasTessavor"
DB="$W/praxis.db"
LOGS="$W/logs"
mkdir -p "$RUN/nginx-tmp" "$RUN/nginx-cache" "$LOGS" "$TOOL"

# --- stopping what we started, whatever happens ----------------------------
PIDS=()
CREATED_USER=0
CREATED_PAM=0
cleanup() {
  for pidfile in "$RUN/nginx.pid" "$RUN/php-fpm.pid"; do
    [ -s "$pidfile" ] && kill "$(cat "$pidfile")" 2>/dev/null
  done
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done
  sleep 0.5
  [ "$CREATED_PAM" = 1 ] && rm -f "/etc/pam.d/$PAM_SERVICE"
  [ "$CREATED_USER" = 1 ] && userdel "$FTP_USER" 2>/dev/null
  if [ "$KEEP" = 1 ]; then echo "Work folder kept: $W"; else rm -rf "$W"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}
PORT_MAIN=$(free_port); PORT_CACHE=$(free_port); PORT_NOPHP=$(free_port)
PORT_UNCHECKED=$(free_port); PORT_SHOWERR=$(free_port); PORT_BOM=$(free_port)
PORT_OFC=$(free_port); PORT_ZIPCMD=$(free_port); PORT_ZIPCREATE=$(free_port); PORT_FPM=$(free_port); PORT_FPM_SHOWERR=$(free_port)
PORT_FTP=$(free_port); PORT_FTPS=$(free_port)
PASV_BASE=$(( (PORT_FTP % 20000) + 40000 ))

fill() {  # template -> file, @NAME@ replaced by $NAME
  sed -e "s|@SRV@|$SRV|g" -e "s|@RUN@|$RUN|g" -e "s|@PORT_MAIN@|$PORT_MAIN|g" \
      -e "s|@PORT_CACHE@|$PORT_CACHE|g" -e "s|@PORT_NOPHP@|$PORT_NOPHP|g" \
      -e "s|@PORT_UNCHECKED@|$PORT_UNCHECKED|g" -e "s|@PORT_SHOWERR@|$PORT_SHOWERR|g" \
      -e "s|@PORT_BOM@|$PORT_BOM|g" -e "s|@PORT_OFC@|$PORT_OFC|g" -e "s|@PORT_ZIPCMD@|$PORT_ZIPCMD|g" \
      -e "s|@PORT_ZIPCREATE@|$PORT_ZIPCREATE|g" \
      -e "s|@PORT_FPM_SHOWERR@|$PORT_FPM_SHOWERR|g" -e "s|@PORT_FPM@|$PORT_FPM|g" \
      -e "s|@PAM_SERVICE@|$PAM_SERVICE|g" "$1" > "$2"
}

# --- the server's folders ----------------------------------------------------
mkdir -p "$SRV/htdocs/mob/transfer" "$SRV/htdocs/sync" "$SRV/lib" "$SRV/variants" \
         "$SRV/data/accounts" "$SRV/data/ftp"
cp "$HERE/php/mob/"*.php "$SRV/htdocs/mob/"
cp "$HERE/php/lib/sync.php" "$SRV/lib/"
cp "$HERE/php/variants/"*.php "$SRV/variants/"
"$CLI" version > "$SRV/htdocs/sync/version.txt"
chown -R www-data:www-data "$SRV/htdocs/mob/transfer" "$SRV/data/accounts" "$SRV/data"
chown -R www-data:www-data "$RUN/nginx-tmp" "$RUN/nginx-cache"
touch "$RUN/php-errors.log"
chown www-data:www-data "$RUN/php-errors.log"

# --- the FTP login: a system user without a shell, and a PAM service of ours
if ! id "$FTP_USER" >/dev/null 2>&1; then
  useradd --system --no-create-home --home-dir "$SRV/data/ftp" --shell /usr/sbin/nologin \
          "$FTP_USER" && CREATED_USER=1
fi
echo "$FTP_USER:$FTP_PASSWORD" | chpasswd
chown "$FTP_USER:www-data" "$SRV/data/ftp"
chmod 755 "$SRV/data/ftp"
if [ ! -e "/etc/pam.d/$PAM_SERVICE" ]; then
  printf 'auth required pam_unix.so\naccount required pam_unix.so\nsession required pam_unix.so\n' \
    > "/etc/pam.d/$PAM_SERVICE" && CREATED_PAM=1
fi

# --- a test CA and a certificate for 127.0.0.1 --------------------------------
(
  cd "$RUN"
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Kelvanor trial CA" \
    -keyout ca.key -out ca.pem 2>/dev/null
  openssl req -newkey rsa:2048 -nodes -subj "/CN=127.0.0.1" -keyout server.key \
    -out server.csr 2>/dev/null
  printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\n' > san.ext
  openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
    -extfile san.ext -out server.pem 2>/dev/null
)

# --- start ---------------------------------------------------------------------
fill "$HERE/php-fpm.conf.in" "$RUN/php-fpm.conf"
fill "$HERE/nginx.conf.in" "$RUN/nginx.conf"
sed -e "s|@PORT@|$PORT_FTP|" -e "s|@PASV_MIN@|$PASV_BASE|" -e "s|@PASV_MAX@|$((PASV_BASE + 9))|" \
    -e "s|@LOG@|$RUN/vsftpd.log|" -e "s|@SRV@|$SRV|" -e "s|@PAM_SERVICE@|$PAM_SERVICE|" \
    "$HERE/vsftpd.conf.in" > "$RUN/vsftpd.conf"
sed -e "s|@PORT@|$PORT_FTPS|" -e "s|@PASV_MIN@|$((PASV_BASE + 10))|" \
    -e "s|@PASV_MAX@|$((PASV_BASE + 19))|" -e "s|@LOG@|$RUN/vsftpd-tls.log|" -e "s|@SRV@|$SRV|" \
    -e "s|@PAM_SERVICE@|$PAM_SERVICE|" "$HERE/vsftpd.conf.in" > "$RUN/vsftpd-tls.conf"
cat >> "$RUN/vsftpd-tls.conf" <<EOF
# Explicit TLS required for the login and the data, as providers set it.
ssl_enable=YES
force_local_logins_ssl=YES
force_local_data_ssl=YES
allow_anon_ssl=NO
rsa_cert_file=$RUN/server.pem
rsa_private_key_file=$RUN/server.key
ssl_ciphers=HIGH
EOF

php-fpm8.2 --fpm-config "$RUN/php-fpm.conf" || { echo "php-fpm did not start" >&2; exit 1; }
nginx -e "$RUN/nginx-error.log" -c "$RUN/nginx.conf" -p "$RUN" || { echo "nginx did not start" >&2; exit 1; }
vsftpd "$RUN/vsftpd.conf" >> "$RUN/vsftpd.out" 2>&1 & PIDS+=($!)
vsftpd "$RUN/vsftpd-tls.conf" >> "$RUN/vsftpd.out" 2>&1 & PIDS+=($!)
for port in $PORT_MAIN $PORT_FPM $PORT_FTP $PORT_FTPS; do
  for _ in $(seq 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.1
  done
done

# --- the practice and the tool's settings ---------------------------------------
"$GEN" --customers 40 --seed 1 "$DB" > /dev/null
printf '[Allgemein]\ndb_pfad=%s/\ndb_name=praxis.db\n' "$W" > "$TOOL/tessavor.ini"
printf '[general]\nname=%s\nnum_syncs=0\ndebug=1\n\n[sync_server]\nbase=\nweb=\nftp=\nftp_tls=0\n' \
  "$ACCOUNT" > "$TOOL/Kelvanor.ini"

# Which hosting the tool talks to: HTTP port, FTP address, ftp_tls.
use_server() {
  sed -i -e "s|^base=.*|base=http://127.0.0.1:$1|" -e "s|^web=.*|web=http://127.0.0.1:$1|" \
         -e "s|^ftp=.*|ftp=${2:-ftp://127.0.0.1:$PORT_FTP}|" -e "s|^ftp_tls=.*|ftp_tls=${3:-0}|" \
         "$TOOL/Kelvanor.ini"
}
use_server "$PORT_MAIN"

ACC="$SRV/data/accounts/$ACCOUNT"
TRANSFER="$SRV/htdocs/mob/transfer"
if [ "$MODE" = shell ]; then
  cat <<EOF
Running on 127.0.0.1 (work folder $W):
  plain nginx+PHP   $PORT_MAIN       cache in front of /mob/transfer/  $PORT_CACHE
  PHP not run       $PORT_NOPHP       zip.php unchecked  $PORT_UNCHECKED (showing warnings $PORT_SHOWERR)
  zip.php with BOM  $PORT_BOM       open_file_cache    $PORT_OFC
  zip.php on the zip command  $PORT_ZIPCMD   zip.php with ZipArchive::CREATE alone  $PORT_ZIPCREATE
  vsftpd plain      $PORT_FTP       vsftpd TLS required  $PORT_FTPS (CA: $RUN/ca.pem)
  mobile's folder   $ACC
Use it:  APPDATA=$APP LANG=C.UTF-8 $CLI sync --yes
Settings: $TOOL/Kelvanor.ini.  Ctrl-C stops everything.
EOF
  KEEP=1
  while sleep 3600; do :; done
fi

# --- helpers for the situations -------------------------------------------------
FAILURES=0
RC=0
OUT=""
ERR=""
N=0
say() { printf '\n=== %s\n' "$*"; }
check() {  # description actual expected
  if [ "$2" = "$3" ]; then printf '  ok    %s: %s\n' "$1" "$2"
  else printf '  FAIL  %s: %s (expected %s)\n' "$1" "$2" "$3"; FAILURES=$((FAILURES + 1)); fi
}
has() {  # description file text
  if grep -qF -- "$3" "$2"; then printf '  ok    %s\n' "$1"
  else printf '  FAIL  %s (no "%s")\n' "$1" "$3"; FAILURES=$((FAILURES + 1)); fi
}
lacks() {
  if ! grep -qF -- "$3" "$2"; then printf '  ok    %s\n' "$1"
  else printf '  FAIL  %s ("%s" found)\n' "$1" "$3"; FAILURES=$((FAILURES + 1)); fi
}
sync_cli() {  # label [extra environment ...]; runs "sync --yes" unless SYNC_ANSWER is set
  local label="$1"; shift
  N=$((N + 1))
  new_requests > /dev/null
  OUT="$LOGS/$N-$label.out"; ERR="$LOGS/$N-$label.err"
  env -i PATH="$PATH" LANG=C.UTF-8 APPDATA="$APP" "$@" "$CLI" sync "${SYNC_ANSWER:---yes}" \
    > "$OUT" 2> "$ERR"
  RC=$?
  printf -- '--- kelvanor-cli sync %s (%s): exit %s\n' "${SYNC_ANSWER:---yes}" "$label" "$RC"
  # What the user reads: the messages (stderr) and the lines of the log that
  # tell about the archive, the question and the end.
  grep -vxE '  (Kunden|Kunden\+Pferde|Pferde|Artikel|Leistungen|Lst\.gruppen|Termine|mobv2\.ini|fertig!)' "$ERR" \
    | sed 's/^/  err| /'
  grep -E 'Archiv|Keine Änderungen|schon übernommen|waren schon|Hinweis|Folgende Mobildaten|Neue|Geänderter|fertig!|Server-Delmob|Synchronisation' "$OUT" \
    | grep -vE '^\s*$' | sed 's/^/  out| /' | head -40
}
sql() { sqlite3 "$DB" "$1"; }
count_customer() { sql "SELECT COUNT(*) FROM besitzer WHERE name='$1'"; }
change_files() { (cd "$ACC" 2>/dev/null && ls -1 -- *_x.txt 2>/dev/null | tr '\n' ' '); }
server_state() {
  printf '  server: change files [%s], transfer [%s]\n' "$(change_files)" \
    "$(cd "$TRANSFER" && ls -l --time-style=+%T -- * 2>/dev/null | awk '{print $NF" "$6" "$5"B"}' | tr '\n' ' ')"
}
put() { printf '%b' "$2" > "$ACC/$1"; }
# A day of field work as the mobile writes it (tag tells one from another).
field_work() {
  local t="$1"
  put mob_kunde_x.txt "h\r\nN/7;;Kunde$t;;;;;;;;1;\r\n"
  put mob_stall_x.txt "h\r\nN/2;Stall$t;;;;;;\r\n"
  put mob_pferd_x.txt "h\r\nN/3;Pferd$t;;;;46500;N/2;;;;\r\n"
  put mob_kunde_pferd_x.txt "h\r\nN/7;x|N/3\r\n"
  put mob_termin_x.txt "h\r\nN/1;46500.5;46500.5625;kd/N/7;Termin$t;;;;;;\r\n"
  put mob_rech_x.txt "h\r\nR1;R-$t;N/7;N/3;46500;0;;1;;\r\n"
  put mob_kasse_x.txt "h\r\nN/1;46500.5;K;Kasse$t;B-1;119;19;N/7;;;\r\n"
}
# Every record of field_work TAG in the practice exactly EXPECTED times.
field_work_count() {
  local t="$1" c="(SELECT id FROM besitzer WHERE name='Kunde$1')" h="(SELECT id FROM pferd WHERE name='Pferd$1')"
  sql "SELECT (SELECT COUNT(*) FROM besitzer WHERE name='Kunde$t')||(SELECT COUNT(*) FROM stall WHERE name='Stall$t')
    ||(SELECT COUNT(*) FROM pferd WHERE name='Pferd$t')||(SELECT COUNT(*) FROM verbindstall WHERE pferdindex=$h)
    ||(SELECT COUNT(*) FROM verbind WHERE besitzerindex=$c AND pferdindex=$h)
    ||(SELECT COUNT(*) FROM termine WHERE ort='Termin$t' AND thema='kd/A/'||$c)
    ||(SELECT COUNT(*) FROM auftrag WHERE rechnungsnr='R-$t' AND besitzerindex=$c)
    ||(SELECT COUNT(*) FROM vbauftragpferd WHERE npferdindex=$h)
    ||(SELECT COUNT(*) FROM kasse WHERE bezeichnung='Kasse$t' AND besitzerindex=$c)"
}
integrity() { check "PRAGMA integrity_check" "$(sql 'PRAGMA integrity_check')" ok; }
counter() { sed -n 's/^num_syncs=//p' "$TOOL/Kelvanor.ini" | tr -d '\r'; }
write_protect() { chmod 555 "$1"; }
write_allow() { chmod 755 "$1"; }
LOGPOS=0
new_requests() {  # the archive and script requests nginx logged since the last sync began
  tail -c +$((LOGPOS + 1)) "$RUN/nginx-access.log" > "$RUN/requests.part"
  LOGPOS=$(stat -c %s "$RUN/nginx-access.log")
  grep -E 'transfer|php' "$RUN/requests.part" | sed 's/^/  nginx| /'
}

echo "nginx $(nginx -v 2>&1 | sed 's/.*\///'), $(php-fpm8.2 -v | head -1 | cut -d' ' -f1-2)," \
     "vsftpd $(dpkg-query -W -f='${Version}' vsftpd), libzip $(dpkg-query -W -f='${Version}' libzip4)," \
     "curl $(dpkg-query -W -f='${Version}' curl)"
echo "Work folder: $W"

# --- headers as nginx sends them ---------------------------------------------------
say "Headers: Date of zip.php's answer, Last-Modified of the archive (account 'probe')"
mkdir -p "$SRV/data/accounts/probe"; chown www-data: "$SRV/data/accounts/probe"
printf 'h\r\nN/1;;Probe;;;;;;;;1;\r\n' > "$SRV/data/accounts/probe/mob_kunde_x.txt"
for port in $PORT_MAIN $PORT_OFC; do
  echo "-- port $port"
  curl -s -D "$RUN/headers.txt" -o "$RUN/body.txt" "http://127.0.0.1:$port/mob/zip.php?kd=probe"
  grep -iE '^(HTTP|Date|Content-Type|Last-Modified)' "$RUN/headers.txt" | sed 's/^/  zip.php  | /'
  sed 's/^/  zip.php body | /' "$RUN/body.txt"
  echo "  file mtime    | $(TZ=GMT date -r "$TRANSFER/dl_probe.zip" '+%a, %d %b %Y %T GMT') ($(stat -c %y "$TRANSFER/dl_probe.zip"))"
  curl -sI -H 'Cache-Control: no-cache' "http://127.0.0.1:$port/mob/transfer/dl_probe.zip?t=1" \
    | grep -iE '^(HTTP|Date|Last-Modified|ETag|Cache-Control|Expires|Content-Length)' | sed 's/^/  archive  | /'
done
echo "-- open_file_cache ($PORT_OFC): pack again two seconds later, look again"
sleep 2
curl -s "http://127.0.0.1:$PORT_OFC/mob/zip.php?kd=probe" | sed 's/^/  zip.php body | /'
echo "  file mtime    | $(TZ=GMT date -r "$TRANSFER/dl_probe.zip" '+%a, %d %b %Y %T GMT')"
curl -sI "http://127.0.0.1:$PORT_OFC/mob/transfer/dl_probe.zip?t=2" | grep -iE '^(Date|Last-Modified|Content-Length)' | sed 's/^/  archive  | /'
echo "-- cache ($PORT_CACHE): first and second look, then packed again"
for i in 1 2; do
  curl -sI -H 'Cache-Control: no-cache' "http://127.0.0.1:$PORT_CACHE/mob/transfer/dl_probe.zip?t=c$i" \
    | grep -iE '^(Date|Last-Modified|X-Cache-Status|Cache-Control|Expires)' | sed 's/^/  archive  | /'
done
sleep 2
curl -s "http://127.0.0.1:$PORT_MAIN/mob/zip.php?kd=probe" | sed 's/^/  zip.php body | /'
echo "  file mtime    | $(TZ=GMT date -r "$TRANSFER/dl_probe.zip" '+%a, %d %b %Y %T GMT')"
curl -sI -H 'Cache-Control: no-cache' "http://127.0.0.1:$PORT_CACHE/mob/transfer/dl_probe.zip?t=c3" \
  | grep -iE '^(Date|Last-Modified|X-Cache-Status)' | sed 's/^/  archive  | /'
echo "-- kd checked: bad names refused"
for kd in '../x' 'a%2Fb' '%20hof' 'hof%00' ''; do
  printf '  kd=%-8s -> %s\n' "$kd" "$(curl -s -w ' [%{http_code}]' "http://127.0.0.1:$PORT_MAIN/mob/zip.php?kd=$kd" | tr -d '\n')"
done
printf '  no kd       -> %s\n' "$(curl -s -w ' [%{http_code}]' "http://127.0.0.1:$PORT_MAIN/mob/zip.php" | tr -d '\n')"
rm -rf "$SRV/data/accounts/probe" "$TRANSFER/dl_probe.zip" "$SRV/data/accounts/@empty"
new_requests > /dev/null

# --- a. first sync, field work, a quiet sync -------------------------------------
say "a1. First sync (export, FTP upload through vsftpd, unzip.php)"
CUSTOMERS=$(sql "SELECT COUNT(*) FROM besitzer")
sync_cli a1-first
check "exit code" "$RC" 0
check "customers unchanged" "$(sql 'SELECT COUNT(*) FROM besitzer')" "$CUSTOMERS"
for f in mob_kunde.txt mob_pferd.txt mob_termin.txt mobv2.ini; do
  if cmp -s "$ACC/$f" "$TOOL/mobil/$f"; then check "$f on the server as exported" same same
  else check "$f on the server as exported" differs same; fi
done
check "up_$ACCOUNT.zip arrived by FTP" "$(ls "$SRV/data/ftp")" "up_$ACCOUNT.zip"
grep -E 'OK UPLOAD|FAIL UPLOAD' "$RUN/vsftpd.log" | tail -1 | sed 's/^/  vsftpd| /'
server_state

say "a2. Sync with the mobile's field work"
field_work A
sync_cli a2-fieldwork
check "exit code" "$RC" 0
check "field work A once (9 kinds of record)" "$(field_work_count A)" 111111111
check "change files left on the server" "$(change_files)" ""
integrity
server_state
new_requests

say "a3. Quiet sync: nothing to pack, ZipArchive leaves no archive"
sync_cli a3-quiet
check "exit code" "$RC" 0
has "no changes told" "$OUT" "Keine Änderungen auf dem Server."
has "missing archive logged" "$OUT" "Kein Archiv auf dem Server"
check "field work A once" "$(field_work_count A)" 111111111
server_state
new_requests

# --- b. a cache in front of /mob/transfer/ -------------------------------------------
say "b1. Through the cache: field work B, answered 'no' (the cache keeps B's archive)"
use_server "$PORT_CACHE"
field_work B
SYNC_ANSWER=--no sync_cli b1-cache-no
check "exit code" "$RC" 0
check "field work B not imported" "$(field_work_count B)" 000000000
server_state
new_requests
sleep 3

say "b2. Through the cache: the mobile adds KundeB2; the cache serves B's archive"
put mob_kunde_x.txt "h\r\nN/7;;KundeB;;;;;;;;1;\r\nN/8;;KundeB2;;;;;;;;1;\r\n"
sync_cli b2-cache-old
check "exit code" "$RC" 1
has "old archive told" "$ERR" "Der Server hat ein altes Archiv mit den Änderungen vom Mobilgerät geliefert"
lacks "no delete request" "$OUT" "Server-Delmob.php fertig"
check "field work B once" "$(field_work_count B)" 111111111
check "KundeB2 (not in the archive) not imported" "$(count_customer KundeB2)" 0
check "KundeB2 still on the server" "$(grep -c KundeB2 "$ACC/mob_kunde_x.txt")" 1
integrity
server_state
new_requests

say "b3. Through the cache again: the same old archive, nothing twice"
sync_cli b3-cache-again
check "exit code" "$RC" 1
has "old archive told" "$ERR" "altes Archiv"
check "field work B once" "$(field_work_count B)" 111111111
check "KundeB2 not imported" "$(count_customer KundeB2)" 0
check "change files kept" "$(change_files | wc -w)" 7
integrity
new_requests

say "b4. Past the cache (the provider fixed it): KundeB2 arrives, B not twice"
use_server "$PORT_MAIN"
sync_cli b4-main
check "exit code" "$RC" 0
check "KundeB2 once" "$(count_customer KundeB2)" 1
check "field work B once" "$(field_work_count B)" 111111111
check "change files left" "$(change_files)" ""
integrity
server_state

say "b5. Through the cache once more, new KundeB3: the cached archive is older than the last complete look"
use_server "$PORT_CACHE"
put mob_kunde_x.txt "h\r\nN/9;;KundeB3;;;;;;;;1;\r\n"
sync_cli b5-cache-outdated
check "exit code" "$RC" 1
has "outdated archive told" "$ERR" "veraltetes Archiv"
check "KundeB3 not imported" "$(count_customer KundeB3)" 0
check "KundeB3 still on the server" "$(change_files)" "mob_kunde_x.txt "
check "field work B once" "$(field_work_count B)" 111111111
integrity
new_requests
use_server "$PORT_MAIN"
sync_cli b6-main
check "exit code" "$RC" 0
check "KundeB3 once" "$(count_customer KundeB3)" 1
check "change files left" "$(change_files)" ""

# --- c. zip.php's packing fails ---------------------------------------------------------
say "c1. Careful zip.php, transfer folder write-protected: zip.php answers 500"
put mob_kunde_x.txt "h\r\nN/10;;KundeC1;;;;;;;;1;\r\n"
write_protect "$TRANSFER"
sync_cli c1-careful
check "exit code" "$RC" 1
check "KundeC1 not imported" "$(count_customer KundeC1)" 0
check "change file kept" "$(change_files)" "mob_kunde_x.txt "
server_state

say "c2. Careless zip.php (results unchecked, OK 1), no archive left: must not be 'no changes'"
use_server "$PORT_UNCHECKED"
sync_cli c2-unchecked-missing
check "exit code" "$RC" 1
has "missing archive told" "$ERR" "fehlt auf dem Server"
lacks "not taken for no changes" "$OUT" "Keine Änderungen"
check "KundeC1 not imported" "$(count_customer KundeC1)" 0
check "change file kept" "$(change_files)" "mob_kunde_x.txt "
tail -2 "$RUN/php-errors.log" | sed 's/^/  php| /'

say "c3. An old archive is left (a sync answered 'no' packed it), then packing fails"
write_allow "$TRANSFER"
use_server "$PORT_MAIN"
SYNC_ANSWER=--no sync_cli c3-packed-declined
check "exit code" "$RC" 0
sleep 3
put mob_kunde_x.txt "h\r\nN/10;;KundeC1;;;;;;;;1;\r\nN/11;;KundeC2;;;;;;;;1;\r\n"
write_protect "$TRANSFER"
use_server "$PORT_UNCHECKED"
sync_cli c3-unchecked-old
check "exit code" "$RC" 1
has "old archive told" "$ERR" "Der Server hat ein altes Archiv"
lacks "no delete request" "$OUT" "Server-Delmob.php fertig"
check "KundeC1 (in the old archive) once" "$(count_customer KundeC1)" 1
check "KundeC2 (written since) not imported" "$(count_customer KundeC2)" 0
check "both on the server" "$(grep -c Kunde "$ACC/mob_kunde_x.txt")" 2
integrity
server_state

say "c4. The careless zip.php where PHP shows its warnings"
use_server "$PORT_SHOWERR"
sync_cli c4-warning
check "exit code" "$RC" 1
has "server's warning shown" "$ERR" "Warning"
check "KundeC2 not imported" "$(count_customer KundeC2)" 0
check "KundeC1 once" "$(count_customer KundeC1)" 1

say "c5. Packing works again"
write_allow "$TRANSFER"
use_server "$PORT_MAIN"
sync_cli c5-main
check "exit code" "$RC" 0
check "KundeC1 once" "$(count_customer KundeC1)" 1
check "KundeC2 once" "$(count_customer KundeC2)" 1
check "change files left" "$(change_files)" ""
integrity

# --- d. answers that are failures under 200 ----------------------------------------------
say "d1. PHP not run: nginx sends zip.php's source"
put mob_kunde_x.txt "h\r\nN/12;;KundeD1;;;;;;;;1;\r\n"
use_server "$PORT_NOPHP"
curl -s -D - "http://127.0.0.1:$PORT_NOPHP/mob/zip.php?kd=$ACCOUNT" | head -12 | sed 's/^/  curl| /'
sync_cli d1-php-source
check "exit code" "$RC" 1
lacks "source not shown" "$ERR" "account_name"
check "KundeD1 not imported" "$(count_customer KundeD1)" 0
check "change file kept" "$(change_files)" "mob_kunde_x.txt "

say "d2. zip.php says 'Fehler: ...' behind a byte-order mark (packing failed)"
use_server "$PORT_BOM"
write_protect "$TRANSFER"
curl -s "http://127.0.0.1:$PORT_BOM/mob/zip.php?kd=$ACCOUNT" | od -c | head -3 | sed 's/^/  od| /'
sync_cli d2-bom-error
check "exit code" "$RC" 1
has "server's words shown" "$ERR" "Fehler: zip fehlgeschlagen"
check "KundeD1 not imported" "$(count_customer KundeD1)" 0
check "change file kept" "$(change_files)" "mob_kunde_x.txt "
write_allow "$TRANSFER"

say "d3. The same script when packing works: byte-order mark before 'OK ... 1', then before 'OK ... 0'"
sync_cli d3-bom-ok
check "exit code" "$RC" 0
check "KundeD1 once" "$(count_customer KundeD1)" 1
check "change files left" "$(change_files)" ""
sync_cli d3-bom-quiet
check "exit code" "$RC" 0
has "no changes told" "$OUT" "Keine Änderungen auf dem Server."
use_server "$PORT_MAIN"

# --- e. the delete request fails, the mobile rewrites its line ----------------------------
say "e1. delmob.php cannot delete (account folder write-protected): 500 after the import"
put mob_kunde_x.txt "h\r\nN/5;;Neumann;Nina;;0711;;;;;1;\r\n"
write_protect "$ACC"
sync_cli e1-delmob-500
check "exit code" "$RC" 1
has "imported, not deleted told" "$ERR" "Die Mobildaten sind in die Datenbank übernommen."
check "Neumann, Nina once" "$(sql "SELECT COUNT(*) FROM besitzer WHERE name='Neumann' AND vorname='Nina'")" 1
check "change file kept" "$(change_files)" "mob_kunde_x.txt "
write_allow "$ACC"

say "e2. The mobile rewrote N/5 in place (other phone): changed, not created again"
put mob_kunde_x.txt "h\r\nN/5;;Neumann;Nina;;0301234;;;;;1;\r\n"
sync_cli e2-rewritten
check "exit code" "$RC" 0
check "Neumann, Nina once, new phone" "$(sql "SELECT COUNT(*)||'|'||telefon FROM besitzer WHERE name='Neumann' AND vorname='Nina'")" "1|0301234"
check "change files left" "$(change_files)" ""
integrity

# --- f. FTP over TLS -----------------------------------------------------------------------
say "f1. vsftpd requires TLS, Kelvanor.ini does not ask for it"
use_server "$PORT_MAIN" "ftp://127.0.0.1:$PORT_FTPS" 0
sync_cli f1-tls-required
check "exit code" "$RC" 1
has "ftp_tls=1 named" "$ERR" "ftp_tls=1"

say "f2. ftp_tls=1, the test CA not trusted"
use_server "$PORT_MAIN" "ftp://127.0.0.1:$PORT_FTPS" 1
sync_cli f2-tls-untrusted
check "exit code" "$RC" 1

say "f3. ftp_tls=1, the test CA trusted through CURL_CA_BUNDLE"
BEFORE=$(stat -c %Y "$SRV/data/ftp/up_$ACCOUNT.zip")
sleep 1
sync_cli f3-tls CURL_CA_BUNDLE="$RUN/ca.pem"
check "exit code" "$RC" 0
check "upload renewed" "$([ "$(stat -c %Y "$SRV/data/ftp/up_$ACCOUNT.zip")" -gt "$BEFORE" ] && echo yes)" yes
grep -E 'OK UPLOAD|FAIL UPLOAD|OK LOGIN|FAIL LOGIN' "$RUN/vsftpd-tls.log" | tail -3 | sed 's/^/  vsftpd-tls| /'
use_server "$PORT_MAIN"

# --- open_file_cache ----------------------------------------------------------------------
say "g1. nginx with open_file_cache (valid 60s) in front of the transfer folder: two syncs in a row"
use_server "$PORT_OFC"
put mob_kunde_x.txt "h\r\nN/13;;KundeG1;;;;;;;;1;\r\n"
sync_cli g1-ofc
check "KundeG1 once" "$(count_customer KundeG1)" 1
server_state
sleep 2
put mob_kunde_x.txt "h\r\nN/14;;KundeG2;;;;;;;;1;\r\n"
sync_cli g2-ofc-again
check "KundeG2 at most once" "$([ "$(count_customer KundeG2)" -le 1 ] && echo yes)" yes
echo "  KundeG2: $(count_customer KundeG2); change files: [$(change_files)]"
server_state
new_requests
use_server "$PORT_MAIN"
sync_cli g3-main
check "exit code" "$RC" 0
check "KundeG1 once" "$(count_customer KundeG1)" 1
check "KundeG2 once" "$(count_customer KundeG2)" 1
check "change files left" "$(change_files)" ""
integrity

# --- zip.php that updates the archive it finds ---------------------------------------------
# A cash entry and a customer, synced; a quiet sync; then a customer alone:
# the archive is updated and still holds the cash entry's file from before.
updating_zip() {  # label port tag first-id
  local label="$1" port="$2" t="$3" id="$4"
  rm -f "$TRANSFER/dl_$ACCOUNT.zip"
  use_server "$port"
  say "$label-1. A new customer and a cash entry"
  put mob_kunde_x.txt "h\r\nN/$id;;Kunde${t}1;;;;;;;;1;\r\n"
  put mob_kasse_x.txt "h\r\nN/$id;46500.5;K;Kasse${t}1;B-1;50;19;N/$id;;;\r\n"
  sync_cli "$label-1"
  check "exit code" "$RC" 0
  check "Kunde${t}1 once" "$(count_customer "Kunde${t}1")" 1
  check "Kasse${t}1 once" "$(sql "SELECT COUNT(*) FROM kasse WHERE bezeichnung='Kasse${t}1'")" 1
  check "change files left" "$(change_files)" ""
  server_state
  unzip -Z1 "$TRANSFER/dl_$ACCOUNT.zip" | sed 's/^/  archive holds| /'
  sleep 3
  say "$label-2. A quiet sync: the archive stays as it was, zip.php says 0"
  sync_cli "$label-2"
  check "exit code" "$RC" 0
  has "no changes told" "$OUT" "Keine Änderungen auf dem Server."
  say "$label-3. The mobile writes a new customer only: the updated archive still holds the old cash file"
  put mob_kunde_x.txt "h\r\nN/$((id + 1));;Kunde${t}2;;;;;;;;1;\r\n"
  sync_cli "$label-3"
  check "exit code" "$RC" 1
  has "an updated archive refused" "$ERR" "zip.php hat aber nur 1 gepackt"
  check "Kunde${t}2 not yet" "$(count_customer "Kunde${t}2")" 0
  check "Kasse${t}1 once" "$(sql "SELECT COUNT(*) FROM kasse WHERE bezeichnung='Kasse${t}1'")" 1
  check "change files left" "$(change_files)" "mob_kunde_x.txt "
  integrity
  rm -f "$TRANSFER/dl_$ACCOUNT.zip"
  use_server "$PORT_MAIN"
}
updating_zip h-zipcmd "$PORT_ZIPCMD" H 15
updating_zip i-zipcreate "$PORT_ZIPCREATE" I 17

say "End: $FAILURES check(s) failed; sync counter $(counter); logs in $LOGS"
[ "$FAILURES" = 0 ]
