#pragma once

#include "fit/parameters.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace dravo2::fit {

// Asked between the steps of a long evaluation: true when it should end at once.
using StopCheck = std::function<bool()>;

// What is fitted: a misfit of the free parameters' values (in their own units), and the
// weighted residual vector behind it, whose norm the misfit is up to a constant factor. Both
// are called from several threads at once and must depend on the values alone.
class Objective {
public:
    virtual ~Objective() = default;
    // The misfit, or infinity (or NaN) where the values give none.
    virtual double Misfit(const std::vector<double>& values) const = 0;
    // The weighted residuals; empty where the values give none.
    virtual std::vector<double> Residuals(const std::vector<double>& values) const = 0;
    // How many linear coefficients are solved for inside each evaluation (they take degrees of
    // freedom from the residual variance).
    virtual std::int32_t LinearTerms() const { return 0; }
    // The misfit, ending early with infinity once `stop` says so; an objective whose evaluations
    // are short may ignore it.
    virtual double StoppableMisfit(const std::vector<double>& values, const StopCheck& stop) const {
        static_cast<void>(stop);
        return Misfit(values);
    }
};

struct SearchSettings {
    std::int64_t Evaluations = 2000; // budget of each of the independent searches
    double TimeLimit = 0;            // seconds of wall time; 0 for none
    int Threads = 0;                 // independent searches, one a thread; 0 for all cores
    std::uint64_t Seed = 1;          // search i uses Seed + i
    double GlobalShare = 0.7;        // share of each budget for the global stage
    double LocalStep = 0.05;         // first step of the local stage, as a share of each range
};

enum class StopReason { BudgetSpent, Converged, TimeLimit, Cancelled };

std::string StopReasonText(StopReason reason);

struct SearchResult {
    std::vector<double> Values; // best values of the free parameters
    double Misfit = 0;          // infinity when no evaluation gave a misfit
    std::int64_t Evaluations = 0;
    double Seconds = 0;
    StopReason Reason = StopReason::BudgetSpent;
};

// A point of the best-misfit history: evaluations so far (all searches) and the best misfit.
struct ProgressPoint {
    std::int64_t Evaluations = 0;
    double Misfit = 0;
};

// The search for the values of the free parameters with the least misfit: each of N threads runs
// a global stage (controlled random search with local mutation, its population seeded with the
// starting values) for a share of its budget, then a local polish (subplex) from the best point
// it found; the best of all threads wins. All of it runs in the unit cube of the scaled
// parameters. With no time limit and no cancelling, the result depends only on the objective,
// the start, the seed and the thread count.
class Search {
public:
    Search(const Objective& objective, std::vector<FreeParameter> parameters, std::vector<double> start,
           SearchSettings settings);

    // Runs the searches on their threads and waits for them. Call once.
    SearchResult Run();

    // Asks every search to stop within the evaluation under way; Run then returns the best point
    // so far. Safe from any thread, also before Run.
    void Cancel() { Cancelled = true; }

    // Starts the clock of the time limit; Run starts it unless this was called before.
    void StartClock();
    // Whether the search was cancelled or its time is up. Safe from any thread.
    bool StopRequested();

    // Called (serialised, on a search thread) when the overall best misfit improves, with the
    // evaluations so far, the misfit and the values. Set before Run.
    std::function<void(std::int64_t, double, const std::vector<double>&)> OnImprovement;

    std::int64_t EvaluationsSoFar() const { return Evaluations.load(); }
    ProgressPoint Best() const;
    std::vector<ProgressPoint> History() const;
    int ThreadCount() const { return Threads; }

private:
    struct ThreadOutcome {
        std::vector<double> Unit;
        double Misfit;
        std::int64_t Evaluations = 0;
        StopReason Reason = StopReason::BudgetSpent;
    };

    void RunThread(int index, ThreadOutcome& outcome);
    void Record(double misfit, const std::vector<double>& unit);

    const Objective& Target;
    std::vector<FreeParameter> Parameters;
    std::vector<double> StartUnit;
    SearchSettings Settings;
    int Threads = 1;
    std::chrono::steady_clock::time_point Begin;
    std::chrono::steady_clock::time_point Deadline;
    bool ClockStarted = false;
    std::atomic<bool> Cancelled{false};
    std::atomic<bool> TimeUp{false};
    std::atomic<std::int64_t> Evaluations{0};
    mutable std::mutex Guard;
    double BestMisfit;
    std::vector<ProgressPoint> BestHistory;
};

// The standard error of a free parameter, or why it has none.
struct StandardError {
    bool Determined = false;
    double Value = 0;
    std::string Why; // when not determined
};

// Standard errors at `values` from the Jacobian of the weighted residual vector by central
// differences (step 1e-3 of each range in the scaled coordinate, at least one degree for an
// angle): covariance sigma^2 (J^T J)^-1 with sigma^2 the residual variance on N - p - k degrees
// of freedom (k the objective's linear terms); with residuals divided by the measurement
// uncertainties this is (J^T J)^-1 scaled by the reduced chi^2, as usual in least-squares fits. A
// parameter whose column is zero, or whose two one-sided differences differ by more than a factor
// of ten (a switching field moved), is not determined and left out of J. `correlation`, when
// given, receives the p x p correlation matrix (NaN in the rows and columns of parameters
// without an error).
std::vector<StandardError> StandardErrors(const Objective& objective, const std::vector<FreeParameter>& parameters,
                                          const std::vector<double>& values,
                                          std::vector<std::vector<double>>* correlation = nullptr);

} // namespace dravo2::fit
