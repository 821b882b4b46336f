#!/usr/bin/env bash
# What each score detects, n = 358 (bench/validate_scores.py says how each
# number is read):
# - calibration: no change of co-expression anywhere, every gene pair
#   correlated 0.5 in every class; SNP s acts on gene s alone (40 SNPs x
#   100 genes, 4,950 pairs per SNP): no effect (normal and heavy-tailed
#   values), a mean eQTL (normal and heavy-tailed values, raw and after an
#   inverse-normal transform), a variance QTL (raw and transformed). The share
#   of p < 1e-3 among the acted-on gene's pairs and among all other tests.
# - power: planted changes of one pair's correlation per SNP (20 SNPs x 780
#   pairs, 20 planted): dosage trend rho 0/0.45/0.9, heterozygotes only
#   0/0.8/0, minor homozygotes only 0/0/0.8. Planted pairs found at BH 0.05
#   by MC, IT, trend, het and the linear cross model; at n = 358 and again
#   at n = 200, where the scores part. Each power data set also has 20
#   copies of the expression with the individuals permuted (one permutation
#   for all genes), screened like the data, and the planted pairs found at
#   empirical FDR 0.05 by MC, IT, trend and het, as zirk-report selects them
#   with 20 permuted runs.
# zirk runs at MC threshold 1 so that every pair gets its MC p-value.
#
#   bench/validate_scores.sh [--seeds N] [--only calibration|power]
#       [--bin DIR] [--keep DIR]
# The power part runs N + 2 seeds. --keep keeps the data sets and the data's
# results; the permuted copies' results are removed once scored, since 20
# per data set fill the disk and are remade in seconds.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
py=/usr/bin/python3
seeds=3 bin=$here/../build keep="" only="" perms=20
while (($#)); do
  case $1 in
    --seeds) seeds=$2 ;;
    --only) only=$2 ;;
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
if [[ -n $only && $only != calibration && $only != power ]]; then
  echo "Error: --only takes calibration or power, not $only" >&2
  exit 1
fi

work=${keep:-$(mktemp -d)}
[[ -n $keep ]] || trap 'rm -rf "$work"' EXIT
mkdir -p "$work"
scores=$work/scores.txt
: >"$scores"
start=$SECONDS

# mode scenario seed simulate-options...: simulate, run both programs (in
# the power part on the permuted copies too), score.
one() {
  local mode=$1 scenario=$2 seed=$3
  shift 3
  local data=$work/$scenario.$seed permute=0 nulls=() k
  [[ $mode == power ]] && permute=$perms
  "$py" "$here/validate_sim.py" --out "$data" --seed "$seed" \
    --individuals 358 --permute "$permute" "$@"
  echo 1 | "$bin/zirk" -g "$data/geno.txt" -e "$data/expr.txt" \
    -a "$data/allele.txt" -o "$data/zirk.txt" >/dev/null
  "$bin/corr/zirk-corr" --data "$data" -o "$data/corr.tsv"
  for k in $(seq 1 "$permute"); do
    echo 1 | "$bin/zirk" -g "$data/geno.txt" -e "$data/expr.perm$k.txt" \
      -a "$data/allele.txt" -o "$data/zirk.perm$k.txt" >/dev/null
    "$bin/corr/zirk-corr" -g "$data/geno.txt" -e "$data/expr.perm$k.txt" \
      -a "$data/allele.txt" -o "$data/corr.perm$k.tsv"
    nulls+=("$data/zirk.perm$k.txt" "$data/corr.perm$k.tsv")
  done
  "$py" "$here/validate_scores.py" "$mode" "$scenario" "$data" \
    "$data/zirk.txt" "$data/corr.tsv" "${nulls[@]}" >>"$scores"
  rm -f "${nulls[@]}"
  [[ -n $keep ]] || rm -rf "$data"
}

null=(--snps 40 --genes 100 --plant 0 --background 0.5)
for seed in $(seq 1 "$seeds"); do
  [[ $only != power ]] || break
  one null "no effect" "$seed" "${null[@]}"
  one null "no effect, heavy tails" "$seed" "${null[@]}" --values heavy
  one null "mean eQTL" "$seed" "${null[@]}" --effect mean
  one null "mean eQTL, transformed" "$seed" "${null[@]}" --effect mean \
    --transform int
  one null "mean eQTL, heavy tails" "$seed" "${null[@]}" --effect mean \
    --values heavy
  one null "mean eQTL, heavy tails, transformed" "$seed" "${null[@]}" \
    --effect mean --values heavy --transform int
  one null "variance QTL" "$seed" "${null[@]}" --effect variance
  one null "variance QTL, transformed" "$seed" "${null[@]}" \
    --effect variance --transform int
done
for individuals in 358 200; do
  [[ $only != calibration ]] || break
  for pattern in trend het hom; do
    for seed in $(seq 1 $((seeds + 2))); do
      # validate_sim.py takes the last --individuals.
      one power "$pattern, n = $individuals" "$seed" --snps 20 --genes 40 \
        --plant 20 --pattern "$pattern" --individuals "$individuals"
    done
  done
done
[[ $only == power ]] ||
  echo "calibration (n = 358): 40 SNPs x 4,950 pairs per data set, $seeds seeds"
[[ $only == calibration ]] ||
  echo "power (n = 358, 200): 20 SNPs x 780 pairs, 20 planted, $((seeds + 2))" \
    "seeds, $perms permuted copies each"
echo "$((SECONDS - start)) s"
echo
"$py" "$here/validate_scores.py" table "$scores"
