"""Guard every edge of a grid with as little cost as possible: a weighted MaxSAT model, written as WCNF.

    python examples/vertex_cover.py          (writes vertex_cover.wcnf)

Hard clauses: each edge between neighbouring cells needs a guard at one of its two ends.
Soft clauses: each guard placed costs the weight of its cell. A MaxSAT solver finds the cheapest cover.
"""
import orbeny.trelle as tl
from zorv_encoder import Model, SumIt

COST = [
    [3, 1, 4, 1],
    [5, 9, 2, 6],
    [5, 3, 5, 8],
]


def build_cover(tmanager):
    rows, cols = len(COST), len(COST[0])
    model = Model(tmanager, "vertex_cover")
    x = model.create_variables("x", row=rows, col=cols)  # x[r, c]: a guard stands on cell (r, c)
    i, j = model.get_indexes(["i", "j"])

    # Horizontal and vertical edges, one template each over their foralls.
    model.add_constraint(x[i, j] | x[i, j + 1], i=range(rows), j=range(cols - 1))
    model.add_constraint(x[i, j] | x[i + 1, j], i=range(rows - 1), j=range(cols))

    # The soft part: the total cost of the guards, to be minimized.
    cost = SumIt([COST[r][c] * x[r, c] for r in range(rows) for c in range(cols)])
    model.add_soft_constraint(cost, minimization=True)
    model.build_wcnf()
    return model


def main():
    model = build_cover(tl.manager())
    model.save_to_file("vertex_cover.wcnf")
    storage = model.get_cnf_storage()
    print("vertex_cover.wcnf: %d x %d grid, %d variables, %d hard and %d soft clauses"
          % (len(COST), len(COST[0]), storage.get_variable_count(), storage.get_hard_clause_count(),
             storage.get_soft_clause_count()))


if __name__ == "__main__":
    main()
