"""The formula encoder: reads the constraint texts of a model itself, instantiates them over
their foralls in the engine and writes their clauses, with no Python evaluated per instance."""

import csv
import io
import json
import keyword
import logging
import operator
import os
import time
import unicodedata

from ._cnf import wcnf_storage
from ._engine import fenc as _fenc
from ._mapping import var_mapping

__all__ = ["formula_encoder"]

_logger = logging.getLogger("orbeny.trelle")

# Names the texts themselves use: a model name must not hide them.
_RESERVED = frozenset({"Sum", "FormulaPB", "bx", "pb", "manager", "range"})
# The one variable name beyond letters that a model may declare (its container road's placeholder).
_DUMMY = "dummy_var"
_HARD, _SOFT, _TARGET = 0, 1, 2
_INT64 = (-(1 << 63), (1 << 63) - 1)


def _name_problem(name, variable=False):
    """Why `name` may not name a variable (letters only, or dummy_var) or an index (an identifier that does not
    begin with an underscore), or None."""
    if not isinstance(name, str) or not name:
        return "a name must be a non-empty str"
    if variable and not name.isalpha() and name != _DUMMY:
        return f"variable name {name!r} must consist of letters only"
    if not name.isidentifier() or name.startswith("_"):
        return f"name {name!r} must be an identifier that does not begin with an underscore"
    if keyword.iskeyword(name) or name in _RESERVED:
        return f"name {name!r} is reserved"
    if unicodedata.normalize("NFKC", name) != name:
        return f"name {name!r} changes under NFKC normalization"
    return None


def _cut(text):
    """`text` quoted for a message, cut as the engine cuts it: a text may be megabytes long."""
    return repr(text if len(text) <= 200 else text[:200] + "...")


def _path(filename):
    """`filename` as the engine takes it, refused as open() refuses it."""
    path = os.fspath(filename)
    if ("\0" if isinstance(path, str) else b"\0") in path:
        raise ValueError(f"file name {path!r} holds a NUL character")
    return path


def _text(value, what):
    if not isinstance(value, str):
        raise TypeError(f"{what} must be a str, not {type(value).__name__}")
    try:
        value.encode()
    except UnicodeEncodeError as e:  # a lone surrogate: the engine reads UTF-8
        raise ValueError(f"{what} {_cut(value)} is not valid Unicode: {e.reason} at position {e.start}") from None
    return value


def _read_named(model, text, foralls_text, kind, weight, minimization):
    """model.read(...), whose running out of memory names the constraint, the size of its text and
    what the process can get once the read let its memory go."""
    try:
        # Called as written: a call with *args would first make a bound method of the engine's,
        # which the binding library makes without checking its allocation.
        return model.read(text, foralls_text, kind, weight, minimization)
    except MemoryError as error:
        from ._engine import inst

        foralls = foralls_text[9:] if foralls_text.startswith("Foralls: ") else foralls_text
        raise MemoryError(
            f"{inst.constraint_subject(text, foralls)}: ran out of memory reading its text of {len(text)} characters,"
            f" with {inst.limit_text(*inst.memory_limit())} once the read let its memory go"
        ) from error


class formula_encoder:
    """The formula encoder of one model, made by `manager.create_formula_encoder(name)`."""

    def __init__(self, name):
        self._name = name
        self._model = _fenc.formula_model()
        self._storage = None
        self._stats = None
        self._changed = True
        self._witnesses = [None, None]

    # ---- declarations and constraints

    def create_variables(self, name, sizes):
        problem = _name_problem(name, variable=True)
        if problem is not None:
            raise ValueError(f"Variable cannot be declared: {problem}")
        try:
            sizes = [operator.index(size) for size in sizes]
        except TypeError:
            raise TypeError(f"Sizes of variable {name} must be integers") from None
        for size in sizes:
            if not 0 <= size <= _INT64[1]:
                raise ValueError(f"Sizes of variable {name} must be non-negative integers")
        self._change(lambda: self._model.declare(name, sizes))

    def add_constraint(self, text, foralls_text):
        self._add(text, foralls_text, _HARD, 1, False)

    def add_soft_constraint(self, text, foralls_text, weight, minimization):
        if isinstance(weight, bool) or not isinstance(weight, int):
            try:
                weight = operator.index(weight)
            except TypeError:
                raise TypeError(f"Soft weight must be an integer, not {type(weight).__name__}") from None
        if not _INT64[0] <= weight <= _INT64[1]:
            raise OverflowError(f"Soft weight {weight} does not fit in 64 bits")
        self._add(text, foralls_text, _SOFT, weight, bool(minimization))

    def add_target(self, text):
        self._add(text, "", _TARGET, 1, False)

    def _add(self, text, foralls_text, kind, weight, minimization):
        text = _text(text, "A constraint text")
        foralls_text = _text(foralls_text, "A foralls text")
        read = _read_named(self._model, text, foralls_text, kind, weight, minimization)
        for name, offset, in_foralls in read.names:
            problem = _name_problem(name)
            if problem is not None:
                where = f"the foralls {_cut(foralls_text)} of " if in_foralls else ""
                # The engine counts bytes of UTF-8; the position is in characters.
                position = len((foralls_text if in_foralls else text).encode()[:offset].decode())
                raise ValueError(f"cannot read {where}constraint {_cut(text)}: {problem} at position {position}")
        self._change(lambda: self._model.add(read))

    def _change(self, step):
        """step(), the engine's part of a change, made all or nothing: it comes last, so that
        nothing is left to fail once the engine holds the change, and what went before it is put
        back when it fails. (A lambda, not a bound method of the engine taken beforehand: taking
        one can crash the binding library when that allocation fails.)"""
        witnesses, changed = self._witnesses.copy(), self._changed
        try:
            # Witnesses were read against the numbering of the last generation.
            self._changed = True
            self._witnesses[0] = self._witnesses[1] = None
            step()
        except BaseException:
            self._witnesses[:] = witnesses
            self._changed = changed
            raise

    # ---- building

    def generate_cnf(self):
        if not self._changed and self._storage is not None:
            _logger.debug("formula encoder %s: nothing changed since the last generate_cnf", self._name)
            return
        storage = wcnf_storage()
        stats = self._model.generate(storage, str(self._name))
        for (text, _), row in zip(self._model.constraint_texts, stats):
            if row[4]:
                _logger.warning("formula encoder %s: contradiction was detected in constraint %s: %d of its "
                                "%d instances can never hold", self._name, _cut(text), row[4], row[0])
        if self._model.has_target:
            _logger.info("formula encoder %s: the target is not encoded, since generate_cnf takes no "
                         "border; its value is reported for each witness in the metrics", self._name)
        # Taken in one line, the last: stopped before it, the encoder still has to generate.
        self._storage, self._stats, self._changed = storage, stats, False

    def get_cnf_storage(self):
        return self._storage

    def get_var_mapping(self):
        if self._model.cell_count == 0 and self._model.variable_count == 0:
            return None
        mapping = var_mapping()
        self._model.fill_mapping(mapping)
        mapping.build_inverse_map()
        return mapping

    def reset(self):
        """Forget declarations, constraints, the storage and the witnesses; keep the name."""
        kept = self._storage, self._stats
        try:
            self._storage = self._stats = None
            self._change(lambda: self._model.clear())
        except BaseException:
            self._storage, self._stats = kept
            raise

    # ---- witnesses

    def set_witness(self, witness):
        self._witnesses[0] = self._read_witness(witness)

    def set_another_witness(self, witness):
        self._witnesses[1] = self._read_witness(witness)

    def check_another_witness(self):
        first, second = self._witnesses
        if first is None or second is None or first == second:
            return False
        return self._valid(second)

    def _read_witness(self, witness):
        if self._storage is None or self._changed:
            raise ValueError("no CNF generated for the current constraints: call generate_cnf() first")
        if isinstance(witness, (str, bytes)):
            raise TypeError("a witness must be a sequence of signed variable numbers")
        try:
            values = [operator.index(value) for value in witness]
        except TypeError:
            raise TypeError("a witness must be a sequence of signed variable numbers") from None
        for value in values:
            if not _INT64[0] < value <= _INT64[1]:
                raise ValueError(f"witness value {value} names no variable of the formula")
        return self._model.read_witness(values)

    def _valid(self, cells):
        texts = self._model.constraint_texts
        return all(self._model.holds(f, cells) for f, (_, soft) in enumerate(texts) if not soft)

    # ---- metrics

    def _metrics(self):
        if self._stats is None:
            raise ValueError("no CNF generated yet: call generate_cnf() first")
        texts = self._model.constraint_texts
        rows = []
        for (instances, clauses, aux, seconds, _), (text, soft) in zip(self._stats, texts):
            rows.append({"constraint": text, "soft": soft, "instances": instances, "clauses": clauses,
                         "auxiliary_variables": aux, "seconds": seconds})
        totals = {key: sum(row[key] for row in rows)
                  for key in ("instances", "clauses", "auxiliary_variables", "seconds")}
        totals["variables"] = self._model.variable_count
        witnesses = []
        for which, cells in zip(("witness", "another_witness"), self._witnesses):
            if cells is None:
                continue
            soft_cost = sum(self._model.soft_cost(f, cells) for f, (_, soft) in enumerate(texts) if soft)
            witnesses.append({"witness": which, "valid": self._valid(cells), "soft_cost": soft_cost,
                              "target_value": self._model.target_value(cells)})
        return {"model": str(self._name), "constraints": rows, "totals": totals, "witnesses": witnesses}

    def save_metrics_json(self, filename):
        text = json.dumps(self._metrics(), indent=2) + "\n"
        _fenc.write_text_atomically(_path(filename), text)

    def save_metrics_csv(self, filename):
        metrics = self._metrics()
        out = io.StringIO()
        writer = csv.writer(out, lineterminator="\n")
        writer.writerow(["kind", "name", "instances", "clauses", "auxiliary_variables", "seconds",
                         "valid", "soft_cost", "target_value"])
        for row in metrics["constraints"]:
            writer.writerow(["soft" if row["soft"] else "hard", row["constraint"], row["instances"],
                             row["clauses"], row["auxiliary_variables"], row["seconds"], "", "", ""])
        totals = metrics["totals"]
        writer.writerow(["total", metrics["model"], totals["instances"], totals["clauses"],
                         totals["auxiliary_variables"], totals["seconds"], "", "", ""])
        for w in metrics["witnesses"]:
            target = "" if w["target_value"] is None else w["target_value"]
            writer.writerow(["witness", w["witness"], "", "", "", "", w["valid"], w["soft_cost"], target])
        _fenc.write_text_atomically(_path(filename), out.getvalue())
