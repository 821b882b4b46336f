#!/usr/bin/env bash
# Cuts one shard of SNPs out of an imported data folder's genotype and allele
# files: SIZE SNPs from FIRST on, fewer at the end. The importer writes four
# characters per SNP on every genotype line (allele, space, allele, space;
# the last SNP's second allele ends the line), so SNPs [first, first + count)
# are the line's characters 4·first + 1 to 4·(first + count) − 1, and a line
# of its own is a valid genotype line.
#
#   shard_inputs.sh GENO ALLELE FIRST SIZE OUT_GENO OUT_ALLELE
set -euo pipefail
geno=$1 allele=$2 first=$3 size=$4 out_geno=$5 out_allele=$6
snps=$(wc -l <"$allele")
count=$((snps - first < size ? snps - first : size))
if ((count < 1)); then
  echo "Error: $allele holds $snps SNPs, none from SNP $first on" >&2
  exit 1
fi
cut -c "$((4 * first + 1))-$((4 * (first + count) - 1))" "$geno" >"$out_geno.tmp"
sed -n "$((first + 1)),$((first + count))p" "$allele" >"$out_allele.tmp"
mv "$out_geno.tmp" "$out_geno"
mv "$out_allele.tmp" "$out_allele"
