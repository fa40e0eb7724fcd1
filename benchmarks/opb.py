"""A small reader of linear pseudo-Boolean instances in the OPB format of the PB competitions.

    python benchmarks/opb.py FILE ...     (what it reads of each file)

Each constraint `+3 x1 -2 ~x4 >= 1 ;` becomes [variables, coefficients, comparator, bound] over
the variables 1..n, as solver_bench.py takes them: comparator ">=", "<=" or "==", coefficients
non-zero integers of either sign. A negated literal c ~x is written c - c x, its constant moved
into the bound; a variable met twice in a row gets one merged term. An objective line
(`min:` or `max:`) is ignored, and so is every comment line (`*`).
"""

import argparse
import re

_HEADER = re.compile(r"#variable=\s*(\d+)\s+#constraint=\s*(\d+)")
_LITERAL = re.compile(r"(~?)x(\d+)$")
_COMPARATORS = {">=": ">=", "<=": "<=", "=": "=="}


def parse_opb(text, name="instance"):
    """{"name", "variables", "constraints"}; ValueError on what is not linear OPB."""
    declared, statements, pending, start = None, [], [], 1
    for number, line in enumerate(text.splitlines(), 1):
        if line.startswith("*"):
            header = _HEADER.search(line)
            if header and declared is None:
                declared = int(header.group(1)), int(header.group(2))
            continue
        # A statement ends at its semicolon, wherever the line breaks fall.
        *complete, rest = line.split(";")
        for piece in complete:
            statements.append((start if pending else number, " ".join(pending + [piece])))
            pending = []
        if rest.strip():
            start = start if pending else number
            pending.append(rest)
    if pending:
        raise ValueError("%s, line %d: statement without its closing ';'" % (name, start))
    constraints, rows, top = [], 0, 0
    for number, statement in statements:
        tokens = statement.split()
        if not tokens or tokens[0] in ("min:", "max:"):
            continue
        rows += 1
        try:
            row = _row(tokens)
        except ValueError as error:
            raise ValueError("%s, line %d: %s" % (name, number, error)) from None
        if row is not None:
            constraints.append(row)
            top = max([top] + row[0])
    if declared is None:
        return {"name": name, "variables": top, "constraints": constraints}
    if top > declared[0]:
        raise ValueError("%s: x%d is beyond the header's #variable= %d" % (name, top, declared[0]))
    if rows != declared[1]:
        raise ValueError("%s: %d constraints, the header says %d" % (name, rows, declared[1]))
    return {"name": name, "variables": declared[0], "constraints": constraints}


def _row(tokens):
    """One constraint's [variables, coefficients, comparator, bound], or None if it always holds."""
    places = [i for i, token in enumerate(tokens) if token in _COMPARATORS]
    if len(places) != 1 or places[0] != len(tokens) - 2 or places[0] % 2:
        raise ValueError("expected terms `coefficient literal`, one of >= <= =, and a bound")
    comparator, bound = _COMPARATORS[tokens[-2]], _integer(tokens[-1])
    terms = {}
    for i in range(0, places[0], 2):
        coefficient, literal = _integer(tokens[i]), _LITERAL.match(tokens[i + 1])
        if literal is None:
            raise ValueError("%r is not a literal x<n> or ~x<n> (only linear rows are read)"
                             % tokens[i + 1])
        variable = int(literal.group(2))
        if variable < 1:
            raise ValueError("variables are numbered from x1")
        if literal.group(1):
            coefficient, bound = -coefficient, bound - coefficient
        terms[variable] = terms.get(variable, 0) + coefficient
    terms = {v: c for v, c in terms.items() if c}
    if not terms:
        if {">=": 0 >= bound, "<=": 0 <= bound, "==": bound == 0}[comparator]:
            return None
        raise ValueError("a row without variables that cannot hold: the instance is unsatisfiable")
    return [list(terms), list(terms.values()), comparator, bound]


def _integer(token):
    try:
        return int(token)
    except ValueError:
        raise ValueError("%r is not an integer" % token) from None


def read_opb(path):
    with open(path) as handle:
        return parse_opb(handle.read(), path)


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("files", nargs="*", metavar="FILE")
    for path in parser.parse_args().files:
        read = read_opb(path)
        print("%s: %d variables, %d constraints, %d terms" % (
            path, read["variables"], len(read["constraints"]),
            sum(len(row[0]) for row in read["constraints"])))
