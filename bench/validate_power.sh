#!/usr/bin/env bash
# Power of zirk's IT against a 1-df linear interaction model for three ways a
# gene pair's correlation can change with the genotype class (n = 200,
# 20 SNPs x 780 pairs, one planted pair per SNP), over several seeds:
#   trend  rho = 0, 0.45, 0.9 in classes 0, 1, 2
#   het    rho = 0, 0.8, 0    (heterozygotes only)
#   hom    rho = 0, 0, 0.8    (minor homozygotes only)
# Both tests are read with Benjamini-Hochberg at 0.05 over the 15,600 tests;
# bench/validate_power.py says how. Then the same design without planted
# pairs, every pair sent to the IT (MC threshold 1): how the IT's p-values
# compare with their nominal rate, over all pairs and over those the MC
# screen at --threshold would have passed.
#
#   bench/validate_power.sh [--seeds N] [--threshold T] [--bin DIR] [--keep DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
py=/usr/bin/python3
seeds=10 threshold=0.05 bin=$here/../build keep=""
while (($#)); do
  case $1 in
    --seeds) seeds=$2 ;;
    --threshold) threshold=$2 ;;
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
for pattern in trend het hom; do
  for seed in $(seq 1 "$seeds"); do
    data=$work/$pattern.$seed
    "$py" "$here/validate_sim.py" --out "$data" --seed "$seed" \
      --individuals 200 --snps 20 --genes 40 --plant 20 --pattern "$pattern"
    echo "$threshold" | "$bin/zirk" -g "$data/geno.txt" -e "$data/expr.txt" \
      -a "$data/allele.txt" -o "$data/result.txt" >/dev/null
    "$py" "$here/validate_power.py" score "$data" "$data/result.txt" >>"$scores"
    [[ -n $keep ]] || rm -rf "$data"
  done
done
echo "n = 200, 20 SNPs x 780 gene pairs, 20 planted, MC threshold $threshold," \
  "BH 0.05; $seeds seeds per pattern, $((SECONDS - start)) s"
echo "cells: mean ± standard error (min–max) over seeds"
"$py" "$here/validate_power.py" table "$scores"

results=()
for seed in $(seq 1 "$seeds"); do
  data=$work/null.$seed
  "$py" "$here/validate_sim.py" --out "$data" --seed "$seed" \
    --individuals 200 --snps 20 --genes 40 --plant 0
  echo 1 | "$bin/zirk" -g "$data/geno.txt" -e "$data/expr.txt" \
    -a "$data/allele.txt" -o "$data/result.txt" >/dev/null
  results+=("$data/result.txt")
done
echo
echo "no planted pairs, every pair through the IT; $seeds seeds"
"$py" "$here/validate_power.py" calibration "$threshold" "${results[@]}"
