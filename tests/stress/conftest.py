"""tests/stress/conftest.py: the build folder first on the import path, so that the case tables
(cases.py, which imports the modules just built) can be read where the tests are collected."""

import os
import sys

import pytest

BUILD_DIR = os.environ.get("DEDEZI_BUILD_DIR")
if not BUILD_DIR:
    raise pytest.UsageError("DEDEZI_BUILD_DIR must name the build folder (ctest sets it)")
sys.path.insert(0, BUILD_DIR)
