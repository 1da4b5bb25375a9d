"""External fields in the Python package: the Jacobi radius against King's
formula, a lone star in Hill's field against scipy's integration of Hill's
equations, the energy balance of a cluster, and refused fields."""

import numpy as np
import pytest
from scipy.integrate import solve_ivp

import nbforce

POINT_MASS = {"galaxy": "point-mass:1e11", "orbit": 4, "mass": 1e4, "radius": 2}


def test_jacobi_radius_of_a_point_mass_galaxy():
    # R (m / 3 M)^(1/3): R = 4 kpc = 2000 length units, M = 1e11 / 1e4.
    expected = 2000.0 * (1.0 / 3e7) ** (1.0 / 3.0)
    assert nbforce.jacobi_radius(POINT_MASS) == pytest.approx(expected, rel=1e-12)
    assert nbforce.jacobi_radius(dict(POINT_MASS, tides="exact"), m=0.5) == pytest.approx(
        expected * 0.5 ** (1.0 / 3.0), rel=1e-9)
    assert nbforce.jacobi_radius("--omega 0.1", m=2.0) == pytest.approx(
        (2.0 / 0.03) ** (1.0 / 3.0), rel=1e-12)
    # A flat rotation curve: omega = V / R, d2phi/dR2 = -V^2 / R^2, so
    # r_J^3 = m R^2 / (2 V^2) (here with a core of 1e-6 kpc, negligible).
    v_unit = np.sqrt(4.300917270e-3 * 1e4 / 2.0)  # km/s of the N-body unit
    v0, r = 200.0 / v_unit, 4000.0 / 2.0
    got = nbforce.jacobi_radius({"galaxy": "logarithmic:200,1e-6,1", "orbit": 4, "mass": 1e4,
                                 "radius": 2})
    assert got == pytest.approx((r * r / (2 * v0 * v0)) ** (1.0 / 3.0), rel=1e-6)


def hill(t, y, w):
    x, yy, z, vx, vy, vz = y
    return [vx, vy, vz, 3 * w * w * x + 2 * w * vy, -2 * w * vx, -w * w * z]


@pytest.mark.parametrize("order", [4, 8])
def test_lone_star_follows_hill_equations(order):
    w = 0.1
    x0, v0 = [1.0, 0.0, 0.2], [0.0, 0.05, 0.02]
    h = nbforce.Hermite([1e-3], [x0], [v0], order=order, dt_max=0.125, field={"omega": w})
    h.advance(4.0)
    ref = solve_ivp(hill, (0.0, 4.0), x0 + v0, args=(w,), rtol=1e-12, atol=1e-14)
    assert np.allclose(h.x[0], ref.y[:3, -1], rtol=0, atol=1e-8)
    assert np.allclose(h.v[0], ref.y[3:, -1], rtol=0, atol=1e-8)
    # The Jacobi integral: v^2 / 2 - 3/2 w^2 x^2 + 1/2 w^2 z^2, times m.
    kinetic, potential, field = h.energy()
    x, v = ref.y[:3, -1], ref.y[3:, -1]
    assert potential == 0.0
    assert kinetic + field == pytest.approx(
        1e-3 * (0.5 * v @ v - 1.5 * w * w * x[0] ** 2 + 0.5 * w * w * x[2] ** 2), rel=1e-9)


def test_cluster_energy_balance_in_fields():
    m, x, v = nbforce.plummer(count=128, seed=5)
    h = nbforce.Hermite(m, x, v, field=POINT_MASS, energy_limit=1e-6, on_energy_limit="raise")
    assert len(h.energy()) == 3
    assert h.jacobi_radius() == pytest.approx(nbforce.jacobi_radius(POINT_MASS), rel=1e-12)
    h.advance(0.5)
    assert h.energy_error < 1e-6
    assert h.work == 0.0
    # A general orbit: the field changes and does work, booked in the balance.
    orbit = {"galaxy": "hernquist:1e10,0.7+miyamoto-nagai:6.8e10,3,0.28",
             "orbit_state": [4, 0, 0.3, 0, 200, 20], "mass": 1e4, "radius": 2}
    g = nbforce.Hermite(m, x, v, order=8, field=orbit, energy_limit=1e-6,
                        on_energy_limit="raise")
    g.advance(0.5)
    assert g.work != 0.0
    assert g.energy_error < 1e-6
    # Without a field, two terms as before.
    assert len(nbforce.Hermite(m, x, v).energy()) == 2


@pytest.mark.parametrize("field, message", [
    ({"omega": 0.1, "escapers": "esc.csv"}, "keeps every star"),
    ("--omega 0.1 --escape-radius 3", "keeps every star"),
    ("--omega", "needs"),
    ("--omega 0.1 --eps 1", "not a field option"),
    ({"galaxy": "point-mass:1e11", "orbit": 4}, "--mass"),
    ("--omega 5", "half-mass radius"),
])
def test_refused_fields(field, message):
    m, x, v = nbforce.plummer(count=64, seed=1)
    with pytest.raises(ValueError, match=message):
        nbforce.Hermite(m, x, v, field=field)


def test_refused_field_types():
    with pytest.raises(TypeError):
        nbforce.jacobi_radius(0.1)
    with pytest.raises(ValueError):
        nbforce.jacobi_radius("")
