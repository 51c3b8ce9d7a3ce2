// The cost of one sweep tick in the window, drawing included, on the default fields. Run it with
// the offscreen platform.
#include "support/offscreen.h"
#include "ui/main_window.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <memory>

namespace dravo2 {
namespace {

class SilentReporter : public ErrorReporter {
public:
    void Report(const QString&) override { ++Count; }
    int Count = 0;
};

class NoDialogs : public FileDialogs {
public:
    QString OpenExperiment(int&) override { return {}; }
    QString SaveResult(const QString&) override { return {}; }
};

// Each benchmark iteration is one tick; a finished sweep is started again outside the timing.
// The argument chooses the solver: 0 the gradient descent, 1 Newton's method.
void WindowTick(benchmark::State& state) {
    SilentReporter reporter;
    NoDialogs dialogs;
    auto form = std::make_unique<TForm1>(reporter, dialogs);
    form->Model().Loop().Session.Solver.Method = state.range(0) == 1 ? SolverMethod::Newton : SolverMethod::Descent;
    double slowest = 0;
    long long ticks = 0;
    for (auto _ : state) {
        if (!form->Controls().Timer1->isActive()) {
            state.PauseTiming();
            form->Controls().BitBtn1_Start->click();
            state.ResumeTiming();
        }
        const auto begin = std::chrono::steady_clock::now();
        form->Guarded([&] { form->Timer1Timer(); });
        const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - begin;
        slowest = std::max(slowest, took.count());
        ++ticks;
    }
    state.counters["slowest_ms"] = slowest;
    state.counters["errors"] = reporter.Count;
}
BENCHMARK(WindowTick)->ArgName("newton")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->Iterations(1500);

} // namespace
} // namespace dravo2

int main(int argc, char** argv) {
    dravo2::testing::UseOffscreenPlatform();
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
