"""The two roads of Model side by side: the container road (the model evaluates each text and the
container instantiates the clause template) and the formula-encoder road (the engine reads each
text once and instantiates it over its foralls itself, with no Python per instance).

    python benchmarks/formula_encoder.py [grid size] [queens n]     (defaults: 330 100)
    python benchmarks/formula_encoder.py --row TERMS                (one long row)

Models: a forall-heavy grid (about 1M clauses at the default size: clauses, implications and
a parity constraint over a size x size grid, each one template over its foralls) and n-queens as
in examples/queens.py. Each model and road runs in a fresh process, so that its peak memory is its
own. Times are for declaring, adding and building (build_cnf).

With --row, one row of TERMS unit terms on the formula-encoder road, as a SumIt and as a chain of
+, at most 5 and at least 5, with coefficients 1 to 3, and as a Sum over an index, which the engine
expands: the add (the call's checks) is timed beside the build that writes it.
"""
import argparse
import functools
import json
import operator
import os
import resource
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def peak_rss_mb():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0


def grid(tmanager, road, n):
    from zorv_encoder import Implication, Model

    model = Model(tmanager, "grid%d" % n, road)
    x = model.create_variables("x", r=n, c=n)
    y = model.create_variables("y", r=n, c=n)
    i, j = model.get_indexes(["i", "j"])
    model.add_constraint(x[i, j] | ~x[i, j + 1], i=range(n), j=range(n - 1))
    model.add_constraint(Implication(x[i, j], x[i + 1, j] | y[i, j]), i=range(n - 1), j=range(n))
    model.add_constraint(x[i, j] ^ y[i, j] ^ y[i, j + 1], i=range(n), j=range(n - 1))
    model.build_cnf()
    return model


def queens(tmanager, road, n):
    sys.path.insert(0, os.path.join(HERE, "..", "examples"))
    import queens as example
    from zorv_encoder import Model

    example.Model = functools.partial(Model, use_formula_encoder=road)
    return example.build_queens(tmanager, n)


ROWS = {
    "SumIt <= 5": lambda z, m, x, n: z.SumIt([x[k] for k in range(n)]) <= 5,
    "+ chain <= 5": lambda z, m, x, n: functools.reduce(operator.add, [x[k] for k in range(n)]) <= 5,
    "SumIt >= 5": lambda z, m, x, n: z.SumIt([x[k] for k in range(n)]) >= 5,
    "weighted >= 5": lambda z, m, x, n: z.SumIt([(k % 3 + 1) * x[k] for k in range(n)]) >= 5,
    "Sum over j <= 5": lambda z, m, x, n: z.Sum(x[m.get_indexes(["j"])], j=range(n)) <= 5,
}


def long_row(form, n):
    import orbeny.trelle as tl
    import zorv_encoder

    model = zorv_encoder.Model(tl.manager(), "row", True)
    row = ROWS[form](zorv_encoder, model, model.create_variables("x", k=n), n)
    start = time.perf_counter()
    model.add_constraint(row)
    added = time.perf_counter()
    model.build_cnf()
    built = time.perf_counter()
    return {"add": added - start, "build": built - added, "rss": peak_rss_mb(),
            "clauses": model.get_cnf_storage().get_clause_count()}


def run(which, road, size):
    import orbeny.trelle as tl

    if which in ROWS:
        return long_row(which, size)
    start = time.perf_counter()
    model = {"grid": grid, "queens": queens}[which](tl.manager(), road, size)
    seconds = time.perf_counter() - start
    storage = model.get_cnf_storage()
    return {"seconds": seconds, "rss": peak_rss_mb(), "clauses": storage.get_clause_count(),
            "variables": storage.get_variable_count()}


def measure(which, road, size):
    out = subprocess.run([sys.executable, __file__, "--child", which, str(int(road)), str(size)],
                         check=True, capture_output=True, text=True).stdout
    return json.loads(out.strip().splitlines()[-1])


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("grid_size", nargs="?", type=int, default=330)
    parser.add_argument("queens_n", nargs="?", type=int, default=100)
    parser.add_argument("--row", type=int, metavar="TERMS", help="time the add of one long row beside its build")
    parser.add_argument("--child", nargs=3, metavar=("MODEL", "ROAD", "SIZE"), help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        which, road, size = args.child
        print(json.dumps(run(which, bool(int(road)), int(size))))
        return
    if args.row:
        print("%-16s %10s %9s %9s %9s %9s" % ("row", "clauses", "add s", "build s", "add/build", "peak MB"))
        for form in ROWS:
            r = measure(form, True, args.row)
            print("%-16s %10d %9.3f %9.3f %9.2f %9.0f" % (form, r["clauses"], r["add"], r["build"],
                                                        r["add"] / r["build"], r["rss"]))
        return
    grid_size, queens_n = args.grid_size, args.queens_n
    print("%-14s %-9s %10s %10s %9s %9s" % ("model", "road", "clauses", "variables", "seconds", "peak MB"))
    for which, size in (("grid", grid_size), ("queens", queens_n)):
        for road, label in ((False, "container"), (True, "encoder")):
            r = measure(which, road, size)
            print("%-14s %-9s %10d %10d %9.2f %9.0f" % ("%s %d" % (which, size), label, r["clauses"],
                                                      r["variables"], r["seconds"], r["rss"]))


if __name__ == "__main__":
    main()
