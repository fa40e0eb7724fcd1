import math

import numpy as np
import pytest

import orbeny.trelle as tl


def row(width=10):
    r = tl.linear_expression()
    r.set_var_count(width)
    return r


def coefs(r):
    return r.get_linear_coefficients().tolist()


def test_fresh_row_is_empty_and_border_free():
    r = tl.linear_expression()
    assert r.get_var_count() == 0 and coefs(r) == []
    assert r.get_constant() == 0.0 and r.get_name() == ""
    assert r.get_left_border() == -tl.infin and r.get_right_border() == tl.infin
    assert r.is_border_free() and r.get_ineq_type() == tl.ineq_type.unknown


@pytest.mark.parametrize(
    "indexes",
    [[4, 1, 4], (4, 1), np.array([4, 1, 4]), np.array([4, 1], dtype=np.int8),
     np.array([4, 1], dtype=np.uint32), np.flatnonzero([0, 1, 0, 0, 1])],
)
def test_set_ones_takes_lists_and_integer_arrays(indexes):
    r = row(8)
    r.set_ones(indexes, 2)
    assert coefs(r) == [0, 0, 0, 1, 0, 0, 1, 0, ]


@pytest.mark.parametrize("empty", [[], np.array([], dtype=np.int64), np.array([])])
def test_set_ones_with_nothing_selected(empty):
    r = row(3)
    r.set_ones(empty, 1)
    assert coefs(r) == [0, 0, 0]


@pytest.mark.parametrize(
    "indexes, error",
    [
        ([1.0, 2.0], TypeError),
        (np.array([1.5]), TypeError),
        ([True, False], TypeError),  # a list of Booleans reads as a mask, not as 1 and 0
        (["1"], TypeError),
        ([[1, 2], [3, 4]], ValueError),
        ([-1], IndexError),
        ([7], IndexError),  # shift 3 + 7 is past the 10 columns
        ([2**70], TypeError),
    ],
)
def test_set_ones_refuses_bad_indexes_and_leaves_row_unchanged(indexes, error):
    r = row(10)
    r.set_one(0)
    with pytest.raises(error):
        r.set_ones(indexes, 3)
    assert coefs(r) == [1] + [0] * 9


@pytest.mark.parametrize("col", [3, np.int64(3), np.int32(3)])
def test_set_one_takes_host_and_numpy_integers(col):
    r = row(5)
    r.set_one(col)
    r.set_one(True)
    assert coefs(r) == [0, 1, 0, 1, 0]


@pytest.mark.parametrize("col, error", [(5, IndexError), (-1, IndexError), (1.0, TypeError), ("1", TypeError)])
def test_set_one_refuses_columns_outside_the_row(col, error):
    with pytest.raises(error):
        row(5).set_one(col)


@pytest.mark.parametrize(
    "values", [[1.5, 2, 0, -3], np.array([1.5, 2, 0, -3]), np.array([3, 4, 0, -6]) / 2, (1.5, 2, 0, -3)]
)
def test_set_by_coefficients_places_coefficient_k_at_shift_plus_k(values):
    r = row(6)
    r.set_one(3)  # overwritten by the 0 at shift + 2
    r.set_by_coefficients(1, values)
    assert coefs(r) == [0, 1.5, 2, 0, -3, 0]
    cols, vals = r._get_entries()
    assert cols.tolist() == [1, 2, 4]  # zeros are not stored


@pytest.mark.parametrize(
    "values, error",
    [([1, 2, 3], IndexError), ([math.nan], ValueError), ([math.inf], ValueError),
     ([1j], TypeError), (["a"], TypeError), (np.ones((1, 2)), ValueError)],
)
def test_set_by_coefficients_refuses_bad_values(values, error):
    r = row(3)
    with pytest.raises(error):
        r.set_by_coefficients(1, values)
    assert coefs(r) == [0, 0, 0]


def test_wide_rows_stay_sparse_and_fast_to_merge():
    width = 2_000_000
    a, b = row(width), row(width)
    a.set_ones(np.arange(0, width, 2), 0)
    b.set_by_coefficients(0, np.ones(width))
    s = a.sub_expr(b)
    cols, vals = s._get_entries()
    assert len(cols) == width // 2 and cols[0] == 1 and set(vals.tolist()) == {-1.0}


def test_number_arithmetic_gives_new_rows():
    r = row(3)
    r.set_ones([0, 2], 0)
    r.set_constant(1)
    r.set_name("x")
    plus, minus, times = r.add_num_new(2), r.sub_num_new(0.5), r.mul_num_new(-3)
    assert [plus.get_constant(), minus.get_constant(), times.get_constant()] == [3, 0.5, -3]
    assert coefs(times) == [-3, 0, -3] and coefs(plus) == [1, 0, 1]
    assert r.get_constant() == 1 and coefs(r) == [1, 0, 1]
    assert plus.get_name() == "x" and isinstance(times, tl.linear_expression)
    assert coefs(r.mul_num_new(0)) == [0, 0, 0]


def test_row_arithmetic_merges_widths_and_cancels():
    a, b = row(2), row(4)
    a.set_ones([0, 1], 0)
    a.set_constant(2)
    b.set_by_coefficients(1, [1, 5, 7])
    b.set_constant(0.5)
    s, d = a.add_expr(b), a.sub_expr(b)
    assert s.get_var_count() == 4 and coefs(s) == [1, 2, 5, 7] and s.get_constant() == 2.5
    assert coefs(d) == [1, 0, -5, -7] and d._get_entries()[0].tolist() == [0, 2, 3]
    assert coefs(a.sub_expr(a)) == [0, 0] and coefs(a.add_expr(a)) == [2, 2]


def test_derived_rows_start_without_borders():
    r = row(2)
    r.set_ineq_type(tl.ineq_type.equality)
    r.set_borders(1, 1)
    for derived in (r.add_num_new(1), r.mul_num_new(2), r.add_expr(row(2))):
        assert derived.is_border_free() and derived.get_ineq_type() == tl.ineq_type.unknown
    assert not r.is_border_free()


@pytest.mark.parametrize("bad", [math.nan, math.inf])
def test_non_finite_numbers_are_refused(bad):
    r = row(2)
    r.set_one(0)
    for op in (r.set_constant, r.add_num_new, r.mul_num_new):
        with pytest.raises(ValueError):
            op(bad)
    with pytest.raises(ValueError):
        r.mul_num_new(1e300).mul_num_new(1e300)


def test_borders_and_their_limits():
    r = row(1)
    r.set_left_border(-2)
    assert not r.is_border_free() and r.get_left_border() == -2
    r.set_left_border(-tl.infin)
    assert r.is_border_free()  # a border at its infinite default counts as unset
    r.set_right_border(np.float32(1.5))
    assert r.get_right_border() == 1.5
    for setter, value in [(r.set_left_border, tl.infin), (r.set_right_border, -tl.infin),
                          (r.set_left_border, math.nan)]:
        with pytest.raises(ValueError):
            setter(value)
    with pytest.raises(ValueError):
        r.set_borders(math.inf, math.inf)
    assert r.get_left_border() == -tl.infin and r.get_right_border() == 1.5


def test_width_cannot_shrink_below_a_coefficient():
    r = row(5)
    r.set_one(3)
    with pytest.raises(ValueError):
        r.set_var_count(3)
    with pytest.raises(ValueError):
        r.set_var_count(-1)
    # beyond what a storage can index: refused before any per-column allocation
    with pytest.raises(ValueError, match="at most 2147483647"):
        r.set_var_count(2**31)
    r.set_var_count(4)
    assert r.get_var_count() == 4
