import itertools

import pytest
from hypothesis import given, settings, strategies as st
from pysat.solvers import Solver

import orbeny.trelle as tl
import orbeny.trelle.bxpr as bx
import orbeny.trelle.pbct as pb
from zorv_encoder.core.formulapb import FormulaPB
from zorv_encoder.core.manager import Manager
from zorv_encoder.core.pboperations import Sum

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


@settings(max_examples=60)
@given(terms(), st.sampled_from(sorted(CMP)), st.integers(-8, 8))
def test_to_bx_holds_exactly_when_comparison_holds(shape, cmp, bound):
    manager = model_with("x")
    x = manager.name2genvar["x"]
    term, value = realise(shape, x)
    used = {i: x(i) for i in range(4)}  # every model variable is known to the manager
    formula = FormulaPB(term, getattr(pb.Comparator_type, cmp), bound).to_bx(manager)
    cnf = formula.tseytin(manager.bx_context, "_bxpr_aux")

    ids = {v.name: k + 1 for k, v in enumerate(used.values())}
    clauses = clauses_of(cnf, ids)
    assert all(name.startswith(("x(", "_pbct_aux_", "_bxpr_aux_")) for name in ids)
    with Solver(name="m22", bootstrap_with=[c for c in clauses if c]) as solver:
        for bits in itertools.product((0, 1), repeat=4):
            expected = CMP[cmp](value(bits), bound)
            got = not any(not c for c in clauses) and solver.solve(
                assumptions=[ids[f"x({i})"] * (1 if bit else -1) for i, bit in enumerate(bits)])
            assert got == expected, (term, cmp, bound, bits)

    aux = sorted(n for n in manager.name2pb if n.startswith("_pbct_aux_"))
    assert sorted(aux) == sorted(f"_pbct_aux_{k}" for k in range(manager.cnt_pbvar))


def test_auxiliaries_count_on_across_translations_and_reset():
    manager = model_with("x")
    x = manager.name2genvar["x"]
    term = Sum(*[x(i).to_pb() for i in range(6)])
    FormulaPB(term, pb.Comparator_type.LEQ, 2).to_bx(manager)
    first = manager.cnt_pbvar
    assert first > 0
    FormulaPB(term, pb.Comparator_type.GEQ, 3).to_bx(manager)
    assert manager.cnt_pbvar > first
    assert {f"_pbct_aux_{k}" for k in range(manager.cnt_pbvar)} <= manager.name2pb.keys()
    manager.reset()
    FormulaPB(Sum(*[x(i).to_pb() for i in range(6)]), pb.Comparator_type.LEQ, 2).to_bx(manager)
    assert manager.cnt_pbvar == first


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


def test_encoder_literals_map_to_model_variables_and_numbered_auxiliaries(monkeypatch):
    # Fixed encoder output, so the naming order of auxiliaries is known exactly.
    manager = model_with("x")
    x1 = manager.name2genvar["x"](1)
    n = x1.pb_var
    fixed = [[n, -(n + 3)], [n + 3, -(n + 4)], [-(n + 4)]]
    calls = []

    class Database:
        def __init__(self, config):
            calls.append(("db", config))

        def get_clauses(self):
            return fixed

    class Encoder:
        def __init__(self, config):
            calls.append(("enc", config))

        def encode2(self, constraint, database, allocator):
            calls.append(("encode2", constraint, allocator))

    monkeypatch.setattr(pb, "PBConstraint", lambda *args: ("constraint",) + args)
    monkeypatch.setattr(pb, "VectorClauseDatabase", Database)
    monkeypatch.setattr(pb, "pb2cnf", Encoder)
    or_lists, and_lists = [], []
    monkeypatch.setattr(bx, "or_s", lambda ops: or_lists.append([str(o) for o in ops]) or len(or_lists))
    monkeypatch.setattr(bx, "and_s", lambda ops: and_lists.append(list(ops)) or "conj")

    assert FormulaPB(x1.to_pb(), "cmp", 2, 7).to_bx(manager) == "conj"
    assert or_lists == [["x(1)", "~_pbct_aux_0"], ["_pbct_aux_0", "~_pbct_aux_1"], ["~_pbct_aux_1"]]
    assert and_lists == [[1, 2, 3]] and manager.cnt_pbvar == 2
    assert manager.name2pb["_pbct_aux_1"] == n + 4
    (_, config_a), (_, config_b), (_, constraint, allocator) = calls
    assert config_a is config_b is manager.pb_config and allocator is manager.pb_var_manager
    assert constraint[2:] == ("cmp", 2, 7) and len(constraint[1]) == 1
