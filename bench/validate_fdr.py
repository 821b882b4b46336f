#!/usr/bin/python3
"""Scores zirk-report's hits against the truth, and tabulates over seeds.

  validate_fdr.py score HITS [PLANTED]   one line: hits false [pattern found
                                         planted]...; without PLANTED (the
                                         permuted real data) every hit is false
  validate_fdr.py table SCORES           per source and selection: the mean
                                         proportion of false discoveries with
                                         its standard error, and the power

SCORES lines are "source selection seed" followed by a score line. A hit is
true when its (snp, gene1, gene2) is a planted one (planted.tsv of
validate_sim.py); the proportion of false discoveries is false / hits, 0 for
a seed without hits.
"""
import sys

import numpy as np


def read_tsv(path):
    with open(path) as f:
        header = f.readline().rstrip("\n").split("\t")
        return [dict(zip(header, line.rstrip("\n").split("\t"))) for line in f]


def score(hits_path, planted_path=None):
    hits = {(int(h["snp"]), int(h["gene1"]), int(h["gene2"]))
            for h in read_tsv(hits_path)}
    planted = read_tsv(planted_path) if planted_path else []
    truth = {(int(p["snp"]), int(p["gene1"]), int(p["gene2"])): p["pattern"]
             for p in planted}
    fields = [len(hits), len(hits - truth.keys())]
    for name in dict.fromkeys(truth.values()):
        cells = [c for c, pattern in truth.items() if pattern == name]
        fields += [name, sum(c in hits for c in cells), len(cells)]
    print(*fields)


def mean_se(values):
    v = np.asarray(values, float)
    se = v.std(ddof=1) / np.sqrt(len(v)) if len(v) > 1 else float("nan")
    return "%.3f ± %.3f" % (v.mean(), se)


def table(path):
    runs = {}
    for line in open(path):
        f = line.split()
        runs.setdefault((f[0], f[1]), []).append(f[3:])
    print("| data | selection | seeds | mean hits | seeds with a false hit "
          "| false discovery proportion | power (found / planted) |")
    print("|---|---|---|---|---|---|---|")
    for (source, selection), rows in runs.items():
        hits = np.array([int(r[0]) for r in rows])
        false = np.array([int(r[1]) for r in rows])
        fdp = np.where(hits > 0, false / np.maximum(hits, 1), 0.0)
        power = {}
        for r in rows:
            for k in range(2, len(r), 3):
                found, planted = power.get(r[k], ([], []))
                found.append(int(r[k + 1]))
                planted.append(int(r[k + 2]))
                power[r[k]] = (found, planted)
        cell = ", ".join(
            "%s %d/%d = %s" % (name, sum(f), sum(p),
                               mean_se(np.array(f) / np.array(p)))
            for name, (f, p) in power.items()) or "no planted pairs"
        print("| %s | %s | %d | %.1f | %d | %s | %s |"
              % (source, selection, len(rows), hits.mean(),
                 (false > 0).sum(), mean_se(fdp), cell))


if __name__ == "__main__":
    if len(sys.argv) in (3, 4) and sys.argv[1] == "score":
        score(*sys.argv[2:])
    elif len(sys.argv) == 3 and sys.argv[1] == "table":
        table(sys.argv[2])
    else:
        sys.exit(__doc__)
