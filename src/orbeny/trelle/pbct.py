"""Placeholder until the pbct engine binding lands."""
