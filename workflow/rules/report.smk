# Shards merged into one summary per run and program (and the real run's
# rows into one result file), then the report of the real run against the
# permuted ones.


rule merge_summaries:
    input:
        lambda wildcards: shard_summaries(wildcards.run, wildcards.kind)(wildcards),
    output:
        f"{OUT}/summaries/{{run}}.{{kind}}",
    wildcard_constraints:
        kind="sum|corr[.]sum",
    params:
        report=program("zirk-report"),
        max_hits=lambda wildcards: candidates_kept(wildcards.run),
    shell:
        "{params.report} --summary {output:q} --max-hits {params.max_hits}"
        " {input:q}"


def shard_rows(wildcards):
    return [f"{OUT}/runs/real/{k}.rows.zst" for k in shard_ids()]


rule merge_rows:
    input:
        shard_rows,
    output:
        f"{OUT}/results.txt.zst",
    params:
        # The shards' files are OUT/runs/real/SHARD.rows.zst (before the
        # import has run, Snakemake shows the checkpoint's files here).
        offsets=lambda wildcards, input: ",".join(
            str(first_snp(os.path.basename(path).split(".")[0]))
            for path in input
            if path.endswith(".rows.zst")
        ),
    shell:
        "{workflow.basedir}/scripts/merge_rows.sh {params.offsets} {output:q} {input:q}"


# zirk's summaries (MC and IT) and zirk-corr's (trend and het), as the
# scores key names them, are inputs and nulls alike; the report tells the
# two kinds apart by their first line.
SUMMARY_KINDS = (["sum"] if IT_SCORES else []) + (["corr.sum"] if CORR_SCORES else [])


rule report:
    input:
        real=[f"{OUT}/summaries/real.{kind}" for kind in SUMMARY_KINDS],
        null=[f"{OUT}/summaries/{run}.{kind}" for run in RUNS[1:] for kind in SUMMARY_KINDS],
        snps=f"{DATA}/snps.tsv",
        genes=f"{DATA}/genes.tsv",
    output:
        directory(f"{OUT}/report"),
    params:
        report=program("zirk-report"),
        null=lambda wildcards, input: " ".join(
            f"--null {shlex.quote(path)}" for path in input.null
        ),
        select=(
            f"--top {config['top']}" if config["top"] else f"--fdr {config['fdr']}"
        ),
        max_hits=config["max_hits"],
        cis_window=config["cis_window"],
        loci=f"--clump-kb {config['clump_kb']} --clump-r2 {config['clump_r2']}"
        f" --plots {config['plots']}",
    shell:
        "{params.report} --data {DATA:q} {params.select} {params.null}"
        " --max-hits {params.max_hits} --cis-window {params.cis_window}"
        " {params.loci} --out {output[0]:q} {input.real:q}"
