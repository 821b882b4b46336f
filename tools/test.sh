#!/usr/bin/env bash
# Installs what the tests need beyond the build, builds ZIRK and runs the
# tests: all of them, or those of one label (quick, end-to-end, root).
#
# Usage: tools/test.sh [LABEL]
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh --tests
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2
if [[ $# -gt 0 ]]; then
  ctest --test-dir build --output-on-failure -j2 -L "^$1\$"
else
  ctest --test-dir build --output-on-failure -j2
fi
