"""Texts written by the operators and combinators, evaluated the way the model evaluates them,
mean the constraint they were written for (checked over every assignment of the variables)."""

from itertools import product

import pytest
from pysat.solvers import Solver

import orbeny.trelle.bxpr as bx
import orbeny.trelle.pbct as pb
from zorv_encoder.core.formulapb import FormulaPB
from zorv_encoder.core.manager import Manager
from zorv_encoder.core.pboperations import Sum as PBSum
from zorv_encoder.core.variable import Variable as CoreVariable
from zorv_encoder.encode import (
    And,
    AndIt,
    Equiv,
    IfThenElse,
    Implication,
    One,
    Or,
    OrIt,
    Sum,
    SumIt,
    Xor,
    XorIt,
    Zero,
    pow_expression,
)
from zorv_encoder.encode.variables import Index, Variable

x = Variable("x", {"k": 4}, 0)
y = Variable("y", {"i": 2, "j": 2}, 4)
i, j = Index("i"), Index("j")
NAMES = [f"x({k})" for k in range(4)] + [f"y({a},{b})" for a in range(2) for b in range(2)]


def evaluate(expr):
    """The value of the expression's text in a namespace laid out like the model's."""
    manager = Manager()
    for name in ("x", "y"):
        manager.registration_generator_variables(name)
    namespace = {"Sum": PBSum, "FormulaPB": FormulaPB, "bx": bx, "pb": pb, "manager": manager, "i": i, "j": j}
    namespace.update(manager.name2genvar)
    return eval(str(expr), namespace), manager


def literal(lit):
    text = str(lit)
    return (text[1:], False) if text.startswith("~") else (text, True)


def clauses(formula):
    if isinstance(formula, bx.One):
        return []
    if isinstance(formula, bx.Zero):
        return [[]]
    parts = formula.get_args() if isinstance(formula, bx.And) else [formula]
    return [[literal(lit) for lit in (part.get_args() if isinstance(part, bx.Or) else [part])] for part in parts]


def models(expr):
    """The assignments of NAMES (as 0/1 tuples) under which the hard constraint can hold."""
    value, manager = evaluate(expr)
    if isinstance(value, CoreVariable):
        value = value.to_bx()
    cnf = clauses(value.tseytin(manager.bx_context, "_bxpr_aux"))
    if [] in cnf:
        return set()
    numbers = {name: n for n, name in enumerate(NAMES, 1)}
    for clause in cnf:
        for name, _ in clause:
            assert name in numbers or name.startswith(("_pbct_aux", "_bxpr_aux")), name
            numbers.setdefault(name, len(numbers) + 1)
    found = set()
    with Solver(bootstrap_with=[[numbers[n] if s else -numbers[n] for n, s in c] for c in cnf]) as solver:
        for bits in product((0, 1), repeat=len(NAMES)):
            if solver.solve(assumptions=[n if b else -n for n, b in zip(range(1, len(NAMES) + 1), bits)]):
                found.add(bits)
    return found


def expected(meaning):
    return {bits for bits in product((0, 1), repeat=len(NAMES)) if meaning(bits[:4], (bits[4:6], bits[6:]))}


HARD = [
    (lambda: x[0] + x[1] <= 1, lambda X, Y: X[0] + X[1] <= 1),
    (lambda: 2 * x[0] - x[1] >= 1, lambda X, Y: 2 * X[0] - X[1] >= 1),
    (lambda: x[0] - (x[1] + x[2]) >= 0, lambda X, Y: X[0] - X[1] - X[2] >= 0),
    (lambda: (x[0] + x[1]) * 2 - x[2] * 3 == -1, lambda X, Y: 2 * X[0] + 2 * X[1] - 3 * X[2] == -1),
    (lambda: 1 <= x[3], lambda X, Y: X[3] >= 1),
    (lambda: Sum(x[i], i="range(4)") == 2, lambda X, Y: sum(X) == 2),
    (lambda: Sum(pow_expression(2, "i") * x[i], i="range(3)") <= 5, lambda X, Y: X[0] + 2 * X[1] + 4 * X[2] <= 5),
    (lambda: Sum(Sum(y[i, j], j="range(i, 2)"), i="range(2)") >= 2, lambda X, Y: Y[0][0] + Y[0][1] + Y[1][1] >= 2),
    (lambda: SumIt([x[0], 3 * x[1], x[2] - x[3]]) >= 2, lambda X, Y: X[0] + 3 * X[1] + X[2] - X[3] >= 2),
    (lambda: And(y[i, j], i="range(2)", j="range(i + 1)"), lambda X, Y: Y[0][0] and Y[1][0] and Y[1][1]),
    (lambda: Or(y[i, i], i="[0, 1]") & ~x[0], lambda X, Y: (Y[0][0] or Y[1][1]) and not X[0]),
    (lambda: Xor(x[i], i="range(3)") | x[3], lambda X, Y: (X[0] ^ X[1] ^ X[2]) or X[3]),
    (lambda: AndIt([x[0] <= 0, x[1]]) ^ x[2], lambda X, Y: (not X[0] and X[1]) != bool(X[2])),
    (lambda: OrIt((x[0], One & x[1])), lambda X, Y: X[0] or X[1]),
    (lambda: XorIt([x[0], x[1], Zero | x[2]]), lambda X, Y: X[0] ^ X[1] ^ X[2]),
    (lambda: Equiv(x[0], x[1], ~x[2]), lambda X, Y: X[0] == X[1] == 1 - X[2]),
    (lambda: Implication(x[0], Sum(y[1, j], j="range(2)") >= 1), lambda X, Y: not X[0] or Y[1][0] or Y[1][1]),
    (lambda: IfThenElse(x[0], x[1], ~(x[2] & x[3])), lambda X, Y: X[1] if X[0] else not (X[2] and X[3])),
    (lambda: x[3], lambda X, Y: X[3]),
]


@pytest.mark.parametrize("build, meaning", HARD, ids=[str(build()) for build, _ in HARD])
def test_hard_texts_mean_their_constraint(build, meaning):
    assert models(build()) == expected(meaning)


@pytest.mark.parametrize("minimization", [True, False])
def test_soft_text_costs_follow_the_term(minimization):
    term = 2 * x[0] - x[1] + SumIt([3 * x[2]]) - (x[3] - x[0])
    (soft_literals, weights), _ = evaluate(term.maxsat(minimization))
    literals = [literal(lit) for lit in soft_literals.get_args()]
    costs = set()
    for bits in product((0, 1), repeat=4):
        value = dict(zip(NAMES, bits))
        cost = sum(w for (name, positive), w in zip(literals, weights) if value[name] != positive)
        target = 3 * bits[0] - bits[1] + 3 * bits[2] - bits[3]
        costs.add(cost - target if minimization else cost + target)
    # the weighted violations differ from the term by a constant, the right way round
    assert len(costs) == 1


def test_symbolic_references_round_trip_to_variable_numbers():
    value, _ = evaluate(x[i + 1] & y[i, 2 * j - 1])
    names = sorted(str(lit) for lit in value.get_args())
    assert names == ["x(i + 1)", "y(i,2 * j - 1)"]
    # the dumper evaluates these names again with copies of the model's variables and numbers
    namespace = {"x": x.copy(), "y": y.copy(), "i": 0, "j": 1}
    assert [eval(name, namespace) for name in names] == [x(1), y(0, 1)]
