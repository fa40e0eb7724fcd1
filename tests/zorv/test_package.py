"""The package entry: public names, version and the order in which its modules load."""

import ast
import json
import subprocess
import sys
from pathlib import Path

import pytest

import zorv_encoder
import zorv_encoder.encode as encode
import zorv_encoder.version as version
from zorv_encoder.encode import expressions
from zorv_encoder.encode.model import Model

EXPORTS = ["Model", "Sum", "SumIt", "And", "AndIt", "Or", "OrIt", "Xor", "XorIt", "Equiv", "Implication",
           "IfThenElse", "pow_expression", "Zero", "One", "LinearModel", "VariableArray"]


def test_public_surface():
    assert zorv_encoder.__all__ == EXPORTS and isinstance(zorv_encoder.__all__, list)
    assert zorv_encoder.Model is Model
    for name in EXPORTS[1:15]:
        assert getattr(zorv_encoder, name) is getattr(expressions, name) is getattr(encode, name)
    assert encode.__all__ == EXPORTS[1:15]
    assert zorv_encoder.__doc__ is None
    for hidden in ("LinearExpression", "Expression", "VariableProxy", "FormulaContainer", "FormulaError"):
        assert not hasattr(zorv_encoder, hidden)


def test_star_import_binds_exactly_the_exports():
    namespace = {}
    exec("from zorv_encoder import *", namespace)
    assert sorted(set(namespace) - {"__builtins__"}) == sorted(EXPORTS)


def test_version():
    assert zorv_encoder.__version__ == "0.2.6.2293"
    assert zorv_encoder.__version__ is zorv_encoder.zorv_version is version.zorv_version


_RECORD_LOAD_ORDER = r"""
import importlib.abc, json, sys

finished = []

class Recorder(importlib.abc.MetaPathFinder):
    def find_spec(self, name, path, target=None):
        if not name.startswith("zorv_encoder"):
            return None
        for finder in sys.meta_path:
            if finder is not self:
                found = finder.find_spec(name, path, target)
                if found is not None:
                    break
        run = found.loader.exec_module
        def exec_module(module):
            run(module)
            finished.append(name)
        found.loader.exec_module = exec_module
        return found

sys.meta_path.insert(0, Recorder())
import zorv_encoder
print(json.dumps(finished))
"""


def test_modules_finish_loading_in_order():
    out = subprocess.run([sys.executable, "-c", _RECORD_LOAD_ORDER], check=True, capture_output=True, text=True,
                         timeout=60)
    assert [name.replace("zorv_encoder", "", 1).lstrip(".") for name in json.loads(out.stdout)] == [
        "core", "core.zorv_logger", "encode.expressions", "encode", "encode.variables", "core.dumper",
        "core.formula_container", "core.pboperations", "core.formulapb", "core.variable", "core.manager",
        "_exceptions", "encode.model", "linear_parser.linear_expression", "linear_parser.lp_variable",
        "linear_parser.linear_model", "linear_parser", "version", ""]


def test_module_namespaces():
    import zorv_encoder.encode.model as model_module

    # The model module binds its imports, the logging front's public names, and Model last.
    assert [name for name in vars(model_module) if not name.startswith("__")] == [
        "tp", "os", "sys", "traceback", "re", "reduce", "mul", "datetime", "timedelta", "tl", "bx", "pb",
        "Variable", "Index", "Expression", "FormulaContainer", "pboperations", "formulapb", "manager",
        "variable", "VariableError", "FormulaError", "TargetError", "BuildError", "logging", "DEBUG_LOG",
        "log_c", "log_e", "log_w", "log_i", "log_d", "log_t", "Model",
    ]  # fmt: skip
    logger_names = {}
    exec("from zorv_encoder.core.zorv_logger import *", logger_names)
    assert sorted(set(logger_names) - {"__builtins__"}) == sorted(
        ["logging", "os", "tl", "DEBUG_LOG", "log_c", "log_e", "log_w", "log_i", "log_d", "log_t"]
    )


def test_expression_modules_bind_only_their_own_names():
    import zorv_encoder.encode.variables as variables

    logger = ["logging", "os", "tl", "DEBUG_LOG", "log_c", "log_e", "log_w", "log_i", "log_d", "log_t"]
    assert [name for name in vars(expressions) if not name.startswith("__")] == [
        "annotations", "tp", "Integral", *logger, "_expr2bx", "_expr2pb", "Expression", "VariableProxy", "Sum",
        "And", "Or", "Xor", "Equiv", "Implication", "IfThenElse", "SumIt", "AndIt", "OrIt", "XorIt", "One",
        "Zero", "pow_expression",
    ]  # fmt: skip
    assert [name for name in vars(variables) if not name.startswith("__")] == [
        "annotations", "tp", "accumulate", "product", "mul", "deepcopy", "VariableProxy", *logger, "Index",
        "Variable",
    ]  # fmt: skip
    # Each class body holds its operations alone: no slots and no other class-level value.
    classes = [value for value in vars(expressions).values() if getattr(value, "__module__", None) == expressions.__name__
               and isinstance(value, type)]
    for cls in classes + [variables.Index, variables.Variable]:
        assert "__slots__" not in vars(cls)
        assert [name for name, value in vars(cls).items()
                if not name.startswith("__") and not callable(value) and not isinstance(value, property)] == []


@pytest.mark.parametrize("script", sorted((Path(__file__).parents[2] / "benchmarks").glob("*.py")),
                         ids=lambda script: script.name)
def test_benchmarks_answer_help_with_their_usage_and_run_nothing(script):
    out = subprocess.run([sys.executable, str(script), "--help"], capture_output=True, text=True, timeout=60)
    assert (out.returncode, out.stderr) == (0, "") and out.stdout.startswith(f"usage: {script.name} ")
    opening = " ".join(ast.get_docstring(ast.parse(script.read_text())).split()[:4])
    assert opening in " ".join(out.stdout.split())


_BUILD_AND_END = """
import ctypes, threading, time
import orbeny.trelle as tl
from zorv_encoder import Model
model = Model(tl.manager(), "quiet", {road})
x = model.create_variables("x", a=4)
i = model.get_indexes(["i"])
model.add_constraint(x[i] | x[i + 1], i=range(3))
model.build_cnf()
mapping = model.get_var_mapping()
"""


@pytest.mark.parametrize("road", [False, True], ids=["container", "formula_encoder"])
def test_a_script_ends_quietly_and_a_real_leak_is_still_reported(road):
    def run(tail):
        return subprocess.run([sys.executable, "-c", _BUILD_AND_END.format(road=road) + tail],
                              capture_output=True, text=True, timeout=60)

    clean = run("")
    # A daemon thread that holds the model keeps it alive through the exit.
    beside_daemon = run("threading.Thread(target=lambda: (model, time.sleep(60)), daemon=True).start()")
    leaked = run("ctypes.pythonapi.Py_IncRef(ctypes.py_object(mapping))")
    assert (clean.returncode, clean.stderr, beside_daemon.returncode, beside_daemon.stderr) == (0, "", 0, "")
    assert leaked.returncode == 0 and "nanobind: leaked" in leaked.stderr
