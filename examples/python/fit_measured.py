#!/usr/bin/python3
"""Fits the couplings of a stack (J1 and Jbq1 unless --free says others) to a measured loop,
first with dravo2.fit (a global search, as dravo2-fit runs it), then polishes the same ones with
scipy's least_squares on the residuals of dravo2.misfit, and compares the two. The polish
simulates one row at every measured field; the search simulates the measured branches in
equal steps, so their misfits differ a little for the same values."""

import argparse

import numpy as np
from scipy.optimize import least_squares

import dravo2

def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("measured", help="the measured loop (any file the import reads)")
    parser.add_argument("--field-unit", help="A/m, kA/m, Oe, mT or T, where the file does not state it")
    parser.add_argument("--columns", help="FIELD,MOMENT by number from 1 or by name")
    parser.add_argument("--evals", type=int, default=300, help="evaluations of each search")
    parser.add_argument("--set", help="a KEY=VALUE file of the starting parameters")
    parser.add_argument("--free", default="J1,Jbq1", help="the parameters to fit, comma-separated")
    args = parser.parse_args()
    free = args.free.split(",")

    curve = dravo2.import_curve(args.measured, field_unit=args.field_unit, columns=args.columns)
    print(curve.report, end="")
    start = dravo2.Parameters.from_file(args.set) if args.set else dravo2.Parameters()
    found = dravo2.fit(curve, start, free=free, evals=args.evals, background="slope")
    print(found.summary, end="")

    # least_squares from the search's best values, in units of their default ranges' sizes so that
    # every parameter has steps of a similar size.
    p = found.parameters.copy()
    scales = np.array([abs(np.subtract(*p.describe(name)["bounds"])) for name in free])

    def residuals(x):
        for name, value in zip(free, x * scales):
            p[name] = value
        comparison = dravo2.misfit(dravo2.run_loop(p, fields=curve.field), curve, background="slope")
        if not comparison.valid:
            return np.full(len(curve), 1e3)
        # Residuals at every measured point (0 where a point was not compared), so that their
        # number stays fixed while the parameters move.
        full = np.zeros(len(curve))
        np.add.at(full, comparison.points, comparison.residuals)
        return full

    x0 = np.array([found.values[name] for name in free]) / scales
    polished = least_squares(residuals, x0, diff_step=1e-3, max_nfev=10 * len(free))
    print("least_squares:", polished.message)
    for name, searched, value in zip(free, x0 * scales, polished.x * scales):
        print(f"  {name}: search {searched:.6g}  least_squares {value:.6g}")
    print(f"misfit: search {found.misfit:.6g}  least_squares {np.sqrt(np.sum(polished.fun ** 2)):.6g}")


if __name__ == "__main__":
    main()
