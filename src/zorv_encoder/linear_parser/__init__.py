from .linear_model import LinearModel
from .lp_variable import VariableArray
from .linear_expression import LinearExpression

__all__ = ["LinearModel", "VariableArray", "LinearExpression"]
