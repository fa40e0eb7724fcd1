from __future__ import annotations

from numbers import Real, Integral
from typing import Union

import numpy as np
import orbeny.trelle as tl

from ..core.zorv_logger import *
from .._exceptions import FormulaError

_CoefType = Union[Integral, Real, np.integer, np.floating]


def _bound_checked(other, operator: str) -> None:
    """A comparison bounds the row by a number; anything else is refused before the row changes."""
    if not isinstance(other, _CoefType.__args__):
        msg = (f"A row can only be compared with a number ({operator} sets a bound), not with "
               f"{type(other).__name__}")
        if isinstance(other, LinearExpression):
            msg += "; move every term to one side: (a - b) " + operator + " 0"
        log_e(msg)
        raise TypeError(msg)


def _common_storage(first: LinearExpression, second: LinearExpression):
    """The linear storage whose columns both rows are over; rows of two models are refused."""
    storages = [getattr(row, "_storage", None) for row in (first, second)]
    if None not in storages and storages[0] is not storages[1]:
        msg = "Rows of two different linear models cannot be combined"
        log_e(msg)
        raise ValueError(msg)
    return storages[0] if storages[0] is not None else storages[1]


def _owned(row, storage) -> LinearExpression:
    result = LinearExpression(row)
    result._storage = storage
    return result


class LinearExpression:
    """An expression specifying a single row of the constraint matrix"""

    def __init__(self, lin_expression: tl.linear_expression = None) -> None:
        if lin_expression is None:
            self._expr = tl.linear_expression()
        else:
            self._expr = lin_expression
        # The linear storage whose columns the row was built over, when known.
        self._storage = None

    @property
    def lin_expr(self):
        return self._expr

    def get_linear_coefficients(self):
        return self._expr.get_linear_coefficients()

    def set_constant(self, constant: _CoefType):
        if DEBUG_LOG and not isinstance(constant, _CoefType.__args__):
            msg = "Constant must be a float or integer number"
            log_e(msg)
            raise TypeError(msg)
        self._expr.set_constant(constant)

    def get_constant(self):
        return self._expr.get_constant()

    def get_left_bound(self):
        return self._expr.get_left_border()

    def set_left_bound(self, bound: _CoefType):
        return self._expr.set_left_border(bound)

    def get_right_bound(self):
        return self._expr.get_right_border()

    def set_right_bound(self, bound: _CoefType):
        return self._expr.set_right_border(bound)

    def get_name(self) -> str:
        return self._expr.get_name()

    def set_name(self, name: str):
        return self._expr.set_name(name)

    def __add__(self, other: Union[_CoefType, LinearExpression]) -> LinearExpression:
        if not self._expr.is_border_free():
            msg = "Operations (add) with expressions with defined boundaries (lower, upper) are not allowed."
            log_e(msg)
            raise FormulaError(msg)
        if isinstance(other, _CoefType.__args__):
            return _owned(self._expr.add_num_new(other), self._storage)
        if isinstance(other, LinearExpression):
            storage = _common_storage(self, other)
            return _owned(self._expr.add_expr(other._expr), storage)
        msg = "Type 'float', 'int' or 'LinearExpression' is expected for left side of expression"
        log_e(msg)
        raise TypeError(msg)

    __radd__ = __add__

    def __sub__(self, other: Union[_CoefType, LinearExpression]) -> LinearExpression:
        if not self._expr.is_border_free():
            msg = "Operations (sub) with expressions with defined boundaries (lower, upper) are not allowed."
            log_e(msg)
            raise FormulaError(msg)
        if isinstance(other, _CoefType.__args__):
            return _owned(self._expr.sub_num_new(other), self._storage)
        if isinstance(other, LinearExpression):
            storage = _common_storage(self, other)
            return _owned(self._expr.sub_expr(other._expr), storage)
        msg = "Type 'float', 'int' or 'LinearExpression' is expected for left side of expression"
        log_e(msg)
        raise TypeError(msg)

    def __rsub__(self, other: _CoefType) -> LinearExpression:
        # v - e is the row negated plus v, not e - v.
        if not self._expr.is_border_free():
            msg = "Operations (sub) with expressions with defined boundaries (lower, upper) are not allowed."
            log_e(msg)
            raise FormulaError(msg)
        if isinstance(other, _CoefType.__args__):
            return _owned(self._expr.mul_num_new(-1).add_num_new(other), self._storage)
        msg = "Type 'float', 'int' or 'LinearExpression' is expected for left side of expression"
        log_e(msg)
        raise TypeError(msg)

    def __mul__(self, other: Union[_CoefType, LinearExpression]) -> LinearExpression:
        if not self._expr.is_border_free():
            msg = "Operations with expressions with defined boundaries are not allowed."
            log_e(msg)
            raise FormulaError(msg)
        if isinstance(other, _CoefType.__args__):
            return _owned(self._expr.mul_num_new(other), self._storage)
        if isinstance(other, LinearExpression):
            msg = "Objective function with quadratic coefficients is not supported."
            log_e(msg)
            raise FormulaError(msg)
        msg = "Type <LinearExpression> is expected for left side of expression"
        log_e(msg)
        raise TypeError(msg)

    __rmul__ = __mul__

    def __eq__(self, other: _CoefType) -> LinearExpression:
        _bound_checked(other, "==")
        if not self._expr.is_border_free():
            msg = "The expression already has one of the boundaries set."
            log_e(msg)
            raise FormulaError(msg)
        self._expr.set_ineq_type(tl.ineq_type.equality)
        self._expr.set_borders(other, other)
        return self

    def __ge__(self, other: _CoefType) -> LinearExpression:
        _bound_checked(other, ">=")
        if self._expr.get_left_border() != -tl.infin:
            msg = f"The expression already has a lower bound = {self._expr.get_left_border()}"
            log_e(msg)
            raise FormulaError(msg)
        self._expr.set_ineq_type(tl.ineq_type.greater_equal)
        self._expr.set_left_border(other)
        return self

    def __le__(self, other: _CoefType) -> LinearExpression:
        _bound_checked(other, "<=")
        if self._expr.get_right_border() != tl.infin:
            msg = f"The expression already has upper bound = <{self._expr.get_right_border()}>"
            log_e(msg)
            raise FormulaError(msg)
        self._expr.set_ineq_type(tl.ineq_type.less_equal)
        self._expr.set_right_border(other)
        return self

    # A row has no truth test of its own and so is true: a chain 0 <= e <= 10 sets both borders.
    # != is refused: the host's default would run == on the row, setting both borders.
    def __ne__(self, other) -> LinearExpression:
        msg = "A row cannot be bounded with !=: a linear constraint is ==, >= or <="
        log_e(msg)
        raise TypeError(msg)
