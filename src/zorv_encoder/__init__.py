from .encode.model import Model
from .encode.expressions import (Sum, SumIt, And, AndIt, Or, OrIt, Xor, XorIt, Equiv, Implication, IfThenElse,
                                 pow_expression, Zero, One)
from .linear_parser.linear_model import LinearModel
from .linear_parser.lp_variable import VariableArray
from .version import zorv_version

__all__ = ["Model", "Sum", "SumIt", "And", "AndIt", "Or", "OrIt", "Xor", "XorIt", "Equiv", "Implication",
           "IfThenElse", "pow_expression", "Zero", "One", "LinearModel", "VariableArray"]
__version__ = zorv_version
