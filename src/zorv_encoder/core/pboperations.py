from abc import ABC, abstractmethod

import orbeny.trelle.pbct as pb
from .zorv_logger import *
from .zorv_logger import _heard


class PBBaseOp(ABC):
    def __add__(self, other):
        return AddOp(self, other)

    def __sub__(self, other):
        return AddOp(self, -other)

    @abstractmethod
    def __neg__(self):
        pass

    @abstractmethod
    def __rmul__(self, other):
        pass

    @abstractmethod
    def to_pb(self):
        pass

    @abstractmethod
    def to_maxsat(self):
        pass


class PBVariable(PBBaseOp):
    def __init__(self, pb_var, name, coefficient=1):
        self.pb_var = pb_var
        self.name = name
        self.coefficient = coefficient

    def __neg__(self):
        return PBVariable(self.pb_var, self.name, -self.coefficient)

    def __rmul__(self, other):
        if isinstance(other, PBBaseOp):
            return NotImplemented
        return PBVariable(self.pb_var, self.name, other * self.coefficient)

    def __repr__(self):
        return _text(self)

    def to_pb(self):
        return [pb.WeightedLit(self.pb_var, self.coefficient)]

    def to_maxsat(self):
        return [(self.pb_var, self.coefficient)]


class AddOp(PBBaseOp):
    def __init__(self, first_variable, second_variable):
        self.first_variable = first_variable
        self.second_variable = second_variable

    def __neg__(self):
        return _rebuild(self, _negated_leaf, _negate)

    def __rmul__(self, other):
        if isinstance(other, PBBaseOp):
            return NotImplemented
        return _rebuild(self, *_scalers(other))

    def __repr__(self):
        return _text(self)

    def to_pb(self):
        return _flatten(self, True)

    def to_maxsat(self):
        return _flatten(self, False)


class Sum(PBBaseOp):
    def __init__(self, *variables):
        self.variables = variables

    def __neg__(self):
        return _rebuild(self, _negated_leaf, _negate)

    def __rmul__(self, other):
        if isinstance(other, PBBaseOp):
            return NotImplemented
        return _rebuild(self, *_scalers(other))

    def __repr__(self):
        return _text(self)

    def to_pb(self):
        return _flatten(self, True)

    def to_maxsat(self):
        return _flatten(self, False)


# Terms nest as deep as the additions that built them (a long chain of `+` is a
# left-deep AddOp chain), so every walk below uses an explicit stack: no
# recursion limit, and flattening appends into one list instead of copying
# the partial lists of every level.


class _SumEnd:
    """Stack marker: every member of a Sum is done; its results begin at `start`."""

    __slots__ = ("start",)

    def __init__(self, start):
        self.start = start


class _Text(str):
    """A fixed piece of a term's text, told apart from operands that are plain str."""

    __slots__ = ()


# Stack marker: rebuild an AddOp from the last two results.
_ADD_JOIN = object()
_OPEN_ADD = _Text("AddOp(")
_OPEN_SUM = _Text("Sum(")
_SEP = _Text(", ")
_CLOSE = _Text(")")


def _negate(x):
    return -x


def _negated_leaf(leaf):
    return PBVariable(leaf.pb_var, leaf.name, -leaf.coefficient)


def _scalers(other):
    def scaled_leaf(leaf):
        return PBVariable(leaf.pb_var, leaf.name, other * leaf.coefficient)

    def scaled_other(x):
        return other * x

    return scaled_leaf, scaled_other


def _rebuild(root, on_leaf, on_other):
    """A tree of the same shape as `root`, with every leaf mapped by `on_leaf`
    and every operand that is not a term mapped by `on_other`."""
    built = []
    stack = [root]
    while stack:
        node = stack.pop()
        cls = type(node)
        if cls is PBVariable:
            built.append(on_leaf(node))
        elif cls is AddOp:
            stack += (_ADD_JOIN, node.second_variable, node.first_variable)
        elif node is _ADD_JOIN:
            second = built.pop()
            built[-1] = AddOp(built[-1], second)
        elif cls is Sum:
            stack.append(_SumEnd(len(built)))
            stack.extend(reversed(node.variables))
        elif cls is _SumEnd:
            members = built[node.start:]
            del built[node.start:]
            built.append(Sum(*members))
        else:
            built.append(on_other(node))
    return built[0]


def _flatten(root, weighted_lits, coefficients=None):
    """The items of `root`'s leaves, depth-first, left to right: weighted literals
    (with one debug line per Sum, inner ones first) or (number, coefficient) pairs.
    With a list `coefficients` (and weighted_lits false), the literals of what to_pb gives
    instead, their coefficients appended to that list, and no debug line: a long row then
    makes no engine object per term."""
    items = []
    stack = [root]
    if weighted_lits:
        weighted_lit = pb.WeightedLit
        heard = _heard(tl.log_level_type.debug)
    elif coefficients is not None:
        add_coefficient = coefficients.append
    while stack:
        node = stack.pop()
        cls = type(node)
        if cls is PBVariable:
            if weighted_lits:
                items.append(weighted_lit(node.pb_var, node.coefficient))
            elif coefficients is None:
                items.append((node.pb_var, node.coefficient))
            else:
                items.append(node.pb_var)
                add_coefficient(node.coefficient)
        elif cls is AddOp:
            stack += (node.second_variable, node.first_variable)
        elif cls is Sum:
            if weighted_lits:
                stack.append(_SumEnd(len(items)))
            stack.extend(reversed(node.variables))
        elif cls is _SumEnd:
            if heard:
                log_d("Sum to_pb result " + f"{items[node.start:]}")
        elif coefficients is not None:
            for item in node.to_pb():
                items.append(item.literal)
                add_coefficient(item.coefficient)
        else:
            items.extend(node.to_pb() if weighted_lits else node.to_maxsat())
    return items


def _terms(root):
    """What `root.to_pb()` gives, as two lists: the literals and their coefficients."""
    coefficients = []
    return _flatten(root, False, coefficients), coefficients


def _text(root):
    parts = []
    stack = [root]
    while stack:
        node = stack.pop()
        cls = type(node)
        if cls is _Text:
            parts.append(node)
        elif cls is PBVariable:
            parts.append(f"Var(coeff: {node.coefficient}; pb num: {node.pb_var}; bx var: {node.name})")
        elif cls is AddOp:
            stack += (_CLOSE, node.second_variable, _SEP, node.first_variable, _OPEN_ADD)
        elif cls is Sum:
            stack.append(_CLOSE)
            for k, member in enumerate(reversed(node.variables)):
                if k:
                    stack.append(_SEP)
                stack.append(member)
            stack.append(_OPEN_SUM)
        else:
            parts.append(f"{node}")
    return "".join(parts)
