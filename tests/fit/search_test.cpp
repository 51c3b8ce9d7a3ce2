#include "fit/search.h"

#include "data/errors.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <mutex>
#include <random>
#include <thread>

namespace dravo2::fit {
namespace {

// A cheap stand-in for a loop: y = a + b t sampled at 50 points, with fixed noise.
class LineObjective : public Objective {
public:
    explicit LineObjective(double noise) {
        std::mt19937 random(7);
        std::normal_distribution<double> normal(0, noise);
        for (int i = 0; i < 50; ++i) {
            T.push_back(i / 49.0);
            Y.push_back(2.0 + 3.0 * T.back() + (noise > 0 ? normal(random) : 0));
        }
    }
    std::vector<double> Residuals(const std::vector<double>& x) const override {
        Seen(x);
        std::vector<double> r;
        for (std::size_t i = 0; i < T.size(); ++i) {
            r.push_back(Y[i] - (x[0] + x[1] * T[i]));
        }
        return r;
    }
    double Misfit(const std::vector<double>& x) const override {
        double sum = 0;
        for (const double r : Residuals(x)) {
            sum += r * r;
        }
        return std::sqrt(sum / static_cast<double>(T.size()));
    }

    std::vector<double> T;
    std::vector<double> Y;
    mutable std::mutex Guard;
    mutable std::vector<std::vector<double>> Points;

private:
    void Seen(const std::vector<double>& x) const {
        const std::lock_guard lock(Guard);
        Points.push_back(x);
    }
};

std::vector<FreeParameter> LineParameters() {
    // Parameter 12 (J1) and 8 (K1) only lend their names and kinds; the bounds are the test's.
    return {FreeParameter(12, {-10, 10}), FreeParameter(8, {0.01, 100})};
}

TEST(Search, FindsTheMinimumWithinTheBoundsAndRepeatsForTheSameSeed) {
    const LineObjective line(0);
    SearchSettings settings;
    settings.Evaluations = 600;
    settings.Threads = 2;
    settings.Seed = 11;
    Search search(line, LineParameters(), {-5, 50}, settings);
    std::int64_t improvements = 0;
    search.OnImprovement = [&](std::int64_t, double, const std::vector<double>&) { ++improvements; };
    const SearchResult result = search.Run();
    EXPECT_NEAR(result.Values[0], 2.0, 1e-4);
    EXPECT_NEAR(result.Values[1], 3.0, 1e-4);
    EXPECT_LT(result.Misfit, 1e-4);
    EXPECT_LE(result.Evaluations, 2 * settings.Evaluations);
    EXPECT_GT(improvements, 0);
    EXPECT_TRUE(LineParameters()[1].Logarithmic());
    for (const auto& x : line.Points) {
        ASSERT_GE(x[0], -10);
        ASSERT_LE(x[0], 10);
        ASSERT_GE(x[1], 0.01);
        ASSERT_LE(x[1], 100);
    }
    const auto history = search.History();
    ASSERT_FALSE(history.empty());
    for (std::size_t i = 1; i < history.size(); ++i) {
        EXPECT_LT(history[i].Misfit, history[i - 1].Misfit);
    }

    Search again(line, LineParameters(), {-5, 50}, settings);
    const SearchResult repeated = again.Run();
    EXPECT_EQ(repeated.Values, result.Values);
    EXPECT_EQ(repeated.Misfit, result.Misfit);
    EXPECT_EQ(repeated.Evaluations, result.Evaluations);
}

// Cancels its own search after a number of evaluations, as a user pressing Cancel would.
class CancellingObjective : public LineObjective {
public:
    CancellingObjective() : LineObjective(0) {}
    double Misfit(const std::vector<double>& x) const override {
        const double misfit = LineObjective::Misfit(x);
        const std::lock_guard lock(Guard);
        Best = std::min(Best, misfit);
        if (++Count == 100) {
            Owner->Cancel();
        }
        return misfit;
    }
    Search* Owner = nullptr;
    mutable int Count = 0;
    mutable double Best = INFINITY;
};

TEST(Search, ACancelledSearchReturnsTheBestPointSoFar) {
    CancellingObjective objective;
    SearchSettings settings;
    settings.Evaluations = 100000;
    settings.Threads = 2;
    Search search(objective, LineParameters(), {-5, 50}, settings);
    objective.Owner = &search;
    const SearchResult result = search.Run();
    EXPECT_EQ(result.Reason, StopReason::Cancelled);
    EXPECT_LT(result.Evaluations, 200);
    EXPECT_EQ(result.Misfit, objective.Best);
    EXPECT_EQ(LineObjective(0).Misfit(result.Values), result.Misfit);
}

TEST(Search, StopsAtTheTimeLimit) {
    const LineObjective line(0);
    SearchSettings settings;
    settings.Evaluations = 1'000'000'000;
    settings.Threads = 1;
    settings.TimeLimit = 0.2;
    Search search(line, LineParameters(), {-5, 50}, settings);
    const SearchResult result = search.Run();
    EXPECT_EQ(result.Reason, StopReason::TimeLimit);
    EXPECT_LT(result.Seconds, 5);
    EXPECT_TRUE(std::isfinite(result.Misfit));
}

// One evaluation as long as a loop with a huge iteration budget: it ends only when asked to stop
// (or after some seconds, so that a search that never asks fails instead of hanging).
class LongObjective : public Objective {
public:
    double Misfit(const std::vector<double>& /*values*/) const override { return 1; }
    std::vector<double> Residuals(const std::vector<double>& /*values*/) const override { return {}; }
    double StoppableMisfit(const std::vector<double>& /*values*/, const StopCheck& stop) const override {
        for (long step = 0; step < 500'000'000; ++step) {
            if (stop()) {
                ++Stopped;
                return INFINITY;
            }
        }
        return 1;
    }
    mutable std::atomic<int> Stopped{0};
};

TEST(Search, ATimeLimitOrACancelEndsTheEvaluationUnderWay) {
    for (const bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "cancel" : "time limit");
        const LongObjective objective;
        SearchSettings settings;
        settings.Evaluations = 3;
        settings.Threads = 2;
        settings.TimeLimit = cancel ? 0 : 0.05;
        Search search(objective, LineParameters(), {-5, 50}, settings);
        std::jthread user;
        if (cancel) {
            user = std::jthread([&search] {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                search.Cancel();
            });
        }
        const SearchResult result = search.Run();
        EXPECT_EQ(result.Reason, cancel ? StopReason::Cancelled : StopReason::TimeLimit);
        EXPECT_EQ(objective.Stopped.load(), 2); // one evaluation under way on each thread
        EXPECT_EQ(result.Evaluations, 0);       // a cut evaluation is no evaluation
        EXPECT_FALSE(std::isfinite(result.Misfit));
    }
}

TEST(Search, RefusesAnEmptyOrMismatchedStart) {
    const LineObjective line(0);
    EXPECT_THROW((Search{line, {}, {}, SearchSettings{}}), ProgramError);
    EXPECT_THROW((Search{line, LineParameters(), {1}, SearchSettings{}}), ProgramError);
}

TEST(StandardErrors, MatchTheLeastSquaresFormulaOfAStraightLine) {
    const LineObjective line(0.05);
    // The least-squares line and its textbook standard errors.
    const auto n = static_cast<double>(line.T.size());
    double st = 0;
    double sy = 0;
    double stt = 0;
    double sty = 0;
    for (std::size_t i = 0; i < line.T.size(); ++i) {
        st += line.T[i];
        sy += line.Y[i];
        stt += line.T[i] * line.T[i];
        sty += line.T[i] * line.Y[i];
    }
    const double determinant = n * stt - st * st;
    const double b = (n * sty - st * sy) / determinant;
    const double a = (sy - b * st) / n;
    double rss = 0;
    for (const double r : line.Residuals({a, b})) {
        rss += r * r;
    }
    const double variance = rss / (n - 2);
    const auto errors = StandardErrors(line, LineParameters(), {a, b});
    ASSERT_TRUE(errors[0].Determined);
    ASSERT_TRUE(errors[1].Determined);
    EXPECT_NEAR(errors[0].Value, std::sqrt(variance * stt / determinant), 1e-6 * errors[0].Value);
    EXPECT_NEAR(errors[1].Value, std::sqrt(variance * n / determinant), 1e-6 * errors[1].Value);
}

// Residuals with a parameter that does nothing and one that switches the curve.
class SwitchObjective : public Objective {
public:
    std::vector<double> Residuals(const std::vector<double>& x) const override {
        std::vector<double> r;
        for (int i = 0; i < 20; ++i) {
            const double level = x[1] > 0.5 ? 1.0 : -1.0; // jumps at 0.5
            r.push_back(std::sin(i) + x[0] * i * 0.01 + (i > 10 ? level : 0));
        }
        return r;
    }
    double Misfit(const std::vector<double>& x) const override { return Residuals(x)[0]; }
};

TEST(StandardErrors, AreNotDeterminedForAParameterWithoutEffectOrAtASwitch) {
    const SwitchObjective objective;
    const std::vector<FreeParameter> parameters{FreeParameter(12, {-1, 1}), FreeParameter(13, {0, 1}),
                                                FreeParameter(14, {0, 1})};
    // Parameter three is not read by the objective; parameter two sits next to the switch.
    const auto errors = StandardErrors(objective, parameters, {0.2, 0.5004, 0.3});
    EXPECT_TRUE(errors[0].Determined);
    EXPECT_FALSE(errors[1].Determined);
    EXPECT_NE(errors[1].Why.find("switching"), std::string::npos);
    EXPECT_FALSE(errors[2].Determined);
    EXPECT_NE(errors[2].Why.find("does not change"), std::string::npos);
}

} // namespace
} // namespace dravo2::fit
