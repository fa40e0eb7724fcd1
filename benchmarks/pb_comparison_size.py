"""Size of a pseudo-Boolean comparison in clauses: FormulaPB.to_bx followed by the Tseytin
transformation (exact wherever the comparison stands, negated or inside an equivalence too),
against the pb encoder's own one-directional clauses (exact in positive position only).

    python benchmarks/pb_comparison_size.py
"""
import argparse
import random
import time

import orbeny.trelle.bxpr as bx
import orbeny.trelle.pbct as pb
from zorv_encoder.core.formulapb import FormulaPB
from zorv_encoder.core.manager import Manager
from zorv_encoder.core.pboperations import Sum


def clause_count(formula):
    if isinstance(formula, bx.One):
        return 0
    return len(formula.get_args()) if isinstance(formula, bx.And) else 1


def main():
    rng = random.Random(1)
    cases = [(3, 1, "LEQ", 1), (10, 1, "LEQ", 1), (50, 1, "LEQ", 1), (50, 1, "LEQ", 16),
             (200, 1, "GEQ", 66), (50, 20, "LEQ", None), (200, 100, "BOTH", None)]
    print(f"{'terms':>6} {'max w':>6} {'cmp':>5} {'bound':>6} | {'encoder clauses':>15} | "
          f"{'to_bx+tseytin clauses':>21} {'aux':>6} {'ms':>7}")
    for n, wmax, cmp, bound in cases:
        manager = Manager()
        manager.registration_generator_variables("x")
        x = manager.name2genvar["x"]
        weights = [rng.randint(1, wmax) for _ in range(n)]
        if bound is None:
            bound = sum(weights) // 3
        term = Sum(*[w * x(i).to_pb() for i, w in enumerate(weights)])
        comparator = getattr(pb.Comparator_type, cmp)

        database = pb.VectorClauseDatabase(manager.pb_config)
        pb.pb2cnf(manager.pb_config).encode2(
            pb.PBConstraint(term.to_pb(), comparator, bound), database, manager.pb_var_manager)

        start = time.perf_counter()
        cnf = FormulaPB(term, comparator, bound).to_bx(manager).tseytin(manager.bx_context, "_bxpr_aux")
        elapsed = (time.perf_counter() - start) * 1e3
        aux = sum(1 for v in cnf.support() if str(v).startswith("_bxpr_aux"))
        print(f"{n:>6} {wmax:>6} {cmp:>5} {bound:>6} | {len(database.get_clauses()):>15} | "
              f"{clause_count(cnf):>21} {aux:>6} {elapsed:>7.1f}")


if __name__ == "__main__":
    argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter).parse_args()
    main()
