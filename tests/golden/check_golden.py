#!/usr/bin/env python3
"""Recomputes the result file and standard output of a zirk run from its
three input files, independently of the C++ code, with the standard library
only (the formulas: tests/golden/README.md).

    check_golden.py GENOTYPE EXPRESSION ALLELE THRESHOLD RESULT_OUT STDOUT_OUT

The floating-point operations come in the program's order, so that the
printed six decimals compare byte for byte. Every decision of the cascade
(threshold, LDA bound, the fit's determinant and step tests) must lie
farther than MARGIN from its boundary, and no MC tail may be subnormal, so
that last-bit rounding differences cannot flip it; the script fails loudly
otherwise.
"""

import math
import sys

LN_1E15 = math.log(1e-15)
LDA_BOUND = math.log(1e-10)
MARGIN = 1e-7  # relative distance kept from every decision boundary


class TooClose(Exception):
    pass


def near(value, bound, what):
    if math.isfinite(value) and math.isfinite(bound):
        scale = max(abs(value), abs(bound), 1e-300)
        if abs(value - bound) <= MARGIN * scale:
            raise TooClose("%s: %r is too close to %r" % (what, value, bound))


def div(a, b):
    """IEEE division: x/0 is +-inf, 0/0 and nan/0 are nan."""
    if b == 0.0:
        if a == 0.0 or math.isnan(a):
            return math.nan
        return math.copysign(math.inf, a) * math.copysign(1.0, b)
    return a / b


def _logarithm(x, log):
    """The C library's answer: NaN below 0, minus infinity at 0."""
    if math.isnan(x) or x < 0:
        return math.nan
    if x == 0:
        return -math.inf
    return log(x)


def ln(x):
    return _logarithm(x, math.log)


def log10(x):
    return _logarithm(x, math.log10)


def exp(x):
    if math.isnan(x):
        return x
    return math.exp(x) if x < 709.0 else math.inf


def sq(x):
    return x * x


# ---------------------------------------------------------------- inputs


def read_inputs(gfile, efile, afile):
    glines = open(gfile).read().split("\n")
    if glines[-1] == "":
        glines.pop()
    first = glines[0].rstrip("\r")
    ps = (len(first) + 2) // 4
    n = len(glines)
    gmat = [[line[4 * j + k] for j in range(ps) for k in (0, 2)]
            for line in glines]
    elines = open(efile).read().split("\n")
    if elines[-1] == "":
        elines.pop()
    ngene = len(elines)
    values = [float(v) for v in open(efile).read().split()]
    assert len(values) == n * ngene, "expression file does not fit"
    emat = [[values[g * n + i] for g in range(ngene)] for i in range(n)]
    alleles = [line[0] for line in open(afile).read().split("\n")[:ps]]
    return n, ps, ngene, gmat, emat, alleles


def gene_moments(emat, n, ngene):
    N = float(n)
    mom = []
    for g in range(ngene):
        m0 = m1 = 0.0
        for i in range(n):
            l = log10(emat[i][g])
            m0 = m0 + l / N
            m1 = m1 + (l * l) / N
        mom.append((m0, m1))
    return mom


def pair_matrices(emat, gmat, s, g1, g2, ref, n):
    x, y = [], []
    for i in range(n):
        a1, a2 = gmat[i][2 * s], gmat[i][2 * s + 1]
        if a1 == ref:
            y.append((1, 0) if a2 == ref else (0, 1))
        else:
            y.append((0, 1) if a2 == ref else (0, 0))
        x.append((log10(emat[i][g1]), log10(emat[i][g2])))
    return x, y


def klass(row):
    return 0 if row[0] else (1 if row[1] else 2)


# ---------------------------------------------------------------- MC


def summaries(x, y, mom, g1, g2, n):
    nvec = [0.0, 0.0, 0.0]
    summ = [[0.0] * 4 for _ in range(3)]
    cov = [[0.0] * 3 for _ in range(4)]
    for (x0, x1), row in zip(x, y):
        k = klass(row)
        if k < 2:
            nvec[k] += 1.0
        summ[k][0] += x0
        summ[k][1] += x1
        summ[k][2] += x0 * x0
        summ[k][3] += x1 * x1
        cov[k][2] += x0 * x1
        cov[3][2] += x0 * x1
    nvec[2] = (float(n) - nvec[0]) - nvec[1]
    for k in range(3):
        c = nvec[k]
        cov[k][0] = div(summ[k][2], c) - sq(div(summ[k][0], c))
        cov[k][1] = div(summ[k][3], c) - sq(div(summ[k][1], c))
        cov[k][2] = div(cov[k][2], c)
        cov[k][2] = cov[k][2] - div(div(summ[k][0], c) * summ[k][1], c)
    a, b = mom[g1], mom[g2]
    cov[3][0] = a[1] - a[0] * a[0]
    cov[3][1] = b[1] - b[0] * b[0]
    cov[3][2] = cov[3][2] / float(n) - a[0] * b[0]
    return nvec, summ, cov


def chi2_10_tail(s):
    x = s * 0.5
    poly = 1.0 + x + x * x / 2.0 + x ** 3 / 6.0 + x ** 4 / 24.0
    logp = -x + math.log(poly)
    # Below e^-708.4 the tail is subnormal and the closed form cannot say
    # to the last bit what the extended-precision routine rounds to.
    if -745.2 < logp < -708.3:
        raise TooClose("MC statistic %r gives a subnormal p-value" % s)
    return math.exp(logp) if logp > -745.2 else 0.0


def mc_test(x, y, mom, g1, g2, n):
    nvec, summ, cov = summaries(x, y, mom, g1, g2, n)

    def det(r):
        return cov[r][0] * cov[r][1] - cov[r][2] * cov[r][2]

    s = ln(det(3)) * float(n)
    for k in range(3):
        s = s - nvec[k] * ln(det(k))
    if s > 9999.9:
        return 2.0, nvec, summ, cov
    if not s > 0:
        return 1.0, nvec, summ, cov
    near(s, 9999.9, "MC statistic")
    return chi2_10_tail(s), nvec, summ, cov


# ---------------------------------------------------------------- model


def pimat(X, b, p):
    out = []
    for row in X:
        eta0 = 0.0
        eta1 = 0.0
        for j in range(p):
            eta0 += row[j] * b[j]
        for j in range(p):
            eta1 += row[j] * b[p + j]
        e0 = eta0 if eta0 < 500.0 else 500.0
        e1 = eta1 if eta1 < 500.0 else 500.0
        if math.isfinite(eta0) and eta0 < 500.0:
            near(eta0, 500.0, "exponent cap")
        d = (exp(e0) + 1.0) + exp(e1)
        out.append((exp(e0) / d, exp(e1) / d))
    return out


def loglikelihood(X, y, b):
    p = len(X[0]) if X else 0
    pim = pimat(X, b, p)
    total = 0.0
    for (p0, p1), row in zip(pim, y):
        k = klass(row)
        if k == 0:
            total += math.log(p0) if p0 > 0 else LN_1E15
        elif k == 1:
            total += math.log(p1) if p1 > 0 else LN_1E15
        else:
            t = p0 + p1
            total += math.log((1.0 - p0) - p1) if t < 1.0 else LN_1E15
    return total


def lu_factorize(m):
    """Partial pivoting (first row of largest magnitude); returns the pivot
    rows and whether a zero pivot was met."""
    size = len(m)
    pm = list(range(size))
    singular = False
    for i in range(size):
        piv = i
        for r in range(i + 1, size):
            if abs(m[r][i]) > abs(m[piv][i]):
                piv = r
        if m[piv][i] != 0:
            if piv != i:
                pm[i] = piv
                m[i], m[piv] = m[piv], m[i]
            inv = 1 / m[i][i]
            for r in range(i + 1, size):
                m[r][i] *= inv
        else:
            singular = True
        for r in range(i + 1, size):
            for c in range(i + 1, size):
                m[r][c] -= m[r][i] * m[i][c]
    return pm, singular


def determinant(h):
    m = [row[:] for row in h]
    pm, _ = lu_factorize(m)
    d = 1.0
    for i in range(len(m)):
        d *= m[i][i] if pm[i] == i else -m[i][i]
    return d


def linear_solve(h, g):
    m = [row[:] for row in h]
    pm, singular = lu_factorize(m)
    if singular:
        return None
    x = g[:]
    for i in range(len(x)):
        if pm[i] != i:
            x[i], x[pm[i]] = x[pm[i]], x[i]
    size = len(x)
    for i in range(size):
        for r in range(i + 1, size):
            x[r] -= m[r][i] * x[i]
    for i in reversed(range(size)):
        x[i] /= m[i][i]
        for r in range(i):
            x[r] -= m[r][i] * x[i]
    return x


def newton_raphson(X, y, coef):
    p = len(X[0])
    new = coef[:]
    steps = 0
    while True:
        prev = new[:]
        pim = pimat(X, prev, p)
        grad = [0.0] * (2 * p)
        for j in range(p):
            acc0 = acc1 = 0.0
            for row, yi, pi in zip(X, y, pim):
                acc0 += row[j] * (float(yi[0]) - pi[0])
                acc1 += row[j] * (float(yi[1]) - pi[1])
            grad[j], grad[p + j] = acc0, acc1
        hess = [[0.0] * (2 * p) for _ in range(2 * p)]
        for row, (a, b) in zip(X, pim):
            w00, w01, w11 = (a - 1.0) * a, a * b, (b - 1.0) * b
            for j in range(p):
                for k in range(p):
                    mjk = row[j] * row[k]
                    hess[j][k] += w00 * mjk
                    hess[j][p + k] += w01 * mjk
                    hess[p + j][p + k] += w11 * mjk
        for j in range(p):
            for k in range(p):
                hess[p + j][k] = hess[k][p + j]
        d = determinant(hess)
        near(d, 1e-15, "Hessian determinant")
        if not d >= 1e-15:
            break
        step = linear_solve(hess, grad)
        if step is None:
            break
        new = [a - b for a, b in zip(prev, step)]
        steps += 1
        s = sum(sq(a - b) for a, b in zip(new, prev))
        near(s, 0.06 * p, "step length")
        if not (s > 0.06 * float(p) and steps <= 10):
            break
    return new


def interaction_test(x, y):
    full = [[1.0, x0, x1, x0 * x1] for x0, x1 in x]
    reduced = [row[:3] for row in full]
    b_red = newton_raphson(reduced, y, [0.0] * 6)
    b_full = newton_raphson(full, y, [0.0] * 8)
    d = loglikelihood(full, y, b_full) - loglikelihood(reduced, y, b_red)
    stat = d + d
    if stat > 0:
        return math.exp(-stat / 2.0)
    return 1.0


def lda_value(x, y, summ, cov, nvec, n):
    d = float(n - 3)
    s00 = div(nvec[0] * cov[0][0] + nvec[1] * cov[1][0] + nvec[2] * cov[2][0], d)
    s01 = div(nvec[0] * cov[0][2] + nvec[1] * cov[1][2] + nvec[2] * cov[2][2], d)
    s11 = div(nvec[0] * cov[0][1] + nvec[1] * cov[1][1] + nvec[2] * cov[2][1], d)
    det = s00 * s11 - s01 * s01
    if det == 0.0:
        return -9999.0
    p00, p11, p01 = div(s11, det), div(s00, det), div(-s01, det)
    m = [(div(summ[k][0], nvec[k]), div(summ[k][1], nvec[k])) for k in range(3)]
    b = [0.0] * 6
    for k in (0, 1):
        a = 3 * k
        mk, m2 = m[k], m[2]
        b[a] = -0.5 * ((sq(mk[1]) - sq(m2[1])) * p11 +
                       ((p01 + p01) * (mk[0] * mk[1] - m2[0] * m2[1]) +
                        (sq(mk[0]) - sq(m2[0])) * p00))
        b[a + 1] = (mk[0] - m2[0]) * p00 + (mk[1] - m2[1]) * p01
        b[a + 2] = (mk[0] - m2[0]) * p01 + (mk[1] - m2[1]) * p11
    X = [[1.0, x0, x1] for x0, x1 in x]
    return loglikelihood(X, y, b)


# ---------------------------------------------------------------- run


def run(gfile, efile, afile, threshold):
    n, ps, ngene, gmat, emat, alleles = read_inputs(gfile, efile, afile)
    mom = gene_moments(emat, n, ngene)
    if threshold >= 10.0 ** -6 or threshold == 0:
        head_line = "threshold = %f\n" % threshold
    else:
        head_line = "log10(threshold) = %f\n" % log10(threshold)
    result = ["Results of ZIRK:\n", head_line,
              "SNP \t  Gene1 \t Gene2 \t flag \t p-value(MC) \t "
              "likelihood(LDA) \t p-value(IT)\n"]
    pairs = prunings = 0
    for s in range(ps):
        for g1 in range(ngene):
            for g2 in range(g1 + 1, ngene):
                pairs += 1
                x, y = pair_matrices(emat, gmat, s, g1, g2, alleles[s], n)
                pmc, nvec, summ, cov = mc_test(x, y, mom, g1, g2, n)
                # The fixed results 1.0 and 2.0 and an underflow to 0 are
                # exact: only a computed tail can be on the wrong side of the
                # threshold by rounding.
                if pmc not in (0.0, 1.0, 2.0):
                    near(pmc, threshold, "MC p-value against the threshold")
                if threshold > pmc:
                    lda = lda_value(x, y, summ, cov, nvec, n)
                    near(lda, LDA_BOUND, "LDA value against the bound")
                    if LDA_BOUND > lda:
                        it = interaction_test(x, y)
                        result.append("%d\t%d\t%d\t1\t%f\t%f\t%f\n" %
                                      (s, g1, g2, log10(pmc), lda, log10(it)))
                    else:
                        prunings += 1
                        result.append("%d\t%d\t%d\t2\t%f\t%f\t1.0\n" %
                                      (s, g1, g2, log10(pmc), lda))
                else:
                    prunings += 1
                    result.append("%d\t%d\t%d\t0\t%f\t1.0\t1.0\n" %
                                  (s, g1, g2, log10(pmc)))
    out = ("# of arguments: 0\n"
           "threshold of MC test's pvalue?: check the files...\n"
           "genotype  : %s\nexpression: %s\nallele    : %s\noutput    : %s\n"
           "check the size of the input data...\n"
           "#SNPs : %d\n#genes: %d\nn     : %d\n" %
           ("g.txt", "e.txt", "a.txt", "o.txt", ps, ngene, n))
    out += "read genotypes... %s...\n" % "".join(gmat[0][:4])
    out += "read expressions... %s...\n" % " ".join(
        "%g" % emat[i][0] for i in range(3))
    out += "Running...\n#pairs: %d\n#prunings: %d\n" % (pairs, prunings)
    return "".join(result), out


def main():
    gfile, efile, afile, threshold, result_out, stdout_out = sys.argv[1:]
    result, out = run(gfile, efile, afile, float(threshold))
    with open(result_out, "w") as f:
        f.write(result)
    with open(stdout_out, "w") as f:
        f.write(out)


if __name__ == "__main__":
    main()
