from __future__ import annotations

from pathlib import Path
from typing import Sequence

import numpy as np
import orbeny.trelle as tl

from ..core.zorv_logger import *
from .._exceptions import *
from .lp_variable import VariableArray
from .linear_expression import LinearExpression


def _own_row(model: "LinearModel", row, what: str) -> None:
    """A row built over another model's columns would be read as this model's columns."""
    storage = getattr(row, "_storage", None)
    if storage is not None and storage is not model._lp_storage:
        msg = f"The {what} row {row.get_name()!r} was made from the variables of another linear model"
        log_e(msg)
        raise ValueError(msg)


def _solve_own(model: "LinearModel") -> tl.lp_solution:
    """The solution of this model's own storage, handed to this model's own interpreter, whatever
    another model on the same manager handed over since."""
    if not model._applied:
        msg = f"Linear model <{model.get_name()}> has not been handed to the manager: call apply_storage() first"
        log_e(msg)
        raise BuildError(msg)
    model._trell_manager.set_input_lp_storage(model._lp_storage)
    model._trell_manager.set_witness_interpreter(model._witness_interpreter)
    return model._trell_manager.get_lp_solution(tl.algorithm_type.linh)


class LinearModel:
    """An interface for initializing and solving a MILP problem with a quadratic objective function"""

    def __init__(self, tmanager: tl.manager, name: str) -> None:
        self._trell_manager = tmanager
        self._lp_storage = tl.lp_storage()
        self._lp_storage.set_model_name(name)
        # Results are read from this interpreter, which only this model's solutions reach.
        self._witness_interpreter = tl.witness_interpreter()
        self._applied = False
        self._trell_manager.set_witness_interpreter(self._witness_interpreter)
        log_i(f" python version : {tl.get_python_version()}")
        log_i(f"  LP model name : {self._lp_storage.get_model_name()}")

    def get_name(self) -> str:
        return self._lp_storage.get_model_name()

    def create_variable(
        self,
        name: str,
        variable_type: tl.var_type,
        shape: Sequence[int],
        lower_bound: float = 0,
        upper_bound: float = tl.infin,
    ) -> VariableArray:
        log_i(f"New variable <{name}> ___ shape = {list(shape)}")
        return VariableArray(self._lp_storage, name, list(shape), variable_type, lower_bound, upper_bound)

    def get_variables(self):
        return self._lp_storage.get_var_block_info_count()

    def add_constraint(self, constraint: LinearExpression, name: str = "") -> int:
        if DEBUG_LOG and not isinstance(constraint, LinearExpression):
            msg = f"Unknown type of constraint: {type(constraint)}"
            log_e(msg)
            raise BuildError(msg)
        _own_row(self, constraint, "constraint")
        return self._lp_storage.add_row_from_expression(constraint.lin_expr, name)

    def add_target(self, target: LinearExpression, name: str = ""):
        if DEBUG_LOG and not isinstance(target, LinearExpression):
            msg = f"Unknown type {type(target)} for target"
            log_e(msg)
            raise BuildError(msg)
        _own_row(self, target, "target")
        return self._lp_storage.add_objective_from_expression(target.lin_expr, name)

    def set_maximization(self, value: bool):
        self._lp_storage.set_maximization(value)

    def apply_storage(self):
        self._trell_manager.set_input_lp_storage(self._lp_storage)
        self._applied = True

    def set_solution(self, variable_name: str, solution: np.ndarray) -> None:
        # The model keeps no solution vector of its own and the storage takes no starting point,
        # so a given solution would be dropped unseen; refuse it rather than pretend.
        msg = "set_solution is not supported: a linear model takes no starting solution"
        log_e(msg)
        raise NotImplementedError(msg)

    def get_linh_solution(self) -> tl.lp_solution:
        return _solve_own(self)

    def get_objective_value(self) -> float:
        return _solve_own(self).get_objective_value()

    def get_result(self, var_name: str) -> np.ndarray:
        witness_interpreter = self._witness_interpreter
        if not witness_interpreter:
            return None
        values = witness_interpreter.get_lp_var_values(var_name)
        if not values:
            return None
        return values.get_ndarray()
