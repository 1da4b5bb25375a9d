"""Collisional diagnostics of a star cluster: density centre, core radius
and density, radii about the density centre, hard binaries and escapers.

Definitions (G = 1):
  rho_i = M5_i / (4/3 pi r6_i^3), r6_i the distance to the 6th nearest other
  particle and M5_i the mass of the five nearer ones (5 m for equal masses
  m); density centre x_d = sum rho_i x_i / sum rho_i; core radius
  r_c = sqrt(sum rho_i |x_i - x_d|^2 / sum rho_i); core density
  rho_c = sum rho_i^2 / sum rho_i; radii about x_d holding 1, 10, 50 and 90%
  of the mass; systems: the particles, with each bound pair of mutual
  nearest neighbours counted as one at its centre of mass; kT = 2/3 of the
  systems' kinetic energy (centre-of-mass frame) over their number; a hard
  binary is a pair of mutual nearest neighbours whose binding energy
  m1 m2 / sqrt(r^2 + eps^2) - mu v^2 / 2 exceeds kT; an
  escaper lies farther than 20 half-mass radii from x_d with positive
  energy v^2 / 2 + phi in the cluster's potential phi.
Mass groups (boundaries b_1 < ... < b_k in units of the mean mass): group g
holds b_g <= m / <m> < b_(g+1); per group the radii about the density centre
holding 10 and 50% of the group's mass, and the mean mass of its members
inside the first.
"""

import collections
import numbers

import numpy as np

from . import _diagnostics

Core = collections.namedtuple(
    "Core",
    ["centre", "rc", "rhoc", "r01", "r10", "r50", "r90", "nbin", "ebin", "nesc", "kT", "groups"],
    defaults=((),))
Core.__doc__ = """Core diagnostics of one snapshot (see nbforce.core)."""

Group = collections.namedtuple("Group", ["count", "r10", "r50", "m10"])
Group.__doc__ = """A mass group's members, radii holding 10 and 50% of its mass about the
density centre, and the mean mass of its members inside r10 (NaN when empty)."""

Binary = collections.namedtuple("Binary", ["i", "j", "a", "e", "energy"])
Binary.__doc__ = """A hard binary: indices i < j, semi-major axis a, eccentricity e and
binding energy (positive)."""


def _eps(value):
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"eps must be a real number, found {value!r}")
    value = float(value)
    if not (value >= 0 and np.isfinite(value)):
        raise ValueError(f"eps must be finite and not negative, found {value}")
    return value


def mass_group_bounds(bounds):
    """Boundaries as a list of floats: positive, finite and increasing."""
    if bounds is None:
        return []
    b = np.asarray(bounds, dtype=float).ravel()
    if b.size == 0 or np.any(~np.isfinite(b)) or np.any(b <= 0) or np.any(np.diff(b) <= 0):
        raise ValueError("mass group boundaries must be positive, finite and increasing, "
                         f"found {bounds!r}")
    return [float(q) for q in b]


def _run(m, x, v, eps, pot, checks, mass_groups=None):
    masses, vectors, real_array = checks
    m = masses(m)
    n = m.shape[0]
    x = vectors(x, n, "x")
    v = vectors(v, n, "v")
    if pot is not None:
        pot = real_array(pot, "pot")
    return _diagnostics.core(m, x, v, _eps(eps), pot, mass_group_bounds(mass_groups))


def _finite(what, *values):
    """RuntimeError where a result is not finite: coincident particles with
    eps = 0 have an infinite binding energy and density, which no record
    could stand for."""
    for value in values:
        if not np.all(np.isfinite(np.asarray(value, dtype=float))):
            raise RuntimeError(f"the {what} are not finite (particles at one point with eps = 0?); "
                               "give eps > 0 or separate the particles")


def core(m, x, v, eps, pot, checks, mass_groups=None):
    values, _ = _run(m, x, v, eps, pot, checks, mass_groups)
    centre, rc, rhoc, radii, nbin, ebin, nesc, kT, groups = values
    _finite("core diagnostics", centre, rc, rhoc, radii, ebin, kT)
    groups = tuple(Group(int(c), float(r[0]), float(r[1]), float(mean)) for c, r, mean in groups)
    return Core(centre, rc, rhoc, *(float(r) for r in radii), nbin, ebin, nesc, kT, groups)


def group_radii(m, x, bounds, centre, fractions):
    """Radii of each mass group about centre: an array (groups, fractions)."""
    groups = _diagnostics.group_radii(m, x, mass_group_bounds(bounds),
                                      np.asarray(centre, dtype=float), list(fractions))
    return np.array([r for _, r, _ in groups]).reshape(len(groups), len(fractions))


def binaries(m, x, v, eps, checks):
    _, (i, j, a, e, energy) = _run(m, x, v, eps, None, checks)
    _finite("binaries' elements", a, e, energy)
    return [Binary(int(i[k]), int(j[k]), float(a[k]), float(e[k]), float(energy[k]))
            for k in range(len(i))]
