"""Clause intake, merge and DIMACS writing of tl.wcnf_storage against plain Python.

Prints, for N 3-literal clauses (default 10 million):
  - adding them one add_hard_clause call at a time from Python, per clause, beside the bare
    Python loop that builds the same lists (the part of the cost that is not the storage's);
  - merging a storage of N clauses into a non-empty one;
  - writing the DIMACS file, beside a plain-Python writer (str.join of the same clauses),
    both to files in the same directory, in MB/s.

    python benchmarks/write_cnf.py [--clauses N] [--dir DIR]
"""

import argparse
import filecmp
import os
import tempfile
import time

import orbeny.trelle as tl


def clause_lists(n):
    # Deterministic clauses over about n/3 variables, mixed signs.
    for i in range(n):
        a = i // 3 + 1
        yield [a, -(a + 1), a + 2 if i & 1 else -(a + 2)]


def timed(fn):
    start = time.perf_counter()
    result = fn()
    return time.perf_counter() - start, result


def python_writer(path, clauses, nvars):
    lines = [f"p cnf {nvars} {len(clauses)}\n"]
    lines.extend(" ".join(map(str, c)) + " 0\n" for c in clauses)
    with open(path, "w") as f:
        f.write("".join(lines))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--clauses", type=int, default=10_000_000)
    parser.add_argument("--dir", default=None, help="directory for the files (default: a temp dir)")
    args = parser.parse_args()
    n = args.clauses

    clauses = list(clause_lists(n))
    # The baseline is handed its header values; ours computes them from the clauses.
    nvars = max(abs(lit) for c in clauses for lit in c) if clauses else 3

    def python_loop():
        sink = [].append
        for c in clauses:
            sink(c)

    def add_all():
        s = tl.wcnf_storage()
        add = s.add_hard_clause
        for c in clauses:
            add(c)
        return s

    t_loop, _ = timed(python_loop)
    t_add, storage = timed(add_all)

    base = tl.wcnf_storage()
    base.add_hard_clause([1, 2, 3])
    t_merge, _ = timed(lambda: base.merge(storage))

    with tempfile.TemporaryDirectory(dir=args.dir) as d:
        ours = os.path.join(d, "ours.cnf")
        plain = os.path.join(d, "plain.cnf")
        t_ours, _ = timed(lambda: base.save_to_file(ours, tl.input_sat_format.cnf, None))
        size_ours = os.path.getsize(ours)
        t_plain, _ = timed(lambda: python_writer(plain, [[1, 2, 3]] + clauses, nvars))
        size_plain = os.path.getsize(plain)
        same = filecmp.cmp(ours, plain, shallow=False)

    mb = 1e6
    print(f"{n:,} clauses of 3 literals")
    print(f"  add_hard_clause, one call each : {t_add / n * 1e9:7.0f} ns/clause "
          f"(bare Python loop over the same lists: {t_loop / n * 1e9:.0f} ns)")
    print(f"  merge into a non-empty storage : {t_merge * 1e3:7.1f} ms")
    print(f"  write DIMACS, wcnf_storage     : {t_ours:7.2f} s  {size_ours / mb / t_ours:8.1f} MB/s"
          f"  ({size_ours / mb:.0f} MB)")
    print(f"  write DIMACS, Python str.join  : {t_plain:7.2f} s  {size_plain / mb / t_plain:8.1f} MB/s"
          f"  ({size_plain / mb:.0f} MB)")
    print(f"  speed-up of writing            : {t_plain / t_ours:7.1f}x"
          f"  (files {'identical' if same else 'DIFFER'})")


if __name__ == "__main__":
    main()
