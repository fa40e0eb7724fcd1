import orbeny.trelle.pbct as pb
import orbeny.trelle.bxpr as bx
from orbeny.trelle._engine import bxpr as _engine_bx
from .zorv_logger import *
from .zorv_logger import _heard


class FormulaPB:
    def __init__(self, expression, comparator, *border):
        self.expression = expression
        self.comparator = comparator
        self.border = border

    def to_bx(self, manager):
        heard = _heard(tl.log_level_type.debug)
        if heard:
            log_d(f"FormulaPB before to_bx: {self.expression}")
        pb_expression = self.expression.to_pb()
        # The sibling constraint checks the literals, the comparator and the bound.
        constraint = pb.PBConstraint(pb_expression, self.comparator, *self.border)
        # Built as a circuit, not as the encoder's clauses: those are exact only where
        # the comparison stands positively, and it may stand negated.
        bx_formula = _engine_bx.pb_circuit(constraint, manager.pb2bx, manager.get_pb_var)
        if not isinstance(bx_formula, (bx.Zero, bx.One)):
            manager._pb_circuits[bx_formula] = (pb_expression, self.comparator, self.border)
        if heard:
            log_d(f"Bx formula from FormulaPB: {bx_formula}")
        return bx_formula

    def to_maxsat(self, manager, minimization):
        if _heard(tl.log_level_type.debug):
            log_d(f"FormulaPB before to_maxsat: {self.expression}")
        items = self.expression.to_maxsat()
        if type(minimization) is bool:
            # The engine makes the literals of plain integer items, in the loop's order.
            made = _engine_bx.maxsat_literals(items, minimization, manager._pb2bx, manager.get_pb_var,
                                              manager._pb2bx_runs)
            if made is not None:
                return made
        weights = []
        maxsat_formula = []
        for var_idx, weight in items:
            weights.append(abs(weight))
            if weight > 0:
                negate = bool(minimization)
            else:
                negate = not minimization
            bx_var = manager.get_pb_var(var_idx)
            maxsat_formula.append(~bx_var if negate else bx_var)
        return bx.and_(maxsat_formula), weights


def _assert_comparisons(formula, manager):
    """`formula`, with each comparison it asserts at its top level in the encoder's clauses.

    A comparison that must hold needs its encoding in one direction only, which the
    encoder's clauses give. A comparison anywhere else (negated, in an equivalence, ...)
    keeps its exact circuit.
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
    return _engine_bx.clauses_formula(database, manager.pb2bx, manager._new_pb_vars)
