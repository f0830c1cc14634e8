#!/bin/bash
# The README's GNU parallel recipe: a sweep's shards as parallel jobs with a
# job log; one job fails on its first try, `parallel --resume-failed` runs
# only that one again, and the merged files and table are byte for byte those
# of the same sweep run in one process. Exits 77 (skipped) without parallel.
#
#   parallel_test.sh MAROVEL_SIM
set -uo pipefail
sim=$(realpath "$1")
command -v parallel > /dev/null || { echo "SKIPPED: GNU parallel not installed (Debian package parallel)"; exit 77; }
scratch=$(mktemp -d /tmp/marovel-parallel-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
sweep="--scenarios 0..9 --errors low,moderate --ticks 250 --every 11"
# The job of shard 3 fails until the file "fixed" exists, as a job on a
# machine that went down would.
job="[ {} != 3 ] || [ -e fixed ] || exit 1; '$sim' sweep $sweep --threads 1 --shard {}/4 --resume \
    --curves part-{}.csv --summary part-{}-summary.csv > part-{}-table.txt"
if parallel --will-cite --joblog jobs.log -j 2 "$job" ::: 1 2 3 4; then
    echo "FAILED: the failing job went unnoticed"; exit 1
fi
touch fixed
parallel --will-cite --joblog jobs.log --resume-failed -j 2 "$job" ::: 1 2 3 4 || { echo "FAILED: resumed jobs"; cat jobs.log; exit 1; }
# Each shard ran once but the third, which ran twice: failed, then succeeded.
# (The log's 7th column is the exit status; the command ends in its table file.)
runs=$(awk 'NR > 1 { n[$NF" exit "$7]++ } END { for (k in n) print k, n[k] }' jobs.log | sort | tr '\n' ';')
expected="part-1-table.txt exit 0 1;part-2-table.txt exit 0 1;part-3-table.txt exit 0 1;"
expected+="part-3-table.txt exit 1 1;part-4-table.txt exit 0 1;"
[ "$runs" = "$expected" ] || { echo "FAILED: job log: $runs"; exit 1; }
"$sim" merge part-*.csv --curves curves.csv --summary summary.csv > table.txt || exit 1
mkdir one
# shellcheck disable=SC2086
"$sim" sweep $sweep --curves one/curves.csv --summary one/summary.csv > one/table.txt
status=0
for f in curves.csv summary.csv table.txt; do cmp "one/$f" "$f" || status=1; done
[ $status = 0 ] && echo "merged files equal the one-process sweep"
exit $status
