#!/usr/bin/python3
"""A short Markov chain (emcee) over J1 and Jbq1 for a measured loop: the posterior widths of the
two couplings around their fitted values, with the other parameters fixed and the noise of the
measured moment estimated from the best misfit."""

import argparse

import emcee
import numpy as np

import dravo2

FREE = ["J1", "Jbq1"]


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("measured", help="the measured loop (any file the import reads)")
    parser.add_argument("--field-unit", help="A/m, kA/m, Oe, mT or T, where the file does not state it")
    parser.add_argument("--set", help="a KEY=VALUE file of the other parameters and the couplings' starts")
    parser.add_argument("--evals", type=int, default=200, help="evaluations of the fit the chain starts from")
    parser.add_argument("--walkers", type=int, default=16)
    parser.add_argument("--steps", type=int, default=200)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()

    curve = dravo2.import_curve(args.measured, field_unit=args.field_unit)
    start = dravo2.Parameters.from_file(args.set) if args.set else dravo2.Parameters()
    p = dravo2.fit(curve, start, free=FREE, evals=args.evals).parameters
    best = dravo2.misfit(dravo2.run_loop(p, fields=curve.field), curve)
    # The misfit is an RMS residual in units of half the measured range; taking the best one as
    # the noise level makes the reduced chi-square 1 there.
    points = best.covered
    noise = best.misfit
    centre = np.array([p[name] for name in FREE])
    width = np.array([max(abs(v) * 0.05, 1e-6) for v in centre])

    def log_probability(x):
        q = p.copy()
        for name, value in zip(FREE, x):
            q[name] = value
        comparison = dravo2.misfit(dravo2.run_loop(q, fields=curve.field), curve)
        if not comparison.valid:
            return -np.inf
        return -0.5 * points * (comparison.misfit / noise) ** 2

    rng = np.random.default_rng(args.seed)
    start = centre + width * 0.1 * rng.standard_normal((args.walkers, len(FREE)))
    sampler = emcee.EnsembleSampler(args.walkers, len(FREE), log_probability)
    sampler.run_mcmc(start, args.steps)
    chain = sampler.get_chain(discard=args.steps // 4, flat=True)
    print(f"{len(chain)} samples, acceptance {np.mean(sampler.acceptance_fraction):.2f}")
    for name, column in zip(FREE, chain.T):
        print(f"  {name}: {np.mean(column):.6g} +- {np.std(column):.3g} J/m^2")


if __name__ == "__main__":
    main()
