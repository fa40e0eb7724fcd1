import orbeny.trelle.pbct as pb
import orbeny.trelle.bxpr as bx
from orbeny.trelle._engine import bxpr as _engine_bx
from .zorv_logger import *
from .zorv_logger import _heard
from .pboperations import PBBaseOp, _terms


class FormulaPB:
    def __init__(self, expression, comparator, *border):
        self.expression = expression
        self.comparator = comparator
        self.border = border

    def to_bx(self, manager):
        heard = _heard(tl.log_level_type.debug)
        if heard:
            log_d(f"FormulaPB before to_bx: {self.expression}")
        # The sibling constraint checks the literals, the comparator and the bound.
        if isinstance(self.expression, PBBaseOp) and not heard:
            # As two lists of numbers: no engine object per term.
            constraint = pb.PBConstraint._of_terms(*_terms(self.expression), self.comparator, *self.border)
        else:
            constraint = pb.PBConstraint(self.expression.to_pb(), self.comparator, *self.border)
        # Built as a circuit, not as the encoder's clauses: those are exact only where
        # the comparison stands positively, and it may stand negated.
        # Over the registration runs as they are: a long row's variables are then not each made
        # into an object of their own.
        bx_formula = _engine_bx.pb_circuit(constraint, manager._pb2bx, manager.get_pb_var, manager._pb2bx_runs)
        if not isinstance(bx_formula, (bx.Zero, bx.One)):
            manager._pb_circuits[bx_formula] = constraint
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


def _block(name):
    return name.partition("(")[0]


class RowHistory:
    """What a model's rows so far did with its variables, by name: the literals that only
    at-least-one rows have met, each in one sign. An at-most-one row over such literals (the
    holes of the pigeonhole principle) links its chain by parity; see docs/encodings.md.

    A quantified constraint's rows are over template names (x(i,0)), so it counts for whole
    blocks: a name that no row has met by name counts as its block does."""

    def __init__(self):
        self._met = (set(), set())          # names met only in at-least-one rows: negated, plain
        self._spent = set()                 # met in any other row, or in both signs
        self._blocks_met = (set(), set())   # blocks alike, by quantified rows
        self._blocks_spent = set()
        self._pending = (set(), set())      # this constraint's at-least-one rows, alike
        self._pure = True                   # whether the constraint is nothing but such rows
        self._equalities = {}               # name -> the cardinality equalities over it, by number
        self._equality_count = 0
        self._pending_equalities = []       # this constraint's, as lists of names
        self._last_commit = None            # what takes the last commit back (see checkpoint)

    def _parity_links(self, manager):
        met, spent, blocks_met, blocks_spent = self._met, self._spent, self._blocks_met, self._blocks_spent
        if not (met[0] or met[1] or blocks_met[0] or blocks_met[1]):
            return None

        def parity(lits):
            # Each literal met in its sign, and by no other row, by name or by block.
            names = manager.pb2name
            for lit in lits:
                name = names.get(abs(lit))
                if name is None:
                    return False
                block = _block(name)
                if (name in spent or block in blocks_spent or name in met[lit < 0] or block in blocks_met[lit < 0]
                        or (name not in met[lit > 0] and block not in blocks_met[lit > 0])):
                    return False
            return True
        return parity

    def _equality_counter(self, manager):
        equalities = self._equalities

        def counter(lits):
            # An equality before crosses the row in one variable, and none in two.
            names, crossed = manager.pb2name, set()
            for lit in lits:
                for row in equalities.get(names.get(abs(lit)), ()):
                    if row in crossed:
                        return False
                    crossed.add(row)
            return bool(crossed)
        return counter

    def _note(self, manager, kind, lits):
        if kind == 3:
            self._pending_equalities.append(manager._names_of([abs(lit) for lit in lits]))
        if kind != 1:
            self._pure = False
            return
        negated = [-lit for lit in lits if lit < 0]
        plain = lits if not negated else [lit for lit in lits if lit > 0]
        self._pending[1].update(manager._names_of(plain))
        self._pending[0].update(manager._names_of(negated))

    def _clause(self, formula):
        """Notes `formula` if it is a clause of two literals or more: an at-least-one row."""
        if not isinstance(formula, bx.Or):
            return False
        negated, plain = set(), set()
        for arg in formula.get_args():
            if isinstance(arg, bx.Variable):
                plain.add(str(arg))
            elif isinstance(arg, bx.Complement) and isinstance(arg.get_args()[0], bx.Variable):
                negated.add(str(arg.get_args()[0]))
            else:
                return False
        self._pending = (negated, plain)
        return True

    def commit(self, manager, quantified=False):
        """The constraint just evaluated with `manager` goes into the model: remember its rows.
        Returns what takes them back, for a constraint that the container then does not take;
        a commit that fails part way takes itself back."""
        if quantified:
            negated, plain = ({_block(name) for name in names} for names in self._pending)
            met, spent = self._blocks_met, self._blocks_spent
        else:
            (negated, plain), met, spent = self._pending, self._met, self._spent
        # What each set gains, so that exactly that can be taken out again.
        if self._pure:
            gains = [(spent, ((negated & plain) | (negated & met[1]) | (plain & met[0])) - spent),
                     (met[0], negated - met[0]), (met[1], plain - met[1])]
            equalities = []
        else:
            names = {_block(name) for name in manager.name2pb} if quantified else set(manager.name2pb)
            gains = [(spent, names - spent)]
            equalities = [] if quantified else self._pending_equalities
        noted, count = [], self._equality_count

        def take_back():
            # Idempotent, also after a run stopped part way: the caller and a rollback may both call it.
            for target, gained in gains:
                target -= gained
            for name in reversed(noted):
                rows = self._equalities.get(name)
                if rows and rows[-1] >= count:
                    rows.pop()
                if rows == []:
                    del self._equalities[name]
            noted.clear()
            self._equality_count = count

        # Known before anything changes, so that a rollback stopped anywhere after finds it.
        self._last_commit = take_back
        try:
            for target, gained in gains:
                target |= gained
            for number, names in enumerate(equalities, count):
                for name in names:
                    self._equalities.setdefault(name, []).append(number)
                    noted.append(name)
            self._equality_count = count + len(equalities)
        except BaseException:
            take_back()
            raise
        return take_back

    def checkpoint(self) -> None:
        """Marks the rows as they are now, for rollback; what took the commit before back is let go."""
        self._last_commit = None

    def rollback(self) -> None:
        """Takes back the commit made since checkpoint(), if any."""
        if self._last_commit is not None:
            self._last_commit()
            self._last_commit = None

    def drop(self):
        """Forgets what the constraint being evaluated noted (it was not added)."""
        self._pending = (set(), set())
        self._pure = True
        self._pending_equalities = []


def _assert_comparisons(formula, manager, rows=None):
    """`formula`, with each comparison it asserts at its top level in the encoder's clauses.

    A comparison that must hold needs its encoding in one direction only, which the
    encoder's clauses give. A comparison anywhere else (negated, in an equivalence, ...)
    keeps its exact circuit. With `rows`, the comparisons' shapes are noted there.
    """
    circuits = manager._pb_circuits
    if rows is not None:
        rows._pure = rows._clause(formula) or formula in circuits or (
            isinstance(formula, bx.And) and all(arg in circuits for arg in formula.get_args()))
    if not circuits:
        return formula
    if formula in circuits:
        return _asserted(formula, manager, rows)
    if isinstance(formula, bx.And):
        args = formula.get_args()
        if any(arg in circuits for arg in args):
            return bx.and_s([_asserted(arg, manager, rows) if arg in circuits else arg for arg in args])
    return formula


def _asserted(circuit, manager, rows=None):
    constraint = manager._pb_circuits[circuit]
    database = pb.VectorClauseDatabase(manager.pb_config)
    encoder = pb.pb2cnf(manager.pb_config)
    if rows is None:
        encoder.encode2(constraint, database, manager.pb_var_manager)
    else:
        kind, lits, _ = encoder._encode_row(constraint, database, manager.pb_var_manager,
                                            rows._parity_links(manager), rows._equality_counter(manager))
        rows._note(manager, kind, lits)
    return _engine_bx.clauses_formula(database, manager._pb2bx, manager._new_pb_vars, manager._pb2bx_runs)
