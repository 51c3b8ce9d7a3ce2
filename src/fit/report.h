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
    bool AtBound = false; // within 0.1 % of a bound: its error is then no error of the fit
};

// Whether `value` lies within 0.1 % (of the range, or of the bound's magnitude) of a bound.
bool NearBound(double value, const Bounds& range);

// What a joint fit reports of each data set: its own misfit (of its own half range) and
// comparison terms at the starting and at the fitted values.
struct DataSetSummary {
    std::string Label;
    std::string Observable; // "projection", "magnetoresistance" or "resonance"
    // A resonance table's root-mean-square (weighted) residual in GHz after the fit; none for
    // other curves, whose scale, slope and offset are reported instead.
    std::optional<double> RmsGigahertz;
    std::optional<double> MisfitBefore;
    std::optional<double> MisfitAfter;
    double HalfRange = 0;
    double Scale = 0;
    double Slope = 0;
    double Offset = 0;
    bool ScaleFixed = false;
    std::string MomentUnit;
    std::string Degenerate;
    std::optional<double> ChiSquare;
    std::size_t Covered = 0;
    std::size_t Total = 0;
};

// What a finished fit reports: the summary on the terminal, in the window and in the JSON report.
struct FitSummary {
    std::optional<double> MisfitBefore; // none where the starting values give no misfit
    std::optional<double> MisfitAfter;
    double HalfRange = 0; // the misfit's unit: half the measured moment's peak-to-peak
    double Scale = 0;
    double Slope = 0;                   // moment per A/m
    double Offset = 0;                  // moment
    bool ScaleFixed = false;            // the scale came from the sample's area
    std::string MomentUnit;             // "emu", "A m2", or empty where the file does not say
    std::string Degenerate;             // which of scale, slope and offset the data cannot tell apart
    std::optional<double> ChiSquare;    // with measurement uncertainties
    std::optional<double> RmsGigahertz; // a resonance table's, as in DataSetSummary
    std::int32_t DegreesOfFreedom = 0;
    std::size_t Covered = 0;
    std::size_t Total = 0;
    std::vector<FittedParameter> Parameters;
    // Correlations of the free parameters' values, in their order; NaN where a parameter has no
    // standard error.
    std::vector<std::vector<double>> Correlation;
    std::int64_t Evaluations = 0;
    std::int64_t Budget = 0; // of each search
    double Seconds = 0;
    int Threads = 0;
    std::uint64_t Seed = 0;
    std::string Stopped;
    // Stopped before the best values were compared again: their misfit is the search's, and the
    // scale, slope, offset and standard errors are not known.
    bool NotCompared = false;
    // With several data sets, each one's part; the misfits above are then the joint ones (the
    // root mean square of the stacked residual blocks), and HalfRange, Scale, Slope, Offset and
    // Degenerate are those of each data set instead.
    std::vector<DataSetSummary> DataSets;
};

// A few lines for people: misfit before and after (jointly and of each data set where there are
// several) (with chi^2 where the data give
// uncertainties), scale, slope and offset with their units, each free parameter with its value and
// standard error (or why it has none, or that it lies at a bound), the pairs correlated by more
// than 0.95, evaluations, wall time and why the search stopped. `separator` is the decimal
// separator of the numbers.
std::string SummaryText(const FitSummary& summary, char separator = '.');

// The same as a JSON object; numbers in full precision, null where there is none.
nlohmann::json SummaryJson(const FitSummary& summary);

} // namespace dravo2::fit
