import numpy as np
import pytest

import orbeny.trelle as tl
from zorv_encoder._exceptions import VariableError
from zorv_encoder.linear_parser import LinearExpression, VariableArray
from zorv_encoder.linear_parser import lp_variable as lpv_module

ERROR = tl.log_level_type.error


@pytest.fixture
def storage():
    s = tl.lp_storage()
    s.create_variable_block("pad", [7], tl.var_type.continuous, 0, 1)  # so x starts at column 7
    return s


@pytest.fixture
def x(storage):
    return VariableArray(storage, "x", [5], tl.var_type.integer, -2, 9)


def columns(e):
    """The storage columns of a row with their coefficients."""
    cols, vals = e.lin_expr._get_entries()
    return dict(zip(cols.tolist(), vals.tolist()))


def test_array_reads_its_block_back(storage):
    a = VariableArray(storage, "y", [2, 3], tl.var_type.binary, 0, tl.infin)
    assert (a._name, a._var_block_index, a._bshift, a._item_count) == ("y", 1, 7, 6)
    assert a.get_shape() == [2, 3] and a.get_var_count() == 6
    assert (a.lower_bound(), a.upper_bound(), a.name(), a.type()) == (0, 1, "y", tl.var_type.binary)
    assert callable(a.name) and callable(a.type)


def test_a_failed_block_leaves_no_array(storage):
    with pytest.raises(ValueError):
        VariableArray(storage, "pad", [1], tl.var_type.integer, 0, 1)
    assert storage.get_var_block_info_count() == 1


@pytest.mark.parametrize(
    "item, name, cols",
    [
        (0, "x[0]", [7]),
        (4, "x[4]", [11]),
        (np.int64(2), "x[2]", [9]),
        (True, "x[True]", [8]),
        (slice(1, 5, 2), "x[slice(1, 5, 2)]", [8, 10]),
        (slice(2, 2, 1), "x[slice(2, 2, 1)]", []),
        (slice(0, 5, 1), "x[slice(0, 5, 1)]", [7, 8, 9, 10, 11]),
        (slice(4, 0, -2), "x[slice(4, 0, -2)]", [11, 9]),
        (slice(None, 2), "x[slice(None, 2, None)]", [7, 8]),
        (slice(3, None), "x[slice(3, None, None)]", [10, 11]),
        (slice(None, None, -1), "x[slice(None, None, -1)]", [7, 8, 9, 10, 11]),
        ([4, 1, 4], "x[3]", [8, 11]),
        ([], "x[0]", []),
        (np.array([3, 0]), "x[2]", [7, 10]),
        (np.array([0, 0, 1], dtype=bool), "x[3]", [9]),
        (np.array([[True, False], [False, True]]), "x[2]", [7, 10]),
    ],
)
def test_indexing_builds_a_named_row_of_ones(x, item, name, cols, sent_logs):
    e = x[item]
    assert isinstance(e, LinearExpression)
    assert e.get_name() == name and e.lin_expr.get_ineq_type() == tl.ineq_type.unknown
    assert columns(e) == {c: 1.0 for c in cols}
    assert e.lin_expr.get_var_count() == 12 and e.lin_expr.is_border_free()
    assert sent_logs == []


def test_rows_span_the_columns_present_when_built(storage, x):
    before = x[0]
    VariableArray(storage, "z", [2], tl.var_type.continuous, 0, 1)
    assert before.lin_expr.get_var_count() == 12 and x[0].lin_expr.get_var_count() == 14
    assert x[0].lin_expr is not x[0].lin_expr


@pytest.mark.parametrize(
    "item, message",
    [
        (5, "[5] is not a valid index (out of range)"),
        (-1, "[-1] is not a valid index (out of range)"),
        (slice(-1, 3, 1), "[slice(-1, 3, 1)] is not a valid indexes (out of range)"),
        (slice(0, 6, 1), "[slice(0, 6, 1)] is not a valid indexes (out of range)"),
        (slice(5, 0, -1), "[slice(5, 0, -1)] is not a valid indexes (out of range)"),
        (slice(2, -3, -1), "[slice(2, -3, -1)] is not a valid indexes (out of range)"),
        (np.array([[1, 2]]), "[[1 2]] is not a valid index"),
        (np.array([1.0]), "[1.] is not a valid index"),
        ([0, 5], "[0, 5] is not a valid index"),
        ([-1], "[-1] is not a valid index"),
        (np.array([1, 7]), "[1 7] is not a valid index"),
        (np.array([False] * 6 + [True]), f"{np.array([False] * 6 + [True])} is not a valid index"),
    ],
)
def test_out_of_range_selections_are_refused(x, item, message, sent_logs):
    with pytest.raises(IndexError) as info:
        x[item]
    assert info.value.args == (message,) and sent_logs == [(message, ERROR)]


@pytest.mark.parametrize(
    "item, type_text",
    [((1, 2), "<class 'tuple'>"), (1.0, "<class 'float'>"), ("a", "<class 'str'>"),
     (None, "<class 'NoneType'>"), (np.bool_(True), str(np.bool_))],
)
def test_other_index_kinds_are_refused_always(x, item, type_text, sent_logs, monkeypatch):
    monkeypatch.setattr(lpv_module, "DEBUG_LOG", False)
    message = f"Undefined type {type_text} for indexing"
    with pytest.raises(IndexError) as info:
        x[item]
    assert info.value.args == (message,) and sent_logs == [(message, ERROR)]


def test_without_debug_log_checks_are_skipped(storage, x, monkeypatch, sent_logs):
    monkeypatch.setattr(lpv_module, "DEBUG_LOG", False)
    VariableArray(storage, "z", [2], tl.var_type.continuous, 0, 1)
    assert columns(x[5]) == {12: 1.0}  # past x, on z's first column: not checked
    assert columns(x[[5]]) == {12: 1.0}
    with pytest.raises(IndexError):
        x[-8]  # before the row's first column: the row itself refuses it
    with pytest.raises(TypeError):
        x[np.array([1.0])]  # reaches the row as a float list, which it refuses
    with pytest.raises(ValueError):
        x[np.array([[1, 2]])]  # reaches the row as a nested list
    assert columns(x.dot([1, 2])) == {7: 1.0, 8: 2.0}
    assert sent_logs == []


def test_slice_with_step_zero_fails_like_range(x):
    with pytest.raises(ValueError):
        x[1:3:0]


@pytest.mark.parametrize("coefs", [[1.5, 2, 3, 0, -1], np.array([1.5, 2, 3, 0, -1]), [1.5, 2, 3, False, -1]])
def test_dot_places_coefficients_from_the_block_start(x, coefs, sent_logs):
    e = x.dot(coefs)
    assert e.get_name() == "dot(x, 5)" and e.lin_expr.get_ineq_type() == tl.ineq_type.unknown
    assert columns(e) == {7: 1.5, 8: 2.0, 9: 3.0, 11: -1.0}
    assert sent_logs == []


def test_dot_count_check(x, sent_logs):
    message = "Coefficient count (2) != variable count (5) for variable x"
    with pytest.raises(VariableError) as info:
        x.dot([1, 2])
    assert info.value.args == (message,) and sent_logs == [(message, ERROR)]


def test_dot_names_with_the_total_size(storage, sent_logs):
    y = VariableArray(storage, "y", [2, 3], tl.var_type.integer, 0, 1)
    with pytest.raises(VariableError, match=r"^Coefficient count \(2\) != variable count \(6\)"):
        y.dot(np.ones((2, 3)))
    assert columns(y.dot(np.arange(6))) == {c: float(c - 7) for c in range(8, 13)}


@pytest.mark.parametrize("coefs, type_text", [((1, 2), "<class 'tuple'>"), (3, "<class 'int'>")])
def test_dot_refuses_other_kinds_with_index_error(x, coefs, type_text, sent_logs):
    message = f"Undefined type {type_text} for dot()"
    with pytest.raises(IndexError) as info:
        x.dot(coefs)
    assert info.value.args == (message,) and sent_logs == [(message, ERROR)]
