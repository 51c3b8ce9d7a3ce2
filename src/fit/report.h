#pragma once

#include "fit/search.h"

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dravo2::fit {

struct FittedParameter {
    std::string Name;
    std::string Unit;
    double Before = 0;
    double After = 0;
    Bounds Range;
    StandardError Error;
};

// What a finished fit reports: the summary on the terminal, in the window and in the JSON report.
struct FitSummary {
    std::optional<double> MisfitBefore; // none where the starting values give no misfit
    std::optional<double> MisfitAfter;
    double Scale = 0;
    double Slope = 0;
    double Offset = 0;
    std::size_t Covered = 0;
    std::size_t Total = 0;
    std::vector<FittedParameter> Parameters;
    std::int64_t Evaluations = 0;
    std::int64_t Budget = 0; // of each search
    double Seconds = 0;
    int Threads = 0;
    std::uint64_t Seed = 0;
    std::string Stopped;
};

// A few lines for people: misfit before and after, each free parameter with its value and
// standard error, evaluations, wall time and why the search stopped. `separator` is the decimal
// separator of the numbers.
std::string SummaryText(const FitSummary& summary, char separator = '.');

// The same as a JSON object; numbers in full precision, null where there is none.
nlohmann::json SummaryJson(const FitSummary& summary);

} // namespace dravo2::fit
