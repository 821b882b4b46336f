#!/usr/bin/env bash
# Opens report.html in headless Chromium: the page must load without console
# messages, every embedded figure must decode (the page's own script marks
# the body), the loci of loci.tsv must be listed with the figures of the
# drawn ones and every row of hits.tsv behind its locus. A screenshot is
# left in SCRATCH_DIR/page.png for a look by eye.
# Usage: report_browser_test.sh ZIRK_REPORT ZIRK EXAMPLES_DIR SCRATCH_DIR
set -euo pipefail
report=$1 zirk=$2 examples=$3 dir=$4
rm -rf "$dir" && mkdir -p "$dir" && cd "$dir"
# The examples as a data folder, its 15 SNPs 20 kb apart on one chromosome;
# their SNPs are not in LD, so r2 0 joins the hits of a pair into loci.
mkdir data
cp "$examples/genotype.txt" data/geno.txt
cp "$examples/expression.txt" data/expr.txt
cp "$examples/allele.txt" data/allele.txt
awk 'BEGIN { OFS = "\t"; print "index", "id", "chrom", "pos", "ref", "alt", "n0", "n1", "n2", "filled" }
  { print NR - 1, "rs" NR, 1, 20000 * NR, $1, $2, 20, 40, 20, 0 }' data/allele.txt >data/snps.tsv
awk 'BEGIN { OFS = "\t"; print "index", "id", "chrom", "start", "end"
  for (g = 0; g < 30; ++g) print g, "GENE" g, 1, 10000 * g, "NA" }' >data/genes.tsv
echo 0.05 | "$zirk" -g data/geno.txt -e data/expr.txt -a data/allele.txt \
  -o results.txt >/dev/null
"$report" --data data --top 60 --clump-r2 0 --plots 4 --out rep results.txt

browser() {
  timeout 120 chromium --headless --no-sandbox --disable-gpu \
    --disable-background-networking --disable-component-update --disable-sync \
    --no-first-run --user-data-dir="$(mktemp -d)" --enable-logging=stderr --v=0 \
    --virtual-time-budget=10000 "$@" "file://$PWD/rep/report.html"
}
browser --dump-dom >dom.html 2>console.log
browser --window-size=1200,2600 --screenshot="$PWD/page.png" >/dev/null 2>&1

status=0
fail() { echo "FAIL: $*" >&2; status=1; }
grep -q 'CONSOLE' console.log && fail "console messages:" "$(grep 'CONSOLE' console.log)"
grep -q '<body data-figures="decoded">' dom.html || fail "the figures did not all decode"
loci=$(($(wc -l <rep/loci.tsv) - 1))
((loci >= 5)) || fail "only $loci loci to show"
images=$(grep -o '<img class="figure"' dom.html | wc -l)
[[ $images == 7 ]] || fail "$images figures, want 3 and 4 loci"
for k in 1 2 3 4; do
  grep -q "<tr class=\"locus\" id=\"locus-$k\"><td>$k</td>" dom.html || fail "locus $k not listed"
  grep -q "alt=\"Locus $k: " dom.html || fail "no figure of locus $k"
done
grep -q "alt=\"Locus 5: " dom.html && fail "a figure beyond --plots"
[[ $(grep -o '<tr class="locus" ' dom.html | wc -l) == $((loci < 100 ? loci : 100)) ]] ||
  fail "the loci of loci.tsv not all listed"
hits=$(($(wc -l <rep/hits.tsv) - 1))
shown=$(grep -o '<tr class="hit">' dom.html | wc -l)
((hits > loci)) || fail "no locus of several hits"
[[ $shown == "$hits" ]] || fail "$shown hit rows on the page, hits.tsv has $hits"
first_it=$(awk -F'\t' 'NR == 2 { print $24 }' rep/hits.tsv)
grep -q "<td>$first_it</td>" dom.html || fail "top hit not on the page"
[[ $(head -c 8 page.png | od -An -tx1 | tr -d ' \n') == 89504e470d0a1a0a ]] || fail "no screenshot"
((status == 0)) && echo "the report page renders with its figures, $loci loci and $shown hits"
exit $status
