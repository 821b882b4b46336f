#!/usr/bin/env bash
# Builds ZIRK and every test with AddressSanitizer and
# UndefinedBehaviorSanitizer (g++, -O2 with debug information) in
# build-sanitize/ and runs the test suite there (all but the workflow runs
# and the emulated processors).
# Any sanitizer report ends the process that made it with a non-zero status,
# so it fails its test.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
cmake -S . -B build-sanitize -DZIRK_SANITIZE=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-sanitize -j2
# The programs under test inherit these settings.
export ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:check_initialization_order=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# The workflow's end-to-end runs go through the same programs' tests here
# already; under the sanitizers they would only repeat them slowly. User-mode
# CPU emulation cannot host a sanitizer's shadow memory.
ctest --test-dir build-sanitize --output-on-failure -j2 -E '^(workflow|cpu_emulation)\.'
