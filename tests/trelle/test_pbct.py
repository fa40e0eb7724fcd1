import itertools
import random
import subprocess
import sys
from pathlib import Path

import pytest
from hypothesis import example, given, settings
from hypothesis import strategies as st
from pysat.solvers import Solver

from orbeny.trelle import pbct as pb

CMP = {"<=": pb.Comparator_type.LEQ, ">=": pb.Comparator_type.GEQ, "==": pb.Comparator_type.BOTH}


def meets(total, cmp, bound):
    return {"<=": total <= bound, ">=": total >= bound, "==": total == bound}[cmp]


def value(terms, assignment):
    """Sum of coef * literal under `assignment` (variable -> bool)."""
    return sum(c for lit, c in terms if assignment[abs(lit)] == (lit > 0))


def encode(terms, cmp, bound, first=1, limit=None, construction=""):
    config = pb.PBConfig()
    config.pb_encoder = pb.PB_Encoder_type.ADDER
    config._construction = construction  # "" selects by shape; the others are forced
    if limit is not None:
        config.max_clauses_per_constraint = limit
    allocator = pb.AuxVarManager(first)
    db = pb.VectorClauseDatabase(config)
    constraint = pb.PBConstraint([pb.WeightedLit(lit, c) for lit, c in terms], CMP[cmp], bound)
    pb.pb2cnf(config).encode2(constraint, db, allocator)
    return db.get_clauses(), allocator


def check_extends_exactly(terms, cmp, bound, assignments, clauses):
    with Solver(name="m22", bootstrap_with=clauses) as solver:
        for assignment in assignments:
            assumptions = [v if val else -v for v, val in assignment.items()]
            assert solver.solve(assumptions=assumptions) == meets(value(terms, assignment), cmp, bound), (
                terms, cmp, bound, assignment)


@st.composite
def constraints(draw):
    pool = draw(st.integers(1, 8))
    # Equal magnitudes make cardinality constraints (at most / exactly / at least one among
    # them), mixed ones weighted sums; each shape takes a construction of its own.
    magnitude = draw(st.sampled_from([None, 1, 3]))
    coefs = st.integers(-50, 50) if magnitude is None else st.sampled_from([-magnitude, magnitude])
    terms = draw(st.lists(st.tuples(st.integers(-pool, pool).filter(bool), coefs), max_size=10))
    lo = sum(min(c, 0) for _, c in terms)
    hi = sum(max(c, 0) for _, c in terms)
    return terms, draw(st.sampled_from(sorted(CMP))), draw(st.integers(lo - 3, hi + 3))


ONE_SIDED = ["binary_merge", "generalized_totalizer", "decision_diagram", "sorting_network"]


@settings(max_examples=400)
@given(constraints(), st.sampled_from(["", "compact_adder"] + ONE_SIDED))
# Taking the heavy term out leaves the others forced in only on a second pass.
@example(([(1, 2), (2, -1), (3, 4)], "==", 2), "")
def test_small_constraints_against_brute_force(case, construction):
    terms, cmp, bound = case
    # The allocator starts above the pool, as in the system, where it hands out both.
    clauses, allocator = encode(terms, cmp, bound, first=9, construction=construction)
    variables = sorted({abs(lit) for lit, _ in terms})
    assert all(lit != 0 for clause in clauses for lit in clause)
    aux = {abs(lit) for clause in clauses for lit in clause} - set(variables)
    assert all(9 <= v < allocator.get_variable() for v in aux)
    assignments = [dict(zip(variables, bits))
                   for bits in itertools.product([False, True], repeat=len(variables))]
    totals = [value(terms, a) for a in assignments]
    outcomes = {meets(t, cmp, bound) for t in totals}
    lo, hi = min(totals), max(totals)
    if outcomes == {True}:
        assert clauses == []
    elif not any(meets(total, cmp, bound) for total in (lo, hi)) and (cmp != "==" or not lo <= bound <= hi):
        assert clauses == [[]]  # out of reach: nothing to encode
    else:
        check_extends_exactly(terms, cmp, bound, assignments, clauses)


@settings(max_examples=200)
@given(st.lists(st.tuples(st.booleans(), st.integers(-31, 31).filter(bool)), min_size=1, max_size=8),
       st.sampled_from(sorted(CMP)), st.integers(-40, 100))
@example([(True, 11), (False, -5), (True, 8), (False, 5), (True, 14), (False, 5)], "==", 14)
def test_the_compact_adder_alone_against_brute_force(signs_coefs, cmp, bound):
    # The fallback over every budget, so exact on its own: distinct variables with
    # coefficients of several binary digits, so that its gates (the carry-free ones
    # included, for carries beyond the bound) are all met.
    terms = [(v if positive else -v, c) for v, (positive, c) in enumerate(signs_coefs, 1)]
    n = len(terms)
    clauses, _ = encode(terms, cmp, bound, first=n + 1, construction="compact_adder")
    assignments = [dict(zip(range(1, n + 1), bits)) for bits in itertools.product([False, True], repeat=n)]
    check_extends_exactly(terms, cmp, bound, assignments, clauses)


@pytest.mark.parametrize("construction", ["", "compact_adder"] + ONE_SIDED)
def test_every_construction_over_small_rows_whose_low_bit_is_variable_1(construction):
    # Variable 1 alone in the lowest digit reaches the comparison as itself: a network's
    # placeholders must never be taken for it. Every bound from out of reach to out of reach.
    assignments = [dict(zip((1, 2, 3), bits)) for bits in itertools.product([False, True], repeat=3)]
    for lit1, a, b in itertools.product((1, -1), (1, 2, 3, -2), (2, 3, 4, -4)):
        terms = [(lit1, 1), (2, a), (3, b)]
        lo = sum(min(c, 0) for _, c in terms)
        hi = sum(max(c, 0) for _, c in terms)
        for cmp, bound in itertools.product(sorted(CMP), range(lo - 1, hi + 2)):
            clauses, _ = encode(terms, cmp, bound, first=4, construction=construction)
            if clauses == [[]]:
                assert not any(meets(value(terms, x), cmp, bound) for x in assignments), (terms, cmp, bound)
            else:
                check_extends_exactly(terms, cmp, bound, assignments, clauses)


@pytest.mark.parametrize("seed", range(6))
@pytest.mark.parametrize("cmp", sorted(CMP))
@pytest.mark.parametrize("kind", ["weighted", "cardinality", "few", "wide", "compact_adder"] + ONE_SIDED)
def test_larger_constraints_with_a_solver(seed, cmp, kind):
    rng = random.Random(seed)
    n, free = rng.choice([30, 50]), 6
    if kind == "cardinality":
        terms = [(rng.choice([-1, 1]) * v, rng.choice([-2, 2])) for v in range(1, n + 1)]
    elif kind == "few":  # a count of 2 or 3, of the true literals or of the false ones
        terms = [(v, 1) for v in range(1, n + 1)]
    elif kind == "wide":  # too many distinct sums for a decision diagram within the budget
        n = 30
        terms = [(v, rng.choice([-1, 1]) * rng.randint(1, 2 ** 40)) for v in range(1, n + 1)]
    else:
        terms = [(v, rng.choice([-1, 1]) * rng.randint(1, rng.choice([10, 1000]))) for v in range(1, n + 1)]
        terms += [(-rng.randint(1, n), rng.randint(-100, 100)) for _ in range(5)]
    bound = value(terms, {v: rng.random() < 0.5 for v in range(1, n + 1)})
    share = 0.5  # of the fixed variables that are true
    if kind == "few":
        bound = rng.choice([2, 3, n - 3, n - 2])
        share = bound / n
    forced = kind if kind in ["compact_adder"] + ONE_SIDED else ""
    clauses, _ = encode(terms, cmp, bound, first=n + 1, construction=forced)
    with Solver(name="cd15", bootstrap_with=clauses) as solver:
        for _ in range(20):
            # Fix all but a few variables: the solver must find an extension exactly
            # when some values of the free ones meet the constraint.
            fixed = {v: rng.random() < share for v in rng.sample(range(1, n + 1), n - free)}
            open_vars = [v for v in range(1, n + 1) if v not in fixed]
            possible = any(meets(value(terms, {**fixed, **dict(zip(open_vars, bits))}), cmp, bound)
                           for bits in itertools.product([False, True], repeat=free))
            assert solver.solve(assumptions=[v if val else -v for v, val in fixed.items()]) == possible
            if possible:
                model = {abs(l): l > 0 for l in solver.get_model()}
                assert meets(value(terms, {v: model.get(v, False) for v in range(1, n + 1)}), cmp, bound)


@pytest.mark.parametrize("weights", [(3, 5, 7, 6), (1, 1, 2), (7, 11, 13), (1,), (40, 56, 9)])
@pytest.mark.parametrize("cmp", sorted(CMP))
def test_many_repeated_weights_exhaustively(weights, cmp):
    # Repeated digit patterns are added up once and shared; check every assignment.
    n = 12
    terms = [(v, weights[v % len(weights)]) for v in range(1, n + 1)]
    top = sum(c for _, c in terms)
    assignments = [dict(zip(range(1, n + 1), bits)) for bits in itertools.product([False, True], repeat=n)]
    for bound in (1, top // 3, top // 2 + 1, top - 2):
        clauses, _ = encode(terms, cmp, bound, first=n + 1)
        check_extends_exactly(terms, cmp, bound, assignments, clauses)


@pytest.mark.parametrize("cmp", ["<=", ">="])
def test_digits_that_three_terms_share_are_added_once(cmp):
    # 23, 23 and 20 share the digits 4 and 16: one full adder over the three takes both. The
    # search counts the digits each term has; counting any others, it finds no pair to share
    # and spins to its work limit (two minutes for 2**58 + 1, 2**58 + 2 and 2**58 + 4).
    terms = [(1, 23), (2, 23), (3, 20)]
    clauses, _ = encode(terms, cmp, 33, first=4, construction="compact_adder")
    assert len(clauses) == 19
    check_extends_exactly(terms, cmp, 33, [dict(zip((1, 2, 3), bits))
                                           for bits in itertools.product([False, True], repeat=3)], clauses)


def assumed(fixed):
    return [v if val else -v for v, val in fixed.items()]


@pytest.mark.parametrize("coefs, cmp, bound", [
    ([1] * 6, "<=", 1), ([1] * 6, "==", 1), ([1] * 6, ">=", 5), ([1] * 7, "==", 6),
    ([1] * 7, "<=", 3), ([1] * 7, ">=", 3), ([1] * 8, "<=", 6), ([-1] * 7, "==", -3), ([1] * 7, "==", 2),
    ([3, 5, 2, 7, 4, 6], "<=", 12), ([3, 5, 2, 7, 4, 6], ">=", 12), ([3, -5, 2, -7, 4, 6], "<=", 1),
])
@pytest.mark.parametrize("construction", ["", "generalized_totalizer", "decision_diagram", "sorting_network",
                                          "equality counter"])
def test_unit_propagation_finds_every_conflict_and_forced_literal(coefs, cmp, bound, construction):
    # Arc consistency: under every partial assignment, unit propagation fails exactly
    # when no completion meets the constraint and otherwise sets every literal that all
    # completions agree on. Cardinality constraints and one-sided weighted sums have it.
    if construction == "sorting_network" and len({abs(c) for c in coefs}) > 1:
        pytest.skip("merging networks of binary digits are not arc-consistent")
    n = len(coefs)
    terms = list(zip(range(1, n + 1), coefs))
    if construction == "equality counter":
        (kind, *_), clauses, _ = encode_row(terms, cmp, bound, None, lambda lits: True)
        if kind != 3:
            pytest.skip("only cardinality equalities ask for it")
        assert clauses != encode_row(terms, cmp, bound, None, lambda lits: False)[1]
    else:
        clauses, _ = encode(terms, cmp, bound, first=n + 1, construction=construction)
    full = [dict(zip(range(1, n + 1), bits)) for bits in itertools.product([False, True], repeat=n)]
    models = [a for a in full if meets(value(terms, a), cmp, bound)]
    with Solver(name="m22", bootstrap_with=clauses) as solver:
        for values in itertools.product([None, False, True], repeat=n):
            fixed = {v: val for v, val in zip(range(1, n + 1), values) if val is not None}
            completions = [a for a in models if all(a[v] == val for v, val in fixed.items())]
            ok, implied = solver.propagate(assumptions=assumed(fixed))
            assert ok == bool(completions), fixed
            if ok:
                agreed = {v if completions[0][v] else -v for v in range(1, n + 1) if v not in fixed
                          and len({a[v] for a in completions}) == 1}
                assert agreed <= set(implied), fixed


@pytest.mark.parametrize("n", range(17, 21))
def test_at_most_one_chain_refuses_every_pair(n):
    clauses, _ = encode([(v, 1) for v in range(1, n + 1)], "<=", 1, first=n + 1)
    assert len(clauses) == (7 * n - 12 - 3 * (n % 2)) // 2  # groups of three in a chain, not the pairs
    links = sorted({abs(lit) for clause in clauses for lit in clause} - set(range(1, n + 1)))
    with Solver(name="m22", bootstrap_with=clauses) as solver:
        for v in range(n + 1):
            # each literal alone holds, and propagation alone refuses it with any other
            row = [-u for u in range(1, n + 1) if u != v] + ([v] if v else [])
            ok, implied = solver.propagate(assumptions=row[-1:] if v else row)
            assert ok and set(row) <= set(implied) | set(row[-1:])
            # and fixes every link of the chain, so that a solver can branch on them
            assert {abs(lit) for lit in implied} >= set(links), v


def encode_row(terms, cmp, bound, parity_links, equality_counter=None, allocator=None, limit=None,
               construction=""):
    config = pb.PBConfig()
    config._construction = construction
    if limit is not None:
        config.max_clauses_per_constraint = limit
    allocator = allocator or pb.AuxVarManager(max(abs(lit) for lit, _ in terms) + 1)
    db = pb.VectorClauseDatabase(config)
    constraint = pb.PBConstraint([pb.WeightedLit(lit, c) for lit, c in terms], CMP[cmp], bound)
    shape = pb.pb2cnf(config)._encode_row(constraint, db, allocator, parity_links, equality_counter)
    return shape, db.get_clauses(), allocator


def units(n):
    return [(v, 1) for v in range(1, n + 1)]


def drawn(n, lo, hi):
    rng = random.Random(n)
    return [(v, rng.randint(lo, hi)) for v in range(1, n + 1)]


def chosen(label, terms, cmp, bound, expected, asked=False, **how):
    """A float bound is that share of the total; None is the sum of the odd variables' weights
    (reachable, for equalities). `how`: a clause limit, a forced construction."""
    total = sum(c for _, c in terms)
    if bound is None:
        bound = sum(c for v, c in terms if v % 2)
    elif isinstance(bound, float):
        bound = int(total * bound)
    return pytest.param(terms, cmp, bound, asked, how, expected, id=label)


# The construction each shape of row takes: (construction, clauses, auxiliaries). A change to the
# selection, to a size estimate, to a budget or to the shared sums' work cap moves a row here.
# When the selection changes on purpose, update the table in the same commit and say why.
# `asked`: the rows before answer yes to a chain of parities and to an equality's counter.
@pytest.mark.parametrize("terms, cmp, bound, asked, how, expected", [
    chosen("at most one of 5: pairwise", units(5), "<=", 1, ("one_hot", 10, 0)),
    chosen("at most one of 12: a chain", units(12), "<=", 1, ("one_hot", 36, 5)),
    chosen("at most one of 12: parity links", units(12), "<=", 1, ("one_hot_parity", 36, 5), asked=True),
    chosen("exactly one of 8", units(8), "==", 1, ("one_hot", 23, 3)),
    chosen("at least one of 8", units(8), ">=", 1, ("one_hot", 1, 0)),
    chosen("at most 2 of 20", units(20), "<=", 2, ("sequential_counter", 105, 36)),
    chosen("at least 3 of 20", units(20), ">=", 3, ("sequential_counter", 120, 51)),
    chosen("at most 17 of 20: 3 false", units(20), "<=", 17, ("sequential_counter", 120, 51)),
    chosen("exactly 2 of 20", units(20), "==", 2, ("totalizer", 180, 46)),
    chosen("exactly 2 of 20, crossed", units(20), "==", 2, ("sequential_counter", 161, 36), asked=True),
    chosen("at most 4 of 20", units(20), "<=", 4, ("totalizer", 174, 58)),
    chosen("at least 10 of 20", units(20), ">=", 10, ("totalizer", 218, 68)),
    chosen("at most 806 of 2000: the budget", units(2000), "<=", 806, ("totalizer", 999886, 19566)),
    chosen("at most 807 of 2000: over it", units(2000), "<=", 807, ("sorting_network", 150753, 100104)),
    chosen("exactly 20 of 40 under a limit", units(40), "==", 20, ("compact_adder", 506, 150), limit=1000),
    chosen("six weights, at most", drawn(6, 2, 7), "<=", 0.5, ("generalized_totalizer", 27, 12)),
    chosen("six weights, exactly", drawn(6, 2, 7), "==", None, ("decision_diagram", 33, 12)),
    chosen("six weights, exactly, within the diagram's steps", drawn(6, 10, 60), "==", 0.2,
           ("decision_diagram", 3, 0), limit=7),
    chosen("two weights, the totalizer forced", [(1, 3), (2, 5)], "<=", 6, ("generalized_totalizer", 1, 0),
           construction="generalized_totalizer"),
    chosen("18 weights of 10..60", drawn(18, 10, 60), "<=", 0.25, ("generalized_totalizer", 847, 271)),
    chosen("30 weights of 1..100", drawn(30, 1, 100), "<=", 0.25, ("binary_merge", 1478, 406)),
    # the totalizer within 4 times the merge's clauses, and just beyond; the diagram within twice them
    chosen("23 weights of 10..60", drawn(23, 10, 60), "<=", 0.75, ("generalized_totalizer", 5623, 835)),
    chosen("26 weights of 10..60: the totalizer just within", drawn(26, 10, 60), "<=", 0.23,
           ("generalized_totalizer", 5537, 641)),
    chosen("26 weights of 30..100", drawn(26, 30, 100), ">=", 0.3, ("binary_merge", 2142, 524)),
    chosen("39 weights of 1..100", drawn(39, 1, 100), "<=", 0.9, ("decision_diagram", 7433, 2105)),
    chosen("26 weights of 1000..10**5", drawn(26, 1000, 10 ** 5), "<=", 0.8, ("binary_merge", 4769, 1178)),
    # digits no weight has: the merge's counters there are empty, and cost nothing
    chosen("18 weights of sparse digits", list(enumerate([66, 192, 128, 66, 66, 2, 82, 16, 130, 128, 64, 2,
                                                         128, 146, 16, 64, 144, 2], 1)),
           ">=", 243, ("decision_diagram", 328, 99)),
    chosen("20 weights of sparse digits", list(enumerate([27, 35, 18, 16, 35, 32, 51, 50, 41, 33, 48, 8, 24,
                                                         26, 16, 1, 10, 17, 11, 2], 1)),
           ">=", 189, ("generalized_totalizer", 2254, 513)),
    chosen("29 weights near 10**5", drawn(29, 21753, 10 ** 5), "<=", 0.9, ("decision_diagram", 1886, 504)),
    chosen("26 weights near 10**5, at least", drawn(26, 22819, 10 ** 5), ">=", 0.1,
           ("decision_diagram", 901, 251)),
    chosen("30 weights of 40 bits, exactly", drawn(30, 1, 2 ** 40), "==", None, ("decision_diagram", 89, 30)),
    chosen("4096 weights of 1..2, exactly", drawn(4096, 1, 2), "==", 3, ("decision_diagram", 36765, 12256)),
    chosen("4097: too long for the diagram", drawn(4097, 1, 2), "==", 3, ("compact_adder", 35869, 8718)),
    chosen("150 weights of 20 bits", drawn(150, 1, 2 ** 20), "<=", 0.5, ("binary_merge", 167096, 12138)),
    chosen("500 weights of 12 bits", drawn(500, 1, 2 ** 12), "<=", 0.5, ("network_merge", 198840, 132475)),
    chosen("1760 weights of 12 bits: the networks 1479 clauses within the budget", drawn(1760, 1, 2 ** 12), "<=",
           0.5, ("network_merge", 998521, 665385)),
    chosen("60 weights of 20 bits, exactly", drawn(60, 1, 2 ** 20), "==", None, ("compact_adder", 5835, 1690)),
    chosen("1000 weights of 52 bits", drawn(1000, 1, 2 ** 52), "<=", 0.5, ("compact_adder", 93832, 26827)),
    chosen("6000 weights of 50 bits: the work cap", drawn(6000, 1, 2 ** 50), "<=", 0.5,
           ("compact_adder", 472042, 134891)),
])
def test_each_shape_of_row_takes_its_construction(terms, cmp, bound, asked, how, expected):
    yes = (lambda lits: True) if asked else None
    shape, clauses, allocator = encode_row(terms, cmp, bound, yes, yes, **how)
    assert (shape[2], len(clauses), allocator._next - len(terms) - 1) == expected


def test_the_allocator_remembers_the_rows_encoded_with_it():
    # Lines of a grid: two rows cross nothing before them, a column crosses each once, a row
    # sharing two cells with the first one takes the totalizer. Pigeon rows, then a hole whose
    # literals only they met, and one that also has a cell of the grid.
    config = pb.PBConfig()
    allocator = pb.AuxVarManager(100)

    def row(terms, cmp, bound):
        before = allocator._next
        db = pb.VectorClauseDatabase(config)
        constraint = pb.PBConstraint([pb.WeightedLit(lit, c) for lit, c in terms], CMP[cmp], bound)
        pb.pb2cnf(config).encode2(constraint, db, allocator)
        alike = [encode_row(terms, cmp, bound, lambda lits: answer, lambda lits: answer, pb.AuxVarManager(before))[1]
                 for answer in (False, True)]
        return alike.index(db.get_clauses()) == 1 if alike[0] != alike[1] else None

    grid = [[r * 5 + c + 1 for c in range(5)] for r in range(5)]
    assert not row([(v, 1) for v in grid[0]], "==", 2)
    assert not row([(v, 1) for v in grid[1]], "==", 3)
    assert row([(grid[r][0], 1) for r in range(5)], "==", 2)
    assert not row([(grid[0][0], 1), (grid[0][1], 1), (grid[2][2], 1), (grid[3][3], 1)], "==", 2)
    pigeons = [[50 + 8 * p + h for h in range(7)] for p in range(8)]
    for p in range(8):
        assert row([(v, 1) for v in pigeons[p]], ">=", 1) is None
    assert row([(pigeons[p][0], 1) for p in range(8)], "<=", 1)
    assert not row([(pigeons[p][1], 1) for p in range(8)] + [(grid[4][4], 1)], "<=", 1)


@pytest.mark.parametrize("n", [7, 8, 11])
def test_parity_links_keep_the_row_its_size_and_its_conflicts(n):
    asked = []
    # Written as "the complements are at least n - 1": the row is read back as at most one.
    shape, clauses, _ = encode_row([(v, -1) for v in range(1, n + 1)], ">=", -1,
                                   lambda lits: asked.append(lits) or True)
    assert shape[:2] == (2, list(range(1, n + 1))) and asked == [list(range(1, n + 1))]
    plain, _ = encode([(v, 1) for v in range(1, n + 1)], "<=", 1, first=n + 1)
    assert len(clauses) == len(plain) and sorted(map(sorted, clauses)) != sorted(map(sorted, plain))
    assert not any(len(c) == 2 and max(c) > n for c in clauses)  # no literal alone implies a link
    check_extends_exactly([(v, 1) for v in range(1, n + 1)], "<=", 1,
                          [dict(zip(range(1, n + 1), bits)) for bits in itertools.product([False, True], repeat=n)],
                          clauses)
    with Solver(name="m22", bootstrap_with=clauses) as solver:
        for a in range(1, n + 1):
            # a true literal forces the ones after it false; two true ones conflict at once
            ok, implied = solver.propagate(assumptions=[a])
            assert ok and {-b for b in range(a + 1, n + 1)} <= set(implied)
            assert all(not solver.propagate(assumptions=[b, a])[0] for b in range(1, n + 1) if b != a)


@pytest.mark.parametrize("terms, cmp, bound, shape", [
    ([(1, 1), (2, 1), (-3, 1)], ">=", 1, (1, [1, 2, -3])),
    ([(1, 2), (2, 2), (3, 2)], ">=", 1, (1, [1, 2, 3])),
    ([(1, 1), (2, 1), (3, 1)], "<=", 2, (1, [-1, -2, -3])),
    ([(4, 1), (2, 1), (9, 1)], "<=", 1, (2, [2, 4, 9])),
    ([(v, 1) for v in range(1, 10)], "==", 1, (0, [])),
    ([(1, 3), (2, 5), (3, 1)], "<=", 6, (0, [])),
    ([(1, 1), (2, 1)], ">=", 3, (0, [])),
])
def test_row_shapes_and_when_the_links_are_asked(terms, cmp, bound, shape):
    asked = []
    got, clauses, _ = encode_row(terms, cmp, bound, lambda lits: asked.append(lits) or True)
    assert got[:2] == shape
    assert asked == []  # pairwise rows and exactly-one chains have no choice to make
    assert (got, clauses) == encode_row(terms, cmp, bound, None)[:2]


def test_a_failing_link_choice_leaves_everything_untouched():
    def refuse(lits):
        raise KeyError("no")
    config = pb.PBConfig()
    allocator = pb.AuxVarManager(20)
    db = pb.VectorClauseDatabase(config)
    constraint = pb.PBConstraint([pb.WeightedLit(v, 1) for v in range(1, 10)], CMP["<="], 1)
    with pytest.raises(KeyError):
        pb.pb2cnf(config)._encode_row(constraint, db, allocator, refuse)
    assert db.get_clauses() == [] and allocator.get_variable() == 20


@pytest.mark.parametrize("terms, cmp, bound, doubled", [
    ([(1, 1), (2, 2), (3, 3), (-4, 5)], "<=", 4, [8, 9]),
    ([(1, 1), (2, 2), (3, 3), (-4, 5)], ">=", 4, [8, 7]),
    ([(1, 1), (2, -2), (3, 3)], "==", 2, [4]),
    ([(1, 3), (2, 5), (3, 7), (4, 11), (5, 13)], "<=", 15, [30, 31]),
    ([(1, 3), (-2, 5), (3, 7), (4, 11), (5, 13)], ">=", 20, [40, 39]),
])
def test_a_common_divisor_of_two_gives_the_clauses_of_the_divided_constraint(terms, cmp, bound, doubled):
    expected = encode(terms, cmp, bound, first=6)[0]
    for twice in doubled:
        assert encode([(lit, 2 * c) for lit, c in terms], cmp, twice, first=6)[0] == expected
    if cmp == "==":
        assert encode([(lit, 2 * c) for lit, c in terms], cmp, 2 * bound + 1, first=6)[0] == [[]]


@pytest.mark.parametrize("cmp, bound, coefs", [
    ("==", 4, [1] * 9), ("<=", -3, [-1] * 9), (">=", 10, [2] * 9), ("<=", 1, [1] * 9),
    ("<=", 40, [3, 17, 5, 29, 11, 2, 23, 7, 13]), (">=", 30, [3, -17, 5, 29, -11, 2, 23, 7, 13]),
])
@pytest.mark.parametrize("construction", ["", "binary_merge"])
def test_a_row_encodes_alike_whatever_order_its_terms_are_written_in(cmp, bound, coefs, construction):
    terms = list(zip((1, -2, 3, 4, -5, 6, 7, 8, -9), coefs))
    expected = encode(terms, cmp, bound, first=10, construction=construction)[0]
    for seed in range(3):
        shuffled = terms[:]
        random.Random(seed).shuffle(shuffled)
        assert encode(shuffled, cmp, bound, first=10, construction=construction)[0] == expected


@pytest.mark.parametrize("n", [4, 6, 9, 17, 20])
@pytest.mark.parametrize("cmp, bound", [("<=", 1), ("==", 1), (">=", -1)])
def test_one_hot_rows_refuse_every_pair(n, cmp, bound):
    # Long rows count through auxiliaries: with pairwise clauses, a row whose literals other
    # rows share (the pigeonhole principle) takes CDCL exponentially many conflicts.
    sign = -1 if cmp == ">=" else 1  # sum of -x >= -1: at most one, read over complements
    terms = [(v, sign) for v in range(1, n + 1)]
    clauses, _ = encode(terms, cmp, bound, first=n + 1)
    pairs = [c for c in clauses if len(c) == 2 and all(abs(lit) <= n for lit in c)]
    # pairwise while it is no more clauses than the chain, whose links are defined both ways
    assert (len(pairs) == n * (n - 1) // 2) == (n <= 6)
    with Solver(name="m22", bootstrap_with=clauses) as solver:
        for x, y in itertools.combinations(range(1, n + 1), 2):
            assert not solver.propagate(assumptions=[x, y])[0]
        for x in range(1, n + 1):
            ok, implied = solver.propagate(assumptions=[x])
            assert ok and {-v for v in range(1, n + 1) if v != x} <= set(implied)
        assert solver.solve(assumptions=[-v for v in range(1, n + 1)]) == (cmp != "==")


@pytest.mark.parametrize("bound, networks", [(806, False), (807, True)])
def test_a_count_at_its_budget_takes_the_totalizer_or_the_networks_never_the_adder(bound, networks):
    # 2000 literals may take a million clauses; at most 806 of them is a totalizer of 999,886.
    # Its size is computed before it is built: counted short, 807 would fail in the building
    # and drop to the adder instead of taking the networks.
    terms = [(v, 1) for v in range(1, 2001)]
    clauses = encode(terms, "<=", bound, first=2001)[0]
    assert clauses != encode(terms, "<=", bound, first=2001, construction="compact_adder")[0]
    assert (clauses == encode(terms, "<=", bound, first=2001, construction="sorting_network")[0]) == networks


@pytest.mark.parametrize("n, low, high, cmp", [(3000, 1, 1, "<="), (3000, 1, 1, "=="), (400, 1, 1000, ">="),
                                               (200, -2 ** 40, 2 ** 40, "==")])
def test_the_compact_adder_takes_at_most_seven_clauses_a_binary_digit(n, low, high, cmp):
    # Every construction falls back on it: the formula encoder refuses a row at the call by this
    # count, so a row that it lets through and the adder cannot write would fail every build.
    rng = random.Random(n)
    terms = [(v, rng.randint(low, high) or 1) for v in range(1, n + 1)]
    total = sum(abs(c) for _, c in terms)
    clauses = encode(terms, cmp, total // 2, first=n + 1, construction="compact_adder")[0]
    digits = sum(abs(c).bit_length() for _, c in terms)
    assert len(clauses) <= 1 + (2 if cmp == "==" else 1) * (7 * digits + 4 * total.bit_length())


@pytest.mark.parametrize("n, bits", [(150, 20), (500, 12), (3000, 0)])
def test_wide_rows_count_beyond_the_fixed_allowance(n, bits):
    # The merge of 150 terms of 20 bits needs over 100,000 clauses, still far within what a
    # row of that many terms may take. Totalizers too large even for that take merging
    # networks (500 terms of 12 bits, a count of 3000). Unit propagation finds every
    # conflict in each.
    rng = random.Random(n)
    terms = [(v, rng.randint(1, 2 ** bits)) for v in range(1, n + 1)]
    bound = sum(c for _, c in terms) // 2
    adder = len(encode(terms, "<=", bound, first=n + 1, construction="compact_adder")[0])
    clauses, _ = encode(terms, "<=", bound, first=n + 1)
    assert len(clauses) > 10 * adder
    heaviest = sorted(terms, key=lambda t: -t[1])
    over = next(k for k in range(n + 1) if sum(c for _, c in heaviest[:k]) > bound)
    with Solver(name="cd15", bootstrap_with=clauses) as solver:
        # The heaviest terms just past the bound: propagation alone must refuse them.
        assert not solver.propagate(assumptions=[v for v, _ in heaviest[:over]])[0]
        for _ in range(20):
            fixed = {v: rng.random() < 0.5 for v in range(1, n + 1)}
            assert solver.solve(assumptions=assumed(fixed)) == meets(value(terms, fixed), "<=", bound)


@pytest.mark.parametrize("cmp", ["<=", ">="])
def test_one_sided_diagram_nodes_are_functions_of_the_row(cmp):
    # Defined both ways: each assignment of the row's literals extends to exactly one
    # assignment of the nodes, so a solver can learn about a node from either side.
    terms = [(1, 3), (2, 5), (-3, 2), (4, 7), (5, 4), (6, 6)]
    clauses, _ = encode(terms, cmp, 12, first=7, construction="decision_diagram")
    nodes = sorted({abs(lit) for clause in clauses for lit in clause} - set(range(1, 7)))
    assert nodes
    with Solver(name="m22", bootstrap_with=clauses) as solver:
        for bits in itertools.product([False, True], repeat=6):
            fixed = dict(zip(range(1, 7), bits))
            if not solver.solve(assumptions=assumed(fixed)):
                continue
            model = set(solver.get_model())
            block = [-v if v in model else v for v in nodes]
            with Solver(name="m22", bootstrap_with=clauses + [block]) as other:
                assert not other.solve(assumptions=assumed(fixed)), fixed


@pytest.mark.parametrize("low, high, items, chosen", [
    (10, 60, 18, "generalized_totalizer"),  # few reachable sums: a node per sum pays
    (1, 100, 30, "binary_merge"),           # many: its sums would outgrow the merge tenfold
])
def test_one_sided_weighted_rows_take_partial_sums_only_while_few(low, high, items, chosen):
    rng = random.Random(items)
    terms = [(v, rng.randint(low, high)) for v in range(1, items + 1)]
    bound = sum(c for _, c in terms) // 4
    selected, _ = encode(terms, "<=", bound, first=items + 1)
    assert selected == encode(terms, "<=", bound, first=items + 1, construction=chosen)[0]


@pytest.mark.parametrize("terms, cmp, bound, expected", [
    ([], "<=", 0, []),
    ([], ">=", 1, [[]]),
    ([], "==", 0, []),
    ([], "==", -1, [[]]),
    ([(1, 0), (2, 0)], "==", 0, []),
    ([(1, 3), (1, -3)], "<=", 0, []),           # cancels to 0
    ([(1, 2), (-1, 2)], "==", 2, []),           # 2x + 2(1-x) == 2 always
    ([(1, 5), (2, 5)], "<=", 10, []),
    ([(1, 5), (2, 5)], ">=", 11, [[]]),
    ([(1, 5), (2, 7)], "<=", 4, [[-1], [-2]]),  # both too heavy
    ([(1, -5)], ">=", 0, [[-1]]),
    ([(1, 1), (2, 1), (3, 1)], ">=", 1, [[1, 2, 3]]),     # at least one: one clause
    ([(1, 1), (2, 1), (3, 1)], "<=", 2, [[-1, -2, -3]]),  # not all: one clause
    ([(1, 4), (2, 9), (-3, 5)], ">=", 4, [[1, 2, -3]]),   # each term alone suffices
    ([(1, 2), (2, 3)], "==", 4, [[]]),                    # 3 forced in, then 2 can't fit
    ([(1, 5), (2, 1), (3, 1)], ">=", 6, [[1], [2, 3]]),   # 1 forced in, then at least one
    ([(1, 6), (2, 2), (3, 2)], "<=", 3, [[-1], [-2, -3]]),  # 1 forced out, then at most one
])
def test_trivial_and_unit_results(terms, cmp, bound, expected):
    assert encode(terms, cmp, bound, first=3)[0] == expected


def test_a_divisor_that_shows_once_terms_are_forced_divides_the_whole_row():
    # In a process of its own: a row divided but for its total would take the process down.
    code = ("import sys; sys.path.insert(0, sys.argv[1]); from test_pbct import encode; "
            "print(encode([(-1, 3), (-2, 10), (3, 8), (4, 1), (-5, 1), (6, 1), (-7, 1)], '==', 8, first=8)[0])")
    out = subprocess.run([sys.executable, "-c", code, str(Path(__file__).parent)], capture_output=True, text=True,
                         timeout=60)
    assert out.stdout == "[[2], [3], [-4], [5], [-6], [7], [1]]\n", out


def test_auxiliaries_skip_numbers_the_constraint_uses():
    # Variables 2..9 were not drawn from this allocator; auxiliaries must avoid them.
    terms = [(v, v) for v in range(2, 10)]
    clauses, _ = encode(terms, "<=", 20, first=1)
    aux = {abs(lit) for clause in clauses for lit in clause} - set(range(2, 10))
    assert aux and not aux & set(range(2, 10))
    check_extends_exactly(terms, "<=", 20, [dict(zip(range(2, 10), bits))
                                            for bits in itertools.product([False, True], repeat=8)],
                          clauses)


@pytest.mark.parametrize("coefs, cmp, bound", [
    ([1] * 40, "==", 20), ([1] * 40, "<=", 3), ([3, 5, 7, 11, 13] * 8, "<=", 156)])
def test_clause_limit_falls_back_to_the_compact_network(coefs, cmp, bound):
    # The strong construction would exceed the limit; the compact one fits and is exact.
    n = len(coefs)
    terms = list(zip(range(1, n + 1), coefs))
    limit = len(encode(terms, cmp, bound, first=n + 1, construction="compact_adder")[0])
    assert len(encode(terms, cmp, bound, first=n + 1)[0]) > limit
    clauses, _ = encode(terms, cmp, bound, first=n + 1, limit=limit)
    assert len(clauses) <= limit
    rng = random.Random(n)
    with Solver(name="m22", bootstrap_with=clauses) as solver:
        for _ in range(30):
            fixed = {v: rng.random() < 0.5 for v in range(1, n + 1)}
            assert solver.solve(assumptions=assumed(fixed)) == meets(value(terms, fixed), cmp, bound)


def test_totalizer_over_too_many_sums_gives_way_to_the_adder():
    # Far more reachable sums than the adder's clauses allow: refused whole, nothing mixed in.
    n = 40
    rng = random.Random(n)
    terms = [(v, rng.randint(1, 1000)) for v in range(1, n + 1)]
    bound = sum(c for _, c in terms) // 2
    adder = encode(terms, "<=", bound, first=n + 1, construction="compact_adder")[0]
    assert encode(terms, "<=", bound, first=n + 1, construction="generalized_totalizer",
                  limit=len(adder))[0] == adder


@pytest.mark.parametrize("limit", [10, 0])
@pytest.mark.parametrize("weight, bound", [(lambda v: v, 40), (lambda v: 1, 3)])
def test_clause_limit_refuses_and_leaves_everything_untouched(weight, bound, limit):
    config = pb.PBConfig()
    config.max_clauses_per_constraint = limit
    allocator = pb.AuxVarManager(50)
    db = pb.VectorClauseDatabase(config)
    constraint = pb.PBConstraint([pb.WeightedLit(v, weight(v)) for v in range(1, 30)], pb.Comparator_type.LEQ, bound)
    with pytest.raises(OverflowError, match="max_clauses_per_constraint"):
        pb.pb2cnf(config).encode2(constraint, db, allocator)
    assert db.get_clauses() == []
    assert allocator.get_variable() == 50


@pytest.mark.parametrize("make, error", [
    (lambda: pb.WeightedLit(0, 1), ValueError),
    (lambda: pb.WeightedLit(1, 1.5), TypeError),
    (lambda: pb.WeightedLit(1.0, 1), TypeError),
    (lambda: pb.WeightedLit(1, "2"), TypeError),
    (lambda: pb.WeightedLit(1, 2 ** 70), OverflowError),
    (lambda: pb.WeightedLit(-2 ** 63, 1), ValueError),
    (lambda: pb.PBConstraint([], pb.Comparator_type.LEQ), TypeError),
    (lambda: pb.PBConstraint([], pb.Comparator_type.BOTH, 1, 2), TypeError),
    (lambda: pb.PBConstraint([], pb.Comparator_type.LEQ, 1.5), TypeError),
    (lambda: pb.PBConstraint([], "LEQ", 1), TypeError),
    (lambda: pb.PBConstraint([(1, 2)], pb.Comparator_type.LEQ, 1), TypeError),
    (lambda: pb.PBConstraint(5, pb.Comparator_type.LEQ, 1), TypeError),
    (lambda: pb.PBConstraint([pb.WeightedLit.__new__(pb.WeightedLit)], pb.Comparator_type.LEQ, 1), TypeError),
    (lambda: pb.AuxVarManager(0), ValueError),
    (lambda: setattr(pb.PBConfig(), "max_clauses_per_constraint", -1), ValueError),
    (lambda: setattr(pb.PBConfig(), "_construction", "sorting"), ValueError),
])
def test_bad_input_is_refused(make, error):
    with pytest.raises(error):
        make()


@pytest.mark.parametrize("construction", ["", "compact_adder"] + ONE_SIDED)
def test_extreme_coefficients_are_exact(construction):
    big = 2 ** 63 - 1
    terms = [(1, big), (2, big), (3, -big - 1), (-1, big), (4, big // 3), (5, 2 ** 40 + 1)]
    for cmp, bound in [("<=", big), (">=", 0), ("==", -1), ("<=", -big - 1), (">=", big // 2), ("<=", big // 3)]:
        clauses, _ = encode(terms, cmp, bound, first=6, construction=construction)
        assignments = [dict(zip((1, 2, 3, 4, 5), bits)) for bits in itertools.product([False, True], repeat=5)]
        if clauses == [[]]:
            assert not any(meets(value(terms, a), cmp, bound) for a in assignments)
        else:
            check_extends_exactly(terms, cmp, bound, assignments, clauses)


def test_values_read_back():
    wl = pb.WeightedLit(-3, 7)
    assert (wl.literal, wl.coefficient, repr(wl)) == (-3, 7, "WeightedLit(-3, 7)")
    allocator = pb.AuxVarManager(1)
    assert [allocator.get_variable() for _ in range(3)] == [1, 2, 3]


# Read right, tiny.s is satisfiable and tiny.u not; with a negated literal or a moved bound
# misread, each flips, which the benchmark reports as a wrong answer.
TINY_OPB = {
    "tiny.s.opb": "* #variable= 3 #constraint= 3\nmin: +1 x1 ;\n+2 x1 +1 ~x2 >= 3 ;\n"
                  "+1 x2 +1 x3 = 1 ;\n+1 x2 <= 0 ;\n",
    "tiny.u.opb": "* #variable= 2 #constraint= 2\n* a comment\n+1 ~x1 >= 1 ;\n-2 x1 +1 x2\n = -1 ;\n",
}


def test_solver_benchmark_quick_run_checks_every_answer(tmp_path):
    # The benchmark checks each solver answer against the constraints and prints WRONG or the
    # worker's failure for a bad one; peers it cannot import are skipped, never fatal.
    for name, text in TINY_OPB.items():
        (tmp_path / name).write_text(text)
    script = Path(__file__).parents[2] / "benchmarks" / "solver_bench.py"
    out = subprocess.run([sys.executable, str(script), "--quick", "--encoders", "ours,BDD,pysat seqcounter",
                          "--opb", str(tmp_path)],
                         capture_output=True, text=True, check=True, timeout=300).stdout
    rows = [line for line in out.splitlines() if line.startswith("ours ") and "|" in line]
    assert len(rows) == 7 and "WRONG" not in out and "ours failed" not in out, out
    assert "ours against the best peer encoding" in out, out


@pytest.mark.parametrize("text", [
    "+1 x1 >= 1",  # no closing semicolon
    "+1 x1 x2 >= 1 ;",  # a product: not linear
    "+1 x1 >= 1 >= 2 ;",
    "+1 x1 +1 ~x1 <= 0 ;",  # 1 <= 0 whatever x1 is
    "* #variable= 1 #constraint= 1\n+1 x2 >= 1 ;",
    "* #variable= 1 #constraint= 2\n+1 x1 >= 1 ;",
])
def test_opb_reader_refuses_what_it_cannot_read_right(text):
    import importlib.util

    path = Path(__file__).parents[2] / "benchmarks" / "opb.py"
    found = importlib.util.spec_from_file_location("opb", path)
    opb = importlib.util.module_from_spec(found)
    found.loader.exec_module(opb)
    with pytest.raises(ValueError):
        opb.parse_opb(text)
