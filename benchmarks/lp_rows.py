"""Row building of the linear front end on a wide model, against plain Python rows.

Builds rows over a block of N columns (default 1 million) and prints, for each way of selecting
columns, the time of our rows (engine rows behind LinearExpression) beside a plain-Python row (a
dict from column to coefficient, built and summed the same way) measured in the same run:
  - dot with a numpy array and with a list of N coefficients;
  - indexing with a list, an integer array, a Boolean mask and a slice selecting N/2 columns;
  - the sum and the difference of two such rows, and adding the bounded row to the storage.

    python benchmarks/lp_rows.py [--columns N]
"""

import argparse
import time

import numpy as np

import orbeny.trelle as tl
from zorv_encoder.linear_parser import LinearModel


def timed(fn, repeat=3):
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        result = fn()
        best = min(best, time.perf_counter() - start)
    return best, result


# The baseline: a row as a dict of column -> coefficient, as a plain-Python front end keeps it.
def dict_dot(shift, coefs):
    return {shift + k: c for k, c in enumerate(coefs) if c != 0}


def dict_ones(shift, indexes):
    return {shift + i: 1.0 for i in indexes}


def dict_sub(a, b):
    out = dict(a)
    for col, c in b.items():
        value = out.get(col, 0.0) - c
        if value:
            out[col] = value
        else:
            out.pop(col, None)
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--columns", type=int, default=1_000_000)
    n = parser.parse_args().columns

    model = LinearModel(tl.manager(), "bench")
    model.create_variable("pad", tl.var_type.continuous, [10])
    x = model.create_variable("x", tl.var_type.continuous, [n], 0, 1)
    shift = x._bshift
    coefs_array = np.arange(n, dtype=float) % 7
    coefs_list = coefs_array.tolist()
    half_list = list(range(0, n, 2))
    half_array = np.arange(0, n, 2)
    mask = np.arange(n) % 2 == 0

    cases = [
        ("dot(ndarray)", lambda: x.dot(coefs_array), lambda: dict_dot(shift, coefs_list)),
        ("dot(list)", lambda: x.dot(coefs_list), lambda: dict_dot(shift, coefs_list)),
        ("x[list]", lambda: x[half_list], lambda: dict_ones(shift, half_list)),
        ("x[int array]", lambda: x[half_array], lambda: dict_ones(shift, half_array.tolist())),
        ("x[mask]", lambda: x[mask], lambda: dict_ones(shift, np.flatnonzero(mask).tolist())),
        ("x[0:n:2]", lambda: x[0:n:2], lambda: dict_ones(shift, range(0, n, 2))),
    ]
    print(f"{n} columns; best of 3 runs, seconds")
    print(f"{'operation':<16}{'ours':>10}{'plain dict':>12}{'speed-up':>10}")
    for label, ours, plain in cases:
        t_ours, _ = timed(ours)
        t_plain, _ = timed(plain)
        print(f"{label:<16}{t_ours:>10.4f}{t_plain:>12.4f}{t_plain / t_ours:>9.1f}x")

    a, b = x.dot(coefs_array), x[half_array]
    da, db = dict_dot(shift, coefs_list), dict_ones(shift, half_list)
    t_ours, _ = timed(lambda: a - b)
    t_plain, _ = timed(lambda: dict_sub(da, db))
    print(f"{'row - row':<16}{t_ours:>10.4f}{t_plain:>12.4f}{t_plain / t_ours:>9.1f}x")
    t_add, _ = timed(lambda: model.add_constraint((a - b) <= 5), repeat=1)
    print(f"{'add_constraint':<16}{t_add:>10.4f}{'':>12}")


if __name__ == "__main__":
    main()
