#!/usr/bin/env bash
# The workflow on a region of the real example data, against one zirk run
# over the same imported folder: sharded runs must give the same rows and
# the same report byte for byte, also after a shard was killed, through the
# Slurm profile and from an installed copy; a failing shard must stop the
# workflow with its own error. These cases turn zirk-corr off; the corr case
# runs it beside zirk and compares with single runs of both programs.
#
#   workflow_test.sh CASE BUILD_DIR SOURCE_DIR
#   CASE: sharded | restart | failing | installed | slurm | corr
set -euo pipefail
case_name=$1
build=$(realpath "$2")
source=$(realpath "$3")
work=$build/workflow-test/$case_name
rm -rf "$work"
mkdir -p "$work"
cd "$work"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

data=$build/example-data
"$source/tools/example-data.sh" "$data" >/dev/null
# About forty SNPs that pass the class-size filter, against twelve genes.
zcat "$data/genes.50percent.chr22.bed.gz" | awk 'NR > 1 && NR <= 13 { print $4 }' >genes.txt
config=(vcf="$data/genotypes.chr22.vcf.gz" expression="$data/genes.50percent.chr22.bed.gz"
  region=chr22:30000000-30100000 genes="$work/genes.txt" threshold=0.05 corr=false)

# snakemake with the given profile and config; its output goes to a log,
# shown when it fails.
workflow() {
  local profile=$1 log=$2
  shift 2
  snakemake -s "${snakefile:-$source/workflow/Snakefile}" \
    --profile "$source/workflow/profiles/$profile" --cores 2 \
    --config "${config[@]}" "$@" >"$log" 2>&1
}

# The reference: one zirk run over the imported folder of a workflow run.
single_run() {
  local out=$1
  echo 0.05 | "$build/zirk" -g "$out/data/geno.txt" -e "$out/data/expr.txt" \
    -a "$out/data/allele.txt" -o single.txt >/dev/null
}

# The workflow's merged rows equal the single run's, and its report the
# report of the single run's file with the same data folder. Only the
# record of input paths, and Snakemake's own stamp, may differ.
same_as_single() {
  local out=$1
  zstd -dc "$out/results.txt.zst" | cmp - single.txt ||
    fail "$out: merged rows differ from the single run"
  rm -rf single-report
  "$build/report/zirk-report" --data "$out/data" --out single-report single.txt
  diff -r -x provenance.json -x .snakemake_timestamp "$out/report" single-report ||
    fail "$out: report differs from the single run's"
}

case $case_name in
  sharded)
    workflow local whole.log outdir=whole shard_snps=100000 keep_rows=true ||
      { cat whole.log; fail "workflow run with one shard"; }
    single_run whole
    snps=$(($(wc -l <whole/data/snps.tsv) - 1))
    ((snps >= 10)) || fail "only $snps SNPs in the test region"
    # A size that divides the SNP count, one that does not, one SNP a shard.
    divides=1
    for ((d = 2; d < snps; d++)); do
      ((snps % d == 0)) && divides=$((snps / d)) && break
    done
    for size in $divides $((snps / 2 + 1)) 1; do
      workflow local "size$size.log" outdir="size$size" shard_snps=$size keep_rows=true ||
        { cat "size$size.log"; fail "workflow run with $size SNPs a shard"; }
      same_as_single "size$size"
    done
    ;;
  restart)
    # A hundred genes and every pair to the interaction test, so that a
    # shard runs long enough to be caught.
    zcat "$data/genes.50percent.chr22.bed.gz" | awk 'NR > 1 && NR <= 101 { print $4 }' >genes.txt
    config+=(threshold=1)
    workflow local base.log outdir=base shard_snps=5 keep_rows=true --cores 1 ||
      { cat base.log; fail "first run"; }
    echo 1 | "$build/zirk" -g base/data/geno.txt -e base/data/expr.txt \
      -a base/data/allele.txt -o single.txt >/dev/null
    rm -rf base/report base/results.txt.zst base/summaries base/runs/real/2.*
    workflow local killed.log outdir=base shard_snps=5 keep_rows=true --cores 1 &
    runner=$!
    killed=0
    for _ in $(seq 600); do
      if pkill -KILL -f "zirk -g base/shards/2/geno.txt"; then
        killed=1
        break
      fi
      sleep 0.02
    done
    wait "$runner" && fail "the workflow succeeded although its shard was killed"
    ((killed)) || fail "shard 2 never ran"
    [[ ! -e base/runs/real/2.sum && ! -e base/report ]] ||
      fail "a killed shard left outputs behind"
    workflow local rerun.log outdir=base shard_snps=5 keep_rows=true --cores 1 ||
      { cat rerun.log; fail "the run after the kill"; }
    zstd -dc base/results.txt.zst | cmp - single.txt ||
      fail "rows after the restart differ from the single run"
    ;;
  failing)
    workflow local base.log outdir=base shard_snps=5 ||
      { cat base.log; fail "first run"; }
    cp -r base/report report-before
    # A genotype line of shard 1 cut short: zirk must reject the shard.
    sed -i '2s/....$//' base/shards/1/geno.txt
    if workflow local failed.log outdir=base shard_snps=5; then
      fail "the workflow succeeded on a broken shard"
    fi
    grep -q '^Error: ' failed.log || { cat failed.log; fail "no Error: line shown"; }
    diff -r report-before base/report >/dev/null || fail "the report changed after a failure"
    ;;
  installed)
    prefix=$work/prefix
    cmake --install "$build" --prefix "$prefix" >/dev/null
    for program in zirk zirk-reference zirk-import zirk-report; do
      [[ -x $prefix/bin/$program ]] || fail "$program not installed"
      man -l "$prefix/share/man/man1/$program.1" >/dev/null 2>&1 ||
        fail "no manual page for $program"
    done
    snakefile=$prefix/share/zirk/workflow/Snakefile
    PATH=/usr/bin:/bin workflow local installed.log outdir=installed shard_snps=9 keep_rows=true ||
      { cat installed.log; fail "installed workflow"; }
    single_run installed
    same_as_single installed
    ;;
  slurm)
    slurm=$work/slurm
    trap '"$source/tools/slurm.sh" stop "$slurm"' EXIT
    slurm_env=$("$source/tools/slurm.sh" start "$slurm")
    eval "$slurm_env"
    # Both runs use the output folder name out, in folders of their own, so
    # that the reports' record of the data folder is the same.
    mkdir -p local cluster
    (cd local && workflow local ../local.log outdir=out shard_snps=9 keep_rows=true) ||
      { cat local.log; fail "local run"; }
    (cd cluster && workflow slurm ../slurm.log outdir=out shard_snps=9 keep_rows=true) ||
      { cat slurm.log; fail "Slurm run"; }
    ls cluster/logs/slurm/*.out >/dev/null 2>&1 || fail "no job went through Slurm"
    cmp <(zstd -dc local/out/results.txt.zst) <(zstd -dc cluster/out/results.txt.zst) ||
      fail "Slurm and local rows differ"
    diff -r -x provenance.json -x .snakemake_timestamp local/out/report cluster/out/report ||
      fail "Slurm and local reports differ"
    ;;
  corr)
    # The data and two permuted copies through both programs, in shards
    # that do not divide the SNPs: the report, with the five best hits of
    # each family diagnosed, must be that of single runs of zirk and
    # zirk-corr over the whole imported folder.
    corr_program=""
    for candidate in "$build/zirk-corr" "$build/corr/zirk-corr"; do
      [[ -x $candidate ]] && corr_program=$candidate && break
    done
    [[ -n $corr_program ]] ||
      fail "zirk-corr is not built in $build; the workflow's corr key needs it"
    config=("${config[@]/#corr=false/corr=true}" permutations=2 top=5)
    workflow local corr.log outdir=out shard_snps=7 ||
      { cat corr.log; fail "workflow run with zirk-corr"; }
    report=$build/report/zirk-report
    nulls=()
    for run in real perm1 perm2; do
      expr=out/data/expr.txt
      [[ $run == real ]] || expr=out/data/expr.$run.txt
      echo 0.05 | "$build/zirk" -g out/data/geno.txt -e "$expr" \
        -a out/data/allele.txt -o "$run.it" >/dev/null
      "$corr_program" -g out/data/geno.txt -e "$expr" -a out/data/allele.txt \
        -o "$run.corr" || fail "zirk-corr on $expr"
      if [[ $run != real ]]; then
        "$report" --summary "$run.it.sum" "$run.it"
        "$report" --summary "$run.corr.sum" "$run.corr"
        nulls+=(--null "$run.it.sum" --null "$run.corr.sum")
      fi
    done
    "$report" --data out/data --top 5 "${nulls[@]}" --out single-report \
      real.it real.corr
    diff -r -x provenance.json -x .snakemake_timestamp out/report single-report ||
      fail "report differs from single runs of zirk and zirk-corr"
    grep -q '"families": {"trend": {"family_size": [1-9]' out/report/summary.json ||
      fail "no trend and het families in the report"
    [[ $(awk -F'\t' 'NR > 1 && $NF ~ /^(yes|no)/' out/report/hits.tsv | wc -l) == 15 ]] ||
      fail "not every family's five hits diagnosed"
    [[ -s out/report/qq_trend.png && -s out/report/qq_het.png ]] ||
      fail "no QQ plots of trend and het"
    ;;
  *)
    fail "unknown case $case_name"
    ;;
esac
echo "workflow $case_name: passed"
