#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks for building and testing ZIRK
# (the Boost headers; GoogleTest and GoogleMock when absent; htslib, bcftools,
# tabix and the real example data for zirk-import). Safe to run
# again: it installs nothing that is already there.
set -euo pipefail

missing=()
[[ -f /usr/include/boost/numeric/ublas/matrix.hpp ]] || missing+=(libboost-dev)
[[ -f /usr/include/gtest/gtest.h ]] || missing+=(libgtest-dev)
[[ -f /usr/include/gmock/gmock.h ]] || missing+=(libgmock-dev)
command -v cmake >/dev/null || missing+=(cmake)
# zirk-import: htslib, and the tools and real data its tests and bench use.
[[ -f /usr/include/htslib/vcf.h ]] || missing+=(libhts-dev)
[[ -f /usr/include/zlib.h ]] || missing+=(zlib1g-dev)
command -v bcftools >/dev/null || missing+=(bcftools)
command -v tabix >/dev/null || missing+=(tabix)
[[ -f /usr/share/doc/qtltools/examples/examples.tar.xz ]] || missing+=(qtltools-example)
command -v g++ >/dev/null || missing+=(g++)

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
