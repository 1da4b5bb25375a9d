"""The Hermite integrator of each order against a two-body orbit solved from
Kepler's equation, its energy against a direct sum, and a Plummer run
against the integrator program run on the same model."""

import subprocess

import numpy as np
import pytest

import nbforce
import reference
from conftest import program

A, E, M = 1.0, 0.5, np.array([0.5, 0.5])
EPS = 1e-5  # a softening that changes the orbit far less than the tolerances


def binary(t):
    """Both bodies about their centre of mass at the origin."""
    r, u = reference.kepler(A, E, M.sum(), t)
    return np.array([-0.5 * r, 0.5 * r]), np.array([-0.5 * u, 0.5 * u])


@pytest.mark.parametrize("order", [4, 6, 8])
def test_kepler_orbit(order):
    x0, v0 = binary(0.0)
    h = nbforce.Hermite(M, x0, v0, order=order, eps=EPS, dt_max=0.25)
    kinetic, potential = h.energy()
    assert kinetic == pytest.approx(0.5 * np.sum(M * np.sum(v0 * v0, axis=1)), rel=1e-15)
    assert potential == pytest.approx(-0.25 / np.sqrt(np.sum((x0[1] - x0[0]) ** 2) + EPS ** 2),
                                      rel=1e-6)
    e0 = kinetic + potential
    for t in (0.25, 1.0, 4.0):  # past two pericentre passages (period 2 pi)
        h.advance(t)
        assert h.t == t
        x, v = binary(t)
        assert np.abs(h.x - x).max() < 1e-5, f"order {order}, t = {t}"
        assert np.abs(h.v - v).max() < 1e-5
    assert abs(sum(h.energy()) / e0 - 1) < 1e-6
    assert h.steps > 0 and h.block_steps > 0 and h.dt.shape == (2,)


def test_model_time_is_kept():
    x0, v0 = binary(0.0)
    h = nbforce.Hermite(M, x0, v0, eps=EPS, dt_max=0.125, t=10.0)
    assert h.t == 10.0
    h.advance(10.5)
    assert h.t == 10.5
    assert np.abs(h.x - binary(0.5)[0]).max() < 1e-5


def test_state_is_a_copy():
    x0, v0 = binary(0.0)
    h = nbforce.Hermite(M, x0, v0, eps=EPS)
    h.x[0, 0] = 99.0
    x0[0, 0] = 99.0
    assert h.x[0, 0] == binary(0.0)[0][0, 0]


@pytest.mark.full
@pytest.mark.parametrize("order", [4, 6, 8])
def test_plummer_run_is_the_programs_run(tmp_path, order):
    """With no eta given, each order takes the program's own default, which
    the program's header line names."""
    subprocess.run([program("NBFORCE_PLUMMER_GEN"), "1", "1"], cwd=tmp_path, check=True,
                   stdout=subprocess.DEVNULL)
    run = subprocess.run([program("NBFORCE_HERMITE%d" % order), "--t-end", "0.25", "--energy", "e.csv",
                          "--snapshots", "snap"], cwd=tmp_path, check=True, capture_output=True, text=True)
    assert f"eta = {nbforce.default_eta(order):g}," in run.stdout
    m, x, v, t = nbforce.read_model(tmp_path / "data.inp")
    h = nbforce.Hermite(m, x, v, order=order)  # the programs' defaults
    e0 = sum(h.energy())
    h.advance(0.25)
    _, x_prog, v_prog, t_prog = nbforce.read_model(tmp_path / "snap0002.inp")
    assert t_prog == h.t == 0.25
    # The same integrator on the same library: the same doubles.
    np.testing.assert_array_equal(h.x, x_prog)
    np.testing.assert_array_equal(h.v, v_prog)
    assert abs(sum(h.energy()) / e0 - 1) < 1e-7
    assert h.steps == int(np.loadtxt(tmp_path / "e.csv", delimiter=",", skiprows=1)[-1, 5])


@pytest.mark.parametrize("order", [4, 6, 8])
def test_resident_particles_give_the_same_bits(order):
    """Two resident integrators of one order interleaved, which take the
    library's slots from each other at every call, against the plain path:
    the same states, bit for bit."""
    m, x, v = nbforce.plummer(count=100, seed=5)
    m2, x2, v2 = nbforce.plummer(count=60, seed=6)
    plain = nbforce.Hermite(m, x, v, order=order)
    plain2 = nbforce.Hermite(m2, x2, v2, order=order)
    one = nbforce.Hermite(m, x, v, order=order, resident=True)
    two = nbforce.Hermite(m2, x2, v2, order=order, resident=True)
    for t in (0.125, 0.25):
        for h in (plain, one, two, plain2):
            h.advance(t)
    assert np.array_equal(one.x, plain.x) and np.array_equal(one.v, plain.v)
    assert np.array_equal(two.x, plain2.x) and np.array_equal(two.v, plain2.v)
    assert one.steps == plain.steps and two.block_steps == plain2.block_steps
    with pytest.raises(TypeError):
        nbforce.Hermite(m, x, v, order=order, resident="yes")
