import numpy as np
import pytest
from hypothesis import given, strategies as st

import orbeny.trelle as tl
import zorv_encoder.encode as encode
from zorv_encoder.encode import (
    And,
    AndIt,
    Equiv,
    IfThenElse,
    Implication,
    One,
    Or,
    OrIt,
    Sum,
    SumIt,
    Xor,
    XorIt,
    Zero,
    pow_expression,
)
from zorv_encoder.encode._expression_rules import _BOOLEAN_IN_SUM
from zorv_encoder.encode.expressions import Expression, VariableProxy, _expr2bx, _expr2pb
from zorv_encoder.encode.variables import Index

p, q, r = VariableProxy("x(0)"), VariableProxy("x(1)"), VariableProxy("x(2)")
i, j = Index("i"), Index("j")


ERROR, WARNING = tl.log_level_type.error, tl.log_level_type.warning


TEXTS = [
    # operand conversion
    (lambda: _expr2bx(p), "x(0).to_bx()", None),
    (lambda: _expr2pb(Expression("x(0)")), "x(0)", None),
    (lambda: _expr2bx(One), "bx.one()", None),
    (lambda: _expr2pb(5), "5", None),
    # arithmetic
    (lambda: p + q, "x(0).to_pb() + x(1).to_pb()", True),
    (lambda: q - p, "x(1).to_pb() - x(0).to_pb()", True),
    (lambda: 3 * p, "3 * (x(0).to_pb())", True),
    (lambda: p * -2, "-2 * (x(0).to_pb())", True),
    (lambda: p * True, "True * (x(0).to_pb())", True),
    (lambda: (p + q) * 2, "2 * (x(0).to_pb() + x(1).to_pb())", True),
    (lambda: pow_expression(2, "i") * p, "2 ** i * (x(0).to_pb())", True),
    (lambda: pow_expression(3, 2), "3 ** 2", True),
    (lambda: pow_expression(2, i), "2 ** i", True),
    (lambda: p.maxsat(True), "FormulaPB(x(0).to_pb(), None, None).to_maxsat(manager, True)", True),
    (lambda: (2 * p).maxsat(False), "FormulaPB(2 * (x(0).to_pb()), None, None).to_maxsat(manager, False)", True),
    # a null flag counts as false; numpy Booleans and the integers 0 and 1 are flags too
    (lambda: p.maxsat(None), "FormulaPB(x(0).to_pb(), None, None).to_maxsat(manager, None)", True),
    (lambda: p.maxsat(np.True_), "FormulaPB(x(0).to_pb(), None, None).to_maxsat(manager, True)", True),
    (lambda: p.maxsat(np.int8(0)), "FormulaPB(x(0).to_pb(), None, None).to_maxsat(manager, 0)", True),
    # constraints
    (lambda: 3 >= p, "FormulaPB(x(0).to_pb(), pb.Comparator_type.LEQ, 3).to_bx(manager)", False),
    (lambda: 3 <= p, "FormulaPB(x(0).to_pb(), pb.Comparator_type.GEQ, 3).to_bx(manager)", False),
    (lambda: 0 == p, "FormulaPB(x(0).to_pb(), pb.Comparator_type.BOTH, 0).to_bx(manager)", False),
    (lambda: p + q == 1, "FormulaPB(x(0).to_pb() + x(1).to_pb(), pb.Comparator_type.BOTH, 1).to_bx(manager)", False),
    (lambda: p <= -2, "FormulaPB(x(0).to_pb(), pb.Comparator_type.LEQ, -2).to_bx(manager)", False),
    (lambda: p & q & r, "bx.and_s([bx.and_s([x(0).to_bx(), x(1).to_bx()]), x(2).to_bx()])", False),
    (lambda: p | q, "bx.or_s([x(0).to_bx(), x(1).to_bx()])", False),
    (lambda: p ^ q, "bx.xor_s([x(0).to_bx(), x(1).to_bx()])", False),
    (lambda: ~~p, "~(~(x(0).to_bx()))", False),
    (lambda: ~Zero, "~(bx.zero())", False),
    (lambda: p & q <= 1, "FormulaPB(bx.and_s([x(0).to_bx(), x(1).to_bx()]), pb.Comparator_type.LEQ, 1).to_bx(manager)", False),
    # comprehension combinators
    (lambda: Sum(VariableProxy("x(i)"), i="range(3)"), "Sum(*[x(i).to_pb() for i in range(3)])", True),
    (
        lambda: And(VariableProxy("x(i,j)"), j="range(3)", i=range(2)),
        "bx.and_s([x(i,j).to_bx() for j in range(3) for i in range(0, 2)])",
        False,
    ),
    (lambda: Xor(expr=VariableProxy("x(i)")), "bx.xor_s([x(i).to_bx() ])", False),
    (lambda: Or(Sum(p, i=[0, 2, 5]), i=3), "bx.or_s([Sum(*[x(0).to_pb() for i in [0, 2, 5]]) for i in 3])", False),
    (lambda: And(One, i="range(3)"), "bx.and_s([bx.one() for i in range(3)])", False),
    # any identifier that does not begin with an underscore names an index; sets are written sorted
    (lambda: Sum(p, i1="range(3)", row_a="range(i1 + 1)"),
     "Sum(*[x(0).to_pb() for i1 in range(3) for row_a in range(i1 + 1)])", True),
    (lambda: Or(p, i={5, -1, 2}, j=frozenset({np.int64(1)})), "bx.or_s([x(0).to_bx() for i in [-1, 2, 5] for j in [1]])",
     False),
    # numpy values are written as the plain integers they hold
    (
        lambda: Sum(p, i=np.arange(2), j=np.array([3], dtype=np.int8), k=(np.int64(4),), n=np.int16(2)),
        "Sum(*[x(0).to_pb() for i in [0, 1] for j in [3] for k in (4,) for n in 2])",
        True,
    ),
    (lambda: Sum(p, i="[0, i + 1, 2 ** n, -k * 3]", j=" range(i, 2 * n) "),
     "Sum(*[x(0).to_pb() for i in [0, i + 1, 2 ** n, -k * 3] for j in  range(i, 2 * n) ])", True),
    (lambda: pow_expression(np.int64(2), "i - 1") * p, "2 ** (i - 1) * (x(0).to_pb())", True),
    # sequence combinators
    (lambda: SumIt([p, q]), "Sum(*[x(0).to_pb(), x(1).to_pb()])", True),
    (lambda: OrIt((q,)), "bx.or_s([x(1).to_bx()])", False),
    (lambda: AndIt((One, p)), "bx.and_s([bx.one(), x(0).to_bx()])", False),
    (lambda: OrIt(expressions=[p <= 1]), "bx.or_s([FormulaPB(x(0).to_pb(), pb.Comparator_type.LEQ, 1).to_bx(manager)])", False),
    (lambda: XorIt([p, XorIt([q])]), "bx.xor_s([x(0).to_bx(), bx.xor_s([x(1).to_bx()])])", False),
    # fixed-arity combinators
    (lambda: Equiv(p, q, r), "bx.eq_s([x(0).to_bx(), x(1).to_bx(), x(2).to_bx()])", False),
    (lambda: Equiv(), "bx.eq_s([])", False),
    (lambda: Implication(then_expr=p, if_expr=One), "bx.impl_s(bx.one(), x(0).to_bx())", False),
    (lambda: IfThenElse(p, VariableProxy("y(0)"), Zero), "bx.ite_s(x(0).to_bx(), y(0).to_bx(), bx.zero())", False),
]


@pytest.mark.parametrize("build, text, soft", TEXTS)
def test_texts_and_soft_flags(build, text, soft, sent_logs):
    result = build()
    assert str(result) == text
    if soft is not None:
        assert result.soft is soft
    assert sent_logs == []


def test_operators_return_plain_expressions_and_leave_operands_alone():
    for result in (p + q, p * 2, p <= 3, p & q, ~p, p.maxsat(True), pow_expression(2, 3)):
        assert type(result) is Expression
    assert (str(p), p.soft, str(q), q.soft) == ("x(0)", True, "x(1)", True)


def test_expression_value():
    assert (str(Expression()), Expression().soft) == ("", True)
    assert (str(Expression("t", soft=False)), Expression("t", soft=False).soft) == ("t", False)
    assert f"{p + q}" == str(p + q)
    assert repr(Expression("t")) != "t" and repr(p) == str(p) == p.name == "x(0)"
    with pytest.raises(AttributeError):
        p.soft = False
    for expr in (Expression(), p, One, SumIt([p])):
        with pytest.raises(TypeError):
            hash(expr)
    assert One.soft and Zero.soft and str(One) == "bx.one()" and str(Zero) == "bx.zero()"
    # The text is held from the start, however long the chain of operators that wrote it.
    s = p
    for k in range(1, 300):
        s = s + VariableProxy(f"x({k})")
    assert s._expr == " + ".join(f"x({k}).to_pb()" for k in range(300)) and len(s._expr) > 2048


# A truth value would let the host drop a constraint: 2 <= s <= 2 kept only s <= 2.
@pytest.mark.parametrize(
    "use",
    [
        lambda: 2 <= p <= 2,
        lambda: (p <= 1) and (q <= 1),
        lambda: (p <= 1) or (q <= 1),
        lambda: p != 3,
    ],
)
def test_expressions_have_no_truth_value(use, sent_logs):
    with pytest.raises(TypeError, match="no truth value") as raised:
        use()
    assert sent_logs == [(str(raised.value), ERROR)]


def test_sum_it_marks_itself_usable_as_target():
    assert SumIt([p]).ability_use_for_target is True
    assert not hasattr(AndIt([p]), "ability_use_for_target")


ADD = "Type 'Expression' is expected for left side of expression"
MUL = "Type 'Expression' or 'int' is expected for expression"
BOUND = "Type 'int' is expected for left side of expression"
ELEMENT = "Type 'Expression' is expected for variable 'expression'"
ELEMENTS = "Variable 'expressions' must contain only objects of type 'Expression'"
MINIMIZATION = "Type 'bool' is expected for 'minimization' (None counts as False; 0 and 1 are taken too)"
PRODUCT = (
    "A product of two expressions is not a pseudo-Boolean term: multiply a term by an integer, or by a"
    " coefficient such as pow_expression(2, i) written on its left"
)


class Unformattable:
    def __format__(self, format_spec):
        raise AssertionError("formatted before the element was tested")


@pytest.mark.parametrize(
    "build, message, logged",
    [
        (lambda: p + 5, ADD, True),
        (lambda: p - "x", ADD, True),
        (lambda: p & 1, ADD, True),
        (lambda: p | True, ADD, True),
        (lambda: p ^ None, ADD, True),
        (lambda: p * 2.5, MUL, True),
        (lambda: [p] * p, MUL, True),
        (lambda: p * q, PRODUCT, True),
        (lambda: Sum(p, i="range(2)") * pow_expression(2, 1), PRODUCT, True),
        (lambda: (pow_expression(2, 1) + p) * q, PRODUCT, True),
        *[(lambda flag=flag: p.maxsat(flag), MINIMIZATION, True) for flag in ["print('x')", "False", 2, -1, 0.0, []]],
        (lambda: Sum(p, i={0, "1"}), "Values of index 'i' must be a range, a sequence or set of integers or a text"
                                     " such as 'range(3)', not set", True),
        (lambda: Sum(p, i=[0, "1"]), "Values of index 'i' must be a range, a sequence or set of integers or a"
                                     " text such as 'range(3)', not list", True),
        (lambda: Sum(p, i=(k for k in range(2))), "Values of index 'i' must be a range, a sequence or set of"
                                                  " integers or a text such as 'range(3)', not generator", True),
        # A sum takes no Boolean formula: the host would fail on it only in the model's evaluation.
        (lambda: 3 * ~p, _BOOLEAN_IN_SUM, True),
        (lambda: ~p * -2, _BOOLEAN_IN_SUM, True),
        (lambda: ~p + q, _BOOLEAN_IN_SUM, True),
        (lambda: q - (p <= 1), _BOOLEAN_IN_SUM, True),
        (lambda: (p | q) + q, _BOOLEAN_IN_SUM, True),
        (lambda: Zero + p, _BOOLEAN_IN_SUM, True),
        (lambda: pow_expression(2, 1) * (p ^ q), _BOOLEAN_IN_SUM, True),
        (lambda: Sum(~p, i="range(2)"), _BOOLEAN_IN_SUM, True),
        (lambda: SumIt([3 * p, p & q]), _BOOLEAN_IN_SUM, True),
        (lambda: SumIt([p, One]), _BOOLEAN_IN_SUM, True),
        (lambda: pow_expression(2.5, 1), "pow_expression takes integers, indexes or index names, not float", True),
        (lambda: pow_expression(2, p), "pow_expression takes integers, indexes or index names, not VariableProxy", True),
        (lambda: p <= 2.5, BOUND, True),
        (lambda: p >= q, BOUND, True),
        (lambda: p == None, BOUND, True),  # noqa: E711
        (lambda: p != 2.5, BOUND, True),
        (lambda: Sum(3, i=Unformattable()), ELEMENT, True),
        (lambda: Or([p], i="range(2)"), ELEMENT, True),
        (lambda: SumIt({0: p}), "Use an iterable sequence as SumIt input argument", True),
        (lambda: AndIt(p), "Use an iterable sequence as AndIt input argument", False),
        (lambda: OrIt(x for x in [p]), "Use an iterable sequence as OrIt input argument", False),
        (lambda: XorIt(None), "Use an iterable sequence as XorIt input argument", False),
        (lambda: SumIt([p, 3]), ELEMENTS, True),
        (lambda: Equiv(p, [q]), ELEMENTS, True),
        (lambda: Implication(1, "a"), "Type 'Expression' is expected for variables 'if_expr' and 'then_expr'", True),
        (
            lambda: IfThenElse(p, q, 0),
            "Type 'Expression' is expected for variables 'if_expr', 'then_expr' and 'else_expr'",
            True,
        ),
    ],
)
def test_refused_arguments(build, message, logged, sent_logs):
    with pytest.raises(TypeError) as raised:
        build()
    assert str(raised.value) == message
    assert sent_logs == ([(message, ERROR)] if logged else [])


# Texts taken from the caller are evaluated later: only ranges, lists and arithmetic over integers
# and index names pass.
@pytest.mark.parametrize(
    "build",
    [
        lambda: Sum(p, i="__import__('os')"),
        lambda: Sum(p, i="range(3) # comment"),
        lambda: Sum(p, i="range(n=3)"),
        lambda: Sum(p, i="[x.y]"),
        lambda: Sum(p, i="[range]"),
        lambda: Sum(p, i="[ｎ]"),
        lambda: Sum(p, **{"i in range(1)] + [j for j": "range(1)"}),
        lambda: Sum(p, Sum="range(2)"),
        lambda: Sum(p, _i="range(2)"),
        lambda: Sum(p, i="range(_n)"),
        lambda: Sum(p, lambda_="range(2)", **{"lambda": "range(2)"}),
        lambda: Sum(p, **{"ｉ1": "range(2)"}),
        lambda: pow_expression(2, "__x"),
        lambda: pow_expression(2, "i // 2"),
        lambda: pow_expression("'a'", 2),
    ],
)
def test_refused_texts(build, sent_logs):
    with pytest.raises(ValueError) as raised:
        build()
    assert sent_logs == [(str(raised.value), ERROR)]


@pytest.mark.parametrize(
    "build",
    [lambda: 5 + p, lambda: 5 - p, lambda: -p, lambda: p**2, lambda: p / 2, lambda: p < 3, lambda: 1 & p, lambda: sum([p, q])],
)
def test_operators_not_defined_fail_without_log(build, sent_logs):
    with pytest.raises(TypeError):
        build()
    assert sent_logs == []


@pytest.mark.parametrize("empty, text", [([], "Sum(*[])"), ((), "Sum(*[])"), ("", "Sum(*[])")])
def test_empty_sequence_warns_and_goes_on(empty, text, sent_logs):
    assert str(SumIt(empty)) == text
    assert str(XorIt(empty)) == "bx.xor_s([])"
    assert sent_logs == [("The input sequence has zero length", WARNING)] * 2


def test_string_is_a_sequence_of_refused_elements(sent_logs):
    with pytest.raises(TypeError, match="must contain only"):
        AndIt("ab")
    assert sent_logs == [(ELEMENTS, ERROR)]


def test_package_surface():
    names = ["Sum", "SumIt", "And", "AndIt", "Or", "OrIt", "Xor", "XorIt", "Equiv", "Implication",
             "IfThenElse", "pow_expression", "Zero", "One"]
    assert type(encode.__all__) is list and encode.__all__ == names
    namespace = {}
    exec("from zorv_encoder.encode import *", namespace)
    assert sorted(set(namespace) - {"__builtins__"}) == sorted(names)
    from zorv_encoder.encode import expressions

    assert all(getattr(encode, name) is getattr(expressions, name) for name in names)
    for cls in (VariableProxy, Sum, And, Or, Xor, Equiv, Implication, IfThenElse, SumIt, AndIt, OrIt, XorIt):
        assert cls.__bases__ == (Expression,)
    assert pow_expression.__annotations__ == {"base": "int", "return": "Expression"}
    assert Equiv.__init__.__annotations__ == {"expressions": "Expression", "return": "None"}
    assert SumIt.__init__.__annotations__["expressions"] == "tp.Sequence[Expression]"


# Grouping: texts of compound operands must keep the value they were built for. Leaves are
# integer texts, so the host can evaluate every joined text and compare it with the arithmetic.
@st.composite
def arithmetic(draw, depth=3):
    """A random expression and the integer it stands for."""
    if depth == 0 or draw(st.booleans()):
        n = draw(st.integers(-4, 4))
        return Expression(str(n)), n
    (a, va), (b, vb) = draw(arithmetic(depth - 1)), draw(arithmetic(depth - 1))
    k = draw(st.integers(-3, 3))
    choices = [
        (a + b, va + vb),
        (a - b, va - vb),
        (a * b, va * vb),
        (a * k, va * k),
        (k * a, k * va),
        (pow_expression(a, 2), va**2),
    ]
    if 0 <= vb <= 3:
        choices.append((pow_expression(k, b), k**vb))
    return draw(st.sampled_from(choices))


@given(arithmetic())
def test_arithmetic_texts_keep_their_value(expr_and_value):
    expr, value = expr_and_value
    assert eval(str(expr)) == value


LONG_SUM = " + ".join(f"x({k}).to_pb()" for k in range(1, 3001))


@pytest.mark.parametrize(
    "build, text",
    [
        (lambda: p - (q + r), "x(0).to_pb() - (x(1).to_pb() + x(2).to_pb())"),
        (lambda: p - q - r, "x(0).to_pb() - x(1).to_pb() - x(2).to_pb()"),
        (lambda: p + (q - r), "x(0).to_pb() + x(1).to_pb() - x(2).to_pb()"),
        (lambda: (pow_expression(2, "i") + pow_expression(2, "j")) * q, "(2 ** i + 2 ** j) * (x(1).to_pb())"),
        (lambda: pow_expression(-2, "i"), "(-2) ** i"),
        (lambda: pow_expression(2, i + 1), "2 ** (i + 1)"),
        (lambda: pow_expression(2, -1), "2 ** -1"),
        (lambda: p - Expression("a if c else b"), "x(0).to_pb() - (a if c else b)"),
        (lambda: Expression("a <= b") + p, "(a <= b) + x(0).to_pb()"),
        # A text the parser cannot read stays whole: here a sum too deep for it, which the host compiles.
        (lambda: p - Expression(""), "x(0).to_pb() - ()"),
        (lambda: Expression(LONG_SUM) * pow_expression(2, "i"), f"({LONG_SUM}) * (2 ** i)"),
        (lambda: pow_expression(2, Index("i", LONG_SUM)), f"2 ** ({LONG_SUM})"),
    ],
)
def test_compound_operands_are_parenthesised_only_where_needed(build, text):
    assert str(build()) == text


# Fails the k-th allocation of each operation, for every k past its last one: each gives its text,
# or raises MemoryError, never a text grouped otherwise or a refusal of its arguments.
_OPERATIONS_UNDER_ONE_FAILED_ALLOCATION = """
import sys, _testcapi
from zorv_encoder import And, AndIt, Equiv, IfThenElse, Implication, Or, OrIt, Sum, SumIt, Xor, XorIt, pow_expression
from zorv_encoder.encode.expressions import Expression, VariableProxy
from zorv_encoder.encode.variables import Index, Variable

def fresh(text):
    # A str of its own, without the forms that an earlier call left cached in a shared one.
    return "".join(list(text))

p, q, i, x = VariableProxy("x(0)"), VariableProxy("x(1)"), Index("i"), Variable("x", {"a": 4, "b": 4}, 0)
OPERATIONS = [
    lambda: p - Expression(fresh("x(1).to_pb() + x(2).to_pb()")),
    lambda: Expression(fresh("x(1).to_pb() - x(2).to_pb()")) * pow_expression(2, 3),
    lambda: pow_expression(2, fresh("k + 1")),
    lambda: pow_expression(Expression(fresh("-2")), i + 1),
    lambda: Sum(p, i=fresh("range(3)")),
    lambda: (And(x[i, 0], i=range(3), j=[0, 2]), Or(~x[i, 1], i=(1, 2)), Xor(x[0, i], i={3, 1})),
    lambda: (3 * (p + q) - 2 * p, (p & q) | (p ^ ~q), p + q <= 1, p >= 0, p == 1, (2 * p).maxsat(True)),
    lambda: (SumIt([p, 2 * q]), AndIt([p, q]), OrIt((p, ~q)), XorIt([p])),
    lambda: (Equiv(p, q), Implication(p, q), IfThenElse(p, q, ~p)),
    lambda: (x[2 * i - 1, i + 1], x[1, 2]),
]

def texts(value):
    return tuple(map(str, value)) if isinstance(value, tuple) else str(value)

def attempt(operation, k):
    _testcapi.set_nomemory(k, k + 1)
    try:
        value = operation()
    except:
        _testcapi.remove_mem_hooks()
        return sys.exc_info()[1]
    _testcapi.remove_mem_hooks()
    return texts(value)

for number, operation in enumerate(OPERATIONS):
    expected = texts(operation())
    outcomes = [attempt(operation, k) for k in range(400)]
    for k, got in enumerate(outcomes):
        if got != expected and type(got) is not MemoryError:
            print(number, k, repr(got))
    if outcomes[-100:] != [expected] * 100:
        print(number, "has more allocations than the sweep fails")
print("done")
"""


def test_operators_give_their_text_or_memory_error_under_a_failed_allocation():
    import importlib.util
    import subprocess
    import sys

    if importlib.util.find_spec("_testcapi") is None:
        pytest.skip("this Python has no _testcapi")
    # A process of its own: a failed allocation in pytest's machinery would fail the run, not the test.
    out = subprocess.run([sys.executable, "-c", _OPERATIONS_UNDER_ONE_FAILED_ALLOCATION], capture_output=True,
                         text=True, timeout=120)
    assert (out.returncode, out.stdout) == (0, "done\n"), out.stdout + out.stderr[-2000:]
