"""Clause storage and DIMACS output."""

from ._engine.cnf import input_sat_format, wcnf_storage

__all__ = ["wcnf_storage", "input_sat_format"]
