"""Solver manager."""

__all__ = []
