"""Instantiating clause templates into numbered clauses, on the engine path and the plain path.

Part one: one hard constraint of ten clauses over two foralls, taken in by a `FormulaContainer`
and built, its mapping read once (as the model does after every build). For each size and path it
prints the time per instance, clauses per second and the peak memory the path adds (high-water
mark of the process's resident set, measured in a fresh child process per run, so that runs do not
hide each other's peaks), and how many times faster the engine path is.

Part two, the whole road: a `Model` declares its variables, takes one constraint over two foralls
(ten clauses and two Tseytin auxiliaries per instance), builds the CNF and saves it. The wide road
does the same with one clause of three literals per instance and one model variable per clause
(--wide 1000x10000: 10^7 clauses over 10^7 variables). Both print the peak beside the clause arrays
and the written mapping (the file's key comment lines), and the peak's ratio to their sum.

    python benchmarks/instantiate.py                        # all parts, default sizes
    python benchmarks/instantiate.py --sizes 100x100 --road 100x100 --wide 100x100
    python benchmarks/instantiate.py --plain-limit 1000000  # the plain path at every size too

The plain path is the engine path turned off: every record is evaluated as one comprehension
text. By default it runs only up to --plain-limit instances (it needs about a minute and gigabytes
per million instances); the speed-up at larger sizes is then against its time per instance at the
largest size it ran.
"""

import argparse
import json
import resource
import subprocess
import sys
import time

import orbeny.trelle as tl
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
# What one stored clause of TEMPLATE takes: three 4-byte literals and an 8-byte offset.
CLAUSE_BYTES = 3 * 4 + 8


def constraint():
    context = bx.Context()

    def literal(text):
        return ~context.get_var(text[1:]) if text.startswith("~") else context.get_var(text)

    return bx.and_([bx.or_s([literal(text) for text in clause]) for clause in TEMPLATE])


def turn_engine_path_off():
    # Every record then declines the engine and is evaluated as one comprehension text.
    from zorv_encoder.core import _fast_instantiate

    _fast_instantiate.dump = lambda a: None


def plain(run):
    """`run` with the engine path turned off."""

    def run_plain(*args):
        turn_engine_path_off()
        return run(*args)

    return run_plain


def engine_path(container, node, foralls):
    container.add_hard_constraint(node, foralls, 0, TSEYTIN_AUXILIARIES)
    container.build_cnf_formula("instantiate")
    return len(container.mapping)


PATHS = {"plain": plain(engine_path), "engine": engine_path}
SIZES = ["100x100", "100x1000", "1000x1000"]
ROAD_SIZES = ["100x1000", "1000x1000"]
WIDE_SIZES = ["1000x10000"]


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
    # Time spent instantiating records (the container's dump of its pending records): the
    # evaluation and numbering on the plain path, the engine's clause writing on the other; the
    # rest is intake, merging the storages and making the mapping's key texts, which both paths
    # share. And the peak memory when the dump is done, before the mapping is made.
    from zorv_encoder.core import _fast_instantiate

    dumping = [0.0, 0]
    dump_records = _fast_instantiate.dump_records

    def timed_dump_records(*args):
        began = time.perf_counter()
        try:
            return dump_records(*args)
        finally:
            dumping[0] += time.perf_counter() - began
            dumping[1] = peak_kib()

    _fast_instantiate.dump_records = timed_dump_records
    baseline = peak_kib()
    start = time.perf_counter()
    keys = PATHS[path](container, node, foralls)
    seconds = time.perf_counter() - start
    storage = container.cnf_storage()
    clauses = storage.get_hard_clause_count()
    assert clauses == storage.get_clause_count() == rows * cols * len(TEMPLATE)
    return {
        "instances": rows * cols,
        "clauses": clauses,
        "keys": keys,
        "seconds": seconds,
        "dump_seconds": dumping[0],
        "dump_peak_mib": (dumping[1] - baseline) / 1024,
        "peak_mib": (peak_kib() - baseline) / 1024,
    }


# ---- the whole road through the model


def road(size, directory, wide=False):
    import os

    from zorv_encoder import Equiv, Model

    rows, cols = (int(part) for part in size.split("x"))
    baseline = peak_kib()
    start = time.perf_counter()
    model = Model(tl.manager(), "road")
    x = model.create_variables("x", a=rows, b=cols + 1)
    i, j = model.get_indexes(["i", "j"])
    if wide:
        y = model.create_variables("y", a=rows)
        model.add_constraint(x[i, j] | ~x[i, j + 1] | y[i], i=range(rows), j=range(cols))
    else:
        y = model.create_variables("y", a=rows, b=cols)
        model.add_constraint(
            Equiv(x[i, j] ^ x[i, j + 1], y[i, j] | x[i, j]) & (y[i, j] | x[i, j + 1]),
            i=range(rows),
            j=range(cols),
        )
    model.build_cnf()
    built = time.perf_counter()
    path = os.path.join(directory, "road.cnf")
    model.save_to_file(path)
    saved = time.perf_counter()
    peak_mib = (peak_kib() - baseline) / 1024
    clauses = model.get_cnf_storage().get_hard_clause_count()
    del model
    # Literals counted in the file, after the peak is taken: one blank before each on a clause line;
    # the written mapping is the key comment lines.
    literals = mapping_bytes = 0
    with open(path, "rb") as handle:
        for line in handle:
            if line[:1] == b"p":
                continue
            if line[:1] != b"c":
                literals += line.count(b" ")
            elif not line.startswith((b"c model:", b"c prefatory:")):
                mapping_bytes += len(line)
    return {
        "instances": rows * cols,
        "clauses": clauses,
        "build": built - start,
        "save": saved - built,
        "file_mib": os.path.getsize(path) / 2**20,
        "peak_mib": peak_mib,
        # what the storage's arrays take: 4 bytes per literal, 8 per clause offset
        "clauses_mib": (4 * literals + 8 * clauses) / 2**20,
        "mapping_mib": mapping_bytes / 2**20,
    }


def run_road(path, size, wide):
    import tempfile

    if path == "plain":
        turn_engine_path_off()
    with tempfile.TemporaryDirectory() as directory:
        return road(size, directory, wide)


def child(kind, path, size):
    if kind == "container":
        result = run_once(path, size)
    else:
        result = run_road(path, size, kind == "wide")
    print(json.dumps(result))


def measure(kind, path, size):
    process = subprocess.run(
        [sys.executable, __file__, "--child", kind, path, size], capture_output=True, text=True
    )
    if process.returncode != 0:
        print(f"{size:>10} {path:>7} failed:\n{process.stderr}")
        return None
    return json.loads(process.stdout)


def speedup(path, result, plain, key):
    """How many times faster per instance than the plain path's `key` time, or nothing."""
    if path != "engine" or plain is None:
        return ""
    return f"{plain[key] / result[key] * result['instances'] / plain['instances']:>7.1f}x"


def main():
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter
    )
    parser.add_argument("--sizes", nargs="*", default=SIZES, help="rows x columns of the two foralls")
    parser.add_argument("--road", nargs="*", default=ROAD_SIZES, help="sizes of the whole road")
    parser.add_argument("--wide", nargs="*", default=WIDE_SIZES, help="sizes of the wide road")
    parser.add_argument("--plain-limit", type=int, default=100000, help="largest instance count of the plain path")
    parser.add_argument("--child", nargs=3, metavar=("KIND", "PATH", "SIZE"), help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        child(*args.child)
        return

    def runs(kind, sizes):
        """(size, path, result) of every run that the plain-path limit lets through."""
        for size in sizes:
            rows, cols = (int(part) for part in size.split("x"))
            for path in PATHS:
                if path == "plain" and rows * cols > args.plain_limit:
                    continue
                result = measure(kind, path, size)
                if result is not None:
                    yield size, path, result

    if args.sizes:
        print("one constraint of ten clauses, four Tseytin auxiliaries per instance, into a container")
        print(
            "(s: intake, build and one read of the mapping; dump s: inside the dumper, where the plain path\n"
            " also makes its auxiliary key texts, which the engine path makes when the mapping is merged;\n"
            " dump MiB: peak added when the dumper is done; clauses MiB: what the stored clauses take)"
        )
        print(
            f"{'foralls':>10} {'path':>7} {'instances':>10} {'clauses':>10} {'keys':>9} {'s':>8} "
            f"{'us/instance':>12} {'clauses/s':>11} {'peak MiB':>9} {'speed-up':>8} {'dump s':>7} {'speed-up':>8} "
            f"{'dump MiB':>9} {'clauses MiB':>11}"
        )
    plain = None
    for size, path, result in runs("container", args.sizes):
        per_instance = result["seconds"] / result["instances"]
        if path == "plain":
            plain = result
        print(
            f"{size:>10} {path:>7} {result['instances']:>10} {result['clauses']:>10} {result['keys']:>9} "
            f"{result['seconds']:>8.2f} {1e6 * per_instance:>12.2f} "
            f"{result['clauses'] / result['seconds']:>11.0f} {result['peak_mib']:>9.0f} "
            f"{speedup(path, result, plain, 'seconds'):>8} {result['dump_seconds']:>7.2f} "
            f"{speedup(path, result, plain, 'dump_seconds'):>8} {result['dump_peak_mib']:>9.0f} "
            f"{CLAUSE_BYTES * result['clauses'] / 2**20:>11.0f}"
        )

    for kind, sizes, title in (
        ("road", args.road, "one constraint (ten clauses, two auxiliaries per instance)"),
        ("wide", args.wide, "one clause of three literals per instance, one variable per clause"),
    ):
        if not sizes:
            continue
        print()
        print(f"the whole road: Model, {title}, build_cnf, save_to_file")
        print(
            f"{'foralls':>10} {'path':>7} {'clauses':>10} {'build s':>8} {'save s':>7} {'total s':>8} "
            f"{'file MiB':>9} {'peak MiB':>9} {'clauses MiB':>11} {'mapping MiB':>11} {'peak/(c+m)':>10}"
        )
        for size, path, result in runs(kind, sizes):
            written = result["clauses_mib"] + result["mapping_mib"]
            print(
                f"{size:>10} {path:>7} {result['clauses']:>10} {result['build']:>8.2f} {result['save']:>7.2f} "
                f"{result['build'] + result['save']:>8.2f} {result['file_mib']:>9.0f} {result['peak_mib']:>9.0f} "
                f"{result['clauses_mib']:>11.0f} {result['mapping_mib']:>11.0f} {result['peak_mib'] / written:>10.2f}"
            )


if __name__ == "__main__":
    main()
