#include "fit/search.h"

#include "data/errors.h"

#include <Eigen/Dense>
#include <nlopt.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>

namespace dravo2::fit {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
// What the searches see where the objective gives no misfit: worse than any misfit, yet finite so
// that the simplex arithmetic stays defined.
constexpr double kNoMisfit = 1e30;

struct ThreadObjective {
    std::function<double(const std::vector<double>&)> Function;
};

double CallObjective(const std::vector<double>& x, std::vector<double>& /*gradient*/, void* data) {
    return static_cast<ThreadObjective*>(data)->Function(x);
}

} // namespace

std::string StopReasonText(StopReason reason) {
    switch (reason) {
    case StopReason::BudgetSpent:
        return "evaluation budget spent";
    case StopReason::Converged:
        return "converged";
    case StopReason::TimeLimit:
        return "time limit reached";
    case StopReason::Cancelled:
        break;
    }
    return "cancelled";
}

Search::Search(const Objective& objective, std::vector<FreeParameter> parameters, std::vector<double> start,
               SearchSettings settings)
    : Target(objective), Parameters(std::move(parameters)), Settings(settings), BestMisfit(kInfinity) {
    if (Parameters.empty()) {
        throw ProgramError("No parameter is free: choose at least one to fit");
    }
    if (start.size() != Parameters.size()) {
        throw ProgramError("The starting point does not match the free parameters");
    }
    for (std::size_t i = 0; i < Parameters.size(); ++i) {
        StartUnit.push_back(Parameters[i].ToUnit(start[i]));
    }
    Threads =
        Settings.Threads > 0 ? Settings.Threads : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    Settings.Evaluations = std::max<std::int64_t>(Settings.Evaluations, 1);
}

ProgressPoint Search::Best() const {
    const std::lock_guard lock(Guard);
    return {Evaluations.load(), BestMisfit};
}

std::vector<ProgressPoint> Search::History() const {
    const std::lock_guard lock(Guard);
    return BestHistory;
}

void Search::Record(double misfit, const std::vector<double>& unit) {
    const std::lock_guard lock(Guard);
    if (!(misfit < BestMisfit)) {
        return;
    }
    BestMisfit = misfit;
    const std::int64_t count = Evaluations.load();
    BestHistory.push_back({count, misfit});
    if (OnImprovement) {
        std::vector<double> values(unit.size());
        for (std::size_t i = 0; i < unit.size(); ++i) {
            values[i] = Parameters[i].FromUnit(unit[i]);
        }
        OnImprovement(count, misfit, values);
    }
}

void Search::StartClock() {
    if (ClockStarted) {
        return;
    }
    ClockStarted = true;
    Begin = std::chrono::steady_clock::now();
    Deadline = Begin + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                           std::chrono::duration<double>(std::min(Settings.TimeLimit, 1e9)));
}

bool Search::StopRequested() {
    if (Cancelled.load() || TimeUp.load()) {
        return true;
    }
    if (Settings.TimeLimit > 0 && ClockStarted && std::chrono::steady_clock::now() >= Deadline) {
        TimeUp = true;
    }
    return TimeUp.load();
}

void Search::RunThread(int index, ThreadOutcome& outcome) {
    nlopt::srand(Settings.Seed + static_cast<std::uint64_t>(index));
    const std::size_t n = Parameters.size();
    outcome.Unit = StartUnit;
    outcome.Misfit = kInfinity;

    std::vector<double> values(n);
    const StopCheck stop = [this] { return StopRequested(); };
    ThreadObjective function{[&](const std::vector<double>& unit) {
        if (StopRequested()) {
            throw nlopt::forced_stop();
        }
        for (std::size_t i = 0; i < n; ++i) {
            values[i] = Parameters[i].FromUnit(unit[i]);
        }
        double misfit = Target.StoppableMisfit(values, stop);
        if (!std::isfinite(misfit) && StopRequested()) {
            throw nlopt::forced_stop(); // cut short: no misfit of these values
        }
        if (!std::isfinite(misfit)) {
            misfit = kNoMisfit;
        }
        ++outcome.Evaluations;
        ++Evaluations;
        if (misfit < outcome.Misfit) {
            outcome.Misfit = misfit;
            outcome.Unit = unit;
            Record(misfit, unit);
        }
        return misfit;
    }};

    // Each stage ends by its budget, its tolerance, or a forced stop; in every case the best point
    // is the one recorded above.
    auto runStage = [&](nlopt::opt& stage, std::vector<double> x) -> nlopt::result {
        stage.set_lower_bounds(std::vector<double>(n, 0.0));
        stage.set_upper_bounds(std::vector<double>(n, 1.0));
        stage.set_min_objective(CallObjective, &function);
        double value = 0;
        try {
            return stage.optimize(x, value);
        } catch (const nlopt::forced_stop&) {
            return nlopt::FORCED_STOP;
        } catch (const nlopt::roundoff_limited&) {
            return nlopt::ROUNDOFF_LIMITED;
        }
    };

    const auto globalBudget = std::max<std::int64_t>(
        1, static_cast<std::int64_t>(std::llround(Settings.GlobalShare * static_cast<double>(Settings.Evaluations))));
    nlopt::opt global(nlopt::GN_CRS2_LM, static_cast<unsigned>(n));
    global.set_maxeval(static_cast<int>(globalBudget));
    nlopt::result result = runStage(global, StartUnit);
    const std::int64_t left = Settings.Evaluations - outcome.Evaluations;
    if (result != nlopt::FORCED_STOP && left > 0) {
        nlopt::opt local(nlopt::LN_SBPLX, static_cast<unsigned>(n));
        local.set_maxeval(static_cast<int>(left));
        local.set_initial_step(std::vector<double>(n, Settings.LocalStep));
        local.set_xtol_abs(1e-9);
        local.set_ftol_rel(1e-12);
        result = runStage(local, outcome.Unit);
    }
    if (result == nlopt::FORCED_STOP) {
        outcome.Reason = Cancelled.load() ? StopReason::Cancelled : StopReason::TimeLimit;
    } else if (result == nlopt::MAXEVAL_REACHED) {
        outcome.Reason = StopReason::BudgetSpent;
    } else {
        outcome.Reason = StopReason::Converged;
    }
}

SearchResult Search::Run() {
    StartClock();
    std::vector<ThreadOutcome> outcomes(static_cast<std::size_t>(Threads));
    std::vector<std::exception_ptr> failures(outcomes.size());
    {
        std::vector<std::jthread> workers;
        workers.reserve(outcomes.size());
        for (int i = 0; i < Threads; ++i) {
            workers.emplace_back([this, i, &outcomes, &failures] {
                const auto k = static_cast<std::size_t>(i);
                try {
                    RunThread(i, outcomes[k]);
                } catch (...) {
                    failures[k] = std::current_exception();
                    Cancel();
                }
            });
        }
    }
    for (const auto& failure : failures) {
        if (failure) {
            std::rethrow_exception(failure);
        }
    }
    SearchResult result;
    std::size_t best = 0;
    for (std::size_t i = 1; i < outcomes.size(); ++i) {
        if (outcomes[i].Misfit < outcomes[best].Misfit) {
            best = i;
        }
    }
    for (std::size_t i = 0; i < Parameters.size(); ++i) {
        result.Values.push_back(Parameters[i].FromUnit(outcomes[best].Unit[i]));
    }
    result.Misfit = outcomes[best].Misfit >= kNoMisfit ? kInfinity : outcomes[best].Misfit;
    result.Evaluations = Evaluations.load();
    result.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Begin).count();
    result.Reason = Cancelled.load() ? StopReason::Cancelled
                    : TimeUp.load()  ? StopReason::TimeLimit
                                     : outcomes[best].Reason;
    return result;
}

std::vector<StandardError> StandardErrors(const Objective& objective, const std::vector<FreeParameter>& parameters,
                                          const std::vector<double>& values,
                                          std::vector<std::vector<double>>* correlation) {
    const std::size_t p = parameters.size();
    std::vector<StandardError> errors(p);
    if (correlation != nullptr) {
        correlation->assign(p, std::vector<double>(p, std::numeric_limits<double>::quiet_NaN()));
    }
    const std::vector<double> center = objective.Residuals(values);
    const std::size_t n = center.size();
    const auto linear = static_cast<std::size_t>(std::max(objective.LinearTerms(), 0));
    if (n <= p + linear) {
        for (auto& error : errors) {
            error.Why = "too few compared points";
        }
        return errors;
    }
    using Vector = Eigen::Map<const Eigen::VectorXd>;
    const Vector e0(center.data(), static_cast<Eigen::Index>(n));
    std::vector<Eigen::VectorXd> columns;
    std::vector<std::size_t> determined;
    for (std::size_t k = 0; k < p; ++k) {
        const FreeParameter& parameter = parameters[k];
        const bool angle = FittableParameters().at(parameter.Index()).Kind == ParameterKind::Angle;
        const Bounds& range = parameter.Range();
        const double step = angle ? std::max(1e-3, 1 / (range.Upper - range.Lower)) : 1e-3;
        const double unit = parameter.ToUnit(values[k]);
        auto shifted = [&](double u) {
            const double x = parameter.FromUnit(std::clamp(u, 0.0, 1.0));
            return angle ? std::round(x) : x;
        };
        const double x0 = angle ? std::round(values[k]) : values[k];
        const double up = shifted(unit + step);
        const double down = shifted(unit - step);
        auto residualsAt = [&](double x) {
            std::vector<double> moved = values;
            moved[k] = x;
            return objective.Residuals(moved);
        };
        const std::vector<double> plus = up != x0 ? residualsAt(up) : center;
        const std::vector<double> minus = down != x0 ? residualsAt(down) : center;
        StandardError& error = errors[k];
        if (plus.size() != n || minus.size() != n || up == down) {
            error.Why = up == down ? "no room to move within its bounds" : "the compared points change with it";
            continue;
        }
        const Vector ePlus(plus.data(), static_cast<Eigen::Index>(n));
        const Vector eMinus(minus.data(), static_cast<Eigen::Index>(n));
        if (up != x0 && down != x0) {
            const double forward = ((ePlus - e0) / (up - x0)).norm();
            const double backward = ((e0 - eMinus) / (x0 - down)).norm();
            if (std::max(forward, backward) > 10 * std::min(forward, backward)) {
                error.Why = "the curve jumps with it (a switching field moved)";
                continue;
            }
        }
        Eigen::VectorXd column = (ePlus - eMinus) / (up - down);
        if (column.norm() == 0) {
            error.Why = "the curve does not change with it";
            continue;
        }
        columns.push_back(std::move(column));
        determined.push_back(k);
    }
    if (determined.empty()) {
        return errors;
    }
    // The columns are normalised first: the physical units differ by many orders of magnitude,
    // and the rank test below is relative to the largest pivot.
    const auto q = static_cast<Eigen::Index>(determined.size());
    Eigen::MatrixXd jacobian(static_cast<Eigen::Index>(n), q);
    Eigen::VectorXd norms(q);
    for (Eigen::Index c = 0; c < q; ++c) {
        norms(c) = columns[static_cast<std::size_t>(c)].norm();
        jacobian.col(c) = columns[static_cast<std::size_t>(c)] / norms(c);
    }
    const Eigen::MatrixXd normal = jacobian.transpose() * jacobian;
    const Eigen::FullPivLU<Eigen::MatrixXd> lu(normal);
    if (!lu.isInvertible()) {
        for (const std::size_t k : determined) {
            errors[k].Why = "not separable from the other free parameters";
        }
        return errors;
    }
    const double variance = e0.squaredNorm() / static_cast<double>(n - p - linear);
    const Eigen::MatrixXd covariance = variance * lu.inverse();
    if (correlation != nullptr) {
        for (Eigen::Index a = 0; a < q; ++a) {
            for (Eigen::Index b = 0; b < q; ++b) {
                const double value = covariance(a, b) / std::sqrt(covariance(a, a) * covariance(b, b));
                (*correlation)[determined[static_cast<std::size_t>(a)]][determined[static_cast<std::size_t>(b)]] =
                    value;
            }
        }
    }
    for (Eigen::Index c = 0; c < q; ++c) {
        const double v = covariance(c, c) / (norms(c) * norms(c));
        StandardError& error = errors[determined[static_cast<std::size_t>(c)]];
        if (v >= 0 && std::isfinite(v)) {
            error.Determined = true;
            error.Value = std::sqrt(v);
        } else {
            error.Why = "not separable from the other free parameters";
        }
    }
    return errors;
}

} // namespace dravo2::fit
