"""Model: declarations, state rules, refusals, log lines, builds and both roads."""

import re
import traceback
from datetime import datetime, timedelta

import numpy as np
import pytest
from pysat.formula import CNF, WCNF
from pysat.solvers import Solver

import orbeny.trelle as tl
import orbeny.trelle.bxpr as bx
from zorv_encoder import AndIt, LinearModel, One, Or, OrIt, Sum, SumIt, Zero, pow_expression
from zorv_encoder._exceptions import BuildError, FormulaError, TargetError, VariableError
from zorv_encoder.encode import model as model_module
from zorv_encoder.encode.expressions import Expression
from zorv_encoder.encode.model import Model
from zorv_encoder.encode.variables import Index

LEVEL = tl.log_level_type


@pytest.fixture
def logs(sent_logs):
    def lines(level=None):
        return [message for message, sent_level in sent_logs if level is None or sent_level == level]

    lines.clear = sent_logs.clear
    return lines


class RecordingEncoder:
    """Stands in for the sibling formula encoder: records every call it gets."""

    def __init__(self, name):
        self.name = name
        self.calls = []
        self.storage = tl.wcnf_storage()
        self.var_map = {"x[0,0]": 1, "x[0,1]": 2}

    def __getattr__(self, op):
        def record(*args):
            self.calls.append((op,) + args)
            if op == "get_cnf_storage":
                return self.storage
            if op == "get_var_mapping":
                mapping = tl.var_mapping()
                mapping.set_var_map(self.var_map)
                mapping.build_inverse_map()
                return mapping
            if op == "check_another_witness":
                return "encoder answer"
            return None
        return record


class RecordingManager:
    """Stands in for the sibling manager where a test needs to see what the model hands over."""

    def __init__(self):
        self.encoders = []
        self.input_storage = None
        self.interpreter = None

    def create_formula_encoder(self, name):
        self.encoders.append(RecordingEncoder(name))
        return self.encoders[-1]

    def set_input_cnf_storage(self, storage):
        self.input_storage = storage

    def get_input_cnf_storage(self):
        return self.input_storage

    def set_witness_interpreter(self, interpreter):
        self.interpreter = interpreter

    def get_witness_interpreter(self):
        return self.interpreter


def _model(name="m", road_encoder=False, manager=None):
    return Model(manager if manager is not None else tl.manager(), name, road_encoder)


# --- declarations and numbering -------------------------------------------------------------

def test_container_road_start_up(logs):
    model = _model("plan")
    assert logs(LEVEL.info) == [
        " python version : " + tl.get_python_version(),
        "     model name : plan",
        "           tsfe : False",
        "    add new var : dummy_var{'d': 1} = [1]",
    ]
    assert model._shift_target_variable == 1
    assert list(model._variables) == ["dummy_var"]
    assert model._formula_container is None and model._formula_encoder is None
    assert list(model._formulas_dir) == ["Sum", "FormulaPB", "bx", "pb", "manager"]
    assert model._formulas_dir["manager"] is model._manager


def test_formula_encoder_road_start_up(logs):
    manager = RecordingManager()
    model = _model("plan", True, manager)
    assert logs(LEVEL.info)[-1] == "           tsfe : True"
    assert len(logs(LEVEL.info)) == 3
    assert model._shift_target_variable == 0 and model._variables == {}
    assert manager.encoders == []


def test_numbering_and_mapping_after_declarations(logs):
    model = _model()
    x = model.create_variables("x", i=2, j=3)
    y = model.create_variables("y")
    empty = model.create_variables("z", k=0)
    assert [x(0, 0), x(0, 2), x(1, 0), x(1, 2)] == [1, 3, 4, 6]
    assert y() == 7 and empty.st_shift == 8
    assert model._shift_target_variable == 8
    assert logs(LEVEL.info)[-3:] == [
        "    add new var : x{'i': 2, 'j': 3} = [6]",
        "    add new var : y{} = [1]",
        "    add new var : z{'k': 0} = [0]",
    ]
    model.add_constraint(x[0, 0])
    assert model._formula_container.mapping == {
        "dummy_var[0]": 0, "x[0,0]": 1, "x[0,1]": 2, "x[0,2]": 3, "x[1,0]": 4, "x[1,1]": 5, "x[1,2]": 6,
        "y[]": 7,
    }
    assert isinstance(model.get_var_mapping(), tl.var_mapping)


def test_formula_encoder_road_declarations():
    manager = RecordingManager()
    model = _model("plan", True, manager)
    x = model.create_variables("x", i=2, j=3)
    again = model.create_variables("x", i=4)
    assert x.st_shift == 0 and again.st_shift == 0
    assert model._shift_target_variable == 6 + 4
    encoder, = manager.encoders
    assert encoder.name == "plan"
    assert encoder.calls == [("create_variables", "x", [2, 3]), ("create_variables", "x", [4])]
    assert model._used_vars == set() and model._variables == {} and model._manager.name2genvar == {}
    assert [str(index) for index in model._indexes2] == ["x", "x"]
    assert model.get_indexes(["x"]).name == "x"


LETTERS = "Variable must have a non-empty name containing only letters"


@pytest.mark.parametrize("name, error, message", [
    ("x1", ValueError, LETTERS),
    ("my_var", ValueError, LETTERS),
    ("", ValueError, LETTERS),
    ("_bxpr_aux", ValueError, LETTERS),
    (7, ValueError, LETTERS),
    ("print('x')", ValueError, LETTERS),
    ("lambda", ValueError, "Variable name 'lambda' is a Python keyword"),
    ("range", ValueError, "Variable name 'range' is reserved for the evaluation of constraints"
                          " (FormulaPB, Sum, bx, manager, pb, range)"),
    ("ｘ", ValueError, "Variable name 'ｘ' is read by Python as 'x'"),
    ("ﬁ", ValueError, "Variable name 'ﬁ' is read by Python as 'fi'"),
    ("dummy_var", VariableError, "Variable named dummy_var is already in use"),
    ("x", VariableError, "Variable named x is already in use"),
])
def test_create_variables_refusals(logs, name, error, message):
    model = _model()
    model.create_variables("x", i=2)
    count = model._shift_target_variable
    with pytest.raises(error, match="^" + re.escape(message) + "$"):
        model.create_variables(name, i=2)
    assert logs(LEVEL.error) == [message]
    assert model._shift_target_variable == count


def test_non_latin_letters_are_a_valid_name():
    model = _model()
    x = model.create_variables("ξψ", a=2, b=2)
    assert x.name == "ξψ"
    # A name the engine leaves to the host, over a forall with no value: checked, nothing written.
    i, j = model.get_indexes(["i", "j"])
    model.add_constraint(x[i, j] | x[i, j + 1], i=range(2), j=range(0))
    model.add_constraint(x[0, 0])
    assert model.build_cnf() is True and model.get_cnf_storage().get_clauses() == [[1]]


@pytest.mark.parametrize("size", [-1, 2.5, "3", None, True])
def test_sizes_must_be_non_negative_integers(logs, size):
    model = _model()
    with pytest.raises(ValueError, match="must be a non-negative integer"):
        model.create_variables("x", i=2, j=size)
    assert model._shift_target_variable == 1 and "x" not in model._variables
    assert len(logs(LEVEL.error)) == 1


def test_declaration_after_the_container_exists_is_refused():
    model = _model()
    x = model.create_variables("x", i=2)
    model.add_constraint(x[0])
    with pytest.raises(VariableError, match="Variable named y cannot be declared after"):
        model.create_variables("y", i=2)
    assert "y" not in model._variables and model._shift_target_variable == 3


def test_get_indexes():
    model = _model()
    model.create_variables("x", i=2)
    single = model.get_indexes(["i"])
    assert isinstance(single, Index) and str(single) == "i"
    pair = model.get_indexes("jk")
    assert [str(index) for index in pair] == ["j", "k"]
    replaced = model.get_indexes(["i"])
    assert model._indexes["i"] is replaced is not single
    with pytest.raises(ValueError, match="^The indexes parameter must contain a non-empty sequence of index names$"):
        model.get_indexes([])
    with pytest.raises(VariableError, match="^Index named x is already in use$"):
        model.get_indexes(["x"])
    with pytest.raises(VariableError, match=re.escape(
            "Names '_bxpr_aux' and '_pbct_aux' are reserved. Change the name to a valid one")):
        model.get_indexes(["m", "_pbct_aux"])
    # All or nothing: the name before the refused one is not taken either.
    assert "m" in model._indexes and "_pbct_aux" not in model._indexes
    assert [index.name for index in model.get_indexes(["i1", "row_a", "ξ2"])] == ["i1", "row_a", "ξ2"]
    for names, message in [(["print('x')"], "Index must have a non-empty name that is a Python identifier"),
                           ([""], "Index must have a non-empty name that is a Python identifier"),
                           (["_i"], "Index name '_i' begins with an underscore"),
                           (["__builtins__"], "Index name '__builtins__' begins with an underscore"),
                           (["i", "None"], "Index name 'None' is a Python keyword"),
                           (["ｉ1"], "Index name 'ｉ1' is read by Python as 'i1'"),
                           (["bx"], "Index name 'bx' is reserved"),
                           (["ｉ"], "Index name 'ｉ' is read by Python as 'i'")]:
        with pytest.raises(ValueError, match="^" + re.escape(message)):
            model.get_indexes(names)


@pytest.mark.parametrize("road", [False, True])
def test_an_index_name_given_twice_is_taken(road):
    model = Model(tl.manager(), "twice", road)
    x = model.create_variables("x", i=3)
    first, _, again = model.get_indexes(["i", "j", "i"])
    assert (first.name, again.name) == ("i", "i") and model._indexes["i"] is again
    model.add_constraint(~x[first], i=range(3))
    model.build_cnf()
    numbers = model.get_var_mapping().get_var_map()
    assert sorted(model.get_cnf_storage().get_clauses()) == sorted([-numbers[f"x[{k}]"]] for k in range(3))


# --- the model state ----------------------------------------------------------------------

def _in_state(state):
    """A container-road model over x[0..3] that is unset, weighted or targeted."""
    model = _model()
    x = model.create_variables("x", i=4)
    if state is True:
        model.add_soft_constraint(x[0])
    elif state is False:
        model.add_target(x[0] + x[1])
    assert model._is_wcnf is state
    return model, x


HARD_AFTER_SOFT = (TargetError, " - Soft constraint has already been defined.")
HARD_AFTER_TARGET = (TargetError, "Target has already been defined ")
SOFT_AFTER_CNF = (FormulaError, "Current model already works with CNF")
TARGET_AFTER_WCNF = (FormulaError, "Current model already works with WCNF")
CNF_OF_WCNF = (BuildError, "Unable to build CNF storage because this model has WCNF format")
WCNF_OF_CNF = (BuildError, "Unable to build WCNF storage because this model has CNF format")

OPERATIONS = {
    "add_constraint": lambda model, x: model.add_constraint(x[1] | x[2]),
    "add_soft_constraint": lambda model, x: model.add_soft_constraint(x[2]),
    "add_target": lambda model, x: model.add_target(x[2] + x[3]),
    "build_cnf": lambda model, x: model.build_cnf(3, True),
    "build_wcnf": lambda model, x: model.build_wcnf(),
}


@pytest.mark.parametrize("operation, state, refusal", [
    ("add_constraint", None, None), ("add_constraint", True, HARD_AFTER_SOFT),
    ("add_constraint", False, HARD_AFTER_TARGET),
    ("add_soft_constraint", None, None), ("add_soft_constraint", True, None),
    ("add_soft_constraint", False, SOFT_AFTER_CNF),
    ("add_target", None, None), ("add_target", True, TARGET_AFTER_WCNF), ("add_target", False, None),
    ("build_cnf", None, None), ("build_cnf", True, CNF_OF_WCNF), ("build_cnf", False, None),
    ("build_wcnf", None, None), ("build_wcnf", True, None), ("build_wcnf", False, WCNF_OF_CNF),
])
def test_state_table(logs, operation, state, refusal):
    model, x = _in_state(state)
    if operation.startswith("build") and state is None:
        model.add_constraint(x[0])
    logs.clear()
    if refusal is None:
        OPERATIONS[operation](model, x)
    else:
        error, message = refusal
        with pytest.raises(error, match="^" + re.escape(message) + "$"):
            OPERATIONS[operation](model, x)
        assert logs(LEVEL.error) == [message]
        assert model._is_wcnf is state


@pytest.mark.parametrize("state, use_target", [(None, False), (True, False), (False, True)])
def test_use_target_follows_the_state(state, use_target):
    model, _ = _in_state(state)
    assert model.use_target is use_target
    with pytest.raises(AttributeError):
        model.use_target = True


def test_cnf_build_makes_the_model_targeted():
    model, x = _in_state(None)
    model.add_constraint(x[0])
    model.build_cnf()
    assert model._is_wcnf is False and model.use_target
    with pytest.raises(TargetError):
        model.add_constraint(x[1])


@pytest.mark.parametrize("make, message", [
    (lambda x: x[0] <= 1, "Input constraint cannot be converted to a soft constraints"),
    (lambda x: x[0] & x[1], "Input constraint cannot be converted to a soft constraints"),
])
def test_soft_constraint_must_be_soft(logs, make, message):
    model, x = _in_state(None)
    with pytest.raises(FormulaError, match="^" + re.escape(message) + "$"):
        model.add_soft_constraint(make(x))
    assert model._is_wcnf is None and logs(LEVEL.error) == [message]


@pytest.mark.parametrize("call", [
    lambda model: model.add_constraint("x(0)"),
    lambda model: model.add_soft_constraint("x(0)"),
    lambda model: model.add_target(3),
])
def test_constraints_and_target_refuse_non_expressions(logs, call):
    model, _ = _in_state(None)
    with pytest.raises(TypeError, match="must contain only objects of type 'Expression'") as refused:
        call(model)
    assert model._is_wcnf is None and logs(LEVEL.error) == [str(refused.value)]


@pytest.mark.parametrize("call, error", [
    (lambda model: model.add_soft_constraint(One), FormulaError),
    (lambda model: model.add_soft_constraint(Zero, 3), FormulaError),
    (lambda model: model.add_target(One), TargetError),
    (lambda model: model.add_target(Zero), TargetError),
])
def test_constants_are_neither_soft_constraints_nor_targets(call, error, logs):
    model, _ = _in_state(None)
    with pytest.raises(error, match="^One and Zero are Boolean constants") as raised:
        call(model)
    assert model._is_wcnf is None and model._formula_container is None
    assert logs(LEVEL.error) == [str(raised.value)]


def _soft_built(road_encoder, minimization):
    model = _model(road_encoder=road_encoder)
    x = model.create_variables("x", i=2)
    model.add_soft_constraint(x[0] - 2 * x[1], 3, minimization)
    model.build_wcnf()
    storage = model.get_cnf_storage()
    return storage.get_clauses(), storage.get_clause_weights()


# A null flag counts as false; a text, or any other value, is refused on both roads.
@pytest.mark.parametrize("road_encoder", [False, True])
def test_minimization_flags(logs, road_encoder):
    for flags in ([False, None, np.False_, 0, np.int64(0)], [True, np.True_, 1]):
        built = [_soft_built(road_encoder, flag) for flag in flags]
        assert built[1:] == built[:1] * (len(flags) - 1)
    for flag in ["False", 2, 0.5]:
        model = _model(road_encoder=road_encoder)
        x = model.create_variables("x", i=2)
        logs.clear()
        with pytest.raises(TypeError, match="^Type 'bool' is expected for 'minimization'"):
            model.add_soft_constraint(x[0], 1, flag)
        assert model._is_wcnf is None and len(logs(LEVEL.error)) == 1


@pytest.mark.parametrize("road_encoder", [False, True])
def test_soft_weight_must_be_an_integer(logs, road_encoder):
    for weight in [2.5, 2.0, "2"]:
        model = _model(road_encoder=road_encoder)
        x = model.create_variables("x", i=4)
        logs.clear()
        with pytest.raises(TypeError, match="^Type 'Expression' or 'int' is expected for expression$"):
            model.add_soft_constraint(x[0], weight)
        assert model._is_wcnf is None and len(logs(LEVEL.error)) == 1


@pytest.mark.parametrize("weight", [2 ** 62, -(2 ** 62)])
def test_soft_weights_past_the_limit_are_refused_when_added(logs, weight):
    model, x = _in_state(None)
    i = model.get_indexes(["i"])
    model.add_soft_constraint(x[3], 3, i=range(4))
    with pytest.raises(OverflowError, match="would exceed 9223372036854775806"):
        model.add_soft_constraint(x[i], weight, i=range(2))
    assert len(logs(LEVEL.error)) == 1
    assert model.build_wcnf() is True
    # The limit counts each of the four instances of the first constraint, nothing of the refused one.
    storage = model.get_cnf_storage()
    assert storage.get_weight_limit() == 1 + 4 * 3 and storage.get_clause_weights() == [3] * 4


def test_two_models_on_one_manager_save_their_own_variables(tmp_path):
    manager = tl.manager()
    first = _model("first", manager=manager)
    x = first.create_variables("x", i=2)
    first.add_constraint(x[0] | x[1])
    first.build_cnf()
    second = _model("second", manager=manager)
    y = second.create_variables("y", i=3)
    second.add_constraint(y[2])
    second.build_cnf()
    LinearModel(manager, "lp")  # registers an interpreter without mapping
    first.save_to_file(str(tmp_path / "first.cnf"))
    text = (tmp_path / "first.cnf").read_text()
    assert "c x[1] 2" in text and "y[" not in text


def test_failed_first_fill_keeps_declarations_open(logs):
    model, x = _in_state(None)
    i = model.get_indexes(["i"])
    with pytest.raises(IndexError) as caught:
        model.add_constraint(x[i], i=range(5))
    # The container's own refusal is logged like every other error.
    assert logs(LEVEL.error) == [str(caught.value)]
    for fill in (lambda: model.add_soft_constraint(x[i] + x[0], 1, i=["a"]), lambda: model.add_target(x[0] | x[1])):
        with pytest.raises((TypeError, TargetError)):
            fill()
    assert model._formula_container is None
    y = model.create_variables("y", i=2)
    model.add_constraint(y[1])
    with pytest.raises(VariableError):
        model.create_variables("z")


def test_messages_after_a_build_without_target(logs):
    model, x = _in_state(None)
    model.add_constraint(x[0])
    model.build_cnf(5, True)
    assert logs(LEVEL.warning) == ["Border and minimization are ignored: the model has no target"]
    with pytest.raises(TargetError) as refused:
        model.add_constraint(x[1])
    assert str(refused.value) == "Target has already been defined "


def test_target_rules(logs):
    model, x = _in_state(None)
    with pytest.raises(TargetError, match="^Target is not a pseudo-boolean function without border$"):
        model.add_target(x[0] + x[1] <= 1)
    # A refused target closes no declaration.
    assert model._is_wcnf is None and model._formula_container is None
    model.create_variables("y")
    first, second = x[0] + x[1], x[2] + x[3]
    model.add_target(first)
    assert logs(LEVEL.warning) == []
    model.add_target(second)
    assert logs(LEVEL.warning) == ["Target already used"]
    assert model._template_target is second


@pytest.mark.parametrize("args", [(), (5,), (None, True)])
def test_targeted_build_needs_border_and_direction(args):
    model, _ = _in_state(False)
    with pytest.raises(BuildError, match="^Border or minimization arguments are not defined, but target is set$"):
        model.build_cnf(*args)


def test_repeated_build_without_target(tmp_path):
    model, x = _in_state(None)
    model.add_constraint(x[0] | x[1])
    assert model.build_cnf() is True
    assert model.use_target and model._template_target is None
    # Nothing to bound: a border is neither needed nor used.
    assert model.build_cnf() is True
    assert model.build_cnf(3, True) is True
    path = tmp_path / "m.cnf"
    model.save_to_file(str(path))
    assert CNF(from_file=str(path)).clauses == [[1, 2]]


def test_target_after_a_build_without_target(logs, tmp_path):
    model, x = _in_state(None)
    model.add_constraint(x[0] | x[1])
    model.build_cnf()
    model.add_target(x[0] + x[1] + x[2])
    assert logs(LEVEL.warning) == ["Target already used"]
    path = tmp_path / "m.cnf"
    for border, satisfiable in ((0, False), (1, True)):
        model.build_cnf(border, True)
        model.save_to_file(str(path))
        with Solver(name="g3", bootstrap_with=CNF(from_file=str(path)).clauses) as solver:
            assert solver.solve() is satisfiable


# --- hard constraints and the first evaluation --------------------------------------------

def test_hard_constraint_log_and_hand_over(logs):
    model, x = _in_state(None)
    i = model.get_indexes(["i"])
    logs.clear()
    model.add_constraint(x[i] | x[i + 1], i=range(3))
    assert logs(LEVEL.debug) == ["     constraint : bx.or_s([x(i).to_bx(), x(i + 1).to_bx()])___{'i': range(0, 3)}"]
    assert logs(LEVEL.trace) == ["Enumerating hard utility variables"]
    assert model._formula_container.num_clauses == 3


def test_each_constraint_counts_its_own_auxiliaries(monkeypatch):
    model, x = _in_state(None)
    model.add_constraint(x[0])
    handed = []
    monkeypatch.setattr(model._formula_container, "add_hard_constraint",
                        lambda template, foralls, pb_count, bx_count, calls, text: handed.append((pb_count, bx_count)))
    model.add_constraint(SumIt([x[0], x[1], x[2], x[3]]) <= 2)
    model.add_constraint(SumIt([x[0], x[1], x[2], x[3]]) <= 2)
    model.add_constraint((x[0] & x[1]) | (x[2] & x[3]))
    # Both copies of a comparison get the same encoding, with its own auxiliaries.
    assert handed[0] == handed[1] and handed[0] != (0, 0)
    assert handed[2][0] == 0 and handed[2][1] > 0
    assert model._manager.cnt_pbvar == 0 and model._manager.name2pb == {}


@pytest.mark.parametrize("compare", [lambda e: e <= 2, lambda e: e >= 2, lambda e: e == 1, lambda e: e <= 0])
@pytest.mark.parametrize("use", ["constraint", "target", "soft"])
def test_held_sumit_expressions_build_what_their_texts_build(compare, use, logs, monkeypatch):
    # An expression that holds its elements is evaluated from them; without that, from its text.
    from zorv_encoder.core import _evaluation

    def build():
        logs.clear()
        model = _model()
        x = model.create_variables("x", i=4, j=3)
        y = model.create_variables("y", k=2)
        expr = SumIt([x[0, 0], 2 * y[1], -3 * x[3, 2], y[1]])
        if use == "soft":
            model.add_soft_constraint(-2 * expr, weight=3, minimization=True)
            model.add_soft_constraint(expr, minimization=False)
            model.build_wcnf()
        else:
            model.add_constraint(OrIt([x[0, 1], ~y[0], x[0, 1]]))
            model.add_constraint(AndIt([~x[1, 2], y[1]]))
            model.add_constraint(compare(SumIt([x[1, 1], x[2, 2], y[0]])))
            if use == "target":
                model.add_target(expr)
                model.build_cnf(1, True)
            else:
                model.add_constraint(compare(expr))
                model.build_cnf()
        lines = [line for line in logs() if "Duration" not in line]
        storage = model.get_cnf_storage()
        return storage.get_clauses(), storage.get_clause_weights(), list(model._formula_container.mapping.items()), lines

    taken = []
    held_comparison = _evaluation._held_comparison
    monkeypatch.setattr(_evaluation, "_held_comparison", lambda *args: taken.append(held_comparison(*args)) or taken[-1])
    held = build()
    assert all(taken) and len(taken) == (2 if use == "soft" else 4)
    monkeypatch.setattr(_evaluation, "_held_comparison", lambda expression, namespace: None)
    assert held == build()


@pytest.mark.parametrize("minimization", [True, False])
def test_unheard_held_objective_builds_what_its_text_builds(minimization, monkeypatch):
    # With no debug line to write, the objective's items are made from the elements' numbers alone.
    from zorv_encoder.core import _evaluation

    def build():
        model = _model()
        x = model.create_variables("x", i=4)
        model.add_soft_constraint(-3 * SumIt([x[0], 2 * x[2], x[0], -5 * x[3]]), weight=2, minimization=minimization)
        model.add_soft_constraint(SumIt([x[1], x[2], x[1]]), minimization=minimization)
        model.build_wcnf()
        storage = model.get_cnf_storage()
        return storage.get_clauses(), storage.get_clause_weights(), list(model._formula_container.mapping.items())

    made = []
    element_items = _evaluation._element_items
    monkeypatch.setattr(_evaluation, "_element_items", lambda *args: made.append(args) or element_items(*args))
    held = build()
    assert len(made) == 2
    monkeypatch.setattr(_evaluation, "_held_comparison", lambda expression, namespace: None)
    assert held == build()


@pytest.mark.parametrize("texts, names", [
    (["x(0,12)", "y()", "x(3)"], {"x", "y"}), ([], set()),
    # only what a generator would name the same way its call is written
    (["x(01)"], None), (["x( 1)"], None), (["x(1,)"], None), (["x(-1)"], None), (["x(i)"], None),
    (["if(1)"], None), (["x(1)(2)"], None), (["x(1),"], None), (["x(1"], None), (["é(1)"], None),
    (["x(1)", "\ud800(1)"], None),  # a lone surrogate has no UTF-8 form: no error either
])
def test_element_texts_the_held_path_takes(texts, names):
    from orbeny.trelle._engine.inst import element_call_names

    assert element_call_names(texts) == names


def test_texts_are_compiled_once_and_read_as_eval_reads_them():
    from zorv_encoder.core._evaluation import code

    assert code(" \t1 + 1") is code(" \t1 + 1") and eval(code(" \t1 + 1")) == 2
    with pytest.raises(SyntaxError):
        code("1 +")
    long = "[" + ",".join(["1"] * 40000) + "]"
    assert code(long) is not code(long) and eval(code(long)) == [1] * 40000  # too long to keep


def test_only_elements_and_their_simple_forms_are_held():
    from zorv_encoder.core._evaluation import _held_comparison

    model = _model()
    x = model.create_variables("x", i=3)
    namespace = {**model._formulas_dir, **model._manager.name2genvar}
    held = [SumIt([x[0], 2 * x[1]]) <= 1, OrIt([x[0], ~x[1]]), (3 * SumIt([x[2]])).maxsat(True),
            SumIt([x[0]]).maxsat(1)]
    other = [SumIt([x[0] + x[1], x[2]]) <= 1, OrIt([x[0] & x[1]]),
             SumIt([Expression("x(0)")]) <= 1, SumIt([x[0]]) <= True]
    assert all(_held_comparison(e, namespace) is not None for e in held)
    assert all(_held_comparison(e, namespace) is None for e in other)
    # Generators other than the manager's own make the elements by being called.
    wrapped = {**namespace, "x": lambda *index: namespace["x"](*index)}
    assert [str(_held_comparison(e, wrapped)()) for e in held[:2]] == ["~x(1)", "Or(x(0), ~x(1))"]


@pytest.mark.parametrize("collecting", [True, False])
def test_the_collector_is_left_as_it_was(collecting):
    import gc

    model = _model()
    x = model.create_variables("x", i=3)
    was = gc.isenabled()
    try:
        gc.enable() if collecting else gc.disable()
        model.add_constraint(OrIt([x[0], ~x[1]]))
        assert gc.isenabled() is collecting
        def failing(*args):
            raise ArithmeticError

        model._formulas_dir["FormulaPB"] = failing  # fails inside the held evaluation
        with pytest.raises(ArithmeticError):
            model.add_constraint(SumIt([x[0], x[1]]) <= 1)
        assert gc.isenabled() is collecting
    finally:
        gc.enable() if was else gc.disable()


def test_held_sumit_comparison_takes_the_text_where_the_namespace_differs():
    model = _model()
    x = model.create_variables("x", i=3)
    elsewhere = Model(tl.manager(), "other").create_variables("w", i=3)
    with pytest.raises(ValueError, match="unknown variable w at position 30$"):
        model.add_constraint(SumIt([x[0], elsewhere[1]]) <= 1)


def test_contradiction_names_the_callers_line(logs):
    model, x = _in_state(None)
    line = traceback.extract_stack()[-1].lineno + 2
    with pytest.raises(FormulaError) as caught:
        model.add_constraint(x[0] & ~x[0])
    message = "Contradiction was detected in formula model.add_constraint(x[0] & ~x[0]), line %d" % line
    assert str(caught.value) == message
    assert logs(LEVEL.error) == [message]
    assert model._formula_container is None
    assert model._is_wcnf is None


def test_redundant_constraint_is_dropped(logs):
    model, x = _in_state(None)
    line = traceback.extract_stack()[-1].lineno + 1
    model.add_constraint(One)
    assert logs(LEVEL.warning) == ["Redundant constraint was detected in formula model.add_constraint(One), line %d"
                                     % line]
    assert model._formula_container.num_clauses == 0
    model.add_constraint(x[1])
    assert model._formula_container.num_clauses == 1


def test_contradiction_without_readable_source_line():
    model, x = _in_state(None)
    code = compile("model.add_constraint(Zero)", "<generated>", "exec")
    with pytest.raises(FormulaError, match=r"^Contradiction was detected in formula bx\.zero\(\), line 1$"):
        exec(code, {"model": model, "Zero": Zero})


def test_contradiction_when_the_stack_text_is_unexpected(monkeypatch):
    model, _ = _in_state(None)
    monkeypatch.setattr(model_module.traceback, "format_stack", lambda limit=None: ["no stack text"])
    with pytest.raises(FormulaError, match=r"^Contradiction was detected in formula bx\.zero\(\), line unknown$"):
        model.add_constraint(Zero)


@pytest.mark.parametrize("make", [lambda x: x[0] + x[1], lambda x: Expression("3"), lambda x: 2 * x[1]])
def test_constraint_that_is_not_a_boolean_formula(logs, make):
    model, x = _in_state(None)
    with pytest.raises(FormulaError, match="is not a Boolean formula"):
        model.add_constraint(make(x))
    assert len(logs(LEVEL.error)) == 1
    assert model._formula_container is None
    assert model._manager.name2pb == {}


def test_manager_is_reset_after_a_failed_evaluation():
    model, x = _in_state(None)
    context = model._manager.bx_context
    broken = Expression("(%s, undefined_name)" % (x[0] + x[1] + x[2] <= 1), False)
    with pytest.raises(ValueError, match="unknown name undefined_name"):
        model.add_constraint(broken)
    assert model._manager.cnt_pbvar == 0 and model._manager.bx_context is not context
    model.add_constraint(x[0] + x[1] <= 1)
    assert model._formula_container.num_clauses > 0


def test_add_constraint_refuses_non_expressions(logs):
    model, _ = _in_state(None)
    with pytest.raises(TypeError, match="^Variable 'constraint' must contain only objects of type 'Expression'$"):
        model.add_constraint(5)
    assert logs(LEVEL.debug) == []


@pytest.mark.parametrize("border, minimization", [(3, False), (-1, True)])
def test_target_contradiction(logs, border, minimization):
    model, _ = _in_state(False)
    with pytest.raises(FormulaError, match="^Contradiction was detected in target$"):
        model.build_cnf(border, minimization)
    assert logs(LEVEL.error) == ["Contradiction was detected in target"]
    assert model._manager.cnt_pbvar == 0


def test_redundant_target_adds_no_clause(logs):
    model, _ = _in_state(False)
    assert model.build_cnf(2, True) is True
    assert logs(LEVEL.warning) == ["Redundant constraint was detected in target"]
    assert model.get_cnf_storage().get_hard_clause_count() == 0


def test_rebuilt_target_takes_the_old_ones_place():
    manager = tl.manager()
    model = _model(manager=manager)
    x = model.create_variables("x", i=3)
    model.add_constraint(x[0] | x[1] | x[2])
    model.add_target(x[0] + x[1] + x[2])
    model.build_cnf(2, False)
    storage = model.get_cnf_storage()
    model.add_preliminary_var_value(2, True)
    # Border 0 always holds: no target clause may be left from border 2.
    for border, solutions in ((0, 7), (3, 1), (2, 4), (0, 7)):
        assert model.build_cnf(border, False) is True
        assert model.get_cnf_storage() is storage is manager.get_input_cnf_storage()
        assert storage.get_prefatory_values() == [-2]
        # What a rebuild hands over is what a fresh build would.
        fresh_manager = tl.manager()
        fresh = _model(manager=fresh_manager)
        y = fresh.create_variables("x", i=3)
        fresh.add_constraint(y[0] | y[1] | y[2])
        fresh.add_target(y[0] + y[1] + y[2])
        fresh.build_cnf(border, False)
        handed, expected = manager.get_witness_interpreter(), fresh_manager.get_witness_interpreter()
        assert (list(handed.get_var_mapping().get_var_map().items())
                == list(expected.get_var_mapping().get_var_map().items()))
        assert ({name: table.tolist() for name, table in handed.get_mapping_tables().items()}
                == {name: table.tolist() for name, table in expected.get_mapping_tables().items()})
        with Solver(name="g3", bootstrap_with=storage.get_clauses()) as solver:
            found = sum(solver.solve(assumptions=[v if (bits >> (v - 1)) & 1 else -v for v in (1, 2, 3)])
                        for bits in range(8))
        assert found == solutions


def test_soft_constraint_log_line(logs):
    model, x = _in_state(None)
    model.add_soft_constraint(x[0] + x[1], 2, True)
    assert logs(LEVEL.debug)[0] == ("Building soft constraint: FormulaPB(2 * (x(0).to_pb() + x(1).to_pb()), "
                                    "None, None).to_maxsat(manager, True)")


# --- builds, hand-over and saving ----------------------------------------------------------

def test_cnf_build_log_lines(logs):
    model, x = _in_state(None)
    model.add_constraint(x[0])
    logs.clear()
    assert model.build_cnf() is True
    started, finished = logs(LEVEL.info)
    assert started == "      CNF build : started. Model <m>; Target variables = 4"
    assert re.fullmatch(r"         action : CNF build finished\. Duration = \d\d:\d\d:\d\d\.\d\d\d", finished)


def test_target_build_log_lines(logs):
    model, _ = _in_state(False)
    logs.clear()
    model.build_cnf(1, True)
    assert logs(LEVEL.info)[:2] == ["Building target", "      CNF build : started. Model <m>; Target variables = 4"]
    assert "Enumerating target utility variables" in logs(LEVEL.debug)


def test_wcnf_build_log_lines(logs):
    model, _ = _in_state(True)
    logs.clear()
    assert model.build_wcnf() is True
    assert logs(LEVEL.info) == ["     WCNF build : started. Model <m>; Target variables = 4",
                                  "         action : WCNF build finished."]


class _FixedClock(datetime):
    now_value = datetime(2030, 1, 2, 3, 4, 5)

    @classmethod
    def now(cls, tz=None):
        return cls.now_value


@pytest.mark.parametrize("elapsed, shown", [
    (timedelta(days=1, hours=2, minutes=3, seconds=4.0056), "02:03:04.005"),
    (timedelta(seconds=-5), "00:00:00.000"),
])
def test_build_duration_text(logs, monkeypatch, elapsed, shown):
    model, x = _in_state(None)
    model.add_constraint(x[0])
    monkeypatch.setattr(model_module, "datetime", _FixedClock)
    model._start_time = _FixedClock.now_value - elapsed
    assert model.build_cnf() is True
    assert logs(LEVEL.info)[-1].endswith(" Duration = " + shown)


def test_hand_over_to_the_manager():
    manager = tl.manager()
    model = _model(manager=manager)
    x = model.create_variables("x", i=2)
    model.add_constraint(x[0])
    assert model.build_cnf() is True
    assert manager.get_input_cnf_storage() is model.get_cnf_storage()
    assert isinstance(manager.get_witness_interpreter(), tl.witness_interpreter)


def test_build_without_container_or_manager(logs):
    model = _model()
    model.create_variables("x", i=2)
    assert model.get_cnf_storage() is None and model.get_var_mapping() is None
    for build in (model.build_cnf, model.build_wcnf):
        with pytest.raises(BuildError) as refused:
            build()
        assert str(refused.value) == "The model doesn't contain any formula container"
    assert logs(LEVEL.error) == ["The model doesn't contain any formula container"] * 2
    no_manager = Model(None, "m")
    x = no_manager.create_variables("x", i=2)
    no_manager.add_constraint(x[0])
    with pytest.raises(BuildError, match="^Trell manager is not set or empty$"):
        no_manager.build_cnf()


def test_save_formats_and_default_name(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    hard, x = _in_state(None)
    hard.add_constraint(x[0] | x[1])
    hard.build_cnf()
    hard.save_to_file("hard.cnf")
    assert CNF(from_file="hard.cnf").clauses == [[1, 2]]
    soft = _model("weighted")
    y = soft.create_variables("y", i=2)
    soft.add_soft_constraint(y[0], 3, True)
    soft.build_wcnf()
    soft.save_to_file()
    wcnf = WCNF(from_file="weighted")
    assert wcnf.soft == [[-1]] and wcnf.wght == [3]
    soft.save_to_file(tmp_path / "as_path.wcnf")
    assert WCNF(from_file=str(tmp_path / "as_path.wcnf")).soft == [[-1]]
    # A model name used as the default file name never leads out of the working directory.
    for name in ("../escaped.cnf", "sub/m.cnf", "/tmp/m.cnf"):
        named = _model(name)
        z = named.create_variables("z", i=1)
        named.add_constraint(z[0])
        named.build_cnf()
        with pytest.raises(ValueError, match="path separators"):
            named.save_to_file()
        named.save_to_file("named.cnf")
    assert sorted(p.name for p in tmp_path.parent.iterdir() if p.name == "escaped.cnf") == []
    assert sorted(p.name for p in tmp_path.iterdir()) == ["as_path.wcnf", "hard.cnf", "named.cnf", "weighted"]


def test_save_without_witness_interpreter_uses_the_models_mapping(tmp_path):
    manager = RecordingManager()
    model = _model(manager=manager)
    x = model.create_variables("x", i=2)
    model.add_constraint(x[0] | x[1])
    model.build_cnf()
    manager.interpreter = None
    path = tmp_path / "m.cnf"
    model.save_to_file(str(path))
    text = path.read_text()
    assert "c x[0] 1" in text and "c x[1] 2" in text


def test_save_needs_a_build_after_the_last_change(tmp_path, logs):
    model = _model()
    x = model.create_variables("x", i=2)
    unbuilt = "^Model <m> has not been built since its last change: call build_cnf\\(\\) before save_to_file\\(\\)$"
    with pytest.raises(BuildError, match=unbuilt):
        model.save_to_file(str(tmp_path / "m.cnf"))
    model.add_constraint(x[0])
    with pytest.raises(BuildError, match=unbuilt):
        model.save_to_file(str(tmp_path / "m.cnf"))
    assert len(logs(LEVEL.error)) == 2 and list(tmp_path.iterdir()) == []
    model.add_target(x[0] + x[1])
    model.build_cnf(1, True)
    model.add_target(x[1] + x[0])
    with pytest.raises(BuildError, match=unbuilt):
        model.save_to_file(str(tmp_path / "m.cnf"))
    soft = _model()
    y = soft.create_variables("y", i=2)
    soft.add_soft_constraint(y[0])
    soft.build_wcnf()
    soft.add_soft_constraint(y[1])
    with pytest.raises(BuildError, match="call build_wcnf"):
        soft.save_to_file(str(tmp_path / "s.wcnf"))
    assert list(tmp_path.iterdir()) == []


@pytest.mark.parametrize("road_encoder", [False, True])
def test_preliminary_values_go_into_the_models_own_storage(logs, road_encoder):
    manager = tl.manager()
    first = _model("first", road_encoder, manager)
    first.add_preliminary_var_value(7, True)  # nothing built: only the log line
    assert logs(LEVEL.debug)[-1] == "Preliminary variable value was added: -7"
    x = first.create_variables("x", i=2)
    first.add_constraint(x[0] | x[1])
    first.build_cnf()
    second = _model("second", road_encoder, manager)
    y = second.create_variables("y", i=2)
    second.add_constraint(y[0])
    second.build_cnf()
    first.add_preliminary_var_value(2)
    first.add_preliminary_var_value(1, True)
    assert first.get_cnf_storage().get_prefatory_values() == [2, -1]
    assert second.get_cnf_storage().get_prefatory_values() == []


# --- the formula-encoder road --------------------------------------------------------------

def test_formula_encoder_road_forwards_everything(logs):
    manager = RecordingManager()
    model = _model("plan", True, manager)
    x = model.create_variables("x", i=2, j=3)
    i = model.get_indexes(["i"])
    model.add_constraint(x[0, 0] | x[0, 1])
    model.add_constraint(x[i, 0] | x[i, 1], i=range(2))
    model.add_target(Sum(x[i, 0], i=range(2)))
    assert model._is_wcnf is None and model._template_target is None
    model.add_soft_constraint(x[0, 0])
    model.add_soft_constraint(x[1, 1], 4, True, i=[0])
    encoder, = manager.encoders
    assert encoder.calls[1:] == [
        ("add_constraint", "bx.or_s([x(0,0).to_bx(), x(0,1).to_bx()])", "Foralls: {}"),
        ("add_constraint", "bx.or_s([x(i,0).to_bx(), x(i,1).to_bx()])", "Foralls: {'i': range(0, 2)}"),
        ("add_target", "Sum(*[x(i,0).to_pb() for i in range(0, 2)])"),
        ("add_soft_constraint", "x(0,0)", "Foralls: {}", 1, False),
        ("add_soft_constraint", "x(1,1)", "Foralls: {'i': [0]}", 4, True),
    ]
    assert model._formula_container is None
    encoder.calls.clear()
    logs.clear()
    assert model.build_wcnf() is True
    assert [call[0] for call in encoder.calls] == ["generate_cnf", "get_cnf_storage", "get_var_mapping"]
    assert manager.input_storage is encoder.storage
    assert isinstance(manager.interpreter, tl.witness_interpreter)
    assert logs(LEVEL.info)[-1] == "         action : WCNF build finished(formula encoder)."


def test_formula_encoder_road_cnf_build(logs):
    manager = RecordingManager()
    model = _model("plan", True, manager)
    assert model.get_cnf_storage() is None and model.get_var_mapping() is None
    assert manager.encoders == []
    assert model.build_cnf() is True
    assert model.use_target
    assert re.fullmatch(r"         action : CNF build finished \(formula encoder\)\. Duration = .*",
                        logs(LEVEL.info)[-1])
    # A repeated build has no stored target to bound and asks for no border.
    assert model.build_cnf() is True
    encoder, = manager.encoders
    assert [call[0] for call in encoder.calls].count("generate_cnf") == 2


def test_formula_encoder_road_empty_mapping(logs):
    manager = RecordingManager()
    model = _model("plan", True, manager)
    model.create_variables("x", i=2)
    manager.encoders[0].get_var_mapping = lambda: None
    assert model.build_cnf() is False
    assert logs(LEVEL.error) == ["Variable mapping is empty"]
    assert manager.interpreter is None


SERVICES = [
    ("save_metrics_json", ("metrics.json",)), ("save_metrics_csv", ("metrics.csv",)), ("reset", ()),
    ("set_witness", ([1, -2],)), ("set_another_witness", ([-1, 2],)),
]


def test_formula_encoder_services_forward():
    manager = RecordingManager()
    model = _model("plan", True, manager)
    model.create_variables("x", i=2)
    encoder, = manager.encoders
    encoder.calls.clear()
    for name, args in SERVICES:
        assert getattr(model, name)(*args) is None
    assert model.check_another_witness() == "encoder answer"
    assert encoder.calls == [(name,) + args for name, args in SERVICES] + [("check_another_witness",)]


@pytest.mark.parametrize("road_encoder", [False, True])
def test_services_do_nothing_without_encoder(road_encoder):
    manager = RecordingManager()
    model = _model("plan", road_encoder, manager)
    for name, args in SERVICES:
        assert getattr(model, name)(*args) is None
    assert model.check_another_witness() is False
    assert manager.encoders == []
    assert model.get_var_index(12) == 12


# --- the class declaration -----------------------------------------------------------------

def test_class_declaration():
    assert Model._Model__BXPR_AUX == "_bxpr_aux" and Model._Model__PBCT_AUX == "_pbct_aux"
    assert Model._Model__DUMMY_VAR == "dummy_var"
    assert list(Model.__annotations__.items()) == [
        ("_Model__BXPR_AUX", str), ("_Model__PBCT_AUX", str), ("_Model__DUMMY_VAR", str)]
    assert Model.__doc__ == "\n    Main class of pseudo-boolean model\n    "
    functions = [name for name, value in vars(Model).items() if callable(value) or isinstance(value, property)]
    assert [name.replace("_Model", "") for name in functions] == [
        "__init__", "get_name", "create_variables", "get_indexes", "add_constraint", "add_soft_constraint",
        "use_target", "add_target", "__reset_target", "__build_target", "__fill_hard_constraint",
        "__fill_soft_constraint", "__fill_target", "__init_formula_container", "__init_formula_encoder",
        "build_cnf", "build_wcnf", "get_cnf_storage", "get_var_mapping", "save_to_file", "save_metrics_json",
        "save_metrics_csv", "reset", "set_witness", "set_another_witness", "check_another_witness",
        "get_var_index", "add_preliminary_var_value"]
    assert Model.add_preliminary_var_value.__annotations__ == {"var": int}
    assert Model.add_target.__annotations__ == {"return": None}
    assert Model.__init__.__annotations__ == {"tmanager": tl.manager, "name": str, "use_formula_encoder": bool,
                                              "return": None}
    assert Model.build_cnf.__doc__ == ("\n        Creation CNF\n        _model_name - name\n"
                                       "        :param border: current boundary for target\n"
                                       "        :param minimization: flag for the task type.\n        ")
    assert Model.use_target.__doc__ == "Is the target set in the model"


def test_stack_entry_pattern():
    entry = traceback.format_stack(limit=1)[0]
    found = Model._Model__EXPRESSION_FORMULA_RE.match(entry)
    assert found.group(2) == str(traceback.extract_stack()[-1].lineno - 2)
    assert found.group(4) == "    entry = traceback.format_stack(limit=1)[0]"
    assert Model._Model__EXPRESSION_FORMULA_RE.match("File x, line 3, in f") is None


def test_bx_nodes_used_by_the_checks():
    context = bx.Context()
    assert isinstance(bx.zero(), bx.Zero) and isinstance(bx.one(), bx.One)
    assert isinstance(context.get_var("x(0)"), bx.BaseExpr)


# --- evaluation safety ---------------------------------------------------------------------

# A hand-written text holds what the package's texts hold; each rule of that language, and what
# it still takes (None).
@pytest.mark.parametrize("text, fault", [
    ("x(0).to_bx().__class__", "unknown attribute __class__ at position 13"),
    ("x(0).real", "unknown attribute real at position 5"),
    ("bx.or_s([x(_k).to_bx() for _k in range(2)])", "loop name _k is not an index name at position 27"),
    ("bx.or_s([x(0).to_bx() for x in range(2)])", "loop name x hides a declared variable at position 26"),
    ("bx.or_s([x(0).to_bx() for Sum in range(2)])", "loop name Sum is reserved at position 26"),
    ("x(bx).to_bx()", "unknown index name bx at position 2"),
    ("x(~i).to_bx()", "expected an integer expression at position 2"),
    ("x(i.real).to_bx()", "expected an integer expression at position 4"),
    ("x(*[0]).to_bx()", "expected an index at position 2"),
    ("bx.or_s([x(k).to_bx() for k in x(0)])", r"expected range\(...\) or a list of integers at position 31"),
    ("bx.or_s([x(k).to_bx() for k in [bx]])", "unknown index name bx at position 32"),
    ("bx.or_s([x(k).to_bx() for k in range(1, 2, 3, 4)])", "range takes one to three index values at position 31"),
    ("bx.or_s([x(0).to_bx(), {1: 2}])", "a dict is not a value of a constraint at position 23"),
    ("bx.or_s([x(0).to_bx(), '_bxpr_aux_0'])", "a string is not a value of a constraint at position 23"),
    ("bx.or_s([x(0).to_bx(), y(0).to_bx()])", "unknown variable y at position 23"),
    ("bx.or_s([x(0).to_bx(), q])", "unknown name q at position 23"),
    ("bx.or_s([x(k + 1).to_bx() for k in [0, i]])", None),
    ("bx.and_s([x(-(-1)).to_bx(), ~(x(2 ** 1).to_bx()), bx.or_s([x(k).to_bx() for k in (0,)]), bx.one()])", None),
    ("FormulaPB(Sum(*[x(k).to_pb() for k in range(0, 2, 1)]), pb.Comparator_type.LEQ, 1).to_bx(manager)", None),
])
def test_a_hand_written_text_is_held_to_the_language_of_the_package(text, fault):
    model = _model()
    x = model.create_variables("x", k=3)
    i = model.get_indexes(["i"])
    if fault is None:
        model.add_constraint(Expression(text, False), i=range(1))
        assert model.build_cnf()
        return
    with pytest.raises(ValueError, match=f"^cannot read constraint '.*': {fault}$"):
        model.add_constraint(Expression(text, False), i=range(1))


def test_no_route_runs_code_from_model_data(tmp_path):
    flag = tmp_path / "ran"
    payload = f"open({str(flag)!r}, 'w').close()"
    model = _model()
    x = model.create_variables("x", k=2)
    i = model.get_indexes(["i"])
    routes = [
        lambda: model.create_variables(payload, k=1),
        lambda: model.get_indexes([payload]),
        lambda: model.add_constraint(x[(payload,)]),
        lambda: model.add_constraint(Sum(x[i], i=f"[{payload}, 0]") >= 1),
        lambda: model.add_constraint(Sum(x[i], **{f"j in [{payload}] for i": "range(1)"}) >= 1),
        lambda: model.add_constraint(x[i + payload], i=range(2)),
        lambda: model.add_constraint(pow_expression(2, payload) * x[0] >= 1),
        lambda: model.add_soft_constraint(x[0], 1, payload),
    ]
    for route in routes:
        with pytest.raises((TypeError, ValueError)):
            route()
    # A text written by hand holds only what the package's texts hold.
    with pytest.raises(ValueError, match="^cannot read constraint .*: unknown variable open at position 0$"):
        model.add_constraint(Expression(payload))
    assert not flag.exists()


@pytest.mark.parametrize("make", [
    lambda x, i, j: pow_expression(2, i) * x[i] <= 3,
    lambda x, i, j: Sum(x[j], j="range(i)") <= 1,
])
def test_coefficient_or_range_over_a_forall_is_refused_clearly(make, logs):
    model = _model()
    x = model.create_variables("x", k=4)
    i, j = model.get_indexes(["i", "j"])
    with pytest.raises(TypeError, match="^Index 'i' has no value when the constraint is read"):
        model.add_constraint(make(x, i, j), i=range(2))
    assert len(logs(LEVEL.error)) == 1


def test_a_text_past_the_host_parsers_depth_is_refused_as_too_deep():
    model = _model()
    x = model.create_variables("x", k=2)
    deep = Expression("~" * 10000 + "x(0).to_pb()") + x[1]
    with pytest.raises(ValueError, match=r"nesting too deep \(more than 200 levels\) at position 206$"):
        model.add_constraint(deep <= 1)


@pytest.mark.parametrize("chain, error, limit", [
    # Refused as the formula encoder refuses them; a chain of sums nests only in the host's compiler.
    (lambda e, x: e | x, ValueError, r"nesting too deep \(more than 200 levels\) at position [0-9]+$"),
    (lambda e, x: ~e, ValueError, r"nesting too deep \(more than 200 levels\) at position [0-9]+$"),
    (lambda e, x: e + x, FormulaError, "recursion limit.*SumIt.*OrIt"),
])
def test_deep_nesting_names_the_limit_and_the_way_out(chain, error, limit, logs):
    model = _model()
    x = model.create_variables("x", k=2)
    expression = x[0]
    for _ in range(20000):
        expression = chain(expression, x[1])
    with pytest.raises(error, match=limit):
        model.add_constraint(expression if not expression.soft else expression <= 1)
    assert len(logs(LEVEL.error)) == 1


@pytest.mark.parametrize("make, refused", [
    # One list of 200 terms, 20 bytes each at the least beside a Boolean builder, 72 in a starred sum
    # of terms made anew.
    (lambda x, j, k: Or(x[0], j="range(200)"), "4000 bytes .3.9 KiB. for 200 terms"),
    (lambda x, j, k: Sum(x[0], j="range(40)", k="range(40)") <= 1, "115200 bytes .112.5 KiB. for 1600 terms"),
    # Lists of 40 made one after another, and a list whose inner loop is set by its outer one: taken.
    (lambda x, j, k: Or(Or(x[0], k="range(40)"), j="range(40)"), None),
    (lambda x, j, k: Sum(x[0], j="range(40)", k="range(j)") <= 1, None),
])
def test_lists_of_terms_past_the_memory_this_process_can_get_are_refused(make, refused, monkeypatch, logs):
    from zorv_encoder.core import _evaluation

    monkeypatch.setattr(_evaluation, "_memory_limit", lambda: (1000, False, 0, 0))
    monkeypatch.setattr(_evaluation, "_UNCHECKED_BYTES", 0)
    model = _model()
    x = model.create_variables("x", k=2)
    j, k = model.get_indexes(["j", "k"])
    constraint = make(x, j, k)
    if refused is None:
        model.add_constraint(constraint)
        assert model.build_cnf()
        return
    with pytest.raises(ValueError, match=(
            f"^constraint '{re.escape(str(constraint))}': would take at least {refused} of its comprehension"
            " loops, more than the 1000 bytes that this process can still get .physical memory available.$")):
        model.add_constraint(constraint)
    assert len(logs(LEVEL.error)) == 1


def test_the_comprehensions_of_a_text_share_one_cap(monkeypatch):
    from zorv_encoder.core import _evaluation

    monkeypatch.setattr(_evaluation, "WORK_CAP", 100)
    model = _model()
    x = model.create_variables("x", k=2)
    model.add_constraint(Or(x[0], j="range(60)") | Or(x[1], k="range(40)"))
    with pytest.raises(ValueError, match="would take more than 100 combinations of values together"):
        model.add_constraint(Or(x[0], j="range(60)") | Or(x[1], k="range(41)"))
    assert model.build_cnf() and model.get_cnf_storage().get_clause_count() == 1


# Fails the n-th Python allocation of one operation, for each n in turn, and prints every outcome
# other than completing or raising MemoryError, or, after a MemoryError and the same operation
# again, a result that differs from the operation's result without the failure.
_ONE_FAILED_ALLOCATION = """
import os, sys, tempfile, _testcapi
import orbeny.trelle as tl
from zorv_encoder import Sum
from zorv_encoder.encode.model import Model

def fresh(text):
    # A str of its own, without the UTF-8 form that an earlier call left cached in a shared one.
    return "".join(list(text))

def declared(road):
    m = Model(tl.manager(), fresh("swéep"), road)
    x = m.create_variables("x", k=6)
    i = m.get_indexes(["i"])
    return m, [lambda: m.add_constraint(x[i] | ~x[i + 1], i=range(5)), lambda: m.add_constraint(Sum(x[i], i=range(6)) <= 3),
               lambda: m.add_soft_constraint(x[0] + x[5], 2)]

def model(road, soft):
    m, adds = declared(road)
    for add in adds[:2 + soft]:
        add()
    return m

def built(road, soft):
    m = model(road, soft)
    m.build_wcnf() if soft else m.build_cnf()
    return m

def whole(m):
    mapping, tables = m.get_var_mapping(), m._trell_manager.get_witness_interpreter().get_mapping_tables()
    return (m.get_cnf_storage().get_clauses(), m.get_cnf_storage().get_clause_weights(), mapping.get_var_map(),
            mapping.get_inverse_map(), {name: numbers.tolist() for name, numbers in tables.items()})

def tables(mapping):
    interpreter = tl.witness_interpreter()
    interpreter.set_var_mapping(mapping)
    interpreter.set_auxiliary_vars(["_bxpr_aux", "_pbct_aux"])
    interpreter.build_mapping_tables(True)
    return {name: numbers.tolist() for name, numbers in interpreter.get_mapping_tables().items()}

def read(path):
    with open(path) as file:
        return file.read()

path = os.path.join(tempfile.mkdtemp(), "model.cnf")
ENCODER = [("create_variables", "ξ", [6]),
           ("add_constraint", "bx.or_s([ξ(i).to_bx(), ~(ξ(i + 1).to_bx())])", "Foralls: {'i': range(0, 5)}"),
           ("add_constraint", "FormulaPB(Sum(*[ξ(i).to_pb() for i in range(0, 6)]), pb.Comparator_type.LEQ, 3)"
                              ".to_bx(manager)", "Foralls: {}"),
           ("add_soft_constraint", "ξ(0).to_pb() + ξ(5).to_pb()", "Foralls: {}", 2, False), ("generate_cnf",)]
def encoder():
    return tl.manager().create_formula_encoder(fresh("swéep"))
def encoder_result(fe):
    mapping = fe.get_var_mapping()
    return fe.get_cnf_storage().get_clauses(), fe.get_cnf_storage().get_clause_weights(), mapping.get_var_map()

# name: (state, the operation's steps over it, its result)
OPERATIONS = {"encoder calls": (encoder, lambda fe: [
    lambda call=[fresh(a) if isinstance(a, str) else a for a in call]: getattr(fe, call[0])(*call[1:])
    for call in ENCODER], encoder_result)}
for road in (False, True):
    OPERATIONS.update({
        # The constraints' evaluation takes many more allocations than the other operations.
        (road, "add"): (lambda road=road: declared(road), lambda made: made[1] + [made[0].build_wcnf],
                        lambda made: whole(made[0])),
        (road, "build_cnf"): (lambda road=road: model(road, False), lambda m: [m.build_cnf], whole),
        (road, "build_wcnf"): (lambda road=road: model(road, True), lambda m: [m.build_wcnf], whole),
        (road, "clauses"): (lambda road=road: built(road, True), lambda m: [m.get_cnf_storage().get_clauses], None),
        (road, "weights"): (lambda road=road: built(road, True),
                            lambda m: [m.get_cnf_storage().get_clause_weights], None),
        (road, "mapping"): (lambda road=road: built(road, True), lambda m: [lambda: (
            m.get_var_mapping().get_var_map(), m.get_var_mapping().get_inverse_map(),
            m.get_var_mapping().get_var_name(1))], None),
        (road, "tables"): (lambda road=road: built(road, False), lambda m: [lambda: tables(m.get_var_mapping())], None),
        (road, "save_to_file"): (lambda road=road: built(road, False), lambda m: [lambda: m.save_to_file(path)],
                                 lambda m: read(path)),
    })
def lp_row(rows):
    rows.append(tl.linear_expression())
    rows[-1].set_var_count(8)
OPERATIONS["lp row"] = (list, lambda rows: [lambda: lp_row(rows), lambda: rows[-1].set_ones([4, 1], 2),
                                            lambda: rows[-1].set_by_coefficients(5, [1.5, 2.0])],
                        lambda rows: rows[-1].get_linear_coefficients().tolist())
OPERATIONS["dict mapping"] = (lambda: built(False, False), lambda m: [
    lambda: m.get_cnf_storage().save_to_file(path, tl.input_sat_format.cnf, {"x[0]": 1}),
    lambda: tl.var_mapping().set_var_map({"x[0]": 1, "x[1]": 2})], lambda m: read(path))

def run(operation, n):
    make, steps, result = OPERATIONS[operation]
    state = make()
    value = None
    for k, step in enumerate(steps(state)):
        try:
            if k == 0 and n is not None:
                _testcapi.set_nomemory(n, n + 1)
            try:
                value = step()
            finally:
                _testcapi.remove_mem_hooks()
        except MemoryError:
            value = step()
    return value if result is None else result(state)

for operation in OPERATIONS:
    expected = run(operation, None)
    for n in range(1500 if operation[1:] == ("add",) else 70):
        try:
            if run(operation, n) != expected:
                print(operation, n, "gives another result")
        except BaseException as error:
            print(operation, n, type(error).__name__, error)
print("done")
"""


def test_an_allocation_that_fails_raises_memory_error_and_leaves_the_model_whole():
    import importlib.util
    import subprocess
    import sys

    if importlib.util.find_spec("_testcapi") is None:
        pytest.skip("this Python has no _testcapi")
    # A process of its own: a failed allocation in pytest's machinery would fail the run, not the test.
    out = subprocess.run([sys.executable, "-c", _ONE_FAILED_ALLOCATION], capture_output=True, text=True, timeout=120)
    assert (out.returncode, out.stdout) == (0, "done\n"), out.stdout + out.stderr[-2000:]


@pytest.mark.parametrize("exhausted", [MemoryError(), MemoryError("std::bad_alloc")])
def test_a_constraint_whose_evaluation_runs_out_of_memory_is_named(exhausted, monkeypatch):
    from zorv_encoder.encode import _model_steps

    model = _model()
    x = model.create_variables("x", k=2)
    model.add_constraint(x[0] | x[1])

    def evaluate(namespace, expression, *checked):
        raise exhausted

    with monkeypatch.context() as patched:
        patched.setattr(_model_steps, "evaluate", evaluate)
        with pytest.raises(MemoryError, match=(
                r"^constraint 'bx.or_s.*' over \{'i': range\(0, 3\)\}: ran out of memory while it was evaluated"
                r" .* the [0-9]+ bytes .* that this process can still get .*once its objects are freed$")):
            model.add_constraint(x[0] | ~x[1], i=range(3))
    # Nothing of it was taken.
    assert model.build_cnf() and model.get_cnf_storage().get_clause_count() == 1


# --- all or nothing at every line --------------------------------------------------------

class _RaiseAtLine:
    """A tracer that raises `error` once, at the k-th line run inside the two packages, as a
    Ctrl-C or a failed allocation may land there; it remembers where."""

    ROOTS = tuple(str(__import__("pathlib").Path(package.__file__).parent) + "/"
                  for package in (__import__("zorv_encoder"), __import__("orbeny")))

    def __init__(self, k, error):
        self.k, self.error, self.seen, self.where = k, error, 0, None

    def __call__(self, frame, event, arg):
        return self.line if frame.f_code.co_filename.startswith(self.ROOTS) else None

    def line(self, frame, event, arg):
        if event == "line":
            self.seen += 1
            if self.seen == self.k:
                self.where = "%s:%d" % (frame.f_code.co_filename.rpartition("/src/")[2], frame.f_lineno)
                raise self.error()  # a trace function that raises is switched off: once only
        return self.line


class _RaiseInRollback(_RaiseAtLine):
    """_RaiseAtLine(k, KeyboardInterrupt) for a rollback, which also notes a line at which the model
    lacks one of its attributes, as another thread may find it there."""

    def __init__(self, k):
        super().__init__(k, KeyboardInterrupt)
        self.model, self.bare = None, None

    def line(self, frame, event, arg):
        if event == "line" and not vars(self.model).keys() >= self.attributes:
            self.bare = "%s:%d" % (frame.f_code.co_filename, frame.f_lineno)
        return super().line(frame, event, arg)


def _ones(m, x, i, j):
    m.add_constraint(Sum(x[i, j], j=range(5)) == 1, i=range(4))


def _declare_z(m, x, i, j):
    try:
        m.create_variables("z", k=2)
    except VariableError:
        pass  # the container road takes no declaration after a constraint


_PAIR = lambda m, x, i, j: m.add_constraint(x[0, 0] | x[1, 1])  # noqa: E731
_SOFT = lambda m, x, i, j: m.add_soft_constraint(x[2, 2] + x[3, 3], 2)  # noqa: E731
_TARGET = lambda m, x, i, j: m.add_target(x[0, 0] + x[1, 1])  # noqa: E731
_BUILD = lambda m, x, i, j: m.build_cnf(1, False) if m.use_target else m.build_cnf()  # noqa: E731
# name: (steps before the call, the call, steps after it, whether the model is weighted)
_SWEPT = {
    "create_variables": ([], lambda m, x, i, j: m.create_variables("y", k=3), [_declare_z, _ones, _PAIR], False),
    "get_indexes": ([_ones], lambda m, x, i, j: m.get_indexes(["k", "l"]), [_PAIR, _declare_z], False),
    "add_constraint": ([_ones], lambda m, x, i, j: m.add_constraint(Sum(x[i, j], i=range(4)) <= 2, j=range(5)),
                       [_PAIR, _declare_z], False),
    "add_soft_constraint": ([_ones], lambda m, x, i, j: m.add_soft_constraint(x[0, 0] + 2 * x[1, 1], 3),
                            [_SOFT, _declare_z], True),
    "add_target": ([_ones], lambda m, x, i, j: m.add_target(x[0, 0] + 2 * x[1, 1]), [_declare_z], False),
    "build_cnf": ([_ones, _TARGET], _BUILD, [_declare_z], False),
    "build_wcnf": ([_ones, _SOFT], lambda m, x, i, j: m.build_wcnf(), [_SOFT, _declare_z], True),
    "save_to_file": ([_ones, _BUILD], None, [_declare_z], False),
}


@pytest.fixture(scope="module")
def sweep_dir(tmp_path_factory):
    import os
    import tempfile

    # The saves wait for the disk: in memory where the system has it.
    if os.path.isdir("/dev/shm"):
        with tempfile.TemporaryDirectory(dir="/dev/shm") as directory:
            yield directory
    else:
        yield str(tmp_path_factory.mktemp("sweep"))


def _made(call, k, error, repeat, skip, rollback=None):
    """`call` made once (skip: never; k: stopped at its k-th line by `error`, then made again or
    not; rollback: and its rollback too, by a Ctrl-C at that tracer's line): whether it raised, and
    the tracer of the call."""
    import sys

    from zorv_encoder.encode import _model_steps

    tracer = _RaiseAtLine(k, error)
    if k is None:
        skip or call()
        return False, tracer
    restore = _model_steps.restore

    def traced_restore(model, *args):
        # The same tracer at each run: it raises once.
        rollback.model, rollback.attributes = model, vars(model).keys()
        sys.settrace(rollback)
        try:
            restore(model, *args)
        finally:
            sys.settrace(None)

    # The rollback's Ctrl-C is the one the call raises then.
    stops = error if rollback is None else (error, KeyboardInterrupt)
    previous = sys.gettrace()
    sys.settrace(tracer)
    try:
        if rollback is not None:
            _model_steps.restore = traced_restore
        call()
    except stops:
        raised = True
    else:
        raised = False
    finally:
        sys.settrace(previous)
        _model_steps.restore = restore
    if raised and repeat:
        call()
    return raised, tracer


def _swept_run(road, name, directory, k=None, error=None, repeat=False, skip=False, rollback=None):
    """The model of `name` with its call made (see _made), built and saved: whether the call
    raised, the tracer of the call, and what the model saved."""
    import os

    before, call, after, weighted = _SWEPT[name]
    saved = os.path.join(directory, "call.cnf")
    if os.path.exists(saved):
        os.unlink(saved)
    if call is None:
        call = lambda m, x, i, j: m.save_to_file(saved)  # noqa: E731
    m = Model(tl.manager(), "sweep", road)
    x = m.create_variables("x", i=4, j=5)
    state = (m, x) + tuple(m.get_indexes(["i", "j"]))
    for step in before:
        step(*state)
    raised, tracer = _made(lambda: call(*state), k, error, repeat, skip, rollback)
    for step in after:
        step(*state)
    m.build_wcnf() if weighted else _BUILD(*state)
    path = os.path.join(directory, "model.cnf")
    m.save_to_file(path)
    tables = m._trell_manager.get_witness_interpreter().get_mapping_tables()
    with open(path) as file:
        text = file.read()
    first = None
    if os.path.exists(saved):
        with open(saved) as file:
            first = file.read()
    return raised, tracer, (text, first, {key: value.tolist() for key, value in tables.items()})


_LP_ROW = lambda m, v: m.add_constraint(v[0] + v[1] + v[2] <= 30)  # noqa: E731
# name: (steps before the call, the call, steps after it)
_LP_SWEPT = {
    "create_variable": ([], lambda m, v: m.create_variable("extra", tl.var_type.continuous, [2], 0, 5),
                        [lambda m, v: m.create_variable("later", tl.var_type.binary, [2]), _LP_ROW]),
    "add_constraint": ([_LP_ROW], lambda m, v: m.add_constraint(v[0] - v[2] >= 4, "gap"), [_LP_ROW]),
    "add_target": ([_LP_ROW], lambda m, v: m.add_target(v.dot([1, 2, 3]), "goal"), [_LP_ROW]),
    "set_maximization": ([lambda m, v: m.add_target(v[1] - v[0])], lambda m, v: m.set_maximization(True),
                         [_LP_ROW]),
    "get_linh_solution": ([_LP_ROW, lambda m, v: m.apply_storage()], lambda m, v: m.get_linh_solution(),
                          [_LP_ROW]),
}


def _lp_swept_run(name, directory, k=None, error=None, repeat=False, skip=False):
    """The linear model of `name` with its call made (see _made), then solved: whether the call
    raised, the tracer of the call, and what the storage holds and the solver finds."""
    before, call, after = _LP_SWEPT[name]
    m = LinearModel(tl.manager(), "sweep")
    v = m.create_variable("make", tl.var_type.integer, [3], 0, 20)
    for step in before:
        step(m, v)
    raised, tracer = _made(lambda: call(m, v), k, error, repeat, skip)
    for step in after:
        step(m, v)
    storage = m._lp_storage
    arrays = {key: getattr(value, "tolist", lambda: value)() for key, value in storage._solver_arrays().items()}
    blocks = [storage.get_var_block_info(index) for index in range(storage.get_var_block_info_count())]
    m.apply_storage()
    solution = m.get_linh_solution()
    return raised, tracer, (arrays, [(b.get_name(), b.get_initial_shift()) for b in blocks],
                           [storage.get_row_name(index) for index in range(storage.get_row_count())],
                           solution.get_objective_value(), m.get_result("make").tolist())


# name: (the mapping the tables are rebuilt from, whether strict)
_TABLES_SWEPT = {
    "build_mapping_tables": ({"y[0]": 1, "x[0]": 2}, True),
    "build_mapping_tables_with_holes": ({"x[0]": 1, "x[2]": 3}, False),
    "build_mapping_tables_refused": ({"x[0]": 1, "x[2]": 3}, True),
}


def _tables_swept_run(name, directory, k=None, error=None, repeat=False, skip=False):
    """An interpreter with tables built, its mapping changed, and its rebuild made (see _made):
    whether the rebuild raised, the tracer of the rebuild, and the tables it leaves."""
    keys, strict = _TABLES_SWEPT[name]
    mapping = tl.var_mapping()
    mapping.set_var_map({"dummy_var[]": 1, "x[0]": 2, "x[1]": 3})
    interpreter = tl.witness_interpreter()
    interpreter.set_var_mapping(mapping)
    assert interpreter.build_mapping_tables()
    mapping.set_var_map(keys)
    raised, tracer = _made(lambda: interpreter.build_mapping_tables(strict), k, error, repeat, skip)
    return raised, tracer, {key: value.tolist() for key, value in interpreter.get_mapping_tables().items()}


_SWEEPS = {
    "container": (_SWEPT, lambda *args, **kwargs: _swept_run(False, *args, **kwargs)),
    "encoder": (_SWEPT, lambda *args, **kwargs: _swept_run(True, *args, **kwargs)),
    "linear": (_LP_SWEPT, _lp_swept_run),
    "tables": (_TABLES_SWEPT, _tables_swept_run),
}


@pytest.mark.parametrize("road, name", [(road, name) for road, (calls, _) in _SWEEPS.items() for name in calls])
def test_a_call_stopped_at_any_line_leaves_the_model_as_it_was(road, name, sweep_dir):
    # Stopped at its k-th line, for every k until it returns, by a failed allocation or a Ctrl-C
    # in turn; then the model goes on without it or makes it again, in turn, and saves what a model
    # that never made it, or made it once, saves.
    import logging

    logging.disable(logging.CRITICAL)
    try:
        run = _SWEEPS[road][1]
        once = run(name, sweep_dir)[2]
        never = run(name, sweep_dir, skip=True)[2]
        faults, k = [], 0
        while True:
            k += 1
            error, repeat = (MemoryError, KeyboardInterrupt)[k % 2], k // 2 % 2 == 1
            try:
                raised, tracer, saved = run(name, sweep_dir, k, error, repeat)
            except Exception as failure:
                faults.append((k, error.__name__, repeat, "then " + repr(failure)[:120]))
                continue
            if not raised:
                break
            if saved != (once if repeat else never):
                faults.append((k, error.__name__, repeat, tracer.where))
    finally:
        logging.disable(logging.NOTSET)
    assert k > 2 and not faults, faults[:10]



@pytest.mark.parametrize("road", [False, True], ids=["container", "encoder"])
def test_a_rollback_stopped_at_any_line_leaves_the_model_as_it_was(road, sweep_dir):
    # Each call stopped at its last line, and its rollback by a second Ctrl-C at its m-th line, for
    # every m: the model goes on without the call or makes it again, as after one stop; and at no
    # line of a rollback does the model lack an attribute.
    import logging

    logging.disable(logging.CRITICAL)
    try:
        faults, stops = [], 0
        for name in _SWEPT:
            once = _swept_run(road, name, sweep_dir)[2]
            never = _swept_run(road, name, sweep_dir, skip=True)[2]
            last = _swept_run(road, name, sweep_dir, 1 << 40, MemoryError)[1].seen
            m = 0
            while True:
                m += 1
                rollback = _RaiseInRollback(m)
                try:
                    saved = _swept_run(road, name, sweep_dir, last, MemoryError, m % 2 == 1, rollback=rollback)[2]
                except Exception as failure:
                    faults.append((name, m, "then " + repr(failure)[:120]))
                    continue
                if rollback.where is None:
                    break
                stops += 1
                if saved != (once if m % 2 == 1 else never) or rollback.bare:
                    faults.append((name, m, rollback.where, rollback.bare))
    finally:
        logging.disable(logging.NOTSET)
    assert stops > 50 and not faults, faults[:10]


@pytest.mark.parametrize("road", [False, True], ids=["container", "encoder"])
def test_a_call_takes_what_it_changes_whatever_the_model_holds(road, monkeypatch):
    # Shown by memory and copies, not time: a declaration and an add take no more after 2000
    # declarations than after 20, and an add copies the variables it reads, at the add, no other.
    import tracemalloc

    from zorv_encoder.encode.variables import Variable

    copied = []
    copy = Variable.copy
    monkeypatch.setattr(Variable, "copy", lambda variable: copied.append(variable.name) or copy(variable))

    def peak(call):
        tracemalloc.start()
        try:
            result = call()
            return result, tracemalloc.get_traced_memory()[1]
        finally:
            tracemalloc.stop()

    peaks = []
    for count in (20, 2000):
        m = Model(tl.manager(), "cost", road)
        for k in range(count):
            m.create_variables("v" + str(k).translate(str.maketrans("0123456789", "abcdefghij")), i=2)
        x, declared = peak(lambda: m.create_variables("x", i=2))
        y = m.create_variables("y", i=2)
        # The first add maps every declared variable once, for the builds: the second is measured.
        m.add_constraint(x[1] | y[0])
        copied.clear()
        peaks.append((declared, peak(lambda: m.add_constraint(x[0] | ~y[1]))[1]))
        assert sorted(copied) == ([] if road else ["x", "y"])
    assert all(many < few + 8192 for few, many in zip(*peaks)), peaks
    m.build_cnf()
    assert len(copied) == (0 if road else 2)
