"""Instantiating one hard constraint of ten clauses over two foralls into numbered clauses.

For each size and each instantiation path this prints the time per instance, clauses per
second and the peak memory the path adds (high-water mark of the process's resident set,
measured in a fresh child process per run, so that runs do not hide each other's peaks).

    python benchmarks/instantiate.py                 # every size
    python benchmarks/instantiate.py --sizes 100x100 1000x1000

A path is a function that takes a `FormulaContainer` ready for work and the constraint, and
leaves the container built; add another one to PATHS to measure it beside the plain path.
"""

import argparse
import json
import resource
import subprocess
import sys
import time

import orbeny.trelle as tl  # noqa: F401  (loads the engine before the baseline is taken)
from orbeny.trelle import bxpr as bx
from zorv_encoder.core.formula_container import FormulaContainer
from zorv_encoder.encode.variables import Variable

# Ten clauses of three literals over x(i,j), x(i,j + 1), y(i,j) and four Tseytin auxiliaries:
# the shape of a small Tseytin-encoded formula such as an exactly-one over a sliding window.
TEMPLATE = [
    ["x(i,j)", "~x(i,j + 1)", "_bxpr_aux_0"],
    ["~x(i,j)", "y(i,j)", "~_bxpr_aux_0"],
    ["x(i,j + 1)", "~y(i,j)", "_bxpr_aux_1"],
    ["~x(i,j + 1)", "~_bxpr_aux_1", "_bxpr_aux_2"],
    ["y(i,j)", "~_bxpr_aux_2", "x(i,j)"],
    ["~y(i,j)", "_bxpr_aux_3", "~x(i,j)"],
    ["_bxpr_aux_0", "_bxpr_aux_1", "~_bxpr_aux_3"],
    ["~_bxpr_aux_0", "x(i,j + 1)", "_bxpr_aux_2"],
    ["~_bxpr_aux_1", "~_bxpr_aux_2", "y(i,j)"],
    ["_bxpr_aux_3", "~x(i,j + 1)", "~y(i,j)"],
]
TSEYTIN_AUXILIARIES = 4
SIZES = ["100x100", "1000x1000", "2000x1000"]


def constraint():
    context = bx.Context()

    def literal(text):
        return ~context.get_var(text[1:]) if text.startswith("~") else context.get_var(text)

    return bx.and_([bx.or_s([literal(text) for text in clause]) for clause in TEMPLATE])


def engine_path(container, node, foralls):
    container.add_hard_constraint(node, foralls, 0, TSEYTIN_AUXILIARIES)
    container.build_cnf_formula("instantiate")


def python_path(container, node, foralls):
    # The engine path turned off: every record is evaluated as one comprehension text.
    from zorv_encoder.core import _fast_instantiate

    _fast_instantiate.dump = lambda a: None
    engine_path(container, node, foralls)


PATHS = {"python": python_path, "engine": engine_path}


def peak_kib():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss


def run_once(path, size):
    rows, cols = (int(part) for part in size.split("x"))
    variables = {
        "dummy_var": Variable("dummy_var", {"d": 1}, 0),
        "x": Variable("x", {"i": rows, "j": cols + 1}, 1),
        "y": Variable("y", {"i": rows, "j": cols}, 1 + rows * (cols + 1)),
    }
    container = FormulaContainer(variables, 1 + rows * (cols + 1) + rows * cols)
    node = constraint()
    foralls = {"i": range(rows), "j": range(cols)}
    baseline = peak_kib()
    start = time.perf_counter()
    PATHS[path](container, node, foralls)
    seconds = time.perf_counter() - start
    storage = container.cnf_storage()
    clauses = storage.get_hard_clause_count()
    assert clauses == storage.get_clause_count() == rows * cols * len(TEMPLATE)
    return {
        "instances": rows * cols,
        "clauses": clauses,
        "seconds": seconds,
        "peak_mib": (peak_kib() - baseline) / 1024,
    }


def main():
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter
    )
    parser.add_argument("--sizes", nargs="+", default=SIZES, help="rows x columns of the two foralls")
    parser.add_argument("--paths", nargs="+", default=list(PATHS), choices=list(PATHS))
    parser.add_argument("--child", nargs=2, metavar=("PATH", "SIZE"), help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        print(json.dumps(run_once(*args.child)))
        return

    print(
        f"{'foralls':>10} {'path':>8} {'instances':>10} {'clauses':>10} {'s':>8} "
        f"{'us/instance':>12} {'clauses/s':>11} {'peak MiB':>9}"
    )
    for size in args.sizes:
        for path in args.paths:
            child = subprocess.run(
                [sys.executable, __file__, "--child", path, size], capture_output=True, text=True
            )
            if child.returncode != 0:
                print(f"{size:>10} {path:>8} failed:\n{child.stderr}")
                continue
            result = json.loads(child.stdout)
            print(
                f"{size:>10} {path:>8} {result['instances']:>10} {result['clauses']:>10} "
                f"{result['seconds']:>8.2f} {1e6 * result['seconds'] / result['instances']:>12.2f} "
                f"{result['clauses'] / result['seconds']:>11.0f} {result['peak_mib']:>9.0f}"
            )


if __name__ == "__main__":
    main()
