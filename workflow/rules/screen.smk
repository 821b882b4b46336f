# One job per (run, shard) runs zirk and, with the corr key on, zirk-corr;
# each leaves only the report's mergeable summaries of their rows, and for
# the real run zirk's rows themselves when asked.


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
    " --log {log:q} --summary {output.summary:q} {params.rows} {params.corr}"
    " {input.geno:q} {input.expr:q} {input.allele:q}"
)

# zirk-corr's summary of a shard, when the corr key is on. The program is
# looked up here, so that a missing zirk-corr stops the workflow before any
# job starts.
CORR_PROGRAM = program("zirk-corr") if config["corr"] else None
CORR_OUTPUT = {"corr": f"{OUT}/runs/{{run}}/{{shard}}.corr.sum"} if config["corr"] else {}


def corr_option(wildcards, output):
    if not config["corr"]:
        return ""
    return (f"--corr {shlex.quote(CORR_PROGRAM)}"
            f" --corr-summary {shlex.quote(output.corr)}")


if config["keep_rows"]:

    ruleorder: screen_with_rows > screen

    rule screen_with_rows:
        input:
            unpack(screen_inputs),
        output:
            summary=f"{OUT}/runs/{{run}}/{{shard}}.sum",
            rows=f"{OUT}/runs/{{run}}/{{shard}}.rows.zst",
            **CORR_OUTPUT,
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
            corr=corr_option,
        shell:
            SCREEN_SHELL


rule screen:
    input:
        unpack(screen_inputs),
    output:
        summary=f"{OUT}/runs/{{run}}/{{shard}}.sum",
        **CORR_OUTPUT,
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
        corr=corr_option,
    shell:
        SCREEN_SHELL
