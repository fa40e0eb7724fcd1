import ast
import itertools
import keyword
import operator
import typing as tp
from functools import reduce
from operator import mul

import orbeny.trelle as tl
from orbeny.trelle import bxpr as bx
from orbeny.trelle._engine.bxpr import clause_texts as _clause_texts
from orbeny.trelle._engine import inst as _inst
from orbeny.trelle._engine.inst import work_refusal as _work_refusal
from .dumper import DumpArgs, One2OneDumper, reduce_ex


# The largest top of a weighted CNF: the storage keeps weights in 64 bits.
_MAX_TOP = (1 << 63) - 1
# The pending clause counts of the hard and the soft list.
_PENDING_COUNTS = ("_cur_count_clauses_hard_constraints", "_cur_count_clauses_soft_constraints")
# The largest count the engine's work rule takes; a larger one is given as this, which it saturates at.
_MAX_COUNT = (1 << 64) - 1
# What the index texts of a model literal are read from: x(i, 2 * (j + 1) - 1).
_INDEX_NODES = frozenset({ast.Constant, ast.Name, ast.Load, ast.BinOp, ast.Add, ast.Sub, ast.Mult, ast.UnaryOp,
                          ast.USub, ast.UAdd})


class _Copies(dict):
    """Copies of the declared `variables`, each made when first read by get()."""

    def __init__(self, variables) -> None:
        super().__init__()
        self.variables = variables

    def get(self, name, default=None):
        if name not in self and name in self.variables:
            self[name] = self.variables[name].copy()
        return super().get(name, default)


class FormulaContainer:
    def __init__(self, target_variables, shift_target_variable: int):
        self._target_variables = target_variables
        self._cur_init_shift_variable = shift_target_variable
        self._num_formula = 0
        self._num_clauses = 0
        self._target_num_clauses = 0
        self._cur_count_clauses_hard_constraints = 0
        self._cur_count_clauses_soft_constraints = 0
        self._list_hard_constraint_dump_args = []
        self._list_soft_constraint_dump_args = []
        self._cnf_stor = self.__create_cnf_storage()
        # What the clauses merged into the storage take at the least (see __check_work), and per
        # pending record, by its id, what its clauses take and its constraint's text.
        self._stored_bytes = 0
        self._plans = {}
        self._last_plan = None
        # Each variable's map; the engine makes its keys when the mapping is first merged.
        from ._fast_instantiate import variable_keys

        self._mappings = [variable_keys(variable) for variable in target_variables.values()]
        self.hard_weight = 1
        # Where the target's partial mapping stands in `_mappings` (None before a target).
        self._target_place = None
        # The partial mappings before the target and the last engine mapping made from them.
        self._engine_made = None
        # Parsed template literals, shared by the intakes (a model repeats its call texts).
        self._literals = {}
        # `_mappings` merged so far, and the partial mappings it was merged from (see
        # __merged_mapping).
        self._merged = {}
        self._merged_from = []
        # Dumps of the hard and of the soft list so far (see rollback).
        self._dumps = [0, 0]

    @property
    def mapping(self) -> tp.Dict[str, int]:
        # What reduce_ex(self._mappings) gives, kept up to date rather than merged on every read;
        # the caller owns the copy.
        return self.__merged_mapping().copy()

    def engine_mapping(self) -> tp.Optional[tl.var_mapping]:
        """What `mapping` holds, made in the engine without the dict; None when it is empty."""
        from ._fast_instantiate import engine_mapping, engine_mapping_after

        place = self._target_place
        if place is None:
            return engine_mapping(self._mappings)
        # A new target changes only what follows the partial mappings before it: the last
        # mapping made lends their keys when those partials are still the same.
        head = self._mappings[:place]
        previous = self._engine_made
        if previous is not None and not (
            len(previous[0]) == place and all(a is b for a, b in zip(previous[0], head))
        ):
            previous = None
        made = engine_mapping_after(None if previous is None else previous[1], head, self._mappings[place:])
        self._engine_made = None if made is None else (head, made)
        return made

    @property
    def num_clauses(self) -> int:
        return self._num_clauses

    def cnf_storage(self) -> tp.Optional[tl.wcnf_storage]:
        return self._cnf_stor

    def add_hard_constraint(
        self,
        template_constraint: bx.BaseExpr,
        foralls: tp.Dict[str, tp.Sequence[int]],
        shift_pb_variable: int,
        shift_bx_variable: int,
        calls: tp.Optional[tp.List[str]] = None,
        text: str = "",
    ) -> None:
        # Prepared first: a constraint that cannot be instantiated fails here, with nothing
        # flushed, queued or counted.
        dump_args, offset_formula, count_clauses = self.__inner_add_constraint(
            template_constraint, None, foralls, shift_pb_variable, shift_bx_variable, calls=calls, text=text
        )
        plan, self._last_plan = self._last_plan, None
        self.__dump_hard_constraints()
        pending = self._cur_count_clauses_hard_constraints + count_clauses
        counts = self.__counted_formula(offset_formula, count_clauses)
        self.__queue(dump_args, self._list_hard_constraint_dump_args, plan)
        self._cur_count_clauses_hard_constraints = pending
        self._cur_init_shift_variable, self._num_clauses, self._num_formula = counts

    def add_target_constraint(
        self,
        template_constraint: bx.BaseExpr,
        foralls: tp.Dict[str, tp.Sequence[int]],
        shift_pb_variable: int,
        shift_bx_variable: int,
        calls: tp.Optional[tp.List[str]] = None,
    ):
        list_dump_args = []
        dump_args, _, count_clauses = self.__inner_add_constraint(
            template_constraint, None, foralls, shift_pb_variable, shift_bx_variable, target=True, calls=calls
        )
        list_dump_args.append(dump_args)
        self.__set_target(FormulaContainer.__dump(list_dump_args), dump_args.cnf_stor, count_clauses)

    def add_soft_formula(
        self,
        template_constraint: bx.BaseExpr,
        weights: tp.Sequence[int],
        foralls: tp.Dict[str, tp.Sequence[int]],
        shift_pb_variable: int,
        shift_bx_variable: int,
        calls: tp.Optional[tp.List[str]] = None,
        text: str = "",
    ):
        weights = self.__copy_weights(weights)
        dump_args, offset_formula, count_clauses = self.__inner_add_constraint(
            template_constraint, weights, foralls, shift_pb_variable, shift_bx_variable, calls=calls, text=text
        )
        # Every instance's clauses carry the weights; a file's top, 1 + their sum, must fit in 64 bits.
        instances = reduce(mul, [len(values) for values in dump_args.foralls.values()], 1)
        weight_sum = sum(weights[: len(dump_args.template_constraint)]) * instances
        if weight_sum > _MAX_TOP - self.hard_weight:
            raise OverflowError(
                f"Soft weights of {weight_sum} over {instances} instances would bring the sum of soft "
                f"weights to {self.hard_weight - 1 + weight_sum}, which would exceed {_MAX_TOP - 1}"
            )
        plan, self._last_plan = self._last_plan, None
        self.__dump_soft_constraints()
        hard_weight = self.hard_weight + weight_sum
        pending = self._cur_count_clauses_soft_constraints + count_clauses
        counts = self.__counted_formula(offset_formula, count_clauses)
        self.__queue(dump_args, self._list_soft_constraint_dump_args, plan)
        self.hard_weight, self._cur_count_clauses_soft_constraints = hard_weight, pending
        self._cur_init_shift_variable, self._num_clauses, self._num_formula = counts

    def check_calls(self, calls: tp.List[str], foralls: tp.Dict[str, tp.Sequence[int]]) -> None:
        """Refuses, as adding a record over `foralls` would, the variable calls `calls` of a
        constraint that adds none (one that always holds)."""
        foralls = FormulaContainer.copied_foralls(foralls)
        num_foralls = reduce(mul, [len(values) for values in foralls.values()], 1)
        self.__check_template([], None, foralls, self.__namespace([], calls), num_foralls, calls)

    def __queue(self, dump_args: DumpArgs, pending: tp.List[DumpArgs], plan) -> None:
        """Queues `dump_args` in `pending` with its plan: both or neither."""
        self._plans[id(dump_args)] = plan
        try:
            pending.append(dump_args)
        except BaseException:
            del self._plans[id(dump_args)]
            raise

    def __dump_hard_constraints(self) -> None:
        if self._cur_count_clauses_hard_constraints > 0:
            self.__dump_named(self._list_hard_constraint_dump_args, 0)

    def __dump_soft_constraints(self) -> None:
        if self._cur_count_clauses_soft_constraints > 0:
            self.__dump_named(self._list_soft_constraint_dump_args, 1)

    def __dump_named(self, pending: tp.List[DumpArgs], kind: int) -> None:
        """__dump_pending, whose running out of memory names the largest record's constraint, what
        its clauses take at the least and what the process can get once the dump let its memory go."""
        plans = [self._plans[id(args)] for args in pending]
        try:
            self.__dump_pending(pending, plans, kind)
        except MemoryError as error:
            planned, text, foralls, _ = max(plans, key=lambda plan: plan[0])
            raise MemoryError(
                f"{_inst.constraint_subject(text, str(foralls))}: ran out of memory writing its clauses, which take"
                f" at least {_inst.bytes_text(planned)}, with {_inst.limit_text(*_inst.memory_limit())} once the"
                " dump let its memory go"
            ) from error

    def __inner_add_constraint(
        self,
        template_constraint: bx.BaseExpr,
        weights: tp.Optional[tp.Sequence[int]],
        foralls: tp.Dict[str, tp.Sequence[int]],
        shift_pb_variable: int,
        shift_bx_variable: int,
        target: bool = False,
        calls: tp.Optional[tp.List[str]] = None,
        text: str = "",
    ) -> tp.Tuple[DumpArgs, int, int]:
        template_constraint = FormulaContainer.__bx2list_clauses(template_constraint)
        foralls = FormulaContainer.copied_foralls(foralls)
        num_foralls = reduce(mul, [len(values) for values in foralls.values()], 1)
        if weights is None:
            clauses = len(template_constraint)
        else:
            clauses = len(template_constraint) - weights[: len(template_constraint)].count(0)
        planned_bytes = self.__check_work(
            template_constraint, weights, foralls, num_foralls, clauses, shift_pb_variable + shift_bx_variable, target
        )
        eval_state = self.__namespace(template_constraint, calls)
        self.__check_template(template_constraint, weights, foralls, eval_state, num_foralls, calls)
        # Every name the dump reads the check has read: the copies it made are all the dump needs.
        eval_state = dict(eval_state)
        dump_args = DumpArgs(
            template_constraint=template_constraint,
            weights=weights,
            foralls=foralls,
            num_formula=self._num_formula,
            init_shift_variable=self._cur_init_shift_variable,
            shift_pb_variable=shift_pb_variable,
            shift_bx_variable=shift_bx_variable,
            offset_shift_for_formula=0,
            eval_state=eval_state,
            cnf_stor=self.__create_cnf_storage(),
        )
        if not target:
            # Kept once the record is queued (see __queue).
            self._last_plan = (planned_bytes, text, foralls, dump_args)
        return (
            dump_args,
            num_foralls * (shift_pb_variable + shift_bx_variable),
            num_foralls * clauses,
        )

    @staticmethod
    def __bx2list_clauses(bx_clauses) -> tp.Sequence[tp.Sequence[str]]:
        if isinstance(bx_clauses, bx.BaseExpr):
            # The engine writes the same texts, without a Python object per node.
            return _clause_texts(bx_clauses)

        def parsing_clause(clause) -> tp.Sequence[str]:
            if isinstance(clause, bx.Or):
                texts = [str(literal) for literal in clause.get_args()]
            else:
                texts = [str(clause)]
            # A model variable's name holds its index texts in parentheses and is called on
            # instantiation; an auxiliary's name holds none and stays a string till numbered.
            return [text.replace("~", "-") if "(" in text else "'" + text + "'" for text in texts]

        if isinstance(bx_clauses, bx.And):
            return [parsing_clause(clause) for clause in bx_clauses.get_args()]
        return [parsing_clause(bx_clauses)]

    def __create_cnf_storage(self):
        return tl.wcnf_storage()

    @staticmethod
    def __cnf_stor_merge(storage, list_dump_args: tp.Sequence[DumpArgs]):
        for args in list_dump_args:
            if args.cnf_stor is not None:
                storage.merge(args.cnf_stor)

    def build_cnf_formula(self, name_formula: str):
        self.__dump_hard_constraints()
        self._cnf_stor.set_model_name(name_formula)
        self._cnf_stor.set_variable_count(self.__largest_number())
        self._cnf_stor.set_clause_count(self._num_clauses + self._target_num_clauses)

    def build_wcnf_formula(self, name_formula: str):
        self.__dump_hard_constraints()
        self.__dump_soft_constraints()
        self._cnf_stor.set_model_name(name_formula)
        self._cnf_stor.set_variable_count(self.__largest_number())
        self._cnf_stor.set_clause_count(self._num_clauses)
        self._cnf_stor.set_weight_limit(self.hard_weight)

    # ---- beyond the declared operations: counting, repeated dumps, a new target

    # A constraint is taken in all or nothing: its new counts are made before its record is queued
    # and stored after it, with nothing in between that can fail (not even for lack of memory).
    def __counted_formula(self, offset_formula: int, count_clauses: int) -> tp.Tuple[int, int, int]:
        return (self._cur_init_shift_variable + offset_formula, self._num_clauses + count_clauses,
                self._num_formula + 1)

    def __dump_pending(self, pending: tp.List[DumpArgs], plans, kind: int) -> None:
        # All or nothing: stopped anywhere (Ctrl-C, a failed allocation, an error), the records
        # stay pending and the storage and mapping as they were, so that a later dump writes each
        # record once. Each dump starts from empty record storages for the same reason. The
        # storage's merge is the last step: once it holds the clauses nothing is left to fail.
        for args in pending:
            args.cnf_stor = self.__create_cnf_storage()
        mapping = FormulaContainer.__dump(pending)
        staged = self.__create_cnf_storage()
        self.__cnf_stor_merge(staged, pending)
        count = _PENDING_COUNTS[kind]
        records, stored, counted = pending.copy(), self._stored_bytes, getattr(self, count)
        mappings, dumps = len(self._mappings), self._dumps[kind]
        try:
            self._mappings.append(mapping)
            for plan in plans:
                self._stored_bytes += plan[0]
                del self._plans[id(plan[3])]
            pending.clear()
            setattr(self, count, 0)
            self._dumps[kind] += 1
            self._cnf_stor.merge(staged)
        except BaseException:
            del self._mappings[mappings:]
            for plan in plans:
                self._plans[id(plan[3])] = plan
            pending[:] = records
            self._stored_bytes = stored
            setattr(self, count, counted)
            self._dumps[kind] = dumps
            raise

    @staticmethod
    def __dump(records: tp.Sequence[DumpArgs]) -> tp.Mapping[str, int]:
        """What One2OneDumper.dump(records) gives, its keys made only when the mapping is merged."""
        from ._fast_instantiate import dump_records

        return dump_records(One2OneDumper, records)

    def reset_target(self) -> None:
        """Called by the model once a CNF build with a target is finished. The built storage keeps
        the target's clauses; the next target, if any, takes their place (a new border in a
        bound-tightening loop), so nothing is to be undone here."""

    def clear_target(self) -> None:
        """A target that always holds: the current target's clauses and keys go, and none come."""
        self.__set_target({}, self.__create_cnf_storage(), 0)

    def __set_target(self, target_mapping: tp.Mapping[str, int], storage, clauses: int) -> None:
        """Puts a target's clauses in the storage's target segment, in place of the current
        target's (where later clauses may follow), its keys in the current target's place and its
        count of clauses; the storage's merge last, all or nothing."""
        place, counted, mappings = self._target_place, self._target_num_clauses, len(self._mappings)
        previous = None if place is None else self._mappings[place]
        try:
            if place is None:
                self._mappings.append(target_mapping)
                self._target_place = mappings
            else:
                self._mappings[place] = target_mapping
            self._target_num_clauses = clauses
            self._cnf_stor.merge_target(storage)
        except BaseException:
            if place is None:
                del self._mappings[mappings:]
            else:
                self._mappings[place] = previous
            self._target_place, self._target_num_clauses = place, counted
            raise

    def checkpoint(self) -> tuple:
        """What rollback needs to bring the container back to this moment: a few numbers and, while
        both lists hold records, those records with their plans and a mark of the storage."""
        hard, soft = self._list_hard_constraint_dump_args, self._list_soft_constraint_dump_args
        undo = None
        if hard and soft:
            # A build dumps the hard records before the soft ones: later soft records would then
            # follow them in the storage. Only such a dump is taken back, so only then are the
            # records kept (their templates may be large).
            undo = (tuple(hard), tuple(soft), [(id(args), self._plans[id(args)]) for args in hard + soft],
                    self._stored_bytes, len(self._mappings), self._cnf_stor._mark())
        return (self._cur_init_shift_variable, self._num_clauses, self._num_formula, self.hard_weight,
                self._cur_count_clauses_hard_constraints, self._cur_count_clauses_soft_constraints, len(hard),
                len(soft), tuple(self._dumps), undo, self.target_token())

    def rollback(self, checkpoint: tuple) -> None:
        """Back to `checkpoint`: the records queued since are dropped. A dump since then stays, its
        records written once, where it leaves the order of the records stored later as it was: a
        dump of one list alone, or after a target was merged (which may have replaced clauses in
        place; the next targeted build replaces it, and a targeted model takes no more records).
        Otherwise its records are pending again and their clauses leave the storage."""
        (self._cur_init_shift_variable, self._num_clauses, self._num_formula, self.hard_weight, hard_count,
         soft_count, hard_length, soft_length, dumps, undo, target) = checkpoint
        self._last_plan = None
        if undo is not None and target is self.target_token() and tuple(self._dumps) != dumps:
            hard, soft, plans, stored, mappings, mark = undo
            self._cnf_stor._roll_back(mark)
            del self._mappings[mappings:]
            self._stored_bytes = stored
            self._plans.clear()
            self._plans.update(plans)
            self._list_hard_constraint_dump_args[:] = hard
            self._list_soft_constraint_dump_args[:] = soft
            self._cur_count_clauses_hard_constraints, self._cur_count_clauses_soft_constraints = hard_count, soft_count
            self._dumps[:] = dumps
            return
        for kind, pending, length, count in ((0, self._list_hard_constraint_dump_args, hard_length, hard_count),
                                             (1, self._list_soft_constraint_dump_args, soft_length, soft_count)):
            # A dump takes every pending record at once: those queued before are all pending, or none.
            kept = length if self._dumps[kind] == dumps[kind] else 0
            for args in pending[kept:]:
                self._plans.pop(id(args), None)
            del pending[kept:]
            setattr(self, _PENDING_COUNTS[kind], count if kept == length else 0)

    def target_token(self):
        """What tells whether a target was set (see rollback)."""
        return None if self._target_place is None else self._mappings[self._target_place]

    # ---- the merged mapping

    def __largest_number(self) -> int:
        # Read from the key blocks: the mapping's dict is made only when a caller asks for it.
        from ._fast_instantiate import largest_number

        number = largest_number(self._mappings)
        # An empty mapping fails as max() does.
        return max(self.__merged_mapping().values()) if number is None else number

    def __merged_mapping(self) -> tp.Dict[str, int]:
        """`_mappings` merged in order. Partial mappings are only ever appended, or replaced when a
        new target takes the old one's place: then the merge starts again. Builds name their
        variables with the engine's mapping (engine_mapping), so this dict is made only for a
        caller of `mapping`, and keeps no second copy for a new target's merge."""
        merged_from = self._merged_from
        if len(merged_from) > len(self._mappings) or any(
            partial is not merged for partial, merged in zip(self._mappings, merged_from)
        ):
            self._merged, merged_from = {}, []
            self._merged_from = merged_from
        for partial in self._mappings[len(merged_from) :]:
            # Keys of records written by the engine are made straight into the merged mapping.
            write_into = getattr(partial, "write_into", None)
            if write_into is None:
                self._merged.update(partial)
            else:
                write_into(self._merged)
            merged_from.append(partial)
        return self._merged

    # ---- intake checks: a constraint that cannot be instantiated fails when it is added

    def __namespace(self, template, calls) -> tp.Dict[str, tp.Any]:
        """A copy of each declared variable that the record's template and `calls` read, made now:
        the names their texts begin with, or every variable when there are fewer of them than
        texts; any other name is copied when the check first reads it (see _Copies)."""
        variables = self._target_variables
        texts = sum(map(len, template)) + len(calls or ())
        if len(variables) <= texts:
            names = variables
        else:
            names = {text.lstrip("-").partition("(")[0] for text in itertools.chain(*template, calls or ())}
        copies = _Copies(variables)
        for name in names:
            copies.get(name)
        return copies

    @staticmethod
    def copied_foralls(foralls: tp.Dict[str, tp.Sequence[int]]) -> tp.Dict[str, tp.Sequence[int]]:
        """The caller's foralls as values of our own whose text form evaluates back to them: a
        range stays as it is, any other finite sequence of integers (numpy arrays included)
        becomes a tuple or list of plain ints."""
        copied = {}
        for name, values in foralls.items():
            if not isinstance(name, str) or not name.isidentifier() or keyword.iskeyword(name):
                raise ValueError(f"Forall name {name!r} is not an identifier")
            copied[name] = FormulaContainer.__copy_values(name, values)
        if "range" in copied and any(isinstance(values, range) for values in copied.values()):
            raise ValueError("Forall name 'range' hides the built-in range that forall values use")
        return copied

    @staticmethod
    def __copy_values(name: str, values) -> tp.Sequence[int]:
        if isinstance(values, range):
            return values
        try:
            if isinstance(values, (str, bytes)):
                raise TypeError
            len(values)
            values_iter = iter(values)
        except TypeError:
            raise TypeError(
                f"Values of forall '{name}' must be a finite sequence of integers, "
                f"not {type(values).__name__}"
            ) from None
        copied = []
        for value in values_iter:
            try:
                copied.append(operator.index(value))
            except TypeError:
                raise TypeError(
                    f"Values of forall '{name}' must be integers, not {type(value).__name__} ({value!r})"
                ) from None
        return tuple(copied) if isinstance(values, tuple) else copied

    @staticmethod
    def __copy_weights(weights: tp.Sequence[int]) -> tp.List[int]:
        # A list of plain non-negative ints, as the model hands them, is checked at C speed.
        if type(weights) is list and set(map(type, weights)) <= {int} and (not weights or min(weights) >= 0):
            return weights.copy()
        copied = []
        for weight in weights:
            try:
                weight = operator.index(weight)
            except TypeError:
                raise TypeError(f"Soft weights must be integers, not {type(weight).__name__}") from None
            if weight < 0:
                raise ValueError(f"Soft weights must not be negative, got {weight}")
            copied.append(weight)
        return copied

    def __check_work(
        self,
        template: tp.Sequence[tp.Sequence[str]],
        weights: tp.Optional[tp.Sequence[int]],
        foralls: tp.Dict[str, tp.Sequence[int]],
        num_foralls: int,
        clauses: int,
        variables: int,
        target: bool,
    ) -> int:
        """Refuses, before any of its work, a record whose clauses, or the model's with them, would
        pass what DIMACS solvers read, or whose clauses would take more memory than this process
        can still get; else returns what its clauses take at the least. A target takes the place of
        the one before it."""
        literals = 0
        if num_foralls > 1:
            # One instance's storage takes less than its template, which is already held.
            if weights is None:
                literals = sum(map(len, template))
            else:
                literals = sum(len(clause) for clause, weight in zip(template, weights) if weight)
        model_clauses = self._num_clauses + (0 if target else self._target_num_clauses)
        soft = weights is not None
        instances = min(num_foralls, _MAX_COUNT)
        # The record is written into a storage of its own, then merged into the model's. Where that
        # holds clauses by then (those stored, and the pending ones, merged before it), the merge
        # copies them and the record beside both; the pending ones take their own storage first.
        pending = sum(plan[0] for plan in self._plans.values())
        held = self._stored_bytes + pending
        merged_into = 0 if target else min(held + pending, _MAX_COUNT)
        reason, planned = _work_refusal(instances, clauses, literals, soft, model_clauses, variables, merged_into)
        if reason:
            from ._work import Refused

            raise Refused(reason, str(foralls))
        return planned

    def __check_template(
        self,
        template: tp.Sequence[tp.Sequence[str]],
        weights: tp.Optional[tp.Sequence[int]],
        foralls: tp.Dict[str, tp.Sequence[int]],
        eval_state: tp.Dict[str, tp.Any],
        num_foralls: int,
        calls: tp.Optional[tp.List[str]],
    ) -> None:
        """Everything that would make the instantiation of this record fail, checked on the
        template once instead of on every instance: names, index counts and index ranges. The
        same for `calls`, the texts of the variable calls that made the template (auxiliaries'
        names among them are skipped): every instance refers to its cells, even those whose term
        the encoding dropped."""
        if weights is not None and len(weights) < len(template):
            raise ValueError(f"{len(weights)} soft weights given for a formula of {len(template)} clauses")
        # Without an instance nothing is ever evaluated, so there is no index value to check.
        bounds = None
        if num_foralls:
            bounds = {name: FormulaContainer.__bounds(values) for name, values in foralls.items()}
        from ._fast_instantiate import template_fits

        if template_fits(template, eval_state, foralls, bounds, calls):
            return
        called = [[text for text in calls if "(" in text]] if calls else []
        for clause in itertools.chain(template, called):
            for text in clause:
                # An auxiliary's entry is None, so the test is for the key.
                if text in self._literals:
                    literal = self._literals[text]
                else:
                    literal = self._literals[text] = FormulaContainer.__parse_literal(text)
                if literal is not None:
                    FormulaContainer.__check_call(text, literal, eval_state, foralls, bounds)

    @staticmethod
    def __parse_literal(text: str):
        """None for an auxiliary's quoted name; for a model literal such as -x(i,j + 1) the pair of
        the variable's name and, per index, the forall names it uses with either its affine form
        (a, b), meaning a * value + b, or its compiled text."""
        # Loaded at first use, so that importing the package loads no further module.
        from . import _literal_forms

        # Most literals call a variable with constant indexes: no parser needed for them.
        call = _literal_forms.constant_call(text)
        if call is not None:
            return call[1], [((), (0, value)) for value in call[2]]
        try:
            node = ast.parse(text, mode="eval").body
        except SyntaxError:
            node = None
        if isinstance(node, ast.Constant) and isinstance(node.value, str):
            name = node.value[1:] if "~" in node.value else node.value
            if ("_pbct_aux" in name or "_bxpr_aux" in name) and name.rpartition("_")[2].isdecimal():
                return None
            node = None
        while isinstance(node, ast.UnaryOp) and isinstance(node.op, ast.USub):
            node = node.operand
        if not (
            isinstance(node, ast.Call)
            and isinstance(node.func, ast.Name)
            and not node.keywords
            and not any(isinstance(arg, ast.Starred) for arg in node.args)
        ):
            raise ValueError(f"Literal {text} names neither a model variable nor an auxiliary")
        indexes = []
        for arg in node.args:
            parts = list(ast.walk(arg))
            # Index arithmetic alone is evaluated below: integers and names joined by + - * and signs.
            if not all(type(part) in _INDEX_NODES and (type(part) is not ast.Constant or type(part.value) is int)
                       for part in parts):
                raise ValueError(f"Literal {text} calls a variable with more than integers and forall names")
            names = tuple(dict.fromkeys(sub.id for sub in parts if isinstance(sub, ast.Name)))
            form = _literal_forms.affine(arg) if len(names) <= 1 else None
            if form is not None:
                form = form[1:]
            else:
                form = compile(ast.Expression(arg), "<index>", "eval")
            indexes.append((names, form))
        return node.func.id, indexes

    @staticmethod
    def __bounds(values: tp.Sequence[int]) -> tp.Optional[tp.Tuple[int, int]]:
        if len(values) == 0:
            return None
        if isinstance(values, range):
            return (values[0], values[-1]) if values.step > 0 else (values[-1], values[0])
        return min(values), max(values)

    @staticmethod
    def __check_call(text: str, literal, eval_state, foralls, bounds) -> None:
        from ._names import EVAL_BUILTINS

        name, indexes = literal
        variable = eval_state.get(name)
        if variable is None:
            raise NameError(f"Name '{name}' in {text} is neither a forall nor a declared variable")
        if name in foralls:
            raise ValueError(f"Forall name '{name}' hides the variable called in {text}")
        sizes = list(variable.indexes.values())
        if len(indexes) != len(sizes):
            raise TypeError(f"Variable '{name}' has {len(sizes)} indexes, {len(indexes)} given in {text}")
        for position, ((names, form), size) in enumerate(zip(indexes, sizes)):
            for used in names:
                if used not in foralls:
                    raise NameError(f"Name '{used}' in {text} is neither a forall nor a declared variable")
            if bounds is None:
                continue
            if isinstance(form, tuple):
                low, high = (bounds[names[0]] if names else (0, 0))
                values = (form[0] * low + form[1], form[0] * high + form[1])
            else:
                values = (
                    eval(form, {"__builtins__": EVAL_BUILTINS}, dict(zip(names, combination)))
                    for combination in itertools.product(*(dict.fromkeys(foralls[used]) for used in names))
                )
            for value in values:
                if not isinstance(value, int):
                    raise TypeError(f"Index {position} of {text} takes the value {value!r}, not an integer")
                if not 0 <= value < size:
                    raise IndexError(
                        f"Index {position} of {text} takes the value {value}, "
                        f"out of the range 0..{size - 1} of variable '{name}'"
                    )
