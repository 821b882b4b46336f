# Paths, programs and the shard plan shared by the rules.
import os
import shlex
import shutil

OUT = config["outdir"].rstrip("/") or "."
DATA = f"{OUT}/data"
# The families screened: zirk's MC and IT, zirk-corr's trend and het.
IT_SCORES = "it" in config["scores"]
CORR_SCORES = "trend" in config["scores"]
RUNS = ["real"] + [f"perm{p}" for p in range(1, config["permutations"] + 1)]
# Several VCFs, a {chrom} pattern or several regions: one import each, all
# screened and reported as one genome (rules/genome.smk).
GENOME = (
    isinstance(config["vcf"], list)
    or "{chrom}" in config["vcf"]
    or isinstance(config["region"], list)
    or config["region"].endswith((".bed", ".bed.gz"))
)


wildcard_constraints:
    run="real|perm[0-9]+",
    # A shard of the one import, or PART/SHARD of a genome-wide run's import.
    shard="([^/]+/)?[0-9]+",


def program(name):
    """The named ZIRK program: from config bin, the build folder beside this
    workflow's source tree, the prefix it was installed under, or PATH."""
    if config["bin"]:
        path = os.path.join(config["bin"], name)
    else:
        root = os.path.dirname(os.path.abspath(workflow.basedir))
        candidates = [
            os.path.join(root, "build", name),
            os.path.join(root, "build", name.removeprefix("zirk-"), name),
            # An installed workflow lives in PREFIX/share/zirk/workflow.
            os.path.join(root, "..", "..", "bin", name),
        ]
        path = next((p for p in candidates if os.access(p, os.X_OK)), None)
        path = path or shutil.which(name)
    if not path or not os.access(path, os.X_OK):
        raise WorkflowError(
            f"Error: cannot find the program {name}; build ZIRK, install it, "
            "or set the config key bin to its folder"
        )
    return os.path.abspath(path)


def snp_count(part=None):
    """SNPs kept by the importer (known once the import has run)."""
    if part is None:
        checkpoints.import_data.get()
    else:
        checkpoints.import_part.get(part=part)
    with open(f"{import_folder(part)}/snps.tsv") as table:
        return sum(1 for _ in table) - 1


def shard_ids(part=None):
    """The shards of one import; of every import in a genome-wide run, each
    as PART/SHARD."""
    if GENOME and part is None:
        return [shard for p in PARTS for shard in shard_ids(p)]
    size = config["shard_snps"]
    prefix = "" if part is None else f"{part}/"
    return [f"{prefix}{k}" for k in range((snp_count(part) + size - 1) // size)]


def first_snp(shard):
    """Index of a shard's first SNP within its import. Jobs may not ask the
    checkpoint (a cluster job's own Snakemake has not run it), so this
    depends on the shard's number alone."""
    return int(shard.rsplit("/", 1)[-1]) * config["shard_snps"]


def import_folder(part):
    """The folder zirk-import wrote: DATA, or a genome-wide run's import."""
    return DATA if part is None else f"{OUT}/imports/{part}"


def shard_import(shard):
    return import_folder(shard.split("/")[0] if "/" in shard else None)


def candidates_kept(run):
    """Candidate hit rows a summary keeps: the report lists rows of the real
    run only, so a permuted run's summaries need none."""
    return config["max_hits"] if run == "real" else 0


def expression_file(run):
    return f"{DATA}/expr.txt" if run == "real" else f"{DATA}/expr.{run}.txt"


def shard_summaries(run, kind="sum"):
    """The shards' summaries of a run: of zirk's rows (sum) or of zirk-corr's
    (corr.sum)."""

    def inputs(wildcards):
        return [f"{OUT}/runs/{run}/{k}.{kind}" for k in shard_ids()]

    return inputs


def final_outputs(wildcards):
    outputs = [f"{OUT}/report"]
    if config["keep_rows"]:
        outputs.append(f"{OUT}/results.txt.zst")
    return outputs
