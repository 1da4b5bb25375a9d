"""Bad input raises ValueError or TypeError with a message naming the fault,
and never reaches the libraries."""

import numpy as np
import pytest

import nbforce

N = 4
X = np.arange(3.0 * N).reshape(N, 3)
V = np.zeros((N, 3))
M = np.full(N, 0.25)


def with_nan(a):
    a = a.copy()
    a.flat[1] = np.nan
    return a


@pytest.mark.parametrize("call, error, message", [
    (lambda: nbforce.forces(X[:3], V, M, 0.1), ValueError, r"x must have shape \(4, 3\)"),
    (lambda: nbforce.forces(X, V.T, M, 0.1), ValueError, "v must have shape"),
    (lambda: nbforce.forces(X, V, M.reshape(2, 2), 0.1), ValueError, r"m must have shape \(n,\)"),
    (lambda: nbforce.forces(with_nan(X), V, M, 0.1), ValueError, "x holds values that are not finite"),
    (lambda: nbforce.forces(X, V + np.inf, M, 0.1), ValueError, "not finite"),
    (lambda: nbforce.forces(X, V, -M, 0.1), ValueError, "negative masses"),
    (lambda: nbforce.forces(X, V, M, -1.0), ValueError, "eps must be positive"),
    (lambda: nbforce.forces(X, V, M, np.nan), ValueError, "eps must be positive"),
    (lambda: nbforce.forces(X, V, M, 1e-30), ValueError, "found 1e-30"),  # eps^2 is 0 as a float
    (lambda: nbforce.forces(X, V, M[:3], 0.1), ValueError, "x has 4 rows but m has 3 masses"),
    (lambda: nbforce.Hermite(M[:3], X, V), ValueError, "x has 4 rows but m has 3 masses"),
    (lambda: nbforce.Hermite(M, X, V, dt_max=0.1), ValueError, "found 0.1$"),
    (lambda: nbforce.forces(X, V, M, "0.1"), TypeError, "eps must be a real number"),
    (lambda: nbforce.forces(X, V, M, 0.1, order=5), ValueError, "order must be 4, 6 or 8"),
    (lambda: nbforce.forces(X, V, M, 0.1, order=4.0), TypeError, "order must be 4, 6 or 8"),
    (lambda: nbforce.forces(X, V, M, 0.1, order=6), TypeError, "order 6 needs a="),
    (lambda: nbforce.forces(X, V, M, 0.1, order=8, a=V), TypeError, "order 8 needs j="),
    (lambda: nbforce.forces(X, V, M, 0.1, a=V), TypeError, "order 4 takes no a="),
    (lambda: nbforce.forces(X, V, M, 0.1, order=6, a=V[:2]), ValueError, "a must have shape"),
    (lambda: nbforce.forces(X, V, M, 0.1, i=[4]), ValueError, "index 4, outside 0 .. 3"),
    (lambda: nbforce.forces(X, V, M, 0.1, i=[-1]), ValueError, "index -1"),
    (lambda: nbforce.forces(X, V, M, 0.1, i=[0.5]), TypeError, "integer indices"),
    (lambda: nbforce.forces(X.astype(str), V, M, 0.1), TypeError, "real numbers"),
    (lambda: nbforce.potential(X, M[:3], 0.1), ValueError, r"x must have shape \(3, 3\)"),
    (lambda: nbforce.plummer(1, 0), ValueError, "np_ must not be 0"),
    (lambda: nbforce.plummer(5000, 1), ValueError, "exceed the capacity"),
    (lambda: nbforce.plummer(1, 2000), ValueError, "no particles"),
    (lambda: nbforce.plummer(-1, 1), ValueError, "n must not be negative"),
    (lambda: nbforce.plummer(1, -2), ValueError, "np_ must not be negative"),
    (lambda: nbforce.plummer(count=0), ValueError, "count must lie in 1 .. 4194304"),
    (lambda: nbforce.plummer(count=100.0), TypeError, "count must be an integer"),
    (lambda: nbforce.plummer(1, count=100), TypeError, "either count= or"),
    (lambda: nbforce.plummer(2**31, 1), ValueError, "32-bit"),
    (lambda: nbforce.plummer(1.5), TypeError, "n must be an integer"),
    (lambda: nbforce.plummer(1, 1, seed=-1), ValueError, "seed"),
    (lambda: nbforce.Hermite(M, X, V, order=7), ValueError, "order must be 4, 6 or 8"),
    (lambda: nbforce.Hermite(M, X, V, eps=-0.5), ValueError, "eps must be positive"),
    (lambda: nbforce.Hermite(M, X, V, dt_max=0.1), ValueError, "dt_max must be a power of two"),
    (lambda: nbforce.Hermite(M, X, V, eta=-1), ValueError, "eta must be positive"),
    (lambda: nbforce.Hermite(M, X, V, eta=1e9), ValueError, "eta must not exceed 1"),
    (lambda: nbforce.Hermite(M, X, V, energy_limit=-1), ValueError, "energy_limit"),
    (lambda: nbforce.Hermite(M, X, V, on_energy_limit="x"), ValueError, "on_energy_limit"),
    (lambda: nbforce.Hermite(np.zeros(0), X[:0], V[:0]), ValueError, "no particles"),
    (lambda: nbforce.Hermite(-M, X, V), ValueError, "negative masses"),
    (lambda: nbforce.Hermite(M, with_nan(X), V), ValueError, "not finite"),
    (lambda: nbforce.write_model("unused.inp", M * 0, X, V), ValueError, "positive masses"),
    (lambda: nbforce.lagrangian_radii(M, X, [0.5, 0.1]), ValueError, "ascending"),
])
def test_refused(call, error, message):
    with pytest.raises(error, match=message):
        call()


def test_the_modules_check_shapes_themselves():
    # Called directly, past the package's checks, they still refuse rather
    # than read past an array.
    from nbforce import _order6
    with pytest.raises(ValueError, match="x must have shape"):
        _order6.forces(X[:2], V, M, 0.1, np.arange(N), V, None)
    with pytest.raises(ValueError, match="outside"):
        _order6.forces(X, V, M, 0.1, np.array([9]), V, None)
    with pytest.raises(TypeError, match="order 6 needs a="):
        _order6.forces(X, V, M, 0.1, np.arange(N), None, None)


def test_advance_refuses_times_off_the_block_grid_and_going_back():
    h = nbforce.Hermite(M, X, V + 0.01, dt_max=0.125)
    with pytest.raises(ValueError, match="multiple of dt_max"):
        h.advance(0.1)
    h.advance(0.25)
    with pytest.raises(ValueError, match="already at t = 0.25"):
        h.advance(0.125)
    with pytest.raises(TypeError):
        h.advance("1")
    assert h.t == 0.25


def test_model_files(tmp_path):
    with pytest.raises(FileNotFoundError):
        nbforce.read_model(tmp_path / "missing.inp")
    bad = tmp_path / "bad.inp"
    bad.write_text("0000 \n000002 \n0.0 \n000000 1.0 0 0 0 0 0 0 \n")
    with pytest.raises(ValueError, match="bad.inp:5: the file ends after 1 of 2 particle lines"):
        nbforce.read_model(bad)
    with pytest.raises(OSError, match="cannot create"):
        nbforce.write_model(tmp_path / "no" / "such" / "dir.inp", M, X, V)


PM, PX, PV = nbforce.plummer(count=256)


@pytest.mark.parametrize("order", [4, 6, 8])
def test_an_eps_too_small_for_single_precision_is_refused(order):
    # Its square is a normal float, but a particle's own term m/eps^3
    # overflows, which made every force NaN.
    acc = {} if order == 4 else {"a": PV}
    if order == 8:
        acc["j"] = PV
    with pytest.raises(ValueError, match=r"eps = 1e-14 is too small for single precision: "
                       r"m/eps\^3 = .* overflows a float"):
        nbforce.forces(PX, PV, PM, 1e-14, order=order, **acc)
    with pytest.raises(ValueError, match="its square underflows"):
        nbforce.forces(PX, PV, PM, 1e-20, order=order, **acc)
    with pytest.raises(ValueError, match="too small for single precision"):
        nbforce.Hermite(PM, PX, PV, order=order, eps=1e-14)
    # Against coordinates of 3e9 an eps of 1e-5 is lost in the spacing of the
    # double-single positions, 2^-46 * 3e9 = 4e-5.
    with pytest.raises(ValueError, match="vanishes against the positions"):
        nbforce.forces(PX * 1e8, PV, PM, 1e-5, order=order, **acc)
    # At their own scale, coordinates up to about 29, an eps of 1e-5 passes
    # and gives finite forces.
    assert all(np.all(np.isfinite(r)) for r in nbforce.forces(PX, PV, PM, 1e-5, order=order, **acc))


def test_unsoftened_particles_at_one_point_are_refused():
    x = np.array(PX[:8])
    x[5] = x[2]
    with pytest.raises(ValueError, match=r"particles 2 and 5 \(counted from 0\) at one position"):
        nbforce.Hermite(PM[:8], x, PV[:8], order=4, eps=0.0)


def test_the_potential_refuses_the_same_eps():
    with pytest.raises(ValueError, match="too small for single precision"):
        nbforce.potential(PX, PM, 1e-14)


@pytest.mark.parametrize("call, name", [
    (lambda: nbforce.forces(X * 1e38, V, M, 0.1), "x"),
    (lambda: nbforce.forces(X, V, M * 1e40, 0.1), "m"),
    (lambda: nbforce.forces(X, V - 1e39, M, 0.1), "v"),
    (lambda: nbforce.forces(X, V, M, 0.1, order=6, a=V + 1e39), "a"),
    (lambda: nbforce.potential(X, M * 1e40, 0.1), "m"),
    (lambda: nbforce.potential(X * -1e38, M, 0.1), "x"),
    (lambda: nbforce.Hermite(M, X * 1e38, V), "x"),
])
def test_values_beyond_the_float_range_are_refused(call, name):
    # Once NaN forces without a word, and calc_pot left such a particle out.
    with pytest.raises(ValueError, match=f"{name} holds .* beyond the single-precision range"):
        call()


def test_results_that_are_not_finite_raise():
    # Two heavy particles one unit apart, one moving at 1e20: the jerk
    # m v / r^3 = 1e50 overflows the library's float sums.
    m = np.array([1e30, 1e30])
    x = np.array([[0.0, 0, 0], [1.0, 0, 0]])
    v = np.array([[0.0, 0, 0], [0.0, 1e20, 0]])
    with pytest.raises(RuntimeError, match="forces with values that are not finite"):
        nbforce.forces(x, v, m, 0.1)
    # Twenty masses of 5e37 within 0.02 of each other: each potential sums
    # to about -1e39, beyond the float range of the library's sums.
    crowd = np.zeros((20, 3))
    crowd[:, 0] = np.arange(20) * 1e-3
    with pytest.raises(RuntimeError, match="potentials with values that are not finite"):
        nbforce.potential(crowd, np.full(20, 5e37), 1.0)


def test_doubtful_steps_and_energy_errors_are_not_silent():
    m, x, v = nbforce.plummer(count=32, seed=3)
    with pytest.warns(UserWarning, match=r"more than 4 times the order-4 default 0.01 \(above 0.04\)"):
        nbforce.Hermite(m, x, v, eta=0.5)
    # Any run's energy drifts by more than 1e-15 of itself: past the limit.
    h = nbforce.Hermite(m, x, v, energy_limit=1e-15)
    with pytest.warns(RuntimeWarning, match="exceeds energy_limit 1e-15"):
        h.advance(0.125)
    assert h.energy_error > 1e-15
    h = nbforce.Hermite(m, x, v, energy_limit=1e-15, on_energy_limit="raise")
    with pytest.raises(RuntimeError, match="relative energy error .* exceeds energy_limit"):
        h.advance(0.125)
    assert h.t == 0.125  # the integrator stands at the time reached and may go on
    with pytest.raises(RuntimeError, match="at t = 0.25 exceeds"):
        h.advance(0.25)
    assert h.t == 0.25
