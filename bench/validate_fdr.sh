#!/usr/bin/env bash
# Does the empirical FDR of zirk-report hold? Each seed screens one data set
# and K permuted copies of it (the MC screen at --threshold, then the IT),
# selects hits at --fdr as zirk-report does with permuted runs (the empirical
# FDR, once the data's best row beats the permuted runs' at level --fdr; that
# needs K >= 1/X - 1) and, for comparison, by BH over the IT p-values alone,
# and counts the false ones:
#   sim   n = 200, 40 SNPs x 435 gene pairs, 12 planted pairs (4 each of the
#         trend, heterozygote and homozygote patterns of validate_sim.py);
#   real  the chr22 example of the Debian package qtltools-example, a region
#         and 30 genes without zeros, with the individuals of the expression
#         permuted: the first permuted copy plays the data (no real effect,
#         every hit is false), the next K the null runs.
# Prints the share of pairs passing the MC screen in the data runs, the mean
# proportion of false discoveries with its standard error,
# the power on the planted pairs and the time of one real-data run (import,
# 1 + K screens, report).
#
# With --rotate, each of the K + 1 screens of a real-data seed also plays the
# data once, the other K its null runs: K + 1 experiments per seed, each of
# them as valid as the first (the copies are exchangeable), for a far smaller
# standard error of the rate at which a run without effect yields hits.
#
#   bench/validate_fdr.sh [--seeds N] [--first S] [--perms K] [--fdr X]
#       [--threshold T] [--only sim|real] [--rotate] [--region CHR:BEG-END]
#       [--bin DIR] [--keep DIR]
# The programs come from DIR (build/), or from $ZIRK, $ZIRK_IMPORT and
# $ZIRK_REPORT when these are set.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
py=/usr/bin/python3
seeds=20 first=1 perms=10 fdr=0.05 threshold=0.05 only="" keep="" rotate=0
region=chr22:30000000-30060000 bin=$here/../build
examples=/usr/share/doc/qtltools/examples/examples.tar.xz
while (($#)); do
  case $1 in
    --seeds) seeds=$2 ;;
    --first) first=$2 ;;
    --rotate)
      rotate=1
      shift
      continue
      ;;
    --perms) perms=$2 ;;
    --fdr) fdr=$2 ;;
    --threshold) threshold=$2 ;;
    --only) only=$2 ;;
    --region) region=$2 ;;
    --bin) bin=$2 ;;
    --keep) keep=$2 ;;
    -h | --help)
      awk 'NR > 1 && !/^#/ { exit } NR > 1 { sub(/^# ?/, ""); print }' "$0"
      exit 0
      ;;
    *)
      echo "Error: unknown option $1" >&2
      exit 1
      ;;
  esac
  shift 2
done
zirk=${ZIRK:-$bin/zirk}
import=${ZIRK_IMPORT:-$bin/import/zirk-import}
report=${ZIRK_REPORT:-$bin/report/zirk-report}

work=${keep:-$(mktemp -d)}
[[ -n $keep ]] || trap 'rm -rf "$work"' EXIT
mkdir -p "$work"
scores=$work/scores.txt
: >"$scores"

# screen DIR EXPR... : zirk on DIR's geno.txt and allele.txt with each
# expression file in turn, a summary per run (the first is the data, the
# rest the null runs), then both selections of hits.
screen() {
  local dir=$1 real=$2
  shift 2
  local nulls=() k=0 expr
  for expr in "$real" "$@"; do
    echo "$threshold" | "$zirk" -g "$dir/geno.txt" -e "$expr" \
      -a "$dir/allele.txt" -o "$dir/rows.txt" >/dev/null
    "$report" --summary "$dir/run$k.sum" "$dir/rows.txt"
    ((k == 0)) || nulls+=(--null "$dir/run$k.sum")
    k=$((k + 1))
  done
  rm -f "$dir/rows.txt"
  "$report" --out "$dir/empirical" --fdr "$fdr" "${nulls[@]}" "$dir/run0.sum" \
    2>/dev/null
  "$report" --out "$dir/bh" --fdr "$fdr" "$dir/run0.sum"
}

score() {
  local source=$1 seed=$2 dir=$3 selection line
  "$py" -c 'import json, sys
s = json.load(open(sys.argv[1]))
print(1 - s["rows_per_flag"]["0"] / s["family_size"])' "$dir/bh/summary.json" \
    >>"$work/mc-pass.$source.txt"
  for selection in empirical bh; do
    line=$("$py" "$here/validate_fdr.py" score "$dir/$selection/hits.tsv" \
      ${4:+"$4"})
    echo "$source $selection $seed $line" >>"$scores"
  done
}

# rotations DIR SEED: every screen of DIR as the data, the others as nulls;
# only the hits are needed, so the figures are skipped.
rotations() {
  local dir=$1 seed=$2 j k nulls
  for j in $(seq 0 "$perms"); do
    nulls=()
    for k in $(seq 0 "$perms"); do
      ((k == j)) || nulls+=(--null "$dir/run$k.sum")
    done
    ZIRK_REPORT_PYTHON=/bin/true "$report" --out "$dir/rotated" --fdr "$fdr" \
      "${nulls[@]}" "$dir/run$j.sum" 2>/dev/null
    echo "real rotated $seed.$j $("$py" "$here/validate_fdr.py" score \
      "$dir/rotated/hits.tsv")" >>"$scores"
  done
}

start=$SECONDS
if [[ $only != real ]]; then
  for seed in $(seq "$first" $((first + seeds - 1))); do
    dir=$work/sim.$seed
    "$py" "$here/validate_sim.py" --out "$dir" --seed "$seed" \
      --individuals 200 --snps 40 --genes 30 --plant 12 \
      --pattern trend,het,hom --permute "$perms"
    nulls=()
    for k in $(seq 1 "$perms"); do nulls+=("$dir/expr.perm$k.txt"); done
    screen "$dir" "$dir/expr.txt" "${nulls[@]}"
    score sim "$seed" "$dir" "$dir/planted.tsv"
    [[ -n $keep ]] || rm -rf "$dir"
  done
  echo "sim: $seeds seeds, $((SECONDS - start)) s"
fi

if [[ $only != sim ]]; then
  tar -xJf "$examples" -C "$work" ./genotypes.chr22.vcf.gz \
    ./genotypes.chr22.vcf.gz.tbi ./genes.50percent.chr22.bed.gz
  # Every twelfth gene of those without a zero value, 30 in all.
  zcat "$work/genes.50percent.chr22.bed.gz" | awk 'NR > 1 {
      for (i = 7; i <= NF; i++) if ($i <= 0) next
      if (kept++ % 12 == 0 && ++n <= 30) print $4 }' >"$work/genes.txt"
  start=$SECONDS
  for seed in $(seq "$first" $((first + seeds - 1))); do
    dir=$work/real.$seed
    t0=$(date +%s.%N)
    "$import" --quiet --vcf "$work/genotypes.chr22.vcf.gz" \
      --expression "$work/genes.50percent.chr22.bed.gz" --out "$dir" \
      --region "$region" --genes "$work/genes.txt" --min-class-size 3 \
      --permute $((perms + 1)) --seed "$seed"
    nulls=()
    for k in $(seq 2 $((perms + 1))); do nulls+=("$dir/expr.perm$k.txt"); done
    screen "$dir" "$dir/expr.perm1.txt" "${nulls[@]}"
    ((seed > first)) || dims="$(($(wc -l <"$dir/snps.tsv") - 1)) SNPs x\
 $(($(wc -l <"$dir/genes.tsv") - 1)) genes, $(wc -w <"$dir/samples.txt") people"
    echo "$(date +%s.%N) $t0" | awk '{ printf "%.2f\n", $1 - $2 }' \
      >>"$work/real-times.txt"
    score real "$seed" "$dir"
    ((rotate)) && rotations "$dir" "$seed"
    [[ -n $keep ]] || rm -rf "$dir"
  done
  echo "real: $region, $dims; $seeds seeds, $((SECONDS - start)) s; one run of" \
    "import + $((perms + 1)) screens + report: median" \
    "$(sort -n "$work/real-times.txt" | awk '{ t[NR] = $1 }
        END { print t[int((NR + 1) / 2)] }') s"
fi
echo "K = $perms permuted runs, MC threshold $threshold, FDR $fdr"
for source in sim real; do
  [[ -s $work/mc-pass.$source.txt ]] || continue
  awk -v s="$source" -v t="$threshold" '{ sum += $1 } END {
      printf "%s: %.1f %% of the data runs'"'"' pairs pass the MC screen at %s\n",
        s, 100 * sum / NR, t }' "$work/mc-pass.$source.txt"
done
"$py" "$here/validate_fdr.py" table "$scores"
