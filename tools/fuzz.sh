#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with clang in build-fuzz/ and runs
# each one for a bounded time, starting from the seed corpus in
# fuzz/corpus/<target>. New corpus entries go to build-fuzz/corpus/<target>,
# crash reproducers to build-fuzz/artifacts/. Exits non-zero when a target
# finds a crash, a sanitizer report or an oracle failure.
#
# Usage: tools/fuzz.sh [seconds per target, default 30] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
shift || true
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

# The targets write every input to a scratch file; memory-backed storage
# keeps that from dominating the run time.
if [[ -d /dev/shm && -w /dev/shm ]]; then
  export TMPDIR=/dev/shm
fi

failed=()
mkdir -p build-fuzz/artifacts
for target in "${targets[@]}"; do
  mkdir -p "build-fuzz/corpus/$target"
  log="build-fuzz/fuzz_$target.log"
  echo "== fuzz_$target: ${seconds} s (log: $log)"
  if build-fuzz/fuzz/"fuzz_$target" "build-fuzz/corpus/$target" \
      "fuzz/corpus/$target" -max_total_time="$seconds" \
      -artifact_prefix="build-fuzz/artifacts/$target-" \
      -print_final_stats=1 >"$log" 2>&1; then
    grep -E '^stat::number_of_executed_units|^#[0-9]+ +DONE' "$log" || true
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
