"""Mass-aware diagnostics: the local density with masses, and the mass
groups of --mass-groups, nbforce.core(mass_groups=) and
nbforce.lagrangian_radii(groups=), against definitions computed here with
numpy and scipy."""

import subprocess

import numpy as np
import pytest
from scipy.spatial import cKDTree

import nbforce
import reference
from conftest import program

BOUNDS = (0.5, 1, 2, 5)
BASE = "time,xd,yd,zd,rc,rhoc,r01,r10,r50,r90,nbin,ebin,nesc"


def group_reference(m, x, bounds, centre, fractions):
    """Per group: count, radii holding the fractions of its mass about
    centre, and the mean mass of its members within the first radius."""
    scaled = m / m.mean()
    edges = np.concatenate([[0.0], bounds, [np.inf]])
    out = []
    for lo, hi in zip(edges[:-1], edges[1:]):
        members = (scaled >= lo) & (scaled < hi)
        if not members.any():
            out.append((0, [np.nan] * len(fractions), np.nan))
            continue
        d = np.linalg.norm(x[members] - centre, axis=1)
        order = np.lexsort((np.flatnonzero(members), d))
        d, mm = d[order], m[members][order]
        total = mm.sum()
        cum = np.cumsum(mm)
        radii = [d[min(np.argmax(cum >= f * total - 1e-15 * total), len(d) - 1)]
                 for f in fractions]
        out.append((members.sum(), radii, mm[d <= radii[0]].mean()))
    return out


@pytest.fixture(scope="module")
def cluster():
    m, x, v, _, _ = nbforce.cluster(1500, seed=4, imf="kroupa", profile="king", w0=7)
    return m, x, v


def test_local_density_weighs_the_five_nearer_masses(cluster):
    m, x, v = cluster
    d, idx = cKDTree(x).query(x, k=7)
    rho = m[idx[:, 1:6]].sum(axis=1) / (4 / 3 * np.pi * d[:, 6] ** 3)
    c = nbforce.core(m, x, v)
    np.testing.assert_allclose(c.centre, (rho[:, None] * x).sum(axis=0) / rho.sum(), rtol=1e-10)
    assert c.rhoc == pytest.approx((rho**2).sum() / rho.sum(), rel=1e-10)
    spread = (rho * ((x - c.centre) ** 2).sum(axis=1)).sum() / rho.sum()
    assert c.rc == pytest.approx(np.sqrt(spread), rel=1e-10)
    assert c.kT == pytest.approx(reference.systems_kT(m, x, v), rel=1e-12)


def test_groups_of_core_and_lagrangian_radii(cluster):
    m, x, v = cluster
    c = nbforce.core(m, x, v, mass_groups=BOUNDS)
    assert len(c.groups) == len(BOUNDS) + 1
    expected = group_reference(m, x, BOUNDS, c.centre, (0.1, 0.5))
    assert sum(g.count for g in c.groups) == len(m)
    for g, (count, radii, mean) in zip(c.groups, expected):
        assert g.count == count
        np.testing.assert_allclose([g.r10, g.r50, g.m10], [*radii, mean], rtol=1e-14)
    radii = nbforce.lagrangian_radii(m, x, (0.1, 0.5), groups=BOUNDS, centre=c.centre)
    np.testing.assert_array_equal(radii, [[g.r10, g.r50] for g in c.groups])
    # About the centre of mass by default, for any fractions.
    cm = (m[:, None] * x).sum(axis=0) / m.sum()
    fractions = (0.02, 0.3, 0.9, 1.0)
    np.testing.assert_allclose(nbforce.lagrangian_radii(m, x, fractions, groups=BOUNDS),
                               [r for _, r, _ in group_reference(m, x, BOUNDS, cm, fractions)],
                               rtol=1e-14)
    # Equal masses: one group holds them all, the radii of all the mass.
    e = np.full(len(m), 1 / len(m))
    only = nbforce.core(e, x, v, mass_groups=(0.5, 2)).groups
    assert [g.count for g in only] == [0, len(m), 0]
    assert np.isnan(only[0].r10) and np.isnan(only[2].m10)


def test_integrator_writes_the_group_columns(tmp_path, cluster):
    m, x, v = cluster
    nbforce.write_model(tmp_path / "model.inp", m, x, v)
    eps = 1e-3
    subprocess.run([program("NBFORCE_HERMITE4"), "model.inp", "--t-end", "0.125", "--eps",
                    str(eps), "--core", "core.csv", "--mass-groups", "0.5,1,2,5", "--snapshots",
                    "snap", "--energy", ""], cwd=tmp_path, check=True, stdout=subprocess.DEVNULL)
    lines = (tmp_path / "core.csv").read_text().splitlines()
    groups = "".join(f",g{k}_r10,g{k}_r50,g{k}_m10" for k in range(5))
    assert lines[0] == BASE + groups
    table = np.loadtxt(lines[1:], delimiter=",", ndmin=2)
    for row, snapshot in zip(table, ["model.inp", "snap0001.inp"]):
        ms, xs, vs, _ = nbforce.read_model(tmp_path / snapshot)
        c = nbforce.core(ms, xs, vs, eps=eps, pot=nbforce.potential(xs, ms, eps),
                         mass_groups=BOUNDS)
        expected = [*c.centre, c.rc, c.rhoc, c.r01, c.r10, c.r50, c.r90, c.nbin, c.ebin, c.nesc]
        for g in c.groups:
            expected += [g.r10, g.r50, g.m10]
        np.testing.assert_allclose(row[1:], expected, rtol=1e-8, atol=1e-12)


@pytest.mark.parametrize("args", [
    ["--core", "core.csv", "--mass-groups", "1,0.5"],
    ["--core", "core.csv", "--mass-groups", "0,1"],
    ["--core", "core.csv", "--mass-groups", "1,x"],
    ["--mass-groups", "0.5,1"],
])
def test_integrator_refuses_bad_mass_groups(tmp_path, cluster, args):
    m, x, v = cluster
    nbforce.write_model(tmp_path / "model.inp", m, x, v)
    run = subprocess.run([program("NBFORCE_HERMITE4"), "model.inp", "--t-end", "0.125",
                          "--energy", "", *args], cwd=tmp_path, capture_output=True, text=True)
    assert run.returncode != 0
    assert "mass-groups" in run.stderr or "mass groups" in run.stderr
    assert not (tmp_path / "core.csv").exists()


def test_bad_boundaries_are_refused(cluster):
    m, x, v = cluster
    for bounds in [(1, 0.5), (0, 1), (), (np.inf,)]:
        with pytest.raises(ValueError):
            nbforce.core(m, x, v, mass_groups=bounds)
        with pytest.raises(ValueError):
            nbforce.lagrangian_radii(m, x, groups=bounds)


def test_restart_keeps_the_groups_of_the_start(tmp_path, cluster):
    """The groups are fixed when the run starts and travel in its
    checkpoint: a continued run, with or without --mass-groups, writes the
    bytes of an uninterrupted one; other boundaries are refused."""
    m, x, v = (q[:400] for q in cluster)
    nbforce.write_model(tmp_path / "model.inp", m, x, v)
    hermite4 = program("NBFORCE_HERMITE4")
    common = ["--energy", "", "--eps", "1e-3", "--dt-out", "0.0625"]

    def run(*args, check=True):
        return subprocess.run([hermite4, *args, *common], cwd=tmp_path, check=check,
                              capture_output=True, text=True)

    run("model.inp", "--t-end", "0.25", "--core", "whole.csv", "--mass-groups", "0.5,2")
    run("model.inp", "--t-end", "0.125", "--core", "core.csv", "--mass-groups", "0.5,2",
        "--checkpoint", "run.ck")
    before = (tmp_path / "core.csv").read_text()
    for other in ("0.5,3", "0.5,2,5"):
        refused = run("--restart", "run.ck", "--t-end", "0.25", "--mass-groups", other,
                      check=False)
        assert refused.returncode != 0 and "--mass-groups" in refused.stderr
        assert (tmp_path / "core.csv").read_text() == before
    run("--restart", "run.ck", "--t-end", "0.1875")
    run("--restart", "run.ck", "--t-end", "0.25", "--mass-groups", "0.5,2")
    whole = (tmp_path / "whole.csv").read_text()
    assert (tmp_path / "core.csv").read_text() == whole
    assert whole.splitlines()[0].endswith("g2_r10,g2_r50,g2_m10") and len(whole.splitlines()) == 6
