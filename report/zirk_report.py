#!/usr/bin/python3
"""Figures and the one-page HTML report of zirk-report.

zirk-report writes hits.tsv, loci.tsv (when the hits were clumped),
summary.json and plot-data.json into a folder and calls this script with that
folder; the script draws the QQ plots (of the trend and het families too,
when zirk-corr's rows were given), the best p-value per SNP and a figure of
each family's best loci (PNG and SVG) and writes report.html with everything
embedded. Output depends on nothing but those files: SVG ids are salted with
a fixed string and no dates are written, so equal inputs give equal bytes.
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


CLASS_COLOURS = ["#1f5fa8", "#d9822b", "#3a9a4a"]


def class_names(locus):
    """Genotype class k as alleles: k copies of the alternative allele."""
    ref, alt = locus["ref"], locus["alt"]
    if ref in ("", "NA") or alt in ("", "NA"):
        return ["class 0", "class 1", "class 2"]
    return [f"{ref}/{ref}", f"{ref}/{alt}", f"{alt}/{alt}"]


def class_points(locus, key, k):
    return [v for c, v in zip(locus["class"], locus[key])
            if c == k and v is not None]


# Marker shapes of the strata in the pair panel, and the same shapes as
# characters for the table's row labels.
STRATUM_MARKERS = ["o", "^", "s", "D", "v", "P", "X", "*"]
STRATUM_SYMBOLS = ["●", "▲", "■", "◆", "▼", "✚", "✖", "★"]


def correlation_text(r):
    return "NA" if r is None else f"{r:.2f}"


def pair_panel(ax, locus, names):
    """The two genes' values against each other, a colour, a least-squares
    line and the size and rank correlation of each genotype class; smaller
    classes are drawn over larger ones so that their few points stay seen.
    With strata each stratum has a marker shape of its own."""
    by_size = sorted(range(3), key=lambda k: -locus["classes"][k]["n"])
    strata = locus.get("strata") or [None]
    stratum = locus.get("stratum") or [0] * len(locus["class"])
    for k, cls in enumerate(locus["classes"]):
        layer = 2 + by_size.index(k)
        label = (f"{names[k]}: n = {cls['n']}, "
                 f"r = {correlation_text(cls['r'])}")
        for s in range(len(strata)):
            pairs = [(x, y) for c, t, x, y in zip(locus["class"], stratum,
                                                  locus["x"], locus["y"])
                     if c == k and t == s and x is not None and y is not None]
            ax.scatter([p[0] for p in pairs], [p[1] for p in pairs], s=12,
                       color=CLASS_COLOURS[k], alpha=0.75, linewidths=0,
                       marker=STRATUM_MARKERS[s % len(STRATUM_MARKERS)],
                       label=label if s == 0 else None, zorder=layer)
        if cls["line"] is not None:
            x0, x1, y0, y1 = cls["line"]
            ax.plot([x0, x1], [y0, y1], color=CLASS_COLOURS[k], linewidth=1.6,
                    zorder=layer + 3)
    ax.set_xlabel(f"{locus['gene1_id']} (log10 value)")
    ax.set_ylabel(f"{locus['gene2_id']} (log10 value)")
    title = ("class: n, rank r (pooled over strata)" if locus.get("strata")
             else "class: n, rank r")
    ax.legend(fontsize=8, frameon=False, loc="best", title=title,
              title_fontsize=8)


def strata_table(ax, locus, names):
    """Each stratum's marker, and its classes' sizes and rank correlations:
    the cells zirk-corr's stratified scores are made of (NA: a cell too
    small, or a gene without spread in it)."""
    ax.axis("off")
    strata = locus["strata"]
    cells = [[f"n = {n}, r = {correlation_text(r)}"
              for n, r in zip(st["n"], st["r"])] for st in strata]
    rows = [f"{STRATUM_SYMBOLS[s % len(STRATUM_SYMBOLS)]} {st['name']}"
            for s, st in enumerate(strata)]
    table = ax.table(cellText=cells, rowLabels=rows, colLabels=names,
                     colColours=[c + "40" for c in CLASS_COLOURS],
                     loc="center", cellLoc="center")
    table.auto_set_font_size(False)
    table.set_fontsize(8)
    ax.set_title("within each stratum", fontsize=9)


def class_panel(ax, locus, key, gene, names):
    """One gene's values by genotype class: a box and the individuals, spread
    sideways by a fixed sequence so that equal inputs draw equal figures."""
    for k in range(3):
        values = class_points(locus, key, k)
        if not values:
            continue
        ax.boxplot([values], positions=[k], widths=0.6, showfliers=False,
                   medianprops={"color": "0.2"})
        offsets = [((i * 0.6180339887) % 1 - 0.5) * 0.45
                   for i in range(len(values))]
        ax.scatter([k + o for o in offsets], values, s=6, alpha=0.6,
                   color=CLASS_COLOURS[k], linewidths=0)
    ax.set_xticks(range(3))
    ax.set_xticklabels(names, fontsize=8)
    ax.set_xlim(-0.6, 2.6)
    ax.set_title(gene, fontsize=9)
    ax.set_ylabel("log10 value")


def locus_figure(folder, locus):
    names = class_names(locus)
    strata = locus.get("strata")
    table = 0.3 * (len(strata) + 2) if strata else 0
    fig = plt.figure(figsize=(11.5, 4.2 + table))
    grid = fig.add_gridspec(2 if strata else 1, 3, width_ratios=[2.2, 1, 1],
                            height_ratios=[4.2, table] if strata else None)
    axes = [fig.add_subplot(grid[0, c]) for c in range(3)]
    pair_panel(axes[0], locus, names)
    if strata:
        strata_table(fig.add_subplot(grid[1, :]), locus, names)
    class_panel(axes[1], locus, "x", locus["gene1_id"], names)
    class_panel(axes[2], locus, "y", locus["gene2_id"], names)
    where = (f"{locus['chrom']}:{locus['pos']}"
             if locus["pos"] not in ("", "NA") else "position unknown")
    fig.suptitle(
        f"Locus {locus['locus']}: {locus['snp_id']} ({where}), "
        f"{locus['gene1_id']} × {locus['gene2_id']}; "
        f"{FAMILY_LABELS[locus['family']]} log10 p = {locus['log10_p']}; "
        f"{locus['snps']} SNP{'s' if locus['snps'] != 1 else ''} in the locus",
        fontsize=10)
    fig.tight_layout()
    save(fig, folder, f"locus_{locus['locus']}")


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
NOTES.append(
    ("A locus is one signal.",
     "SNPs in linkage disequilibrium carry the same signal, so one locus "
     "gives many rows. Its figure is the evidence to judge: a real "
     "co-expression QTL shows the genotype classes' lines at different "
     "slopes with enough individuals in each class, and no class apart "
     "from the others in the side panels. Lines of similar slope with "
     "shifted boxes point to an effect on one gene alone; a small class "
     "with a steep line rests on a few individuals."))
FAMILY_NAMES = {"trend": "trend (dosage change of the correlation)",
                "het": "het (any difference between the classes)"}


def embed(folder, stem, alt):
    with open(os.path.join(folder, stem + ".png"), "rb") as f:
        data = base64.b64encode(f.read()).decode("ascii")
    return (f'<figure><img class="figure" alt="{html.escape(alt)}" '
            f'src="data:image/png;base64,{data}"><figcaption>'
            f'{html.escape(alt)} (also <code>{stem}.svg</code>)</figcaption>'
            f'</figure>')


def hit_rows(header, rows, cols):
    return ("<table><tr>"
            + "".join(f"<th>{html.escape(header[c])}</th>" for c in cols)
            + "</tr>"
            + "".join('<tr class="hit">'
                      + "".join(f"<td>{html.escape(row[c])}</td>" for c in cols)
                      + "</tr>" for row in rows)
            + "</table>")


def top_hits(header, rows, cols):
    """The first rows of each family, so that one family's many hits do not
    hide another's; for hits that were not clumped."""
    family = header.index("family")
    top = [r for f in FAMILY_LABELS
           for r in [r for r in rows if r[family] == f][:HTML_HITS]]
    return [f"<h2>Top hits</h2><p>{len(top)} of {len(rows):,} rows of "
            f"<code>hits.tsv</code> (at most {HTML_HITS} of each family; "
            "no loci: they need the data folder's genotypes).</p>",
            '<div id="hits">' + hit_rows(header, top, cols)
            + "</div>"]


def loci_section(folder, summary, header, rows, cols, drawn):
    """Each family's loci from the strongest down, each with its figure when
    drawn and its rows of hits.tsv behind it."""
    with open(os.path.join(folder, "loci.tsv")) as f:
        lines = f.read().splitlines()
    locus_header = lines[0].split("\t")
    loci = [line.split("\t") for line in lines[1:]]
    family = locus_header.index("family")
    at = header.index("locus")
    members = {}
    for row in rows:
        members.setdefault(row[at], []).append(row)
    clumping = summary["loci"]
    out = ["<h2>Loci</h2>",
           f"<p>The hits of one gene pair within {clumping['clump_kb']:,} kb "
           "of a stronger hit of the same pair and family, on its chromosome, "
           f"whose SNPs have r² ≥ {clumping['clump_r2']} with its SNP, are "
           "one locus, led by its strongest hit (<code>loci.tsv</code>; "
           "the column <code>locus</code> of <code>hits.tsv</code>). The "
           f"best loci of each family ({clumping['figures']} in all) have a "
           "figure: the two genes' log10 values by genotype class with each "
           "class's "
           "least-squares line, size and rank correlation, and each gene's "
           "values by class.</p>"]
    for name in clumping["families"]:
        of_family = [locus for locus in loci if locus[family] == name]
        out.append(f"<h3>{html.escape(FAMILY_LABELS[name])}: "
                   f"{len(of_family):,} loci</h3>")
        if not of_family:
            continue
        if len(of_family) > HTML_HITS:
            out.append(f"<p>The first {HTML_HITS} are listed here.</p>")
        out.append(f'<table class="loci" id="loci-{name}"><tr>'
                   + "".join(f"<th>{html.escape(c)}</th>"
                             for c in locus_header) + "</tr>")
        for locus in of_family[:HTML_HITS]:
            number = locus[0]
            out.append(f'<tr class="locus" id="locus-{number}">'
                       + "".join(f"<td>{html.escape(v)}</td>" for v in locus)
                       + "</tr>")
            cell = ""
            if number in drawn:
                cell += embed(folder, f"locus_{number}",
                              f"Locus {number}: the two genes by genotype "
                              "class")
            rows_here = members[number]
            more = (f", the first {HTML_HITS} shown"
                    if len(rows_here) > HTML_HITS else "")
            cell += (f"<details><summary>{len(rows_here):,} "
                     f"row{'s' if len(rows_here) != 1 else ''} of hits.tsv"
                     f"{more}</summary>"
                     + hit_rows(header, rows_here[:HTML_HITS], cols)
                     + "</details>")
            out.append(f'<tr class="locus-rows"><td colspan="'
                       f'{len(locus_header)}">{cell}</td></tr>')
        out.append("</table>")
    return out


def page(folder, drawn):
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
             "single_gene_stronger", "locus"]
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
    clumping = summary["loci"]
    facts.append(("Loci (clumped hits)",
                  "not formed (no data folder with genotypes)"
                  if clumping is None else
                  " / ".join(f"{FAMILY_LABELS[name]} {n:,}"
                             for name, n in clumping["families"].items())
                  + f" (within {clumping['clump_kb']:,} kb, r² ≥ "
                  f"{clumping['clump_r2']}; {clumping['figures']} drawn)"))
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
    if summary["loci"] is None:
        out += top_hits(header, rows, cols)
    else:
        out += loci_section(folder, summary, header, rows, cols, drawn)
    out.append("<h2>Reading the scores</h2><ul>")
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
    for locus in plots["loci"]:
        locus_figure(folder, locus)
    page(folder, {str(locus["locus"]) for locus in plots["loci"]})


if __name__ == "__main__":
    main()
