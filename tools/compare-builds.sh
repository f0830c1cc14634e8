#!/usr/bin/env bash
# Runs the same scenarios with several builds of marovel-sim and checks that
# every build prints the same fingerprint on every tick.
#   tools/compare-builds.sh SIM_A SIM_B [SIM_C ...]
set -euo pipefail
(($# >= 2)) || { echo "usage: $0 SIM_A SIM_B [SIM ...]" >&2; exit 2; }

sims=("$@")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
for scenario in "--seed 1" "--scenario 1" "--scenario -3" "--scenario 4 --startup"; do
    for error in low moderate high; do
        args="$scenario --error $error --ticks 2000 --fingerprint"
        i=0
        for sim in "$@"; do
            "$sim" $args >"$work/$i.txt"
            i=$((i + 1))
        done
        for ((k = 1; k < ${#sims[@]}; k++)); do
            if ! cmp -s "$work/0.txt" "$work/$k.txt"; then
                echo "DIFFERENT: ${sims[0]} and ${sims[$k]} with $args" >&2
                diff <(head -c 2000 "$work/0.txt") <(head -c 2000 "$work/$k.txt") | head -5 >&2 || true
                failed=1
            fi
        done
        echo "same fingerprints on $# builds: $args ($(wc -l <"$work/0.txt") lines)"
    done
done
exit $failed
