#!/usr/bin/env python3
"""Writes the golden input files genotype.txt, expression.txt and allele.txt
into the directory given as the only argument (deterministic: fixed seed).

30 individuals, 4 SNPs, 5 genes, each SNP built to reach one branch of the
screen:

- SNP 0 (reference A): classes of 10 / 11 / 9. Genes 0 and 1 have equal
  means and correlation +0.8 / 0 / -0.8 in the three classes (a covariance
  difference: small MC p-value, poor LDA separation, so the IT runs); gene 4
  has class means 1.0 / 1.5 / 2.0 in log10 (a mean difference: small MC
  p-value, LDA value above ln(1e-10)).
- SNP 1 (reference C): nobody is homozygous for C, class 0 is empty, so every
  pair gets the fixed MC p-value 1.0.
- SNP 2 (reference T): exactly one individual without a T, class 2 has one
  member, so every pair gets the fixed MC p-value 2.0.
- SNP 3 (reference lower-case g): classes of 10 / 10 / 10 that match tight
  clusters of genes 2 and 3 (log10 means (1, 1), (2, 3), (3, 2), relative
  spread 3e-6): the pair (2, 3) has an MC statistic between 1537 and 9999.9
  and a p-value of exactly 0, pairs with one of them very small p-values.

Heterozygotes are written in both orders (reference first or second).
"""

import math
import os
import random
import sys


def main():
    out = sys.argv[1]
    rnd = random.Random(20240611)
    n = 30
    cls0 = [0] * 10 + [1] * 11 + [2] * 9
    rnd.shuffle(cls0)
    cls1 = [1] * 13 + [2] * 17
    rnd.shuffle(cls1)
    cls2 = [0] * 18 + [1] * 11 + [2] * 1
    rnd.shuffle(cls2)
    cls3 = [0] * 10 + [1] * 10 + [2] * 10
    rnd.shuffle(cls3)

    def alleles(c, ref, other, i):
        if c == 0:
            return (ref, ref)
        if c == 1:
            return (ref, other) if i % 2 else (other, ref)
        return (other, other)

    lines = []
    for i in range(n):
        parts = []
        parts += alleles(cls0[i], "A", "G", i)
        parts += alleles(cls1[i], "C", "T", i)
        parts += alleles(cls2[i], "T", "A", i)
        parts += alleles(cls3[i], "g", "c", i)
        lines.append(" ".join(parts))
    with open(os.path.join(out, "genotype.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")
    with open(os.path.join(out, "allele.txt"), "w") as f:
        f.write("A G\nC\nT A\ng c\n")

    rho = {0: 0.8, 1: 0.0, 2: -0.8}
    g0, g1 = [], []
    for i in range(n):
        z1, z2 = rnd.gauss(0, 1), rnd.gauss(0, 1)
        r = rho[cls0[i]]
        a = 2.0 + 0.3 * z1
        b = 1.5 + 0.3 * (r * z1 + math.sqrt(1 - r * r) * z2)
        g0.append("%.6g" % 10 ** a)
        g1.append("%.6g" % 10 ** b)
    means = {0: (1.0, 1.0), 1: (2.0, 3.0), 2: (3.0, 2.0)}
    g2, g3 = [], []
    for i in range(n):
        m2, m3 = means[cls3[i]]
        u, v = rnd.uniform(-1, 1), rnd.uniform(-1, 1)
        g2.append("%.10g" % (10 ** m2 * (1 + 3e-6 * u)))
        g3.append("%.10g" % (10 ** m3 * (1 + 3e-6 * v)))
    g4 = []
    for i in range(n):
        g4.append("%.6g" % 10 ** (1.0 + 0.5 * cls0[i] + 0.25 * rnd.gauss(0, 1)))
    with open(os.path.join(out, "expression.txt"), "w") as f:
        f.write("\n".join(" ".join(g) for g in (g0, g1, g2, g3, g4)) + "\n")


if __name__ == "__main__":
    main()
