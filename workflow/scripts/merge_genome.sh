#!/usr/bin/env bash
# Merges the shards of a genome-wide run, whose SNPs are numbered within
# their import (OUT/runs/RUN/PART/SHARD.sum, .rows.zst), into one summary or
# one result file over the whole genome: each import's SNPs are moved past
# those of the imports before it by the offset DATA/parts.tsv gives it.
#
#   merge_genome.sh summaries ZIRK_REPORT PARTS.tsv OUT SHARD.sum...
#   merge_genome.sh rows SHARD_SNPS PARTS.tsv OUT SHARD.rows.zst...
set -euo pipefail
kind=$1 tool=$2 parts=$3 out=$4
shift 4
declare -A offset
while IFS=$'\t' read -r name first _; do
  offset[$name]=$first
done <"$parts"

# The import of a shard's file is the name of the folder holding it.
part_offset() {
  local part=${1%/*}
  part=${part##*/}
  if [[ -z ${offset[$part]+set} ]]; then
    echo "Error: $1: no import $part in $parts" >&2
    exit 1
  fi
  echo "${offset[$part]}"
}

case $kind in
  summaries)
    # A shard's summary already counts from its first SNP within the import.
    args=()
    for file; do
      first=$(part_offset "$file")
      args+=(--snp-offset "$first" "$file")
    done
    exec "$tool" --summary "$out" "${args[@]}"
    ;;
  rows)
    offsets=()
    for file; do
      first=$(part_offset "$file")
      shard=${file##*/}
      offsets+=($((first + ${shard%%.*} * tool)))
    done
    exec "$(dirname "$0")/merge_rows.sh" "$(
      IFS=,
      echo "${offsets[*]}"
    )" "$out" "$@"
    ;;
  *)
    echo "merge_genome.sh: unknown kind $kind" >&2
    exit 2
    ;;
esac
