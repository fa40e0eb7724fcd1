"""The formula encoder on its own: what a bad text, foralls text or witness gets, rebuilding and
resetting, the mapping and the metrics files."""

import csv
import itertools
import json
import re
import subprocess
import sys

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from pysat.solvers import Solver

import orbeny.trelle as tl
from orbeny.trelle._engine import fenc as _fenc

ROW = "bx.or_s([x(i,j).to_bx() for j in range(0, 3)])"
AT_MOST_ONE = "FormulaPB(Sum(*[x(i,j).to_pb() for j in range(0, 3)]), pb.Comparator_type.LEQ, 1).to_bx(manager)"


def _encoder(*constraints):
    encoder = tl.manager().create_formula_encoder("m")
    encoder.create_variables("x", [2, 3])
    for text in constraints:
        encoder.add_constraint(text, "Foralls: {'i': range(0, 2)}")
    return encoder


def _clauses(storage):
    return storage.get_clauses()


def _pb(term, comparator, bound):
    return f"FormulaPB({term}, pb.Comparator_type.{comparator}, {bound}).to_bx(manager)"


@pytest.mark.parametrize("text, foralls, message", [
    ("x(i,0).to_bx() +", "Foralls: {'i': [0]}", "unexpected end of text at position 16"),
    ("x(0,0).to_bx() +" + " " * 300, "Foralls: {}", re.escape(" " * 184 + "...'") + ".* at position 316"),  # cut
    (") x", "Foralls: {}", "unexpected token at position 0"),
    ("y(i).to_bx()", "Foralls: {'i': [0]}", "unknown variable y at position 0"),
    ("x(i).to_bx()", "Foralls: {'i': [0]}", "takes 2 indexes, 1 given at position 0"),
    ("x(k,0).to_bx()", "Foralls: {'i': [0]}", "unknown index name k at position 2"),
    ("__import__('os').to_bx()", "Foralls: {}", "unknown variable __import__"),
    ("bx.and_s([x(i,0).to_pb()])", "Foralls: {'i': [0]}", "expected a Boolean expression at position 10"),
    ("bx.or_s([x(0,_jk).to_bx() for _jk in range(0, 3)])", "Foralls: {}", "underscore at position 30"),
    ("bx.or_s([x(0,Sum).to_bx() for Sum in range(0, 3)])", "Foralls: {}", "reserved at position 30"),
    ("x(i,0).to_bx()", "Foralls: {'i': range(0, 3.5)}", "not an integer at position 24"),
    ("x(i,0).to_bx()", "{'i': [0]}", "expected 'Foralls: '"),
    ("x(i,0).to_bx()", "Foralls: {'i': [0], 'i': [1]}", "forall named twice at position 20"),
    ("x(x,0).to_bx()", "Foralls: {'x': [0]}", "has the name of a declared variable"),
    ("x(0,0).to_bx()", "Foralls: {'ä': [0], '_i': [0]}", "underscore at position 21"),
    ("x(0,0).to_bx()\ud800", "Foralls: {}", "not valid Unicode: surrogates not allowed at position 14"),
    ("x(0,0,0).to_bx()", "Foralls: {}", "takes 2 indexes, 3 given at position 0"),
    ("bx.and_s([bx.or_s([x(0,j).to_bx() for j in range(2)]), x(0,j).to_bx()])", "Foralls: {}",
     "unknown index name j at position 59"),
    ("x(0,0).to_bx() x(0,1)", "Foralls: {}", "unexpected text at position 15"),
    ("x(0,0).to_bx())", "Foralls: {}", "unexpected text at position 14"),
    ("bx.or_s([x(0,j).to_bx() for j in range(0, 3, 1, 1)])", "Foralls: {}", "expected range.* at position 33"),
    ("x(i,0)", "Foralls: {'i': range(0, 3, 1, 1)}", "expected range.* at position 15"),
    ("x(i,0)", "Foralls: {'i': range(0, 3, 0)}", "step must not be zero at position 15"),
    ("bx.and_s([bx.or_s([x(i,j).to_bx() for i in range(2) for j in range(3)]), x(i,0).to_bx()])", "Foralls: {}",
     "unknown index name i at position 75"),
    ("bz.or_s([x(0,0).to_bx()])", "Foralls: {}", "expected a Boolean expression at position 0"),
    ("bx.zero.x", "Foralls: {}", "expected a Boolean expression at position 8"),
    ("bx", "Foralls: {}", "expected a Boolean expression at position 0"),
    ("i(0)", "Foralls: {'i': [0]}", "expected a Boolean expression at position 0"),
    ("range(2)", "Foralls: {}", "expected a Boolean expression at position 0"),
    ("Sum(*[x(0,0).to_pb()])", "Foralls: {}", "expected a Boolean expression at position 0"),
    ("FormulaPB(x(0,0), pb.Comparator_type.LEQ, 1)", "Foralls: {}", "expected a Boolean expression at position 0"),
    ("bx.or_s([x(0,j).to_bx() for j in foo(0, 2)])", "Foralls: {}", "expected range.* at position 33"),
    ("bx.or_s([x(0,j).to_bx() for j in pb.range(0, 2)])", "Foralls: {}", "expected range.* at position 33"),
    ("x(~0,0)", "Foralls: {}", "expected an integer expression at position 2"),
    ("x(0,01)", "Foralls: {}", "leading zero at position 4"),
    ("FormulaPB(x(0,0), pb.Comparator_type.LEQ, 1).to_bx(bx)", "Foralls: {}",
     "expected a Boolean expression at position 0"),
    ("FormulaPB(x(0,0), pb.Comparator_type.LEQ, 1).to_pb(manager)", "Foralls: {}",
     "expected a Boolean expression at position 0"),
    ("x(i,0)", "Foralls: ['i', [0]]", "expected a dict at position 9"),
    ("x(0,0)", "Foralls: []", "expected a dict at position 9"),
    ("x(0,0)", "Foralls:  ()", "expected a dict at position 10"),
    ("x(i,0)", "Foralls: {i: [0]}", "expected a quoted name at position 10"),
    ("x(i,0)", "Foralls: {'i\\': [0]}", "unsupported string at position 10"),
    ("x(i,0)", "Foralls: {'i\n': [0]}", "unsupported string at position 10"),
    ("x(i,0)", "Foralls: {'i: [0]}", "unterminated string at position 10"),
    ("x(0,0).to_bx() '", "Foralls: {}", "unterminated string at position 15"),
    ("x(0,not)", "Foralls: {}", "unexpected keyword at position 4"),
    ("bx.or_s([x(0,j).to_bx() for 1 in range(2)])", "Foralls: {}", "expected a loop name at position 28"),
    ("bx.or_s([x(0,j).to_bx() for in in range(2)])", "Foralls: {}", "expected a loop name at position 28"),
    ("bx.or_s(x(0,0).to_bx())", "Foralls: {}", "expected a list of Boolean expressions at position 8"),
    ("x(*[0],0).to_bx()", "Foralls: {}", "expected an index at position 2"),
    ("x(0,0).to_bx(1)", "Foralls: {}", "expected a Boolean expression at position 0"),
    (_pb("x(0,0).to_pb() + Max(*[x(0,1).to_pb()])", "LEQ", 1), "Foralls: {}",
     "expected a pseudo-Boolean term at position 27"),
    (_pb("Sum(x(0,0).to_pb())", "LEQ", 1), "Foralls: {}", r"expected Sum\(\*\[...\]\) at position 10"),
    (_pb("bx.one()", "LEQ", 1), "Foralls: {}", "expected a pseudo-Boolean term at position 10"),
    (_pb("x(0,0).to_pb()", "LT", 1), "Foralls: {}", "expected pb.Comparator_type.LEQ, GEQ or BOTH at position 45"),
    ("FormulaPB(x(0,0).to_pb(), LEQ, 1).to_bx(manager)", "Foralls: {}",
     "expected pb.Comparator_type.LEQ, GEQ or BOTH at position 26"),
    ("bx.impl_s(x(0,0).to_bx())", "Foralls: {}", "unknown Boolean combinator bx.impl_s at position 3"),
    ("bx.nand_s(x(0,0).to_bx(), x(0,1).to_bx())", "Foralls: {}", "unknown Boolean combinator bx.nand_s at position 3"),
    ("x(i,0)", "Foralls {'i': [1]}", "expected 'Foralls: ' at position 0"),
    ("x(i,0)", "Foralls: {'i': foo(0, 2)}", "expected range.* at position 15"),
    ("x(i,0)", "Foralls: {'i': range()}", "expected range.* at position 15"),
    ("x(i,0)", "Foralls: {'i': [+1]}", "expected an integer at position 16"),
    ("x(i,0)", "Foralls: {'i': [-i]}", "expected an integer at position 16"),
    # texts that end in a number: read to their end, not past it
    ("x(0,0).to_bx() 7", "Foralls: {}", "unexpected text at position 15"),
    ("x(0,0).to_bx() 99999999999999999999", "Foralls: {}", "unexpected text at position 15"),
    ("x(i,0).to_bx()", "Foralls: {'i': [0]} 12", "unexpected text at position 20"),
    ("x(i,0).to_bx()", "Foralls: 3", "expected a dict at position 9"),
    ("3", "Foralls: {}", "expected a Boolean expression at position 0"),
    # quoted texts cut after 200 bytes, before the character that would be cut
    ("x(0,0).to_bx() +" + " " * 183 + "é" + " " * 100, "Foralls: {}", " {183}\\.\\.\\.': expected a Boolean"),
    ("x(i,0).to_bx()", "Foralls: {'i': [0]}" + " " * 180 + "é", "unexpected text at position 199"),
    ("x(i,0).to_bx()", "Foralls: {'a" + "ξ" * 150 + "': range(0, 2000000000), 'b': range(0, 2000000000)}",
     "ξ\\.\\.\\.: would take 4000000000000000000 instances"),
    *[(f"bx.{name}({lists})", "Foralls: {}", f"bx.{name} takes one list at position 0")
      for name in ["and_s", "or_s", "xor_s", "eq_s"] for lists in ["", "[x(0,0).to_bx()], [x(0,1).to_bx()]"]],
])
def test_bad_texts_are_refused_with_position_and_nothing_is_kept(text, foralls, message):
    encoder = _encoder()
    with pytest.raises(ValueError, match="constraint .*" + message):
        encoder.add_constraint(text, foralls)
    encoder.generate_cnf()
    assert encoder.get_cnf_storage().get_clause_count() == 0


def test_rows_and_top_comparisons_encode_exactly():
    encoder = _encoder(ROW, AT_MOST_ONE)
    encoder.generate_cnf()
    storage = encoder.get_cnf_storage()
    assert storage.get_model_name() == "m"
    count = 0
    with Solver(name="g3", bootstrap_with=_clauses(storage)) as solver:
        while solver.solve():
            model = solver.get_model()
            chosen = [v for v in model[:6] if v > 0]
            assert len(chosen) == 2 and chosen[0] <= 3 < chosen[1]
            count += 1
            solver.add_clause([-v for v in chosen])
    assert count == 9
    keys = encoder.get_var_mapping().get_var_map()
    assert list(keys)[:6] == ["x[0,0]", "x[0,1]", "x[0,2]", "x[1,0]", "x[1,1]", "x[1,2]"]
    assert all(k.startswith("_pbct_aux[1,") for k in list(keys)[6:])
    assert storage.get_variable_count() == max(keys.values())


def test_witnesses_are_read_through_the_mapping_and_checked_on_the_texts():
    encoder = _encoder(ROW, AT_MOST_ONE)
    with pytest.raises(ValueError, match="generate_cnf"):
        encoder.set_witness([1])
    encoder.generate_cnf()
    total = encoder.get_cnf_storage().get_variable_count()
    good = [1, -2, -3, -4, 5, -6] + [-v for v in range(7, total + 1)]
    other = [-1, 2, -3, -4, 5, -6] + [-v for v in range(7, total + 1)]
    for bad, message in [(good[:3], "does not fit"), (good + [total + 1], "does not fit"),
                         (good[:-1] + [0], "names no variable"), ([1, 1] + good[2:], "twice")]:
        with pytest.raises(ValueError, match=message):
            encoder.set_witness(bad)
    assert encoder.check_another_witness() is False
    encoder.set_witness(good)
    encoder.set_another_witness(good)
    assert encoder.check_another_witness() is False  # the same solution twice
    encoder.set_another_witness(other)
    assert encoder.check_another_witness() is True
    encoder.set_another_witness([-1, 2, 3, -4, 5, -6] + other[6:])  # two in row 0
    assert encoder.check_another_witness() is False
    # A witness of a CNF that the constraints have moved past says nothing of them.
    encoder.add_constraint("x(0,0)", "Foralls: {}")
    for set_witness in (encoder.set_witness, encoder.set_another_witness):
        with pytest.raises(ValueError, match="no CNF generated for the current constraints"):
            set_witness(good)
            pytest.fail(f"{set_witness.__name__} took a witness of a CNF the constraints have moved past")


@pytest.mark.parametrize("padding", ["", ", bx.zero()" * 10000])
def test_a_contradiction_is_written_as_an_empty_clause_and_logged(caplog, padding):
    encoder = _encoder(f"bx.xor_s([x(i,0).to_bx(), x(0,0).to_bx(){padding}])")  # x xor x when i is 0
    with caplog.at_level("WARNING", logger="orbeny.trelle"):
        encoder.generate_cnf()
    assert [] in _clauses(encoder.get_cnf_storage())
    assert "1 of its 2 instances can never hold" in caplog.text
    assert len(caplog.text) < 500  # a long text is cut


def test_second_generate_reset_and_reuse(caplog):
    encoder = _encoder(ROW)
    encoder.generate_cnf()
    first = encoder.get_cnf_storage()
    encoder.generate_cnf()
    assert encoder.get_cnf_storage() is first
    encoder.add_constraint(AT_MOST_ONE, "Foralls: {'i': [0, 1]}")
    encoder.generate_cnf()
    assert encoder.get_cnf_storage().get_clause_count() > first.get_clause_count()
    encoder.add_target("x(0,0)")
    encoder.reset()
    assert encoder.get_cnf_storage() is None and encoder.get_var_mapping() is None
    with pytest.raises(ValueError, match="unknown variable x"):
        encoder.add_constraint(ROW, "Foralls: {'i': [0]}")
    encoder.create_variables("x", [1, 3])
    encoder.add_constraint(ROW, "Foralls: {'i': [0]}")
    with caplog.at_level("INFO", logger="orbeny.trelle"):
        encoder.generate_cnf()
    assert _clauses(encoder.get_cnf_storage()) == [[1, 2, 3]]
    assert "target" not in caplog.text  # the target went with the reset


@pytest.mark.parametrize("name, sizes, error", [
    ("x1", [2], ValueError), ("my_var", [2], ValueError), ("range", [2], ValueError),
    ("x", [2, -1], ValueError),
    ("y", [3], ValueError),  # declared before with other sizes
    ("x", [2**32, 2**32], OverflowError), ("x", [4, 2**62], OverflowError),  # the count wraps around
])
def test_bad_declarations(name, sizes, error):
    encoder = tl.manager().create_formula_encoder("m")
    encoder.create_variables("y", [2])
    encoder.create_variables("y", [2])
    with pytest.raises(error):
        encoder.create_variables(name, sizes)
    assert list(encoder.get_var_mapping().get_var_map().items()) == [("y[0]", 1), ("y[1]", 2)]


def test_every_64_bit_range_takes_both_its_ends_and_nothing_past_them():
    top, low = 2**63 - 1, -(2**63)
    encoder = tl.manager().create_formula_encoder("m")
    # Sizes: the ends reach the count of cells, which has its own refusal.
    encoder.create_variables("e", [0])
    with pytest.raises(OverflowError, match="too many cells"):
        encoder.create_variables("z", [top])
    for past in (top + 1, -1):
        with pytest.raises(ValueError, match="must be non-negative integers"):
            encoder.create_variables("z", [past])
    # Weights: the ends reach the sum of the weights, which has its own refusal.
    encoder.create_variables("x", [2])
    encoder.add_soft_constraint("x(0)", "Foralls: {}", -(2**62) - 1, True)
    for end in (low, top):
        with pytest.raises(OverflowError, match="the sum of soft weights would exceed"):
            encoder.add_soft_constraint("x(1)", "Foralls: {}", end, True)
    # A weight times a coefficient just at 2^64, or past it, must not wrap round to 0 or 1.
    for weight in (2**32, 2**33):
        with pytest.raises(OverflowError, match="the sum of soft weights would exceed"):
            encoder.add_soft_constraint("4294967296 * (x(1).to_pb())", "Foralls: {}", weight, False)
    for past in (low - 1, top + 1):
        with pytest.raises(OverflowError, match=f"^Soft weight {past} does not fit in 64 bits$"):
            encoder.add_soft_constraint("x(1)", "Foralls: {}", past, True)
    # Witness values: -2^63 has no variable number to negate; none of these names a variable.
    encoder.generate_cnf()
    for value in (low, low + 1, top, top + 1):
        with pytest.raises(ValueError, match=f"^witness value {value} names no variable of the formula$"):
            encoder.set_witness([value])


def test_the_models_names_are_taken():
    # Variable names are letters; index names are identifiers.
    encoder = tl.manager().create_formula_encoder("m")
    encoder.create_variables("ξ", [2, 3])
    encoder.add_constraint("bx.or_s([ξ(A_1,col_a).to_bx() for col_a in range(0, 3)])",
                           "Foralls: {'A_1': [1]}")
    encoder.generate_cnf()
    assert _clauses(encoder.get_cnf_storage()) == [[4, 5, 6]]


def test_soft_constraints_weights_and_metrics(tmp_path, caplog):
    encoder = tl.manager().create_formula_encoder("m")
    encoder.create_variables("x", [3])
    with pytest.raises(TypeError):
        encoder.add_soft_constraint("x(0)", "Foralls: {}", 2.5, False)
    encoder.add_soft_constraint("x(0).to_pb() - 2 * (x(1).to_pb())", "Foralls: {}", 3, False)
    encoder.add_soft_constraint("x(2)", "Foralls: {}", 0, True)
    encoder.add_target("Sum(*[(2 ** k) * (x(k).to_pb()) for k in range(0, 3)]) - 8 * (x(1).to_pb())")
    with caplog.at_level("INFO", logger="orbeny.trelle"):
        encoder.generate_cnf()
    assert sum("target is not encoded" in r.getMessage() for r in caplog.records) == 1
    assert "contradiction" not in caplog.text
    storage = encoder.get_cnf_storage()
    assert list(zip(storage.get_clauses(), storage.get_clause_weights())) == [([1], 3), ([-2], 6)]
    assert storage.get_weight_limit() == 10
    # A unit clause a term, none for a term scaled by 0, none at weight 0: what the work rule plans.
    assert [encoder._model.read(text, "Foralls: {}", 1, weight).least_output
            for text, weight in [("x(0).to_pb() - 2 * (x(1).to_pb())", 3), ("0 * x(0).to_pb() + x(1).to_pb()", 3),
                                 ("x(2)", 0)]] == [(2, 2), (1, 1), (0, 0)]
    encoder.set_witness([1, 2, 3])
    encoder.set_another_witness([1, -2, 3])
    encoder.save_metrics_json(str(tmp_path / "m.json"))
    encoder.save_metrics_csv(str(tmp_path / "m.csv"))
    metrics = json.loads((tmp_path / "m.json").read_text())
    assert [row["clauses"] for row in metrics["constraints"]] == [2, 0]
    assert metrics["witnesses"] == [{"witness": "witness", "valid": True, "soft_cost": 6, "target_value": -1},
                                    {"witness": "another_witness", "valid": True, "soft_cost": 0, "target_value": 5}]
    rows = list(csv.reader((tmp_path / "m.csv").open()))
    assert [row[0] for row in rows[-2:]] == ["witness"] * 2 and rows[-2][-3:] == ["True", "6", "-1"]


def test_a_place_past_the_last_constraint_is_refused():
    # In a process of its own: a read one past the end could bring the process down.
    code = """
import orbeny.trelle as tl
encoder = tl.manager().create_formula_encoder("m")
encoder.create_variables("x", [2])
encoder.add_constraint("x(0)", "Foralls: {}")
encoder.add_soft_constraint("x(1)", "Foralls: {}", 2, True)
encoder.generate_cnf()
cells = encoder._model.read_witness([1, 2])
for call in (encoder._model.holds, encoder._model.soft_cost):
    try:
        print(call(2, cells))
    except ValueError as error:
        print(error)
"""
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert out.stdout == "no constraint at that place\n" * 2, out


def test_a_row_past_the_clause_limit_under_a_conjunction_at_the_top_is_refused_when_added():
    encoder = tl.manager().create_formula_encoder("m")
    encoder.create_variables("x", [200_000])
    row = _pb("Sum(*[x(k).to_pb() for k in range(0, 200000)])", "LEQ", 5)
    with pytest.raises(OverflowError, match="needs more than max_clauses_per_constraint"):
        encoder.add_constraint(f"bx.and_s([x(1).to_bx(), {row}])", "Foralls: {}")


def test_the_top_weight_is_one_past_the_soft_weights_even_at_one():
    encoder = tl.manager().create_formula_encoder("m")
    encoder.create_variables("x", [1])
    encoder.add_soft_constraint("x(0)", "Foralls: {}", 1, False)
    encoder.generate_cnf()
    assert encoder.get_cnf_storage().get_weight_limit() == 2


@pytest.mark.parametrize("text", ["~(" * 2000 + "x(0,0).to_bx()" + ")" * 2000, "~" * 198 + "x(0,0).to_bx()",
                                  "FormulaPB(" + "1 * " * 5000 + "(x(0,0).to_pb()), pb.Comparator_type.LEQ, 1)"
                                  ".to_bx(manager)",
                                  "bx.or_s([x(0,0).to_bx()" + " for k in range(0, 1)" * 100000 + "])"])
def test_deep_texts_are_refused_not_crashed(text):
    with pytest.raises(ValueError, match="nesting too deep"):
        _encoder().add_constraint(text, "Foralls: {}")


def test_the_deepest_texts_taken_build_on_a_small_stack_and_one_level_more_is_refused(small_stack):
    # Each shape at the deepest nesting the reader takes, read, built and checked against a
    # witness in a thread of 256 KiB; one more level (or twice as many) is refused.
    out = small_stack("""
        import orbeny.trelle as tl

        def pb(term):
            return f"FormulaPB({term}, pb.Comparator_type.GEQ, -1).to_bx(manager)"

        shapes = [
            (lambda k: "~" * k + "x(0).to_bx()", 197),
            (lambda k: "~(" * k + "x(0).to_bx()" + ")" * k, 65),
            (lambda k: "bx.xor_s([x(1).to_bx(), " * k + "x(0).to_bx()" + "])" * k, 49),
            (lambda k: "bx.ite_s(x(1).to_bx(), " * k + "x(0).to_bx()" + ", x(2).to_bx())" * k, 98),
            (lambda k: "x(" + "(" * k + "0" + ")" * k + ").to_bx()", 98),
            (lambda k: "x(" + "1 ** " * k + "0).to_bx()", 197),
            (lambda k: pb("1 * " * k + "x(0).to_pb()"), 198),
            (lambda k: pb("x(1).to_pb() - (" * k + "x(0).to_pb()" + ")" * k), 97),
            (lambda k: "bx.and_s([" * k + pb("x(0).to_pb() + x(1).to_pb()") + "])" * k, 48),
            (lambda k: "bx.or_s([x(0).to_bx()" + " for k in range(0, 1)" * k + "])", 196),
        ]

        def main():
            for make, deepest in shapes:
                encoder = tl.manager().create_formula_encoder("m")
                encoder.create_variables("x", [3])
                for k in (deepest + 1, 2 * deepest):
                    try:
                        encoder.add_constraint(make(k), "Foralls: {}")
                    except ValueError as error:
                        assert "nesting too deep (more than 200 levels)" in str(error), error
                    else:
                        raise AssertionError(f"{k} levels taken")
                encoder.add_constraint(make(deepest), "Foralls: {}")
                encoder.add_soft_constraint("x(1).to_pb() - (" * 98 + "x(0).to_pb()" + ")" * 98, "Foralls: {}", 1, True)
                encoder.generate_cnf()
                count = encoder.get_cnf_storage().get_variable_count()
                encoder.set_another_witness([1, 2, 3] + [-v for v in range(4, count + 1)])
                print(encoder.check_another_witness() is not None, end=" ")
        """)
    assert out == "True " * 10


def _index_texts():
    leaves = st.one_of(st.sampled_from(["i", "j", "True"]), st.integers(0, 4).map(str))

    def grow(inner):
        return st.one_of(
            st.tuples(inner, st.sampled_from([" + ", " - ", " * "]), inner).map("".join),
            st.tuples(inner, st.integers(0, 2).map(str)).map(lambda t: f"{t[0]} ** {t[1]}"),
            inner.map(lambda t: f"-{t}"),
            inner.map(lambda t: f"({t})"),
        )

    return st.recursive(leaves, grow, max_leaves=6)



@settings(max_examples=150)
@given(_index_texts())
def test_index_arithmetic_reads_as_the_host_reads_it(text):
    # The host's own reading of the same text is the oracle.
    expected = {(i, j): eval(text, {"__builtins__": {}}, {"i": i, "j": j}) for i in range(2) for j in range(3)}
    encoder = tl.manager().create_formula_encoder("m")
    encoder.create_variables("x", [50])
    def add():
        encoder.add_constraint(f"x({text}).to_bx()", "Foralls: {'i': range(0, 2), 'j': [0, 1, 2]}")

    if not all(0 <= value < 50 for value in expected.values()):
        with pytest.raises(IndexError, match="out of the range 0..49"):
            add()
        return
    add()
    encoder.generate_cnf()
    assert _clauses(encoder.get_cnf_storage()) == [[1 + expected[i, j]] for i in range(2) for j in range(3)]


BIG = 2**63 - 1  # the largest integer of 64 bits


@pytest.mark.parametrize("foralls, clauses", [
    (f"Foralls: {{'i': range({BIG - 1}, {BIG}, {BIG})}}", 1),  # the step past the stop overflows
    (f"Foralls: {{'i': range(-{BIG}, {BIG}, {BIG - 1})}}", 3),  # i * step overflows, the values do not
    (f"Foralls: {{'i': range(0, {BIG})}}", ValueError("more than 2147483648 values at position 15")),
    ("Foralls: {'i': range(0, 100000), 'j': range(0, 100000)}",
     ValueError("would take 10000000000 instances, more than the 2147483648 that one constraint may take")),
])
def test_huge_foralls_are_counted_not_expanded(foralls, clauses):
    encoder = _encoder()
    if isinstance(clauses, Exception):
        with pytest.raises(type(clauses), match=f"constraint 'x.0,0..to_bx..'.*{clauses}"):
            encoder.add_constraint("x(0,0).to_bx()", foralls)
        clauses = 0
    else:
        encoder.add_constraint("x(0,0).to_bx()", foralls)
    encoder.generate_cnf()
    assert encoder.get_cnf_storage().get_clause_count() == clauses
    # A range that the text alone fixes is refused when it is added, one that a forall sets when it runs.
    with pytest.raises(ValueError, match="would take 6148914691236517205 combinations"):
        encoder.add_constraint(f"bx.or_s([x(0,0).to_bx() for j in range(-{BIG}, {BIG}, 3)])", "Foralls: {}")
    encoder.add_constraint(f"bx.or_s([x(0,0).to_bx() for j in range(-{BIG}, {BIG} * i, 3)])", "Foralls: {'i': [1]}")
    with pytest.raises(ValueError, match="comprehension's range has more than 2147483648 values"):
        encoder.generate_cnf()


def test_metrics_file_names_are_taken_as_open_takes_them(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    encoder = _encoder(ROW)
    encoder.generate_cnf()
    encoder.save_metrics_json(b"b.json")
    encoder.save_metrics_csv(tmp_path / "p.csv")
    for bad in ["a\0b", b"c\0"]:
        with pytest.raises(ValueError, match="NUL"):
            encoder.save_metrics_json(bad)
    assert sorted(p.name for p in tmp_path.iterdir()) == ["b.json", "p.csv"]


@pytest.mark.parametrize("text", [
    "FormulaPB(Sum(*[x(j).to_pb() for j in range(0, 40)]), pb.Comparator_type.LEQ, 3).to_bx(manager)",
    "bx.eq_s([x(0).to_bx(), bx.xor_s([x(j).to_bx() for j in range(0, 40)])])",
])
def test_auxiliaries_past_the_last_variable_number_are_refused(text):
    encoder = tl.manager().create_formula_encoder("m")
    encoder.create_variables("x", [2**31 - 8])
    with pytest.raises(OverflowError, match="variable y does not fit"):
        encoder.create_variables("y", [8])
    encoder.add_constraint(text, "Foralls: {}")
    with pytest.raises(OverflowError, match="constraint .*too many variables for variable numbers"):
        encoder.generate_cnf()


def test_mapping_names_every_auxiliary_once_when_instances_differ():
    encoder = tl.manager().create_formula_encoder("m")
    encoder.create_variables("x", [1, 6])
    # rows of 0, 1 or 6 cells: only the long ones need auxiliaries
    encoder.add_constraint("FormulaPB(Sum(*[x(0,j).to_pb() for j in range(0, i)]), "
                           "pb.Comparator_type.LEQ, 2).to_bx(manager)", "Foralls: {'i': [0, 1, 1, 6, 0, 6, 6, 1]}")
    encoder.generate_cnf()
    keys = encoder.get_var_mapping().get_var_map()
    assert sorted(keys.values()) == list(range(1, encoder.get_cnf_storage().get_variable_count() + 1))
    instances = [int(k.split(",")[1]) for k in keys if k.startswith("_pbct_aux")]
    assert sorted(set(instances)) == [3, 5, 6] and instances == sorted(instances)
    encoder.create_variables("y", [3])  # takes the numbers the auxiliaries had
    numbers = list(encoder.get_var_mapping().get_var_map().values())
    assert len(numbers) == len(set(numbers)) == 9


ONES = "bx.and_s([bx.one() for j in range(0, {}) for k in range(0, {})])"


FIXED = "combinations of values in the comprehension loops of one instance .the product of their ranges., more than"


@pytest.mark.parametrize("text, foralls, message, at_once", [
    # loops over ranges that the text fixes: refused when the constraint is added
    (ONES.format(2 * 10**9, 2 * 10**9), "{}", f"would take 4000000000000000000 {FIXED} the 1000000", True),
    ("FormulaPB(Sum(*[x(0,0).to_pb() for j in range(0, 2000000000) for k in range(0, 2000000000)]), "
     "pb.Comparator_type.LEQ, 1).to_bx(manager)", "{}", f"would take 4000000000000000000 {FIXED}", True),
    # loops of nested comprehensions multiply too
    ("bx.and_s([bx.or_s([bx.one() for k in range(0, 2000)]) for j in range(0, 1000)])", "{}", "would take 2000000",
     True),
    (ONES.format(1000, 1000), "{'i': range(0, 3000)}",
     "would take 3000000000 combinations of values in the comprehension loops of its 3000 instances", True),
    # loops whose ranges a forall or an outer loop sets: refused as they run
    ("bx.and_s([bx.one() for j in range(0, 3000) for k in range(0, j * j)])", "{}", "would take", False),
    (ONES.format(1000, "1000 * i"), "{'i': range(0, 3000)}", "over all 3000 instances would take more than 2147483648",
     False),
    # side by side, each under the cap: counted as they go
    ("bx.and_s([bx.and_s([bx.one() for j in range(0, 800000)]), bx.and_s([bx.one() for k in range(0, 800000)])])",
     "{}", "of one instance take more than 1000000 combinations", False),
])
def test_loop_work_is_refused_before_it_is_done(text, foralls, message, at_once):
    encoder = _encoder()
    if at_once:
        with pytest.raises(ValueError, match=message):
            encoder.add_constraint(text, "Foralls: " + foralls)
        assert encoder._model.constraint_texts == []
    else:
        encoder.add_constraint(text, "Foralls: " + foralls)
        with pytest.raises(ValueError, match=message):
            encoder.generate_cnf()
    # at the cap, taken; with no instance, no loop runs
    encoder.reset()
    encoder.create_variables("x", [2, 3])
    encoder.add_constraint(ONES.format(1000, 1000), "Foralls: {'i': range(0, 2)}")
    encoder.add_constraint(ONES.format(2 * 10**9, 2 * 10**9), "Foralls: {'i': range(0, 0)}")
    encoder.generate_cnf()
    assert encoder.get_cnf_storage().get_clause_count() == 0


def _latency_of_ctrl_c(call):
    """Seconds from an interrupt 50 ms into `call` to its KeyboardInterrupt. The interrupt comes
    from an OS timer, as Ctrl-C comes from the terminal: a timer thread would wait for the
    interpreter lock that the engine holds."""
    import signal
    import time

    fired = []

    def interrupt(*_):
        fired.append(time.perf_counter())
        raise KeyboardInterrupt

    previous = signal.signal(signal.SIGALRM, interrupt)
    try:
        began = time.perf_counter()
        signal.setitimer(signal.ITIMER_REAL, 0.05)
        with pytest.raises(KeyboardInterrupt):
            call()
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    # The handler runs when the engine asks for it: late when the engine does not ask.
    return fired[0] - (began + 0.05)


def test_ctrl_c_stops_long_instances_and_a_long_mapping():
    # 2000 instances of 10^6 loop values each, and a mapping of 10^7 cells: seconds when not stopped
    encoder = _encoder()
    encoder.add_constraint(ONES.format(1000, 1000), "Foralls: {'i': range(0, 2000)}")
    assert _latency_of_ctrl_c(encoder.generate_cnf) < 0.1
    assert encoder.get_cnf_storage() is None
    encoder.reset()
    encoder.create_variables("x", [10**7])
    assert _latency_of_ctrl_c(encoder.get_var_mapping) < 0.1


def test_misused_formula_model_raises_instead_of_crashing():
    from orbeny.trelle._engine import fenc

    model, other = fenc.formula_model(), fenc.formula_model()
    for m in (model, other):
        m.declare("x", [3])
    read = model.read("x(2).to_bx()", "Foralls: {}", 0)
    model.add(read)
    misuses = [
        lambda: model.add(read),  # added twice: it was left empty
        lambda: other.add(model.read("x(2).to_bx()", "Foralls: {}", 0)),
    ]
    stale = model.read("x(1).to_bx()", "Foralls: {}", 0)
    misuses.append(lambda: (model.clear(), model.add(stale)))
    for misuse in misuses:
        with pytest.raises(ValueError, match="already been added|read on another model"):
            misuse()
    model.declare("x", [3])
    storage = tl.wcnf_storage()
    model.add(model.read("x(1).to_bx()", "Foralls: {}", 0))
    model.generate(storage, "m")
    assert storage.get_clauses() == [[2]]


@pytest.mark.parametrize("text, foralls, shown, position", [
    ("x(0,0).to_bx()\0 | x(1,0)", "Foralls: {}", "'x(0,0).to_bx()\\x00 | x(1,0)'", 14),
    ("x(i,0).to_bx()", "Foralls: {'i'\0: [0]}", "'Foralls: {'i'\\x00: [0]}'", 13),
])
def test_a_nul_is_shown_escaped_and_the_position_kept(text, foralls, shown, position):
    with pytest.raises(ValueError, match=re.escape(shown) + f".* at position {position}$"):
        _encoder().add_constraint(text, foralls)


@pytest.mark.parametrize("text, foralls, position", [
    ("x(i,0).to_bx()", "Foralls: {'i': [9223372036854775808]}", 16),
    ("x(i,0).to_bx()", "Foralls: {'i': [-9223372036854775809]}", 17),
    ("x(i,0).to_bx()", "Foralls: {'i': range(0, 99999999999999999999)}", 24),
    ("x(i,0).to_bx()", "Foralls: {'i': range(0, 9223372036854775809)}", 24),  # a stop may be one past
    ("x(i,0).to_bx()", "Foralls: {'i': range(0, -9223372036854775810, -1)}", 25),
    ("x(18446744073709551616,0).to_bx()", "Foralls: {}", 2),
    ("x(9223372036854775808 - 1,0).to_bx()", "Foralls: {}", 2),  # 2^63 fits with a minus only
    ("x(--9223372036854775809,0).to_bx()", "Foralls: {}", 4),
])
def test_literals_past_64_bits_are_too_large(text, foralls, position):
    with pytest.raises(ValueError, match=f"integer too large at position {position}$"):
        _encoder().add_constraint(text, foralls)


def test_target_value_past_64_bits_is_exact(tmp_path):
    encoder = _encoder()
    encoder.add_target("Sum(*[4611686018427387904 * (x(0,j).to_pb()) for j in range(0, 3)])")
    encoder.add_constraint("x(0,0).to_bx()", "Foralls: {}")
    encoder.generate_cnf()
    encoder.set_witness([1, 2, 3, -4, -5, -6])
    encoder.save_metrics_json(tmp_path / "m.json")
    [witness] = json.loads((tmp_path / "m.json").read_text())["witnesses"]
    assert witness["target_value"] == 3 * 2**62 and witness["valid"]


def _generated(text, foralls="Foralls: {}", sizes=(4,)):
    encoder = tl.manager().create_formula_encoder("m")
    encoder.create_variables("x", list(sizes))
    encoder.add_constraint(text, foralls)
    encoder.generate_cnf()
    return encoder


def _cell_models(clauses, cells):
    """The assignments of cells 1..cells that extend to a model of `clauses`."""
    with Solver(name="g3", bootstrap_with=clauses) as solver:
        return {bits for bits in itertools.product([False, True], repeat=cells)
                if solver.solve(assumptions=[v if b else -v for v, b in enumerate(bits, 1)])}


X = [f"x({k}).to_bx()" for k in range(4)]
PAIRS = "Sum(*[x(i + j).to_pb() for j in range(0, 2)])"


@pytest.mark.parametrize("text, foralls, clauses", [
    (f"bx.impl_s({X[0]}, {X[1]})", "", [[-1, 2]]),
    (f"bx.impl_s(~{X[0]}, ~{X[1]})", "", [[1, -2]]),
    (f"bx.impl_s({X[0]}, bx.or_s([{X[1]}, ~{X[2]}]))", "", [[-1, 2, -3]]),
    (f"bx.or_s([{X[0]}, bx.zero(), ~{X[1]}])", "", [[1, -2]]),
    (f"bx.or_s([{X[0]}, bx.one(), ~{X[1]}])", "", []),
    (f"bx.or_s([bx.one(), {X[0]}])", "", []),
    ("bx.zero()", "", [[]]),
    ("bx.one()", "", []),
    ("x(i)", "'i': [2, 0]", [[3], [1]]),
    ("~x(i).to_bx()", "'i': (3,)", [[-4]]),
    (f"bx.and_s([{X[0]}, bx.or_s([~{X[1]}, {X[2]}]), bx.impl_s({X[3]}, {X[0]})])", "", [[1], [-2, 3], [-4, 1]]),
    ("bx.or_s([x(j).to_bx() for j in range(3)])", "", [[1, 2, 3]]),
    ("bx.or_s([x(j).to_bx() for j in range(1, 4, 2)])", "", [[2, 4]]),
    ("bx.or_s([x(j).to_bx() for j in range(3, 0, -2)])", "", [[4, 2]]),
    ("bx.or_s([x(j).to_bx() for j in [2, 0]])", "", [[3, 1]]),
    ("bx.or_s([x(i + 2 * j).to_bx() for i in range(2) for j in range(2)])", "", [[1, 3, 2, 4]]),
    ("bx.or_s([x(j).to_bx() for j in range(0, 0)])", "", [[]]),
    ("bx.and_s([x(j).to_bx() for j in range(0, 0)])", "", []),
    ("x(i)", "'i': range(0, 0)", []),
    ("x(i)", "'i': range(3, 0, -2)", [[4], [2]]),
    ("x(i)", "'i': range(2, 2, -2)", []),
    ("x(i)", "'i': ()", []),
    ("bx.and_s([x(j).to_bx() for j in range(1, 1, -3)])", "", []),
    # the comparisons of every instance, and only of that instance
    (_pb(PAIRS, "LEQ", 1), "'i': range(0, 3)", [[-1, -2], [-2, -3], [-3, -4]]),
    (_pb(PAIRS, "GEQ", 1), "'i': range(3)", [[1, 2], [2, 3], [3, 4]]),
    (_pb("x(i)", "BOTH", 1), "'i': range(3, 0, -2)", [[4], [2]]),
    # integers of 64 bits in every place, those just past 2^62 too
    ("x(4611686018427387909 - 4611686018427387908)", "", [[2]]),
    ("x(5100000000000000000 - 5099999999999999999)", "", [[2]]),
    ("x(i - 9223372036854775806)", "'i': [9223372036854775807, 9223372036854775806]", [[2], [1]]),
    ("x(i + 9223372036854775807 + 1)", "'i': (-9223372036854775808,)", [[1]]),
    ("x(i - 4700000000000000000)", "'i': range(4700000000000000003, 4700000000000000000, -2)", [[4], [2]]),
    ("x(i - -9223372036854775808)", "'i': range(-9223372036854775808, -9223372036854775806)", [[1], [2]]),
    ("x(i - 9223372036854775805)", "'i': range(9223372036854775805, 9223372036854775808)", [[1], [2], [3]]),
    ("x(-9223372036854775806 - i)", "'i': range(-9223372036854775806, -9223372036854775809, -1)",
     [[1], [2], [3]]),
    ("bx.or_s([x(j - 9223372036854775805).to_bx() for j in range(9223372036854775805, 9223372036854775807)])",
     "", [[1, 2]]),
    ("bx.or_s([x(-4611686018427387910 - j).to_bx() for j in [-4611686018427387911, -4611686018427387913]])",
     "", [[2, 4]]),
    (_pb("9223372036854775807 * x(0).to_pb() + 5000000000000000000 * x(1).to_pb()", "LEQ", 9223372036854775807), "",
     [[-1, -2]]),
    (_pb("-9223372036854775808 * x(0).to_pb() - 9223372036854775807 * x(1).to_pb()", "GEQ", -9223372036854775808),
     "", [[-1, -2]]),
    (_pb("4611686018427387905 * x(0).to_pb() + 4611686018427387905 * x(0).to_pb()", "LEQ", 4611686018427387905), "",
     [[-1]]),
    (_pb("Sum(*[9223372036854775807 * (x(j).to_pb()) for j in range(0, 4)])", "GEQ", -9223372036854775808), "", []),
    (_pb("x(0)", "LEQ", 9223372036854775807), "", []),
    ("x(+1)", "", [[2]]),
    ("x(2 ** 40 - 2 ** 40 + 3 ** 0)", "", [[2]]),
    ("~" * 197 + "x(0).to_bx()", "", [[-1]]),  # the deepest nesting taken
    ("bx.or_s([x(jÀ).to_bx() for jÀ in range(3)])", "", [[1, 2, 3]]),
    ("bx.or_s([x(0).to_bx(),\n\tx(1).to_bx()\r])", "", [[1, 2]]),
    (f"bx.and_s([{X[0]}, {_pb('x(1)', 'LEQ', 0)}])", "", [[1], [-2]]),
])
def test_exact_clauses(text, foralls, clauses, caplog):
    encoder = _generated(text, "Foralls: {" + foralls + "}")
    assert _clauses(encoder.get_cnf_storage()) == clauses
    assert ("can never hold" in caplog.text) == ([] in clauses)
    # The work rule never plans more than the instances write.
    read = encoder._model.read(text, "Foralls: {" + foralls + "}", 0)
    least_clauses, least_literals = read.least_output
    assert least_clauses * read.instances <= len(clauses)
    assert least_literals * read.instances <= sum(map(len, clauses))


AMO = _pb("Sum(*[x(j).to_pb() for j in range(0, 6)])", "LEQ", 2)
XOR = "bx.xor_s([x(j).to_bx() for j in range(0, 4)])"


@pytest.mark.parametrize("text, holds", [
    (f"bx.impl_s(bx.and_s([{X[0]}, {X[1]}]), {X[2]})", lambda x: not (x[0] and x[1]) or x[2]),
    (f"bx.impl_s(bx.or_s([{X[0]}, ~{X[1]}]), bx.and_s([{X[2]}, ~{X[3]}]))",
     lambda x: not (x[0] or not x[1]) or (x[2] and not x[3])),
    (f"bx.impl_s({X[0]}, bx.xor_s([{X[1]}, {X[2]}]))", lambda x: not x[0] or x[1] != x[2]),
    (f"bx.or_s([bx.zero(), bx.and_s([{X[0]}, {X[1]}]), {X[2]}])", lambda x: (x[0] and x[1]) or x[2]),
    (f"bx.or_s([bx.one(), bx.and_s([{X[0]}, {X[1]}])])", lambda x: True),
    (f"bx.eq_s([{X[0]}, ~{X[1]}, {X[2]}])", lambda x: x[0] == (not x[1]) == x[2]),
    (f"bx.ite_s({X[0]}, {X[1]}, bx.xor_s([{X[2]}, {X[3]}, x(4).to_bx()]))",
     lambda x: x[1] if x[0] else x[2] ^ x[3] ^ x[4]),
    (f"bx.or_s([{X[0]}, ~{_pb('x(1).to_pb() - 2 * x(2).to_pb() + 3 * x(3).to_pb()', 'GEQ', 1)}])",
     lambda x: x[0] or x[1] - 2 * x[2] + 3 * x[3] < 1),
    (f"bx.xor_s([{X[0]}, {_pb('Sum(*[x(j).to_pb() for j in range(1, 6)])', 'BOTH', 2)}])",
     lambda x: x[0] != (sum(x[1:]) == 2)),
    (f"bx.and_s([{_pb('Sum(*[(j + 1) * x(j).to_pb() for j in range(0, 6)])', 'LEQ', 7)}, bx.one()])",
     lambda x: sum((j + 1) * x[j] for j in range(6)) <= 7),
    (f"bx.and_s([bx.xor_s([{X[0]}, {X[1]}]), bx.eq_s([{X[2]}, {X[3]}])])", lambda x: x[0] != x[1] and x[2] == x[3]),
    # one instance with auxiliaries of both kinds
    (f"bx.and_s([{AMO}, {XOR}])", lambda x: sum(x) <= 2 and sum(x[:4]) % 2 == 1),
])
def test_formulas_that_need_auxiliaries_have_their_models_and_check_witnesses(text, holds):
    encoder = _generated(text, sizes=(6,))
    storage = encoder.get_cnf_storage()
    assignments = list(itertools.product([False, True], repeat=6))
    assert _cell_models(_clauses(storage), 6) == {bits for bits in assignments if holds(bits)}
    # Witnesses are checked on the text itself, whatever their auxiliaries say.
    auxiliaries = [-v for v in range(7, storage.get_variable_count() + 1)]
    for bits in assignments:
        cells = [v if b else -v for v, b in enumerate(bits, 1)]
        encoder.set_witness([-cells[0]] + cells[1:] + auxiliaries)
        encoder.set_another_witness(cells + auxiliaries)
        assert encoder.check_another_witness() == bool(holds(bits)), bits


def _cut(text):
    """A constraint text as messages quote it: its first 200 characters, marked when cut."""
    return "'" + text[:200] + ("...'" if len(text) > 200 else "'")


@pytest.mark.parametrize("text, foralls, message", [
    ("bx.or_s([x(j).to_bx() for j in range(0, 3, 0)])", "", "step must not be zero"),
    ("x(4)", "", "takes the value 4, out of the range 0..3"),
    ("x(i)", "'i': [0, 4]", "takes the value 4, out of the range 0..3"),
    ("x(-1)", "", "takes the value -1"),
    ("x(2 ** -1)", "", "negative exponent"),
    ("x(2 ** 63 - 2 ** 63)", "", "overflow"),
    ("x(2 ** 62 * 2 - 1)", "", "overflow"),
    ("x(4611686018427387904 + 4611686018427387904 - 1)", "", "overflow"),
    ("x(0 - 4611686018427387904 - 4611686018427387904 - 1)", "", "overflow"),
    ("x(-(-(2 ** 62) * 2))", "", "overflow"),
    ("bx.and_s([x(j).to_bx() for j in range(10 ** 6)])", "", "takes the value 4"),
    ("x(5)" + " " * 300, "", "index 0 of variable x"),
    # too large to be read, never wrapped around to a small index
    ("x(9223372036854775808 - 9223372036854775807)", "", None),
    ("x(18446744073709551617)", "", None),
    ("x(i)", "'i': [18446744073709551617]", None),
])
def test_values_out_of_range_are_refused(text, foralls, message):
    encoder = tl.manager().create_formula_encoder("m")
    encoder.create_variables("x", [4])
    # A cell out of its variable's range is an IndexError, as on the container road.
    error = IndexError if message and ("takes the value" in message or "variable x" in message) else ValueError
    with pytest.raises(error, match=message) as refused:
        encoder.add_constraint(text, "Foralls: {" + foralls + "}")
        encoder.generate_cnf()
    assert f"constraint {_cut(text)}" in str(refused.value)


def test_instances_past_the_renewal_of_the_shared_boolean_context():
    # Prefixes of growing length: every instance has a shape of its own, so the context the
    # instances share fills up and is made anew several times.
    encoder = _generated("bx.xor_s([x(j).to_bx() for j in range(0, i)])", "Foralls: {'i': range(1, 161)}", (160,))
    with Solver(name="g3", bootstrap_with=_clauses(encoder.get_cnf_storage())) as solver:
        assert solver.solve() and [v for v in solver.get_model()[:160] if v > 0] == [1]
        solver.add_clause([-1] + list(range(2, 161)))
        assert not solver.solve()  # the only model


def test_cells_past_the_end_of_a_short_witness_read_false(tmp_path):
    encoder = tl.manager().create_formula_encoder("m")
    encoder.create_variables("x", [3])
    encoder.add_constraint("x(0)", "Foralls: {}")
    encoder.add_target("x(1).to_pb() + 2 * x(2).to_pb()")
    encoder.generate_cnf()
    encoder.set_witness([1])
    encoder.save_metrics_json(str(tmp_path / "m.json"))
    assert json.loads((tmp_path / "m.json").read_text())["witnesses"][0]["target_value"] == 0


def test_foralls_may_give_exactly_the_most_instances(needs_memory):
    needs_memory(12 * 2**30)  # 2**30 clauses of one literal
    encoder = _encoder()
    # A comparison may come to no clause: only the instances are counted here, not generated.
    text = "FormulaPB(Sum(*[x(0,0).to_pb()]), pb.Comparator_type.LEQ, 1).to_bx(manager)"
    for foralls in ["{'i': range(0, 2147483648)}", "{'i': range(0, 65536), 'j': range(0, 32768)}"]:
        encoder.add_constraint(text, "Foralls: " + foralls)
    # One clause each: more than DIMACS solvers read, alone or beside what the model took.
    with pytest.raises(ValueError, match="would take 2147483648 clauses, more than the 2147483647 that DIMACS"):
        encoder.add_constraint("x(0,0)", "Foralls: {'i': range(0, 2147483648)}")
    half = "Foralls: {'i': range(0, 1073741824)}"
    encoder.add_constraint("x(0,0)", half)
    with pytest.raises(ValueError, match="would bring the model to 2147483648 clauses"):
        encoder.add_constraint("x(0,1)", half)
    # One fewer: 2147483647 in all, as many as solvers read, taken for its clauses; refused only
    # where its memory, the first half copied as the storage grows included, cannot be had.
    try:
        encoder.add_constraint("x(0,1)", "Foralls: {'i': range(0, 1073741823)}")
    except ValueError as error:
        assert "would take at least 38654705652 bytes" in str(error)
    encoder.reset()  # and counts from nothing again
    encoder.create_variables("x", [2, 3])
    encoder.add_constraint("x(0,1)", half)


def test_a_text_whose_read_runs_out_of_memory_is_named(monkeypatch):
    encoder = _encoder("x(0,0)")

    class Exhausted:
        def read(self, *args):
            raise MemoryError("std::bad_alloc")

    model = encoder._model
    monkeypatch.setattr(encoder, "_model", Exhausted())
    with pytest.raises(MemoryError, match=(
            r"^constraint 'x\(1,2\)' over \{'i': range\(0, 3\)\}: ran out of memory reading its text of 6"
            r" characters, with the [0-9]+ bytes .* that this process can still get .* once the read let its"
            r" memory go$")):
        encoder.add_constraint("x(1,2)", "Foralls: {'i': range(0, 3)}")
    # The model took nothing of it.
    monkeypatch.setattr(encoder, "_model", model)
    encoder.generate_cnf()
    assert encoder.get_cnf_storage().get_clause_count() == 2


def test_a_fresh_model_has_no_numbering():
    assert tl.manager().create_formula_encoder("m").get_var_mapping() is None
    model = _fenc.formula_model()
    assert not model.generated and model.variable_count == 0
    with pytest.raises(ValueError, match="must not be negative"):
        model.declare("x", [2, -1])  # the engine refuses it too, not only the wrapper


def test_declarations_may_take_every_variable_number():
    encoder = tl.manager().create_formula_encoder("m")
    encoder.create_variables("x", [2**31 - 1])
    encoder = tl.manager().create_formula_encoder("m")
    encoder.create_variables("x", [2**31 - 2])
    encoder.create_variables("y", [1])
    with pytest.raises(OverflowError, match="variable z does not fit"):
        encoder.create_variables("z", [1])


def test_mapping_names_every_auxiliary_once(tmp_path):
    exactly_one = _pb("Sum(*[x(j).to_pb() for j in range(0, 5)])", "BOTH", 1)
    # (pseudo-Boolean, Tseytin) auxiliaries of each instance
    weighted = _pb("x(0).to_pb() + 2 * (x(1).to_pb()) + 3 * (x(2).to_pb())", "LEQ", 3)
    texts = {f"bx.and_s([{AMO}, {XOR}])": (8, 2), XOR: (0, 2), f"bx.and_s([{weighted}, {XOR}])": (2, 2),
             "bx.or_s([bx.and_s([x(0).to_bx(), x(1).to_bx()]), x(2).to_bx()])": (0, 1),
             f"bx.and_s([{exactly_one}, bx.xor_s([x(j).to_bx() for j in range(0, 5)])])": (0, 3),
             "x(0)": (0, 0), exactly_one: (0, 0)}
    encoder = tl.manager().create_formula_encoder("m")
    encoder.create_variables("x", [6])
    for text in texts:
        encoder.add_constraint(text, "Foralls: {'i': [0, 1]}")
    encoder.generate_cnf()
    keys = encoder.get_var_mapping().get_var_map()
    expected = [f"x[{k}]" for k in range(6)] + [
        f"{kind}[{f},{n},{k}]" for f, (pb, bx) in enumerate(texts.values()) for n in range(2)
        for kind, count in [("_pbct_aux", pb), ("_bxpr_aux", bx)] for k in range(count)]
    assert list(keys) == expected and list(keys.values()) == list(range(1, len(expected) + 1))
    storage = encoder.get_cnf_storage()
    assert storage.get_variable_count() == len(expected)
    assert {abs(v) for c in _clauses(storage) for v in c} == set(range(1, len(expected) + 1))
    encoder.save_metrics_json(str(tmp_path / "m.json"))
    rows = json.loads((tmp_path / "m.json").read_text())["constraints"]
    assert [row["auxiliary_variables"] for row in rows] == [2 * (pb + bx) for pb, bx in texts.values()]
    assert all(row["instances"] == 2 and row["seconds"] > 0 for row in rows)


@pytest.mark.parametrize("text, aux", [
    (AMO, 8), (XOR, 2), ("bx.xor_s([x(j).to_bx() for j in range(0, 3)])" + " " * 200, 1),  # a long text is cut
])
def test_auxiliaries_may_end_exactly_at_the_last_variable_number(text, aux):
    last = 2**31 - 1
    for spare, fits in [(0, True), (1, False)]:
        encoder = tl.manager().create_formula_encoder("m")
        encoder.create_variables("x", [6])
        encoder.create_variables("y", [last - 6 - aux + spare])
        encoder.add_constraint(text, "Foralls: {}")
        if fits:
            encoder.generate_cnf()
            storage = encoder.get_cnf_storage()
            assert storage.get_variable_count() == last
            assert max(abs(v) for c in _clauses(storage) for v in c) == last
        else:
            with pytest.raises(OverflowError, match=re.escape(f"constraint {_cut(text)}: too many variables")):
                encoder.generate_cnf()
