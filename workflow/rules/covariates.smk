# Covariates of the expression: the user's file, with genotype principal
# components from plink2 joined to it when genotype_pcs asks for them.
COVARIATES = f"{OUT}/covariates"


def covariate_file():
    """The covariate file the importer reads; empty for none."""
    if config["genotype_pcs"]:
        return f"{COVARIATES}/covariates.txt"
    return config["covariates"]


def plink2_filters():
    """plink2's options for the variants and samples the importer keeps:
    biallelic SNVs of the region, the SNP and sample lists, MAF, PASS."""
    options = ["--snps-only", "just-acgt", "--max-alleles", "2"]
    if config["region"]:
        chrom, _, span = config["region"].rpartition(":")
        begin, _, end = span.partition("-")
        if not chrom:
            chrom, begin, end = config["region"], "", ""
        options += ["--chr", chrom]
        if begin:
            options += ["--from-bp", begin.replace(",", "")]
            options += ["--to-bp", (end or "2147483647").replace(",", "")]
    if config["snps"]:
        options += ["--extract", config["snps"]]
        if config["region"]:
            options.append("--force-intersect")
    if config["samples"]:
        options += ["--keep", config["samples"]]
    if config["maf"]:
        options += ["--maf", str(config["maf"])]
    if config["pass_only"]:
        options.append("--var-filter")
    return " ".join(shlex.quote(option) for option in options)


# The PCs come from LD-pruned SNPs (--indep-pairwise 50 5 0.2, plink2's
# documented example), so that no LD block dominates a component. Variant IDs
# are made unique first, since a VCF may hold '.' or repeats.
rule genotype_pcs:
    input:
        vcf=config["vcf"],
    output:
        eigenvec=f"{COVARIATES}/genotype.eigenvec",
    log:
        f"{OUT}/logs/genotype_pcs.log",
    params:
        prefix=f"{COVARIATES}/genotype",
        filters=plink2_filters(),
        pcs=config["genotype_pcs"],
    threads: config["threads"]
    resources:
        mem_mb=config["mem_mb"],
    shell:
        "{{ plink2 --vcf {input.vcf:q} {params.filters}"
        " --set-all-var-ids '@:#:$r:$a' --new-id-max-allele-len 100 truncate"
        " --make-pgen --out {params.prefix:q}.all"
        " --threads {threads} --memory {resources.mem_mb}"
        " && plink2 --pfile {params.prefix:q}.all --indep-pairwise 50 5 0.2"
        " --out {params.prefix:q} --threads {threads} --memory {resources.mem_mb}"
        " && plink2 --pfile {params.prefix:q}.all"
        " --extract {params.prefix:q}.prune.in --pca {params.pcs}"
        " --out {params.prefix:q} --threads {threads} --memory {resources.mem_mb}"
        " && rm -f {params.prefix:q}.all.*; }} >{log:q} 2>&1"
        " || {{ grep -h '^Error' {log:q} >&2; exit 1; }}"


rule join_covariates:
    input:
        eigenvec=f"{COVARIATES}/genotype.eigenvec",
        covariates=config["covariates"] or [],
    output:
        f"{COVARIATES}/covariates.txt",
    shell:
        "{workflow.basedir}/scripts/join_covariates.sh {input.eigenvec:q}"
        " {input.covariates:q} >{output:q}"
