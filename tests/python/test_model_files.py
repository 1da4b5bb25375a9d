"""Model files in both formats: HDF5 read with h5py (not the package's
reader) against the text format, and files that are not regular."""

import os
import stat
import subprocess

import numpy as np
import pytest

import nbforce
from conftest import program

h5py = pytest.importorskip("h5py")


def test_plummer_gen_hdf5_holds_the_doubles_of_its_text_file(tmp_path):
    gen = program("NBFORCE_PLUMMER_GEN")
    for name in ("m.inp", "m.h5"):
        subprocess.run([gen, "-q", "-n", "300", "-s", "5", "-o", name], cwd=tmp_path, check=True,
                       stdout=subprocess.DEVNULL)
    m, x, v, t = nbforce.read_model(tmp_path / "m.inp")
    with h5py.File(tmp_path / "m.h5", "r") as f:
        np.testing.assert_array_equal(f["mass"][...], m)
        np.testing.assert_array_equal(f["position"][...], x)
        np.testing.assert_array_equal(f["velocity"][...], v)
        np.testing.assert_array_equal(f["id"][...], np.arange(300))
        assert f.attrs["N"] == 300 and f.attrs["time"] == t == 0.0 and f.attrs["G"] == 1.0
        assert "units" in f.attrs
    for a, b in zip(nbforce.read_model(tmp_path / "m.h5"), (m, x, v, t)):
        np.testing.assert_array_equal(a, b)


def test_write_model_round_trip_in_both_formats(tmp_path):
    m, x, v = nbforce.plummer(count=50, seed=3)
    nbforce.write_model(tmp_path / "a.h5", m, x, v, t=0.25)
    nbforce.write_model(tmp_path / "b.dat", m, x, v, t=0.25, format="hdf5")
    nbforce.write_model(tmp_path / "c.inp", m, x, v, t=0.25)
    with h5py.File(tmp_path / "b.dat", "r") as f:
        np.testing.assert_array_equal(f["position"][...], x)
        assert f.attrs["time"] == 0.25
    assert (tmp_path / "c.inp").read_text().startswith("0000")
    for name in ("a.h5", "b.dat", "c.inp"):
        m2, x2, v2, t2 = nbforce.read_model(tmp_path / name)
        np.testing.assert_array_equal(m2, m)
        np.testing.assert_array_equal(x2, x)
        np.testing.assert_array_equal(v2, v)
        assert t2 == 0.25
    with pytest.raises(ValueError, match="format"):
        nbforce.write_model(tmp_path / "d", m, x, v, format="csv")


def test_hdf5_written_by_h5py_is_read_and_checked(tmp_path):
    n = 4
    with h5py.File(tmp_path / "own.h5", "w") as f:
        f["mass"] = np.full(n, 0.25)
        f["position"] = np.eye(4, 3)
        f["velocity"] = np.zeros((n, 3))
        f["id"] = np.arange(n)
        f.attrs["N"] = n
        f.attrs["time"] = 1.5
    m, x, v, t = nbforce.read_model(tmp_path / "own.h5")
    assert t == 1.5
    np.testing.assert_array_equal(x, np.eye(4, 3))
    with h5py.File(tmp_path / "own.h5", "a") as f:
        f.attrs["G"] = 1.0
    assert nbforce.read_model(tmp_path / "own.h5")[3] == 1.5
    with h5py.File(tmp_path / "own.h5", "a") as f:
        f.attrs["G"] = 2.0  # another unit system: the forces would be wrong
    with pytest.raises(ValueError, match="G = 2; the integrators take N-body units, G = 1"):
        nbforce.read_model(tmp_path / "own.h5")
    with h5py.File(tmp_path / "own.h5", "a") as f:
        f.attrs["G"] = 1.0
        del f["velocity"]
        f["velocity"] = np.zeros((n, 2))
    with pytest.raises(ValueError, match="velocity"):
        nbforce.read_model(tmp_path / "own.h5")


def test_the_hdf5_ending_is_told_in_any_case(tmp_path):
    m, x, v = nbforce.plummer(count=8, seed=1)
    for name in ("w.H5", "w.HDF5", "w.Hdf5"):
        nbforce.write_model(tmp_path / name, m, x, v)
        assert h5py.is_hdf5(tmp_path / name), name


def test_write_model_keeps_mode_links_and_devices(tmp_path):
    m, x, v = nbforce.plummer(count=8, seed=1)
    target = tmp_path / "target.inp"
    target.write_text("old")
    target.chmod(0o600)
    link = tmp_path / "link.inp"
    link.symlink_to("target.inp")
    nbforce.write_model(link, m, x, v)
    assert link.is_symlink()
    assert stat.S_IMODE(target.stat().st_mode) == 0o600
    np.testing.assert_array_equal(nbforce.read_model(target)[1], x)
    nbforce.write_model(os.devnull, m, x, v)
    assert stat.S_ISCHR(os.stat(os.devnull).st_mode)
    assert sorted(p.name for p in tmp_path.iterdir()) == ["link.inp", "target.inp"]
    with pytest.raises(OSError):
        nbforce.write_model(tmp_path, m, x, v)


def test_programs_tell_their_version_and_record_it(tmp_path):
    import subprocess
    from conftest import program
    gen, h4 = program("NBFORCE_PLUMMER_GEN"), program("NBFORCE_HERMITE4")
    for prog in (gen, h4):
        out = subprocess.run([prog, "--version"], capture_output=True, text=True, check=True)
        name, version = out.stdout.split(" ", 1)
        assert name == os.path.basename(prog) and version.strip()
    subprocess.run([gen, "-q", "-n", "64", "-o", "m.h5"], cwd=tmp_path, check=True)
    subprocess.run([h4, "m.h5", "--t-end", "0.125", "--snapshots", "s.h5", "--energy", ""],
                   cwd=tmp_path, check=True, capture_output=True)
    with h5py.File(tmp_path / "m.h5", "r") as f:
        assert f.attrs["program"] in ("plummer_gen", b"plummer_gen")
        assert "-n 64" in str(f.attrs["command"])
    with h5py.File(tmp_path / "s0001.h5", "r") as f:
        assert str(f.attrs["version"]).strip("b'") == version.strip()
        assert "--snapshots s.h5" in str(f.attrs["command"])
