"""Clause storage and DIMACS output."""

__all__ = []
