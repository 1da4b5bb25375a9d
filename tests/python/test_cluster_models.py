"""nbforce.cluster against cluster_gen's HDF5 file for the same options, bit
for bit, and its refusals."""

import subprocess

import h5py
import numpy as np
import pytest

import nbforce
from conftest import program


def cluster_gen(directory, *args):
    out = directory / "c.h5"
    subprocess.run([program("NBFORCE_CLUSTER_GEN"), "-q", "-o", str(out), *map(str, args)],
                   check=True)
    with h5py.File(out, "r") as f:
        return (f["mass"][:], f["position"][:], f["velocity"][:], f["companion"][:],
                dict(f.attrs))


@pytest.mark.parametrize("args, kwargs", [
    (("-n", 300), {}),
    (("-n", 2000, "-s", 5, "--profile", "king", "--w0", 8.5, "--imf", "kroupa", "--m-min", 0.05,
      "--binaries", 0.3, "--a-min", 3, "--a-max", 300, "--ecc", "circular", "--virial", 0.4,
      "--tidal-radius", 12),
     dict(seed=5, profile="king", w0=8.5, imf="kroupa", m_min=0.05, binaries=0.3, a_min=3,
          a_max=300, ecc="circular", virial=0.4, tidal_radius=12)),
    (("-n", 1000, "--imf", "power:0.1,1.5,1,2.5,30", "--radius", 2.5, "--binaries", 1),
     dict(imf="power:0.1,1.5,1,2.5,30", radius=2.5, binaries=1)),
    (("-n", 500, "--mass", 800, "-s", 18446744073709551615),
     dict(mass=800, seed=2**64 - 1)),
])
def test_cluster_is_cluster_gens_model(tmp_path, args, kwargs):
    m, x, v, companion, attrs = cluster_gen(tmp_path, *args)
    cm, cx, cv, ccomp, info = nbforce.cluster(len(m), **kwargs)
    np.testing.assert_array_equal(cm, m)
    np.testing.assert_array_equal(cx, x)
    np.testing.assert_array_equal(cv, v)
    np.testing.assert_array_equal(ccomp, companion)
    for key in ("length_pc", "mass_msun", "time_myr", "velocity_kms", "n_binaries",
                "tidal_radius"):
        assert info[key] == attrs[key], key


@pytest.mark.parametrize("kwargs, match", [
    (dict(imf="kroupa", m_min=1.0, m_max=0.5), "m-min"),
    (dict(profile="king", w0=0.5), "w0"),
    (dict(binaries=1.2), "binaries"),
    (dict(a_min=5, a_max=5), "a-min"),
    (dict(imf="power:1,2"), "power"),
    (dict(imf="nonesuch"), "IMF"),
    (dict(tidal_radius=3.0), "king"),
])
def test_cluster_refuses_what_cluster_gen_refuses(kwargs, match):
    with pytest.raises(ValueError, match=match):
        nbforce.cluster(100, **kwargs)
    with pytest.raises(TypeError):
        nbforce.cluster(100.5)
