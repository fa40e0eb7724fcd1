from itertools import product

import numpy as np
import pytest
from hypothesis import given, strategies as st

import orbeny.trelle as tl
from zorv_encoder.encode.expressions import VariableProxy
from zorv_encoder.encode.variables import Index, Variable

i, j = Index("i"), Index("j")


@pytest.mark.parametrize(
    "build, text",
    [
        (lambda: Index("i", None), "i"),
        (lambda: Index("i", ""), ""),
        (lambda: Index("i", "k"), "k"),
        (lambda: i + 1, "i + 1"),
        (lambda: i - 1, "i - 1"),
        (lambda: 2 * i, "2 * i"),
        (lambda: Index("i", "k") + 1, "i + 1"),
        (lambda: i + -1, "i + -1"),
        (lambda: i - -1, "i - -1"),
        (lambda: i + True, "i + True"),
        (lambda: i + j, "i + j"),
        (lambda: i + 2 * j, "i + 2 * j"),
        # operations already in the index are kept, grouped where the order matters
        (lambda: (i + 1) + 2, "i + 1 + 2"),
        (lambda: (i + 1) - 1, "i + 1 - 1"),
        (lambda: 2 * (i + 1), "2 * (i + 1)"),
        (lambda: 3 * (2 * i), "3 * 2 * i"),
        (lambda: i - (j + 1), "i - (j + 1)"),
        (lambda: i + (j - 1), "i + j - 1"),
    ],
)
def test_index_texts(build, text):
    index = build()
    assert type(index) is Index and index.name == "i" and str(index) == text


@pytest.mark.parametrize("build", [lambda: 1 + i, lambda: 1 - i, lambda: i * 2, lambda: i * j, lambda: -i, lambda: i < 1])
def test_index_operations_not_defined(build):
    with pytest.raises(TypeError):
        build()


# Index texts are evaluated later: a value that is neither an integer nor an index could carry code.
@pytest.mark.parametrize(
    "build",
    [
        lambda: i + 1.5,
        lambda: i - "1) or print('x'",
        lambda: "2" * i,
        lambda: Variable("x", {"i": 3}, 0)["ab"],
        lambda: Variable("x", {"i": 3}, 0)[None],
        lambda: Variable("x", {"i": 3}, 0)[("print('x')",)],
        lambda: Variable("x", {"i": 3}, 0)[i, 1.0],
    ],
)
def test_values_that_are_no_integer_or_index_are_refused(build, sent_logs):
    with pytest.raises(TypeError) as raised:
        build()
    assert sent_logs == [(str(raised.value), tl.log_level_type.error)]


def test_integer_like_values_are_written_as_plain_integers():
    class Shouting(int):
        def __format__(self, format_spec):
            return "print('x')"

    assert str(Variable("x", {"i": 3}, 0)[np.int64(2), Shouting(1)]) == "x(2,1)"
    assert str(i + np.int8(-1)) == "i + -1" and str(Shouting(3) * i) == "3 * i"


def test_index_identity():
    assert Index("i") != Index("i") and repr(i) != "i" and {i: 1}[i] == 1


@st.composite
def index_arithmetic(draw, depth=3):
    """A random index expression over i and j, and a function of (i, j) giving its value."""
    if depth == 0 or draw(st.booleans()):
        name = draw(st.sampled_from("ij"))
        return Index(name), (lambda vi, vj, name=name: vi if name == "i" else vj)
    base, value = draw(index_arithmetic(depth - 1))
    k = draw(st.integers(-3, 3))
    shift, shift_value = draw(index_arithmetic(depth - 1))
    return draw(
        st.sampled_from(
            [
                (base + k, lambda vi, vj: value(vi, vj) + k),
                (base - k, lambda vi, vj: value(vi, vj) - k),
                (k * base, lambda vi, vj: k * value(vi, vj)),
                (base + shift, lambda vi, vj: value(vi, vj) + shift_value(vi, vj)),
                (base - shift, lambda vi, vj: value(vi, vj) - shift_value(vi, vj)),
            ]
        )
    )


@given(index_arithmetic(), st.integers(-5, 5), st.integers(-5, 5))
def test_index_texts_denote_the_arithmetic_written(index_and_value, vi, vj):
    index, value = index_and_value
    assert eval(str(index), {"i": vi, "j": vj}) == value(vi, vj)
    # the model evaluates the text with index objects first, and the text that gives with numbers
    symbolic = eval(str(index), {"i": i, "j": j})
    assert eval(str(symbolic), {"i": vi, "j": vj}) == value(vi, vj)


@pytest.mark.parametrize(
    "items, text",
    [
        ((i, j), "x(i,j)"),
        ((i, j + 1), "x(i,j + 1)"),
        (i, "x(i)"),
        (2 * i, "x(2 * i)"),
        ((2, 3), "x(2,3)"),
        (-1, "x(-1)"),
        ((i,), "x(i)"),
        ([i], "x(i)"),
        ((), "x()"),
        ((1, 2, 3), "x(1,2,3)"),
    ],
)
def test_reference_texts(items, text):
    proxy = Variable("x", {"i": 3, "j": 4}, 10)[items]
    assert type(proxy) is VariableProxy and str(proxy) == proxy.name == text and proxy.soft


@pytest.mark.parametrize(
    "sizes, shifts",
    [((), []), ((5,), [1]), ((3, 4), [4, 1]), ((3, 4, 5), [20, 5, 1]), ((0, 3), [3, 1]), ((3, 0), [0, 1]), ((2, 0, 4), [0, 4, 1])],
)
def test_strides(sizes, shifts):
    assert Variable("v", {f"k{n}": size for n, size in enumerate(sizes)}, 0).shifts == shifts


def test_numbers():
    x = Variable("x", {"i": 3, "j": 4}, 10)
    assert [x(0, 0), x(1, 2), x(2, 3), x(True, 1)] == [10, 16, 21, 15]
    y = Variable("y", {}, 7)
    assert y() == 7 and y.map == {"y[]": 7}
    assert list(Variable("x", {"i": 2, "j": 3}, 10).map.items()) == [
        ("x[0,0]", 10), ("x[0,1]", 11), ("x[0,2]", 12), ("x[1,0]", 13), ("x[1,1]", 14), ("x[1,2]", 15)
    ]
    assert Variable("z", {"i": 0, "j": 3}, 5).map == {} == Variable("z", {"i": 3, "j": -1}, 5).map
    assert x.map == x.map and x.map is not x.map
    with pytest.raises(AttributeError):
        x.map = {}


@pytest.mark.parametrize("args", [(0,), (0, 0, 0), (0, 1.0), ("1", 0), (i, j), (5, 1.0)])
def test_call_with_wrong_arguments_raises_bare_type_error(args, sent_logs):
    with pytest.raises(TypeError) as raised:
        Variable("x", {"i": 3, "j": 4}, 10)(*args)
    assert raised.value.args == ()
    assert sent_logs == []


@pytest.mark.parametrize("args, index, size", [((3, 0), "i", 3), ((-1, 0), "i", 3), ((0, 4), "j", 4), ((2, -5), "j", 4)])
def test_call_outside_the_block_raises_index_error(args, index, size):
    value = args[0] if index == "i" else args[1]
    message = f"Index value {value} is out of range for variable 'x': index '{index}' has size {size}"
    with pytest.raises(IndexError) as raised:
        Variable("x", {"i": 3, "j": 4}, 10)(*args)
    assert str(raised.value) == message


def test_iteration_is_refused():
    x = Variable("x", {"i": 3}, 0)
    for iterate in (list, iter):
        with pytest.raises(TypeError, match="Variable 'x' is not iterable"):
            iterate(x)
    with pytest.raises(TypeError):
        1 in x


def test_copy_is_independent():
    indexes = {"i": 2, "j": 3}
    x = Variable("x", indexes, 4)
    c = x.copy()
    assert c is not x and not (c == x) and type(c) is Variable
    assert (c.name, c.st_shift, c.shifts, c.indexes) == (x.name, x.st_shift, x.shifts, x.indexes)
    assert c.indexes is not indexes and c.map == x.map and c(1, 2) == x(1, 2)
    c.indexes["i"] = 7
    assert indexes["i"] == 2


@given(st.lists(st.integers(0, 4), max_size=4), st.integers(0, 1000))
def test_numbering_matches_map(sizes, start):
    x = Variable("x", {f"k{n}": size for n, size in enumerate(sizes)}, start)
    mapping = x.map
    combos = list(product(*(range(size) for size in sizes)))
    assert list(mapping) == [f"x[{','.join(map(str, combo))}]" for combo in combos]
    assert [x(*combo) for combo in combos] == list(mapping.values()) == list(range(start, start + len(combos)))
