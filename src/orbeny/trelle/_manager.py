"""Solver manager."""

from ._cnf import wcnf_storage
from ._formula_encoder import formula_encoder
from ._lp import _lp_problem
from ._mapping import witness_interpreter

__all__ = ["manager"]


class manager:
    """Holds what a model hands over for solving: its clause storage and the witness
    interpreter that reads solutions back."""

    def __init__(self):
        self._input_cnf_storage = None
        self._witness_interpreter = None
        self._lp_problem = None

    def create_formula_encoder(self, name):
        """A new formula encoder for the model called `name`."""
        return formula_encoder(name)

    def set_input_cnf_storage(self, storage):
        """Keep `storage` (a reference, not a copy); None forgets it."""
        if storage is not None and not isinstance(storage, wcnf_storage):
            raise TypeError(f"expected a wcnf_storage or None, not {type(storage).__name__}")
        self._input_cnf_storage = storage

    def get_input_cnf_storage(self):
        return self._input_cnf_storage

    def set_witness_interpreter(self, interpreter):
        """Make `interpreter` the current one; the last registration wins."""
        if interpreter is not None and not isinstance(interpreter, witness_interpreter):
            raise TypeError(
                f"expected a witness_interpreter or None, not {type(interpreter).__name__}"
            )
        self._witness_interpreter = interpreter

    def get_witness_interpreter(self):
        return self._witness_interpreter

    def set_input_lp_storage(self, storage):
        """Keep the linear storage `storage` (a reference, not a copy) as the problem to solve;
        None forgets it."""
        if storage is None:
            self._lp_problem = None
        elif self._lp_problem is None or self._lp_problem.storage() is not storage:
            self._lp_problem = _lp_problem(storage)

    def get_lp_solution(self, algorithm):
        """Solve the input linear storage with `algorithm` and hand the solution to the current
        witness interpreter. The solution is reused while the storage stays unchanged."""
        if self._lp_problem is None:
            raise RuntimeError("no linear storage to solve: call set_input_lp_storage first")
        solution = self._lp_problem.solve(algorithm)
        if self._witness_interpreter is not None:
            self._witness_interpreter._set_lp_solution(solution)
        return solution
