#!/usr/bin/python3
"""A hysteresis loop of the default stack with antiparallel coupling, drawn with matplotlib:
the projection against the field, one line a branch, and the angle of layer 1 beneath."""

import argparse

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

import dravo2  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--steps", type=int, default=500, help="field steps of each branch")
    parser.add_argument("--out", default="loop.png", help="the figure (PNG, SVG or PDF)")
    args = parser.parse_args()

    p = dravo2.Parameters(J1=-0.5e-3, Jbq1=-0.05e-3)
    p.steps = args.steps
    p.step = 500.0 / args.steps  # kA/m: from -250 kA/m to +250 kA/m and back
    loop = dravo2.run_loop(p, solver="newton")

    figure, (top, bottom) = plt.subplots(2, 1, sharex=True, figsize=(4.5, 5))
    for branch in sorted(set(loop.branch)):
        rows = loop.branch == branch
        top.plot(loop.field[rows] / 1e3, loop.projection[rows], label=f"branch {branch}")
        bottom.plot(loop.field[rows] / 1e3, loop.theta[rows, 0])
    top.set_ylabel("M (T)")
    top.legend()
    bottom.set_ylabel("theta1 (rad)")
    bottom.set_xlabel("H (kA/m)")
    figure.tight_layout()
    figure.savefig(args.out)
    print(f"{len(loop)} rows, {loop.total_iterations} iterations; figure in {args.out}")


if __name__ == "__main__":
    main()
