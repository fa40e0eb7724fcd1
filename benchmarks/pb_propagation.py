"""Propagation strength of the pseudo-Boolean encodings: under random partial assignments
of a constraint's variables, the share of conflicts and of forced literals that unit
propagation finds, for each shape the encoder tells apart (and so each construction it
picks), beside the binary merge (the selection's fallback for large one-sided weighted sums),
merging networks (its fallback for sums and counts too large for totalizers) and the compact
adder network on the same constraints in the same run.

The ground truth is semantic (which completions of the partial assignment meet the
constraint); unit propagation is python-sat's solver `propagate()` on the clauses.

    python benchmarks/pb_propagation.py
"""
import argparse
import random

from pysat.solvers import Solver

from orbeny.trelle import pbct as pb

N = 14
SAMPLES = 400
LEQ, GEQ, BOTH = pb.Comparator_type.LEQ, pb.Comparator_type.GEQ, pb.Comparator_type.BOTH


def shapes(rng):
    """(name, coefficients, comparator, bound) for each shape, over variables 1..N."""
    ones = [1] * N
    weights = [rng.randint(1, 30) for _ in range(N)]
    half = sum(weights) // 2
    return [
        ("at most one", ones, LEQ, 1),
        ("exactly one", ones, BOTH, 1),
        ("cardinality <= 4", ones, LEQ, 4),
        ("cardinality >= 9", ones, GEQ, 9),
        ("cardinality == 6", ones, BOTH, 6),
        ("weighted <= half", weights, LEQ, half),
        ("weighted >= half", weights, GEQ, half),
        ("weighted == half", weights, BOTH, half),
    ]


def encode(coefs, comparator, bound, construction):
    config = pb.PBConfig()
    config._construction = construction
    allocator = pb.AuxVarManager(N + 1)
    db = pb.VectorClauseDatabase(config)
    lits = [pb.WeightedLit(v + 1, c) for v, c in enumerate(coefs)]
    pb.pb2cnf(config).encode2(pb.PBConstraint(lits, comparator, bound), db, allocator)
    return db.get_clauses()


def reachable(coefs):
    """Every sum that some assignment of the given coefficients' variables reaches."""
    sums = {0}
    for c in coefs:
        sums |= {s + c for s in sums}
    return sums


def meets(total, comparator, bound):
    return total <= bound if comparator == LEQ else total >= bound if comparator == GEQ else total == bound


def truth(coefs, comparator, bound, fixed):
    """(conflict, forced literals) of the constraint under the partial assignment `fixed`."""
    base = sum(coefs[v - 1] for v, val in fixed.items() if val)
    free = [v for v in range(1, N + 1) if v not in fixed]

    def possible(extra, others):
        return any(meets(base + extra + s, comparator, bound) for s in reachable([coefs[u - 1] for u in others]))

    if not possible(0, free):
        return True, set()
    forced = set()
    for v in free:
        others = [u for u in free if u != v]
        if not possible(coefs[v - 1], others):
            forced.add(-v)
        elif not possible(0, others):
            forced.add(v)
    return False, forced


def measure(coefs, comparator, bound, construction, samples):
    clauses = encode(coefs, comparator, bound, construction)
    conflicts = found_conflicts = forced = found_forced = 0
    with Solver(name="m22", bootstrap_with=clauses) as solver:
        for fixed in samples:
            conflict, must = truth(coefs, comparator, bound, fixed)
            ok, implied = solver.propagate(assumptions=[v if val else -v for v, val in fixed.items()])
            if conflict:
                conflicts += 1
                found_conflicts += not ok
            else:
                forced += len(must)
                found_forced += len(must & set(implied)) if ok else 0
    return f"{len(clauses):>7} {share(found_conflicts, conflicts):>14} {share(found_forced, forced):>14}"


def share(part, whole):
    return f"{100 * part / whole:5.1f}% of {whole:<4}" if whole else "-"


def main():
    rng = random.Random(2012)
    print(f"{N} variables, {SAMPLES} random partial assignments per shape "
          "(each variable fixed with a probability drawn from 0.2..0.8)")
    columns = ["selected", "binary merge", "merging networks", "compact adder"]
    print(f"{'':<18} | " + " | ".join(f"{name:^37}" for name in columns))
    print(f"{'shape':<18} | " + " | ".join(f"{'clauses':>7} {'conflicts':>14} {'forced':>14}" for _ in columns))
    for name, coefs, comparator, bound in shapes(rng):
        samples = []
        for _ in range(SAMPLES):
            p = rng.uniform(0.2, 0.8)
            samples.append({v: rng.random() < 0.5 for v in range(1, N + 1) if rng.random() < p})
        # The binary merge takes one-sided constraints only, the networks counts of both sides too.
        none = f"{'-':^37}"
        merge = measure(coefs, comparator, bound, "binary_merge", samples) if comparator != BOTH else none
        networks = (measure(coefs, comparator, bound, "sorting_network", samples)
                    if comparator != BOTH or len(set(coefs)) == 1 else none)
        print(f"{name:<18} | {measure(coefs, comparator, bound, '', samples)} | {merge} | {networks} | "
              f"{measure(coefs, comparator, bound, 'compact_adder', samples)}")


if __name__ == "__main__":
    argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter).parse_args()
    main()
