import itertools

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import orbeny.trelle as tl
from zorv_encoder._exceptions import BuildError
from zorv_encoder.linear_parser import LinearExpression, LinearModel, VariableArray
from zorv_encoder.linear_parser import linear_model as lm_module

INFO, ERROR = tl.log_level_type.info, tl.log_level_type.error


@pytest.fixture
def manager():
    return tl.manager()


def test_construction_logs_and_registers_an_interpreter(manager, sent_logs):
    old = tl.witness_interpreter()
    manager.set_witness_interpreter(old)
    m = LinearModel(manager, "plan")
    assert m.get_name() == "plan" and m._trell_manager is manager
    assert manager.get_witness_interpreter() is not old
    assert sent_logs == [
        (f" python version : {tl.get_python_version()}", INFO),
        ("  LP model name : plan", INFO),
    ]


@pytest.mark.parametrize("name, error, text", [
    ("x\ud800", ValueError, r"'x\\ud800' is not valid Unicode: surrogates not allowed at position 1$"),
    (5, TypeError, "must be a str, not int$"),
])
def test_a_name_that_is_no_text_is_refused(manager, name, error, text):
    with pytest.raises(error, match="^a model name " + text):
        LinearModel(manager, name)


def test_create_variable_logs_then_adds_a_block(manager, sent_logs):
    m = LinearModel(manager, "m")
    del sent_logs[:]
    x = m.create_variable("x", tl.var_type.integer, (2, 3))
    assert isinstance(x, VariableArray)
    assert sent_logs == [("New variable <x> ___ shape = [2, 3]", INFO)]
    assert (x.get_shape(), x.lower_bound(), x.upper_bound()) == ([2, 3], 0, tl.infin)
    m.create_variable("y", tl.var_type.continuous, [4], lower_bound=-1, upper_bound=1)
    assert m.get_variables() == 2
    with pytest.raises(ValueError):  # the line is logged even when the block is refused
        m.create_variable("x", tl.var_type.integer, [1])
    assert sent_logs[-1] == ("New variable <x> ___ shape = [1]", INFO) and m.get_variables() == 2


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda m: m.add_constraint(5), "Unknown type of constraint: <class 'int'>"),
        (lambda m: m.add_target(5), "Unknown type <class 'int'> for target"),
        (lambda m: m.add_target(tl.linear_expression(), "t"), "Unknown type <class 'orbeny.trelle._lp.linear_expression'> for target"),
    ],
)
def test_constraint_and_target_must_be_rows(manager, call, message, sent_logs):
    m = LinearModel(manager, "m")
    del sent_logs[:]
    with pytest.raises(BuildError) as info:
        call(m)
    assert info.value.args == (message,) and sent_logs == [(message, ERROR)]
    assert m._lp_storage.get_row_count() == 0


def test_unchecked_without_debug_log(manager, monkeypatch):
    monkeypatch.setattr(lm_module, "DEBUG_LOG", False)
    with pytest.raises(AttributeError):
        LinearModel(manager, "m").add_constraint(5)


def test_constraints_return_row_indexes(manager):
    m = LinearModel(manager, "m")
    x = m.create_variable("x", tl.var_type.continuous, [3])
    assert m.add_constraint(x[0] + x[1] <= 1) == 0
    assert m.add_constraint(x.dot([1, 2, 3]) >= 1, "second") == 1
    assert m._lp_storage.get_row_name(0) == "x[0]" and m._lp_storage.get_row_name(1) == "second"
    assert m.add_target(x[2]) is None


def test_results_need_an_interpreter_and_a_solution(manager):
    m = LinearModel(manager, "m")
    x = m.create_variable("x", tl.var_type.binary, [2])
    m.add_target(x.dot([1, 1]))
    m.set_maximization(1)
    assert m._lp_storage.is_maximization()
    m.apply_storage()
    assert m.get_result("x") is None  # nothing solved yet
    assert m.get_objective_value() == 2
    assert m.get_result("x").tolist() == [1, 1] and m.get_result("nope") is None
    # The model reads its own interpreter, whatever the manager holds now.
    manager.set_witness_interpreter(None)
    assert m.get_result("x").tolist() == [1, 1]
    assert m.get_linh_solution().get_status() == "optimal"


def test_set_solution_is_refused(manager):
    with pytest.raises(NotImplementedError):
        LinearModel(manager, "m").set_solution("x", np.zeros(2))


def test_rows_added_after_apply_storage_count(manager):
    m = LinearModel(manager, "m")
    x = m.create_variable("x", tl.var_type.integer, [2], 0, 10)
    m.add_target(x[0] + x[1])
    m.set_maximization(True)
    m.apply_storage()
    assert m.get_objective_value() == 20
    m.add_constraint(x[0] + 2 * x[1] <= 12)
    assert m.get_objective_value() == 11
    assert m.get_result("x").tolist() == [10, 1]


def test_transport_lp_known_optimum(manager):
    # Two plants (supply 20, 30) and three markets (demand 10, 25, 15).
    cost = np.array([[8, 6, 10], [9, 12, 13]])
    m = LinearModel(manager, "transport")
    ship = m.create_variable("ship", tl.var_type.continuous, cost.shape)
    for p, supply in enumerate([20, 30]):
        m.add_constraint(ship[3 * p:3 * p + 3:1] <= supply)
    for k, demand in enumerate([10, 25, 15]):
        m.add_constraint(ship[[k, 3 + k]] >= demand)
    m.add_target(ship.dot(cost.ravel()))
    m.apply_storage()
    assert m.get_objective_value() == pytest.approx(
        min(6 * 20 + 9 * 10 + 12 * 5 + 13 * 15, 8 * 5 + 10 * 15 + 9 * 5 + 12 * 25)
    )
    result = m.get_result("ship")
    assert result.shape == (2, 3)
    assert result.sum(axis=0) == pytest.approx([10, 25, 15])


def test_two_models_on_one_manager_read_their_own_results(manager, sent_logs):
    a = LinearModel(manager, "a")
    xa = a.create_variable("x", tl.var_type.integer, [1], 0, 3)
    a.add_target(xa[0])
    a.set_maximization(True)
    b = LinearModel(manager, "b")  # registers its own interpreter
    xb = b.create_variable("x", tl.var_type.integer, [2], 0, 5)
    b.add_target(xb[0] + xb[1])
    with pytest.raises(ValueError, match="another linear model"):
        b.add_constraint(xa[0] >= 1)
    with pytest.raises(ValueError, match="two different linear models"):
        xa[0] + xb[1]
    with pytest.raises(BuildError, match=r"^Linear model <b> has not been handed to the manager"):
        b.get_objective_value()
    a.apply_storage()
    assert a.get_objective_value() == 3
    assert a.get_result("x").tolist() == [3] and b.get_result("x") is None
    b.set_maximization(True)
    b.apply_storage()
    assert b.get_objective_value() == 10
    assert a.get_objective_value() == 3 and a.get_result("x").tolist() == [3]
    assert b.get_result("x").tolist() == [5, 5]
    assert b._lp_storage.get_row_count() == 0


def test_wide_model(manager):
    n = 5_000
    m = LinearModel(manager, "wide")
    x = m.create_variable("x", tl.var_type.continuous, [n], 0, 1)
    m.add_constraint(x.dot(np.ones(n)) <= 10)
    m.add_constraint(x[np.arange(n) % 3 == 0] == 0)
    m.add_target(x.dot(np.arange(n, dtype=float)))
    m.set_maximization(True)
    m.apply_storage()
    best = sorted(i for i in range(n) if i % 3)[-10:]
    assert m.get_objective_value() == pytest.approx(sum(best))
    assert np.flatnonzero(m.get_result("x") > 0.5).tolist() == best


@st.composite
def knapsack_like(draw):
    n = draw(st.integers(1, 4))
    ub = draw(st.lists(st.integers(0, 2), min_size=n, max_size=n))
    cost = draw(st.lists(st.integers(-5, 5), min_size=n, max_size=n))
    rows = draw(st.lists(
        st.tuples(st.lists(st.integers(-3, 3), min_size=n, max_size=n), st.integers(-3, 6),
                  st.sampled_from(["<=", ">=", "=="])),
        max_size=3))
    return n, ub, cost, rows, draw(st.booleans()), draw(st.integers(-3, 3))


@settings(max_examples=40)
@given(knapsack_like())
def test_small_milps_match_enumeration(problem):
    n, ub, cost, rows, maximize, offset = problem
    mgr = tl.manager()
    m = LinearModel(mgr, "milp")
    m.create_variable("pad", tl.var_type.binary, [2])
    x = m.create_variable("x", tl.var_type.integer, [n], 0, 2)
    for k, u in enumerate(ub):
        m.add_constraint(x[k] <= u)
    checks = {"<=": lambda a, b: a <= b, ">=": lambda a, b: a >= b, "==": lambda a, b: a == b}
    for coefs, rhs, op in rows:
        e = x.dot(coefs)
        m.add_constraint(e <= rhs if op == "<=" else e >= rhs if op == ">=" else e == rhs)
    m.add_target(x.dot(cost) + offset)
    m.set_maximization(maximize)
    m.apply_storage()

    def feasible(p):
        return all(checks[op](np.dot(coefs, p), rhs) for coefs, rhs, op in rows)

    values = [np.dot(cost, p) + offset for p in itertools.product(*(range(u + 1) for u in ub)) if feasible(p)]
    solution = m.get_linh_solution()
    if not values:
        assert solution.get_status() == "infeasible" and m.get_result("x") is None
        return
    assert m.get_objective_value() == pytest.approx(max(values) if maximize else min(values))
    point = m.get_result("x")
    assert feasible(point) and all(0 <= v <= u for v, u in zip(point, ub))
    assert np.dot(cost, point) + offset == pytest.approx(m.get_objective_value())


def test_public_surface():
    import zorv_encoder.linear_parser as lp

    assert lp.__all__ == ["LinearModel", "VariableArray", "LinearExpression"]
    assert lp.LinearExpression is LinearExpression
    assert lp.linear_model.LinearModel is LinearModel
