#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks, in two tiers.
#
#   tools/setup.sh           building ZIRK and running the demo: compiler,
#                            CMake, Boost, htslib, zlib and zstd, Snakemake,
#                            matplotlib and the real example data
#   tools/setup.sh --tests   that and what only the test suite needs:
#                            GoogleTest, bcftools, Slurm with munge,
#                            Chromium for the report page, qemu-user for
#                            other processors, clang for the fuzz targets,
#                            numpy and scipy for the independent checks,
#                            ccache for the mutation check, and the
#                            locale de_DE.UTF-8 for the locale check
#
# Safe to run again: it installs nothing that is already there.
set -euo pipefail

tests=0
case ${1:-} in
  "") ;;
  --tests) tests=1 ;;
  *)
    echo "usage: tools/setup.sh [--tests]" >&2
    exit 2
    ;;
esac

# A package is missing when the file it is known by is.
need() {
  local package=$1 file=$2
  [[ -e $file ]] || missing+=("$package")
}
missing=()
build=()
need g++ /usr/bin/g++
need cmake /usr/bin/cmake
need make /usr/bin/make
need pkg-config /usr/bin/pkg-config
need libboost-dev /usr/include/boost/numeric/ublas/matrix.hpp
need libhts-dev /usr/include/htslib/vcf.h
need zlib1g-dev /usr/include/zlib.h
need libzstd-dev /usr/include/zstd.h
need zstd /usr/bin/zstd
need xz-utils /usr/bin/xz
need snakemake /usr/bin/snakemake
need python3-matplotlib /usr/lib/python3/dist-packages/matplotlib/__init__.py
need qtltools-example /usr/share/doc/qtltools/examples/examples.tar.xz
need bsdextrautils /usr/bin/column
# Matrix products of zirk-corr, the covariate fits of zirk-import, and
# plink2 for the workflow's genotype principal components.
need libopenblas-dev /usr/lib/x86_64-linux-gnu/openblas-pthread/pkgconfig/openblas.pc
need libeigen3-dev /usr/include/eigen3/Eigen/QR
need plink2 /usr/bin/plink2
build=("${missing[@]}")
missing=()
if ((tests)); then
  need libgtest-dev /usr/include/gtest/gtest.h
  need libgmock-dev /usr/include/gmock/gmock.h
  need bcftools /usr/bin/bcftools
  need tabix /usr/bin/bgzip
  need slurmctld /usr/sbin/slurmctld
  need slurmd /usr/sbin/slurmd
  need slurm-client /usr/bin/sbatch
  need munge /usr/sbin/munged
  need chromium /usr/bin/chromium
  need qemu-user /usr/bin/qemu-x86_64
  need clang /usr/bin/clang++
  need libclang-rt-14-dev /usr/lib/llvm-14/lib/clang/14.0.6/lib/linux/libclang_rt.fuzzer-x86_64.a
  need libomp-14-dev /usr/lib/llvm-14/lib/libomp.so
  need python3-numpy /usr/lib/python3/dist-packages/numpy/__init__.py
  need python3-scipy /usr/lib/python3/dist-packages/scipy/__init__.py
  need man-db /usr/bin/man
  need procps /usr/bin/pkill
  need iproute2 /usr/bin/ss
  need ccache /usr/bin/ccache
fi

# The test tier's locale check runs German number formatting, which Debian
# ships only as a locale to generate.
locale_missing=0
if ((tests)) && ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  locale_missing=1
  [[ -e /usr/sbin/locale-gen ]] || missing+=(locales)
fi

if ((${#build[@]} + ${#missing[@]} + locale_missing == 0)); then
  exit 0
fi
if [[ $(id -u) -ne 0 ]]; then
  echo "ZIRK needs these Debian packages: ${build[*]} ${missing[*]}" >&2
  echo "Install them as root: apt-get install -y ${build[*]} ${missing[*]}" >&2
  ((locale_missing)) && echo "and generate the locale de_DE.UTF-8 (locale-gen)" >&2
  exit 1
fi

# apt's own lines (one block per package, debconf's notes) go to a log that
# is named only when something fails; the terminal gets one line.
log_dir=$(cd "$(dirname "$0")/.." && pwd)/out/logs
mkdir -p "$log_dir"
log=$log_dir/setup.log
: >"$log"
line_open=0
fail() {
  ((line_open)) && echo >&2
  echo "Error: $1; the details are in $log" >&2
  tail -n 5 "$log" | sed 's/^/  /' >&2
  exit 1
}
count=$((${#build[@]} + ${#missing[@]}))
if ((count > 0)); then
  tier="building ZIRK and the demo"
  ((tests)) && tier="building ZIRK, the demo and the tests"
  plural=s
  ((count == 1)) && plural=
  printf 'Installing %d Debian package%s for %s (and what they depend on)...' \
    "$count" "$plural" "$tier" >&2
  line_open=1
  start=$SECONDS
  apt-get update -qq >>"$log" 2>&1 || fail "apt-get update failed"
  # The build and the demo take no recommended packages: those would bring a
  # desktop's worth of fonts, documentation and services that nothing here
  # uses, and most of a fresh machine's setup time. The test tier keeps them
  # (Chromium draws the report page with its recommended fonts).
  if ((${#build[@]} > 0)); then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
      "${build[@]}" >>"$log" 2>&1 || fail "installing ${build[*]} failed"
  fi
  if ((${#missing[@]} > 0)); then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}" \
      >>"$log" 2>&1 || fail "installing ${missing[*]} failed"
  fi
  installed=$(grep -c '^Setting up ' "$log" || true)
  echo " done: $installed set up in $((SECONDS - start)) s." >&2
fi
if ((locale_missing)); then
  sed -i 's/^# *\(de_DE\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^de_DE\.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' >>/etc/locale.gen
  locale-gen >>"$log" 2>&1 || fail "generating the locale de_DE.UTF-8 failed"
fi
