import typing as tp
import os
import sys
import traceback
import re
from functools import reduce
from operator import mul
from datetime import datetime, timedelta

import orbeny.trelle as tl
import orbeny.trelle.bxpr as bx
import orbeny.trelle.pbct as pb

from .variables import Variable, Index
from .expressions import Expression
from ..core.formula_container import FormulaContainer
from ..core import pboperations, formulapb, manager, variable
from .._exceptions import VariableError, FormulaError, TargetError, BuildError
from ..core.zorv_logger import *


def _atomic(method):
    """`method` all or nothing: whatever it raises, wherever (Ctrl-C included), the model is
    brought back to what it was before the call. Only the call's own engine step, its last, cannot
    be taken back, and nothing runs after it."""
    import functools

    # No parameter of its own: a forall keyword named like one meets the method's own TypeError.
    @functools.wraps(method)
    def call(*args, **kwargs):
        from ._model_steps import restore, saved  # local: the module binds no names beyond its fixed set

        state = saved(args[0])
        try:
            return method(*args, **kwargs)
        except BaseException:
            try:
                restore(args[0], state)
            except BaseException:
                # Stopped itself, by a second Ctrl-C: each of its steps may run again.
                restore(args[0], state)
                raise
            raise

    return call


class Model:
    """
    Main class of pseudo-boolean model
    """

    # Matches one entry of traceback.format_stack(): group 2 is the line number,
    # group 4 the caller's source line.
    __EXPRESSION_FORMULA_RE = re.compile("(.*),\\sline\\s(\\d+),(.*)\\n(.*)")
    __BXPR_AUX: str = "_bxpr_aux"
    __PBCT_AUX: str = "_pbct_aux"
    __DUMMY_VAR: str = "dummy_var"

    def __init__(self, tmanager: tl.manager, name: str, use_formula_encoder: bool = False) -> None:
        """
        Initializes an instance of model.
        :param tmanager: trelle manager is singleton
        """
        self._trell_manager = tmanager
        self._model_name = name
        self._use_formula_encoder = use_formula_encoder
        log_i(" python version : " + tl.get_python_version())
        log_i("     model name : " + str(name))
        log_i("           tsfe : " + str(use_formula_encoder))
        self._formula_encoder = None
        self._formula_container = None
        # Where the hard constraints so far met each variable (see formulapb.RowHistory).
        self._rows = formulapb.RowHistory()
        self._used_vars = set()
        self._manager = manager.Manager()
        self._variables = {}
        self._indexes = {}
        self._indexes2 = []
        self._formulas_dir = {
            "Sum": pboperations.Sum,
            "FormulaPB": formulapb.FormulaPB,
            "bx": bx,
            "pb": pb,
            "manager": self._manager,
        }
        self._shift_target_variable = 0
        self._is_wcnf = None
        self._template_target = None
        self._start_time = datetime.now()
        # Whether the storage holds everything added so far, and the variable mapping of that
        # build, which names this model's variables in its file whatever the manager holds.
        self._built = False
        self._built_mapping = None
        # Whether that build was weighted: a model of hard constraints only may be built either way.
        self._built_wcnf = False
        if not use_formula_encoder:
            self.create_variables(self.__DUMMY_VAR, d=1)

    def get_name(self) -> str:
        return self._model_name

    @_atomic
    def create_variables(self, name: str, **dims: int) -> Variable:
        """
        Provides variables for writing expressions.
        :param name: name for variable.
        :param dims: dimensions of a variable with index names.
        :return: variable for writing expression.
        """
        # Loaded at first use, so that importing the package loads what it always did.
        from ..core._names import name_message

        # dummy_var passes the name rule: the container road holds it already and refuses it as in
        # use below; the other road declares it like any name.
        msg = None if name == self.__DUMMY_VAR else name_message("Variable", name)
        if msg is not None:
            log_e(msg)
            raise ValueError(msg)
        if name in self._used_vars:
            msg = "Variable named " + name + " is already in use"
            log_e(msg)
            raise VariableError(msg)
        from numbers import Integral  # local: the module binds no names beyond its fixed set
        for index_name, size in dims.items():
            # A negative size would move the running count back and make blocks overlap.
            if not isinstance(size, Integral) or isinstance(size, bool) or size < 0:
                msg = ("Size of index " + index_name + " of variable " + name
                       + " must be a non-negative integer, not " + repr(size))
                log_e(msg)
                raise ValueError(msg)
        if not self._use_formula_encoder and self._formula_container is not None:
            # The container has already given out numbers after the declared variables
            # and fixed its mapping: a later block would overlap its auxiliaries.
            msg = ("Variable named " + name + " cannot be declared after the first constraint,"
                   " soft constraint or target; declare every variable before them")
            log_e(msg)
            raise VariableError(msg)
        if not self._use_formula_encoder:
            from ._model_steps import cells_fault  # local: the module binds no names beyond its fixed set

            # The engine refuses them on the other road, when the encoder declares them.
            msg = cells_fault(name, list(dims.values()), self._shift_target_variable)
            if msg is not None:
                log_e(msg)
                raise OverflowError(msg)
        if self._use_formula_encoder:
            self.__init_formula_encoder()
            self._indexes2.append(Index(name))
            var = Variable(name, dims, 0)
        else:
            self._manager.registration_generator_variables(name)
            var = Variable(name, dims, self._shift_target_variable)
            self._variables[name] = var
            # Last: a rollback finds the names to take out of it in the tables above.
            self._used_vars.add(name)
        count = reduce(mul, dims.values(), 1)
        self._shift_target_variable += count
        log_i("    add new var : " + name + str(dims) + " = [" + str(count) + "]")
        self._start_time = datetime.now()
        self._built = False
        if self._use_formula_encoder:
            # The encoder's declaration is the last step, in the line that returns (see _atomic).
            return self._formula_encoder.create_variables(name, list(dims.values())) or var
        return var

    def get_indexes(self, indexes: tp.Sequence[str]) -> tp.Union[Index, tp.Sequence[Index]]:
        """
        Provides indexes for writing expressions.
        :param indexes: sequence of index names.
        :return: sequence of indexes or single index.
        """
        if len(indexes) == 0:
            msg = "The indexes parameter must contain a non-empty sequence of index names"
            log_e(msg)
            raise ValueError(msg)
        from ..core._names import name_message

        result = []
        # Taken in one step: a call stopped anywhere takes none, a refused one those before it.
        staged = {}
        for name in indexes:
            msg = name_message("Index", name)
            error = None if msg is None else ValueError
            if isinstance(name, str) and (name == self.__BXPR_AUX or name == self.__PBCT_AUX):
                msg, error = ("Names '" + self.__BXPR_AUX + "' and '" + self.__PBCT_AUX
                              + "' are reserved. Change the name to a valid one"), VariableError
            elif error is None and name in self._used_vars:
                msg, error = "Index named " + name + " is already in use", VariableError
            if error is not None:
                self._indexes.update(staged)
                log_e(msg)
                raise error(msg)
            index = Index(name)
            staged[name] = index
            result.append(index)
        return self._indexes.update(staged) or (result if len(result) > 1 else result[0])

    @_atomic
    def add_constraint(self, constraint: Expression, **foralls: tp.Sequence[int]) -> None:
        """
        Adds hard constraint to the model.
        :param constraint: valid expression for constraint.
        :param foralls: indexes by which the substitution of expressions of the type 'for all' occurs.
        """
        if not isinstance(constraint, Expression):
            msg = "Variable 'constraint' must contain only objects of type 'Expression'"
            log_e(msg)
            raise TypeError(msg)
        if self._is_wcnf is not None:
            msg = " - Soft constraint has already been defined." if self._is_wcnf else "Target has already been defined "
            log_e(msg)
            raise TargetError(msg)
        log_d("     constraint : " + str(constraint) + "___" + str(foralls))
        self._built = False
        if self._use_formula_encoder:
            self.__init_formula_encoder()
            from ._model_steps import foralls_text  # local: the module binds no names beyond its fixed set

            # The encoder's taking it is the last step (see _atomic).
            self._formula_encoder.add_constraint(str(constraint), foralls_text(foralls))
        else:
            self.__fill_hard_constraint(constraint, foralls)

    @_atomic
    def add_soft_constraint(self, constraint: Expression, weight: int = 1, minimization: bool = False,
                            **foralls: tp.Sequence[int]) -> None:
        """
        Adds soft constraint to the model.
        :param constraint: valid expression for constraint.
        :param weight: weight for soft constraint.
        :param minimization: flag for the task type.
        :param foralls: indexes by which the substitution of expressions of the type 'for all' occurs.
        """
        if self._is_wcnf is False:
            msg = "Current model already works with CNF"
            log_e(msg)
            raise FormulaError(msg)
        if not isinstance(constraint, Expression):
            msg = "Variable 'constraint' must contain only objects of type 'Expression'"
            log_e(msg)
            raise TypeError(msg)
        if not constraint.soft:
            msg = "Input constraint cannot be converted to a soft constraints"
            log_e(msg)
            raise FormulaError(msg)
        # local: the module binds no names beyond its fixed set
        from ._model_steps import check_weight, foralls_text, is_constant

        if is_constant(constraint):
            msg = "One and Zero are Boolean constants, not pseudo-Boolean terms: they cannot be a soft constraint"
            log_e(msg)
            raise FormulaError(msg)
        from ._expression_rules import _minimization_flag, _soft_weight  # local, as the line above

        # A text or any other value would be read for its truth alone, or enter the evaluated text.
        flag = _minimization_flag(minimization)
        check_weight(weight)
        self._built = False
        if self._use_formula_encoder:
            _soft_weight(weight)  # the container road refuses it when it scales the objective
            self.__init_formula_encoder()
            # Only a constraint the encoder took makes the model weighted: _atomic takes this back
            # when it does not. The encoder's taking it is the last step.
            self._is_wcnf = True
            self._formula_encoder.add_soft_constraint(str(constraint), foralls_text(foralls), weight, flag)
        else:
            self.__fill_soft_constraint(constraint, weight, minimization, foralls)

    @property
    def use_target(self) -> bool:
        """Is the target set in the model"""
        return self._is_wcnf is not None and not self._is_wcnf

    @_atomic
    def add_target(self, target) -> None:
        """
        Adds target to the model.
        :param target: valid expression for target.
        """
        if self._is_wcnf:
            msg = "Current model already works with WCNF"
            log_e(msg)
            raise FormulaError(msg)
        from ._model_steps import is_constant  # local: the module binds no names beyond its fixed set

        if is_constant(target):
            msg = "One and Zero are Boolean constants, not pseudo-Boolean terms: they cannot be a target"
            log_e(msg)
            raise TargetError(msg)
        self._built = False
        if self._use_formula_encoder:
            self.__init_formula_encoder()
            self._formula_encoder.add_target(str(target))  # the last step (see _atomic)
        else:
            self.__fill_target(target)

    def __reset_target(self) -> None:
        if self.use_target:
            self._template_target = None

    def __build_target(self, border: int, minimization: bool):
        # local: the module binds no names beyond its fixed set
        from ._model_steps import begin_evaluation, end_evaluation, evaluate, logged, model_namespace, raise_named

        self.__init_formula_container()
        if minimization:
            target = self._template_target <= border
        else:
            target = self._template_target >= border
        log_i("Building target")
        try:
            begin_evaluation(self._rows, self._manager)
            namespace = model_namespace(self)
            target_constraint = evaluate(namespace, target)
            if isinstance(target_constraint, variable.Variable):
                target_constraint = target_constraint.to_bx()
            if not isinstance(target_constraint, bx.BaseExpr):
                msg = ("Target " + str(target) + " is not a Boolean formula: it evaluates to "
                       + type(target_constraint).__name__)
                log_e(msg)
                raise FormulaError(msg)
            target_constraint = formulapb._assert_comparisons(target_constraint, self._manager)
            target_constraint = target_constraint.tseytin(self._manager.bx_context, self.__BXPR_AUX)
            # Every variable call the text made, also those whose term the encoding dropped.
            calls = list(self._manager.name2pb)
            log_d("Enumerating target utility variables")
            shift_pb_variable = self._manager.cnt_pbvar
            shift_bx_variable = sum(1 for var in target_constraint.support() if self.__BXPR_AUX in str(var))
            if isinstance(target_constraint, bx.Zero):
                msg = "Contradiction was detected in target"
                log_e(msg)
                raise FormulaError(msg)
            if isinstance(target_constraint, bx.One):
                logged(self._formula_container.check_calls, calls, {})
                log_w("Redundant constraint was detected in target")
                # An earlier border's clauses must not outlive it.
                self._formula_container.clear_target()
            else:
                logged(self._formula_container.add_target_constraint, target_constraint, {},
                        shift_pb_variable, shift_bx_variable, calls)
        except BaseException as error:
            raise_named(error, target)
            raise
        finally:
            end_evaluation(self._rows, self._manager)

    def __fill_hard_constraint(self, constraint, foralls: tp.Dict[str, tp.Sequence[int]]):
        # local: the module binds no names beyond its fixed set
        from ._model_steps import (begin_evaluation, check_forall_names, end_evaluation, evaluate, logged,
                                   model_namespace, raise_named)

        check_forall_names(foralls, self._used_vars, constraint)
        created = self._formula_container is None
        self.__init_formula_container()
        try:
            begin_evaluation(self._rows, self._manager)
            namespace = model_namespace(self)
            template_constraint = evaluate(namespace, constraint, foralls)
            if isinstance(template_constraint, variable.Variable):
                template_constraint = template_constraint.to_bx()
            if not isinstance(template_constraint, bx.BaseExpr):
                msg = ("Constraint " + str(constraint) + " is not a Boolean formula: it evaluates to "
                       + type(template_constraint).__name__)
                log_e(msg)
                raise FormulaError(msg)
            rows = self._rows
            template_constraint = formulapb._assert_comparisons(template_constraint, self._manager, rows)
            template_constraint = template_constraint.tseytin(self._manager.bx_context, self.__BXPR_AUX)
            # Every variable call the text made, also those whose term the encoding dropped.
            calls = list(self._manager.name2pb)
            log_t("Enumerating hard utility variables")
            shift_pb_variable = self._manager.cnt_pbvar
            shift_bx_variable = sum(1 for var in template_constraint.support() if self.__BXPR_AUX in str(var))
            is_false = isinstance(template_constraint, bx.Zero)
            if is_false or isinstance(template_constraint, bx.One):
                logged(self._formula_container.check_calls, calls, foralls)
                # The first entry is the statement that called add_constraint (through _atomic).
                stack = traceback.format_stack(limit=4)
                found = self.__EXPRESSION_FORMULA_RE.match(stack[0]) if stack else None
                line_val = found.group(2).strip() if found else "unknown"
                formula_str = found.group(4).strip() if found else ""
                if not formula_str:
                    # No source text to show (interactive input, generated code).
                    formula_str = str(constraint)
                if is_false:
                    msg = "Contradiction was detected in formula " + formula_str + ", line " + line_val
                    log_e(msg)
                    raise FormulaError(msg)
                log_w("Redundant constraint was detected in formula " + formula_str + ", line " + line_val)
                rows.commit(self._manager, bool(foralls))
            else:
                # The rows first, so that the container's taking the constraint is the last step.
                take_back = rows.commit(self._manager, bool(foralls))
                try:
                    logged(self._formula_container.add_hard_constraint, template_constraint, foralls,
                           shift_pb_variable, shift_bx_variable, calls, str(constraint))
                except BaseException:
                    take_back()
                    raise
        except BaseException as error:
            # Only a fill that succeeds closes the declarations (see create_variables).
            if created:
                self._formula_container = None
            raise_named(error, constraint, foralls)
            raise
        finally:
            end_evaluation(self._rows, self._manager)

    def __fill_soft_constraint(self, constraint, weight: int, minimization: bool,
                               foralls: tp.Dict[str, tp.Sequence[int]]):
        # local: the module binds no names beyond its fixed set
        from ._model_steps import (begin_evaluation, check_forall_names, end_evaluation, evaluate, logged,
                                   model_namespace, raise_named)

        check_forall_names(foralls, self._used_vars, constraint)
        created = self._formula_container is None
        self.__init_formula_container()
        try:
            begin_evaluation(self._rows, self._manager)
            template_constraint = (weight * constraint).maxsat(minimization)
            from ..core.zorv_logger import _heard  # local: the module binds no names beyond its fixed set

            # The text of a long objective is worth joining only for a line that is heard.
            if _heard(tl.log_level_type.debug):
                log_d("Building soft constraint: " + str(template_constraint))
            namespace = model_namespace(self)
            # Its template keeps every term, of weight 0 too: the container checks every call there.
            # The caller's texts are checked as given, the weight's too where it is an expression.
            given = (constraint, weight) if isinstance(weight, Expression) else (constraint,)
            formula, weights = evaluate(namespace, template_constraint, foralls, given)
            # The container needs none of the registrations: their memory goes before it makes its own.
            self._manager.reset()
            logged(self._formula_container.add_soft_formula, formula, weights, foralls, 0, 0)
            self._is_wcnf = True
        except BaseException as error:
            if created:
                self._formula_container = None
            raise_named(error, constraint, foralls)
            raise
        finally:
            end_evaluation(self._rows, self._manager)

    def __fill_target(self, target):
        if not isinstance(target, Expression):
            msg = "Variable 'target' must contain only objects of type 'Expression'"
            log_e(msg)
            raise TypeError(msg)
        if target.soft:
            # local: the module binds no names beyond its fixed set
            from ._model_steps import model_namespace, refuse_unsafe_target

            # Evaluated only at a build: refused here, where the text is given.
            refuse_unsafe_target(model_namespace(self), target)
            self.__init_formula_container()
            if self.use_target:
                log_w("Target already used")
            self.__reset_target()
            self._template_target = target
            self._is_wcnf = False
        else:
            msg = "Target is not a pseudo-boolean function without border"
            log_e(msg)
            raise TargetError(msg)

    def __init_formula_container(self):
        if self._formula_container is None:
            self._formula_container = FormulaContainer(self._variables, self._shift_target_variable)

    def __init_formula_encoder(self):
        if self._formula_encoder is None:
            self._formula_encoder = self._trell_manager.create_formula_encoder(self._model_name)

    @_atomic
    def build_cnf(self, border: tp.Optional[int] = None, minimization: tp.Optional[bool] = None) -> bool:
        """
        Creation CNF
        _model_name - name
        :param border: current boundary for target
        :param minimization: flag for the task type.
        """
        if self._is_wcnf:
            msg = "Unable to build CNF storage because this model has WCNF format"
            log_e(msg)
            raise BuildError(msg)
        # A model built once without a target counts as targeted but has nothing to bound.
        bounded = self.use_target and self._template_target is not None
        if bounded:
            if border is None or minimization is None:
                msg = "Border or minimization arguments are not defined, but target is set"
                log_e(msg)
                raise BuildError(msg)
            self._built = False
            self.__build_target(border, minimization)
        elif not self._use_formula_encoder and (border is not None or minimization is not None):
            log_w("Border and minimization are ignored: the model has no target")
        log_i("      CNF build : started. Model <" + str(self._model_name) + ">; Target variables = "
              + str(self._shift_target_variable - 1))
        if self._use_formula_encoder:
            self.__init_formula_encoder()
            self._formula_encoder.generate_cnf()
            cnf_stor = self._formula_encoder.get_cnf_storage()
        else:
            if self._formula_container is None:
                msg = "The model doesn't contain any formula container"
                log_e(msg)
                raise BuildError(msg)
            self._formula_container.build_cnf_formula(self._model_name)
            if self.use_target:
                self._formula_container.reset_target()
            cnf_stor = self._formula_container.cnf_storage()
        if cnf_stor is None:
            msg = "CNF storage is empty"
            log_e(msg)
            raise BuildError(msg)
        if self._trell_manager is None:
            msg = "Trell manager is not set or empty"
            log_e(msg)
            raise BuildError(msg)
        self._trell_manager.set_input_cnf_storage(cnf_stor)
        var_maps = self.get_var_mapping()
        self._built, self._built_mapping, self._built_wcnf = True, var_maps, False
        if var_maps is None:
            log_e("Variable mapping is empty")
            return False
        wi = tl.witness_interpreter()
        wi.set_var_mapping(var_maps)
        wi.set_auxiliary_vars([self.__BXPR_AUX, self.__PBCT_AUX])
        rez = wi.build_mapping_tables(True)
        self._is_wcnf = False
        if rez:
            self._trell_manager.set_witness_interpreter(wi)
        elapsed = datetime.now() - self._start_time
        if elapsed < timedelta(0):
            # The clock went back since the last declaration: show no time rather than fail.
            elapsed = timedelta(0)
        duration = (datetime(1, 1, 1, 0, 0, 0, 0) + elapsed).strftime("%H:%M:%S.%f")[:-3]
        log_i("         action : CNF build finished"
              + (" (formula encoder)." if self._use_formula_encoder else ".") + " Duration = " + duration)
        return rez

    @_atomic
    def build_wcnf(self) -> bool:
        # A model of hard constraints only is built with every clause hard.
        if self._is_wcnf is False:
            msg = "Unable to build WCNF storage because this model has CNF format"
            log_e(msg)
            raise BuildError(msg)
        log_i("     WCNF build : started. Model <" + str(self._model_name) + ">; Target variables = "
              + str(self._shift_target_variable - 1))
        if self._use_formula_encoder:
            self.__init_formula_encoder()
            self._formula_encoder.generate_cnf()
            cnf_stor = self._formula_encoder.get_cnf_storage()
            if cnf_stor is not None and cnf_stor.get_weight_limit() == 0:
                # No soft clause: the file's top is 1, and the storage says so, as on the other road.
                cnf_stor.set_weight_limit(1)
        else:
            if self._formula_container is None:
                msg = "The model doesn't contain any formula container"
                log_e(msg)
                raise BuildError(msg)
            self._formula_container.build_wcnf_formula(self._model_name)
            cnf_stor = self._formula_container.cnf_storage()
        if cnf_stor is None:
            msg = "WCNF storage is empty"
            log_e(msg)
            raise BuildError(msg)
        if self._trell_manager is None:
            msg = "Trell manager is not set or empty"
            log_e(msg)
            raise BuildError(msg)
        self._trell_manager.set_input_cnf_storage(cnf_stor)
        var_maps = self.get_var_mapping()
        self._built, self._built_mapping, self._built_wcnf = True, var_maps, True
        if var_maps is None:
            log_e("Variable mapping is empty")
            return False
        wi = tl.witness_interpreter()
        wi.set_var_mapping(var_maps)
        wi.set_auxiliary_vars([self.__BXPR_AUX, self.__PBCT_AUX])
        rez = wi.build_mapping_tables(True)
        if rez:
            self._trell_manager.set_witness_interpreter(wi)
        log_i("         action : WCNF build finished" + ("(formula encoder)." if self._use_formula_encoder else "."))
        return rez

    def get_cnf_storage(self) -> tl.wcnf_storage:
        if self._use_formula_encoder:
            if self._formula_encoder is not None:
                return self._formula_encoder.get_cnf_storage()
            return None
        if self._formula_container is not None:
            return self._formula_container.cnf_storage()
        return None

    def get_var_mapping(self) -> tl.var_mapping:
        if self._use_formula_encoder:
            if self._formula_encoder is not None:
                return self._formula_encoder.get_var_mapping()
            return None
        if self._formula_container is not None:
            var_maps = self._formula_container.engine_mapping()
            if var_maps is not None:
                var_maps.build_inverse_map()
                return var_maps
        return None

    def save_to_file(self, filename=""):
        file_format = tl.input_sat_format.wcnf if self._built_wcnf else tl.input_sat_format.cnf
        if filename == "":
            filename = self._model_name
            # The default file stays in the working directory: a name such as ../x would leave it.
            separators = {os.sep, os.altsep, "/"} - {None}
            if not isinstance(filename, str) or any(sep in filename for sep in separators):
                msg = ("Model name " + repr(filename) + " cannot be the default file name, since it is not a"
                       " str free of path separators: give save_to_file a file name")
                log_e(msg)
                raise ValueError(msg)
        cnf_stor = self.get_cnf_storage()
        # Without a build since the last change the storage lacks what is still pending.
        if not self._built or cnf_stor is None:
            msg = ("Model <" + str(self._model_name) + "> has not been built since its last change: call "
                   + ("build_wcnf()" if self._is_wcnf else "build_cnf()") + " before save_to_file()")
            log_e(msg)
            raise BuildError(msg)
        # The mapping of this model's own build: the manager's interpreter may be another model's.
        cnf_stor.save_to_file(filename, file_format, self._built_mapping)

    def save_metrics_json(self, filename: str):
        if self._use_formula_encoder and self._formula_encoder is not None:
            self._formula_encoder.save_metrics_json(filename)

    def save_metrics_csv(self, filename: str):
        if self._use_formula_encoder and self._formula_encoder is not None:
            self._formula_encoder.save_metrics_csv(filename)

    @_atomic
    def reset(self) -> None:
        if self._use_formula_encoder and self._formula_encoder is not None:
            self._formula_encoder.reset()

    def set_witness(self, witness) -> None:
        if self._use_formula_encoder and self._formula_encoder is not None:
            self._formula_encoder.set_witness(witness)

    def set_another_witness(self, witness) -> None:
        if self._use_formula_encoder and self._formula_encoder is not None:
            self._formula_encoder.set_another_witness(witness)

    def check_another_witness(self) -> bool:
        if self._use_formula_encoder and self._formula_encoder is not None:
            return self._formula_encoder.check_another_witness()
        return False

    def get_var_index(self, var: int) -> int:
        return var

    def add_preliminary_var_value(self, var: int, negative=False):
        x = -var if negative else var
        log_d("Preliminary variable value was added: " + str(x))
        # The model's own storage: the manager's is whichever model built last.
        cnf_stor = self.get_cnf_storage()
        if cnf_stor is not None:
            cnf_stor.insert_prefatory_value(x)


del _atomic  # the module binds no names beyond its fixed set
