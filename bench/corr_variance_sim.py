#!/usr/bin/python3
"""Calibration of zirk-corr's trend and het under the null for candidate
variances of a rank correlation's Fisher z, by simulation in numpy.

    corr_variance_sim.py [--reps N] [--seed S]

Every class is drawn from one bivariate normal with correlation rho (no SNP
effect): classes 0 and 1 hold 180 and 150 individuals, class 2 (the minor
homozygotes) m. The Spearman correlation of each class is computed directly
(ranks of untied normal values), clipped and Fisher-transformed as
zirk-corr does, and trend and het are computed with the weights
w_k = 1 / v_k of each candidate variance v_k:

  fieller  1.06 / (n_k - 3)                     (Fieller et al. 1957)
  bonett   (1 + rbar^2 / 2) / (n_k - 3)         (Bonett and Wright 2000)
  asymp    c(rho_P) / (1 - rbar^2)^2 / (n_k - 3)
           c the asymptotic n var(r_s) of the bivariate normal, the series
           in the Pearson rho_P = 2 sin(pi rbar / 6) of Kendall and Gibbons
           (Rank Correlation Methods), to rho_P^12
  caruso   1 / (n_k - 2) + |zbar| / (6 n_k + 4 sqrt(n_k))
                                                (Caruso and Cliff 1997)

with zbar the classes' mean z weighted by n_k - 3 and rbar = tanh(zbar),
their pooled correlation. Prints the simulated variance of z times (n - 3)
and the mean of z against that of 180 individuals, for each class size and
rho; then per variance the share of trend and het p-values below 1e-3 and
1e-4 in units of nominal for each rho and m, for classes (180, 150, m),
(m, m, m) and (180, m) (two usable classes).
"""
import argparse
import math

import numpy as np
from scipy import special

RHOS = (0.0, 0.3, 0.5, 0.6, 0.7, 0.8, 0.9, 0.95)
SMALL = (4, 5, 6, 7, 8, 10, 12, 15, 20, 25, 30, 40, 50)
EQUAL = (4, 6, 8, 10, 12, 15, 20, 30, 50)
LARGE = (180, 150)
CHUNK = 20000


def spearman_z(n, reps, rng):
    """Fisher z of the Spearman correlation of `reps` samples of n, for each
    rho of RHOS: array (len(RHOS), reps)."""
    out = np.empty((len(RHOS), reps))
    positions = np.arange(n, dtype=float)
    denominator = n * (n * n - 1.0)
    limit = 1.0 - 6.0 / (n ** 3 - n)
    for start in range(0, reps, CHUNK):
        size = min(CHUNK, reps - start)
        # x in increasing order, so its ranks are 0 .. n-1; the Spearman
        # correlation does not depend on the individuals' order.
        x = np.sort(rng.standard_normal((size, n)), axis=1)
        e = rng.standard_normal((size, n))
        ranks = np.empty((size, n))
        for j, rho in enumerate(RHOS):
            y = rho * x + math.sqrt(1.0 - rho * rho) * e
            np.put_along_axis(ranks, np.argsort(y, axis=1), positions, axis=1)
            d = ranks - positions
            r = 1.0 - 6.0 * np.einsum("ij,ij->i", d, d) / denominator
            out[j, start:start + size] = np.arctanh(np.clip(r, -limit, limit))
    return out


def kendall_series(rho):
    """n var(r_s) for large n in the bivariate normal of Pearson rho."""
    p2 = rho * rho
    coefficients = (1.0, -1.5635, 0.3047, 0.1553, 0.0616, 0.0213, 0.0046)
    return sum(c * p2 ** i for i, c in enumerate(coefficients))


def variances(name, n, zbar):
    """v_k, shape (3, reps), for class sizes n and pooled z zbar."""
    size = np.array(n, dtype=float)[:, None]
    rbar = np.tanh(zbar)[None, :]
    if name == "fieller":
        return 1.06 / (size - 3.0) + 0.0 * rbar
    if name == "bonett":
        return (1.0 + rbar * rbar / 2.0) / (size - 3.0)
    if name == "asymp":
        pearson = 2.0 * np.sin(np.pi * rbar / 6.0)
        return kendall_series(pearson) / (1.0 - rbar * rbar) ** 2 / (size - 3.0)
    if name == "caruso":
        return 1.0 / (size - 2.0) + np.abs(zbar)[None, :] / (
            6.0 * size + 4.0 * np.sqrt(size))
    raise ValueError(name)


def tests(z, n, name):
    """log10 p of trend and het for z of shape (classes, reps), sizes n:
    classes 0, 1 and 2, or 0 and 1."""
    base = np.array(n, dtype=float)[:, None] - 3.0
    w = 1.0 / variances(name, n, (base * z).sum(0) / base.sum())
    k = np.arange(float(len(n)))[:, None]
    kbar = (w * k).sum(0) / w.sum(0)
    sxx = (w * (k - kbar) ** 2).sum(0)
    t = (w * (k - kbar) * z).sum(0) / np.sqrt(sxx)
    zbar = (w * z).sum(0) / w.sum(0)
    q = (w * (z - zbar) ** 2).sum(0)
    trend = special.log_ndtr(-np.abs(t)) + math.log(2.0)
    # Chi-squared survival with 2 df, exp(-q / 2); with 1 df, erfc(sqrt(q / 2)).
    het = -q / 2.0 if len(n) == 3 else (
        special.log_ndtr(-np.sqrt(q)) + math.log(2.0))
    return trend / math.log(10.0), het / math.log(10.0)


def shares(trend, het):
    return "%.2f\t%.2f\t%.2f\t%.2f" % (
        (trend < -3).mean() * 1e3, (trend < -4).mean() * 1e4,
        (het < -3).mean() * 1e3, (het < -4).mean() * 1e4)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--reps", type=int, default=400000)
    parser.add_argument("--seed", type=int, default=33)
    args = parser.parse_args()
    rng = np.random.default_rng(args.seed)
    pools = {n: spearman_z(n, args.reps, rng) for n in LARGE + SMALL}

    print("var(z) (n - 3) simulated; columns: rho")
    print("n\t" + "\t".join("%.2f" % rho for rho in RHOS))
    for n in SMALL + LARGE:
        print("%d\t" % n + "\t".join(
            "%.3f" % (pools[n][j].var() * (n - 3)) for j in range(len(RHOS))))
    print("mean z - atanh(rho_s) of n = 180; columns: rho")
    for n in SMALL + LARGE:
        means = pools[n].mean(1) - pools[180].mean(1)
        print("%d\t" % n + "\t".join("%.3f" % v for v in means))

    for name in ("fieller", "bonett", "asymp", "caruso"):
        print("\n%s: p < 1e-3 and 1e-4 in units of nominal" % name)
        print("classes\tm\trho\ttrend3\ttrend4\thet3\thet4")
        for m in SMALL:
            for j, rho in enumerate(RHOS):
                z = np.stack([pools[180][j], pools[150][j], pools[m][j]])
                print("180,150,m\t%d\t%.2f\t" % (m, rho) +
                      shares(*tests(z, (180, 150, m), name)))
        for m in EQUAL:
            for j, rho in enumerate(RHOS):
                # Three independent samples: the pool at three offsets.
                pool = pools[m][j]
                third = args.reps // 3
                z = np.stack([pool, np.roll(pool, third),
                              np.roll(pool, 2 * third)])
                print("m,m,m\t%d\t%.2f\t" % (m, rho) +
                      shares(*tests(z, (m, m, m), name)))
        for m in SMALL:
            for j, rho in enumerate(RHOS):
                z = np.stack([pools[180][j], pools[m][j]])
                print("180,m\t%d\t%.2f\t" % (m, rho) +
                      shares(*tests(z, (180, m), name)))

if __name__ == "__main__":
    main()
