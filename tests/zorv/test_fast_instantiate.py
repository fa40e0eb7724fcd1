"""The engine's instantiation of dump records against the plain path: the same clauses, weights,
order, mapping, warnings and errors, whichever path a record takes."""

import contextlib
import os
import subprocess
import sys

import numpy as np
import pytest
from hypothesis import HealthCheck, example, given, settings
from hypothesis import strategies as st

import orbeny.trelle as tl
from orbeny.trelle import bxpr as bx
from zorv_encoder.core import _fast_instantiate
from zorv_encoder.core.dumper import DumpArgs, Dumper, One2OneDumper, reduce_ex
from zorv_encoder.core.formula_container import FormulaContainer
from zorv_encoder.encode.variables import Index, Variable

DECLARED = {"dummy_var": {"d": 1}, "x": {"a": 6, "b": 7}, "y": {"a": 12}, "z": {}, "w": {"a": 8, "b": 8, "c": 9}}


def declared_variables():
    variables, start = {}, 0
    for name, sizes in DECLARED.items():
        variables[name] = Variable(name, dict(sizes), start)
        count = 1
        for size in sizes.values():
            count *= size
        start += count
    return variables


VARIABLES = declared_variables()


def record(template, foralls, weights=None, formula=3, start=200, pb=2, bx=3, storage=True):
    return DumpArgs(
        template_constraint=template,
        weights=weights,
        foralls=dict(foralls),
        num_formula=formula,
        init_shift_variable=start,
        shift_pb_variable=pb,
        shift_bx_variable=bx,
        offset_shift_for_formula=0,
        eval_state={name: variable.copy() for name, variable in VARIABLES.items()},
        cnf_stor=tl.wcnf_storage() if storage else None,
    )


# What the container's merged mapping may already hold when a dump's mapping is merged into it.
EARLIER = {"x[0,0]": 1, "_bxpr_aux[1,0,0]": -5, "_pbct_aux[0,1,1]": 66}


def outcome(records, sent_logs):
    """Everything one dump of `records` (a record or a list of them) shows: its mapping, read and
    merged into EARLIER as the container merges it, or its error; the stored clauses with their
    weights, the warnings and the namespaces' names."""
    records = records if isinstance(records, list) else [records]
    del sent_logs[:]
    try:
        mapping = One2OneDumper.dump(records)
        merged = dict(EARLIER)
        if hasattr(mapping, "write_into"):
            mapping.write_into(merged)
        else:
            merged.update(mapping)
        result = ("mapping", list(mapping.items()), list(merged.items()))
    except Exception as error:  # noqa: BLE001  (the error itself is compared)
        result = ("error", type(error), str(error))
    stored = [
        None if args.cnf_stor is None else list(zip(args.cnf_stor.get_clauses(), args.cnf_stor.get_clause_weights()))
        for args in records
    ]
    warnings = [message for message, level in sent_logs if level == tl.log_level_type.warning]
    return result, stored, warnings, [sorted(args.eval_state) for args in records]


@contextlib.contextmanager
def plain_path():
    """The engine path is turned off inside."""
    with pytest.MonkeyPatch.context() as patch:
        patch.setattr(_fast_instantiate, "dump", lambda a: None)
        yield


@pytest.fixture
def plain_calls(monkeypatch):
    """Records every call of the plain path's clause emission."""
    calls = []
    original = Dumper._Dumper__print_all_formula

    def spy(*args):
        calls.append(args)
        return original(*args)

    monkeypatch.setattr(Dumper, "_Dumper__print_all_formula", staticmethod(spy))
    return calls


def both_paths(make, sent_logs):
    fast = outcome(make(), sent_logs)
    with plain_path():
        plain = outcome(make(), sent_logs)
    return fast, plain


# ---- random records


FORALL_NAMES = ["i", "j", "k"]


@st.composite
def index_texts(draw, foralls):
    """An index as the expression layer writes it: a constant, or a forall name with offsets and
    factors applied through Index's operators (i, i + 1, i - 1, 2 * i, 2 * (i + 1), ...)."""
    if not foralls or draw(st.integers(0, 4)) == 0:
        return str(draw(st.sampled_from([0, 1, 2, 3, 4] * 4 + [-1])))
    index = Index(draw(st.sampled_from(foralls)))
    for _ in range(draw(st.integers(0, 2))):
        operation = draw(st.sampled_from(["+", "-", "*"]))
        shift = draw(st.sampled_from([1, 2, 0] * 3 + [-1]))
        index = index + shift if operation == "+" else index - shift if operation == "-" else shift * index
    return str(index)


@st.composite
def literal_texts(draw, foralls, bx):
    kind = draw(st.integers(0, 9))
    if kind < 6:
        name = draw(st.sampled_from(["x", "y", "z", "w"]))
        # now and then one index too many
        count = len(DECLARED[name]) + draw(st.sampled_from([0] * 20 + [1]))
        call = f"{name}({','.join(draw(index_texts(foralls)) for _ in range(count))})"
        return "-" + call if draw(st.booleans()) else call
    prefix = "_pbct_aux" if kind < 8 else "_bxpr_aux"
    # a Tseytin counter past the count draws a warning on the plain path
    counter = draw(st.integers(0, 3) if prefix == "_pbct_aux" else st.sampled_from([*range(bx + 1)] * 5 + [bx + 1]))
    return "'" + ("~" if draw(st.booleans()) else "") + f"{prefix}_{counter}'"


@st.composite
def forall_values(draw):
    form = draw(st.sampled_from(["range", "list", "tuple"]))
    if form == "range":
        start = draw(st.integers(0, 2))
        step = draw(st.sampled_from([1, 1, 2, -1]))
        return range(start, start + step * draw(st.integers(0, 3)), step)
    values = draw(st.lists(st.integers(0, 3), min_size=draw(st.sampled_from([0, 1, 1, 1])), max_size=3))
    return list(values) if form == "list" else tuple(values)


@st.composite
def records(draw):
    names = draw(st.lists(st.sampled_from(FORALL_NAMES), unique=True, max_size=3))
    foralls = {name: draw(forall_values()) for name in names}
    pb, bx = draw(st.integers(0, 3)), draw(st.integers(0, 3))
    clause = st.lists(literal_texts(names, bx), max_size=4)
    template = draw(st.lists(clause, min_size=draw(st.sampled_from([0, 1, 1, 1])), max_size=5))
    if template and draw(st.booleans()):
        # repeated literals within a clause and across clauses
        template.append(template[0] + template[0][:1])
    weights = None
    if draw(st.booleans()):
        weights = draw(st.lists(st.integers(0, 3), min_size=len(template), max_size=len(template)))
    formula, start = draw(st.integers(0, 5)), draw(st.integers(60, 90))
    make = lambda: record(template, foralls, weights, formula, start, pb, bx)  # noqa: E731
    make.__doc__ = repr((template, foralls, weights, formula, start, pb, bx))
    return make


# sent_logs is cleared by every outcome()
@settings(max_examples=150, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(records())
def test_random_records_dump_alike_on_both_paths(sent_logs, make):
    fast, plain = both_paths(make, sent_logs)
    assert fast == plain, make.__doc__


@st.composite
def record_lists(draw):
    """Two or three records for one dump call, some sharing a formula ordinal and so their keys."""
    makers = [draw(records()) for _ in range(draw(st.integers(2, 3)))]
    formulas = [draw(st.integers(0, 1)) for _ in makers]

    def make():
        made = [maker() for maker in makers]
        for args, formula in zip(made, formulas):
            args.num_formula = formula
        return made

    make.__doc__ = repr([(maker.__doc__, formula) for maker, formula in zip(makers, formulas)])
    return make


@settings(max_examples=60, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(record_lists())
def test_random_record_lists_dump_alike_on_both_paths(sent_logs, make):
    fast, plain = both_paths(make, sent_logs)
    assert fast == plain, make.__doc__


# ---- which path a record takes


SIMPLE = [
    ([["x(i,j)", "-x(i,j + 1)"], ["'~_bxpr_aux_1'", "x(i,j + 1)"]], {"i": range(0, 2), "j": [0]}),
    ([["y(2 * i)", "'_pbct_aux_0'", "-y(2 * (i + 1))"]], {"i": (0, 1)}),
    ([["w(i - 1,j,k)", "-z()"]], {"i": range(1, 3), "j": [1, 0], "k": range(2, -1, -1)}),
    ([["x(0,1)"]], {}),
    ([], {"i": range(5)}),
]

NOT_SIMPLE = [
    # index arithmetic in two names, or beyond factor * name + offset
    ([["y(i + j)"]], {"i": range(2), "j": range(2)}),
    ([["y(i // 2)"]], {"i": range(4)}),
    # a name that is no forall, a forall that hides a variable, a name of no variable
    ([["y(k)"]], {"i": range(2)}),
    ([["y(0)"]], {"y": range(2)}),
    ([["v(0)"]], {}),
    # a literal text that is neither form, an auxiliary that draws a warning
    ([["'foo'"]], {}),
    ([["'_bxpr_aux_5'"]], {"i": range(2)}),
    ([["'_bxpr_aux_3'"]], {"i": range(2)}),  # the count itself
    # values whose text does not evaluate back to them
    ([["y(i)"]], {"i": np.arange(3)}),
    ([["y(i)"]], {"i": [True, False]}),
    # a wrong number of indexes, a value out of range
    ([["x(i)"]], {"i": range(2)}),
    ([["y(i + 11)"]], {"i": range(2)}),
]


@pytest.mark.parametrize("template, foralls", SIMPLE)
def test_simple_records_skip_the_plain_path(template, foralls, sent_logs, plain_calls):
    fast, plain = both_paths(lambda: record(template, foralls), sent_logs)
    assert fast == plain
    assert len(plain_calls) == 1  # the plain run only


@pytest.mark.parametrize("template, foralls", NOT_SIMPLE)
def test_other_records_take_the_plain_path(template, foralls, sent_logs, plain_calls):
    fast, plain = both_paths(lambda: record(template, foralls), sent_logs)
    assert fast == plain
    if fast[0][0] == "mapping":
        assert len(plain_calls) == 2


# The engine's reader of literal texts takes the common spellings and leaves every other one to
# the host's parser; what it takes, it must compile as _ProgramBuilder does.
READ_BY_ENGINE = ["x(i,j + 1)", "--y(2 * (i + 1))", "-w(0 * i,i - -1,+j)", "z()", "y( i )", "y(i*2-1)", "y(-1 + 2)",
                  "'_pbct_aux_007'", "'~_bxpr_aux_2'", "x(9223372036854775807 - 9223372036854775800,i)",
                  "y(99999999999999999999 - 99999999999999999998)", "dummy_var(0)",
                  "y(4951760157141521099596496895 + 1 - 4951760157141521099596496895)"]  # 2^92 on the way: the limit
LEFT_TO_THE_HOST = ["y(07)", "y(1_0)", "y(0x1)", "y(i,)", "y(True)", "y(i ** 1)", "y(i + j)", "if(0)", "y((i)",
                    "y(i)(0)", "'_pbct_aux_'", "'_pbct_aux_4", "'~_bxpr_aux_3'", "'_pbct_aux_1x'",
                    # past 64 bits, or past 128 bits where a wrapped value would read as 0
                    "y(4611686018427387904 * 4)", "y(i * 4611686018427387904 * 4)",
                    "y(i * 18446744073709551616 * 18446744073709551616)", "y(340282366920938463463374607431768211456)"]


@pytest.mark.parametrize("text", READ_BY_ENGINE + LEFT_TO_THE_HOST)
@pytest.mark.parametrize("weights", [None, [0, 2]])
def test_engine_compiles_templates_as_the_builder_does(text, weights):
    from orbeny.trelle._engine import inst as engine

    namespace = {name: variable.copy() for name, variable in VARIABLES.items()}
    slots = {"i": 0, "j": 1}
    template = [[text, "'_bxpr_aux_0'"], [text, "x(i,j + 1)"]]
    program = engine.compile_template(template, weights, slots, _fast_instantiate._variable_shapes(namespace), 2, 3)
    builder = _fast_instantiate._ProgramBuilder(namespace, slots, 2, 3)
    built = all(builder.add_clause(clause, w, weights is None or w != 0) for clause, w in zip(template, weights or [0, 0]))
    if text in LEFT_TO_THE_HOST:
        assert program is None
    else:
        assert built and program.arrays() == (builder.clauses, builder.literals, builder.terms, builder.key_slots())


@pytest.mark.parametrize("template, foralls, fits", [
    ([["x(i,j + 1)", "'_bxpr_aux_0'", "-z()"]], {"i": range(6), "j": range(6)}, True),
    ([["y(2 * i - 1)"]], {"i": range(1, 7)}, True),
    ([["y(i + 99)"]], {"i": [], "j": range(3)}, True),  # no instance: no index value to check
    # what the container refuses: an index past either end, a wrong index count, a name that is no
    # forall, no variable, or a forall hiding the variable; and what the engine does not read
    ([["x(i,j + 1)"]], {"i": range(6), "j": range(7)}, False),
    ([["y(2 * i - 1)"]], {"i": [3, 0]}, False),
    ([["x(i)"]], {"i": range(2)}, False),
    ([["y(k)"]], {"i": range(2)}, False),
    ([["y(k)"]], {"i": []}, False),
    ([["v(0)"]], {}, False),
    ([["y(0)"]], {"y": range(2)}, False),
    ([["y(i // 2)"]], {"i": range(4)}, False),
])
def test_engine_intake_check_passes_only_templates_sure_to_instantiate(template, foralls, fits):
    namespace = {name: variable.copy() for name, variable in VARIABLES.items()}
    bounds = None
    if all(len(values) for values in foralls.values()):
        bounds = {name: (min(values), max(values)) for name, values in foralls.items()}
    assert _fast_instantiate.template_fits(template, namespace, foralls, bounds) is fits


# Calls or texts it cannot read (no str, a lone surrogate) are no fit, and raise nothing.
@pytest.mark.parametrize("template, calls", [([["y(0)"]], [5]), ([["y(0)"]], ["y(\ud800)"]), ([["\ud800"]], None)])
def test_engine_intake_check_refuses_texts_it_cannot_read(template, calls):
    namespace = {name: variable.copy() for name, variable in VARIABLES.items()}
    assert _fast_instantiate.template_fits([["y(0)"]], namespace, {}, {}, ["y(0)"]) is True
    assert _fast_instantiate.template_fits(template, namespace, {}, {}, calls) is False


def test_deep_index_texts_are_left_to_the_host_not_read_on_the_native_stack(small_stack):
    out = small_stack("""
        import numpy as np
        from orbeny.trelle._engine import inst

        def main():
            for k in (100, 101, 100000):
                for text in ("y(" + "(" * k + "0" + ")" * k + ")", "y(" + "-" * k + "0)"):
                    print(inst.template_fits([[text]], {"y": np.array([7])}, {}, True), end=" ")
        """)
    assert out == "True True False False False False "


def test_worked_example_and_weights(sent_logs):
    template = [["x(i,j)", "-x(i,j + 1)"], ["'~_bxpr_aux_1'", "x(i,j + 1)", "'_pbct_aux_0'"]]
    args = record(template, {"i": range(0, 2), "j": [0]}, weights=[0, 5], formula=2, start=10)
    mapping = One2OneDumper.dump([args])
    # the weight-0 clause is left out, as the plain path does
    assert list(zip(args.cnf_stor.get_clauses(), args.cnf_stor.get_clause_weights())) == [
        ([2, 10, -13], 5),
        ([9, 15, -18], 5),
    ]
    assert list(mapping.items()) == [
        ("_bxpr_aux[2,0,1]", 13), ("_pbct_aux[2,0,0]", 10),
        ("_bxpr_aux[2,1,1]", 18), ("_pbct_aux[2,1,0]", 15),
    ]  # fmt: skip
    assert "__builtins__" in args.eval_state


@pytest.mark.parametrize(
    "weights, written",
    # the second sums to 2^63 - 1; the engine checks a clause of weight 0 and writes it not
    [([2**62, 2**62 - 2], 2), ([2**62, 2**62 - 1], None), ([0, 2], 1)],
)
def test_soft_weights_past_the_top_limit_are_declined_whole(weights, written):
    args = record([["y(0)"], ["y(1)"]], {}, weights=weights)
    assert (_fast_instantiate.dump(args) is not None) == (written is not None)
    assert args.cnf_stor.get_soft_clause_count() == (written or 0)


@pytest.mark.parametrize("place, written", [(4, True), (5, False), (-1, False)])
def test_engine_declines_an_auxiliary_outside_its_instance_block(place, written):
    from orbeny.trelle._engine import inst

    storage = tl.wcnf_storage()
    # one clause holding one auxiliary at `place` of a block of 5 numbers from 100
    keys = inst.instantiate(storage, [], [1, 0, 0, 1], [0, 1, place, 0, 0], [], 100, 5, 0, [1, 0, place])
    assert (keys is not None) == written
    assert storage.get_clauses() == ([[100 + place]] if written else [])


@pytest.mark.parametrize("what, arrays", [
    ("clauses", ([1, 0, 0, 1, 0], [0, 1, 0, 0, 0], [], [1, 0, 0])),
    ("literals", ([1, 0, 0, 1], [0, 1, 0, 0, 0, 0], [], [1, 0, 0])),
    ("terms", ([1, 0, 0, 1], [0, 1, 0, 0, 0], [0], [1, 0, 0])),
    ("key slots", ([1, 0, 0, 1], [0, 1, 0, 0, 0], [], [1, 0])),
])
def test_engine_refuses_program_arrays_cut_inside_an_entry(what, arrays):
    from orbeny.trelle._engine import inst

    clauses, literals, terms, slots = arrays
    storage = tl.wcnf_storage()
    with pytest.raises(ValueError, match=f"^{what} must hold [345] integers per entry$"):
        inst.instantiate(storage, [], clauses, literals, terms, 100, 5, 0, slots)
    assert storage.get_clauses() == []


@pytest.mark.parametrize("instances, written", [(1, True), (2, False)])
def test_engine_declines_auxiliary_numbers_past_64_bits(instances, written, sent_logs):
    from orbeny.trelle._engine import inst

    # A block so wide that a second instance's auxiliary passes 64 bits: declined, nothing kept;
    # the last instance needs no next block.
    storage = tl.wcnf_storage()
    keys = inst.instantiate(storage, [(0, 1, instances, None)], [1, 0, 0, 1], [0, 1, 0, 0, 0], [], 100, 2**63 - 1,
                            0, [1, 0, 0])
    assert (keys is not None) == written
    assert storage.get_clauses() == ([[100]] if written else [])
    fast, plain = both_paths(
        lambda: record([["y(i)", "'_pbct_aux_0'"]], {"i": range(instances)}, start=100, pb=2**62, bx=2**62 - 1),
        sent_logs)
    assert fast == plain
    assert fast[0][0] == ("mapping" if written else "error")


def test_a_key_slot_past_64_bits_is_refused_by_every_read():
    from orbeny.trelle._engine import inst

    # A slot no literal uses is never checked by the writing: each read of its number refuses it.
    keys = inst.instantiate(tl.wcnf_storage(), [], [1, 0, 0, 1], [0, 1, 0, 0, 0], [], 100, 5, 0,
                            [1, 0, 0, 1, 1, 2**63 - 1])
    for read in (keys.to_dict, lambda: inst.largest_number([keys]), lambda: inst.merge_keys([keys])):
        with pytest.raises(OverflowError, match="^auxiliary numbers do not fit in 64 bits$"):
            read()


@pytest.mark.parametrize("start, written", [(2**31 - 1, True), (2**31, False)])
def test_engine_declines_auxiliary_numbers_past_the_variable_numbers(start, written):
    from orbeny.trelle._engine import inst

    storage = tl.wcnf_storage()
    keys = inst.instantiate(storage, [(0, 1, 1, None)], [1, 0, 0, 1], [0, 1, 0, 0, 0], [], start, 5, 0, [1, 0, 0])
    assert (keys is not None, storage.get_clauses()) == (written, [[start]] if written else [])


@pytest.mark.parametrize(
    "template, foralls, error",
    [
        ([["y(i)"]], {"i": range(13)}, IndexError),  # the last instance is out of range
        ([["x(i)"]], {"i": range(2)}, TypeError),
        ([["y(i)", "dummy_var(0)"]], {"i": range(2)}, ValueError),  # variable 0 is no literal
        ([["y(4611686018427387904 * 4)"]], {}, IndexError),  # 2^64, not 0
    ],
)
def test_errors_come_from_the_same_call_with_the_storage_as_the_plain_path_leaves_it(
    template, foralls, error, sent_logs
):
    fast, plain = both_paths(lambda: record(template, foralls), sent_logs)
    assert fast == plain
    assert fast[0][:2] == ("error", error)


def test_a_storage_that_is_not_fresh_keeps_its_clauses(sent_logs):
    def make():
        args = record([["y(i)", "'_bxpr_aux_0'"]], {"i": range(3)}, weights=[2])
        args.cnf_stor.add_hard_clause([1, 2])
        return args

    fast, plain = both_paths(make, sent_logs)
    assert fast == plain
    assert fast[1][0][0] == ([1, 2], 0)


# ---- through the container: numpy foralls, flushes, targets and the merged mapping


def bx_node(clauses):
    context = bx.Context()

    def literal(text):
        return ~context.get_var(text[1:]) if text.startswith("~") else context.get_var(text)

    return bx.and_([bx.or_s([literal(text) for text in clause]) for clause in clauses])


HARD = [["x(i,j)", "~x(i,j + 1)", "_bxpr_aux_0"], ["~_bxpr_aux_0", "y(2 * j)", "_pbct_aux_1"]]
TARGET = [["~y(0)", "_bxpr_aux_0"], ["_bxpr_aux_1", "w(1,2,3)"]]


def container_road(sent_logs):
    """Hard, hard, target, a second target and a CNF build, with the mapping read in between."""
    del sent_logs[:]
    container = FormulaContainer(declared_variables(), 600)
    reads = []
    steps = [
        lambda: container.add_hard_constraint(bx_node(HARD), {"i": np.arange(4), "j": range(3)}, 2, 1),
        lambda: container.add_hard_constraint(bx_node(HARD[:1]), {"j": np.array([5, 0]), "i": (3, 1)}, 0, 1),
        lambda: container.add_target_constraint(bx_node(TARGET), {}, 0, 2),
        lambda: container.add_hard_constraint(bx_node(HARD[1:]), {"j": [4]}, 2, 1),
        lambda: container.build_cnf_formula("road"),
        lambda: container.add_target_constraint(bx_node(TARGET[1:]), {}, 0, 2),
        lambda: container.build_cnf_formula("road"),
    ]
    for step in steps:
        step()
        mapping = container.mapping
        assert list(mapping.items()) == list(reduce_ex(container._mappings).items())
        check_engine_mapping(container._mappings)
        reads.append(list(mapping.items()))
        mapping["changed"] = -1  # the caller's own copy
    storage = container.cnf_storage()
    return reads, list(zip(storage.get_clauses(), storage.get_clause_weights())), storage.get_variable_count(), sent_logs[:]


def check_engine_mapping(partials):
    """The mapping that the engine merges from `partials` holds what their dicts' merge holds, in
    order, with the same largest number and the same way back from numbers to keys; made whole,
    or after a head of them."""
    expected = reduce_ex(partials)
    assert _fast_instantiate.largest_number(partials) == max(expected.values(), default=None)
    half = len(partials) // 2
    for merged in (_fast_instantiate.engine_mapping(partials),
                   _fast_instantiate.engine_mapping_after(None, partials[:half], partials[half:])):
        check_merged(merged, expected)


def check_merged(merged, expected):
    if not expected:
        assert merged is None
        return
    assert list(merged.get_var_map().items()) == list(expected.items())
    reference = tl.var_mapping()
    reference.set_var_map(expected)
    for mapping in (merged, reference):
        mapping.build_inverse_map()
    assert list(merged.get_inverse_map().items()) == list(reference.get_inverse_map().items())
    for number in (*expected.values(), -1, max(expected.values()) + 1):
        assert merged.get_var_name(number) == reference.get_var_name(number)


# Literals in the order of first occurrence give auxiliary numbers that do not ascend.
AUXILIARY_TEMPLATE = [["'_bxpr_aux_0'", "'~_pbct_aux_1'", "x(i,0)"], ["'_bxpr_aux_2'"]]
KEY_POOL = ["x[0,1]", "x[1]", "_bxpr_aux[1,0,0]", "_pbct_aux[0,1,1]", "_bxpr_aux[0,1,2]", "y[2]", "z"]


@st.composite
def key_partials(draw):
    """Partial mappings as the container keeps them (a variable's keys, a record's, a dump call's
    chain, plain dicts), with names, formula numbers and keys that may repeat across them."""
    partials = []
    for _ in range(draw(st.integers(0, 5))):
        kind = draw(st.sampled_from(["variable", "record", "chain", "dict"]))
        if kind == "variable":
            name = draw(st.sampled_from(["x", "y", "_bxpr_aux"]))
            sizes = draw(st.lists(st.integers(0, 3), max_size=3))
            variable = Variable(name, {f"i{p}": size for p, size in enumerate(sizes)}, draw(st.integers(1, 50)))
            partials.append(_fast_instantiate.variable_keys(variable))
        elif kind == "dict":
            partials.append(draw(st.dictionaries(st.sampled_from(KEY_POOL), st.integers(0, 99), max_size=4)))
        else:
            made = [
                record(AUXILIARY_TEMPLATE, {"i": range(draw(st.integers(0, 3)))}, None, draw(st.integers(0, 2)),
                       draw(st.integers(1, 50)))
                for _ in range(1 if kind == "record" else 2)
            ]
            partials.append(_fast_instantiate.dump(made[0]) if kind == "record" else One2OneDumper.dump(made))
    return partials


@settings(max_examples=150)
@given(key_partials())
@example([{"a[0]": 1, "b[0]": 2}, {"a[0]": 5}])  # a key given again drops its old number
def test_engine_mapping_merges_like_dict_updates(partials):
    check_engine_mapping(partials)


def test_an_empty_key_block_gives_no_key_and_no_largest_number():
    from orbeny.trelle._engine import inst

    empty, one = inst.variable_keys("x", 5, [2, 0], [1, 1]), inst.variable_keys("y", 3, [1], [1])
    assert inst.largest_number([empty]) is None
    assert inst.largest_number([empty, one]) == 3
    assert inst.merge_keys([empty, one]).get_var_map() == {"y[0]": 3}


_MAPPING_UNDER_LIMIT = """
import resource
from orbeny.trelle._engine import inst
n = 4_000_000
keys = inst.variable_keys("x", 1, [n], [1])
# The texts 'x[k]': three characters and the digits of k (one, and one more past each power of
# ten); then two 8-byte numbers a key.
text = 3 * n + n + sum(n - 10 ** d for d in range(1, 7))
room = text + 16 * n
used = int(open("/proc/self/statm").read().split()[0]) * resource.getpagesize()
limits = resource.getrlimit(resource.RLIMIT_AS)
resource.setrlimit(resource.RLIMIT_AS, (used + room + 16 * 2**20, limits[1]))
merged = inst.merge_keys([keys])
resource.setrlimit(resource.RLIMIT_AS, limits)
merged.build_inverse_map()
assert merged.get_var_name(n) == f"x[{n - 1}]"
"""


@pytest.mark.skipif(
    sys.platform != "linux" or "asan" in os.environ.get("LD_PRELOAD", ""),
    reason="needs /proc and an address-space limit, which a sanitizer runtime cannot live with",
)
def test_a_mapping_is_made_in_the_room_its_keys_take():
    # Room made once for the whole text: one that grew by doubling would hold its old and new
    # copies at once, some 50 MB more than the limit leaves.
    subprocess.run([sys.executable, "-c", _MAPPING_UNDER_LIMIT], check=True, timeout=300)


@pytest.mark.parametrize("split, head", [(0, []), (1, [("v[0]", 30)]), (2, [("v[0]", 30), ("y[0]", 10), ("y[1]", 11)])])
def test_a_mapping_lends_the_next_one_its_head_keys_alone(split, head):
    # The next mapping copies the keys of the head (even none) and none of the tail it replaces.
    blocks = [_fast_instantiate.variable_keys(Variable(name, {"a": size}, start))
              for name, size, start in [("v", 1, 30), ("y", 2, 10), ("w", 2, 20), ("x", 1, 40)]]
    previous = _fast_instantiate.engine_mapping_after(None, blocks[:split], blocks[2:3])
    made = _fast_instantiate.engine_mapping_after(previous, blocks[:split], blocks[3:])
    assert list(made.get_var_map().items()) == head + [("x[0]", 40)]
    assert list(previous.get_var_map().items()) == head + [("w[0]", 20), ("w[1]", 21)]
    made.build_inverse_map()
    assert made.get_var_name(40) == "x[0]" and made.get_var_name(20) is None


def test_a_dump_stopped_halfway_leaves_its_records_to_dump_again(plain_calls, monkeypatch):
    def build(stop):
        container = FormulaContainer(declared_variables(), 600)
        container.add_hard_constraint(bx_node(HARD), {"i": range(2), "j": range(3)}, 2, 1)
        if stop:
            original = Dumper._Dumper__print_all_formula

            def stopped(*args):
                original(*args)  # every clause written, then Ctrl-C
                raise KeyboardInterrupt

            with pytest.MonkeyPatch.context() as patch:
                patch.setattr(Dumper, "_Dumper__print_all_formula", staticmethod(stopped))
                with pytest.raises(KeyboardInterrupt):
                    container.build_cnf_formula("stopped")
            assert container.cnf_storage().get_clauses() == [] and container.num_clauses == 12
        container.build_cnf_formula("stopped")
        return container.cnf_storage().get_clauses(), container.mapping

    with plain_path():
        assert build(True) == build(False)


def test_container_road_alike_on_both_paths(sent_logs, plain_calls):
    fast = container_road(sent_logs)
    assert plain_calls == []
    with plain_path():
        plain = container_road(sent_logs)
    assert fast == plain
    assert len(fast[1]) == 12 * 2 + 4 * 1 + 1 + 1


@settings(max_examples=60)
@given(
    st.sampled_from(["x", "dummy_var", "é"]),
    st.lists(st.integers(-1, 4), max_size=3),
    st.integers(0, 2**40),
)
@example("x", [1, 3], 2**63 - 2)  # the last number passes 64 bits: the plain map
def test_variable_keys_are_the_variable_map(name, sizes, start):
    variable = Variable(name, {f"i{position}": size for position, size in enumerate(sizes)}, start)
    keys = _fast_instantiate.variable_keys(variable)
    assert len(keys) == len(variable.map)
    assert list(keys.items()) == list(variable.map.items())
    merged = dict(EARLIER)
    if hasattr(keys, "write_into"):
        keys.write_into(merged)
    else:
        merged.update(keys)
    assert list(merged.items()) == list({**EARLIER, **variable.map}.items())


def test_importing_the_package_leaves_the_engine_path_unloaded():
    code = "import sys, zorv_encoder; print('zorv_encoder.core._fast_instantiate' in sys.modules)"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True, timeout=60)
    assert out.stdout == "False\n"


def node_text(literal):
    """A template literal text back as the name text of a Tseytin result's literal."""
    if literal.startswith("'"):
        return literal[1:-1]
    return "~" + literal[1:] if literal.startswith("-") else literal


@st.composite
def container_intakes(draw):
    """Hard constraints over foralls given as numpy arrays, lists and ranges, one soft formula."""
    intakes = []
    for _ in range(draw(st.integers(1, 3))):
        names = draw(st.lists(st.sampled_from(FORALL_NAMES), unique=True, max_size=3))
        foralls = {}
        for name in names:
            values = draw(st.lists(st.integers(0, 3), min_size=1, max_size=3))
            form = draw(st.sampled_from(["numpy", "numpy32", "list", "range"]))
            if form == "range":
                foralls[name] = range(values[0], values[0] + len(values))
            else:
                foralls[name] = np.array(values, dtype=np.int32 if form == "numpy32" else np.int64) if "numpy" in form else values
        pb, bx_count = draw(st.integers(0, 2)), draw(st.integers(1, 2))
        clause = st.lists(literal_texts(names, bx_count - 1).map(node_text), min_size=1, max_size=3)
        intakes.append(("hard", draw(st.lists(clause, min_size=1, max_size=3)), foralls, pb, bx_count))
    weights = draw(st.lists(st.integers(0, 3), min_size=1, max_size=3))
    soft = [[f"y({position})"] for position in range(len(weights))]
    intakes.append(("soft", soft, {"k": np.arange(draw(st.integers(0, 2)))}, weights))
    return intakes


def container_outcome(intakes, sent_logs):
    del sent_logs[:]
    container = FormulaContainer(declared_variables(), 900)
    try:
        for kind, clauses, foralls, *counts in intakes:
            if kind == "hard":
                container.add_hard_constraint(bx_node(clauses), foralls, *counts)
            else:
                container.add_soft_formula(bx_node(clauses), counts[0], foralls, 0, 0)
        container.build_wcnf_formula("random")
        result = list(container.mapping.items())
    except Exception as error:  # noqa: BLE001  (the error itself is compared)
        result = (type(error), str(error))
    storage = container.cnf_storage()
    return result, list(zip(storage.get_clauses(), storage.get_clause_weights())), sent_logs[:]


@settings(max_examples=40, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(container_intakes())
def test_random_container_intakes_alike_on_both_paths(sent_logs, intakes):
    fast = container_outcome(intakes, sent_logs)
    with plain_path():
        plain = container_outcome(intakes, sent_logs)
    assert fast == plain


# ---- whole models: pseudo-Boolean auxiliaries, soft clauses, a target built twice


def build_models(directory):
    """The files and mappings of a few small models: exactly-ones over foralls (pseudo-Boolean
    auxiliaries), a weighted cover, a knapsack whose target is built with two borders."""
    import orbeny.trelle as tl
    from zorv_encoder import Implication, Model, Sum, SumIt

    written = []

    def keep(model, name):
        path = os.path.join(directory, name)
        model.save_to_file(path)
        with open(path) as handle:
            written.append((handle.read(), list(model._formula_container.mapping.items())))

    grid = Model(tl.manager(), "grid")
    q = grid.create_variables("q", row=4, col=5)
    i, j = grid.get_indexes(["i", "j"])
    grid.add_constraint(Sum(q[i, j], j=range(5)) == 1, i=range(4))
    grid.add_constraint(Sum(q[i, j], i=range(4)) <= 1, j=np.arange(5))
    grid.add_constraint(Implication(q[i, j], ~q[i + 1, j + 1]), i=[0, 1, 2], j=(0, 2, 3))
    grid.build_cnf()
    keep(grid, "grid.cnf")

    cover = Model(tl.manager(), "cover")
    x = cover.create_variables("x", row=3, col=4)
    i, j = cover.get_indexes(["i", "j"])
    cover.add_constraint(x[i, j] | x[i, j + 1], i=range(3), j=range(3))
    cover.add_constraint(x[i, j] | x[2 * i + 1, j], i=range(1), j=range(4))
    cover.add_soft_constraint(SumIt([(r + c + 1) * x[r, c] for r in range(3) for c in range(4)]), minimization=True)
    cover.build_wcnf()
    keep(cover, "cover.wcnf")

    bag = Model(tl.manager(), "bag")
    take = bag.create_variables("take", item=5)
    bag.add_constraint(SumIt([w * take[k] for k, w in enumerate([4, 7, 3, 5, 6])]) <= 12)
    bag.add_target(SumIt([v * take[k] for k, v in enumerate([5, 9, 4, 6, 8])]))
    for border in (10, 17):
        bag.build_cnf(border, False)
        keep(bag, f"bag{border}.cnf")
    return written


def test_whole_models_alike_on_both_paths(tmp_path, plain_calls):
    fast = build_models(str(tmp_path))
    taken_plain = len(plain_calls)
    with plain_path():
        plain = build_models(str(tmp_path))
    assert fast == plain
    assert taken_plain == 0
