"""The module against the commands it shares its core with, and its promises: views without
copies, loops in parallel threads, errors and Ctrl-C."""

import _thread
import csv
import os
import pathlib
import subprocess
import sys
import threading
import time
import warnings

import numpy as np
import pytest

import dravo2


def read_csv_table(path):
    """The command's CSV table as branch numbers and an N x 8 array (-1 for no resonance)."""
    with open(path, newline="") as file:
        rows = list(csv.reader(file))[1:]
    branch = np.array([int(row[0]) for row in rows])
    values = np.array([[float(cell) if cell else -1.0 for cell in row[1:]] for row in rows])
    return branch, values


@pytest.mark.parametrize("solver", ["descent", "newton"])
def test_loops_equal_the_command_table_bit_for_bit(folder, sweep, solver):
    p = dravo2.Parameters(J1=-0.4e-3, Jbq1=-0.05e-3, K2=250, axis2=30, steps=40, step=2.5, start=-50)
    p.solver = solver
    words_path = os.path.join(folder, "p.txt")
    p.to_file(words_path)
    with open(words_path) as file:
        words = file.read().split()
    table_path = os.path.join(folder, "loop.csv")
    status, err = sweep(*words, "--reverse", "--format", "csv", "-o", table_path, cwd=folder)
    assert status == 0, err
    branch, table = read_csv_table(table_path)

    # The same loop from the set's own sweep keys (kA/m) and from start and step given in A/m.
    for result in (dravo2.run_loop(p, solver=None),
                   dravo2.run_loop(dravo2.Parameters.from_file(words_path), start=-50e3, step=2.5e3, solver=solver)):
        assert result.end == "completed"
        np.testing.assert_array_equal(result.to_table(), table)
        np.testing.assert_array_equal(result.branch, branch)


def test_resonance_modes_and_fields_equal_the_command(folder, sweep):
    words = ["M2=1", "t2=2e-9", "J1=-0.3e-3", "steps=60", "step=8", "start=-240", "solver=newton", "--reverse"]
    table_path = os.path.join(folder, "modes.csv")
    status, err = sweep(*words, "--modes", "--format", "csv", "-o", table_path, cwd=folder)
    assert status == 0, err
    with open(table_path, newline="") as file:
        rows = list(csv.reader(file))[1:]
    modes = np.array([[float(cell) if cell else np.nan for cell in row[9:13]] for row in rows])
    status, err = sweep(*words, "--resonance-fields", "9.8GHz", "-o", os.path.join(folder, "r.dat"), cwd=folder)
    assert status == 0, err
    crossings = [tuple(line.split(",")) for line in err.splitlines() if line[:1].isdigit()]
    assert crossings, err

    p = dravo2.Parameters(**dict(word.split("=") for word in words[:-1]))
    result = dravo2.run_loop(p, solver=None, modes=True)
    np.testing.assert_array_equal(result.modes, modes)
    assert result.modes.base is not None and not result.modes.flags.writeable
    found = result.resonance_fields(9.8e9)
    assert [(str(b), str(m)) for b, m, _ in found] == [(b, m) for b, m, _ in crossings]
    np.testing.assert_array_equal([h for _, _, h in found], [float(h) for _, _, h in crossings])
    assert dravo2.run_loop(p, solver=None).modes.shape == (0, 4)
    with pytest.raises(dravo2.Error, match="modes=True"):
        dravo2.run_loop(p, solver=None).resonance_fields(9.8e9)


def test_arrays_view_the_result_without_copies():
    result = dravo2.run_loop(dravo2.Parameters(steps=30))
    table = result.to_table()
    for array in (result.field, result.projection, result.theta, table, result.branch, result.energy):
        assert not array.flags.owndata
        assert array.base is result or array.base.base is result
        with pytest.raises(ValueError):
            array[0] = 1.0
    assert np.shares_memory(result.theta, table)
    assert np.shares_memory(result.field, table)
    np.testing.assert_array_equal(result.theta, table[:, 2:6])
    assert len(result) == 60 and result.theta.shape == (60, 4)
    # A view keeps its result alive once the result's name is gone.
    field = result.field
    expected = field.copy()
    del result, table
    np.testing.assert_array_equal(field, expected)


def test_field_sequence_branches_and_rows():
    fields = np.array([0.0, 50e3, 100e3, 100e3, 50e3, 0.0, 50e3])
    result = dravo2.run_loop(dravo2.Parameters(), fields=fields)
    np.testing.assert_array_equal(result.field, fields)
    np.testing.assert_array_equal(result.branch, [1, 1, 1, 1, 2, 2, 3])


def test_two_threads_run_loops_at_once():
    # Each loop would run for seconds; it ends early only when its stop event is set, which the
    # main thread does once both threads have begun their loops. A loop that held the
    # interpreter lock would keep the main thread (and the other loop) from running until it
    # had completed.
    p = dravo2.Parameters(solver="descent", conv=1e-30, maxiter=20000)
    fields = np.zeros(500)
    stops = [dravo2.StopFlag(), dravo2.StopFlag()]
    started = [threading.Event(), threading.Event()]
    results = [None, None]

    def work(i):
        started[i].set()
        results[i] = dravo2.run_loop(p, fields=fields, solver=None, stop=stops[i])

    threads = [threading.Thread(target=work, args=(i,)) for i in range(2)]
    for thread in threads:
        thread.start()
    for event in started:
        event.wait()
    for event in stops:
        event.set()
    for thread in threads:
        thread.join()
    for result in results:
        assert result.end == "stopped"
        assert len(result) < len(fields)


def test_ctrl_c_stops_a_loop():
    p = dravo2.Parameters(solver="descent", conv=1e-30, maxiter=20000)
    started = threading.Event()

    def interrupt():
        started.wait()
        time.sleep(0.2)
        _thread.interrupt_main()

    threading.Thread(target=interrupt).start()
    completed = False
    with pytest.raises(KeyboardInterrupt):
        started.set()
        dravo2.run_loop(p, fields=np.zeros(500), solver=None)
        completed = True
    assert not completed


def test_ctrl_c_stops_a_fit_and_keeps_the_best(measured):
    curve = dravo2.import_curve(measured)
    started = threading.Event()

    def interrupt():
        started.wait()
        time.sleep(0.5)
        _thread.interrupt_main()

    threading.Thread(target=interrupt).start()
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        started.set()
        result = dravo2.fit(curve, dravo2.Parameters(), free=["J1", "bias"], evals=10**8, threads=1)
    assert result.interrupted
    assert set(result.values) == {"J1", "bias"}
    assert any(issubclass(w.category, RuntimeWarning) for w in caught)


def test_errors_carry_the_program_messages(folder, sweep):
    p = dravo2.Parameters()
    with pytest.raises(KeyError, match="did you mean 'Jbq1'"):
        p["jbq1"]
    with pytest.raises(AttributeError, match="did you mean 'J1'"):
        p.J4 = 1e-3
    with pytest.raises(dravo2.ConversionError, match="'1,5x' is not a valid floating point value") as caught:
        p.M1 = "1,5x"
    assert isinstance(caught.value, ValueError)
    with pytest.raises(dravo2.ConversionError, match="whole number of degrees from 0 to 90"):
        p.axis1 = 120
    with pytest.raises(dravo2.FileError):
        dravo2.import_curve(pathlib.Path(folder) / "missing.dat")

    status, err = sweep("t2=-2e-9", "steps=3", cwd=folder)
    assert status == 2
    with pytest.raises(dravo2.Error) as caught:
        dravo2.run_loop(dravo2.Parameters(t2="-2e-9", steps=3))
    assert str(caught.value) == err.strip()


def test_parameters_keep_their_values_and_units(folder):
    p = dravo2.Parameters(J1=-2.5e-3, axis2=45, aniso="QU")
    assert p.J1 == -2.5e-3 and p["axis2"] == 45 and p.aniso == "QU"
    assert p.describe("K1")["unit"] == "J/m^3" and p.describe("K1")["bounds"] == (10.0, 1000.0)
    assert "J1=-0.0025" in repr(p) and "M1" not in repr(p)
    path = os.path.join(folder, "set.txt")
    p.to_file(path)
    assert dravo2.Parameters.from_file(path) == p


def test_misfit_matches_the_command_comparison(folder, sweep, measured):
    p = dravo2.Parameters(steps=50, start=-100, step=4, solver="newton")
    status, err = sweep(*(f"{k}={p.text(k)}" for k in ("steps", "start", "step")), "solver=newton", "--reverse",
                        "--compare", measured, "--background", "slope", "-o", os.path.join(folder, "loop.dat"),
                        cwd=folder)
    assert status == 0, err
    line = next(line for line in err.splitlines() if line.startswith("misfit "))
    words = line.split()
    result = dravo2.misfit(dravo2.run_loop(p), dravo2.import_curve(measured), background="slope")
    assert result.valid
    assert f"{result.misfit:.6g}" == words[1] and f"{result.scale:.6g}" == words[3]
    assert np.sum(result.residuals ** 2) == pytest.approx(result.misfit ** 2, rel=1e-12)
    assert result.misfit > 0.01  # the bias differs from the measured loop's


def test_fit_equals_the_fit_command(folder, measured):
    fit = os.environ.get("DRAVO2_FIT") or pytest.skip("DRAVO2_FIT is not set")
    words = ["--free", "bias,J1", "--evals", "40", "--threads", "1", "--seed", "3"]
    done = subprocess.run([fit, measured, *words], cwd=folder, capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    fitted = dict(line.split("=", 1) for line in done.stdout.split())
    result = dravo2.fit(dravo2.import_curve(measured), dravo2.Parameters(), free=["bias", "J1"], evals=40,
                        threads=1, seed=3)
    assert result.parameters.text("bias") == fitted["bias"]
    assert result.parameters.text("J1") == fitted["J1"]
    assert result.correlation.shape == (2, 2)
    assert len(result.loop) > 0 and result.misfit <= result.misfit_before


def test_scan_equals_the_scan_command(folder, measured):
    scan = os.environ.get("DRAVO2_SCAN") or pytest.skip("DRAVO2_SCAN is not set")
    table_path = os.path.join(folder, "scan.csv")
    words = ["J1=-1e-3:1e-3:3", "bias=0.5e-3:1e-3:2", "steps=30", "step=10", "start=-150", "--threads", "2",
             "--compare", measured, "-o", table_path]
    done = subprocess.run([scan, *words], cwd=folder, capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    with open(table_path, newline="") as file:
        rows = list(csv.reader(file))[1:]
    expected = np.array([[float(cell) if cell else np.nan for cell in row] for row in rows])

    p = dravo2.Parameters(steps=30, step=10, start=-150)
    table = dravo2.scan(p, grid={"J1": (-1e-3, 1e-3, 3), "bias": "0.5e-3:1e-3:2"},
                        curve=dravo2.import_curve(measured), threads=2)
    assert table.dtype.names[:3] == ("J1", "bias", "Hc_down")
    actual = np.array([[row[name] for name in table.dtype.names] for row in table], dtype=float)
    np.testing.assert_array_equal(actual, expected)
    assert np.isfinite(table["misfit"]).all()


@pytest.mark.parametrize("example, arguments", [
    ("loop_plot.py", ["--steps", "40", "--out", "{folder}/loop.png"]),
    ("fit_measured.py", ["{measured}", "--evals", "30"]),
    ("posterior_emcee.py", ["{measured}", "--evals", "20", "--walkers", "6", "--steps", "8"]),
])
def test_examples_run(folder, measured, example, arguments):
    path = os.path.join(os.environ.get("DRAVO2_EXAMPLES") or pytest.skip("DRAVO2_EXAMPLES is not set"), example)
    arguments = [a.format(folder=folder, measured=measured) for a in arguments]
    done = subprocess.run([sys.executable, path, *arguments], cwd=folder, capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip()
