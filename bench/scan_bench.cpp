// Costs of parameter maps: whole grids of loops of the default stack over J1 and K1, on two
// worker threads, as dravo2-scan runs them (without writing the table).
#include "cli/scan_command.h"
#include "scan/scan_runner.h"

#include <benchmark/benchmark.h>

#include <numeric>
#include <string>

namespace dravo2 {
namespace {

// Arguments: points along each axis, steps of each branch (over the same -250 .. 250 kA/m), and
// 1 for the Newton solver, 0 for the descent.
void ScanMap(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const auto steps = state.range(1);
    const bool newton = state.range(2) != 0;
    if (newton && !IsSweepKey("solver")) {
        state.SkipWithError("this build has no Newton solver");
        return;
    }
    ScanGrid grid;
    grid.Axes = {ParseAxis("J1=-1e-3:1e-3:" + std::to_string(n)), ParseAxis("K1=0:2000:" + std::to_string(n))};
    std::vector<std::string> keys{"steps=" + std::to_string(steps), "start=-250",
                                  "step=" + std::to_string(500.0 / static_cast<double>(steps))};
    if (IsSweepKey("solver")) {
        keys.push_back(newton ? "solver=newton" : "solver=descent");
    }
    std::vector<std::size_t> points(grid.Size());
    std::iota(points.begin(), points.end(), std::size_t{0});
    const std::atomic<bool> cancel{false};
    auto compute = [&](std::size_t point) {
        const std::vector<double> values = grid.Point(point);
        std::vector<std::string> args = keys;
        args.push_back("J1=" + ShortestNumberText(values[0]));
        args.push_back("K1=" + ShortestNumberText(values[1]));
        return SimulateGridPoint(args, values);
    };
    for (auto _ : state) {
        const std::vector<ScanRow> rows = RunScanPoints(points, 2, compute, cancel);
        benchmark::DoNotOptimize(rows.data());
    }
    state.counters["loops"] = static_cast<double>(points.size());
    state.counters["loops_per_s"] =
        benchmark::Counter(static_cast<double>(points.size()), benchmark::Counter::kIsIterationInvariantRate);
}
// A small map with the gradient descent, and the full 100 x 100 map of 500-step branches with Newton.
BENCHMARK(ScanMap)->Args({4, 25, 0})->Args({100, 500, 1})->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

} // namespace
} // namespace dravo2

BENCHMARK_MAIN();
