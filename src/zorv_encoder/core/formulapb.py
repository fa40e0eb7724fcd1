import orbeny.trelle.pbct as pb
import orbeny.trelle.bxpr as bx
from .zorv_logger import *


class FormulaPB:
    def __init__(self, expression, comparator, *border):
        self.expression = expression
        self.comparator = comparator
        self.border = border

    def to_bx(self, manager):
        log_d(f"FormulaPB before to_bx: {self.expression}")
        pb_expression = self.expression.to_pb()
        # The sibling constraint checks the literals, the comparator and the bound.
        pb.PBConstraint(pb_expression, self.comparator, *self.border)
        # Built as a circuit, not as the encoder's clauses: those are exact only where
        # the comparison stands positively, and it may stand negated (see below).
        items = [(lit.literal, lit.coefficient) for lit in pb_expression]
        bx_formula = _comparison(items, self.comparator, self.border[0], manager.get_pb_var)
        if not isinstance(bx_formula, (bx.Zero, bx.One)):
            manager._pb_circuits[bx_formula] = (pb_expression, self.comparator, self.border)
        log_d(f"Bx formula from FormulaPB: {bx_formula}")
        return bx_formula

    def to_maxsat(self, manager, minimization):
        log_d(f"FormulaPB before to_maxsat: {self.expression}")
        weights = []
        maxsat_formula = []
        for var_idx, weight in self.expression.to_maxsat():
            weights.append(abs(weight))
            if weight > 0:
                negate = bool(minimization)
            else:
                negate = not minimization
            bx_var = manager.get_pb_var(var_idx)
            maxsat_formula.append(~bx_var if negate else bx_var)
        return bx.and_(maxsat_formula), weights


def _assert_comparisons(formula, manager):
    """`formula`, with each comparison it asserts at its top level in its smaller encoding.

    A comparison that must hold needs its encoding in one direction only, which the
    encoder's clauses give; where they are fewer than the circuit's, they replace it.
    A comparison anywhere else (negated, in an equivalence, ...) keeps its exact circuit.
    """
    circuits = manager._pb_circuits
    if not circuits:
        return formula
    if formula in circuits:
        return _asserted(formula, manager)
    if isinstance(formula, bx.And):
        args = formula.get_args()
        if any(arg in circuits for arg in args):
            return bx.and_s([_asserted(arg, manager) if arg in circuits else arg for arg in args])
    return formula


def _asserted(circuit, manager):
    pb_expression, comparator, border = manager._pb_circuits[circuit]
    constraint = pb.PBConstraint(pb_expression, comparator, *border)
    database = pb.VectorClauseDatabase(manager.pb_config)
    pb.pb2cnf(manager.pb_config).encode2(constraint, database, manager.pb_var_manager)
    clauses = database.get_clauses()
    get_pb_var = manager.get_pb_var
    return bx.and_s([bx.or_s([get_pb_var(lit) if lit > 0 else ~get_pb_var(-lit) for lit in clause])
                     for clause in clauses])


# A pseudo-Boolean comparison as a Boolean circuit over the compared literals.
#
# The comparison of a weighted sum with a bound may stand anywhere in a constraint,
# negated or inside an equivalence too. Clauses with auxiliaries that are only
# implied by the sum (a one-directional encoding) are exact in positive position
# only: under a negation the solver may pick the auxiliaries freely and the
# constraint is lost. A circuit has no auxiliaries of its own; the Tseytin
# transformation later defines one per gate by a full equivalence, which is exact
# in every position.
#
# The sum is built as an adder network (Warners; Een & Sorensson): the weights'
# binary digits fill one column per bit, full and half adders reduce each column
# to one sum bit, and the bits are compared with the bound from the least
# significant bit up.
def _comparison(items, comparator, bound, literal_of):
    """The Boolean expression "sum of coefficient * variable <comparator> bound".

    `items` are (variable number, coefficient) pairs; `literal_of(number)` gives
    the number's Boolean variable.
    """
    merged = {}
    for number, coefficient in items:
        merged[number] = merged.get(number, 0) + coefficient
    terms = []
    for number, coefficient in merged.items():
        if coefficient > 0:
            terms.append((literal_of(number), coefficient))
        elif coefficient < 0:
            # c * x == c + |c| * ~x
            terms.append((~literal_of(number), -coefficient))
            bound -= coefficient
    total = sum(weight for _, weight in terms)

    if comparator == pb.Comparator_type.LEQ:
        return _at_most(terms, total, bound)
    if comparator == pb.Comparator_type.GEQ:
        return ~_at_most(terms, total, bound - 1)
    if bound < 0 or bound > total:
        return bx.zero()
    bits = _sum_bits(terms)
    return bx.and_s([bit if bound >> j & 1 else ~bit for j, bit in enumerate(bits)])


def _at_most(terms, total, bound):
    if bound < 0:
        return bx.zero()
    if bound >= total:
        return bx.one()
    # A literal heavier than the bound must be false on its own: no adder for it.
    heavy = [literal for literal, weight in terms if weight > bound]
    if heavy:
        light = [(literal, weight) for literal, weight in terms if weight <= bound]
        rest = _at_most(light, sum(weight for _, weight in light), bound)
        return bx.and_s([~literal for literal in heavy] + [rest])
    # Invariant: `holds` says the low j bits of the sum are at most the low j bits of the bound.
    holds = bx.one()
    for j, bit in enumerate(_sum_bits(terms)):
        if bound >> j & 1:
            holds = bx.or_s([~bit, holds])
        else:
            holds = bx.and_s([~bit, holds])
    return holds


def _sum_bits(terms):
    """The binary digits of the weighted sum, least significant first."""
    columns = []
    for literal, weight in terms:
        j = 0
        while weight:
            if weight & 1:
                while len(columns) <= j:
                    columns.append([])
                columns[j].append(literal)
            weight >>= 1
            j += 1
    bits = []
    j = 0
    while j < len(columns):
        column = columns[j]
        carries = []
        # First in, first out (read from `k` on): adder outputs are added after the
        # inputs, which keeps the adder tree shallow.
        k = 0
        while len(column) - k >= 3:
            a, b, c = column[k:k + 3]
            k += 3
            ab = bx.xor_s([a, b])
            column.append(bx.xor_s([ab, c]))
            carries.append(bx.ite_s(ab, c, a))
        if len(column) - k == 2:
            a, b = column[k:k + 2]
            k += 2
            column.append(bx.xor_s([a, b]))
            carries.append(bx.and_s([a, b]))
        if carries:
            if len(columns) == j + 1:
                columns.append([])
            columns[j + 1].extend(carries)
        bits.append(column[k] if k < len(column) else bx.zero())
        j += 1
    return bits
