#!/usr/bin/python3
"""Times dravo2.run_loop on the Newton loop of bench/python_loop_bench.cpp (the default stack,
Start and one Reverse of 500 steps) from Python, for comparison with RunLoopNewton there. The
module is found through PYTHONPATH (build/<preset>/src/python)."""

import timeit

import dravo2


def main():
    p = dravo2.Parameters()
    calls = 20
    times = timeit.repeat(lambda: dravo2.run_loop(p, solver="newton"), number=calls, repeat=5)
    best = min(times) / calls
    print(f"dravo2.run_loop, Newton, {len(dravo2.run_loop(p, solver='newton'))} rows: "
          f"{best * 1e3:.3f} ms a loop (best of 5 x {calls})")


if __name__ == "__main__":
    main()
