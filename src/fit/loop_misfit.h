#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace dravo2::fit {

// A run of rows [First, Last] over which the field moves one way: -1 downward, +1 upward (0 for a
// run whose field never changes). The row where the field turns ends one branch and starts the
// next; zero changes stay in the current branch.
struct Branch {
    std::size_t First = 0;
    std::size_t Last = 0;
    int Direction = 0;
};

std::vector<Branch> SplitBranches(const double* field, std::size_t rows);

struct Background {
    bool Slope = false;  // a term b H in the measured value
    bool Offset = false; // a constant c in the measured value
};

// The comparison of a measured curve (field, moment) with a simulated one (field, reduced
// moment m from -1 to 1): each measured point of a downward (upward) branch against the first
// simulated downward (upward) branch covering its field, interpolated linearly; the measured
// value modelled as y = s m + b H + c by weighted least squares (weights: half the field distance
// to each neighbour within its branch). Misfit = sqrt(sum w r^2 / sum w) / |s|, with the weighted
// residual vector sqrt(w / sum w) r / |s| whose norm it is.
struct MisfitResult {
    bool Valid = false;
    std::string Reason; // when not valid
    double Misfit = 0;
    double Scale = 0;
    double Slope = 0;
    double Offset = 0;
    std::size_t Covered = 0; // comparisons made
    std::size_t Total = 0;   // measured rows
    std::vector<double> Residuals;
};

MisfitResult CompareCurves(const std::vector<double>& measuredField, const std::vector<double>& measuredMoment,
                           const double* simulatedField, const double* simulatedReduced, std::size_t simulatedRows,
                           Background background);

} // namespace dravo2::fit
