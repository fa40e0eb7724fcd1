"""Size and speed of the adder encoding of sum(w_i * x_i) <= 300, weights uniform in 1..100.

Prints, for n = 100 .. 600 literals, the clause and auxiliary counts and encoding time of the
compact adder network beside a textbook adder network counted in this run (full and half adders
defined by equivalences, reduced column by column, then a comparison with the bound) and two
published reference rows for the same benchmark (the common reference adder network and the
smallest published adder encoding), and the clauses of the construction the encoder selects
for the constraint. The size bar is no longer a goal: propagation strength is (see
pb_propagation.py); it is printed for reference.

Then the size and speed guard: encoding time, clauses and peak memory for 10^4- and
10^5-literal weighted and cardinality constraints with the bound at 300 and at half the total,
as the compact adder alone (the encoding before the selection) and as selected, in one run
(best of three);
the selection should stay within 3x of the adder. Last, the time Python needs merely to build
the input objects.

    python benchmarks/pb_adder.py
"""

import argparse
import random
import resource
import time

from orbeny.trelle import pbct as pb

SIZES = [100, 200, 300, 400, 500, 600]
REFERENCE_ADDER = [6271, 12652, 19165, 24846, 31113, 37506]
BEST_PUBLISHED = [2205, 4439, 6718, 8707, 10901, 13138]
BOUND = 300


def encode(weights, bound=BOUND, compact=True, comparator=pb.Comparator_type.LEQ):
    config = pb.PBConfig()
    config.pb_encoder = pb.PB_Encoder_type.ADDER
    config.max_clauses_per_constraint = 100_000_000
    config._construction = "compact_adder" if compact else ""
    allocator = pb.AuxVarManager(1)
    lits = [pb.WeightedLit(allocator.get_variable(), w) for w in weights]
    constraint = pb.PBConstraint(lits, comparator, bound)
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


def peak_mib():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


def main():
    rng = random.Random(2006)
    print(f"{'n':>5} {'clauses':>9} {'aux':>7} {'ms':>7} {'textbook':>9} "
          f"{'best published':>15} {'reference adder':>16} {'ours/best':>10} {'selected':>9}")
    for n, best, ref in zip(SIZES, BEST_PUBLISHED, REFERENCE_ADDER):
        weights = [rng.randint(1, 100) for _ in range(n)]
        clauses, aux, elapsed = encode(weights)
        selected = encode(weights, compact=False)[0]
        textbook = textbook_adder_clauses(weights)
        print(f"{n:>5} {clauses:>9,} {aux:>7,} {elapsed * 1e3:>7.2f} {textbook:>9,} "
              f"{best:>15,} {ref:>16,} {clauses / best:>10.3f} {selected:>9,}")

    print()
    print(f"{'constraint':<34} | {'adder: clauses':>14} {'s':>7} | {'selected: clauses':>17} {'s':>7} | "
          f"{'x clauses':>9} {'x time':>7} {'peak MiB':>9}")
    for n in (10_000, 100_000):
        weighted = [rng.randint(1, 100) for _ in range(n)]
        for name, weights in (("weighted 1..100", weighted), ("cardinality", [1] * n)):
            for bound in (BOUND, sum(weights) // 2):
                for cmp_name in ("<=", "=="):
                    comparator = pb.Comparator_type.LEQ if cmp_name == "<=" else pb.Comparator_type.BOTH
                    # Best of three: single runs of a few milliseconds are mostly noise.
                    before, _, t_before = min((encode(weights, bound, True, comparator) for _ in range(3)),
                                              key=lambda run: run[2])
                    after, _, t_after = min((encode(weights, bound, False, comparator) for _ in range(3)),
                                            key=lambda run: run[2])
                    label = f"{n:,} {name} {cmp_name} {bound:,}"
                    print(f"{label:<34} | {before:>14,} {t_before:>7.3f} | {after:>17,} {t_after:>7.3f} | "
                          f"{after / before:>9.2f} {t_after / t_before:>7.2f} {peak_mib():>9.0f}")

    n = 100_000
    weights = [rng.randint(1, 100) for _ in range(n)]
    start = time.perf_counter()
    [pb.WeightedLit(i + 1, w) for i, w in enumerate(weights)]
    build = time.perf_counter() - start
    print(f"building the {n:,} WeightedLit objects: {build:.3f} s")


if __name__ == "__main__":
    argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter).parse_args()
    main()
