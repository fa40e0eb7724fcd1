class VariableError(Exception):
    """The variable cannot be created"""


class TargetError(Exception):
    """Target entry error"""


class FormulaError(Exception):
    ""


class BuildError(Exception):
    ""


class SolverError(Exception):
    ""
