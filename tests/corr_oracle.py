#!/usr/bin/env python3
"""Checks zirk-corr's statistics against an independent computation with
numpy/scipy: the per-pair library (through corr_pairs_driver) to 1e-9
relative, and the program's rows (BLAS path, six printed decimals) on input
files built here, with one and with two threads giving the same bytes; both
at the default minimum class size and at the smallest one may set.

    corr_oracle.py ZIRK_CORR PAIRS_DRIVER WORK_DIR

The oracle ranks with scipy.stats.rankdata, correlates with numpy.corrcoef,
weights each class by the inverse of the larger of Bonett and Wright's
variance of Fisher's z, (1 + rbar^2 / 2) / (n - 3) with rbar the tanh of the
classes' mean z weighted by n - 3, and the pair's own over all its
individuals from the influence function of Spearman's rho (its sums taken
by sorting and searchsorted), fits the trend as a weighted least-squares
regression through its normal equations, and takes the tails from
scipy.special (log_ndtr, chdtrc).
"""

import math
import os
import subprocess
import sys

import numpy as np
from scipy import special, stats

LN10 = math.log(10.0)
# zirk-corr's documented default minimum class size, and the least it takes.
DEFAULT_MIN_CLASS = 20
SMALLEST_CLASS = 4


def class_ranks(values, min_class):
    """Average ranks of one class's values, or None when the class is not
    usable for the gene (fewer than min_class, a NaN, all equal)."""
    if len(values) < min_class or np.isnan(values).any():
        return None
    ranks = stats.rankdata(values)
    return ranks if np.ptp(ranks) > 0 else None


def pair_cap(a, b):
    """The bound on the weights' inverse factor from the pair's own variance
    of z, 144 Var(h) / (1 - rho^2)^2 over all individuals, as a float32
    (math.inf: no bound)."""
    if np.isnan(a).any() or np.isnan(b).any():
        return math.inf
    m = len(a)
    u, v = stats.rankdata(a) / m, stats.rankdata(b) / m
    if np.ptp(u) == 0 or np.ptp(v) == 0:
        return math.inf

    def sum_at_or_above(key, weight):
        # For each i: the sum of weight_j over j with key_j >= key_i.
        order = np.argsort(key, kind="stable")
        tail = np.concatenate([np.cumsum(weight[order][::-1])[::-1], [0.0]])
        return tail[np.searchsorted(key[order], key, side="left")]

    h = u * v + (sum_at_or_above(u, v) + sum_at_or_above(v, u)) / m
    rho = np.corrcoef(u, v)[0, 1]
    if not 1.0 - rho ** 2 > 0.0:
        return 0.0
    f = 144.0 * h.var() / (1.0 - rho ** 2) ** 2
    return float(np.float32(1.0 / f)) if f > 1.0 else math.inf


def tests(n, r, cap=math.inf):
    """log10 p of trend and het from the class sizes and correlations (NaN
    where a class is not usable) and the pair's cap."""
    ks = [k for k in range(3) if not math.isnan(r[k])]
    if len(ks) < 2:
        return math.nan, math.nan
    nk = np.array([n[k] for k in ks], dtype=float)
    limit = 1.0 - 6.0 / (nk ** 3 - nk)
    z = np.arctanh(np.clip([r[k] for k in ks], -limit, limit))
    pooled = np.tanh(np.average(z, weights=nk - 3.0))
    w = (nk - 3.0) * min(1.0 / (1.0 + pooled ** 2 / 2.0), cap)
    if cap == 0.0:
        return math.nan, math.nan  # ranks that agree exactly: no tests
    design = np.column_stack([np.ones(len(ks)), np.array(ks, dtype=float)])
    information = design.T @ (w[:, None] * design)
    beta = np.linalg.solve(information, design.T @ (w * z))
    t = beta[1] / math.sqrt(np.linalg.inv(information)[1, 1])
    q = float(np.sum(w * (z - np.average(z, weights=w)) ** 2))
    # The normal tail from log_ndtr (exact far below the smallest double);
    # the chi-squared tail from chdtrc until it underflows, then from its
    # exact forms for 1 and 2 degrees of freedom.
    trend = (special.log_ndtr(-abs(t)) + math.log(2.0)) / LN10
    tail = special.chdtrc(len(ks) - 1, q)
    if tail > 1e-300:
        het = math.log(tail)
    else:
        het = (special.log_ndtr(-math.sqrt(q)) + math.log(2.0)
               if len(ks) == 2 else -q / 2.0)
    return trend, het / LN10


def oracle(a, b, cls, min_class):
    """n, r (NaN where unusable), log10 p trend and het (NaN with < 2)."""
    n, r = [], []
    for k in range(3):
        members = cls == k
        n.append(int(members.sum()))
        ra = class_ranks(a[members], min_class)
        rb = class_ranks(b[members], min_class)
        ok = ra is not None and rb is not None
        r.append(np.corrcoef(ra, rb)[0, 1] if ok else math.nan)
    return (n, r) + tests(n, r, pair_cap(a, b))


def close(got, want, relative, absolute):
    if math.isnan(want):
        return math.isnan(got)
    if math.isinf(want):
        return got == want
    return abs(got - want) <= relative * abs(want) + absolute


failures = []


def check(what, got, want, relative, absolute):
    if not close(got, want, relative, absolute):
        failures.append("%s: got %r, want %r" % (what, got, want))


def pair_cases(rng):
    """(a, b, cls) cases for the per-pair library: random and degenerate."""
    cases = []
    for m in (12, 30, 80, 200):
        for _ in range(25):
            a = rng.normal(size=m)
            b = 0.5 * a + rng.normal(size=m)
            cases.append((a, b, rng.integers(0, 3, size=m)))
    # Ties, heavy ones included.
    for _ in range(20):
        a = np.round(rng.normal(size=60), 1)
        b = rng.integers(0, 4, size=60).astype(float)
        cases.append((a, b, rng.integers(0, 3, size=60)))
    a, b = rng.normal(size=40), rng.normal(size=40)
    # Class sizes at the limit: 4 (usable) and 3 (not), the rest class 2.
    cls = np.array([0] * 4 + [1] * 3 + [2] * 33)
    cases.append((a, b, cls))
    # An empty class, and classes 3 and -1 that count as none.
    cases.append((a, b, np.array([0, 2] * 20)))
    cases.append((a, b, np.array([0, 1, 3, -1] * 10)))
    # One usable class only: no tests.
    cases.append((a, b, np.array([0] * 37 + [1] * 3)))
    # A gene constant within class 1.
    cls = np.array([0, 1, 2, 1] * 10)
    constant = a.copy()
    constant[cls == 1] = 2.5
    cases.append((constant, b, cls))
    # Perfect correlations (clipped for z): +1 in class 0, -1 in class 2.
    cls = np.array([0, 1, 2] * 20)
    a = rng.normal(size=60)
    b = rng.normal(size=60)
    b[cls == 0] = 3 * a[cls == 0]
    b[cls == 2] = -a[cls == 2]
    cases.append((a, b, cls))
    # -inf ranks lowest; NaN makes its class unusable.
    a = rng.normal(size=40)
    a[[0, 3]] = -math.inf
    b = rng.normal(size=40)
    b[5] = math.nan
    cases.append((a, b, np.array([0, 1, 2, 2, 1] * 8)))
    # Far tails: p-values far below the smallest double.
    cls = np.array([0] * 3000 + [1] * 3000 + [2] * 3000)
    a = rng.normal(size=9000)
    b = a + 0.05 * rng.normal(size=9000)
    b[cls == 2] = -b[cls == 2]
    cases.append((a, b, cls))
    cases.append((a, b, np.where(cls == 1, 9, cls)))
    return cases


def check_library(driver, min_class):
    cases = pair_cases(np.random.default_rng(7))
    text = "".join(
        "%d\n%s\n%s\n%s\n" % (len(a), " ".join(repr(float(v)) for v in a),
                             " ".join(repr(float(v)) for v in b),
                             " ".join(str(int(v)) for v in c))
        for a, b, c in cases)
    lines = subprocess.run([driver, str(min_class)], input=text, capture_output=True,
                           text=True, check=True).stdout.splitlines()
    if len(lines) != len(cases):
        failures.append("driver: %d answers for %d cases" %
                        (len(lines), len(cases)))
        return
    far = capped = 0
    for number, ((a, b, cls), line) in enumerate(zip(cases, lines)):
        fields = line.split()
        n, r, trend, het = oracle(a, b, cls, min_class)
        # A cap is a float: where it binds, an ulp of it moves the p-values
        # by 6e-8 of themselves.
        tolerance = 1e-9 if pair_cap(a, b) == math.inf else 2e-7
        capped += tolerance > 1e-9
        what = "case %d, classes of at least %d" % (number, min_class)
        if [int(f) for f in fields[:3]] != n:
            failures.append("%s: n %s, want %s" % (what, fields[:3], n))
        for k in range(3):
            check("%s r%d" % (what, k), float(fields[3 + k]), r[k], 1e-9,
                  1e-13)
        check(what + " trend", float(fields[6]), trend, tolerance, 1e-13)
        check(what + " het", float(fields[7]), het, tolerance, 1e-13)
        far += het < -400
    if far < 2:
        failures.append("the far-tail cases did not reach the far tail")
    if capped < 20:
        failures.append("only %d cases with a variance cap" % capped)


def write_inputs(folder, rng):
    """Input files of 50 individuals, 100 genes (two panels of the BLAS
    path) and 6 SNPs with every degenerate class layout; returns the raw
    values (genes x individuals) and the classes (SNPs x individuals)."""
    individuals, genes = 50, 100
    cls = rng.integers(0, 3, size=(6, individuals))
    cls[1] = [0] * 4 + [1] * 3 + [2] * 43   # at the limit, and below it
    cls[2] = rng.integers(0, 2, size=individuals)  # class 2 empty
    cls[3] = 1                               # one class only
    cls[4] = [0] * 25 + [2] * 25
    cls[5] = [0] * 15 + [1] * 14 + [2] * 21  # at the default limit, below it
    values = 10.0 ** rng.normal(2.0, 0.4, size=(genes, individuals))
    values[:40] = np.round(values[:40], -1)   # ties
    values[5, cls[0] == 1] = 77.0             # constant in a class of SNP 0
    values[7, [2, 9]] = 0.0                   # log10 is -inf
    values[8, 11] = -1.0                      # log10 is NaN
    values[9] = values[10] * 3                # perfectly correlated pair
    values[11] = 42.0                         # constant everywhere
    alleles = {0: ("A", "A"), 1: ("A", "G"), 2: ("G", "G")}
    with open(os.path.join(folder, "geno.txt"), "w") as out:
        for i in range(individuals):
            calls = []
            for s in range(cls.shape[0]):
                first, second = alleles[int(cls[s, i])]
                # Heterozygotes in both orders, and a class-2 call without
                # either allele of the allele file.
                if cls[s, i] == 1 and i % 2:
                    first, second = second, first
                if cls[s, i] == 2 and i % 5 == 0:
                    first, second = "C", "T"
                calls.append(first + " " + second)
            out.write(" ".join(calls) + "\n")
    with open(os.path.join(folder, "expr.txt"), "w") as out:
        for g in range(genes):
            out.write(" ".join(repr(float(v)) for v in values[g]) + "\n")
    with open(os.path.join(folder, "allele.txt"), "w") as out:
        out.write("A G\n" * cls.shape[0])
    return values, cls


def run_program(program, folder, min_class):
    """The rows' lines at `min_class` (None: the default), the same bytes
    with one and with two threads."""
    outputs = []
    for threads in ("1", "2"):
        path = os.path.join(folder, "rows-%s.tsv" % threads)
        option = [] if min_class is None else ["-m", str(min_class)]
        subprocess.run([program, "--data", folder, "-o", path, "--threads",
                        threads] + option, check=True)
        with open(path, "rb") as rows:
            outputs.append(rows.read())
    if outputs[0] != outputs[1]:
        failures.append("one and two threads give different rows")
    return outputs[0].decode().splitlines()


def check_program(program, folder, min_class):
    os.makedirs(folder, exist_ok=True)
    values, cls = write_inputs(folder, np.random.default_rng(11))
    lines = run_program(program, folder,
                        None if min_class == DEFAULT_MIN_CLASS else min_class)
    header = ("snp\tgene1\tgene2\tn0\tn1\tn2\tr0\tr1\tr2\t"
              "log10_p_trend\tlog10_p_het")
    if lines[0] != header:
        failures.append("header: %r" % lines[0])
    genes = values.shape[0]
    expected = [(s, g1, g2) for s in range(cls.shape[0])
                for g1 in range(genes) for g2 in range(g1 + 1, genes)]
    rows = [line.split("\t") for line in lines[1:]]
    if [tuple(int(f) for f in row[:3]) for row in rows] != expected:
        failures.append("rows are not every SNP and pair in order")
        return
    # Negative values have no logarithm: NaN, as zirk computes them. All
    # pairs' correlations of a class at once from numpy.corrcoef.
    with np.errstate(invalid="ignore"):
        logs = np.where(values < 0, math.nan, values)
    snp_r = {}
    for s in range(cls.shape[0]):
        for k in range(3):
            ranks = [class_ranks(logs[g, cls[s] == k], min_class)
                     for g in range(genes)]
            usable = [x is not None for x in ranks]
            matrix = np.full((genes, genes), math.nan)
            if any(usable):
                rows_used = np.flatnonzero(usable)
                with np.errstate(invalid="ignore", divide="ignore"):
                    block = np.corrcoef(np.array([ranks[g] for g in rows_used]))
                matrix[np.ix_(rows_used, rows_used)] = block
            snp_r[s, k] = matrix
    caps = {(g1, g2): pair_cap(logs[g1], logs[g2])
            for g1 in range(genes) for g2 in range(g1 + 1, genes)}
    if caps[9, 10] != 0.0 or sum(0 < c < 1 for c in caps.values()) < 100:
        failures.append("the inputs do not exercise the variance caps")
    for row in rows:
        s, g1, g2 = (int(f) for f in row[:3])
        n = [int((cls[s] == k).sum()) for k in range(3)]
        r = [snp_r[s, k][g1, g2] for k in range(3)]
        trend, het = tests(n, r, caps[g1, g2])
        what = "SNP %d genes %d %d" % (s, g1, g2)
        if [int(f) for f in row[3:6]] != n:
            failures.append("%s: n %s, want %s" % (what, row[3:6], n))
        for field, want, name in zip(row[6:], r + [trend, het],
                                     ("r0", "r1", "r2", "trend", "het")):
            got = math.nan if field == "NA" else float(field)
            check("%s %s" % (what, name), got, want,
                  1e-9 if caps[g1, g2] == math.inf else 2e-7, 5.1e-7)


def finish():
    """Prints the first failures and their count; the exit status."""
    for failure in failures[:20]:
        print(failure)
    if failures:
        print("%d failures" % len(failures))
        return 1
    return 0


def main():
    program, driver, folder = sys.argv[1:4]
    for min_class in (DEFAULT_MIN_CLASS, SMALLEST_CLASS):
        check_library(driver, min_class)
        check_program(program, folder, min_class)
    return finish()


if __name__ == "__main__":
    sys.exit(main())
