"""Encoding back end: Boolean expressions, pseudo-Boolean encoders, clause storage."""

import enum
import logging
import sys

from . import _engine  # noqa: F401  (fails early if the engine is not built)

TRACE = 5
logging.addLevelName(TRACE, "TRACE")


class log_level_type(enum.IntEnum):
    critical = logging.CRITICAL
    error = logging.ERROR
    warning = logging.WARNING
    info = logging.INFO
    debug = logging.DEBUG
    trace = TRACE


_logger = logging.getLogger("orbeny.trelle")


def log_encoder(message, level):
    """Record `message` on the "orbeny.trelle" logger at `level`."""
    if not isinstance(level, log_level_type):
        raise TypeError(f"log level must be a log_level_type member, not {type(level).__name__}")
    # isEnabledFor is cached by the logging module, so a disabled level costs one dict lookup.
    if _logger.isEnabledFor(level):
        _logger.log(level, message)


def get_python_version():
    """The running interpreter's version text, for start-up log lines."""
    return sys.version.split()[0]


from ._cnf import *  # noqa: E402,F401,F403
from ._mapping import *  # noqa: E402,F401,F403
from ._formula_encoder import *  # noqa: E402,F401,F403
from ._manager import *  # noqa: E402,F401,F403
from ._lp import *  # noqa: E402,F401,F403
