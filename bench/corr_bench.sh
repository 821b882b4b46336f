#!/usr/bin/env bash
# zirk-corr's speed against zirk's, side by side in one run, on simulated
# data of n = 358 individuals and 1000 genes (499,500 pairs per SNP):
# - zirk on one thread at MC threshold 0, which lets no pair past the MC
#   test (the cheapest rows zirk writes), and zirk-corr on one thread, both
#   writing to a file, in ROUNDS rounds (default 7) that run the two back
#   to back, each first in turn: a slow spell of a shared virtual machine
#   (the same command's time may vary by half from one run to the next)
#   then falls on both. Reported: each program's median and best rows per
#   second, and the median, lowest and highest of the rounds' ratios;
# - zirk-corr on two threads against one (the output must be identical),
#   and two one-thread runs at the same time, what the machine gives two
#   independent jobs and so the ceiling for two threads;
# - the shares of zirk-corr's working thread in BLAS, in the vector math,
#   in the kernel (writing the rows) and in zirk-corr itself, from perf when
#   it works, otherwise not reported. OpenBLAS's own idle threads are left
#   out: they spin on the other core for a moment after start-up.
# The other timings are the fastest of three runs each.
# Everything is made in SCRATCH (default: a fresh folder under /tmp) and
# removed at the end.
# Usage: bench/corr_bench.sh [SNPS] [SCRATCH]
set -euo pipefail
cd "$(dirname "$0")/.."
snps=${1:-10}
scratch=${2:-$(mktemp -d /tmp/zirk-corr-bench.XXXXXX)}
mkdir -p "$scratch"
trap 'rm -rf "$scratch"' EXIT
# zirk-corr's workers call BLAS single-threaded; without this OpenBLAS
# starts a thread per core as it loads, which spins for about 0.1 s (the
# workflow sets it too; zirk does not use OpenBLAS).
export OPENBLAS_NUM_THREADS=1
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2 --target zirk zirk-corr zirk-simulate >/dev/null

data=$scratch/data
build/zirk-simulate --seed 21 --individuals 358 --snps "$snps" --genes 1000 \
  --out "$data" >/dev/null
rows=$((snps * 499500))
inputs=(-g "$data/genotype.txt" -e "$data/expression.txt" -a "$data/allele.txt")

# measure NAME "OUTPUTS" COMMAND...: wall and CPU seconds of the fastest of
# three runs, rows per second of each; the files OUTPUTS (in the scratch
# folder) are removed before each run, so every run writes new files.
measure() {
  local name=$1 outputs=$2
  shift 2
  local wall user sys output
  for _ in 1 2 3; do
    for output in $outputs; do rm -f "$scratch/$output"; done
    /usr/bin/time -f "%e %U %S" -a -o "$scratch/times" "$@" >/dev/null
  done
  read -r wall user sys < <(sort -n "$scratch/times" | head -1)
  rm -f "$scratch/times"
  awk -v n="$name" -v r="$rows" -v w="$wall" -v u="$user" -v s="$sys" 'BEGIN {
    printf "%-34s %7.2f s wall %7.2f s cpu %6.2f M rows/s wall %6.2f M rows/s cpu\n",
      n, w, u + s, r / w / 1e6, r / (u + s) / 1e6 }'
  echo "$wall" >"$scratch/last_wall"
}

# GNU time runs programs, not shell functions: these two are bash -c texts.
in="-g $data/genotype.txt -e $data/expression.txt -a $data/allele.txt"
zirk_mc_only="echo 0 | OMP_NUM_THREADS=1 build/zirk $in -o $scratch/zirk.txt"
two_side_by_side="build/corr/zirk-corr $in -o $scratch/side1.tsv &
  build/corr/zirk-corr $in -o $scratch/side2.tsv; wait"

echo "n = 358, 1000 genes, $snps SNPs: $rows rows; $(nproc) CPUs, load $(cut -d' ' -f1-3 /proc/loadavg)"
rounds=${ROUNDS:-7}
for ((round = 1; round <= rounds; ++round)); do
  order=(zirk corr)
  ((round % 2)) || order=(corr zirk)
  for program in "${order[@]}"; do
    rm -f "$scratch/zirk.txt" "$scratch/one.tsv"
    if [[ $program == zirk ]]; then
      /usr/bin/time -f "$round zirk %e" -a -o "$scratch/rounds" bash -c "$zirk_mc_only" >/dev/null
    else
      /usr/bin/time -f "$round corr %e" -a -o "$scratch/rounds" \
        build/corr/zirk-corr "${inputs[@]}" -o "$scratch/one.tsv" -t 1 >/dev/null
    fi
  done
done
# median FILE: the middle of the numbers in FILE (the lower of the two
# middle ones for an even count).
median() { sort -g "$1" | sed -n "$(((rounds + 1) / 2))p"; }
for program in zirk corr; do
  awk -v p="$program" '$2 == p { print $3 }' "$scratch/rounds" >"$scratch/$program.walls"
done
awk '{ wall[$1, $2] = $3 } END { for (r = 1; wall[r, "zirk"] != ""; ++r) print wall[r, "zirk"] / wall[r, "corr"] }' \
  "$scratch/rounds" >"$scratch/ratios"
one_wall=$(sort -g "$scratch/corr.walls" | head -1)
awk -v r="$rows" -v n="$rounds" -v zm="$(median "$scratch/zirk.walls")" \
    -v zb="$(sort -g "$scratch/zirk.walls" | head -1)" \
    -v cm="$(median "$scratch/corr.walls")" -v cb="$one_wall" \
    -v rm="$(median "$scratch/ratios")" -v rl="$(sort -g "$scratch/ratios" | head -1)" \
    -v rh="$(sort -g "$scratch/ratios" | tail -1)" 'BEGIN {
  printf "%-34s median %6.2f M rows/s, best %6.2f (wall, %d rounds)\n", "zirk, 1 thread, MC only", r / zm / 1e6, r / zb / 1e6, n
  printf "%-34s median %6.2f M rows/s, best %6.2f\n", "zirk-corr, 1 thread", r / cm / 1e6, r / cb / 1e6
  printf "zirk-corr / zirk (1 thread, wall, paired by round): median %.2f, range %.2f-%.2f\n", rm, rl, rh }'
measure "zirk-corr, 2 threads" two.tsv build/corr/zirk-corr "${inputs[@]}" -o "$scratch/two.tsv" -t 2
two_wall=$(cat "$scratch/last_wall")
cmp -s "$scratch/one.tsv" "$scratch/two.tsv" || { echo "1 and 2 threads differ" >&2; exit 1; }
measure "two 1-thread zirk-corr side by side" "side1.tsv side2.tsv" bash -c "$two_side_by_side"
side_wall=$(cat "$scratch/last_wall")
awk -v o="$one_wall" -v t="$two_wall" -v s="$side_wall" 'BEGIN {
  printf "zirk-corr 2 threads / best 1 thread: %.2f (two jobs side by side give %.2f)\n",
    o / t, 2 * o / s }'

if perf record -q -o "$scratch/perf.data" build/corr/zirk-corr "${inputs[@]}" \
    -o "$scratch/perf.tsv" -t 1 >/dev/null 2>&1; then
  # The working thread is the one with the most samples (the first line).
  perf report -i "$scratch/perf.data" --no-children --sort pid,dso 2>/dev/null |
    awk '/^ *[0-9.]+%/ { share = $1; sub("%", "", share)
           if (main == "") main = $2
           if ($2 != main) next
           total += share
           if ($3 ~ /blas/) blas += share
           else if ($3 ~ /kernel/) kernel += share
           else if ($3 ~ /libm/) libm += share
           else if ($3 ~ /zirk-corr/) own += share }
         END { printf "CPU samples of zirk-corr'"'"'s working thread: BLAS %.1f %%, vector math and libm %.1f %%, kernel (writing) %.1f %%, zirk-corr %.1f %%, rest %.1f %%\n",
                 100 * blas / total, 100 * libm / total, 100 * kernel / total,
                 100 * own / total, 100 * (total - blas - libm - kernel - own) / total }'
else
  echo "perf does not work here: no BLAS share"
fi
