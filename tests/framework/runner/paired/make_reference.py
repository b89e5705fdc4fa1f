#!/usr/bin/python3
# Computes the reference values of PairedStatisticsTest with SciPy (Debian's
# python3-scipy), independently of the C++ code, and writes them as the header
# PairedReference.h beside this script. Rerun after changing a data set:
#   /usr/bin/python3 tests/framework/runner/paired/make_reference.py
# The Wilcoxon p follows the rule the C++ code documents: zeros dropped, exact
# for at most 25 untied differences, else the normal approximation with tie
# and continuity corrections; SciPy is told which method explicitly.
import os
import numpy as np
from scipy import stats

# (name, a, b): small and large, with ties, zeros, all positive, a tie at zero.
SETS = [
    ("untied_n8", [12.1, 9.8, 14.3, 11.0, 10.4, 13.9, 8.7, 12.6],
                  [10.2, 10.1, 11.9, 9.3, 10.9, 11.8, 9.1, 10.0]),
    ("zeros_and_ties_n12", [5, 7, 6, 9, 4, 8, 7, 6, 5, 10, 3, 7],
                           [5, 5, 7, 6, 4, 6, 5, 8, 5, 7, 4, 4]),
    ("all_positive_n6", [3.5, 4.25, 5.25, 6.125, 2.75, 4.0],
                        [1.0, 2.0, 2.5, 3.0, 1.5, 0.25]),
    ("large_untied_n30", None, None),
    ("ties_n20", None, None),
]

rng = np.random.RandomState(20261209)
a = np.round(rng.normal(10.0, 2.0, 30), 6)
b = np.round(a - rng.normal(0.6, 1.5, 30), 6)
SETS[3] = ("large_untied_n30", list(a), list(b))
a = rng.randint(1, 8, 20).astype(float)
b = rng.randint(1, 8, 20).astype(float)
SETS[4] = ("ties_n20", list(a), list(b))


def wilcoxon(d):
    d = d[d != 0]
    ranks = stats.rankdata(np.abs(d))
    w = float(np.sum(ranks[d > 0]))
    tied = len(np.unique(np.abs(d))) < len(d)
    exact = len(d) <= 25 and not tied
    p = stats.wilcoxon(d, method="exact" if exact else "approx",
                       correction=True, zero_method="wilcox").pvalue
    return w, float(p), exact


def c(v):
    return repr(float(v))


lines = ["#pragma once", "// Written by make_reference.py (SciPy " + __import__("scipy").__version__ + "); do not edit.",
         "#include <vector>", "", "struct PairedReference {", "    const char* name;",
         "    std::vector<double> a, b;", "    double t, pT, dz, w, pWilcoxon;", "    bool exact;", "};", "",
         "inline const std::vector<PairedReference>& PairedReferences()", "{",
         "    static const std::vector<PairedReference> sets = {"]
for name, a, b in SETS:
    a = np.array(a, dtype=float)
    b = np.array(b, dtype=float)
    d = a - b
    t = stats.ttest_rel(a, b)
    dz = np.mean(d) / np.std(d, ddof=1)
    w, pw, exact = wilcoxon(d)
    lines.append("        {\"%s\"," % name)
    lines.append("         {" + ", ".join(c(v) for v in a) + "},")
    lines.append("         {" + ", ".join(c(v) for v in b) + "},")
    lines.append("         %s, %s, %s, %s, %s, %s}," % (c(t.statistic), c(t.pvalue), c(dz), c(w), c(pw),
                                                      "true" if exact else "false"))
lines += ["    };", "    return sets;", "}", ""]

# The exact null distribution at small n, as SciPy's exact test gives it:
# the two-sided p of every w for n = 1..10.
lines += ["// exactP[n - 1][w]: two-sided exact p of w among n untied ranks.",
          "inline const std::vector<std::vector<double>>& WilcoxonExactReference()", "{",
          "    static const std::vector<std::vector<double>> p = {"]
for n in range(1, 11):
    row = []
    for w in range(n * (n + 1) // 2 + 1):
        # A sample whose positive ranks sum to w: ranks 1..n, signs chosen greedily.
        signs = -np.ones(n)
        left = w
        for r in range(n, 0, -1):
            if r <= left:
                signs[r - 1] = 1
                left -= r
        d = signs * np.arange(1, n + 1)
        row.append(c(stats.wilcoxon(d, method="exact").pvalue))
    lines.append("        {" + ", ".join(row) + "},")
lines += ["    };", "    return p;", "}", ""]

with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "PairedReference.h"), "w") as f:
    f.write("\n".join(lines))
