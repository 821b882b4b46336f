# The importer runs once; the number of shards follows from the SNPs it kept.
def region_option(region):
    return f"--region {shlex.quote(region)}" if region else ""


# The options of every import but the region, which is each import's own.
def import_options():
    options = []
    for key in ("snps", "genes", "samples"):
        if config[key]:
            options += [f"--{key}", config[key]]
    if config["maf"]:
        options += ["--maf", str(config["maf"])]
    if config["pass_only"]:
        options.append("--pass-only")
    if config["pseudocount"]:
        options += ["--pseudocount", str(config["pseudocount"])]
    options += ["--min-class-size", str(config["min_class_size"])]
    options += ["--values", config["values"]]
    if covariate_file():
        options += ["--covariates", covariate_file()]
    options += ["--normalise", config["normalise"]]
    if config["min_expressed"]:
        options += ["--min-expressed", str(config["min_expressed"])]
    if config["permutations"]:
        options += ["--permute", str(config["permutations"])]
        options += ["--seed", str(config["seed"])]
    return " ".join(shlex.quote(option) for option in options)


checkpoint import_data:
    input:
        # A genome-wide run imports in import_part; its {chrom} pattern is
        # no wildcard of this rule.
        vcf=[] if GENOME else config["vcf"],
        expression=config["expression"],
        covariates=covariate_file() or [],
    output:
        geno=f"{DATA}/geno.txt",
        allele=f"{DATA}/allele.txt",
        expr=f"{DATA}/expr.txt",
        snps=f"{DATA}/snps.tsv",
        genes=f"{DATA}/genes.tsv",
        permuted=[f"{DATA}/expr.{run}.txt" for run in RUNS[1:]],
    log:
        f"{OUT}/logs/import.log",
    params:
        program=program("zirk-import"),
        # A genome-wide run's regions go to its own imports (genome.smk).
        region="" if GENOME else region_option(config["region"]),
        options=import_options(),
    shell:
        "{params.program} --force --vcf {input.vcf:q}"
        " --expression {input.expression:q} --out {DATA:q} {params.region}"
        " {params.options}"
        " 2>{log:q} || {{ grep '^Error' {log:q} >&2; exit 1; }}"
