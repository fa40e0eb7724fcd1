import math

import numpy as np
import pytest

import orbeny.trelle as tl
from zorv_encoder._exceptions import FormulaError
from zorv_encoder.linear_parser import LinearExpression
from zorv_encoder.linear_parser import linear_expression as le_module

ERROR = tl.log_level_type.error
ADD_BORDER = "Operations (add) with expressions with defined boundaries (lower, upper) are not allowed."
SUB_BORDER = "Operations (sub) with expressions with defined boundaries (lower, upper) are not allowed."
MUL_BORDER = "Operations with expressions with defined boundaries are not allowed."
ADD_TYPE = "Type 'float', 'int' or 'LinearExpression' is expected for left side of expression"
MUL_TYPE = "Type <LinearExpression> is expected for left side of expression"
QUADRATIC = "Objective function with quadratic coefficients is not supported."


def expr(coefficients=(1, 2, 0), constant=0):
    row = tl.linear_expression()
    row.set_var_count(len(coefficients))
    row.set_by_coefficients(0, list(coefficients))
    row.set_constant(constant)
    return LinearExpression(row)


def coefs(e):
    return e.get_linear_coefficients().tolist()


def refused(sent_logs, exc, message, action):
    with pytest.raises(exc) as info:
        action()
    assert info.value.args == (message,)
    assert sent_logs == [(message, ERROR)]


def test_wrapper_shares_its_row():
    a, b = LinearExpression(), LinearExpression(None)
    assert a.lin_expr is not b.lin_expr and isinstance(a.lin_expr, tl.linear_expression)
    row = tl.linear_expression()
    w1, w2 = LinearExpression(row), LinearExpression(lin_expression=row)
    assert w1.lin_expr is row
    w1.set_constant(3)
    assert w1.set_left_bound(1) is None and w1.set_right_bound(2) is None and w1.set_name("r") is None
    assert (w2.get_constant(), w2.get_left_bound(), w2.get_right_bound(), w2.get_name()) == (3, 1, 2, "r")
    assert row.get_ineq_type() == tl.ineq_type.unknown  # the bound setters leave the type alone
    with pytest.raises(AttributeError):
        w1.lin_expr = row


def test_a_false_object_other_than_none_becomes_the_row():
    assert LinearExpression([]).lin_expr == []


@pytest.mark.parametrize("value", [True, 3, 2.5, np.int8(4), np.float32(1.5), np.uint64(7)])
def test_set_constant_takes_numbers(value, sent_logs):
    e = LinearExpression()
    assert e.set_constant(value) is None
    assert e.get_constant() == float(value) and sent_logs == []


@pytest.mark.parametrize("value", ["3", None, 1j, np.bool_(True), np.array(2.0)])
def test_set_constant_refuses_other_values(value, sent_logs):
    e = expr(constant=5)
    refused(sent_logs, TypeError, "Constant must be a float or integer number", lambda: e.set_constant(value))
    assert e.get_constant() == 5


def test_set_constant_unchecked_without_debug_log(monkeypatch, sent_logs):
    monkeypatch.setattr(le_module, "DEBUG_LOG", False)
    with pytest.raises(TypeError) as info:  # the row itself still refuses it
        LinearExpression().set_constant("3")
    assert "Constant must be" not in str(info.value) and sent_logs == []


@pytest.mark.parametrize(
    "build, coefficients, constant",
    [
        (lambda e, f: e + 2, [1, 2, 0], 3),
        (lambda e, f: 2 + e, [1, 2, 0], 3),
        (lambda e, f: e + True, [1, 2, 0], 2),
        (lambda e, f: e - 1.5, [1, 2, 0], -0.5),
        (lambda e, f: 4 - e, [-1, -2, 0], 3),
        (lambda e, f: 3 * e, [3, 6, 0], 3),
        (lambda e, f: e * np.float64(0.5), [0.5, 1, 0], 0.5),
        (lambda e, f: e + np.int16(1), [1, 2, 0], 2),
        (lambda e, f: e + f, [1, 3, 1], 1),
        (lambda e, f: e - f, [1, 1, -1], 1),
        (lambda e, f: (e - f) * 2 + f, [2, 3, -1], 2),
    ],
)
def test_arithmetic_gives_new_rows(build, coefficients, constant, sent_logs):
    e, f = expr(constant=1), expr((0, 1, 1))
    result = build(e, f)
    assert type(result) is LinearExpression and result is not e and result.lin_expr is not e.lin_expr
    assert coefs(result) == coefficients and result.get_constant() == constant
    assert coefs(e) == [1, 2, 0] and e.get_constant() == 1 and coefs(f) == [0, 1, 1]
    assert sent_logs == []


@pytest.mark.parametrize("other", [None, "x", 1j, np.bool_(True), np.array(1.0), [1]])
@pytest.mark.parametrize(
    "op, message",
    [(lambda e, o: e + o, ADD_TYPE), (lambda e, o: e - o, ADD_TYPE), (lambda e, o: e * o, MUL_TYPE)],
)
def test_arithmetic_refuses_non_numbers(op, message, other, sent_logs):
    refused(sent_logs, TypeError, message, lambda: op(expr(), other))


@pytest.mark.parametrize(
    "op, message",
    [(lambda e: None + e, ADD_TYPE), (lambda e: "x" - e, ADD_TYPE), (lambda e: 1j * e, MUL_TYPE)],
)
def test_reflected_arithmetic_refuses_non_numbers(op, message, sent_logs):
    refused(sent_logs, TypeError, message, lambda: op(expr()))


def test_row_times_row_is_quadratic(sent_logs):
    refused(sent_logs, FormulaError, QUADRATIC, lambda: expr() * expr())


@pytest.mark.parametrize(
    "op, message",
    [
        (lambda e, f: e + 1, ADD_BORDER),
        (lambda e, f: 1 + e, ADD_BORDER),
        (lambda e, f: e + "x", ADD_BORDER),
        (lambda e, f: e - f, SUB_BORDER),
        (lambda e, f: 1 - e, SUB_BORDER),
        (lambda e, f: e * 2, MUL_BORDER),
        (lambda e, f: e * f, MUL_BORDER),
    ],
)
def test_bounded_rows_refuse_arithmetic(op, message, sent_logs):
    e, f = expr(), expr()
    e >= 0
    refused(sent_logs, FormulaError, message, lambda: op(e, f))


def test_a_bounded_right_operand_is_accepted():
    f = expr()
    f <= 3
    assert coefs(expr() + f) == [2, 4, 0]


def test_comparisons_set_type_and_borders_in_place(sent_logs):
    e = expr()
    assert (e == 4) is e
    assert e.lin_expr.get_ineq_type() == tl.ineq_type.equality
    assert (e.get_left_bound(), e.get_right_bound()) == (4, 4)

    stepwise = expr()
    stepwise <= 10
    stepwise >= np.float32(0.5)
    assert (stepwise.get_left_bound(), stepwise.get_right_bound()) == (0.5, 10)
    assert sent_logs == []


@pytest.mark.parametrize("action", [lambda e, f: e != 3, lambda e, f: e <= f, lambda e, f: e == "3"])
def test_no_inequality_or_row_bound(sent_logs, action):
    e, f = expr(), expr()
    with pytest.raises(TypeError):
        action(e, f)
    assert len(sent_logs) == 1
    for row in (e, f):
        assert row.lin_expr.get_ineq_type() == tl.ineq_type.unknown and row.lin_expr.is_border_free()


# A row is true: a chain bounds it on both sides, the last comparison setting the type.
@pytest.mark.parametrize("chain, kind, borders", [
    (lambda e: 0 <= e <= 10, tl.ineq_type.less_equal, (0, 10)),
    (lambda e: 10 >= e >= 0, tl.ineq_type.greater_equal, (0, 10)),
    (lambda e: e if e == 4 else None, tl.ineq_type.equality, (4, 4)),
    (lambda e: e if bool(e) else None, tl.ineq_type.unknown, (-tl.infin, tl.infin)),
])
def test_a_row_is_true_so_chains_bound_both_sides(sent_logs, chain, kind, borders):
    e = expr()
    assert chain(e) is e
    assert e.lin_expr.get_ineq_type() == kind
    assert (e.get_left_bound(), e.get_right_bound()) == borders
    assert sent_logs == []


def test_lower_bound_at_minus_infinity_still_counts_as_unset():
    e = expr()
    e >= -tl.infin
    e >= 2
    assert e.get_left_bound() == 2


@pytest.mark.parametrize(
    "first, second, message",
    [
        (lambda e: e == 4, lambda e: e == 4, "The expression already has one of the boundaries set."),
        (lambda e: e >= 0, lambda e: e == 4, "The expression already has one of the boundaries set."),
        (lambda e: e == 4, lambda e: e >= 1, "The expression already has a lower bound = 4.0"),
        (lambda e: e >= 1.5, lambda e: e >= 1, "The expression already has a lower bound = 1.5"),
        (lambda e: e <= 5, lambda e: e <= 5, "The expression already has upper bound = <5.0>"),
    ],
)
def test_a_border_is_set_once(first, second, message, sent_logs):
    e = expr()
    first(e)
    borders = (e.get_left_bound(), e.get_right_bound())
    refused(sent_logs, FormulaError, message, lambda: second(e))
    assert (e.get_left_bound(), e.get_right_bound()) == borders


def test_rows_are_not_hashable():
    with pytest.raises(TypeError):
        {expr()}


def test_a_refused_border_keeps_the_new_type():
    e = expr()
    with pytest.raises(ValueError):
        e >= math.nan
    assert e.lin_expr.get_ineq_type() == tl.ineq_type.greater_equal and e.lin_expr.is_border_free()
