"""Linear-program storage and rows, and their solution through HiGHS."""

import enum
import math
import numbers

import numpy as np

from ._engine import lp as _lp
from ._formula_encoder import _text

__all__ = [
    "infin",
    "ineq_type",
    "var_type",
    "algorithm_type",
    "var_block_shape",
    "var_block_info",
    "linear_expression",
    "lp_storage",
    "lp_solution",
    "lp_var_values",
]

# Unset row borders and unbounded columns; the solver reads it as "no bound".
infin = math.inf

ineq_type = _lp.ineq_type
var_type = _lp.var_type
var_block_shape = _lp.var_block_shape
var_block_info = _lp.var_block_info


class algorithm_type(enum.Enum):
    """LP/MILP algorithms the manager can solve a linear storage with."""

    linh = "highs"


def _index_array(indexes):
    """`indexes` as a contiguous int64 array, refusing what is not a flat sequence of integers."""
    array = np.asarray(indexes)
    if array.size == 0:
        return np.empty(0, dtype=np.int64)
    if array.ndim != 1:
        raise ValueError(f"indexes must form a one-dimensional sequence, got {array.ndim} dimensions")
    # Booleans are refused: a list of them reads as a mask, not as the indexes 0 and 1.
    if array.dtype.kind not in "iu":
        raise TypeError(f"indexes must be integers, got elements of type {array.dtype}")
    if array.dtype.kind == "u" and array.dtype.itemsize == 8 and array.max() > np.iinfo(np.int64).max:
        raise IndexError("an index is too large for a column number")
    return np.ascontiguousarray(array, dtype=np.int64)


def _coefficient_array(coefs):
    """`coefs` as a contiguous float64 array, refusing what is not a flat sequence of real numbers."""
    array = np.asarray(coefs)
    if array.size == 0:
        return np.empty(0, dtype=np.float64)
    if array.ndim != 1:
        raise ValueError(f"coefficients must form a one-dimensional sequence, got {array.ndim} dimensions")
    if array.dtype.kind not in "biuf":
        raise TypeError(f"coefficients must be real numbers, got elements of type {array.dtype}")
    return np.ascontiguousarray(array, dtype=np.float64)


class linear_expression(_lp.linear_row):
    """A linear row: coefficients over the storage's columns, a constant, borders, name and type.

    Arithmetic gives new rows that keep the left operand's name and start without borders.
    """

    def __init__(self, other=None):
        # Called on the class, not through super(): super() binds the engine's method first, and
        # the binding library does not check that allocation (a failure there crashes).
        if other is None:
            _lp.linear_row.__init__(self)
        else:
            _lp.linear_row.__init__(self, other)

    def set_ones(self, indexes, shift):
        """Coefficient 1 at column shift + i for each i of a list or integer array."""
        self._set_ones(_index_array(indexes), shift)

    def set_by_coefficients(self, shift, coefs):
        """Coefficient coefs[k] at column shift + k, from a list or numeric array."""
        self._set_by_coefficients(shift, _coefficient_array(coefs))

    def _derived(self):
        row = linear_expression(self)
        row._clear_borders()
        return row

    def add_num_new(self, value):
        row = self._derived()
        row._add_constant(value)
        return row

    def sub_num_new(self, value):
        row = self._derived()
        row._add_constant(-value)
        return row

    def mul_num_new(self, value):
        row = self._derived()
        row._scale(value)
        return row

    def add_expr(self, other):
        row = self._derived()
        row._add_row(other, 1.0)
        return row

    def sub_expr(self, other):
        row = self._derived()
        row._add_row(other, -1.0)
        return row


class lp_storage(_lp.lp_storage):
    """A linear (mixed-integer) program: blocks of columns, constraint rows and an objective."""

    def set_model_name(self, name):
        # Checked here: the binding refuses a name with no UTF-8 form as it refuses a non-str.
        self._set_model_name(_text(name, "a model name"))

    def set_maximization(self, value):
        """Maximise the objective when `value` is true, minimise it otherwise (the default)."""
        if not isinstance(value, (numbers.Integral, np.integer, np.bool_)):
            raise TypeError(f"the optimisation sense must be a Boolean, got {type(value)}")
        self._set_maximization(bool(value))


class lp_var_values:
    """The solution values of one variable block, shaped like the block."""

    def __init__(self, name, values):
        self._name = name
        self._values = values

    def get_name(self):
        return self._name

    def get_ndarray(self):
        """A fresh array of the values: integers for integer and binary blocks, floats otherwise."""
        return self._values.copy()


_STATUS_TEXT = {
    "kOptimal": "optimal",
    "kInfeasible": "infeasible",
    "kUnbounded": "unbounded",
    "kUnboundedOrInfeasible": "unbounded or infeasible",
    "kModelEmpty": "optimal",
}


class lp_solution:
    """The outcome of solving a linear storage: its status, objective value and column values."""

    def __init__(self, status, objective_value, col_values, blocks):
        self._status = status
        self._objective_value = objective_value
        self._col_values = col_values
        # name -> (first column, shape, integral), as the storage stood when it was solved
        self._blocks = blocks

    def get_status(self):
        return self._status

    def is_optimal(self):
        return self._status == "optimal"

    def get_objective_value(self):
        """The optimal objective value; a model without an optimum raises RuntimeError."""
        self._require_optimum()
        return self._objective_value

    def get_col_values(self):
        """The value of every column, in storage order."""
        self._require_optimum()
        return self._col_values.copy()

    def get_var_values(self, name):
        """The values of the block `name`, or None without an optimum or without such a block."""
        if not self.is_optimal() or name not in self._blocks:
            return None
        shift, shape, integral = self._blocks[name]
        size = math.prod(shape)
        values = self._col_values[shift : shift + size].reshape(shape)
        if integral:
            values = np.rint(values).astype(np.int64)
        return lp_var_values(name, values)

    def _require_optimum(self):
        if not self.is_optimal():
            raise RuntimeError(f"the linear model has no optimal solution: it is {self._status}")


def _block_table(storage):
    table = {}
    for index in range(storage.get_var_block_info_count()):
        info = storage.get_var_block_info(index)
        table[info.get_name()] = (
            info.get_initial_shift(),
            tuple(info.get_shape().get_indexes_info()),
            info.get_var_type() != var_type.continuous,
        )
    return table


def _highs_solver():
    try:
        # The plain solver object: no callback machinery and no start-up banner on stdout.
        from highspy._core import _Highs as solver
    except ImportError:  # pragma: no cover - other highspy layouts
        from highspy import Highs as solver
    highs = solver()
    highs.setOptionValue("output_flag", False)
    # A MILP counts as solved only at its proven optimum, not within the default 0.01 % gap.
    highs.setOptionValue("mip_rel_gap", 0.0)
    return highs


def _solve_with_highs(storage):
    import highspy

    a = storage._solver_arrays()
    num_col = len(a["col_cost"])
    sense = highspy.ObjSense.kMaximize if a["maximization"] else highspy.ObjSense.kMinimize
    highs = _highs_solver()
    # The whole model in one call, from the engine's arrays without per-element conversion.
    status = highs.passModel(
        num_col, len(a["row_lower"]), len(a["a_value"]), int(highspy.MatrixFormat.kRowwise),
        int(sense), a["offset"], a["col_cost"], a["col_lower"], a["col_upper"],
        a["row_lower"], a["row_upper"], a["a_start"], a["a_index"], a["a_value"], a["integrality"],
    )
    if status == highspy.HighsStatus.kError:
        raise ValueError("the solver refused the linear model")
    highs.run()
    model_status = highs.getModelStatus()
    status = _STATUS_TEXT.get(model_status.name, highs.modelStatusToString(model_status).lower())
    if status != "optimal":
        return lp_solution(status, math.nan, np.empty(0), {})
    if num_col:
        col_values = np.asarray(highs.getSolution().col_value, dtype=np.float64)
    else:
        col_values = np.empty(0)
    objective = highs.getInfo().objective_function_value if num_col else a["offset"]
    return lp_solution(status, float(objective), col_values, _block_table(storage))


class _lp_problem:
    """A storage handed to a manager, with its last solution kept until the storage changes."""

    _solvers = {algorithm_type.linh: _solve_with_highs}

    def __init__(self, storage):
        if not isinstance(storage, _lp.lp_storage):
            raise TypeError(f"a linear storage (lp_storage) is expected, got {type(storage)}")
        self._storage = storage
        self._cached = None  # (revision, algorithm, solution)

    def storage(self):
        return self._storage

    def solve(self, algorithm):
        if not isinstance(algorithm, algorithm_type):
            raise TypeError(f"an algorithm_type member is expected, got {type(algorithm)}")
        revision = self._storage._revision()
        if self._cached is None or self._cached[:2] != (revision, algorithm):
            self._cached = (revision, algorithm, self._solvers[algorithm](self._storage))
        return self._cached[2]
