import itertools
import os
import random
import subprocess
import sys

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import orbeny.trelle.bxpr as bx

NAMES = [f"x({i})" for i in range(8)]


# ---------------------------------------------------------------- oracles


def evaluate(node, value):
    """Truth of a node under `value` (name -> bool), read only through the public node API."""
    if isinstance(node, bx.Zero):
        return False
    if isinstance(node, bx.One):
        return True
    if isinstance(node, bx.Variable):
        return value[str(node)]
    args = [evaluate(a, value) for a in node.get_args()]
    if isinstance(node, (bx.Complement, bx.Not)):
        return not args[0]
    if isinstance(node, bx.And):
        return all(args)
    if isinstance(node, bx.Or):
        return any(args)
    if isinstance(node, bx.Xor):
        return sum(args) % 2 == 1
    if isinstance(node, bx.Equal):
        return len(set(args)) < 2
    if isinstance(node, bx.Implies):
        return not args[0] or args[1]
    if isinstance(node, bx.IfThenElse):
        return args[1] if args[0] else args[2]
    raise AssertionError(f"unknown node {node!r}")


def clauses_of(cnf):
    """Clause form as lists of (name, sign); checks the shape on the way."""
    if isinstance(cnf, (bx.Zero, bx.One)):
        return [] if isinstance(cnf, bx.One) else [[]]
    if isinstance(cnf, bx.And):
        parts = cnf.get_args()
    else:
        parts = [cnf]

    def literal(node):
        if isinstance(node, bx.Variable):
            return (str(node), True)
        assert isinstance(node, bx.Complement), f"not a literal: {node}"
        return (str(node.get_args()[0]), False)

    out = []
    for part in parts:
        if isinstance(part, bx.Or):
            out.append([literal(a) for a in part.get_args()])
        else:
            out.append([literal(part)])
    return out


def extension_counts(cnf, inputs):
    """For every assignment of `inputs` (row-major over itertools.product), the number of
    assignments of the remaining support variables that satisfy the clauses."""
    others = sorted({str(v) for v in cnf.support()} - set(inputs))
    names = list(inputs) + others
    assert len(names) <= 20, "formula too large for brute force"
    rows = np.arange(1 << len(names), dtype=np.int64)
    # Bit i of a row is names[len-1-i], so inputs vary slowest, like itertools.product.
    column = {n: ((rows >> (len(names) - 1 - i)) & 1).astype(bool) for i, n in enumerate(names)}
    sat = np.ones(rows.shape, dtype=bool)
    for clause in clauses_of(cnf):
        hit = np.zeros(rows.shape, dtype=bool)
        for name, positive in clause:
            hit |= column[name] if positive else ~column[name]
        sat &= hit
    return sat.reshape(1 << len(inputs), 1 << len(others)).sum(axis=1)


# ---------------------------------------------------------------- random formulas

def recipes(max_vars):
    leaf = st.one_of(
        st.integers(0, max_vars - 1).map(lambda i: ("var", i)),
        st.sampled_from([("one",), ("zero",)]),
    )

    def grow(children):
        lists = st.lists(children, min_size=0, max_size=4)
        return st.one_of(
            children.map(lambda r: ("not", r)),
            st.tuples(st.sampled_from(["and_s", "or_s", "xor_s", "eq_s", "and_"]), lists),
            st.tuples(st.just("impl_s"), children, children),
            st.tuples(st.just("ite_s"), children, children, children),
        )

    return st.recursive(leaf, grow, max_leaves=14)


def build(recipe, ctx):
    tag = recipe[0]
    if tag == "var":
        return ctx.get_var(NAMES[recipe[1]])
    if tag == "one":
        return bx.one()
    if tag == "zero":
        return bx.zero()
    if tag == "not":
        return ~build(recipe[1], ctx)
    if tag in ("impl_s", "ite_s"):
        return getattr(bx, tag)(*[build(r, ctx) for r in recipe[1:]])
    return getattr(bx, tag)([build(r, ctx) for r in recipe[1]])


def truth(recipe, value):
    tag = recipe[0]
    if tag == "var":
        return value[recipe[1]]
    if tag in ("one", "zero"):
        return tag == "one"
    if tag == "not":
        return not truth(recipe[1], value)
    if tag == "impl_s":
        return not truth(recipe[1], value) or truth(recipe[2], value)
    if tag == "ite_s":
        return truth(recipe[2] if truth(recipe[1], value) else recipe[3], value)
    args = [truth(r, value) for r in recipe[1]]
    return {
        "and_s": all, "and_": all, "or_s": any,
        "xor_s": lambda a: sum(a) % 2 == 1,
        "eq_s": lambda a: len(set(a)) < 2,
    }[tag](args)


@settings(max_examples=150)
@given(recipes(8), st.integers(1, 8))
def test_builders_and_tseytin_against_truth_tables(recipe, n):
    recipe = _clip(recipe, n)
    ctx = bx.Context()
    formula = build(recipe, ctx)
    inputs = NAMES[:n]
    expected = [truth(recipe, v) for v in itertools.product([False, True], repeat=n)]
    # The builders' simplifications keep the meaning.
    for v, want in zip(itertools.product([False, True], repeat=n), expected):
        assert evaluate(formula, dict(zip(inputs, v))) == want
    # The clause form extends each true assignment in exactly one way, and no false one.
    cnf = formula.tseytin(ctx, "_bxpr_aux")
    assert not (set(map(str, cnf.support())) - set(inputs) - _aux_names(cnf))
    counts = extension_counts(cnf, inputs)
    assert counts.tolist() == [int(w) for w in expected]
    _check_auxiliaries(formula, cnf, "_bxpr_aux")


def _clip(recipe, n):
    """Variables beyond the first n fold onto them."""
    if recipe[0] == "var":
        return ("var", recipe[1] % n)
    if recipe[0] in ("one", "zero"):
        return recipe
    if recipe[0] in ("not", "impl_s", "ite_s"):
        return (recipe[0],) + tuple(_clip(r, n) for r in recipe[1:])
    return (recipe[0], [_clip(r, n) for r in recipe[1]])


def _aux_names(cnf):
    return {str(v) for v in cnf.support() if str(v).startswith("_bxpr_aux")}


def _check_auxiliaries(formula, cnf, prefix):
    aux = [str(v) for v in cnf.support() if str(v).startswith(prefix + "_")]
    assert sorted(aux) == sorted(f"{prefix}_{k}" for k in range(len(aux)))
    if bx_is_clause_form(formula):
        assert cnf == formula and not aux
    if isinstance(cnf, (bx.Zero, bx.One)):
        assert not aux


def bx_is_clause_form(f):
    def is_lit(n):
        return isinstance(n, (bx.Variable, bx.Complement))

    def is_clause(n):
        return is_lit(n) or (isinstance(n, bx.Or) and all(map(is_lit, n.get_args())))

    return (
        isinstance(f, (bx.Zero, bx.One))
        or is_clause(f)
        or (isinstance(f, bx.And) and all(map(is_clause, f.get_args())))
    )


# ---------------------------------------------------------------- fixed cases


@pytest.fixture
def ctx():
    return bx.Context()


@pytest.fixture
def xyz(ctx):
    return ctx.get_var("x"), ctx.get_var("y"), ctx.get_var("z")


@pytest.mark.parametrize("name", ["x(i,j + 1)", "dummy_var(0)", "a * b + c", "", "~x", "(", "ünï cödé"])
def test_variable_text_is_its_name(ctx, name):
    v = ctx.get_var(name)
    assert isinstance(v, bx.Variable) and isinstance(v, bx.BaseExpr)
    assert str(v) == name
    assert str(~v) == "~" + name and isinstance(~v, bx.Complement)
    assert ~~v == v and ctx.get_var(name) == v
    assert (~v).get_args() == [v]


def test_a_long_text_is_cut_between_characters(ctx):
    # Names of four two-byte letters: the cut at a million bytes falls inside one of them.
    names = ["".join(p) for p in itertools.islice(itertools.product("αβγδεζηθικλμνξοπρστυφχψω", repeat=4), 100001)]
    text = str(bx.or_s([ctx.get_var(name) for name in names]))
    assert text.endswith("...") and len(text.encode()) <= 10**6 + 3


def test_hash_consing_gives_identity_semantics(ctx, xyz):
    x, y, z = xyz
    a = bx.and_s([x, bx.or_s([y, ~z])])
    b = bx.and_s([x, bx.or_s([y, ~z])])
    assert a == b and hash(a) == hash(b) and len({a, b}) == 1
    assert {a: 1}[b] == 1
    other = bx.Context().get_var("x")
    assert other != x and str(other) == str(x)
    assert bx.one() == bx.one() and bx.one() != bx.zero()
    assert (x == "x") is False


@pytest.mark.parametrize(
    "make, expected",
    [
        (lambda x, y, z: bx.and_s([]), "1"),
        (lambda x, y, z: bx.or_s([]), "0"),
        (lambda x, y, z: bx.and_s([x]), "x"),
        (lambda x, y, z: bx.and_s([x, bx.one(), y]), "And(x, y)"),
        (lambda x, y, z: bx.and_s([x, bx.zero(), y]), "0"),
        (lambda x, y, z: bx.and_s([bx.and_s([x, y]), z, x]), "And(x, y, z)"),
        (lambda x, y, z: bx.and_s([x, y, ~x]), "0"),
        (lambda x, y, z: bx.or_s([x, bx.or_s([y, ~x])]), "1"),
        (lambda x, y, z: bx.or_s([bx.or_s([x, y]), bx.zero(), z]), "Or(x, y, z)"),
        (lambda x, y, z: bx.and_([x, x, bx.one()]), "And(x, x, 1)"),
        (lambda x, y, z: bx.and_([]), "And()"),
        (lambda x, y, z: bx.xor_s([]), "0"),
        (lambda x, y, z: bx.xor_s([x, y, x]), "y"),
        (lambda x, y, z: bx.xor_s([x, bx.one()]), "~x"),
        (lambda x, y, z: bx.xor_s([x, ~x, y, z]), "~Xor(y, z)"),
        (lambda x, y, z: bx.eq_s([]), "1"),
        (lambda x, y, z: bx.eq_s([x]), "1"),
        (lambda x, y, z: bx.eq_s([x, y, x]), "Equal(x, y)"),
        (lambda x, y, z: bx.eq_s([x, ~x]), "0"),
        (lambda x, y, z: bx.eq_s([x, bx.one(), y]), "And(x, y)"),
        (lambda x, y, z: bx.impl_s(x, y), "Implies(x, y)"),
        (lambda x, y, z: bx.impl_s(bx.one(), y), "y"),
        (lambda x, y, z: bx.impl_s(x, bx.zero()), "~x"),
        (lambda x, y, z: bx.ite_s(x, y, z), "IfThenElse(x, y, z)"),
        (lambda x, y, z: bx.ite_s(x, bx.one(), z), "Or(x, z)"),
        (lambda x, y, z: ~bx.and_s([x, y]), "~And(x, y)"),
        (lambda x, y, z: ~~bx.and_s([x, y]), "And(x, y)"),
        (lambda x, y, z: ~bx.zero(), "1"),
    ],
)
def test_builder_results(xyz, make, expected):
    assert str(make(*xyz)) == expected


def test_get_args_keeps_order_and_classes(xyz):
    x, y, z = xyz
    f = bx.and_s([bx.or_s([z, ~y]), x])
    assert isinstance(f, bx.And)
    clause, lit = f.get_args()
    assert isinstance(clause, bx.Or) and clause.get_args() == [z, ~y]
    assert lit == x
    assert f.support() == {x, y, z}
    assert bx.one().support() == set() and bx.one().get_args() == []


@pytest.mark.parametrize(
    "make",
    [
        lambda x, y, z: x,
        lambda x, y, z: ~x,
        lambda x, y, z: bx.or_s([x, ~y]),
        lambda x, y, z: bx.and_s([bx.or_s([x, y]), ~z, bx.or_s([~x, z])]),
        lambda x, y, z: bx.and_([x, x, ~y]),
        lambda x, y, z: bx.and_([]),
        lambda x, y, z: bx.one(),
        lambda x, y, z: bx.zero(),
    ],
)
def test_clause_form_passes_through(ctx, xyz, make):
    f = make(*xyz)
    assert f.tseytin(ctx, "_bxpr_aux") == f
    assert not _aux_names(f.tseytin(ctx, "_bxpr_aux"))


@pytest.mark.parametrize(
    "make, expected",
    [
        (lambda x, y, z: bx.and_([x, bx.zero()]), bx.Zero),
        (lambda x, y, z: bx.and_([bx.or_s([x, y]), bx.one()]), bx.Or),
        (lambda x, y, z: bx.and_([bx.one()]), bx.One),
        (lambda x, y, z: ~bx.or_s([x, y]), bx.And),
        (lambda x, y, z: bx.impl_s(x, y), bx.Or),
    ],
)
def test_tseytin_result_kinds(ctx, xyz, make, expected):
    assert isinstance(make(*xyz).tseytin(ctx, "_bxpr_aux"), expected)


def test_auxiliaries_go_on_numbering_per_prefix_within_a_context(ctx, xyz):
    x, y, z = xyz
    f = bx.or_s([bx.and_s([x, y]), bx.and_s([y, z]), bx.xor_s([x, z])])
    g = bx.or_s([bx.and_s([x, z]), bx.xor_s([y, z])])
    first = f.tseytin(ctx, "_bxpr_aux")
    second = g.tseytin(ctx, "_bxpr_aux")
    assert _aux_names(first) == {"_bxpr_aux_0", "_bxpr_aux_1", "_bxpr_aux_2"}
    assert _aux_names(second) == {"_bxpr_aux_3", "_bxpr_aux_4"}
    # one name for two subformulas would tie them together and lose solutions
    both = extension_counts(bx.and_s([first, second]), ["x", "y", "z"])
    assert list(both) == [int(evaluate(f, v) and evaluate(g, v))
                          for v in (dict(zip("xyz", bits)) for bits in itertools.product([False, True], repeat=3))]
    # another prefix, and a fresh context, start at 0
    assert {str(v) for v in g.tseytin(ctx, "t").support()} - {"x", "y", "z"} == {"t_0", "t_1"}
    fresh = bx.Context()
    a, b, c = fresh.get_var("x"), fresh.get_var("y"), fresh.get_var("z")
    assert _aux_names(bx.or_s([bx.and_s([a, c]), bx.xor_s([b, c])]).tseytin(fresh, "_bxpr_aux")) == {
        "_bxpr_aux_0", "_bxpr_aux_1"}


def test_shared_subformula_is_encoded_once(ctx, xyz):
    x, y, z = xyz
    shared = bx.xor_s([x, y])
    f = bx.and_s([bx.or_s([shared, z]), bx.or_s([shared, ~z])])
    assert _aux_names(f.tseytin(ctx, "_bxpr_aux")) == {"_bxpr_aux_0"}


@pytest.mark.parametrize("in_formula", [True, False])
def test_auxiliary_name_clash_is_refused(ctx, xyz, in_formula):
    x, y, z = xyz
    clash = ctx.get_var("p_0")
    with pytest.raises(ValueError, match="p_0"):
        bx.or_s([bx.and_s([x, y]), clash if in_formula else z]).tseytin(ctx, "p")


def test_long_chain_and_deep_nesting(ctx):
    # Deep formulas must not recurse on the C stack.
    vs = [ctx.get_var(f"v({i})") for i in range(200)]
    f = vs[0]
    for i in range(1, 100_000):
        f = bx.xor_s([f, vs[i % 200]])
    g = vs[0]
    for i in range(1, 100_000):
        g = bx.and_([g, vs[i % 200]])
    assert len(str(f)) <= 1_000_003
    cnf = bx.and_s([f, ~g]).tseytin(ctx, "t")
    assert isinstance(cnf, bx.And)
    # every chain node but the two asserted at the top gets one auxiliary
    assert sum(str(v).startswith("t_") for v in cnf.support()) == 2 * 99_998
    assert len(g.support()) == 200


@pytest.mark.parametrize(
    "call",
    [
        lambda x: bx.and_s(x),
        lambda x: bx.or_s({x}),
        lambda x: bx.eq_s((x, x)),
        lambda x: bx.xor_s((y for y in [x])),
        lambda x: bx.eq_s([x, 1]),
        lambda x: bx.and_([x, None]),
        lambda x: bx.or_s([x, "y"]),
        lambda x: bx.impl_s(x, True),
        lambda x: bx.ite_s(x, x, 0),
        lambda x: bx.and_s([x, bx.Context().get_var("x")]),
        lambda x: x.tseytin(bx.Context(), "p"),
        lambda x: x.tseytin("ctx", "p"),
        lambda x: bx.Context().get_var(3),
        lambda x: bx.and_s([x], [x]),
    ],
)
def test_wrong_operands_raise_type_error(ctx, call):
    with pytest.raises(TypeError):
        call(ctx.get_var("x"))


class _NeverInitialised(bx.Variable):
    def __init__(self):
        pass


@pytest.mark.parametrize(
    "make", [lambda: bx.Variable.__new__(bx.Variable), lambda: bx.Or.__new__(bx.Or), _NeverInitialised]
)
@pytest.mark.parametrize(
    "call",
    [
        lambda x, u: bx.or_s([x, u]),
        lambda x, u: bx.and_([u]),
        lambda x, u: bx.impl_s(x, u),
        lambda x, u: bx.ite_s(u, x, x),
        lambda x, u: x == u,
        lambda x, u: x != u,
        lambda x, u: u.tseytin(bx.Context(), "p"),
        lambda x, u: x.tseytin(bx.Context.__new__(bx.Context), "p"),
        lambda x, u: str(u),
    ],
)
@pytest.mark.filterwarnings("ignore::RuntimeWarning")  # the binding layer's own note
def test_nodes_that_never_reached_the_engine_raise_type_error(ctx, make, call):
    with pytest.raises(TypeError):
        call(ctx.get_var("x"), make())


def test_expressions_outlive_their_context():
    f = bx.and_s([bx.Context().get_var("a"), bx.one()])
    del f  # the handle alone kept the arena alive
    v = bx.Context().get_var("b")
    assert str(bx.or_s([v, bx.zero()])) == "b"


@pytest.mark.skipif(
    sys.platform != "linux" or "asan" in os.environ.get("LD_PRELOAD", ""),
    reason="needs /proc and an address-space limit, which a sanitizer runtime cannot live with",
)
def test_operands_without_memory_raise_memory_error():
    # Run apart under an address-space limit just above what the formula takes: the operand
    # list then cannot be allocated, which must surface as MemoryError, not a crash.
    script = """
import resource
import orbeny.trelle.bxpr as bx
wide = bx.and_([bx.Context().get_var("x")] * 5_000_000)
used = int(open("/proc/self/statm").read().split()[0]) * resource.getpagesize()
resource.setrlimit(resource.RLIMIT_AS, (used + 16 * 2**20, resource.getrlimit(resource.RLIMIT_AS)[1]))
try:
    wide.get_args()
except MemoryError:
    pass
else:
    raise SystemExit("get_args() did not run out of memory")
"""
    subprocess.run([sys.executable, "-c", script], check=True, timeout=120)


# ---------------------------------------------------------------- larger formulas, SAT oracle


def random_dag(seed, n_vars=24, steps=300):
    """A random shared DAG as a list of steps, its bx form and a truth function."""
    rng = random.Random(seed)
    ctx = bx.Context()
    names = [f"v({i})" for i in range(n_vars)]
    nodes = [ctx.get_var(n) for n in names]
    recipe = [("var", i) for i in range(n_vars)]
    ops = ["and_s", "or_s", "xor_s", "eq_s", "impl_s", "ite_s", "not", "and_"]
    for _ in range(steps):
        op = rng.choice(ops)
        arity = {"not": 1, "impl_s": 2, "ite_s": 3}.get(op, rng.randint(1, 4))
        args = [rng.randrange(max(0, len(nodes) - 40), len(nodes)) for _ in range(arity)]
        recipe.append((op, args))
        operands = [nodes[a] for a in args]
        if op == "not":
            nodes.append(~operands[0])
        elif op in ("impl_s", "ite_s"):
            nodes.append(getattr(bx, op)(*operands))
        else:
            nodes.append(getattr(bx, op)(operands))
    root = bx.and_s([bx.or_s(nodes[-10:-5]), bx.xor_s(nodes[-5:])])

    def truth(value):
        val = []
        for op, args in recipe:
            a = [val[i] for i in args] if op != "var" else None
            val.append(
                value[args] if op == "var"
                else not a[0] if op == "not"
                else (not a[0] or a[1]) if op == "impl_s"
                else (a[1] if a[0] else a[2]) if op == "ite_s"
                else all(a) if op in ("and_s", "and_")
                else any(a) if op == "or_s"
                else sum(a) % 2 == 1 if op == "xor_s"
                else len(set(a)) < 2
            )
        return any(val[-10:-5]) and sum(val[-5:]) % 2 == 1

    return ctx, names, root, truth


@settings(max_examples=12)
@given(st.integers(0, 2**32 - 1))
def test_large_random_dags_against_sat_solver(seed):
    from pysat.solvers import Solver

    ctx, names, root, truth = random_dag(seed)
    cnf = root.tseytin(ctx, "_bxpr_aux")
    number = {n: i + 1 for i, n in enumerate(names)}
    for v in sorted(map(str, cnf.support())):
        number.setdefault(v, len(number) + 1)
    assert set(number) - set(names) == _aux_names(cnf)
    _check_auxiliaries(root, cnf, "_bxpr_aux")
    clauses = [[number[n] if s else -number[n] for n, s in c] for c in clauses_of(cnf)]
    aux = [number[n] for n in _aux_names(cnf)]
    rng = random.Random(seed)
    with Solver(name="minisat22", bootstrap_with=clauses) as solver:
        for k in range(40):
            value = [rng.random() < 0.5 for _ in names]
            inputs = [i + 1 if b else -(i + 1) for i, b in enumerate(value)]
            assert solver.solve(assumptions=inputs) == truth(value)
            if truth(value) and aux:
                # The auxiliaries are functions of the inputs: no second extension.
                model = set(solver.get_model())
                guard = len(number) + 1 + k
                solver.add_clause([-guard] + [-a if a in model else a for a in aux])
                assert not solver.solve(assumptions=inputs + [guard])
