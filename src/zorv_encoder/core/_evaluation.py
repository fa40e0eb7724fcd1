"""Evaluating the model's expression texts, as eval(text, namespace) does, with less parsing.

The code of a text is kept, so that a text met again (the target of a bound-tightening loop, a
constraint added over several forall sets) is not parsed again. An expression that still holds
what it was made of, the comparison of a SumIt of variable elements with an integer, is evaluated
from that, with the very calls that its text makes, so that a text of a million terms never goes
through the parser.
"""

import functools
import typing as tp

from ..encode.expressions import SumIt, VariableProxy
from ._literal_forms import constant_call

# Longer texts are compiled each time rather than kept: they are rarely met twice.
_LONGEST_KEPT = 1 << 16


def evaluate(expression, namespace: tp.Dict[str, tp.Any]):
    """What eval(str(expression), namespace, namespace) gives."""
    held = _held_comparison(expression, namespace)
    if held is not None:
        return held()
    return eval(code(str(expression)), namespace, namespace)


def code(text: str):
    """`text` compiled as eval compiles it (leading blanks dropped), or the text itself when it is
    too long to keep."""
    if len(text) > _LONGEST_KEPT:
        return text
    return _compiled(text)


@functools.lru_cache(maxsize=512)
def _compiled(text: str):
    return compile(text.lstrip(" \t"), "<string>", "eval")


def _held_comparison(expression, namespace):
    """For FormulaPB(Sum(*[x(0).to_pb(), ...]), pb.Comparator_type.C, k).to_bx(manager), the text
    of a SumIt of variable elements compared with an int: a function that makes its calls, in its
    order, on the namespace's objects; None for any other expression."""
    held = getattr(expression, "_held", None)
    if held is None:
        return None
    term, comparator, bound = held
    if type(term) is not SumIt or type(bound) is not int:
        return None
    calls = []
    for member in term._members:
        # The element's text is a call with constant indexes, x(0,12): read back as its values.
        call = constant_call(str(member)) if type(member) is VariableProxy else None
        if call is None or call[0]:
            return None
        calls.append(call)
    names = {"FormulaPB", "Sum", "pb", "manager", *(name for _, name, _ in calls)}
    if not names.issubset(namespace):
        return None  # eval reports the missing name

    def comparison():
        terms = [namespace[name](*values).to_pb() for _, name, values in calls]
        pb_comparator = getattr(namespace["pb"].Comparator_type, comparator)
        formula = namespace["FormulaPB"](namespace["Sum"](*terms), pb_comparator, bound)
        return formula.to_bx(namespace["manager"])

    return comparison
