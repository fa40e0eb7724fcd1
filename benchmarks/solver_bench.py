"""Solver time on our pseudo-Boolean and cardinality encodings, beside peer encoders' encodings
of the same constraints, solved in the same run by CaDiCaL 1.9.5 and Glucose 4 (python-sat).

    python benchmarks/solver_bench.py [--quick] [--cap 60] [--instances 4] [--jobs 1]
                                      [--families knapsack,partition,...] [--encoders ours,bdd,...]
                                      [--opb DIR]

A full run of the first four families took 17 minutes with --jobs 2 here; --cap 20 --instances 3
--jobs 2 (medium) 7 minutes. Pigeonhole, binpacking and a 22-file OPB folder with --cap 20
--jobs 3 took 21 minutes; --quick, 16 s.

Six families, generated from fixed seeds, and with --opb a seventh read from a folder; every
encoder gets the very same constraints:
  knapsack    multi-dimensional knapsack decision: 5 capacity rows and a profit row at the optimum
              (found by HiGHS): even seeds at the optimum (satisfiable), odd seeds one above (not)
  partition   multi-way number partitioning: each number in exactly one part, every part's sum
              equal to the others' (PB equalities), around a hidden partition
  tomography  discrete tomography: the counts of a hidden random image on rows, columns and both
              diagonal directions (cardinality equalities)
  queens      n-queens; ours is built through Model exactly as examples/queens.py does
  pigeonhole  n + 1 pigeons in n holes: at-least-one rows per pigeon, at-most-one rows per hole
  binpacking  items of weights 10-60, each in exactly one bin, one weighted capacity row per bin:
              even seeds 24-30 items in 4-5 bins at the least capacity that holds them all
              (found by HiGHS), odd seeds 16-18 items in 4 bins one below it (not)
  opb         every *.opb file of DIR (linear rows of the PB competitions' format, read by
              benchmarks/opb.py; an objective is ignored). NAME.s.opb is satisfiable, NAME.u.opb
              and pigeonhole* not, any other of unknown status: a model found by one encoding
              then proves wrong any UNSAT answer on it, and an unrefuted UNSAT counts as solved

Ours encodes each constraint of the first three families as the model does for an asserted
comparison: pb.PBConstraint, pb.pb2cnf(config).encode2 into a pb.VectorClauseDatabase, with the
model manager's configuration and variable allocator. Queens, pigeonhole, binpacking and opb go
through Model itself: one add_constraint per row, a negated literal's c ~x written as c - c x.
Peers: each pindakaas encoder that takes the family's constraints, and python-sat's own
cardinality encodings (CardEnc) on the families that have only cardinality constraints.
python-sat's PBEnc is listed only where it is not a wrapper around pindakaas (it is one in recent
releases, whose rows it would repeat). Peers come from the optional "bench" extra:
pip install -e ".[bench]".

PAR2 is the sum over a family's instances of the solve time, counting 2 x cap for a timeout, a
failed encoding (over the cap in time, or out of memory) or a wrong answer; an instance that no
encoding answers with a solver is left out of that solver's PAR2 (and said so). Conflicts are
summed beside it, to compare where times are too short to. Every answer is checked: a model
against the original constraints and the known status, unsatisfiability against the known status.
Each (instance, encoder) runs in a worker process of its own, so a crash, a runaway encoding or
memory exhaustion costs only that row; the worst-case wall time is printed before the run.
"""

import argparse
import importlib
import json
import operator
import os
import random
import resource
import selectors
import subprocess
import sys
import tempfile
import threading
import time
from concurrent.futures import ThreadPoolExecutor

HERE = os.path.dirname(os.path.abspath(__file__))
SOLVERS = [("CaDiCaL 1.9.5", "cadical195"), ("Glucose 4", "glucose4")]
MEMORY_LIMIT = 4 << 30  # bytes of address space per worker
RATIO_FLOOR = 0.01  # seconds: below this, solve times are noise
SETUP_SLACK = 30.0  # seconds for a worker to start, load clauses into a solver and check a model
COMPARE = {"<=": operator.le, ">=": operator.ge, "==": operator.eq}

# ---------------------------------------------------------------- instances
# A constraint is [variables, coefficients, comparator, bound] over variables 1..n, all
# coefficients positive; comparator is "<=", ">=" or "==".


def knapsack(seed, items, rows=5):
    rng = random.Random(seed)
    weights = [[rng.randint(1, 100) for _ in range(items)] for _ in range(rows)]
    profits = [rng.randint(1, 100) for _ in range(items)]
    capacities = [sum(row) // 2 for row in weights]
    optimum = _knapsack_optimum(weights, capacities, profits)
    variables = list(range(1, items + 1))
    constraints = [[variables, row, "<=", cap] for row, cap in zip(weights, capacities)]
    target = optimum + seed % 2
    constraints.append([variables, profits, ">=", target])
    return {"name": "knapsack n=%d #%d" % (items, seed), "variables": items,
            "constraints": constraints, "status": "SAT" if seed % 2 == 0 else "UNSAT"}


def _knapsack_optimum(weights, capacities, profits):
    columns = [{r: row[i] for r, row in enumerate(weights)} for i in range(len(profits))]
    return _highs_optimum(profits, True, columns, [(None, cap) for cap in capacities])


def _highs_optimum(costs, maximise, columns, rows, upper=None):
    """The exact optimum over integer columns ({row: coefficient} each; from 0 to upper, default
    1) and rows ((lower, upper) each, None for no bound) by HiGHS, an independent MILP solver
    already a runtime dependency."""
    import highspy
    import numpy as np
    from orbeny.trelle._lp import _highs_solver

    highs = _highs_solver()  # quiet, and optimal only at the proven optimum
    highs.setOptionValue("time_limit", 300.0)
    n, m = len(columns), len(rows)
    starts = np.cumsum([0] + [len(column) for column in columns]).astype(np.int32)
    index = np.array([r for column in columns for r in column], dtype=np.int32)
    value = np.array([c for column in columns for c in column.values()], dtype=np.float64)
    bound = lambda b, infinite: infinite if b is None else b  # noqa: E731
    highs.passModel(n, m, len(index), int(highspy.MatrixFormat.kColwise),
                    int(highspy.ObjSense.kMaximize if maximise else highspy.ObjSense.kMinimize),
                    0.0, np.array(costs, dtype=np.float64), np.zeros(n),
                    np.ones(n) if upper is None else np.array(upper, dtype=np.float64),
                    np.array([bound(lower, -highspy.kHighsInf) for lower, _ in rows], dtype=np.float64),
                    np.array([bound(upper, highspy.kHighsInf) for _, upper in rows], dtype=np.float64),
                    starts, index, value, np.ones(n, dtype=np.int32))
    highs.run()
    if highs.getModelStatus() != highspy.HighsModelStatus.kOptimal:
        raise RuntimeError("HiGHS did not prove the optimum")
    return round(highs.getInfo().objective_function_value)


def partition(seed, numbers, parts, bits):
    rng = random.Random(seed)
    values = [rng.randint(1, 1 << bits) for _ in range(numbers)]
    owner = [i % parts for i in range(numbers)]
    rng.shuffle(owner)
    # Raise the numbers of the lighter parts until every part weighs the same.
    sums = [sum(v for v, o in zip(values, owner) if o == p) for p in range(parts)]
    target = max(sums)
    for p in range(parts):
        members = [i for i in range(numbers) if owner[i] == p]
        missing = target - sums[p]
        for k, i in enumerate(members):
            values[i] += missing // len(members) + (k < missing % len(members))
    var = lambda i, p: i * parts + p + 1  # noqa: E731
    constraints = [[[var(i, p) for p in range(parts)], [1] * parts, "==", 1] for i in range(numbers)]
    constraints += [[[var(i, p) for i in range(numbers)], values, "==", target] for p in range(parts)]
    return {"name": "partition %d into %d, %d bits #%d" % (numbers, parts, bits, seed),
            "variables": numbers * parts, "constraints": constraints, "status": "SAT"}


def tomography(seed, size, density=0.5):
    rng = random.Random(seed)
    image = [[rng.random() < density for _ in range(size)] for _ in range(size)]
    lines = {}
    for r in range(size):
        for c in range(size):
            for key in (("row", r), ("col", c), ("diag", r - c), ("anti", r + c)):
                lines.setdefault(key, []).append((r, c))
    constraints = [[[r * size + c + 1 for r, c in cells], [1] * len(cells), "==",
                    sum(image[r][c] for r, c in cells)] for cells in lines.values()]
    return {"name": "tomography %dx%d #%d" % (size, size, seed), "variables": size * size,
            "constraints": constraints, "status": "SAT"}


def pigeonhole(holes):
    """holes + 1 pigeons: each in at least one hole, no two in one hole (unsatisfiable)."""
    var = lambda p, h: p * holes + h + 1  # noqa: E731
    pigeons = range(holes + 1)
    constraints = [[[var(p, h) for h in range(holes)], [1] * holes, ">=", 1] for p in pigeons]
    constraints += [[[var(p, h) for p in pigeons], [1] * (holes + 1), "<=", 1] for h in range(holes)]
    return {"name": "pigeonhole %d in %d" % (holes + 1, holes), "variables": (holes + 1) * holes,
            "constraints": constraints, "status": "UNSAT", "model": True}


def binpacking(seed, items, bins):
    """Each item in exactly one bin, one weighted capacity row per bin; the capacity is the least
    that holds every item (found by HiGHS): even seeds at it (satisfiable), odd seeds one below."""
    rng = random.Random(seed)
    weights = [rng.randint(10, 60) for _ in range(items)]
    # Columns: item i in bin b, then the largest load, which is minimised.
    columns = [{i: 1, items + b: weights[i]} for i in range(items) for b in range(bins)]
    columns.append({items + b: -1 for b in range(bins)})
    rows = [(1, 1)] * items + [(None, 0)] * bins
    least = _highs_optimum([0] * (items * bins) + [1], False, columns, rows,
                           [1] * (items * bins) + [sum(weights)])
    capacity = least - seed % 2
    var = lambda i, b: i * bins + b + 1  # noqa: E731
    constraints = [[[var(i, b) for b in range(bins)], [1] * bins, "==", 1] for i in range(items)]
    constraints += [[[var(i, b) for i in range(items)], weights, "<=", capacity] for b in range(bins)]
    return {"name": "binpacking %d in %d, capacity %d #%d" % (items, bins, capacity, seed),
            "variables": items * bins, "constraints": constraints,
            "status": "SAT" if seed % 2 == 0 else "UNSAT", "model": True}


def _binpacking(i):
    # Below the total weight's share of the bins, refuting takes every encoding time exponential
    # in the items (none refutes 24 items in a minute), so the unsatisfiable ones are smaller.
    if i % 2:
        return binpacking(i, 15 + i, 4)
    return binpacking(i, 24 + 2 * i, 4 + i // 2 % 2)


def queens(n):
    cell = lambda r, c: r * n + c + 1  # noqa: E731
    constraints = [[[cell(r, c) for c in range(n)], [1] * n, "==", 1] for r in range(n)]
    constraints += [[[cell(r, c) for r in range(n)], [1] * n, "==", 1] for c in range(n)]
    # The diagonals of examples/queens.py: every one with at least two cells.
    for d in range(-(n - 2), n - 1):
        cells = [cell(r, r - d) for r in range(max(0, d), min(n, n + d))]
        constraints.append([cells, [1] * len(cells), "<=", 1])
    for s in range(1, 2 * n - 2):
        cells = [cell(r, s - r) for r in range(max(0, s - n + 1), min(n, s + 1))]
        constraints.append([cells, [1] * len(cells), "<=", 1])
    return {"name": "queens %d" % n, "variables": n * n, "constraints": constraints,
            "status": "SAT", "queens": n}


def opb_instances(folder):
    """Every *.opb file of the folder, built through Model as ours. Status by name: NAME.s.opb
    satisfiable, NAME.u.opb and pigeonhole* unsatisfiable, any other unknown (None)."""
    from opb import read_opb

    instances = []
    for filename in sorted(f for f in os.listdir(folder) if f.endswith(".opb")):
        try:
            instance = read_opb(os.path.join(folder, filename))
        except (OSError, ValueError) as error:
            print("skipped %s: %s" % (filename, error))
            continue
        name = filename[:-len(".opb")]
        status = {".s": "SAT", ".u": "UNSAT"}.get(name[-2:])
        if name.startswith("pigeonhole"):
            status = "UNSAT"
        instance.update(name=name, status=status, model=True)
        instances.append(instance)
    return instances


# (family, shape, generator of the i-th instance) for a full run and for --quick.
FAMILIES = {
    "knapsack": ("pb", lambda i: knapsack(i, 30), lambda i: knapsack(i, 12)),
    "partition": ("pb", lambda i: partition(i, 24, 3, 16), lambda i: partition(i, 9, 3, 6)),
    "tomography": ("card", lambda i: tomography(i, 20), lambda i: tomography(i, 6)),
    "queens": ("amo", lambda i: queens(30 + 10 * i), lambda i: queens(6 + 2 * i)),
    "pigeonhole": ("amo", lambda i: pigeonhole(8 + i), lambda i: pigeonhole(4 + i)),
    "binpacking": ("pb", lambda i: _binpacking(i), lambda i: binpacking(i, 8, 3)),
}

# ---------------------------------------------------------------- encoders
# name -> (kind, argument, shapes taken). Shapes: "pb" any weights, "card" unit weights,
# "amo" unit weights and bound 1 (queens).
PK = ("pb", "card", "amo")
ENCODERS = {
    "ours": ("ours", None, PK),
    "pindakaas default": ("pk", (None, {}), PK),
    "pindakaas adder": ("pk", ("ADDER", {}), PK),
    "pindakaas BDD": ("pk", ("DECISION_DIAGRAM", {}), PK),
    "pindakaas totalizer": ("pk", ("TOTALIZER", {}), PK),
    "pindakaas seq. counter": ("pk", ("SEQUENTIAL_COUNTER", {}), PK),
    "pindakaas sorting net": ("pk", ("SORTING_NETWORK", {}), PK),
    "pindakaas binary merge": ("pk", ("WATCHDOG", {"sorting_networks": True}), PK),
    "pindakaas watchdog": ("pk", ("WATCHDOG", {}), PK),
    "pindakaas mixed radix": ("pk", ("MIXED_RADIX", {}), PK),
    "pindakaas pairwise": ("pk", ("PAIRWISE", {}), ("amo",)),
    "pindakaas ladder": ("pk", ("LADDER", {}), ("amo",)),
    "pindakaas bitwise": ("pk", ("BITWISE", {}), ("amo",)),
    "pindakaas product": ("pk", ("PRODUCT", {}), ("amo",)),
    "pysat seqcounter": ("card", "seqcounter", ("card", "amo")),
    "pysat sortnetwrk": ("card", "sortnetwrk", ("card", "amo")),
    "pysat cardnetwrk": ("card", "cardnetwrk", ("card", "amo")),
    "pysat totalizer": ("card", "totalizer", ("card", "amo")),
    "pysat mtotalizer": ("card", "mtotalizer", ("card", "amo")),
    "pysat kmtotalizer": ("card", "kmtotalizer", ("card", "amo")),
    "pysat pairwise": ("card", "pairwise", ("amo",)),
    "pysat ladder": ("card", "ladder", ("amo",)),
    "pysat bitwise": ("card", "bitwise", ("amo",)),
    "pysat PBEnc best": ("pbenc", "best", PK),
    "pysat PBEnc bdd": ("pbenc", "bdd", PK),
    "pysat PBEnc seqcounter": ("pbenc", "seqcounter", PK),
    "pysat PBEnc sortnetwrk": ("pbenc", "sortnetwrk", PK),
    "pysat PBEnc adder": ("pbenc", "adder", PK),
    "pysat PBEnc binmerge": ("pbenc", "binmerge", PK),
}


def encode_ours(instance):
    """Clauses, variable count and the solver variable of each instance variable."""
    if "queens" in instance:
        return _encode_queens_model(instance["queens"])
    if instance.get("model"):
        return _encode_model(instance)
    import orbeny.trelle.pbct as pb
    from zorv_encoder.core.manager import Manager

    manager = Manager()
    config, allocator = manager.pb_config, manager.pb_var_manager
    numbers = [0] + [allocator.get_variable() for _ in range(instance["variables"])]
    comparators = {"<=": pb.Comparator_type.LEQ, ">=": pb.Comparator_type.GEQ,
                   "==": pb.Comparator_type.BOTH}
    clauses = []
    for variables, coefficients, comparator, bound in instance["constraints"]:
        database = pb.VectorClauseDatabase(config)
        literals = [pb.WeightedLit(numbers[v], c) for v, c in zip(variables, coefficients)]
        pb.pb2cnf(config).encode2(pb.PBConstraint(literals, comparators[comparator], bound),
                                  database, allocator)
        clauses += database.get_clauses()
    return clauses, allocator.get_variable() - 1, numbers


def _encode_queens_model(n):
    sys.path.insert(0, os.path.join(HERE, "..", "examples"))
    import orbeny.trelle as tl
    from queens import build_queens

    model = build_queens(tl.manager(), n)
    return _model_cnf(model, ["q[%d,%d]" % (r, c) for r in range(n) for c in range(n)])


def _encode_model(instance):
    """Through Model: one declared block x[0..n-1] and one add_constraint per row."""
    import orbeny.trelle as tl
    from zorv_encoder import Model, SumIt

    model = Model(tl.manager(), "bench")
    x = model.create_variables("x", i=instance["variables"])
    for variables, coefficients, comparator, bound in instance["constraints"]:
        total = SumIt([c * x[v - 1] for v, c in zip(variables, coefficients)])
        model.add_constraint(COMPARE[comparator](total, bound))
    model.build_cnf()
    return _model_cnf(model, ["x[%d]" % i for i in range(instance["variables"])])


def _model_cnf(model, names):
    """A built model's clauses, variable count and the solver variable of each named one."""
    storage = model.get_cnf_storage()
    clauses = storage.get_clauses() + [[lit] for lit in storage.get_prefatory_values()]
    mapping = model.get_var_mapping().get_var_map()
    return clauses, storage.get_variable_count(), [0] + [mapping[name] for name in names]


def encode_pindakaas(instance, encoder, options):
    import pindakaas as pk

    cnf = pk.CNF()
    xs = [None] + list(cnf.new_vars(instance["variables"]))
    chosen = None if encoder is None else getattr(pk.Encoder, encoder)
    try:
        for variables, coefficients, comparator, bound in instance["constraints"]:
            total = sum(c * xs[v] for v, c in zip(variables, coefficients))
            cnf.add_encoding(COMPARE[comparator](total, bound), chosen, **options)
    except pk.Unsatisfiable:
        return None, 0, None
    clauses = [[int(lit) for lit in clause] for clause in cnf.clauses()]
    return clauses, len(list(cnf.variables())), list(range(instance["variables"] + 1))


def encode_pysat(instance, method, cardinality):
    from pysat.formula import IDPool

    if cardinality:
        from pysat.card import CardEnc as Enc, EncType
    else:
        from pysat.pb import PBEnc as Enc, EncType
    pool = IDPool(start_from=instance["variables"] + 1)
    encoding = getattr(EncType, method)
    clauses = []
    for variables, coefficients, comparator, bound in instance["constraints"]:
        build = {"<=": Enc.atmost, ">=": Enc.atleast, "==": Enc.equals}[comparator]
        if cardinality:
            clauses += build(lits=variables, bound=bound, vpool=pool, encoding=encoding).clauses
        else:
            clauses += build(lits=variables, weights=coefficients, bound=bound, vpool=pool,
                             encoding=encoding).clauses
    return clauses, max(pool.top, instance["variables"]), list(range(instance["variables"] + 1))


def encode(instance, encoder):
    kind, argument, _ = ENCODERS[encoder]
    if kind == "ours":
        return encode_ours(instance)
    if kind == "pk":
        return encode_pindakaas(instance, *argument)
    return encode_pysat(instance, argument, kind == "card")


# ---------------------------------------------------------------- worker


def satisfied(instance, model, numbers):
    true = {lit for lit in model if lit > 0}
    for variables, coefficients, comparator, bound in instance["constraints"]:
        total = sum(c for v, c in zip(variables, coefficients) if numbers[v] in true)
        if not COMPARE[comparator](total, bound):
            return False
    return True


def solve(clauses, cap):
    """(label, answer, seconds, conflicts, model) per solver; answer None on a timeout."""
    from pysat.solvers import Solver

    for label, name in SOLVERS:
        with Solver(name=name, bootstrap_with=clauses) as solver:
            start = time.perf_counter()
            if name == "glucose4":
                timer = threading.Timer(cap, solver.interrupt)
                timer.start()
                answer = solver.solve_limited(expect_interrupt=True)
                timer.cancel()
            else:
                answer = _solve_in_slices(solver, start + cap)
            elapsed = time.perf_counter() - start
            conflicts = solver.accum_stats().get("conflicts", 0)
            model = solver.get_model() if answer and elapsed < cap else None
        yield label, None if elapsed >= cap else answer, elapsed, conflicts, model


def _solve_in_slices(solver, deadline):
    # python-sat keeps the GIL while CaDiCaL solves, so no timer thread can interrupt it.
    # Conflict budgets instead: each at most four times the last and, at the last slice's
    # conflict rate, half the time left. That is a handful of calls, few enough to leave the
    # search as it is, and rarely past the deadline although the rate falls as the search goes.
    budget, done = 1000, 0
    while True:
        begun = time.perf_counter()
        solver.conf_budget(budget)
        answer = solver.solve_limited()
        now = time.perf_counter()
        if answer is not None or now >= deadline:
            return answer
        total = solver.accum_stats().get("conflicts", 0)
        rate = (total - done) / max(now - begun, 1e-3)
        budget, done = max(1000, min(4 * budget, int(rate * (deadline - now) / 2))), total


def worker():
    job = json.load(sys.stdin)
    instance, cap = job["instance"], job["cap"]
    resource.setrlimit(resource.RLIMIT_AS, (MEMORY_LIMIT, MEMORY_LIMIT))

    def report(**fields):
        print(json.dumps(fields), flush=True)

    # Imports are not encoding time; only the encoder's own, as a worker's start-up is most of
    # a quick run.
    modules = {"ours": ("zorv_encoder", "zorv_encoder.core.manager"), "pk": ("pindakaas",),
               "card": ("pysat.card",), "pbenc": ("pysat.pb",)}
    for module in modules[ENCODERS[job["encoder"]][0]]:
        try:
            importlib.import_module(module)
        except Exception:  # a missing peer; python-sat asserts rather than raising ImportError
            pass
    start = time.perf_counter()
    clauses, variables, numbers = encode(instance, job["encoder"])
    seconds = time.perf_counter() - start
    if clauses is None:  # the encoder itself found the constraints unsatisfiable
        report(phase="encoded", clauses=0, variables=variables, seconds=seconds)
        for label, _ in SOLVERS:
            report(phase="solved", solver=label, result="UNSAT", seconds=0.0, conflicts=0,
                   wrong=instance["status"] == "SAT")
        return
    report(phase="encoded", clauses=len(clauses), variables=variables, seconds=seconds)
    for label, answer, elapsed, conflicts, model in solve(clauses, cap):
        if answer is None:
            result, wrong = "TIMEOUT", False
        elif answer:
            # A checked model on an instance known unsatisfiable means the constraints reached
            # the encoders wrong: flagged, not passed.
            result = "SAT"
            wrong = not satisfied(instance, model, numbers) or instance["status"] == "UNSAT"
        else:
            result, wrong = "UNSAT", instance["status"] == "SAT"
        report(phase="solved", solver=label, result=result, seconds=elapsed,
               conflicts=conflicts, wrong=wrong)


# ---------------------------------------------------------------- parent


def run_job(instance, encoder, cap):
    """Run one worker with a deadline per phase; return its encoded and solved records."""
    # stderr goes to a file: a worker blocked on a full pipe would look like one over the cap.
    errors = tempfile.TemporaryFile(mode="w+")
    process = subprocess.Popen([sys.executable, os.path.abspath(__file__), "--worker"],
                               stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=errors, text=True)
    process.stdin.write(json.dumps({"instance": instance, "encoder": encoder, "cap": cap}))
    process.stdin.close()
    records, failure = [], None
    selector = selectors.DefaultSelector()
    selector.register(process.stdout, selectors.EVENT_READ)
    # Encoding may take up to the cap; each solver the cap plus time to load and check.
    deadline = time.monotonic() + cap + SETUP_SLACK
    while len(records) < 1 + len(SOLVERS):
        if not selector.select(timeout=max(0.0, deadline - time.monotonic())):
            failure = "encoding over the cap" if not records else "solver over the cap"
            process.kill()
            break
        line = process.stdout.readline()
        if not line:
            process.wait()
            errors.seek(0)
            failure = _failure(errors.read(), process.returncode)
            break
        records.append(json.loads(line))
        deadline = time.monotonic() + cap + SETUP_SLACK
    process.wait()
    selector.close()
    process.stdout.close()
    errors.close()
    return records, failure


def _failure(stderr, code):
    """One line on why a worker died: a Python exception's last line, else the first line
    (a Rust panic or a failed allocation)."""
    lines = [line for line in stderr.splitlines() if line.strip()]
    if not lines:
        return "worker died (exit %s)" % code
    return lines[-1] if lines[0].startswith("Traceback") else lines[0]


def summarise(results, cap, counted):
    """Per solver: PAR2, timeouts (failures included), errors, conflicts, over the instances
    counted for that solver (counted[label] holds their positions in results)."""
    encoded = [r[0] for r, _ in results if r]
    row = {"encoded": len(encoded), "variables": sum(e["variables"] for e in encoded) / max(1, len(encoded)),
           "clauses": sum(e["clauses"] for e in encoded) / max(1, len(encoded)),
           "encode": sum(e["seconds"] for e in encoded) / max(1, len(encoded)),
           "failures": [f for _, f in results if f], "solvers": {}}
    for label, _ in SOLVERS:
        par2, timeouts, wrong, conflicts = 0.0, 0, 0, 0
        for position, (records, _) in enumerate(results):
            if position not in counted[label]:
                continue
            solved = [r for r in records[1:] if r["solver"] == label]
            if not solved or solved[0]["result"] == "TIMEOUT" or solved[0]["wrong"]:
                par2 += 2 * cap
                timeouts += not (solved and solved[0]["wrong"])
                wrong += bool(solved and solved[0]["wrong"])
            else:
                par2 += solved[0]["seconds"]
            conflicts += solved[0]["conflicts"] if solved else 0
        row["solvers"][label] = (par2, timeouts, wrong, conflicts)
    return row


def available_encoders(selected):
    names, notes = [], []
    try:
        import pindakaas  # noqa: F401
        have_pk = True
    except ImportError:
        have_pk = False
        notes.append("pindakaas is not installed (pip install -e \".[bench]\"): its rows are skipped")
    try:
        import pysat.pb

        # Recent python-sat releases hand PBEnc to pindakaas, whose rows it would only repeat.
        have_pbenc = "pindakaas" not in (pysat.pb.__doc__ or "").lower()
        if not have_pbenc:
            notes.append("python-sat's PBEnc wraps pindakaas here: see the pindakaas rows")
    except Exception:  # python-sat asserts when PBEnc's backend is missing
        have_pbenc = False
    for name, (kind, _, _) in ENCODERS.items():
        if kind == "pk" and not have_pk or kind == "pbenc" and not have_pbenc:
            continue
        if selected and not any(s.strip().lower() in name.lower() for s in selected):
            continue
        names.append(name)
    return names, notes


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help="tiny instances and a 2 s cap")
    parser.add_argument("--cap", type=float, help="seconds per solver call (default 60, quick 2)")
    parser.add_argument("--instances", type=int, default=None,
                        help="instances per family (default 4, quick 2)")
    parser.add_argument("--families", default=None,
                        help="comma-separated, of %s and opb (default: all; opb with --opb)"
                        % ",".join(FAMILIES))
    parser.add_argument("--opb", metavar="DIR", help="a folder of OPB instances: the opb family")
    parser.add_argument("--encoders", default="",
                        help="comma-separated parts of encoder names to keep, e.g. ours,BDD")
    parser.add_argument("--jobs", type=int, default=1, help="workers at a time (timings compete)")
    parser.add_argument("--worker", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.worker:
        worker()
        return
    cap = args.cap if args.cap is not None else (2.0 if args.quick else 60.0)
    count = args.instances if args.instances is not None else (2 if args.quick else 4)
    chosen = args.families if args.families is not None else ",".join(
        list(FAMILIES) + (["opb"] if args.opb else []))
    families = [f.strip() for f in chosen.split(",") if f.strip()]
    unknown = [f for f in families if f not in FAMILIES and f != "opb"]
    if unknown or "opb" in families and not args.opb:
        parser.error("unknown family %s" % ",".join(unknown) if unknown else "opb needs --opb DIR")
    encoders, notes = available_encoders([s for s in args.encoders.split(",") if s.strip()])
    for note in notes:
        print(note)

    started = time.perf_counter()
    plan = []
    for family in families:
        if family == "opb":
            shape, instances = "pb", opb_instances(args.opb)
        else:
            shape, full, small = FAMILIES[family]
            instances = [(small if args.quick else full)(i) for i in range(count)]
        plan.append((family, instances, [e for e in encoders if shape in ENCODERS[e][2]]))
    runs = sum(len(instances) * len(names) for _, instances, names in plan)
    bound = runs * (1 + len(SOLVERS)) * (cap + SETUP_SLACK) / max(1, args.jobs)
    print("%d runs (instance x encoding), cap %g s, %d at a time: at most %.0f s of wall time"
          % (runs, cap, args.jobs, bound + time.perf_counter() - started), flush=True)

    summary, done = [], 0
    with ThreadPoolExecutor(max_workers=max(1, args.jobs)) as pool:
        for family, instances, names in plan:
            futures = {(i, e): pool.submit(run_job, instances[i], e, cap)
                       for i in range(len(instances)) for e in names}
            outcomes = {}
            for key, future in futures.items():
                outcomes[key] = future.result()
                done += 1
                print("[%d/%d %.0f s] %s, %s" % (done, runs, time.perf_counter() - started,
                                                 instances[key[0]]["name"], key[1]),
                      file=sys.stderr, flush=True)
            summary += print_family(family, instances, names, outcomes, cap)

    if summary:
        print("\nours against the best peer encoding (PAR2 s, lower is better; the ratio counts"
              " a PAR2 below %g s as %g s), with the conflicts of each" % (RATIO_FLOOR, RATIO_FLOOR))
        print("%-11s %-14s %9s %9s  %-24s %7s %11s %11s" % (
            "family", "solver", "ours", "best", "peer", "ratio", "ours confl.", "peer confl."))
        for family, label, ours, best, who, ours_conflicts, peer_conflicts in summary:
            print("%-11s %-14s %9.2f %9.2f  %-24s %7.2f %11d %11d" % (
                family, label, ours, best, who, max(ours, RATIO_FLOOR) / max(best, RATIO_FLOOR),
                ours_conflicts, peer_conflicts))
    print("\nwall time %.0f s" % (time.perf_counter() - started))


def cross_check(instances, names, outcomes):
    """On an instance of unknown status, a checked model proves the UNSAT answers wrong: mark
    them so. Notes on what is left unconfirmed."""
    notes = []
    for i, instance in enumerate(instances):
        if instance["status"] is not None:
            continue
        records = [r for name in names for r in outcomes[(i, name)][0][1:]]
        if any(r["result"] == "SAT" and not r["wrong"] for r in records):
            refuted = [r for r in records if r["result"] == "UNSAT"]
            for record in refuted:
                record["wrong"] = True
            if refuted:
                notes.append("%s: a checked model, yet %d UNSAT answer(s): counted wrong"
                             % (instance["name"], len(refuted)))
        elif any(r["result"] == "UNSAT" for r in records):
            notes.append("%s (status unknown): UNSAT, by %d answer(s), counted as solved "
                         "though unconfirmed" % (instance["name"], sum(r["result"] == "UNSAT"
                                                                       for r in records)))
    return notes


def print_family(family, instances, names, outcomes, cap):
    """Print the family's table; return (family, solver, ours, best peer, its name, ours'
    conflicts, its conflicts) rows."""
    print("\n%s: %s; cap %g s" % (family, ", ".join(i["name"] for i in instances), cap))
    for note in cross_check(instances, names, outcomes):
        print("    " + note)
    # An instance that every encoding leaves unanswered adds the same to each PAR2; left out.
    # A wrong answer keeps it in, so that the answer shows.
    counted = {}
    for label, _ in SOLVERS:
        counted[label] = {i for i in range(len(instances)) if any(
            r["solver"] == label and r["result"] != "TIMEOUT"
            for name in names for r in outcomes[(i, name)][0][1:])}
        if len(counted[label]) < len(instances):
            print("    %s: %d of %d instances answered by some encoding; PAR2 counts only those"
                  % (label, len(counted[label]), len(instances)))
    top = "%-24s %8s %9s %7s" % ("", "", "", "")
    header = "%-24s %8s %9s %7s" % ("encoding", "vars", "clauses", "enc s")
    for label, _ in SOLVERS:
        top += " | %-23s" % label
        header += " | %8s %3s %10s" % ("PAR2 s", "TO", "conflicts")
    print(top)
    print(header)
    rows = {}
    for name in names:
        row = rows[name] = summarise([outcomes[(i, name)] for i in range(len(instances))], cap, counted)
        if row["encoded"]:
            line = "%-24s %8.0f %9.0f %7.2f" % (name, row["variables"], row["clauses"], row["encode"])
        else:
            line = "%-24s %8s %9s %7s" % (name, "-", "-", "-")
        for label, _ in SOLVERS:
            par2, timeouts, wrong, conflicts = row["solvers"][label]
            line += " | %8.2f %3d %10d" % (par2, timeouts, conflicts)
            line += "  WRONG x%d" % wrong if wrong else ""
        print(line)
        if row["failures"]:
            kinds = {}
            for failure in row["failures"]:
                kinds[failure] = kinds.get(failure, 0) + 1
            print("    %s failed %d time(s): %s" % (name, len(row["failures"]), "; ".join(
                failure + (" (x%d)" % times if times > 1 else "") for failure, times in kinds.items())))
    sys.stdout.flush()
    summary = []
    if "ours" in rows:
        for label, _ in SOLVERS:
            peers = [(rows[n]["solvers"][label][0], rows[n]["solvers"][label][3], n)
                     for n in rows if n != "ours"]
            if peers:
                best, conflicts, who = min(peers)
                ours = rows["ours"]["solvers"][label]
                summary.append((family, label, ours[0], best, who, ours[3], conflicts))
    return summary


if __name__ == "__main__":
    main()
