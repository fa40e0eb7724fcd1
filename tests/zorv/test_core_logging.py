import subprocess
import sys
import textwrap

import pytest

import orbeny.trelle as tl
from zorv_encoder.core import zorv_logger
from zorv_encoder import _exceptions

FORMAT = "%(asctime)s %(name)s %(levelname)s: %(message)s"
ERRORS = ["VariableError", "TargetError", "FormulaError", "BuildError", "SolverError"]


@pytest.mark.parametrize(
    "func, member",
    [("log_c", "critical"), ("log_e", "error"), ("log_w", "warning"),
     ("log_i", "info"), ("log_d", "debug"), ("log_t", "trace")],
)
@pytest.mark.parametrize("msg", ["a message", "", 42, None])
def test_level_functions_forward_message_unchanged(sent_logs, func, member, msg):
    assert getattr(zorv_logger, func)(msg) is None
    assert len(sent_logs) == 1
    assert sent_logs[0][0] is msg
    assert sent_logs[0][1] is getattr(tl.log_level_type, member)


def test_failure_of_logging_entry_reaches_caller(monkeypatch):
    def broken(message, level):
        raise RuntimeError("sink down")

    monkeypatch.setattr(tl, "log_encoder", broken)
    with pytest.raises(RuntimeError, match="sink down"):
        zorv_logger.log_e("x")


def test_star_import_gives_switch_and_level_functions():
    ns = {}
    exec("from zorv_encoder.core.zorv_logger import *", ns)
    assert ns["DEBUG_LOG"] is True
    for name in ("log_c", "log_e", "log_w", "log_i", "log_d", "log_t"):
        assert ns[name] is getattr(zorv_logger, name)


def _run(code):
    out = subprocess.run([sys.executable, "-c", textwrap.dedent(code)],
                         capture_output=True, text=True, check=True, timeout=60)
    return out.stdout.strip()


def test_root_logger_configured_once_on_clean_interpreter():
    got = _run(f"""
        import logging, sys
        assert not logging.getLogger().handlers
        import zorv_encoder.core.zorv_logger as zl
        import zorv_encoder.core.formulapb, zorv_encoder.core.manager
        import zorv_encoder.core.zorv_logger
        root = logging.getLogger()
        (h,) = root.handlers
        assert isinstance(h, logging.StreamHandler) and h.stream is sys.stderr
        assert h.formatter._fmt == {FORMAT!r}
        assert root.level == logging.WARNING and zl.DEBUG_LOG is True
        print(len(root.handlers))
    """)
    assert got == "1"


def test_existing_root_handler_left_alone():
    got = _run("""
        import io, logging
        h = logging.StreamHandler(io.StringIO())
        root = logging.getLogger()
        root.addHandler(h)
        root.setLevel(logging.DEBUG)
        import zorv_encoder.core.zorv_logger
        print(root.handlers == [h], root.level == logging.DEBUG)
    """)
    assert got == "True True"


def test_error_classes_are_independent_exceptions():
    classes = [getattr(_exceptions, n) for n in ERRORS]
    for cls in classes:
        assert cls.__bases__ == (Exception,)
        assert cls.__module__ == "zorv_encoder._exceptions" and cls.__qualname__ == cls.__name__
    assert [c.__doc__ for c in classes] == ["The variable cannot be created", "Target entry error", "", "", ""]
    with pytest.raises(_exceptions.BuildError):
        try:
            raise _exceptions.BuildError("late")
        except _exceptions.FormulaError:
            pytest.fail("FormulaError caught a BuildError")
    assert str(_exceptions.VariableError()) == ""
    err = _exceptions.VariableError("name x is in use")
    assert str(err) == "name x is in use" and err.args == ("name x is in use",)


def test_exceptions_module_surface():
    ns = {}
    exec("from zorv_encoder._exceptions import *", ns)
    assert sorted(k for k in ns if k != "__builtins__") == sorted(ERRORS)
    assert _exceptions.__doc__ is None


@pytest.mark.parametrize("enabled", [True, False])
def test_comparison_debug_lines_follow_the_logger_level(caplog, enabled):
    # Their texts are made only for a logger that shows them; a shown line is whole.
    from zorv_encoder.core.formulapb import FormulaPB
    from zorv_encoder.core.manager import Manager
    from zorv_encoder.core.pboperations import Sum

    manager = Manager()
    manager.registration_generator_variables("x")
    x = manager.name2genvar["x"]
    term = Sum(x(1).to_pb(), x(2).to_pb())
    caplog.set_level("DEBUG" if enabled else "INFO", logger="orbeny.trelle")
    formula = FormulaPB(term, tl.pbct.Comparator_type.LEQ, 1).to_bx(manager)
    FormulaPB(term, None, None).to_maxsat(manager, True)
    expected = [f"FormulaPB before to_bx: {term}", "Sum to_pb result [", f"Bx formula from FormulaPB: {formula}",
                f"FormulaPB before to_maxsat: {term}"]
    got = [record.getMessage() for record in caplog.records]
    assert len(got) == (4 if enabled else 0)
    assert all(line.startswith(prefix) for line, prefix in zip(got, expected))
