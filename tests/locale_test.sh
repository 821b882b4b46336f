#!/usr/bin/env bash
# Runs every program under a locale whose decimal separator is a comma
# (de_DE.UTF-8) and under C.UTF-8, on the same inputs, and requires the same
# bytes from both: result files, rows, the import folder, the report folder,
# and what each prints. A program that took the environment's locale would
# parse "0.5" as 0 or print "0,500000" there. The test scripts' own awk runs
# in the C locale (CMakeLists.txt), so this is the suite's one check of it.
#
# Usage: locale_test.sh BUILD_DIR SOURCE_DIR WORKDIR
set -euo pipefail
build=$1 source=$2 work=$3
rm -rf "$work" && mkdir -p "$work" && cd "$work"

# A locale the machine lacks falls back to C without a word, which would let
# this test pass without testing anything.
if [[ $(LC_ALL=de_DE.UTF-8 awk 'BEGIN { printf "%.1f", 0.5 }' 2>/dev/null) != "0,5" ]]; then
  echo "Error: the locale de_DE.UTF-8 is not available (tools/setup.sh --tests generates it)" >&2
  exit 1
fi

data=$build/example-data
"$source/tools/example-data.sh" "$data" >/dev/null
zcat "$data/genes.50percent.chr22.bed.gz" | awk 'NR > 1 && NR <= 13 { print $4 }' >genes.txt

# Each step's outputs and messages land in the current folder under the
# same relative names in both runs, so that both print the same paths; the
# screens read the import's own files.
run_all() {
  "$build/import/zirk-import" --vcf "$data/genotypes.chr22.vcf.gz" \
    --expression "$data/genes.50percent.chr22.bed.gz" \
    --covariates "$data/genes.covariates.pc50.txt.gz" --normalise inverse-normal \
    --region chr22:20100000-20150000 --genes ../genes.txt --pseudocount 0.01 \
    --maf 0.05 --permute 1 --out import 2>import.err
  local inputs=(-g import/geno.txt -e import/expr.txt -a import/allele.txt)
  for program in zirk zirk-reference; do
    echo 0.5 | "$build/$program" "${inputs[@]}" -o "$program.txt" \
      >"$program.out" 2>&1
  done
  "$build/corr/zirk-corr" "${inputs[@]}" -o corr.tsv 2>corr.err
  "$build/report/zirk-report" --data import --fdr 0.5 --out report zirk.txt \
    >report.out 2>&1
}
mkdir c de
(cd c && LC_ALL=C.UTF-8 run_all)
(cd de && LC_ALL=de_DE.UTF-8 LANG=de_DE.UTF-8 run_all)

status=0
while IFS= read -r file; do
  if ! cmp -s "de/$file" "c/$file"; then
    echo "FAIL: $file differs under de_DE.UTF-8:" >&2
    diff "de/$file" "c/$file" | head -n 6 >&2
    status=1
  fi
done < <(cd c && find . -type f | sort)
[[ $(cd de && find . -type f | sort) == $(cd c && find . -type f | sort) ]] ||
  { echo "FAIL: the two runs wrote different files" >&2; status=1; }
grep -q '0\.5' c/zirk.txt || { echo "FAIL: no threshold 0.5 in the result head" >&2; status=1; }
((status == 0)) && echo "$(cd c && find . -type f | wc -l) files identical under C.UTF-8 and de_DE.UTF-8"
exit $status
