#!/usr/bin/python3
"""Simulated zirk inputs with planted changes of a gene pair's correlation.

Writes geno.txt, expr.txt and allele.txt (zirk's formats), planted.tsv
(snp gene1 gene2 pattern rho0 rho1 rho2, 0-based) and, with --permute K,
expr.perm1.txt ... expr.permK.txt: the expression with the individuals
permuted, one permutation for all genes, as the importer writes them.

Every SNP's reference allele is its major allele, so genotype class 0 (two
reference copies) is the largest class and class 2 the minor homozygotes.
Log10 values are normal per gene; a planted pair keeps each gene's mean and
spread in every class and only its correlation follows the class.

Scenarios without any change of co-expression, for the scores' calibration:
--background RHO gives every gene pair the correlation RHO in every class
(one shared factor); --effect mean or variance lets SNP s act on gene
s mod genes alone (its mean shifts by half its spread per minor allele, or
its spread grows to 1.5 and 2 times in classes 1 and 2; listed in
planted.tsv as pattern "mean" or "variance"); --values heavy draws the log
values from a t distribution with 3 degrees of freedom (through the normal
ranks, so correlations of ranks stay as they were); --transform int replaces
each gene's log values by their inverse-normal transform.
"""
import argparse
import os

import numpy as np
from scipy import stats

PATTERNS = {
    "trend": (0.0, 0.45, 0.9),  # correlation grows with the dosage
    "het": (0.0, 0.8, 0.0),  # heterozygotes only
    "hom": (0.0, 0.0, 0.8),  # minor homozygotes only
    "flip": (0.8, 0.0, -0.8),  # the simulator's own pattern
}


def parse_args():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--out", required=True)
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--individuals", type=int, default=200)
    p.add_argument("--snps", type=int, default=20)
    p.add_argument("--genes", type=int, default=40)
    p.add_argument("--plant", type=int, default=20,
                   help="planted SNPs, each with its own disjoint gene pair")
    p.add_argument("--pattern", default="trend",
                   help="comma-separated names of %s, used in turn"
                   % "/".join(PATTERNS))
    p.add_argument("--maf", default="0.25,0.5",
                   help="range of the minor allele frequency")
    p.add_argument("--permute", type=int, default=0)
    p.add_argument("--background", type=float, default=0.0)
    p.add_argument("--effect", choices=("none", "mean", "variance"),
                   default="none")
    p.add_argument("--values", choices=("normal", "heavy"), default="normal")
    p.add_argument("--transform", choices=("none", "int"), default="none")
    a = p.parse_args()
    a.pattern = a.pattern.split(",")
    if any(name not in PATTERNS for name in a.pattern):
        p.error("unknown --pattern %s" % ",".join(a.pattern))
    if a.effect != "none" and a.snps > a.genes:
        p.error("--effect needs at least as many genes as SNPs")
    if a.plant > a.snps or 2 * a.plant > a.genes:
        p.error("--plant needs as many SNPs and twice as many genes")
    a.maf = tuple(float(x) for x in a.maf.split(","))
    return a


def write_lines(path, lines):
    tmp = path + ".tmp"
    with open(tmp, "w") as f:
        f.write("".join(line + "\n" for line in lines))
    os.replace(tmp, path)


def main():
    a = parse_args()
    rng = np.random.default_rng(a.seed)
    n, ps, ng = a.individuals, a.snps, a.genes
    os.makedirs(a.out, exist_ok=True)

    maf = rng.uniform(a.maf[0], a.maf[1], ps)
    minor_copies = rng.binomial(2, maf, (n, ps))  # class = minor copies
    bases = np.array(list("ACGT"))
    alleles = np.array([rng.permutation(4)[:2] for _ in range(ps)])
    ref, alt = bases[alleles[:, 0]], bases[alleles[:, 1]]
    first = np.where(minor_copies >= 1, alt, ref)
    second = np.where(minor_copies == 2, alt, ref)
    write_lines(os.path.join(a.out, "geno.txt"),
                [" ".join(x for pair in zip(first[i], second[i]) for x in pair)
                 for i in range(n)])
    write_lines(os.path.join(a.out, "allele.txt"),
                ["%s %s" % (r, t) for r, t in zip(ref, alt)])

    z = rng.standard_normal((ng, n))
    if a.background > 0:
        shared = rng.standard_normal(n)
        z = np.sqrt(a.background) * shared + np.sqrt(1.0 - a.background) * z
    planted_snps = rng.choice(ps, a.plant, replace=False)
    genes = rng.permutation(ng)
    planted = []
    for k, s in enumerate(sorted(planted_snps)):
        g1, g2 = sorted(genes[2 * k:2 * k + 2])
        name = a.pattern[k % len(a.pattern)]
        rho = np.array(PATTERNS[name])[minor_copies[:, s]]
        z[g2] = rho * z[g1] + np.sqrt(1.0 - rho * rho) * z[g2]
        planted.append("%d\t%d\t%d\t%s\t%g\t%g\t%g"
                       % ((s, g1, g2, name) + PATTERNS[name]))
    if a.values == "heavy":
        z = stats.t.ppf(stats.norm.cdf(z), 3)
    scale = np.ones((ng, n))
    shift = np.zeros((ng, n))
    if a.effect != "none":
        for s in range(ps):
            g = s % ng
            if a.effect == "mean":
                shift[g] = 0.5 * minor_copies[:, s]
            else:
                scale[g] = np.array([1.0, 1.5, 2.0])[minor_copies[:, s]]
            planted.append("%d\t%d\t%d\t%s\t0\t0\t0" % (s, g, g, a.effect))
    write_lines(os.path.join(a.out, "planted.tsv"),
                ["snp\tgene1\tgene2\tpattern\trho0\trho1\trho2"] + planted)

    mean = rng.uniform(0.5, 3.5, ng)[:, None]
    spread = rng.uniform(0.1, 0.6, ng)[:, None]
    logs = mean + spread * (scale * z + shift)
    if a.transform == "int":
        ranks = stats.rankdata(logs, axis=1)
        logs = stats.norm.ppf((ranks - 0.5) / n)
    raw = 10.0 ** logs

    def expression(columns):
        return [" ".join("%.6g" % v for v in row) for row in raw[:, columns]]

    write_lines(os.path.join(a.out, "expr.txt"), expression(np.arange(n)))
    for k in range(1, a.permute + 1):
        write_lines(os.path.join(a.out, "expr.perm%d.txt" % k),
                    expression(rng.permutation(n)))


if __name__ == "__main__":
    main()
