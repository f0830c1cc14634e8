#!/bin/bash
# Queues a sweep as a job array of N shards and the merge after it:
#   examples/slurm/submit.sh [N] [sbatch options for the merge, e.g. --wait]
# The merge runs only if every shard succeeded (afterok); if one failed, it is
# cancelled (--kill-on-invalid-dep) and the shards' files stay for --resume.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
n=${1:-8}
shift || true
array=$(sbatch --parsable --array=1-"$n" "$here/sweep-array.sbatch")
array=${array%%;*}
echo "shards: job $array" >&2
sbatch --parsable --dependency=afterok:"$array" --kill-on-invalid-dep=yes "$@" \
    "$here/merge.sbatch"
