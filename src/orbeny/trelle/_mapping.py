"""Variable mapping and witness interpreter."""

__all__ = []
