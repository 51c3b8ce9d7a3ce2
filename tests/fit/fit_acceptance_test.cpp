// Fits of loops the program generates from known parameters with the Newton solver.
#include "fit/fit_job.h"
#include "fit/synthetic_loop.h"

#include <gtest/gtest.h>

#include <cmath>

namespace dravo2::fit {
namespace {

// Two unequal layers coupled antiferromagnetically, the thicker one with an anisotropy axis at
// 30 degrees to the field: the loop has a plateau of the net moment whose edges move with J1
// and K1. 80 steps a branch.
ParameterTexts CoupledPair() {
    ParameterTexts texts;
    texts.M = {"1.5", "1.0", "0.7", "1.0"};
    texts.t = {"3e-9", "2e-9", "0", "0"};
    texts.K = {"2e4", "5e3", "60", "1000"};
    texts.AxisDegrees = {30, 0, 0, 0};
    texts.J1 = "-1e-4";
    texts.J3 = "0";
    texts.Bias = "0";
    texts.StartF = "100";
    texts.StepF = "-2.5";
    texts.Nstep = "80";
    return texts;
}

struct Fitted {
    FitOutcome Outcome;
    double TrueMisfit = 0;
};

Fitted Fit(const ParameterTexts& truth, const ParameterTexts& start, const std::vector<std::string>& free, double noise,
           std::int64_t evaluations, int threads = 2, std::uint64_t seed = 1,
           const std::vector<std::optional<Bounds>>& bounds = {}) {
    FitRequest request;
    request.Measured = testing::SyntheticLoop(truth, 2.5e-4, 4e-11, 1e-6, noise, 3);
    request.Texts = start;
    for (std::size_t i = 0; i < free.size(); ++i) {
        request.Free.push_back({*ParameterIndex(free[i]), i < bounds.size() ? bounds[i] : std::nullopt});
    }
    request.Simulation.Terms = {true, true};
    request.Settings.Evaluations = evaluations;
    request.Settings.Threads = threads;
    request.Settings.Seed = seed;
    FitJob job(request);
    Fitted fitted;
    std::vector<double> trueValues;
    for (const std::string& name : free) {
        trueValues.push_back(ParameterValue(truth, *ParameterIndex(name)));
    }
    fitted.TrueMisfit = job.Objective().Misfit(trueValues);
    fitted.Outcome = job.Run();
    return fitted;
}

double Relative(double value, double truth) {
    return std::fabs(value / truth - 1);
}

TEST(FitAcceptance, RecoversCouplingAndAnisotropyFromStartsAFactorOfThreeOff) {
    ParameterTexts start = CoupledPair();
    start.J1 = "-3e-4";
    start.K[0] = "6.6667e3";
    // The switching fields make the misfit a narrow valley in (J1, K1): several short searches
    // find it more surely than one long one.
    const Fitted fitted = Fit(CoupledPair(), start, {"J1", "K1"}, 0, 300, 4);
    const auto& parameters = fitted.Outcome.Summary.Parameters;
    EXPECT_LT(Relative(parameters[0].After, -1e-4), 0.02) << parameters[0].After;
    EXPECT_LT(Relative(parameters[1].After, 2e4), 0.02) << parameters[1].After;
    EXPECT_LT(*fitted.Outcome.Summary.MisfitAfter, 1e-3);
}

TEST(FitAcceptance, WithNoiseTheTruthLiesWithinThreeStandardErrors) {
    ParameterTexts start = CoupledPair();
    start.J1 = "-2e-4";
    start.K[0] = "1e4";
    const Fitted fitted = Fit(CoupledPair(), start, {"J1", "K1"}, 0.01, 300, 4);
    const FitSummary& summary = fitted.Outcome.Summary;
    EXPECT_LE(*summary.MisfitAfter, fitted.TrueMisfit);
    const double truth[] = {-1e-4, 2e4};
    for (std::size_t i = 0; i < 2; ++i) {
        const FittedParameter& p = summary.Parameters[i];
        ASSERT_TRUE(p.Error.Determined) << p.Name << ": " << p.Error.Why;
        EXPECT_LE(std::fabs(p.After - truth[i]), 3 * p.Error.Value) << p.Name;
        EXPECT_GT(p.Error.Value, 0);
    }
}

TEST(FitAcceptance, RecoversBiasAndCouplingOfAnExchangeBiasedStack) {
    // The coupled pair beside a pinned layer 4 whose loop the bias shifts by about 40 kA/m.
    ParameterTexts truth = CoupledPair();
    truth.t[3] = "5e-9";
    truth.Bias = "2e-4";
    truth.StartF = "120";
    truth.Nstep = "96";
    ParameterTexts start = truth;
    start.J1 = "-2e-4";
    start.Bias = "4e-4";
    // The coupling's basin is narrow (10 % of J1 either way) beside a broad false valley near
    // -4.5e-4 J/m^2, so the range is one a physicist would give, not the default twenty-fold one.
    const Fitted fitted = Fit(truth, start, {"bias", "J1"}, 0, 400, 6, 1, {std::nullopt, Bounds{-3e-4, 0}});
    const auto& parameters = fitted.Outcome.Summary.Parameters;
    EXPECT_LT(Relative(parameters[0].After, 2e-4), 0.02) << parameters[0].After;
    EXPECT_LT(Relative(parameters[1].After, -1e-4), 0.02) << parameters[1].After;
}

TEST(FitAcceptance, TheSameSeedGivesTheSameFit) {
    ParameterTexts start = CoupledPair();
    start.J1 = "-3e-4";
    const Fitted first = Fit(CoupledPair(), start, {"J1", "K2"}, 0.01, 60, 2, 5);
    const Fitted second = Fit(CoupledPair(), start, {"J1", "K2"}, 0.01, 60, 2, 5);
    EXPECT_EQ(first.Outcome.Values, second.Outcome.Values);
    EXPECT_EQ(first.Outcome.Summary.MisfitAfter, second.Outcome.Summary.MisfitAfter);
}

} // namespace
} // namespace dravo2::fit
