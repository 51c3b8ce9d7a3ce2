"""Fixtures of the Python module's tests: a temporary folder of each test's own, the commands the
module is compared with, and a measured loop the sweep command makes."""

import os
import subprocess
import tempfile

import pytest


@pytest.fixture
def folder():
    with tempfile.TemporaryDirectory(prefix="dravo2-python-") as path:
        yield path


def command(name):
    path = os.environ.get(name)
    if not path:
        pytest.skip(f"{name} is not set (run through ctest)")
    return path


@pytest.fixture
def sweep():
    """Runs dravo2-sweep with the given words in `cwd`; returns its standard error."""
    binary = command("DRAVO2_SWEEP")

    def run(*words, cwd):
        done = subprocess.run([binary, *words], cwd=cwd, capture_output=True, text=True)
        return done.returncode, done.stderr

    return run


@pytest.fixture
def measured(folder, sweep):
    """A short two-branch loop of a weaker exchange bias, relaxed with Newton's method, as a
    result file: the stand-in for a measured loop."""
    path = os.path.join(folder, "measured.dat")
    status, err = sweep("bias=0.8e-3", "solver=newton", "start=-100", "step=4", "steps=50", "--reverse",
                        "-o", path, cwd=folder)
    assert status == 0, err
    return path
