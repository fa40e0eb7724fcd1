from __future__ import annotations

import typing as tp
from itertools import accumulate, product
from operator import mul
from copy import deepcopy
from numbers import Integral

from .expressions import _ATOM, _PRODUCT, _SUM, _UNARY, VariableProxy, _enclose, _int_text, _refused, _text_rank
from ..core.zorv_logger import *


class Index:
    def __init__(self, name: str, expression: tp.Optional[str] = None) -> None:
        self.name = name
        self.expression = name if expression is None else expression
        # Binding of the outermost operator of an index made by an operator; None for a declared
        # index, whose operators start again from its bare name.
        self._rank = None

    def __add__(self, shift: int) -> Index:
        return self.__derived(f"{self.__operand(_SUM)} + {_shift_text(shift, _SUM)}", _SUM)

    def __sub__(self, shift: int) -> Index:
        # i - (j + 1) is not i - j + 1
        return self.__derived(f"{self.__operand(_SUM)} - {_shift_text(shift, _PRODUCT)}", _SUM)

    def __rmul__(self, shift: int) -> Index:
        # 2 * (i + 1) is not 2 * i + 1
        return self.__derived(f"{_shift_text(shift, _PRODUCT)} * {self.__operand(_PRODUCT)}", _PRODUCT)

    def __str__(self) -> str:
        return self.expression

    def __index__(self):
        # A declared index has no value while a constraint is read once for all its foralls:
        # range(i), 2 ** i and the like cannot be worked out then.
        raise _refused(
            f"Index '{self.name}' has no value when the constraint is read: a range, power or coefficient"
            " cannot depend on a forall of the constraint; write the term inside Sum, And, Or or Xor"
            " over that index instead"
        )

    def __pow__(self, other):
        return self.__index__()

    def __rpow__(self, other):
        return self.__index__()

    def __operand(self, weakest: int) -> str:
        if self._rank is None:
            return format(self.name, "")
        return _enclose(self.expression, self._rank, weakest)

    def __derived(self, expression: str, rank: int) -> Index:
        result = Index(self.name, expression)
        result._rank = rank
        return result


def _shift_text(shift, weakest: int) -> str:
    if isinstance(shift, Index):
        text = format(shift, "")
        rank = _text_rank(text) if shift._rank is None else shift._rank
    elif isinstance(shift, Integral):
        text = _int_text(shift)
        rank = _UNARY if text.startswith("-") else _ATOM
    else:
        raise _refused(f"An index is shifted or scaled by an integer or an index, not {type(shift).__name__}")
    return _enclose(text, rank, weakest)


def _index_text(name: str, item) -> str:
    if type(item) is int:
        return format(item, "")
    if isinstance(item, Index):
        return format(item, "")
    if isinstance(item, Integral):
        return _int_text(item)
    raise _refused(f"Variable '{name}' is indexed by integers and indexes, not {type(item).__name__}")


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
            # The usual case, spared the costly test against the abstract class.
            values = ",".join(_index_text(self.name, item) for item in items)
        elif isinstance(items, Index) or not isinstance(items, tp.Sequence):
            values = _index_text(self.name, items)
        else:
            values = ",".join(_index_text(self.name, item) for item in items)
        return VariableProxy(f"{self.name}({values})")

    def __call__(self, *items: int) -> int:
        if len(items) != len(self.__dims):
            raise TypeError
        for value in items:
            if not isinstance(value, int):
                raise TypeError
        number = self.st_shift
        for value, (size, stride) in zip(items, self.__dims):
            if value < 0 or value >= size:
                raise IndexError(self.__out_of_range(items))
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
        # Without this the host would iterate by indexing with 0, 1, 2, ... for ever, since
        # indexing accepts any value.
        raise TypeError(f"Variable '{self.name}' is not iterable: index it to refer to one element")

    def __out_of_range(self, items: tp.Tuple[int, ...]) -> str:
        for index_name, value, (size, _) in zip(self.indexes, items, self.__dims):
            if not 0 <= value < size:
                return (
                    f"Index value {value} is out of range for variable '{self.name}': "
                    f"index '{index_name}' has size {size}"
                )
