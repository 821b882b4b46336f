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
    if config["max_missing"]:
        options += ["--max-missing", str(config["max_missing"])]
    if config["min_gp"]:
        options += ["--min-gp", str(config["min_gp"])]
    if config["min_r2"] is not None:
        options += ["--min-r2", str(config["min_r2"])]
        if config["r2_field"]:
            options += ["--r2-field", config["r2_field"]]
    if config["hwe"] is not None:
        options += ["--hwe", str(config["hwe"])]
    options += ["--values", config["values"]]
    if covariate_file():
        options += ["--covariates", covariate_file()]
    options += ["--normalise", config["normalise"]]
    if config["min_expressed"]:
        options += ["--min-expressed", str(config["min_expressed"])]
    if config["strata"].startswith("covariate:"):
        options += ["--strata-covariate", config["strata"][len("covariate:"):]]
    elif config["strata"]:
        options += ["--strata", config["strata"]]
    if config["permutations"]:
        options += ["--permute", str(config["permutations"])]
        options += ["--seed", str(config["seed"])]
    return " ".join(shlex.quote(option) for option in options)


# The strata file the importer reads, if the strata key names one.
def strata_file():
    strata = config["strata"]
    return [] if not strata or strata.startswith("covariate:") else [strata]


# strata.txt in an import folder when the strata key is set (zirk-corr
# reads it from there).
def strata_output(folder):
    return [f"{folder}/strata.txt"] if config["strata"] else []


# With `hwe`, the VCF the importer reads: a BCF beside the outputs with
# INFO/HWE among the individuals it keeps (scripts/hwe_tags.sh), written
# before the import and removed after it.
def hwe_vcf(name):
    return f"{OUT}/hwe/{name}.bcf" if config["hwe"] is not None else None


def hwe_step(vcf, region, tagged):
    """The shell that writes `tagged` before the import, or nothing."""
    if tagged is None:
        return ""
    words = [vcf, config["expression"], config["samples"], region or "", tagged]
    return (f"mkdir -p {shlex.quote(os.path.dirname(tagged))}; "
            f"{shlex.quote(workflow.basedir)}/scripts/hwe_tags.sh "
            + " ".join(shlex.quote(w) for w in words) + "; ")


def hwe_cleanup(tagged):
    return f"; rm -f {shlex.quote(tagged)} {shlex.quote(tagged)}.csi" if tagged else ""


checkpoint import_data:
    input:
        # A genome-wide run imports in import_part; its {chrom} pattern is
        # no wildcard of this rule.
        vcf=[] if GENOME else config["vcf"],
        expression=config["expression"],
        covariates=covariate_file() or [],
        strata=strata_file(),
    output:
        geno=f"{DATA}/geno.txt",
        allele=f"{DATA}/allele.txt",
        expr=f"{DATA}/expr.txt",
        snps=f"{DATA}/snps.tsv",
        genes=f"{DATA}/genes.tsv",
        permuted=[f"{DATA}/expr.{run}.txt" for run in RUNS[1:]],
        strata=strata_output(DATA),
    log:
        f"{OUT}/logs/import.log",
    params:
        program=program("zirk-import"),
        # A genome-wide run's regions go to its own imports (genome.smk).
        region="" if GENOME else region_option(config["region"]),
        options=import_options(),
        vcf="" if GENOME else hwe_vcf("import") or config["vcf"],
        hwe="" if GENOME else hwe_step(config["vcf"], config["region"],
                                       hwe_vcf("import")),
        cleanup="" if GENOME else hwe_cleanup(hwe_vcf("import")),
    shell:
        "{params.hwe}{params.program} --force --vcf {params.vcf:q}"
        " --expression {input.expression:q} --out {DATA:q} {params.region}"
        " {params.options}"
        " 2>{log:q} || {{ grep '^Error' {log:q} >&2; exit 1; }}"
        "{params.cleanup}"
