"""Shared fixtures of the bridge-core tests: the testkit extension, the stand-in control module,
and the running of a case that could hang in an interpreter of its own."""
import os
import subprocess
import sys

import pytest

BUILD_DIR = os.environ.get("DEDEZI_BUILD_DIR")
if not BUILD_DIR:
    raise pytest.UsageError("DEDEZI_BUILD_DIR must name the build folder (ctest sets it)")
HERE = os.path.dirname(os.path.abspath(__file__))
IMPORT_PATH = [os.path.join(BUILD_DIR, "testkit"), BUILD_DIR, HERE]
for entry in reversed(IMPORT_PATH):
    if entry not in sys.path:
        sys.path.insert(0, entry)

# A case's own deadline; faulthandler names where it hung a little before the parent gives up.
CASE_TIMEOUT = 45  # below the suite's own per-test timeout


@pytest.fixture
def sim():
    """The stand-in world, reset before the test."""
    import velvix_sim

    velvix_sim.reset()
    return velvix_sim


@pytest.fixture
def isolated():
    """Runs `module.function(*args)` in a fresh interpreter, so that a hang fails one test."""

    def run(module, function, *args):
        code = (
            "import faulthandler, sys\n"
            f"faulthandler.dump_traceback_later({CASE_TIMEOUT - 10}, exit=True)\n"
            f"import {module}\n"
            f"{module}.{function}(*{args!r})\n"
        )
        env = dict(os.environ, PYTHONPATH=os.pathsep.join(IMPORT_PATH))
        done = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True,
                              text=True, timeout=CASE_TIMEOUT)
        assert done.returncode == 0, f"{function}{args} failed:\n{done.stdout}{done.stderr}"

    return run
