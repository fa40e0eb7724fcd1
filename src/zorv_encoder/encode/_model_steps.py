"""The model's steps that its module does not bind: that module binds only its fixed names."""

import typing as tp
from itertools import islice
from numbers import Integral

from ..core._work import Refused
from ..core.formula_container import FormulaContainer
from ..core.zorv_logger import log_e
from .._exceptions import FormulaError
from .expressions import One, Zero


# The largest variable number: solvers read literals of 32 bits.
_MAX_VARIABLE = (1 << 31) - 1


def cells_fault(name: str, sizes: tp.List[int], first: int) -> tp.Optional[str]:
    """Why variable `name` of these sizes, its cells numbered from `first`, cannot be declared,
    worded as the formula encoder words it; None when it can."""
    count = 1
    for size in reversed(sizes):
        count *= size
        if count > _MAX_VARIABLE:
            return "variable " + name + " has too many cells for variable numbers"
    if first - 1 + count > _MAX_VARIABLE:
        return ("variable " + name + " does not fit: the declared cells would take more than "
                + str(_MAX_VARIABLE) + " variable numbers")
    return None


def check_weight(weight) -> None:
    """Refuses, logged, a soft weight past 64 bits, as a coefficient past them is refused."""
    if isinstance(weight, Integral) and not -(1 << 63) <= weight < 1 << 63:
        msg = "Soft weight " + str(weight) + " does not fit in 64 bits"
        log_e(msg)
        raise OverflowError(msg)


def check_forall_names(foralls, declared, expression) -> None:
    """Refuses, logged, a forall that the texts would read as something else: one named like a
    declared variable, or a name that is no index name (a name the host reads as another under
    NFKC, a mathematical x for x); and, as the formula encoder's reader does, more foralls than the
    loops it takes, each forall being a loop of the text that instantiates `expression`."""
    from ..core._names import name_fault  # loaded at first use, as the other checks

    for name in foralls:
        msg = None
        if name in declared:
            msg = "forall " + name + " has the name of the declared variable " + name
        elif isinstance(name, str) and name.isidentifier():
            fault = name_fault(name, identifier=True)
            msg = None if fault is None else "Forall name " + fault
        if msg is not None:
            log_e(msg)
            raise ValueError(msg)
    if len(foralls) > _MOST_LOOPS:
        from orbeny.trelle._engine.inst import constraint_subject

        copied = logged(FormulaContainer.copied_foralls, foralls)
        text = "Foralls: " + str(copied)
        # Where the first forall too many is named, after its opening quote.
        position = len("Foralls: " + str(dict(islice(copied.items(), _MOST_LOOPS)))) + 2
        msg = ("cannot read the foralls " + constraint_subject(text, "")[len("constraint "):] + " of "
               + constraint_subject(str(expression), "") + ": nesting too deep (more than " + str(_MOST_LOOPS)
               + " levels) at position " + str(position))
        log_e(msg)
        raise ValueError(msg)


# The loops, foralls included, and the nesting that the formula encoder's reader takes.
_MOST_LOOPS = 200


def is_constant(expression) -> bool:
    """Whether `expression` is one of the two shared Boolean constants."""
    return expression is One or expression is Zero


def logged(call, *args):
    """call(*args), whose error is logged first like every other error of the model (a refused
    work once it is named, see raise_named)."""
    try:
        return call(*args)
    except Exception as error:
        if not isinstance(error, Refused):
            log_e(str(error))
        raise


def begin_evaluation(rows, manager) -> None:
    """Cleans up first where the last evaluation's clean-up ran out of memory."""
    if manager.unclean:
        rows.drop()
        manager.reset()
        manager.unclean = False


def end_evaluation(rows, manager) -> None:
    """Every evaluation starts from a clean numbering, also after a failed one. Memory that runs out
    here does so once the constraint is in the model or out of it for good: that is not the caller's
    failure, and the next evaluation cleans up first."""
    manager.unclean = True
    try:
        rows.drop()
        manager.reset()
    except MemoryError:
        return
    manager.unclean = False


def raise_named(error: BaseException, expression, foralls=None) -> None:
    """For the refusal of a constraint's work, raises instead the ValueError that names the
    constraint, `expression`, by its text and its foralls, logged; for a bare MemoryError, one that
    names it too and what the process can get once the evaluation's objects are gone; returns for
    any other error."""
    # The interpreter's gives no text, the engine's only the C++ one.
    if type(error) is MemoryError and error.args in ((), ("std::bad_alloc",)):
        _raise_out_of_memory(error, expression, foralls)
    if type(error) is OverflowError and str(error).startswith(_CLAUSE_CAP):
        # The encoder's refusal of a row, which knows no constraint.
        from orbeny.trelle._engine import inst

        named = OverflowError(inst.constraint_subject(str(expression), _shown(foralls)) + ": " + str(error))
    elif isinstance(error, Refused):
        if foralls and not error.foralls:
            # Refused while its text was evaluated, before the container took the foralls.
            error.foralls = _shown(foralls)
        named = error.named(str(expression))
    else:
        return
    log_e(str(named))
    raise named from None


_CLAUSE_CAP = "pseudo-Boolean encoding needs more than max_clauses_per_constraint"


def _shown(foralls) -> str:
    """The foralls as a refusal shows them; "" for none, or for foralls the container refuses."""
    if not foralls:
        return ""
    try:
        return str(FormulaContainer.copied_foralls(foralls))
    except (TypeError, ValueError):
        return ""


def _raise_out_of_memory(error: MemoryError, expression, foralls) -> None:
    import traceback

    from orbeny.trelle._engine import inst

    # The frames of the evaluation hold its objects: gone, what is left is what the process can get.
    traceback.clear_frames(error.__traceback__)
    error.__traceback__ = None
    room = inst.limit_text(*inst.memory_limit())
    # Its text is joined only now, with that memory back.
    msg = (inst.constraint_subject(str(expression), _shown(foralls)) + ": ran out of memory while it was evaluated and"
           " its clauses prepared, before its work could be planned, with " + room + " once its objects are freed")
    log_e(msg)
    raise MemoryError(msg) from None


def refuse_unsafe(expression, namespace, foralls=()) -> None:
    """Refuses, logged, a text that holds anything beyond what the package's own texts hold,
    before any of it runs (see text_refusal)."""
    from ..core._evaluation import text_refusal  # loaded at first use, as in evaluate

    msg = text_refusal(str(expression), namespace, foralls)
    if msg is not None:
        log_e(msg)
        raise ValueError(msg)


def refuse_unsafe_target(namespace, target) -> None:
    """Refuses, when it is given, a target whose text its builds would refuse (see evaluate)."""
    from ..core import _evaluation

    # A build evaluates a held target without its text; one it does not hold is checked there too.
    if not _evaluation.held_term(target, namespace):
        refuse_unsafe(target, namespace)


def foralls_text(foralls: tp.Dict[str, tp.Any]) -> str:
    """The foralls as the formula encoder reads them: ranges as they are, every other value as
    the plain ints it stands for (a numpy array or integer, a Boolean, an enum member, a set)."""
    return "Foralls: " + str(logged(FormulaContainer.copied_foralls, foralls))


class _Names(dict):
    """The names a text of the model reads, each taken from the model's tables when first read
    (eval reads a missing global through __missing__): an evaluation costs the names it reads.
    Iterating it gives only the names read so far."""

    def __init__(self, tables) -> None:
        super().__init__()
        self.tables = tables

    def __missing__(self, name):
        for table in self.tables:
            if name in table:
                value = self[name] = table[name]
                return value
        raise KeyError(name)

    def __contains__(self, name) -> bool:
        return dict.__contains__(self, name) or any(name in table for table in self.tables)

    def get(self, name, default=None):
        return self[name] if name in self else default


def model_namespace(model) -> tp.Dict[str, tp.Any]:
    """The names a text of `model` reads: its variables', then its indexes', then the texts' own,
    each hiding those after it."""
    return _Names((model._manager.name2genvar, model._indexes, model._formulas_dir))


def evaluate(namespace: tp.Dict[str, tp.Any], expression, foralls=(), given=()):
    """The evaluation of an expression's text in the model's namespace, with only the built-ins that
    texts use. A text that is evaluated is checked first, and the caller's own texts in `given`
    (of which it is made) before it, so that a refusal shows what the caller wrote. The host's
    compiler limits how deep a text may nest: past it the error says what to write instead."""
    # Loaded at first use, so that importing the package loads what it always did.
    from ..core import _evaluation

    namespace["__builtins__"] = _evaluation.BOUNDED_BUILTINS
    held = _evaluation.held(expression, namespace)
    if held is not None:
        return held()
    for text in (*given, expression):
        refuse_unsafe(text, namespace, foralls)
    limit = None
    try:
        code = _evaluation.code(str(expression), bounded=True)
    except RecursionError:
        limit = "the host compiler's recursion limit"
    except SyntaxError as error:
        if "too many nested parentheses" not in str(error):
            raise
        limit = "the host parser's limit of 200 nested parentheses and brackets"
    if limit is not None:
        msg = ("The expression nests deeper than " + limit + ": write a long sum with SumIt and a long"
               " conjunction, disjunction or parity with AndIt, OrIt or XorIt instead of chaining"
               " +, &, |, ^ or ~")
        log_e(msg)
        raise FormulaError(msg)
    _evaluation.start_bounded()
    return eval(code, namespace, namespace)


def _name_tables(attributes) -> tuple:
    """The model's dicts and list of names, among its `attributes`: an entry per declaration, only
    ever added by a call (create_variables checks first that its name is new), in order."""
    return attributes["_variables"], attributes["_manager"].name2genvar, attributes["_indexes"], attributes["_indexes2"]


def saved(model) -> tuple:
    """What restore needs to bring `model` back to this moment: its attributes, the lengths of its
    tables of names (what a call adds to them goes at their ends), the checkpoint of its container,
    which holds a few numbers rather than the records, and what its manager was handed."""
    container, trell = model._formula_container, model._trell_manager
    model._rows.checkpoint()
    handed = (trell.get_input_cnf_storage(), trell.get_witness_interpreter()) if _hands_over(trell) else None
    attributes = model.__dict__.copy()
    return (attributes, [len(held) for held in _name_tables(attributes)],
            None if container is None else container.checkpoint(), handed)


def restore(model, state: tuple) -> None:
    """Brings `model` back to what saved() gave `state` for, after a call that raised anywhere,
    also in this package's own clean-up or logging lines. Each step may run again: stopped
    anywhere (a second Ctrl-C), restore runs once more from the start and ends where it would."""
    attributes, lengths, checkpoint, handed = state
    model._rows.rollback()
    container = attributes["_formula_container"]
    if container is not None:
        container.rollback(checkpoint)
        if container.target_token() is not checkpoint[-1]:
            # A failed build replaced the target's clauses: the storage no longer holds the last build.
            attributes["_built"] = False
    # In one step, then what the call added goes: no reader ever finds the model without them.
    model.__dict__.update(attributes)
    for key in model.__dict__.keys() - attributes.keys():
        model.__dict__.pop(key, None)
    tables = _name_tables(attributes)
    # A name enters the set of used names after its other tables (see create_variables): the
    # names still there past their length are all it may hold of the call's.
    for table, length in zip(tables[:2], lengths):
        attributes["_used_vars"].difference_update(list(islice(reversed(table), len(table) - length)))
    for table, length in zip(tables, lengths):
        if isinstance(table, list):
            del table[length:]
        else:
            while len(table) > length:
                table.popitem()
    # What the evaluation left in the manager goes before the next one.
    model._manager.unclean = True
    if handed is not None:
        model._trell_manager.set_input_cnf_storage(handed[0])
        model._trell_manager.set_witness_interpreter(handed[1])


def _hands_over(trell) -> bool:
    return hasattr(trell, "get_input_cnf_storage") and hasattr(trell, "get_witness_interpreter")
