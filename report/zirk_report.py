#!/usr/bin/python3
"""Figures and the one-page HTML report of zirk-report.

zirk-report writes hits.tsv, summary.json and plot-data.json into a folder
and calls this script with that folder; the script draws the QQ plots (of the
trend and het families too, when zirk-corr's rows were given) and the best
IT p-value per SNP (PNG and SVG) and writes report.html with everything
embedded. Output depends on nothing but those three files: SVG ids are salted
with a fixed string and no dates are written, so equal inputs give equal bytes.
"""

import base64
import html
import json
import os
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

matplotlib.rcParams["svg.hashsalt"] = "zirk-report"
matplotlib.rcParams["path.simplify"] = False

PNG_META = {"Software": "zirk-report"}
SVG_META = {"Date": None, "Creator": "zirk-report"}
HTML_HITS = 100
SELECTION = {"bh_q": "BH q-value", "empirical_fdr": "empirical FDR"}
FAMILY_LABELS = {"it": "IT", "trend": "trend", "het": "het"}


def save(fig, folder, stem):
    fig.savefig(os.path.join(folder, stem + ".png"), dpi=110, metadata=PNG_META)
    fig.savefig(os.path.join(folder, stem + ".svg"), metadata=SVG_META)
    plt.close(fig)


def qq(folder, data, stem, title):
    fig, ax = plt.subplots(figsize=(5.5, 5.5))
    real = data["real"]
    right = max(real["band_x"] + real["x"] + [1.0]) * 1.05
    if real["band_x"]:
        ax.fill_between(real["band_x"], real["band_lo"], real["band_hi"],
                        color="0.85", label="95 % band (uniform)")
    ax.plot([0, right], [0, right], color="0.3", linewidth=0.8, label="y = x")
    for k, null in enumerate(data["nulls"]):
        ax.plot(null["x"], null["y"], ".", markersize=2, color="0.55",
                label="permuted runs" if k == 0 else None)
    ax.plot(real["x"], real["y"], ".", markersize=3, color="#1f5fa8",
            label="this run")
    ax.set_xlabel("expected −log10 p")
    ax.set_ylabel("observed −log10 p")
    note = f"{real['n']:,} rows"
    if real["zeros"]:
        note += f"; {real['zeros']:,} with p = 0 not drawn"
    ax.set_title(f"{title}\n{note}", fontsize=10)
    ax.set_xlim(0, right)
    ax.legend(loc="lower right", fontsize=8, frameon=False)
    fig.tight_layout()
    save(fig, folder, stem)


def manhattan(folder, data, family):
    fig, ax = plt.subplots(figsize=(10, 3.6))
    points = data["points"]
    if data["by_position"]:
        chroms = data["chroms"]
        low, high = [None] * len(chroms), [0] * len(chroms)
        for c, pos, _ in points:
            low[c] = pos if low[c] is None else min(low[c], pos)
            high[c] = max(high[c], pos)
        if len(chroms) == 1:
            xs = [pos / 1e6 for _, pos, _ in points]
            colours = "#1f5fa8"
            ax.set_xlabel(f"position on {chroms[0]} (Mb)")
        else:
            # Each chromosome from its first SNP to its last, side by side:
            # a run over a few regions stays readable, a whole genome is
            # drawn at its true proportions.
            spans = [0 if l is None else h - l for l, h in zip(low, high)]
            gap = max(1, sum(spans) // 50)
            start, total = [], 0
            for c, span in enumerate(spans):
                start.append(total - (low[c] or 0))
                total += span + gap
            xs = [start[c] + pos for c, pos, _ in points]
            colours = ["#1f5fa8" if c % 2 == 0 else "#7fa7d6"
                       for c, _, _ in points]
            shown = [c for c in range(len(chroms)) if low[c] is not None]
            ax.set_xticks([start[c] + (low[c] + high[c]) / 2 for c in shown])
            ax.set_xticklabels([chroms[c] for c in shown],
                               fontsize=9 if len(shown) <= 12 else 7)
            ax.set_xlabel("chromosome")
    else:
        xs = [pos for _, pos, _ in points]
        colours = "#1f5fa8"
        ax.set_xlabel("SNP index")
    size = 14 if len(points) < 5000 else 4
    ax.scatter(xs, [y for _, _, y in points], s=size, c=colours, linewidths=0)
    label = FAMILY_LABELS[family]
    ax.set_ylabel(f"best −log10 p({label}) of the SNP")
    ax.set_ylim(bottom=0)
    note = f"{data['snps']:,} SNPs"
    if data["shown"] < data["snps"]:
        note += f", {data['shown']:,} drawn"
    if data["zeros"]:
        note += f"; {data['zeros']:,} with p = 0 not drawn"
    ax.set_title(f"Manhattan plot: best {label} p-value per SNP ({note})",
                 fontsize=10)
    fig.tight_layout()
    save(fig, folder, f"snp_best_{family}")


NOTES = [
    ("The IT p-value is the test to read.",
     "A small IT p-value says that the product of the two genes' log values "
     "predicts the SNP's genotype class beyond what the two values predict "
     "on their own."),
    ("The MC p-value is a screen.",
     "It has no small-sample correction and assumes normal log expression; "
     "real data are heavier-tailed, so it is liberal. Its lambda above 1 is "
     "expected and says how liberal; use it to choose what to look at, not "
     "as evidence."),
    ("q-values assume calibrated p-values.",
     "The IT test ran only on pairs the MC screen selected on the same data, "
     "so the nominal IT p-values of those pairs are not what the "
     "Benjamini-Hochberg q-value assumes. The empirical FDR from permuted "
     "runs, when present, is the number to trust; rows are selected by it "
     "only when the run's best row also beats the permuted runs' best "
     "rows, which takes at least 19 permutations at an FDR of 0.05."),
    ("Tiny genotype classes.",
     "A class of one individual gives the fixed MC p-value 2.0, an empty class "
     "the fixed 1.0; a class of two has a singular covariance and can give a "
     "tiny MC p-value that means nothing. Hits at SNPs with a class below 5 "
     "members are marked."),
    ("The LDA value",
     "is -9999 when the pooled covariance is singular (for example a gene "
     "with the same value in every individual)."),
    ("Trend and het ask whether the SNP changes co-expression.",
     "r0, r1, r2 are the two genes' rank correlations within each genotype "
     "class (0: two copies of the reference allele). trend tests a steady "
     "change of the correlation with the allele dosage, het any difference "
     "between the classes. Working within classes keeps both blind to a "
     "SNP's effect on either gene's mean or spread."),
    ("The diagnosis of every hit.",
     "For each gene alone, the p-value of the SNP's effect on its mean "
     "(ANOVA of its log values on the class) and on its variance "
     "(Brown-Forsythe). single_gene_stronger says yes, naming the test, "
     "when the smallest of these four p-values is below the pair's p-value "
     "in the family that made the hit: then one gene's own effect may be "
     "all the pair shows, above all for IT hits, which a variance QTL of "
     "one gene produces at many of its pairs."),
]
FAMILY_NAMES = {"trend": "trend (dosage change of the correlation)",
                "het": "het (any difference between the classes)"}


def embed(folder, stem, alt):
    with open(os.path.join(folder, stem + ".png"), "rb") as f:
        data = base64.b64encode(f.read()).decode("ascii")
    return (f'<figure><img class="figure" alt="{html.escape(alt)}" '
            f'src="data:image/png;base64,{data}"><figcaption>'
            f'{html.escape(alt)} (also <code>{stem}.svg</code>)</figcaption>'
            f'</figure>')


def page(folder):
    with open(os.path.join(folder, "summary.json")) as f:
        summary = json.load(f)
    with open(os.path.join(folder, "hits.tsv")) as f:
        lines = f.read().splitlines()
    header = lines[0].split("\t")
    rows = [line.split("\t") for line in lines[1:]]
    shown = ["family", "snp", "snp_id", "chrom", "pos", "filled",
             "small_class", "gene1_id", "gene1_distance", "gene2_id",
             "gene2_distance", "context", "log10_p_mc", "log10_p_it",
             "log10_p_trend", "log10_p_het", "q_bh", "empirical_fdr",
             "snp_permutation_p",
             "r0", "r1", "r2", "gene1_log10_p_mean", "gene1_log10_p_var",
             "gene2_log10_p_mean", "gene2_log10_p_var",
             "single_gene_stronger"]
    cols = [header.index(c) for c in shown if c in header]

    lam = summary["lambda_mc"]
    sel = summary["selection"]
    facts = [
        ("Rows (family size m)", f"{summary['family_size']:,}"),
        ("Rows by flag (0 / 2 / 1)",
         f"{summary['rows_per_flag']['0']:,} / {summary['rows_per_flag']['2']:,}"
         f" / {summary['rows_per_flag']['1']:,}"),
        ("Threshold line", summary["inputs"]["threshold"]),
        ("Hits", f"{summary['hits']:,} ("
         + (f"top {sel['top']}" if sel["by"] == "top"
            else f"{SELECTION[sel['by']]} ≤ {sel['fdr']}") + ")"),
        ("Hits by context (SNP within "
         f"{summary['hit_context']['window']:,} bp of a gene's start)",
         f"cis {summary['hit_context']['cis']:,} / trans "
         f"{summary['hit_context']['trans']:,} / unknown "
         f"{summary['hit_context']['unknown']:,}"),
        ("λ of the MC statistic",
         "–" if lam["value"] is None else f"{lam['value']:.4g}"
         f" over {lam['rows']:,} rows"),
        ("Passed-MC rows at SNPs with a class below 5",
         "no data folder" if summary["passed_mc_rows_at_small_class_snps"] is None
         else f"{summary['passed_mc_rows_at_small_class_snps']:,}"),
    ]
    if "permutations" in summary:
        perm = summary["permutations"]
        facts.append(("Permuted runs (λ of each)",
                      f"{perm['runs']}: " + ", ".join(
                          "–" if v is None else f"{v:.4g}"
                          for v in perm["lambda_mc"])))
        facts.append(("Permutation p-value of the best row",
                      f"{perm['best_row_permutation_p']:.4g} (hits by "
                      "empirical FDR need it at or below the FDR level)"))
    for name, fam in summary.get("families", {}).items():
        text = (f"{fam['hits']:,} hits; {fam['family_size']:,} rows, "
                f"{fam['undefined_rows']:,} without a value")
        if "best_row_permutation_p" in fam:
            text += (f"; permutation p-value of the best row "
                     f"{fam['best_row_permutation_p']:.4g}")
        facts.append((f"Family {FAMILY_NAMES[name]}", text))
    facts.append(("Diagnosis of the hits",
                  "from the data folder's values" if summary["diagnosis"]
                  else "not computed (no data folder with values)"))
    out = ["<!DOCTYPE html>", '<html lang="en"><head><meta charset="utf-8">',
           "<title>ZIRK report</title><style>",
           "body{font-family:sans-serif;max-width:70em;margin:1em auto;"
           "padding:0 1em;color:#222}",
           "table{border-collapse:collapse;font-size:0.85em}",
           "td,th{border:1px solid #ccc;padding:2px 6px;text-align:left}",
           "th{background:#eef}figure{display:inline-block;margin:0.5em}",
           "img.figure{max-width:100%}figcaption{font-size:0.8em;color:#555}",
           ".warning{background:#fff3cd;border:1px solid #e0c060;"
           "padding:0.5em}",
           "</style></head><body>", "<h1>ZIRK report</h1>"]
    if summary["hits_qualifying"] > summary["hits"]:
        out.append('<p class="warning" id="max-hits">Warning: '
                   f"{summary['hits_qualifying']:,} rows qualify as hits; "
                   f"this report lists the strongest {summary['hits']:,} "
                   "(--max-hits).</p>")
    for name, fam in summary.get("families", {}).items():
        if fam["hits_qualifying"] > fam["hits"]:
            out.append(f'<p class="warning" id="max-hits-{name}">Warning: '
                       f"{fam['hits_qualifying']:,} {name} rows qualify as "
                       f"hits; this report lists the strongest "
                       f"{fam['hits']:,} (--max-hits).</p>")
    out += ["<h2>Summary</h2>", '<table id="summary">']
    for name, value in facts:
        out.append(f"<tr><th>{html.escape(name)}</th>"
                   f"<td>{html.escape(value)}</td></tr>")
    out.append("</table>")
    out.append("<h2>Figures</h2>")
    out.append(embed(folder, "qq_it", "QQ plot of the IT p-values"))
    for name in summary.get("families", {}):
        out.append(embed(folder, f"qq_{name}",
                         f"QQ plot of the {name} p-values"))
    out.append(embed(folder, "qq_mc", "QQ plot of the MC p-values"))
    out.append(embed(folder, "snp_best_it",
                     "Manhattan plot of the best IT p-value per SNP"))
    for name in summary.get("families", {}):
        out.append(embed(folder, f"snp_best_{name}",
                         f"Manhattan plot of the best {name} p-value per SNP"))
    # The first rows of each family, so that one family's many hits do not
    # hide another's.
    family = header.index("family")
    top = [r for f in ("it", "trend", "het")
           for r in [r for r in rows if r[family] == f][:HTML_HITS]]
    out.append(f"<h2>Top hits</h2><p>{len(top)} of {len(rows):,} rows of "
               f"<code>hits.tsv</code> (at most {HTML_HITS} of each "
               "family).</p>")
    out.append('<table id="hits"><tr>'
               + "".join(f"<th>{html.escape(header[c])}</th>" for c in cols)
               + "</tr>")
    for row in top:
        out.append('<tr class="hit">'
                   + "".join(f"<td>{html.escape(row[c])}</td>" for c in cols)
                   + "</tr>")
    out.append("</table><h2>Reading the scores</h2><ul>")
    for head, text in NOTES:
        out.append(f"<li><b>{html.escape(head)}</b> {html.escape(text)}</li>")
    out.append("</ul>")
    # Marks the page for automated checks when it has loaded: by then every
    # image has decoded its size or failed, so the mark never waits on timing.
    out.append("<script>addEventListener('load', () => {"
               " document.body.dataset.figures = Array.from(document.images)"
               ".every(i => i.complete && i.naturalWidth > 0)"
               " ? 'decoded' : 'broken'; });</script>")
    out.append("</body></html>")
    with open(os.path.join(folder, "report.html"), "w", encoding="utf-8") as f:
        f.write("\n".join(out) + "\n")


def main():
    folder = sys.argv[1]
    with open(os.path.join(folder, "plot-data.json")) as f:
        plots = json.load(f)
    qq(folder, plots["qq_it"], "qq_it", "QQ plot of the IT p-values (flag 1 rows)")
    for name in ("trend", "het"):
        if f"qq_{name}" in plots:
            qq(folder, plots[f"qq_{name}"], f"qq_{name}",
               f"QQ plot of the {name} p-values (rows with a value)")
    qq(folder, plots["qq_mc"], "qq_mc", "QQ plot of the MC p-values")
    manhattan(folder, plots["manhattan"], "it")
    for family in ("trend", "het"):
        if f"manhattan_{family}" in plots:
            manhattan(folder, plots[f"manhattan_{family}"], family)
    page(folder)


if __name__ == "__main__":
    main()
