# Shards merged into one summary per run (and the real run's rows into one
# result file), then the report of the real run against the permuted ones.


rule merge_summaries:
    input:
        lambda wildcards: shard_summaries(wildcards.run)(wildcards),
    output:
        f"{OUT}/summaries/{{run}}.sum",
    params:
        report=program("zirk-report"),
    shell:
        "{params.report} --summary {output:q} {input:q}"


rule merge_rows:
    input:
        lambda wildcards: [f"{OUT}/runs/real/{k}.rows.zst" for k in shard_ids()],
    output:
        f"{OUT}/results.txt.zst",
    params:
        offsets=lambda wildcards: ",".join(
            str(shard_range(k)[0]) for k in shard_ids()
        ),
    shell:
        "{workflow.basedir}/scripts/merge_rows.sh {params.offsets} {output:q} {input:q}"


rule report:
    input:
        real=f"{OUT}/summaries/real.sum",
        null=[f"{OUT}/summaries/{run}.sum" for run in RUNS[1:]],
        snps=f"{DATA}/snps.tsv",
        genes=f"{DATA}/genes.tsv",
    output:
        directory(f"{OUT}/report"),
    params:
        report=program("zirk-report"),
        null=lambda wildcards, input: " ".join(
            f"--null {shlex.quote(path)}" for path in input.null
        ),
        fdr=config["fdr"],
    shell:
        "{params.report} --data {DATA:q} --fdr {params.fdr} {params.null}"
        " --out {output[0]:q} {input.real:q}"
