# A genome-wide run: one import per VCF, per chromosome of a {chrom} pattern
# or per region, each with the options of the single import. The imports must
# keep the same samples and genes; their SNPs follow one another in the order
# given, so every SNP has one index in the merged data folder (DATA/snps.tsv)
# and the report covers the whole genome as one family. Shards are screened
# within their import; the merge moves each import's SNPs past those before
# it with the offsets in DATA/parts.tsv.
import collections
import gzip
import re

Part = collections.namedtuple("Part", "vcf region chrom")


def genome_error(text):
    raise WorkflowError(f"Error: {text}")


def listed(value):
    """A YAML list, or names separated by commas as --config gives them."""
    if isinstance(value, list):
        return [str(v) for v in value]
    return [v for v in str(value).split(",") if v]


def regions():
    """The regions of the key region: one, a list, or a BED file's lines
    (0-based starts, as BED has them)."""
    region = config["region"]
    if isinstance(region, list):
        return [str(r) for r in region]
    if not region.endswith((".bed", ".bed.gz")):
        return [region] if region else []
    if not os.path.exists(region):
        genome_error(f"{region}: no such BED file of regions")
    found = []
    with (gzip.open if region.endswith(".gz") else open)(region, "rt") as bed:
        for number, line in enumerate(bed, 1):
            fields = line.split()
            if not fields or fields[0].startswith(("#", "track", "browser")):
                continue
            if len(fields) < 3 or not (fields[1].isdigit() and fields[2].isdigit()):
                genome_error(f"{region}: line {number}: not chrom, start, end")
            found.append(f"{fields[0]}:{int(fields[1]) + 1}-{fields[2]}")
    if not found:
        genome_error(f"{region}: no regions in the BED file")
    return found


def region_chrom(region):
    return region.rsplit(":", 1)[0] if ":" in region else region


def check_regions(found):
    """Overlapping regions would import their shared SNPs twice."""
    spans = []
    for region in found:
        match = re.fullmatch(r"(.+):([0-9,]+)-([0-9,]+)", region)
        if match:
            chrom, begin, end = match.groups()
            spans.append((chrom, int(begin.replace(",", "")),
                          int(end.replace(",", "")), region))
    spans.sort()
    for a, b in zip(spans, spans[1:]):
        if a[0] == b[0] and b[1] <= a[2]:
            genome_error(f"regions {a[3]} and {b[3]} overlap")


def part_name(text):
    return re.sub(r"[^A-Za-z0-9_.-]", "_", text)


def genome_parts():
    """The imports of a genome-wide run in genome order: name -> Part."""
    vcf, found = config["vcf"], regions()
    chroms = listed(config["chromosomes"])
    check_regions(found)
    parts = {}
    if isinstance(vcf, list):
        if chroms:
            genome_error("the key chromosomes goes with a vcf pattern holding "
                         "{chrom}, not with a list of files")
        if len(found) > 1:
            genome_error("several regions go with one VCF or a {chrom} "
                         "pattern, not with a list of files")
        for path in vcf:
            name = part_name(re.sub(r"\.(vcf|vcf\.gz|bcf)$", "",
                                    os.path.basename(path)))
            if name in parts:
                genome_error(f"{path}: two VCFs of the list have the name {name}")
            parts[name] = Part(path, found[0] if found else "", "")
    elif "{chrom}" in vcf:
        if not chroms:
            genome_error(f"vcf {vcf} holds {{chrom}}; list the chromosomes "
                         "in the key chromosomes")
        for region in found:
            if region_chrom(region) not in chroms:
                genome_error(f"region {region}: chromosome "
                             f"{region_chrom(region)} is not in the key "
                             "chromosomes")
        for region in found or chroms:
            chrom = region_chrom(region)
            parts[part_name(region)] = Part(
                vcf.replace("{chrom}", chrom), region if found else "", chrom
            )
    else:
        if chroms:
            genome_error("the key chromosomes needs {chrom} in the vcf pattern")
        for region in found:
            parts[part_name(region)] = Part(vcf, region, region_chrom(region))
    for name, part in parts.items():
        if not os.path.exists(part.vcf):
            of = f" (chromosome {part.chrom} of {vcf})" if "{chrom}" in str(vcf) else ""
            genome_error(f"{part.vcf}: no such VCF{of}")
    return parts


PARTS = genome_parts() if GENOME else {}
if GENOME and config["genotype_pcs"]:
    # plink2 reads one VCF of one region here; principal components over
    # several files would need their merge first.
    genome_error("genotype_pcs takes one VCF and one region; for a "
                 "genome-wide run, compute the genotype principal components "
                 "once and give them in the covariates file")


if GENOME:

    wildcard_constraints:
        part="[^/]+",

    checkpoint import_part:
        input:
            vcf=lambda wildcards: PARTS[wildcards.part].vcf,
            expression=config["expression"],
            covariates=covariate_file() or [],
            strata=strata_file(),
        output:
            geno=f"{OUT}/imports/{{part}}/geno.txt",
            allele=f"{OUT}/imports/{{part}}/allele.txt",
            expr=f"{OUT}/imports/{{part}}/expr.txt",
            snps=f"{OUT}/imports/{{part}}/snps.tsv",
            genes=f"{OUT}/imports/{{part}}/genes.tsv",
            samples=f"{OUT}/imports/{{part}}/samples.txt",
            permuted=[f"{OUT}/imports/{{part}}/expr.{run}.txt" for run in RUNS[1:]],
            strata=strata_output(f"{OUT}/imports/{{part}}"),
        log:
            f"{OUT}/logs/import/{{part}}.log",
        params:
            program=program("zirk-import"),
            folder=lambda wildcards: import_folder(wildcards.part),
            region=lambda wildcards: region_option(PARTS[wildcards.part].region),
            options=import_options(),
            vcf=lambda wildcards: hwe_vcf(wildcards.part) or PARTS[wildcards.part].vcf,
            hwe=lambda wildcards: hwe_step(PARTS[wildcards.part].vcf,
                                           PARTS[wildcards.part].region,
                                           hwe_vcf(wildcards.part)),
            cleanup=lambda wildcards: hwe_cleanup(hwe_vcf(wildcards.part)),
        shell:
            "{params.hwe}{params.program} --force --vcf {params.vcf:q}"
            " --expression {input.expression:q} --out {params.folder:q}"
            " {params.region} {params.options}"
            " 2>{log:q} || {{ grep '^Error' {log:q} >&2; exit 1; }}"
            "{params.cleanup}"

    ruleorder: merge_imports > import_data

    rule merge_imports:
        input:
            [
                f"{import_folder(part)}/{name}"
                for part in PARTS
                for name in ["snps.tsv", "genes.tsv", "samples.txt", "expr.txt",
                             "geno.txt", "allele.txt"]
                + [f"expr.{run}.txt" for run in RUNS[1:]]
                + (["strata.txt"] if config["strata"] else [])
            ],
        output:
            snps=f"{DATA}/snps.tsv",
            geno=f"{DATA}/geno.txt",
            allele=f"{DATA}/allele.txt",
            genes=f"{DATA}/genes.tsv",
            samples=f"{DATA}/samples.txt",
            expr=f"{DATA}/expr.txt",
            permuted=[f"{DATA}/expr.{run}.txt" for run in RUNS[1:]],
            strata=strata_output(DATA),
            parts=f"{DATA}/parts.tsv",
        params:
            parts=" ".join(
                f"--part {shlex.quote(name)} {shlex.quote(part.chrom or '-')}"
                f" {shlex.quote(part.vcf)} {shlex.quote(import_folder(name))}"
                for name, part in PARTS.items()
            ),
        shell:
            "{workflow.basedir}/scripts/merge_imports.sh --out {DATA:q} {params.parts}"

    ruleorder: merge_genome_summaries > merge_summaries

    rule merge_genome_summaries:
        input:
            parts=f"{DATA}/parts.tsv",
            shards=lambda wildcards: shard_summaries(wildcards.run, wildcards.kind)(
                wildcards
            ),
        output:
            f"{OUT}/summaries/{{run}}.{{kind}}",
        wildcard_constraints:
            kind="sum|corr[.]sum",
        params:
            report=program("zirk-report"),
            max_hits=lambda wildcards: candidates_kept(wildcards.run),
        shell:
            "{workflow.basedir}/scripts/merge_genome.sh summaries {input.parts:q}"
            " {output:q} {params.report:q} {params.max_hits} {input.shards:q}"

    ruleorder: merge_genome_rows > merge_rows

    rule merge_genome_rows:
        input:
            parts=f"{DATA}/parts.tsv",
            shards=shard_rows,
        output:
            f"{OUT}/results.txt.zst",
        params:
            size=config["shard_snps"],
        shell:
            "{workflow.basedir}/scripts/merge_genome.sh rows {input.parts:q}"
            " {output:q} {params.size} {input.shards:q}"
