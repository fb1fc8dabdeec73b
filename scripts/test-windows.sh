#!/usr/bin/env bash
# The Windows build, proven under Wine: builds the package and the installer
# (scripts/build-windows.sh), then runs in build-win64/ through ctest the core
# test suite cross-built for Windows, two syncs of kelvanor-cli.exe against the
# reference server, the window on a virtual display with a screenshot, and
# the installer in a fresh Wine prefix (tests/windows/).
#
# Wine runs under a German locale, as a farrier's PC does: its cmd then reads
# tmp.bat in code page 850, like the command interpreter of a German Windows.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${KELVANOR_WIN64_BUILD_DIR:-$ROOT/build-win64}"
LINUX_BUILD="${KELVANOR_BUILD_DIR:-$ROOT/build}"

"$ROOT/scripts/build-windows.sh"
# What the tests use besides Wine: a virtual display with a window manager,
# screenshots, clicks, and the sqlite3 shell for looking into the practice.
missing=()
for p in xvfb xauth openbox imagemagick xdotool x11-utils sqlite3 python3-pyftpdlib python3-openssl; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# The tests take their practices from the Linux build's generator.
[ -x "$LINUX_BUILD/tools/gen_practice" ] || "$ROOT/scripts/build.sh"

# A German locale without touching the system's: compiled once beside the build.
if ! locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8'; then
  if [ ! -f "$BUILD/locale/de_DE.UTF-8/LC_CTYPE" ]; then
    mkdir -p "$BUILD/locale"
    localedef -i de_DE -f UTF-8 "$BUILD/locale/de_DE.UTF-8" 2>/dev/null || [ -f "$BUILD/locale/de_DE.UTF-8/LC_CTYPE" ]
  fi
  export LOCPATH="$BUILD/locale"
fi
unset LC_ALL LANGUAGE
export LANG=de_DE.UTF-8
export WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml="

# A fresh prefix for every run (made in seconds; caching one costs 700 MB).
export WINEPREFIX="$BUILD/wine-prefix"
rm -rf "$WINEPREFIX"
XVFB_PID=""
WM_PID=""
cleanup() {
  wineserver -k 2>/dev/null || true
  [ -n "$WM_PID" ] && kill "$WM_PID" 2>/dev/null || true
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
}
trap cleanup EXIT
# The window test gets a display of its own with a window manager (without
# one Wine draws no frame and the window never gets the focus). It comes
# before Wine's first program: the desktop Wine starts then keeps the size
# of the screen it found, 1024x768 where there was none, and Wine draws no
# window beyond that (a large window stayed white past it).
for n in $(seq 121 150); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$n"
    sleep 1
    openbox >/dev/null 2>&1 &
    WM_PID=$!
    break
  fi
done
echo "== Wine-Umgebung (Präfix $WINEPREFIX) =="
wineboot -i >/dev/null 2>&1
# One wineserver for the whole run, detached from our pipes: without it
# every test program waits seconds for Wine's service processes. The one
# wineboot started must be gone first: a test connecting while it shuts
# down gets its connection reset.
wineserver -w
(setsid wineserver -p </dev/null >/dev/null 2>&1 &)
wine cmd /c exit 0 >/dev/null 2>&1

# The code-signature tests check stand-ins signed by a certificate authority
# made for this build (tests/windows/sign_stand_ins.sh): this prefix trusts
# it as a PC trusts a real one, through the user's root store in the registry
# (Wine has no certutil).
CA_DER="$BUILD/signing/ca.der"
if [ -f "$CA_DER" ]; then
  thumbprint="$(openssl x509 -inform der -in "$CA_DER" -noout -fingerprint -sha1 | sed 's/.*=//; s/://g')"
  # A stored certificate: property 32 (the certificate itself), encoding 1, length, bytes.
  blob="$(/usr/bin/python3 -c 'import struct, sys; d = open(sys.argv[1], "rb").read(); print((struct.pack("<III", 32, 1, len(d)) + d).hex())' "$CA_DER")"
  wine reg add "HKCU\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\$thumbprint" \
    /v Blob /t REG_BINARY /d "$blob" /f >/dev/null 2>&1
fi

echo "== Windows-Tests unter Wine =="
cd "$BUILD"
ctest --output-on-failure -j2 --timeout 600
cat "$BUILD/linux-only-tests.txt"
