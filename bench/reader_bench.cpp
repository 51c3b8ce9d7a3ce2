// The measured-file reader on a full result file (4096 rows of eight columns): the text held in
// memory, and the same text handed over in 64 KiB pieces as a file is read.
#include "data/experiment_reader.h"
#include "data/result_writer.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>

namespace dravo2 {
namespace {

std::string FullResultFile() {
    auto simulation = std::make_unique<SimulationData>();
    simulation->SimRows = MaxRows;
    for (std::int32_t r = 1; r <= MaxRows; ++r) {
        for (std::int32_t c = 1; c <= MaxCols; ++c) {
            simulation->SimTable.At(c, r) = 1e5 * r + c * 0.125;
        }
    }
    return ResultFileText(*simulation);
}

void ReadHeldInMemory(benchmark::State& state) {
    const std::string file = FullResultFile();
    auto experiment = std::make_unique<ExperimentData>();
    for (auto _ : state) {
        experiment->ClearExpTable();
        ReadExperiment(file, ExperimentFormat::Dat, *experiment, '.', nullptr);
        benchmark::DoNotOptimize(experiment->ExpRows);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(file.size()));
}
BENCHMARK(ReadHeldInMemory);

void ReadInPieces(benchmark::State& state) {
    const std::string file = FullResultFile();
    auto experiment = std::make_unique<ExperimentData>();
    for (auto _ : state) {
        std::string_view left = file;
        TextReader text(
            [&left](char* buffer, std::size_t size) {
                const std::size_t count = std::min(size, left.size());
                left.copy(buffer, count);
                left.remove_prefix(count);
                return count;
            },
            true);
        experiment->ClearExpTable();
        ReadExperiment(text, ExperimentFormat::Dat, *experiment, '.', nullptr);
        benchmark::DoNotOptimize(experiment->ExpRows);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(file.size()));
}
BENCHMARK(ReadInPieces);

} // namespace
} // namespace dravo2

BENCHMARK_MAIN();
