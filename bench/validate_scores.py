#!/usr/bin/python3
"""What each score detects: zirk's MC and IT against zirk-corr's trend and
het, on the simulations of validate_sim.py.

  validate_scores.py null SCENARIO DATA ZIRK_RESULT CORR_RESULT
      one line per score: null, scenario, score, gene_below, gene_tests,
      other_below, other_tests (tab-separated), the p-values below 1e-3 among the pairs of the gene that
      SNP s may act on (gene s mod genes, at SNP s) and among all other
      (SNP, pair) tests
  validate_scores.py power SCENARIO DATA ZIRK_RESULT CORR_RESULT
          [NULL_ZIRK_RESULT NULL_CORR_RESULT]...
      one line per score: power, scenario, score, found, planted, all_hits at
      Benjamini-Hochberg 0.05 over every (SNP, pair) test, the linear cross
      model of validate_power.py included; with the results of K permuted
      copies of the expression, also one line per score of MC, IT, trend and
      het: efdr, scenario, score, found, planted, all_hits, K, gate (1 when
      the run-level gate passed) at empirical FDR 0.05, defined as
      zirk-report defines it (see empirical_fdr)
  validate_scores.py table SCORES
      the markdown tables, summed (null) or averaged (power, efdr) over seeds

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
FDR = 0.05
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


def empirical_fdr(data, nulls, fdr=FDR):
    """The tests of `data` (log10 p, any shape) selected at empirical FDR
    `fdr` given the same tests of K permuted runs, and whether the run-level
    gate passed.

    Written apart from zirk-report's histograms so that it checks them: at
    the data's value t of a test, min(1, mean over the runs of their tests at
    or below t / the data's tests at or below t), then a running minimum from
    the largest value down. Without the gate, (1 + the runs whose smallest
    value is at or below the data's) / (K + 1) at most `fdr`, a chance best
    row repeated over SNPs in linkage disequilibrium would pass about one run
    in K + 1, so nothing is selected then. A test without a value (NaN) and
    log10 p above 0 (MC's fixed 2.0) count as p = 1, as in zirk-report.
    """
    def as_family(x):
        x = x.ravel()
        return np.where(np.isnan(x), 0.0, np.minimum(x, 0.0))

    values = as_family(data)
    nulls = [np.sort(as_family(n)) for n in nulls]
    distinct, at_or_below = np.unique(values, return_counts=True)
    at_or_below = np.cumsum(at_or_below)
    expected = np.mean([np.searchsorted(n, distinct, side="right")
                        for n in nulls], axis=0)
    q = np.minimum(1.0, expected / at_or_below)
    q = np.minimum.accumulate(q[::-1])[::-1]
    run_p = (1 + sum(n[0] <= distinct[0] for n in nulls)) / (len(nulls) + 1)
    gate = run_p <= fdr
    selected = gate & (q[np.searchsorted(distinct, values)] <= fdr)
    return selected.reshape(data.shape), gate


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


def power(scenario, data, zirk_result, corr_result, *null_results):
    dosage, logs = read_inputs(data)
    ps, ng = dosage.shape[1], logs.shape[0]
    log10p = log10_pvalues(zirk_result, corr_result, ps, ng)
    p = {name: 10.0 ** v for name, v in log10p.items()}
    p["linear model"] = lm_pvalues(dosage, logs)
    planted = np.genfromtxt(data + "/planted.tsv", names=True, dtype=None,
                            encoding=None, ndmin=1)
    cell = (planted["snp"], pair_index(planted["gene1"], planted["gene2"], ng))
    for name, values in p.items():
        hits = bh(values)
        print("power", scenario, name, hits[cell].sum(), len(planted),
              hits.sum(), sep="\t")
    if not null_results:
        return
    nulls = [log10_pvalues(z, c, ps, ng)
             for z, c in zip(null_results[0::2], null_results[1::2])]
    for name in SCORES:
        hits, gate = empirical_fdr(log10p[name], [n[name] for n in nulls])
        print("efdr", scenario, name, hits[cell].sum(), len(planted),
              hits.sum(), len(nulls), int(gate), sep="\t")


def table(path):
    rows = [line.rstrip("\n").split("\t") for line in open(path)]
    nulls = [r[1:] for r in rows if r[0] == "null"]
    powers = [r[1:] for r in rows if r[0] == "power"]
    efdrs = [r[1:] for r in rows if r[0] == "efdr"]
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
        power_table(powers, "Planted pairs found at BH 0.05")
    if efdrs:
        power_table(efdrs, "Planted pairs found at empirical FDR 0.05 with %s "
                    "permutations" % efdrs[0][5])
        failed = {}
        for r in efdrs:
            if r[6] == "0":
                failed[(r[0], r[1])] = failed.get((r[0], r[1]), 0) + 1
        if failed:
            print()
            print("Data sets whose run-level gate failed (nothing selected): "
                  + "; ".join("%s, %s: %d" % (k + (v,))
                              for k, v in failed.items()))


def power_table(rows, title):
    """Mean ± standard error over seeds of the planted pairs found, all hits
    in brackets, one row per scenario and one column per score."""
    names = list(dict.fromkeys(r[1] for r in rows))
    print()
    print(title + " (mean over seeds ± standard error; in brackets all hits "
          "per seed)")
    print()
    print("| pattern | planted | seeds | " + " | ".join(names) + " |")
    print("|---|---|---|" + "---|" * len(names))
    for scenario in dict.fromkeys(r[0] for r in rows):
        cells = []
        for name in names:
            v = np.array([[float(x) for x in r[2:5]] for r in rows
                          if r[0] == scenario and r[1] == name])
            se = v[:, 0].std(ddof=1) / np.sqrt(len(v)) if len(v) > 1 else 0
            cells.append("%.1f ± %.1f (%.1f)" % (v[:, 0].mean(), se,
                                                 v[:, 2].mean()))
        print("| %s | %d | %d | %s |" % (scenario, v[0, 1], len(v),
                                         " | ".join(cells)))


if __name__ == "__main__":
    if len(sys.argv) == 6 and sys.argv[1] == "null":
        null(*sys.argv[2:])
    elif len(sys.argv) >= 6 and len(sys.argv) % 2 == 0 and \
            sys.argv[1] == "power":
        power(*sys.argv[2:])
    elif len(sys.argv) == 3 and sys.argv[1] == "table":
        table(sys.argv[2])
    else:
        sys.exit(__doc__)
