"""The problems of bench/peers/compare_multi.py as plain Python functions of one point, with
their boxes, reference points for the hypervolume and samples of their true fronts: the
ZDT and 3-objective DTLZ problems of kestrelopt.problems, DTLZ2 with any number of
objectives and WFG4 with three (k = 4 position and l = 20 distance variables).
compare_multi.py checks every function against pymoo's before it measures anything.
"""

import math

from kestrelopt import problems


def dtlz2(m):
    def f(x):
        g = sum((v - 0.5) ** 2 for v in x[m - 1:])
        out = []
        for i in range(m):
            value = 1.0 + g
            for v in x[:m - 1 - i]:
                value *= math.cos(v * math.pi / 2.0)
            if i > 0:
                value *= math.sin(x[m - 1 - i] * math.pi / 2.0)
            out.append(value)
        return out
    return f


def _shift_multimodal(y, a=30.0, b=10.0, c=0.35):
    tmp1 = abs(y - c) / (2.0 * (math.floor(c - y) + c))
    tmp2 = (4.0 * a + 2.0) * math.pi * (0.5 - tmp1)
    return (1.0 + math.cos(tmp2) + 4.0 * b * tmp1 * tmp1) / (b + 2.0)


def wfg4(m=3, k=4, l=20):
    n = k + l

    def f(x):
        z = [x[i] / (2.0 * (i + 1)) for i in range(n)]
        t = [_shift_multimodal(v) for v in z]
        # Reduction by weighted sums: m - 1 position groups of k / (m - 1), one distance group.
        gap = k // (m - 1)
        red = [sum(t[i * gap:(i + 1) * gap]) / gap for i in range(m - 1)]
        red.append(sum(t[k:]) / l)
        xs = [max(red[m - 1], 1.0) * (red[i] - 0.5) + 0.5 for i in range(m - 1)]
        xs.append(red[m - 1])
        out = []
        for i in range(m):  # concave shape, scaled by 2, 4, 6, ...
            h = 1.0
            for v in xs[:m - 1 - i]:
                h *= math.sin(v * math.pi / 2.0)
            if i > 0:
                h *= math.cos(xs[m - 1 - i] * math.pi / 2.0)
            out.append(xs[m - 1] + 2.0 * (i + 1) * h)
        return out
    return f


def _simplex(m, divisions):
    out = []

    def fill(prefix, left):
        if len(prefix) == m - 1:
            out.append(prefix + [left])
            return
        for s in range(left + 1):
            fill(prefix + [s], left - s)
    fill([], divisions)
    return [[v / divisions for v in row] for row in out]


def _sphere_front(m, divisions, scales=None):
    scales = scales or [1.0] * m
    rows = []
    for w in _simplex(m, divisions):
        norm = math.sqrt(sum(v * v for v in w))
        rows.append([s * v / norm for s, v in zip(scales, w)])
    return rows


class Case:
    def __init__(self, name, pymoo_name, m, dim, fn, box, reference, front, budget):
        self.name, self.pymoo_name, self.m, self.dim = name, pymoo_name, m, dim
        self.fn, self.box, self.reference, self.front, self.budget = fn, box, reference, front, budget


def cases():
    out = []
    for name, dim in (("zdt1", 30), ("zdt2", 30), ("zdt3", 30), ("zdt4", 10), ("zdt6", 10)):
        p = problems.PROBLEMS[name]
        out.append(Case(name, name, 2, dim, p, p.bounds(dim), list(p.reference), p.true_front(1000), 20000))
    p = problems.PROBLEMS["dtlz1"]
    out.append(Case("dtlz1", "dtlz1", 3, 7, p, p.bounds(7), list(p.reference),
                    [[v / 2.0 for v in w] for w in _simplex(3, 40)], 20000))
    p = problems.PROBLEMS["dtlz2"]
    out.append(Case("dtlz2", "dtlz2", 3, 12, p, p.bounds(12), list(p.reference), _sphere_front(3, 40), 20000))
    for m, divisions in ((5, 10), (8, 5)):
        out.append(Case(f"dtlz2-{m}obj", "dtlz2", m, m + 9, dtlz2(m), [(0.0, 1.0)] * (m + 9),
                        [1.1] * m, _sphere_front(m, divisions), 30000))
    out.append(Case("wfg4", "wfg4", 3, 24, wfg4(), [(0.0, 2.0 * (i + 1)) for i in range(24)],
                    [2.2, 4.4, 6.6], _sphere_front(3, 40, [2.0, 4.0, 6.0]), 20000))
    return out
