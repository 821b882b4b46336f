#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks for building, testing and
# running ZIRK and its workflow: compilers and libraries (Eigen for the
# covariate fits), the field's tools (bcftools, Snakemake, Slurm, plink2 for
# genotype PCs), matplotlib, numpy and scipy for the test oracles, Chromium
# for checking the report page, qemu-user for the tests on other processors,
# and the real example data. Safe to run again: it installs nothing that is
# already there.
set -euo pipefail

# A package is missing when the file it is known by is.
need() {
  local package=$1 file=$2
  [[ -e $file ]] || missing+=("$package")
}
missing=()
need g++ /usr/bin/g++
need cmake /usr/bin/cmake
need libboost-dev /usr/include/boost/numeric/ublas/matrix.hpp
need libgtest-dev /usr/include/gtest/gtest.h
need libgmock-dev /usr/include/gmock/gmock.h
need libhts-dev /usr/include/htslib/vcf.h
need zlib1g-dev /usr/include/zlib.h
need libzstd-dev /usr/include/zstd.h
need zstd /usr/bin/zstd
need bcftools /usr/bin/bcftools
need tabix /usr/bin/bgzip
need snakemake /usr/bin/snakemake
need slurmctld /usr/sbin/slurmctld
need slurmd /usr/sbin/slurmd
need slurm-client /usr/bin/sbatch
need munge /usr/sbin/munged
need python3-matplotlib /usr/lib/python3/dist-packages/matplotlib/__init__.py
need python3-numpy /usr/lib/python3/dist-packages/numpy/__init__.py
need python3-scipy /usr/lib/python3/dist-packages/scipy/__init__.py
need chromium /usr/bin/chromium
need qemu-user /usr/bin/qemu-x86_64
need qtltools-example /usr/share/doc/qtltools/examples/examples.tar.xz
need man-db /usr/bin/man
need procps /usr/bin/pkill
need bsdextrautils /usr/bin/column
# zirk-corr's matrix products, and its test oracle and validation.
need libopenblas-dev /usr/lib/x86_64-linux-gnu/openblas-pthread/pkgconfig/openblas.pc
need libeigen3-dev /usr/include/eigen3/Eigen/QR
need plink2 /usr/bin/plink2

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
