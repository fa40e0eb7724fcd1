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
        pb_constraint = pb.PBConstraint(pb_expression, self.comparator, *self.border)
        formula = pb.VectorClauseDatabase(manager.pb_config)
        pb2cnf = pb.pb2cnf(manager.pb_config)
        pb2cnf.encode2(pb_constraint, formula, manager.pb_var_manager)
        clauses = formula.get_clauses()

        get_pb_var = manager.get_pb_var
        or_s = bx.or_s
        clause_formulas = []
        for clause in clauses:
            operands = []
            for literal in clause:
                if literal > 0:
                    operands.append(get_pb_var(literal))
                else:
                    operands.append(~get_pb_var(-literal))
            clause_formulas.append(or_s(operands))
        bx_formula = bx.and_s(clause_formulas)
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
