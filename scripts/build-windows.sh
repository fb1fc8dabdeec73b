#!/usr/bin/env bash
# Builds Kelvanor for 64-bit Windows with MinGW-w64 and packs it:
#
#   scripts/build-windows.sh [--third-party-only]
#
# 1. installs the Debian packages the cross build needs;
# 2. builds the third-party pieces (SQLite, curl with Schannel, Info-ZIP zip
#    and unzip, wxWidgets, GoogleTest; the SimpleIni header) from Debian's own
#    source packages, statically, into a cache outside the tree. Each piece
#    is keyed by its source version and built once per machine;
# 3. cross-builds the project into build-win64/ (or $KELVANOR_WIN64_BUILD_DIR);
# 4. assembles build-win64/package/ (the programs, curl.exe, zip.exe,
#    unzip.exe, LIESMICH.txt) and the installer
#    build-win64/Kelvanor-<version>-setup.exe.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${KELVANOR_WIN64_BUILD_DIR:-$ROOT/build-win64}"
if [ -n "${KELVANOR_WIN64_CACHE:-}" ]; then
  CACHE="$KELVANOR_WIN64_CACHE"
elif [ "$(id -u)" -eq 0 ]; then
  CACHE=/var/cache/kelvanor-win64
else
  CACHE="${XDG_CACHE_HOME:-$HOME/.cache}/kelvanor-win64"
fi
HOST=x86_64-w64-mingw32
JOBS="${KELVANOR_JOBS:-2}"
THIRD_PARTY_ONLY=0
for arg in "$@"; do
  case "$arg" in
    --third-party-only) THIRD_PARTY_ONLY=1 ;;
    *) echo "usage: scripts/build-windows.sh [--third-party-only]" >&2; exit 2 ;;
  esac
done

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
say() { echo "build-windows: $*" >&2; }
die() { echo "build-windows: $*" >&2; exit 1; }

# --- 1. Debian packages ------------------------------------------------------
PACKAGES=(
  build-essential cmake pkg-config dpkg-dev curl ca-certificates tcl
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
  libz-mingw-w64-dev googletest libsimpleini-dev
  wine wine64 nsis osslsigncode openssl
  xvfb xauth imagemagick locales
)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  say "installiere ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# --- 2. Debian's sources ---------------------------------------------------
# deb-src entries for the very mirrors and suites the machine installs from
# (the security suite included: zip and unzip carry its fixes).
ensure_deb_src() {
  if apt-get source --print-uris -qq sqlite3 2>/dev/null | grep -q "\.dsc'"; then return; fi
  say "deb-src-Einträge für die Paketquellen der Maschine"
  local list=/etc/apt/sources.list.d/kelvanor-deb-src.sources
  local tmp
  tmp="$(mktemp)"
  # deb822 paragraphs of the Debian archive, with deb turned into deb-src.
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && [ "$f" != "$list" ] || continue
    awk 'BEGIN{RS=""; ORS="\n\n"} /URIs:[^\n]*debian/ && /Types:[^\n]*deb/ {
           sub(/Types:[^\n]*/, "Types: deb-src"); print }' "$f" >>"$tmp"
  done
  # One-line entries of sources.list.
  if [ -f /etc/apt/sources.list ]; then
    sed -n 's/^deb \(.*debian.*\)$/\1/p' /etc/apt/sources.list | while read -r rest; do
      set -- $rest
      case "$1" in \[*) shift ;; esac
      printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: %s\n\n' "$1" "$2" "${*:3}"
    done >>"$tmp"
  fi
  [ -s "$tmp" ] || die "keine Debian-Paketquelle gefunden, zu der deb-src-Einträge passen"
  $SUDO install -m 0644 "$tmp" "$list"
  rm -f "$tmp"
  $SUDO apt-get update -qq
}

# The source version apt would fetch for a source package.
source_version() {
  local dsc
  dsc="$(apt-get source --print-uris -qq "$1" | awk -v p="$1" '$2 ~ "^" p "_.*\\.dsc$" {print $2; exit}')"
  [ -n "$dsc" ] || die "keine Quellen für $1 gefunden"
  dsc="${dsc#"$1"_}"
  echo "${dsc%.dsc}"
}

# Downloads a source package into the current folder and unpacks it into
# ./src. A file the mirror lacks in the security pool is taken from the main
# pool (same name, same checksum); without the .dsc the orig tarball, the
# Debian tarball and its patch series are applied by hand.
fetch_source() {
  local pkg="$1" uri name size sum alt
  rm -rf src
  apt-get source --print-uris -qq "$pkg" | grep "^'" | while read -r uri name size sum; do
    uri="${uri//\'/}"
    sum="${sum#SHA256:}"
    if [ ! -f "$name" ] || ! echo "$sum  $name" | sha256sum -c --quiet - 2>/dev/null; then
      if ! curl -fs -o "$name" "$uri"; then
        alt="$(echo "$uri" | sed 's#/debian-security/pool/updates/main/#/debian/pool/main/#')"
        if [ "$alt" = "$uri" ] || ! curl -fsS -o "$name" "$alt"; then
          rm -f "$name"
          case "$name" in
            *.dsc) say "$name fehlt auf dem Spiegel; die Quellen werden ohne sie ausgepackt"; continue ;;
            *) die "$name kann nicht geladen werden" ;;
          esac
        fi
      fi
      echo "$sum  $name" | sha256sum -c --quiet - || die "Prüfsumme von $name stimmt nicht"
    fi
  done
  local dsc
  dsc="$(ls "$pkg"_*.dsc 2>/dev/null | head -1 || true)"
  if [ -n "$dsc" ]; then
    dpkg-source --no-check -x "$dsc" src >/dev/null
    return
  fi
  local orig debian
  orig="$(ls "$pkg"_*.orig.tar.* | grep -v 'orig-' | head -1)"
  debian="$(ls "$pkg"_*.debian.tar.* | head -1)"
  mkdir src
  tar -xf "$orig" -C src --strip-components=1
  tar -xf "$debian" -C src
  if [ -f src/debian/patches/series ]; then
    local patch opts
    while read -r patch opts; do
      case "$patch" in ''|\#*) continue ;; esac
      patch -d src -s ${opts:--p1} <"src/debian/patches/$patch"
    done <src/debian/patches/series
  fi
}

TOOLCHAIN="$ROOT/cmake/mingw-w64-x86_64.cmake"
GCC_VERSION="$($HOST-gcc-posix -dumpfullversion)"
PREFIX="$CACHE/$HOST-gcc$GCC_VERSION"
STAMPS="$PREFIX/.built"
WORK="$CACHE/work"
mkdir -p "$PREFIX/include" "$PREFIX/lib" "$PREFIX/bin" "$STAMPS" "$WORK"
export KELVANOR_WIN64_PREFIX="$PREFIX"

# Runs one build step with its output in a log; on failure shows the end.
logged() {
  local log="$1"; shift
  if ! "$@" >>"$log" 2>&1; then
    tail -30 "$log" >&2
    die "fehlgeschlagen: $* (Protokoll: $log)"
  fi
}

# build_piece NAME VERSION FUNCTION [RECIPE]: runs FUNCTION in a fresh work
# folder unless NAME at VERSION, built by RECIPE (a number raised whenever
# its build function changes what it makes), is already in the prefix.
build_piece() {
  local name="$1" version="$2" fn="$3" recipe="${4:-1}"
  [ "$recipe" -gt 1 ] && version="$version-r$recipe"
  local stamp="$STAMPS/$name-$version"
  [ -f "$stamp" ] && return
  say "baue $name $version (einmalig, Protokoll: $WORK/$name.log)"
  local started=$SECONDS
  rm -rf "${STAMPS:?}/$name-"* "$WORK/$name"
  mkdir -p "$WORK/$name"
  : >"$WORK/$name.log"
  (cd "$WORK/$name" && "$fn" "$WORK/$name.log")
  touch "$stamp"
  rm -rf "${WORK:?}/$name"
  say "$name fertig nach $((SECONDS - started)) s"
}

# The options Debian builds its own libsqlite3 with, so both builds behave
# alike; the column-origin calls the database layer uses need COLUMN_METADATA.
SQLITE_DEFINES=(
  -DSQLITE_SECURE_DELETE -DSQLITE_ENABLE_COLUMN_METADATA -DSQLITE_ENABLE_FTS3
  -DSQLITE_ENABLE_FTS3_PARENTHESIS -DSQLITE_ENABLE_FTS4 -DSQLITE_ENABLE_FTS5
  -DSQLITE_ENABLE_RTREE -DSQLITE_SOUNDEX -DSQLITE_ENABLE_UNLOCK_NOTIFY
  -DSQLITE_ENABLE_DBSTAT_VTAB -DSQLITE_ENABLE_MATH_FUNCTIONS
  -DSQLITE_MAX_SCHEMA_RETRY=25 -DSQLITE_MAX_VARIABLE_NUMBER=250000
  -DSQLITE_ENABLE_UPDATE_DELETE_LIMIT -DSQLITE_THREADSAFE=1
)
build_sqlite() {
  local log="$1"
  fetch_source sqlite3
  mkdir native
  # The amalgamation is generated by the native tools (tclsh), then compiled
  # with the cross compiler.
  (cd native && logged "$log" ../src/configure --disable-tcl && logged "$log" make sqlite3.c)
  logged "$log" $HOST-gcc-posix -O2 "${SQLITE_DEFINES[@]}" -c native/sqlite3.c -o sqlite3.o
  logged "$log" $HOST-gcc-ar-posix rcs "$PREFIX/lib/libsqlite3.a" sqlite3.o
  cp native/sqlite3.h src/src/sqlite3ext.h "$PREFIX/include/"
}

build_curl() {
  local log="$1"
  fetch_source curl
  # Schannel is Windows' own TLS: no OpenSSL to ship or to keep current.
  # Only the protocols the tool uses (HTTP, HTTPS, FTP) are built in.
  logged "$log" cmake -S src -B build -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$PREFIX" \
    -DBUILD_SHARED_LIBS=OFF -DCURL_STATICLIB=ON -DBUILD_CURL_EXE=ON -DBUILD_TESTING=OFF \
    -DENABLE_MANUAL=OFF -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_USE_LIBSSH2=OFF \
    -DCURL_USE_LIBPSL=OFF -DUSE_LIBIDN2=OFF -DUSE_NGHTTP2=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF \
    -DCURL_ZLIB=ON -DENABLE_UNICODE=OFF \
    -DCURL_DISABLE_LDAP=ON -DCURL_DISABLE_LDAPS=ON -DCURL_DISABLE_DICT=ON \
    -DCURL_DISABLE_GOPHER=ON -DCURL_DISABLE_IMAP=ON -DCURL_DISABLE_MQTT=ON \
    -DCURL_DISABLE_POP3=ON -DCURL_DISABLE_RTSP=ON -DCURL_DISABLE_SMB=ON \
    -DCURL_DISABLE_SMTP=ON -DCURL_DISABLE_TELNET=ON -DCURL_DISABLE_TFTP=ON
  logged "$log" cmake --build build -j"$JOBS"
  logged "$log" cmake --install build
}

# Info-ZIP's own gcc makefiles for Win32. Two of their names collide with the
# Windows headers (zip's CR, unzip's __G); including windows.h first lets the
# Windows definitions come first, and Info-ZIP's own then win.
build_zip() {
  local log="$1"
  fetch_source zip
  logged "$log" make -C src -f win32/makefile.gcc zip.exe CC="$HOST-gcc-posix" RC="$HOST-windres" \
    LOC="-DNO_ASM -include windows.h" OBJA= CRCA_O= CRCAUO= LDFLAGS="-o\$@ -s -static"
  install -m 0755 src/zip.exe "$PREFIX/bin/zip.exe"
}

build_unzip() {
  local log="$1"
  fetch_source unzip
  logged "$log" make -C src -f win32/Makefile.gcc unzip.exe CC="$HOST-gcc-posix" AR="$HOST-gcc-ar-posix" \
    RC="$HOST-windres" NOASM=1 CC_CPU_OPT=-mtune=generic LOCAL_UNZIP="-include windows.h" \
    LD_RELEASE_OPT="-s -static"
  install -m 0755 src/unzip.exe "$PREFIX/bin/unzip.exe"
}

build_googletest() {
  local log="$1"
  logged "$log" cmake -S /usr/src/googletest -B build -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$PREFIX" -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON
  logged "$log" cmake --build build -j"$JOBS"
  logged "$log" cmake --install build
}

build_simpleini() {
  install -m 0644 /usr/include/SimpleIni.h "$PREFIX/include/SimpleIni.h"
}

build_wxwidgets() {
  local log="$1"
  fetch_source wxwidgets3.2
  mkdir build
  # The window needs core, base and html; everything else stays out, which
  # also keeps the long build short. zlib comes from libz-mingw-w64-dev.
  (cd build && logged "$log" ../src/configure --host=$HOST --build="$(dpkg-architecture -qDEB_BUILD_GNU_TYPE)" \
    CC="$HOST-gcc-posix" CXX="$HOST-g++-posix" \
    --prefix="$PREFIX" --with-msw --disable-shared --disable-debug_flag \
    --with-zlib=sys --without-libpng --without-libjpeg --without-libtiff --without-expat \
    --without-liblzma --without-regex --without-opengl --without-libcurl \
    --disable-xrc --disable-richtext --disable-stc --disable-aui --disable-ribbon \
    --disable-propgrid --disable-mediactrl --disable-webview --disable-webrequest \
    --disable-sound --disable-joystick --disable-svg \
    && logged "$log" make -j"$JOBS" && logged "$log" make install)
}

ensure_deb_src
build_piece sqlite "$(source_version sqlite3)" build_sqlite
build_piece curl "$(source_version curl)" build_curl 2
build_piece googletest "$(dpkg-query -W -f='${Version}' googletest)" build_googletest
build_piece simpleini "$(dpkg-query -W -f='${Version}' libsimpleini-dev)" build_simpleini
build_piece zip "$(source_version zip)" build_zip
build_piece unzip "$(source_version unzip)" build_unzip
build_piece wxwidgets "$(source_version wxwidgets3.2)" build_wxwidgets
say "Fremdbibliotheken bereit in $PREFIX"
[ "$THIRD_PARTY_ONLY" -eq 1 ] && exit 0

# --- 3. The project ----------------------------------------------------------
mkdir -p "$BUILD"
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DKELVANOR_WIN64_PREFIX="$PREFIX" \
    -DCMAKE_BUILD_TYPE=Release >"$BUILD/configure.log" 2>&1 ||
    { tail -30 "$BUILD/configure.log" >&2; die "CMake ist fehlgeschlagen (Protokoll: $BUILD/configure.log)"; }
fi
say "baue nach $BUILD (Protokoll: $BUILD/build.log)"
if ! cmake --build "$BUILD" -j"$JOBS" >"$BUILD/build.log" 2>&1; then
  grep -E "error|Error" "$BUILD/build.log" | head -40 >&2
  die "der Build ist fehlgeschlagen; das ganze Protokoll steht in $BUILD/build.log"
fi

# --- 4. Package and installer ------------------------------------------------
VERSION="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")"
PACKAGE="$BUILD/package"
rm -rf "$PACKAGE" "$BUILD/setup-helper"
mkdir -p "$PACKAGE" "$BUILD/setup-helper"
install -m 0755 "$BUILD/Kelvanor.exe" "$BUILD/kelvanor-cli.exe" "$PACKAGE/"
$HOST-strip --strip-unneeded "$PACKAGE/Kelvanor.exe" "$PACKAGE/kelvanor-cli.exe"
install -m 0755 "$PREFIX/bin/curl.exe" "$PREFIX/bin/zip.exe" "$PREFIX/bin/unzip.exe" "$PACKAGE/"
$HOST-strip --strip-unneeded "$PACKAGE/curl.exe"
# Not installed: the setup carries it for its finish page.
install -m 0755 "$BUILD/start_as_user.exe" "$BUILD/setup-helper/"
$HOST-strip --strip-unneeded "$BUILD/setup-helper/start_as_user.exe"
# Nothing but Windows' own DLLs: a program that needs another one would not
# start on a user's PC (Wine might still find it on this machine).
for exe in "$PACKAGE"/*.exe "$BUILD/setup-helper/start_as_user.exe"; do
  for dll in $($HOST-objdump -p "$exe" | awk '/DLL Name:/ {print tolower($3)}'); do
    case "$dll" in
      advapi32.dll|bcrypt.dll|comctl32.dll|comdlg32.dll|crypt32.dll|gdi32.dll|kernel32.dll|msvcrt.dll|\
      ole32.dll|oleacc.dll|oleaut32.dll|shell32.dll|shlwapi.dll|user32.dll|uxtheme.dll|version.dll|\
      winspool.drv|ws2_32.dll|secur32.dll|normaliz.dll|iphlpapi.dll|wldap32.dll|rpcrt4.dll|winmm.dll|\
      wintrust.dll) ;;
      *) die "$(basename "$exe") braucht $dll, das Windows nicht mitbringt" ;;
    esac
  done
done
# Notepad wants CRLF; the text is Windows-1252 like everything else.
sed "s/@VERSION@/$VERSION/; s/\$/\r/" "$ROOT/packaging/windows/LIESMICH.txt" |
  iconv -f UTF-8 -t WINDOWS-1252 >"$PACKAGE/LIESMICH.txt"
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$VERSION" -DPACKAGE_DIR="$PACKAGE" \
  -DSTART_AS_USER="$BUILD/setup-helper/start_as_user.exe" \
  -DOUTFILE="$BUILD/Kelvanor-$VERSION-setup.exe" "$ROOT/packaging/windows/installer.nsi" >"$BUILD/makensis.log" 2>&1 ||
  { tail -30 "$BUILD/makensis.log" >&2; die "makensis ist fehlgeschlagen (Protokoll: $BUILD/makensis.log)"; }
say "Paket: $PACKAGE"
say "Installationsprogramm: $BUILD/Kelvanor-$VERSION-setup.exe"
