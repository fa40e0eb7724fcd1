from typing import Sequence, Union
from numbers import Integral

import numpy as np
import orbeny.trelle as tl

from ..core.zorv_logger import *
from .linear_expression import LinearExpression, _owned
from .._exceptions import VariableError

_IndexType = Union[Integral, np.integer, slice]


class VariableArray:
    """Array of task variables"""

    def __init__(
        self,
        storage: tl.lp_storage,
        name: str,
        shape: list,
        variable_type: tl.var_type,
        lower_bound: float,
        upper_bound: float,
    ) -> None:
        self._name = name
        self._lp_storage = storage
        # The block is read as the storage will place it, and the storage's taking it is the last
        # step: a call stopped or refused anywhere leaves the storage without it.
        self._var_block_index = storage.get_var_block_info_count()
        self._bshift = storage.get_col_count()
        self._item_count = tl.var_block_shape(shape).get_item_count()
        storage.create_variable_block(name, shape, variable_type, lower_bound, upper_bound)

    def _get_var_block(self):
        return self._lp_storage.get_var_block_info(self._var_block_index)

    def __getitem__(self, item: Union[_IndexType, list, np.ndarray, Sequence[_IndexType]]) -> LinearExpression:
        count = self._lp_storage.get_col_count()
        row = tl.linear_expression()
        row.set_var_count(count)

        if isinstance(item, (Integral, np.integer)):
            if DEBUG_LOG and (item < 0 or item >= self._item_count):
                msg = f"[{item}] is not a valid index (out of range)"
                log_e(msg)
                raise IndexError(msg)
            row.set_name_iet(f"{self._name}[{item}]", tl.ineq_type.unknown)
            row.set_one(item + self._bshift)
            return _owned(row, self._lp_storage)

        if isinstance(item, slice):
            # Omitted parts select the whole block in the step's direction; given parts are taken
            # as they stand (no counting from the end).
            step = 1 if item.step is None else item.step
            forward = not step < 0
            start = item.start if item.start is not None else (0 if forward else self._item_count - 1)
            stop = item.stop if item.stop is not None else (self._item_count if forward else -1)
            if DEBUG_LOG and (start < 0 or stop > self._item_count):
                msg = f"[{item}] is not a valid indexes (out of range)"
                log_e(msg)
                raise IndexError(msg)
            row.set_name_iet(f"{self._name}[{item}]", tl.ineq_type.unknown)
            selected = range(start, stop, step)
            # A backward slice may start past the block's end or run below 0.
            if DEBUG_LOG and selected and (max(selected[0], selected[-1]) >= self._item_count
                                           or min(selected[0], selected[-1]) < 0):
                msg = f"[{item}] is not a valid indexes (out of range)"
                log_e(msg)
                raise IndexError(msg)
            row.set_ones(list(selected), self._bshift)
            return _owned(row, self._lp_storage)

        if isinstance(item, (list, np.ndarray)):
            if isinstance(item, np.ndarray) and np.issubdtype(item.dtype, "bool"):
                indexes = np.flatnonzero(item)
                selected = indexes
            elif isinstance(item, np.ndarray):
                if DEBUG_LOG and (not np.issubdtype(item.dtype, np.integer) or item.ndim != 1):
                    msg = f"{item} is not a valid index"
                    log_e(msg)
                    raise IndexError(msg)
                indexes = item.tolist()
                selected = item
            else:
                indexes = item
                selected = item
            if DEBUG_LOG and len(selected):
                # Entries past the block would silently select columns of other blocks.
                try:
                    if isinstance(selected, np.ndarray):
                        low, high = selected.min(), selected.max()
                    else:
                        low, high = min(selected), max(selected)
                    outside = low < 0 or high >= self._item_count
                except TypeError:
                    outside = False  # not plain numbers: the row refuses them below
                if outside:
                    msg = f"{item} is not a valid index"
                    log_e(msg)
                    raise IndexError(msg)
            row.set_name_iet(f"{self._name}[{len(item)}]", tl.ineq_type.unknown)
            row.set_ones(indexes, self._bshift)
            return _owned(row, self._lp_storage)

        msg = f"Undefined type {type(item)} for indexing"
        log_e(msg)
        raise IndexError(msg)

    def dot(self, coefs: Union[list, np.ndarray]) -> LinearExpression:
        count = self._lp_storage.get_col_count()
        row = tl.linear_expression()
        row.set_var_count(count)

        if isinstance(coefs, (list, np.ndarray)):
            coef_count = coefs.size if isinstance(coefs, np.ndarray) else len(coefs)
            row.set_name_iet(f"dot({self._name}, {coef_count})", tl.ineq_type.unknown)
            if DEBUG_LOG and self._item_count != len(coefs):
                msg = (
                    f"Coefficient count ({len(coefs)}) != variable count ({self._item_count}) "
                    f"for variable {self._name}"
                )
                log_e(msg)
                raise VariableError(msg)
            row.set_by_coefficients(self._bshift, coefs)
            return _owned(row, self._lp_storage)

        msg = f"Undefined type {type(coefs)} for dot()"
        log_e(msg)
        raise IndexError(msg)

    def get_shape(self):
        return self._get_var_block().get_shape().get_indexes_info()

    def get_var_count(self) -> int:
        return self._get_var_block().get_shape().get_item_count()

    def lower_bound(self) -> float:
        return self._get_var_block().get_lower_var_bound()

    def upper_bound(self) -> float:
        return self._get_var_block().get_upper_var_bound()

    def name(self) -> str:
        return self._get_var_block().get_name()

    def type(self) -> tl.var_type:
        return self._get_var_block().get_var_type()
