"""Encoding back end: Boolean expressions, pseudo-Boolean encoders, clause storage."""

import atexit
import enum
import logging
import sys
import threading

from . import _engine  # noqa: F401  (fails early if the engine is not built)


@atexit.register
def _quiet_exit_beside_daemon_threads():
    # While a daemon thread runs at exit, the host keeps module globals and that thread's frames
    # alive, engine objects included: they are not leaks, and are not reported as such. Exit
    # handlers run once the other threads have been joined.
    if any(thread.daemon and thread.is_alive() for thread in threading.enumerate()):
        _engine.set_leak_warnings(False)


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
