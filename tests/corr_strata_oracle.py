#!/usr/bin/env python3
"""Checks zirk-corr's stratified trend and het against an independent
computation with numpy/scipy, on input files built here: three strata of
unequal sizes (interleaved in the file), SNPs where a stratum has a class
below the minimum size, a stratum with one class only, every stratum with
one class only (tests NA, correlations printed), and class frequencies that
differ between the strata; at the default minimum class size and at the
smallest one may set. Also: one and two threads give the same bytes,
--strata FILE the same as the data folder's strata.txt, the in-process
summary the same as zirk-report's from the rows, and a strata file of the
wrong length one Error: line and no output.

    corr_strata_oracle.py ZIRK_CORR ZIRK_REPORT WORK_DIR

The oracle ranks each (stratum, class) cell with scipy.stats.rankdata,
correlates with numpy.corrcoef, weights each cell by (n - 3) times the
smaller of 1 / (1 + rbar^2 / 2), rbar the stratum's pooled correlation, and
the pair's cap among the stratum's individuals (corr_oracle.pair_cap: a
stratum whose cap is 0 contributes nothing), fits the trend as a
weighted least-squares regression of z on the class number with one
intercept per contributing stratum (normal equations, numpy.linalg), sums
the strata's heterogeneity statistics, and takes the tails from
scipy.special (log_ndtr, chdtrc).
"""

import math
import os
import subprocess
import sys

import numpy as np
from scipy import special

from corr_oracle import (DEFAULT_MIN_CLASS, LN10, SMALLEST_CLASS, check,
                         class_ranks, failures, finish, pair_cap)

STRATA = ["north", "south", "island"]
SIZES = [90, 50, 28]


def build(rng):
    """Groups (per individual), classes (SNPs x individuals) and raw values
    (genes x individuals)."""
    group = np.repeat(np.arange(3), SIZES)
    rng.shuffle(group)
    individuals, genes = group.size, 70
    cls = np.empty((6, individuals), dtype=int)
    # Frequencies of classes 0, 1, 2 per stratum and SNP.
    layouts = [
        [(0.4, 0.4, 0.2)] * 3,                          # island's class 2 small
        [(0.3, 0.4, 0.3), (1, 0, 0), (0.3, 0.4, 0.3)],  # south: class 0 only
        [(1, 0, 0), (0, 1, 0), (0, 0, 1)],              # one class per stratum
        [(0.7, 0.25, 0.05), (0.3, 0.5, 0.2), (0.05, 0.25, 0.7)],
        [(0, 1, 0)] * 3,                                # one class everywhere
        [(1 / 3, 1 / 3, 1 / 3)] * 3,
    ]
    for s, layout in enumerate(layouts):
        for t in range(3):
            members = group == t
            cls[s, members] = rng.choice(3, size=members.sum(), p=layout[t])
    # Co-expression that differs between the strata, and a dosage trend at
    # SNP 3 for the first ten genes.
    shared = rng.normal(size=individuals)
    strength = np.array([0.2, 0.8, 0.5])[group]
    logs = np.empty((genes, individuals))
    for g in range(genes):
        slope = 0.3 * cls[3] if g < 10 else 0.0
        weight = strength + slope
        logs[g] = 2.0 + 0.3 * (weight * shared + rng.normal(size=individuals))
    values = 10.0 ** logs
    values[:20] = np.round(values[:20], -1)          # ties
    values[12, (group == 0) & (cls[0] == 1)] = 55.0  # constant in one cell
    values[13, 7] = -1.0                             # log10 NaN
    values[14, [3, 8]] = 0.0                         # log10 -inf
    return group, cls, values


def write_inputs(folder, group, cls, values):
    os.makedirs(folder, exist_ok=True)
    alleles = {0: "A A", 1: "A G", 2: "G G"}
    with open(os.path.join(folder, "geno.txt"), "w") as out:
        for i in range(cls.shape[1]):
            out.write(" ".join(alleles[int(c)] for c in cls[:, i]) + "\n")
    with open(os.path.join(folder, "expr.txt"), "w") as out:
        for row in values:
            out.write(" ".join(repr(float(v)) for v in row) + "\n")
    with open(os.path.join(folder, "allele.txt"), "w") as out:
        out.write("A G\n" * cls.shape[0])
    with open(os.path.join(folder, "strata.txt"), "w") as out:
        out.write("".join(STRATA[t] + "\n" for t in group))


def correlations(logs, members, min_class):
    """genes x genes Spearman correlations of one cell, NaN where a gene is
    not usable in it."""
    genes = logs.shape[0]
    ranks = [class_ranks(logs[g, members], min_class) for g in range(genes)]
    matrix = np.full((genes, genes), math.nan)
    used = [g for g in range(genes) if ranks[g] is not None]
    if used:
        with np.errstate(invalid="ignore", divide="ignore"):
            block = np.atleast_2d(np.corrcoef(np.array([ranks[g] for g in used])))
        matrix[np.ix_(used, used)] = block
    return matrix


def stratified(n, r, caps):
    """Pooled r per class and log10 p of trend and het from the cells'
    sizes n[t][k], correlations r[t][k] (NaN: not usable) and the pair's
    cap in each stratum."""
    zs, ws, xs, intercepts = [], [], [], []
    q, df = 0.0, 0
    zsum, wsum = np.zeros(3), np.zeros(3)
    for t in range(len(n)):
        ks = [k for k in range(3) if not math.isnan(r[t][k])]
        nk = np.array([n[t][k] for k in ks], dtype=float)
        limit = 1.0 - 6.0 / (nk ** 3 - nk)
        z = np.arctanh(np.clip([r[t][k] for k in ks], -limit, limit))
        for k, zk, m in zip(ks, z, nk):
            zsum[k] += (m - 3.0) * zk
            wsum[k] += m - 3.0
        if len(ks) < 2 or caps[t] == 0.0:
            continue
        pooled = np.tanh(np.average(z, weights=nk - 3.0))
        w = (nk - 3.0) * min(1.0 / (1.0 + pooled ** 2 / 2.0), caps[t])
        q += float(np.sum(w * (z - np.average(z, weights=w)) ** 2))
        df += len(ks) - 1
        zs += list(z)
        ws += list(w)
        xs += ks
        intercepts += [t] * len(ks)
    with np.errstate(invalid="ignore", divide="ignore"):
        pooled_r = list(np.where(wsum > 0, np.tanh(zsum / wsum), math.nan))
    if df == 0:
        return pooled_r, math.nan, math.nan
    levels = sorted(set(intercepts))
    design = np.column_stack(
        [np.array([float(i == level) for i in intercepts]) for level in levels]
        + [np.array(xs, dtype=float)])
    w = np.array(ws)
    information = design.T @ (w[:, None] * design)
    beta = np.linalg.solve(information, design.T @ (w * np.array(zs)))
    t_stat = beta[-1] / math.sqrt(np.linalg.inv(information)[-1, -1])
    trend = (special.log_ndtr(-abs(t_stat)) + math.log(2.0)) / LN10
    het = math.log(special.chdtrc(df, q)) / LN10
    return pooled_r, trend, het


def run(program, args, out):
    subprocess.run([program] + args + ["-o", out], check=True)
    with open(out, "rb") as f:
        return f.read()


def check_rows(program, report, folder, group, cls, values, min_class):
    option = [] if min_class == DEFAULT_MIN_CLASS else ["-m", str(min_class)]
    one = run(program, ["--data", folder, "-t", "1", "-s",
                        os.path.join(folder, "own.summary")] + option,
              os.path.join(folder, "rows1"))
    two = run(program, ["--data", folder, "-t", "2"] + option,
              os.path.join(folder, "rows2"))
    given = run(program, ["-g", os.path.join(folder, "geno.txt"),
                          "-e", os.path.join(folder, "expr.txt"),
                          "-a", os.path.join(folder, "allele.txt"),
                          "--strata", os.path.join(folder, "strata.txt")]
                + option, os.path.join(folder, "rows3"))
    if one != two:
        failures.append("one and two threads give different stratified rows")
    if one != given:
        failures.append("--strata FILE and the folder's strata.txt differ")
    subprocess.run([report, "--summary", os.path.join(folder, "ref.summary"),
                    os.path.join(folder, "rows1")], check=True)
    with open(os.path.join(folder, "own.summary"), "rb") as a, \
            open(os.path.join(folder, "ref.summary"), "rb") as b:
        if a.read() != b.read():
            failures.append("the in-process summary differs from the rows'")
    lines = one.decode().splitlines()[1:]
    with np.errstate(invalid="ignore", divide="ignore"):
        logs = np.log10(np.where(values < 0, math.nan, values))
    genes = values.shape[0]
    if len(lines) != cls.shape[0] * genes * (genes - 1) // 2:
        failures.append("%d rows" % len(lines))
        return
    seen = {"contributing strata < 3": 0, "no test": 0, "pooled r, no test": 0,
            "a binding cap": 0}
    caps = {(t, g1, g2): pair_cap(logs[g1, group == t], logs[g2, group == t])
            for t in range(3) for g1 in range(genes)
            for g2 in range(g1 + 1, genes)}
    for s in range(cls.shape[0]):
        cells = {(t, k): correlations(logs, (group == t) & (cls[s] == k),
                                      min_class)
                 for t in range(3) for k in range(3)}
        n = [[int(((group == t) & (cls[s] == k)).sum()) for k in range(3)]
             for t in range(3)]
        for line in lines[s * genes * (genes - 1) // 2:
                          (s + 1) * genes * (genes - 1) // 2]:
            row = line.split("\t")
            g1, g2 = int(row[1]), int(row[2])
            if int(row[0]) != s:
                failures.append("row order at SNP %d" % s)
                return
            r = [[cells[t, k][g1, g2] for k in range(3)] for t in range(3)]
            cap = [caps[t, g1, g2] for t in range(3)]
            pooled, trend, het = stratified(n, r, cap)
            seen["a binding cap"] += any(0 < c < 1 for c in cap)
            # A float cap moves a p-value by up to 6e-8 of itself.
            tolerance = 2e-7 if any(c < 1 for c in cap) else 1e-9
            contributing = sum(
                sum(not math.isnan(x) for x in r[t]) >= 2 for t in range(3))
            seen["contributing strata < 3"] += 0 < contributing < 3
            seen["no test"] += math.isnan(het)
            seen["pooled r, no test"] += (math.isnan(het) and
                                          not any(map(math.isnan, pooled)))
            what = "m %d SNP %d genes %d %d" % (min_class, s, g1, g2)
            totals = [int((cls[s] == k).sum()) for k in range(3)]
            if [int(f) for f in row[3:6]] != totals:
                failures.append("%s: n %s, want %s" % (what, row[3:6], totals))
            for field, want, name in zip(row[6:], pooled + [trend, het],
                                         ("r0", "r1", "r2", "trend", "het")):
                got = math.nan if field == "NA" else float(field)
                check("%s %s" % (what, name), got, want, tolerance, 5.1e-7)
    for case, count in seen.items():
        if count == 0:
            failures.append("no pair with %s at -m %d" % (case, min_class))


def check_bad_strata(program, folder):
    short = os.path.join(folder, "short.txt")
    with open(short, "w") as f:
        f.write("north\nsouth\n")
    out = os.path.join(folder, "bad.rows")
    done = subprocess.run([program, "--data", folder, "--strata", short, "-o",
                           out], capture_output=True, text=True)
    want = ("Error: %s: 2 lines, but %s/geno.txt has %d individuals\n" %
            (short, folder, sum(SIZES)))
    if done.returncode != 1 or done.stderr != want or os.path.exists(out):
        failures.append("short strata file: %d %r" %
                        (done.returncode, done.stderr))


def main():
    program, report, folder = sys.argv[1:4]
    group, cls, values = build(np.random.default_rng(3))
    write_inputs(folder, group, cls, values)
    for min_class in (DEFAULT_MIN_CLASS, SMALLEST_CLASS):
        check_rows(program, report, folder, group, cls, values, min_class)
    check_bad_strata(program, folder)
    return finish()


if __name__ == "__main__":
    sys.exit(main())
