// Costs of parameter maps: whole grids of loops of the default stack over J1 and K1, on two
// worker threads, as dravo2-scan runs them (without writing the table or the start checks).
#include "engine/parameter_registry.h"
#include "scan/grid_point.h"
#include "scan/scan_runner.h"

#include <benchmark/benchmark.h>

#include <cstdint>
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
    ScanGrid grid;
    grid.Axes = {ParseAxis("J1=-1e-3:1e-3:" + std::to_string(n)), ParseAxis("K1=0:2000:" + std::to_string(n))};
    ParameterSet base = DefaultParameters();
    base.Sweep = {-250, 500.0 / static_cast<double>(steps), static_cast<std::int32_t>(steps)};
    base.Model.Solver.Method = newton ? SolverMethod::Newton : SolverMethod::Descent;
    const ParameterEntry& j1 = Parameter("J1");
    const ParameterEntry& k1 = Parameter("K1");
    std::vector<std::size_t> points(grid.Size());
    std::iota(points.begin(), points.end(), std::size_t{0});
    const std::atomic<bool> cancel{false};
    auto compute = [&](std::size_t point) {
        const std::vector<double> values = grid.Point(point);
        ParameterSet parameters = base;
        j1.Set(parameters, NumberAsTyped(j1, values[0]));
        k1.Set(parameters, NumberAsTyped(k1, values[1]));
        return SimulateGridPoint(parameters, ScanPlan{}, &cancel);
    };
    for (auto _ : state) {
        const std::vector<ScanRow> rows = RunScanPoints(points, 2, compute, cancel);
        benchmark::DoNotOptimize(rows.data());
    }
    state.counters["loops"] = static_cast<double>(points.size());
    state.counters["loops_per_s"] =
        benchmark::Counter(static_cast<double>(points.size()), benchmark::Counter::kIsIterationInvariantRate);
}
// A small map with the gradient descent, a 20 x 20 and the full 100 x 100 map of 500-step
// branches with Newton; wall time, and the CPU time of both workers.
BENCHMARK(ScanMap)
    ->Args({4, 25, 0})
    ->Args({20, 500, 1})
    ->Args({100, 500, 1})
    ->Unit(benchmark::kSecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Iterations(1);

} // namespace
} // namespace dravo2

BENCHMARK_MAIN();
