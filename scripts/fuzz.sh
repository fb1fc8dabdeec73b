#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UBSan)
# into build-fuzz/ and runs them for a while, one after the other:
#   import   fuzz_import: change files read and imported as a whole
#   archive  fuzz_download_archive: the download archive's check before unzip
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]     default 60 seconds, each target
#
# KELVANOR_FUZZ_SEED fixes libFuzzer's random seed (the test script sets
# one, so a CI run is repeatable). KELVANOR_FUZZ_UNZIP=1 has the archive
# target also unpack every archive the check lets through with unzip and
# compare (slow; for a long run by hand).
#
# New inputs go to build-fuzz/corpus (import) and build-fuzz/corpus-archive,
# seeded from fuzz/corpus and fuzz/corpus_archive, which stay as they are; a
# finding is written to build-fuzz/findings/ and ends the run with status 1.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${KELVANOR_FUZZ_BUILD_DIR:-$ROOT/build-fuzz}"
SECONDS_TO_RUN="${1:-60}"
case "$SECONDS_TO_RUN" in
  ''|*[!0-9]*) echo "usage: scripts/fuzz.sh [SECONDS] [import|archive]..." >&2; exit 2 ;;
esac
shift $(( $# > 0 ? 1 : 0 ))
TARGETS=("$@")
[ ${#TARGETS[@]} -eq 0 ] && TARGETS=(import archive)
for target in "${TARGETS[@]}"; do
  case "$target" in
    import|archive) ;;
    *) echo "usage: scripts/fuzz.sh [SECONDS] [import|archive]..." >&2; exit 2 ;;
  esac
done

if ! command -v clang++ >/dev/null || ! compgen -G "/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" >/dev/null; then
  echo "fuzz.sh: installing clang and its runtime libraries" >&2
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get install -y clang libclang-rt-14-dev >/dev/null
fi

if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKELVANOR_FUZZ=ON -DKELVANOR_WITH_GUI=OFF -DKELVANOR_WITH_TESTS=OFF >/dev/null
fi
BINARIES=()
for target in "${TARGETS[@]}"; do
  case "$target" in
    import) BINARIES+=(fuzz_import) ;;
    archive) BINARIES+=(fuzz_download_archive) ;;
  esac
done
cmake --build "$BUILD" -j2 --target "${BINARIES[@]}" >/dev/null

mkdir -p "$BUILD/findings"
for target in "${TARGETS[@]}"; do
  case "$target" in
    import)
      mkdir -p "$BUILD/corpus"
      echo "fuzz.sh: running fuzz_import for ${SECONDS_TO_RUN}s" >&2
      "$BUILD/fuzz/fuzz_import" "$BUILD/corpus" "$ROOT/fuzz/corpus" \
        -dict="$ROOT/fuzz/import.dict" -max_total_time="$SECONDS_TO_RUN" -max_len=8192 -timeout=20 -rss_limit_mb=2048 \
        -artifact_prefix="$BUILD/findings/" -print_final_stats=1 \
        ${KELVANOR_FUZZ_SEED:+-seed="$KELVANOR_FUZZ_SEED"}
      ;;
    archive)
      # An entry may unpack to 16 MB (and all of them to 64 MB) in memory
      # while it is counted: a few seconds at most, far below the timeout.
      mkdir -p "$BUILD/corpus-archive"
      echo "fuzz.sh: running fuzz_download_archive for ${SECONDS_TO_RUN}s" >&2
      "$BUILD/fuzz/fuzz_download_archive" "$BUILD/corpus-archive" "$ROOT/fuzz/corpus_archive" \
        -dict="$ROOT/fuzz/archive.dict" -max_total_time="$SECONDS_TO_RUN" -max_len=16384 -timeout=20 -rss_limit_mb=2048 \
        -artifact_prefix="$BUILD/findings/archive-" -print_final_stats=1 \
        ${KELVANOR_FUZZ_SEED:+-seed="$KELVANOR_FUZZ_SEED"}
      ;;
  esac
done
