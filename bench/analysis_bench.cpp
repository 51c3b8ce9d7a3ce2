// Costs of the comparison that the window repeats after every sweep tick, and of reading a long
// measured file.
#include "analysis/misfit.h"
#include "data/curve_import.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace dravo2 {
namespace {

// A loop of `rows` points: down from 1e5 A/m to -1e5 A/m, then back up.
void Loop(std::int32_t rows, double shift, std::vector<double>& field, std::vector<double>& value) {
    const std::int32_t half = rows / 2;
    for (std::int32_t i = 0; i < rows; ++i) {
        const bool down = i < half;
        const double h = down ? 1e5 - 2e5 * i / half : -1e5 + 2e5 * (i - half) / (rows - half);
        field.push_back(h);
        value.push_back(std::tanh((h + (down ? -shift : shift)) / 2e4));
    }
}

// Measured and simulated curves of the table's full length, with the background slope and offset.
void MisfitFullTables(benchmark::State& state) {
    std::vector<double> hm, ym, hs, ms;
    Loop(MaxRows, 1e4, hm, ym);
    Loop(MaxRows, 1.2e4, hs, ms);
    const CurveView measured{hm.data(), ym.data(), MaxRows};
    const CurveView simulated{hs.data(), ms.data(), MaxRows};
    for (auto _ : state) {
        const MisfitResult result = ComputeMisfit(measured, simulated, 1.0, {true, true});
        benchmark::DoNotOptimize(result.Misfit);
    }
}
BENCHMARK(MisfitFullTables)->Unit(benchmark::kMicrosecond);

// A 5000-row comma-separated file with a names row, parsed and thinned into the table.
void ImportLongFile(benchmark::State& state) {
    std::string bytes = "Magnetic Field (Oe),Moment (emu),Temperature (K)\n";
    for (int i = 0; i < 5000; ++i) {
        bytes += std::to_string(20000 - 8 * i) + "," + std::to_string(1e-5 * std::sin(i)) + ",300.5\n";
    }
    auto experiment = std::make_unique<ExperimentData>();
    for (auto _ : state) {
        const ParsedCurveFile file = ParseCurveFile(bytes);
        const ImportSuggestion suggestion = SuggestImport(file);
        FillExperiment(file, {suggestion.FieldColumn, suggestion.MomentColumn, FieldUnit::Oersted, LongCurve::Thin},
                       *experiment);
        benchmark::DoNotOptimize(experiment->ExpRows);
    }
}
BENCHMARK(ImportLongFile)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace dravo2

BENCHMARK_MAIN();
