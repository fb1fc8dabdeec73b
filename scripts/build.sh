#!/usr/bin/env bash
# Configures and builds everything into build/ (or $KELVANOR_BUILD_DIR).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${KELVANOR_BUILD_DIR:-$ROOT/build}"
"$ROOT/scripts/install-deps.sh"
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
echo "Baue nach $BUILD (Protokoll: $BUILD/build.log) ..."
if ! cmake --build "$BUILD" -j"$(nproc)" >"$BUILD/build.log" 2>&1; then
  grep -E "error|Error" "$BUILD/build.log" | head -40
  echo "Der Build ist fehlgeschlagen; das ganze Protokoll steht in $BUILD/build.log." >&2
  exit 1
fi
