#!/usr/bin/env bash
# Runs zirk-corr natively and under user-mode emulation of a processor
# without AVX (Nehalem), where the vector logarithms and erfc take their
# two-lane path instead of the four-lane AVX2 one, on a small simulated data
# set with rare SNPs. The two may differ in a value's last bits, so the rows
# must agree exactly in their counts and NA places and to within one unit of
# the sixth decimal in every value. Under emulation, one and two threads must
# still give identical files.
#
# OpenBLAS picks its kernels by the processor unless OPENBLAS_CORETYPE names
# one, and some machines set it for their own processor: inside the emulated
# Nehalem that would run AVX kernels and die. The emulated runs name the
# emulated core and drop the cache-size hint, whatever the machine set.
#
# Usage: corr_cpu_emulation_test.sh ZIRK_CORR ZIRK_SIMULATE WORKDIR
set -euo pipefail
corr=$1 simulate=$2 work=$3
if ! command -v qemu-x86_64 >/dev/null; then
  echo "Error: qemu-x86_64 not found; tools/setup.sh installs qemu-user" >&2
  exit 1
fi
rm -rf "$work"
mkdir -p "$work"
"$simulate" --seed 17 --individuals 200 --snps 8 --genes 60 --plant 2 \
  --rare 2 --out "$work/data" >/dev/null
inputs=(-g "$work/data/genotype.txt" -e "$work/data/expression.txt"
  -a "$work/data/allele.txt")
"$corr" "${inputs[@]}" -o "$work/native.tsv"
for threads in 1 2; do
  env -u OPENBLAS_L2_SIZE OPENBLAS_CORETYPE=Nehalem \
    qemu-x86_64 -cpu Nehalem "$corr" "${inputs[@]}" -t "$threads" \
    -o "$work/nehalem-$threads.tsv"
done
if ! cmp "$work/nehalem-1.tsv" "$work/nehalem-2.tsv"; then
  echo "Error: 1 and 2 threads differ under Nehalem" >&2
  exit 1
fi
paste "$work/native.tsv" "$work/nehalem-1.tsv" | awk -F'\t' '
  function fail(why) { print "Error: row " NR ": " why; bad = 1; exit }
  NF != 22 { fail(NF " fields side by side") }
  {
    for (i = 1; i <= 11; ++i) {
      a = $i; b = $(i + 11)
      if (NR == 1 || i <= 6) {
        if (a != b) fail("field " i " is " a " natively, " b " under Nehalem")
      } else if ((a == "NA") != (b == "NA") ||
                 (a != "NA" && (a - b > 1.5e-6 || b - a > 1.5e-6))) {
        fail("field " i " is " a " natively, " b " under Nehalem")
      } else if (a != b) {
        ++differ
      }
    }
  }
  END {
    if (bad) exit 1
    printf "%d rows agree; %d values differ in the last digit\n", NR - 1, differ
  }'
