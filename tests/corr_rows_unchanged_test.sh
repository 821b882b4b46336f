#!/usr/bin/env bash
# zirk-corr's rows without strata, byte for byte those of the build before
# strata existed, on a small piece of the real example data (ten genes
# against eleven SNPs, some with a class below 20), at the default minimum
# class size and at 4, with one and two threads, from files and from a
# data folder. That build weighted by Bonett and Wright's variance alone,
# which --variance normal keeps; the default since also takes each pair's
# own variance where larger, which changes the rows of pairs far from a
# bivariate normal (most of these), so the rows are compared under
# --variance normal.
#
# tests/data/corr_rows/ was made as follows: geno.txt and allele.txt by
#   zirk-import --vcf genotypes.chr22.vcf.gz \
#     --expression genes.50percent.chr22.bed.gz -r chr22:30000000-30010000 \
#     --genes <the first 24 genes of the BED> --out imp
# (tools/example-data.sh's files), expr.txt the first ten lines of
# imp/expr.txt; rows.tsv and rows_m4.tsv by zirk-corr built (Release) from
# commit caefb91, the last one before corr/stratified_tests.cc, as
#   zirk-corr -g geno.txt -e expr.txt -a allele.txt [-m 4] -o FILE
#
# Usage: corr_rows_unchanged_test.sh ZIRK_CORR SOURCE_DIR SCRATCH
set -euo pipefail
corr=$1
golden=$2/tests/data/corr_rows
dir=$3
rm -rf "$dir" && mkdir -p "$dir" && cd "$dir"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

in=(-g "$golden/geno.txt" -e "$golden/expr.txt" -a "$golden/allele.txt" -V normal)
mkdir data && cp "$golden"/{geno,expr,allele}.txt data/
for threads in 1 2; do
  "$corr" "${in[@]}" -t $threads -o rows.tsv
  cmp rows.tsv "$golden/rows.tsv" || fail "rows with $threads threads"
  "$corr" "${in[@]}" -t $threads -m 4 -o rows_m4.tsv
  cmp rows_m4.tsv "$golden/rows_m4.tsv" || fail "rows at -m 4 with $threads threads"
done
"$corr" -d data -V normal -o - | cmp - "$golden/rows.tsv" || fail "rows from a data folder"
if ((failures > 0)); then
  exit 1
fi
echo "zirk-corr's rows without strata are those of the build before strata"
