"""Collisional diagnostics of a star cluster: density centre, core radius
and density, radii about the density centre, hard binaries and escapers.

Definitions (G = 1, m the mean particle mass):
  rho_i = 5 m / (4/3 pi r6_i^3), r6_i the distance to the 6th nearest other
  particle; density centre x_d = sum rho_i x_i / sum rho_i; core radius
  r_c = sqrt(sum rho_i |x_i - x_d|^2 / sum rho_i); core density
  rho_c = sum rho_i^2 / sum rho_i; radii about x_d holding 1, 10, 50 and 90%
  of the mass; kT = 2/3 of the mean kinetic energy per particle (centre-of-
  mass frame); a hard binary is a pair of mutual nearest neighbours whose
  binding energy m1 m2 / sqrt(r^2 + eps^2) - mu v^2 / 2 exceeds kT; an
  escaper lies farther than 20 half-mass radii from x_d with positive
  energy v^2 / 2 + phi in the cluster's potential phi.
"""

import collections
import numbers

import numpy as np

from . import _diagnostics

Core = collections.namedtuple(
    "Core", ["centre", "rc", "rhoc", "r01", "r10", "r50", "r90", "nbin", "ebin", "nesc", "kT"])
Core.__doc__ = """Core diagnostics of one snapshot (see nbforce.core)."""

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


def _run(m, x, v, eps, pot, checks):
    masses, vectors, real_array = checks
    m = masses(m)
    n = m.shape[0]
    x = vectors(x, n, "x")
    v = vectors(v, n, "v")
    if pot is not None:
        pot = real_array(pot, "pot")
    return _diagnostics.core(m, x, v, _eps(eps), pot)


def _finite(what, *values):
    """RuntimeError where a result is not finite: coincident particles with
    eps = 0 have an infinite binding energy and density, which no record
    could stand for."""
    for value in values:
        if not np.all(np.isfinite(np.asarray(value, dtype=float))):
            raise RuntimeError(f"the {what} are not finite (particles at one point with eps = 0?); "
                               "give eps > 0 or separate the particles")


def core(m, x, v, eps, pot, checks):
    values, _ = _run(m, x, v, eps, pot, checks)
    centre, rc, rhoc, radii, nbin, ebin, nesc, kT = values
    _finite("core diagnostics", centre, rc, rhoc, radii, ebin, kT)
    return Core(centre, rc, rhoc, *(float(r) for r in radii), nbin, ebin, nesc, kT)


def binaries(m, x, v, eps, checks):
    _, (i, j, a, e, energy) = _run(m, x, v, eps, None, checks)
    _finite("binaries' elements", a, e, energy)
    return [Binary(int(i[k]), int(j[k]), float(a[k]), float(e[k]), float(energy[k]))
            for k in range(len(i))]
