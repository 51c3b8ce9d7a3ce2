#!/usr/bin/python3
"""Times dravo2.run_loop on the Newton loop of bench/python_loop_bench.cpp (the default stack,
Start and one Reverse of 500 steps) from Python, for comparison with RunLoopNewton there. The
module is found through PYTHONPATH (build/<preset>/src/python)."""

import time
import timeit

import dravo2


def main():
    p = dravo2.Parameters()
    calls = 20
    rows = len(dravo2.run_loop(p, solver="newton"))
    # Wall time as Google Benchmark's "Time", and the process's CPU time as its "CPU": on a busy
    # machine the CPU times are the ones to compare.
    for name, timer in (("wall", time.perf_counter), ("CPU", time.process_time)):
        times = timeit.repeat(lambda: dravo2.run_loop(p, solver="newton"), number=calls, repeat=5, timer=timer)
        print(f"dravo2.run_loop, Newton, {rows} rows: {min(times) / calls * 1e3:.3f} ms {name} a loop "
              f"(best of 5 x {calls})")


if __name__ == "__main__":
    main()
