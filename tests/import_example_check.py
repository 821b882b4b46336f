#!/usr/bin/env python3
"""Checks zirk-import on a region of the real example data against bcftools.

The genotype classes in the imported folder must equal those derived
independently from `bcftools query`, every variant bcftools shows must be
either imported or counted as skipped, and zirk must screen the folder.

Usage: import_example_check.py ZIRK_IMPORT ZIRK SOURCE_DIR WORK_DIR
"""
import json
import os
import shutil
import subprocess
import sys

REGION = "chr22:17000000-17020000"

zirk_import, zirk, source, work = sys.argv[1:5]


def output(*command, **options):
    return subprocess.run(command, check=True, capture_output=True, text=True,
                          **options).stdout


data = os.path.join(work, "data")
subprocess.run([os.path.join(source, "tools/example-data.sh"), data], check=True)
vcf = os.path.join(data, "genotypes.chr22.vcf.gz")
bed = os.path.join(data, "genes.50percent.chr22.bed.gz")

# The first 20 genes of the BED: some hold a zero and must be reported.
genes = output(f"zcat {bed} | sed -n '2,21p' | cut -f4", shell=True).split()
gene_list = os.path.join(work, "genes.txt")
with open(gene_list, "w") as f:
    f.write("\n".join(genes) + "\n")

out = os.path.join(work, "folder")
shutil.rmtree(out, ignore_errors=True)
subprocess.run([zirk_import, "-v", vcf, "-e", bed, "-o", out, "-r", REGION,
                "--genes", gene_list, "-q"], check=True)



def lines(name):
    return open(os.path.join(out, name)).read().splitlines()


samples = output("bcftools", "query", "-l", vcf).split()
assert lines("samples.txt") == samples, "samples differ from the VCF's"

# Classes from bcftools: number of non-REF alleles in each GT.
query = output("bcftools", "query", "-r", REGION, "-f",
               "%ID\t%REF\t%ALT[\t%GT]\n", vcf).splitlines()
expected = {}
too_small = 0
for row in query:
    fields = row.split("\t")
    classes = [sum(a != "0" for a in gt.replace("|", "/").split("/"))
               for gt in fields[3:]]
    sizes = [classes.count(k) for k in range(3)]
    assert len(fields[1]) == 1 and len(fields[2]) == 1, "non-SNV in region"
    if min(sizes) < 3:
        too_small += 1
    else:
        expected[fields[0]] = (fields[1], fields[2], classes, sizes)

snps = [line.split("\t") for line in lines("snps.tsv")[1:]]
assert [s[1] for s in snps] == list(expected), "kept variants differ"
report = json.load(open(os.path.join(out, "import.json")))
skipped = report["skipped"]["variants"]
assert skipped["class_below_min_size"]["count"] == too_small
assert sum(r["count"] for r in skipped.values()) + len(snps) == len(query)

geno = [line.split(" ") for line in lines("geno.txt")]
alleles = lines("allele.txt")
for s, (snp_id, (ref, alt, classes, sizes)) in enumerate(expected.items()):
    assert alleles[s] == f"{ref} {alt}"
    assert snps[s][4:9] == [ref, alt] + [str(n) for n in sizes], snp_id
    got = [(geno[i][2 * s] != ref) + (geno[i][2 * s + 1] != ref)
           for i in range(len(samples))]
    assert got == classes, f"classes of {snp_id} differ"

kept_genes = [line.split("\t")[1] for line in lines("genes.tsv")[1:]]
dropped = report["skipped"]["genes"]["non_positive"]["count"]
assert len(kept_genes) + dropped == 20 and dropped > 0

result = os.path.join(work, "result.txt")
output(zirk, "-g", os.path.join(out, "geno.txt"), "-e",
       os.path.join(out, "expr.txt"), "-a", os.path.join(out, "allele.txt"),
       "-o", result, input="0.05\n")
rows = open(result).read().splitlines()[3:]
pairs = len(kept_genes) * (len(kept_genes) - 1) // 2
assert len(rows) == len(snps) * pairs, (len(rows), len(snps), pairs)
print(f"{len(snps)} SNPs, {len(kept_genes)} genes, {len(rows)} zirk rows: ok")
