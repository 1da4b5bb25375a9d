#!/usr/bin/env python3
"""Builds a Plummer model, integrates it with the Hermite integrator and
plots the energy error and the Lagrangian radii against time.

    PYTHONPATH=build/python /usr/bin/python3 examples/python/plummer_energy.py

The model is plummer_gen's: --count particles (default 1024), or its two
counts --n and --np (n * np * (1024 // np) particles). Prints a line per
output interval, writes the plot (default plummer_energy.png in the current
folder, or build/plummer_energy.png when that folder lies in this source
tree) and prints its path. dE/E is (E - E0) / |E0|, as the programs print it:
positive when the energy has risen.
"""

import argparse
import os
import pathlib
import sys
import time

import matplotlib

matplotlib.use("Agg")  # files only, no display needed
import matplotlib.pyplot as plt
import numpy as np
from matplotlib.ticker import FixedLocator, FormatStrFormatter, FuncFormatter, NullFormatter

import nbforce


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--count", type=int, help="particles (default 1024)")
    parser.add_argument("--n", type=int, help="particles in units of 1024")
    parser.add_argument("--np", type=int, help="plummer_gen's divisor")
    parser.add_argument("--order", type=int, default=4, choices=(4, 6, 8))
    parser.add_argument("--t-end", type=float, default=2.0)
    parser.add_argument("--dt-out", type=float, default=0.125, help="output interval")
    parser.add_argument("--output", help="the plot (default plummer_energy.png, see above)")
    args = parser.parse_args()
    output = pathlib.Path(args.output or default_output())

    if args.n is None and args.np is None:
        m, x, v = nbforce.plummer(count=args.count or 1024)
    else:
        m, x, v = nbforce.plummer(args.n, args.np)
    clock = time.perf_counter()
    h = nbforce.Hermite(m, x, v, order=args.order, dt_max=args.dt_out)
    e0 = sum(h.energy())
    times, errors, radii = [0.0], [0.0], [nbforce.lagrangian_radii(m, h.x)]
    steps = int(round(args.t_end / args.dt_out))
    for k in range(1, steps + 1):
        h.advance(k * args.dt_out)
        times.append(h.t)
        errors.append((sum(h.energy()) - e0) / abs(e0))
        radii.append(nbforce.lagrangian_radii(m, h.x))
        print(f"t = {h.t:<6g} dE/E = {errors[-1]: .3e}  r50 = {radii[-1][1]:.4f}", flush=True)
    seconds = time.perf_counter() - clock
    print(f"{len(m)} particles, order {args.order}, t = {h.t:g}: dE/E = {errors[-1]:.3e}, "
          f"{h.steps} particle steps in {seconds:.1f} s")
    if not np.all(np.isfinite(errors)):
        sys.exit("the energy is not finite")

    fig, (top, bottom) = plt.subplots(2, 1, sharex=True, figsize=(7, 7))
    top.semilogy(times[1:], np.abs(errors[1:]), marker=".")
    top.set_ylabel("|dE/E|")
    top.set_title(f"Plummer model, N = {len(m)}, Hermite order {args.order}")
    # The errors often span less than a decade: at least three labelled
    # ticks at round values, the axis ending on a tick at either side.
    positive = np.abs(errors[1:])[np.abs(errors[1:]) > 0]
    if positive.size:
        round_log_axis(top.yaxis, top.set_ylim, positive.min(), positive.max())
    top.grid(True, alpha=0.3)
    radii = np.array(radii)
    for column, label in enumerate(("10%", "50%", "90%")):
        bottom.plot(times, radii[:, column], label=label)
    # Log scale with labels at round values: the radii span about a decade,
    # and one label per decade ("10^0") would leave them unreadable.
    bottom.set_yscale("log")
    low, high = radii.min(), radii.max()
    ticks = [v * 10.0**e for e in range(-3, 4) for v in (1, 2, 3, 5)]
    bottom.yaxis.set_major_locator(FixedLocator([v for v in ticks if low / 1.5 <= v <= high * 1.5]))
    bottom.yaxis.set_major_formatter(FormatStrFormatter("%g"))
    bottom.yaxis.set_minor_formatter(NullFormatter())
    bottom.set_ylim(low / 1.3, high * 1.3)
    bottom.grid(True, alpha=0.3)
    bottom.set_xlabel("t (N-body units)")
    bottom.set_ylabel("Lagrangian radius (N-body length units)")
    # Beside the panel, where it covers no curve.
    bottom.legend(title="mass", loc="center left", bbox_to_anchor=(1.02, 0.5))
    fig.tight_layout()
    output.parent.mkdir(parents=True, exist_ok=True)
    fig.savefig(output, dpi=100, bbox_inches="tight")
    print(output)


def round_log_axis(axis, set_limits, low, high):
    """Labels a log axis at round values (1, 2, 3, 5 times a power of ten,
    finer where that gives fewer than three) from the round value at or
    below low to the one at or above high."""
    for steps in ((1, 2, 3, 5), (1, 1.5, 2, 3, 4, 5, 7)):
        first, last = int(np.floor(np.log10(low))) - 1, int(np.ceil(np.log10(high))) + 1
        values = sorted(v * 10.0**e for e in range(first, last + 1) for v in steps)
        lower = max(v for v in values if v <= low * (1 + 1e-12))
        upper = min(v for v in values if v >= high * (1 - 1e-12))
        ticks = [v for v in values if lower <= v <= upper]
        if len(ticks) >= 3:
            break
    axis.set_major_locator(FixedLocator(ticks))
    axis.set_major_formatter(FuncFormatter(lambda v, _: f"{v:.2g}"))
    axis.set_minor_formatter(NullFormatter())
    set_limits(lower, upper)


def default_output():
    """plummer_energy.png here, or in build/ when here is this source tree."""
    root = pathlib.Path(__file__).resolve().parents[2]
    here = pathlib.Path(os.getcwd()).resolve()
    if here == root or root in here.parents:
        return root / "build" / "plummer_energy.png"
    return pathlib.Path("plummer_energy.png")


if __name__ == "__main__":
    main()
