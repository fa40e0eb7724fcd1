"""Placeholder until the bxpr engine binding lands."""
