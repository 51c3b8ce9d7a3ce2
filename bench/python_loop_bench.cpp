// The loop the Python module runs, on the same Newton loop (Start and one Reverse of the default
// stack, 2 x 500 steps): RunLoop from the branches, and from the same fields given row by row.
// bench/python_loop_overhead.py times the same loop called from Python, so that the two together
// give the cost of the call from Python.
#include "engine/parameter_registry.h"
#include "sweep/run_loop.h"

#include <benchmark/benchmark.h>

namespace dravo2 {
namespace {

ParameterSet NewtonDefaults() {
    ParameterSet set = DefaultParameters();
    set.Model.Solver.Method = SolverMethod::Newton;
    return set;
}

void RunLoopNewton(benchmark::State& state) {
    const ParameterSet set = NewtonDefaults();
    LoopPlan plan;
    plan.Branches = {set.Sweep, ReversedBranch(set.Sweep)};
    for (auto _ : state) {
        const LoopResult result = RunLoop(set.Model, plan, InitialState::Saturated());
        benchmark::DoNotOptimize(result.Block.data());
    }
}
BENCHMARK(RunLoopNewton)->Unit(benchmark::kMillisecond);

void RunLoopNewtonFields(benchmark::State& state) {
    const ParameterSet set = NewtonDefaults();
    LoopPlan branches;
    branches.Branches = {set.Sweep, ReversedBranch(set.Sweep)};
    const LoopResult reference = RunLoop(set.Model, branches, InitialState::Saturated());
    LoopPlan plan;
    plan.Fields.assign(reference[Observable::Field].begin(), reference[Observable::Field].end());
    for (auto _ : state) {
        const LoopResult result = RunLoop(set.Model, plan, InitialState::Saturated());
        benchmark::DoNotOptimize(result.Block.data());
    }
}
BENCHMARK(RunLoopNewtonFields)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace dravo2

BENCHMARK_MAIN();
