#!/usr/bin/env bash
# Screens one shard with zirk and summarises its rows with zirk-report as
# they are written, through a pipe, so that the rows need no disk unless
# --rows asks for them (zstd); zirk itself writes no summary. The outputs
# appear under their final names only when both programs succeeded; a
# program's own Error: line is repeated on standard error when it fails.
# (zirk-corr summarises its own rows and runs in a job of its own.)
#
#   screen_shard.sh --zirk Z --report R --threshold T --offset K --log LOG
#                   --summary OUT [--rows OUT.zst] [--max-hits N]
#                   GENO EXPR ALLELE
# --max-hits: candidate rows each summary keeps (zirk-report's default).
set -euo pipefail
rows=""
max_hits=100000
while (($# > 3)); do
  case $1 in
    --zirk) zirk=$2 ;;
    --report) report=$2 ;;
    --threshold) threshold=$2 ;;
    --offset) offset=$2 ;;
    --log) log=$2 ;;
    --summary) summary=$2 ;;
    --rows) rows=$2 ;;
    --max-hits) max_hits=$2 ;;
    *)
      echo "screen_shard.sh: unknown option $1" >&2
      exit 2
      ;;
  esac
  shift 2
done
geno=$1 expr=$2 allele=$3

work=$(mktemp -d "${summary%/*}/.screen.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() {
  grep '^Error' "$log" >&2 || echo "Error: ${1:-zirk} failed on $geno (see $log)" >&2
  exit 1
}

if [[ -n $rows ]]; then
  echo "$threshold" | "$zirk" -g "$geno" -e "$expr" -a "$allele" \
    -o "$work/rows" >"$log" 2>&1 || fail
  "$report" --summary "$work/summary" --max-hits "$max_hits" \
    --snp-offset "$offset" "$work/rows"
  zstd -q --rm "$work/rows" -o "$work/rows.zst"
  mv "$work/rows.zst" "$rows"
  mv "$work/summary" "$summary"
  exit 0
fi

mkfifo "$work/rows"
# Both ends of the pipe are opened here, before either program starts. The
# write end (3) is held until zirk is done: zirk writes its head, closes the
# file and opens it again for the rows, and the reader must not see an end
# in between. The read end (4) goes to the reader, which does not inherit
# the write end. Were the reader to open the pipe itself, a small shard's
# rows could all be written and the pipe closed before that open, which
# would then wait for a writer forever.
exec 3<>"$work/rows" 4<"$work/rows"
"$report" --summary "$work/summary" --max-hits "$max_hits" \
  --snp-offset "$offset" - <&4 3>&- 4<&- &
reader=$!
exec 4<&-
echo "$threshold" | "$zirk" -g "$geno" -e "$expr" -a "$allele" \
  -o "$work/rows" >"$log" 2>&1 &
screen=$!
# The reader cannot see the end of the rows while fd 3 is held, so if it
# ends first it has failed (its own Error: line is on standard error), and
# zirk, with fd 3 still a reader of the pipe, would wait on a full pipe
# forever. SIGKILL, because zirk answers SIGTERM by finishing its current
# rows, and those wait on the pipe. Polled: a wait for whichever ends first
# misses one that ended before the wait began, and waits on for ever.
while kill -0 "$screen" 2>/dev/null; do
  if ! kill -0 "$reader" 2>/dev/null; then
    kill -KILL "$screen" 2>/dev/null || true
    wait "$screen" 2>/dev/null || true
    echo "Error: zirk-report failed on the rows of $geno" >&2
    exit 1
  fi
  sleep 0.1
done
status=0
wait "$screen" || status=$?
exec 3>&-
if ((status != 0)); then
  kill "$reader" 2>/dev/null || true
  wait "$reader" 2>/dev/null || true
  fail
fi
wait "$reader"
mv "$work/summary" "$summary"
