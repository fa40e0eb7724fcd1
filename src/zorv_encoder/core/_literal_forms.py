"""Reading the literal texts of clause templates, for the container's intake checks and for the
engine path: both must read a text the same way."""

import ast
import keyword
import re
import typing as tp

# The commonest model literal, a call with constant indexes only (-x(0,12)): the minus signs, the
# variable's name and the index values.
_CONSTANT_CALL = re.compile(r"(-*)([A-Za-z_][A-Za-z0-9_]*)\(((?:0|[1-9][0-9]*)(?:,(?:0|[1-9][0-9]*))*)?\)")


def constant_call(text: str) -> tp.Optional[tp.Tuple[bool, str, tp.List[int]]]:
    """(negated, variable name, index values) for a call with constant indexes, read without the
    parser; None for any other text."""
    match = _CONSTANT_CALL.fullmatch(text)
    if match is None or keyword.iskeyword(match.group(2)):
        return None
    values = match.group(3)
    return len(match.group(1)) % 2 == 1, match.group(2), [int(value) for value in values.split(",")] if values else []


def affine(node) -> tp.Optional[tp.Tuple[tp.Optional[str], int, int]]:
    """(name, factor, offset) when the index text is factor * name + offset in integers, with at
    most one forall name (None for a constant), as index arithmetic writes it: i, i + 1, i - 1,
    2 * i, 2 * (i + 1); None for anything else."""
    if isinstance(node, ast.Name):
        return node.id, 1, 0
    if isinstance(node, ast.Constant):
        return (None, 0, node.value) if type(node.value) is int else None
    if isinstance(node, ast.UnaryOp) and isinstance(node.op, (ast.USub, ast.UAdd)):
        inner = affine(node.operand)
        if inner is None or isinstance(node.op, ast.UAdd):
            return inner
        return inner[0], -inner[1], -inner[2]
    if not (isinstance(node, ast.BinOp) and isinstance(node.op, (ast.Add, ast.Sub, ast.Mult))):
        return None
    left, right = affine(node.left), affine(node.right)
    if left is None or right is None:
        return None
    if left[0] is not None and right[0] is not None and left[0] != right[0]:
        return None
    name = left[0] if left[0] is not None else right[0]
    if isinstance(node.op, ast.Add):
        return name, left[1] + right[1], left[2] + right[2]
    if isinstance(node.op, ast.Sub):
        return name, left[1] - right[1], left[2] - right[2]
    if left[0] is None:
        return name, left[2] * right[1], left[2] * right[2]
    if right[0] is None:
        return name, right[2] * left[1], right[2] * left[2]
    return None
