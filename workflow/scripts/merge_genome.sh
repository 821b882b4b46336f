#!/usr/bin/env bash
# Merges the shards of a genome-wide run, whose SNPs are numbered within
# their import (OUT/runs/RUN/PART/SHARD.sum, .rows.zst), into one summary or
# one result file over the whole genome: each import's SNPs are moved past
# those of the imports before it by the offset DATA/parts.tsv gives it.
#
#   merge_genome.sh summaries PARTS.tsv OUT ZIRK_REPORT MAX_HITS SHARD.sum...
#   merge_genome.sh rows PARTS.tsv OUT SHARD_SNPS SHARD.rows.zst...
set -euo pipefail
kind=$1 parts=$2 out=$3
shift 3
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
    report=$1 max_hits=$2
    shift 2
    # A shard's summary already counts from its first SNP within the import.
    args=()
    for file; do
      first=$(part_offset "$file")
      args+=(--snp-offset "$first" "$file")
    done
    exec "$report" --summary "$out" --max-hits "$max_hits" "${args[@]}"
    ;;
  rows)
    size=$1
    shift
    offsets=()
    for file; do
      first=$(part_offset "$file")
      shard=${file##*/}
      offsets+=($((first + ${shard%%.*} * size)))
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
