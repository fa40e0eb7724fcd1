import logging

import pytest

import orbeny.trelle as tl


def test_levels_forward_to_the_trelle_logger(caplog):
    caplog.set_level(tl.TRACE, logger="orbeny.trelle")
    for member in tl.log_level_type:
        tl.log_encoder(f"msg {member.name}", member)
    got = [(r.name, r.levelno, r.getMessage()) for r in caplog.records]
    assert got == [("orbeny.trelle", m.value, f"msg {m.name}") for m in tl.log_level_type]
    assert logging.getLevelName(tl.TRACE) == "TRACE"


def test_disabled_level_is_dropped_and_bad_level_refused(caplog):
    caplog.set_level(logging.WARNING, logger="orbeny.trelle")
    tl.log_encoder("quiet", tl.log_level_type.debug)
    assert caplog.records == []
    with pytest.raises(TypeError):
        tl.log_encoder("x", 20)


def test_python_version_text():
    v = tl.get_python_version()
    assert isinstance(v, str) and v.count(".") >= 1
