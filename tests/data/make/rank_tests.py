#!/usr/bin/env python3
"""Writes tests/data/rank-tests.tsv: Mann-Whitney p-values, Hodges-Lehmann
ratios and their intervals, computed by brute force, for the C++ tests to
match.

The p-value deals the pooled values to the two samples in every possible
way (itertools.combinations) and counts the deals whose rank sum for x lies
at least as far from its mean as the observed one, ties taking mean ranks.
Cases of more than 20 values count the same thing with a dictionary of
(values taken, rank sum) instead, as the enumeration would take too long;
the C++ side uses the normal approximation there, and the test allows it
a tolerance.

The interval rank k is the largest k with P(U < k) <= alpha / 2 for the
null distribution without ties, found by the same enumeration.

Columns: x, y (comma separated), alpha, p, estimate, low, high (ratios;
"nan" where there is none), k.
"""
import itertools
import math
from fractions import Fraction


def mid_ranks(values):
    order = sorted(values)
    ranks = {}
    i = 0
    while i < len(order):
        j = i
        while j + 1 < len(order) and order[j + 1] == order[i]:
            j += 1
        ranks[order[i]] = Fraction(i + j + 2, 2)
        i = j + 1
    return ranks


def p_value(x, y):
    pooled = x + y
    ranks = mid_ranks(pooled)
    r = [ranks[v] for v in pooled]
    m, n = len(x), len(y)
    mean = Fraction(m * (m + n + 1), 2)
    observed = abs(sum(ranks[v] for v in x) - mean)
    if m + n <= 20:
        far = total = 0
        for chosen in itertools.combinations(range(m + n), m):
            total += 1
            if abs(sum(r[i] for i in chosen) - mean) >= observed:
                far += 1
        return far / total
    ways = {(0, Fraction(0)): 1}
    for rank in r:
        nxt = dict(ways)
        for (taken, s), count in ways.items():
            if taken < m:
                key = (taken + 1, s + rank)
                nxt[key] = nxt.get(key, 0) + count
        ways = nxt
    far = sum(c for (t, s), c in ways.items() if t == m and abs(s - mean) >= observed)
    total = sum(c for (t, s), c in ways.items() if t == m)
    return far / total


def interval_rank(m, n, alpha):
    counts = {}
    for chosen in itertools.combinations(range(m + n), m):
        u = sum(i + 1 for i in chosen) - m * (m + 1) // 2
        counts[u] = counts.get(u, 0) + 1
    total = sum(counts.values())
    k, below = 0, 0
    while True:
        below += counts.get(k, 0)
        if below / total > alpha / 2:
            return k
        k += 1


def ratios(x, y, alpha):
    r = sorted(b / a for a in x for b in y)
    q = len(r)
    estimate = r[q // 2] if q % 2 else math.sqrt(r[q // 2 - 1] * r[q // 2])
    k = interval_rank(len(x), len(y), alpha)
    low, high = (r[k - 1], r[q - k]) if k >= 1 else (math.nan, math.nan)
    return estimate, low, high, k


CASES = [
    # No overlap: the smallest p-values, 2 / C(8, 4) and 2 / C(10, 5).
    ([10, 11, 12, 13], [20, 21, 22, 23], 0.05),
    ([10, 11, 12, 13, 14], [20, 21, 22, 23, 24], 0.05),
    # Three a side: no interval at 0.05, one at 0.10.
    ([10, 12, 14], [11, 13, 15], 0.05),
    ([10, 12, 14], [20, 22, 24], 0.10),
    # Ties within and across the samples.
    ([10, 20, 20, 30], [20, 30, 30, 40], 0.05),
    ([19.5, 20, 20, 21, 22], [20, 21, 21, 23, 25.5], 0.05),
    ([5, 5, 5, 5, 6], [5, 6, 6, 6, 6], 0.05),
    # Every value the same.
    ([7, 7, 7], [7, 7], 0.05),
    # Unequal sizes, one sample inside the other.
    ([30, 31, 33], [10, 20, 31, 40, 50, 60, 70], 0.05),
    ([100], [100, 120, 140, 160, 180, 200], 0.05),
    # Six a side, interleaved, and scaled by 1.5 with noise.
    ([18.9, 19.7, 21.0, 22.4, 25.1, 31.0], [19.1, 20.5, 23.3, 24.0, 26.7, 30.2], 0.05),
    ([18.9, 19.7, 21.0, 22.4, 25.1, 31.0], [29.1, 30.5, 31.3, 34.0, 36.7, 45.2], 0.05),
    # Ten a side.
    (list(range(100, 110)), [v + 3.5 for v in range(100, 110)], 0.05),
]

# 32 against 32, the most the C++ side counts exactly, then beyond: 35
# against 35, with ties.
LARGE = [
    ([100 + (i * 7) % 23 for i in range(32)], [103 + (i * 5) % 19 for i in range(32)]),
    ([100 + (i * 7) % 23 for i in range(35)], [104 + (i * 5) % 19 for i in range(35)]),
    ([100 + i // 2 for i in range(35)], [101 + i // 2 for i in range(35)]),
]

if __name__ == "__main__":
    print("# x\ty\talpha\tp\testimate\tlow\thigh\tk")
    for x, y, alpha in CASES:
        estimate, low, high, k = ratios(x, y, alpha)
        p = p_value(x, y)
        print("\t".join([",".join(map(str, x)), ",".join(map(str, y)), str(alpha),
                         "%.12g" % p, "%.12g" % estimate, "%.12g" % low, "%.12g" % high, str(k)]))
    for x, y in LARGE:
        print("\t".join([",".join(map(str, x)), ",".join(map(str, y)), "0.05",
                         "%.12g" % p_value(x, y), "nan", "nan", "nan", "-"]))
