from __future__ import annotations

import typing as tp
from itertools import accumulate, product
from operator import mul
from copy import deepcopy

from .expressions import VariableProxy
from ..core.zorv_logger import *


class Index:
    def __init__(self, name: str, expression: tp.Optional[str] = None) -> None:
        self.name = name
        self.expression = name if expression is None else expression
        # Binding of the outermost operator of an index made by an operator; None for a declared
        # index, whose operators start again from its bare name.
        self._rank = None

    def __add__(self, shift: int) -> Index:
        from . import _expression_rules as rules

        return rules.index_shifted(self, " + ", shift)

    def __sub__(self, shift: int) -> Index:
        from . import _expression_rules as rules

        return rules.index_shifted(self, " - ", shift)

    def __rmul__(self, shift: int) -> Index:
        from . import _expression_rules as rules

        return rules.index_scaled(self, shift)

    def __str__(self) -> str:
        return self.expression

    def __index__(self):
        from . import _expression_rules as rules

        raise rules.no_value(self.name)

    def __pow__(self, other):
        return self.__index__()

    def __rpow__(self, other):
        return self.__index__()


class Variable:
    def __init__(self, name: str, indexes: tp.Dict[str, int], st_shift: int) -> None:
        self.name = name
        self.indexes = indexes
        self.st_shift = st_shift
        sizes = list(indexes.values())
        sizes.reverse()
        strides = list(accumulate(sizes, mul, initial=1))
        strides.pop()
        strides.reverse()
        self.shifts = strides
        # (size, stride) per index for __call__, the hot path of clause instantiation
        self.__dims = tuple(zip(indexes.values(), strides))

    def __getitem__(self, items) -> VariableProxy:
        if type(items) is int:
            # x[k] in a loop over millions of elements
            return VariableProxy(f"{self.name}({items})")
        if type(items) is tuple:
            # x[r, c] and x[i, j + 1], also in a loop over millions of elements
            for item in items:
                if type(item) is not int and type(item) is not Index:
                    break
            else:
                return VariableProxy(f"{self.name}({','.join(map(str, items))})")
        from . import _expression_rules as rules

        return VariableProxy(f"{self.name}({rules.reference_values(self.name, items)})")

    def __call__(self, *items: int) -> int:
        if len(items) != len(self.__dims):
            raise TypeError
        for value in items:
            if not isinstance(value, int):
                raise TypeError
        number = self.st_shift
        for value, (size, stride) in zip(items, self.__dims):
            if value < 0 or value >= size:
                from . import _expression_rules as rules

                raise IndexError(rules.out_of_range(self.name, self.indexes, items, self.__dims))
            number += stride * value
        return number

    @property
    def map(self) -> tp.Dict[str, int]:
        name, start, shifts = self.name, self.st_shift, self.shifts
        ranges = [range(size) for size in self.indexes.values()]
        return {
            f"{name}[{','.join(str(value) for value in values)}]": start + sum(map(mul, shifts, values))
            for values in product(*ranges)
        }

    def copy(self) -> Variable:
        return Variable(self.name, deepcopy(self.indexes), self.st_shift)

    def __iter__(self):
        from . import _expression_rules as rules

        raise rules.not_iterable(self.name)
