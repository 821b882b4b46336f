#!/usr/bin/env bash
# zirk-report's trend and het families and its hit diagnosis end to end:
# the families against a direct BH and a direct empirical FDR with the run
# gate, SNP shards of zirk-corr's rows merged through summaries, every hit's
# diagnosis against scipy (report_corr_check.py), and the new errors word
# for word.
# Usage: report_corr_test.sh ZIRK_REPORT ZIRK ZIRK_SIMULATE PYTHON SOURCE SCRATCH
set -euo pipefail
report=$1 zirk=$2 simulate=$3 python=$4 source=$5 dir=$6
check="$python $source/tests/report_corr_check.py"
rm -rf "$dir" && mkdir -p "$dir" && cd "$dir"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
run() { "$report" "$@" 2>>stderr.log || fail "zirk-report $*"; }

# Rare classes (some empty) and a constant gene reach the diagnosis' edges.
"$simulate" --seed 11 --individuals 70 --snps 8 --genes 12 --plant 2 --rare 3 \
  --constant-genes 1 --out sim >/dev/null
mkdir data
cp sim/genotype.txt data/geno.txt
cp sim/expression.txt data/expr.txt
cp sim/allele.txt data/allele.txt
awk 'BEGIN { OFS = "\t"; print "index", "id", "chrom", "pos", "ref", "alt", "n0", "n1", "n2", "filled"
  for (s = 0; s < 8; ++s) print s, "rs" s, 1, 100 * (s + 1), "A", "G", 20, 30, 20, 0 }' >data/snps.tsv
awk 'BEGIN { OFS = "\t"; print "index", "id", "chrom", "start", "end"
  for (g = 0; g < 12; ++g) print g, "GENE" g, 1, 50 * g, "NA" }' >data/genes.tsv
echo 0.05 | "$zirk" -g data/geno.txt -e data/expr.txt -a data/allele.txt -o it.txt >/dev/null
$check rows 1 8 12 corr.tsv
for k in 1 2 3; do $check rows $((k + 1)) 8 12 weak$k.tsv weak; done

# Benjamini-Hochberg, and every hit diagnosed.
run --data data --fdr 0.2 --out bh it.txt corr.tsv
$check check bh data 0.2 corr.tsv || fail "BH families or diagnosis"
grep -q '"diagnosis": true' bh/summary.json || fail "diagnosis not recorded"
for f in qq_trend.png qq_het.svg report.html; do [[ -s bh/$f ]] || fail "bh/$f missing"; done

# SNP shards from 0 with their offsets (one gzip, one piped), merged.
{ head -n 1 corr.tsv; awk -F'\t' 'NR > 1 && $1 < 3' corr.tsv; } >part1.tsv
{ head -n 1 corr.tsv; awk -F'\t' -v OFS='\t' 'NR > 1 && $1 >= 3 { $1 -= 3; print }' corr.tsv; } |
  gzip -c >part2.tsv.gz
run --summary p1.sum part1.tsv
"$report" --summary p2.sum --snp-offset 3 - <part2.tsv.gz || fail "piped shard"
run --summary merged.sum p2.sum p1.sum
head -n 1 merged.sum | grep -qx 'ZIRK-CORR-SUMMARY 1' || fail "summary magic"
run --summary whole.sum corr.tsv
cmp -s merged.sum whole.sum || fail "merged shards differ from the whole's summary"
run --data data --fdr 0.2 --out merged it.txt merged.sum
diff -r -x provenance.json bh merged >/dev/null || fail "report from shard summaries differs"

# Permuted runs: weak ones open the gate, the real rows as their own
# permutations keep it shut.
nulls=()
for k in 1 2 3; do
  run --summary weak$k.sum weak$k.tsv
  nulls+=(--null weak$k.sum)
done
run --data data --fdr 0.5 "${nulls[@]}" --out efdr it.txt corr.tsv
$check check efdr data 0.5 corr.tsv weak1.tsv weak2.tsv weak3.tsv || fail "empirical FDR"
grep -q '"trend": {[^}]*"best_row_permutation_p": 0.25}' efdr/summary.json || fail "open gate"
run --fdr 0.5 --null whole.sum --null whole.sum --null whole.sum --out shut it.txt corr.tsv
$check check shut - 0.5 corr.tsv corr.tsv corr.tsv corr.tsv || fail "closed gate"
[[ $(awk -F'\t' 'NR == 1 { for (i = 1; i <= NF; ++i) if ($i == "family") c = i }
  NR > 1 && $c != "it"' shut/hits.tsv | wc -l) == 0 ]] || fail "hits behind a closed gate"

# --top takes the N smallest of each family.
run --top 7 --out top it.txt corr.tsv
[[ $(cut -f 26 top/hits.tsv | sort | uniq -c | awk '{ printf "%s%s ", $2, $1 }') == "family1 het7 it7 trend7 " ]] ||
  fail "--top per family"

# Errors: one line, exit 1.
check_error() {  # check_error MESSAGE ARGS...
  local want=$1 got status=0
  got=$("$report" "${@:2}" 2>&1 >/dev/null) || status=$?
  [[ $status == 1 ]] || fail "exit status $status for ${*:2}"
  [[ $got == "$want" ]] || fail "message for ${*:2}: got '$got', want '$want'"
}
{ head -n 2 corr.tsv; printf '0\t1\t1\t3\t3\t3\tNA\tNA\tNA\tNA\tNA\n'; } >bad.tsv
{ head -n 3 corr.tsv; printf '0\t1\t2\t3'; } >torn.tsv
head -n 50 corr.tsv >short.tsv && run --summary short.sum short.tsv
head -n 5 whole.sum >cut.sum
mkdir partial && cp data/snps.tsv data/genes.tsv data/geno.txt partial/
mkdir ragged && cp data/* ragged/ && sed -i '3s/ [^ ]*$//' ragged/expr.txt
check_error "Error: --summary: the rows of zirk and of zirk-corr go to summaries of their own" \
  --summary x.sum it.txt corr.tsv
check_error "Error: corr.tsv: --null needs a summary file, not a result file" \
  --out e1 --null corr.tsv it.txt corr.tsv
check_error "Error: whole.sum: a permuted run of zirk-corr without its real run among the inputs" \
  --out e2 --null whole.sum it.txt
check_error "Error: --null: a permuted run of zirk-corr must have the number of rows of the real run" \
  --fdr 0.5 --out e3 --null short.sum it.txt corr.tsv
check_error "Error: bad.tsv: line 3: malformed row" --out e4 bad.tsv
check_error "Error: torn.tsv: line 4: torn row at the end of the file" --out e5 torn.tsv
check_error "Error: cut.sum: line 5: missing end line (truncated file?) in the summary" --out e6 cut.sum
check_error "Error: partial/allele.txt: cannot open" --data partial --out e7 it.txt corr.tsv
check_error "Error: ragged/expr.txt: line 3: 69 values for 70 individuals" \
  --data ragged --top 200 --out e8 it.txt corr.tsv
ls -d e[0-9]* >/dev/null 2>&1 && fail "a failed run left a report folder"

if ((failures > 0)); then
  cat stderr.log >&2
  exit 1
fi
echo "all zirk-report family checks passed"
