#!/usr/bin/env bash
# Starts or stops a single-node Slurm cluster on loopback for running the
# workflow's Slurm profile on this machine: munged, slurmctld and slurmd from
# Debian's packages, with their configuration, state and logs in one folder,
# listening on two ports that were free when it started.
#
#   tools/slurm.sh start [DIR]   start it (default DIR: /tmp/zirk-slurm) and
#                                print the SLURM_CONF line to export
#   tools/slurm.sh stop [DIR]    stop the daemons started from DIR
#
# Root is needed: slurmd runs jobs as their submitting user. There is no
# accounting database, so sacct does not work; job states come from scontrol.
set -euo pipefail

action=${1:-}
dir=${2:-/tmp/zirk-slurm}
case $action in
  start | stop) ;;
  *)
    echo "usage: tools/slurm.sh start|stop [DIR]" >&2
    exit 2
    ;;
esac

stop_daemons() {
  local name pid
  for name in slurmd slurmctld munged; do
    [[ -f $dir/$name.pid ]] || continue
    pid=$(cat "$dir/$name.pid")
    if kill "$pid" 2>/dev/null; then
      for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
      done
    fi
    rm -f "$dir/$name.pid"
  done
}

if [[ $action == stop ]]; then
  stop_daemons
  exit 0
fi

if [[ $(id -u) -ne 0 ]]; then
  echo "Error: tools/slurm.sh start needs root (slurmd runs jobs as their user)" >&2
  exit 1
fi
missing=()
command -v slurmctld >/dev/null || missing+=(slurm-wlm)
command -v munged >/dev/null || missing+=(munge)
command -v ss >/dev/null || missing+=(iproute2)
if ((${#missing[@]} > 0)); then
  echo "Installing ${missing[*]}..." >&2
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >&2
fi

stop_daemons
mkdir -p "$dir"/{spool,state}
# munged runs as the munge user, which may not reach DIR (a folder made by
# mktemp is root's alone), so its files live in a folder of their own under
# /tmp, named after DIR, with a link from DIR.
munge=/tmp/zirk-munge-$(realpath -m "$dir" | md5sum | cut -c1-12)
mkdir -p "$munge"
chown munge:munge "$munge"
chmod 711 "$munge"
ln -sfn "$munge" "$dir/munge"
if [[ ! -s $munge/munge.key ]]; then
  dd if=/dev/urandom of="$munge/munge.key" bs=1024 count=1 status=none
fi
chown munge:munge "$munge/munge.key"
chmod 400 "$munge/munge.key"

# Two ports that no socket on this machine uses, so that clusters of
# several test runs (or a real Slurm) live side by side; a port taken between
# this look and the daemons' start makes the start fail below, not collide.
free_port() {
  local port
  for _ in $(seq 100); do
    port=$((20000 + RANDOM % 30000))
    if [[ $port != "${taken:-}" ]] &&
      [[ -z $(ss -Htan "( sport = :$port )") ]]; then
      echo "$port"
      return 0
    fi
  done
  echo "Error: found no free port for Slurm" >&2
  return 1
}
taken=$(free_port)
ctld_port=$taken
slurmd_port=$(free_port)

host=$(hostname -s)
cpus=$(nproc)
# Leave the operating system some memory; slurmd refuses a node that claims
# more than it has.
memory=$(awk '/MemTotal/ { print int($2 / 1024 * 0.9) }' /proc/meminfo)
cat >"$dir/slurm.conf" <<CONF
ClusterName=zirk
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
SlurmUser=root
AuthType=auth/munge
AuthInfo=socket=$munge/munge.socket
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/slurmctld.log
SlurmdLogFile=$dir/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SchedulerType=sched/backfill
SelectType=select/cons_tres
SelectTypeParameters=CR_Core_Memory
ReturnToService=2
MinJobAge=3600
NodeName=$host NodeAddr=127.0.0.1 CPUs=$cpus RealMemory=$memory State=UNKNOWN
PartitionName=main Nodes=$host Default=YES MaxTime=INFINITE State=UP
CONF

runuser -u munge -- munged --socket="$munge/munge.socket" \
  --key-file="$munge/munge.key" --pid-file="$munge/munged.pid" \
  --log-file="$munge/munged.log" --seed-file="$munge/munged.seed"
cp "$munge/munged.pid" "$dir/munged.pid"
export SLURM_CONF=$dir/slurm.conf
slurmctld -f "$SLURM_CONF"
slurmd -f "$SLURM_CONF"

# The node registers within a few seconds; a job submitted before that waits.
for _ in $(seq 100); do
  if sinfo -h -N -o '%T' 2>/dev/null | grep -qE '^(idle|mixed|allocated)'; then
    echo "export SLURM_CONF=$SLURM_CONF"
    exit 0
  fi
  sleep 0.2
done
echo "Error: the Slurm node did not come up; see $dir/slurmctld.log and $dir/slurmd.log" >&2
sinfo >&2 || true
stop_daemons
exit 1
