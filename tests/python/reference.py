"""Double-precision direct sums in numpy, written independently of the
libraries: the softened acceleration and its first three time derivatives,
the potential, and two-body orbits from Kepler's equation."""

import numpy as np


def derivatives(x, v, m, eps, a=None, j=None):
    """acc, jrk, snp, crk of every particle from all others, and for each of
    them the sum of the magnitudes of the pair terms (the error scale)."""
    n = len(m)
    a = np.zeros((n, 3)) if a is None else a
    j = np.zeros((n, 3)) if j is None else j
    out = [np.zeros((n, 3)) for _ in range(4)]
    scale = [np.zeros(n) for _ in range(4)]
    for i in range(n):
        others = np.arange(n) != i
        r = x[others] - x[i]
        vr = v[others] - v[i]
        ar = a[others] - a[i]
        jr = j[others] - j[i]
        mj = m[others][:, None]
        r2 = np.sum(r * r, axis=1)[:, None] + eps * eps
        rinv3 = mj / r2 ** 1.5
        alpha = np.sum(r * vr, axis=1)[:, None] / r2
        beta = (np.sum(vr * vr, axis=1)[:, None] + np.sum(r * ar, axis=1)[:, None]) / r2 + alpha ** 2
        gamma = ((3 * np.sum(vr * ar, axis=1)[:, None] + np.sum(r * jr, axis=1)[:, None]) / r2
                 + alpha * (3 * beta - 4 * alpha ** 2))
        acc = rinv3 * r
        jrk = rinv3 * vr - 3 * alpha * acc
        snp = rinv3 * ar - 6 * alpha * jrk - 3 * beta * acc
        crk = rinv3 * jr - 9 * alpha * snp - 9 * beta * jrk - 3 * gamma * acc
        for k, term in enumerate((acc, jrk, snp, crk)):
            out[k][i] = term.sum(axis=0)
            scale[k][i] = np.linalg.norm(term, axis=1).sum()
    return out, scale


def potential(x, m, eps):
    n = len(m)
    pot = np.zeros(n)
    for i in range(n):
        others = np.arange(n) != i
        d = x[others] - x[i]
        pot[i] = -np.sum(m[others] / np.sqrt(np.sum(d * d, axis=1) + eps * eps))
    return pot


def kepler(a, e, total_mass, t):
    """Relative position and velocity of a two-body orbit in the x-y plane,
    semi-major axis a, eccentricity e, at pericentre on the x axis at t = 0."""
    n = np.sqrt(total_mass / a ** 3)
    mean = n * t
    ecc = mean
    for _ in range(100):  # Newton on E - e sin E = M
        ecc = ecc - (ecc - e * np.sin(ecc) - mean) / (1 - e * np.cos(ecc))
    b = a * np.sqrt(1 - e * e)
    pos = np.array([a * (np.cos(ecc) - e), b * np.sin(ecc), 0.0])
    edot = n / (1 - e * np.cos(ecc))
    vel = np.array([-a * np.sin(ecc) * edot, b * np.cos(ecc) * edot, 0.0])
    return pos, vel


def cloud(n, seed):
    """A clumpy cluster: positions, velocities, accelerations and jerks of
    order one, unequal positive masses."""
    rng = np.random.default_rng(seed)
    x = rng.normal(size=(n, 3))
    v = 0.3 * rng.normal(size=(n, 3))
    a = rng.normal(size=(n, 3))
    j = rng.normal(size=(n, 3))
    m = rng.uniform(0.5, 1.5, size=n) / n
    return x, v, m, a, j


def systems_kT(m, x, v, eps=0.0):
    """kT of the core diagnostics from scipy's k-d tree: 2/3 of the kinetic
    energy of the systems (bound pairs of mutual nearest neighbours merged
    into their centres of mass) in the centre-of-mass frame, over their
    number."""
    from scipy.spatial import cKDTree
    _, idx = cKDTree(x).query(x, k=2)
    nearest = idx[:, 1]
    n = len(m)
    i = np.arange(n)
    j = nearest
    mutual = nearest[j] == i
    r = np.linalg.norm(x[j] - x[i], axis=1)
    w2 = ((v[j] - v[i]) ** 2).sum(axis=1)
    mu = m * m[j] / (m + m[j])
    bound = mutual & (m * m[j] / np.sqrt(r * r + eps * eps) > 0.5 * mu * w2)
    vcm = (m[:, None] * v).sum(axis=0) / m.sum()
    u = v - vcm
    kinetic = 0.5 * (m[:, None] * u * u).sum()
    # Each pair's internal kinetic energy leaves the sum (counted once).
    pairs = bound & (i < j)
    kinetic -= (0.5 * mu * w2)[pairs].sum()
    return 2 / 3 * kinetic / (n - pairs.sum())
