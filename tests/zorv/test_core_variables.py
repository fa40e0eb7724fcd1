import pytest

import orbeny.trelle as tl
import orbeny.trelle.bxpr as bx
import orbeny.trelle.pbct as pb
from zorv_encoder.core.manager import Manager
from zorv_encoder.core.pboperations import PBVariable, Sum
from zorv_encoder.core.variable import GeneratorVariable, Index, Variable

a, b, c = PBVariable(5, "x(1)"), PBVariable(6, "x(2)"), PBVariable(7, "y(i,j + 1)")


class IndexText:
    """Stands for a loop index of the modelling layer: only its text matters here."""

    def __init__(self, text):
        self.text = text

    def __str__(self):
        return self.text


def test_pb_flattening_and_debug_lines(sent_logs):
    inner = Sum(a)
    items = (Sum(inner, b) + c).to_pb()
    assert len(items) == 3
    assert [m for m, _ in sent_logs] == [
        "Sum to_pb result " + str(items[:1]),
        "Sum to_pb result " + str(items[:2]),
    ]
    assert all(level is tl.log_level_type.debug for _, level in sent_logs)
    sent_logs.clear()
    assert Sum().to_pb() == [] and sent_logs[0][0] == "Sum to_pb result []"
    sent_logs.clear()
    (a + b).to_pb()
    Sum(a).to_maxsat()
    assert sent_logs == []


@pytest.fixture
def manager():
    return Manager()


@pytest.mark.parametrize(
    "items, name",
    [((1, 2), "x(1,2)"), ((3,), "x(3)"), ((), "x()"), ((IndexText("i"), IndexText("j + 1")), "x(i,j + 1)"),
     ((IndexText("i"), 2), "x(i,2)"), ((-1,), "x(-1)"), (("1",), "x(1)")],
)
def test_generator_forms_call_text_names(manager, items, name):
    manager.registration_generator_variables("x")
    v = manager.name2genvar["x"](*items)
    assert type(v) is Variable and v.name == name
    assert str(v.to_bx()) == name and manager.name2pb[name] == v.pb_var
    assert v.to_bx() is v.to_bx() is manager.pb2bx[v.pb_var]
    t1, t2 = v.to_pb(), v.to_pb()
    assert t1 is not t2 and (t1.pb_var, t1.name, t1.coefficient) == (v.pb_var, name, 1)


def test_manager_numbering(manager):
    cfg = manager.pb_config
    assert cfg.pb_encoder == pb.PB_Encoder_type.ADDER and cfg.max_clauses_per_constraint == 1000000
    assert (manager.name2genvar, manager.name2pb, manager.pb2bx, manager.pb2name, manager.cnt_pbvar) == ({}, {}, {}, {}, 0)
    manager.registration_generator_variables("x")
    manager.registration_generator_variables("y")
    gen_x = manager.name2genvar["x"]
    manager.registration_generator_variables("x")
    assert manager.name2genvar["x"] is gen_x and gen_x.manager is manager and gen_x.name == "x"
    x12a, x12b, y1, x1 = gen_x(1, 2), gen_x(1, 2), manager.name2genvar["y"](1), gen_x("1")
    assert x12a is not x12b and x12a.bx_var is x12b.bx_var and x12a.pb_var == x12b.pb_var
    assert len({x12a.pb_var, y1.pb_var, x1.pb_var}) == 3 and x12a.pb_var < y1.pb_var < x1.pb_var
    assert manager.add_variable("x(1)") == (x1.bx_var, x1.pb_var)
    assert manager.get_pb_var(y1.pb_var) is y1.bx_var
    assert manager.cnt_pbvar == 0
    assert {v: k for k, v in manager.name2pb.items()} == manager.pb2name
    assert manager.pb2bx.keys() == manager.pb2name.keys()


def test_auxiliary_naming_and_reset(manager):
    manager.registration_generator_variables("x")
    gen = manager.name2genvar["x"]
    model_var = gen(1)
    aux0 = manager.get_pb_var(1000)
    assert str(aux0) == "_pbct_aux_0" and manager.cnt_pbvar == 1
    assert manager.get_pb_var(1000) is aux0 and manager.cnt_pbvar == 1
    assert str(manager.get_pb_var(7)) == "_pbct_aux_1"
    assert str(manager.get_pb_var(0)) == "_pbct_aux_2"
    assert str(manager.get_pb_var(-3, "p")) == "p_3" and manager.cnt_pbvar == 4
    assert manager.pb2name[1000] == "_pbct_aux_0" and manager.name2pb["_pbct_aux_1"] == 7

    maps = (manager.name2pb, manager.pb2bx, manager.pb2name)
    old = (manager.bx_context, manager.pb_config, manager.pb_var_manager)
    manager.reset()
    assert (manager.name2pb, manager.pb2bx, manager.pb2name) == ({}, {}, {}) and manager.cnt_pbvar == 0
    assert maps[0] is manager.name2pb and maps[1] is manager.pb2bx and maps[2] is manager.pb2name
    new = (manager.bx_context, manager.pb_config, manager.pb_var_manager)
    assert all(o is not n for o, n in zip(old, new))
    assert manager.pb_config.pb_encoder == pb.PB_Encoder_type.ADDER
    assert manager.pb_config.max_clauses_per_constraint == 1000000
    assert manager.name2genvar == {"x": gen}
    again = gen(1)
    assert again.bx_var is not model_var.bx_var and str(again.bx_var) == "x(1)"
    assert str(manager.get_pb_var(again.pb_var + 1000)) == "_pbct_aux_0"


def test_variables_registered_at_once_as_one_by_one():
    from zorv_encoder.core.manager import Manager

    one_by_one, at_once = Manager(), Manager()
    for manager in (one_by_one, at_once):
        manager.get_pb_var(50)  # counting goes on from an earlier auxiliary
    made = [one_by_one.get_pb_var(n) for n in (9, 4, 70)]
    assert [str(v) for v in at_once._new_pb_vars([9, 4, 70])] == [str(v) for v in made]
    a, b = one_by_one, at_once
    assert a.cnt_pbvar == b.cnt_pbvar == 4
    assert list(a.name2pb.items()) == list(b.name2pb.items())
    assert list(a.pb2name.items()) == list(b.pb2name.items())
    assert [(n, str(v)) for n, v in a.pb2bx.items()] == [(n, str(v)) for n, v in b.pb2bx.items()]
    assert at_once.pb2bx[4] is at_once.get_pb_var(4) and at_once.pb2bx[4] == at_once.bx_context.get_var("_pbct_aux_2")

    # model variables likewise, repeats included
    names = ["x(1)", "x(2)", "x(1)", "x(3)"]
    assert [one_by_one.add_variable(name)[1] for name in names] == at_once._pb_vars_of(names)
    assert list(a.name2pb.items()) == list(b.name2pb.items())
    assert [(n, str(v)) for n, v in a.pb2bx.items()] == [(n, str(v)) for n, v in b.pb2bx.items()]


@pytest.mark.parametrize("names", [["x(1)", "x(2)", "x(3)"], ["x(1)", "x(2)", "x(1)", "x(3)", "x(2)"], []])
def test_variables_registered_at_once_into_an_empty_manager(names):
    from zorv_encoder.core.manager import Manager

    a, b = Manager(), Manager()
    for manager in (a, b):
        manager.pb_var_manager.get_variable()  # a number the encoder drew, registered nowhere
    assert [a.add_variable(name)[1] for name in names] == b._pb_vars_of(names)
    assert b.pb_var_manager._next == a.pb_var_manager._next
    assert b.get_pb_var(500) is b.pb2bx[500]  # an auxiliary after them keeps the order of the maps
    a.get_pb_var(500)
    assert list(a.name2pb.items()) == list(b.name2pb.items()) and list(a.pb2name.items()) == list(b.pb2name.items())
    assert [(n, str(v)) for n, v in a.pb2bx.items()] == [(n, str(v)) for n, v in b.pb2bx.items()]
    assert all(b.pb2bx[n] is b.add_variable(name)[0] for name, n in b.name2pb.items())


def test_variables_registered_at_once_all_or_nothing():
    from zorv_encoder.core.manager import Manager

    manager = Manager()
    with pytest.raises(TypeError, match="must be a str"):
        manager._pb_vars_of(["x(1)", 7])
    assert (manager.name2pb, manager.pb2bx, manager.pb2name) == ({}, {}, {})
    [number] = manager._pb_vars_of(["x(2)"])
    assert manager.name2pb == {"x(2)": number} and str(manager.pb2bx[number]) == "x(2)"


def test_core_index_record():
    idx = Index("i", 0, 10)
    assert (idx.name, idx.range_start, idx.range_end, idx.range_step) == ("i", 0, 10, 1)
    assert Index("j", 1, 9, 2).range_step == 2


def test_annotations_name_sibling_types():
    assert Variable.__init__.__annotations__["bx_var"] is bx.Variable
    assert GeneratorVariable.__init__.__annotations__["name"] is str
