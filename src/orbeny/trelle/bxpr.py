"""Boolean expressions over named variables and their Tseytin transformation.

Expressions are hash-consed per `Context`: equal subformulas are one node, compare
equal and hash alike. The constants from `one()` and `zero()` combine with
expressions of any context.
"""

from ._engine.bxpr import (
    And,
    BaseExpr,
    Complement,
    Context,
    Equal,
    IfThenElse,
    Implies,
    Not,
    One,
    Or,
    Variable,
    Xor,
    Zero,
    and_,
    and_s,
    eq_s,
    impl_s,
    ite_s,
    one,
    or_s,
    xor_s,
    zero,
)

__all__ = [
    "BaseExpr",
    "Zero",
    "One",
    "Variable",
    "Complement",
    "Not",
    "And",
    "Or",
    "Xor",
    "Equal",
    "Implies",
    "IfThenElse",
    "Context",
    "one",
    "zero",
    "and_s",
    "or_s",
    "xor_s",
    "eq_s",
    "impl_s",
    "ite_s",
    "and_",
]
