#!/usr/bin/env bash
# Joins the imports of a genome-wide run into the data folder the report
# reads: their SNP tables one after another, each SNP's index moved past the
# imports before it, and the one gene table, sample list and expression
# files they share. Imports that kept other samples or genes, or whose
# expression differs, or whose SNPs lie on a chromosome other than the one
# named for them, stop it with an Error: line and nothing written.
#
#   merge_imports.sh --out DATA (--part NAME CHROM VCF FOLDER)...
# CHROM is "-" when the VCF's chromosome is not named (a list of files).
# DATA/parts.tsv gets one line per import: name, offset of its first SNP,
# its SNPs, its folder.
set -euo pipefail
out=""
names=() chroms=() vcfs=() folders=()
while (($#)); do
  case $1 in
    --out) out=$2 && shift 2 ;;
    --part)
      names+=("$2") chroms+=("$3") vcfs+=("$4") folders+=("$5")
      shift 5
      ;;
    *)
      echo "merge_imports.sh: unknown option $1" >&2
      exit 2
      ;;
  esac
done
if [[ -z $out || ${#names[@]} == 0 ]]; then
  echo "usage: merge_imports.sh --out DATA (--part NAME CHROM VCF FOLDER)..." >&2
  exit 2
fi

first=${folders[0]}
for i in "${!names[@]}"; do
  folder=${folders[i]}
  if ! cmp -s "$first/samples.txt" "$folder/samples.txt"; then
    echo "Error: ${vcfs[i]}: the $(wc -l <"$folder/samples.txt") samples kept" \
      "($folder/samples.txt) differ from the $(wc -l <"$first/samples.txt") of" \
      "${vcfs[0]}; every VCF must hold the same samples" >&2
    exit 1
  fi
  if ! cmp -s "$first/genes.tsv" "$folder/genes.tsv"; then
    echo "Error: $folder/genes.tsv: the genes kept differ from those of $first/genes.tsv" >&2
    exit 1
  fi
  for expr in "$first"/expr*.txt; do
    if ! cmp -s "$expr" "$folder/${expr##*/}"; then
      echo "Error: $folder/${expr##*/}: the expression differs from $expr" >&2
      exit 1
    fi
  done
  if [[ ${chroms[i]} != - ]]; then
    other=$(awk -F'\t' -v c="${chroms[i]}" 'NR > 1 && $3 != c { print $3; exit }' \
      "$folder/snps.tsv")
    if [[ -n $other ]]; then
      echo "Error: ${vcfs[i]}: holds variants on $other, not on ${chroms[i]}," \
        "the chromosome it is named for" >&2
      exit 1
    fi
  fi
done

mkdir -p "$out"
work=$(mktemp -d "$out/.merge.XXXXXX")
trap 'rm -rf "$work"' EXIT
offset=0
head -n 1 "$first/snps.tsv" >"$work/snps.tsv"
: >"$work/parts.tsv"
for i in "${!names[@]}"; do
  folder=${folders[i]}
  awk -F'\t' -v OFS='\t' -v offset="$offset" 'NR > 1 { $1 += offset; print }' \
    "$folder/snps.tsv" >>"$work/snps.tsv"
  snps=$(($(wc -l <"$folder/snps.tsv") - 1))
  printf '%s\t%d\t%d\t%s\n' "${names[i]}" "$offset" "$snps" "$folder" >>"$work/parts.tsv"
  offset=$((offset + snps))
done
cp "$first/genes.tsv" "$first/samples.txt" "$first"/expr*.txt "$work/"
# The imports keep the same samples, so their strata are the same too.
if [[ -e $first/strata.txt ]]; then cp "$first/strata.txt" "$work/"; fi
# The merged folder is also one input of zirk, from which the report reads
# the values of its hits: the alleles one import after another, each
# person's genotype line the imports' lines side by side (tab-separated, as
# the importer writes them). Imports without SNPs add nothing.
genotypes=()
: >"$work/allele.txt"
for folder in "${folders[@]}"; do
  [[ -s $folder/allele.txt ]] || continue
  genotypes+=("$folder/geno.txt")
  cat "$folder/allele.txt" >>"$work/allele.txt"
done
if ((${#genotypes[@]} > 0)); then
  paste "${genotypes[@]}" >"$work/geno.txt"
else
  cp "$first/geno.txt" "$work/geno.txt"
fi
for file in "$work"/*; do
  mv "$file" "$out/"
done
