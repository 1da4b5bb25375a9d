"""Forces and potentials of the three libraries against numpy direct sums."""

import numpy as np
import pytest

import nbforce
import reference

EPS = 0.05


@pytest.fixture(scope="module")
def system():
    x, v, m, a, j = reference.cloud(300, seed=7)
    ref, scale = reference.derivatives(x, v, m, EPS, a, j)
    return x, v, m, a, j, ref, scale


def call(order, x, v, m, a, j, i=None):
    extra = {6: {"a": a}, 8: {"a": a, "j": j}}.get(order, {})
    return nbforce.forces(x, v, m, EPS, order=order, i=i, **extra)


def check(order, result, ref, scale, rows=slice(None)):
    assert len(result) == order // 2
    # Acceleration in double-single; the derivatives are plain float sums.
    tolerance = (1e-6, 5e-6, 1e-5, 2e-5)
    for k, got in enumerate(result):
        err = np.abs(got - ref[k][rows]).max(axis=1) / scale[k][rows]
        assert err.max() < tolerance[k], f"order {order}, derivative {k}: {err.max():.2e}"


def test_orders_one_after_another_in_one_process(system):
    x, v, m, a, j, ref, scale = system
    # Each module calls its own library's calc_force; a call landing in
    # another order's library would read records of the wrong size.
    for order in (4, 6, 8, 4, 8, 6):
        check(order, call(order, x, v, m, a, j), ref, scale)


def test_subset_of_particles_in_any_order_with_repeats(system):
    x, v, m, a, j, ref, scale = system
    rows = np.array([299, 0, 17, 17, 150])
    for order in (4, 6, 8):
        result = call(order, x, v, m, a, j, i=rows)
        assert all(r.shape == (5, 3) for r in result)
        check(order, result, ref, scale, rows)
    assert all(r.shape == (0, 3) for r in call(8, x, v, m, a, j, i=np.array([], dtype=int)))


def test_a_particle_does_not_act_on_itself():
    # Two bodies: each feels only the other, m_other d / (d^2 + eps^2)^1.5.
    x = np.array([[0.0, 0.0, 0.0], [1.0, 0.0, 0.0]])
    m = np.array([1.0, 2.0])
    acc, jrk = nbforce.forces(x, np.zeros((2, 3)), m, EPS)
    s = (1 + EPS * EPS) ** -1.5
    np.testing.assert_allclose(acc, [[2 * s, 0, 0], [-s, 0, 0]], rtol=1e-6)
    assert np.all(jrk == 0)


def test_far_from_the_origin_the_separation_keeps_its_bits():
    # Positions near 1000 differ by 1e-3: single floats would keep three
    # digits of the separation, the double-single split keeps it whole.
    offset = np.array([1000.0, -1000.0, 1000.0])
    x = np.array([[0.0, 0.0, 0.0], [1e-3, 2e-3, -1e-3]]) + offset
    m = np.array([0.5, 0.5])
    acc, _ = nbforce.forces(x, np.zeros((2, 3)), m, 1e-4)
    ref, _ = reference.derivatives(x, np.zeros((2, 3)), m, 1e-4)
    np.testing.assert_allclose(acc, ref[0], rtol=1e-5)


def test_potential(system):
    x, _, m, _, _, _, _ = system
    pot = nbforce.potential(x, m, EPS)
    ref = reference.potential(x, m, EPS)
    assert pot.shape == (300,)
    np.testing.assert_allclose(pot, ref, rtol=1e-6)


def test_empty_system():
    empty = np.zeros((0, 3))
    assert nbforce.forces(empty, empty, np.zeros(0), EPS)[0].shape == (0, 3)
    assert nbforce.potential(empty, np.zeros(0), EPS).shape == (0,)
