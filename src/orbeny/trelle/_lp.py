"""Linear-program storage and rows."""

__all__ = []
