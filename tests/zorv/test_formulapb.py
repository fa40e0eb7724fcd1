import itertools
import random

import pytest
from hypothesis import given, settings, strategies as st
from pysat.solvers import Solver

import orbeny.trelle as tl
import orbeny.trelle.bxpr as bx
import orbeny.trelle.pbct as pb
from zorv_encoder.core.formulapb import FormulaPB, _assert_comparisons
from zorv_encoder.core.manager import Manager
from zorv_encoder.core.pboperations import PBVariable as Var, Sum

CMP = {
    "LEQ": lambda s, k: s <= k,
    "GEQ": lambda s, k: s >= k,
    "BOTH": lambda s, k: s == k,
}


def model_with(*names):
    manager = Manager()
    for name in names:
        manager.registration_generator_variables(name)
    return manager


def clauses_of(formula, ids):
    """Clause form (as tseytin returns it) to integer clauses, numbering names in `ids`."""
    def lit(node):
        text = str(node)
        neg = text.startswith("~")
        num = ids.setdefault(text[1:] if neg else text, len(ids) + 1)
        return -num if neg else num

    def clause(node):
        return [lit(a) for a in node.get_args()] if isinstance(node, bx.Or) else [lit(node)]

    if isinstance(formula, bx.One):
        return []
    if isinstance(formula, bx.Zero):
        return [[]]
    if isinstance(formula, bx.And):
        return [clause(c) for c in formula.get_args()]
    return [clause(formula)]


# A term over the generator's variables: leaves k * x(i) combined by +, -, Sum and scaling.
leaf = st.tuples(st.integers(-4, 4), st.integers(0, 3))


@st.composite
def terms(draw):
    def build(depth):
        kind = draw(st.sampled_from(["leaf", "add", "sub", "sum", "scale"] if depth < 3 else ["leaf"]))
        if kind == "leaf":
            k, i = draw(leaf)
            return ("leaf", k, i)
        if kind == "sum":
            return ("sum", [build(depth + 1) for _ in range(draw(st.integers(0, 3)))])
        if kind == "scale":
            return ("scale", draw(st.integers(-3, 3)), build(depth + 1))
        return (kind, build(depth + 1), build(depth + 1))
    return build(0)


def realise(shape, x):
    """The term object of `shape` and its value function over an assignment."""
    kind = shape[0]
    if kind == "leaf":
        _, k, i = shape
        return k * x(i).to_pb(), lambda v: k * v[i]
    if kind == "sum":
        parts = [realise(s, x) for s in shape[1]]
        return Sum(*[p for p, _ in parts]), lambda v: sum(f(v) for _, f in parts)
    if kind == "scale":
        t, f = realise(shape[2], x)
        return shape[1] * t, lambda v: shape[1] * f(v)
    (t1, f1), (t2, f2) = realise(shape[1], x), realise(shape[2], x)
    if kind == "add":
        return t1 + t2, lambda v: f1(v) + f2(v)
    return t1 - t2, lambda v: f1(v) - f2(v)


def check_exact(manager, place, holds, n_vars):
    """`place(y)` in clause form is satisfiable under an assignment of x(0..n-1) and of
    the further variable y exactly when `holds(bits)`."""
    y = manager.bx_context.get_var("y")
    # As the model does: asserted comparisons are encoded before the Tseytin transformation.
    cnf = _assert_comparisons(place(y), manager).tseytin(manager.bx_context, "_bxpr_aux")
    ids = {f"x({i})": i + 1 for i in range(n_vars)}
    ids["y"] = n_vars + 1
    clauses = clauses_of(cnf, ids)
    assert all(name.startswith(("x(", "y", "_bxpr_aux_", "_pbct_aux_")) for name in ids)
    with Solver(name="m22", bootstrap_with=[c for c in clauses if c]) as solver:
        for bits in itertools.product((0, 1), repeat=n_vars + 1):
            got = all(clauses) and solver.solve(
                assumptions=[(k + 1) * (1 if bit else -1) for k, bit in enumerate(bits)])
            assert got == holds(bits), bits


# Where a comparison may stand in a constraint: as it is, asserted beside y, negated, tied
# to or implied by y. The first two take the encoder's clauses, the others the circuit.
PLACES = {
    "plain": (lambda f, y: f, lambda c, y: c),
    "conjoined": (lambda f, y: bx.and_s([y, f]), lambda c, y: c and y),
    "negated": (lambda f, y: ~f, lambda c, y: not c),
    "equivalent": (lambda f, y: bx.eq_s([y, f]), lambda c, y: c == y),
    "implied": (lambda f, y: bx.impl_s(y, f), lambda c, y: c or not y),
}


@settings(max_examples=60)
@given(terms(), st.sampled_from(sorted(CMP)), st.integers(-8, 8), st.sampled_from(sorted(PLACES)))
def test_to_bx_holds_exactly_when_comparison_holds(shape, cmp, bound, where):
    manager = model_with("x")
    x = manager.name2genvar["x"]
    term, value = realise(shape, x)
    formula = FormulaPB(term, getattr(pb.Comparator_type, cmp), bound).to_bx(manager)
    place, expect = PLACES[where]
    check_exact(manager, lambda y: place(formula, y),
                lambda bits: expect(CMP[cmp](value(bits), bound), bits[4]), 4)
    if where not in ("plain", "conjoined"):
        assert manager.cnt_pbvar == 0


@settings(max_examples=40)
@given(st.lists(st.integers(-40, 40), min_size=1, max_size=6), st.sampled_from(sorted(CMP)),
       st.integers(-60, 60), st.sampled_from(sorted(PLACES)))
def test_weighted_sums_with_several_bit_columns(weights, cmp, bound, where):
    manager = model_with("x")
    x = manager.name2genvar["x"]
    n = len(weights)
    term = Sum(*[w * x(i).to_pb() for i, w in enumerate(weights)])
    formula = FormulaPB(term, getattr(pb.Comparator_type, cmp), bound).to_bx(manager)
    place, expect = PLACES[where]
    check_exact(manager, lambda y: place(formula, y),
                lambda bits: expect(CMP[cmp](sum(w * b for w, b in zip(weights, bits)), bound), bits[n]), n)


@pytest.mark.parametrize("where", ["plain", "negated"])
@pytest.mark.parametrize("cmp", sorted(CMP))
def test_coefficients_whose_sum_needs_more_than_64_bits(cmp, where):
    # x(0) occurs twice: its merged weight 2^63 and the sum's total no longer fit in 64 bits.
    manager = model_with("x")
    x = manager.name2genvar["x"]
    big = 1 << 62
    weights = [(0, big), (0, big), (1, big), (2, -3)]
    term = Sum(*[w * x(i).to_pb() for i, w in weights])
    formula = FormulaPB(term, getattr(pb.Comparator_type, cmp), big - 3).to_bx(manager)
    place, expect = PLACES[where]
    check_exact(manager, lambda y: place(formula, y),
                lambda bits: expect(CMP[cmp](sum(w * bits[i] for i, w in weights), big - 3), bits[3]), 3)


@pytest.mark.parametrize("builder", ["pb_circuit", "clauses_formula"])
def test_engine_builders_refuse_a_variable_that_is_no_boolean_expression(builder):
    from orbeny.trelle._engine import bxpr as engine

    manager = model_with("x")
    constraint = pb.PBConstraint([pb.WeightedLit(1, 1), pb.WeightedLit(2, 1)], pb.Comparator_type.LEQ, 1)
    argument = constraint
    if builder == "clauses_formula":
        argument = pb.VectorClauseDatabase(manager.pb_config)
        pb.pb2cnf(manager.pb_config).encode2(constraint, argument, pb.AuxVarManager(3))
    with pytest.raises(TypeError, match="not a Boolean expression"):
        getattr(engine, builder)(argument, {1: "x(1)"}, manager.get_pb_var if builder == "pb_circuit" else
                                 manager._new_pb_vars)


def test_soft_literals_of_variables_registered_at_once():
    # Such variables reach the engine as runs of numbers, with no Python object per variable.
    from orbeny.trelle._engine import bxpr as engine

    manager = Manager()
    n, m = manager._pb_vars_of(["x(1)", "x(2)"])
    made, weights = FormulaPB(Sum(*[3 * Var(n, "x(1)"), -Var(m, "x(2)"), Var(n + 5, "a")]), None, None).to_maxsat(
        manager, True)
    assert [str(lit) for lit in made.get_args()] == ["~x(1)", "x(2)", "~_pbct_aux_0"] and weights == [3, 1, 1]
    assert manager.pb2bx[n + 5] is manager.get_pb_var(n + 5) and str(manager.pb2bx[m]) == "x(2)"
    runs = [manager.bx_context._variable_run(n, ["x(1)"]), bx.Context()._variable_run(n + 9, ["y"])]
    with pytest.raises(TypeError, match="different Boolean contexts"):
        engine.maxsat_literals([(n, 1), (n + 9, 1)], True, {}, manager.get_pb_var, runs)
    with pytest.raises(ValueError, match="64 bits"):
        bx.Context()._variable_run((1 << 63) - 2, ["y", "z"])


@pytest.mark.parametrize("seed", range(3))
@pytest.mark.parametrize("shape", ["cardinality", "weighted"])
@pytest.mark.parametrize("cmp", sorted(CMP))
@pytest.mark.parametrize("where", ["plain", "conjoined", "negated", "equivalent"])
def test_larger_comparisons_asserted_and_nested(seed, shape, cmp, where):
    # Too many variables to enumerate: fix all but a few and let a solver decide whether
    # the rest extend to a solution, against enumerating the free ones.
    rng = random.Random(seed)
    n, free = 24, 4
    manager = model_with("x")
    x = manager.name2genvar["x"]
    weights = [rng.choice([-1, 1]) * (1 if shape == "cardinality" else rng.randint(1, 60)) for _ in range(n)]
    bound = sum(w for w in weights if rng.random() < 0.5)
    term = Sum(*[w * x(i).to_pb() for i, w in enumerate(weights)])
    formula = FormulaPB(term, getattr(pb.Comparator_type, cmp), bound).to_bx(manager)
    place, expect = PLACES[where]
    y = manager.bx_context.get_var("y")
    ids = {f"x({i})": i + 1 for i in range(n)}
    ids["y"] = n + 1
    clauses = clauses_of(_assert_comparisons(place(formula, y), manager).tseytin(manager.bx_context, "_bxpr_aux"), ids)
    with Solver(name="m22", bootstrap_with=clauses) as solver:
        for _ in range(15):
            fixed = {v: rng.random() < 0.5 for v in rng.sample(range(n + 1), n + 1 - free)}
            open_vars = [v for v in range(n + 1) if v not in fixed]
            possible = any(
                expect(CMP[cmp](sum(w for i, w in enumerate(weights) if bits[i]), bound), bits[n])
                for bits in ({**fixed, **dict(zip(open_vars, vals))}
                             for vals in itertools.product((False, True), repeat=free)))
            assert solver.solve(assumptions=[(v + 1) * (1 if val else -1) for v, val in fixed.items()]) == possible


def test_evaluated_text_like_the_model_writes():
    manager = model_with("x")
    ns = {"Sum": Sum, "FormulaPB": FormulaPB, "bx": bx, "pb": pb, "manager": manager, **manager.name2genvar}
    text = "FormulaPB(Sum(*[x(1).to_pb(), x(2).to_pb(), x(3).to_pb()]), pb.Comparator_type.BOTH, 1).to_bx(manager)"
    formula = eval(text, ns)
    assert {"x(1)", "x(2)", "x(3)"} <= {str(v) for v in formula.support()}


def test_trivial_and_impossible_constraints():
    manager = model_with("x")
    x = manager.name2genvar["x"]
    assert isinstance(FormulaPB(x(1).to_pb() + x(2).to_pb(), pb.Comparator_type.LEQ, 2).to_bx(manager), bx.One)
    assert isinstance(FormulaPB(x(1).to_pb(), pb.Comparator_type.GEQ, 2).to_bx(manager), bx.Zero)


def test_constructor_keeps_arguments():
    t = Sum()
    assert FormulaPB(t, None, None).border == (None,)
    f = FormulaPB(t, pb.Comparator_type.LEQ, 5)
    assert (f.expression, f.comparator, f.border) == (t, pb.Comparator_type.LEQ, (5,))
    assert FormulaPB(t, pb.Comparator_type.BOTH).border == ()
    assert FormulaPB(t, pb.Comparator_type.BOTH, 2, 7).border == (2, 7)


def test_debug_lines(sent_logs):
    manager = model_with("x")
    x = manager.name2genvar["x"]
    term = Sum(x(1).to_pb(), x(2).to_pb()) + x(3).to_pb()
    formula = FormulaPB(term, pb.Comparator_type.LEQ, 1).to_bx(manager)
    msgs = [m for m, _ in sent_logs]
    assert len(msgs) == 3 and all(level is tl.log_level_type.debug for _, level in sent_logs)
    assert msgs[0] == f"FormulaPB before to_bx: {term}"
    assert msgs[1].startswith("Sum to_pb result [")
    assert msgs[2] == f"Bx formula from FormulaPB: {formula}"
    sent_logs.clear()
    FormulaPB(term, None, None).to_maxsat(manager, True)
    assert [m for m, _ in sent_logs] == [f"FormulaPB before to_maxsat: {term}"]


def test_bad_term_fails_after_first_debug_line(sent_logs):
    with pytest.raises(AttributeError):
        FormulaPB(3, pb.Comparator_type.LEQ, 1).to_bx(Manager())
    assert [m for m, _ in sent_logs] == ["FormulaPB before to_bx: 3"]


def literal_texts(formula):
    return [str(a) for a in formula.get_args()]


@pytest.mark.parametrize(
    "minimization, texts",
    [(True, ["~x(1)", "x(2)", "x(3)"]), ("yes", ["~x(1)", "x(2)", "x(3)"]),
     (False, ["x(1)", "~x(2)", "~x(3)"]), (None, ["x(1)", "~x(2)", "~x(3)"]),
     (0, ["x(1)", "~x(2)", "~x(3)"]), ("", ["x(1)", "~x(2)", "~x(3)"])],
)
def test_to_maxsat_polarity_and_weights(minimization, texts):
    manager = model_with("x")
    x = manager.name2genvar["x"]
    term = 2 * x(1).to_pb() - 3 * x(2).to_pb() + 0 * x(3).to_pb()
    formula, weights = FormulaPB(term, None, None).to_maxsat(manager, minimization)
    assert literal_texts(formula) == texts and weights == [2, 3, 0]
    assert manager.cnt_pbvar == 0


def test_to_maxsat_keeps_repeats_and_handles_empty_sum():
    manager = model_with("x")
    x = manager.name2genvar["x"]
    formula, weights = FormulaPB(Sum(x(1).to_pb(), -4 * x(1).to_pb()), None, None).to_maxsat(manager, False)
    assert literal_texts(formula) == ["x(1)", "~x(1)"] and weights == [1, 4]
    formula, weights = FormulaPB(Sum(), None, None).to_maxsat(manager, True)
    assert list(formula.get_args()) == []
    assert weights == []
    # coefficients beyond 64 bits keep their exact weights
    formula, weights = FormulaPB(Sum(2**70 * x(1).to_pb(), -(2**63) * x(2).to_pb()), None, None).to_maxsat(manager, True)
    assert literal_texts(formula) == ["~x(1)", "x(2)"] and weights == [2**70, 2**63]


@settings(max_examples=40)
@given(terms(), st.booleans())
def test_to_maxsat_cost_tracks_objective(shape, minimization):
    # The weight of the falsified literals equals the objective (negated when maximising) up to a constant.
    manager = model_with("x")
    x = manager.name2genvar["x"]
    term, value = realise(shape, x)
    formula, weights = FormulaPB(term, None, None).to_maxsat(manager, minimization)
    assert all(w >= 0 for w in weights)
    lits = literal_texts(formula)
    offsets = set()
    for bits in itertools.product((0, 1), repeat=4):
        truth = {f"x({i})": bool(b) for i, b in enumerate(bits)}
        cost = sum(w for w, t in zip(weights, lits)
                   if (not truth[t[1:]] if t.startswith("~") else truth[t]) is False)
        offsets.add(cost - value(bits) if minimization else cost + value(bits))
    assert len(offsets) == 1



@pytest.mark.parametrize(
    "comparator, border",
    [(None, (None,)), (pb.Comparator_type.LEQ, ()), (pb.Comparator_type.LEQ, (2, 7)),
     (pb.Comparator_type.GEQ, ("2",))],
)
def test_comparator_and_bounds_checked_by_sibling_constraint(comparator, border):
    manager = model_with("x")
    with pytest.raises(TypeError):
        FormulaPB(manager.name2genvar["x"](1).to_pb(), comparator, *border).to_bx(manager)


def test_repeated_variables_are_merged_before_comparing():
    manager = model_with("x")
    x = manager.name2genvar["x"]
    # x(1) - x(1) + x(2) <= 0 says x(2) is false, whatever x(1) is
    formula = FormulaPB(x(1).to_pb() - x(1).to_pb() + x(2).to_pb(), pb.Comparator_type.LEQ, 0).to_bx(manager)
    assert str(formula) == "~x(2)"
