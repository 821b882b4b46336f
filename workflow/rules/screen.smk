# One job per (run, shard) and program: zirk (the MC and IT families, when
# the scores name it), its rows summarised by zirk-report as they are
# written, and zirk-corr (trend and het), which writes its summary itself.
# Each leaves only the mergeable summaries, and for the real run zirk's
# rows themselves when asked.


rule shard_inputs:
    input:
        geno=lambda wildcards: f"{shard_import(wildcards.shard)}/geno.txt",
        allele=lambda wildcards: f"{shard_import(wildcards.shard)}/allele.txt",
    output:
        geno=f"{OUT}/shards/{{shard}}/geno.txt",
        allele=f"{OUT}/shards/{{shard}}/allele.txt",
    params:
        first=lambda wildcards: first_snp(wildcards.shard),
        size=config["shard_snps"],
    shell:
        "{workflow.basedir}/scripts/shard_inputs.sh {input.geno:q} {input.allele:q}"
        " {params.first} {params.size} {output.geno:q} {output.allele:q}"


def screen_inputs(wildcards):
    return {
        "geno": f"{OUT}/shards/{wildcards.shard}/geno.txt",
        "allele": f"{OUT}/shards/{wildcards.shard}/allele.txt",
        "expr": expression_file(wildcards.run),
    }


SCREEN_SHELL = (
    "OMP_NUM_THREADS={threads} {workflow.basedir}/scripts/screen_shard.sh"
    " --zirk {params.zirk:q} --report {params.report:q}"
    " --threshold {params.threshold} --offset {params.offset}"
    " --max-hits {params.max_hits}"
    " --log {log:q} --summary {output.summary:q} {params.rows}"
    " {input.geno:q} {input.expr:q} {input.allele:q}"
)

# The programs are looked up as the rules are defined, so that a missing
# one stops the workflow before any job starts; a run without the IT
# family needs no zirk.
if IT_SCORES:
    if config["keep_rows"]:

        ruleorder: screen_with_rows > screen

        rule screen_with_rows:
            input:
                unpack(screen_inputs),
            output:
                summary=f"{OUT}/runs/{{run}}/{{shard}}.sum",
                rows=f"{OUT}/runs/{{run}}/{{shard}}.rows.zst",
            wildcard_constraints:
                run="real",
            log:
                f"{OUT}/logs/screen/{{run}}/{{shard}}.log",
            threads: config["threads"]
            resources:
                mem_mb=config["mem_mb"],
            params:
                zirk=program("zirk"),
                report=program("zirk-report"),
                threshold=config["threshold"],
                offset=lambda wildcards: first_snp(wildcards.shard),
                max_hits=lambda wildcards: candidates_kept(wildcards.run),
                rows=lambda wildcards, output: f"--rows {shlex.quote(output.rows)}",
            shell:
                SCREEN_SHELL

    rule screen:
        input:
            unpack(screen_inputs),
        output:
            summary=f"{OUT}/runs/{{run}}/{{shard}}.sum",
        log:
            f"{OUT}/logs/screen/{{run}}/{{shard}}.log",
        threads: config["threads"]
        resources:
            mem_mb=config["mem_mb"],
        params:
            zirk=program("zirk"),
            report=program("zirk-report"),
            threshold=config["threshold"],
            offset=lambda wildcards: first_snp(wildcards.shard),
            max_hits=lambda wildcards: candidates_kept(wildcards.run),
            rows="",
        shell:
            SCREEN_SHELL


def pair_design():
    """zirk-corr's design option for the pairs key."""
    if config["pairs"] == "all":
        return ""
    if config["pairs"] == "cis":
        return f"--cis-window {config['cis_window']}"
    return f"--anchors {shlex.quote(os.path.abspath(config['pairs']))}"


if CORR_SCORES:

    rule screen_corr:
        input:
            unpack(screen_inputs),
            snps=lambda wildcards: f"{shard_import(wildcards.shard)}/snps.tsv",
            genes=lambda wildcards: f"{shard_import(wildcards.shard)}/genes.tsv",
            anchors=[] if config["pairs"] in ("all", "cis") else [config["pairs"]],
        output:
            f"{OUT}/runs/{{run}}/{{shard}}.corr.sum",
        log:
            f"{OUT}/logs/screen_corr/{{run}}/{{shard}}.log",
        threads: config["threads"]
        resources:
            mem_mb=config["mem_mb"],
        params:
            corr=program("zirk-corr"),
            data=lambda wildcards: shard_import(wildcards.shard),
            offset=lambda wildcards: first_snp(wildcards.shard),
            max_hits=lambda wildcards: candidates_kept(wildcards.run),
            design=pair_design(),
        # OpenBLAS's own threads, which zirk-corr never uses, not started;
        # its Error: line repeated from the log.
        shell:
            "OPENBLAS_NUM_THREADS=1 {params.corr} -g {input.geno:q} -e {input.expr:q}"
            " -a {input.allele:q} --data {params.data:q} --snp-offset {params.offset}"
            " --max-hits {params.max_hits} --threads {threads} {params.design}"
            " --summary {output:q} 2>{log:q}"
            " || {{ grep '^Error' {log:q} >&2; exit 1; }}"
