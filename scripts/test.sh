#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (the window tests
# under a private Xvfb), then the benchmarks at their tiny CI size, then the
# Windows build and its tests under Wine (scripts/test-windows.sh).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${KELVANOR_BUILD_DIR:-$ROOT/build}"
"$ROOT/scripts/build.sh"

XVFB_PID=""
WM_PID=""
# The suite's own folder for temporary files, open to everyone like /tmp
# (some tests run the tool as "nobody"). A test run leaves no folder of the
# tool's behind in it, killed runs included: each start removes what killed
# runs left (kelvanor-curl-*, see src/settings/settings.h).
SUITE_TMP="$(mktemp -d "${TMPDIR:-/tmp}/kelvanor-suite-XXXXXX")"
# Open to every user like /tmp itself: a test runs the CLI as another user
# (nobody) to see a write-protected database refused.
chmod 1777 "$SUITE_TMP"
cleanup() {
  [ -n "$WM_PID" ] && kill "$WM_PID" 2>/dev/null || true
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
  rm -rf "$SUITE_TMP"
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ] && command -v Xvfb >/dev/null; then
  for n in $(seq 91 120); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
      Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
      XVFB_PID=$!
      export DISPLAY=":$n"
      sleep 1
      break
    fi
  done
  # A window manager moves the focus as on a desktop: the window tests see
  # what closing a box really does to the window.
  if [ -n "$XVFB_PID" ] && command -v openbox >/dev/null; then
    openbox --sm-disable >/dev/null 2>&1 &
    WM_PID=$!
    sleep 1
  fi
fi

cd "$BUILD"
TMPDIR="$SUITE_TMP" ctest --output-on-failure -j2 --timeout 600
LEFT="$(find "$SUITE_TMP" -maxdepth 1 -name 'kelvanor-curl-*' | wc -l)"
if [ "$LEFT" -ne 0 ]; then
  echo "Die Tests haben $LEFT Ordner kelvanor-curl-* im temporären Verzeichnis hinterlassen:" >&2
  find "$SUITE_TMP" -maxdepth 1 -name 'kelvanor-curl-*' >&2
  exit 1
fi

# Short fuzzing runs of the import and of the download archive's check
# where clang is there to build them.
if command -v clang++ >/dev/null; then
  for run in "import 30 fuzz.log" "archive 20 fuzz-archive.log"; do
    read -r target seconds log <<<"$run"
    echo "== Fuzzing: $target ($seconds s; log: $BUILD/$log) =="
    if ! KELVANOR_FUZZ_SEED=20261208 "$ROOT/scripts/fuzz.sh" "$seconds" "$target" >"$BUILD/$log" 2>&1; then
      tail -40 "$BUILD/$log"
      echo "Der Fuzzer hat einen Fehler gefunden (siehe $BUILD/$log)." >&2
      exit 1
    fi
    grep -E "^stat::number_of_executed_units|Done [0-9]+ runs" "$BUILD/$log" | tail -2
  done
fi

if [ -x "$ROOT/bench/run" ]; then
  echo "== Benchmarks (tiny size) =="
  "$ROOT/bench/run" --tiny
fi

echo "== Windows: Cross-Build, Paket, Installationsprogramm und Tests unter Wine =="
"$ROOT/scripts/test-windows.sh"
