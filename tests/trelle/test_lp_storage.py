import itertools

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import orbeny.trelle as tl

INT, BIN, CONT = tl.var_type.integer, tl.var_type.binary, tl.var_type.continuous


def row_of(storage, coefficients, constant=0):
    r = tl.linear_expression()
    r.set_var_count(storage.get_col_count())
    r.set_by_coefficients(0, coefficients)
    r.set_constant(constant)
    return r


def bounded(r, lo=-tl.infin, hi=tl.infin):
    r.set_ineq_type(tl.ineq_type.less_equal)
    r.set_borders(lo, hi)
    return r


def solve(storage):
    mgr = tl.manager()
    mgr.set_witness_interpreter(tl.witness_interpreter())
    mgr.set_input_lp_storage(storage)
    return mgr, mgr.get_lp_solution(tl.algorithm_type.linh)


def test_blocks_follow_one_another():
    s = tl.lp_storage()
    s.set_model_name("m")
    assert s.create_variable_block("x", [2, 3], INT, -1, 5) == 0
    assert s.create_variable_block("y", (4,), BIN, 0, tl.infin) == 1
    assert s.create_variable_block("z", [], CONT, 0, 1) == 2  # a single column
    assert (s.get_model_name(), s.get_var_block_info_count(), s.get_col_count()) == ("m", 3, 11)
    x, y = s.get_var_block_info(0), s.get_var_block_info(1)
    assert (x.get_name(), x.get_initial_shift(), x.get_item_count(), x.get_var_type()) == ("x", 0, 6, INT)
    assert x.get_shape().get_indexes_info() == [2, 3] and x.get_shape().get_item_count() == 6
    assert (x.get_lower_var_bound(), x.get_upper_var_bound()) == (-1, 5)
    # a binary column lives in {0, 1} whatever wider bounds it was given
    assert (y.get_initial_shift(), y.get_lower_var_bound(), y.get_upper_var_bound()) == (6, 0, 1)
    with pytest.raises(IndexError):
        s.get_var_block_info(3)
    assert (s._find_var_block("y"), s._find_var_block("w")) == (1, None)


@pytest.mark.parametrize(
    "args, error",
    [
        (("x", [2], CONT, 0, 1), ValueError),  # duplicate name: values are read back by name
        (("w", [-1], CONT, 0, 1), ValueError),
        (("w", [2], CONT, 3, 1), ValueError),
        (("w", [2], CONT, float("nan"), 1), ValueError),
        (("w", [2], BIN, 2, 5), ValueError),
        (("w", [2], "integer", 0, 1), TypeError),
        (("w", [2.0], CONT, 0, 1), TypeError),
        (("w", [2**20, 2**20], CONT, 0, 1), OverflowError),
        (("w", [2**31 - 2], CONT, 0, 1), OverflowError),  # would fit but for the 2 columns of x
    ],
)
def test_bad_blocks_are_refused_and_add_nothing(args, error):
    s = tl.lp_storage()
    s.create_variable_block("x", [2], CONT, 0, 1)
    with pytest.raises(error):
        s.create_variable_block(*args)
    assert (s.get_var_block_info_count(), s.get_col_count()) == (1, 2)


def test_rows_are_copied_in_and_checked():
    s = tl.lp_storage()
    s.create_variable_block("x", [3], CONT, 0, 10)
    r = bounded(row_of(s, [1, 1, 1]), hi=4)
    assert s.add_row_from_expression(r, "cap") == 0
    r.set_right_border(1)  # later edits do not reach the stored row
    assert s.add_row_from_expression(r) == 1
    assert (s.get_row_count(), s.get_row_name(0), s.get_row_name(1)) == (2, "cap", "")
    with pytest.raises(ValueError, match="no bound"):
        s.add_row_from_expression(row_of(s, [1, 0, 0]), "free")
    wide = tl.linear_expression()
    wide.set_var_count(5)
    wide.set_one(4)
    with pytest.raises(IndexError):
        s.add_row_from_expression(bounded(wide, hi=1))
    with pytest.raises(ValueError, match="bound"):
        s.add_objective_from_expression(bounded(row_of(s, [1, 0, 0]), lo=0))
    assert s.get_row_count() == 2


@pytest.mark.parametrize("value, expected", [(True, True), (1, True), (0, False), (np.bool_(True), True)])
def test_sense(value, expected):
    s = tl.lp_storage()
    assert not s.is_maximization()
    s.set_maximization(value)
    assert s.is_maximization() is expected


def test_sense_refuses_non_booleans():
    with pytest.raises(TypeError):
        tl.lp_storage().set_maximization("yes")


def test_lp_with_known_optimum_and_constants():
    # max 3a + 2b + 1 s.t. a + b <= 4, a + 3b <= 6, a <= 3 (as a - 1 <= 2)
    s = tl.lp_storage()
    s.create_variable_block("v", [2], CONT, 0, tl.infin)
    s.add_row_from_expression(bounded(row_of(s, [1, 1]), hi=4))
    s.add_row_from_expression(bounded(row_of(s, [1, 3]), hi=6))
    s.add_row_from_expression(bounded(row_of(s, [1, 0], constant=-1), hi=2))
    s.add_objective_from_expression(row_of(s, [3, 2], constant=1))
    s.set_maximization(True)
    mgr, sol = solve(s)
    assert sol.is_optimal() and sol.get_status() == "optimal"
    assert sol.get_objective_value() == pytest.approx(12.0)
    assert list(sol.get_col_values()) == pytest.approx([3.0, 1.0])
    values = mgr.get_witness_interpreter().get_lp_var_values("v")
    assert values.get_ndarray() == pytest.approx([3.0, 1.0])
    assert values.get_ndarray().dtype == np.float64


def test_statuses_without_optimum():
    s = tl.lp_storage()
    s.create_variable_block("x", [1], CONT, 0, tl.infin)
    s.add_objective_from_expression(row_of(s, [1]))
    s.set_maximization(True)
    mgr, sol = solve(s)
    assert "unbounded" in sol.get_status() and not sol.is_optimal()
    with pytest.raises(RuntimeError, match="no optimal solution"):
        sol.get_objective_value()
    assert mgr.get_witness_interpreter().get_lp_var_values("x") is None

    s.add_row_from_expression(bounded(row_of(s, [1]), lo=5, hi=3))
    assert solve(s)[1].get_status() == "infeasible"


def test_manager_reuses_a_solution_until_the_storage_changes():
    s = tl.lp_storage()
    s.create_variable_block("x", [1], INT, 0, 10)
    s.add_objective_from_expression(row_of(s, [1]))
    s.set_maximization(True)
    mgr = tl.manager()
    with pytest.raises(RuntimeError):
        mgr.get_lp_solution(tl.algorithm_type.linh)
    mgr.set_input_lp_storage(s)
    first = mgr.get_lp_solution(tl.algorithm_type.linh)
    assert mgr.get_lp_solution(tl.algorithm_type.linh) is first
    mgr.set_input_lp_storage(s)
    assert mgr.get_lp_solution(tl.algorithm_type.linh) is first
    s.add_row_from_expression(bounded(row_of(s, [1]), hi=7.5))
    second = mgr.get_lp_solution(tl.algorithm_type.linh)
    assert second is not first and second.get_objective_value() == 7
    s.create_variable_block("y", [2], INT, 0, 1)  # a new block changes the storage too
    assert mgr.get_lp_solution(tl.algorithm_type.linh) is not second
    with pytest.raises(TypeError):
        mgr.get_lp_solution("linh")
    with pytest.raises(TypeError):
        mgr.set_input_lp_storage(tl.wcnf_storage())
    mgr.set_input_lp_storage(None)
    with pytest.raises(RuntimeError):
        mgr.get_lp_solution(tl.algorithm_type.linh)


def test_solution_goes_to_the_interpreter_current_at_solve_time():
    s = tl.lp_storage()
    s.create_variable_block("x", [2, 2], BIN, 0, 1)
    s.add_objective_from_expression(row_of(s, [1, 2, 3, 4]))
    s.set_maximization(True)
    mgr = tl.manager()
    mgr.set_input_lp_storage(s)
    before = tl.witness_interpreter()
    mgr.set_witness_interpreter(before)
    assert before.get_lp_var_values("x") is None
    mgr.get_lp_solution(tl.algorithm_type.linh)
    got = before.get_lp_var_values("x").get_ndarray()
    assert got.tolist() == [[1, 1], [1, 1]] and got.dtype == np.int64
    assert before.get_lp_var_values("y") is None
    later = tl.witness_interpreter()
    mgr.set_witness_interpreter(later)
    assert later.get_lp_var_values("x") is None


def test_empty_storage_solves_to_its_offset():
    s = tl.lp_storage()
    s.add_objective_from_expression(row_of(s, [], constant=2.5))
    assert solve(s)[1].get_objective_value() == 2.5


# Small integer programs checked against enumeration of every assignment.
small_ints = st.integers(-3, 3)


@st.composite
def integer_programs(draw):
    n = draw(st.integers(1, 3))
    lows = draw(st.lists(st.integers(-2, 1), min_size=n, max_size=n))
    highs = [lo + draw(st.integers(0, 3)) for lo in lows]
    rows = draw(st.lists(st.tuples(st.lists(small_ints, min_size=n, max_size=n),
                                   st.sampled_from(["le", "ge", "eq"]), st.integers(-4, 4)),
                         max_size=3))
    cost = draw(st.lists(small_ints, min_size=n, max_size=n))
    return lows, highs, rows, cost, draw(st.booleans())


@settings(max_examples=40)
@given(integer_programs())
def test_milp_optimum_matches_enumeration(program):
    lows, highs, rows, cost, maximize = program
    s = tl.lp_storage()
    s.create_variable_block("x", [len(lows)], INT, 0, 0)  # fixed at 0; puts the tested blocks at a shift
    for k, (lo, hi) in enumerate(zip(lows, highs)):
        s.create_variable_block(f"v{k}", [1], INT, lo, hi)
    for coefs, kind, rhs in rows:
        r = row_of(s, [0] * len(lows) + coefs)
        bounded(r, lo=rhs if kind in ("ge", "eq") else -tl.infin, hi=rhs if kind in ("le", "eq") else tl.infin)
        s.add_row_from_expression(r)
    s.add_objective_from_expression(row_of(s, [0] * len(lows) + cost, constant=1))
    s.set_maximization(maximize)

    def feasible(point):
        for coefs, kind, rhs in rows:
            lhs = sum(c * v for c, v in zip(coefs, point))
            if (kind == "le" and lhs > rhs) or (kind == "ge" and lhs < rhs) or (kind == "eq" and lhs != rhs):
                return False
        return True

    values = [1 + sum(c * v for c, v in zip(cost, p))
              for p in itertools.product(*(range(lo, hi + 1) for lo, hi in zip(lows, highs))) if feasible(p)]
    mgr, sol = solve(s)
    if not values:
        assert sol.get_status() == "infeasible"
        return
    best = max(values) if maximize else min(values)
    assert sol.get_objective_value() == pytest.approx(best)
    point = [mgr.get_witness_interpreter().get_lp_var_values(f"v{k}").get_ndarray()[0] for k in range(len(lows))]
    assert feasible(point) and 1 + sum(c * v for c, v in zip(cost, point)) == best
