#!/bin/sh
# Start-up and per-run cost of marovel-sim, side by side with another build
# (for instance one made before a change) and with /bin/true, the floor of
# starting any process on this machine.
#
#   bench/startup.sh [BUILT-SIM [OTHER-SIM]]
#
# BUILT-SIM defaults to build/release/cli/marovel-sim. Needs hyperfine.
set -eu
sim=${1:-build/release/cli/marovel-sim}
other=${2:-}
command -v hyperfine >/dev/null || { echo "startup.sh: hyperfine is not installed" >&2; exit 1; }
[ -x "$sim" ] || { echo "startup.sh: no program at $sim (build the release preset)" >&2; exit 1; }

echo "== one-tick run: start-up"
set -- /bin/true "$sim --ticks 1"
[ -n "$other" ] && set -- "$@" "$other --ticks 1"
hyperfine -N --warmup 30 --runs 500 "$@"

echo "== one 2000-tick run, and a 64-run sweep on one thread (per run: divide by 64)"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
set -- "$sim --ticks 2000" \
  "$sim sweep --scenarios 0..63 --errors low --ticks 2000 --threads 1 --summary $scratch/a.csv"
[ -n "$other" ] && set -- "$@" "$other --ticks 2000"
hyperfine -N --warmup 2 --runs 10 "$@"
