"""Evaluating the model's expression texts, as eval(text, namespace) does, with less parsing.

The code of a text is kept, so that a text met again (the target of a bound-tightening loop, a
constraint added over several forall sets) is not parsed again. An expression that still holds
what it was made of, the comparison with an integer or the soft objective of a SumIt of variable
elements, is evaluated from that, with the very calls that its text makes, so that a text of a
million terms never goes through the parser.
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
    """For an expression that holds what it was made of, a function that makes the calls of its
    text, in their order, on the namespace's objects; None for any other expression. Held are a
    comparison, FormulaPB(term, pb.Comparator_type.C, k).to_bx(manager), and a soft objective,
    FormulaPB(term, None, None).to_maxsat(manager, m), of a term made of a SumIt of variable
    elements, Sum(*[x(0).to_pb(), ...]), possibly scaled by integers, f * (term)."""
    held = getattr(expression, "_held", None)
    if held is None or held[0] not in ("compare", "maxsat"):
        return None
    names = {"FormulaPB", "Sum", "manager"}
    term = _held_term(held[1], namespace, names)
    if term is None:
        return None
    if held[0] == "compare":
        _, _, comparator, bound = held
        names.add("pb")
        if type(bound) is not int:
            return None
    elif type(held[2]) is not bool:
        return None
    if not names.issubset(namespace):
        return None  # eval reports the missing name

    def evaluated():
        if held[0] == "maxsat":
            return namespace["FormulaPB"](term(), None, None).to_maxsat(namespace["manager"], held[2])
        pb_comparator = getattr(namespace["pb"].Comparator_type, comparator)
        return namespace["FormulaPB"](term(), pb_comparator, bound).to_bx(namespace["manager"])

    return evaluated


def _held_term(expression, namespace, names):
    """A function that gives the value of the term's text, for a held term; None for any other.
    Adds the names that the text uses to `names`."""
    if type(expression) is SumIt:
        calls = []
        for member in expression._members:
            # The element's text is a call with constant indexes, x(0,12): read back as its values.
            call = constant_call(str(member)) if type(member) is VariableProxy else None
            if call is None or call[0]:
                return None
            calls.append((call[1], call[2]))
        names.update(name for name, _ in calls)
        return lambda: namespace["Sum"](*[namespace[name](*values).to_pb() for name, values in calls])
    held = getattr(expression, "_held", None)
    if held is None or held[0] != "scale" or type(held[1]) is not int:
        return None
    factor = held[1]
    term = _held_term(held[2], namespace, names)
    return None if term is None else lambda: factor * term()
