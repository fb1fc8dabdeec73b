#!/usr/bin/env bash
# Signs the stand-in update of the Windows tests in every way the signature
# check must tell apart, with certificates made here for this build alone
# (nothing of them is kept in the tree):
#
#   sign_stand_ins.sh STAND_IN.exe OUT_DIR
#
# OUT_DIR then holds
#   ca.pem, ca.der          the test certificate authority (scripts/test-windows.sh
#                           makes the Wine prefix trust it)
#   unsigned.exe            no signature
#   signed.exe              signed by "Hufbeschlag Testverlag GmbH" (the CA's)
#   other_publisher.exe     signed by "Fremder Verlag GmbH" (the CA's)
#   tampered.exe            signed.exe with one byte of its code changed
#   self_signed.exe         "Hufbeschlag Testverlag GmbH", but self-signed
#   expired.exe             the CA's, but valid only in January 2020
#   server_certificate.exe  the CA's, but a web server's certificate
set -euo pipefail
IN="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
OUT="$2"
rm -rf "$OUT"
mkdir -p "$OUT"
cd "$OUT"
run() { "$@" >/dev/null 2>&1 || { echo "sign_stand_ins: $* failed" >&2; exit 1; }; }

PUBLISHER="Hufbeschlag Testverlag GmbH"
run openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=Kelvanor Test-CA" \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
  -keyout ca.key -out ca.pem
run openssl x509 -in ca.pem -outform der -out ca.der

mkdir -p ca-db
: >ca-db/index.txt
echo 1000 >ca-db/serial
cat >ca.cnf <<CNF
[ca]
default_ca = test_ca
[test_ca]
dir = $OUT/ca-db
database = \$dir/index.txt
serial = \$dir/serial
new_certs_dir = \$dir
default_md = sha256
policy = any_name
unique_subject = no
[any_name]
commonName = supplied
[code_signing]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
[web_server]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
CNF
# issue NAME "COMMON NAME" EXTENSIONS START END: NAME.pem and NAME.key from the CA.
issue() {
  run openssl req -newkey rsa:2048 -nodes -subj "/CN=$2" -keyout "$1.key" -out "$1.csr"
  run openssl ca -batch -notext -config ca.cnf -cert ca.pem -keyfile ca.key -extensions "$3" \
    -startdate "$4" -enddate "$5" -in "$1.csr" -out "$1.pem"
}
FROM="$(date -u -d '-1 day' +%Y%m%d%H%M%SZ)"
UNTIL="$(date -u -d '+30 days' +%Y%m%d%H%M%SZ)"
issue publisher "$PUBLISHER" code_signing "$FROM" "$UNTIL"
issue other "Fremder Verlag GmbH" code_signing "$FROM" "$UNTIL"
issue expired "$PUBLISHER" code_signing 20200101000000Z 20200131000000Z
issue web "$PUBLISHER" web_server "$FROM" "$UNTIL"
run openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=$PUBLISHER" \
  -addext extendedKeyUsage=codeSigning -keyout self.key -out self.pem

sign() { run osslsigncode sign -certs "$1.pem" -key "$1.key" -n "Kelvanor" -in "$IN" -out "$2"; }
cp "$IN" unsigned.exe
sign publisher signed.exe
sign other other_publisher.exe
sign self self_signed.exe
sign expired expired.exe
sign web server_certificate.exe
# One byte in the middle of the program, well before the signature at its end.
cp signed.exe tampered.exe
offset=$(( $(stat -c %s unsigned.exe) / 2 ))
flipped=$(( $(od -An -tu1 -j"$offset" -N1 signed.exe) ^ 0xFF ))
printf "\\$(printf '%03o' "$flipped")" | dd of=tampered.exe bs=1 seek="$offset" conv=notrunc status=none
! cmp -s signed.exe tampered.exe
