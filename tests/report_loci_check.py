#!/usr/bin/python3
"""An independent clumping of a report's hits into loci, with numpy, against
the report's loci.tsv and the locus column of its hits.tsv.

  report_loci_check.py DATA REPORT CLUMP_KB CLUMP_R2 PLOTS [cases]

DATA is the data folder (snps.tsv, geno.txt, allele.txt), REPORT the report
folder. The hits of each family are ordered by their family's p-value, equal
values by SNP, gene1, gene2; the strongest hit not yet in a locus leads one
and takes every free hit of its family and pair on its chromosome within
CLUMP_KB kilobases whose genotype classes have r^2 >= CLUMP_R2 with its own
(numpy's Pearson correlation). With "cases", the report must also hold a
locus with a tie in p, a pair with hits on two chromosomes and a hit near a
lead of its pair but out of LD with it, so that the check saw each of them.
"""

import json
import math
import os
import sys

import numpy as np

P_COLUMN = {"it": "log10_p_it", "trend": "log10_p_trend", "het": "log10_p_het"}


def read_table(path):
    with open(path) as f:
        lines = f.read().splitlines()
    header = lines[0].split("\t")
    return header, [dict(zip(header, line.split("\t"))) for line in lines[1:]]


def read_classes(data, snps):
    with open(os.path.join(data, "allele.txt")) as f:
        ref = [line.split()[0] for line in f]
    with open(os.path.join(data, "geno.txt")) as f:
        lines = f.read().splitlines()
    classes = {}
    for s in snps:
        copies = np.array([(line[4 * s] == ref[s]) + (line[4 * s + 2] == ref[s])
                           for line in lines], dtype=float)
        classes[s] = copies
    return classes


def r2(a, b):
    if a.std() == 0 or b.std() == 0:
        return math.nan
    return np.corrcoef(a, b)[0, 1] ** 2


def main():
    data, report, kb, min_r2, plots = sys.argv[1:6]
    want_cases = sys.argv[6:] == ["cases"]
    window, min_r2, plots = int(kb) * 1000, float(min_r2), int(plots)
    _, snp_rows = read_table(os.path.join(data, "snps.tsv"))
    place = {int(r["index"]): (r["chrom"], r["pos"]) for r in snp_rows}
    header, hits = read_table(os.path.join(report, "hits.tsv"))
    classes = read_classes(data, {int(h["snp"]) for h in hits})
    failures = []

    def p(h):
        return float(h[P_COLUMN[h["family"]]])

    order = sorted(range(len(hits)), key=lambda i: (
        hits[i]["family"] != "it", hits[i]["family"], p(hits[i]),
        int(hits[i]["snp"]), int(hits[i]["gene1"]), int(hits[i]["gene2"])))
    lead_of = {}
    seen = {"tie": 0, "two_chromosomes": 0, "near_not_in_ld": 0, "joined": 0}
    for i in order:
        if i in lead_of:
            continue
        lead_of[i] = i
        a = hits[i]
        chrom, pos = place[int(a["snp"])]
        if not pos.isdigit():
            continue
        for j in order:
            b = hits[j]
            if j in lead_of or (b["family"], b["gene1"], b["gene2"]) != (
                    a["family"], a["gene1"], a["gene2"]):
                continue
            c, q = place[int(b["snp"])]
            if c != chrom or not q.isdigit() or abs(int(q) - int(pos)) > window:
                continue
            value = r2(classes[int(a["snp"])], classes[int(b["snp"])])
            if value >= min_r2:
                lead_of[j] = i
                seen["joined"] += 1
                seen["tie"] += p(a) == p(b)
            else:
                seen["near_not_in_ld"] += 1
    pairs = {}
    for h in hits:
        pairs.setdefault((h["family"], h["gene1"], h["gene2"]), set()).add(
            place[int(h["snp"])][0])
    seen["two_chromosomes"] = sum(len(c) > 1 for c in pairs.values())

    # Loci are numbered in the order of their leads' rows in hits.tsv.
    leads = sorted(set(lead_of.values()))
    number = {lead: k + 1 for k, lead in enumerate(leads)}
    for i, h in enumerate(hits):
        if h["locus"] != str(number[lead_of[i]]):
            failures.append(f"hits.tsv row {i + 1}: locus {h['locus']}, "
                            f"want {number[lead_of[i]]}")
    _, loci = read_table(os.path.join(report, "loci.tsv"))
    if len(loci) != len(leads):
        failures.append(f"{len(loci)} loci, want {len(leads)}")
    for locus, lead in zip(loci, leads):
        members = [i for i in lead_of if lead_of[i] == lead]
        positions = [int(place[int(hits[m]["snp"])][1]) for m in members
                     if place[int(hits[m]["snp"])][1].isdigit()]
        want = {"locus": str(number[lead]), "snps": str(len(members)),
                "first_pos": str(min(positions)) if positions else "NA",
                "last_pos": str(max(positions)) if positions else "NA"}
        want.update({k: v for k, v in hits[lead].items() if k in locus
                     and k not in want})
        if locus != want:
            failures.append(f"locus {locus['locus']}: {locus}, want {want}")

    summary = json.load(open(os.path.join(report, "summary.json")))
    by_family = {}
    for lead in leads:
        by_family.setdefault(hits[lead]["family"], []).append(number[lead])
    drawn = sorted(n for f in by_family.values() for n in f[:plots])
    families = summary["loci"]["families"]
    if any(families.get(f, 0) != len(n) for f, n in by_family.items()):
        failures.append(f"summary.json loci {families}")
    if summary["loci"]["figures"] != len(drawn):
        failures.append(f"summary.json figures {summary['loci']['figures']}, "
                        f"want {len(drawn)}")
    files = sorted(int(name[6:-4]) for name in os.listdir(report)
                   if name.startswith("locus_") and name.endswith(".png"))
    svgs = sorted(int(name[6:-4]) for name in os.listdir(report)
                  if name.startswith("locus_") and name.endswith(".svg"))
    if files != drawn or svgs != drawn:
        failures.append(f"figures of loci {files} / {svgs}, want {drawn}")
    if want_cases:
        for case, count in seen.items():
            if count == 0:
                failures.append(f"no case of {case} among the hits")
    for f in failures[:20]:
        print("FAIL:", f, file=sys.stderr)
    print(f"{len(hits)} hits, {len(leads)} loci, {len(drawn)} figures; "
          + ", ".join(f"{k} {v}" for k, v in seen.items()), file=sys.stderr)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
