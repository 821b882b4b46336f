#!/usr/bin/env bash
# zirk-report end to end on a simulated screen: compressed and piped input,
# several result files, SNP shards through summaries, permuted runs, and
# every user-facing error word for word.
# Usage: report_cli_test.sh ZIRK_REPORT ZIRK ZIRK_SIMULATE SCRATCH_DIR
set -euo pipefail
report=$1 zirk=$2 simulate=$3 dir=$4
rm -rf "$dir" && mkdir -p "$dir" && cd "$dir"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

"$simulate" --seed 3 --individuals 80 --snps 15 --genes 30 --plant 2 --rare 3 \
  --out sim >/dev/null
echo 0.05 | "$zirk" -g sim/genotype.txt -e sim/expression.txt -a sim/allele.txt \
  -o whole.txt >/dev/null
rows() { tail -n +4 whole.txt; }
head3() { head -n 3 whole.txt; }

# A data folder by hand: SNP 13 has a class of three individuals; SNP s
# had s % 4 calls filled.
mkdir data
awk 'BEGIN { OFS = "\t"; print "index", "id", "chrom", "pos", "ref", "alt", "n0", "n1", "n2", "filled"
  for (s = 0; s < 15; ++s) {
    n2 = s == 13 ? 3 : 20
    print s, "rs" 1000 + s, 1 + int(s / 8), 10000 * (s + 1), "A", "G", 30, 50 - n2, n2, s % 4
  } }' >data/snps.tsv
awk 'BEGIN { OFS = "\t"; print "index", "id", "chrom", "start", "end"
  for (g = 0; g < 30; ++g) print g, "GENE" g, 1 + g % 3, 500 * g, "NA" }' >data/genes.tsv

run() { "$report" "$@" 2>>stderr.log || fail "zirk-report $*"; }
like_ref() {  # like_ref OUT ARGS...: the report of ARGS in OUT is ref's but for provenance
  run --data data --out "$1" "${@:2}"
  diff -r -x provenance.json ref "$1" >/dev/null || fail "$1: differs from ref"
}

run --data data --out ref whole.txt
[[ $(wc -l <ref/hits.tsv) -ge 2 ]] || fail "no hits in the reference report"
for f in hits.tsv summary.json report.html qq_mc.png qq_mc.svg qq_it.png qq_it.svg \
  snp_best_it.png snp_best_it.svg provenance.json; do
  [[ -s ref/$f ]] || fail "ref/$f missing"
done
grep -q '"passed_mc_rows_at_small_class_snps": [1-9]' ref/summary.json ||
  fail "rows at the SNP with a small class not counted"

# Compressed and piped input give the report of the plain file.
gzip -c whole.txt >whole.txt.gz
zstd -q -c whole.txt >whole.txt.zst
like_ref gz whole.txt.gz
like_ref zst whole.txt.zst
like_ref piped - <whole.txt

# Two result files form one family: the report of their concatenation.
{ head3; rows | awk -F'\t' '$1 < 7'; } >first.txt
{ head3; rows | awk -F'\t' '$1 >= 7'; } >second.txt
like_ref two first.txt second.txt
# Summaries that share SNPs (rows split by gene) merge each SNP's best row.
{ head3; rows | awk -F'\t' '$2 < 12'; } >genes1.txt
{ head3; rows | awk -F'\t' '$2 >= 12'; } >genes2.txt
run --summary genes1.sum genes1.txt
run --summary genes2.sum genes2.txt
like_ref by-gene genes2.sum genes1.sum

# SNP shards numbered from 0, summarised with their offsets (one of them
# zstd-compressed and with fewer kept candidates), then merged.
{ head3; rows | awk -F'\t' -v OFS='\t' '$1 >= 7 { $1 -= 7; print }'; } >shard2.txt
zstd -q -c shard2.txt >shard2.txt.zst
run --summary s1.sum first.txt
run --summary s2.sum --max-hits 20 --snp-offset 7 shard2.txt.zst
run --summary merged.sum s1.sum s2.sum
"$report" --summary - s2.sum s1.sum | cmp -s - merged.sum || fail "summary on standard output"
head -n 1 merged.sum | grep -qx 'ZIRK-REPORT-SUMMARY 1' || fail "summary magic"
like_ref from-summary merged.sum
like_ref mixed s1.sum --snp-offset 7 shard2.txt

# A permuted run equal to the real one: every empirical FDR and per-SNP
# permutation p-value is 1, and with no nulls the columns are absent.
run --summary real.sum whole.txt
run --data data --top 3 --null real.sum --null real.sum --out perm whole.txt
head -n 1 perm/hits.tsv | grep -q $'q_bh\tempirical_fdr\tsnp_permutation_p\tfamily\t' ||
  fail "permutation columns missing"
[[ $(awk -F'\t' 'NR > 1 && $26 == 1 && $27 == 1' perm/hits.tsv | wc -l) == 3 ]] ||
  fail "empirical FDR of an identical null"
grep -q '"permutations": {"runs": 2, "lambda_mc": \[' perm/summary.json || fail "null lambda"
head -n 1 ref/hits.tsv | grep -q 'empirical' && fail "K = 0 report has permutation columns"

# Null runs whose IT p-values are all 1: the data's best row beats 19 of them
# and every row with p < 1 is a hit; 18 cannot reach --fdr 0.05 and say so;
# one null with a single p = 0 row closes the gate although the empirical FDR
# of the other rows stays below 0.05.
awk -F'\t' -v OFS='\t' 'NR > 3 && $4 == 1 { $7 = "0.000000" } 1' whole.txt >weak.txt
awk -F'\t' -v OFS='\t' 'NR > 3 && $4 == 1 && !done++ { $7 = "-inf" } 1' weak.txt >strong.txt
run --summary weak.sum weak.txt
run --summary strong.sum strong.txt
weak18=() && for _ in $(seq 18); do weak18+=(--null weak.sum); done
below_1=$(awk -F'\t' 'NR > 3 && $4 == 1 && ($7 == "-inf" || $7 + 0 < 0)' whole.txt | wc -l)
run --out gate19 "${weak18[@]}" --null weak.sum whole.txt
[[ $(($(wc -l <gate19/hits.tsv) - 1)) == "$below_1" ]] || fail "hits behind an open gate"
grep -q '"best_row_permutation_p": 0.05}' gate19/summary.json || fail "open gate's p-value"
got=$("$report" --out gate18 "${weak18[@]}" whole.txt 2>&1 >/dev/null)
[[ $got == "Warning: 18 permuted runs cannot select hits at --fdr 0.05; it takes at least 19" ]] ||
  fail "warning for too few permutations: '$got'"
run --out closed "${weak18[@]}" --null strong.sum whole.txt
[[ $(wc -l <gate18/hits.tsv) == 1 && $(wc -l <closed/hits.tsv) == 1 ]] || fail "hits behind a closed gate"
grep -q '"best_row_permutation_p": 0.1}' closed/summary.json || fail "closed gate's p-value"

# Every MC p-value 0: lambda is infinite, which JSON has no number for.
{ head3; printf '0\t0\t1\t1\t-inf\t-3.000000\t-inf\n'; } >zero.txt
run --out zero zero.txt
grep -q '"lambda_mc": {"value": null, "rows": 1,' zero/summary.json || fail "lambda of p = 0"
[[ $(cut -f24,25 zero/hits.tsv | tail -n 1) == $'-inf\t0' ]] || fail "hit with p = 0"

# More rows qualify than --max-hits: the report lists the strongest, the rows
# --top lists, also from shard summaries that kept that many; standard
# error, summary.json and the page tell the true count. Summaries that kept
# fewer cannot stand in for them.
n_it=$(awk -F'\t' 'NR > 3 && $4 == 1' whole.txt | wc -l)
got=$("$report" --data data --fdr 1 --max-hits 10 --out capped whole.txt 2>&1 >/dev/null) ||
  fail "report with more hits than --max-hits"
[[ $got == "Warning: $n_it rows qualify as hits; the report lists the strongest 10 (--max-hits)" ]] ||
  fail "--max-hits warning: '$got'"
run --data data --top 10 --out top10 whole.txt
cmp -s capped/hits.tsv top10/hits.tsv || fail "capped hits are not the strongest rows"
grep -q "\"hits\": 10,\$" capped/summary.json && grep -q "\"hits_qualifying\": $n_it,\$" capped/summary.json ||
  fail "capped counts in summary.json"
grep -q "id=\"max-hits\">Warning: $n_it rows qualify" capped/report.html || fail "no --max-hits warning on the page"
grep -q 'id="max-hits"' top10/report.html && fail "--max-hits warning without a cap"
run --summary c1.sum --max-hits 10 first.txt
run --summary c2.sum --max-hits 10 --snp-offset 7 shard2.txt.zst
run --summary c2-5.sum --max-hits 5 --snp-offset 7 shard2.txt.zst
run --data data --fdr 1 --max-hits 10 --out capped-shards c2.sum c1.sum
diff -r -x provenance.json capped capped-shards >/dev/null || fail "capped report from shard summaries"

# Context and filled calls of every hit against a data folder by hand: SNP
# 3's position and gene 4's start unknown; with a 5 kb window SNPs 0 and 1 lie near genes of
# chromosome 1, the others far. Checked against distances recomputed here.
mkdir ctx
awk -F'\t' -v OFS='\t' 'NR == 5 { $4 = "NA" } 1' data/snps.tsv >ctx/snps.tsv
awk -F'\t' -v OFS='\t' 'NR == 6 { $4 = "NA" } 1' data/genes.tsv >ctx/genes.tsv
run --data ctx --top 300 --cis-window 5000 --out context whole.txt
awk -F'\t' '
  FILENAME == "ctx/snps.tsv" && FNR > 1 { chrom[$1] = $3; pos[$1] = $4; filled[$1] = $10; next }
  FILENAME == "ctx/genes.tsv" && FNR > 1 { gchrom[$1] = $3; start[$1] = $4; next }
  FNR == 1 { for (i = 1; i <= NF; ++i) col[$i] = i; next }
  function dist(s, g) {
    return pos[s] == "NA" || start[g] == "NA" || chrom[s] != gchrom[g] ? "NA" : pos[s] - start[g]
  }
  function near(d) { return d != "NA" && (d < 0 ? -d : d) <= 5000 }
  {
    s = $1; g1 = $col["gene1"]; g2 = $col["gene2"]
    d1 = dist(s, g1); d2 = dist(s, g2)
    ctx = near(d1) || near(d2) ? "cis" : pos[s] == "NA" || start[g1] == "NA" || start[g2] == "NA" ? "unknown" : "trans"
    if ($col["gene1_distance"] != d1 || $col["gene2_distance"] != d2 || $col["context"] != ctx ||
        $col["filled"] != filled[s]) {
      print "row " FNR ": " $col["gene1_distance"] " " $col["gene2_distance"] " " $col["context"] \
        " " $col["filled"] ", want " d1 " " d2 " " ctx " " filled[s]
      bad = 1
    }
    ++n[ctx]
  }
  END {
    if (n["cis"] == 0 || n["trans"] == 0 || n["unknown"] == 0) { print "not every context seen"; bad = 1 }
    printf "\"hit_context\": {\"window\": 5000, \"cis\": %d, \"trans\": %d, \"unknown\": %d}\n", \
      n["cis"], n["trans"], n["unknown"] >"context.want"
    exit bad
  }' ctx/snps.tsv ctx/genes.tsv context/hits.tsv || fail "distance, context or filled columns"
grep -qF "$(cat context.want)" context/summary.json || fail "hit_context counts in summary.json"
grep -q '<th>context</th>' context/report.html || fail "no context column on the page"

# Errors: one line, exit 1, no report folder (an old one stays untouched).
cp -r ref old && echo keep >old/file
printf 'hello\n' >not_result.txt
{ head -n 1 whole.txt; echo 'threshold = 0.010000'; tail -n +3 whole.txt; } >other_threshold.txt
mkdir small && head -n 11 data/snps.tsv >small/snps.tsv && cp data/genes.tsv small/
mkdir fewgenes && cp data/snps.tsv fewgenes/ && head -n 21 data/genes.tsv >fewgenes/genes.tsv
first_snp10=$(awk -F'\t' 'NR > 3 && $1 == 10 { print NR; exit }' whole.txt)
first_gene20=$(awk -F'\t' 'NR > 3 && $3 == 20 { print NR; exit }' whole.txt)
check_error() {  # check_error MESSAGE ARGS...
  local want=$1 got status=0
  got=$("$report" --out old "${@:2}" 2>&1 >/dev/null) || status=$?
  [[ $status == 1 ]] || fail "exit status $status for ${*:2}"
  [[ $got == "$want" ]] || fail "message for ${*:2}: got '$got', want '$want'"
  [[ $(cat old/file) == keep ]] && diff -r -x file ref old >/dev/null ||
    fail "old folder changed by ${*:2}"
  compgen -G '.old.*' >/dev/null && fail "half-written folder left by ${*:2}"
  return 0
}
check_error "Error: nosuch.txt: cannot open (No such file or directory)" nosuch.txt
check_error 'Error: not_result.txt: line 1: not a ZIRK result file (no "Results of ZIRK:" line)' not_result.txt
check_error 'Error: other_threshold.txt: line 2: threshold line "threshold = 0.010000" differs from "threshold = 0.050000" of the inputs before it' \
  whole.txt other_threshold.txt
check_error "Error: whole.txt: line $first_snp10: SNP index 10 beyond the 10 SNPs of small/snps.tsv" \
  --data small whole.txt
check_error "Error: whole.txt: line $first_gene20: gene index 20 beyond the 20 genes of fewgenes/genes.tsv" \
  --data fewgenes whole.txt
check_error "Error: 10 rows are to be listed, but the summaries kept only the best 5; summarise the shards with --max-hits 10 or more" \
  --fdr 1 --max-hits 10 c1.sum c2-5.sum
check_error "Error: merged.sum: SNP index 14 beyond the 10 SNPs of small/snps.tsv" \
  --data small merged.sum
check_error "Error: --snp-offset follows the last input; give it before the inputs it applies to" \
  whole.txt --snp-offset 7
check_error "Error: whole.txt: --null needs a summary file, not a result file" \
  --null whole.txt whole.txt

mkdir other && echo mine >other/notes.txt
check_other=$("$report" --out other whole.txt 2>&1) && fail "replaced a folder of other files"
[[ $check_other == "Error: other: exists and is not a zirk-report folder; not replacing it" &&
  $(cat other/notes.txt) == mine ]] || fail "other folder: $check_other"

# Input names with control characters, a quote and a backslash reach
# provenance.json escaped, so that it stays JSON and names them exactly.
odd=$'tab\there\x01"q\\.txt'
cp whole.txt "$odd"
run --out odd "$odd"
/usr/bin/python3 -c '
import json, sys
p = json.load(open("odd/provenance.json"))
assert p["inputs"][0]["path"] == sys.argv[1], p["inputs"][0]["path"]
assert p["command"][-1] == sys.argv[1], p["command"]
' "$odd" || fail "provenance.json of an input named with control characters"
grep -qF '"tab\u0009here\u0001\"q\\.txt"' odd/provenance.json ||
  fail "provenance.json: control characters not escaped as JSON writes them"

if ((failures > 0)); then
  cat stderr.log >&2
  exit 1
fi
echo "all zirk-report checks passed"
