import itertools

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

import orbeny.trelle as tl
from orbeny.trelle import bxpr as bx
from zorv_encoder.core.formula_container import FormulaContainer
from zorv_encoder.encode.variables import Variable

bx2list_clauses = FormulaContainer._FormulaContainer__bx2list_clauses


def literal(context, text):
    if text.startswith("~"):
        return ~context.get_var(text[1:])
    return context.get_var(text)


def cnf(clauses):
    """A Tseytin result as the model hands it over: a conjunction of clauses over named variables."""
    context = bx.Context()
    return bx.and_([bx.or_s([literal(context, text) for text in clause]) for clause in clauses])


def table():
    """The model's variables: the placeholder at 0, then x over i of size 2 and j of size 3, so
    that x(i, j) = 1 + 3i + j; the running count is 7."""
    return {
        "dummy_var": Variable("dummy_var", {"d": 1}, 0),
        "x": Variable("x", {"i": 2, "j": 3}, 1),
    }


def stored(container):
    storage = container.cnf_storage()
    return list(zip(storage.get_clauses(), storage.get_clause_weights()))


def state(container):
    return (
        len(container._list_hard_constraint_dump_args),
        len(container._list_soft_constraint_dump_args),
        container._cur_init_shift_variable,
        container._num_formula,
        container._num_clauses,
        container._target_num_clauses,
        container.hard_weight,
        container.mapping,
        stored(container),
    )


@pytest.mark.parametrize(
    "clauses, template",
    [
        (
            [["x(i,j)", "~x(i,j + 1)"], ["~_bxpr_aux_2", "x(0,1)"], ["_pbct_aux_3"]],
            [["x(i,j)", "-x(i,j + 1)"], ["'~_bxpr_aux_2'", "x(0,1)"], ["'_pbct_aux_3'"]],
        ),
        ([["x(1,2)", "~y(0)"]], [["x(1,2)", "-y(0)"]]),
        ([["~x(1,2)"]], [["-x(1,2)"]]),
        ([["_bxpr_aux_0"]], [["'_bxpr_aux_0'"]]),
        # every "~" of a call's text turns, whatever the name holds
        ([["~a~(b)", "é"]], [["-a-(b)", "'é'"]]),
    ],
)
@pytest.mark.parametrize("alone", [False, True])
def test_clause_template_of_a_tseytin_result(clauses, template, alone):
    node = cnf(clauses)
    if alone and len(clauses) == 1:
        # a single clause, or a single literal, stands for the whole conjunction
        node = node.get_args()[0]
    assert bx2list_clauses(node) == template


@pytest.mark.parametrize("name", ["x", "ξ"])  # the engine keys ASCII names; the others are a plain map
def test_new_container_holds_the_model_variables(name):
    container = FormulaContainer({"dummy_var": table()["dummy_var"], name: Variable(name, {"i": 2, "j": 3}, 1)}, 7)
    assert list(container.mapping.items()) == [
        ("dummy_var[0]", 0), (f"{name}[0,0]", 1), (f"{name}[0,1]", 2), (f"{name}[0,2]", 3),
        (f"{name}[1,0]", 4), (f"{name}[1,1]", 5), (f"{name}[1,2]", 6),
    ]  # fmt: skip
    assert container.num_clauses == 0
    assert container.cnf_storage() is container.cnf_storage()
    assert stored(container) == []
    container.mapping.clear()
    assert len(container.mapping) == 7


# Hard A: 2 instances of 3 clauses, 1 pseudo-Boolean and 2 Tseytin auxiliaries; hard B: no
# forall, 2 clauses, 1 Tseytin auxiliary; target T: 4 clauses, 2 and 3 auxiliaries.
A = ([["x(i,0)", "_pbct_aux_0"], ["~_bxpr_aux_0", "x(i,1)"], ["_bxpr_aux_1"]], {"i": [0, 1]}, 1, 2)
A_CLAUSES = [[1, 7], [2, -8], [9], [4, 10], [5, -11], [12]]
B = ([["x(1,1)", "~_bxpr_aux_0"], ["x(1,2)"]], {}, 0, 1)
B_CLAUSES = [[5, -13], [6]]
T = ([["_pbct_aux_0", "_pbct_aux_1"], ["_bxpr_aux_0"], ["_bxpr_aux_2", "~x(0,2)"], ["x(0,0)"]], {}, 2, 3)
T_CLAUSES = [[14, 15], [16], [-3, 18], [1]]


def add(container, kind, formula, weights=None):
    template, foralls, pb, bxs = formula
    if kind == "hard":
        container.add_hard_constraint(cnf(template), foralls, pb, bxs)
    elif kind == "soft":
        container.add_soft_formula(cnf(template), weights, foralls, pb, bxs)
    else:
        container.add_target_constraint(cnf(template), foralls, pb, bxs)


def test_worked_cnf_sequence_stores_a_t_b():
    container = FormulaContainer(table(), 7)
    steps = [
        # merged so far, pending hard, running offset, formulas, clauses, target clauses
        ("hard", A, [], 1, 13, 1, 6, 0),
        ("hard", B, A_CLAUSES, 1, 14, 2, 8, 0),
        ("target", T, A_CLAUSES + T_CLAUSES, 1, 14, 2, 8, 4),
    ]
    for kind, formula, merged, pending, offset, formulas, clauses, target in steps:
        add(container, kind, formula)
        assert [lits for lits, _ in stored(container)] == merged
        assert state(container)[:6] == (pending, 0, offset, formulas, clauses, target)
    for _ in range(2):
        container.build_cnf_formula("model")
        storage = container.cnf_storage()
        assert storage.get_clauses() == A_CLAUSES + T_CLAUSES + B_CLAUSES
        assert (storage.get_model_name(), storage.get_variable_count(), storage.get_clause_count()) == (
            "model",
            18,
            12,
        )
    assert list(container.mapping.items())[7:] == [
        ("_pbct_aux[0,0,0]", 7), ("_bxpr_aux[0,0,0]", 8), ("_bxpr_aux[0,0,1]", 9),
        ("_pbct_aux[0,1,0]", 10), ("_bxpr_aux[0,1,0]", 11), ("_bxpr_aux[0,1,1]", 12),
        ("_pbct_aux[2,0,0]", 14), ("_pbct_aux[2,0,1]", 15),
        ("_bxpr_aux[2,0,0]", 16), ("_bxpr_aux[2,0,2]", 18),
        ("_bxpr_aux[1,0,0]", 13),
    ]  # fmt: skip


# Soft S1: weights 2 and 3 over 4 instances (j is not used); soft S2: one clause of weight 7.
S1 = ([["x(i,0)"], ["~x(i,1)"]], {"i": range(2), "j": range(2)}, 0, 0)
S1_CLAUSES = [([1], 2), ([-2], 3)] * 2 + [([4], 2), ([-5], 3)] * 2
S2 = ([["x(0,0)"]], {}, 0, 0)


def test_worked_wcnf_sequence_stores_a_s1_b_s2():
    container = FormulaContainer(table(), 7)
    add(container, "hard", A)
    add(container, "hard", B)
    add(container, "soft", S1, [2, 3])
    assert len(container._list_hard_constraint_dump_args) == 1
    add(container, "soft", S2, [7])
    container.build_wcnf_formula("weighted")
    hard = [(clause, 0) for clause in A_CLAUSES + B_CLAUSES]
    assert stored(container) == hard[:6] + S1_CLAUSES + hard[6:] + [([1], 7)]
    storage = container.cnf_storage()
    # The weight limit counts every instance: S1's weights 2 and 3 four times.
    assert (storage.get_clause_count(), storage.get_weight_limit()) == (6 + 2 + 8 + 1, 1 + 4 * 5 + 7)
    assert storage.get_weight_limit() == 1 + sum(weight for _, weight in stored(container))


def test_formula_without_instances_waits_for_the_next_dump():
    container = FormulaContainer(table(), 7)
    add(container, "hard", (A[0], {"i": [0, 1], "j": []}, 1, 2))
    add(container, "hard", B)
    assert state(container)[:5] == (2, 0, 8, 2, 2)
    container.build_cnf_formula("model")
    assert [lits for lits, _ in stored(container)] == [[5, -7], [6]]
    assert len(container._mappings) == 2 + 1


def test_a_dump_refused_at_its_merge_is_written_by_the_next_build():
    container = FormulaContainer(table(), 7)
    add(container, "hard", A)
    storage, before = container._cnf_stor, state(container)

    class Refusing:
        def __getattr__(self, name):
            return getattr(storage, name)

        def merge(self, staged):
            raise RuntimeError("refused")

    container._cnf_stor = Refusing()
    with pytest.raises(RuntimeError, match="refused"):
        container.build_cnf_formula("model")
    container._cnf_stor = storage
    assert state(container) == before
    container.build_cnf_formula("model")
    assert [lits for lits, _ in stored(container)] == A_CLAUSES


def test_reservations_cover_every_instance():
    container = FormulaContainer(table(), 7)
    template = [["x(0,0)", "_pbct_aux_0"], ["_bxpr_aux_0"], ["_bxpr_aux_1"], ["x(1,1)"]]
    add(container, "hard", (template, {"i": range(3), "j": range(2)}, 1, 2))
    assert state(container)[2:5] == (7 + 18, 1, 24)


def test_reset_target_keeps_the_built_storage():
    container = FormulaContainer(table(), 7)
    add(container, "hard", A)
    add(container, "hard", B)
    add(container, "target", T)
    container.build_cnf_formula("model")
    storage, mapping = container.cnf_storage(), container.mapping
    assert container.reset_target() is None
    assert container.cnf_storage() is storage
    assert storage.get_clauses() == A_CLAUSES + T_CLAUSES + B_CLAUSES
    assert container.mapping == mapping


# A tighter border gives another target: 3 clauses with 1 and 1 auxiliaries.
T2 = ([["_pbct_aux_0", "~x(1,2)"], ["_bxpr_aux_0"], ["~x(0,1)", "~_bxpr_aux_0"]], {}, 1, 1)


def tables(mapping):
    interpreter = tl.witness_interpreter()
    interpreter.set_var_mapping(mapping)
    interpreter.set_auxiliary_vars(["_bxpr_aux", "_pbct_aux"])
    assert interpreter.build_mapping_tables(True)
    return {name: numbers.tolist() for name, numbers in interpreter.get_mapping_tables().items()}


# None stands for a target that always holds (no clauses), B for a hard constraint added after a
# target, "edit" for a caller changing the mapping handed over by the last build.
@pytest.mark.parametrize(
    "targets", [[T, T2], [T2, T, T2], [T2, T2], [T, None], [None, T], [T, None, T2], [T, B, T2], [T, "edit", T2]]
)
def test_a_new_target_replaces_the_previous_one(targets):
    built = FormulaContainer(table(), 7)
    add(built, "hard", A)
    add(built, "hard", B)
    first = built.cnf_storage()
    for target in targets:
        if target is None:
            built.clear_target()
        elif target is B:
            add(built, "hard", B)
        elif target == "edit":
            handed.set_var_map({"x[0,0]": 5})
            continue
        else:
            add(built, "target", target)
        built.build_cnf_formula("model")
        built.reset_target()
        # The engine's mapping may lend its keys to the next one: it must stay the merged mapping.
        handed = built.engine_mapping()
        assert list(handed.get_var_map().items()) == list(built.mapping.items())
        reference = tl.var_mapping()
        reference.set_var_map(built.mapping)
        assert tables(handed) == tables(reference)
    assert built.cnf_storage() is first
    if B in targets:
        return
    fresh = FormulaContainer(table(), 7)
    add(fresh, "hard", A)
    add(fresh, "hard", B)
    if targets[-1] is not None:
        add(fresh, "target", targets[-1])
    fresh.build_cnf_formula("model")
    assert list(built.mapping.items()) == list(fresh.mapping.items())
    assert stored(built) == stored(fresh)
    storage = built.cnf_storage()
    assert storage.get_clause_count() == len(storage.get_clauses())
    assert storage.get_variable_count() == fresh.cnf_storage().get_variable_count()


@pytest.mark.parametrize("weights", [[0, 3], (0, 3)])  # a list of ints is checked on a road of its own
def test_soft_clauses_of_weight_zero_are_left_out(weights):
    container = FormulaContainer(table(), 7)
    add(container, "soft", S1, weights)
    assert container.num_clauses == 4
    container.build_wcnf_formula("weighted")
    assert stored(container) == [([-2], 3), ([-2], 3), ([-5], 3), ([-5], 3)]
    assert (container.cnf_storage().get_clause_count(), container.hard_weight) == (4, 1 + 4 * 3)


@pytest.mark.parametrize(
    "template, foralls, error",
    [
        ([["y(i,0)"]], {"i": [0]}, NameError),
        ([["x(k,0)"]], {"i": [0]}, NameError),
        # Index arithmetic alone: no call, attribute or other constant is evaluated.
        ([["x(len(i),0)"]], {"i": [0]}, ValueError),
        ([["x(i.real,0)"]], {"i": [0]}, ValueError),
        ([["x(i)"]], {"i": [0]}, TypeError),
        ([["x(i,0,0)"]], {"i": [0]}, TypeError),
        ([["x(i + 1,0)"]], {"i": range(2)}, IndexError),
        ([["x(i - 1,0)"]], {"i": [1, 0]}, IndexError),
        ([["x(0,2 * i)"]], {"i": (0, 2)}, IndexError),
        ([["x(0,i + j)"]], {"i": range(2), "j": range(2, 0, -1)}, IndexError),
        ([["x(0,i + 0.5)"]], {"i": [0]}, ValueError),
        ([["x(2,0)"]], {}, IndexError),
        ([["'foo'"]], {}, ValueError),
        ([["x(x,0)"]], {"x": [0]}, ValueError),
        ([["x(0,0)"]], {"1i": [0]}, ValueError),
        ([["x(0,0)"]], {"for": [0]}, ValueError),
        ([["x(0,0)"]], {"range": range(1)}, ValueError),
        ([["x(0,i)"]], {"i": (value for value in [0])}, TypeError),
        ([["x(0,i)"]], {"i": [0.0]}, TypeError),
        ([["x(0,i)"]], {"i": "01"}, TypeError),
        ([["x(0,i)"]], {"i": np.zeros((1, 1), dtype=int)}, TypeError),
        # more clauses than DIMACS solvers read, refused before any work (10^10 instances took
        # all the memory the engine could reserve)
        ([["x(0,0)", "x(1,1)"]], {"i": range(10**5), "j": range(10**5)}, ValueError),
        ([["x(0,0)"], ["x(1,1)"], ["x(0,1)"]], {"i": range(10**9)}, ValueError),
    ],
)
@pytest.mark.parametrize("kind", ["hard", "soft", "target"])
def test_a_constraint_that_cannot_be_instantiated_fails_when_added(template, foralls, error, kind):
    container = FormulaContainer(table(), 7)
    add(container, "hard", A)
    add(container, "soft", S2, [7])
    before = state(container)
    with pytest.raises(error):
        add(container, kind, (template, foralls, 0, 0), [1] * len(template))
    assert state(container) == before
    add(container, "hard", B)
    container.build_wcnf_formula("weighted")
    assert [lits for lits, _ in stored(container)] == A_CLAUSES + B_CLAUSES + [[1]]


def test_refused_work_names_its_least_size_and_its_limit(memory_capped):
    container = FormulaContainer(table(), 7)
    add(container, "hard", A)
    before = state(container)
    # A soft clause of weight 0 is not written, so not counted: 20 bytes for each of the others, twice
    # where it is merged beside the clauses of A.
    with pytest.raises(ValueError, match=(
            r"^a constraint over \{'i': range\(0, 1500000000\)\}: would take at least 60000000560 bytes "
            r"\(55.9 GiB\) for 1500000000 clauses, with the copies a storage makes as it grows, more than the"
            r" [0-9]+ bytes \([0-9.]+ GiB\) that this process can still get")):
        add(container, "soft", ([["x(0,0)"], ["x(1,1)"]], {"i": range(1_500_000_000)}, 0, 0), [0, 1])
    assert state(container) == before
    # The model's clauses count the target's: 6 + 4 of A and T beside 2147483638 pass 2^31 - 1.
    add(container, "target", T)
    with pytest.raises(ValueError, match="would bring the model to 2147483648 clauses, more than the 2147483647"):
        add(container, "hard", ([["x(0,0)"]], {"i": range(2147483638)}, 0, 0))


@pytest.mark.parametrize("weights, error", [([1], ValueError), ([2, -1], ValueError), ([1, 0.5], TypeError)])
def test_bad_soft_weights_fail_when_added(weights, error):
    container = FormulaContainer(table(), 7)
    before = state(container)
    with pytest.raises(error):
        add(container, "soft", S1, weights)
    assert state(container) == before


def test_index_values_are_only_checked_where_instances_exist():
    container = FormulaContainer(table(), 7)
    add(container, "hard", ([["x(i + 5,0)"]], {"i": [0, 1], "j": []}, 0, 0))
    assert container.num_clauses == 0


def test_a_forall_range_that_counts_down_is_bounded_by_its_ends():
    container = FormulaContainer(table(), 7)
    add(container, "hard", ([["x(i,0)"]], {"i": range(1, 0, -1)}, 0, 0))
    with pytest.raises(IndexError):
        add(container, "hard", ([["x(i,0)"]], {"i": range(2, -1, -1)}, 0, 0))
    container.build_cnf_formula("model")
    assert [lits for lits, _ in stored(container)] == [[4]]


def test_index_texts_other_than_affine_are_evaluated_per_instance():
    container = FormulaContainer(table(), 7)
    container.add_hard_constraint(cnf([["x(i,2 - 2 * i * i)", "~x(1 - i * i,1)"]]), {"i": range(2)}, 0, 0)
    container.build_cnf_formula("model")
    assert [lits for lits, _ in stored(container)] == [[3, -5], [-2, 4]]


@pytest.mark.parametrize(
    "values",
    [[0, 1], (0, 1), range(2), np.array([0, 1]), np.arange(2, dtype=np.uint8), [np.int64(0), True]],
)
def test_forall_values_are_copied_and_any_integer_sequence_works(values):
    foralls = {"i": values}
    container = FormulaContainer(table(), 7)
    container.add_hard_constraint(cnf([["x(i,0)", "x(1,i)"]]), foralls, 0, 0)
    if isinstance(values, list):
        values.append(5)
    foralls["j"] = []
    container.build_cnf_formula("model")
    assert [lits for lits, _ in stored(container)] == [[1, 4], [4, 5]]


# ---- oracle: the clauses of each instance, got by putting the index values into the template


SIZES = {"x": (6, 6), "y": (6,)}
STARTS = {"x": 1, "y": 37}
FORALL_NAMES = ["i", "j", "k"]


@st.composite
def formulas(draw):
    names = draw(st.lists(st.sampled_from(FORALL_NAMES), max_size=2, unique=True))
    foralls = {name: draw(st.lists(st.integers(0, 2), max_size=3)) for name in names}
    pb, bxs = draw(st.integers(0, 2)), draw(st.integers(0, 3))

    def index():
        if not names or draw(st.booleans()):
            return ("const", draw(st.integers(0, 5)))
        form = draw(st.sampled_from(["name", "plus", "times"]))
        return (form, draw(st.sampled_from(names)), draw(st.integers(0, 4)))

    def literal():
        choices = ["model"] + ["pb"] * (pb > 0) + ["bx"] * (bxs > 0)
        kind = draw(st.sampled_from(choices))
        negated = draw(st.booleans())
        if kind == "model":
            variable = draw(st.sampled_from(sorted(SIZES)))
            return (negated, "model", variable, [index() for _ in SIZES[variable]])
        return (negated, kind, draw(st.integers(0, (pb if kind == "pb" else bxs) - 1)))

    template = []
    for _ in range(draw(st.integers(1, 4))):
        clause = {}
        for _ in range(draw(st.integers(1, 3))):
            lit = literal()
            clause.setdefault(name_of(lit), lit)
        template.append(list(clause.values()))
    return template, foralls, pb, bxs


def index_text(index):
    if index[0] == "const":
        return str(index[1])
    kind, name, shift = index
    return {"name": name, "plus": f"{name} + {shift}", "times": f"2 * {name}"}[kind]


def name_of(lit):
    if lit[1] == "model":
        return f"{lit[2]}({','.join(index_text(index) for index in lit[3])})"
    return f"_{'pbct' if lit[1] == 'pb' else 'bxpr'}_aux_{lit[2]}"


def index_value(index, values):
    if index[0] == "const":
        return index[1]
    kind, name, shift = index
    return {"name": values[name], "plus": values[name] + shift, "times": 2 * values[name]}[kind]


def expected_clauses(formula, number, start):
    template, foralls, pb, bxs = formula
    clauses, keys = [], {}
    for instance, combination in enumerate(itertools.product(*foralls.values())):
        values = dict(zip(foralls, combination))
        block = start + instance * (pb + bxs)
        for clause in template:
            lits = []
            for lit in clause:
                if lit[1] == "model":
                    indexes = [index_value(index, values) for index in lit[3]]
                    if any(not 0 <= value < size for value, size in zip(indexes, SIZES[lit[2]])):
                        return None
                    row_major = indexes[0] * 6 + indexes[1] if len(indexes) == 2 else indexes[0]
                    number_of = STARTS[lit[2]] + row_major
                else:
                    number_of = block + lit[2] + (pb if lit[1] == "bx" else 0)
                    kind = "pbct" if lit[1] == "pb" else "bxpr"
                    keys[f"_{kind}_aux[{number},{instance},{lit[2]}]"] = number_of
                lits.append(-number_of if lit[0] else number_of)
            clauses.append(sorted(lits, key=abs))
    return clauses, keys


@settings(max_examples=60)
@given(st.lists(formulas(), min_size=1, max_size=3))
def test_instances_match_direct_substitution(formulas_drawn):
    variables = {
        "dummy_var": Variable("dummy_var", {"d": 1}, 0),
        "x": Variable("x", {"a": 6, "b": 6}, STARTS["x"]),
        "y": Variable("y", {"c": 6}, STARTS["y"]),
    }
    container = FormulaContainer(variables, 43)
    expected, keys, start = [], {}, 43
    for number, formula in enumerate(formulas_drawn):
        template, foralls, pb, bxs = formula
        texts = [[("~" if lit[0] else "") + name_of(lit) for lit in clause] for clause in template]
        oracle = expected_clauses(formula, number, start)
        if oracle is None:
            with pytest.raises(IndexError):
                container.add_hard_constraint(cnf(texts), foralls, pb, bxs)
            return
        container.add_hard_constraint(cnf(texts), foralls, pb, bxs)
        expected += oracle[0]
        keys.update(oracle[1])
        start += len(list(itertools.product(*foralls.values()))) * (pb + bxs)
    container.build_cnf_formula("oracle")
    assert container.cnf_storage().get_clauses() == expected
    assert [item for item in container.mapping.items() if item[0].startswith("_")] == list(keys.items())
    assert container.cnf_storage().get_clause_count() == len(expected)


# ---- whole road: a Tseytin result over a forall, checked with a SAT solver against brute force


@pytest.mark.parametrize(
    "build, truth",
    [
        (
            lambda a, b, c: bx.ite_s(a, bx.xor_s([b, c]), bx.and_s([~b, c])),
            lambda a, b, c: (b != c) if a else (not b and c),
        ),
        (lambda a, b, c: bx.eq_s([a, bx.or_s([b, ~c])]), lambda a, b, c: a == (b or not c)),
        (lambda a, b, c: bx.impl_s(bx.xor_s([a, b]), c), lambda a, b, c: not (a != b) or c),
    ],
)
def test_tseytin_instances_keep_their_auxiliaries_apart(build, truth):
    from pysat.solvers import Solver

    context = bx.Context()
    node = build(*(context.get_var(name) for name in ["x(i)", "x(i + 1)", "y(i)"]))
    encoded = node.tseytin(context, "_bxpr_aux")
    auxiliaries = sum("_bxpr_aux" in str(variable) for variable in encoded.support())
    variables = {
        "dummy_var": Variable("dummy_var", {"d": 1}, 0),
        "x": Variable("x", {"i": 4}, 1),
        "y": Variable("y", {"i": 3}, 5),
    }
    container = FormulaContainer(variables, 8)
    container.add_hard_constraint(encoded, {"i": range(3)}, 0, auxiliaries)
    container.build_cnf_formula("road")
    with Solver(bootstrap_with=container.cnf_storage().get_clauses()) as solver:
        for values in itertools.product([False, True], repeat=7):
            x, y = values[:4], values[4:]
            assumptions = [number if value else -number for number, value in enumerate(values, start=1)]
            expected = all(truth(x[i], x[i + 1], y[i]) for i in range(3))
            assert solver.solve(assumptions=assumptions) == expected
