#pragma once

#include "fit/joint_objective.h"
#include "fit/loop_objective.h"
#include "fit/report.h"
#include "fit/search.h"

#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace dravo2::fit {

// A free parameter by its index in FittableParameters(), with bounds of its own or the default
// bounds around its current value.
struct FreeChoice {
    std::size_t Index = 0;
    std::optional<Bounds> Range;
    bool Local = false; // one value for each data set instead of one for all
};

struct FitRequest {
    ParameterTexts Texts; // the current fields: values of the fixed parameters, starts of the free ones
    MeasuredLoop Measured;
    std::vector<FreeChoice> Free;
    LoopSettings Simulation;
    SearchSettings Settings;
    // Several measured curves fitted together: when given, these are the data sets, and Texts,
    // Measured and Simulation above are not used.
    std::vector<DataSet> DataSets{};
};

struct FitOutcome {
    FitSummary Summary;
    std::vector<double> Values; // fitted values of the free parameters
    ParameterTexts Fitted;      // the fields after the fit, sweep fields on the first branch
    // With several data sets, each one's fields after the fit (Fitted is the first of them).
    std::vector<ParameterTexts> FittedSets;
    std::string NoMisfit; // why the fitted values give no misfit, when they give none
};

// One fit from request to summary: the misfit of the starting values, the search, the misfit
// and standard errors of the best values. Run blocks; Cancel and the search's progress may be
// used from other threads meanwhile. A cancel or the time limit ends the evaluation under way
// within a field step; the best values so far are then reported with the search's misfit, and
// neither compared again nor given standard errors.
class FitJob {
public:
    // Throws ProgramError for a field that does not convert, bounds that leave no range, a starting
    // value outside its bounds, a loop without branches, or a shared free parameter that data sets
    // give different starting values. The data sets of one evaluation run in parallel when the
    // search has fewer threads than there are cores.
    explicit FitJob(FitRequest request);

    // The first data set's objective (the only one of a single curve).
    const LoopObjective& Objective() const { return Target->Set(0); }
    const JointObjective& Joint() const { return *Target; }
    const std::vector<FreeParameter>& Parameters() const { return Free; }
    Search& TheSearch() { return *Searcher; }
    void Cancel() { Searcher->Cancel(); }

    FitOutcome Run();

private:
    FitRequest Request;
    std::unique_ptr<JointObjective> Target;
    std::vector<FreeParameter> Free;
    std::vector<std::string> Names; // of the free slots: NAME, or NAME@N for data set N's own
    std::vector<double> Start;
    std::unique_ptr<Search> Searcher;
};

// The parameter set as KEY=VALUE lines that the sweep command reads: every fittable parameter,
// the anisotropy form, the noise, threshold, budget and solver, and the sweep fields.
std::string KeyValueLines(const ParameterTexts& texts, bool newton);

// The parameter sets of several data sets as such lines: a line every set shares once, and a line
// that differs, or whose key is one of `local`, as KEY@N=VALUE for each data set N (from 1).
std::string KeyValueLines(const std::vector<ParameterTexts>& sets, bool newton,
                          const std::vector<std::string>& local = {});

} // namespace dravo2::fit
