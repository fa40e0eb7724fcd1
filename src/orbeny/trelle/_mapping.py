"""Variable mapping and witness interpreter."""

import weakref

from ._engine import cnf as _cnf

__all__ = ["var_mapping", "witness_interpreter"]

var_mapping = _cnf.var_mapping

_PREFIX_TEXT_LIMIT = 1 << 16


class _Tables(dict):
    """A name -> array dict that the interpreters of equal tables share."""

    __slots__ = ("__weakref__",)


# Tables by the engine's token for mappings that share them (rebuilds with a new target), kept
# while an interpreter holds them.
_shared_tables = weakref.WeakValueDictionary()


class witness_interpreter:
    """Reads solver witnesses in terms of the model's variables: keeps the variable mapping,
    the auxiliary prefixes, and per model variable the array of its variable numbers."""

    def __init__(self):
        self._mapping = None
        self._auxiliary = []
        self._tables = {}
        self._lp_solution = None

    def set_var_mapping(self, mapping):
        if mapping is not None and not isinstance(mapping, var_mapping):
            raise TypeError(f"expected a var_mapping or None, not {type(mapping).__name__}")
        # One line: the tables never outlive the mapping they were built from.
        self._mapping, self._tables = mapping, {}

    def get_var_mapping(self):
        return self._mapping

    def set_auxiliary_vars(self, prefixes):
        """Key prefixes of encoder auxiliaries (such as "_bxpr_aux"), left out of the tables.
        Together they may hold at most _PREFIX_TEXT_LIMIT characters."""
        if isinstance(prefixes, str):
            raise TypeError("auxiliary prefixes must be a list of str, not a single str")
        prefixes = list(prefixes)
        # Counted before the engine copies each one: a list can repeat one long string cheaply.
        total = 0
        for prefix in prefixes:
            if not isinstance(prefix, str):
                raise TypeError(f"auxiliary prefixes must be str, not {type(prefix).__name__}")
            total += len(prefix)
            if total > _PREFIX_TEXT_LIMIT:
                raise ValueError(
                    f"auxiliary prefixes may hold {_PREFIX_TEXT_LIMIT} characters in all; these hold more"
                )
        self._auxiliary, self._tables = prefixes, {}

    def get_auxiliary_vars(self):
        return list(self._auxiliary)

    def build_mapping_tables(self, strict=True):
        """Group the model-variable keys name[i,j,...] of the mapping by name into arrays of
        variable numbers shaped by the indexes (name[] gives a 0-d array); keys with an
        auxiliary prefix are left out.

        Returns False, keeping no table, when there is no mapping or it is empty. With
        `strict` it also returns False when a key does not parse, a name comes with
        different numbers of indexes, or a name's keys do not fill its whole block once;
        without it such keys and names are left out and holes in a block hold -1.
        """
        # The new tables are made aside and put in place in the line that returns: a call stopped
        # or failed anywhere leaves the tables it found.
        if self._mapping is None:
            return self._took({}, False)
        strict = bool(strict)
        token = _cnf.tables_token(self._mapping, self._auxiliary)
        key = None if token is None else (token, tuple(self._auxiliary), strict)
        shared = None if key is None else _shared_tables.get(key)
        if shared is not None:
            return self._took(shared)
        tables = _cnf.build_mapping_tables(self._mapping, self._auxiliary, strict)
        if tables is None:
            return self._took({}, False)
        # The engine hands each table as a read-only int64 array already: only its shape is set.
        made = _Tables((name, numbers.reshape(shape)) for name, shape, numbers in tables)
        if key is not None:
            _shared_tables[key] = made  # a cache: the call's outcome does not depend on it
        return self._took(made)

    def _took(self, tables, built=True):
        # One line, so that nothing is left to run once the tables are in place.
        return setattr(self, "_tables", tables) or built

    def get_mapping_tables(self):
        """Model variable name -> read-only array of its variable numbers, shaped like the
        variable; empty until build_mapping_tables() succeeds."""
        return dict(self._tables)

    def get_lp_var_values(self, name):
        """The values of the linear variable block `name` in the last solution handed to this
        interpreter (with get_ndarray()), or None."""
        if self._lp_solution is None:
            return None
        return self._lp_solution.get_var_values(name)

    def _set_lp_solution(self, solution):
        self._lp_solution = solution
