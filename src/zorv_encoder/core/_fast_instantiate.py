"""Instantiation of dump records in the engine.

The plain path evaluates one comprehension text per record and numbers every literal in Python.
Most records are simpler than that text allows: every literal calls a model variable with index
texts such as i, j + 1 or 2 * i, or is a quoted auxiliary name, and the foralls are ranges or lists
of integers. Such a record is compiled here into flat integer arrays, and the engine writes its
clauses straight into the record's storage, with the very numbers and order that the plain path
gives. Its auxiliary keys, like the model variables' keys, stay numbers in the engine until the
container merges them into its mapping: then the key texts are made, in the plain path's order.

Everything else is declined and takes the plain path unchanged: any other literal text, index
arithmetic beyond factor * name + offset, a warning to give, or a value out of range, in which case
the plain path raises its own error from the same call.
"""

import ast
import functools
import keyword
import re
import typing as tp
from collections.abc import Mapping

import orbeny.trelle as tl
from orbeny.trelle._engine import inst as _engine

from ..encode.variables import Variable
from ._literal_forms import affine, constant_call
from ._names import EVAL_BUILTINS

_INT64_MIN = -(1 << 63)
_INT64_MAX = (1 << 63) - 1

# The two quoted auxiliary forms that the container writes: '_pbct_aux_3', '~_bxpr_aux_0'.
_AUXILIARY = re.compile(r"'(~?)_(pbct|bxpr)_aux_([0-9]+)'")
# A call of a model variable, possibly negated, with index arithmetic inside; anything that could
# read differently inside the comprehension text (comments, quotes, brackets, line breaks, names
# the parser would normalise) fails this test.
_CALL = re.compile(r"-*[A-Za-z_][A-Za-z0-9_]*\([A-Za-z0-9_ +*()\-,]*\)")

_PSEUDO_BOOLEAN, _TSEYTIN = 0, 1


def dump(a) -> tp.Optional["EngineKeys"]:
    """Writes the record's clauses into `a.cnf_stor` as the plain path would and returns the
    mapping of its auxiliary keys; None, with nothing written, when the record is declined."""
    program = _compile(a)
    if program is None:
        return None
    compiled = isinstance(program[1], _engine.compiled_template)
    instantiate = _engine.instantiate_compiled if compiled else _engine.instantiate
    block = instantiate(a.cnf_stor, *program)
    if block is None:
        return None
    # The plain path's evaluation leaves its built-ins entry in the namespace.
    a.eval_state["__builtins__"] = EVAL_BUILTINS
    return EngineKeys(block)


def dump_records(dumper, records) -> "KeyChain":
    """What `dumper.dump(records)` holds, for the container's own merge: the keys of the records
    that the engine writes stay numbers in the engine until the container makes its mapping."""
    partials = []
    for a in records:
        written = dump(a)
        partials.append(dumper._dump_cnf(a) if written is None else written)
    return KeyChain(partials)


class _WrittenMapping(Mapping):
    """A read-only mapping of key text to variable number whose entries become Python objects only
    when they are written into a dict; `write_into(d)` does what `d.update(self)` would."""

    __slots__ = ("_dict",)

    def __init__(self) -> None:
        self._dict = None

    def write_into(self, mapping: tp.Dict[str, int]) -> None:
        if self._dict is None:
            self._write(mapping)
        else:
            mapping.update(self._dict)

    def _write(self, mapping: tp.Dict[str, int]) -> None:
        raise NotImplementedError

    def __entries(self) -> tp.Dict[str, int]:
        if self._dict is None:
            entries = {}
            self._write(entries)
            self._dict = entries
        return self._dict

    def __getitem__(self, key: str) -> int:
        return self.__entries()[key]

    def __iter__(self):
        return iter(self.__entries())

    def __len__(self) -> int:
        return len(self.__entries())

    def __repr__(self) -> str:
        return repr(self.__entries())


class EngineKeys(_WrittenMapping):
    """Keys that the engine holds as numbers: a record's auxiliaries, a model variable's elements."""

    __slots__ = ("_block",)

    def __init__(self, block) -> None:
        super().__init__()
        self._block = block

    def _write(self, mapping: tp.Dict[str, int]) -> None:
        self._block.write_into(mapping)

    def __len__(self) -> int:
        return len(self._block)


def variable_keys(variable) -> tp.Mapping[str, int]:
    """What `variable.map` gives, with the keys made by the engine when they are merged; the map
    itself for anything the engine does not take."""
    if type(variable) is Variable:
        name, start, strides = variable.name, variable.st_shift, variable.shifts
        sizes = list(variable.indexes.values())
        if (
            type(name) is str
            and name.isascii()
            and type(strides) is list
            and len(sizes) == len(strides)
            and all(_int64(number) for number in (start, *sizes, *strides))
        ):
            # Every number between start and the last element's must fit.
            last = start + sum(stride * (size - 1) for size, stride in zip(sizes, strides) if size > 0)
            if min(sizes, default=1) <= 0 or (min(strides, default=0) >= 0 and _int64(last)):
                return EngineKeys(_engine.variable_keys(name, start, sizes, strides))
    return variable.map


class KeyChain(_WrittenMapping):
    """The mapping of one dump call: its records' mappings merged in order, later keys winning,
    as reduce_ex would merge them."""

    __slots__ = ("_parts",)

    def __init__(self, parts) -> None:
        super().__init__()
        self._parts = parts

    def _write(self, mapping: tp.Dict[str, int]) -> None:
        for part in self._parts:
            if isinstance(part, _WrittenMapping):
                part.write_into(mapping)
            else:
                mapping.update(part)


def engine_mapping(partials) -> tp.Optional[tl.var_mapping]:
    """What `tl.var_mapping().set_var_map(reduce_ex(partials))` holds, made in the engine straight
    from the key blocks, with no dict in between; None when there is no key."""
    parts = _key_parts(partials)
    return _engine.merge_keys(parts) if parts else None


def engine_mapping_after(previous, head, tail) -> tp.Optional[tl.var_mapping]:
    """engine_mapping(head + tail), the keys of `head` copied from `previous` (made by this call
    before with the very same `head` partials, or None) when they can be."""
    head_parts = _key_parts(head)
    parts = head_parts + _key_parts(tail)
    return _engine.merge_keys_after(previous, parts, len(head_parts)) if parts else None


def largest_number(partials) -> tp.Optional[int]:
    """max(reduce_ex(partials).values()) read from the key blocks; None when there is no key."""
    return _engine.largest_number(_key_parts(partials))


def _key_parts(partials) -> list:
    """The engine's parts of mappings merged in order, none of them empty: the blocks of
    engine-held keys, and a var_mapping for keys given in a dict."""
    parts = []
    for partial in partials:
        if type(partial) is KeyChain:
            parts += _key_parts(partial._parts)
        elif not len(partial):
            continue
        elif type(partial) is EngineKeys:
            parts.append(partial._block)
        else:
            given = tl.var_mapping()
            given.set_var_map(partial if type(partial) is dict else dict(partial))
            parts.append(given)
    return parts


def _int64(value) -> bool:
    return type(value) is int and _INT64_MIN <= value <= _INT64_MAX


@functools.lru_cache(maxsize=1 << 16)
def _parse_literal(text: str):
    """("aux", negated, kind, counter) for a quoted auxiliary name, ("var", negated, name,
    ((forall name or None, factor, offset), ...)) for a call of a model variable with affine
    index texts, None for anything else."""
    match = _AUXILIARY.fullmatch(text)
    if match:
        counter = int(match.group(3))
        if counter > _INT64_MAX:
            return None
        kind = _PSEUDO_BOOLEAN if match.group(2) == "pbct" else _TSEYTIN
        return "aux", bool(match.group(1)), kind, counter
    if not text.isascii() or not _CALL.fullmatch(text):
        return None
    call = constant_call(text)
    if call is not None:
        negated, name, values = call
        if not all(_int64(value) for value in values):
            return None
        return "var", negated, name, tuple((None, 0, value) for value in values)
    try:
        node = ast.parse(text, mode="eval").body
    except SyntaxError:
        return None
    negated = False
    while isinstance(node, ast.UnaryOp) and isinstance(node.op, ast.USub):
        negated = not negated
        node = node.operand
    if not isinstance(node, ast.Call) or not isinstance(node.func, ast.Name) or node.keywords:
        return None
    indexes = []
    for argument in node.args:
        form = affine(argument)
        if form is None or not (_int64(form[1]) and _int64(form[2])):
            return None
        indexes.append(form)
    return "var", negated, node.func.id, tuple(indexes)


def _forall_values(values):
    """(start, step, length, None) for a range, (0, 0, 0, values) for a list or tuple of integers,
    None for anything whose text might not evaluate back to the same integers."""
    if type(values) is range:
        try:
            length = len(values)
        except OverflowError:
            return None
        ends = (values[0], values[-1]) if length else ()
        if not all(_int64(value) for value in (values.start, values.step, *ends)):
            return None
        return values.start, values.step, length, None
    if type(values) in (list, tuple) and all(_int64(value) for value in values):
        return 0, 0, 0, list(values)
    return None


def _compile(a):
    """The engine's arguments for record `a` (all but the mapping), or None to decline it."""
    if type(a.cnf_stor) is not tl.wcnf_storage or type(a.eval_state) is not dict:
        return None
    numbers = (a.num_formula, a.init_shift_variable, a.shift_pb_variable, a.shift_bx_variable)
    if not all(_int64(number) for number in numbers):
        return None
    foralls = _foralls(a.foralls, a.eval_state)
    if foralls is None:
        return None
    slots, value_sets = foralls
    template, weights = a.template_constraint, a.weights
    if type(template) not in (list, tuple):
        return None
    if weights is not None and (type(weights) not in (list, tuple) or len(weights) < len(template)):
        return None
    block = a.shift_pb_variable + a.shift_bx_variable
    if not _int64(block):
        return None
    program = _engine_program(template, weights, slots, a)
    if program is not None:
        return value_sets, program, a.init_shift_variable, block, a.num_formula
    builder = _ProgramBuilder(a.eval_state, slots, a.shift_pb_variable, a.shift_bx_variable)
    for position, clause in enumerate(template):
        weight = 0 if weights is None else weights[position]
        if not (_int64(weight) and weight >= 0):
            return None
        # The plain path leaves out a soft clause of weight 0, its auxiliaries' keys with it,
        # after its literals have been evaluated.
        written = weights is None or weight != 0
        if type(clause) not in (list, tuple) or not builder.add_clause(clause, weight, written):
            return None
    return (
        value_sets,
        builder.clauses,
        builder.literals,
        builder.terms,
        a.init_shift_variable,
        block,
        a.num_formula,
        builder.key_slots(),
    )


def _engine_program(template, weights, slots, a):
    """The engine's compilation of the template, the program _ProgramBuilder would give, or None
    for a template it leaves to the builder."""
    if weights is not None:
        weights = list(weights[: len(template)])
    try:
        return _engine.compile_template(
            template, weights, slots, _variable_shapes(a.eval_state), a.shift_pb_variable, a.shift_bx_variable
        )
    except TypeError:
        return None  # a weight that is no 64-bit integer


def _variable_shapes(namespace):
    """{name: (first number, sizes, strides)} of the model variables in `namespace` that the
    engine can number."""
    shapes = {}
    for name, variable in namespace.items():
        if type(variable) is Variable and type(name) is str:
            sizes = list(variable.indexes.values())
            strides = variable.shifts
            if len(sizes) == len(strides) and all(_int64(n) for n in (variable.st_shift, *sizes, *strides)):
                shapes[name] = (variable.st_shift, sizes, list(strides))
    return shapes


def template_fits(template, namespace, foralls, bounds, calls=None) -> bool:
    """True when the engine finds every literal of the container's template, and every variable
    call among `calls` (a list of texts), sure to instantiate (the container's own checks would
    pass); False when it is unsure. `bounds` gives each forall's lowest and highest value, or is
    None when the record has no instance."""
    sizes = {name: shape[1] for name, shape in _variable_shapes(namespace).items()}
    ends = {}
    for name in foralls:
        end = None if bounds is None else bounds[name]
        if end is not None and not (_int64(end[0]) and _int64(end[1])):
            return False
        ends[name] = end
    return _engine.template_fits(template, sizes, ends, bounds is not None, calls)


def _foralls(foralls, namespace):
    """({forall name: its position}, engine value_sets), or None when a forall could read otherwise in
    the comprehension text than its values say."""
    if type(foralls) is not dict:
        return None
    slots, value_sets = {}, []
    for name, values in foralls.items():
        if (
            type(name) is not str
            or not name.isascii()
            or not name.isidentifier()
            or keyword.iskeyword(name)
            or name in namespace
            or name == "range"
        ):
            return None
        if type(values) is range and "range" in namespace:
            return None
        value_set = _forall_values(values)
        if value_set is None:
            return None
        slots[name] = len(value_sets)
        value_sets.append(value_set)
    return slots, value_sets


class _ProgramBuilder:
    """Collects the flat arrays of the engine's program, clause by clause."""

    def __init__(self, namespace, slots, shift_pb_variable: int, shift_bx_variable: int) -> None:
        self.namespace = namespace
        self.slots = slots
        self.shift_pb_variable = shift_pb_variable
        self.shift_bx_variable = shift_bx_variable
        self.clauses = []
        self.literals = []
        self.terms = []
        # (kind, counter) -> place in the instance's block, in the order of first occurrence.
        self.auxiliaries = {}
        # name -> ((size, stride) per index, first number), or None for a name declined
        self.variables = {}
        # literal text -> its program entries, for clauses that are written and for those not
        self.compiled = {}
        self.compiled_unwritten = {}

    def add_clause(self, clause, weight: int, written: bool) -> bool:
        first = len(self.literals) // 5
        # A literal text compiles to the same entry wherever it stands in the record.
        compiled = self.compiled if written else self.compiled_unwritten
        for text in clause:
            if type(text) is not str:
                return False
            entry = compiled.get(text)
            if entry is None:
                entry = self.__compile_literal(text, written)
                if entry is None:
                    return False
                compiled[text] = entry
            self.literals += entry
        self.clauses += (int(written), weight, first, len(self.literals) // 5 - first)
        return True

    def __compile_literal(self, text: str, written: bool) -> tp.Optional[tp.Tuple[int, ...]]:
        """The literal's five program entries (none for an unwritten auxiliary), or None."""
        literal = _parse_literal(text)
        if literal is None:
            return None
        if literal[0] == "var":
            return self.__add_call(*literal[1:])
        if written:
            return self.__add_auxiliary(*literal[1:])
        # only evaluated: a string, unnumbered
        return ()

    def key_slots(self) -> tp.List[int]:
        flat = []
        for (kind, counter), place in self.auxiliaries.items():
            flat += (kind, counter, place)
        return flat

    def __add_auxiliary(self, negated: bool, kind: int, counter: int) -> tp.Optional[tp.Tuple[int, ...]]:
        if kind == _PSEUDO_BOOLEAN:
            place = counter
        elif counter >= self.shift_bx_variable:
            # Counters from the Tseytin count on draw a warning on the plain path.
            return None
        else:
            place = self.shift_pb_variable + counter
        if not _int64(place):
            return None
        self.auxiliaries.setdefault((kind, counter), place)
        return (int(negated), 1, place, 0, 0)

    def __add_call(self, negated: bool, name: str, indexes) -> tp.Optional[tp.Tuple[int, ...]]:
        variable = self.__variable(name)
        if variable is None:
            return None
        dims, start = variable
        if len(dims) != len(indexes):
            return None
        terms = []
        for (forall, factor, offset), (size, stride) in zip(indexes, dims):
            if forall is None:
                slot = -1
            elif forall in self.slots:
                slot = self.slots[forall]
            else:
                return None
            terms += (slot, factor, offset, size, stride)
        first = len(self.terms) // 5
        self.terms += terms
        return (int(negated), 0, start, first, len(indexes))

    def __variable(self, name: str):
        if name not in self.variables:
            variable = self.namespace.get(name)
            described = None
            if type(variable) is Variable:
                sizes = list(variable.indexes.values())
                dims = tuple(zip(sizes, variable.shifts))
                numbers = [variable.st_shift, *sizes, *variable.shifts]
                if len(dims) == len(sizes) == len(variable.shifts) and all(_int64(n) for n in numbers):
                    described = dims, variable.st_shift
            self.variables[name] = described
        return self.variables[name]
