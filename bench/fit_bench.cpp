// Costs of the fit: one evaluation of the loop objective, and a whole two-parameter search.
#include "fit/fit_job.h"
#include "fit/synthetic_loop.h"

#include <benchmark/benchmark.h>

#include <string>

namespace dravo2 {
namespace {

// A loop of two branches of `steps` steps of 2 kA/m each from `steps` kA/m, about 2 x steps
// measured points.
ParameterTexts LoopTexts(int steps = 200) {
    ParameterTexts texts;
    texts.StartF = std::to_string(steps);
    texts.StepF = "-2";
    texts.Nstep = std::to_string(steps);
    return texts;
}

fit::FitRequest TwoParameterRequest(std::int64_t evaluations, int threads, int steps = 200) {
    fit::FitRequest request;
    request.Measured = testing::SyntheticLoop(LoopTexts(steps), 3e-4, 1e-10, 0);
    request.Texts = LoopTexts(steps);
    request.Texts.J1 = "-6e-6";
    request.Texts.K[0] = "300";
    request.Free = {{*fit::ParameterIndex("J1"), std::nullopt}, {*fit::ParameterIndex("K1"), std::nullopt}};
    request.Simulation.Terms = {true, false};
    request.Settings.Evaluations = evaluations;
    request.Settings.Threads = threads;
    return request;
}

// One evaluation of a loop of two branches of the given steps (200: about 400 points, 280: 560).
void LoopEvaluation(benchmark::State& state) {
    const fit::FitJob job(TwoParameterRequest(1, 1, static_cast<int>(state.range(0))));
    const fit::LoopObjective& objective = job.Objective();
    std::vector<double> values = objective.StartValues();
    for (auto _ : state) {
        benchmark::DoNotOptimize(objective.Misfit(values));
    }
    state.counters["points"] = static_cast<double>(objective.Loop().Field.size());
}
BENCHMARK(LoopEvaluation)->ArgName("steps")->Arg(200)->Arg(280)->Unit(benchmark::kMillisecond);

// The whole fit with its budget of 3000 evaluations a search on two threads: wall time, and the
// CPU time of every thread (which a machine shared with other work does not inflate).
void TwoParameterFit(benchmark::State& state) {
    for (auto _ : state) {
        fit::FitJob job(TwoParameterRequest(3000, 2));
        const fit::FitOutcome outcome = job.Run();
        benchmark::DoNotOptimize(outcome.Values);
        state.counters["evaluations"] = static_cast<double>(outcome.Summary.Evaluations);
        state.counters["misfit"] = outcome.Summary.MisfitAfter.value_or(-1);
    }
}
BENCHMARK(TwoParameterFit)->Unit(benchmark::kSecond)->MeasureProcessCPUTime()->UseRealTime()->Iterations(1);

// Three loops of the same stack at field angles 0, 30 and 60 degrees fitted together for J1, K1
// and the axis of layer 1: 3000 evaluations in all, on one search thread whose evaluations run
// the three loops in parallel (argument 1), or on two search threads of 1500 evaluations each
// that run the loops one after the other (argument 2).
void ThreeLoopFit(benchmark::State& state) {
    const auto threads = static_cast<int>(state.range(0));
    fit::FitRequest request;
    for (const char* angle : {"0", "30", "60"}) {
        ParameterTexts truth = LoopTexts();
        truth.AxisDegrees[0] = 20;
        fit::SetParameterText(truth, *fit::ParameterIndex("field_angle"), angle);
        fit::DataSet set;
        set.Measured = testing::SyntheticLoop(truth, 3e-4, 0, 0);
        set.Texts = truth;
        set.Texts.J1 = "-6e-6";
        set.Texts.K[0] = "300";
        set.Texts.AxisDegrees[0] = 40;
        request.DataSets.push_back(set);
    }
    request.Free = {{*fit::ParameterIndex("J1"), std::nullopt},
                    {*fit::ParameterIndex("K1"), std::nullopt},
                    {*fit::ParameterIndex("axis1"), std::nullopt}};
    request.Settings.Evaluations = 3000 / threads;
    request.Settings.Threads = threads;
    for (auto _ : state) {
        fit::FitJob job(request);
        const fit::FitOutcome outcome = job.Run();
        benchmark::DoNotOptimize(outcome.Values);
        state.counters["evaluations"] = static_cast<double>(outcome.Summary.Evaluations);
        state.counters["misfit"] = outcome.Summary.MisfitAfter.value_or(-1);
        state.counters["parallel_data_sets"] = job.Joint().Parallel() ? 1 : 0;
    }
}
BENCHMARK(ThreeLoopFit)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kSecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Iterations(1);

} // namespace
} // namespace dravo2

BENCHMARK_MAIN();
