#!/usr/bin/env bash
# Opens report.html in headless Chromium: the page must load without console
# messages, every embedded figure must decode (the page's own script marks
# the body), and the hits table must show the rows of hits.tsv. A screenshot
# is left in SCRATCH_DIR/page.png for a look by eye.
# Usage: report_browser_test.sh ZIRK_REPORT ZIRK EXAMPLES_DIR SCRATCH_DIR
set -euo pipefail
report=$1 zirk=$2 examples=$3 dir=$4
rm -rf "$dir" && mkdir -p "$dir" && cd "$dir"
echo 0.05 | "$zirk" -g "$examples/genotype.txt" -e "$examples/expression.txt" \
  -a "$examples/allele.txt" -o results.txt >/dev/null
"$report" --fdr 0.5 --out rep results.txt

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
images=$(grep -o '<img class="figure"' dom.html | wc -l)
[[ $images == 3 ]] || fail "$images figures, want 3"
hits=$(($(wc -l <rep/hits.tsv) - 1))
shown=$(grep -o '<tr class="hit">' dom.html | wc -l)
((hits >= 2)) || fail "only $hits hits to show"
[[ $shown == $((hits < 100 ? hits : 100)) ]] || fail "$shown hit rows on the page, hits.tsv has $hits"
first_it=$(awk -F'\t' 'NR == 2 { print $24 }' rep/hits.tsv)
grep -q "<td>$first_it</td>" dom.html || fail "top hit not on the page"
[[ $(head -c 8 page.png | od -An -tx1 | tr -d ' \n') == 89504e470d0a1a0a ]] || fail "no screenshot"
((status == 0)) && echo "the report page renders with its figures and $shown hits"
exit $status
