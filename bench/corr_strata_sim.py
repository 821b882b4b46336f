#!/usr/bin/python3
"""Calibration and power of zirk-corr's trend and het with and without
strata, by simulation in numpy: groups with co-expression of their own and
allele frequencies of their own, and no SNP effect on anything.

    corr_strata_sim.py [--reps N] [--power-reps N] [--delta D] [--seed S]
                       [--only calibration|power|program] [--program ZIRK_CORR DIR]

Each replicate is one gene pair at one SNP. Individuals of group g (sizes
e.g. 250 and 108) get genotypes from Hardy-Weinberg proportions at the
group's alternative-allele frequency (0.2 in the first group, 0.2 + d in
the last, d from 0 to 0.4, groups between evenly spaced) and the pair's
two values from a bivariate normal with the group's correlation (e.g. 0.2
and 0.7). The Spearman correlations are computed in each genotype class
(no strata) and in each (group, class) cell (strata), clipped and
Fisher-transformed, with the minimum class size 20 per class or cell, and
the tests are zirk-corr's (docs/scores.md) with `--variance normal`:
Bonett-Wright weights, het the sum of the strata's heterogeneity
statistics, trend the fixed-effect slope within strata.

Prints, per scenario, the share of trend and het p-values below 1e-3 in
units of nominal without and with strata; then, with a dosage trend
planted in a tenth of the pairs (z of the correlation rising by `delta`
per copy of the alternative allele in every group), the planted pairs
found at BH 0.05 among all pairs of the scenario without and with strata:
in groups alike in co-expression and allele frequency, where strata can
only cost power, and in groups that differ in either or both.

With --program, also writes a data folder into DIR (358 individuals, 1,000
SNPs, 40 genes: 20 pairs with the groups' correlations, at d = 0.3), runs
ZIRK_CORR on it without and with the groups as strata, and prints the
largest difference between its trend and het log10 p-values under
--variance normal (this script's weights) and this script's on the same
values (20,000 designed rows each), and the share of p < 1e-3 of both and
of ZIRK_CORR's default variance beside that of 10 more folders and of
100,000 simulated pairs.
"""
import argparse
import math
import os
import subprocess

import numpy as np
from scipy import special, stats

MIN_CLASS = 20
CHUNK = 10000


def genotypes(rng, sizes, freqs, reps):
    """Classes (0: two reference alleles) of reps x individuals, and the
    group of each individual (the same in every replicate)."""
    group = np.repeat(np.arange(len(sizes)), sizes)
    alt = np.asarray(freqs)[group]
    cls = (rng.random((reps, group.size)) < alt).astype(int)
    cls += rng.random((reps, group.size)) < alt
    return cls, group


def values(rng, cls, group, rhos, delta):
    """The pair's two values: correlation rho_g in group g, its z rising by
    delta per class."""
    z = np.arctanh(np.asarray(rhos))[group] + delta * cls
    rho = np.tanh(z)
    x = rng.standard_normal(cls.shape)
    y = rho * x + np.sqrt(1.0 - rho * rho) * rng.standard_normal(cls.shape)
    return x, y


def cell_spearman(x, y, cell, cells):
    """Spearman correlation and size of every cell (reps x cells): ranks
    within a cell from one sort by cell, then value."""
    reps, n = x.shape
    rows = np.arange(reps)[:, None]
    counts = np.zeros((reps, cells))
    np.add.at(counts, (np.broadcast_to(rows, cell.shape), cell), 1.0)
    start = np.cumsum(counts, axis=1) - counts  # first sorted position

    def ranks(v):
        # Values lie in (-10, 10) far beyond any draw's reach: cell * 100
        # keeps the cells apart.
        order = np.argsort(cell * 100.0 + np.clip(v, -9.0, 9.0), axis=1)
        r = np.empty_like(v)
        np.put_along_axis(r, order, np.broadcast_to(np.arange(n, dtype=float),
                                                    v.shape), axis=1)
        return r - np.take_along_axis(start, cell, axis=1) + 1.0

    rx, ry = ranks(x), ranks(y)
    products = np.zeros((reps, cells))
    np.add.at(products, (np.broadcast_to(rows, cell.shape), cell), rx * ry)
    m = counts
    with np.errstate(invalid="ignore", divide="ignore"):
        r = (products - m * ((m + 1.0) / 2.0) ** 2) / (m * (m * m - 1.0) / 12.0)
    return r, counts


def tests(r, n):
    """log10 p of trend and het from cells reps x strata x 3 (NaN where no
    stratum has two usable classes)."""
    usable = n >= MIN_CLASS
    n = np.where(usable, n, 10.0)
    limit = 1.0 - 6.0 / (n ** 3 - n)
    z = np.where(usable, np.arctanh(np.clip(np.nan_to_num(r), -limit, limit)),
                 0.0)
    w0 = np.where(usable, n - 3.0, 0.0)
    k = np.arange(3.0)
    total = w0.sum(axis=2, keepdims=True)
    classes = usable.sum(axis=2)
    contributing = classes >= 2
    with np.errstate(invalid="ignore", divide="ignore"):
        zbar = (w0 * z).sum(axis=2, keepdims=True) / total
        kbar = (w0 * k).sum(axis=2, keepdims=True) / total
    zbar = np.nan_to_num(zbar)
    kbar = np.nan_to_num(kbar)
    w = w0 / (1.0 + np.tanh(zbar) ** 2 / 2.0) * contributing[..., None]
    cross = (w * (k - kbar) * z).sum(axis=(1, 2))
    sxx = (w * (k - kbar) ** 2).sum(axis=(1, 2))
    q = (w * (z - zbar) ** 2).sum(axis=(1, 2))
    df = np.where(contributing, classes - 1, 0).sum(axis=1)
    with np.errstate(invalid="ignore", divide="ignore"):
        t = cross / np.sqrt(sxx)
        trend = (special.log_ndtr(-np.abs(t)) + math.log(2.0)) / math.log(10.0)
        het = np.log10(special.chdtrc(np.maximum(df, 1), q))
    none = df == 0
    trend[none] = np.nan
    het[none] = np.nan
    return trend, het


def scenario(rng, sizes, freqs, rhos, delta, reps):
    """log10 p of trend and het, without strata and with: four arrays."""
    out = [[], [], [], []]
    for begin in range(0, reps, CHUNK):
        size = min(CHUNK, reps - begin)
        cls, group = genotypes(rng, sizes, freqs, size)
        x, y = values(rng, cls, group, rhos, delta)
        strata = len(sizes)
        r, n = cell_spearman(x, y, cls, 3)
        plain = tests(r[:, None, :], n[:, None, :])
        r, n = cell_spearman(x, y, group * 3 + cls, 3 * strata)
        stratified = tests(r.reshape(size, strata, 3), n.reshape(size, strata, 3))
        for target, part in zip(out, plain + stratified):
            target.append(part)
    return [np.concatenate(part) for part in out]


def share(log10_p, level=-3.0):
    """Share of p below 10^level, in units of nominal, of the tested."""
    tested = ~np.isnan(log10_p)
    return float((log10_p[tested] < level).mean()) / 10.0 ** level


def bh_found(log10_p, planted, alpha=0.05):
    """Planted pairs found and others selected by Benjamini-Hochberg."""
    p = np.where(np.isnan(log10_p), 0.0, 10.0 ** log10_p)
    p[np.isnan(log10_p)] = 1.0
    order = np.argsort(p)
    m = p.size
    passed = p[order] <= alpha * np.arange(1, m + 1) / m
    cut = np.flatnonzero(passed).max() + 1 if passed.any() else 0
    chosen = np.zeros(m, dtype=bool)
    chosen[order[:cut]] = True
    return int((chosen & planted).sum()), int((chosen & ~planted).sum())


def freqs_of(groups, d):
    return [0.2 + d * g / (groups - 1) for g in range(groups)]


def calibration(rng, reps):
    print("No SNP effect: share of p < 1e-3 in units of nominal "
          "(%d pairs each)" % reps)
    print("| groups | correlations | d | trend without | trend with | "
          "het without | het with |")
    print("|---|---|---|---|---|---|---|")
    # Groups of their own co-expression at growing differences of allele
    # frequency, equal groups, groups alike in co-expression (no leak to
    # remove), and three groups.
    settings = [((250, 108), (0.2, 0.7), d) for d in (0.0, 0.1, 0.3, 0.4)]
    settings += [((179, 179), (0.2, 0.7), 0.4), ((250, 108), (0.5, 0.5), 0.4),
                 ((200, 100, 58), (0.2, 0.7, 0.45), 0.3)]
    for sizes, rhos, d in settings:
        parts = scenario(rng, sizes, freqs_of(len(sizes), d), rhos, 0.0, reps)
        print("| %s | %s | %.1f | %.2f | %.2f | %.2f | %.2f |" % (
            "/".join(map(str, sizes)), "/".join(map(str, rhos)), d,
            share(parts[0]), share(parts[2]), share(parts[1]),
            share(parts[3])))


def power(rng, reps, delta):
    print()
    print("Planted dosage trend (z + %.2f per copy) in a tenth of %d pairs: "
          "planted pairs found at BH 0.05 (other pairs selected)"
          % (delta, reps))
    print("| strata carry | groups | correlations | d | trend without | "
          "trend with | with / without | het without | het with | "
          "with / without |")
    print("|---|---|---|---|---|---|---|---|---|---|")
    # The first three: groups alike in co-expression and allele frequency,
    # where strata only cost the pooling of cells; then each difference
    # alone, and both (the confounded case strata are for).
    settings = [
        ("nothing", (250, 108), (0.5, 0.5), 0.0),
        ("nothing", (179, 179), (0.5, 0.5), 0.0),
        ("nothing", (200, 100, 58), (0.5, 0.5, 0.5), 0.0),
        ("allele frequency", (250, 108), (0.5, 0.5), 0.3),
        ("co-expression", (250, 108), (0.2, 0.7), 0.0),
        ("both", (250, 108), (0.2, 0.7), 0.3),
        ("both", (200, 100, 58), (0.2, 0.7, 0.45), 0.3),
    ]
    for carry, sizes, rhos, d in settings:
        planted_reps = reps // 10
        null = scenario(rng, sizes, freqs_of(len(sizes), d), rhos, 0.0,
                        reps - planted_reps)
        hit = scenario(rng, sizes, freqs_of(len(sizes), d), rhos, delta,
                       planted_reps)
        planted = np.r_[np.zeros(reps - planted_reps, bool),
                        np.ones(planted_reps, bool)]
        found = [bh_found(np.r_[a, b], planted) for a, b in zip(null, hit)]
        print("| %s | %s | %s | %.1f | %d (%d) | %d (%d) | %.2f | %d (%d) | "
              "%d (%d) | %.2f |" % (
                  carry, "/".join(map(str, sizes)), "/".join(map(str, rhos)),
                  d, *found[0], *found[2], found[2][0] / max(found[0][0], 1),
                  *found[1], *found[3], found[3][0] / max(found[1][0], 1)))


def read_rows(path, designed):
    """trend and het log10 p-values of the designed pairs' rows, SNP by
    SNP: two arrays of SNPs x pairs, NaN for NA."""
    rows = {}
    with open(path) as f:
        next(f)
        for line in f:
            fields = line.rstrip("\n").split("\t")
            pair = designed.get((int(fields[1]), int(fields[2])))
            if pair is None:
                continue
            rows[(int(fields[0]), pair)] = [
                float("nan") if v == "NA" else float(v) for v in fields[9:11]]
    snps = 1 + max(snp for snp, _ in rows)
    trend = np.full((snps, len(designed)), np.nan)
    het = np.full((snps, len(designed)), np.nan)
    for (snp, pair), (t, h) in rows.items():
        trend[snp, pair], het[snp, pair] = t, h
    return trend, het


def worst(got, want):
    """Largest difference where both are numbers; -1 when they disagree on
    which are NA."""
    if not np.array_equal(np.isnan(got), np.isnan(want)):
        return -1.0
    both = ~np.isnan(want)
    return float(np.abs(got[both] - want[both]).max()) if both.any() else 0.0


FOLDER_SCENARIO = ((250, 108), (0.2, 0.7), 0.3)
FOLDER_SNPS, FOLDER_PAIRS = 1000, 20


def folder_values(rng):
    """One folder's classes (SNPs x individuals), groups, and genes (two per
    designed pair, with the groups' correlations)."""
    sizes, rhos, d = FOLDER_SCENARIO
    cls, group = genotypes(rng, sizes, freqs_of(2, d), FOLDER_SNPS)
    rho = np.asarray(rhos)[group]
    genes = np.empty((2 * FOLDER_PAIRS, group.size))
    for j in range(FOLDER_PAIRS):
        x = rng.standard_normal(group.size)
        genes[2 * j] = x
        genes[2 * j + 1] = rho * x + np.sqrt(1 - rho * rho) * rng.standard_normal(
            group.size)
    return cls, group, genes


def folder_tests(cls, group, genes):
    """Every SNP's classes against each designed pair: trend, het without
    strata, trend, het with, each SNPs x pairs."""
    out = [np.empty((FOLDER_SNPS, FOLDER_PAIRS)) for _ in range(4)]
    strata = group.max() + 1
    for j in range(FOLDER_PAIRS):
        x = np.broadcast_to(genes[2 * j], cls.shape)
        y = np.broadcast_to(genes[2 * j + 1], cls.shape)
        r, n = cell_spearman(x, y, cls, 3)
        plain = tests(r[:, None, :], n[:, None, :])
        r, n = cell_spearman(x, y, group * 3 + cls, 3 * strata)
        stratified = tests(r.reshape(FOLDER_SNPS, strata, 3),
                           n.reshape(FOLDER_SNPS, strata, 3))
        for target, part in zip(out, plain + stratified):
            target[:, j] = part
    return out


def program_check(rng, program, folder, others=10):
    """zirk-corr on one simulated data folder, without and with strata: its
    trend and het against this script's computation on the same values,
    row by row, and its share of p < 1e-3 beside that of `others` more
    folders from the same generator and of a large simulation of
    independent pairs."""
    cls, group, genes = folder_values(rng)
    os.makedirs(folder, exist_ok=True)
    calls = np.array(["A A", "A G", "G G"])
    with open(os.path.join(folder, "geno.txt"), "w") as out:
        for i in range(group.size):
            out.write(" ".join(calls[cls[:, i]]) + "\n")
    with open(os.path.join(folder, "allele.txt"), "w") as out:
        out.write("A G\n" * FOLDER_SNPS)
    # zirk-corr ranks log10 of the raw values: the ranks of these values.
    with open(os.path.join(folder, "expr.txt"), "w") as out:
        for row in genes:
            out.write(" ".join("%.17g" % v for v in 10.0 ** row) + "\n")
    strata = os.path.join(folder, "groups.txt")
    with open(strata, "w") as out:
        out.write("".join("group%d\n" % g for g in group))
    designed = {(2 * j, 2 * j + 1): j for j in range(FOLDER_PAIRS)}
    here = folder_tests(cls, group, genes)
    # This script weights by Bonett and Wright's variance alone, zirk-corr's
    # --variance normal; its default also takes the pair's own variance
    # where that is larger.
    program_p, default_p = [], []
    for variance, target in ((["-V", "normal"], program_p), ([], default_p)):
        for extra in ([], ["--strata", strata]):
            rows = os.path.join(folder, "rows.tsv")
            subprocess.run([program, "--data", folder, "-t", "2", "-o", rows] +
                           variance + extra, check=True)
            target += list(read_rows(rows, designed))
    # Both in the order trend, het without strata; trend, het with.
    differences = [worst(got, want) for got, want in zip(program_p, here)]
    spread = np.array([[share(p) for p in folder_tests(*folder_values(rng))]
                       for _ in range(others)])
    sizes, rhos, d = FOLDER_SCENARIO
    sim = scenario(rng, sizes, freqs_of(2, d), rhos, 0.0, 100000)
    print()
    print("zirk-corr on one simulated folder (%d SNPs x %d designed pairs, "
          "250/108, 0.2/0.7, d = 0.3): largest |difference| of its log10 p "
          "from this script's on the same values (-1: NA in other places), "
          "and p < 1e-3 in units of nominal beside %d more folders and a "
          "simulation of 100,000 independent pairs"
          % (FOLDER_SNPS, FOLDER_PAIRS, others))
    print("| | trend without | trend with | het without | het with |")
    print("|---|---|---|---|---|")
    order = (0, 2, 1, 3)
    print("| largest difference, zirk-corr -V normal - numpy | %s |" % " | ".join(
        "%.2g" % differences[i] for i in order))
    print("| zirk-corr -V normal | %s |" % " | ".join(
        "%.2f" % share(program_p[i]) for i in order))
    print("| zirk-corr, default variance | %s |" % " | ".join(
        "%.2f" % share(default_p[i]) for i in order))
    print("| numpy, same values | %s |" % " | ".join(
        "%.2f" % share(here[i]) for i in order))
    print("| numpy, %d more folders (lowest-highest) | %s |" % (
        others, " | ".join("%.2f-%.2f" % (spread[:, i].min(),
                                          spread[:, i].max())
                           for i in order)))
    print("| simulation, 100,000 pairs | %s |" % " | ".join(
        "%.2f" % share(sim[i]) for i in order))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--reps", type=int, default=100000)
    parser.add_argument("--power-reps", type=int, default=50000)
    parser.add_argument("--delta", type=float, default=0.5)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--only", choices=("calibration", "power", "program"))
    parser.add_argument("--program", nargs=2, metavar=("ZIRK_CORR", "DIR"))
    args = parser.parse_args()
    if args.only == "program" and not args.program:
        parser.error("--only program needs --program")
    rng = np.random.default_rng(args.seed)
    if args.only in (None, "calibration"):
        calibration(rng, args.reps)
    if args.only in (None, "power"):
        power(rng, args.power_reps, args.delta)
    if args.program and args.only in (None, "program"):
        program_check(rng, *args.program)


if __name__ == "__main__":
    main()
