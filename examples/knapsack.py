"""Pack items of given weights into a bag of limited capacity, for a total value of at least a border.

    python examples/knapsack.py [border]     (border defaults to 50; writes knapsack.cnf)

The total value is the model's target. Each CNF build bounds it anew, so raising the border on the
same model until the formula becomes unsatisfiable finds the best packing.
"""
import sys

import orbeny.trelle as tl
from zorv_encoder import Model, SumIt

WEIGHTS = [12, 7, 11, 8, 9, 6]
VALUES = [24, 13, 23, 15, 16, 9]
CAPACITY = 26


def build_knapsack(tmanager):
    model = Model(tmanager, "knapsack")
    take = model.create_variables("take", item=len(WEIGHTS))  # take[k]: item k goes into the bag

    # Hard constraint: the packed weight stays within the capacity.
    model.add_constraint(SumIt([w * take[k] for k, w in enumerate(WEIGHTS)]) <= CAPACITY)
    # The target: the packed value. It gets its border at the build.
    model.add_target(SumIt([v * take[k] for k, v in enumerate(VALUES)]))
    return model


def main():
    border = int(sys.argv[1]) if len(sys.argv) > 1 else 50
    model = build_knapsack(tl.manager())
    model.build_cnf(border, False)  # minimization False: the target must be at least the border
    model.save_to_file("knapsack.cnf")
    storage = model.get_cnf_storage()
    print("knapsack.cnf: %d items, capacity %d, value at least %d: %d variables, %d clauses"
          % (len(WEIGHTS), CAPACITY, border, storage.get_variable_count(), storage.get_clause_count()))


if __name__ == "__main__":
    main()
