"""eps = 0: forces without softening, self terms excluded by index (part of
them computed on the host), and the integrator on an unsoftened orbit."""

import numpy as np
import pytest

import nbforce
import reference


@pytest.mark.parametrize("order", [4, 6, 8])
def test_unsoftened_forces_match_a_direct_sum(order):
    # More particles than one host chunk (256), so that both the library's
    # part and the host's part of every force are exercised.
    x, v, m, a, j = reference.cloud(300, seed=11)
    ref, scale = reference.derivatives(x, v, m, 0.0, a, j)
    extra = {6: {"a": a}, 8: {"a": a, "j": j}}.get(order, {})
    tolerance = (1e-6, 5e-6, 1e-5, 2e-5)
    for rows in (None, np.array([3, 250, 7, 299, 0])):
        got = nbforce.forces(x, v, m, 0.0, order=order, i=rows, **extra)
        sel = slice(None) if rows is None else rows
        for k, result in enumerate(got):
            assert np.all(np.isfinite(result))
            err = np.abs(result - ref[k][sel]).max(axis=1) / scale[k][sel]
            assert err.max() < tolerance[k], f"order {order}, derivative {k}: {err.max():.2e}"
    pot = nbforce.potential(x, m, 0.0)
    ref_pot = reference.potential(x, m, 0.0)
    assert np.abs(pot - ref_pot).max() < 1e-6 * np.abs(ref_pot).max()


@pytest.mark.parametrize("order", [4, 6, 8])
def test_an_unsoftened_binary_follows_keplers_equation(order):
    e, total = 0.9, 1.0
    r, w = reference.kepler(1.0, e, total, 0.0)
    m = np.array([0.5, 0.5])
    x = np.array([-0.5 * r, 0.5 * r])
    v = np.array([-0.5 * w, 0.5 * w])
    h = nbforce.Hermite(m, x, v, order=order, eps=0.0)
    e0 = sum(h.energy())
    h.advance(8.0)
    want, _ = reference.kepler(1.0, e, total, 8.0)
    got = h.x[1] - h.x[0]
    assert np.linalg.norm(got - want) < 1e-4
    assert abs((sum(h.energy()) - e0) / e0) < 1e-6
