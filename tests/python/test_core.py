"""nbforce.core and nbforce.binaries: the integrator's --core history
against the same diagnostics of its snapshots, a planted binary's elements,
and the refusals."""

import subprocess

import numpy as np
import pytest

import nbforce
from conftest import program
import reference

COLUMNS = "time,xd,yd,zd,rc,rhoc,r01,r10,r50,r90,nbin,ebin,nesc"


def kepler_pair(m1, m2, a, e, nu):
    """Relative position and velocity of a Kepler orbit at true anomaly nu,
    in the plane z = 0 (G = 1)."""
    p = a * (1 - e * e)
    r = p / (1 + e * np.cos(nu))
    w = np.sqrt((m1 + m2) / p)
    return (np.array([r * np.cos(nu), r * np.sin(nu), 0.0]),
            np.array([-w * np.sin(nu), w * (e + np.cos(nu)), 0.0]))


def planted_model():
    """A 1,024-particle Plummer sphere with a hard binary near the centre
    (particles 3 and 8) and an escaper far out (particle 9)."""
    m, x, v = nbforce.plummer(count=1024, seed=5)
    dr, dv = kepler_pair(m[3], m[8], 1e-3, 0.5, 0.4)
    x[3], x[8] = [0.02, 0, 0] - dr / 2, [0.02, 0, 0] + dr / 2
    v[3], v[8] = -dv / 2, dv / 2
    x[9] = [40.0, 0, 0]
    v[9] = [1.5 * np.sqrt(2 / 40.0), 0, 0]
    return m, x, v


def test_core_history_agrees_with_the_snapshots(tmp_path):
    m, x, v = planted_model()
    nbforce.write_model(tmp_path / "model.inp", m, x, v)
    eps = 1e-4
    subprocess.run([program("NBFORCE_HERMITE4"), "model.inp", "--t-end", "0.25", "--eps",
                    str(eps), "--core", "core.csv", "--snapshots", "snap", "--energy", ""],
                   cwd=tmp_path, check=True, stdout=subprocess.DEVNULL)
    lines = (tmp_path / "core.csv").read_text().splitlines()
    assert lines[0] == COLUMNS
    table = np.loadtxt(lines[1:], delimiter=",", ndmin=2)
    np.testing.assert_array_equal(table[:, 0], [0.0, 0.125, 0.25])
    for row, snapshot in zip(table, ["model.inp", "snap0001.inp", "snap0002.inp"]):
        m, x, v, _ = nbforce.read_model(tmp_path / snapshot)
        c = nbforce.core(m, x, v, eps=eps, pot=nbforce.potential(x, m, eps))
        expected = [*c.centre, c.rc, c.rhoc, c.r01, c.r10, c.r50, c.r90, c.nbin, c.ebin, c.nesc]
        np.testing.assert_allclose(row[1:], expected, rtol=1e-8, atol=1e-12)
        assert (c.nbin, c.nesc) == (1, 1)
        # The shell potential, used without pot, agrees far out.
        assert nbforce.core(m, x, v, eps=eps).nesc == 1


def test_binaries_lists_the_planted_pair():
    m, x, v = planted_model()
    found = nbforce.binaries(m, x, v)
    assert [(b.i, b.j) for b in found] == [(3, 8)]
    b = found[0]
    assert b.a == pytest.approx(1e-3, rel=1e-6)
    assert b.e == pytest.approx(0.5, abs=1e-6)
    assert b.energy == pytest.approx(m[3] * m[8] / 2e-3, rel=1e-6)
    c = nbforce.core(m, x, v)
    assert c.nbin == 1 and c.ebin == b.energy
    assert c.kT == pytest.approx(reference.systems_kT(m, x, v), rel=1e-12)


@pytest.mark.parametrize("call, error, text", [
    (lambda m, x, v: nbforce.core(m[:6], x[:6], v[:6]), ValueError, "more than 6"),
    (lambda m, x, v: nbforce.core(m, x, v, eps=-1), ValueError, "eps"),
    (lambda m, x, v: nbforce.core(m, x, v, pot=np.zeros(3)), ValueError, "pot"),
    (lambda m, x, v: nbforce.core(m, x[:5], v), ValueError, "x"),
    (lambda m, x, v: nbforce.binaries(m, x, v, eps="1"), TypeError, "eps"),
    (lambda m, x, v: nbforce.core(np.zeros_like(m), x, v), ValueError, "mass"),
])
def test_refusals(call, error, text):
    m, x, v = nbforce.plummer(count=64)
    with pytest.raises(error, match=text):
        call(m, x, v)


def coincident(x, pairs):
    x = x.copy()
    for i, j in pairs:
        x[j] = x[i]
    return x


@pytest.mark.parametrize("call", [
    # Two particles at one point, unsoftened: an infinite binding energy.
    lambda m, x, v: nbforce.binaries(m, coincident(x, [(3, 8)]), v),
    lambda m, x, v: nbforce.core(m, coincident(x, [(3, 8)]), v),
    # Every particle at one point.
    lambda m, x, v: nbforce.core(m, np.zeros_like(x), v),
])
def test_results_that_are_not_finite_raise(call):
    m, x, v = planted_model()
    with pytest.raises(RuntimeError, match="not finite"):
        call(m, x, v)
    # Softened, the same points give finite results.
    assert np.isfinite(nbforce.core(m, coincident(x, [(3, 8)]), v, eps=1e-3).ebin)


def test_integrator_refuses_core_history_it_cannot_give(tmp_path):
    m, x, v = nbforce.plummer(count=6)
    nbforce.write_model(tmp_path / "six.inp", m, x, v)
    run = subprocess.run([program("NBFORCE_HERMITE4"), "six.inp", "--t-end", "0.125", "--energy",
                          "", "--core", "core.csv"], cwd=tmp_path, capture_output=True, text=True)
    assert run.returncode == 1
    assert "more than 6 particles" in run.stderr
    assert not (tmp_path / "core.csv").exists()
    m, x, v = nbforce.plummer(count=64)
    nbforce.write_model(tmp_path / "model.inp", m, x, v)
    run = subprocess.run([program("NBFORCE_HERMITE4"), "model.inp", "--t-end", "0.125",
                          "--energy", "", "--core", str(tmp_path / "no" / "core.csv")],
                         cwd=tmp_path, capture_output=True, text=True)
    # Refused before the start-up, like every other output of the run.
    assert run.returncode == 1
    assert "--core" in run.stderr and "cannot be used" in run.stderr
