#!/usr/bin/env bash
# Mutation check: applies each fault of a list to a copy of a source tree, one
# at a time, rebuilds, runs the test suite and reports whether a test caught
# the fault. A developer's tool, not part of CI: it rebuilds once per fault.
#
#   tools/mutate.sh [-t TREE] [-f IDS] [-l LIST] [-w DIR] [-o FILE]
#
#   -t TREE  the tree whose code and tests are checked (default: this repo)
#   -f IDS   only these faults: comma-separated ids or id prefixes
#   -l LIST  the fault list (default: tools/mutations.tsv next to this script)
#   -w DIR   scratch folder for the copy, its build and ccache
#            (default: ${TMPDIR:-/tmp}/zirk-mutate)
#   -o FILE  also write the results as a Markdown table to FILE
#   -c       count the non-blank lines of tests and code in TREE and stop
#
# A fault whose file or search text is not in the tree is reported as "n/a"
# and not counted; one that stops the build is reported as "no build".
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
tree=$(cd "$here/.." && pwd)
only=""
list="$here/mutations.tsv"
work="${TMPDIR:-/tmp}/zirk-mutate"
table=""
count_only=0
while getopts "t:f:l:w:o:ch" option; do
  case $option in
    t) tree=$(cd "$OPTARG" && pwd) ;;
    f) only=$OPTARG ;;
    l) list=$(cd "$(dirname "$OPTARG")" && pwd)/$(basename "$OPTARG") ;;
    w) work=$OPTARG ;;
    o) table=$OPTARG ;;
    c) count_only=1 ;;
    h) sed -n '2,18s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) exit 1 ;;
  esac
done

# Non-blank lines of the tests (tests/ and the new programs' tests) against
# the code (src/, formats/, corr/, the new programs' folders, tools/, bench/, fuzz/,
# workflow/); golden data files are inputs, not test code.
count_lines() {
  local -a tests code
  local root=$1
  mapfile -t tests < <(cd "$root" && find tests import/tests report/tests \
    -type f \( -name '*.cc' -o -name '*.h' -o -name '*.py' -o -name '*.sh' \) \
    2>/dev/null | sort)
  mapfile -t code < <(cd "$root" && find src formats import report corr tools bench fuzz \
    workflow -path import/tests -prune -o -path report/tests -prune -o \
    -type f \( -name '*.cc' -o -name '*.h' -o -name '*.py' -o -name '*.sh' \
    -o -name 'CMakeLists.txt' -o -name 'Snakefile' -o -name '*.smk' \) \
    -print 2>/dev/null | sort)
  local t c
  t=$(cd "$root" && cat "${tests[@]}" | grep -cv '^[[:space:]]*$')
  c=$(cd "$root" && cat "${code[@]}" | grep -cv '^[[:space:]]*$')
  echo "test lines: $t  code lines: $c  ratio: $((100 * t / c)) %"
}
if ((count_only)); then
  count_lines "$tree"
  exit 0
fi

selected() {
  [[ -z $only ]] && return 0
  local pattern
  IFS=, read -ra patterns <<<"$only"
  for pattern in "${patterns[@]}"; do
    [[ $1 == "$pattern"* ]] && return 0
  done
  return 1
}

mkdir -p "$work"
copy="$work/tree"
# Inside the copy, where the workflow under test looks for the programs.
build="$copy/build"
log="$work/log"
# One cache for every scratch folder beside this one, with paths taken
# relative to their parent, so that a fault's code compiled for one tree is
# a cache hit for the next.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$(dirname "$work")}"
export CCACHE_DIR="${CCACHE_DIR:-$CCACHE_BASEDIR/zirk-mutate-ccache}"
# A fresh build: objects left by an interrupted run may hold a fault.
rm -rf "$copy" "$build" "$log"
mkdir -p "$copy" "$log"
tar -C "$tree" --exclude=./build --exclude='./build-*' --exclude=./.git \
  --exclude=./out -cf - . | tar -C "$copy" -xf -

echo "tree: $tree"
cmake -S "$copy" -B "$build" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >"$log/configure.txt" 2>&1
# Everything the tests need; the benchmarks are left out, and so is install,
# which would put a faulty build in the system's prefix.
mapfile -t targets < <(cmake --build "$build" --target help |
  sed -n 's/^\.\.\. \([^ /]*\)$/\1/p' |
  grep -vxE 'clean|depend|edit_cache|rebuild_cache|test|install|list_install_components|.*_bench')
build_all() { cmake --build "$build" -j2 --target "${targets[@]}"; }
# The whole suite, the quick tests first: most faults stop there, long before
# the end-to-end tests would have run.
slow='^(workflow\.|report\.(cli|browser)$|cpu_emulation\.|import\.example)'
run_suite() {
  ctest --test-dir "$build" -j2 --timeout 600 --stop-on-failure -E "$slow" &&
    ctest --test-dir "$build" -j2 --timeout 600 --stop-on-failure -R "$slow"
}
if ! build_all >"$log/build.txt" 2>&1; then
  echo "Error: the unchanged tree does not build (see $log/build.txt)" >&2
  exit 1
fi
start=$SECONDS
if ! run_suite >"$log/baseline.txt" 2>&1; then
  echo "Error: the unchanged tree fails its tests (see $log/baseline.txt)" >&2
  exit 1
fi
tests=$(grep -c ' Test *#' "$log/baseline.txt" || true)
echo "baseline: $tests tests pass in $((SECONDS - start)) s"
count_lines "$copy"

results=()
caught=0
applicable=0
while IFS=$'\t' read -r id path what; do
  selected "$id" || continue
  started=$SECONDS
  [[ -f $copy/$path ]] && cp "$copy/$path" "$work/original"
  set +e
  python3 "$here/mutate.py" apply "$list" "$id" "$copy"
  applied=$?
  set -e
  if ((applied == 3)); then
    outcome="n/a"
    first="-"
  elif ((applied != 0)); then
    exit 1
  else
    if ! build_all >"$log/$id.build.txt" 2>&1; then
      outcome="no build"
      first="-"
    elif run_suite >"$log/$id.txt" 2>&1; then
      outcome="MISSED"
      first="-"
      applicable=$((applicable + 1))
    else
      outcome="caught"
      first=$(grep -m1 -oE '[^ ]+ \.+\*+(Failed|Timeout|Exception[^ ]*|Not Run)' \
        "$log/$id.txt" | sed -E 's/ \.+\*+/ (/; s/$/)/' || true)
      [[ -n $first ]] || first="(ctest failed, see $log/$id.txt)"
      caught=$((caught + 1))
      applicable=$((applicable + 1))
    fi
    # Restore with a fresh time stamp so the next build recompiles the file.
    cp "$work/original" "$copy/$path"
  fi
  printf '%-12s %-8s %4ss  %s\n' "$id" "$outcome" $((SECONDS - started)) "$first"
  results+=("| $id | \`$path\` | $what | $outcome | $first |")
done < <(python3 "$here/mutate.py" list "$list")

echo "caught $caught of $applicable applicable faults"
if [[ -n $table ]]; then
  {
    echo "| fault | file | what | result | first failing test |"
    echo "|---|---|---|---|---|"
    printf '%s\n' "${results[@]}"
    echo
    echo "Caught $caught of $applicable applicable faults."
  } >"$table"
fi
