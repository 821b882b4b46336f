#!/usr/bin/python3
"""A null simulation that keeps eQTLs: the interaction test must not see a
gene's own eQTL once zirk-import has transformed the gene, and must see it
without the transform (so this check cannot pass by accident).

Ten SNPs each shift the latent mean of their own gene by one standard
deviation per allele; every one of 100 genes is exp(1.5 x latent), heavy-
tailed on the log scale, and no pair's correlation depends on a genotype.
Over the 990 pairs of an eQTL gene at its own SNP, the share of IT p-values
below 1e-3 must stay within three times nominal with --normalise
inverse-normal and exceed ten times nominal without.

Usage: expression_leak_check.py ZIRK_IMPORT ZIRK WORK_DIR
"""
import os
import shutil
import subprocess
import sys

import numpy as np

zirk_import, zirk, work = sys.argv[1:4]
N, SNPS, GENES = 358, 10, 100
rng = np.random.default_rng(20261207)
genotypes = rng.binomial(2, 0.35, size=(SNPS, N))
latent = rng.standard_normal(size=(GENES, N))
latent[:SNPS] += genotypes
expression = np.exp(1.5 * latent)
expression = ((expression - expression.mean(1, keepdims=True)) /
              expression.std(1, keepdims=True))

os.makedirs(work, exist_ok=True)
ids = [f"I{i}" for i in range(N)]
table = os.path.join(work, "expression.tsv")
with open(table, "w") as f:
    f.write("id\t" + "\t".join(ids) + "\n")
    for g, row in enumerate(expression):
        f.write(f"g{g}\t" + "\t".join(repr(float(v)) for v in row) + "\n")
vcf = os.path.join(work, "genotypes.vcf")
with open(vcf, "w") as f:
    f.write("##fileformat=VCFv4.2\n##contig=<ID=c>\n##FORMAT=<ID=GT,Number=1,"
            "Type=String,Description=\"g\">\n#CHROM\tPOS\tID\tREF\tALT\tQUAL"
            "\tFILTER\tINFO\tFORMAT\t" + "\t".join(ids) + "\n")
    for s, row in enumerate(genotypes):
        f.write(f"c\t{s + 1}\ts{s}\tA\tG\t.\tPASS\t.\tGT\t" +
                "\t".join(("0/0", "0/1", "1/1")[x] for x in row) + "\n")


def eqtl_tail(normalise):
    """The share of IT p-values below 1e-3 at the eQTL genes' pairs."""
    out = os.path.join(work, normalise)
    shutil.rmtree(out, ignore_errors=True)
    subprocess.run([zirk_import, "-v", vcf, "-e", table, "-o", out,
                    "--values", "log10", "--normalise", normalise, "-q"],
                   check=True)
    result = os.path.join(out, "result.txt")
    # MC threshold 1: every row gets the interaction test.
    subprocess.run([zirk, "-g", "geno.txt", "-e", "expr.txt", "-a",
                    "allele.txt", "-o", result], input="1\n", text=True,
                   cwd=out, check=True, stdout=subprocess.DEVNULL)
    below = pairs = 0
    for line in open(result).read().splitlines()[3:]:
        snp, gene1, gene2, _, _, _, log10_p_it = line.split("\t")
        if snp in (gene1, gene2):
            pairs += 1
            below += float(log10_p_it) < -3
    assert pairs == SNPS * (GENES - 1), pairs
    share = below / pairs
    print(f"--normalise {normalise}: {below} of {pairs} eQTL pairs below 1e-3")
    return share


assert eqtl_tail("none") > 10 * 1e-3, "the leak is not in the simulation"
assert eqtl_tail("inverse-normal") <= 3 * 1e-3, "the transform leaks"
