"""Pseudo-Boolean constraints and their CNF encodings (imported by the system as `pb`).

A constraint is a list of `WeightedLit(literal, coefficient)` compared with one bound:
`PBConstraint(literals, Comparator_type.LEQ, k)` means sum <= k, `GEQ` sum >= k and
`BOTH` sum == k. `pb2cnf(config).encode2(constraint, database, allocator)` adds clauses
to `database`, with auxiliary variables drawn from `allocator`, such that an assignment
of the constraint's variables extends to a model of the clauses exactly when it meets
the constraint. Auxiliaries are forced only in the direction the constraint needs, so
the clauses are meant to be asserted, not negated. An encoding that would need more
than `config.max_clauses_per_constraint` clauses raises OverflowError and adds nothing.
"""

from ._engine.pbct import (
    AuxVarManager,
    Comparator_type,
    PB_Encoder_type,
    PBConfig,
    PBConstraint,
    VectorClauseDatabase,
    WeightedLit,
    pb2cnf,
)

__all__ = [
    "AuxVarManager",
    "Comparator_type",
    "PB_Encoder_type",
    "PBConfig",
    "PBConstraint",
    "VectorClauseDatabase",
    "WeightedLit",
    "pb2cnf",
]
