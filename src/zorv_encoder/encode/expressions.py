from __future__ import annotations

import ast
import operator
import sys
import typing as tp
import unicodedata
from numbers import Integral

from ..core.zorv_logger import *

_EXPRESSION_EXPECTED = "Type 'Expression' is expected for left side of expression"
_FACTOR_EXPECTED = "Type 'Expression' or 'int' is expected for expression"
_BOUND_EXPECTED = "Type 'int' is expected for left side of expression"
_ELEMENT_EXPECTED = "Type 'Expression' is expected for variable 'expression'"
_ELEMENTS_EXPECTED = "Variable 'expressions' must contain only objects of type 'Expression'"
_EMPTY_SEQUENCE = "The input sequence has zero length"
_NO_TRUTH_VALUE = (
    "An expression has no truth value: join constraints with & or | (AndIt, OrIt for many), not with"
    " 'and' or 'or', and compare a term with one bound at a time, (2 <= s) & (s <= 5) rather than 2 <= s <= 5"
)
_PRODUCT_OF_TERMS = (
    "A product of two expressions is not a pseudo-Boolean term: multiply a term by an integer, or by a"
    " coefficient such as pow_expression(2, i) written on its left"
)
_MINIMIZATION_EXPECTED = "Type 'bool' is expected for 'minimization' (None counts as False; 0 and 1 are taken too)"
_BOOLEAN_IN_SUM = (
    "A Boolean formula (a negation such as ~x[0], a comparison, a combination with & | ^, One or Zero)"
    " cannot be a term of a sum: a sum takes variables and their integer multiples. Write c * ~x[0] as"
    " c - c * x[0], that is -c * x[0] with c subtracted from the bound: 3 * ~x[0] + x[1] <= 1 is"
    " -3 * x[0] + x[1] <= -2"
)


def _expr2bx(expr: Expression) -> str:
    if isinstance(expr, VariableProxy):
        return f"{expr}.to_bx()"
    return str(expr)


def _expr2pb(expr: Expression) -> str:
    if isinstance(expr, VariableProxy):
        return f"{expr}.to_pb()"
    return str(expr)


# What _expr2bx and _expr2pb append to a variable element's text.
_ELEMENT_CALLS = {_expr2bx: ".to_bx()", _expr2pb: ".to_pb()"}


def _refused(message: str) -> TypeError:
    log_e(message)
    return TypeError(message)


def _value_refused(message: str) -> ValueError:
    log_e(message)
    return ValueError(message)


def _int_text(value) -> str:
    """The text of an integral value. An int subclass or an integer-like object could print itself
    as any text, so anything but an exact int or bool is written as the int it stands for."""
    if type(value) is int or type(value) is bool:
        return format(value, "")
    return str(operator.index(value))


# Characters of the value texts that the language takes from the caller (range(3), [0, i + 1]):
# no quotes, comments, dots, line breaks or escapes, whatever the parser would make of them.
_VALUE_CHARACTERS = frozenset("0123456789 +-*(),[]_")


def _arithmetic(node) -> bool:
    """Integers and index names joined by + - * ** and signs."""
    if isinstance(node, ast.Constant):
        return type(node.value) is int
    if isinstance(node, ast.Name):
        from ..core._names import name_fault

        return name_fault(node.id, identifier=True) is None
    if isinstance(node, ast.UnaryOp):
        return isinstance(node.op, (ast.UAdd, ast.USub)) and _arithmetic(node.operand)
    if isinstance(node, ast.BinOp):
        return (
            isinstance(node.op, (ast.Add, ast.Sub, ast.Mult, ast.Pow))
            and _arithmetic(node.left)
            and _arithmetic(node.right)
        )
    return False


def _values(node) -> bool:
    """A range call or a list or tuple literal over arithmetic."""
    if isinstance(node, ast.Call):
        return (
            isinstance(node.func, ast.Name)
            and node.func.id == "range"
            and not node.keywords
            and 1 <= len(node.args) <= 3
            and all(_arithmetic(arg) for arg in node.args)
        )
    if isinstance(node, (ast.List, ast.Tuple)):
        return all(_arithmetic(element) for element in node.elts)
    return False


def _safe_text(text: str, check) -> bool:
    # The parser normalises names (a fullwidth x reads as x): the text itself must be normal.
    if not all(c in _VALUE_CHARACTERS or c.isalpha() for c in text):
        return False
    if unicodedata.normalize("NFKC", text) != text:
        return False
    try:
        return check(ast.parse(text.strip(" "), mode="eval").body)
    except (SyntaxError, ValueError, RecursionError, MemoryError):
        return False


def _loop_text(name, values) -> str:
    """The for-clause of one index of a comprehension combinator: every name and value is checked
    here, since the text is evaluated later."""
    # Loaded at first use, so that importing the package loads what it always did.
    from ..core._names import name_message

    message = name_message("Index", name)
    if message is not None:
        raise _value_refused(message)
    if isinstance(values, str):
        if not _safe_text(values, _values):
            raise _value_refused(
                f"Values {values!r} of index '{name}' must be a range call or a list or tuple of integers"
                " and index names written with + - * **"
            )
        text = values
    elif isinstance(values, range):
        text = format(values, "")
    elif isinstance(values, Integral):
        text = _int_text(values)
    else:
        text = _sequence_text(name, values)
    return f"for {name} in {text}"


def _sequence_text(name: str, values) -> str:
    # Lists, tuples and numpy arrays, written as the plain list or tuple of their integers; a set
    # as the list of its integers in ascending order (the combinators do not depend on the order).
    tolist = getattr(values, "tolist", None)
    if isinstance(values, (set, frozenset)):
        items = sorted(values, key=operator.index) if all(isinstance(v, Integral) for v in values) else None
    else:
        items = values if isinstance(values, (list, tuple)) else tolist() if callable(tolist) else None
    if isinstance(items, Integral):
        return _int_text(items)
    if isinstance(items, (list, tuple)) and all(isinstance(item, Integral) for item in items):
        texts = [_int_text(item) for item in items]
        if isinstance(items, list):
            return "[" + ", ".join(texts) + "]"
        return "(" + ", ".join(texts) + ("," if len(texts) == 1 else "") + ")"
    raise _refused(
        f"Values of index '{name}' must be a range, a sequence or set of integers or a text such as 'range(3)',"
        f" not {type(values).__name__}"
    )


def _pieces_text(pieces) -> str:
    """Joins the pieces of an operator's text. A piece is a text or an expression whose own text is
    not joined yet; walked without recursion, so that any depth of operators costs linear time."""
    out = []
    stack = [iter(pieces)]
    while stack:
        for piece in stack[-1]:
            if type(piece) is str:
                out.append(piece)
                continue
            inner = piece.__dict__.get("_pieces")
            if inner is None:
                out.append(piece._expr)
                continue
            stack.append(iter(inner))
            break
        else:
            stack.pop()
    return "".join(out)


def _piece(expr, suffix: str = ""):
    """An operand as it enters an operator's text: an operator's result whose text is not joined
    yet enters as itself, so that a chain of n operators joins its text once, not n times."""
    kind = type(expr)
    if kind is Expression:
        return expr if expr._expr is None and "_pieces" in expr.__dict__ else str(expr)
    if kind is VariableProxy or isinstance(expr, VariableProxy):
        return f"{expr}{suffix}"
    return str(expr)


def _kind(expr) -> tp.Optional[bool]:
    """True for a coefficient (a number once evaluated: a power, and sums and products of powers),
    False for a pseudo-Boolean term or a Boolean formula, None for a text written by hand."""
    if expr is One or expr is Zero or (type(expr) is not Expression and isinstance(expr, _CALL_TEXTS)):
        return False
    return expr.__dict__.get("_coefficient")


def _joint_kind(left, right) -> tp.Optional[bool]:
    kinds = (_kind(left), _kind(right))
    if False in kinds:
        return False
    return True if kinds == (True, True) else None


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


def _wrap(piece, rank: int, weakest: int) -> tuple:
    return (piece,) if rank >= weakest else ("(", piece, ")")


# Longest text an operator joins at once; a longer one is joined when it is first read, so that
# a chain s + x[1] + x[2] + ... does not copy an ever longer text at every step.
_JOINED_AT_ONCE = 2048


def _made(pieces: tuple, soft: bool, rank: int, coefficient: tp.Optional[bool] = False) -> Expression:
    # Operators know the outermost operator of the text they write; keeping it spares chains
    # such as s + x[1] + x[2] + ... from parsing an ever longer text.
    try:
        # Refused before anything is copied when a piece is an expression still in pieces.
        text = "".join(pieces)
    except TypeError:
        text = None
    if text is not None and len(text) <= _JOINED_AT_ONCE:
        result = Expression(text, soft)
    else:
        result = Expression(None, soft)
        result._pieces = pieces
    result._rank = rank
    result._coefficient = coefficient
    return result


def _minimization_flag(minimization) -> bool:
    """The direction that a soft objective's flag gives: None counts as false, a Boolean (numpy's
    too) or the integer 0 or 1 as itself. Anything else is refused, a text above all: the flag's
    text enters the evaluated text."""
    if minimization is None:
        return False
    numpy = sys.modules.get("numpy")  # a numpy Boolean exists only once numpy is loaded
    if isinstance(minimization, bool) or (numpy is not None and isinstance(minimization, numpy.bool_)):
        return bool(minimization)
    if isinstance(minimization, Integral) and operator.index(minimization) in (0, 1):
        return operator.index(minimization) == 1
    raise _refused(_MINIMIZATION_EXPECTED)


def _soft_weight(weight) -> None:
    """Refuses a soft weight that is not an integer, as the objective that it scales refuses such
    a factor."""
    if not isinstance(weight, Integral):
        raise _refused(_FACTOR_EXPECTED)


def _term(*operands) -> None:
    """Refuses a Boolean operand of a sum here: the model would fail only when it evaluates the text."""
    for operand in operands:
        if operand is One or operand is Zero or (isinstance(operand, Expression) and not operand._soft):
            raise _refused(_BOOLEAN_IN_SUM)


def _compared(expr: Expression, comparator: str, bound) -> Expression:
    if not isinstance(bound, Integral):
        raise _refused(_BOUND_EXPECTED)
    tail = f", pb.Comparator_type.{comparator}, {_int_text(bound)}).to_bx(manager)"
    result = _made(("FormulaPB(", _piece(expr, ".to_pb()"), tail), False, _ATOM)
    # What the text is made of, so that the model can evaluate it without parsing it.
    result._held = ("compare", expr, comparator, bound)
    return result


def _connected(prefix: str, left: Expression, right) -> Expression:
    if not isinstance(right, Expression):
        raise _refused(_EXPRESSION_EXPECTED)
    return _made((prefix, _piece(left, ".to_bx()"), ", ", _piece(right, ".to_bx()"), "])"), False, _ATOM)


class Expression:
    # The two attributes of every expression as slots, so that a variable element, made by the
    # million for a long SumIt, needs no dict; the others stay in the dict.
    __slots__ = ("_expr", "_soft", "__dict__", "__weakref__")

    def __init__(self, expr: str = "", soft: bool = True) -> None:
        self._expr = expr
        self._soft = soft

    def __add__(self, other: Expression) -> Expression:
        if not isinstance(other, Expression):
            raise _refused(_EXPRESSION_EXPECTED)
        _term(self, other)
        left = _wrap(_piece(self, ".to_pb()"), _rank(self), _SUM)
        right = _wrap(_piece(other, ".to_pb()"), _rank(other), _SUM)
        return _made((*left, " + ", *right), True, _SUM, _joint_kind(self, other))

    def __sub__(self, other: Expression) -> Expression:
        if not isinstance(other, Expression):
            raise _refused(_EXPRESSION_EXPECTED)
        _term(self, other)
        left = _wrap(_piece(self, ".to_pb()"), _rank(self), _SUM)
        # a - (b + c) is not a - b + c
        right = _wrap(_piece(other, ".to_pb()"), _rank(other), _PRODUCT)
        return _made((*left, " - ", *right), True, _SUM, _joint_kind(self, other))

    def __mul__(self, other: tp.Union[Integral, Expression]) -> Expression:
        held = None
        _term(self, other)
        if isinstance(other, Integral):
            pieces = (_int_text(other), " * (", _piece(self, ".to_pb()"), ")")
            kind = _kind(self)
            held = ("scale", other, self)
        elif isinstance(other, Expression):
            # Terms are scaled only by a number on their left.
            if _kind(self) is False:
                raise _refused(_PRODUCT_OF_TERMS)
            pieces = (*_wrap(_piece(self), _rank(self), _PRODUCT), " * (", _piece(other, ".to_pb()"), ")")
            kind = _joint_kind(self, other)
        else:
            raise _refused(_FACTOR_EXPECTED)
        result = _made(pieces, True, _PRODUCT, kind)
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
        result = _made(("~(", _piece(self, ".to_bx()"), ")"), False, _UNARY)
        result._held = ("not", self)
        return result

    def maxsat(self, minimization: bool) -> Expression:
        flag = _minimization_flag(minimization)
        # Written as given (None, True, 1); a numpy Boolean as the host's.
        if isinstance(minimization, Integral):
            text = _int_text(minimization)
        else:
            text = "None" if minimization is None else format(flag, "")
        tail = f", None, None).to_maxsat(manager, {text})"
        result = _made(("FormulaPB(", _piece(self, ".to_pb()"), tail), True, _ATOM)
        result._held = ("maxsat", self, flag)
        return result

    def __bool__(self):
        # `2 <= s <= 5` and `a and b` would silently keep one of the two constraints.
        raise _refused(_NO_TRUTH_VALUE)

    @property
    def soft(self):
        return self._soft

    def __str__(self) -> str:
        if self._expr is None and "_pieces" in self.__dict__:
            self._expr = _pieces_text(self._pieces)
            del self._pieces
        return self._expr


class VariableProxy(Expression):
    __slots__ = ("name",)

    def __init__(self, name: str) -> None:
        self._expr = name
        self._soft = True
        self.name = name

    def __repr__(self):
        return self.name


def _comprehension(prefix: str, convert, expr: Expression, indexes: dict) -> str:
    if not isinstance(expr, Expression):
        raise _refused(_ELEMENT_EXPECTED)
    clauses = " ".join(_loop_text(name, values) for name, values in indexes.items())
    return f"{prefix}{convert(expr)} {clauses}])"


class Sum(Expression):
    def __init__(self, expr: Expression, **indexes) -> None:
        super().__init__(soft=True)
        _term(expr)
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
    call = _ELEMENT_CALLS.get(convert)
    if call is not None and len(operands) and set(map(type, operands)) == {VariableProxy}:
        # Variable elements alone, the usual long list: joined from their own texts, without a
        # text made for each.
        return prefix + (call + ", ").join([operand._expr for operand in operands]) + call + suffix
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
        if set(map(type, expressions)) != {VariableProxy}:
            _term(*expressions)
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


def _power_operand(value) -> str:
    from .variables import Index

    if isinstance(value, Integral):
        return _int_text(value)
    if isinstance(value, Index) or (isinstance(value, Expression) and _kind(value) is not False):
        return format(value, "")
    if isinstance(value, str):
        if _safe_text(value, _arithmetic):
            return value
        raise _value_refused(
            f"Text {value!r} given to pow_expression must be integers and index names written with + - * **"
        )
    raise _refused(f"pow_expression takes integers, indexes or index names, not {type(value).__name__}")


def _power_text(value, weakest: int) -> str:
    text = _power_operand(value)
    return _enclose(text, _rank(value) if isinstance(value, Expression) else _text_rank(text), weakest)


def pow_expression(base: int, exp) -> Expression:
    # -2 ** i is -(2 ** i), and 2 ** i + 1 is (2 ** i) + 1
    power = _power_text(base, _ATOM)
    exponent = _power_text(exp, _UNARY)
    return _made((f"{power} ** {exponent}",), True, _POWER, True)
