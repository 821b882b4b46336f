#!/usr/bin/python3
"""The screen on the example data under each way of preparing expression:
raw log10 values, the inverse-normal transform, covariate residuals, and
residuals then the transform, each with and without --min-expressed.

For each setting, on the real expression and on its first permuted copy:
the genomic-control lambda of the MC statistic (zirk-report's), the share of
rows passing MC at 0.05 and at 1e-3, the share of rows with IT p below 1e-3
and 1e-5 (rows without an IT counting as p = 1), the wall time of the zirk
run, and on the real expression the hits at empirical FDR 0.05 from the
permuted copies (zirk-report --null). Prints one tab-separated line per
setting and run.

Usage: expression_prep.py BUILD_DIR DATA_DIR WORK_DIR REGION GENES PERMS
         [SETTING...]
  GENES: how many genes from the top of the BED; PERMS: permuted copies
  (0: no hits column); SETTING: raw, int, cov, cov+int, each optionally
  followed by @F for --min-expressed F (default: all four, F = 0).
"""
import json
import math
import os
import shutil
import subprocess
import sys
import time
from concurrent.futures import ThreadPoolExecutor

build, data, work, region, n_genes, perms = sys.argv[1:7]
build, data, work = (os.path.abspath(p) for p in (build, data, work))
n_genes, perms = int(n_genes), int(perms)
settings = sys.argv[7:] or ["raw", "int", "cov", "cov+int"]
importer = os.path.join(build, "import/zirk-import")
zirk = os.path.join(build, "zirk")
report = os.path.join(build, "report/zirk-report")
vcf = os.path.join(data, "genotypes.chr22.vcf.gz")
bed = os.path.join(data, "genes.50percent.chr22.bed.gz")
covariates = os.path.join(data, "genes.covariates.pc50.txt.gz")
os.makedirs(work, exist_ok=True)
genes = os.path.join(work, "genes.txt")
subprocess.run(f"zcat {bed} | awk 'NR > 1 && NR <= {n_genes + 1}"
               f" {{ print $4 }}' > {genes}", shell=True, check=True)
env = dict(os.environ, OMP_NUM_THREADS="1")


def screen(folder, expression, result):
    start = time.monotonic()
    subprocess.run([zirk, "-g", "geno.txt", "-e", expression, "-a",
                    "allele.txt", "-o", result], input="0.05\n", text=True,
                   cwd=folder, check=True, stdout=subprocess.DEVNULL, env=env)
    return time.monotonic() - start


def shares(result):
    rows = mc05 = mc3 = it3 = it5 = 0
    with open(result) as f:
        for _ in range(3):
            f.readline()
        for line in f:
            fields = line.split("\t")
            mc, it = float(fields[4]), float(fields[6])
            rows += 1
            mc05 += mc < math.log10(0.05)
            mc3 += mc < -3
            it3 += it < -3
            it5 += it < -5
    return rows, mc05 / rows, mc3 / rows, it3 / rows, it5 / rows


def lambda_and_hits(folder, result, nulls):
    out = result + ".report"
    shutil.rmtree(out, ignore_errors=True)
    command = [report, "-o", out, "-d", folder, result]
    for summary in nulls:
        command += ["--null", summary]
    subprocess.run(command, check=True, capture_output=True)
    summary = json.load(open(os.path.join(out, "summary.json")))
    shutil.rmtree(out)
    return summary["lambda_mc"]["value"], summary["hits"]


for setting in settings:
    name, _, fraction = setting.partition("@")
    options = ["--pseudocount", "0.01"]
    if "cov" in name:
        options += ["-c", covariates]
    if "int" in name:
        options += ["--normalise", "inverse-normal"]
    if fraction:
        options += ["--min-expressed", fraction]
    folder = os.path.join(work, setting)
    shutil.rmtree(folder, ignore_errors=True)
    subprocess.run([importer, "-v", vcf, "-e", bed, "-r", region, "--genes",
                    genes, "-o", folder, "-q", "--permute",
                    str(max(perms, 1)), *options], check=True)
    info = json.load(open(os.path.join(folder, "import.json")))
    runs = ["real"] + [f"perm{k}" for k in range(1, max(perms, 1) + 1)]
    results = {r: os.path.join(folder, f"{r}.txt") for r in runs}
    expressions = {r: "expr.txt" if r == "real" else f"expr.{r}.txt"
                   for r in runs}
    with ThreadPoolExecutor(2) as pool:
        seconds = dict(zip(runs, pool.map(
            lambda r: screen(folder, expressions[r], results[r]), runs)))
    summaries = []
    for r in runs[1:]:
        summaries.append(results[r] + ".sum")
        subprocess.run([report, "-s", summaries[-1], results[r]], check=True)
    for r in ("real", "perm1"):
        rows, mc05, mc3, it3, it5 = shares(results[r])
        lam, hits = lambda_and_hits(folder, results[r],
                                    summaries if r == "real" and perms else [])
        print("\t".join(str(v) for v in (
            region, setting, r, info["snps"], info["genes"], rows,
            f"{lam:.3f}", f"{mc05:.4f}", f"{mc3:.5f}", f"{it3:.5f}",
            f"{it5:.6f}", f"{seconds[r]:.1f}",
            hits if r == "real" and perms else "-")), flush=True)
    for r in runs:
        os.remove(results[r])
    for s in summaries:
        os.remove(s)
