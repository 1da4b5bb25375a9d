import os
import shutil
import sys

import pytest

# The reference sums beside the tests.
sys.path.insert(0, os.path.dirname(__file__))


def program(variable):
    """Path of a program of the build, given to the tests by CTest."""
    path = os.environ.get(variable) or ""
    if not path or not shutil.which(path):
        pytest.skip(f"{variable} does not name a program of the build")
    return path


def pytest_configure(config):
    config.addinivalue_line(
        "markers", "full: a long physics run, left out of the quick set (scripts/test --full runs it)")
