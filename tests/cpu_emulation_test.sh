#!/usr/bin/env bash
# Runs zirk and zirk-reference under user-mode emulation of a processor with
# neither AVX nor FMA (Nehalem) and of one with both (Haswell), on small
# simulated data sets, and requires byte-identical result files from the two
# programs on the same emulated processor. The engine's vector paths and the
# C library's exp build both follow the processor, so each pairing is checked
# where it runs. Results are never compared across processors: a two-member
# class's MC value may differ in its last digits between them.
#
# A machine may set OPENBLAS_CORETYPE for its own processor; the emulated
# runs name the emulated core instead, so that no library linked now or later
# picks kernels the emulated processor lacks.
#
# Usage: cpu_emulation_test.sh ZIRK ZIRK_REFERENCE ZIRK_SIMULATE WORKDIR
set -euo pipefail
zirk=$1 reference=$2 simulate=$3 work=$4
if ! command -v qemu-x86_64 >/dev/null; then
  echo "Error: qemu-x86_64 not found; tools/setup.sh installs qemu-user" >&2
  exit 1
fi
rm -rf "$work"
mkdir -p "$work"
# seed individuals snps genes rare threshold: many pairs reach the
# interaction test at 0.05, the rare SNPs give classes of one or two members.
sets=(
  "7 80 6 30 2 0.05"
  "11 40 6 24 3 0.5"
  "13 150 3 20 1 1e-3"
)
for cpu in Nehalem Haswell; do
  for entry in "${sets[@]}"; do
    read -r seed individuals snps genes rare threshold <<<"$entry"
    data=$work/$seed
    [[ -d $data ]] || "$simulate" --seed "$seed" --individuals "$individuals" \
      --snps "$snps" --genes "$genes" --plant 1 --rare "$rare" --out "$data" \
      >/dev/null
    for program in "$zirk" "$reference"; do
      echo "$threshold" | env -u OPENBLAS_L2_SIZE OPENBLAS_CORETYPE="$cpu" \
        qemu-x86_64 -cpu "$cpu" "$program" \
        -g "$data/genotype.txt" -e "$data/expression.txt" \
        -a "$data/allele.txt" -o "$data/$cpu-$(basename "$program").txt" \
        >/dev/null 2>"$work/stderr.txt"
    done
    if ! cmp "$data/$cpu-$(basename "$zirk").txt" \
        "$data/$cpu-$(basename "$reference").txt"; then
      echo "Error: zirk and zirk-reference differ under $cpu on set $seed" >&2
      exit 1
    fi
    tests=$(awk -F'\t' 'NR > 3 && $4 == 1' "$data/$cpu-$(basename "$zirk").txt" | wc -l)
    echo "$cpu set $seed: identical, $tests interaction tests"
  done
done
