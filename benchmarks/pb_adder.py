"""Size and speed of the adder encoding of sum(w_i * x_i) <= 300, weights uniform in 1..100.

Prints, for n = 100 .. 600 literals, our clause and auxiliary counts and encoding time beside
a textbook adder network counted in this run (full and half adders defined by equivalences,
reduced column by column, then a comparison with the bound) and two published reference rows
for the same benchmark (the common reference adder network and the smallest published adder
encoding); then the time to encode 100,000 literals next to the time Python needs merely to
build the input objects.

    python benchmarks/pb_adder.py
"""

import random
import time

from orbeny.trelle import pbct as pb

SIZES = [100, 200, 300, 400, 500, 600]
REFERENCE_ADDER = [6271, 12652, 19165, 24846, 31113, 37506]
BEST_PUBLISHED = [2205, 4439, 6718, 8707, 10901, 13138]
BOUND = 300


def encode(weights, bound=BOUND):
    config = pb.PBConfig()
    config.pb_encoder = pb.PB_Encoder_type.ADDER
    config.max_clauses_per_constraint = 100_000_000
    allocator = pb.AuxVarManager(1)
    lits = [pb.WeightedLit(allocator.get_variable(), w) for w in weights]
    constraint = pb.PBConstraint(lits, pb.Comparator_type.LEQ, bound)
    db = pb.VectorClauseDatabase(config)
    start = time.perf_counter()
    pb.pb2cnf(config).encode2(constraint, db, allocator)
    elapsed = time.perf_counter() - start
    aux = allocator.get_variable() - 1 - len(weights)
    return len(db), aux, elapsed


def textbook_adder_clauses(weights, bound=BOUND):
    """Clauses of the textbook network: a full adder is 14 clauses, a half adder 7, and
    the comparison one clause per 0 digit of the bound plus one per bit above it."""
    columns = [0] * (sum(weights).bit_length() + 1)
    for w in weights:
        for j in range(w.bit_length()):
            columns[j] += w >> j & 1
    clauses = 0
    for j, count in enumerate(columns):
        while count >= 2:
            clauses += 14 if count >= 3 else 7
            count -= 2 if count >= 3 else 1
            columns[j + 1] += 1
    return clauses + sum(1 for j in range(len(columns)) if not bound >> j & 1)


def main():
    rng = random.Random(2006)
    print(f"{'n':>5} {'clauses':>9} {'aux':>7} {'ms':>7} {'textbook':>9} "
          f"{'best published':>15} {'reference adder':>16} {'ours/best':>10}")
    for n, best, ref in zip(SIZES, BEST_PUBLISHED, REFERENCE_ADDER):
        weights = [rng.randint(1, 100) for _ in range(n)]
        clauses, aux, elapsed = encode(weights)
        textbook = textbook_adder_clauses(weights)
        print(f"{n:>5} {clauses:>9,} {aux:>7,} {elapsed * 1e3:>7.2f} {textbook:>9,} "
              f"{best:>15,} {ref:>16,} {clauses / best:>10.3f}")

    n = 100_000
    weights = [rng.randint(1, 100) for _ in range(n)]
    start = time.perf_counter()
    [pb.WeightedLit(i + 1, w) for i, w in enumerate(weights)]
    build = time.perf_counter() - start
    for bound in (BOUND, sum(weights) // 2):
        clauses, aux, elapsed = encode(weights, bound)
        print(f"n = {n:,}, bound {bound:,}: {clauses:,} clauses, {aux:,} auxiliaries, "
              f"encoded in {elapsed:.3f} s (building the {n:,} WeightedLit objects: {build:.3f} s)")


if __name__ == "__main__":
    main()
