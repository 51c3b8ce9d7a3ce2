// Costs of the engine's inner loop and of whole sweeps.
#include "engine/gradient_kernel.h"
#include "engine/relaxation.h"
#include "sweep/sweep_driver.h"

#include <benchmark/benchmark.h>

#include <memory>

namespace dravo2 {
namespace {

LayerModel DefaultModel() {
    LayerModel model;
    LayerStack& s = model.Stack;
    s.M = {1.5L, 1.5L, 0.7L, 1.0L};
    s.t = {2e-9L, 2e-9L, 2e-9L, 20e-9L};
    s.K = {100, 100, 60, 1000};
    s.J = {-0.002e-3L, 0, 0.2e-3L, 0};
    s.Bias = 1e-3;
    s.Anisotropy = AnisotropyForm::Uniaxial;
    model.FieldH = 40000;
    return model;
}

void EnergyGradientLiteral(benchmark::State& state) {
    LayerModel model = DefaultModel();
    AngleSet a{0.1L, 0.2L, 0.3L, 0.4L};
    AngleSet grad{};
    for (auto _ : state) {
        model.EnergyGradient(a, grad);
        benchmark::DoNotOptimize(grad);
        a[0] += 1e-9L;
    }
}
BENCHMARK(EnergyGradientLiteral);

void EnergyGradientKernel(benchmark::State& state) {
    LayerModel model = DefaultModel();
    const GradientKernel kernel(model);
    AngleSet a{0.1L, 0.2L, 0.3L, 0.4L};
    AngleSet grad{};
    for (auto _ : state) {
        kernel(a, grad);
        benchmark::DoNotOptimize(grad);
        a[0] += 1e-9L;
    }
}
BENCHMARK(EnergyGradientKernel);

// Descent iterations on a stack far from its minimum, with an unreachable threshold so that every
// iteration of the budget is taken.
void DescentIteration(benchmark::State& state) {
    LayerModel model = DefaultModel();
    const GradientKernel kernel(model);
    AngleSet grad{};
    const std::int32_t budget = 6660;
    long long iterations = 0;
    for (auto _ : state) {
        AngleSet a{3, 3, 3, 3};
        iterations += Relax(a, {budget, 100.0, 0.1, 0.0}, kernel, grad).Iterations;
        benchmark::DoNotOptimize(a);
    }
    state.counters["ns_per_iteration"] =
        benchmark::Counter(static_cast<double>(iterations), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(DescentIteration)->Unit(benchmark::kMicrosecond);

// A whole sweep from Start on the window's default fields, with the given step count.
void Sweep(benchmark::State& state) {
    long long iterations = 0;
    std::int32_t rows = 0;
    for (auto _ : state) {
        SweepDriver driver;
        SweepParameters parameters;
        const std::int32_t steps = static_cast<std::int32_t>(state.range(0));
        parameters.Texts.Nstep = std::to_string(steps);
        parameters.Texts.StepF = steps > 500 ? "0.1220703125" : "1.0";
        driver.Create(SweepFieldsOf(parameters.Texts));
        driver.Start(parameters, DisplayMode::MvHx);
        iterations = 0;
        TickResult result = TickResult::Continue;
        while (result == TickResult::Continue) {
            result = driver.Tick(parameters.DeltaR, DisplayMode::MvHx);
            iterations += driver.Session.IterationCount;
        }
        rows = driver.Simulation->SimRows;
    }
    state.counters["iterations"] = static_cast<double>(iterations);
    state.counters["rows"] = rows;
}
BENCHMARK(Sweep)->Arg(500)->Arg(4096)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace
} // namespace dravo2

BENCHMARK_MAIN();
