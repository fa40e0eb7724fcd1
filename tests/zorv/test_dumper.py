import dataclasses

import pytest

import orbeny.trelle as tl
from zorv_encoder.core.dumper import DumpArgs, Dumper, One2OneDumper, reduce_ex
from zorv_encoder.encode.variables import Variable

print_all_formula = Dumper._Dumper__print_all_formula
instantiation_text = Dumper._Dumper__instantiation_text


class RecordingStorage:
    """Takes clauses as the dumper hands them over, literal 0 included."""

    def __init__(self):
        self.calls = []

    def add_hard_clause(self, lits):
        self.calls.append((lits, None))

    def add_soft_clause(self, lits, weight):
        self.calls.append((lits, weight))


def stored(storage):
    return list(zip(storage.get_clauses(), storage.get_clause_weights()))


def warnings_in(sent_logs):
    return [message for message, level in sent_logs if level == tl.log_level_type.warning]


@pytest.mark.parametrize(
    "mappings, expected",
    [
        ([], {}),
        ([{"a": 1, "b": 2}, {"b": 5, "c": 3}], {"a": 1, "b": 5, "c": 3}),
        ([{"a": 1}, {"a": 1}], {"a": 1}),
    ],
)
def test_reduce_ex_merges_in_order_later_values_winning(mappings, expected):
    result = reduce_ex(mappings)
    assert list(result.items()) == list(expected.items())
    result["z"] = 0
    assert all("z" not in mapping for mapping in mappings)


def test_declarations():
    assert [field.name for field in dataclasses.fields(DumpArgs)] == [
        "template_constraint", "weights", "foralls", "num_formula", "init_shift_variable",
        "shift_pb_variable", "shift_bx_variable", "offset_shift_for_formula", "eval_state", "cnf_stor",
    ]  # fmt: skip
    assert DumpArgs.__annotations__["cnf_stor"] is tl.wcnf_storage
    assert (Dumper._Dumper__BXPR_AUX, Dumper._Dumper__PBCT_AUX) == ("_bxpr_aux", "_pbct_aux")
    with pytest.raises(TypeError):
        Dumper()
    assert issubclass(One2OneDumper, Dumper)


# One clause ~_bxpr_aux_2, 7, _pbct_aux_1 in three instances of formula 2, auxiliaries from 10,
# two pseudo-Boolean and three Tseytin auxiliaries per instance.
WORKED = [[["~_bxpr_aux_2", 7, "_pbct_aux_1"]]] * 3
WORKED_CLAUSES = [[7, 11, -14], [7, 16, -19], [7, 21, -24]]
WORKED_KEYS = {
    "_bxpr_aux[2,0,2]": 14, "_pbct_aux[2,0,1]": 11,
    "_bxpr_aux[2,1,2]": 19, "_pbct_aux[2,1,1]": 16,
    "_bxpr_aux[2,2,2]": 24, "_pbct_aux[2,2,1]": 21,
}  # fmt: skip


@pytest.mark.parametrize("offset_shift", [0, 5])
def test_worked_numbering_example(offset_shift, sent_logs):
    storage, mapping = tl.wcnf_storage(), {}
    print_all_formula(WORKED, None, 2, 10, 2, 3, offset_shift, mapping, storage)
    assert stored(storage) == [(clause, 0) for clause in WORKED_CLAUSES]
    assert list(mapping.items()) == list(WORKED_KEYS.items())
    assert warnings_in(sent_logs) == []


@pytest.mark.parametrize(
    "weights, expected",
    [
        ([4], [(clause, 4) for clause in WORKED_CLAUSES]),
        # a soft clause worth nothing is left out, never written as a hard clause
        ([0], []),
    ],
)
def test_weights_make_soft_clauses(weights, expected):
    storage, mapping = tl.wcnf_storage(), {}
    print_all_formula(WORKED, weights, 2, 10, 2, 3, 0, mapping, storage)
    assert stored(storage) == expected


def test_without_storage_keys_are_still_recorded():
    mapping = {}
    print_all_formula(WORKED, None, 2, 10, 2, 3, 0, mapping, None)
    assert mapping == WORKED_KEYS


@pytest.mark.parametrize(
    "instances, pb, bx, expected_clauses, expected_keys",
    [
        # counter 0 takes the block's first number
        ([[["_pbct_aux_0"]]], 2, 3, [[10]], {"_pbct_aux[2,0,0]": 10}),
        # without pseudo-Boolean auxiliaries the Tseytin ones start each block
        ([[["_bxpr_aux_1"]]] * 2, 0, 2, [[11], [13]],
         {"_bxpr_aux[2,0,1]": 11, "_bxpr_aux[2,1,1]": 13}),
        # the same auxiliary twice in an instance: one number, one key
        ([[["_bxpr_aux_0", "~_bxpr_aux_0"], ["_bxpr_aux_0"]]], 1, 1, [[11, -11], [11]],
         {"_bxpr_aux[2,0,0]": 11}),
        # leading zeros do not reach the key; a name with both prefixes counts as pseudo-Boolean
        ([[["_pbct_aux_007", "_bxpr_aux_pbct_aux_1"]]], 9, 1, [[11, 17]],
         {"_pbct_aux[2,0,7]": 17, "_pbct_aux[2,0,1]": 11}),
        # "~" anywhere makes the literal negative, and the first character is dropped
        ([[["x~_bxpr_aux_3"]]], 0, 4, [[-13]], {"_bxpr_aux[2,0,3]": 13}),
        # sorted by absolute value, equal absolute values in template order
        ([[[5, -3, 3, 1], [-3, 3]]], 0, 0, [[1, -3, 3, 5], [-3, 3]], {}),
        # an instance without clauses and a clause without literals
        ([[], [[]]], 0, 0, [[]], {}),
        ([], 0, 0, [], {}),
    ],
)  # fmt: skip
def test_numbering_edge_cases(instances, pb, bx, expected_clauses, expected_keys, sent_logs):
    storage, mapping = RecordingStorage(), {}
    print_all_formula(instances, None, 2, 10, pb, bx, 0, mapping, storage)
    assert storage.calls == [(clause, None) for clause in expected_clauses]
    assert mapping == expected_keys
    assert warnings_in(sent_logs) == []


@pytest.mark.parametrize(
    "instances, mapping, bx, expected_warnings, expected_clauses",
    [
        # a key held already with another number: one warning, then overwritten
        ([[["_pbct_aux_1", "_pbct_aux_1"]]] * 2, {"_pbct_aux[2,1,1]": 99}, 3,
         ["Bad index for pbct"], [[11, 11], [16, 16]]),
        ([[["_bxpr_aux_1"]]] * 2, {"_bxpr_aux[2,0,1]": 99}, 3, ["Bad index for bxpr"], [[13], [18]]),
        # a key held with the same number is no news
        ([[["_bxpr_aux_1"]]], {"_bxpr_aux[2,0,1]": 13}, 3, [], [[13]]),
        # a Tseytin counter from the count on: warned for every occurrence after the first instance
        ([[["_bxpr_aux_4"], ["~_bxpr_aux_4"]]] * 3, {}, 3, ["Indefinite bxpr index"] * 4,
         [[16], [-16], [21], [-21], [26], [-26]]),
        ([[["_bxpr_aux_3"]]] * 3, {}, 3, ["Indefinite bxpr index"] * 2, [[15], [20], [25]]),
        ([[["_bxpr_aux_2"]]] * 3, {}, 3, [], [[14], [19], [24]]),
        # a string naming no auxiliary becomes 0, which sorts first
        ([[[4, "~foo"]]], {}, 3, ["Index is not pbct or bxpr"], [[0, 4]]),
    ],
)  # fmt: skip
def test_warnings(instances, mapping, bx, expected_warnings, expected_clauses, sent_logs):
    storage = RecordingStorage()
    print_all_formula(instances, None, 2, 10, 2, bx, 0, mapping, storage)
    assert warnings_in(sent_logs) == expected_warnings
    assert [lits for lits, _ in storage.calls] == expected_clauses
    assert "foo" not in "".join(mapping)


@pytest.mark.parametrize(
    "instances, weights, error",
    [
        ([[["_pbct_aux_x"]]], None, ValueError),
        ([[[1], [2]]], [1], IndexError),
        ([[[1, None]]], None, TypeError),
    ],
)
def test_emission_errors_keep_what_was_written(instances, weights, error):
    storage = RecordingStorage()
    with pytest.raises(error):
        print_all_formula([[[5]]] + instances, weights, 0, 0, 0, 0, 0, {}, storage)
    assert storage.calls[0][0] == [5]


# x over i, j of size 2, numbered from 1 after the one-element placeholder: x(i, j) = 1 + 2i + j.
def namespace():
    return {
        "dummy_var": Variable("dummy_var", {"d": 1}, 0),
        "x": Variable("x", {"i": 2, "j": 2}, 1),
    }


def record(template, foralls, storage, **numbering):
    fields = dict(num_formula=0, init_shift_variable=5, shift_pb_variable=0, shift_bx_variable=2)
    fields.update(numbering)
    return DumpArgs(
        template_constraint=template, weights=None, foralls=foralls, offset_shift_for_formula=0,
        eval_state=namespace(), cnf_stor=storage, **fields,
    )  # fmt: skip


TEMPLATE = [["x(i,j)", "-x(i,j + 1)"], ["'~_bxpr_aux_1'", "x(i,j + 1)"]]


def test_worked_instantiation_example():
    foralls = {"i": range(0, 2), "j": [0]}
    assert instantiation_text(TEMPLATE, foralls) == (
        "[[[x(i,j),-x(i,j + 1)],['~_bxpr_aux_1',x(i,j + 1)]] for i in range(0, 2) for j in [0]]"
    )
    assert instantiation_text([["x(0,1)"]], {}) == "[[[x(0,1)]] ]"
    storage = tl.wcnf_storage()
    mapping = Dumper._dump_cnf(record(TEMPLATE, foralls, storage))
    assert storage.get_clauses() == [[1, -2], [2, -6], [3, -4], [4, -8]]
    assert mapping == {"_bxpr_aux[0,0,1]": 6, "_bxpr_aux[0,1,1]": 8}
    storage = tl.wcnf_storage()
    Dumper._dump_cnf(record([["x(0,1)"]], {}, storage))
    assert storage.get_clauses() == [[2]]


@pytest.mark.parametrize(
    "foralls, clauses",
    [
        ({"i": [0, 1], "j": [0, 1]}, [[1], [2], [3], [4]]),
        ({"j": [0, 1], "i": [0, 1]}, [[1], [3], [2], [4]]),
        ({"i": range(2), "j": (0, 1)}, [[1], [2], [3], [4]]),
        ({"i": [], "j": [0, 1]}, []),
    ],
)
def test_instances_nest_first_forall_outermost(foralls, clauses):
    storage = tl.wcnf_storage()
    assert Dumper._dump_cnf(record([["x(i,j)"]], foralls, storage)) == {}
    assert storage.get_clauses() == clauses


def test_record_without_storage_is_not_evaluated():
    unknown = record([["nothing(i)"]], {"i": [0]}, None)
    assert Dumper._dump_cnf(unknown) == {}
    assert One2OneDumper.dump([]) == {}


def test_dump_merges_the_records_mappings_later_winning():
    first = record([["'_bxpr_aux_0'"]], {}, tl.wcnf_storage())
    second = record([["'_bxpr_aux_0'", "'_bxpr_aux_1'"]], {}, tl.wcnf_storage(), init_shift_variable=9)
    assert list(One2OneDumper.dump([first, second]).items()) == [
        ("_bxpr_aux[0,0,0]", 9),
        ("_bxpr_aux[0,0,1]", 10),
    ]
    assert first.cnf_stor.get_clauses() == [[5]]
    assert second.cnf_stor.get_clauses() == [[9, 10]]


def test_dumped_mappings_are_fresh_dicts_of_their_own():
    import json

    records = [record(TEMPLATE, {"i": range(2), "j": [0]}, tl.wcnf_storage()) for _ in range(2)]
    single = Dumper._dump_cnf(records[0])
    merged = One2OneDumper.dump(records[1:])
    for mapping in (single, merged):
        # The engine wrote these records; the caller still gets a mapping it may change and save.
        assert type(mapping) is dict
        assert json.loads(json.dumps(mapping)) == {"_bxpr_aux[0,0,1]": 6, "_bxpr_aux[0,1,1]": 8}
        mapping["z"] = 1
    assert "z" not in Dumper._dump_cnf(record(TEMPLATE, {"i": [0], "j": [0]}, tl.wcnf_storage()))
