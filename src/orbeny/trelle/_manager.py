"""Solver manager."""

from ._cnf import wcnf_storage
from ._mapping import witness_interpreter

__all__ = ["manager"]


class manager:
    """Holds what a model hands over for solving: its clause storage and the witness
    interpreter that reads solutions back."""

    def __init__(self):
        self._input_cnf_storage = None
        self._witness_interpreter = None

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
