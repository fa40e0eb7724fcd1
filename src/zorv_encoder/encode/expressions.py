from __future__ import annotations

import ast
import typing as tp
from numbers import Integral

from ..core.zorv_logger import *

_EXPRESSION_EXPECTED = "Type 'Expression' is expected for left side of expression"
_FACTOR_EXPECTED = "Type 'Expression' or 'int' is expected for expression"
_BOUND_EXPECTED = "Type 'int' is expected for left side of expression"
_ELEMENT_EXPECTED = "Type 'Expression' is expected for variable 'expression'"
_ELEMENTS_EXPECTED = "Variable 'expressions' must contain only objects of type 'Expression'"
_EMPTY_SEQUENCE = "The input sequence has zero length"


def _expr2bx(expr: Expression) -> str:
    if isinstance(expr, VariableProxy):
        return f"{expr}.to_bx()"
    return str(expr)


def _expr2pb(expr: Expression) -> str:
    if isinstance(expr, VariableProxy):
        return f"{expr}.to_pb()"
    return str(expr)


def _refused(message: str) -> TypeError:
    log_e(message)
    return TypeError(message)


# How tightly the outermost operator of a text binds, loosest first. Texts are joined by plain
# concatenation, so an operand whose outermost operator binds more loosely than its place in the
# joined text needs parentheses, or the host regroups it when the model evaluates the text.
_LOOSE, _SUM, _PRODUCT, _UNARY, _POWER, _ATOM = range(6)

_BINARY_RANKS = {
    ast.Add: _SUM,
    ast.Sub: _SUM,
    ast.Mult: _PRODUCT,
    ast.MatMult: _PRODUCT,
    ast.Div: _PRODUCT,
    ast.FloorDiv: _PRODUCT,
    ast.Mod: _PRODUCT,
    ast.Pow: _POWER,
}
_LOOSE_NODES = (ast.BoolOp, ast.Compare, ast.IfExp, ast.Lambda, ast.NamedExpr, ast.Tuple)


def _text_rank(text: str) -> int:
    if text.isidentifier() or (text.isascii() and text.isdigit()):
        return _ATOM
    try:
        node = ast.parse(text.lstrip(" \t"), mode="eval").body
    except (SyntaxError, ValueError, RecursionError, MemoryError):
        # The model cannot evaluate such a text however it is grouped: leave it whole.
        return _ATOM
    if isinstance(node, ast.BinOp):
        # Shifts and bitwise operators bind more loosely than a sum.
        return _BINARY_RANKS.get(type(node.op), _LOOSE)
    if isinstance(node, ast.UnaryOp):
        return _LOOSE if isinstance(node.op, ast.Not) else _UNARY
    if isinstance(node, _LOOSE_NODES):
        return _LOOSE
    return _ATOM


def _rank(value) -> int:
    if isinstance(value, _CALL_TEXTS):
        return _ATOM
    if isinstance(value, Expression):
        rank = getattr(value, "_rank", None)
        return _text_rank(str(value)) if rank is None else rank
    return _text_rank(format(value, ""))


def _enclose(text: str, rank: int, weakest: int) -> str:
    return text if rank >= weakest else f"({text})"


def _made(text: str, soft: bool, rank: int) -> Expression:
    # Operators know the outermost operator of the text they write; keeping it spares chains
    # such as s + x[1] + x[2] + ... from parsing an ever longer text.
    result = Expression(text, soft)
    result._rank = rank
    return result


def _compared(expr: Expression, comparator: str, bound) -> Expression:
    if not isinstance(bound, Integral):
        raise _refused(_BOUND_EXPECTED)
    term = _expr2pb(expr)
    result = _made(f"FormulaPB({term}, pb.Comparator_type.{comparator}, {bound}).to_bx(manager)", False, _ATOM)
    # What the text is made of, so that the model can evaluate it without parsing it.
    result._held = ("compare", expr, comparator, bound)
    return result


def _connected(prefix: str, left: Expression, right) -> Expression:
    if not isinstance(right, Expression):
        raise _refused(_EXPRESSION_EXPECTED)
    first = _expr2bx(left)
    second = _expr2bx(right)
    return _made(f"{prefix}{first}, {second}])", False, _ATOM)


class Expression:
    def __init__(self, expr: str = "", soft: bool = True) -> None:
        self._expr = expr
        self._soft = soft

    def __add__(self, other: Expression) -> Expression:
        if not isinstance(other, Expression):
            raise _refused(_EXPRESSION_EXPECTED)
        left = _enclose(_expr2pb(self), _rank(self), _SUM)
        right = _enclose(_expr2pb(other), _rank(other), _SUM)
        return _made(f"{left} + {right}", True, _SUM)

    def __sub__(self, other: Expression) -> Expression:
        if not isinstance(other, Expression):
            raise _refused(_EXPRESSION_EXPECTED)
        left = _enclose(_expr2pb(self), _rank(self), _SUM)
        # a - (b + c) is not a - b + c
        right = _enclose(_expr2pb(other), _rank(other), _PRODUCT)
        return _made(f"{left} - {right}", True, _SUM)

    def __mul__(self, other: tp.Union[Integral, Expression]) -> Expression:
        held = None
        if isinstance(other, Integral):
            text = f"{other} * ({_expr2pb(self)})"
            held = ("scale", other, self)
        elif isinstance(other, Expression):
            factor = _enclose(str(self), _rank(self), _PRODUCT)
            text = f"{factor} * ({_expr2pb(other)})"
        else:
            raise _refused(_FACTOR_EXPECTED)
        result = _made(text, True, _PRODUCT)
        result._held = held
        return result

    def __rmul__(self, other: int) -> Expression:
        return self.__mul__(other)

    def __le__(self, other: Integral) -> Expression:
        return _compared(self, "LEQ", other)

    def __ge__(self, other: Integral) -> Expression:
        return _compared(self, "GEQ", other)

    def __eq__(self, other: Integral) -> Expression:
        return _compared(self, "BOTH", other)

    def __and__(self, other: Expression) -> Expression:
        return _connected("bx.and_s([", self, other)

    def __or__(self, other: Expression) -> Expression:
        return _connected("bx.or_s([", self, other)

    def __xor__(self, other: Expression) -> Expression:
        return _connected("bx.xor_s([", self, other)

    def __invert__(self) -> Expression:
        result = _made(f"~({_expr2bx(self)})", False, _UNARY)
        result._held = ("not", self)
        return result

    def maxsat(self, minimization: bool) -> Expression:
        term = _expr2pb(self)
        result = _made(f"FormulaPB({term}, None, None).to_maxsat(manager, {minimization})", True, _ATOM)
        result._held = ("maxsat", self, minimization)
        return result

    @property
    def soft(self):
        return self._soft

    def __str__(self) -> str:
        return self._expr


class VariableProxy(Expression):
    def __init__(self, name: str) -> None:
        super().__init__(name)
        self.name = name

    def __repr__(self):
        return self.name


def _comprehension(prefix: str, convert, expr: Expression, indexes: dict) -> str:
    if not isinstance(expr, Expression):
        raise _refused(_ELEMENT_EXPECTED)
    clauses = " ".join(f"for {name} in {values}" for name, values in indexes.items())
    return f"{prefix}{convert(expr)} {clauses}])"


class Sum(Expression):
    def __init__(self, expr: Expression, **indexes) -> None:
        super().__init__(soft=True)
        self._expr = _comprehension("Sum(*[", _expr2pb, expr, indexes)


class And(Expression):
    def __init__(self, expr: Expression, **indexes) -> None:
        super().__init__(soft=False)
        self._expr = _comprehension("bx.and_s([", _expr2bx, expr, indexes)


class Or(Expression):
    def __init__(self, expr: Expression, **indexes) -> None:
        super().__init__(soft=False)
        self._expr = _comprehension("bx.or_s([", _expr2bx, expr, indexes)


class Xor(Expression):
    def __init__(self, expr: Expression, **indexes) -> None:
        super().__init__(soft=False)
        self._expr = _comprehension("bx.xor_s([", _expr2bx, expr, indexes)


def _check_operands(operands: tp.Iterable, message: str) -> None:
    for operand in operands:
        if not isinstance(operand, Expression):
            raise _refused(message)


def _joined(prefix: str, convert, operands: tp.Iterable, suffix: str) -> str:
    return prefix + ", ".join(convert(operand) for operand in operands) + suffix


class Equiv(Expression):
    def __init__(self, *expressions: Expression) -> None:
        super().__init__(soft=False)
        _check_operands(expressions, _ELEMENTS_EXPECTED)
        self._expr = _joined("bx.eq_s([", _expr2bx, expressions, "])")


class Implication(Expression):
    def __init__(self, if_expr: Expression, then_expr: Expression) -> None:
        super().__init__(soft=False)
        operands = (if_expr, then_expr)
        _check_operands(operands, "Type 'Expression' is expected for variables 'if_expr' and 'then_expr'")
        self._expr = _joined("bx.impl_s(", _expr2bx, operands, ")")


class IfThenElse(Expression):
    def __init__(self, if_expr: Expression, then_expr: Expression, else_expr: Expression) -> None:
        super().__init__(soft=False)
        operands = (if_expr, then_expr, else_expr)
        _check_operands(
            operands, "Type 'Expression' is expected for variables 'if_expr', 'then_expr' and 'else_expr'"
        )
        self._expr = _joined("bx.ite_s(", _expr2bx, operands, ")")


def _check_sequence(expressions, combinator: str, logged: bool) -> None:
    if not isinstance(expressions, tp.Sequence):
        message = f"Use an iterable sequence as {combinator} input argument"
        if logged:
            log_e(message)
        raise TypeError(message)
    if len(expressions) == 0:
        log_w(_EMPTY_SEQUENCE)
    _check_operands(expressions, _ELEMENTS_EXPECTED)


class SumIt(Expression):
    def __init__(self, expressions: tp.Sequence[Expression]) -> None:
        super().__init__(soft=True)
        _check_sequence(expressions, "SumIt", logged=True)
        self.ability_use_for_target = True
        self._members = tuple(expressions)
        self._expr = _joined("Sum(*[", _expr2pb, self._members, "])")


class AndIt(Expression):
    def __init__(self, expressions: tp.Sequence[Expression]) -> None:
        super().__init__(soft=False)
        _check_sequence(expressions, "AndIt", logged=False)
        self._members = tuple(expressions)
        self._expr = _joined("bx.and_s([", _expr2bx, self._members, "])")


class OrIt(Expression):
    def __init__(self, expressions: tp.Sequence[Expression]) -> None:
        super().__init__(soft=False)
        _check_sequence(expressions, "OrIt", logged=False)
        self._members = tuple(expressions)
        self._expr = _joined("bx.or_s([", _expr2bx, self._members, "])")


class XorIt(Expression):
    def __init__(self, expressions: tp.Sequence[Expression]) -> None:
        super().__init__(soft=False)
        _check_sequence(expressions, "XorIt", logged=False)
        self._expr = _joined("bx.xor_s([", _expr2bx, expressions, "])")


# A variable reference and every combinator's text is one call, which binds as tightly as a name.
_CALL_TEXTS = (VariableProxy, Sum, And, Or, Xor, Equiv, Implication, IfThenElse, SumIt, AndIt, OrIt, XorIt)

One = Expression("bx.one()")
Zero = Expression("bx.zero()")


def pow_expression(base: int, exp) -> Expression:
    # -2 ** i is -(2 ** i), and 2 ** i + 1 is (2 ** i) + 1
    power = _enclose(format(base, ""), _rank(base), _ATOM)
    exponent = _enclose(format(exp, ""), _rank(exp), _UNARY)
    return _made(f"{power} ** {exponent}", True, _POWER)
