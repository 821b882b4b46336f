#!/usr/bin/python3
"""Power of zirk's IT against a linear interaction model, on planted pairs.

  validate_power.py score DATA RESULT   one line per planted pattern:
      pattern planted it_found lm_found it_hits lm_hits
  validate_power.py table SCORES        mean and standard error over seeds
  validate_power.py calibration T RESULT...   on data without effects
      screened at MC threshold 1: observed against expected IT p-values below
      0.05 ... 1e-4, over all pairs and over the pairs with MC p below T

DATA holds geno.txt, expr.txt, allele.txt and planted.tsv (validate_sim.py);
RESULT is zirk's result file on them. Both tests are read with
Benjamini-Hochberg at 0.05 over all (SNP, pair) tests; a pair that did not
reach the IT (flag 0 or 2) counts as p = 1.

The yardstick fits gene2 ~ dosage + gene1 + dosage x gene1 by least squares
and takes the t test of the product term (n - 4 df), in both directions; the
pair's p-value is min(1, 2 x the smaller of the two).
"""
import sys

import numpy as np
from scipy import stats

FDR = 0.05


def pair_index(g1, g2, ng):
    return g1 * ng - g1 * (g1 + 1) // 2 + (g2 - g1 - 1)


def read_inputs(data):
    ref = [line.split()[0] for line in open(data + "/allele.txt")]
    geno = np.array([line.split() for line in open(data + "/geno.txt")])
    dosage = ((geno[:, 0::2] == np.array(ref)).astype(float)
              + (geno[:, 1::2] == np.array(ref)))
    logs = np.log10(np.loadtxt(data + "/expr.txt", ndmin=2))
    return dosage, logs


def it_log10p(result, ps, ng):
    """log10 IT p-values, shape (SNPs, pairs); 0 where the IT did not run."""
    rows = np.loadtxt(result, skiprows=3, ndmin=2)
    out = np.zeros((ps, ng * (ng - 1) // 2))
    it = rows[rows[:, 3] == 1]
    snp, g1, g2 = (it[:, k].astype(int) for k in range(3))
    out[snp, pair_index(g1, g2, ng)] = it[:, 6]
    return out


def lm_pvalues(dosage, logs):
    """Two-direction interaction p-values, shape (SNPs, pairs)."""
    ng, n = logs.shape
    iu = np.triu_indices(ng, 1)
    out = np.empty((dosage.shape[1], len(iu[0])))
    y = logs.T
    for s in range(dosage.shape[1]):
        d = dosage[:, s]
        directed = np.ones((ng, ng))
        for i in range(ng):
            x = np.column_stack([np.ones(n), d, y[:, i], d * y[:, i]])
            q, r = np.linalg.qr(x)
            beta = np.linalg.solve(r, q.T @ y)
            sse = ((y - x @ beta) ** 2).sum(axis=0)
            rinv = np.linalg.inv(r)
            se = np.sqrt(sse / (n - 4) * (rinv[3] @ rinv[3]))
            with np.errstate(divide="ignore", invalid="ignore"):
                t = beta[3] / se
            directed[i] = 2 * stats.t.sf(np.abs(t), n - 4)
        directed[~np.isfinite(directed)] = 1.0
        smaller = np.minimum(directed, directed.T)[iu]
        out[s] = np.minimum(1.0, 2 * smaller)
    return out


def bh(p, q=FDR):
    """Benjamini-Hochberg selection at level q over every entry of p."""
    flat = p.ravel()
    order = np.argsort(flat)
    m = len(flat)
    passed = np.nonzero(flat[order] <= q * np.arange(1, m + 1) / m)[0]
    keep = np.zeros(m, bool)
    if len(passed):
        keep[order[:passed[-1] + 1]] = True
    return keep.reshape(p.shape)


def score(data, result):
    dosage, logs = read_inputs(data)
    ps, ng = dosage.shape[1], logs.shape[0]
    it_hits = bh(10.0 ** it_log10p(result, ps, ng))
    lm_hits = bh(lm_pvalues(dosage, logs))
    planted = np.genfromtxt(data + "/planted.tsv", names=True, dtype=None,
                            encoding=None, ndmin=1)
    for name in dict.fromkeys(planted["pattern"]):
        rows = planted[planted["pattern"] == name]
        cell = (rows["snp"], pair_index(rows["gene1"], rows["gene2"], ng))
        print(name, len(rows), it_hits[cell].sum(), lm_hits[cell].sum(),
              it_hits.sum(), lm_hits.sum())


def table(path):
    rows = [line.split() for line in open(path)]
    print("| pattern | planted | seeds | IT found | linear model found "
          "| IT, all hits | linear model, all hits |")
    print("|---|---|---|---|---|---|---|")
    for name in dict.fromkeys(r[0] for r in rows):
        v = np.array([[float(x) for x in r[1:]] for r in rows if r[0] == name])
        cells = []
        for k in (1, 2, 3, 4):
            m, se = v[:, k].mean(), v[:, k].std(ddof=1) / np.sqrt(len(v))
            cells.append("%.1f ± %.1f (%d–%d)"
                         % (m, se, v[:, k].min(), v[:, k].max()))
        print("| %s | %d | %d | %s |" % (name, v[0, 0], len(v),
                                         " | ".join(cells)))


def calibration(threshold, results):
    rows = np.concatenate([np.loadtxt(r, skiprows=3, ndmin=2) for r in results])
    it = rows[rows[:, 3] == 1]
    if len(it) < len(rows):
        sys.exit("Error: calibration needs every pair to reach the IT")
    screened = it[it[:, 4] < np.log10(threshold)]
    print("| IT p below | all pairs (%d): observed / expected "
          "| pairs with MC p < %g (%d): observed / expected |"
          % (len(it), threshold, len(screened)))
    print("|---|---|---|")
    for t in (0.05, 1e-2, 1e-3, 1e-4):
        cells = ["%d / %.1f" % ((part[:, 6] < np.log10(t)).sum(), len(part) * t)
                 for part in (it, screened)]
        print("| %g | %s |" % (t, " | ".join(cells)))


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "score":
        score(sys.argv[2], sys.argv[3])
    elif len(sys.argv) == 3 and sys.argv[1] == "table":
        table(sys.argv[2])
    elif len(sys.argv) >= 4 and sys.argv[1] == "calibration":
        calibration(float(sys.argv[2]), sys.argv[3:])
    else:
        sys.exit(__doc__)
