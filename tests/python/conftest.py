"""tests/python/conftest.py: puts the build folder first on the import path, so that `dedezi` and
`velvix_sim` are the ones just built, and offers the simulated world as a fixture."""

import os
import sys

import pytest

BUILD_DIR = os.environ.get("DEDEZI_BUILD_DIR")
if not BUILD_DIR:
    raise pytest.UsageError("DEDEZI_BUILD_DIR must name the build folder (ctest sets it)")
sys.path.insert(0, BUILD_DIR)


@pytest.fixture
def sim():
    """The test-control extension, its world freshly reset."""
    velvix_sim = pytest.importorskip("velvix_sim")
    velvix_sim.reset()
    return velvix_sim
