#include "analysis/misfit.h"

#include <Eigen/Dense>

#include <algorithm>
#include <array>
#include <cmath>

namespace dravo2 {
inline namespace analysis {
namespace {

int SignOf(double change) {
    return (change > 0) - (change < 0);
}

struct SimulatedBranch {
    Branch Points;
    double Low = 0;
    double High = 0;
};

} // namespace

double InterpolateOnBranch(const CurveView& curve, const Branch& branch, double field) {
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

namespace {

enum Term { kScale, kSlope, kOffset };

constexpr double kRankThreshold = 1e-10;

std::string TermName(Term term) {
    return term == kScale ? "scale" : term == kSlope ? "slope" : "offset";
}

// Names the fitted terms whose columns (scaled to unit length) are dependent: the first pair
// found, else all of them.
std::string DependentTerms(const Eigen::MatrixXd& design, const std::vector<Term>& terms) {
    for (std::size_t i = 0; i < terms.size(); ++i) {
        for (std::size_t j = i + 1; j < terms.size(); ++j) {
            Eigen::MatrixXd pair(design.rows(), 2);
            pair.col(0) = design.col(static_cast<Eigen::Index>(i));
            pair.col(1) = design.col(static_cast<Eigen::Index>(j));
            Eigen::CompleteOrthogonalDecomposition<Eigen::MatrixXd> check;
            check.setThreshold(kRankThreshold);
            check.compute(pair);
            if (check.rank() < 2) {
                return TermName(terms[i]) + " and " + TermName(terms[j]);
            }
        }
    }
    if (terms.size() == 1) {
        return TermName(terms[0]);
    }
    return "scale, slope and offset";
}

} // namespace

double SaturatedMoment(std::span<const double> magnetisation, std::span<const double> thickness, double area,
                       double momentUnit) {
    double sheet = 0;
    for (std::size_t i = 0; i < magnetisation.size() && i < thickness.size(); ++i) {
        if (magnetisation[i] > 0 && thickness[i] > 0) {
            sheet += magnetisation[i] * thickness[i];
        }
    }
    return sheet * area / kMu0 / momentUnit;
}

CurveView MeasuredCurve(const ExperimentData& experiment) {
    const bool sigma = experiment.SigmaColumn >= 3 && experiment.SigmaColumn <= experiment.ExpCols;
    return {experiment.ExpTable.Column(1), experiment.ExpTable.Column(2),
            experiment.ExpCols >= 2 ? experiment.ExpRows : 0,
            sigma ? experiment.ExpTable.Column(experiment.SigmaColumn) : nullptr};
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
            const double model = InterpolateOnBranch(simulated, match->Points, h) / saturation;
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

    const bool sigma = measured.Sigma != nullptr;
    if (sigma) {
        for (Comparison& c : comparisons) {
            const double u = measured.Sigma[c.Point];
            if (!(u > 0) || !std::isfinite(u)) {
                result.Reason =
                    "the uncertainty of measured point " + std::to_string(c.Point + 1) + " is not a positive number";
                return result;
            }
            c.Weight /= u * u;
        }
    }
    double low = measured.Value[comparisons.front().Point];
    double high = low;
    long double sumWeights = 0;
    for (const Comparison& c : comparisons) {
        low = std::min(low, measured.Value[c.Point]);
        high = std::max(high, measured.Value[c.Point]);
        sumWeights += c.Weight;
    }
    result.HalfRange = 0.5 * (high - low);
    if (!(sumWeights > 0)) {
        result.Reason = "the measured field does not change over the covered points";
        return result;
    }
    if (!(result.HalfRange > 0) || !std::isfinite(result.HalfRange)) {
        result.Reason = "the measured moment does not change over the covered points";
        return result;
    }

    // Weighted least squares for the fitted ones of (s, b, c) on y - (fixed part): each row
    // multiplied by sqrt(w), each column scaled to unit length so that the rank test is relative,
    // then a complete orthogonal decomposition, whose solution is the minimum-norm one when the
    // columns are dependent.
    const bool fixedScale = options.FixedScale > 0;
    std::vector<Term> terms;
    if (!fixedScale) {
        terms.push_back(kScale);
    }
    if (options.Slope) {
        terms.push_back(kSlope);
    }
    if (options.Offset) {
        terms.push_back(kOffset);
    }
    const auto rows = static_cast<Eigen::Index>(comparisons.size());
    const auto cols = static_cast<Eigen::Index>(terms.size());
    std::array<double, 3> coefficient{fixedScale ? options.FixedScale : 0.0, 0.0, 0.0};
    if (cols > 0) {
        Eigen::MatrixXd design(rows, cols);
        Eigen::VectorXd target(rows);
        for (Eigen::Index r = 0; r < rows; ++r) {
            const Comparison& c = comparisons[static_cast<std::size_t>(r)];
            const double root = std::sqrt(c.Weight);
            const double h = measured.Field[c.Point];
            const std::array<double, 3> all{c.Model, h, 1.0};
            for (Eigen::Index k = 0; k < cols; ++k) {
                design(r, k) = root * all[static_cast<std::size_t>(terms[static_cast<std::size_t>(k)])];
            }
            target(r) = root * (measured.Value[c.Point] - coefficient[kScale] * c.Model);
        }
        Eigen::VectorXd norms = design.colwise().norm().transpose();
        for (Eigen::Index k = 0; k < cols; ++k) {
            if (norms(k) == 0) {
                norms(k) = 1;
            }
            design.col(k) /= norms(k);
        }
        Eigen::CompleteOrthogonalDecomposition<Eigen::MatrixXd> solver;
        solver.setThreshold(kRankThreshold);
        solver.compute(design);
        const Eigen::VectorXd solution = solver.solve(target);
        for (Eigen::Index k = 0; k < cols; ++k) {
            coefficient[static_cast<std::size_t>(terms[static_cast<std::size_t>(k)])] = solution(k) / norms(k);
        }
        if (solver.rank() < cols) {
            result.Degenerate = DependentTerms(design, terms);
        }
    }
    result.Scale = coefficient[kScale];
    result.Slope = coefficient[kSlope];
    result.Offset = coefficient[kOffset];
    result.ScaleFixed = fixedScale;
    result.LinearTerms = static_cast<std::int32_t>(cols);
    if (!std::isfinite(result.Scale) || !std::isfinite(result.Slope) || !std::isfinite(result.Offset)) {
        result.Reason = "the least-squares solution is not finite";
        return result;
    }

    long double sumSquares = 0;
    std::vector<double> chiTerms(static_cast<std::size_t>(measured.Count), 0.0);
    std::vector<std::int32_t> chiCounts(static_cast<std::size_t>(measured.Count), 0);
    for (const Comparison& c : comparisons) {
        const double h = measured.Field[c.Point];
        const double residual = measured.Value[c.Point] - (result.Scale * c.Model + result.Slope * h + result.Offset);
        const double weighted = std::sqrt(c.Weight) * residual / result.HalfRange;
        result.Points.push_back(c.Point);
        result.Weights.push_back(c.Weight);
        result.WeightedResiduals.push_back(weighted);
        sumSquares += static_cast<long double>(weighted) * weighted;
        if (sigma) {
            const double normalised = residual / measured.Sigma[c.Point];
            chiTerms[static_cast<std::size_t>(c.Point)] += normalised * normalised;
            ++chiCounts[static_cast<std::size_t>(c.Point)];
        }
    }
    if (sigma) {
        long double chi = 0;
        for (std::size_t j = 0; j < chiTerms.size(); ++j) {
            if (chiCounts[j] > 0) {
                chi += chiTerms[j] / chiCounts[j];
            }
        }
        result.HasChiSquare = true;
        result.ChiSquare = static_cast<double>(chi);
    }
    result.SumWeights = static_cast<double>(sumWeights);
    result.Misfit = static_cast<double>(std::sqrt(sumSquares / sumWeights));
    result.Valid = true;
    return result;
}

std::int32_t DegreesOfFreedom(const MisfitResult& result, std::int32_t freeParameters) {
    return result.Covered - freeParameters - result.LinearTerms;
}

std::string DegenerateText(const MisfitResult& result) {
    return result.Degenerate.empty() ? std::string()
                                     : result.Degenerate + " cannot be told apart over the measured range";
}

} // namespace analysis
} // namespace dravo2
