// Costs of the fit: one evaluation of the loop objective, and a whole two-parameter search.
#include "fit/fit_job.h"
#include "fit/synthetic_loop.h"

#include <benchmark/benchmark.h>

namespace dravo2 {
namespace {

// A loop of two branches of 200 steps each, about 400 measured points.
ParameterTexts LoopTexts() {
    ParameterTexts texts;
    texts.StartF = "200";
    texts.StepF = "-2";
    texts.Nstep = "200";
    return texts;
}

fit::FitRequest TwoParameterRequest(std::int64_t evaluations, int threads) {
    fit::FitRequest request;
    request.Measured = testing::SyntheticLoop(LoopTexts(), 3e-4, 1e-10, 0);
    request.Texts = LoopTexts();
    request.Texts.J1 = "-6e-6";
    request.Texts.K[0] = "300";
    request.Free = {{*fit::ParameterIndex("J1"), std::nullopt}, {*fit::ParameterIndex("K1"), std::nullopt}};
    request.Simulation.Terms = {true, false};
    request.Settings.Evaluations = evaluations;
    request.Settings.Threads = threads;
    return request;
}

void LoopEvaluation(benchmark::State& state) {
    const fit::FitJob job(TwoParameterRequest(1, 1));
    const fit::LoopObjective& objective = job.Objective();
    std::vector<double> values = objective.StartValues();
    for (auto _ : state) {
        benchmark::DoNotOptimize(objective.Misfit(values));
    }
    state.counters["points"] = static_cast<double>(objective.Loop().Field.size());
}
BENCHMARK(LoopEvaluation)->Unit(benchmark::kMillisecond);

// The whole fit with its budget of 3000 evaluations a search on two threads: wall time.
void TwoParameterFit(benchmark::State& state) {
    for (auto _ : state) {
        fit::FitJob job(TwoParameterRequest(3000, 2));
        const fit::FitOutcome outcome = job.Run();
        benchmark::DoNotOptimize(outcome.Values);
        state.counters["evaluations"] = static_cast<double>(outcome.Summary.Evaluations);
        state.counters["misfit"] = outcome.Summary.MisfitAfter.value_or(-1);
    }
}
BENCHMARK(TwoParameterFit)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

} // namespace
} // namespace dravo2

BENCHMARK_MAIN();
