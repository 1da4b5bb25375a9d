"""scripts/dissolution stopped and run again: the integrator gets the stop
signal once (it writes its checkpoint), the script says how to continue
and exits non-zero, and the second run continues from the checkpoint to
the bytes of a run that was never stopped; a finished run goes on to a
later end."""

import pathlib
import signal
import subprocess
import time

from conftest import program

SCRIPT = pathlib.Path(__file__).resolve().parents[2] / "scripts" / "dissolution"


def command(folder, t_end_trh="10"):
    program("NBFORCE_CLUSTER_GEN")
    build = pathlib.Path(program("NBFORCE_HERMITE4")).resolve().parent.parent
    return [SCRIPT, "--n", "128", "--t-end-trh", t_end_trh, "--build", build, "--dir", folder]


def test_a_stopped_run_continues_to_the_same_bytes(tmp_path):
    whole = subprocess.run(command(tmp_path / "whole"), capture_output=True, text=True)
    assert whole.returncode == 0, whole.stderr
    assert "N = 128 (king)" in whole.stdout

    stopped = tmp_path / "stopped"
    child = subprocess.Popen(command(stopped), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             text=True)
    core = stopped / "core128.csv"
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline and child.poll() is None:
        if core.exists() and len(core.read_text().splitlines()) > 10:
            break
        time.sleep(0.05)
    assert child.poll() is None, "the run ended before it could be stopped"
    child.send_signal(signal.SIGTERM)
    out, err = child.communicate(timeout=60)
    assert child.returncode != 0
    assert "stopped by SIGTERM" in err and f"--dir {stopped}" in err, err
    assert "Traceback" not in err

    again = subprocess.run(command(stopped), capture_output=True, text=True)
    assert again.returncode == 0, again.stderr
    assert "continuing from" in again.stdout
    assert core.read_bytes() == (tmp_path / "whole" / "core128.csv").read_bytes()
    assert again.stdout.splitlines()[-2] == whole.stdout.splitlines()[-2]

    # A finished run is not run again; asked for a later end, it goes on from
    # its last output.
    done = subprocess.run(command(stopped), capture_output=True, text=True)
    assert done.returncode == 0 and "continuing" not in done.stdout
    assert core.read_bytes() == (tmp_path / "whole" / "core128.csv").read_bytes()
    longer = subprocess.run(command(stopped, "12"), capture_output=True, text=True)
    assert longer.returncode == 0 and "continuing from" in longer.stdout, longer.stderr
    before = (tmp_path / "whole" / "core128.csv").read_bytes()
    after = core.read_bytes()
    assert len(after) > len(before) and after.startswith(before)
