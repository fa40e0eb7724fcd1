import logging.config
import os

import orbeny.trelle as tl

DEBUG_LOG = True

logging.basicConfig(level=logging.WARNING, format="%(asctime)s %(name)s %(levelname)s: %(message)s")


def log_c(msg: str):
    tl.log_encoder(msg, tl.log_level_type.critical)


def log_e(msg: str):
    tl.log_encoder(msg, tl.log_level_type.error)


def log_w(msg: str):
    tl.log_encoder(msg, tl.log_level_type.warning)


def log_i(msg: str):
    tl.log_encoder(msg, tl.log_level_type.info)


def log_d(msg: str):
    tl.log_encoder(msg, tl.log_level_type.debug)


def log_t(msg: str):
    tl.log_encoder(msg, tl.log_level_type.trace)


_LOGGER = logging.getLogger("orbeny.trelle")
_STOCK_ENTRY = tl.log_encoder


def _heard(level) -> bool:
    """Whether a line at `level` reaches anyone: the stock entry drops what its logger does not
    enable, a replaced entry takes every line. Texts that are costly to make are made only then."""
    return tl.log_encoder is not _STOCK_ENTRY or _LOGGER.isEnabledFor(level)
