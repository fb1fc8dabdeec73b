#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need, but
# only when something is missing (so a prepared machine starts at once).
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libsqlite3-dev sqlite3
  libcurl4-openssl-dev curl openssl ca-certificates
  zlib1g-dev
  libsimpleini-dev
  libwxgtk3.2-dev libx11-dev
  zip unzip
  python3 python3-pyftpdlib python3-openssl
  xvfb xauth imagemagick openbox x11-utils
  time
  valgrind
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installiere fehlende Pakete: ${missing[*]}" >&2
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
