#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks for building and testing ZIRK
# (the Boost headers; GoogleTest and GoogleMock when absent; zstd, zlib,
# matplotlib and Chromium for zirk-report). Safe to run again: it installs
# nothing that is already there.
set -euo pipefail

missing=()
[[ -f /usr/include/boost/numeric/ublas/matrix.hpp ]] || missing+=(libboost-dev)
[[ -f /usr/include/gtest/gtest.h ]] || missing+=(libgtest-dev)
[[ -f /usr/include/gmock/gmock.h ]] || missing+=(libgmock-dev)
command -v cmake >/dev/null || missing+=(cmake)
command -v g++ >/dev/null || missing+=(g++)
# zirk-report: compressed result files, its figures and the browser test.
[[ -f /usr/include/zstd.h ]] || missing+=(libzstd-dev)
[[ -f /usr/include/zlib.h ]] || missing+=(zlib1g-dev)
/usr/bin/python3 -c 'import matplotlib' 2>/dev/null || missing+=(python3-matplotlib)
command -v chromium >/dev/null || missing+=(chromium)
command -v zstd >/dev/null || missing+=(zstd)

if ((${#missing[@]} == 0)); then
  exit 0
fi
if [[ $(id -u) -ne 0 ]]; then
  echo "ZIRK needs these Debian packages: ${missing[*]}" >&2
  echo "Install them as root: apt-get install -y ${missing[*]}" >&2
  exit 1
fi
echo "Installing ${missing[*]}..." >&2
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >&2
