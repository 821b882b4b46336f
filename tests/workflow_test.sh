#!/usr/bin/env bash
# The workflow on a region of the real example data, against one zirk run
# over the same imported folder: sharded runs must give the same rows and
# the same report byte for byte, also after a shard was killed, through the
# Slurm profile and from an installed copy; a failing shard must stop the
# workflow with its own error. Genome-wide runs over several VCFs or regions
# must give the report of one VCF holding all their SNPs, and stop on
# inputs that do not fit together with one Error: line. The first five
# cases screen the IT family alone; the corr case runs zirk-corr beside zirk
# and compares with single runs of both programs, then the trend and het
# families alone on a machine without zirk, and the IT with a pair design.
#
#   workflow_test.sh CASE BUILD_DIR SOURCE_DIR
#   CASE: sharded | restart | failing | installed | slurm | genome |
#         genome-input | corr | strata
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
  region=chr22:30000000-30100000 genes="$work/genes.txt" threshold=0.05 scores=it)

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
    # A summary that fails at once, while zirk has more rows than the pipe
    # holds: the shard must fail with the summary's error, not wait forever.
    "$build/zirk-simulate" --seed 3 --individuals 60 --snps 20 --genes 30 \
      --out sim >/dev/null
    mkdir -p shard
    status=0
    timeout 60 "$source/workflow/scripts/screen_shard.sh" --zirk "$build/zirk" \
      --report "$build/report/zirk-report" --threshold 0 --offset 0 \
      --max-hits many --log shard/log --summary shard/summary \
      sim/genotype.txt sim/expression.txt sim/allele.txt 2>shard.err || status=$?
    ((status == 1)) || fail "a failed summary ended the shard with status $status"
    grep -qx 'Error: --max-hits: not a whole number: many' shard.err ||
      { cat shard.err; fail "the summary's own error not shown"; }
    [[ -z $(ls -A shard | grep -v '^log$') ]] || fail "a failed shard left files"
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
  genome | genome-input)
    # A second chromosome made from chr22: a stretch after the test region,
    # renamed chr21. With the test region it forms the genome of one VCF
    # (chr21 first, as the runs below order them); the test region is also
    # cut in two at a position.
    echo "chr22 chr21" >rename.txt
    bcftools view -r chr22:30100001-30150000 "$data/genotypes.chr22.vcf.gz" |
      bcftools annotate --rename-chrs rename.txt -Oz -o chr21.vcf.gz
    bcftools view -r chr22:30000000-30100000 "$data/genotypes.chr22.vcf.gz" -Oz -o chr22.vcf.gz
    bcftools view -t chr22:30000000-30050000 chr22.vcf.gz -Oz -o cut1.vcf.gz
    bcftools view -t chr22:30050001-30100000 chr22.vcf.gz -Oz -o cut2.vcf.gz
    bcftools concat chr21.vcf.gz chr22.vcf.gz -Oz -o whole.vcf.gz 2>/dev/null
    bcftools index -t whole.vcf.gz
    # The region key belongs to the runs below, not to the shared config.
    config=(expression="$data/genes.50percent.chr22.bed.gz" genes="$work/genes.txt"
      threshold=0.05 top=25 keep_rows=true)
    ;;&
  genome)
    # Each run in a folder of its own under the output name out, so that the
    # reports' record of the data folder is the same.
    run_in() {  # run_in FOLDER CONFIG_YAML ARGS...
      mkdir -p "$1"
      printf '%s\n' "$2" >"$1/genome.yaml"
      (cd "$1" && workflow local ../"$1".log outdir=out "${@:3}" --configfile genome.yaml) ||
        { cat "$1".log; fail "$1: workflow run"; }
    }
    run_in whole "vcf: $work/whole.vcf.gz" shard_snps=7
    snps=$(($(wc -l <whole/out/data/snps.tsv) - 1))
    chr21=$(awk -F'\t' '$3 == "chr21"' whole/out/data/snps.tsv | wc -l)
    ((chr21 >= 5 && snps - chr21 >= 10)) || fail "$chr21 of $snps SNPs on chr21"
    run_in list "vcf: [$work/chr21.vcf.gz, $work/cut1.vcf.gz, $work/cut2.vcf.gz]" shard_snps=7
    mkdir -p by-chrom && cp chr21.vcf.gz chr22.vcf.gz by-chrom/
    run_in pattern "vcf: $work/by-chrom/{chrom}.vcf.gz" chromosomes=chr21,chr22 shard_snps=5
    printf 'chr21\t30100000\t30150000\nchr22\t29999999\t30100000\n' >regions.bed
    run_in bed "vcf: $work/whole.vcf.gz" region="$work/regions.bed" shard_snps=100000
    for run in list pattern bed; do
      cmp whole/out/data/snps.tsv $run/out/data/snps.tsv || fail "$run: merged SNP table"
      cmp <(zstd -dc whole/out/results.txt.zst) <(zstd -dc $run/out/results.txt.zst) ||
        fail "$run: rows differ from the one-VCF run"
      diff -r -x provenance.json -x .snakemake_timestamp whole/out/report $run/out/report ||
        fail "$run: report differs from the one-VCF run"
    done
    grep -qx $'chr21_30100001-30150000\t0\t'"$chr21"$'\t.*' bed/out/data/parts.tsv ||
      fail "parts of the BED run"
    [[ $(cut -f 3 whole/out/report/hits.tsv | sort -u | tr '\n' ' ') == "chr21 chr22 chrom " ]] ||
      fail "hits not on both chromosomes"
    # Every row a hit but only five listed: the five strongest, as the
    # whole run lists them first, and the run says how many qualified.
    run_in capped "vcf: [$work/chr21.vcf.gz, $work/cut1.vcf.gz, $work/cut2.vcf.gz]" \
      shard_snps=7 top=0 fdr=1 max_hits=5 scores=it
    cmp <(head -n 6 whole/out/report/hits.tsv) capped/out/report/hits.tsv ||
      fail "capped run's hits are not the strongest rows"
    grep -q '^Warning: [0-9]* rows qualify as hits; the report lists the strongest 5 (--max-hits)$' capped.log ||
      fail "no --max-hits warning in the capped run"
    grep -q '"hits_qualifying": [0-9]\{3,\},' capped/out/report/summary.json ||
      fail "true count of the capped run"
    ;;
  genome-input)
    # Inputs that do not fit together: one Error: line naming the cause, and
    # no merged data folder or report.
    bcftools view -s ^"$(bcftools query -l chr22.vcf.gz | head -n 1)" cut2.vcf.gz \
      -Oz -o fewer.vcf.gz
    cp chr22.vcf.gz wrong.vcf.gz
    expect_error() {  # expect_error NAME MESSAGE CONFIG_YAML ARGS...
      printf '%s\n' "$3" >"$1.yaml"
      if workflow local "$1.log" outdir="$1" "${@:4}" --configfile "$1.yaml"; then
        fail "$1: the workflow succeeded"
      fi
      [[ $(grep -c '^Error: ' "$1.log") == 1 ]] || { cat "$1.log"; fail "$1: not one Error: line"; }
      grep -qxF "$2" "$1.log" || { grep '^Error: ' "$1.log"; fail "$1: want '$2'"; }
      [[ ! -e $1/data/snps.tsv && ! -e $1/report && -z $(find . -name '.merge.*') ]] ||
        fail "$1: outputs left behind"
    }
    expect_error missing "Error: $work/by-chrom/chr20.vcf.gz: no such VCF (chromosome chr20 of $work/by-chrom/{chrom}.vcf.gz)" \
      "vcf: $work/by-chrom/{chrom}.vcf.gz" chromosomes=chr20,chr21
    mkdir -p by-chrom && cp chr22.vcf.gz by-chrom/chr21.vcf.gz && cp chr22.vcf.gz by-chrom/chr22.vcf.gz
    expect_error names "Error: $work/by-chrom/chr21.vcf.gz: holds variants on chr22, not on chr21, the chromosome it is named for" \
      "vcf: $work/by-chrom/{chrom}.vcf.gz" chromosomes=chr21,chr22
    n=$(bcftools query -l chr22.vcf.gz | wc -l)
    expect_error samples "Error: $work/fewer.vcf.gz: the $((n - 1)) samples kept (samples/imports/fewer/samples.txt) differ from the $n of $work/cut1.vcf.gz; every VCF must hold the same samples" \
      "vcf: [$work/cut1.vcf.gz, $work/fewer.vcf.gz]"
    expect_error no-chroms "Error: vcf $work/by-chrom/{chrom}.vcf.gz holds {chrom}; list the chromosomes in the key chromosomes" \
      "vcf: $work/by-chrom/{chrom}.vcf.gz"
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
    config=("${config[@]/#scores=it/scores=[it,trend,het]}" permutations=2 top=5)
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
    [[ $(awk -F'\t' 'NR == 1 { for (i = 1; i <= NF; i++) if ($i == "single_gene_stronger") c = i }
        NR > 1 && $c ~ /^(yes|no)/' out/report/hits.tsv | wc -l) == 15 ]] ||
      fail "not every family's five hits diagnosed"
    [[ -s out/report/qq_trend.png && -s out/report/qq_het.png ]] ||
      fail "no QQ plots of trend and het"
    # Trend and het alone, with programs from a folder that has no zirk:
    # the same summaries, and the same trend and het hits.
    mkdir -p no-zirk
    for program in "$corr_program" "$report" "$build/import/zirk-import"; do
      ln -sf "$program" no-zirk/
    done
    config=("${config[@]/#scores=*/scores=[trend,het]}")
    workflow local corr-only.log outdir=corr-only shard_snps=7 bin="$work/no-zirk" ||
      { cat corr-only.log; fail "workflow run of trend and het alone"; }
    [[ ! -e corr-only/runs/real/0.sum ]] || fail "zirk ran for scores [trend, het]"
    for run in real perm1 perm2; do
      cmp out/summaries/$run.corr.sum corr-only/summaries/$run.corr.sum ||
        fail "$run: trend and het summaries differ without the IT"
    done
    # Loci are numbered across the families, so without the IT's loci the
    # numbers move; everything else stays.
    families() { awk -F'\t' -v OFS='\t' 'NR == 1 { for (i = 1; i <= NF; i++) column[$i] = i }
      NR > 1 && $column["family"] != "it" { $column["locus"] = ""; print }' "$1"; }
    for table in hits loci; do
      cmp <(families out/report/$table.tsv) <(families corr-only/report/$table.tsv) ||
        fail "trend and het $table differ without the IT"
    done
    # The IT with a pair design: one Error: line before any job.
    config=("${config[@]/#scores=*/scores=[it,trend,het]}")
    if workflow local design.log outdir=design pairs=cis; then
      fail "the IT ran with pairs: cis"
    fi
    [[ $(grep -c '^Error' design.log) == 1 ]] &&
      grep -qx 'Error: pairs: cis: the IT family (scores: it) tests every pair; give pairs: all, or scores: \[trend, het\]' design.log ||
      { cat design.log; fail "pairs: cis with the IT: not one Error: line"; }
    [[ ! -e design ]] || fail "a job ran for pairs: cis with the IT"
    ;;
  strata)
    # Strata from a file (the samples' ID prefixes, HG and NA, as two
    # groups) with two permuted copies: strata.txt must reach the data
    # folder, each copy must keep every individual within its group, and
    # every summary must be that of zirk-corr over the folder, which reads
    # its strata.txt; without it the rows differ.
    corr_program=$build/corr/zirk-corr
    zcat "$data/genes.50percent.chr22.bed.gz" |
      awk 'NR == 1 { for (i = 7; i <= NF; i++) print $i, substr($i, 1, 2) }' >groups.txt
    config=("${config[@]/#scores=it/scores=[trend,het]}" permutations=2 top=5
      strata="$work/groups.txt")
    workflow local strata.log outdir=out shard_snps=7 ||
      { cat strata.log; fail "workflow run with strata"; }
    [[ -s out/data/strata.txt ]] || fail "no strata.txt in the data folder"
    cmp out/data/strata.txt <(awk 'NR == FNR { group[$1] = $2; next }
      { print group[$1] }' groups.txt out/data/samples.txt) ||
      fail "strata.txt is not the groups of samples.txt"
    # Each permuted column must hold the values of an individual of the
    # column's own group, found by its values in every gene.
    for k in 1 2; do
      /usr/bin/python3 - out/data "$k" <<'CHECK' || fail "copy $k leaves a stratum"
import sys
folder, k = sys.argv[1], sys.argv[2]
def columns(path):
    with open(path) as f:
        rows = [line.split() for line in f]
    return list(zip(*rows))
own = {column: i for i, column in enumerate(columns(folder + "/expr.txt"))}
group = open(folder + "/strata.txt").read().split()
moved = 0
for j, column in enumerate(columns(folder + "/expr.perm%s.txt" % k)):
    i = own[column]
    if group[i] != group[j]:
        sys.exit("column %d holds individual %d of another stratum" % (j, i))
    moved += i != j
if moved < len(group) // 2:
    sys.exit("only %d individuals moved" % moved)
CHECK
    done
    max_hits=$(awk '$1 == "max_hits:" { print $2 }' "$source/workflow/config.yaml")
    for run in real perm1 perm2; do
      expr=out/data/expr.txt hits=$max_hits
      [[ $run == real ]] || expr=out/data/expr.$run.txt hits=0
      OPENBLAS_NUM_THREADS=1 "$corr_program" -d out/data -e "$expr" \
        --max-hits $hits -s $run.sum -o $run.rows
      cmp out/summaries/$run.corr.sum $run.sum ||
        fail "$run: the workflow's summary is not that of zirk-corr with strata"
    done
    mkdir plain && cp out/data/{geno,expr,allele}.txt plain/
    OPENBLAS_NUM_THREADS=1 "$corr_program" -d plain -o plain.rows
    differ=$(paste real.rows plain.rows | awk -F'\t' 'NR > 1 && ($10 != $21 || $11 != $22)' | wc -l)
    rows=$(($(wc -l <real.rows) - 1))
    ((rows > 0 && differ > rows / 2)) ||
      fail "only $differ of $rows trend and het rows change with strata"
    ;;
  *)
    fail "unknown case $case_name"
    ;;
esac
echo "workflow $case_name: passed"
