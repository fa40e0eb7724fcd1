"""Work refused before it is done: the work cap's ranges, loops and powers, and a constraint whose
clauses, or the model's with them, would pass what DIMACS solvers read, or whose clauses or
evaluated terms would take more memory than this process can get (the engine's work_refusal and
memory_refusal say why). The model names the constraint in front of the reason, as the
formula-encoder road does."""

from orbeny.trelle._engine.inst import constraint_subject


class Refused(ValueError):
    """The refusal of a constraint's work, for a reason, over foralls given as their text."""

    def __init__(self, reason: str, foralls: str = "") -> None:
        super().__init__(constraint_subject("", foralls) + ": " + reason)
        self.reason = reason
        self.foralls = foralls

    def named(self, text: str) -> ValueError:
        return ValueError(constraint_subject(text, self.foralls) + ": " + self.reason)
