#!/usr/bin/env bash
# Benchmarks zirk against zirk-reference on simulated data, side by side in
# one run: checks that their result files are identical and prints pairs per
# second of each, the speed-up, and zirk on one thread against two.
#
#   bench/run.sh            both cases
#   bench/run.sh screen     one case
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2 --target zirk zirk-reference zirk-simulate >/dev/null

work=build/bench
mkdir -p "$work"

# name individuals snps genes threshold
cases=(
  "screen 200 20 500 1e-4"
  "cascade 200 10 200 0.05"
)

seconds() {  # runs a command, prints its wall-clock seconds
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { print b - a }'
}

run() {  # program threads data threshold output
  echo "$4" | OMP_NUM_THREADS=$2 "$1" -g "$3/genotype.txt" \
    -e "$3/expression.txt" -a "$3/allele.txt" -o "$5"
}

printf '%-8s %12s %10s %14s %9s\n' case program threads pairs/s speed-up
for spec in "${cases[@]}"; do
  read -r name individuals snps genes threshold <<<"$spec"
  if [[ $# -gt 0 && " $* " != *" $name "* ]]; then continue; fi
  data=$work/$name
  build/zirk-simulate --seed 2026 --individuals "$individuals" --snps "$snps" \
    --genes "$genes" --plant 2 --rare 2 --out "$data" >/dev/null
  pairs=$((snps * genes * (genes - 1) / 2))
  ref=$(seconds run build/zirk-reference 1 "$data" "$threshold" "$data/reference.txt")
  one=$(seconds run build/zirk 1 "$data" "$threshold" "$data/engine1.txt")
  two=$(seconds run build/zirk 2 "$data" "$threshold" "$data/engine2.txt")
  cmp "$data/reference.txt" "$data/engine1.txt"
  cmp "$data/reference.txt" "$data/engine2.txt"
  calc() { awk "BEGIN { print $1 }"; }
  printf '%-8s %12s %10s %14.0f %9s\n' "$name" zirk-reference 1 "$(calc "$pairs / $ref")" 1
  printf '%-8s %12s %10s %14.0f %9.1f\n' "$name" zirk 1 "$(calc "$pairs / $one")" \
    "$(calc "$ref / $one")"
  printf '%-8s %12s %10s %14.0f %9.1f\n' "$name" zirk 2 "$(calc "$pairs / $two")" \
    "$(calc "$ref / $two")"
  flag1=$(awk -F'\t' 'NR > 3 && $4 == 1' "$data/reference.txt" | wc -l)
  printf '%-8s %d pairs, %d interaction tests, two threads %.2fx one thread, result files identical\n' \
    "$name" "$pairs" "$flag1" "$(calc "$one / $two")"
done
