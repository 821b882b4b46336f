#!/usr/bin/env bash
# Writes OUT, an indexed BCF of VCF's variants (in REGION when given) and of
# the individuals zirk-import will keep, with INFO/HWE: the Hardy-Weinberg
# exact-test p-value of bcftools +fill-tags among those individuals, which
# zirk-import --hwe filters on. The individuals are those of the VCF whose ID
# is a word of EXPRESSION's header line (plain or gzip) and, when SAMPLES is
# given, a line of SAMPLES: the individuals zirk-import matches.
#
#   hwe_tags.sh VCF EXPRESSION SAMPLES|"" REGION|"" OUT
set -euo pipefail
if (($# != 5)); then
  echo "Usage: $0 VCF EXPRESSION SAMPLES|\"\" REGION|\"\" OUT" >&2
  exit 1
fi
vcf=$1 expression=$2 samples=$3 region=$4 out=$5
for f in "$vcf" "$expression" ${samples:+"$samples"}; do
  [[ -r $f ]] || { echo "Error: $f: cannot open" >&2; exit 1; }
done
work=$(mktemp -d "${out%/*}/.hwe.XXXXXX")
trap 'rm -rf "$work"' EXIT
# head ends the pipe early, so gzip's SIGPIPE is no failure.
header=$(gzip -cdf -- "$expression" | head -n 1 || true)
tr -d '\r' <<<"$header" | tr -s ' \t' '\n\n' | sort -u >"$work/expression"
if [[ -n $samples ]]; then
  tr -d '\r' <"$samples" | sort -u | comm -12 - "$work/expression" >"$work/words"
else
  mv "$work/expression" "$work/words"
fi
bcftools query -l "$vcf" | grep -Fxf "$work/words" >"$work/samples" || {
  echo "Error: $vcf: no individual in both the VCF and $expression" >&2
  exit 1
}
bcftools view ${region:+-r "$region"} -S "$work/samples" -Ou "$vcf" |
  bcftools +fill-tags -Ob -o "$work/out.bcf" -- -t HWE
bcftools index "$work/out.bcf"
mv "$work/out.bcf.csi" "$out.csi"
mv "$work/out.bcf" "$out"
