"""Place n queens on an n x n chess board so that no two attack each other, written as CNF.

    python examples/queens.py [n]        (n defaults to 8; writes queens<n>.cnf)

Any SAT solver reads the file; each solution gives one queen per row in the lines "c q[r,c] ...".
"""
import sys

import orbeny.trelle as tl
from zorv_encoder import Model, Sum, SumIt


def build_queens(tmanager, n):
    model = Model(tmanager, "queens%d" % n)
    # q[r, c] is true when a queen stands on row r, column c.
    q = model.create_variables("q", row=n, col=n)
    i, j = model.get_indexes(["i", "j"])

    # One template per rule, instantiated for every value of its forall index:
    # exactly one queen in each row i, and exactly one in each column j.
    model.add_constraint(Sum(q[i, j], j=range(n)) == 1, i=range(n))
    model.add_constraint(Sum(q[i, j], i=range(n)) == 1, j=range(n))

    # At most one queen on each diagonal. Diagonals have different lengths,
    # so they are listed cell by cell.
    for d in range(-(n - 2), n - 1):  # cells with r - c == d
        model.add_constraint(SumIt([q[r, r - d] for r in range(max(0, d), min(n, n + d))]) <= 1)
    for s in range(1, 2 * n - 2):  # cells with r + c == s
        model.add_constraint(SumIt([q[r, s - r] for r in range(max(0, s - n + 1), min(n, s + 1))]) <= 1)

    model.build_cnf()
    return model


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 8
    model = build_queens(tl.manager(), n)
    filename = "queens%d.cnf" % n
    model.save_to_file(filename)
    storage = model.get_cnf_storage()
    print("%s: %d x %d board, %d variables (%d of them queens), %d clauses"
          % (filename, n, n, storage.get_variable_count(), n * n, storage.get_clause_count()))


if __name__ == "__main__":
    main()
