#!/usr/bin/env python3
"""Builds a Plummer model, integrates it with the Hermite integrator and
plots the energy error and the Lagrangian radii against time.

    PYTHONPATH=build/python /usr/bin/python3 examples/python/plummer_energy.py

The model is plummer_gen's: --count particles (default 1024), or its two
counts --n and --np (n * np * (1024 // np) particles). Writes the plot
(default plummer_energy.png) and prints its path.
"""

import argparse
import sys
import time

import matplotlib

matplotlib.use("Agg")  # files only, no display needed
import matplotlib.pyplot as plt
import numpy as np

import nbforce


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--count", type=int, help="particles (default 1024)")
    parser.add_argument("--n", type=int, help="particles in units of 1024")
    parser.add_argument("--np", type=int, help="plummer_gen's divisor")
    parser.add_argument("--order", type=int, default=4, choices=(4, 6, 8))
    parser.add_argument("--t-end", type=float, default=2.0)
    parser.add_argument("--dt-out", type=float, default=0.125, help="output interval")
    parser.add_argument("--output", default="plummer_energy.png")
    args = parser.parse_args()

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
        errors.append(sum(h.energy()) / e0 - 1)
        radii.append(nbforce.lagrangian_radii(m, h.x))
    seconds = time.perf_counter() - clock
    print(f"{len(m)} particles, order {args.order}, t = {h.t:g}: dE/E = {errors[-1]:.3e}, "
          f"{h.steps} particle steps in {seconds:.1f} s")
    if not np.all(np.isfinite(errors)):
        sys.exit("the energy is not finite")

    fig, (top, bottom) = plt.subplots(2, 1, sharex=True, figsize=(7, 7))
    top.semilogy(times[1:], np.abs(errors[1:]), marker=".")
    top.set_ylabel("|dE/E|")
    top.set_title(f"Plummer model, N = {len(m)}, Hermite order {args.order}")
    radii = np.array(radii)
    for column, label in enumerate(("10%", "50%", "90%")):
        bottom.plot(times, radii[:, column], label=label)
    bottom.set_yscale("log")
    bottom.set_xlabel("t (N-body units)")
    bottom.set_ylabel("Lagrangian radius")
    bottom.legend(title="mass", loc="center right")
    fig.tight_layout()
    fig.savefig(args.output, dpi=100)
    print(args.output)


if __name__ == "__main__":
    main()
