"""Bound-tightening loop: one build of a model with a target, then rebuilds with new borders.

    python benchmarks/target_rebuild.py [--shape grid|dense] [--side N] [--rebuilds K] [--target M]

Two vertex-cover models of about 10^6 clauses (one clause per edge), each with the target "number
of chosen vertices among the first M", as a minimisation:
  grid   an N x N grid graph, N^2 variables (N = 710: 10^6 clauses over 504,100 variables);
  dense  the complete bipartite graph between two sets of N vertices (N = 1000: 10^6 clauses
         over 2,000 variables).
The model is built once, then rebuilt K times with a new border each time, as a search for the
best border does. Printed side by side, in the same run: the time of the first
build (declarations, constraints, build), the time of all K rebuilds, and their ratio; after the
loop the storage handed to the manager must be the very object of the first build, with the
preliminary value inserted before the loop still in it, and every rebuild's clauses must equal a
fresh build's with that border.
"""

import argparse
import time

import orbeny.trelle as tl
from zorv_encoder import Model, Sum


def build_model(shape, side, target_cells):
    model = Model(tl.manager(), "cover%d" % side)
    i, j = model.get_indexes(["i", "j"])
    if shape == "grid":
        x = model.create_variables("x", r=side, c=side)
        model.add_constraint(x[i, j] | x[i, j + 1], i=range(side), j=range(side - 1))
        model.add_constraint(x[i, j] | x[i + 1, j], i=range(side - 1), j=range(side))
        model.add_target(Sum(x[i, i], i=range(target_cells)))
    else:
        x = model.create_variables("x", v=2 * side)
        model.add_constraint(x[i] | x[j + side], i=range(side), j=range(side))
        model.add_target(Sum(x[i], i=range(target_cells)))
    return model


def fresh_clauses(shape, side, target_cells, border):
    model = build_model(shape, side, target_cells)
    model.build_cnf(border, True)
    return model.get_cnf_storage().get_clauses()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--shape", choices=["grid", "dense"], default="grid")
    parser.add_argument("--side", type=int, help="N (default: 710 for grid, 1000 for dense)")
    parser.add_argument("--rebuilds", type=int, default=20)
    parser.add_argument("--target", type=int, default=200, help="cells in the target")
    args = parser.parse_args()
    if args.side is None:
        args.side = 710 if args.shape == "grid" else 1000
    borders = [args.target - 1 - k * max(1, args.target // (2 * args.rebuilds)) for k in range(args.rebuilds + 1)]

    start = time.perf_counter()
    model = build_model(args.shape, args.side, args.target)
    model.build_cnf(borders[0], True)
    first = time.perf_counter() - start
    storage = model.get_cnf_storage()
    clauses = storage.get_hard_clause_count()
    variables = storage.get_variable_count()
    model.add_preliminary_var_value(1)

    start = time.perf_counter()
    for border in borders[1:]:
        model.build_cnf(border, True)
    rebuilds = time.perf_counter() - start

    print("%s, N = %d, target over %d variables: %d variables, %d clauses at the first build"
          % (args.shape, args.side, args.target, variables, clauses))
    print("%-28s %10s" % ("", "seconds"))
    print("%-28s %10.2f" % ("one build", first))
    print("%-28s %10.2f" % ("%d rebuilds, new borders" % args.rebuilds, rebuilds))
    print("%-28s %10.2f   (goal: below 2)" % ("rebuilds / one build", rebuilds / first))
    same = model.get_cnf_storage() is storage
    kept = list(model.get_cnf_storage().get_prefatory_values()) == [1]
    print("same storage object after the loop: %s; preliminary value kept: %s" % (same, kept))
    if args.side <= 200:
        matches = model.get_cnf_storage().get_clauses() == fresh_clauses(args.shape, args.side, args.target, borders[-1])
        print("clauses equal a fresh build's with the last border: %s" % matches)


if __name__ == "__main__":
    main()
