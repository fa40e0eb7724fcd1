import pytest

from zorv_encoder.core.pboperations import AddOp, PBBaseOp, PBVariable, Sum

a, b, c = PBVariable(5, "x(1)"), PBVariable(6, "x(2)"), PBVariable(7, "y(i,j + 1)")


@pytest.mark.parametrize(
    "term, text",
    [
        (PBVariable(5, "x(1,2)", -2), "Var(coeff: -2; pb num: 5; bx var: x(1,2))"),
        (a - b, "AddOp(Var(coeff: 1; pb num: 5; bx var: x(1)), Var(coeff: -1; pb num: 6; bx var: x(2)))"),
        (2 * Sum(a, b), "Sum(Var(coeff: 2; pb num: 5; bx var: x(1)), Var(coeff: 2; pb num: 6; bx var: x(2)))"),
        (Sum(), "Sum()"),
        (Sum(Sum(a), a + 1), "Sum(Sum(Var(coeff: 1; pb num: 5; bx var: x(1))), "
                             "AddOp(Var(coeff: 1; pb num: 5; bx var: x(1)), 1))"),
        (a + "txt", "AddOp(Var(coeff: 1; pb num: 5; bx var: x(1)), txt)"),
        (-(a + 1), "AddOp(Var(coeff: -1; pb num: 5; bx var: x(1)), -1)"),
    ],
)
def test_text_forms(term, text):
    assert repr(term) == text and str(term) == text and f"{term}" == text


@pytest.mark.parametrize(
    "term, pairs",
    [
        (Sum(), []),
        (Sum(a), [(5, 1)]),
        (a + a, [(5, 1), (5, 1)]),
        (a - a, [(5, 1), (5, -1)]),
        (0 * a, [(5, 0)]),
        (Sum(a, b) + c, [(5, 1), (6, 1), (7, 1)]),
        (a - (b + c), [(5, 1), (6, -1), (7, -1)]),
        (2 * (a + b), [(5, 2), (6, 2)]),
        (2 * Sum(a, -3 * b), [(5, 2), (6, -6)]),
        (Sum(c, Sum(), a + Sum(b, 0 * c), b), [(7, 1), (5, 1), (6, 1), (7, 0), (6, 1)]),
        (-Sum(a, -(b - c)), [(5, -1), (6, 1), (7, -1)]),
    ],
)
def test_flattening_order_keeps_repeats_and_zeros(term, pairs):
    assert term.to_maxsat() == pairs
    assert term.to_maxsat() is not term.to_maxsat()


def test_shapes_and_immutability():
    n = -(-a)
    assert type(n) is PBVariable and n is not a and n.coefficient == 1 and a.coefficient == 1
    m = 2 * (a + b)
    assert type(m) is AddOp and m.first_variable.coefficient == 2 and m.second_variable.coefficient == 2
    s = Sum(a, b)
    assert type(2 * s) is Sum and type(-Sum()) is Sum and (-Sum()).variables == ()
    t = s + c
    assert type(t) is AddOp and t.first_variable is s and s.variables == (a, b)
    assert (a.pb_var, a.name, a.coefficient) == (5, "x(1)", 1)
    assert vars(PBVariable(1, "x(1)")) == {"pb_var": 1, "name": "x(1)", "coefficient": 1}


@pytest.mark.parametrize(
    "op",
    [lambda: a * 2, lambda: 2 + a, lambda: 2 - a, lambda: +a, lambda: abs(a), lambda: a / 2,
     lambda: sum([a, b]), lambda: a * b, lambda: Sum() * a, lambda: (a + b) * Sum(),
     lambda: a - "txt", lambda: PBBaseOp()],
)
def test_unsupported_operations_raise_type_error(op):
    with pytest.raises(TypeError):
        op()


def test_foreign_operand_fails_only_when_flattened(sent_logs):
    t = Sum(a, a + 2)
    with pytest.raises(AttributeError):
        t.to_maxsat()
    with pytest.raises(AttributeError):
        t.to_pb()
    assert sent_logs == []  # the failing Sum logged nothing
    assert (3 * (a + 1)).second_variable == 3


def test_deep_chains_need_no_recursion():
    n = 20_000
    t = PBVariable(1, "x(0)")
    for k in range(1, n):
        t = t + PBVariable(k + 1, f"x({k})")
    t = -(2 * t)
    assert t.to_maxsat() == [(k + 1, -2) for k in range(n)]
    assert repr(t).count("AddOp(") == n - 1
