// The loop the Python module runs against the loop runner itself, on the same Newton loop
// (Start and one Reverse of the default stack, 2 x 500 steps): the module's rows in one block
// against RunLoop's columns. bench/python_loop_overhead.py times the same loop called from
// Python, so that the two together give the cost of the call from Python.
#include "engine/parameter_registry.h"
#include "python/python_loop.h"
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
        benchmark::DoNotOptimize(result.Columns[1].data());
    }
}
BENCHMARK(RunLoopNewton)->Unit(benchmark::kMillisecond);

void ModuleLoopNewton(benchmark::State& state) {
    const ParameterSet set = NewtonDefaults();
    for (auto _ : state) {
        const python::FieldPlan plan = python::PlanFields({set.Sweep, ReversedBranch(set.Sweep)});
        const python::LoopRows rows = python::RunFields(set.Model, plan, InitialState::Saturated(), false);
        benchmark::DoNotOptimize(rows.Cells.data());
    }
}
BENCHMARK(ModuleLoopNewton)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace dravo2

BENCHMARK_MAIN();
