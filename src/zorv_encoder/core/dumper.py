import typing as tp
from abc import ABC, abstractmethod
from dataclasses import dataclass

import orbeny.trelle as tl
from .zorv_logger import *


def reduce_ex(mappings) -> tp.Dict[str, int]:
    result = {}
    for mapping in mappings:
        result.update(mapping)
    return result


@dataclass
class DumpArgs:
    template_constraint: tp.Sequence[tp.Sequence[str]]
    weights: tp.Optional[tp.Sequence[int]]
    foralls: tp.Dict[str, tp.Sequence[int]]
    num_formula: int
    init_shift_variable: int
    shift_pb_variable: int
    shift_bx_variable: int
    offset_shift_for_formula: int
    eval_state: tp.Dict[str, tp.Any]
    cnf_stor: tl.wcnf_storage


class Dumper(ABC):
    __BXPR_AUX: str = "_bxpr_aux"
    __PBCT_AUX: str = "_pbct_aux"

    @classmethod
    @abstractmethod
    def dump(cls, dump_args: tp.Sequence[DumpArgs]):
        pass

    @staticmethod
    def _dump_cnf(a: DumpArgs) -> tp.Dict[str, int]:
        mapping = {}
        if a.cnf_stor is None:
            return mapping
        # Records in the simple forms are written by the engine; loaded at first use so that
        # importing the package loads what it always did.
        from ._fast_instantiate import dump as fast_dump

        written = fast_dump(a)
        if written is not None:
            written.write_into(mapping)
            return mapping
        text = Dumper.__instantiation_text(a.template_constraint, a.foralls)
        from ._evaluation import code, text_refusal
        from ._names import EVAL_BUILTINS

        # The texts call range and the model's variables, and nothing else of the host.
        refusal = text_refusal(text, a.eval_state, a.foralls, instantiation=True)
        if refusal is not None:
            raise ValueError(refusal)
        a.eval_state["__builtins__"] = EVAL_BUILTINS
        temp_cnf = eval(code(text), a.eval_state)
        Dumper.__print_all_formula(
            temp_cnf,
            a.weights,
            a.num_formula,
            a.init_shift_variable,
            a.shift_pb_variable,
            a.shift_bx_variable,
            a.offset_shift_for_formula,
            mapping,
            a.cnf_stor,
        )
        return mapping

    @staticmethod
    def __instantiation_text(
        template_constraint: tp.Sequence[tp.Sequence[str]], foralls: tp.Dict[str, tp.Sequence[int]]
    ) -> str:
        """One list comprehension that yields every instance of the template, the first forall
        outermost: [[[x(i,j),-y(i)],['_bxpr_aux_0']] for i in range(0, 3) for j in [0, 2]]."""
        clauses = ",".join("[" + ",".join(clause) + "]" for clause in template_constraint)
        loops = " ".join(
            "for " + format(name, "") + " in " + format(values, "") for name, values in foralls.items()
        )
        return "[[" + clauses + "] " + loops + "]"

    @staticmethod
    def __print_all_formula(
        temp_cnf: tp.Sequence[tp.Sequence[tp.Sequence[tp.Union[int, str]]]],
        weights: tp.Optional[tp.Sequence[int]],
        num_formula: int,
        init_shift_variable: int,
        shift_pb_variable: int,
        shift_bx_variable: int,
        offset_shift_formulas: int,
        mapping: tp.Dict[str, int],
        cnf_stor: tl.wcnf_storage,
    ) -> None:
        block = shift_pb_variable + shift_bx_variable
        # Every instance carries the same auxiliary texts, so each is parsed once per record.
        parsed = {}
        for num_offset, instance in enumerate(temp_cnf):
            base = init_shift_variable + num_offset * block
            # Signed numbers of the auxiliary texts met so far in this instance, whose keys then
            # hold these numbers: a later occurrence has nothing to record or report.
            numbered = {}
            for position, clause in enumerate(instance):
                weight_idx = 0
                if weights is not None:
                    weight_idx = weights[position]
                    if weight_idx == 0:
                        # A soft clause worth nothing constrains nothing: it is left out.
                        continue
                lits = []
                for var in clause:
                    if isinstance(var, str):
                        lit = numbered.get(var)
                        if lit is None:
                            aux = parsed.get(var)
                            if aux is None:
                                aux = Dumper.__parse_auxiliary(var, shift_pb_variable, shift_bx_variable)
                                parsed[var] = aux
                            lit = Dumper.__number_auxiliary(
                                var, aux, base, num_formula, num_offset, mapping, numbered
                            )
                        var = lit
                    lits.append(var)
                lits.sort(key=abs)
                if cnf_stor is not None:
                    if weight_idx != 0:
                        cnf_stor.add_soft_clause(lits, weight_idx)
                    else:
                        cnf_stor.add_hard_clause(lits)

    @staticmethod
    def __parse_auxiliary(var: str, shift_pb_variable: int, shift_bx_variable: int):
        """(sign, key prefix, place in the instance's block, counter, counter outside the Tseytin
        counters 0 to count - 1) of an auxiliary literal text such as ~_bxpr_aux_2; False for a
        text naming none."""
        if "~" in var:
            sign, name = -1, var[1:]
        else:
            sign, name = 1, var
        if Dumper.__PBCT_AUX in name:
            counter = int(name.split("_")[-1])
            return sign, Dumper.__PBCT_AUX, counter, counter, False
        if Dumper.__BXPR_AUX in name:
            counter = int(name.split("_")[-1])
            # A counter equal to the count already takes the next instance's first number.
            return sign, Dumper.__BXPR_AUX, shift_pb_variable + counter, counter, shift_bx_variable <= counter
        return False

    @staticmethod
    def __number_auxiliary(
        var: str, aux, base: int, num_formula: int, num_offset: int, mapping, numbered
    ) -> int:
        """Signed number of an auxiliary literal text in instance `num_offset`, whose block starts
        at `base`; records its key and gives the warnings of this occurrence."""
        if aux is False:
            log_w("Index is not pbct or bxpr")
            return 0
        sign, prefix, offset, counter, indefinite = aux
        indefinite = indefinite and num_offset > 0
        if indefinite:
            log_w("Indefinite bxpr index")
        num_var = base + offset
        map_name = f"{prefix}[{num_formula},{num_offset},{counter}]"
        if map_name in mapping and mapping[map_name] != num_var:
            log_w("Bad index for pbct" if prefix == Dumper.__PBCT_AUX else "Bad index for bxpr")
        mapping[map_name] = num_var
        if not indefinite:
            # warned for every occurrence: never taken from `numbered`
            numbered[var] = sign * num_var
        return sign * num_var


class One2OneDumper(Dumper):
    @classmethod
    def dump(cls, list_dump_args: tp.Sequence[DumpArgs]) -> tp.Dict[str, int]:
        return reduce_ex([cls._dump_cnf(args) for args in list_dump_args])
