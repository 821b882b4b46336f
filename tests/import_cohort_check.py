#!/usr/bin/env python3
"""Checks zirk-import on cohort-like VCFs made from the real example data.

From the region of the example, this script writes (seeded) a VCF with 1 % of
the calls missing, and an "imputed" one: GP and DS derived from every call
with noise (some calls uncertain, some GP missing), an INFO R2, a few
records with GP but no GT and a few with DS only, and the Hardy-Weinberg
p-values of `bcftools +fill-tags` among the kept individuals. The kept
variants, their classes, the filled calls and every count of import.json are
then checked against a direct computation here; the HWE p-values against
plink2 --hardy's; and the complete file, with the new fields and the default
options, must give the folder of the plain file byte for byte.

Usage: import_cohort_check.py ZIRK_IMPORT SOURCE_DIR WORK_DIR
"""
import json
import math
import os
import random
import shutil
import struct
import subprocess
import sys

REGION = "chr22:20000000-20300000"

zirk_import, source, work = sys.argv[1:4]
os.makedirs(work, exist_ok=True)


def run(*command, **options):
    return subprocess.run(command, check=True, capture_output=True, text=True,
                          **options).stdout


def f32(x):
    """x as the float htslib reads from the VCF."""
    return struct.unpack("f", struct.pack("f", x))[0]


data = os.path.join(work, "data")
subprocess.run([os.path.join(source, "tools/example-data.sh"), data],
               check=True)
vcf = os.path.join(data, "genotypes.chr22.vcf.gz")
bed = os.path.join(data, "genes.50percent.chr22.bed.gz")
plain = os.path.join(work, "plain.vcf")
run("bcftools", "view", "-r", REGION, "-o", plain, vcf)
header, records = [], []
for line in open(plain):
    (header if line.startswith("#") else records).append(line.rstrip("\n"))
samples = header[-1].split("\t")[9:]
rng = random.Random(32)
# Twenty individuals left out with --samples: the HWE p-values must be those
# of the others.
kept_samples = sorted(rng.sample(samples, len(samples) - 20),
                      key=samples.index)
sample_list = os.path.join(work, "samples.txt")
open(sample_list, "w").write("\n".join(kept_samples) + "\n")
kept_columns = [samples.index(s) for s in kept_samples]


def write_vcf(path, extra_header, rows):
    with open(path, "w") as f:
        f.write("\n".join(header[:-1] + extra_header + [header[-1]] + rows))
        f.write("\n")


def gp_text(g, certain):
    """Three-decimal GP of true class g summing to 1: `certain` calls have a
    largest value of 0.900 or more, the others of 0.5 to 0.899."""
    top = rng.randint(900, 1000) if certain else rng.randint(500, 899)
    rest = 1000 - top
    other = rng.randint(0, rest)
    p = [0, 0, 0]
    p[g] = top
    others = [k for k in range(3) if k != g]
    p[others[0]], p[others[1]] = other, rest - other
    return [v / 1000 for v in p], ",".join(f"{v / 1000:.3f}" for v in p)


# 1. One percent of the calls missing.
missing_rows = []
for row in records:
    f = row.split("\t")
    f[9:] = ["./." if rng.random() < 0.01 else gt for gt in f[9:]]
    missing_rows.append("\t".join(f))
missing_vcf = os.path.join(work, "missing.vcf")
write_vcf(missing_vcf, [], missing_rows)

# 2. Imputed: every record gets GP, DS and R2; 1 % of GT missing (GP and DS
# too), 4 % of calls uncertain, 1 % with GP missing under a called GT; every
# 20th record has GP but no GT, every 25th DS only.
imputed_rows, truth = [], []
for r, row in enumerate(records):
    f = row.split("\t")
    kind = "ds" if r % 25 == 7 else "gp" if r % 20 == 3 else "gt"
    cells, calls = [], []
    for gt in f[9:]:
        g = gt.count("1")
        if rng.random() < 0.01:
            cells.append(("./.", ".", "."))
            calls.append(None)
            continue
        gp, text = gp_text(g, rng.random() >= 0.025)
        ds = f"{gp[1] + 2 * gp[2]:.3f}"
        if kind == "gt" and rng.random() < 0.01:
            text = "."
        cells.append((gt, text, ds))
        calls.append((g, gp, ds))
    if kind == "gt":
        f[8], f[9:] = "GT:GP:DS", [":".join(c) for c in cells]
    elif kind == "gp":
        f[8], f[9:] = "GP:DS", [":".join(c[1:]) for c in cells]
    else:
        f[8], f[9:] = "DS", [c[2] for c in cells]
    f[7] = f"R2={rng.random():.3f}"
    imputed_rows.append("\t".join(f))
fields = ['##INFO=<ID=R2,Number=1,Type=Float,Description="imputation r2">',
          '##FORMAT=<ID=GP,Number=G,Type=Float,Description="probabilities">',
          '##FORMAT=<ID=DS,Number=1,Type=Float,Description="dosage">']
imputed_raw = os.path.join(work, "imputed-raw.vcf")
write_vcf(imputed_raw, fields, imputed_rows)
# The HWE p-values among the kept individuals, as the workflow adds them.
imputed = os.path.join(work, "imputed.vcf.gz")
subprocess.run(f"bcftools view -S {sample_list} -Ou {imputed_raw} | "
               f"bcftools +fill-tags -Oz -o {imputed} -- -t HWE", shell=True,
               check=True, capture_output=True)
hwe_p = {}
for line in run("bcftools", "query", "-f", "%ID\t%HWE\n", imputed).split("\n"):
    if line:
        snp, p = line.split("\t")
        hwe_p[snp] = float(p) if p != "." else None


def import_folder(name, vcf_path, *options):
    out = os.path.join(work, name)
    shutil.rmtree(out, ignore_errors=True)
    run(zirk_import, "-v", vcf_path, "-e", bed, "-o", out, "-q", *options)
    return out


def read(folder, name):
    return open(os.path.join(folder, name)).read()


def expect(rows, max_missing, min_gp=0.0, min_r2=None, hwe=None, maf=0.0):
    """The kept SNPs (ID, n0, n1, n2, filled, classes) and the counts."""
    kept, skips = [], {}
    totals = {"filled": 0, "missing_in_file": 0, "below_min_gp": 0,
              "snps_with_filled": 0}
    fields = {"call_field": {}, "certainty_field": {}}
    n = len(kept_columns)
    for row in rows:
        f = row.split("\t")
        snp = f[2]
        info = dict(kv.split("=", 1) for kv in f[7].split(";") if "=" in kv)
        if min_r2 is not None and f32(float(info["R2"])) < f32(min_r2):
            skips["r2_below"] = skips.get("r2_below", 0) + 1
            continue
        if hwe is not None and hwe_p[snp] is None:
            skips["no_hwe"] = skips.get("no_hwe", 0) + 1
            continue
        if hwe is not None and f32(hwe_p[snp]) < f32(hwe):
            skips["hwe_below"] = skips.get("hwe_below", 0) + 1
            continue
        keys = f[8].split(":")
        classes, missing, uncertain = [], 0, 0
        certainty = "GP" if min_gp > 0 and "GP" in keys else "none"
        for c in kept_columns:
            cell = dict(zip(keys, f[9 + c].split(":")))
            if "GT" in cell:
                gt = cell["GT"]
                if "." in gt:
                    call = None
                    missing += 1
                else:
                    call = gt.count("1")
                    if certainty == "GP":
                        gp = cell["GP"]
                        if gp == "." or f32(max(f32(float(v))
                                for v in gp.split(","))) < f32(min_gp):
                            call = None
                            uncertain += 1
            elif "GP" in cell:
                certainty = "GP"
                if cell["GP"] == ".":
                    call = None
                    missing += 1
                else:
                    gp = [f32(float(v)) for v in cell["GP"].split(",")]
                    call = gp.index(max(gp))
                    if f32(gp[call]) < f32(min_gp):
                        call = None
                        uncertain += 1
            else:
                if cell["DS"] == ".":
                    call = None
                    missing += 1
                else:
                    call = math.floor(f32(float(cell["DS"])) + 0.5)
            classes.append(call)
        source_field = "GT" if "GT" in keys else "GP" if "GP" in keys else "DS"
        certainty = certainty if source_field != "DS" else "none"
        unusable = missing + uncertain
        if unusable == n or unusable > max_missing * n:
            skips["missing_call"] = skips.get("missing_call", 0) + 1
            continue
        called = [c for c in classes if c is not None]
        af = sum(called) / (2.0 * len(called))
        if min(af, 1 - af) < maf:
            skips["maf_below"] = skips.get("maf_below", 0) + 1
            continue
        fill = math.floor(sum(called) / len(called) + 0.5)
        classes = [fill if c is None else c for c in classes]
        sizes = [classes.count(k) for k in range(3)]
        if min(sizes) < 3:
            skips["class_below_min_size"] = (
                skips.get("class_below_min_size", 0) + 1)
            continue
        kept.append((snp, sizes, unusable, classes))
        totals["filled"] += unusable
        totals["missing_in_file"] += missing
        totals["below_min_gp"] += uncertain
        totals["snps_with_filled"] += unusable > 0
        for key, value in (("call_field", source_field),
                           ("certainty_field", certainty)):
            fields[key][value] = fields[key].get(value, 0) + 1
    return kept, skips, dict(totals, **fields)


def check(folder, rows, label, **filters):
    kept, skips, calls = expect(rows, **filters)
    snps = [line.split("\t") for line in read(folder, "snps.tsv").split("\n")
            [1:-1]]
    assert [s[1] for s in snps] == [k[0] for k in kept], f"{label}: kept SNPs"
    geno = [line.split(" ") for line in read(folder, "geno.txt").split("\n")
            [:-1]]
    ref = [line[0] for line in read(folder, "allele.txt").split("\n")[:-1]]
    for s, (snp, sizes, filled, classes) in enumerate(kept):
        assert snps[s][6:10] == [str(v) for v in sizes + [filled]], (
            label, snp, snps[s][6:10], sizes, filled)
        got = [(geno[i][2 * s] != ref[s]) + (geno[i][2 * s + 1] != ref[s])
               for i in range(len(kept_columns))]
        assert got == classes, f"{label}: classes of {snp}"
    report = json.load(open(os.path.join(folder, "import.json")))
    assert report["calls"] == calls, (label, report["calls"], calls)
    counts = {k: v["count"] for k, v in report["skipped"]["variants"].items()
              if v["count"]}
    assert counts == skips, (label, counts, skips)
    print(f"{label}: {len(kept)} SNPs kept, {calls['filled']} calls filled, "
          f"skipped {skips}")
    return kept


options = ["--samples", sample_list]
# --max-missing 0 keeps exactly the SNPs without a missing call.
folder = import_folder("missing0", missing_vcf, *options)
check(folder, missing_rows, "missing, --max-missing 0", max_missing=0)
folder = import_folder("missing5", missing_vcf, *options, "--max-missing",
                       "0.05", "--maf", "0.05")
kept = check(folder, missing_rows, "missing, --max-missing 0.05",
             max_missing=0.05, maf=0.05)
assert len(kept) > 600, "1 % missing calls should keep most SNPs"

rows = [line for line in run("bcftools", "view", "-H", imputed).split("\n")
        if line]
# bcftools view -S kept only the listed samples: index the columns anew.
all_columns, kept_columns = kept_columns, list(range(len(kept_samples)))
imputed_options = ["--max-missing", "0.05", "--min-gp", "0.9", "--min-r2",
                   "0.3"]
folder = import_folder("imputed", imputed, *imputed_options)
check(folder, rows, "imputed", max_missing=0.05, min_gp=0.9, min_r2=0.3)
report = json.load(open(os.path.join(folder, "import.json")))
for key in ("r2_below", "missing_call"):
    assert report["skipped"]["variants"][key]["count"] > 0, key
assert set(report["calls"]["call_field"]) == {"GT", "GP", "DS"}
assert report["calls"]["below_min_gp"] > 0
assert report["options"]["r2_field"] == "R2"
folder = import_folder("imputed-hwe", imputed, *imputed_options, "--hwe",
                       "0.001")
check(folder, rows, "imputed, --hwe 0.001", max_missing=0.05, min_gp=0.9,
      min_r2=0.3, hwe=0.001)
report = json.load(open(os.path.join(folder, "import.json")))
for key in ("hwe_below", "no_hwe"):
    assert report["skipped"]["variants"][key]["count"] > 0, key

# The HWE p-values bcftools wrote, among the kept individuals, against
# plink2's exact test on the same calls (a GP-only or DS-only record has no
# GT and no p-value of either tool).
prefix = os.path.join(work, "hardy")
run("plink2", "--vcf", imputed, "--hardy", "--allow-extra-chr", "--out",
    prefix, "--threads", "1")
compared = 0
with open(prefix + ".hardy") as f:
    head = f.readline().lstrip("#").split()
    for line in f:
        row = dict(zip(head, line.split()))
        ours = hwe_p.get(row["ID"])
        if ours is None:
            continue
        theirs = float(row["P"])
        assert abs(ours - theirs) <= 1e-5 + 1e-3 * theirs, (row["ID"], ours,
                                                            theirs)
        compared += 1
assert compared > 700, compared
print(f"HWE: bcftools and plink2 agree on {compared} p-values")

# The complete file with the new fields and the default options gives the
# folder of the plain file, byte for byte.
complete_rows = []
for row in records:
    f = row.split("\t")
    f[8] = "GT:GP:DS"
    f[9:] = [gt + ":" + gp_text(gt.count("1"), True)[1] + ":1.000"
             for gt in f[9:]]
    f[7] += ";R2=0.5"
    complete_rows.append("\t".join(f))
complete = os.path.join(work, "complete.vcf")
write_vcf(complete, fields, complete_rows)
kept_columns = all_columns
a = import_folder("plain", plain, *options)
b = import_folder("complete", complete, *options)
for name in ("geno.txt", "allele.txt", "expr.txt", "snps.tsv", "genes.tsv",
             "samples.txt"):
    assert read(a, name) == read(b, name), f"{name} differs with GP/DS/R2"
assert {line.split("\t")[9] for line in read(a, "snps.tsv").split("\n")[1:-1]
        } == {"0"}
print("complete file with GP/DS/R2 at the defaults: the plain file's folder")
