"""Evaluating the model's expression texts, as eval(text, namespace) does, with less parsing.

The code of a text is kept, so that a text met again (the target of a bound-tightening loop, a
constraint added over several forall sets) is not parsed again. An expression that still holds
what it was made of, the comparison with an integer or the soft objective of a SumIt of variable
elements, or an OrIt or AndIt of them, is evaluated from that, with the very calls that its text makes, so that a text of a
million terms never goes through the parser.
"""

import ast
import functools
import gc
import operator
from itertools import repeat
import typing as tp

from orbeny.trelle._engine.fenc import work_cap as _work_cap
from orbeny.trelle._engine.inst import constraint_subject as _constraint_subject
from orbeny.trelle._engine.inst import element_call_names as _element_call_names
from orbeny.trelle._engine.inst import memory_limit as _memory_limit
from orbeny.trelle._engine.inst import memory_refusal as _memory_refusal
from orbeny.trelle._engine.inst import text_refusal as _text_refusal

from ..encode.expressions import AndIt, OrIt, SumIt, VariableProxy
from ..encode.variables import Index, Variable
from ._literal_forms import constant_call
from ._names import EVAL_BUILTINS, name_fault
from ._work import Refused
from .formulapb import FormulaPB
from .pboperations import PBVariable, Sum
from .zorv_logger import _heard, tl
from .variable import GeneratorVariable

# Longer texts are compiled each time rather than kept: they are rarely met twice.
_LONGEST_KEPT = 1 << 16


def text_refusal(text: str, namespace, foralls=(), instantiation: bool = False) -> tp.Optional[str]:
    """Why the container road refuses to evaluate `text`, in the words of the formula encoder's
    refusal of a text outside its language; None when it does not. The text is read with that
    encoder's reader and must hold nothing but what the package's own texts hold: their node
    kinds, the attributes they read, numbers, and the names in scope (the evaluation's own, the
    variables and indexes of `namespace`, the `foralls` and the text's own loops). An
    instantiation text holds the model variables of `namespace`, its foralls and the quoted
    auxiliary names of a clause template."""
    try:
        # Only a text beyond ASCII can hold a lone surrogate: a long text is not copied to find out.
        text.isascii() or text.encode()
    except UnicodeEncodeError as error:
        shown = text[:201].encode(errors="backslashreplace").decode()
        return f"cannot read {_constraint_subject(shown, '')}: not valid Unicode at position {error.start}"
    if instantiation:
        variable_type, index_type = Variable, _Nothing
    else:
        variable_type, index_type = GeneratorVariable, Index
    return _text_refusal(text, namespace, foralls, variable_type, index_type, instantiation, _loop_name_ok)


class _Nothing:
    """A type of which no name in scope is an instance."""


def _loop_name_ok(name: str) -> bool:
    return name_fault(name, identifier=True) is None


def held(expression, namespace: tp.Dict[str, tp.Any]):
    """For an expression that holds what it was made of, a function giving what
    eval(str(expression), namespace, namespace) gives, without parsing; None for any other."""
    comparison = _held_comparison(expression, namespace)
    if comparison is None:
        return None

    def evaluated():
        # The objects made here hold no cycle: the collector need not walk everything alive, again
        # and again, while millions of them are made for a long SumIt.
        collecting = gc.isenabled()
        gc.disable()
        try:
            return comparison()
        finally:
            if collecting:
                gc.enable()

    return evaluated


def code(text: str, bounded: bool = False):
    """`text` compiled as eval compiles it (leading blanks dropped); kept for a text met again.
    When `bounded`, its powers, and the arithmetic of the values of its comprehension loops, are
    bounded (see bounded_code)."""
    if len(text) > _LONGEST_KEPT:
        return bounded_code(text) if bounded else compile(text.lstrip(" \t"), "<string>", "eval")
    return _bounded(text) if bounded else _compiled(text)


@functools.lru_cache(maxsize=512)
def _compiled(text: str):
    return compile(text.lstrip(" \t"), "<string>", "eval")


@functools.lru_cache(maxsize=512)
def _bounded(text: str):
    return bounded_code(text)


# The formula-encoder road's cap: on the values of one range in a text, and on the combinations
# of values of nested comprehension loops.
WORK_CAP = _work_cap
_INT64_MIN, _INT64_MAX = -(1 << 63), (1 << 63) - 1


def _out_of_bounds(what: str) -> ValueError:
    return Refused(f"{what}: the index values of a comprehension and every power are integers of 64 bits")


def _fits(value) -> bool:
    return type(value) is not int or _INT64_MIN <= value <= _INT64_MAX


def _bounded_range(*args):
    for arg in args:
        if not _fits(arg):
            raise _out_of_bounds(f"range() is given {arg}")
    values = range(*args)
    try:
        length = len(values)
    except OverflowError:
        length = WORK_CAP + 1
    if length > WORK_CAP:
        shown = ", ".join(map(str, args))
        raise Refused(f"range({shown}) has {length} values, more than the {WORK_CAP} that one range may take")
    return values


def _bounded_arithmetic(sign: str, operation):
    def bounded(left, right):
        if type(left) is not int or type(right) is not int:
            return operation(left, right)  # an index, whose operators say what is wrong
        if not (_fits(left) and _fits(right)):
            raise _out_of_bounds(f"{left} {sign} {right}")
        if sign == "**":
            if right < 0:
                raise Refused(f"{left} ** {right} has a negative exponent: an index value is an integer")
            # Past 63 the power of any base but -1, 0 and 1 leaves 64 bits: refused before it is worked out.
            if right > 63 and abs(left) > 1:
                raise _out_of_bounds(f"{left} ** {right}")
        value = operation(left, right)
        if not _fits(value):
            raise _out_of_bounds(f"{left} {sign} {right} = {value}")
        return value

    return bounded


# The values that the loops around the running comprehension loop take together; that product
# when the running comprehension began; the combinations that the comprehensions of the text have
# taken so far, all together; and the memory this process can still get (as the engine's
# memory_limit() gives it), read once an evaluation meets a list to check against it.
_around = [1]
_began = [1]
_taken = [0]
_memory = [None]
# A list of fewer bytes is not held against that memory, as the engine's work_refusal does not
# hold such work: asking takes longer than making the list.
_UNCHECKED_BYTES = 1 << 20


def _bounded_loop(values, first=False, last=False, element_bytes=0):
    """Iterates a comprehension's values, refusing before the first one a loop that would take,
    with the loops around it, more than WORK_CAP combinations of values, or that would bring the
    combinations of every comprehension of the text together past it. `first` and `last` mark the
    first and the last loop of a comprehension; `element_bytes`, on its last loop, what each
    element of the list it makes takes at the least: a list longer than the memory this process
    can get is refused too."""
    try:
        length = len(values)
    except TypeError:
        yield from values  # the host says what is wrong with it
        return
    outer = _around[0]
    if outer * length > WORK_CAP:
        raise Refused(
            f"nested comprehension loops would take {outer * length} combinations of values (the product of"
            f" their ranges), more than the {WORK_CAP} that one constraint may take"
        )
    if last:
        # Every run of a last loop makes `length` elements: the text's comprehensions share one cap.
        if _taken[0] + length > WORK_CAP:
            raise Refused(
                f"the comprehension loops of the text would take more than {WORK_CAP} combinations of values"
                " together, the most that one constraint may take"
            )
        _taken[0] += length
    began = outer if first else _began[0]
    # Its loops' values taken together: the elements of its list, which is still empty here.
    elements = outer * length // began
    if element_bytes and elements * element_bytes >= _UNCHECKED_BYTES:
        if _memory[0] is None:
            _memory[0] = _memory_limit()
        if elements * element_bytes > _memory[0][0]:
            what = f"{elements} terms of its comprehension loops"
            raise Refused(_memory_refusal(elements * element_bytes, what, *_memory[0]))
    _around[0] = outer * length
    before = _began[0]
    _began[0] = began
    try:
        yield from values
    finally:
        _around[0] = outer
        _began[0] = before


def start_bounded() -> None:
    """Starts a bounded evaluation: no loop is running, and none has run."""
    _around[0] = 1
    _began[0] = 1
    _taken[0] = 0
    _memory[0] = None


# Built-ins of a bounded evaluation: the checked forms of range and of the operators. Their names
# cannot be a variable's (letters only) or an index's (never beginning with an underscore).
_BOUNDED_CALLS = {
    ast.Pow: ("_bounded_power", _bounded_arithmetic("**", operator.pow)),
    ast.Add: ("_bounded_sum", _bounded_arithmetic("+", operator.add)),
    ast.Sub: ("_bounded_difference", _bounded_arithmetic("-", operator.sub)),
    ast.Mult: ("_bounded_product", _bounded_arithmetic("*", operator.mul)),
}
BOUNDED_BUILTINS = {
    **EVAL_BUILTINS,
    "range": _bounded_range,
    "_bounded_loop": _bounded_loop,
    **{name: call for name, call in _BOUNDED_CALLS.values()},
}


def _bounded_call(kind, left, right, node):
    call = ast.Call(ast.Name(_BOUNDED_CALLS[kind][0], ast.Load()), [left, right], [])
    ast.copy_location(call.func, node)
    return ast.copy_location(call, node)


def _bounding(node, values, negated):
    """What replaces `node` in a bounded text: every power, and the + - * and negation of a
    comprehension's values (the nodes in `values`), become calls that check their operands and
    result; an integer literal among those values must fit in 64 bits, with its minus when it
    has one (the literals in `negated`): -9223372036854775808 is the least integer of 64 bits."""
    inside = id(node) in values
    if isinstance(node, ast.Constant) and inside and id(node) not in negated and not _fits(node.value):
        raise _out_of_bounds(f"the literal {node.value}")
    if isinstance(node, ast.BinOp):
        kind = type(node.op)
        if kind is ast.Pow or (inside and kind in _BOUNDED_CALLS):
            return _bounded_call(kind, node.left, node.right, node)
    if isinstance(node, ast.UnaryOp) and inside and isinstance(node.op, ast.USub):
        if id(node.operand) in negated:
            value = -node.operand.value
            if not _fits(value):
                raise _out_of_bounds(f"the literal {value}")
            return ast.copy_location(ast.Constant(value), node)
        return _bounded_call(ast.Sub, ast.copy_location(ast.Constant(0), node), node.operand, node)
    return node


_COMPREHENSIONS = (ast.ListComp, ast.SetComp, ast.GeneratorExp, ast.DictComp)
# The engine's builders of Boolean formulas from a list: bx.or_s([...]) and the like.
_BUILDERS = frozenset({"and_s", "or_s", "xor_s", "eq_s", "and_"})


# A term that an element of a starred list makes anew, x(0).to_pb() or 2 * (...): an object of
# 56 bytes at the least (measured: 117 bytes with its text, 320 bytes a term for the whole row).
_TERM_BYTES = 56


def _fresh_term(element) -> bool:
    return isinstance(element, ast.BinOp) or (
        isinstance(element, ast.Call) and isinstance(element.func, ast.Attribute) and element.func.attr == "to_pb"
    )


def _element_bytes(nodes) -> tp.Dict[int, int]:
    """What each element of a list comprehension among `nodes` takes at the least while its list
    is alive, by the comprehension's id: 8 bytes in the list, 8 more in the tuple of a starred
    argument (Sum(*[...])) and the term it makes anew, 12 more in the operands a Boolean builder
    reads from the list (whose literals are the variables' own)."""
    kept = {}
    for node in nodes:
        if isinstance(node, ast.ListComp):
            kept.setdefault(id(node), 8)
        elif isinstance(node, ast.Call):
            func = node.func
            builder = (
                isinstance(func, ast.Attribute)
                and isinstance(func.value, ast.Name)
                and func.value.id == "bx"
                and func.attr in _BUILDERS
            )
            for arg in node.args:
                if isinstance(arg, ast.Starred) and isinstance(arg.value, ast.ListComp):
                    kept[id(arg.value)] = 16 + (_TERM_BYTES if _fresh_term(arg.value.elt) else 0)
                elif builder and isinstance(arg, ast.ListComp):
                    kept[id(arg)] = 20
    return kept


def _exact(comprehension) -> bool:
    """Whether a comprehension makes one element for each combination of its loops' values, every
    loop taking the same values whatever the loops before it take: no condition, and no loop over
    values that an earlier loop of it binds."""
    bound = set()
    for loop in comprehension.generators:
        if loop.ifs or any(isinstance(n, ast.Name) and n.id in bound for n in ast.walk(loop.iter)):
            return False
        bound.update(n.id for n in ast.walk(loop.target) if isinstance(n, ast.Name))
    return True


def bounded_code(text: str):
    """`text` compiled for an evaluation with BOUNDED_BUILTINS (after start_bounded()), so that a
    text such as range(9 ** 9 ** 9), range(10 ** 12) or two nested loops of 10 ** 6 values each is
    refused (ValueError) before the host works on it."""
    source = text.lstrip(" \t")
    if "**" not in source and "for" not in source:
        return compile(source, "<string>", "eval")
    tree = ast.parse(source, mode="eval")
    # Without recursion: a long chain of operators nests as deep as it is long.
    nodes = list(ast.walk(tree))
    values = set()
    kept = _element_bytes(nodes)
    for node in nodes:
        if not isinstance(node, _COMPREHENSIONS):
            continue
        element_bytes = kept.get(id(node), 0) if _exact(node) else 0
        last = len(node.generators) - 1
        for position, loop in enumerate(node.generators):
            values.update(map(id, ast.walk(loop.iter)))
            flags = [position == 0, position == last, element_bytes if position == last else 0]
            call = ast.Call(
                ast.Name("_bounded_loop", ast.Load()), [loop.iter, *map(ast.Constant, flags)], []
            )
            loop.iter = ast.fix_missing_locations(ast.copy_location(call, loop.iter))
    negated = {id(node.operand) for node in nodes if isinstance(node, ast.UnaryOp) and isinstance(node.op, ast.USub)
               and isinstance(node.operand, ast.Constant) and type(node.operand.value) is int}
    # Children first, so that a node is rebuilt from children already rebuilt.
    for node in reversed(nodes):
        for field, child in ast.iter_fields(node):
            if isinstance(child, ast.AST):
                setattr(node, field, _bounding(child, values, negated))
            elif isinstance(child, list):
                child[:] = [_bounding(item, values, negated) if isinstance(item, ast.AST) else item for item in child]
    return compile(tree, "<string>", "eval")


def _held_comparison(expression, namespace):
    """For an expression that holds what it was made of, a function that makes the calls of its
    text, in their order, on the namespace's objects; None for any other expression. Held are a
    comparison, FormulaPB(term, pb.Comparator_type.C, k).to_bx(manager), and a soft objective,
    FormulaPB(term, None, None).to_maxsat(manager, m), of a term made of a SumIt of variable
    elements, each possibly scaled by an int, Sum(*[x(0).to_pb(), 2 * (x(1).to_pb()), ...]), the
    whole possibly scaled by ints, f * (term); and an OrIt or AndIt of variable elements and their
    negations, bx.or_s([x(0).to_bx(), ~(x(1).to_bx()), ...])."""
    names = {"manager"}
    if type(expression) in (OrIt, AndIt):
        elements = _held_elements(expression._members, "not", namespace, names)
        if elements is None or not _uses(names | {"bx"}, namespace):
            return None
        build = namespace["bx"].or_s if type(expression) is OrIt else namespace["bx"].and_s
        return lambda: build(_element_literals(*elements, namespace))
    held = getattr(expression, "_held", None)
    if held is None or held[0] not in ("compare", "maxsat"):
        return None
    names.update(("FormulaPB", "Sum"))
    shape = []
    term = _held_term(held[1], namespace, names, shape)
    if term is None:
        return None
    if held[0] == "compare":
        _, _, comparator, bound = held
        names.add("pb")
        if type(bound) is not int:
            return None
    elif type(held[2]) is not bool:
        return None
    if not _uses(names, namespace):
        return None

    def evaluated():
        if held[0] == "maxsat":
            if _plain_objective(namespace, shape[0][1]):
                items = _element_items(*shape[0], shape[1], namespace)
                return FormulaPB(_Items(items), None, None).to_maxsat(namespace["manager"], held[2])
            return namespace["FormulaPB"](term(), None, None).to_maxsat(namespace["manager"], held[2])
        pb_comparator = getattr(namespace["pb"].Comparator_type, comparator)
        return namespace["FormulaPB"](term(), pb_comparator, bound).to_bx(namespace["manager"])

    return evaluated


def held_term(expression, namespace) -> bool:
    """Whether a comparison of `expression` with a bound is evaluated without its text."""
    names = {"manager", "FormulaPB", "Sum", "pb"}
    return _held_term(expression, namespace, names, []) is not None and _uses(names, namespace)


def _uses(names, namespace) -> bool:
    # A missing name is left to eval, which reports it. Looked up one by one: issubset would
    # first make a set of the whole namespace, every declared variable.
    return all(name in namespace for name in names)


def _held_term(expression, namespace, names, shape):
    """A function that gives the value of the term's text, for a held term; None for any other.
    Adds the names that the text uses to `names`, and to `shape` the SumIt's elements then the
    product of the factors around it."""
    if type(expression) is SumIt:
        elements = _held_elements(expression._members, "scale", namespace, names)
        if elements is None:
            return None
        shape += (elements, 1)
        return lambda: namespace["Sum"](*_element_terms(*elements, namespace))
    held = getattr(expression, "_held", None)
    if held is None or held[0] != "scale" or type(held[1]) is not int:
        return None
    factor = held[1]
    term = _held_term(held[2], namespace, names, shape)
    if term is None:
        return None
    shape[1] *= factor
    # 1 * term rebuilds the term with every coefficient multiplied by 1: an equal term.
    return term if factor == 1 else lambda: factor * term()


def _held_elements(members, wrapper, namespace, names):
    """(call texts, variable names used, per member its wrapper's argument or None) for members
    that are variable elements, x[0, 12], or such an element under `wrapper` ("scale" by an int,
    "not"); None for any other members. Adds the names used to `names`."""
    kinds = set(map(type, members))
    if kinds <= {str}:
        # Variable elements alone keep only their texts.
        texts, wrapped = list(members), [None] * len(members)
    elif kinds <= {VariableProxy}:
        texts, wrapped = [member._expr for member in members], [None] * len(members)
    else:
        texts, wrapped = [], []
        for member in members:
            if type(member) is VariableProxy:
                texts.append(member._expr)
                wrapped.append(None)
                continue
            held = getattr(member, "_held", None)
            if held is None or held[0] != wrapper or type(held[-1]) is not VariableProxy:
                return None
            if wrapper == "scale" and type(held[1]) is not int:
                return None
            texts.append(held[-1]._expr)
            wrapped.append(held[1] if wrapper == "scale" else True)
    # Each element's text is a call with constant indexes, x(0,12): checked by the engine.
    used = _element_call_names(texts)
    if used is None:
        return None
    names.update(used)
    return texts, used, wrapped


def _element_variables(texts, used, namespace):
    """The core variables' numbers (as a list) of the elements' call texts over the variables
    `used`, when the namespace's generators are the plain ones of its manager; else the core
    variables themselves, each made by its generator's call."""
    manager = namespace["manager"]
    if all(_plain_generator(namespace[name], name, manager) for name in used):
        # A generator names its element by the call's own text.
        return manager._pb_vars_of(texts), None
    calls = [constant_call(text) for text in texts]
    return None, [namespace[name](*values) for _, name, values in calls]


def _element_terms(texts, used, factors, namespace):
    """[x(0,12).to_pb(), f * (x(1).to_pb()), ...] for the elements, evaluated in the namespace."""
    numbers, variables = _element_variables(texts, used, namespace)
    if numbers is not None:
        terms = [PBVariable(number, text) for number, text in zip(numbers, texts)]
    else:
        terms = [variable.to_pb() for variable in variables]
    return [term if factor is None else factor * term for term, factor in zip(terms, factors)]


class _Items:
    """A term given by its (number, coefficient) items, as to_maxsat gives them."""

    __slots__ = ("items",)

    def __init__(self, items):
        self.items = items

    def to_maxsat(self):
        return self.items


def _plain_objective(namespace, used) -> bool:
    """Whether the objective's text would make plain terms of plain elements, and write no debug
    line that shows them: its items can then be made without the terms."""
    manager = namespace["manager"]
    return (
        namespace["FormulaPB"] is FormulaPB
        and namespace["Sum"] is Sum
        and not _heard(tl.log_level_type.debug)
        and all(_plain_generator(namespace[name], name, manager) for name in used)
    )


def _element_items(texts, used, factors, outer, namespace):
    """What the term of the elements, scaled by `outer`, gives by to_maxsat, made from the numbers."""
    numbers = namespace["manager"]._pb_vars_of(texts)
    if factors.count(None) == len(factors):
        return list(zip(numbers, repeat(outer)))
    return [(number, outer * (1 if factor is None else factor)) for number, factor in zip(numbers, factors)]


def _element_literals(texts, used, negated, namespace):
    """[x(0,12).to_bx(), ~(x(1).to_bx()), ...] for the elements, evaluated in the namespace."""
    numbers, variables = _element_variables(texts, used, namespace)
    if numbers is not None:
        pb2bx = namespace["manager"].pb2bx
        literals = [pb2bx[number] for number in numbers]
    else:
        literals = [variable.to_bx() for variable in variables]
    return [~literal if negation else literal for literal, negation in zip(literals, negated)]


def _plain_generator(generator, name, manager) -> bool:
    return type(generator) is GeneratorVariable and generator.manager is manager and generator.name == name
