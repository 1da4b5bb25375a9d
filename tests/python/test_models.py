"""Plummer models and model files against plummer_gen's own output, and the
Lagrangian radii against a sort written here."""

import subprocess

import numpy as np
import pytest

import nbforce
from conftest import program


def plummer_gen(directory, *args):
    subprocess.run([program("NBFORCE_PLUMMER_GEN"), *map(str, args)], cwd=directory, check=True,
                   stdout=subprocess.DEVNULL)
    return directory / "data.inp"


def parse(path):
    """The file as numbers, parsed without the package's reader."""
    lines = path.read_text().splitlines()
    rows = np.loadtxt(lines[3:], ndmin=2)
    return int(lines[1]), float(lines[2]), rows


@pytest.mark.parametrize("args, kwargs, expected", [
    ((), {}, 16384),
    ((1, 3), {}, 1023),
    (("-n", 100, "-s", 7), {"count": 100, "seed": 7}, 100),
    (("-n", 1), {"count": 1}, 1),
])
def test_plummer_is_plummer_gens_model_bit_for_bit(tmp_path, args, kwargs, expected):
    count, t, rows = parse(plummer_gen(tmp_path, *args))
    m, x, v = nbforce.plummer(*args) if not kwargs else nbforce.plummer(**kwargs)
    assert count == len(m) == expected
    assert t == 0.0
    np.testing.assert_array_equal(rows[:, 0], np.arange(count))
    # Seventeen significant digits in the file: the doubles themselves.
    np.testing.assert_array_equal(rows[:, 1], m)
    np.testing.assert_array_equal(rows[:, 2:5], x)
    np.testing.assert_array_equal(rows[:, 5:8], v)


def test_write_model_writes_plummer_gens_file_byte_for_byte(tmp_path):
    expected = plummer_gen(tmp_path, 1, 3).read_bytes()
    nbforce.write_model(tmp_path / "mine.inp", *nbforce.plummer(1, 3))
    assert (tmp_path / "mine.inp").read_bytes() == expected
    m, x, v, t = nbforce.read_model(tmp_path / "data.inp")
    m2, x2, v2 = nbforce.plummer(1, 3)
    assert t == 0.0
    assert np.array_equal(m, m2) and np.array_equal(x, x2) and np.array_equal(v, v2)


def test_round_trip_keeps_every_double(tmp_path):
    rng = np.random.default_rng(3)
    m = rng.uniform(1e-9, 1.0, 50)
    x = rng.normal(size=(50, 3)) * 10.0 ** rng.integers(-12, 12, size=(50, 3))
    v = rng.normal(size=(50, 3))
    nbforce.write_model(tmp_path / "r.inp", m, x, v, t=1.0 / 3.0)
    m2, x2, v2, t2 = nbforce.read_model(str(tmp_path / "r.inp"))
    assert t2 == 1.0 / 3.0
    assert np.array_equal(m, m2) and np.array_equal(x, x2) and np.array_equal(v, v2)


def test_seeds():
    m, x, v = nbforce.plummer(1, 1, seed=19810614)
    assert np.array_equal(x, nbforce.plummer(1, 1)[1])
    m, x, v = nbforce.plummer(1, 1, seed=42)
    assert not np.array_equal(x, nbforce.plummer(1, 1)[1])
    assert m.sum() == pytest.approx(1.0, rel=1e-14)
    assert np.abs(m @ x).max() < 1e-15 and np.abs(m @ v).max() < 1e-15
    assert 0.5 * np.sum(m * np.sum(v * v, axis=1)) == pytest.approx(0.25, rel=0.1)


def test_lagrangian_radii_of_shells():
    # Sixteen shells of radius 1 .. 16 about (3, -2, 5), each two opposite
    # particles of mass 1/32: shell k closes the fraction k / 16.
    r = np.repeat(np.arange(1.0, 17.0), 2)
    sign = np.tile([1.0, -1.0], 16)
    direction = np.array([2.0, -1.0, 2.0]) / 3.0
    x = np.array([3.0, -2.0, 5.0]) + (r * sign)[:, None] * direction
    got = nbforce.lagrangian_radii(np.full(32, 1 / 32), x, [1 / 64, 0.0625, 0.25, 0.26, 0.75, 1.0])
    np.testing.assert_allclose(got, [1, 1, 4, 5, 12, 16], rtol=1e-14)


def test_integrator_writes_the_radii_of_its_snapshots(tmp_path):
    plummer_gen(tmp_path, 1, 1)
    subprocess.run([program("NBFORCE_HERMITE4"), "--t-end", "0.25", "--radii", "radii.csv",
                    "--snapshots", "snap", "--energy", ""], cwd=tmp_path, check=True,
                   stdout=subprocess.DEVNULL)
    lines = (tmp_path / "radii.csv").read_text().splitlines()
    assert lines[0] == "time,r01,r10,r25,r50,r75,r90"
    table = np.loadtxt(lines[1:], delimiter=",", ndmin=2)
    np.testing.assert_array_equal(table[:, 0], [0.0, 0.125, 0.25])
    fractions = np.array([0.01, 0.1, 0.25, 0.5, 0.75, 0.9])
    for row, snapshot in zip(table, [tmp_path / "data.inp", tmp_path / "snap0001.inp",
                                     tmp_path / "snap0002.inp"]):
        _, _, p = parse(snapshot)
        m, x = p[:, 1], p[:, 2:5]
        d = np.linalg.norm(x - m @ x / m.sum(), axis=1)
        order = np.argsort(d)
        k = np.searchsorted(np.cumsum(m[order]), fractions * m.sum())
        np.testing.assert_allclose(row[1:], d[order][k], rtol=1e-8)


def test_integrator_refuses_an_unwritable_radii_file(tmp_path):
    plummer_gen(tmp_path, 1, 1)
    run = subprocess.run([program("NBFORCE_HERMITE4"), "--t-end", "0.125", "--energy", "",
                          "--radii", str(tmp_path / "no" / "radii.csv")], cwd=tmp_path,
                         capture_output=True, text=True)
    assert run.returncode == 1
    # Refused before the start-up, for its folder.
    assert "radii.csv': the folder" in run.stderr and "cannot be used" in run.stderr
    assert "t = 0 " not in run.stdout
