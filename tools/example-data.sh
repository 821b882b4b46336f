#!/usr/bin/env bash
# Unpacks the real example data of Debian's qtltools-example package (1000
# Genomes chr22 genotypes of 358 people, tabix-indexed, and their
# lymphoblastoid RNA-seq as a phenotype BED, with 3 genotype and 50
# expression principal components of the same people as covariates) into
# DIR, unless already there.
#
# Usage: tools/example-data.sh DIR
set -euo pipefail
if [[ $# -ne 1 ]]; then
  echo "Usage: $0 DIR" >&2
  exit 1
fi
dir=$1
archive=/usr/share/doc/qtltools/examples/examples.tar.xz
files=(genotypes.chr22.vcf.gz genotypes.chr22.vcf.gz.tbi
  genes.50percent.chr22.bed.gz genes.covariates.pc50.txt.gz)

missing=()
for f in "${files[@]}"; do
  [[ -s "$dir/$f" ]] || missing+=("./$f")
done
((${#missing[@]} == 0)) && exit 0
if [[ ! -f $archive ]]; then
  echo "Error: $archive: not found (install the Debian package qtltools-example)" >&2
  exit 1
fi
mkdir -p "$dir"
# Unpack beside the target and rename, so that an interrupted run leaves no
# truncated file behind.
tmp=$(mktemp -d "$dir/.example-data.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
tar -xJf "$archive" -C "$tmp" "${missing[@]}"
for f in "${missing[@]}"; do
  mv "$tmp/$f" "$dir/$f"
done
