"""scripts/core-collapse on models with a mass spectrum: --imf, --m-max and
--w0 reach cluster_gen, and the collapse detector fires on a Kroupa model
long before an equal-mass cluster would collapse (about 15 t_rh(0))."""

import pathlib
import re
import subprocess

import numpy as np
import pytest

from conftest import program

SCRIPT = pathlib.Path(__file__).resolve().parents[2] / "scripts" / "core-collapse"


def complete_rows(path):
    """The columns of a CSV, its complete rows only (the script stops the
    run while it writes)."""
    lines = path.read_text().splitlines()
    header = lines[0].split(",")
    rows = [line.split(",") for line in lines[1:]]
    table = np.array([r for r in rows if len(r) == len(header)], dtype=float)
    return {name: table[:, k] for k, name in enumerate(header)}


def build_folder():
    """The build holding the programs the script runs."""
    program("NBFORCE_CLUSTER_GEN")
    return pathlib.Path(program("NBFORCE_HERMITE4")).resolve().parent.parent


def test_mass_function_and_king_model_reach_the_generator(tmp_path):
    gen = program("NBFORCE_CLUSTER_GEN")
    run = subprocess.run([SCRIPT, "-n", "64", "-s", "7", "--imf", "kroupa", "--m-max", "20",
                          "--w0", "5", "--eps", "0.01", "--t-end", "0.25", "--dt-out", "0.125",
                          "--build", build_folder(), "--dir", tmp_path / "run"],
                         capture_output=True, text=True)
    # Far too short to collapse: the script says so, but the model is made.
    assert run.returncode != 0 and "no core collapse" in run.stderr
    assert "ln(0.02 N) = 0.247" in run.stdout  # a mass spectrum's Coulomb logarithm
    subprocess.run([gen, "-n", "64", "-s", "7", "--imf", "kroupa", "--m-max", "20", "--profile",
                    "king", "--w0", "5", "-q", "-o", tmp_path / "direct.inp"], check=True)
    assert (tmp_path / "run" / "model.inp").read_bytes() == (tmp_path / "direct.inp").read_bytes()
    bad = subprocess.run([SCRIPT, "--imf", "kropa", "--build", build_folder(),
                          "--dir", tmp_path / "bad"], capture_output=True, text=True)
    assert bad.returncode != 0 and "cluster_gen" in bad.stderr and "kropa" in bad.stderr


@pytest.mark.full
def test_collapse_of_a_kroupa_model_is_found(tmp_path):
    # 256 stars, 0.08 to 50 Msun (the heaviest drawn is 21.8 <m>), softened
    # at 4 / N so that no regularised binary slows the run: the massive
    # stars sink and pair up at about 1.4 t_rh(0).
    run = subprocess.run([SCRIPT, "-n", "256", "-s", "3", "--imf", "kroupa", "--m-max", "50",
                          "--eps", "0.015625", "--dt-out", "0.125", "--until", "1",
                          "--t-end", "40", "--build", build_folder(), "--dir", tmp_path],
                         capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert "ln(0.02 N) = 1.633" in run.stdout
    found = re.search(r"t_cc = [0-9.e+-]+, t_cc / t_rh\(0\) = ([0-9.]+), "
                      r"t_cc / t_rc\(0\) = ([0-9.]+)", run.stdout)
    assert found, run.stdout
    assert 0.3 < float(found.group(1)) < 4.0  # an equal-mass Plummer sphere: about 15
    # The detector's time is where the core's hard binaries first pass
    # 100 kT, read back from the files here.
    core = complete_rows(tmp_path / "core.csv")
    energy = complete_rows(tmp_path / "energy.csv")
    kT = 2.0 / 3.0 * np.interp(core["time"], energy["time"], energy["kinetic"]) / 256
    first = core["time"][np.argmax(core["ebin"] > 100 * kT)]
    t_cc = float(re.search(r"t_cc = ([0-9.e+-]+),", run.stdout).group(1))
    assert (core["ebin"] > 100 * kT).any() and t_cc <= first
    assert (tmp_path / "core-collapse.png").stat().st_size > 0
