"""Variable mapping and witness interpreter."""

import math
import re

import numpy as np

__all__ = ["var_mapping", "witness_interpreter"]

# A model-variable key: a name, then its indexes in square brackets, as in x[0,1].
_KEY_RE = re.compile(r"([^\[\]]+)\[(\d+(?:,\d+)*)\]")


def _check_number(key, number):
    # bool is an int subclass, but True as variable 1 is nearly always a mistake.
    if not isinstance(number, int) or isinstance(number, bool):
        raise TypeError(
            f"variable number of {key!r} must be an int, not {type(number).__name__}"
        )


class var_mapping:
    """Map from key text (x[0,1], _pbct_aux[0,1,2]) to variable number, and back."""

    def __init__(self):
        self._map = {}
        self._inverse = {}

    def set_var_map(self, mapping):
        """Take a copy of `mapping` (key text -> variable number); the inverse is rebuilt
        by build_inverse_map()."""
        if not isinstance(mapping, dict):
            raise TypeError(f"mapping must be a dict, not {type(mapping).__name__}")
        for key, number in mapping.items():
            if not isinstance(key, str):
                raise TypeError(f"mapping keys must be str, not {type(key).__name__}")
            _check_number(key, number)
        self._map = dict(mapping)
        self._inverse = {}

    def build_inverse_map(self):
        """Map each variable number back to its key; a number held by several keys maps
        to the last of them, as later keys win in merged mappings."""
        self._inverse = {number: key for key, number in self._map.items()}

    def get_var_map(self):
        """A copy of the key -> number map."""
        return dict(self._map)

    def get_inverse_map(self):
        """A copy of the number -> key map (empty until build_inverse_map())."""
        return dict(self._inverse)

    def get_var_number(self, key):
        """The number of `key`, or None."""
        return self._map.get(key)

    def get_var_name(self, number):
        """The key of variable `number`, or None (needs build_inverse_map())."""
        return self._inverse.get(number)


class witness_interpreter:
    """Reads solver witnesses in terms of the model's variables: keeps the variable mapping,
    the auxiliary prefixes, and per model variable the table of its variable numbers."""

    def __init__(self):
        self._mapping = None
        self._auxiliary = ()
        self._tables = {}
        self._lp_solution = None

    def set_var_mapping(self, mapping):
        if mapping is not None and not isinstance(mapping, var_mapping):
            raise TypeError(f"expected a var_mapping or None, not {type(mapping).__name__}")
        self._mapping = mapping
        self._tables = {}

    def get_var_mapping(self):
        return self._mapping

    def set_auxiliary_vars(self, prefixes):
        """Key prefixes of encoder auxiliaries (such as "_bxpr_aux"), left out of the tables."""
        if isinstance(prefixes, str):
            raise TypeError("auxiliary prefixes must be a list of str, not a single str")
        prefixes = tuple(prefixes)
        for prefix in prefixes:
            if not isinstance(prefix, str):
                raise TypeError(f"auxiliary prefixes must be str, not {type(prefix).__name__}")
        self._auxiliary = prefixes
        self._tables = {}

    def get_auxiliary_vars(self):
        return list(self._auxiliary)

    def build_mapping_tables(self, strict=True):
        """Group the model-variable keys name[i,j,...] of the mapping by name into arrays of
        variable numbers shaped by the indexes; keys with an auxiliary prefix are left out.

        Returns False, keeping no table, when there is no mapping or it is empty. With
        `strict` it also returns False when a key does not parse, a name comes with
        different numbers of indexes, or a name's keys do not fill its whole block; without
        it such keys and names are left out and holes in a block hold -1.
        """
        self._tables = {}
        if self._mapping is None or not self._mapping._map:
            return False
        groups = {}
        for key, number in self._mapping._map.items():
            if key.startswith(self._auxiliary):
                continue
            match = _KEY_RE.fullmatch(key)
            if match is None:
                if strict:
                    return False
                continue
            name, indexes = match.groups()
            groups.setdefault(name, []).append((tuple(map(int, indexes.split(","))), number))
        tables = {}
        for name, cells in groups.items():
            table = self._table(cells, strict)
            if table is not None:
                tables[name] = table
            elif strict:
                return False
        self._tables = tables
        return True

    @staticmethod
    def _table(cells, strict):
        rank = len(cells[0][0])
        if any(len(index) != rank for index, _ in cells):
            return None
        shape = tuple(max(index[d] for index, _ in cells) + 1 for d in range(rank))
        cell_count = math.prod(shape)
        # Without strict, a block far larger than its keys is left out rather than allocated.
        if cell_count != len(cells) if strict else cell_count > 4 * len(cells) + 1024:
            return None
        table = np.full(shape, -1, dtype=np.int64)
        for index, number in cells:
            table[index] = number
        if strict and (table < 0).any():
            return None  # one cell named twice (x[0] and x[00]) left a hole
        return table

    def get_mapping_tables(self):
        """Model variable name -> array of its variable numbers (the array's shape is the
        variable's shape); empty until build_mapping_tables() succeeds."""
        return {name: table.copy() for name, table in self._tables.items()}

    def get_lp_var_values(self, name):
        """The values of the linear variable block `name` in the last solution handed to this
        interpreter (with get_ndarray()), or None."""
        if self._lp_solution is None:
            return None
        return self._lp_solution.get_var_values(name)

    def _set_lp_solution(self, solution):
        self._lp_solution = solution
