#!/usr/bin/env bash
# zirk-report's loci on a region of the real example data, against an
# independent clumping (report_loci_check.py, numpy's r^2 and the greedy
# rule). Every SNP of the region is added twice more: once as the same SNP
# on another chromosome (every pair with hits then has hits on two
# chromosomes, which must stay apart), once on its own chromosome one base
# before itself (a tie in p inside a locus, where the SNP with the smaller
# index leads although it lies further right). The hits of zirk and
# zirk-corr are clumped at two settings and with strata, whose figures
# have a table of the strata's cells; a data folder without genotypes
# forms no loci, and bad options stop with one Error: line.
# Usage: report_loci_test.sh ZIRK_REPORT ZIRK ZIRK_CORR ZIRK_IMPORT PYTHON
#        SOURCE EXAMPLE_DATA SCRATCH
set -euo pipefail
report=$1 zirk=$2 corr=$3 import=$4 python=$5 source=$6 example=$7 dir=$8
check="$python $source/tests/report_loci_check.py"
"$source/tools/example-data.sh" "$example" >/dev/null
rm -rf "$dir" && mkdir -p "$dir" && cd "$dir"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

zcat "$example/genes.50percent.chr22.bed.gz" | awk 'NR > 1 && NR <= 9 { print $4 }' >genes.txt
"$import" --vcf "$example/genotypes.chr22.vcf.gz" \
  --expression "$example/genes.50percent.chr22.bed.gz" \
  --region chr22:20100000-20250000 --genes genes.txt --out imp 2>import.log ||
  { cat import.log >&2; exit 1; }

mkdir data
cp imp/expr.txt imp/genes.tsv imp/samples.txt data/
snps=$(($(wc -l <imp/snps.tsv) - 1))
awk -F'\t' -v OFS='\t' -v n="$snps" '
  NR == 1 { print; next }
  { row[NR - 1] = $0; print }
  END {
    for (copy = 1; copy <= 2; ++copy)
      for (s = 1; s <= n; ++s) {
        split(row[s], f, "\t")
        f[1] += copy * n
        f[2] = f[2] (copy == 1 ? "_other" : "_left")
        if (copy == 1) f[3] = "chr21"
        else f[4] -= 1
        line = f[1]
        for (k = 2; k <= length(f); ++k) line = line OFS f[k]
        print line
      }
  }' imp/snps.tsv >data/snps.tsv
cat imp/allele.txt imp/allele.txt imp/allele.txt >data/allele.txt
awk '{ print $0 "\t" $0 "\t" $0 }' imp/geno.txt >data/geno.txt

echo 0.05 | "$zirk" -g data/geno.txt -e data/expr.txt -a data/allele.txt -o it.txt >/dev/null
"$corr" -d data -o corr.tsv

"$report" --data data --top 300 --out rep it.txt corr.tsv
$check data rep 1000 0.2 10 cases || fail "loci at the defaults"
"$report" --data data --top 300 --clump-kb 20 --clump-r2 0.6 --plots 2 \
  --out narrow it.txt corr.tsv
$check data narrow 20 0.6 2 || fail "loci at 20 kb, r2 0.6, 2 figures"
cmp -s <(cut -f 1-3 rep/loci.tsv) <(cut -f 1-3 narrow/loci.tsv) &&
  fail "the clumping options change nothing"

# With strata (the samples' ID prefixes as two groups) the same loci, and
# each figure grows the table of the strata's cells.
mkdir strata && cp data/* strata/
cut -c 1-2 data/samples.txt >strata/strata.txt
"$corr" -d strata -o corr-strata.tsv
"$report" --data strata --top 300 --plots 2 --out by-strata it.txt corr-strata.tsv
$check strata by-strata 1000 0.2 2 || fail "loci with strata"
png_height() { od -An -tu1 -j 20 -N 4 "$1" | awk '{ print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4 }'; }
first=$(awk -F'\t' '$2 == "it" { print $1; exit }' by-strata/loci.tsv)
(($(png_height by-strata/locus_$first.png) > $(png_height rep/locus_$first.png))) ||
  fail "the figure of locus $first has no table of strata"
it_loci() { awk -F'\t' '$2 == "it"' "$1"; }
cmp -s <(it_loci rep/loci.tsv) <(it_loci by-strata/loci.tsv) ||
  fail "strata changed the IT loci"
cmp -s corr.tsv corr-strata.tsv && fail "strata changed no trend or het row"

# Tables without genotypes: the hits stand alone and no locus is claimed.
mkdir tables && cp data/snps.tsv data/genes.tsv tables/
"$report" --data tables --top 30 --out alone it.txt
[[ -e alone/loci.tsv ]] && fail "loci without genotypes"
grep -q '"loci": null' alone/summary.json || fail "summary.json claims loci"
[[ $(awk -F'\t' 'NR == 1 { for (i = 1; i <= NF; ++i) if ($i == "locus") c = i }
  NR > 1 { print $c }' alone/hits.tsv | sort -u) == NA ]] || fail "locus column without genotypes"

check_error() {  # check_error MESSAGE ARGS...
  local want=$1 got status=0
  got=$("$report" "${@:2}" 2>&1 >/dev/null) || status=$?
  [[ $status == 1 ]] || fail "exit status $status for ${*:2}"
  [[ $got == "$want" ]] || fail "message for ${*:2}: got '$got', want '$want'"
}
check_error "Error: --clump-r2: not a number in [0, 1]: 1.5" --clump-r2 1.5 --out e1 it.txt
check_error "Error: --clump-kb: not a whole number: 1e3" --clump-kb 1e3 --out e2 it.txt
check_error "Error: --plots: not a whole number: -1" --plots -1 --out e3 it.txt
ls -d e[0-9]* >/dev/null 2>&1 && fail "a failed run left a report folder"

if ((failures > 0)); then
  exit 1
fi
echo "the report's loci agree with the direct clumping"
