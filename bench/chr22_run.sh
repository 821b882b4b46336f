#!/usr/bin/env bash
# The whole example chr22 through the workflow, measured: every SNP the
# import keeps, all genes, the example's covariates and the inverse-normal
# transform, the correlation scores alone (scores: [trend, het]), shards of
# 2,000 SNPs, the local profile. Prints the wall and CPU time, the largest
# memory of one process, the largest disk use of OUTDIR (sampled every 10
# s), the tests per run and the hits of each family.
#
# Usage: [BIN=DIR] [SHARD_SNPS=N] bench/chr22_run.sh OUTDIR PERMUTATIONS [all|cis]
# Builds nothing: run tools/test.sh or the demo first (build/ is used), or
# set BIN to a folder with copies of zirk-import, zirk-corr and zirk-report
# and zirk-report's figure script (report/zirk_report.py, which it looks for
# beside itself), so that a build during the run changes nothing in it.
# SHARD_SNPS (default 2000) sets the shard size: every shard summary stays
# on disk (about 90 MB each here), so 20 runs of 37 shards take 67 GB.
set -euo pipefail
if [[ $# -lt 2 || $# -gt 3 ]]; then
  echo "Usage: $0 OUTDIR PERMUTATIONS [all|cis]" >&2
  exit 1
fi
cd "$(dirname "$0")/.."
out=$(realpath -m "$1")
permutations=$2
pairs=${3:-all}
for f in zirk-import zirk-corr zirk-report zirk_report.py; do
  if [[ -n ${BIN:-} && ! -e $BIN/$f ]]; then
    echo "Error: $BIN/$f: not found (BIN must hold the programs and the figure script)" >&2
    exit 1
  fi
done
data=out/example-data
tools/example-data.sh "$data"
mkdir -p "$out"

peak_disk() {
  local peak=0 now
  while :; do
    now=$(du -sk "$out" 2>/dev/null | cut -f1)
    ((now > peak)) && peak=$now && echo "$peak" >"$out/.peak_disk_kb"
    sleep 10
  done
}
peak_disk &
sampler=$!
trap 'kill $sampler 2>/dev/null || true' EXIT

/usr/bin/time -o "$out/.time" -f '%e %U %S %M' \
  snakemake -s workflow/Snakefile --profile workflow/profiles/local \
  --config vcf="$PWD/$data/genotypes.chr22.vcf.gz" \
  expression="$PWD/$data/genes.50percent.chr22.bed.gz" \
  covariates="$PWD/$data/genes.covariates.pc50.txt.gz" \
  pseudocount=0.01 'scores=[trend,het]' pairs="$pairs" \
  shard_snps="${SHARD_SNPS:-2000}" \
  permutations="$permutations" outdir="$out" ${BIN:+bin="$(realpath "$BIN")"} \
  >"$out/.workflow.log" 2>&1
kill $sampler 2>/dev/null || true

read -r wall user sys rss <"$out/.time"
python3 - "$out" "$wall" "$user" "$sys" "$rss" "$(cat "$out/.peak_disk_kb")" <<'PY'
import json, sys
out, wall, user, sys_, rss, disk = sys.argv[1:]
summary = json.load(open(f"{out}/report/summary.json"))
print(f"wall {float(wall):.0f} s, CPU {float(user) + float(sys_):.0f} s, "
      f"largest process {int(rss) / 1024:.0f} MB, disk at most {int(disk) / 1024**2:.1f} GB")
for name, family in summary["families"].items():
    print(f"{name}: {family['family_size']} tests per run "
          f"({family['undefined_rows']} without a value), {family['hits']} hits")
PY
