"""Whole modelling road: declare, constrain, build and save the n-queens model.

    python benchmarks/model_build.py [n ...]      (default: 50 100 200)

    python benchmarks/model_build.py --sumit [terms ...]   (default: 1000000)

Each size runs in a fresh process so that its peak memory is its own. Beside it, in the same run:
a process that only imports the package (memory floor), a hand-written plain-Python encoder of
the same problem (pairwise at-most-one clauses, str.join writer), the usual alternative to a model,
and a plain python-sat loop (CardEnc per row, column and diagonal, CNF.to_file), when python-sat is
installed.

With --sumit: a model of that many variables whose one soft constraint is the SumIt of all of
them (minimised), built as weighted CNF and saved; beside it, a python-sat loop that appends the
same unit soft clauses to a WCNF and writes it.
"""
import argparse
import json
import os
import resource
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def peak_rss_mb():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0


def run_model(n, directory):
    sys.path.insert(0, os.path.join(HERE, "..", "examples"))
    import orbeny.trelle as tl
    from queens import build_queens

    start = time.perf_counter()
    model = build_queens(tl.manager(), n)
    built = time.perf_counter()
    path = os.path.join(directory, "queens%d.cnf" % n)
    model.save_to_file(path)
    saved = time.perf_counter()
    with open(path) as handle:
        header = next(line for line in handle if line.startswith("p "))
    _, _, variables, clauses = header.split()
    return {"variables": int(variables), "clauses": int(clauses), "build": built - start,
            "save": saved - built, "size_mb": os.path.getsize(path) / 1e6, "rss": peak_rss_mb()}


def run_pysat(n, directory):
    from pysat.card import CardEnc
    from pysat.formula import CNF, IDPool

    start = time.perf_counter()
    pool = IDPool(start_from=n * n + 1)
    cnf = CNF()
    cells = [[r * n + c + 1 for c in range(n)] for r in range(n)]
    for line in cells + [list(column) for column in zip(*cells)]:
        cnf.extend(CardEnc.equals(lits=line, bound=1, vpool=pool).clauses)
    diagonals = {}
    for r in range(n):
        for c in range(n):
            diagonals.setdefault(("d", r - c), []).append(cells[r][c])
            diagonals.setdefault(("a", r + c), []).append(cells[r][c])
    for diagonal in diagonals.values():
        if len(diagonal) > 1:
            cnf.extend(CardEnc.atmost(lits=diagonal, bound=1, vpool=pool).clauses)
    return pysat_saved(cnf, len(cnf.clauses), os.path.join(directory, "pysat%d.cnf" % n), start)


def pysat_saved(formula, clauses, path, start):
    """Writes a python-sat formula built since `start` to `path`; the run's figures."""
    built = time.perf_counter()
    formula.to_file(path)
    saved = time.perf_counter()
    return {"variables": formula.nv, "clauses": clauses, "build": built - start, "save": saved - built,
            "size_mb": os.path.getsize(path) / 1e6, "rss": peak_rss_mb()}


def run_sumit(terms, directory):
    import orbeny.trelle as tl
    from zorv_encoder import Model, SumIt

    start = time.perf_counter()
    model = Model(tl.manager(), "sumit%d" % terms)
    x = model.create_variables("x", i=terms)
    model.add_soft_constraint(SumIt([x[k] for k in range(terms)]), minimization=True)
    model.build_wcnf()
    built = time.perf_counter()
    path = os.path.join(directory, "sumit%d.wcnf" % terms)
    model.save_to_file(path)
    saved = time.perf_counter()
    storage = model.get_cnf_storage()
    return {"variables": storage.get_variable_count(), "clauses": storage.get_clause_count(),
            "build": built - start, "save": saved - built, "size_mb": os.path.getsize(path) / 1e6,
            "rss": peak_rss_mb()}


def run_sumit_pysat(terms, directory):
    from pysat.formula import WCNF

    start = time.perf_counter()
    wcnf = WCNF()
    for k in range(terms):
        wcnf.append([-(k + 2)], weight=1)
    return pysat_saved(wcnf, len(wcnf.soft), os.path.join(directory, "pysat_sumit%d.wcnf" % terms), start)


def has_pysat():
    try:
        import pysat.card  # noqa: F401
    except ImportError:
        return False
    return True


def run_import_only():
    import zorv_encoder  # noqa: F401
    return {"rss": peak_rss_mb()}


def run_hand_written(n, directory):
    # Streams its clauses: holding ten million clause lists would measure Python's list overhead.
    start = time.perf_counter()
    groups = [[r * n + c + 1 for c in range(n)] for r in range(n)]
    groups += [[r * n + c + 1 for r in range(n)] for c in range(n)]
    diagonals = {}
    for r in range(n):
        for c in range(n):
            diagonals.setdefault(("d", r - c), []).append(r * n + c + 1)
            diagonals.setdefault(("a", r + c), []).append(r * n + c + 1)
    everything = groups + list(diagonals.values())
    count = 2 * n + sum(len(group) * (len(group) - 1) // 2 for group in everything)
    path = os.path.join(directory, "hand%d.cnf" % n)
    with open(path, "w") as handle:
        handle.write("p cnf %d %d\n" % (n * n, count))
        handle.write("".join(" ".join(map(str, line)) + " 0\n" for line in groups))
        for group in everything:
            handle.write("".join(["-%d -%d 0\n" % (group[a], group[b])
                                  for a in range(len(group)) for b in range(a + 1, len(group))]))
    done = time.perf_counter()
    return {"variables": n * n, "clauses": count, "build": done - start, "save": 0.0,
            "size_mb": os.path.getsize(path) / 1e6, "rss": peak_rss_mb()}


RUNS = {"model": run_model, "hand": run_hand_written, "pysat": run_pysat, "sumit": run_sumit,
        "sumit-pysat": run_sumit_pysat}


def child(kind, n):
    with tempfile.TemporaryDirectory() as directory:
        if kind in RUNS:
            result = RUNS[kind](n, directory)
        else:
            result = run_import_only()
    print(json.dumps(result))


def measure(kind, n=0):
    out = subprocess.run([sys.executable, __file__, "--child", kind, str(n)], check=True, capture_output=True,
                         text=True)
    return json.loads(out.stdout.strip().splitlines()[-1])


def main(sizes, roads):
    floor = measure("import")
    print("peak memory of a process that only imports zorv_encoder: %.1f MB" % floor["rss"])
    print()
    head = "%8s  %-12s %10s %11s %9s %9s %9s %9s %10s"
    row = "%8d  %-12s %10d %11d %9.2f %9.2f %9.2f %9.1f %10.1f"
    print(head % ("n", "road", "variables", "clauses", "build s", "save s", "total s", "file MB", "peak MB"))
    if not has_pysat():
        roads = [(kind, label) for kind, label in roads if "pysat" not in kind]
        print("(python-sat is not installed: its side is left out)")
    for n in sizes:
        totals = {}
        for kind, label in roads:
            r = measure(kind, n)
            totals[label] = r["build"] + r["save"]
            print(row % (n, label, r["variables"], r["clauses"], r["build"], r["save"], totals[label],
                         r["size_mb"], r["rss"]))
        if "python-sat" in totals:
            ours = totals["model"]
            print("%8s  model / python-sat: %.2fx" % ("", ours / totals["python-sat"]))


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("sizes", nargs="*", type=int, help="n, or the terms with --sumit")
    parser.add_argument("--sumit", action="store_true", help="the SumIt model instead of n-queens")
    parser.add_argument("--child", nargs=2, metavar=("KIND", "N"), help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        child(args.child[0], int(args.child[1]))
    elif args.sumit:
        main(args.sizes or [1000000], [("sumit", "model"), ("sumit-pysat", "python-sat")])
    else:
        main(args.sizes or [50, 100, 200], [("model", "model"), ("hand", "hand-written"), ("pysat", "python-sat")])
