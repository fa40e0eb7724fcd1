import re

import orbeny.trelle.bxpr as bx
from .pboperations import PBVariable

# Index arithmetic: names and integers joined by + - * and parentheses, no power.
_INDEX_TEXT = re.compile(r"(?:[\w +()-]|\*(?!\*))+")


class Index:
    def __init__(self, name, range_start, range_end, range_step=1):
        self.name = name
        self.range_start = range_start
        self.range_end = range_end
        self.range_step = range_step


class GeneratorVariable:
    def __init__(self, name: str, manager):
        self.name = name
        self.manager = manager

    def __call__(self, *items) -> "Variable":
        # The name is a call text: the container evaluates it again as x(...). Only index
        # arithmetic may be written into it: integers and names joined by + - * and parentheses.
        texts = [str(item) for item in items]
        for item, text in zip(items, texts):
            if type(item) is not int and not _INDEX_TEXT.fullmatch(text):
                raise ValueError(f"Variable '{self.name}' is indexed by integers and indexes, not {text!r}")
        name = self.name + "(" + ",".join(texts) + ")"
        bx_var, pb_var = self.manager.add_variable(name)
        return Variable(bx_var, pb_var, name)


class Variable:
    def __init__(self, bx_var: bx.Variable, pb_var: int, name: str):
        self.bx_var = bx_var
        self.pb_var = pb_var
        self.name = name

    def to_bx(self) -> bx.Variable:
        return self.bx_var

    def to_pb(self) -> PBVariable:
        return PBVariable(self.pb_var, self.name)
