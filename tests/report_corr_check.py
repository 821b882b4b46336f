#!/usr/bin/python3
"""Independent checks of zirk-report's trend and het families and its hit
diagnosis, with numpy and scipy.

  report_corr_check.py rows SEED SNPS GENES OUT [weak]
      random zirk-corr rows: ties, NA, p = 0, rounding above p = 1 and
      values beyond 10^-400 among them; weak: p-values above 10^-3 only
  report_corr_check.py check REPORT DATA FDR REAL [NULL...]
      REPORT/hits.tsv against a direct BH (without NULL files) or a direct
      empirical FDR with the run gate (with them), and every hit's diagnosis
      against scipy on the data folder DATA ('-' for none)
"""

import math
import random
import sys

import numpy as np
from scipy import stats

from corr_oracle import pair_cap

FAMILIES = ("trend", "het")


def make_rows(seed, snps, genes, out, weak):
    rng = random.Random(seed)
    special = ["NA", "-inf", "-0.000000", "0.000002", "-512.345678"]
    with open(out, "w") as f:
        f.write("snp\tgene1\tgene2\tn0\tn1\tn2\tr0\tr1\tr2\t"
                "log10_p_trend\tlog10_p_het\n")
        for s in range(snps):
            for a in range(genes):
                for b in range(a + 1, genes):
                    n = [rng.randint(0, 40) for _ in range(3)]
                    r = ["NA" if rng.random() < 0.1 else
                         f"{rng.uniform(-1, 1):.6f}" for _ in range(3)]
                    if weak:
                        v = [f"{-rng.randint(0, 24) / 8:.6f}" for _ in range(2)]
                    elif rng.random() < 0.05:
                        v = ["NA", "NA"]
                    else:
                        v = [rng.choice(special) if rng.random() < 0.04 else
                             f"{-rng.randint(0, 60) / 8:.6f}" for _ in range(2)]
                        v = [x if x != "NA" else "-1.000000" for x in v]
                    f.write(f"{s}\t{a}\t{b}\t{n[0]}\t{n[1]}\t{n[2]}\t"
                            + "\t".join(r + v) + "\n")


def read_rows(path):
    with open(path) as f:
        lines = f.read().splitlines()
    return [line.split("\t") for line in lines[1:]]


def key_of(text):
    """The log10 p-value a printed value stands for, as the report counts it:
    NA and positive values as 0 (p = 1), values beyond -400 as -400, p = 0
    below them all."""
    if text == "NA":
        return 0.0
    if text == "-inf":
        return -math.inf
    return max(-400.0, min(float(text), 0.0))


def bh(p):
    """Plain Benjamini-Hochberg q-values."""
    m = len(p)
    order = np.argsort(p, kind="stable")
    ranked = p[order] * m / np.arange(1, m + 1)
    q = np.minimum.accumulate(ranked[::-1])[::-1]
    out = np.empty(m)
    out[order] = np.minimum(q, 1.0)
    return out


def efdr(p, nulls):
    """Empirical FDR of each row (p and nulls as log10 keys): the mean count
    of permuted rows at or below its value over the real rows at or below
    it, capped at 1, then the smallest value over all rows with a value at
    or above its own."""
    real = np.sort(p)
    raw = np.array([min(1.0, np.mean([np.sum(n <= x) for n in nulls])
                        / np.sum(real <= x)) for x in real])
    low = np.minimum.accumulate(raw[::-1])[::-1]
    return np.array([low[np.searchsorted(real, x, side="right") - 1]
                     for x in p])


def close(got, want, rel=1e-5):
    if want is None:
        return got == "null"
    return abs(float(got) - want) <= rel * abs(want) + 1e-12


def check_families(hits, header, real, nulls, fdr, errors):
    col = {name: i for i, name in enumerate(header)}
    for k, family in enumerate(FAMILIES):
        vals = [row[9 + k] for row in real]
        p = np.array([key_of(v) for v in vals])
        defined = np.array([v != "NA" for v in vals])
        null_p = [np.array([key_of(row[9 + k]) for row in n]) for n in nulls]
        q = bh(10.0 ** p)
        if nulls:
            e = efdr(p, null_p)
            gate = (1 + sum(n.min() <= p.min() for n in null_p)) / (len(nulls) + 1)
            chosen = defined & (e <= fdr) if gate <= fdr else defined & False
        else:
            chosen = defined & (q <= fdr)
        want = {(row[0], row[1], row[2]): i for i, row in enumerate(real)
                if chosen[i]}
        got = [h for h in hits if h[col["family"]] == family]
        keys = [(h[0], h[col["gene1"]], h[col["gene2"]]) for h in got]
        if sorted(keys) != sorted(want):
            errors.append(f"{family}: {len(got)} hits, {len(want)} expected")
            continue
        if [p[want[key]] for key in keys] != sorted(p[want[key]] for key in keys):
            errors.append(f"{family}: hits not in p-value order")
        for h, key in zip(got, keys):
            i = want[key]
            if not close(h[col["q_bh"]], q[i]):
                errors.append(f"{family} {key}: q {h[col['q_bh']]} != {q[i]}")
            if nulls:
                snp_best = lambda rows: min(
                    [key_of(r[9 + k]) for r in rows if r[0] == key[0]] or [0.0])
                perm = (1 + sum(snp_best(n) <= snp_best(real) for n in nulls)) \
                    / (len(nulls) + 1)
                if not close(h[col["empirical_fdr"]], e[i]) or \
                        not close(h[col["snp_permutation_p"]], perm):
                    errors.append(f"{family} {key}: empirical FDR or per-SNP "
                                  "permutation p-value")
            row = real[i]
            if [h[col[c]] for c in ("log10_p_trend", "log10_p_het", "r0", "r1",
                                    "r2")] != row[9:11] + row[6:9]:
                errors.append(f"{family} {key}: row columns not carried over")


def read_data(folder):
    with open(f"{folder}/allele.txt") as f:
        ref = [line[0] for line in f.read().splitlines()]
    with open(f"{folder}/geno.txt") as f:
        geno = f.read().splitlines()
    cls = np.array([[0 if line[4 * s] == ref[s] and line[4 * s + 2] == ref[s]
                     else 1 if (line[4 * s] == ref[s]) != (line[4 * s + 2] == ref[s])
                     else 2 for s in range(len(ref))] for line in geno])
    with open(f"{folder}/expr.txt") as f:
        with np.errstate(divide="ignore", invalid="ignore"):
            expr = np.log10(np.array([[float(x) for x in line.split()]
                                      for line in f.read().splitlines()]))
    return cls, expr


def single_gene(x, c):
    """log10 p of the ANOVA and the Brown-Forsythe test, None if undefined."""
    groups = [x[(c == k) & ~np.isnan(x)] for k in range(3)]
    groups = [g for g in groups if len(g)]
    n = sum(len(g) for g in groups)
    out = []
    for centre in (False, True):
        gs = [np.abs(g - np.median(g)) for g in groups] if centre else groups
        if len(gs) < 2 or n <= len(gs) or not all(np.isfinite(np.concatenate(gs))) \
                or all(np.ptp(g) == 0 for g in gs):
            out.append(None)
            continue
        p = (stats.levene(*groups, center="median") if centre
             else stats.f_oneway(*groups)).pvalue
        out.append(math.log10(p) if p > 0 else -math.inf)
    return out


def class_tests(a, b, c):
    """r_k of the usable classes and log10 p of trend and het, computed from
    their definitions (Spearman within class of at least 20, zirk-corr's
    default, Fisher z with weight (n - 3) times the smaller of 1 / (1 +
    rbar^2 / 2), rbar the tanh of the classes' mean z weighted by n - 3, and
    the pair's cap over all individuals, |r| clipped below 1)."""
    r, z, w, ks = [None] * 3, [], [], []
    for k in range(3):
        x, y = a[c == k], b[c == k]
        n = len(x)
        if n < 20 or np.any(np.isnan(x)) or np.any(np.isnan(y)) or \
                np.ptp(x) == 0 or np.ptp(y) == 0:
            continue
        r[k] = stats.spearmanr(x, y).statistic
        limit = 1 - 6 / (n ** 3 - n)
        z.append(math.atanh(max(-limit, min(limit, r[k]))))
        w.append(n - 3.0)
        ks.append(k)
    if len(ks) < 2:
        return r, None, None
    z, w, ks = np.array(z), np.array(w), np.array(ks, dtype=float)
    cap = pair_cap(a, b)
    if cap == 0.0:
        return r, None, None
    w = w * min(1 / (1 + math.tanh(np.sum(w * z) / np.sum(w)) ** 2 / 2), cap)
    zbar = np.sum(w * z) / np.sum(w)
    het = stats.chi2.sf(np.sum(w * (z - zbar) ** 2), len(ks) - 1)
    kbar = np.sum(w * ks) / np.sum(w)
    t = np.sum(w * (ks - kbar) * z) / math.sqrt(np.sum(w * (ks - kbar) ** 2))
    trend = 2 * stats.norm.sf(abs(t))
    return r, math.log10(trend), math.log10(het)


def same(text, want):
    if want is None:
        return text == "NA"
    if text == "NA":
        return False
    if want == -math.inf:
        return text == "-inf"
    return abs(float(text) - want) <= 2e-6 + 1e-9 * abs(want)


def check_diagnosis(hits, header, folder, errors):
    col = {name: i for i, name in enumerate(header)}
    cls, expr = read_data(folder)
    stronger = 0
    for h in hits:
        s, g = int(h[0]), (int(h[col["gene1"]]), int(h[col["gene2"]]))
        where = f"{h[col['family']]} hit {s} {g}"
        c = cls[:, s]
        for j in range(2):
            mean, var = single_gene(expr[g[j]], c)
            for name, want in (("mean", mean), ("var", var)):
                got = h[col[f"gene{j + 1}_log10_p_{name}"]]
                if not same(got, want):
                    errors.append(f"{where}: gene{j + 1} {name} {got} != {want}")
        if h[col["family"]] == "it":
            r, trend, het = class_tests(expr[g[0]], expr[g[1]], c)
            for k in range(3):
                if not same(h[col[f"r{k}"]], r[k]):
                    errors.append(f"{where}: r{k} {h[col[f'r{k}']]} != {r[k]}")
            if not same(h[col["log10_p_trend"]], trend) or \
                    not same(h[col["log10_p_het"]], het):
                errors.append(f"{where}: trend or het")
        # The rule: the smallest single-gene p-value, as printed, below the
        # pair's value of the family that made the hit.
        pair = h[col[{"it": "log10_p_it", "trend": "log10_p_trend",
                      "het": "log10_p_het"}[h[col["family"]]]]]
        names = ["gene1 mean", "gene1 variance", "gene2 mean", "gene2 variance"]
        printed = [h[col[c]] for c in ("gene1_log10_p_mean", "gene1_log10_p_var",
                                       "gene2_log10_p_mean", "gene2_log10_p_var")]
        single = [(-math.inf if t == "-inf" else float(t), name)
                  for t, name in zip(printed, names) if t != "NA"]
        want = "NA"
        if single:
            best = min(v for v, _ in single)
            name = next(n for v, n in single if v == best)
            pair_v = -math.inf if pair == "-inf" else float(pair)
            want = f"yes ({name})" if best < pair_v else "no"
        stronger += want.startswith("yes")
        if h[col["single_gene_stronger"]] != want:
            errors.append(f"{where}: single_gene_stronger "
                          f"{h[col['single_gene_stronger']]} != {want}")
    return stronger


def main():
    if sys.argv[1] == "rows":
        make_rows(int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]),
                  sys.argv[5], sys.argv[6:] == ["weak"])
        return
    report, data, fdr = sys.argv[2], sys.argv[3], float(sys.argv[4])
    real = read_rows(sys.argv[5])
    nulls = [read_rows(path) for path in sys.argv[6:]]
    with open(f"{report}/hits.tsv") as f:
        lines = f.read().splitlines()
    header = lines[0].split("\t")
    hits = [line.split("\t") for line in lines[1:]]
    errors = []
    check_families(hits, header, real, nulls, fdr, errors)
    counts = {f: sum(h[header.index("family")] == f for h in hits)
              for f in ("it",) + FAMILIES}
    stronger = check_diagnosis(hits, header, data, errors) if data != "-" else 0
    for e in errors[:20]:
        print("FAIL:", e, file=sys.stderr)
    print(f"{report}: hits {counts}, single gene stronger in {stronger}")
    sys.exit(1 if errors else 0)


if __name__ == "__main__":
    main()
