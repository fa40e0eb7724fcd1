"""What the evaluated constraint texts may see: the names a model may declare, and the only
built-ins an evaluation gets. Kept in one place because every road reads the same texts."""

import ast
import keyword
import typing as tp
import unicodedata

# Names the evaluation binds itself, and the one built-in the texts call (forall values such as
# range(3)): a variable or index of the same name would hide them.
RESERVED_NAMES = frozenset({"Sum", "FormulaPB", "bx", "pb", "manager", "range"})

# The built-ins of every evaluation of a model text: texts call range and nothing else, so that
# a text cannot reach the host (imports, files, attributes of the interpreter).
EVAL_BUILTINS = {"range": range}


def name_fault(name, identifier: bool = False) -> tp.Optional[str]:
    """Why `name` cannot stand for a variable (letters only) or, with `identifier`, an index (any
    identifier not beginning with an underscore, which could hide a name the evaluation itself
    uses, and none of the names above) in a text, or None when it can. Neither may be a keyword
    or a reserved name, or change under NFKC normalisation, which the host applies to every
    identifier it reads (a fullwidth x would name x). An index named like a parameter of the call
    it is passed to meets the host's own TypeError there, which names the clash."""
    if identifier:
        if not isinstance(name, str) or not name.isidentifier():
            return "identifier"
        if name.startswith("_"):
            return f"'{name}' begins with an underscore"
    elif not isinstance(name, str) or not name.isalpha():
        return "letters"
    if keyword.iskeyword(name):
        return f"'{name}' is a Python keyword"
    if name in RESERVED_NAMES:
        return f"'{name}' is reserved for the evaluation of constraints ({', '.join(sorted(RESERVED_NAMES))})"
    normal = unicodedata.normalize("NFKC", name)
    if normal != name:
        return f"'{name}' is read by Python as '{normal}'"
    return None


def name_message(what: str, name) -> tp.Optional[str]:
    """The message refusing `name` as the name of a `what`: "Variable" (letters only) or "Index"
    (an identifier), or None."""
    fault = name_fault(name, what == "Index")
    if fault is None:
        return None
    if fault == "letters":
        return f"{what} must have a non-empty name containing only letters"
    if fault == "identifier":
        return f"{what} must have a non-empty name that is a Python identifier"
    return f"{what} name {fault}"


def parsed(text: str) -> ast.expr:
    """The expression that `text` reads as (ast.parse in eval mode). The host's parser can lose the
    MemoryError of an allocation that fails inside it and raise a SystemError instead: that is
    raised as the MemoryError it stands for, never taken for a fault of the text."""
    try:
        return ast.parse(text, mode="eval").body
    except SystemError as error:
        raise MemoryError(f"the host's parser ran out of memory reading a text of {len(text)} characters") from error
