#!/usr/bin/env bash
# zirk-corr's own summary and its designs end to end:
# - --summary against zirk-report --summary of the same run's rows (cmp),
#   with one and two threads, NA rows, rare and empty classes, a small
#   --max-hits (candidates cut), a SNP offset, and SNP shards whose merged
#   summaries equal the whole one; SNPs with the same classes, which a
#   summary without rows computes once;
# - --max-p rows against a filter of all rows;
# - --cis-window and --anchors on real example data (positions from the
#   import) against a filter of the all-pairs rows: the same pairs, in the
#   same order, with the same values (the Gram products of a design's other
#   shape may round a correlation's last bit differently, so values may
#   differ by one unit of their sixth decimal), and their summaries against
#   zirk-report's;
# - bad designs: one Error: line naming the file (and line), nothing written.
# Usage: corr_summary_test.sh ZIRK_CORR ZIRK_REPORT ZIRK_SIMULATE ZIRK_IMPORT SOURCE SCRATCH
set -euo pipefail
corr=$1 report=$2 simulate=$3 import=$4 source=$5 dir=$6
rm -rf "$dir" && mkdir -p "$dir" && cd "$dir"
export OPENBLAS_NUM_THREADS=1
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
same() { cmp -s "$1" "$2" || fail "$1 and $2 differ"; }

"$simulate" --seed 5 --individuals 90 --snps 9 --genes 70 --rare 3 \
  --constant-genes 2 --zeros 2 --negatives 2 --out sim >/dev/null
in=(-g sim/genotype.txt -e sim/expression.txt -a sim/allele.txt)
for t in 1 2; do
  for hits in 100000 40; do
    "$corr" "${in[@]}" -t $t --max-hits $hits --snp-offset 3 -o rows.$t.$hits -s sum.$t.$hits
    "$report" --summary ref.$t.$hits --max-hits $hits rows.$t.$hits
    same sum.$t.$hits ref.$t.$hits
  done
done
same rows.1.40 rows.2.40
grep -q $'\tNA\tNA$' rows.1.40 || fail "no row without values"
# Shards of 4 and 5 SNPs, summarised by zirk-corr and merged by zirk-report.
for shard in "0 4" "4 5"; do
  read -r first size <<<"$shard"
  "$source/workflow/scripts/shard_inputs.sh" sim/genotype.txt sim/allele.txt \
    "$first" "$size" geno.$first allele.$first
  "$corr" -g geno.$first -e sim/expression.txt -a allele.$first --max-hits 40 \
    --snp-offset $((first + 3)) -s shard.$first
done
"$report" --summary merged --max-hits 40 shard.0 shard.4
same merged sum.1.40
# Rows only, summary only, and --max-p.
# A summary alone takes whole SNPs per thread.
for t in 1 2; do
  "$corr" "${in[@]}" -t $t -s only.$t --max-hits 40 --snp-offset 3
  same only.$t sum.1.40
done
"$corr" "${in[@]}" --snp-offset 3 -t 2 -p 0.01 -o maxp.rows
awk -F'\t' -v t="$(awk 'BEGIN { print log(0.01) / log(10) }')" \
  'NR == 1 || ($10 != "NA" && $10 + 0 <= t) || ($11 != "NA" && $11 + 0 <= t)' \
  rows.1.40 >maxp.expected
same maxp.rows maxp.expected
[[ $(wc -l <maxp.rows) -gt 1 ]] || fail "--max-p kept no row"
# SNPs with the same classes, computed once in a summary without rows:
# exact copies (one before its original), a copy under other allele letters,
# a copy with the other allele as reference (classes 0 and 2 swapped, a
# SNP of its own), with and without strata, one and two threads, and few
# candidates; against the summary of the same run with rows.
awk '{ n = split("0 1 2 3 7 4 5 6 7 8 2 5 2 0", order, " ")
       for (j = 1; j <= n; j++) {
         a = $(2 * order[j] + 1); b = $(2 * order[j] + 2)
         if (j == 12) { a = tr(a); b = tr(b) }
         printf "%s %s ", a, b }
       print "" }
     function tr(x) { return x == "A" ? "C" : x == "C" ? "G" : x == "G" ? "T" : "A" }' \
  sim/genotype.txt >copies.geno
awk '{ line[NR - 1] = $0 }
     END { n = split("0 1 2 3 7 4 5 6 7 8 2 5 2 0", order, " ")
           for (j = 1; j <= n; j++) {
             split(line[order[j]], f, " ")
             if (j == 12) { f[1] = tr(f[1]); f[2] = tr(f[2]) }
             print (j == 13 ? f[2] " " f[1] : f[1] " " f[2]) } }
     function tr(x) { return x == "A" ? "C" : x == "C" ? "G" : x == "G" ? "T" : "A" }' \
  sim/allele.txt >copies.allele
awk '{ print NR % 3 ? "north" : "south" }' sim/genotype.txt >copies.strata
copies=(-g copies.geno -e sim/expression.txt -a copies.allele --max-hits 3 --snp-offset 2)
for strata in "" "-S copies.strata -m 10"; do
  for t in 1 2; do
    # shellcheck disable=SC2086
    "$corr" "${copies[@]}" $strata -t $t -s copies.once
    # shellcheck disable=SC2086
    "$corr" "${copies[@]}" $strata -t $t -o copies.rows -s copies.each
    same copies.once copies.each
  done
done
[[ $(cut -f1 copies.rows | sort -u | wc -l) -eq 15 ]] || fail "copies: not 14 SNPs of rows"

# The designs on real data.
"$source/tools/example-data.sh" example >/dev/null
"$import" --vcf example/genotypes.chr22.vcf.gz \
  --expression example/genes.50percent.chr22.bed.gz \
  -r chr22:30000000-30004000 --out ex >/dev/null 2>&1
"$corr" -d ex -o all.rows
"$corr" -d ex -w 250000 -t 2 -o cis.rows -s cis.sum
"$report" --summary cis.ref cis.rows
same cis.sum cis.ref
"$corr" -d ex -w 250000 -t 2 -s cis.only
same cis.only cis.ref
python3 - ex all.rows cis.rows anchors.tsv <<'PY' || fail "designs against the all-pairs rows"
import random, sys
folder, all_rows, cis_rows, anchors = sys.argv[1:]
table = lambda name: [l.rstrip("\n").split("\t") for l in open(f"{folder}/{name}")][1:]
snps, genes = table("snps.tsv"), table("genes.tsv")
def near(s, g):
    if genes[g][2] != snps[s][2] or "NA" in (snps[s][3], genes[g][3]):
        return False
    return abs(int(snps[s][3]) - int(genes[g][3])) <= 250000
def close(a, b):
    if a[:6] != b[:6]:
        return False
    for x, y in zip(a[6:], b[6:]):
        if x != y and (x == "NA" or y == "NA" or abs(float(x) - float(y)) > 1.5e-6):
            return False
    return True
def check(rows, wanted, name):
    expected = [l.split("\t") for l in open(rows).readlines()[1:]]
    expected = [f for f in expected if wanted(*map(int, f[:3]))]
    got = [l.split("\t") for l in open(name).readlines()[1:]]
    assert len(got) == len(expected) > 0, (name, len(got), len(expected))
    assert all(close(a, b) for a, b in zip(got, expected)), name
check(all_rows, lambda s, a, b: near(s, a) or near(s, b), cis_rows)
random.seed(3)
pairs = {(s, g) for s in range(len(snps)) for g in random.sample(range(len(genes)), 2)}
with open(anchors, "w") as f:
    for s, g in sorted(pairs):
        f.write(f"{snps[s][1]}\t{genes[g][1]}\n")
    f.write("rs_unknown\t" + genes[0][1] + "\n")
    f.write(snps[0][1] + "\tno_such_gene\n")
open("anchors.wanted", "w").write(repr(sorted(pairs)))
PY
"$corr" -d ex -A anchors.tsv -o anchors.rows -s anchors.sum 2>anchors.log
grep -q "anchors.tsv: 2 of .* lines left out: 1 name an unknown SNP ID, 1 an unknown gene ID" anchors.log ||
  fail "unknown IDs not reported: $(cat anchors.log)"
"$report" --summary anchors.ref anchors.rows
same anchors.sum anchors.ref
"$corr" -d ex -A anchors.tsv -t 2 -s anchors.only 2>/dev/null
same anchors.only anchors.ref
python3 - all.rows anchors.rows anchors.wanted <<'PY' || fail "anchors against the all-pairs rows"
import ast, sys
all_rows, name, wanted = sys.argv[1:]
pairs = set(ast.literal_eval(open(wanted).read()))
expected = [l.split("\t") for l in open(all_rows).readlines()[1:]]
expected = [f for f in expected
            if (int(f[0]), int(f[1])) in pairs or (int(f[0]), int(f[2])) in pairs]
got = [l.split("\t") for l in open(name).readlines()[1:]]
assert len(got) == len(expected) > 0
for a, b in zip(got, expected):
    assert a[:6] == b[:6]
    assert all(x == y or abs(float(x) - float(y)) <= 1.5e-6
               for x, y in zip(a[6:], b[6:]) if "NA" not in (x, y))
PY

# Bad designs: the error word for word, nothing written.
error_is() {
  local expected=$1
  shift
  rm -f bad.rows bad.sum
  local got
  got=$("$corr" -d ex "$@" -o bad.rows -s bad.sum 2>&1) && fail "no error from $*"
  [[ $got == "$expected" ]] || fail "$*: got '$got', expected '$expected'"
  [[ ! -e bad.rows && ! -e bad.sum ]] || fail "$*: output left behind"
}
printf 'rs_unknown\tG\n' >unknown.tsv
error_is "Error: unknown.tsv: line 1: unknown SNP ID 'rs_unknown' (no line names a known SNP and gene of ex; the design tests no pair)" -A unknown.tsv
printf '%s\t%s\nonly-one-field\n' "$(sed -n 2p ex/snps.tsv | cut -f2)" "$(sed -n 2p ex/genes.tsv | cut -f2)" >malformed.tsv
error_is "Error: malformed.tsv: line 2: expected SNP_ID<TAB>GENE_ID" -A malformed.tsv
cp -r ex unplaced
awk -F'\t' 'BEGIN { OFS = "\t" } NR > 1 { $4 = "NA" } 1' ex/genes.tsv >unplaced/genes.tsv
rm -f bad.rows
got=$("$corr" -d unplaced -w 1000 -o bad.rows 2>&1) && fail "no error without positions"
[[ $got == "Error: unplaced/genes.tsv: no gene has a start; --cis-window needs them" ]] ||
  fail "no positions: got '$got'"
[[ ! -e bad.rows ]] || fail "no positions: output left behind"

((failures == 0)) || exit 1
echo "corr_summary_test: all checks passed"
