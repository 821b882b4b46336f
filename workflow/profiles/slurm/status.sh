#!/usr/bin/env bash
# Snakemake's cluster status command: prints running, success or failed for
# a Slurm job ID. Uses scontrol, which needs no accounting database; a job
# that Slurm has already forgotten is asked of sacct where accounting exists,
# and otherwise counts as finished, so that Snakemake's own check of the
# job's outputs decides.
set -uo pipefail
job=$1
state=$(scontrol show job "$job" 2>/dev/null | grep -o 'JobState=[A-Z_]*' | cut -d= -f2)
if [[ -z $state ]] && command -v sacct >/dev/null; then
  state=$(sacct -n -X -P -j "$job" -o State 2>/dev/null | head -n 1 | cut -d' ' -f1)
fi
case $state in
  COMPLETED | "") echo success ;;
  PENDING | RUNNING | CONFIGURING | COMPLETING | SUSPENDED | REQUEUED | RESIZING | STAGE_OUT)
    echo running ;;
  *) echo failed ;;
esac
