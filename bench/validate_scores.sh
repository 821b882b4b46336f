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
#   at n = 200, where the scores part.
# zirk runs at MC threshold 1 so that every pair gets its MC p-value.
#
#   bench/validate_scores.sh [--seeds N] [--bin DIR] [--keep DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
py=/usr/bin/python3
seeds=3 bin=$here/../build keep=""
while (($#)); do
  case $1 in
    --seeds) seeds=$2 ;;
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

work=${keep:-$(mktemp -d)}
[[ -n $keep ]] || trap 'rm -rf "$work"' EXIT
mkdir -p "$work"
scores=$work/scores.txt
: >"$scores"
start=$SECONDS

# mode scenario seed simulate-options...: simulate, run both programs, score.
one() {
  local mode=$1 scenario=$2 seed=$3
  shift 3
  local data=$work/$scenario.$seed
  "$py" "$here/validate_sim.py" --out "$data" --seed "$seed" \
    --individuals 358 "$@"
  echo 1 | "$bin/zirk" -g "$data/geno.txt" -e "$data/expr.txt" \
    -a "$data/allele.txt" -o "$data/zirk.txt" >/dev/null
  "$bin/corr/zirk-corr" --data "$data" -o "$data/corr.tsv"
  "$py" "$here/validate_scores.py" "$mode" "$scenario" "$data" \
    "$data/zirk.txt" "$data/corr.tsv" >>"$scores"
  [[ -n $keep ]] || rm -rf "$data"
}

null=(--snps 40 --genes 100 --plant 0 --background 0.5)
for seed in $(seq 1 "$seeds"); do
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
  for pattern in trend het hom; do
    for seed in $(seq 1 $((seeds + 2))); do
      # validate_sim.py takes the last --individuals.
      one power "$pattern, n = $individuals" "$seed" --snps 20 --genes 40 \
        --plant 20 --pattern "$pattern" --individuals "$individuals"
    done
  done
done
echo "calibration (n = 358): 40 SNPs x 4,950 pairs per data set, $seeds seeds;" \
  "power (n = 358, 200): 20 SNPs x 780 pairs, 20 planted, $((seeds + 2)) seeds; $((SECONDS - start)) s"
echo
"$py" "$here/validate_scores.py" table "$scores"
