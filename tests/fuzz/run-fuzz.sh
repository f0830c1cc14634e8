#!/usr/bin/env bash
# Runs the BMP reader's, the town reader's and the OpenStreetMap importer's
# fuzzers for a bounded time each.
# Builds nothing: build first with
#   cmake --preset fuzz && cmake --build --preset fuzz
# Usage: tests/fuzz/run-fuzz.sh [seconds] [fuzzer binary]
#   seconds        fuzzing time of each fuzzer (default 40)
#   fuzzer binary  only this one (its corpus: corpus/ for fuzz_read_bmp,
#                  town-corpus/ for fuzz_parse_town, osm-corpus/ and the
#                  dictionary osm.dict for fuzz_import_osm), or $MAROVEL_FUZZER
# The committed corpus is only read; new inputs go to a scratch folder that is
# removed afterwards. A finding is saved in the current folder as crash-*, leak-*,
# timeout-* or oom-* and the script exits non-zero.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
seconds="${1:-40}"
fuzzers=("${2:-${MAROVEL_FUZZER:-}}")
if [[ -z "${fuzzers[0]}" ]]; then
  fuzzers=("$root/build/fuzz/tests/fuzz/fuzz_read_bmp" "$root/build/fuzz/tests/fuzz/fuzz_parse_town"
           "$root/build/fuzz/tests/fuzz/fuzz_import_osm")
fi

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

for fuzzer in "${fuzzers[@]}"; do
  if [[ ! -x "$fuzzer" ]]; then
    echo "run-fuzz.sh: no fuzzer at $fuzzer; build the fuzz preset first" >&2
    exit 2
  fi
  corpus="$here/corpus"
  extra=()
  case "$(basename "$fuzzer")" in
    fuzz_parse_town) corpus="$here/town-corpus" ;;
    fuzz_import_osm) corpus="$here/osm-corpus"; extra=(-dict="$here/osm.dict" -max_len=131072) ;;
  esac
  work="$(mktemp -d)"
  # -rss_limit_mb: no input may make a reader take more memory than this.
  "$fuzzer" "$work" "$corpus" "${extra[@]}" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 -print_final_stats=1 || {
    rm -rf "$work"
    exit 1
  }
  rm -rf "$work"
done
