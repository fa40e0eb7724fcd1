"""Fill an n x n Latin square (each symbol once in every row and every column), built on the formula
encoder road: the engine reads each constraint text once and instantiates it over its foralls.

    python examples/latin_square.py [n]      (n defaults to 5)

It solves the square with python-sat and checks two different solutions with check_another_witness,
which evaluates the constraints as written, independently of their clauses. python-sat is a test
dependency, not a runtime one: install it with `pip install python-sat` (or the ".[test]" extra).
"""
import sys

import orbeny.trelle as tl
from zorv_encoder import Model, Sum

try:
    from pysat.solvers import Solver
except ImportError:  # python-sat is only needed to solve, not to encode
    Solver = None


def build_latin_square(tmanager, n):
    model = Model(tmanager, "latin%d" % n, True)  # True: the formula-encoder road
    x = model.create_variables("x", row=n, col=n, sym=n)  # x[r, c, s]: cell (r, c) holds s
    r, c, s = model.get_indexes(["r", "c", "s"])
    model.add_constraint(Sum(x[r, c, s], s=range(n)) == 1, r=range(n), c=range(n))
    model.add_constraint(Sum(x[r, c, s], c=range(n)) == 1, r=range(n), s=range(n))
    model.add_constraint(Sum(x[r, c, s], r=range(n)) == 1, c=range(n), s=range(n))
    model.build_cnf()
    return model


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 5
    model = build_latin_square(tl.manager(), n)
    storage = model.get_cnf_storage()
    print("latin%d: %d variables, %d clauses" % (n, storage.get_variable_count(), storage.get_clause_count()))
    if Solver is None:
        print("python-sat is not installed: nothing solved")
        return
    with Solver(name="g3", bootstrap_with=storage.get_clauses()) as solver:
        solver.solve()
        first = solver.get_model()
        # Ask for another square: block the first one's cells.
        solver.add_clause([-v for v in first[: n ** 3] if v > 0])
        solver.solve()
        second = solver.get_model()
    model.set_witness(first)
    model.set_another_witness(second)
    print("second solution checked against the constraints:", model.check_another_witness())
    for row in range(n):
        print(" ".join(str(next(s for s in range(n) if second[(row * n + col) * n + s] > 0))
                       for col in range(n)))


if __name__ == "__main__":
    main()
