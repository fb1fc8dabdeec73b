#!/usr/bin/env bash
# Builds the import fuzz target with clang (libFuzzer, AddressSanitizer,
# UBSan) into build-fuzz/ and runs it for a while.
#
#   scripts/fuzz.sh [SECONDS]     default 60
#
# KELVANOR_FUZZ_SEED fixes libFuzzer's random seed (the test script sets
# one, so a CI run is repeatable).
#
# New inputs go to build-fuzz/corpus (seeded from fuzz/corpus, which stays as
# it is); a finding is written to build-fuzz/findings/ and ends the run with
# status 1.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${KELVANOR_FUZZ_BUILD_DIR:-$ROOT/build-fuzz}"
SECONDS_TO_RUN="${1:-60}"
case "$SECONDS_TO_RUN" in
  ''|*[!0-9]*) echo "usage: scripts/fuzz.sh [SECONDS]" >&2; exit 2 ;;
esac

if ! command -v clang++ >/dev/null || ! compgen -G "/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" >/dev/null; then
  echo "fuzz.sh: installing clang and its runtime libraries" >&2
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get install -y clang libclang-rt-14-dev >/dev/null
fi

if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKELVANOR_FUZZ=ON -DKELVANOR_WITH_GUI=OFF -DKELVANOR_WITH_TESTS=OFF >/dev/null
fi
cmake --build "$BUILD" -j2 --target fuzz_import >/dev/null

mkdir -p "$BUILD/corpus" "$BUILD/findings"
echo "fuzz.sh: running fuzz_import for ${SECONDS_TO_RUN}s" >&2
"$BUILD/fuzz/fuzz_import" "$BUILD/corpus" "$ROOT/fuzz/corpus" \
  -dict="$ROOT/fuzz/import.dict" -max_total_time="$SECONDS_TO_RUN" -max_len=8192 -timeout=20 -rss_limit_mb=2048 \
  -artifact_prefix="$BUILD/findings/" -print_final_stats=1 \
  ${KELVANOR_FUZZ_SEED:+-seed="$KELVANOR_FUZZ_SEED"}
