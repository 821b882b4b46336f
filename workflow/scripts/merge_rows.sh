#!/usr/bin/env bash
# Merges the shards' result files (zstd) into one result file (zstd) that is
# byte for byte what one zirk run over all SNPs writes: the head once (every
# shard's must be the same), then each shard's rows with its first SNP's
# index added to the SNP column.
#
#   merge_rows.sh OFFSET,OFFSET,… OUT.zst SHARD.zst…
set -euo pipefail
IFS=, read -r -a offsets <<<"$1"
out=$2
shift 2
if ((${#offsets[@]} != $#)); then
  echo "Error: ${#offsets[@]} offsets for $# shard files" >&2
  exit 1
fi

tmp=$(mktemp "$out.XXXXXX")
trap 'rm -f "$tmp"' EXIT
{
  head=""
  for i in "${!offsets[@]}"; do
    shard=${*:i+1:1}
    this=$({ zstd -dc "$shard" || true; } | head -n 3)
    if [[ -z $head ]]; then
      head=$this
      printf '%s\n' "$head"
    elif [[ $this != "$head" ]]; then
      echo "Error: $shard: head differs from the first shard's" >&2
      exit 1
    fi
    # Only the first field is rewritten; awk leaves the others' text as is.
    zstd -dc "$shard" | awk -v offset="${offsets[i]}" \
      'BEGIN { FS = OFS = "\t" } NR > 3 { $1 += offset; print }'
  done
} | zstd -q -o "$tmp" -f
mv "$tmp" "$out"
trap - EXIT
