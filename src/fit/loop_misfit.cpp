#include "fit/loop_misfit.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>

namespace dravo2::fit {

std::vector<Branch> SplitBranches(const double* field, std::size_t rows) {
    std::vector<Branch> branches;
    if (rows == 0) {
        return branches;
    }
    Branch current;
    for (std::size_t i = 1; i < rows; ++i) {
        const double change = field[i] - field[i - 1];
        const int direction = change > 0 ? 1 : (change < 0 ? -1 : 0);
        if (direction != 0 && current.Direction != 0 && direction != current.Direction) {
            current.Last = i - 1;
            branches.push_back(current);
            current = Branch{i - 1, i - 1, 0};
        }
        if (direction != 0) {
            current.Direction = direction;
        }
        current.Last = i;
    }
    branches.push_back(current);
    return branches;
}

MisfitResult CompareCurves(const std::vector<double>& measuredField, const std::vector<double>& measuredMoment,
                           const double* simulatedField, const double* simulatedReduced, std::size_t simulatedRows,
                           Background background) {
    MisfitResult result;
    result.Total = measuredField.size();
    const std::vector<Branch> simulated = SplitBranches(simulatedField, simulatedRows);
    const std::vector<Branch> measured = SplitBranches(measuredField.data(), measuredField.size());

    // The simulated value at field h on a branch of the given direction, if one covers h.
    auto simulatedAt = [&](int direction, double h, double& value) {
        for (const Branch& branch : simulated) {
            if (branch.Direction != direction) {
                continue;
            }
            const double a = simulatedField[branch.First];
            const double b = simulatedField[branch.Last];
            if (h < std::min(a, b) || h > std::max(a, b)) {
                continue;
            }
            // Rows are monotone within the branch: find the first row at or past h.
            std::size_t hi = branch.First;
            while (hi < branch.Last && (direction > 0 ? simulatedField[hi] < h : simulatedField[hi] > h)) {
                ++hi;
            }
            const std::size_t lo = hi > branch.First ? hi - 1 : hi;
            const double span = simulatedField[hi] - simulatedField[lo];
            const double f = span != 0 ? (h - simulatedField[lo]) / span : 0.0;
            value = simulatedReduced[lo] + f * (simulatedReduced[hi] - simulatedReduced[lo]);
            return true;
        }
        return false;
    };

    std::vector<double> weight;
    std::vector<double> m;
    std::vector<double> h;
    std::vector<double> y;
    for (const Branch& branch : measured) {
        for (std::size_t j = branch.First; j <= branch.Last; ++j) {
            double value = 0;
            if (branch.Direction == 0 || !simulatedAt(branch.Direction, measuredField[j], value)) {
                continue;
            }
            double w = 0;
            if (j > branch.First) {
                w += std::fabs(measuredField[j] - measuredField[j - 1]) / 2;
            }
            if (j < branch.Last) {
                w += std::fabs(measuredField[j + 1] - measuredField[j]) / 2;
            }
            weight.push_back(w);
            m.push_back(value);
            h.push_back(measuredField[j]);
            y.push_back(measuredMoment[j]);
        }
    }
    result.Covered = weight.size();
    double total = 0;
    for (const double w : weight) {
        total += w;
    }
    if (result.Covered < 3 || !(total > 0)) {
        result.Reason = "fewer than three measured points lie within the simulated field range";
        return result;
    }

    // Weighted least squares in closed form; the field is scaled to order one for the normal
    // equations.
    double fieldScale = 0;
    for (const double value : h) {
        fieldScale = std::max(fieldScale, std::fabs(value));
    }
    fieldScale = fieldScale > 0 ? fieldScale : 1;
    const int columns = 1 + (background.Slope ? 1 : 0) + (background.Offset ? 1 : 0);
    Eigen::MatrixXd normal = Eigen::MatrixXd::Zero(columns, columns);
    Eigen::VectorXd right = Eigen::VectorXd::Zero(columns);
    Eigen::VectorXd row(columns);
    auto fillRow = [&](std::size_t j) {
        int c = 0;
        row(c++) = m[j];
        if (background.Slope) {
            row(c++) = h[j] / fieldScale;
        }
        if (background.Offset) {
            row(c++) = 1;
        }
    };
    for (std::size_t j = 0; j < weight.size(); ++j) {
        fillRow(j);
        normal += weight[j] * row * row.transpose();
        right += weight[j] * y[j] * row;
    }
    const Eigen::VectorXd solution = normal.ldlt().solve(right);
    result.Scale = solution(0);
    int c = 1;
    if (background.Slope) {
        result.Slope = solution(c++) / fieldScale;
    }
    if (background.Offset) {
        result.Offset = solution(c);
    }
    if (!std::isfinite(result.Scale) || result.Scale == 0) {
        result.Reason = "the simulated curve does not vary over the measured points (scale 0)";
        return result;
    }
    double sum = 0;
    result.Residuals.resize(weight.size());
    for (std::size_t j = 0; j < weight.size(); ++j) {
        const double r = y[j] - (result.Scale * m[j] + result.Slope * h[j] + result.Offset);
        result.Residuals[j] = std::sqrt(weight[j] / total) * r / std::fabs(result.Scale);
        sum += weight[j] * r * r;
    }
    result.Misfit = std::sqrt(sum / total) / std::fabs(result.Scale);
    result.Valid = std::isfinite(result.Misfit);
    if (!result.Valid) {
        result.Reason = "the comparison overflowed";
    }
    return result;
}

} // namespace dravo2::fit
