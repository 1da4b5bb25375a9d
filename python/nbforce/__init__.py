"""Direct-summation gravitational N-body forces and Hermite integrators.

All arrays are float64 numpy arrays: positions, velocities and the higher
derivatives of shape (n, 3), masses of shape (n,). Other float or integer
arrays are converted. Bad input raises ValueError or TypeError.

The force libraries of orders 4, 6 and 8 run on the host (all cores). A
library that cannot allocate its buffers ends the process, as it does in a
C program; no other failure does.
"""

import numbers
import os
import shlex
import stat
import warnings

import numpy as np

from . import _cluster
from . import _model
from . import _order4
from . import _order6
from . import _order8

__all__ = ["forces", "potential", "plummer", "cluster", "read_model", "write_model", "Hermite", "default_eta",
           "jacobi_radius",
           "lagrangian_radii", "core", "binaries", "Core", "Binary"]

_ORDERS = {4: _order4, 6: _order6, 8: _order8}


def _library(order):
    if isinstance(order, bool) or not isinstance(order, numbers.Integral):
        raise TypeError(f"order must be 4, 6 or 8, found {order!r}")
    if order not in _ORDERS:
        raise ValueError(f"order must be 4, 6 or 8, found {order}")
    return _ORDERS[order]


def _real_array(value, name):
    try:
        a = np.asarray(value)
    except Exception as e:  # objects numpy cannot hold
        raise TypeError(f"{name} must be an array of numbers: {e}") from None
    if a.dtype.kind not in "biuf":
        raise TypeError(f"{name} must hold real numbers, found dtype {a.dtype}")
    a = np.ascontiguousarray(a, dtype=np.float64)
    if not np.all(np.isfinite(a)):
        raise ValueError(f"{name} holds values that are not finite")
    return a


# Largest magnitude the single-precision kernels hold: beyond it a position,
# velocity or mass becomes infinite there and the results NaN.
_FLOAT_MAX = float(np.finfo(np.float32).max)


def _in_float_range(a, name):
    """a itself, refused where a value lies beyond the float range."""
    big = np.abs(a) > _FLOAT_MAX
    if np.any(big):
        raise ValueError(f"{name} holds {a.flat[int(np.argmax(big))]!r}, beyond the "
                         f"single-precision range of the force libraries (|value| <= 3.4e38)")
    return a


def _finite_results(results, what):
    """results, or RuntimeError where the library gave a value that is not finite."""
    for r in results if isinstance(results, tuple) else (results,):
        if not np.all(np.isfinite(r)):
            raise RuntimeError(f"the library gave {what} with values that are not finite; "
                               "the model or eps is beyond what single precision resolves")
    return results


def _masses(m):
    m = _real_array(m, "m")
    if m.ndim != 1:
        raise ValueError(f"m must have shape (n,), found shape {m.shape}")
    if np.any(m < 0):
        raise ValueError(f"m holds negative masses (first at index {int(np.argmax(m < 0))})")
    return m


def _vectors(a, n, name):
    a = _real_array(a, name)
    if a.ndim == 2 and a.shape[1] == 3 and a.shape[0] != n:
        # One of the two is wrong; the count comes from m.
        raise ValueError(f"{name} has {a.shape[0]} rows but m has {n} masses: one mass per "
                         f"particle, and {name} must have shape ({n}, 3)")
    if a.shape != (n, 3):
        raise ValueError(f"{name} must have shape ({n}, 3), found shape {a.shape}")
    return a


def _positive(value, name):
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a real number, found {value!r}")
    value = float(value)
    if not (value > 0 and np.isfinite(value)):
        raise ValueError(f"{name} must be positive and finite, found {value}")
    return value


def _softening(value):
    """eps: positive, or 0 for an unsoftened system."""
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"eps must be a real number, found {value!r}")
    if float(value) == 0.0:
        return 0.0
    return _positive(value, "eps")


def _indices(i, n):
    if i is None:
        return np.arange(n, dtype=np.int64)
    a = np.asarray(i)
    if a.ndim == 0:
        a = a.reshape(1)
    if a.dtype.kind not in "iu" and not (a.size == 0 and a.dtype.kind == "f"):
        raise TypeError(f"i must hold integer indices, found dtype {a.dtype}")
    if a.ndim != 1:
        raise ValueError(f"i must be one-dimensional, found shape {a.shape}")
    a = a.astype(np.int64)
    bad = (a < 0) | (a >= n)
    if np.any(bad):
        raise ValueError(f"i holds index {int(a[bad][0])}, outside 0 .. {n - 1}")
    return a


def forces(x, v, m, eps, order=4, i=None, a=None, j=None):
    """Softened gravitational forces of all particles on the particles of i.

    x, v: positions and velocities (n, 3); m: masses (n,), non-negative;
    eps > 0: Plummer softening length. i: indices of the particles whose
    forces are wanted (default: all). No particle acts on itself.

    order=4 returns (acc, jrk); order=6 needs a= (the accelerations of all
    particles) and returns (acc, jrk, snp); order=8 needs a= and j= (the
    jerks) and returns (acc, jrk, snp, crk). Each result has one row per
    index of i. The library computes in single precision with positions and
    accelerations kept to about 48 bits; jerk and higher carry errors of
    order 1e-5 of the sum of the magnitudes of their pair terms.

    Bad input raises ValueError or TypeError, among it values beyond the
    float range and an eps too small for single precision (its square
    underflows, or vanishes against the positions). Results that are not
    finite raise RuntimeError. A library that cannot allocate its buffers
    ends the process (as in C); nothing else does.
    """
    lib = _library(order)
    m = _in_float_range(_masses(m), "m")
    n = m.shape[0]
    x = _in_float_range(_vectors(x, n, "x"), "x")
    v = _in_float_range(_vectors(v, n, "v"), "v")
    eps = _softening(eps)
    if order >= 6:
        if a is None:
            raise TypeError(f"order {order} needs a=, the accelerations of all particles")
        a = _in_float_range(_vectors(a, n, "a"), "a")
    elif a is not None:
        raise TypeError(f"order {order} takes no a=")
    if order == 8:
        if j is None:
            raise TypeError("order 8 needs j=, the jerks of all particles")
        j = _in_float_range(_vectors(j, n, "j"), "j")
    elif j is not None:
        raise TypeError(f"order {order} takes no j=")
    return _finite_results(lib.forces(x, v, m, eps, _indices(i, n), a, j), "forces")


def potential(x, m, eps):
    """Potential of every particle due to all others, softened with eps > 0.

    Returns pot (n,), pot[i] = -sum_j m_j / sqrt(|x_j - x_i|^2 + eps^2),
    without the particle's own term. The library leaves out every pair whose
    softened r^2 rounds to eps^2 in single precision: besides coincident
    particles, pairs closer than about 2^-12 * eps, whose terms differ from
    -m_j / eps by less than a part in 2^25.

    Masses and positions beyond the float range, and an eps too small for
    single precision, raise ValueError; results that are not finite raise
    RuntimeError.
    """
    m = _in_float_range(_masses(m), "m")
    x = _in_float_range(_vectors(x, m.shape[0], "x"), "x")
    return _finite_results(_order4.potential(x, m, _softening(eps)), "potentials")


def _int32(value, name):
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError(f"{name} must be an integer, found {value!r}")
    if not -2**31 <= value < 2**31:
        raise ValueError(f"{name} = {value} is outside the 32-bit range")
    return int(value)


def plummer(n=None, np_=None, seed=None, count=None):
    """Plummer model in standard units (G = 1, total mass 1): (m, x, v).

    n, np_: plummer_gen's two counts, n * np_ * (1024 // np_) particles
    (default 16 and 1: 16,384 particles); or count: any number of particles
    from 1 to 4,194,304, as plummer_gen -n COUNT. seed: the seed of the C
    library's generator, 0 .. 2**32 - 1 (default plummer_gen's). With
    plummer_gen's arguments and seed the model is its data.inp, bit for bit.
    The centre of mass is at rest at the origin.
    """
    if count is not None:
        if n is not None or np_ is not None:
            raise TypeError("give either count= or the counts n and np_, not both")
        if isinstance(count, bool) or not isinstance(count, numbers.Integral):
            raise TypeError(f"count must be an integer, found {count!r}")
        if not 1 <= count <= _model.capacity:
            raise ValueError(f"count must lie in 1 .. {_model.capacity}, found {count}")
    else:
        n = 16 if n is None else _int32(n, "n")
        np_ = 1 if np_ is None else _int32(np_, "np_")
        count = _model.count_of(n, np_)
    if seed is None:
        seed = _model.default_seed
    elif isinstance(seed, bool) or not isinstance(seed, numbers.Integral):
        raise TypeError(f"seed must be an integer, found {seed!r}")
    elif not 0 <= seed < 2**32:
        raise ValueError(f"seed must lie in 0 .. 2**32 - 1, found {seed}")
    return _model.plummer(int(count), int(seed))


def _option(value, name):
    """A float option, NaN for None (not given)."""
    if value is None:
        return float("nan")
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a number, found {value!r}")
    value = float(value)
    if not np.isfinite(value):
        raise ValueError(f"{name} must be finite, found {value}")
    return value


def cluster(n, seed=None, profile="plummer", w0=6.0, imf="equal", m_min=None, m_max=None,
            binaries=0.0, a_min=1.0, a_max=1000.0, ecc="thermal", virial=0.5, mass=None,
            radius=None, tidal_radius=None):
    """Star-cluster model of cluster_gen: (m, x, v, companion, info).

    The keywords are cluster_gen's options (--m-min is m_min, and so on; None
    for an option not given), and the arrays are the doubles of its file for
    the same options and seed: n stars in standard N-body units, binaries'
    members adjacent, companion[i] the index of star i's companion or -1.
    info: the physical scale (length_pc, mass_msun, time_myr, velocity_kms),
    n_binaries, tidal_radius (N-body units, 0 for Plummer), kT of the
    systems, n_soft and n_overlap. Raises ValueError for options that
    cluster_gen refuses, with its message. See models/README.md.
    """
    if isinstance(n, bool) or not isinstance(n, numbers.Integral):
        raise TypeError(f"n must be an integer, found {n!r}")
    if seed is None:
        seed = _model.cluster_default_seed
    elif isinstance(seed, bool) or not isinstance(seed, numbers.Integral):
        raise TypeError(f"seed must be an integer, found {seed!r}")
    elif not 0 <= seed < 2**64:
        raise ValueError(f"seed must lie in 0 .. 2**64 - 1, found {seed}")
    if not 0 <= n < 2**62:
        raise ValueError(f"n must lie in 2 .. 67108864, found {n}")
    for text, name in ((profile, "profile"), (imf, "imf"), (ecc, "ecc")):
        if not isinstance(text, str):
            raise TypeError(f"{name} must be a string, found {text!r}")
    return _model.cluster(int(n), int(seed), profile, _option(w0, "w0"), imf,
                          _option(m_min, "m_min"), _option(m_max, "m_max"),
                          _option(binaries, "binaries"), _option(a_min, "a_min"),
                          _option(a_max, "a_max"), ecc, _option(virial, "virial"),
                          _option(mass, "mass"), _option(radius, "radius"),
                          _option(tidal_radius, "tidal_radius"))


def read_model(path):
    """Reads a model file, text (data.inp format) or HDF5: (m, x, v, t).

    The format is told by the file's first bytes. Raises OSError for a file
    that cannot be opened and ValueError, naming the line or the dataset,
    for one that is malformed.
    """
    path = os.fspath(path)
    # A FIFO, a socket or a device is refused (ValueError) by the reader
    # before it opens: opening a FIFO would wait for a writer.
    if not os.path.exists(path) or stat.S_ISREG(os.stat(path).st_mode) or os.path.isdir(path):
        with open(path, "rb"):
            pass  # the usual OSError for a missing or unreadable file
    return _model.read_model(path)


def write_model(path, m, x, v, t=0.0, format=None):
    """Writes a model file, text (data.inp format) or HDF5, atomically.

    format: "text", "hdf5", or None for HDF5 where the name ends in .h5 or
    .hdf5 and text otherwise. An HDF5 file holds the datasets mass,
    position, velocity and id and the attributes time, N, G, units and
    number. A regular file is replaced whole and keeps its mode; a symbolic
    link is followed; a FIFO or a device is written in place. Reading it
    back gives the same doubles. Raises OSError when the file cannot be
    written.
    """
    if format not in (None, "text", "hdf5"):
        raise ValueError(f"format must be 'text', 'hdf5' or None, found {format!r}")
    m = _masses(m)
    if m.shape[0] == 0:
        raise ValueError("the model has no particles")
    if np.any(m == 0):
        raise ValueError("model files hold positive masses only")
    n = m.shape[0]
    t = float(_real_array(t, "t"))
    return _model.write_model(os.fspath(path), m, _vectors(x, n, "x"), _vectors(v, n, "v"), t,
                              format or "")


def lagrangian_radii(m, x, fractions=(0.1, 0.5, 0.9), groups=None, centre=None):
    """Radii about the centre of mass holding the given fractions of the mass.

    For each fraction f, the distance of the particle, in order of distance,
    at which the enclosed mass first reaches f times the total.

    groups: mass-group boundaries in units of the mean mass (as the
    integrators' --mass-groups); the result is then an array (groups,
    fractions) of each group's radii holding the fractions of the group's
    own mass, about centre (default the centre of mass; core(...).centre
    gives the --core columns gK_r10, gK_r50). NaN for an empty group.
    """
    m = _masses(m)
    x = _vectors(x, m.shape[0], "x")
    if not m.sum() > 0:
        raise ValueError("the model has no mass")
    f = _real_array(fractions, "fractions")
    if f.ndim != 1 or np.any(f <= 0) or np.any(f > 1) or np.any(np.diff(f) < 0):
        raise ValueError("fractions must be an ascending sequence of numbers in (0, 1]")
    if groups is None:
        if centre is not None:
            raise TypeError("centre applies to the radii of mass groups (groups=)")
        return _model.lagrangian_radii(m, x, f)
    if f.size == 0:
        raise ValueError("give at least one fraction")
    if centre is None:
        centre = (m[:, None] * x).sum(axis=0) / m.sum()
    centre = _real_array(centre, "centre")
    if centre.shape != (3,):
        raise ValueError(f"centre must have shape (3,), found {centre.shape}")
    return _cluster.group_radii(m, x, groups, centre, f)


def default_eta(order=4):
    """The accuracy parameter Hermite (and the programs) use at this order
    when none is given."""
    return _library(order).default_eta


def _field_options(field):
    """The command-line options of a field (fields/README.md, docs/tidal-fields.md)
    from a string ("--omega 0.1"), a list of strings, or a dict whose keys are the
    options without their dashes ({"galaxy": "point-mass:1e11", "orbit": 4,
    "mass": 1e4, "radius": 2}; underscores for hyphens, a list of numbers for
    orbit_state, True for a flag)."""
    if field is None:
        return []
    if isinstance(field, str):
        options = shlex.split(field)
    elif isinstance(field, dict):
        options = []
        for key, value in field.items():
            if not isinstance(key, str):
                raise TypeError(f"field: option names are strings, found {key!r}")
            name = "--" + key.replace("_", "-")
            if value is True:
                options.append(name)
            elif value is False or value is None:
                continue
            elif isinstance(value, (list, tuple, np.ndarray)):
                options += [name, ",".join(repr(float(q)) for q in value)]
            elif isinstance(value, numbers.Real):
                options += [name, repr(float(value))]
            else:
                options += [name, str(value)]
    elif isinstance(field, (list, tuple)) and all(isinstance(a, str) for a in field):
        options = list(field)
    else:
        raise TypeError(f"field must be a string, a list of strings or a dict, found {field!r}")
    if not options:
        raise ValueError("field: no options given")
    return options


def jacobi_radius(field, m=1.0, t=0.0):
    """The Jacobi (tidal) radius of a cluster of mass m (N-body units) at time t
    in the field of the options (as Hermite's field takes them); infinity where
    the field does not bind."""
    return _order4.jacobi_radius(_field_options(field), float(_real_array(m, "m")),
                                 float(_real_array(t, "t")))


class Hermite:
    """Hermite integrator of order 4, 6 or 8 on individual block time steps.

    m, x, v: the model (at least one particle, non-negative masses); eps:
    softening length (0: unsoftened); regularise: close encounters and hard
    binaries as regularised subsystems in double precision (default: on
    where eps is 0, as in the programs; docs/close-encounters.md); rcl: the
    close-encounter distance of a mean-mass pair (default 4 r_h / N); eta: accuracy parameter of the time steps (default:
    the order's own, as in the programs: 0.01, 0.04 and 0.08 at orders 4,
    6 and 8; default_eta(order) tells); dt_max: largest step, a power of
    two; t: the model's time. The start-up forces and steps are computed
    here.

    advance(t) runs block steps to t, where all particles are synchronised;
    t - t0 must be a multiple of dt_max. Ctrl-C (KeyboardInterrupt) is
    answered after the block step under way; the integrator then stands at
    that step, t tells where, and a later advance() goes on from there. A
    failed integration (a step below 2^-40, a force that is not finite)
    raises RuntimeError, and so does every later call.

    resident=True lets the force library keep the particles and predict them
    itself, each block step sending it only the states that changed (the
    same bits as the default where eps > 0; at eps 0 the library leaves
    each particle's own term out by index and the last bits differ;
    docs/resident-particles.md). Integrators of
    one order share the library's slots: one that finds them taken over by
    another loads its states again before its next step.

    eta above 1 is refused (ValueError); above 4 times the order's default
    it draws a UserWarning, since the steps may be too long to trust.

    energy_limit (default 0.01, as in the programs; 0 for none): after each
    advance() the relative energy error |E - E0| / |E0| against the start
    is compared with it; on_energy_limit says what a larger error does:
    "warn" (default: a RuntimeWarning naming the error and the limit) or
    "raise" (RuntimeError; the integrator stands at t and may go on).

    field: an external field (docs/tidal-fields.md), the programs' options as a
    string ("--galaxy point-mass:1e11 --orbit 4 --mass 1e4 --radius 2"), a list
    of strings, or a dict ({"omega": 0.1}); positions and velocities are then
    those of the field's frame about the cluster centre, energy() gains the
    field's potential energy as a third term, work is the work a changing
    field has done, and the energy error is that of sum(energy()) - work.
    Every star is kept (no escapers). ValueError for options that make no
    field or a cluster whose half-mass radius lies outside the Jacobi radius.

    Attributes: t (current time), x, v (copies of the state), steps
    (particle steps so far), block_steps, dt (every particle's step),
    energy_error (the relative energy error after the last advance()).
    """

    def __init__(self, m, x, v, order=4, eps=1 / 64, eta=None, dt_max=0.125, t=0.0,
                 regularise=None, rcl=None, resident=False, energy_limit=0.01,
                 on_energy_limit="warn", field=None):
        lib = _library(order)
        if on_energy_limit not in ("warn", "raise"):
            raise ValueError(f"on_energy_limit must be 'warn' or 'raise', found {on_energy_limit!r}")
        self._energy_limit = float(_real_array(energy_limit, "energy_limit"))
        if not self._energy_limit >= 0 or not np.isfinite(self._energy_limit):
            raise ValueError(f"energy_limit must be a finite number >= 0, found {energy_limit!r}")
        self._on_energy_limit = on_energy_limit
        if eta is None:
            eta = lib.default_eta
        m = _in_float_range(_masses(m), "m")
        self._mass = float(np.sum(m))
        n = m.shape[0]
        if n == 0:
            raise ValueError("the model has no particles")
        x = _in_float_range(_vectors(x, n, "x"), "x")
        v = _in_float_range(_vectors(v, n, "v"), "v")
        eps = _softening(eps)
        eta = _positive(eta, "eta")
        if eta > 1:
            raise ValueError(f"eta must not exceed 1, found {eta:g}: a step would outlast the "
                             "time scale it is taken from")
        if eta > 4 * lib.default_eta:
            warnings.warn(f"eta {eta:g} is more than 4 times the order-{order} default "
                          f"{lib.default_eta:g} (above {4 * lib.default_eta:g}): the steps may be "
                          "too long for the result to be trusted; watch the energy error",
                          UserWarning, stacklevel=2)
        dt_max = _positive(dt_max, "dt_max")
        t = float(_real_array(t, "t"))
        self.order = order
        if regularise is not None and not isinstance(regularise, bool):
            raise TypeError(f"regularise must be True, False or None, found {regularise!r}")
        mode = -1 if regularise is None else int(regularise)
        rcl = 0.0 if rcl is None else _positive(rcl, "rcl")
        if not isinstance(resident, bool):
            raise TypeError(f"resident must be True or False, found {resident!r}")
        options = _field_options(field)
        self._field = bool(options)
        self._impl = lib.Hermite(m, x, v, eps, eta, dt_max, t, mode, rcl, resident, options)
        self.energy_error = 0.0
        self._e0 = self._balance() if self._energy_limit > 0 else 0.0

    def _balance(self):
        return sum(self.energy()) - self.work

    def advance(self, t):
        """Integrates to time t and synchronises all particles there; then
        checks the energy error against energy_limit (see the class)."""
        if isinstance(t, bool) or not isinstance(t, numbers.Real):
            raise TypeError(f"t must be a real number, found {t!r}")
        self._impl.advance(float(t))
        if self._energy_limit > 0 and self._e0 != 0:
            self.energy_error = abs(self._balance() - self._e0) / abs(self._e0)
            if self.energy_error > self._energy_limit:
                text = (f"relative energy error {self.energy_error:.3g} at t = {self.t:g} exceeds "
                        f"energy_limit {self._energy_limit:g}")
                if self._on_energy_limit == "raise":
                    raise RuntimeError(text)
                warnings.warn(text, RuntimeWarning, stacklevel=2)

    def energy(self):
        """(kinetic, potential) of the synchronised system, and with a field the
        field's potential energy sum m phi(x) as a third term (the Jacobi energy
        in a rotating frame is the sum); RuntimeError where the library's
        potential is not finite."""
        kinetic, potential = self._impl.energy()
        _finite_results(np.array([kinetic, potential]), "an energy")
        if not self._field:
            return kinetic, potential
        return kinetic, potential, self._impl.field_energy()

    @property
    def work(self):
        """Work done on the particles by a field that changes with time (0
        otherwise)."""
        return self._impl.work

    def jacobi_radius(self, m=None):
        """The Jacobi radius of mass m (default: the model's) at the current
        time; ValueError without a field."""
        if not self._field:
            raise ValueError("the integrator has no field")
        return self._impl.jacobi_radius(float(self._mass if m is None else m))

    @property
    def t(self):
        return self._impl.t

    @property
    def x(self):
        return self._impl.x

    @property
    def v(self):
        return self._impl.v

    @property
    def steps(self):
        return self._impl.steps

    @property
    def block_steps(self):
        return self._impl.block_steps

    @property
    def dt(self):
        return self._impl.dt


Core = _cluster.Core
Binary = _cluster.Binary
Group = _cluster.Group
_CHECKS = (_masses, _vectors, _real_array)


def core(m, x, v, eps=0.0, pot=None, mass_groups=None):
    """Core diagnostics of a cluster: a Core record.

    Fields: centre (the density centre, (3,)), rc, rhoc, r01, r10, r50, r90
    (radii about the density centre holding 1, 10, 50, 90% of the mass),
    nbin and ebin (count and total binding energy of the hard binaries),
    nesc (escapers), kT. Definitions in nbforce._cluster and the README.

    eps >= 0: the softening of the pair energies and of the potential.
    pot: the potential of every particle (n,), as nbforce.potential or an
    integrator gives it; without it the potential of the few particles
    beyond 20 half-mass radii is summed directly in double precision. Needs
    more than 6 particles and a positive mass (ValueError otherwise).
    mass_groups: boundaries in units of the mean mass, e.g. (0.5, 1, 2, 5),
    as the integrators' --mass-groups (groups from the masses given); the
    field groups then holds one Group(count, r10, r50, m10) per group.
    """
    return _cluster.core(m, x, v, eps, pot, _CHECKS, mass_groups)


def binaries(m, x, v, eps=0.0):
    """The hard binaries of a cluster, in order of i: a list of Binary records
    (i < j, a, e, energy), as counted by nbforce.core."""
    return _cluster.binaries(m, x, v, eps, _CHECKS)
