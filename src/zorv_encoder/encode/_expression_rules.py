"""What the expressions and the model-level variables do beyond joining their texts: the checks
and messages of what they refuse, the grouping of operands, and the texts of index values.
Their modules bind only their fixed names and load this one at first use."""

import ast
import operator
import sys
import typing as tp
import unicodedata
from numbers import Integral

from ..core._names import parsed
from ..core.zorv_logger import log_e, log_w
from .expressions import (
    And,
    AndIt,
    Equiv,
    Expression,
    IfThenElse,
    Implication,
    One,
    Or,
    OrIt,
    Sum,
    SumIt,
    VariableProxy,
    Xor,
    XorIt,
    Zero,
    _expr2bx,
    _expr2pb,
)
from .variables import Index

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
    # A failed allocation is not a fault of the text: it propagates as itself.
    try:
        return check(parsed(text.strip(" ")))
    except (SyntaxError, ValueError, RecursionError):
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


def _kind(expr) -> tp.Optional[bool]:
    """True for a coefficient (a number once evaluated: a power, and sums and products of powers),
    False for a pseudo-Boolean term or a Boolean formula, None for a text written by hand."""
    if expr is One or expr is Zero or (type(expr) is not Expression and isinstance(expr, _CALL_TEXTS)):
        return False
    return getattr(expr, "_coefficient", None)


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

# A variable reference and every combinator's text is one call, which binds as tightly as a name.
_CALL_TEXTS = (VariableProxy, Sum, And, Or, Xor, Equiv, Implication, IfThenElse, SumIt, AndIt, OrIt, XorIt)


def _text_rank(text: str) -> int:
    if text.isidentifier() or (text.isascii() and text.isdigit()):
        return _ATOM
    try:
        node = parsed(text.lstrip(" \t"))
    except (SyntaxError, ValueError, RecursionError, MemoryError):
        # Unread here (a long sum nests past the parser's depth, though the host still compiles it,
        # and the parser's depth guard raises a bare MemoryError): grouped as loosely as any text,
        # so that it stays whole; the model refuses a text that nests too deep.
        return _LOOSE
    if isinstance(node, ast.BinOp):
        # Shifts and bitwise operators bind more loosely than a sum.
        return _BINARY_RANKS.get(type(node.op), _LOOSE)
    if isinstance(node, ast.UnaryOp):
        return _LOOSE if isinstance(node.op, ast.Not) else _UNARY
    if isinstance(node, _LOOSE_NODES):
        return _LOOSE
    return _ATOM


def _rank(value) -> int:
    if type(value) is not Expression and isinstance(value, _CALL_TEXTS):
        return _ATOM
    if isinstance(value, Expression):
        rank = getattr(value, "_rank", None)
        return _text_rank(str(value)) if rank is None else rank
    return _text_rank(format(value, ""))


def _enclose(text: str, rank: int, weakest: int) -> str:
    return text if rank >= weakest else f"({text})"


# glibc serves every block above its mmap threshold (128 KiB at first) with a fresh mapping, so a
# chain s + x[1] + x[2] + ..., which copies an ever longer text at each step, would page-fault the
# whole text at every step. glibc raises the threshold itself to the size of a mapped block once it
# is freed (up to 32 MiB): one 16 MiB block, made and dropped once, lets texts up to that size come
# from the heap. bytes() of a size is zeroed by calloc, which leaves a fresh mapping untouched.
_LONG_TEXT = 1 << 17
_long_text_met = False


def _made(text: str, soft: bool, rank: int, coefficient: tp.Optional[bool] = False) -> Expression:
    global _long_text_met
    if len(text) > _LONG_TEXT and not _long_text_met:
        _long_text_met = True
        bytes(1 << 24)
    result = Expression(text, soft)
    # Operators know the outermost operator of the text they write; keeping it spares chains
    # such as s + x[1] + x[2] + ... from parsing an ever longer text.
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


def sum_of(left: Expression, sign: str, right) -> Expression:
    """left + right or left - right."""
    if not isinstance(right, Expression):
        raise _refused(_EXPRESSION_EXPECTED)
    _term(left, right)
    # a - (b + c) is not a - b + c
    weakest = _SUM if sign == " + " else _PRODUCT
    left_text = _enclose(_expr2pb(left), _rank(left), _SUM)
    right_text = _enclose(_expr2pb(right), _rank(right), weakest)
    return _made(f"{left_text}{sign}{right_text}", True, _SUM, _joint_kind(left, right))


def product_of(expr: Expression, other) -> Expression:
    held = None
    _term(expr, other)
    if type(other) is int or isinstance(other, Integral):
        factor = _int_text(other)
        text = f"{factor} * ({_expr2pb(expr)})"
        kind = _kind(expr)
        held = ("scale", other, expr)
    elif isinstance(other, Expression):
        # Terms are scaled only by a number on their left.
        if _kind(expr) is False:
            raise _refused(_PRODUCT_OF_TERMS)
        text = f"{_enclose(str(expr), _rank(expr), _PRODUCT)} * ({_expr2pb(other)})"
        kind = _joint_kind(expr, other)
    else:
        raise _refused(_FACTOR_EXPECTED)
    result = _made(text, True, _PRODUCT, kind)
    result._held = held
    return result


def compared(expr: Expression, comparator: str, bound) -> Expression:
    # An int is spared the costly test against the abstract class.
    if type(bound) is not int and not isinstance(bound, Integral):
        raise _refused(_BOUND_EXPECTED)
    tail = f", pb.Comparator_type.{comparator}, {_int_text(bound)}).to_bx(manager)"
    result = _made(f"FormulaPB({_expr2pb(expr)}{tail}", False, _ATOM)
    # What the text is made of, so that the model can evaluate it without parsing it.
    result._held = ("compare", expr, comparator, bound)
    return result


def connected(prefix: str, left: Expression, right) -> Expression:
    if not isinstance(right, Expression):
        raise _refused(_EXPRESSION_EXPECTED)
    return _made(f"{prefix}{_expr2bx(left)}, {_expr2bx(right)}])", False, _ATOM)


def negated(expr: Expression) -> Expression:
    result = _made(f"~({_expr2bx(expr)})", False, _UNARY)
    result._held = ("not", expr)
    return result


def objective(expr: Expression, minimization) -> Expression:
    flag = _minimization_flag(minimization)
    # Written as given (None, True, 1); a numpy Boolean as the host's.
    if isinstance(minimization, Integral):
        text = _int_text(minimization)
    else:
        text = "None" if minimization is None else format(flag, "")
    tail = f", None, None).to_maxsat(manager, {text})"
    result = _made(f"FormulaPB({_expr2pb(expr)}{tail}", True, _ATOM)
    result._held = ("maxsat", expr, flag)
    return result


def no_truth_value() -> TypeError:
    return _refused(_NO_TRUTH_VALUE)


def comprehension_text(prefix: str, convert, expr: Expression, indexes: dict) -> str:
    if prefix == "Sum(*[":
        _term(expr)
    if not isinstance(expr, Expression):
        raise _refused(_ELEMENT_EXPECTED)
    clauses = " ".join(_loop_text(name, values) for name, values in indexes.items())
    return f"{prefix}{convert(expr)} {clauses}])"


def _check_operands(operands: tp.Iterable, message: str) -> None:
    for operand in operands:
        if not isinstance(operand, Expression):
            raise _refused(message)


def _joined(prefix: str, texts: tp.List[str], suffix: str, call: str = "") -> str:
    """prefix, the texts each followed by `call` (a variable element's conversion) and joined by
    ", ", and suffix, in one piece: a text of a million elements is copied once. Takes over `texts`."""
    if not texts:
        return prefix + suffix
    texts[0] = prefix + texts[0]
    texts[-1] += call + suffix
    return (call + ", ").join(texts)


def _element_texts(expressions) -> tp.Optional[tp.List[str]]:
    """The texts of a list or tuple of variable elements alone, the usual long sequence, which has
    nothing to check; None for any other operands."""
    if type(expressions) in (list, tuple) and len(expressions) and set(map(type, expressions)) == {VariableProxy}:
        return [element._expr for element in expressions]
    return None


# What _expr2bx and _expr2pb append to a variable element's text.
_ELEMENT_CALLS = {_expr2bx: ".to_bx()", _expr2pb: ".to_pb()"}


def operands_text(prefix: str, operands: tp.Sequence, convert, suffix: str, message: str = _ELEMENTS_EXPECTED) -> str:
    """A combinator's text over its operands, once every one is an expression."""
    texts = _element_texts(operands)
    if texts is not None:
        return _joined(prefix, texts, suffix, _ELEMENT_CALLS[convert])
    _check_operands(operands, message)
    return _joined(prefix, list(map(convert, operands)), suffix)


def sequence_text(expressions, combinator: str, prefix: str, convert) -> tp.Tuple[str, tuple]:
    """A sequence combinator's text, once the sequence and its elements have passed their checks,
    and the members that the model's evaluation reads instead of the text: for variable elements
    alone their texts only, so that a million elements do not outlive the caller's list."""
    texts = _element_texts(expressions)
    if texts is not None:
        members = tuple(texts)
        return _joined(prefix, texts, "])", _ELEMENT_CALLS[convert]), members
    if not isinstance(expressions, tp.Sequence):
        message = f"Use an iterable sequence as {combinator} input argument"
        if combinator == "SumIt":
            log_e(message)
        raise TypeError(message)
    if len(expressions) == 0:
        log_w(_EMPTY_SEQUENCE)
    _check_operands(expressions, _ELEMENTS_EXPECTED)
    if combinator == "SumIt":
        _term(*expressions)
    return _joined(prefix, list(map(convert, expressions)), "])"), tuple(expressions)


def _power_operand(value) -> str:
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


def power(base, exp) -> Expression:
    # -2 ** i is -(2 ** i), and 2 ** i + 1 is (2 ** i) + 1
    power_text = _power_text(base, _ATOM)
    exponent = _power_text(exp, _UNARY)
    return _made(f"{power_text} ** {exponent}", True, _POWER, True)


def no_value(name) -> TypeError:
    # A declared index has no value while a constraint is read once for all its foralls:
    # range(i), 2 ** i and the like cannot be worked out then.
    return _refused(
        f"Index '{name}' has no value when the constraint is read: a range, power or coefficient"
        " cannot depend on a forall of the constraint; write the term inside Sum, And, Or or Xor"
        " over that index instead"
    )


def _index_operand(index: Index, weakest: int) -> str:
    # A declared index's operators start again from its bare name.
    if index._rank is None:
        return format(index.name, "")
    return _enclose(index.expression, index._rank, weakest)


def _derived(index: Index, expression: str, rank: int) -> Index:
    result = Index(index.name, expression)
    result._rank = rank
    return result


def index_shifted(index: Index, sign: str, shift) -> Index:
    """index + shift or index - shift."""
    # i - (j + 1) is not i - j + 1
    weakest = _SUM if sign == " + " else _PRODUCT
    return _derived(index, f"{_index_operand(index, _SUM)}{sign}{_shift_text(shift, weakest)}", _SUM)


def index_scaled(index: Index, factor) -> Index:
    # 2 * (i + 1) is not 2 * i + 1
    return _derived(index, f"{_shift_text(factor, _PRODUCT)} * {_index_operand(index, _PRODUCT)}", _PRODUCT)


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


def reference_values(name: str, items) -> str:
    """The index values of a variable reference, x[items], as its text writes them."""
    # A tuple, the usual case, is spared the costly test against the abstract class.
    if type(items) is tuple or (not isinstance(items, Index) and isinstance(items, tp.Sequence)):
        return ",".join(_index_text(name, item) for item in items)
    return _index_text(name, items)


def out_of_range(name: str, indexes, items: tp.Tuple[int, ...], dims) -> str:
    for index_name, value, (size, _) in zip(indexes, items, dims):
        if not 0 <= value < size:
            return f"Index value {value} is out of range for variable '{name}': index '{index_name}' has size {size}"


def not_iterable(name: str) -> TypeError:
    # Without this the host would iterate by indexing with 0, 1, 2, ... for ever, since
    # indexing accepts any value.
    return TypeError(f"Variable '{name}' is not iterable: index it to refer to one element")
