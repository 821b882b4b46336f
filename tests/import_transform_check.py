#!/usr/bin/python3
"""Checks zirk-import's covariate residuals and inverse-normal transform
against numpy and scipy.

On a region of the real example with its 53 covariates: the log10 of
expr.txt must equal numpy.linalg.lstsq's residuals of log10(value +
pseudocount) on an intercept and the covariates to 1e-9 of each gene's
largest residual; with --normalise inverse-normal as well it must equal
scipy's average ranks through norm.ppf with Blom's offsets, and every
permuted copy must hold those final values in its recorded order. On a small
table with ties, the transform alone must give the same scores to tied
values that scipy does.

Usage: import_transform_check.py ZIRK_IMPORT SOURCE_DIR WORK_DIR
"""
import gzip
import json
import os
import shutil
import subprocess
import sys

import numpy as np
from scipy.stats import norm, rankdata

REGION = "chr22:20100000-20200000"
PSEUDOCOUNT = 0.01

zirk_import, source, work = sys.argv[1:4]
data = os.path.join(work, "data")
subprocess.run([os.path.join(source, "tools/example-data.sh"), data],
               check=True)
vcf = os.path.join(data, "genotypes.chr22.vcf.gz")
bed = os.path.join(data, "genes.50percent.chr22.bed.gz")
covariates = os.path.join(data, "genes.covariates.pc50.txt.gz")


def run(out, *options):
    shutil.rmtree(out, ignore_errors=True)
    subprocess.run([zirk_import, "-v", vcf, "-e", bed, "-o", out, "-r",
                    REGION, "--pseudocount", str(PSEUDOCOUNT), "-q",
                    *options], check=True)
    samples = open(os.path.join(out, "samples.txt")).read().split()
    genes = [line.split("\t")[1] for line in
             open(os.path.join(out, "genes.tsv")).read().splitlines()[1:]]
    return samples, genes, np.log10(np.loadtxt(os.path.join(out, "expr.txt")))


def blom(values):
    n = values.shape[-1]
    return norm.ppf((rankdata(values, axis=-1) - 0.375) / (n + 0.25))


def agree(got, expected, tolerance, what):
    scale = np.abs(expected).max(axis=1, keepdims=True)
    error = (np.abs(got - expected) / scale).max()
    assert error <= tolerance, f"{what}: relative error {error:.3g}"
    print(f"{what}: {got.shape[0]} genes x {got.shape[1]} samples, "
          f"largest relative error {error:.2g}")


# The independent design: every covariate line of the file, matched by ID.
with gzip.open(covariates, "rt") as f:
    header = f.readline().split()
    table = {line.split()[0]: line.split()[1:] for line in f if line.strip()}
assert len(table) == 53
with gzip.open(bed, "rt") as f:
    bed_samples = f.readline().rstrip("\n").split("\t")[6:]
    bed_rows = {line.split("\t")[3]: line.rstrip("\n").split("\t")[6:]
                for line in f}

samples, genes, residuals = run(os.path.join(work, "residuals"), "-c",
                                covariates)
columns = [header.index(s) - 1 for s in samples]
x = np.column_stack([np.ones(len(samples))] +
                    [np.array(v, float)[columns] for v in table.values()])
bed_columns = [bed_samples.index(s) for s in samples]
y = np.log10(np.array([np.array(bed_rows[g], float)[bed_columns]
                       for g in genes]) + PSEUDOCOUNT)
beta = np.linalg.lstsq(x, y.T, rcond=None)[0]
expected = y - (x @ beta).T
agree(residuals, expected, 1e-9, "residuals on 53 covariates")

out = os.path.join(work, "normalised")
_, genes_int, normalised = run(out, "-c", covariates, "--normalise",
                               "inverse-normal", "--permute", "2")
assert genes_int == genes
agree(normalised, blom(expected), 1e-9, "residuals, then inverse-normal")
orders = json.load(open(os.path.join(out, "import.json")))["permutations"]
for k, order in enumerate(orders, 1):
    permuted = np.log10(np.loadtxt(os.path.join(out, f"expr.perm{k}.txt")))
    assert np.array_equal(permuted, normalised[:, order]), f"perm{k}"

# Ties: a table of 12 samples whose genes repeat values.
ties = os.path.join(work, "ties")
os.makedirs(ties, exist_ok=True)
ids = [f"T{i}" for i in range(12)]
values = np.array([[3, 1, 1, 2, 2, 2, 5, 0.5, 1, 7, 7, 4],
                   [0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5],
                   [-1.5, 2, -1.5, 2, -1.5, 2, 9, 9, 0, 0, 0, 0.25]])
with open(os.path.join(ties, "t.tsv"), "w") as f:
    f.write("id\t" + "\t".join(ids) + "\n")
    for g, row in enumerate(values):
        f.write(f"g{g}\t" + "\t".join(repr(float(v)) for v in row) + "\n")
with open(os.path.join(ties, "t.vcf"), "w") as f:
    f.write("##fileformat=VCFv4.2\n##contig=<ID=c>\n##FORMAT=<ID=GT,Number=1,"
            "Type=String,Description=\"g\">\n#CHROM\tPOS\tID\tREF\tALT\tQUAL"
            "\tFILTER\tINFO\tFORMAT\t" + "\t".join(ids) + "\n")
    f.write("c\t1\ts\tA\tG\t.\tPASS\t.\tGT\t" + "\t".join(
        ["0/0", "0/1", "1/1"][i % 3] for i in range(12)) + "\n")
out = os.path.join(ties, "out")
shutil.rmtree(out, ignore_errors=True)
subprocess.run([zirk_import, "-v", os.path.join(ties, "t.vcf"), "-e",
                os.path.join(ties, "t.tsv"), "-o", out, "--values", "log10",
                "--normalise", "inverse-normal", "-q"], check=True)
scores = np.log10(np.loadtxt(os.path.join(out, "expr.txt")))
agree(scores, blom(values), 1e-12, "inverse-normal with ties")
