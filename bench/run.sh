#!/usr/bin/env bash
# Benchmarks zirk against zirk-reference on simulated data, side by side in
# one run: checks that their result files are identical and prints pairs per
# second of each, the speed-up, and zirk on one thread against two.
#
#   bench/run.sh            all cases
#   bench/run.sh screen     one case
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
# GNU time measures the peak memory.
if [[ ! -x /usr/bin/time ]]; then
  if [[ $(id -u) -ne 0 ]]; then
    echo "The benchmark needs GNU time: apt-get install -y time" >&2
    exit 1
  fi
  apt-get update -qq && apt-get install -y -qq time >/dev/null
fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2 --target zirk zirk-reference zirk-simulate floor_bench \
  fixed_model_bench >/dev/null

work=build/bench
mkdir -p "$work"

# name individuals snps genes threshold rare-SNPs. "realdata" has the shape
# of a real screen (160 people, 40 SNPs, 200 genes, a tenth of the SNPs with
# minor allele frequency below 0.05 and so classes of one or two members) at
# the threshold where 5-20 % of the pairs reach the interaction test.
cases=(
  "screen 200 20 500 1e-4 2"
  "cascade 200 10 200 0.05 2"
  "realdata 160 40 200 0.05 4"
)

# Wall-clock seconds of a command.
elapsed() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { print b - a }'
}

# Seconds of one run of zirk or zirk-reference (program threads data
# threshold output), which starts, as a user's run would, without an older
# result file whose pages the kernel would first have to drop.
seconds() {
  rm -f "$5"
  elapsed run "$@"
}

# Two one-thread zirk runs side by side (data threshold): what the machine
# gives two independent jobs, the ceiling for two threads of one run.
side_by_side() {
  run build/zirk 1 "$1" "$2" "$1/side1.txt" &
  run build/zirk 1 "$1" "$2" "$1/side2.txt"
  wait
}

seconds_side_by_side() {
  rm -f "$1/side1.txt" "$1/side2.txt"
  elapsed side_by_side "$@"
}

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

run() {  # program threads data threshold output
  echo "$4" | OMP_NUM_THREADS=$2 "$1" -g "$3/genotype.txt" \
    -e "$3/expression.txt" -a "$3/allele.txt" -o "$5"
}

# Peak memory of zirk against the documented formula (plus 8 MiB for the
# program itself), at one and two threads.
check_memory() {  # name data threshold individuals snps genes
  local name=$1 data=$2 threshold=$3 individuals=$4 snps=$5 genes=$6
  local threads peak formula
  for threads in 1 2; do
    peak=$( { echo "$threshold" | OMP_NUM_THREADS=$threads /usr/bin/time -f '%M' \
      build/zirk -g "$data/genotype.txt" -e "$data/expression.txt" \
      -a "$data/allele.txt" -o "$data/memory.txt" >/dev/null; } 2>&1 | tail -n 1)
    formula=$(awk "BEGIN { print (24 * $individuals * $genes + \
      (4 * $genes * $genes < 268435456 ? 4 * $genes * $genes : 268435456) + \
      2 * $individuals * $snps + $threads * (1572864 + 1536 * $individuals) + \
      8388608) / 1024 }")
    printf '%-8s peak memory at %d threads: %d KiB measured, %.0f KiB by the formula\n' \
      "$name" "$threads" "$peak" "$formula"
  done
}

printf '%-8s %12s %10s %14s %9s\n' case program threads pairs/s speed-up
for entry in "${cases[@]}"; do
  read -r name individuals snps genes threshold rare <<<"$entry"
  if [[ $# -gt 0 && " $* " != *" $name "* ]]; then continue; fi
  data=$work/$name
  build/zirk-simulate --seed 2026 --individuals "$individuals" --snps "$snps" \
    --genes "$genes" --plant 2 --rare "$rare" --out "$data" >/dev/null
  pairs=$((snps * genes * (genes - 1) / 2))
  # The reference runs once (it takes a minute). zirk's one-thread,
  # two-thread and side-by-side runs take turns, eleven rounds, and the
  # median of each counts: a burst of load on the host then touches all three
  # alike, where the best of each would favour one thread, whose fastest run
  # needs one quiet processor rather than two.
  ref=$(seconds build/zirk-reference 1 "$data" "$threshold" "$data/reference.txt")
  ones=() twos=() sides=()
  for ((round = 0; round < 11; ++round)); do
    ones+=("$(seconds build/zirk 1 "$data" "$threshold" "$data/engine1.txt")")
    twos+=("$(seconds build/zirk 2 "$data" "$threshold" "$data/engine2.txt")")
    sides+=("$(seconds_side_by_side "$data" "$threshold")")
  done
  one=$(median "${ones[@]}")
  two=$(median "${twos[@]}")
  side=$(median "${sides[@]}")
  cmp "$data/reference.txt" "$data/engine1.txt"
  cmp "$data/reference.txt" "$data/engine2.txt"
  calc() { awk "BEGIN { print $1 }"; }
  printf '%-8s %12s %10s %14.0f %9s\n' "$name" zirk-reference 1 "$(calc "$pairs / $ref")" 1
  printf '%-8s %12s %10s %14.0f %9.1f\n' "$name" zirk 1 "$(calc "$pairs / $one")" \
    "$(calc "$ref / $one")"
  printf '%-8s %12s %10s %14.0f %9.1f\n' "$name" zirk 2 "$(calc "$pairs / $two")" \
    "$(calc "$ref / $two")"
  check_memory "$name" "$data" "$threshold" "$individuals" "$snps" "$genes"
  flag1=$(awk -F'\t' 'NR > 3 && $4 == 1' "$data/reference.txt" | wc -l)
  printf '%-8s %d pairs, %d interaction tests, two threads %.2fx one thread, result files identical\n' \
    "$name" "$pairs" "$flag1" "$(calc "$one / $two")"
  printf '%-8s two one-thread runs side by side: %.2fx the throughput of one\n' \
    "$name" "$(calc "2 * $one / $side")"
done

# Memory alone on a larger data set, where the data rather than the program
# dominate the peak (zirk only: the reference would take minutes).
if [[ $# -eq 0 || " $* " == *" memory "* ]]; then
  data=$work/memory
  build/zirk-simulate --seed 2026 --individuals 1000 --snps 2 --genes 3000 \
    --out "$data" >/dev/null
  check_memory memory "$data" 1e-4 1000 2 3000
fi

# The kernels on their own: the per-pair floor of the screen, and the
# interaction test of the fixed-size model against the general one.
if [[ $# -eq 0 ]]; then
  build/floor_bench
  build/fixed_model_bench
fi
