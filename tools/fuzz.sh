#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with clang in build-fuzz/ and runs
# each one for a bounded time, starting from the seed corpus in
# fuzz/corpus/<target>. New corpus entries go to build-fuzz/corpus/<target>,
# crash reproducers to build-fuzz/artifacts/. Exits non-zero when a target
# finds a crash, a sanitizer report or an oracle failure.
#
# With --campaign, a long run: one target after the other, each a single
# process under `nice -n 19` (the machine is shared) until it has run
# ZIRK_FUZZ_RUNS inputs (default 10^7) or the seconds are up (default 900).
# The corpus grows from run to run in ZIRK_FUZZ_CORPUS/<target> (default
# ~/.cache/zirk-fuzz/corpus, outside the repository), and every target's
# final statistics go to build-fuzz/campaign.tsv.
#
# Usage: tools/fuzz.sh [seconds per target, default 30] [target...]
#        tools/fuzz.sh --campaign [seconds per target] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."

campaign=false
if [[ ${1:-} == --campaign ]]; then
  campaign=true
  shift
fi
if [[ ${1:-} =~ ^[0-9]+$ ]]; then
  seconds=$1
  shift
elif $campaign; then
  seconds=900
else
  seconds=30
fi
targets=("$@")
if ((${#targets[@]} == 0)); then
  targets=(genotype expression allele threshold expression_table report_input)
fi

# clang, its libFuzzer and sanitizer runtimes, and the OpenMP runtime that
# the project links (clang does not use libgomp).
missing=()
command -v clang++ >/dev/null || missing+=(clang)
compgen -G "/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" \
  >/dev/null || missing+=(libclang-rt-14-dev)
compgen -G "/usr/lib/llvm-*/lib/libomp.so" >/dev/null || missing+=(libomp-14-dev)
if ((${#missing[@]} > 0)); then
  if [[ $(id -u) -ne 0 ]]; then
    echo "fuzzing needs these Debian packages: ${missing[*]}" >&2
    echo "Install them as root: apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
  echo "Installing ${missing[*]}..." >&2
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >&2
fi
tools/setup.sh

cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DZIRK_FUZZ=ON \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-fuzz -j2 --target "${targets[@]/#/fuzz_}"

failed=()
mkdir -p build-fuzz/artifacts
if $campaign; then
  corpus_root=${ZIRK_FUZZ_CORPUS:-$HOME/.cache/zirk-fuzz/corpus}
  runs=${ZIRK_FUZZ_RUNS:-10000000}
  stats=build-fuzz/campaign.tsv
  echo "corpus: $corpus_root/<target>; statistics: $stats"
  [[ -f $stats ]] ||
    printf 'target\tcommit\texecutions\texec_per_s\tcov\tft\tcorpus_files\tseconds\n' >"$stats"
else
  corpus_root=build-fuzz/corpus
fi
for target in "${targets[@]}"; do
  corpus="$corpus_root/$target"
  mkdir -p "$corpus"
  log="build-fuzz/fuzz_$target.log"
  limits=(-max_total_time="$seconds")
  runner=()
  if $campaign; then
    limits+=(-runs="$runs")
    runner=(nice -n 19)
    echo "== fuzz_$target: up to $runs inputs or ${seconds} s (log: $log)"
  else
    echo "== fuzz_$target: ${seconds} s (log: $log)"
  fi
  start=$SECONDS
  if "${runner[@]}" build-fuzz/fuzz/"fuzz_$target" "$corpus" \
      "fuzz/corpus/$target" "${limits[@]}" \
      -artifact_prefix="build-fuzz/artifacts/$target-" \
      -print_final_stats=1 >"$log" 2>&1; then
    grep -E '^stat::number_of_executed_units|^#[0-9]+ +DONE' "$log" || true
    if $campaign; then
      # The last status line holds the coverage reached: "cov: N ft: M".
      cov=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -n 1)
      printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$target" \
        "$(git rev-parse --short HEAD)" \
        "$(awk '/^stat::number_of_executed_units/ {print $2}' "$log")" \
        "$(awk '/^stat::average_exec_per_sec/ {print $2}' "$log")" \
        "$(awk '{print $2}' <<<"$cov")" "$(awk '{print $4}' <<<"$cov")" \
        "$(find "$corpus" -type f | wc -l)" "$((SECONDS - start))" |
        tee -a "$stats"
    fi
  else
    failed+=("$target")
    tail -n 40 "$log"
  fi
done

if ((${#failed[@]} > 0)); then
  echo "fuzzing found faults in: ${failed[*]} (reproducers in build-fuzz/artifacts/)" >&2
  exit 1
fi
echo "fuzzing: ${#targets[@]} targets ran ${seconds} s each without a finding"
