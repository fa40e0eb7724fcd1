from __future__ import annotations

import typing as tp
from numbers import Integral

from ..core.zorv_logger import *


def _expr2bx(expr: Expression) -> str:
    if isinstance(expr, VariableProxy):
        return f"{expr}.to_bx()"
    return str(expr)


def _expr2pb(expr: Expression) -> str:
    if isinstance(expr, VariableProxy):
        return f"{expr}.to_pb()"
    return str(expr)


# The operations load the checks, messages and grouping rules of ._expression_rules where they
# need them (it imports this module), once a call: a local import costs a fraction of a microsecond.


class Expression:
    def __init__(self, expr: str = "", soft: bool = True) -> None:
        self._expr = expr
        self._soft = soft

    def __add__(self, other: Expression) -> Expression:
        from . import _expression_rules as rules

        return rules.sum_of(self, " + ", other)

    def __sub__(self, other: Expression) -> Expression:
        from . import _expression_rules as rules

        return rules.sum_of(self, " - ", other)

    def __mul__(self, other: tp.Union[Integral, Expression]) -> Expression:
        from . import _expression_rules as rules

        return rules.product_of(self, other)

    def __rmul__(self, other: int) -> Expression:
        return self.__mul__(other)

    def __le__(self, other: Integral) -> Expression:
        from . import _expression_rules as rules

        return rules.compared(self, "LEQ", other)

    def __ge__(self, other: Integral) -> Expression:
        from . import _expression_rules as rules

        return rules.compared(self, "GEQ", other)

    def __eq__(self, other: Integral) -> Expression:
        from . import _expression_rules as rules

        return rules.compared(self, "BOTH", other)

    def __and__(self, other: Expression) -> Expression:
        from . import _expression_rules as rules

        return rules.connected("bx.and_s([", self, other)

    def __or__(self, other: Expression) -> Expression:
        from . import _expression_rules as rules

        return rules.connected("bx.or_s([", self, other)

    def __xor__(self, other: Expression) -> Expression:
        from . import _expression_rules as rules

        return rules.connected("bx.xor_s([", self, other)

    def __invert__(self) -> Expression:
        from . import _expression_rules as rules

        return rules.negated(self)

    def maxsat(self, minimization: bool) -> Expression:
        from . import _expression_rules as rules

        return rules.objective(self, minimization)

    def __bool__(self):
        # `2 <= s <= 5` and `a and b` would silently keep one of the two constraints.
        from . import _expression_rules as rules

        raise rules.no_truth_value()

    @property
    def soft(self):
        return self._soft

    def __str__(self) -> str:
        return self._expr


class VariableProxy(Expression):
    def __init__(self, name: str) -> None:
        self._expr = name
        self._soft = True
        self.name = name

    def __repr__(self):
        return self.name


class Sum(Expression):
    def __init__(self, expr: Expression, **indexes) -> None:
        super().__init__(soft=True)
        from . import _expression_rules as rules

        self._expr = rules.comprehension_text("Sum(*[", _expr2pb, expr, indexes)


class And(Expression):
    def __init__(self, expr: Expression, **indexes) -> None:
        super().__init__(soft=False)
        from . import _expression_rules as rules

        self._expr = rules.comprehension_text("bx.and_s([", _expr2bx, expr, indexes)


class Or(Expression):
    def __init__(self, expr: Expression, **indexes) -> None:
        super().__init__(soft=False)
        from . import _expression_rules as rules

        self._expr = rules.comprehension_text("bx.or_s([", _expr2bx, expr, indexes)


class Xor(Expression):
    def __init__(self, expr: Expression, **indexes) -> None:
        super().__init__(soft=False)
        from . import _expression_rules as rules

        self._expr = rules.comprehension_text("bx.xor_s([", _expr2bx, expr, indexes)


class Equiv(Expression):
    def __init__(self, *expressions: Expression) -> None:
        super().__init__(soft=False)
        from . import _expression_rules as rules

        self._expr = rules.operands_text("bx.eq_s([", expressions, _expr2bx, "])")


class Implication(Expression):
    def __init__(self, if_expr: Expression, then_expr: Expression) -> None:
        super().__init__(soft=False)
        from . import _expression_rules as rules

        message = "Type 'Expression' is expected for variables 'if_expr' and 'then_expr'"
        self._expr = rules.operands_text("bx.impl_s(", (if_expr, then_expr), _expr2bx, ")", message)


class IfThenElse(Expression):
    def __init__(self, if_expr: Expression, then_expr: Expression, else_expr: Expression) -> None:
        super().__init__(soft=False)
        from . import _expression_rules as rules

        message = "Type 'Expression' is expected for variables 'if_expr', 'then_expr' and 'else_expr'"
        self._expr = rules.operands_text("bx.ite_s(", (if_expr, then_expr, else_expr), _expr2bx, ")", message)


class SumIt(Expression):
    def __init__(self, expressions: tp.Sequence[Expression]) -> None:
        super().__init__(soft=True)
        from . import _expression_rules as rules

        text, self._members = rules.sequence_text(expressions, "SumIt", "Sum(*[", _expr2pb)
        self.ability_use_for_target = True
        self._expr = text


class AndIt(Expression):
    def __init__(self, expressions: tp.Sequence[Expression]) -> None:
        super().__init__(soft=False)
        from . import _expression_rules as rules

        text, self._members = rules.sequence_text(expressions, "AndIt", "bx.and_s([", _expr2bx)
        self._expr = text


class OrIt(Expression):
    def __init__(self, expressions: tp.Sequence[Expression]) -> None:
        super().__init__(soft=False)
        from . import _expression_rules as rules

        text, self._members = rules.sequence_text(expressions, "OrIt", "bx.or_s([", _expr2bx)
        self._expr = text


class XorIt(Expression):
    def __init__(self, expressions: tp.Sequence[Expression]) -> None:
        super().__init__(soft=False)
        from . import _expression_rules as rules

        text, _ = rules.sequence_text(expressions, "XorIt", "bx.xor_s([", _expr2bx)
        self._expr = text


One = Expression("bx.one()")
Zero = Expression("bx.zero()")


def pow_expression(base: int, exp) -> Expression:
    from . import _expression_rules as rules

    return rules.power(base, exp)
