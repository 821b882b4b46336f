#!/usr/bin/python3
"""What each score detects: zirk's MC and IT against zirk-corr's trend and
het, on the simulations of validate_sim.py.

  validate_scores.py null SCENARIO DATA ZIRK_RESULT CORR_RESULT
      one line per score: null, scenario, score, gene_below, gene_tests,
      other_below, other_tests (tab-separated), the p-values below 1e-3 among the pairs of the gene that
      SNP s may act on (gene s mod genes, at SNP s) and among all other
      (SNP, pair) tests
  validate_scores.py power SCENARIO DATA ZIRK_RESULT CORR_RESULT
      one line per score: power, scenario, score, found, planted, all_hits at
      Benjamini-Hochberg 0.05 over every (SNP, pair) test, the linear cross
      model of validate_power.py included
  validate_scores.py table SCORES
      the two markdown tables, summed (null) or averaged (power) over seeds

zirk runs at MC threshold 1, so that every pair's MC p-value is printed; a
pair whose IT did not run counts as IT p = 1, as does a trend or het p-value
of NA (fewer than two usable classes).
"""
import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from validate_power import bh, lm_pvalues, pair_index, read_inputs  # noqa

LEVEL = 1e-3
SCORES = ("MC", "IT", "trend", "het")


def log10_pvalues(zirk_result, corr_result, ps, ng):
    """log10 p of each score, shape (SNPs, pairs), 0 where not computed."""
    pairs = ng * (ng - 1) // 2
    rows = np.loadtxt(zirk_result, skiprows=3, ndmin=2)
    snp, g1, g2 = (rows[:, k].astype(int) for k in range(3))
    cell = (snp, pair_index(g1, g2, ng))
    out = {name: np.zeros((ps, pairs)) for name in SCORES}
    out["MC"][cell] = rows[:, 4]
    out["IT"][cell] = np.where(rows[:, 3] == 1, rows[:, 6], 0.0)
    trend, het = [], []
    with open(corr_result) as f:
        next(f)
        for line in f:
            fields = line.split("\t")
            trend.append(fields[9])
            het.append(fields[10])
    corr = np.loadtxt(corr_result, skiprows=1, usecols=(0, 1, 2), dtype=int,
                      ndmin=2)
    cell = (corr[:, 0], pair_index(corr[:, 1], corr[:, 2], ng))
    for name, text in (("trend", trend), ("het", het)):
        out[name][cell] = [0.0 if t.strip() == "NA" else float(t)
                           for t in text]
    return out


def null(scenario, data, zirk_result, corr_result):
    dosage, logs = read_inputs(data)
    ps, ng = dosage.shape[1], logs.shape[0]
    p = log10_pvalues(zirk_result, corr_result, ps, ng)
    gene = np.zeros(p["MC"].shape, bool)
    for s in range(ps):
        g = s % ng
        others = [h for h in range(ng) if h != g]
        gene[s, [pair_index(min(g, h), max(g, h), ng) for h in others]] = True
    for name in SCORES:
        below = p[name] < np.log10(LEVEL)
        print("null", scenario, name, (below & gene).sum(), gene.sum(),
              (below & ~gene).sum(), (~gene).sum(), sep="\t")


def power(scenario, data, zirk_result, corr_result):
    dosage, logs = read_inputs(data)
    ps, ng = dosage.shape[1], logs.shape[0]
    p = {name: 10.0 ** v
         for name, v in log10_pvalues(zirk_result, corr_result, ps,
                                      ng).items()}
    p["linear model"] = lm_pvalues(dosage, logs)
    planted = np.genfromtxt(data + "/planted.tsv", names=True, dtype=None,
                            encoding=None, ndmin=1)
    cell = (planted["snp"], pair_index(planted["gene1"], planted["gene2"], ng))
    for name, values in p.items():
        hits = bh(values)
        print("power", scenario, name, hits[cell].sum(), len(planted),
              hits.sum(), sep="\t")


def table(path):
    rows = [line.rstrip("\n").split("\t") for line in open(path)]
    nulls = [r[1:] for r in rows if r[0] == "null"]
    powers = [r[1:] for r in rows if r[0] == "power"]
    if nulls:
        print("Share of p-values below 1e-3 (nominal 0.1 %): the pairs of "
              "the gene the SNP acts on / all other (SNP, pair) tests")
        print()
        print("| scenario | tests | " + " | ".join(SCORES) + " |")
        print("|---|---|" + "---|" * len(SCORES))
        for scenario in dict.fromkeys(r[0] for r in nulls):
            cells, tests = [], ""
            for name in SCORES:
                v = np.array([[int(x) for x in r[2:]] for r in nulls
                              if r[0] == scenario and r[1] == name]).sum(0)
                cells.append("%.2f %% / %.2f %%" % (100.0 * v[0] / v[1],
                                                    100.0 * v[2] / v[3]))
                tests = "%d / %d" % (v[1], v[3])
            print("| %s | %s | %s |" % (scenario, tests, " | ".join(cells)))
    if powers:
        names = list(dict.fromkeys(r[1] for r in powers))
        print()
        print("Planted pairs found at BH 0.05 (mean over seeds ± standard "
              "error; in brackets all hits per seed)")
        print()
        print("| pattern | planted | seeds | " + " | ".join(names) + " |")
        print("|---|---|---|" + "---|" * len(names))
        for scenario in dict.fromkeys(r[0] for r in powers):
            cells = []
            for name in names:
                v = np.array([[float(x) for x in r[2:]] for r in powers
                              if r[0] == scenario and r[1] == name])
                se = v[:, 0].std(ddof=1) / np.sqrt(len(v)) if len(v) > 1 else 0
                cells.append("%.1f ± %.1f (%.1f)" % (v[:, 0].mean(), se,
                                                     v[:, 2].mean()))
            print("| %s | %d | %d | %s |" % (scenario, v[0, 1], len(v),
                                             " | ".join(cells)))


if __name__ == "__main__":
    if len(sys.argv) == 6 and sys.argv[1] in ("null", "power"):
        (null if sys.argv[1] == "null" else power)(*sys.argv[2:])
    elif len(sys.argv) == 3 and sys.argv[1] == "table":
        table(sys.argv[2])
    else:
        sys.exit(__doc__)
