#!/bin/bash
# A one-machine Slurm cluster of the test's own: munged, slurmctld and slurmd
# on this machine, their configuration, keys, state and logs in a scratch
# folder, all stopped and removed at the end whatever happens. It queues
# examples/slurm (a job array of shards, then the merge with
# --dependency=afterok) with sbatch --wait and checks that the merged files
# and table are byte for byte those of the same sweep run in one process.
# Where the daemons cannot start, the test says why and exits 77 (skipped).
#
#   slurm_test.sh MAROVEL_SIM SOURCE_DIR
set -uo pipefail
sim=$(realpath "$1")
source_dir=$(realpath "$2")
SKIP=77

skip() {
    echo "SKIPPED: $*"
    exit $SKIP
}
for tool in munged slurmctld slurmd sbatch sinfo scontrol; do
    command -v "$tool" > /dev/null || skip "$tool not installed (Debian packages munge, slurm-wlm)"
done

scratch=$(mktemp -d /tmp/marovel-slurm-XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null; done
    for pid in "${pids[@]}"; do
        for _ in $(seq 50); do kill -0 "$pid" 2> /dev/null || break; sleep 0.1; done
        kill -9 "$pid" 2> /dev/null
    done
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

show_logs() {
    for log in "$scratch"/*.log; do
        echo "--- $log"
        tail -n 20 "$log"
    done
}

# munge: a key of our own and a socket in the scratch folder.
mkdir -p "$scratch"/{munge,state,spool,work}
chmod 711 "$scratch/munge"
dd if=/dev/urandom of="$scratch/munge/key" bs=1024 count=1 status=none
chmod 400 "$scratch/munge/key"
socket=$scratch/munge/socket
munged --foreground --force --key-file="$scratch/munge/key" --socket="$socket" \
    --pid-file="$scratch/munge/pid" --seed-file="$scratch/munge/seed" \
    --log-file="$scratch/munged.log" > "$scratch/munged.out" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -S "$socket" ] && break; sleep 0.1; done
[ -S "$socket" ] || { show_logs; skip "munged did not start"; }

node=$(hostname -s)
port=$((20000 + RANDOM % 20000))
user=$(id -un)
cpus=$(nproc)
export SLURM_CONF=$scratch/slurm.conf
cat > "$SLURM_CONF" << CONF
ClusterName=marovel-test
SlurmctldHost=$node(127.0.0.1)
SlurmctldPort=$port
SlurmdPort=$((port + 1))
SlurmUser=$user
SlurmdUser=$user
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$socket
StateSaveLocation=$scratch/state
SlurmdSpoolDir=$scratch/spool
SlurmctldPidFile=$scratch/slurmctld.pid
SlurmdPidFile=$scratch/slurmd.pid
SlurmctldLogFile=$scratch/slurmctld.log
SlurmdLogFile=$scratch/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SwitchType=switch/none
MpiDefault=none
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
ReturnToService=2
JobCompType=jobcomp/none
AccountingStorageType=accounting_storage/none
JobAcctGatherType=jobacct_gather/none
NodeName=$node NodeAddr=127.0.0.1 CPUs=$cpus State=UNKNOWN
PartitionName=test Nodes=$node Default=YES MaxTime=INFINITE State=UP
CONF

slurmctld -D -f "$SLURM_CONF" > "$scratch/slurmctld.out" 2>&1 &
pids+=($!)
slurmd -D -N "$node" -f "$SLURM_CONF" > "$scratch/slurmd.out" 2>&1 &
pids+=($!)
ready=
for _ in $(seq 100); do
    state=$(sinfo -h -N -o %t 2> /dev/null | head -n 1)
    case $state in idle*) ready=1; break ;; esac
    sleep 0.2
done
if [ -z "$ready" ]; then
    show_logs
    cat "$scratch"/*.out
    skip "the Slurm daemons did not come up (node state: ${state:-none})"
fi

# The example, as a user submits it: 3 shards of a small sweep, then the merge.
cd "$scratch/work"
export MAROVEL_SIM=$sim SWEEP="--scenarios 0..9 --errors low,high --ticks 300 --every 7"
export PARTS=parts RESULTS=results
if ! "$source_dir/examples/slurm/submit.sh" 3 --wait > submit.out 2>&1; then
    cat submit.out slurm-*.out 2> /dev/null
    show_logs
    echo "FAILED: the jobs did not succeed"
    exit 1
fi

# The same sweep in one process.
mkdir one
# shellcheck disable=SC2086
"$sim" sweep $SWEEP --curves one/curves.csv --summary one/summary.csv > one/table.txt
status=0
for f in curves.csv summary.csv table.txt; do
    cmp "one/$f" "results/$f" || status=1
done
# Each task took its own shard from the array's variables.
for i in 1 2 3; do
    grep -qx "# shard $i/3" "parts/summary-$i.csv" || { echo "parts/summary-$i.csv: no shard $i/3 line"; status=1; }
done
[ $status = 0 ] && echo "merged files equal the one-process sweep"
exit $status
