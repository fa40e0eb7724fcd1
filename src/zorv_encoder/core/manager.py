from itertools import count
from typing import Tuple

import orbeny.trelle.bxpr as bx
import orbeny.trelle.pbct as pb
from .variable import GeneratorVariable


class Manager:
    def __init__(self):
        self.__init_encoding()
        self.name2genvar = {}
        self.name2pb = {}
        # Registered in bulk, numbers' names and variables wait in runs until these dicts are read:
        # the modelling road reads neither for a long objective, so it builds neither.
        self._pb2bx = {}
        self._pb2bx_runs = []
        self._pb2name = {}
        self._pb2name_runs = []
        self.cnt_pbvar = 0
        # Comparison circuits made in this evaluation, with what the encoder needs for each.
        self._pb_circuits = {}
        # Whether a clean-up after an evaluation failed part way (see end_evaluation).
        self.unclean = False

    def __init_encoding(self):
        self.bx_context = bx.Context()
        self.pb_config = pb.PBConfig()
        self.pb_config.pb_encoder = pb.PB_Encoder_type.ADDER
        self.pb_config.max_clauses_per_constraint = 1000000
        self.pb_var_manager = pb.AuxVarManager(1)

    def registration_generator_variables(self, name: str) -> None:
        if name not in self.name2genvar:
            self.name2genvar[name] = GeneratorVariable(name, self)

    def add_variable(self, name: str) -> Tuple[bx.Variable, int]:
        pb_var = self.name2pb.get(name)
        if pb_var is None:
            pb_var = self.pb_var_manager.get_variable()
            bx_var = self.bx_context.get_var(name)
            self.__register(name, pb_var, bx_var)
        else:
            bx_var = self.pb2bx[pb_var]
        return bx_var, pb_var

    def _pb_vars_of(self, names):
        """add_variable(name)[1] for each of `names`, in order: the same numbers, variables and
        registrations, made at once."""
        name2pb = self.name2pb
        numbered = False
        if name2pb:
            pending = dict.fromkeys(names)
            # The manager knows few names while a constraint is evaluated: drop them from the many.
            for name in name2pb if len(name2pb) < len(pending) else [name for name in pending if name in name2pb]:
                pending.pop(name, None)
            fresh = list(pending)
            numbers = self.pb_var_manager._get_variables(len(fresh))
            run = self.bx_context._variable_run(numbers[0], fresh) if fresh else None
        else:
            # The usual case, a whole constraint's names into an empty manager: name2pb itself
            # keeps their first occurrences, in order, numbered as they will be drawn, so that no
            # other dict of them is made.
            try:
                name2pb.update(zip(names, count(self.pb_var_manager._next)))
                fresh = list(name2pb)
                numbers = self.pb_var_manager._get_variables(len(fresh))
                run = self.bx_context._variable_run(numbers[0], fresh) if fresh else None
            except BaseException:
                name2pb.clear()
                raise
            # Unless a name came again, and took a later number.
            numbered = len(fresh) == len(names)
            if numbered:
                # The same numbers: one int object each, not two.
                numbers = list(name2pb.values())
        if not numbered:
            name2pb.update(zip(fresh, numbers))
        if run is not None:
            self._pb2name_runs.append((numbers, fresh))
            self._pb2bx_runs.append(run)
        if len(fresh) == len(names):
            # All of them new and distinct: their numbers, in order.
            return list(numbers)
        return [name2pb[name] for name in names]

    @property
    def pb2bx(self):
        if self._pb2bx_runs:
            _fold(self._pb2bx, self._pb2bx_runs, lambda run: zip(range(run.first, run.first + len(run)),
                                                                 run.variables()))
        return self._pb2bx

    @property
    def pb2name(self):
        if self._pb2name_runs:
            _fold(self._pb2name, self._pb2name_runs, lambda run: zip(*run))
        return self._pb2name

    def _names_of(self, pb_vars):
        """The names of the numbers of `pb_vars` that have one; without building pb2name when
        they are one registration run's numbers, in order (a long row over fresh names)."""
        runs = self._pb2name_runs
        if not self._pb2name and len(runs) == 1 and runs[0][0] == pb_vars:
            return runs[0][1]
        names = self.pb2name
        return [names[n] for n in pb_vars if n in names]

    def get_pb_var(self, pb_var: int, prefix: str = "_pbct_aux") -> bx.Variable:
        bx_var = self.pb2bx.get(pb_var)
        if bx_var is None:
            # Not a model variable: an auxiliary the encoder drew from our allocator.
            name = prefix + "_" + str(self.cnt_pbvar)
            self.cnt_pbvar += 1
            bx_var = self.bx_context.get_var(name)
            self.__register(name, pb_var, bx_var)
        return bx_var

    def _new_pb_vars(self, pb_vars):
        """What get_pb_var(n) gives for each number n of `pb_vars`, none of them registered yet,
        in order: the same names and registrations, made at once."""
        prefix, first = "_pbct_aux", self.cnt_pbvar
        names = [prefix + "_" + str(count) for count in range(first, first + len(pb_vars))]
        bx_vars = self.bx_context._variables(prefix, first, len(pb_vars))
        self.cnt_pbvar += len(pb_vars)
        self.name2pb.update(zip(names, pb_vars))
        self.pb2name.update(zip(pb_vars, names))
        # Numbers of no registration run: the runs stay as they are.
        self._pb2bx.update(zip(pb_vars, bx_vars))
        return bx_vars

    def __register(self, name, pb_var, bx_var):
        self.name2pb[name] = pb_var
        self.pb2name[pb_var] = name
        self.pb2bx[pb_var] = bx_var

    def reset(self) -> None:
        # Drop the old context and allocator before making new ones, so their
        # memory can go first.
        self.bx_context = None
        self.pb_config = None
        self.pb_var_manager = None
        self.name2pb.clear()
        self._pb2bx.clear()
        self._pb2bx_runs.clear()
        self._pb2name.clear()
        self._pb2name_runs.clear()
        self.cnt_pbvar = 0
        self._pb_circuits.clear()
        self.__init_encoding()


def _fold(mapping, runs, pairs):
    """Enters the pairs of each run into `mapping`, in order, and drops the runs."""
    for run in runs:
        mapping.update(pairs(run))
    runs.clear()
