import signal
import subprocess
import sys

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import orbeny.trelle as tl

AUX = ["_bxpr_aux", "_pbct_aux"]


def mapping(d):
    m = tl.var_mapping()
    m.set_var_map(d)
    m.build_inverse_map()
    return m


def interpreter(d, aux=AUX):
    wi = tl.witness_interpreter()
    wi.set_var_mapping(None if d is None else mapping(d))
    wi.set_auxiliary_vars(aux)
    return wi


def test_var_mapping_both_ways():
    source = {"x[0,1]": 3, "y[2]": 4, "_pbct_aux[0,0,1]": 7}
    m = tl.var_mapping()
    m.set_var_map(source)
    source["z[0]"] = 9  # the mapping keeps its own copy
    assert m.get_var_map() == {"x[0,1]": 3, "y[2]": 4, "_pbct_aux[0,0,1]": 7}
    assert m.get_inverse_map() == {}
    m.build_inverse_map()
    assert m.get_inverse_map() == {3: "x[0,1]", 4: "y[2]", 7: "_pbct_aux[0,0,1]"}
    assert (m.get_var_name(7), m.get_var_name(99), m.get_var_name(2**63), m.get_var_name(-(2**64))) == (
        "_pbct_aux[0,0,1]", None, None, None)
    # a number held by two keys maps back to the later one
    m.set_var_map({"a[0]": 1, "b[0]": 1, "c[0]": 0})
    assert m.get_var_name(1) is None  # the inverse went with the old map
    m.build_inverse_map()
    assert m.get_inverse_map() == {0: "c[0]", 1: "b[0]"}
    # numbers ascending but for the first two: not in order, so looked up by the sorted inverse
    m.set_var_map({"a[0]": 2, "b[0]": 1, "c[0]": 3})
    m.build_inverse_map()
    assert [m.get_var_name(n) for n in (1, 2, 3)] == ["b[0]", "a[0]", "c[0]"]


@pytest.mark.parametrize(
    "bad, error",
    [([("x", 1)], TypeError), ({1: 1}, TypeError), ({"x[0]": "1"}, TypeError),
     ({"x[0]": True}, TypeError), ({"x[0]": 1.0}, TypeError), ({"x[0]": -1}, ValueError),
     ({"x[0]": 2**31}, ValueError)],
)
def test_var_mapping_refuses_bad_input(bad, error):
    m = tl.var_mapping()
    m.set_var_map({"y[0]": 1})
    with pytest.raises(error):
        m.set_var_map({"ok[0]": 2, **bad} if isinstance(bad, dict) else bad)
    assert m.get_var_map() == {"y[0]": 1}  # left as it was


def test_var_mapping_survives_a_number_that_drops_itself():
    keys = {}

    class Leaving:
        def __index__(self):
            keys.clear()  # the dict held the only reference to this object
            raise RuntimeError("gone")

    keys["x[0]"] = Leaving()
    m = tl.var_mapping()
    m.set_var_map({"y[0]": 1})
    with pytest.raises(RuntimeError, match="gone"):
        m.set_var_map(keys)
    assert m.get_var_map() == {"y[0]": 1}


def test_a_stopped_mapping_read_leaves_the_mapping_whole():
    m = tl.var_mapping()
    m.set_var_map({f"x[{k}]": k + 1 for k in range(1_000_000)})
    m.build_inverse_map()
    full, inverse = m.get_var_map(), m.get_inverse_map()

    def interrupt(*_):
        # Once the read holds more than is freed in place (two objects an entry), so that its
        # dict is handed to another thread.
        if sys.getallocatedblocks() - base > 400_000:
            signal.setitimer(signal.ITIMER_REAL, 0)
            raise KeyboardInterrupt

    previous = signal.signal(signal.SIGALRM, interrupt)
    try:
        for read in (m.get_var_map, m.get_inverse_map):
            base = sys.getallocatedblocks()
            with pytest.raises(KeyboardInterrupt):
                signal.setitimer(signal.ITIMER_REAL, 0.001, 0.001)
                read()
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    assert (m.get_var_map(), m.get_inverse_map()) == (full, inverse)


def test_tables_group_model_variables_with_shapes():
    keys = {"dummy_var[0]": 0}
    keys.update({f"x[{i},{j}]": 1 + 3 * i + j for i in range(2) for j in range(3)})
    keys.update({f"y[{k}]": 10 + k for k in reversed(range(4))})
    keys.update({"_bxpr_aux[0,0,0]": 20, "_pbct_aux[0,1,2]": 21, "z[]": 22})
    wi = interpreter(keys)
    assert wi.build_mapping_tables(True) is True
    tables = wi.get_mapping_tables()
    assert list(tables) == ["dummy_var", "x", "y", "z"]
    assert tables["z"].shape == () and tables["z"] == 22  # a variable without indexes
    np.testing.assert_array_equal(tables["x"], np.arange(1, 7).reshape(2, 3))
    np.testing.assert_array_equal(tables["y"], [10, 11, 12, 13])
    np.testing.assert_array_equal(tables["dummy_var"], [0])
    assert not any(table.flags.writeable for table in tables.values())


@settings(max_examples=30)
@given(
    st.dictionaries(
        st.text("abcxyz", min_size=1, max_size=3),
        st.lists(st.integers(1, 3), max_size=3),
        min_size=1, max_size=4,
    ),
    st.randoms(use_true_random=False),
)
def test_tables_match_row_major_blocks(shapes, rnd):
    keys, expected, start = [], {}, 0
    for name, shape in shapes.items():
        numbers = np.arange(start, start + int(np.prod(shape)), dtype=np.int64).reshape(shape)
        expected[name] = numbers
        keys += [(f"{name}[{','.join(map(str, idx))}]", int(numbers[idx]))
                 for idx in np.ndindex(*shape)]
        start += numbers.size
    keys += [(f"_bxpr_aux[0,{k},0]", start + k) for k in range(3)]
    rnd.shuffle(keys)
    wi = interpreter(dict(keys))
    assert wi.build_mapping_tables(True) is True
    tables = wi.get_mapping_tables()
    assert sorted(tables) == sorted(expected)
    for name, numbers in expected.items():
        np.testing.assert_array_equal(tables[name], numbers)


def test_tables_without_strict_leave_out_what_does_not_fit():
    wi = interpreter({"x[0]": 1, "x[2]": 3, "bad": 4, "y[0]": 5, "y[0,1]": 6, "z[99999999]": 7})
    assert wi.build_mapping_tables() is False, "strict is the default"
    assert wi.get_mapping_tables() == {}
    assert wi.build_mapping_tables(True) is False
    assert wi.build_mapping_tables(False) is True
    tables = wi.get_mapping_tables()
    assert list(tables) == ["x"]
    np.testing.assert_array_equal(tables["x"], [1, -1, 3])


def test_tables_whose_cell_count_passes_64_bits_are_left_out():
    # Extents 2^24 and 2^40 multiply to 2^64; a few million keys let the first extent through
    # the size limit of a non-strict table. Run apart: the fault this guards against is a crash.
    script = """
import orbeny.trelle as tl
from orbeny.trelle._engine import inst
keys = inst.variable_keys("x", 1, [2**22, 1], [1, 1]).to_dict()
keys.update({"x[16777215,0]": 5, "x[0,1099511627775]": 6, "y[0]": 7})
m = tl.var_mapping()
m.set_var_map(keys)
del keys
wi = tl.witness_interpreter()
wi.set_var_mapping(m)
assert wi.build_mapping_tables(False) is True
assert list(wi.get_mapping_tables()) == ["y"]
"""
    subprocess.run([sys.executable, "-c", script], check=True, timeout=300)


@pytest.mark.parametrize(
    "keys",
    [
        None,
        {},
        {"x": 1},  # no indexes
        {"x[a]": 1},
        {"x[-1]": 1},
        {"x[0]": 1, "x[0,1]": 2},  # one name, two ranks
        {"x[0]": 1, "x[2]": 3},  # a hole in the block
        {"x[0]": 1, "x[00]": 2},  # one cell named twice
        {"[0]": 1},
        {"_bxpr_aux[0,0,0]": 1, "x[1 ]": 2},
        {"x[+1]": 1},
        {"x[]": 1, "x[0]": 2},
        {"x[0]]": 1},
        {"x[0][1]": 1},
        {"x[2000000000000]": 1},
    ],
)
def test_tables_refuse_empty_or_unparsable(keys):
    wi = interpreter(keys)
    assert wi.build_mapping_tables(True) is False
    assert wi.get_mapping_tables() == {}


def test_only_auxiliaries_is_success_with_no_table():
    wi = interpreter({"_bxpr_aux[0,0,0]": 1})
    assert wi.build_mapping_tables(True) is True
    assert wi.get_mapping_tables() == {}


def test_interpreter_keeps_what_it_was_given():
    m = mapping({"x[0]": 1})
    wi = tl.witness_interpreter()
    assert wi.get_var_mapping() is None
    wi.set_var_mapping(m)
    wi.set_auxiliary_vars(AUX)
    assert wi.get_var_mapping() is m and wi.get_auxiliary_vars() == AUX
    with pytest.raises(TypeError):
        wi.set_var_mapping({"x[0]": 1})
    with pytest.raises(TypeError):
        wi.set_auxiliary_vars("_bxpr_aux")
    # one long string many times over costs the caller nothing, the engine a copy of each
    with pytest.raises(ValueError, match="characters"):
        wi.set_auxiliary_vars(["_" * 10**6] * 10**6)
    assert wi.get_auxiliary_vars() == AUX


def test_manager_keeps_storage_and_interpreter():
    mg = tl.manager()
    assert mg.get_input_cnf_storage() is None and mg.get_witness_interpreter() is None
    s, wi = tl.wcnf_storage(), tl.witness_interpreter()
    mg.set_input_cnf_storage(s)
    mg.set_witness_interpreter(wi)
    assert mg.get_input_cnf_storage() is s and mg.get_witness_interpreter() is wi
    wi2 = tl.witness_interpreter()
    mg.set_witness_interpreter(wi2)  # the last registration wins
    assert mg.get_witness_interpreter() is wi2
    with pytest.raises(TypeError):
        mg.set_input_cnf_storage([[1]])
    with pytest.raises(TypeError):
        mg.set_witness_interpreter(object())


def test_model_save_road(tmp_path):
    # What a built model does: storage and interpreter to the manager, then save through them.
    mg = tl.manager()
    s = tl.wcnf_storage()
    s.add_hard_clause([1, -2])
    s.set_model_name("m")
    mg.set_input_cnf_storage(s)
    wi = interpreter({"dummy_var[0]": 0, "x[0]": 1, "x[1]": 2, "_bxpr_aux[0,0,0]": 3})
    assert wi.build_mapping_tables(True)
    mg.set_witness_interpreter(wi)
    mg.get_input_cnf_storage().insert_prefatory_value(-7)
    path = tmp_path / "m"
    mg.get_input_cnf_storage().save_to_file(
        str(path), tl.input_sat_format.cnf, mg.get_witness_interpreter().get_var_mapping()
    )
    assert path.read_text() == (
        "c model: m\nc dummy_var[0] 0\nc x[0] 1\nc x[1] 2\nc prefatory: -7\np cnf 2 1\n1 -2 0\n"
    )
