"""Both roads of Model on the same random models: the same solutions over the model's variables
and the same MaxSAT optimum, with python-sat as the oracle."""

import enum
import itertools
import os
import re

import numpy as np
import pytest
from hypothesis import HealthCheck, assume, given, settings
from hypothesis import strategies as st
from pysat.examples.rc2 import RC2
from pysat.formula import CNF, WCNF
from pysat.solvers import Solver

import orbeny.trelle as tl
from zorv_encoder import And, Equiv, IfThenElse, Implication, Or, OrIt, Sum, SumIt, Xor, pow_expression
from zorv_encoder._exceptions import FormulaError, VariableError
from zorv_encoder.encode.expressions import Expression, VariableProxy
from zorv_encoder.encode.model import Model

ROWS, COLS, YS = 2, 3, 3
CELLS = ROWS * COLS + YS  # x[r, c] takes 1 + 3r + c, y[k] takes 7 + k on both roads

literals = st.tuples(st.sampled_from(["x", "y"]), st.sampled_from(["i", 0, 1]), st.integers(0, 2),
                     st.booleans())
comparators = st.sampled_from(["<=", ">=", "=="])
comparisons = st.one_of(
    st.tuples(st.just("cmp"), st.lists(st.tuples(st.integers(-2, 3), literals), min_size=1, max_size=4),
              comparators, st.integers(-1, 4)),
    st.tuples(st.just("rowsum"), comparators, st.integers(0, 3)),
)
formulas = st.recursive(
    st.one_of(st.tuples(st.just("lit"), literals), comparisons,
              st.tuples(st.just("comp"), st.sampled_from(["and", "or", "xor"]), st.booleans())),
    lambda inner: st.one_of(
        st.tuples(st.sampled_from(["and", "or", "xor", "impl", "eqv"]), inner, inner),
        st.tuples(st.just("not"), inner),
        st.tuples(st.just("ite"), inner, inner, inner),
        st.tuples(st.just("all"), st.lists(inner, min_size=1, max_size=3)),
    ),
    max_leaves=5,
)
softs = st.tuples(st.lists(st.tuples(st.integers(-3, 3), literals), min_size=1, max_size=3),
                  st.integers(0, 3), st.booleans())


def _build(recipe, x, y, i, j):
    def lit(ref):
        name, row, col, negated = ref
        row = i if row == "i" else row
        ref = x[row, col] if name == "x" else y[col]
        return ~ref if negated else ref

    def term(items):
        parts = [coefficient * (lit(ref[:3] + (False,))) for coefficient, ref in items]
        return parts[0] if len(parts) == 1 else SumIt(parts)

    def compare(value, op, bound):
        return value <= bound if op == "<=" else value >= bound if op == ">=" else value == bound

    def go(r):
        kind = r[0]
        if kind == "lit":
            return lit(r[1])
        if kind == "cmp":
            return compare(term(r[1]), r[2], r[3])
        if kind == "rowsum":
            return compare(Sum(x[i, j], j=range(COLS)), r[1], r[2])
        if kind == "comp":
            body = ~x[i, j] if r[2] else x[i, j]
            return {"and": And, "or": Or, "xor": Xor}[r[1]](body, j=range(COLS))
        if kind == "not":
            return ~go(r[1])
        if kind == "ite":
            return IfThenElse(go(r[1]), go(r[2]), go(r[3]))
        if kind == "all":
            from zorv_encoder import AndIt
            return AndIt([go(part) for part in r[1]])
        a, b = go(r[1]), go(r[2])
        return {"and": a & b, "or": a | b, "xor": a ^ b, "impl": Implication(a, b), "eqv": Equiv(a, b)}[kind]

    return go(recipe)


def _model(road, hard, soft):
    model = Model(tl.manager(), "roads", road)
    x = model.create_variables("x", r=ROWS, c=COLS)
    y = model.create_variables("y", k=YS)
    i, j = model.get_indexes(["i", "j"])
    for recipe in hard:
        model.add_constraint(_build(recipe, x, y, i, j), i=range(ROWS))
    for items, weight, minimization in soft:
        value = SumIt([c * (y[k] if name == "y" else x[0, k]) for c, (name, _, k, _) in items])
        model.add_soft_constraint(value, weight, minimization, i=range(ROWS))
    built = model.build_wcnf() if soft else model.build_cnf()
    assert built is True
    return model


def _formula(model, tmp_path, name):
    path = tmp_path / name
    model.save_to_file(str(path))
    if model._is_wcnf:
        return WCNF(from_file=str(path))
    formula = WCNF()
    for clause in CNF(from_file=str(path)).clauses:
        formula.append(clause)
    return formula


def _solutions(wcnf):
    found = set()
    if [] in wcnf.hard:
        return found
    with Solver(name="g3", bootstrap_with=wcnf.hard) as solver:
        while solver.solve():
            values = set(solver.get_model())
            found.add(tuple(v in values for v in range(1, CELLS + 1)))
            solver.add_clause([-v if v in values else v for v in range(1, CELLS + 1)])
    return found


@settings(max_examples=60, suppress_health_check=[HealthCheck.function_scoped_fixture, HealthCheck.too_slow])
@given(hard=st.lists(formulas, min_size=1, max_size=3), soft=st.lists(softs, max_size=2))
def test_both_roads_agree(tmp_path, hard, soft):
    try:
        container = _model(False, hard, soft)
    except FormulaError:
        # A contradiction the container refuses: the encoder road writes an unsatisfiable formula.
        encoder = _model(True, hard, soft)
        assert not _solutions(_formula(encoder, tmp_path, "e"))
        return
    encoder = _model(True, hard, soft)
    theirs, ours = _formula(container, tmp_path, "c"), _formula(encoder, tmp_path, "e")
    solutions = _solutions(ours)
    assert solutions == _solutions(theirs)
    if soft and solutions:
        with RC2(theirs) as a, RC2(ours) as b:
            a.compute()
            b.compute()
            assert a.cost == b.cost
    # Solutions are confirmed by the direct check, and a tampered one is caught.
    if len(solutions) >= 2 and not soft:
        first, second = sorted(solutions)[:2]
        with Solver(name="g3", bootstrap_with=ours.hard) as solver:
            witnesses = [solver.solve(assumptions=[v if value else -v for v, value in enumerate(chosen, 1)])
                         and solver.get_model() for chosen in (first, second)]
        encoder.set_witness(witnesses[0])
        encoder.set_another_witness(witnesses[1])
        assert encoder.check_another_witness() is True
        for k in range(CELLS):
            if second[:k] + (not second[k],) + second[k + 1:] not in solutions:
                tampered = list(witnesses[1])
                tampered[k] = -tampered[k]
                encoder.set_another_witness(tampered)
                assert encoder.check_another_witness() is False
                break


def _power_sum(x, y, i, j):
    from zorv_encoder import pow_expression
    return Sum(pow_expression(2, j) * x[0, j], j=range(COLS)) == 5


B, M = 2**63 - 1, -(2**63)  # the largest and least integers of 64 bits
HIGH = B - 2  # HIGH, HIGH + 1 and HIGH + 2 = B


@pytest.mark.parametrize("constraint, foralls", [
    (_power_sum, {}),
    (lambda x, y, i, j: Sum(x[i, j], i=range(ROWS), j=range(COLS)) >= 4, {}),
    (lambda x, y, i, j: Equiv(x[i, 0] <= 0, y[i] >= 1) | ~(2 * x[i, 1] + y[0] - x[i, 2] == 1), {"i": [1, 0]}),
    (lambda x, y, i, j: IfThenElse(Xor(x[i, j], j=range(COLS)), y[i], ~y[i + 1]), {"i": range(1, -1, -1)}),
    (lambda x, y, i, j: Implication(x[i, 2], Or(y[j] & x[i, j], j=range(COLS))), {"i": (0,)}),
    # integers of 64 bits, and those just past 2^62, in every place where a text holds a number
    (lambda x, y, i, j: SumIt([B * x[0, 0], B * x[0, 1], 4700000000000000000 * x[0, 2]]) <= B, {}),
    (lambda x, y, i, j: M * x[0, 0] + (-B) * x[0, 1] >= M, {}),
    (lambda x, y, i, j: Sum(4611686018427387903 * x[i, j], j=range(COLS)) == 9223372036854775806, {"i": [1]}),
    (lambda x, y, i, j: Equiv(5100000000000000000 * x[0, 0] + 4600000000000000001 * x[1, 0] <= B, y[0]), {}),
    (lambda x, y, i, j: Sum(x[i, j], j=range(COLS)) >= M, {"i": range(ROWS)}),
    (lambda x, y, i, j: Sum(pow_expression(-2, j) * x[1, j - 63], j=[63]) + x[0, 0] >= M + 1, {}),
    (lambda x, y, i, j: Equiv(y[i - HIGH], x[0, i - HIGH]), {"i": range(HIGH, HIGH + 3)}),
    (lambda x, y, i, j: y[i + B + 1] | x[1, i + B + 1], {"i": [M, M + 2]}),
    (lambda x, y, i, j: y[i - 4700000000000000000] | ~x[1, 1], {"i": (4700000000000000001,)}),
    (lambda x, y, i, j: Or(x[0, j - HIGH + 1], j=range(HIGH - 1, HIGH + 2)), {}),
    (lambda x, y, i, j: Or(y[j - M] & x[1, j - M], j=range(M, M + 3)), {}),
    (lambda x, y, i, j: And(x[0, j - 5000000000000000000], j=[5000000000000000000, 5000000000000000002]), {}),
])
def test_texts_of_every_kind_agree(tmp_path, constraint, foralls):
    found = []
    for road in (False, True):
        model = Model(tl.manager(), "kinds", road)
        x = model.create_variables("x", r=ROWS, c=COLS)
        y = model.create_variables("y", k=YS)
        i, j = model.get_indexes(["i", "j"])
        model.add_constraint(constraint(x, y, i, j), **foralls)
        assert model.build_cnf() is True
        found.append(_solutions(_formula(model, tmp_path, str(road))))
    assert found[0] == found[1] and found[0]


class Cell(enum.IntEnum):
    FIRST = 0
    LAST = 2


# Foralls the container road takes are written for the encoder as the plain ints they hold.
@pytest.mark.parametrize("values", [np.arange(0, 3, 2), [np.int64(0), np.int64(2)], {0, 2}, frozenset({2, 0}),
                                    [False, 2 * True], [Cell.FIRST, Cell.LAST], (0, 2), range(0, 3, 2)])
def test_foralls_of_every_form_agree(tmp_path, values):
    found = []
    for road in (False, True):
        model = Model(tl.manager(), "foralls", road)
        x = model.create_variables("x", r=ROWS, c=COLS)
        y = model.create_variables("y", k=YS)
        i = model.get_indexes(["i"])
        model.add_constraint(Equiv(y[i], ~x[1, i]), i=values)
        model.add_constraint(y[i] | x[0, i], i=values)
        assert model.build_cnf() is True
        found.append(_solutions(_formula(model, tmp_path, str(road))))
    assert found[0] == found[1]
    # y[0] and y[2] are each tied to two cells; y[1] and the x[., 1] are free.
    assert len(found[0]) == 3 ** 2 * 2 ** 3


def test_a_written_sum_too_deep_for_the_parser_keeps_its_grouping():
    # The parser cannot read a sum of 3,000 terms, which the encoder reads: x[0] - (x[1] + ... + x[3000])
    # >= 0 with x[2] and x[3] has no model; x[0] - x[1] + x[2] + ... would have one.
    model = Model(tl.manager(), "long", True)
    x = model.create_variables("x", k=3001)
    model.add_constraint(x[0] - Expression(" + ".join(f"x({k}).to_pb()" for k in range(1, 3001))) >= 0)
    model.add_constraint(x[2] & x[3])
    assert model.build_cnf()
    with Solver(name="g3", bootstrap_with=model.get_cnf_storage().get_clauses()) as solver:
        assert not solver.solve()


# Texts that would reach the host: through dunder attributes, through the frame of a running
# generator (no underscore at all), and a name beginning with an underscore.
REACHING = [
    "[c for c in ().__class__.__base__.__subclasses__() if c.__name__ == '_wrap_close'][0]"
    ".__init__.__globals__['system']('touch {path}') or x(0,0).to_bx()",
    "[r for L in [[]] for g in [(L[0].gi_frame.f_back.f_builtins['open']('{path}', 'w') for k in [0])]"
    " if L.append(g) is None for r in g] and x(0,0).to_bx() or x(0,0).to_bx()",
    "x(0,0).to_bx() | _x(0).to_bx()",
    # Texts whose cost the plan would not see: a set display, a filter, a string made long.
    "bx.or_s([*{{x(0,0).to_bx() for a in range(2 ** 31)}}])",
    "bx.or_s([x(0,0).to_bx() for a in range(2 ** 31) for b in [0] if 0])",
    "bx.or_s([x(0,0).to_bx(), 'a' * 1000000000])",
]


@pytest.mark.parametrize("text", REACHING)
@pytest.mark.parametrize("add", [
    lambda m, e: m.add_constraint(e, i=range(2)),
    lambda m, e: m.add_soft_constraint(e, 2),
    lambda m, e: m.add_target(e),
], ids=["hard", "soft", "target"])
def test_texts_that_read_past_the_model_are_refused_when_given(tmp_path, text, add):
    touched = tmp_path / "touched"
    text = text.format(path=touched)
    for road in (False, True):
        model = Model(tl.manager(), "reaching", road)
        x = model.create_variables("x", r=ROWS, c=COLS)
        # One class and message form on both roads: the container's refusal names what is read.
        with pytest.raises(ValueError, match=f"^cannot read constraint '{re.escape(text[:20])}.*': .* at position [0-9]+$"):
            add(model, Expression(text, True))
        model.add_constraint(x[0, 1])
        assert model.build_cnf() and model.get_cnf_storage().get_clause_count() == 1
        assert not touched.exists()


# Code in the arguments of a variable call, which names a variable that the container evaluates
# again, with underscores and without (escaped inside a string); and a format string, whose
# attribute names are string data, reading the environment.
RUNNING = "[i for i in ().__class__.__base__.__subclasses__() if i.__name__ == '_wrap_close'][0].__init__.__globals__"
PAYLOADS = [
    RUNNING + "['system']('touch {path}')",
    "x(0,'[i for i in ().\\x5f\\x5fclass\\x5f\\x5f][0]')",
    '{{}}["{{0.__init__.__globals__[os].environ[ZORV_PAYLOAD_SECRET]}}".format(Sum)]',
]


@pytest.mark.parametrize("payload", PAYLOADS)
@pytest.mark.parametrize("add", [
    lambda m, p: m.add_constraint(Expression("x(%r,0).to_bx()" % p), i=range(2)),
    lambda m, p: m.add_constraint(Implication(VariableProxy("x(0,0)"), Expression("x(0,%r).to_bx()" % p))),
    lambda m, p: m.add_constraint(SumIt([VariableProxy("x(0,%r)" % p)]) <= 1),
    lambda m, p: m.add_soft_constraint(SumIt([VariableProxy("x(%r,0)" % p)]), 2, i=range(2)),
    lambda m, p: m.add_soft_constraint(VariableProxy("x(0,0)"), Expression(p)),
    lambda m, p: m.add_target(SumIt([VariableProxy("x(0,%r)" % p)])) or m.build_cnf(1, True),
], ids=["hard", "implication", "sumit", "soft", "weight", "target"])
def test_no_code_runs_and_no_secret_is_read_from_a_text(tmp_path, monkeypatch, caplog, payload, add):
    touched = tmp_path / "touched"
    monkeypatch.setenv("ZORV_PAYLOAD_SECRET", "unseen-4f1c")
    payload = payload.format(path=touched)
    for road in (False, True):
        model = Model(tl.manager(), "payload", road)
        model.create_variables("x", r=ROWS, c=COLS)
        with pytest.raises((TypeError, ValueError)) as caught:
            add(model, payload)
        assert "unseen-4f1c" not in str(caught.value) + caplog.text
        assert not touched.exists()


# Index names are identifiers, combinator keywords too.
def test_identifier_index_names_on_both_roads(tmp_path):
    found = []
    for road in (False, True):
        model = Model(tl.manager(), "names", road)
        x = model.create_variables("x", r=ROWS, c=COLS)
        y = model.create_variables("y", k=YS)
        row_a, i1, col_2, k2 = model.get_indexes(["row_a", "i1", "col_2", "k2"])
        model.add_constraint(Sum(x[row_a, col_2], col_2=range(COLS)) == 1, row_a=range(ROWS))
        model.add_constraint(Or(y[i1 + k2], k2="range(2)"), i1=[1])
        assert model.build_cnf() is True
        found.append(_solutions(_formula(model, tmp_path, str(road))))
    assert found[0] == found[1] and len(found[0]) == 3 * 3 * 3 * 2


@pytest.mark.parametrize("road", [False, True])
def test_hard_constraints_alone_build_as_wcnf(tmp_path, road):
    model = Model(tl.manager(), "hard", road)
    x = model.create_variables("x", r=ROWS, c=COLS)
    i, j = model.get_indexes(["i", "j"])
    model.add_constraint(Sum(x[i, j], j=range(COLS)) <= 1, i=range(ROWS))
    assert model.build_wcnf() is True
    path = tmp_path / "hard.wcnf"
    model.save_to_file(str(path))
    assert path.read_text().count("p wcnf") == 1
    wcnf = WCNF(from_file=str(path))
    # The storage states the top that the file gives.
    assert wcnf.soft == [] and wcnf.hard and wcnf.topw == model.get_cnf_storage().get_weight_limit() == 1
    assert _solutions(wcnf) == {s for s in itertools.product((False, True), repeat=CELLS)
                                if sum(s[:3]) <= 1 and sum(s[3:6]) <= 1}


# A negative weight scales the objective like any coefficient: what MaxSAT finds on our file is the
# optimum of the objective as written, every written weight positive and the top above their sum.
objectives = st.lists(st.tuples(st.lists(st.tuples(st.integers(-3, 3), st.integers(0, 3)), min_size=1, max_size=3),
                                st.integers(-3, 3), st.booleans()), min_size=1, max_size=3)
clauses = st.lists(st.lists(st.tuples(st.integers(0, 3), st.booleans()), min_size=1, max_size=3), max_size=3)


@settings(max_examples=40, derandomize=True, deadline=None,
          suppress_health_check=[HealthCheck.function_scoped_fixture, HealthCheck.too_slow])
@given(hard=clauses, soft=objectives, road=st.booleans())
def test_negative_weights_state_the_objective(tmp_path, hard, soft, road):
    def stated(values):  # the objective to minimise, as written
        return sum((1 if minimization else -1) * weight * sum(c * values[k] for c, k in terms)
                   for terms, weight, minimization in soft)

    feasible = [values for values in itertools.product((0, 1), repeat=4)
                if all(any(values[k] != negated for k, negated in clause) for clause in hard)]
    assume(feasible)
    model = Model(tl.manager(), "signed", road)
    x = model.create_variables("x", k=4)  # x[k] is variable k + 1 on both roads
    for clause in hard:
        model.add_constraint(OrIt([~x[k] if negated else x[k] for k, negated in clause]))
    for terms, weight, minimization in soft:
        model.add_soft_constraint(SumIt([c * x[k] for c, k in terms]), weight, minimization)
    assert model.build_wcnf() is True
    path = tmp_path / "signed.wcnf"
    model.save_to_file(str(path))
    wcnf = WCNF(from_file=str(path))
    assert all(w > 0 for w in wcnf.wght) and wcnf.topw > sum(wcnf.wght)
    with RC2(wcnf) as solver:
        chosen = set(solver.compute())
    assert stated([int(k + 1 in chosen) for k in range(4)]) == min(map(stated, feasible))


@pytest.mark.parametrize("constraint, message", [
    (lambda x, j, k: Sum(x[0, j], j="range(9**9**9)") <= 1, "9 \\*\\* 387420489"),
    (lambda x, j, k: Sum(x[0, j], j="[9**9**9**9]") <= 1, "9 \\*\\* 387420489"),
    (lambda x, j, k: Sum(x[0, j], j="range(2**64)") <= 1, "2 \\*\\* 64"),
    (lambda x, j, k: Sum(x[0, j], j="[18446744073709551616]") <= 1, "18446744073709551616"),
    (lambda x, j, k: Sum(x[0, j], j="[-4611686018427387904 * 4]") <= 1, "-4611686018427387904 \\* 4"),
    (lambda x, j, k: Sum(x[0, j], j="range(10**12)") <= 1, "1000000000000 values, more than the 2147483648"),
    (lambda x, j, k: Sum(x[0, j], j=range(2**31 + 1)) <= 1, "2147483649 values"),
    (lambda x, j, k: Sum(Sum(x[0, 0], k="range(j**j**j)"), j=range(10)) <= 1, "range\\(7625597484987\\)"),
    (lambda x, j, k: Sum(x[0, 0], j=range(2 * 10**9), k=range(2 * 10**9)) <= 1, "4000000000000000000 combinations"),
    (lambda x, j, k: And(Or(x[0, 0], k=range(10**5)), j=range(10**5)), "10000000000 combinations"),
])
def test_index_value_texts_are_bounded_before_the_host_works_on_them(constraint, message):
    # Both roads refuse them at once: the container before the host evaluates the power or the range.
    for road in (False, True):
        model = Model(tl.manager(), "bounded", road)
        x = model.create_variables("x", r=ROWS, c=COLS)
        j, k = model.get_indexes(["j", "k"])
        with pytest.raises(ValueError) as raised:
            model.add_constraint(constraint(x, j, k))
            model.build_cnf()
        if not road:
            assert raised.match(message)



SQUARE = {"i": range(46000), "j": range(46000)}


# Each took gigabytes, or failed with another error, on one road or both before it was refused.
@pytest.mark.parametrize("constraint, foralls, container, encoder", [
    (lambda x, i: x[0, 0] | x[1, 1], {"i": range(50000), "j": range(50000)},
     "would take 2500000000 clauses, more than the 2147483647 that DIMACS solvers read",
     "would take 2500000000 instances, more than the 2147483648 that one constraint may take"),
    (lambda x, i: x[0, 0] | x[1, 1], {"i": range(10**5), "j": range(10**5)},
     "10000000000 clauses", "10000000000 instances"),
    # The container merges the record beside the model's clauses: twice its bytes.
    (lambda x, i: x[0, 0] | x[1, 1], SQUARE, *[
        f"would take at least {least} bytes .{shown} GiB. for 2116000000 clauses, with the copies a storage"
        " makes as it grows, more than the [0-9]+ bytes .[0-9.]+ GiB. that this process can still"
        " get .(physical memory available|its address-space limit of .* it holds).$"
        for least, shown in [(67712000096, 63.1), (33856000096, 31.5)]]),
    (lambda x, i: Sum(x[i, 0], j="range(2**31)") <= 1, {"i": range(2)},
     "would take at least 154618822656 bytes .144.0 GiB. for 2147483648 terms of its comprehension loops, more than",
     "would take 2147483648 combinations of values in the comprehension loops of one instance .the product of their"
     " ranges., more than the 1000000 that one instance may take$"),
])
def test_work_that_cannot_fit_is_refused_before_it_starts(memory_capped, constraint, foralls, container, encoder):
    for road, message in [(False, container), (True, encoder)]:
        model = Model(tl.manager(), "capped", road)
        x = model.create_variables("x", a=2, b=2)
        i, j = model.get_indexes(["i", "j"])
        model.add_constraint(x[0, 1] | x[1, 0], i=range(3))  # queued on the container road
        refused = constraint(x, i)
        with pytest.raises(ValueError, match=message) as raised:
            model.add_constraint(refused, **foralls)
        # One class and one subject on both roads: the constraint's text and its foralls.
        assert type(raised.value) is ValueError
        assert str(raised.value).startswith(f"constraint '{refused}' over {foralls}: ")
        # Nothing of it was queued, counted or written.
        assert model.build_cnf()
        assert model.get_cnf_storage().get_clause_count() == 3


def test_clauses_past_what_solvers_read_are_refused_however_little_memory_they_take(memory_capped, needs_memory):
    needs_memory(16 * 2**30)
    # Two constraints that each fit, at 13 GB of clauses each at the least: the second is refused
    # for the model's clauses, before the first is instantiated.
    half = {"i": range(1_100_000_000)}
    for road in (False, True):
        model = Model(tl.manager(), "total", road)
        x = model.create_variables("x", a=2, b=2)
        model.add_constraint(x[0, 0], **half)
        with pytest.raises(ValueError, match="would bring the model to 2200000000 clauses, more than the 2147483647"):
            model.add_constraint(x[1, 1], **half)
    # Empty clauses take 8 bytes each: 17 GB, less than the machine has, and still too many.
    encoder = tl.manager().create_formula_encoder("zero")
    encoder.create_variables("x", [1])
    with pytest.raises(ValueError, match="'bx.zero..' over .*: would take 2147483648 clauses, more than the 21474836"):
        encoder.add_constraint("bx.zero()", "Foralls: {'i': range(0, 2147483648)}")


_UNDER_LIMIT = """
import resource, sys
resource.setrlimit(resource.RLIMIT_AS, (2 << 30, resource.getrlimit(resource.RLIMIT_AS)[1]))
import orbeny.trelle as tl
from zorv_encoder import Or, Sum
from zorv_encoder.encode.model import Model
for road in (False, True):
    model = Model(tl.manager(), "limited", road)
    x = model.create_variables("x", a=2, b=2)
    i, j = model.get_indexes(["i", "j"])
    # 200,000,000 clauses of two literals take at least 3.2 GB; a list of 200,000,000 terms 3.2 GB
    cases = [(x[0, 0] | x[1, 1], {"i": range(200_000_000)}), (Or(x[0, 0], j="range(200000000)"), {})]
    for constraint, foralls in cases[: 2 - road]:
        try:
            model.add_constraint(constraint, **foralls)
        except ValueError as error:
            print(error)
    model.add_constraint(x[0, 1], i=range(3))
    model.build_cnf()
    print(model.get_cnf_storage().get_clause_count())
"""


def test_work_past_the_address_space_limit_is_refused_under_it():
    import subprocess
    import sys

    out = subprocess.run([sys.executable, "-c", _UNDER_LIMIT], check=True, capture_output=True, text=True,
                         timeout=300).stdout
    limit = ("more than the [0-9]+ bytes .1.[0-9] GiB. that this process can still get .its address-space limit of"
             " 2147483648 bytes .2.0 GiB. less the [0-9]+ bytes .[0-9.]+ MiB. it holds.")
    clauses = f"constraint 'bx.or_s.*' over {{'i': range.0, 200000000.}}: would take at least 3200000000 bytes .* {limit}"
    terms = f"constraint 'bx.or_s.*': would take at least 4000000000 bytes .3.7 GiB. for 200000000 terms .* {limit}"
    # Refused on both roads, the container's list of terms too, and the model builds what it took.
    assert re.fullmatch(f"{clauses}\n{terms}\n3\n{clauses}\n3\n", out), out


_HELD = """
import resource
import orbeny.trelle as tl
from zorv_encoder._exceptions import BuildError
from zorv_encoder.encode.model import Model

soft, hard = resource.getrlimit(resource.RLIMIT_AS)


def room(extra):
    held = int(open("/proc/self/statm").read().split()[0]) * resource.getpagesize()
    resource.setrlimit(resource.RLIMIT_AS, (held + extra if extra else soft, hard))


for road in (False, True):
    model = Model(tl.manager(), "held", road)
    x = model.create_variables("x", k=2)
    model.add_constraint(x[0] | x[1], i=range(3))
    # 128 MB of clauses: far less than the limit, more than what is left under it.
    room(64 << 20)
    try:
        model.add_constraint(x[0] | ~x[1], i=range(8_000_000))
    except ValueError as error:
        print(error)
    room(None)
    model.add_constraint(x[0] | ~x[1], i=range(8_000_000))
    room(64 << 20)
    for step in (model.build_cnf, lambda: model.save_to_file("never")):
        try:
            step()
        except (MemoryError, BuildError) as error:
            print(type(error).__name__, error)
    room(None)
    model.build_cnf()
    print(model.get_cnf_storage().get_clause_count())
"""


def test_work_past_what_the_process_has_left_is_refused_or_named_when_it_runs_out(tmp_path):
    import subprocess
    import sys

    out = subprocess.run([sys.executable, "-c", _HELD], check=True, capture_output=True, text=True, cwd=tmp_path,
                         timeout=300)
    lines = out.stdout.splitlines()
    subject = re.escape("constraint 'bx.or_s([x(0).to_bx(), ~(x(1).to_bx())])' over {'i': range(0, 8000000)}: ")
    left = (r"the 67108864 bytes .64.0 MiB. that this process can still get .its address-space limit of [0-9]+ bytes"
            r" .[0-9.]+ MiB. less the [0-9]+ bytes .[0-9.]+ MiB. it holds.")
    refused = subject + "would take at least 128000096 bytes .* for 8000000 clauses, with the copies .*, more than "
    refused += left
    ran_out = [subject + "ran out of memory writing its clauses, which take at least 128000000 bytes .122.1 MiB., with"
               " the [0-9]+ bytes .* that this process can still get .* once the dump let its memory go",
               subject + "ran out of memory after writing [0-9]+ of its 8000000 instances .[0-9]+ clauses.; all its"
               " instances take at least 128000000 bytes .122.1 MiB. for 8000000 clauses, and the build could get "
               + left]
    for road in (0, 1):
        # Refused at once, though the limit is far above its bytes; once taken, its build runs out
        # and names it; the model stays whole: unsaved, and built under the larger limit.
        found = lines[4 * road: 4 * road + 4]
        assert re.fullmatch(refused.replace("128000096", ("256000096", "128000096")[road]), found[0]), found
        assert re.fullmatch(f"MemoryError {ran_out[road]}", found[1]), found
        assert found[2].startswith("BuildError Model <held> has not been built") and found[3] == "8000003"


def test_memory_checks_leave_no_file_open():
    # Each add and build reads what memory is left from /proc: a file left open there runs a long
    # session out of descriptors, and opening or saving then fails.
    for road in (False, True):
        before = len(os.listdir("/proc/self/fd"))
        for k in range(100):
            model = Model(tl.manager(), "descriptors", road)
            x = model.create_variables("x", r=ROWS, c=COLS)
            model.add_constraint(x[0, 0] | x[1, 1])
            model.add_constraint(x[0, k % COLS] | x[1, 0], i=range(2))
            model.build_cnf()
        assert len(os.listdir("/proc/self/fd")) == before, f"descriptors left open on road {road}"


_LONG_ROW = """
import resource
import orbeny.trelle as tl
from zorv_encoder import SumIt
from zorv_encoder.encode.model import Model

model = Model(tl.manager(), "long", False)
x = model.create_variables("x", k=500_000)
row = SumIt([x[k] for k in range(500_000)]) <= 5
held = int(open("/proc/self/statm").read().split()[0]) * resource.getpagesize()
resource.setrlimit(resource.RLIMIT_AS, (held + (100 << 20), resource.getrlimit(resource.RLIMIT_AS)[1]))
try:
    model.add_constraint(row)
except (MemoryError, OverflowError) as error:
    print(type(error).__name__, error)
"""


def test_a_long_row_under_an_address_space_limit_is_refused_by_name_not_aborted():
    import subprocess
    import sys

    # An engine object per term made the binding library's registry grow, past our code.
    out = subprocess.run([sys.executable, "-c", _LONG_ROW], capture_output=True, text=True, timeout=120)
    assert out.returncode == 0, out.stderr[-300:]
    assert re.match(r"(MemoryError|OverflowError) constraint 'FormulaPB\(Sum", out.stdout), out.stdout


_ROW_WITHIN_THE_CAP = """
import resource
import orbeny.trelle as tl
from zorv_encoder import Sum
from zorv_encoder.encode.model import Model

model = Model(tl.manager(), "long", True)
x = model.create_variables("x", k=100_000)
j = model.get_indexes(["j"])
soft, hard = resource.getrlimit(resource.RLIMIT_AS)
held = int(open("/proc/self/statm").read().split()[0]) * resource.getpagesize()
resource.setrlimit(resource.RLIMIT_AS, (held + (32 << 20), hard))
model.add_constraint(Sum(x[j], j=range(100_000)) <= 5)
resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
model.build_cnf()
print(model.get_cnf_storage().get_clause_count())
"""


def test_a_long_row_that_fits_the_clause_cap_is_not_encoded_at_the_call():
    import subprocess
    import sys

    # Its 600,000 clauses took some 90 MB to encode at the call, and again at the build.
    out = subprocess.run([sys.executable, "-c", _ROW_WITHIN_THE_CAP], capture_output=True, text=True, timeout=120)
    assert out.returncode == 0 and out.stdout == "599990\n", out.stderr[-300:]


# Work that no build could finish is refused at the call on both roads, naming the constraint; the
# model, without it, builds.
@pytest.mark.parametrize("make, error, message", [
    (lambda x, j: SumIt([x[k] for k in range(200_000)]) <= 5, OverflowError,
     "pseudo-Boolean encoding needs more than max_clauses_per_constraint = 1000000 clauses"),
    # One term past the longest row of its kind that fits: 7 clauses a term, as the check's bound.
    (lambda x, j: SumIt([x[k] for k in range(142_870)]) <= 71_435, OverflowError,
     "pseudo-Boolean encoding needs more than max_clauses_per_constraint = 1000000 clauses"),
    (lambda x, j: pow_expression(2, 64) * x[0] + x[1] <= 1, ValueError, "2 \\*\\* 64: .*integers of 64 bits|"
     "integer overflow in a constraint, whose integers are of 64 bits"),
    (lambda x, j: (Sum(pow_expression(2, j) * x[j], j=range(65)) <= 1) | x[0], ValueError, ".*64 bits"),
])
def test_work_no_build_can_finish_is_refused_at_the_call_alike(make, error, message):
    for road in (False, True):
        model = Model(tl.manager(), "unfinishable", road)
        x = model.create_variables("x", k=200_000)
        j = model.get_indexes(["j"])
        with pytest.raises(error, match=f"^constraint '.*': ({message})$"):
            model.add_constraint(make(x, j))
        model.add_constraint(x[0] | x[1])
        model.build_cnf()
        assert model.get_cnf_storage().get_clause_count() == 1


_MAPPING = """
import resource
import orbeny.trelle as tl
from zorv_encoder.encode.model import Model

soft, hard = resource.getrlimit(resource.RLIMIT_AS)
for road in (False, True):
    model = Model(tl.manager(), "mapped", road)
    x = model.create_variables("x", k=2_000_000)
    model.add_constraint(x[0] | x[1])
    held = int(open("/proc/self/statm").read().split()[0]) * resource.getpagesize()
    resource.setrlimit(resource.RLIMIT_AS, (held + (8 << 20), hard))
    try:
        model.build_cnf()
    except MemoryError as error:
        print(error)
    resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
    model.build_cnf()
    print(model.get_cnf_storage().get_clause_count())
"""


def test_a_mapping_past_what_the_process_has_left_is_named_when_it_runs_out():
    import subprocess
    import sys

    out = subprocess.run([sys.executable, "-c", _MAPPING], check=True, capture_output=True, text=True, timeout=120)
    lines = out.stdout.splitlines()
    ran_out = (r"building the variable mapping{} ran out of memory, with the [0-9]+ bytes .* that this process can"
               r" still get .* once it let its memory go")
    assert re.fullmatch(ran_out.format(""), lines[0]) and lines[1] == "1", lines
    assert re.fullmatch(ran_out.format(" of 2000000 entries"), lines[2]) and lines[3] == "1", lines


def test_bounded_index_values_read_as_before(tmp_path):
    found = []
    for road in (False, True):
        model = Model(tl.manager(), "bounded", road)
        x = model.create_variables("x", r=ROWS, c=COLS)
        j, k = model.get_indexes(["j", "k"])
        model.add_constraint(Sum(x[0, j], j="[2**1 - 2, -(-1), 2 ** 1]") - Sum(x[1, k], k="range(3**1 - 0)") >= 1)
        model.add_constraint(Sum(pow_expression(2, j) * x[1, j], j=range(COLS)) == 5)
        model.build_cnf()
        found.append(_solutions(_formula(model, tmp_path, str(road))))
    assert found[0] == found[1] and {cells[:6] for cells in found[0]} == {(True, True, True, True, False, True)}


def test_soft_weights_of_64_bits_agree(tmp_path):
    costs = []
    for road in (False, True):
        model = Model(tl.manager(), "wide", road)
        x = model.create_variables("x", r=ROWS, c=COLS)
        model.add_constraint(x[0, 0] | x[0, 1])
        model.add_soft_constraint(x[0, 0], 4700000000000000000, True)
        model.add_soft_constraint(SumIt([x[0, 1], 2 * x[0, 2]]), 1500000000000000000, True)
        assert model.build_wcnf() is True
        with RC2(_formula(model, tmp_path, str(road))) as solver:
            solver.compute()
            costs.append(solver.cost)
        with pytest.raises(OverflowError, match="would exceed 9223372036854775806"):
            model.add_soft_constraint(x[1, 0], 4600000000000000000)
            model.build_wcnf()
    assert costs == [1500000000000000000] * 2


# A row whose coefficient or bound leaves 64 bits: the same refusal on both roads.
@pytest.mark.parametrize("constraint, message", [
    (lambda x, y: 2 * (B * x[0, 0]) <= 1, "coefficient"),
    (lambda x, y: B * x[0, 0] - M * x[0, 1] <= 1, "coefficient"),
    (lambda x, y: (2**64) * x[0, 0] + x[0, 1] <= 1, "coefficient"),
    (lambda x, y: Equiv(2 * (B * x[0, 0]) + x[0, 1] <= B, y[0]), "coefficient"),
    (lambda x, y: x[0, 0] + x[0, 1] <= 2**63, "bound"),
    (lambda x, y: x[0, 0] + x[0, 1] >= M - 1, "bound"),
])
def test_rows_past_64_bits_are_refused_alike(constraint, message):
    for road in (False, True):
        model = Model(tl.manager(), "wide", road)
        x = model.create_variables("x", r=ROWS, c=COLS)
        y = model.create_variables("y", k=YS)
        with pytest.raises(OverflowError, match=f"(^|: ){message} does not fit in 64 bits$"):
            model.add_constraint(constraint(x, y))
            model.build_cnf()


def test_a_loop_value_just_past_64_bits_is_named_on_the_container_road():
    model = Model(tl.manager(), "wide", False)
    y = model.create_variables("y", k=YS)
    j = model.get_indexes(["j"])
    with pytest.raises(ValueError, match="the literal 9223372036854775808: the index values of a comprehension"):
        model.add_constraint(Or(y[j - B - 1], j=range(B + 1, B + 2)))


# Every cell that some instance refers to lies in its variable, even where the encoding drops
# the term or the whole constraint always holds.
@pytest.mark.parametrize("add", [
    lambda m, x, i: m.add_constraint(SumIt([2 * x[0, 0], x[0, i]]) <= 1, i=[5]),
    lambda m, x, i: m.add_constraint(x[0, i] + x[0, 1] >= 0, i=[5]),
    lambda m, x, i: m.add_constraint(x[0, i] | x[0, 1], i=[5]),
    lambda m, x, i: m.add_constraint(x[0, 5] + x[0, 1] >= 0),
    lambda m, x, i: m.add_constraint(Sum(x[0, i], i=range(6)) >= 0),
    lambda m, x, i: m.add_constraint(SumIt([x[0, 0], 2 * x[0, i]]) <= 1, i=[5]),
    # steps whose sign is not the stop's
    lambda m, x, i: m.add_constraint(Sum(x[0, i], i="range(5, 1, -2)") >= 0),
    lambda m, x, i: m.add_constraint(Sum(x[0, i], i="range(-3, -1, 1)") >= 0),
    # a name beyond the engine's reader: the container reads the calls its own way
    lambda m, x, i: m.add_constraint(SumIt([2 * x[0, 0], m.create_variables("ξ", k=3)[i]]) <= 1, i=[5]),
    # the container road evaluates a target when it builds
    lambda m, x, i: m.add_constraint(x[0, 0]) or m.add_target(SumIt([0 * x[0, 5], x[0, 1]])) or m.build_cnf(1, True),
], ids=["sum", "dropped", "or", "fixed", "loop", "scaled", "stepped down", "stepped up", "name", "target"])
def test_cells_out_of_range_are_refused_at_the_call_on_both_roads(add):
    for road in (False, True):
        model = Model(tl.manager(), "range", road)
        x = model.create_variables("x", r=ROWS, c=COLS)
        i = model.get_indexes(["i"])
        with pytest.raises(IndexError, match="takes the value (-3|3|5), out of the range 0..2"):
            add(model, x, i)


# Refused at the call on both roads, with the same class; the model stays buildable.
@pytest.mark.parametrize("call, error, message", [
    (lambda m, x: m.add_soft_constraint(2**62 * x[0, 0], 2), OverflowError, "would exceed 9223372036854775806"),
    (lambda m, x: m.add_soft_constraint(x[0, 0], 2**64), OverflowError, "^Soft weight 18446744073709551616 does"
                                                                       " not fit in 64 bits$"),
    (lambda m, x: m.add_soft_constraint(x[0, 0], -(2**63) - 1), OverflowError, "does not fit in 64 bits$"),
    (lambda m, x: m.create_variables("z", k=2**31), OverflowError, "^variable z has too many cells"),
    (lambda m, x: m.create_variables("z", k=2**31 - ROWS * COLS), OverflowError, "^variable z does not fit"),
    (lambda m, x: m.add_constraint(x[0, m.get_indexes(["self"])], self=range(2)), TypeError,
     "multiple values for argument 'self'"),
    (lambda m, x: m.add_constraint(x[0, m.get_indexes(["constraint"])], constraint=range(2)), TypeError,
     "multiple values for argument 'constraint'"),
])
def test_bad_arguments_are_refused_at_the_call_alike(call, error, message):
    for road in (False, True):
        model = Model(tl.manager(), "refused", road)
        x = model.create_variables("x", r=ROWS, c=COLS)
        with pytest.raises(error, match=message):
            call(model, x)
        model.add_soft_constraint(x[0, 1], 3)
        assert model.build_wcnf() is True


def test_index_and_variable_names_each_road_takes():
    for road in (False, True):
        model = Model(tl.manager(), "names", road)
        # Named like parameters of other calls: plain foralls here.
        k, e, i = model.get_indexes(["weight", "expr", "i"])
        x, y = model.create_variables("x", a=3), model.create_variables("y", a=3)
        model.create_variables("i", a=5)
        # A forall named like a variable would read the variable in the text.
        with pytest.raises(ValueError, match="^(cannot read the foralls .*)?forall i has the name of"
                                              " (a|the) declared variable"):
            model.add_constraint(y[i] | y[i + 1], i=range(2))
        # Nor one that the host reads as another name; and each forall is one more loop of the text.
        with pytest.raises(ValueError, match="^Forall name '𝑥' is read by Python as 'x'$|'𝑥' changes under NFKC"):
            model.add_constraint(y[k] | y[0], weight=[0], **{"𝑥": [0]})
        with pytest.raises(ValueError, match=r"^cannot read the foralls .*: nesting too deep \(more than 200 levels\)"
                                             r" at position 2503$"):
            model.add_constraint(y[k] | y[0], weight=[0], **{f"f{n}": [0] for n in range(200)})
        model.add_constraint(x[k] | y[k], weight=range(3))
        model.add_constraint(~x[e], expr=[1])
        assert model.build_cnf() is True
        assert model.get_cnf_storage().get_clauses() == [[1, 4], [2, 5], [3, 6], [-2]]
    # Only the container road declares dummy_var itself.
    with pytest.raises(VariableError, match="^Variable named dummy_var is already in use$"):
        model = Model(tl.manager(), "dummy")
        model.create_variables("dummy_var", d=1)
    with pytest.raises(VariableError, match="^Index named dummy_var is already in use$"):
        model.get_indexes(["dummy_var"])
    model = Model(tl.manager(), "dummy", True)
    d = model.create_variables("dummy_var", d=2)
    model.add_constraint(d[0] | d[1])
    model.build_cnf()
    assert model.get_var_mapping().get_var_map() == {"dummy_var[0]": 1, "dummy_var[1]": 2}
    assert model.get_cnf_storage().get_clauses() == [[1, 2]]


wide = st.sampled_from([B, M, B - 1, M + 1, 2**62, -(2**62), 4611686018427387905, 5100000000000000000,
                        -5100000000000000000, 1, -1, 0])


@settings(max_examples=40, derandomize=True, deadline=None,
          suppress_health_check=[HealthCheck.function_scoped_fixture, HealthCheck.too_slow])
@given(terms=st.lists(st.tuples(wide, st.integers(0, 5)), min_size=1, max_size=4), comparator=comparators,
       bound=wide, nested=st.booleans())
def test_rows_of_wide_coefficients_have_their_models_on_both_roads(tmp_path, terms, comparator, bound, nested):
    def holds(cells):
        total = sum(c * cells[k] for c, k in terms)
        row = total <= bound if comparator == "<=" else total >= bound if comparator == ">=" else total == bound
        return row == cells[6] if nested else row

    expected = {cells for cells in itertools.product((False, True), repeat=CELLS) if holds(cells)}
    for road in (False, True):
        model = Model(tl.manager(), "wide", road)
        x = model.create_variables("x", r=ROWS, c=COLS)
        y = model.create_variables("y", k=YS)
        value = SumIt([c * x[k // COLS, k % COLS] for c, k in terms])
        row = value <= bound if comparator == "<=" else value >= bound if comparator == ">=" else value == bound
        try:
            model.add_constraint(Equiv(row, y[0]) if nested else row)
        except FormulaError:  # the container refuses a row that never holds
            assert not road and not expected
            continue
        assert model.build_cnf() is True
        assert _solutions(_formula(model, tmp_path, str(road))) == expected


def test_a_row_of_4096_weighted_terms_builds_on_a_small_stack(small_stack):
    # The decision diagram goes one term deeper per level, 4096 levels here.
    out = small_stack("""
        import random
        import orbeny.trelle as tl
        from zorv_encoder import SumIt
        from zorv_encoder.encode.model import Model

        def main():
            for road in (False, True):
                model = Model(tl.manager(), "deep", road)
                x = model.create_variables("x", k=4096)
                weights = random.Random(4096)
                model.add_constraint(SumIt([weights.randint(1, 2) * x[k] for k in range(4096)]) == 3)
                model.build_cnf()
                print(model.get_cnf_storage().get_clause_count())
        """)
    assert out == "36765\n36765\n"
