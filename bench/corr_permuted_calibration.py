#!/usr/bin/python3
"""trend and het on permuted copies of the real example, binned by each
pair's co-expression, under both variance models of zirk-corr.

    corr_permuted_calibration.py BUILD EXAMPLE_DATA WORK [REGION]

Imports REGION (default chr22:20000000-21500000) of the example with its
covariates regressed out, the inverse-normal transform and two permuted
copies (--seed 33), runs zirk-corr on both copies with --variance normal and
empirical (rows with p <= 0.01 only), and prints a Markdown table: per bin of
|rho|, the pair's Spearman correlation over all individuals, the share of
trend and het p < 1e-3 / 1e-4 in units of nominal. The denominators are the
bin's pairs times the SNPs with two classes of at least 20 times the two
copies (every gene varies in every class here, so these are the tests).
"""

import os
import subprocess
import sys

import numpy as np
from scipy import stats

EDGES = [0, .2, .4, .6, .8, .9, 1.01]
NAMES = ["< 0.2", "0.2–0.4", "0.4–0.6", "0.6–0.8", "0.8–0.9", "≥ 0.9"]
MODELS = ("normal", "empirical")


def main():
    build, example, work = sys.argv[1:4]
    region = sys.argv[4] if len(sys.argv) > 4 else "chr22:20000000-21500000"
    data = os.path.join(work, "data")
    os.makedirs(work, exist_ok=True)
    subprocess.run([
        os.path.join(build, "import/zirk-import"), "-q", "--force",
        "-v", os.path.join(example, "genotypes.chr22.vcf.gz"),
        "-e", os.path.join(example, "genes.50percent.chr22.bed.gz"),
        "-c", os.path.join(example, "genes.covariates.pc50.txt.gz"),
        "--normalise", "inverse-normal", "-r", region, "--permute", "2",
        "--seed", "33", "-o", data], check=True)
    expr = np.loadtxt(os.path.join(data, "expr.txt"))
    genes = expr.shape[0]
    rho = np.corrcoef(stats.rankdata(expr, axis=1))
    ref = np.array([line.split()[0]
                    for line in open(os.path.join(data, "allele.txt"))])
    calls = np.array([line.split()
                      for line in open(os.path.join(data, "geno.txt"))])
    cls = (calls[:, 0::2] != ref).astype(int) + (calls[:, 1::2] != ref)
    tested = int(((np.stack([(cls == k).sum(0) for k in range(3)]) >= 20)
                  .sum(0) >= 2).sum())
    upper = np.triu_indices(genes, 1)
    pairs = np.histogram(np.abs(rho[upper]), EDGES)[0]
    tests = 2 * tested * pairs
    hits = {}
    for model in MODELS:
        for copy in (1, 2):
            rows = os.path.join(work, "rows.%s.%d.tsv" % (model, copy))
            subprocess.run([
                os.path.join(build, "corr/zirk-corr"), "-g",
                os.path.join(data, "geno.txt"), "-e",
                os.path.join(data, "expr.perm%d.txt" % copy), "-a",
                os.path.join(data, "allele.txt"), "--variance", model,
                "--max-p", "0.01", "-o", rows, "--threads", "2"], check=True)
            table = np.loadtxt(rows, skiprows=1, usecols=(1, 2, 9, 10),
                               dtype=str)
            os.remove(rows)
            g1, g2 = table[:, 0].astype(int), table[:, 1].astype(int)
            band = np.digitize(np.abs(rho[g1, g2]), EDGES) - 1
            for column, score in ((2, "trend"), (3, "het")):
                p = np.where(table[:, column] == "NA", "0",
                             table[:, column]).astype(float)
                for level in (-3, -4):
                    key = (model, score, level)
                    hits.setdefault(key, np.zeros(len(NAMES)))
                    hits[key] += np.bincount(band[p <= level],
                                             minlength=len(NAMES))[:len(NAMES)]
    print("%d SNPs with tests, %d genes, %d tests per copy"
          % (tested, genes, tested * pairs.sum()))
    print("| \\|ρ\\| | pairs | tests | trend, normal | trend, empirical "
          "| het, normal | het, empirical |")
    print("|---|---|---|---|---|---|---|")

    def cell(model, score, index):
        if index is None:
            return "%.2f / %.2f" % tuple(
                hits[model, score, level].sum() / tests.sum() / 10.0 ** level
                for level in (-3, -4))
        return "%.2f / %.2f" % tuple(
            hits[model, score, level][index] / tests[index] / 10.0 ** level
            for level in (-3, -4))

    for index, name in list(enumerate(NAMES)) + [(None, "all")]:
        count = pairs.sum() if index is None else pairs[index]
        total = tests.sum() if index is None else tests[index]
        print("| %s | %d | %s | %s |" % (
            name, count, format(total, ","),
            " | ".join(cell(m, s, index) for s in ("trend", "het")
                       for m in MODELS)))


if __name__ == "__main__":
    main()
