#include "analysis/misfit.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace dravo2 {
namespace {

int SignOf(double change) {
    return (change > 0) - (change < 0);
}

struct SimulatedBranch {
    Branch Points;
    double Low = 0;
    double High = 0;
};

// The simulated value at `field` on a branch that covers it, by linear interpolation between the
// two rows that bracket it; the first row at exactly that field where there is one.
double Interpolate(const CurveView& curve, const Branch& branch, double field) {
    const bool up = branch.Direction == BranchDirection::Up;
    // Along the branch the field is monotone, so the rows before the crossing form a prefix.
    std::int32_t low = branch.First;
    std::int32_t high = branch.Last + 1;
    while (low < high) {
        const std::int32_t mid = low + (high - low) / 2;
        const bool before = up ? curve.Field[mid] < field : curve.Field[mid] > field;
        if (before) {
            low = mid + 1;
        } else {
            high = mid;
        }
    }
    const std::int32_t i = std::min(low, branch.Last);
    if (curve.Field[i] == field || i == branch.First) {
        return curve.Value[i];
    }
    const double h0 = curve.Field[i - 1];
    const double h1 = curve.Field[i];
    const double fraction = (field - h0) / (h1 - h0);
    return curve.Value[i - 1] + fraction * (curve.Value[i] - curve.Value[i - 1]);
}

// Solves the symmetric system `a` x = `b` of size n by elimination with partial pivoting.
// Returns false where a pivot vanishes against its column's diagonal: the unknowns are then not
// determined by the data.
template <std::size_t N>
bool Solve(std::array<std::array<long double, N>, N> a, std::array<long double, N> b, std::size_t n,
           std::array<long double, N>& x) {
    std::array<long double, N> diagonal{};
    for (std::size_t k = 0; k < n; ++k) {
        diagonal[k] = std::fabs(a[k][k]);
    }
    for (std::size_t k = 0; k < n; ++k) {
        std::size_t pivot = k;
        for (std::size_t r = k + 1; r < n; ++r) {
            if (std::fabs(a[r][k]) > std::fabs(a[pivot][k])) {
                pivot = r;
            }
        }
        std::swap(a[k], a[pivot]);
        std::swap(b[k], b[pivot]);
        if (!(std::fabs(a[k][k]) > 1e-12L * diagonal[k])) {
            return false;
        }
        for (std::size_t r = k + 1; r < n; ++r) {
            const long double factor = a[r][k] / a[k][k];
            for (std::size_t c = k; c < n; ++c) {
                a[r][c] -= factor * a[k][c];
            }
            b[r] -= factor * b[k];
        }
    }
    for (std::size_t k = n; k-- > 0;) {
        long double sum = b[k];
        for (std::size_t c = k + 1; c < n; ++c) {
            sum -= a[k][c] * x[c];
        }
        x[k] = sum / a[k][k];
    }
    return true;
}

} // namespace

CurveView MeasuredCurve(const ExperimentData& experiment) {
    return {experiment.ExpTable.Column(1), experiment.ExpTable.Column(2),
            experiment.ExpCols >= 2 ? experiment.ExpRows : 0};
}

CurveView SimulatedCurve(const SimulationData& simulation) {
    return {simulation.SimTable.Column(1), simulation.SimTable.Column(2), simulation.SimRows};
}

std::vector<Branch> SplitBranches(std::span<const double> field) {
    std::vector<Branch> branches;
    if (field.empty()) {
        return branches;
    }
    Branch current;
    int direction = 0;
    for (std::size_t i = 1; i < field.size(); ++i) {
        const int sign = SignOf(field[i] - field[i - 1]);
        if (sign == 0) {
            continue;
        }
        if (direction != 0 && sign != direction) {
            current.Last = static_cast<std::int32_t>(i - 1);
            branches.push_back(current);
            current.First = current.Last;
        }
        direction = sign;
        current.Direction = sign > 0 ? BranchDirection::Up : BranchDirection::Down;
    }
    current.Last = static_cast<std::int32_t>(field.size() - 1);
    branches.push_back(current);
    return branches;
}

double SaturationProjection(std::span<const double> magnetisation, std::span<const double> thickness) {
    double moment = 0;
    double total = 0;
    for (std::size_t i = 0; i < magnetisation.size() && i < thickness.size(); ++i) {
        if (magnetisation[i] > 0 && thickness[i] > 0) {
            moment += magnetisation[i] * thickness[i];
            total += thickness[i];
        }
    }
    return total > 0 ? moment / total : 0.0;
}

MisfitResult ComputeMisfit(const CurveView& measured, const CurveView& simulated, double saturation,
                           const MisfitOptions& options) {
    MisfitResult result;
    result.Total = std::max(measured.Count, 0);
    if (result.Total == 0) {
        result.Reason = "no measured curve is loaded";
        return result;
    }
    if (simulated.Count <= 0) {
        result.Reason = "there is no simulated curve yet";
        return result;
    }
    if (!(saturation > 0) || !std::isfinite(saturation)) {
        result.Reason = "no layer has both a magnetisation and a thickness";
        return result;
    }

    std::vector<SimulatedBranch> simBranches;
    for (const Branch& branch : SplitBranches({simulated.Field, static_cast<std::size_t>(simulated.Count)})) {
        const double a = simulated.Field[branch.First];
        const double b = simulated.Field[branch.Last];
        simBranches.push_back({branch, std::min(a, b), std::max(a, b)});
    }

    struct Comparison {
        std::int32_t Point;
        double Weight;
        double Model; // m_j
    };
    std::vector<Comparison> comparisons;
    std::vector<bool> covered(static_cast<std::size_t>(measured.Count), false);
    for (const Branch& branch : SplitBranches({measured.Field, static_cast<std::size_t>(measured.Count)})) {
        for (std::int32_t j = branch.First; j <= branch.Last; ++j) {
            const double h = measured.Field[j];
            const auto match = std::find_if(simBranches.begin(), simBranches.end(), [&](const SimulatedBranch& s) {
                return s.Points.Direction == branch.Direction && s.Low <= h && h <= s.High;
            });
            if (match == simBranches.end()) {
                continue;
            }
            double weight = 0;
            if (j > branch.First) {
                weight += 0.5 * std::fabs(h - measured.Field[j - 1]);
            }
            if (j < branch.Last) {
                weight += 0.5 * std::fabs(measured.Field[j + 1] - h);
            }
            const double model = Interpolate(simulated, match->Points, h) / saturation;
            if (!std::isfinite(model) || !std::isfinite(measured.Value[j])) {
                continue; // a row the sweep could not finish compares with nothing
            }
            comparisons.push_back({j, weight, model});
            covered[static_cast<std::size_t>(j)] = true;
        }
    }
    result.Covered = static_cast<std::int32_t>(std::count(covered.begin(), covered.end(), true));
    if (result.Covered < 3) {
        result.Reason = "only " + std::to_string(result.Covered) + " of " + std::to_string(result.Total) +
                        (result.Covered == 1 ? " measured points lies" : " measured points lie") +
                        " within a simulated branch of their direction; at least 3 are needed";
        return result;
    }

    // Weighted least squares for (s, b, c) in closed form: the normal equations. The field enters
    // divided by its largest magnitude so that the three columns are of similar size.
    double fieldScale = 0;
    for (const Comparison& c : comparisons) {
        fieldScale = std::max(fieldScale, std::fabs(measured.Field[c.Point]));
    }
    if (fieldScale == 0) {
        fieldScale = 1;
    }
    constexpr std::size_t N = 3;
    std::array<std::size_t, N> slot{}; // 0 scale, 1 slope, 2 offset, for the unknowns in use
    std::size_t n = 0;
    slot[n++] = 0;
    if (options.Slope) {
        slot[n++] = 1;
    }
    if (options.Offset) {
        slot[n++] = 2;
    }
    std::array<std::array<long double, N>, N> normal{};
    std::array<long double, N> rhs{};
    long double sumWeights = 0;
    for (const Comparison& c : comparisons) {
        const std::array<long double, N> all{c.Model, measured.Field[c.Point] / fieldScale, 1.0L};
        const long double y = measured.Value[c.Point];
        for (std::size_t r = 0; r < n; ++r) {
            for (std::size_t k = 0; k < n; ++k) {
                normal[r][k] += c.Weight * all[slot[r]] * all[slot[k]];
            }
            rhs[r] += c.Weight * all[slot[r]] * y;
        }
        sumWeights += c.Weight;
    }
    if (!(sumWeights > 0)) {
        result.Reason = "the measured field does not change over the covered points";
        return result;
    }
    std::array<long double, N> solution{};
    if (!Solve(normal, rhs, n, solution)) {
        result.Reason = "the simulated curve does not vary enough over the covered points to fit its scale";
        return result;
    }
    std::array<double, N> parameters{};
    for (std::size_t k = 0; k < n; ++k) {
        parameters[slot[k]] = static_cast<double>(solution[k]);
    }
    result.Scale = parameters[0];
    result.Slope = parameters[1] / fieldScale;
    result.Offset = parameters[2];
    if (result.Scale == 0 || !std::isfinite(result.Scale)) {
        result.Reason = "the fitted scale is 0";
        return result;
    }

    const double scale = std::fabs(result.Scale);
    long double sumSquares = 0;
    for (const Comparison& c : comparisons) {
        const double h = measured.Field[c.Point];
        const double residual = measured.Value[c.Point] - (result.Scale * c.Model + result.Slope * h + result.Offset);
        const double weighted = std::sqrt(c.Weight) * residual / scale;
        result.Points.push_back(c.Point);
        result.Weights.push_back(c.Weight);
        result.WeightedResiduals.push_back(weighted);
        sumSquares += static_cast<long double>(weighted) * weighted;
    }
    result.SumWeights = static_cast<double>(sumWeights);
    result.Misfit = static_cast<double>(std::sqrt(sumSquares / sumWeights));
    result.Valid = true;
    return result;
}

} // namespace dravo2
