#!/usr/bin/env bash
# Runs the BMP reader's fuzzer for a bounded time. Builds nothing: build first with
#   cmake --preset fuzz && cmake --build --preset fuzz
# Usage: tests/fuzz/run-fuzz.sh [seconds] [fuzzer binary]
#   seconds        total fuzzing time (default 60)
#   fuzzer binary  default build/fuzz/tests/fuzz/fuzz_read_bmp, or $MAROVEL_FUZZER
# The committed corpus is only read; new inputs go to a scratch folder that is
# removed afterwards. A finding is saved in the current folder as crash-*, leak-*,
# timeout-* or oom-* and the script exits non-zero.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
seconds="${1:-60}"
fuzzer="${2:-${MAROVEL_FUZZER:-$root/build/fuzz/tests/fuzz/fuzz_read_bmp}}"

if [[ ! -x "$fuzzer" ]]; then
  echo "run-fuzz.sh: no fuzzer at $fuzzer; build the fuzz preset first" >&2
  exit 2
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

# -rss_limit_mb: no input may make the reader take more memory than this.
"$fuzzer" "$work" "$here/corpus" \
  -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 -print_final_stats=1
