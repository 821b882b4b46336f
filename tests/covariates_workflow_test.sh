#!/usr/bin/env bash
# Genotype PCs in the workflow: join_covariates.sh on small files, word for
# word (sample order of the covariate file, plink2's FID column, a sample
# plink2 did not see, and its errors), then the workflow on a region of the
# real example with its covariate file and three PCs, up to the imported
# folder: plink2 must have worked on the region's SNPs and the VCF's samples,
# and the importer must have used the 53 covariates and the 3 PCs.
#
#   covariates_workflow_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(realpath "$1")
source=$(realpath "$2")
work=$build/workflow-test/genotype_pcs
rm -rf "$work"
mkdir -p "$work"
cd "$work"
join=$source/workflow/scripts/join_covariates.sh

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

printf '#FID\tIID\tPC1\tPC2\nf1\tB\t0.5\t-1\nf2\tA\t0.25\t2\n' >ev.txt
printf 'id A C B\nsex M F M\r\n\nage 30 NA 41\n' | gzip >cov.txt.gz
expected=$'id\tA\tC\tB\nsex\tM\tF\tM\nage\t30\tNA\t41\ngenotype_PC1\t0.25\tNA\t0.5\ngenotype_PC2\t2\tNA\t-1'
[[ $("$join" ev.txt cov.txt.gz) == "$expected" ]] || fail "joined file differs"
printf '#IID\tPC1\nB\t0.5\nA\t0.25\n' >iid.txt
[[ $("$join" iid.txt) == $'id\tB\tA\ngenotype_PC1\t0.5\t0.25' ]] ||
  fail "PCs alone differ"
printf 'sample\tPC1\nA\t1\n' >noiid.txt
for c in "noiid.txt:noiid.txt: no IID column in the header" \
  "none.txt:none.txt: cannot open"; do
  status=0
  err=$("$join" "${c%%:*}" 2>&1 >/dev/null) || status=$?
  [[ $status == 1 && $err == "Error: ${c#*:}" ]] || fail "${c%%:*}: $status $err"
done

data=$build/example-data
"$source/tools/example-data.sh" "$data" >/dev/null
zcat "$data/genes.50percent.chr22.bed.gz" | awk 'NR > 1 && NR <= 13 { print $4 }' >genes.txt
out=$work/out
snakemake -s "$source/workflow/Snakefile" --profile "$source/workflow/profiles/local" \
  --cores 2 --config vcf="$data/genotypes.chr22.vcf.gz" \
  expression="$data/genes.50percent.chr22.bed.gz" region=chr22:20100000-20200000 \
  genes="$work/genes.txt" pseudocount=0.01 genotype_pcs=3 \
  covariates="$data/genes.covariates.pc50.txt.gz" outdir="$out" \
  -- "$out/data/expr.txt" >snakemake.log 2>&1 || { cat snakemake.log; fail "workflow"; }

# Every pruned SNP lies in the region; the PCs cover the VCF's samples.
awk -F: '($1 != "22" && $1 != "chr22") || $2 < 20100000 || $2 > 20200000 { bad = 1 }
  END { exit bad || NR < 10 }' "$out/covariates/genotype.prune.in" ||
  fail "pruned SNPs outside the region"
[[ $(tail -n +2 "$out/covariates/genotype.eigenvec" | cut -f1) == \
  $(bcftools query -l "$data/genotypes.chr22.vcf.gz") ]] || fail "PC samples"
used=$(tr -d ' \n' <"$out/data/import.json" |
  grep -o '"used":\[[^]]*\]' | tr ',' '\n' | wc -l)
((used == 56)) || fail "$used covariate columns used, not 56"
grep -q '"genotype_PC3"' "$out/data/import.json" || fail "genotype_PC3 unused"
echo "genotype PCs: passed"
