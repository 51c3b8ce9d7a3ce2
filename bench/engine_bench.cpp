// Costs of the engine's inner loop and of whole sweeps.
#include "engine/gradient_kernel.h"
#include "engine/newton.h"
#include "engine/relaxation.h"
#include "sweep/parameter_intake.h"
#include "sweep/run_loop.h"
#include "sweep/sweep_driver.h"

#include <Eigen/Eigenvalues>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

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

// Newton iterations from far off the minimum to convergence (a layer reversal of the default stack
// just past its switching field), with the window's threshold and an energy scale of 100.
void NewtonIteration(benchmark::State& state) {
    LayerModel model = DefaultModel();
    const EnergyDerivatives energy(model);
    AngleSet grad{};
    long long iterations = 0;
    for (auto _ : state) {
        AngleSet a{3, 3, 3, 3};
        iterations += RelaxNewton(energy, a, 6660, 100.0, 2e-10, grad);
        benchmark::DoNotOptimize(a);
    }
    state.counters["iterations_per_run"] = static_cast<double>(iterations) / static_cast<double>(state.iterations());
    state.counters["ns_per_iteration"] =
        benchmark::Counter(static_cast<double>(iterations), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(NewtonIteration)->Unit(benchmark::kMicrosecond);

// The eigen-decomposition of Newton's Hessians: Eigen's SelfAdjointEigenSolver (0) against
// SymmetricEigen4 (1), over the Hessians of the default stack at 64 spread angle sets.
void HessianEigen(benchmark::State& state) {
    const EnergyDerivatives energy(DefaultModel());
    std::vector<Matrix4> hessians(64);
    for (std::size_t n = 0; n < hessians.size(); ++n) {
        const double x = static_cast<double>(n);
        Vector4 grad;
        energy.GradientAndHessian(Vector4(0.7 * x, 1.3 * x + 0.2, 2.9 * x + 0.5, 0.3 * x + 1.1), grad, hessians[n]);
    }
    const bool own = state.range(0) == 1;
    for (auto _ : state) {
        for (const Matrix4& h : hessians) {
            if (own) {
                const SymmetricEigen4 eigen(h);
                benchmark::DoNotOptimize(eigen.Eigenvectors());
            } else {
                const Eigen::SelfAdjointEigenSolver<Matrix4> eigen(h);
                benchmark::DoNotOptimize(eigen.eigenvectors());
            }
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(hessians.size()));
}
BENCHMARK(HessianEigen)->ArgName("own")->Arg(0)->Arg(1);

// A whole sweep from Start on the window's default fields, with the given step count and solver
// (0 descent, 1 Newton); the iterations of each step are counted.
void Sweep(benchmark::State& state) {
    long long iterations = 0;
    std::int32_t rows = 0;
    std::vector<std::int32_t> perStep;
    for (auto _ : state) {
        SweepDriver driver;
        SweepParameters parameters;
        const std::int32_t steps = static_cast<std::int32_t>(state.range(0));
        parameters.Texts.Nstep = std::to_string(steps);
        parameters.Texts.StepF = steps > 500 ? "0.1220703125" : "1.0";
        driver.Create(SweepFieldsOf(parameters.Texts));
        driver.Session.Solver.Method = state.range(1) == 1 ? SolverMethod::Newton : SolverMethod::Descent;
        driver.Start(parameters, DisplayMode::MvHx);
        iterations = 0;
        perStep.clear();
        TickResult result = TickResult::Continue;
        while (result == TickResult::Continue) {
            result = driver.Tick(parameters.DeltaR, DisplayMode::MvHx);
            iterations += driver.Session.IterationCount;
            perStep.push_back(driver.Session.IterationCount);
        }
        rows = driver.Simulation->SimRows;
    }
    std::sort(perStep.begin(), perStep.end());
    state.counters["iterations"] = static_cast<double>(iterations);
    state.counters["rows"] = rows;
    state.counters["median_per_step"] = perStep[perStep.size() / 2];
    state.counters["max_per_step"] = perStep.back();
}
BENCHMARK(Sweep)
    ->ArgNames({"steps", "newton"})
    ->Args({500, 0})
    ->Args({4096, 0})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);
BENCHMARK(Sweep)->ArgNames({"steps", "newton"})->Args({500, 1})->Args({4096, 1})->Unit(benchmark::kMillisecond);

// The same sweep through the loop runner alone (no window driver, no drawing, no texts per step).
void Loop(benchmark::State& state) {
    ParameterTexts texts;
    const std::int32_t steps = static_cast<std::int32_t>(state.range(0));
    ParameterSet set = ParametersOf(texts, '.');
    set.Model.Solver.Method = state.range(1) == 1 ? SolverMethod::Newton : SolverMethod::Descent;
    LoopPlan plan;
    plan.Branches = {{set.Sweep.StartKiloAmperesPerMetre, steps > 500 ? 0.1220703125 : 1.0, steps}};
    std::int64_t iterations = 0;
    for (auto _ : state) {
        const LoopResult result = RunLoop(set.Model, plan, InitialState::Saturated());
        iterations = result.Iterations;
        benchmark::DoNotOptimize(result[Observable::Field].data());
    }
    state.counters["iterations"] = static_cast<double>(iterations);
}
BENCHMARK(Loop)->ArgNames({"steps", "newton"})->Args({500, 1})->Args({4096, 1})->Unit(benchmark::kMillisecond);

} // namespace
} // namespace dravo2

BENCHMARK_MAIN();
