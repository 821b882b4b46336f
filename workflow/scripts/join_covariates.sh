#!/usr/bin/env bash
# Writes the covariate file zirk-import reads (a header of "id" and the
# sample IDs, then one covariate per line: name and one value per sample,
# tab-separated) from plink2's eigenvectors (one sample per line, a header
# "#IID PC1 …" or "#FID IID PC1 …"), after the covariates of COVARIATES when
# given (plain or gzip; its samples and their order kept, a PC NA for a
# sample plink2 did not see). The PCs are named genotype_PC1, genotype_PC2, …
#
#   join_covariates.sh EIGENVEC [COVARIATES] > OUT
set -euo pipefail
if (($# < 1 || $# > 2)); then
  echo "Usage: $0 EIGENVEC [COVARIATES]" >&2
  exit 1
fi
eigenvec=$1
covariates=${2:-}
for f in "$eigenvec" ${covariates:+"$covariates"}; do
  [[ -r $f ]] || { echo "Error: $f: cannot open" >&2; exit 1; }
done

if [[ -n $covariates ]]; then gzip -cdf -- "$covariates"; fi |
  awk -v eigenvec="$eigenvec" -v have="${covariates:+1}" '
  function fields(line, out) {
    sub(/\r$/, "", line)
    sub(/^[ \t]+/, "", line)
    return split(line, out, /[ \t]+/)
  }
  BEGIN {
    OFS = "\t"
    while ((status = (getline line < eigenvec)) > 0) {
      n = fields(line, f)
      if (n == 0 || f[1] == "") continue
      if (!iid) {
        sub(/^#/, "", f[1])
        for (i = 1; i <= n; i++) if (f[i] == "IID") iid = i
        if (!iid) {
          print "Error: " eigenvec ": no IID column in the header" > "/dev/stderr"
          failed = 1
          exit 1
        }
        pcs = n - iid
        continue
      }
      if (n != iid + pcs) {
        print "Error: " eigenvec ": a line has " n " fields, the header " iid + pcs > "/dev/stderr"
        failed = 1
        exit 1
      }
      order[++samples] = f[iid]
      for (k = 1; k <= pcs; k++) pc[f[iid], k] = f[iid + k]
    }
    if (status < 0 || !iid || pcs == 0) {
      print "Error: " eigenvec ": no eigenvectors" > "/dev/stderr"
      failed = 1
      exit 1
    }
    if (!have) {
      header = "id"
      for (s = 1; s <= samples; s++) header = header OFS order[s]
      print header
    }
  }
  {
    n = fields($0, f)
    if (n == 0 || f[1] == "") next
    if (!ids) {
      ids = n - 1
      for (s = 1; s <= ids; s++) order[s] = f[s + 1]
      samples = ids
    }
    line = f[1]
    for (i = 2; i <= n; i++) line = line OFS f[i]
    print line
  }
  END {
    if (failed) exit 1
    if (have && !ids) {
      print "Error: the covariate file is empty" > "/dev/stderr"
      exit 1
    }
    for (k = 1; k <= pcs; k++) {
      line = "genotype_PC" k
      for (s = 1; s <= samples; s++) {
        value = (order[s], k) in pc ? pc[order[s], k] : "NA"
        line = line OFS value
      }
      print line
    }
  }'
